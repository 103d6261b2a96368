// Fuzz target: an Ogg Vorbis file through the Ogg Vorbis decoder, then loaded, played and mixed
// as a sound.
#include "sound_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzSoundInput(data, size, kSoundDecoderSkipOggVorbis);
  return 0;
}
