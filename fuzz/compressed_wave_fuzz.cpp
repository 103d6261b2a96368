// Fuzz target: a WAV file through the compressed-WAV decoder and the compression manager's
// G.711 and ADPCM converters, then loaded, played and mixed as a sound.
#include "sound_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzSoundInput(data, size, kSoundDecoderSkipWaveAcm);
  return 0;
}
