// The standard archive fixture: a small tree written by the packer's writer at test time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/archive.h"
#include "tools/archive_writer.h"

namespace fixtures {

// "表" in code page 932: its trail byte is the backslash byte.
inline const std::string kHyou = "\x95\x5C";

inline std::vector<std::uint8_t> Pattern(std::size_t n, int seed) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i)
    bytes[i] = static_cast<std::uint8_t>((i * 31 + seed * 7) ^ (i >> 3));
  return bytes;
}

inline std::vector<ArchiveWriterFile> StandardTree(
    const std::vector<std::uint8_t>& playerBytes = Pattern(300, 1)) {
  std::vector<ArchiveWriterFile> files;
  auto add = [&](const std::string& path, std::vector<std::uint8_t> bytes, std::uint64_t seconds) {
    ArchiveWriterFile f;
    f.path = path;
    f.bytes = std::move(bytes);
    const std::uint64_t ticks = (seconds + 11644473600ULL) * 10000000ULL;
    f.creationTime = f.lastWriteTime =
        FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    files.push_back(std::move(f));
  };
  add("PLAYER.BMP", playerBytes, 1000000000);
  add("SUB\\X.BIN", std::vector<std::uint8_t>(5000, 0x61), 1000000100);  // packs well
  add("lower\\case.txt", Pattern(77, 2), 1000000200);
  add("MixedCase.Txt", Pattern(120, 3), 1000000300);
  add(kHyou + "\\" + kHyou + ".bin", Pattern(64, 4), 1000000400);
  add("EMPTY.DAT", {}, 1000000500);
  add("HUNDRED.BIN", Pattern(100, 5), 1000000600);
  return files;
}

}  // namespace fixtures
