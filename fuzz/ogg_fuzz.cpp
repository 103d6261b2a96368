// Fuzz target: an Ogg Vorbis file through the Ogg Vorbis decoder, then loaded, played and mixed
// as a sound. The page checksums are put right first, so that mutations reach the Vorbis packets
// instead of ending at the page layer's checksum test.
#include <vector>

#include "sound_fuzz_support.h"

namespace {

std::uint32_t OggChecksum(const std::uint8_t* data, std::size_t size) {
  static const auto table = [] {
    std::vector<std::uint32_t> entries(256);
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t value = i << 24;
      for (int bit = 0; bit < 8; ++bit)
        value = (value & 0x80000000u) ? (value << 1) ^ 0x04C11DB7u : value << 1;
      entries[i] = value;
    }
    return entries;
  }();
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < size; ++i) crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFF];
  return crc;
}

void FixPageChecksums(std::vector<std::uint8_t>& file) {
  std::size_t at = 0;
  while (at + 27 <= file.size()) {
    if (file[at] != 'O' || file[at + 1] != 'g' || file[at + 2] != 'g' || file[at + 3] != 'S') {
      ++at;
      continue;
    }
    const std::size_t segments = file[at + 26];
    if (at + 27 + segments > file.size()) return;
    std::size_t length = 27 + segments;
    for (std::size_t i = 0; i < segments; ++i) length += file[at + 27 + i];
    if (at + length > file.size()) return;
    for (int i = 22; i < 26; ++i) file[at + i] = 0;
    const std::uint32_t crc = OggChecksum(&file[at], length);
    for (int i = 0; i < 4; ++i) file[at + 22 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
    at += length;
  }
}

}  // namespace

// libvorbisfile keeps a few bytes it allocated when it gives up on a damaged header; the library
// frees them nowhere, so they are not this program's leak.
extern "C" const char* __lsan_default_suppressions() { return "leak:libvorbisfile.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> file(data, data + size);
  FixPageChecksums(file);
  FuzzSoundInput(file.data(), file.size(), kSoundDecoderSkipOggVorbis);
  return 0;
}
