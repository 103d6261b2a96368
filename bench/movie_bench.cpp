// Theora movie playback at 640 x 480: the engine's decoder (its decode thread, the stock and the
// table conversion of the wanted frame) against libtheora's own decode of the same file with SDL's
// YUV to RGB conversion of each frame on one thread. Both play the movie in turn in every
// round of one process (which goes first alternating), timed as CPU time of the whole process so
// that the engine's decode thread counts as the reference's one thread does; the figures are
// medians of the rounds. A 25 fps movie plays in real time while the engine's frames per CPU second
// stay above 25.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "../tests/media/theora_fixtures.h"
#include "bench/side_by_side.h"
#include "files/file_table.h"
#include "media/theora_decoder.h"

namespace {

constexpr int kFrames = 100;

const std::vector<std::uint8_t>& Movie() {
  static const std::vector<std::uint8_t> movie = [] {
    theora_fixtures::MovieShape shape;
    shape.width = 640;
    shape.height = 480;
    shape.frames = kFrames;
    shape.keyframeInterval = 50;
    shape.noise = true;
    shape.pagePerPacket = false;
    shape.pageFill = 4096;
    return theora_fixtures::MakeTheoraMovie(shape);
  }();
  return movie;
}

std::string MoviePath() {
  static const std::string path =
      theora_fixtures::WriteTempFile(std::filesystem::temp_directory_path().string(),
                                     "movie_bench" + std::to_string(getpid()) + ".ogv", Movie());
  return path;
}

// SDL's converter (SIMD where the processor has it, BT.601 as the engine's tables) takes the
// three planes one after the other, so they are gathered first.
void ConvertWithSdl(const yuv_buffer& yuv, std::vector<std::uint8_t>& planes,
                    std::vector<std::uint8_t>& rgb) {
  const int w = yuv.y_width, h = yuv.y_height, cw = yuv.uv_width, ch = yuv.uv_height;
  planes.resize(static_cast<std::size_t>(w) * h + 2 * static_cast<std::size_t>(cw) * ch);
  std::uint8_t* out = planes.data();
  for (int y = 0; y < h; ++y, out += w) std::memcpy(out, yuv.y + y * yuv.y_stride, w);
  for (int y = 0; y < ch; ++y, out += cw) std::memcpy(out, yuv.u + y * yuv.uv_stride, cw);
  for (int y = 0; y < ch; ++y, out += cw) std::memcpy(out, yuv.v + y * yuv.uv_stride, cw);
  SDL_ConvertPixels(w, h, SDL_PIXELFORMAT_IYUV, planes.data(), w, SDL_PIXELFORMAT_ARGB8888,
                    rgb.data(), w * 4);
}

// The reference: every packet through libtheora, every picture to BGRA by SDL.
void PlayWithLibtheora(std::vector<std::uint8_t>& rgb) {
  const std::vector<std::uint8_t>& movie = Movie();
  std::vector<std::uint8_t> planes;
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  char* buffer = ogg_sync_buffer(&sync, static_cast<long>(movie.size()));
  std::copy(movie.begin(), movie.end(), buffer);
  ogg_sync_wrote(&sync, static_cast<long>(movie.size()));
  ogg_stream_state stream;
  bool streamReady = false;
  theora_info info;
  theora_comment comment;
  theora_info_init(&info);
  theora_comment_init(&comment);
  theora_state decoder;
  int headers = 0;
  ogg_page page;
  ogg_packet packet;
  while (ogg_sync_pageout(&sync, &page) == 1) {
    if (!streamReady) {
      ogg_stream_init(&stream, ogg_page_serialno(&page));
      streamReady = true;
    }
    ogg_stream_pagein(&stream, &page);
    while (ogg_stream_packetout(&stream, &packet) == 1) {
      if (headers < 3) {
        theora_decode_header(&info, &comment, &packet);
        if (++headers == 3) theora_decode_init(&decoder, &info);
        continue;
      }
      theora_decode_packetin(&decoder, &packet);
      yuv_buffer yuv;
      theora_decode_YUVout(&decoder, &yuv);
      ConvertWithSdl(yuv, planes, rgb);
    }
  }
  benchmark::DoNotOptimize(rgb.data());
  theora_clear(&decoder);
  theora_comment_clear(&comment);
  theora_info_clear(&info);
  if (streamReady) ogg_stream_clear(&stream);
  ogg_sync_clear(&sync);
}

// The engine: open (which indexes the file), then each frame in turn converted on this thread;
// false when the movie does not open.
double ThreadCpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

bool PlayWithEngine(const std::string& path) {
  const FileHandle file = fileFunctionTable.open(path.c_str(), 0, 1, 0);
  TheoraDecoderRecord* decoder = OpenTheoraDecoder(&fileFunctionTable, file, kMovieFrameStock);
  if (decoder == nullptr) {
    fileFunctionTable.close(file);
    return false;
  }
  for (int frame = 1; frame < kFrames; ++frame) {
    AdvanceTheoraFrame(decoder, 1);
    ConvertTheoraFrame(decoder, 1, 0);
  }
  benchmark::DoNotOptimize(GetTheoraFrameImage(decoder)->pixels);
  CloseTheoraDecoder(decoder);
  fileFunctionTable.close(file);
  return true;
}

// Each round plays the movie with the engine, then with the reference.
void BM_EngineOverLibtheora(benchmark::State& state) {
  BuildYuvToRgbTables();
  const std::string path = MoviePath();
  std::vector<std::uint8_t> rgb(640 * 480 * 4);
  std::vector<double> engineCpu, referenceCpu, ratios, callerCpu;
  int round = 0;
  for (auto _ : state) {
    double engineTime = 0, referenceTime = 0;
    if (!TimeInTurn(
            round++, ProcessCpuSeconds,
            [&] {
              const double before = ThreadCpuSeconds();
              const bool played = PlayWithEngine(path);
              callerCpu.push_back(ThreadCpuSeconds() - before);
              return played;
            },
            [&] {
              PlayWithLibtheora(rgb);
              return true;
            },
            &engineTime, &referenceTime)) {
      state.SkipWithError("the movie did not open");
      return;
    }
    engineCpu.push_back(engineTime);
    referenceCpu.push_back(referenceTime);
    ratios.push_back(engineTime / referenceTime);
  }
  state.counters["engine_cpu_ms"] = Median(engineCpu) * 1e3;
  // Of which the calling thread's: the conversions and the waits for frames not yet decoded.
  state.counters["engine_caller_cpu_ms"] = Median(callerCpu) * 1e3;
  state.counters["reference_cpu_ms"] = Median(referenceCpu) * 1e3;
  state.counters["ratio"] = Median(ratios);
  state.counters["engine_fps_per_cpu"] = kFrames / Median(engineCpu);
  state.counters["reference_fps_per_cpu"] = kFrames / Median(referenceCpu);
  std::filesystem::remove(path);
}

BENCHMARK(BM_EngineOverLibtheora)->Iterations(15)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
