// The archive writer: lays out a folder tree as a KVA archive of version 1 to 4 that the engine's
// archive reader opens, packing files as LZ blocks where that makes them smaller.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/file.h"

struct ArchiveWriterFile {
  std::string path;  // code page 932, "\" or "/" between folders; a folder's own path for a folder
  std::vector<std::uint8_t> bytes;
  bool folder = false;
  std::uint32_t attributes = 0x20;  // folders always get 0x10
  FILETIME creationTime{};
  FILETIME lastWriteTime{};
};

enum class ArchiveKeyChoice { kDerived, kFallback, kString };

struct ArchiveWriterOptions {
  std::uint16_t version = 4;
  std::uint32_t codePage = 932;  // version 4 only
  bool pack = true;              // version 2 and later
  ArchiveKeyChoice key = ArchiveKeyChoice::kDerived;
  std::string keyString;
};

// The archive's bytes, scrambled; empty when a path is empty or a name is longer than a search
// form can hold. Entries of each folder are in byte order of their names.
std::vector<std::uint8_t> WriteArchive(const std::vector<ArchiveWriterFile>& files,
                                       const ArchiveWriterOptions& options);
