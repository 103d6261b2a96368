// Whole-file writes that a crash or a power cut at any moment leaves as either the previous file
// or the new one, never as an empty or half-written file.
#pragma once

#include <cstdint>
#include <span>

// Writes the bytes to a temporary file beside `path`, syncs it, renames it over `path` and syncs
// the folder, so the rename itself survives a power cut. 0 on success; on failure -1 with errno
// set, the previous file untouched and no temporary file left behind. Temporary files of `path`
// that an earlier write left when it was killed are removed first.
int WriteFileAtomically(const char* path, std::span<const std::uint8_t> bytes);
