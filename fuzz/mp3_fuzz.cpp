// Fuzz target: a file through the MP3 decoder (tags, the frame scan) and the compression
// manager's MPEG converter, then loaded, played and mixed as a sound.
#include "sound_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzSoundInput(data, size, kSoundDecoderSkipMp3Acm);
  return 0;
}
