// Fuzz target: a file through the last sound decoder, a filter graph of the memory reader and the
// MPEG audio parser (libmpg123 behind a DirectShow filter), then loaded, played and mixed as a
// sound.
#include "sound_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzSoundInput(data, size, kSoundDecoderSkipDirectShow);
  return 0;
}
