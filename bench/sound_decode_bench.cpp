// Decoding one minute of sound in each compressed format through the engine's decoders (the
// compression manager behind them), side by side with a reference on the same bytes in memory:
// SoX's decoders for G.711 and ADPCM WAV files, libmpg123 used directly for MP3, each handing
// over its 16-bit samples in a block grown as the engine's is. Every round decodes with both in
// turn in one process, which goes first alternating; the figures are medians of the rounds' CPU
// times and of their ratios (engine / reference; below 1 is faster). The label names the format.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/side_by_side.h"
#include "compressed_fixtures.h"
#include "media/sound_decoder.h"
#include "media/sound_system.h"
#include "platform/dsound/dsound.h"
#include "system/tracked_memory.h"

namespace {

using namespace compressed_fixtures;

const std::vector<std::uint8_t>& File(int format) {
  static const std::vector<std::uint8_t> files[] = {
      WaveFile(G711Wave(6, 2, 8000 * 60)),
      WaveFile(G711Wave(7, 2, 8000 * 60)),
      WaveFile(ImaWave(2, 44100, 2048, 44100 * 60 / 2041 + 1)),
      WaveFile(MsAdpcmWave(2, 44100, 2048, 44100 * 60 / 2036 + 1)),
      EncodeMp3({2, 44100, 44100 * 60, false}),
  };
  return files[format];
}

const char* const kNames[] = {"A-law", "mu-law", "IMA ADPCM", "MS ADPCM", "MP3"};

// The engine's decode of one file into PCM; false when it refuses the file.
bool DecodeWithEngine(const std::vector<std::uint8_t>& file) {
  MemoryStreamRecord* memory =
      OpenMemoryStream(file.data(), static_cast<std::int32_t>(file.size()));
  StreamRecord stream{*GetMemoryStreamOps(), reinterpret_cast<std::intptr_t>(memory)};
  SoundDecoderRecord decoder{};
  if (OpenSoundDecoder(&stream, &decoder) != 0) {
    CloseMemoryStream(stream.handle);
    return false;
  }
  WAVEFORMATEX format;
  void* pcm = nullptr;
  int bytes = 0;
  DecodeSoundToPcm(&decoder, &format, &pcm, &bytes);
  benchmark::DoNotOptimize(pcm);
  TrackedFree(pcm);
  CloseSoundDecoder(&decoder);
  CloseMemoryStream(stream.handle);
  return bytes > 0;
}

// The decoded samples, in a block that grows by doubling as the engine's output does and is
// handed over (freed here) at the end, as the engine's is.
struct Output {
  std::int16_t* samples = nullptr;
  std::size_t size = 0;
  std::size_t capacity = 0;
  ~Output() { std::free(samples); }
  std::int16_t* Room(std::size_t n) {
    if (size + n > capacity) {
      capacity = std::max<std::size_t>(2 * capacity, std::max<std::size_t>(size + n, 32768));
      samples = static_cast<std::int16_t*>(std::realloc(samples, capacity * 2));
    }
    std::int16_t* at = samples + size;
    size += n;
    return at;
  }
};

// SoX reading the file from memory, its samples cut to 16 bits in blocks.
bool DecodeWithSoxInMemory(const std::vector<std::uint8_t>& file) {
  static const bool ready = [] {
    sox_globals.verbosity = 0;
    return sox_init() == SOX_SUCCESS && sox_format_init() == SOX_SUCCESS;
  }();
  sox_format_t* in = ready ? sox_open_mem_read(const_cast<std::uint8_t*>(file.data()), file.size(),
                                               nullptr, nullptr, "wav")
                           : nullptr;
  if (in == nullptr) return false;
  Output out;
  sox_sample_t buffer[4096];
  std::size_t got;
  while ((got = sox_read(in, buffer, 4096)) > 0) {
    std::int16_t* to = out.Room(got);
    for (std::size_t i = 0; i < got; ++i) to[i] = static_cast<std::int16_t>(buffer[i] >> 16);
  }
  sox_close(in);
  benchmark::DoNotOptimize(out.samples);
  return out.size > 0;
}

// libmpg123 fed the whole file, each frame's samples copied out as they come.
bool DecodeWithMpg123InMemory(const std::vector<std::uint8_t>& file) {
  static const bool ready = mpg123_init() == MPG123_OK;
  mpg123_handle* handle = ready ? mpg123_new(nullptr, nullptr) : nullptr;
  if (handle == nullptr) return false;
  mpg123_param(handle, MPG123_FLAGS, MPG123_QUIET | MPG123_IGNORE_INFOFRAME, 0.0);
  mpg123_open_feed(handle);
  mpg123_feed(handle, file.data(), file.size());
  Output out;
  for (;;) {
    off_t number = 0;
    unsigned char* audio = nullptr;
    std::size_t bytes = 0;
    const int result = mpg123_decode_frame(handle, &number, &audio, &bytes);
    if (result == MPG123_NEW_FORMAT) continue;
    if (result != MPG123_OK) break;
    std::memcpy(out.Room(bytes / 2), audio, bytes / 2 * 2);
  }
  mpg123_delete(handle);
  benchmark::DoNotOptimize(out.samples);
  return out.size > 0;
}

void BM_EngineOverReference(benchmark::State& state) {
  static const bool started = [] {
    SetDirectSoundOutput(DirectSoundOutputManual);
    return StartSoundSystem() == 0;
  }();
  const int format = static_cast<int>(state.range(0));
  const auto& file = File(format);
  state.SetLabel(kNames[format]);
  std::vector<double> engineTimes, referenceTimes, ratios;
  int round = 0;
  for (auto _ : state) {
    double engineTime = 0, referenceTime = 0;
    const bool ok = TimeInTurn(
        round++, ProcessCpuSeconds, [&] { return started && DecodeWithEngine(file); },
        [&] { return format == 4 ? DecodeWithMpg123InMemory(file) : DecodeWithSoxInMemory(file); },
        &engineTime, &referenceTime);
    if (!ok) {
      state.SkipWithError("the engine or the reference did not decode the file");
      return;
    }
    engineTimes.push_back(engineTime);
    referenceTimes.push_back(referenceTime);
    ratios.push_back(engineTime / referenceTime);
  }
  state.counters["engine_ms"] = Median(engineTimes) * 1e3;
  state.counters["reference_ms"] = Median(referenceTimes) * 1e3;
  state.counters["ratio"] = Median(ratios);
}

BENCHMARK(BM_EngineOverReference)
    ->DenseRange(0, 4)
    ->Iterations(15)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
