// A movie file decoded by GStreamer for the graph's GStreamer source: decodebin behind a file
// source, its first video stream converted to 24-bit BGR rows and its first audio stream to
// interleaved 16-bit PCM, each ending in an application sink that the source's pins pull from.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct GstMovieStream {
  bool video = false;
  void* sink = nullptr;  // the stream's appsink
  int width = 0, height = 0;
  std::int64_t frameDuration = 0;  // nanoseconds; 0 when the stream does not say
  int rate = 0, channels = 0;
};

// One pulled piece of a stream: video as top-down rows of `pitch` bytes, audio as PCM.
struct GstMoviePiece {
  std::vector<std::uint8_t> bytes;
  std::int64_t position = 0;     // nanoseconds, in the file
  std::int64_t duration = 0;     // nanoseconds; 0 when unknown
  std::int64_t runningTime = 0;  // nanoseconds since the last seek
};

class GstMoviePipeline {
 public:
  // Prerolls the file: null when GStreamer is missing, the file is not there, no plugin decodes
  // it, or it does not preroll within a few seconds.
  static std::unique_ptr<GstMoviePipeline> Open(const std::string& posixPath);
  ~GstMoviePipeline();
  GstMoviePipeline(const GstMoviePipeline&) = delete;
  GstMoviePipeline& operator=(const GstMoviePipeline&) = delete;

  const std::vector<GstMovieStream>& Streams() const { return streams_; }
  std::int64_t Duration() const { return duration_; }
  // Data flows while playing; paused, the pipeline holds its place.
  bool SetFlowing(bool flowing);
  // A flushing, accurate seek to [start, stop) (stop < 0: to the end), waited for.
  bool Seek(std::int64_t start, std::int64_t stop);
  // 1 and a piece, 0 when nothing came within `timeoutMs`, -1 at the end of the stream.
  int Pull(int stream, GstMoviePiece* piece, int timeoutMs, int pitch);

 private:
  GstMoviePipeline() = default;
  static void OnPadAdded(void* decodebin, void* pad, void* self);
  bool WaitForPreroll();

  void* pipeline_ = nullptr;
  std::mutex streamsLock_;
  std::vector<GstMovieStream> streams_;
  std::int64_t duration_ = 0;
};
