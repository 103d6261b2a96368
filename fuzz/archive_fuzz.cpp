// Fuzz target: an archive opened from memory. The input is the plain archive; the harness
// scrambles it with the engine's key first, so that mutations act on the structure. Every folder
// is walked, every file opened and read, and the released image must be the one given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "files/archive.h"

namespace {

void Walk(ArchiveRecord* record, const std::string& prefix, int depth) {
  if (depth > 8) return;
  FindResultRecord result;
  ArchiveFindState* state = BeginArchiveFind(record, (prefix + "*").c_str(), &result);
  if (!state) return;
  int visited = 0;
  do {
    const std::string name = result.name;
    if (name == "." || name == ".." || ++visited > 64) continue;
    const std::string path = prefix + name;
    if (result.directory) {
      Walk(record, path + "\\", depth + 1);
      continue;
    }
    ArchiveEntryStream stream;
    if (OpenArchiveEntry(&stream, record, path.c_str(), 0) != 0) continue;
    std::uint8_t buffer[4096];
    while (ReadArchiveEntry(&stream, buffer, sizeof buffer) > 0) {
    }
    SeekArchiveEntry(&stream, -7, 2);
    ReadArchiveEntry(&stream, buffer, 16);
    CloseArchiveEntry(&stream);
  } while (FetchNextArchiveMatch(state, &result) == 0);
  EndArchiveFind(state);
}

}  // namespace

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
    Walk(&record, "", 0);
    ReleaseArchiveRecord(&record);
  }
  if (image != given) std::abort();
  return 0;
}
