// Theora movie playback at 640 x 480, in frames per second: the engine's decoder (decode thread,
// stock and table conversion of the wanted frame) against libtheora's own decode of the same
// file with a plain C YUV to RGB conversion of each frame, side by side in one process. A 25 fps
// movie plays in real time while the engine's rate stays above 25.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "../tests/media/theora_fixtures.h"
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

inline std::uint8_t ClampByte(int value) {
  return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// The reference: every packet through libtheora, every picture to BGRA in plain C.
void BM_LibtheoraDecodeAndPlainConversion(benchmark::State& state) {
  const std::vector<std::uint8_t>& movie = Movie();
  std::vector<std::uint8_t> rgb(640 * 480 * 4);
  for (auto _ : state) {
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
        for (int y = 0; y < yuv.y_height; ++y) {
          const unsigned char* luma = yuv.y + y * yuv.y_stride;
          const unsigned char* u = yuv.u + (y / 2) * yuv.uv_stride;
          const unsigned char* v = yuv.v + (y / 2) * yuv.uv_stride;
          std::uint8_t* out = rgb.data() + y * 640 * 4;
          for (int x = 0; x < yuv.y_width; ++x) {
            const int c = 298 * (luma[x] - 16);
            const int d = u[x / 2] - 128;
            const int e = v[x / 2] - 128;
            out[x * 4 + 0] = ClampByte((c + 516 * d + 128) >> 8);
            out[x * 4 + 1] = ClampByte((c - 100 * d - 208 * e + 128) >> 8);
            out[x * 4 + 2] = ClampByte((c + 409 * e + 128) >> 8);
            out[x * 4 + 3] = 255;
          }
        }
      }
    }
    benchmark::DoNotOptimize(rgb.data());
    theora_clear(&decoder);
    theora_comment_clear(&comment);
    theora_info_clear(&info);
    if (streamReady) ogg_stream_clear(&stream);
    ogg_sync_clear(&sync);
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}

// The engine: open (which indexes the file), then each frame in turn converted on this thread.
void BM_EngineTheoraPlayback(benchmark::State& state) {
  BuildYuvToRgbTables();
  const std::string path = MoviePath();
  for (auto _ : state) {
    const FileHandle file = fileFunctionTable.open(path.c_str(), 0, 1, 0);
    TheoraDecoderRecord* decoder = OpenTheoraDecoder(&fileFunctionTable, file, kMovieFrameStock);
    if (decoder == nullptr) {
      state.SkipWithError("the movie did not open");
      break;
    }
    for (int frame = 1; frame < kFrames; ++frame) {
      AdvanceTheoraFrame(decoder, 1);
      ConvertTheoraFrame(decoder, 1, 0);
    }
    benchmark::DoNotOptimize(GetTheoraFrameImage(decoder)->pixels);
    CloseTheoraDecoder(decoder);
    fileFunctionTable.close(file);
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
  state.counters["times_real_time_at_25fps"] = benchmark::Counter(
      static_cast<double>(kFrames) / 25.0, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_LibtheoraDecodeAndPlainConversion)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EngineTheoraPlayback)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
