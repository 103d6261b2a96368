// Fuzz target: an archive opened from memory. The input is the plain archive; the harness
// scrambles it with the engine's key first, so that mutations act on the structure. Every folder
// is walked, every file opened and read, and the released image must be the one given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive_walk.h"
#include "files/archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<std::uint8_t> image(data, data + size);
  std::uint8_t key[kArchiveKeySize];
  DeriveArchiveKey(nullptr, key);
  DescrambleArchiveBytes(image.size(), image.data(), 0, key);
  const std::vector<std::uint8_t> given = image;
  ArchiveRecord record{};
  if (OpenArchiveImage(&record, image.data(), static_cast<std::uint32_t>(image.size()), nullptr) ==
      0) {
    archive_walk::WalkArchive(&record);
    ReleaseArchiveRecord(&record);
  }
  if (image != given) std::abort();
  return 0;
}
