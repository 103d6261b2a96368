// Movies that GStreamer decodes, through the filter graph: an Ogg movie made here by gst-launch-1.0
// (colour bars and a tone) opens as a movie, shows its bars in the frames the engine receives and
// is heard on the sound device; files no plugin decodes are refused with the log line.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "disk_audio.h"
#include "media/dshow_framework.h"
#include "media/movie.h"
#include "media/movie_directshow.h"
#include "platform/clock.h"
#include "platform/dsound/dsound.h"
#include "system/log_fixture.h"

namespace {

constexpr int kWidth = 112;  // seven bars of 16 pixels
constexpr int kHeight = 64;
constexpr double kToneHz = 441.0;

// Runs gst-launch-1.0 with a pipeline that ends in `path`; true when it wrote the file.
bool MakeMovie(const std::string& path, const std::string& pipeline) {
  const std::string command = "gst-launch-1.0 -q " + pipeline + " filesink location=" + path;
  return std::system(command.c_str()) == 0 && std::ifstream(path).good();
}

std::string BarsAndTone(bool withVideo) {
  const std::string audio =
      "audiotestsrc num-buffers=10 samplesperbuffer=4410 freq=441 ! "
      "audio/x-raw,rate=44100,channels=2 ! vorbisenc ! m. ";
  const std::string video =
      "videotestsrc pattern=smpte num-buffers=10 ! video/x-raw,width=" + std::to_string(kWidth) +
      ",height=" + std::to_string(kHeight) + ",framerate=10/1 ! theoraenc ! m. ";
  return (withVideo ? video : "") + audio + "oggmux name=m ! ";
}

// Overwrites an Ogg file from its first page that carries data (a granule position other than 0)
// to its end with scrambled bytes, keeping the stream headers before it whole.
bool DamageAfterHeaders(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t page = 0;
  while ((page = bytes.find("OggS", page)) != std::string::npos && page + 14 <= bytes.size()) {
    std::uint64_t granule = 0;
    for (int i = 7; i >= 0; --i)
      granule = granule << 8 | static_cast<std::uint8_t>(bytes[page + 6 + i]);
    if (granule != 0) break;
    page += 4;
  }
  if (page == std::string::npos || page + 14 > bytes.size()) return false;
  std::uint32_t state = 12345;
  for (size_t i = page; i < bytes.size(); ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(state >> 24);
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  return true;
}

// How much of a stretch of sound is the tone: 1 for a pure tone, near 0 for anything else.
double ToneShare(const std::vector<std::int16_t>& stereo, size_t firstFrame, size_t frames) {
  const double w = 2.0 * 3.14159265358979 * kToneHz / 44100.0;
  double s1 = 0, s2 = 0, energy = 0;
  for (size_t i = 0; i < frames; ++i) {
    const double x = stereo[(firstFrame + i) * 2];
    const double s0 = x + 2.0 * std::cos(w) * s1 - s2;
    s2 = s1;
    s1 = s0;
    energy += x * x;
  }
  const double power = s1 * s1 + s2 * s2 - 2.0 * std::cos(w) * s1 * s2;
  return energy > 0 ? power / (energy * frames / 2.0) : 0.0;
}

class GStreamerMovieTest : public LogFixture {
 protected:
  void SetUp() override {
    LogFixture::SetUp();
    SetPlatformVirtualTime(false);
    std::memset(&movie_, 0, sizeof(movie_));
    baselineObjects_ = LiveFrameworkObjectCount();
#ifndef ENGINE_GSTREAMER
    GTEST_SKIP() << "built without GStreamer";
#endif
  }
  void TearDown() override {
    DeleteMovieGraph(&movie_);
    EXPECT_EQ(LiveFrameworkObjectCount(), baselineObjects_);
    SetDirectSoundOutput(DirectSoundOutputDevice);
    LogFixture::TearDown();
  }
  std::string EnginePath(const std::string& name) {
    std::string path;
    MapPosixToEnginePath(directory_ + "/" + name, path);
    return path;
  }
  static void Collect(const StandardImage* frame, void* context) {
    auto* self = static_cast<GStreamerMovieTest*>(context);
    self->lastFrame_.assign(frame->pixels,
                            frame->pixels + static_cast<size_t>(frame->pitch) * frame->height);
    self->pitch_ = frame->pitch;
    ++self->frames_;
  }
  // The pixel (red, green, blue) at x, y of the last frame, top row first.
  std::array<int, 3> Pixel(int x, int y) const {
    const std::uint8_t* p = lastFrame_.data() + static_cast<size_t>(y) * pitch_ + x * 3;
    return {p[2], p[1], p[0]};
  }

  MovieRecord movie_;
  std::vector<std::uint8_t> lastFrame_;
  int pitch_ = 0;
  int frames_ = 0;
  LONG baselineObjects_ = 0;
};

TEST_F(GStreamerMovieTest, AnOggMovieShowsItsBarsAndItsToneIsHeard) {
  ASSERT_TRUE(MakeMovie(directory_ + "/bars.ogg", BarsAndTone(true)));
  DiskAudioOutput disk(directory_ + "/disk.raw");
  SetDirectSoundOutput(DirectSoundOutputDevice);
  int width = 0, height = 0;
  ASSERT_EQ(OpenMovieWithDirectShow(&movie_, EnginePath("bars.ogg").c_str(), &width, &height, 0), 0)
      << ReadLog();
  EXPECT_EQ(width, kWidth);
  EXPECT_EQ(height, kHeight);
  EXPECT_GT(movie_.duration, 9000000);  // a second
  EXPECT_LT(movie_.duration, 11000000);
  ASSERT_EQ(RunMovieGraph(&movie_), 0);
  bool ended = false;
  for (int i = 0; i < 20000 && !ended; ++i) {  // waits for the end of the movie
    ended = RefreshMovieGraph(&movie_, false, Collect, this) == 1;
    Sleep(1);
  }
  EXPECT_TRUE(ended);
  ASSERT_GT(frames_, 0);
  // The seven bars of the top two thirds, left to right, at full strength.
  constexpr std::array<std::array<int, 3>, 7> kBars = {{{255, 255, 255},
                                                        {255, 255, 0},
                                                        {0, 255, 255},
                                                        {0, 255, 0},
                                                        {255, 0, 255},
                                                        {255, 0, 0},
                                                        {0, 0, 255}}};
  for (int bar = 0; bar < 7; ++bar) {
    SCOPED_TRACE("bar " + std::to_string(bar));
    const auto pixel = Pixel(bar * 16 + 8, kHeight / 4);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(pixel[c], kBars[bar][c], 40);
  }
  // The device closes with the graph, and the driver's file is then complete.
  DeleteMovieGraph(&movie_);
  const auto written = disk.Samples();
  ASSERT_GT(written.size(), 44100u);
  size_t loudest = 0;
  double loudestEnergy = 0;
  for (size_t frame = 0; frame + 4410 <= written.size() / 2; frame += 2205) {
    double energy = 0;
    for (size_t i = 0; i < 4410; ++i) energy += std::pow(written[(frame + i) * 2], 2);
    if (energy > loudestEnergy) {
      loudestEnergy = energy;
      loudest = frame;
    }
  }
  EXPECT_GT(loudestEnergy / 4410, 1000.0 * 1000.0) << "the tone is loud";
  EXPECT_GT(ToneShare(written, loudest, 4410), 0.8) << "and at its own pitch";
}

TEST_F(GStreamerMovieTest, FilesThatGiveNoMovieAreRefusedWithTheLogLine) {
  struct Case {
    const char* name;
    const char* file;
  };
  const Case cases[] = {
      {"bytes no plugin recognises", "noise.webm"},
      {"sound with no video", "tone.ogg"},
      {"a movie whose headers are whole and whose pictures and sound are damaged", "damaged.ogg"},
  };
  std::ofstream(directory_ + "/noise.webm", std::ios::binary) << std::string(4000, '\x7f');
  ASSERT_TRUE(MakeMovie(directory_ + "/tone.ogg", BarsAndTone(false)));
  ASSERT_TRUE(MakeMovie(directory_ + "/damaged.ogg", BarsAndTone(true)));
  ASSERT_TRUE(DamageAfterHeaders(directory_ + "/damaged.ogg"));
  SetDirectSoundOutput(DirectSoundOutputNone);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = EnginePath(c.file);
    EXPECT_EQ(OpenMovieWithDirectShow(&movie_, path.c_str(), nullptr, nullptr, 0), -1);
    EXPECT_NE(ReadLog().find("ファイル:" + path + " が開けませんでした"), std::string::npos);
    EXPECT_EQ(movie_.graphBuilder, nullptr);
    EXPECT_EQ(movie_.temporaryCopy, 0);
  }
}

}  // namespace
