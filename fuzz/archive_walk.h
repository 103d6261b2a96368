// What the archive fuzz targets do with an archive once it is open: every folder walked, every
// file opened, read to its end and sought. A folder may list itself or its parents, so the walk is
// bounded in depth and in the files it opens in all.
#pragma once

#include <cstdint>
#include <string>

#include "files/archive.h"

namespace archive_walk {

inline void Walk(ArchiveRecord* record, const std::string& prefix, int depth, int& budget) {
  if (depth > 8) return;
  FindResultRecord result;
  ArchiveFindState* state = BeginArchiveFind(record, (prefix + "*").c_str(), &result);
  if (!state) return;
  int visited = 0;
  do {
    const std::string name = result.name;
    if (name == "." || name == ".." || ++visited > 64 || budget <= 0) continue;
    const std::string path = prefix + name;
    if (result.directory) {
      Walk(record, path + "\\", depth + 1, budget);
      continue;
    }
    --budget;
    ArchiveEntryStream stream;
    if (OpenArchiveEntry(&stream, record, path.c_str(), 0) != 0) continue;
    std::uint8_t buffer[4096];
    while (ReadArchiveEntry(&stream, buffer, sizeof buffer) > 0) {
    }
    SeekArchiveEntry(&stream, -7, 2);
    ReadArchiveEntry(&stream, buffer, 16);
    SeekArchiveEntry(&stream, 3, 0);
    ReadArchiveEntry(&stream, buffer, 5);
    CloseArchiveEntry(&stream);
  } while (FetchNextArchiveMatch(state, &result) == 0);
  EndArchiveFind(state);
}

// Walks the whole archive, opening at most 256 files.
inline void WalkArchive(ArchiveRecord* record) {
  int budget = 256;
  Walk(record, "", 0, budget);
}

}  // namespace archive_walk
