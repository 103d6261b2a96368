// The LZ block format in which archive entries and the built-in shader pack are stored, and its
// decoder.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kLZBlockHeaderSize = 9;

// The 9 bytes at the start of a block, little-endian.
struct LZBlockHeader {
  std::uint32_t unpackedSize;
  std::uint32_t packedSize;  // the header included
  std::uint8_t escape;
};

// The most one item can yield for the code bytes it costs: escape, code, length byte and a
// one-byte distance (4 bytes) copy at most 8195 bytes. No block expands further than that ratio,
// so a claimed unpacked size beyond it is damage, refused before any buffer is sized from it.
constexpr std::uint64_t kLZLongestItemLength = 8195;
constexpr std::uint64_t kLZLongestItemBytes = 4;

// The largest unpacked size a block of packedSize bytes (header included) can hold.
constexpr std::uint64_t MaxLZUnpackedSize(std::uint64_t packedSize) {
  if (packedSize <= kLZBlockHeaderSize) return 0;
  const std::uint64_t code = packedSize - kLZBlockHeaderSize;
  return (code * kLZLongestItemLength + kLZLongestItemBytes - 1) / kLZLongestItemBytes;
}

// 0, or -1 when fewer than 9 bytes are given.
int ReadLZBlockHeader(const void* block, std::size_t blockSize, LZBlockHeader* header);

// Decodes the block of blockSize bytes into output, which holds outputCapacity bytes, and returns
// the unpacked size from the header. With a null output only the size is returned, or -1 when the
// header claims more than its packed size can yield (see MaxLZUnpackedSize). A block whose
// packed size exceeds blockSize, whose unpacked size exceeds the capacity, or whose code stream is
// damaged (distance field size 3, a distance before the output's start, an item cut off, output
// beyond or short of the unpacked size) is refused with -1; nothing outside the buffers is read
// or written.
std::int64_t UnpackLZBlock(const void* block, std::size_t blockSize, void* output,
                           std::size_t outputCapacity);
