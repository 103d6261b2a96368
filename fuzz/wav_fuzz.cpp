// Fuzz target: a WAV file through the PCM WAV decoder, then loaded, played and mixed as a sound.
#include "sound_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzSoundInput(data, size, kSoundDecoderSkipWavePcm);
  return 0;
}
