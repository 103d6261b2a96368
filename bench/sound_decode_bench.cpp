// Decoding one minute of sound in each compressed format through the engine's decoders (the
// compression manager behind them), side by side with a reference on the same file: SoX's
// decoders for G.711 and ADPCM WAV files, libmpg123 used directly for MP3. Compare the pairs:
// EngineDecode/N against ReferenceDecode/N (the label names the format).
#include <benchmark/benchmark.h>

#include <vector>

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

void EngineDecode(benchmark::State& state) {
  static const bool started = [] {
    SetDirectSoundOutput(DirectSoundOutputManual);
    return StartSoundSystem() == 0;
  }();
  const auto& file = File(static_cast<int>(state.range(0)));
  state.SetLabel(kNames[state.range(0)]);
  for (auto _ : state) {
    MemoryStreamRecord* memory =
        OpenMemoryStream(file.data(), static_cast<std::int32_t>(file.size()));
    StreamRecord stream{*GetMemoryStreamOps(), reinterpret_cast<std::intptr_t>(memory)};
    SoundDecoderRecord decoder{};
    if (!started || OpenSoundDecoder(&stream, &decoder) != 0) {
      state.SkipWithError("not decoded");
      CloseMemoryStream(stream.handle);
      break;
    }
    WAVEFORMATEX format;
    void* pcm = nullptr;
    int bytes = 0;
    DecodeSoundToPcm(&decoder, &format, &pcm, &bytes);
    benchmark::DoNotOptimize(pcm);
    TrackedFree(pcm);
    CloseSoundDecoder(&decoder);
    CloseMemoryStream(stream.handle);
  }
}

void ReferenceDecode(benchmark::State& state) {
  const int format = static_cast<int>(state.range(0));
  const auto& file = File(format);
  state.SetLabel(kNames[format]);
  // SoX reads from a file, written once before the timing.
  const std::string path = format == 4 ? "" : WriteTemporaryFile("sound_decode_bench.wav", file);
  for (auto _ : state) {
    auto pcm = format == 4 ? DecodeWithMpg123(file) : DecodeSoxFile(path);
    benchmark::DoNotOptimize(pcm.data());
  }
  if (!path.empty()) std::remove(path.c_str());
}

BENCHMARK(EngineDecode)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(ReferenceDecode)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
