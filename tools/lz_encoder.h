// The LZ encoder that the archive packer uses: it writes blocks that UnpackLZBlock decodes.
#pragma once

#include <cstdint>
#include <vector>

// Greedy matching over a hash of the next four bytes. The escape byte is the least frequent byte
// of the input (the lowest value among equals) unless one is forced (0-255).
std::vector<std::uint8_t> PackLZBlock(const std::uint8_t* data, std::size_t size,
                                      int forcedEscape = -1);
