// Fuzz target: an archive read from a file as the game reads its data archives, header and
// folders from the file and each entry read from the file when opened. The input is the plain
// archive; the harness scrambles it with the engine's key before writing it, so that mutations act
// on the structure. Every folder is walked and every file opened, read and sought.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive_walk.h"
#include "files/archive.h"

namespace {

// One file per fuzzing process, written again for each input and removed at the end.
const std::string& ArchivePath() {
  static const std::string path = [] {
    std::atexit([] { std::remove(ArchivePath().c_str()); });
    return "/tmp/archive_streamed_fuzz." + std::to_string(getpid()) + ".kva";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<std::uint8_t> file(data, data + size);
  std::uint8_t key[kArchiveKeySize];
  DeriveArchiveKey(nullptr, key);
  DescrambleArchiveBytes(file.size(), file.data(), 0, key);
  std::FILE* out = std::fopen(ArchivePath().c_str(), "wb");
  if (!out) return 0;
  const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  if (std::fclose(out) != 0 || !written) return 0;
  ArchiveRecord record{};
  if (OpenArchiveStreamed(&record, ArchivePath().c_str(), nullptr) == 0) {
    archive_walk::WalkArchive(&record);
    ReleaseArchiveRecord(&record);
  }
  return 0;
}
