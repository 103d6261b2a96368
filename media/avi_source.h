// The uncompressed AVI source the filter graph renders movie files with: one RGB24 video stream,
// frames delivered in time order from a seekable position.
#pragma once

#include <cstdint>
#include <vector>

#include "media/graph_filters.h"

// What the parser found in an AVI file: the video stream's format and where each frame lies.
struct AviMovieIndex {
  std::int32_t width = 0;
  std::int32_t height = 0;  // as stored: positive for bottom-up rows
  std::int32_t pitch = 0;
  std::int64_t frameDuration = 0;  // 100 ns units
  std::vector<std::uint64_t> frameOffsets;
};

// Reads `size` bytes at `offset`; false when they are not all there.
using AviReadAt = bool (*)(void* context, std::uint64_t offset, void* buffer, std::uint32_t size);
// Parses the RIFF structure: 0, or -1 for a file that is not an uncompressed 24-bit AVI or is
// damaged (a frame chunk shorter than a frame, sizes past the end, no video stream).
int ParseAviMovieIndex(AviReadAt read, void* context, std::uint64_t fileSize, AviMovieIndex* index);
