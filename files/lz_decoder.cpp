// The LZ block decoder: literals, escaped literals and back-references, expanded with doubling
// block copies so that long runs cost few copies.
#include "files/lz_decoder.h"

#include <cstring>

namespace {

// Copies length bytes from distance bytes back; the result equals a byte-by-byte copy.
void CopyBackReference(std::uint8_t* target, std::size_t distance, std::size_t length) {
  if (length <= distance) {
    std::memcpy(target, target - distance, length);
    return;
  }
  std::size_t done = 0;
  std::size_t chunk = distance;
  while (length - done > chunk) {
    std::memcpy(target + done, target + done - chunk, chunk);
    done += chunk;
    chunk *= 2;
  }
  std::memcpy(target + done, target + done - chunk, length - done);
}

}  // namespace

int ReadLZBlockHeader(const void* block, std::size_t blockSize, LZBlockHeader* header) {
  if (!block || blockSize < kLZBlockHeaderSize) return -1;
  const auto* p = static_cast<const std::uint8_t*>(block);
  header->unpackedSize = p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
  header->packedSize = p[4] | (p[5] << 8) | (p[6] << 16) | (std::uint32_t{p[7]} << 24);
  header->escape = p[8];
  return 0;
}

std::int64_t UnpackLZBlock(const void* block, std::size_t blockSize, void* output,
                           std::size_t outputCapacity) {
  LZBlockHeader header;
  if (ReadLZBlockHeader(block, blockSize, &header) != 0) return -1;
  // Callers size their buffer from the header, so a size the block cannot hold is refused here.
  if (header.unpackedSize > MaxLZUnpackedSize(header.packedSize)) return -1;
  if (!output) return header.unpackedSize;
  if (header.packedSize < kLZBlockHeaderSize || header.packedSize > blockSize ||
      header.unpackedSize > outputCapacity)
    return -1;
  const std::uint8_t* in = static_cast<const std::uint8_t*>(block) + kLZBlockHeaderSize;
  const std::size_t inSize = header.packedSize - kLZBlockHeaderSize;
  auto* out = static_cast<std::uint8_t*>(output);
  const std::size_t outSize = header.unpackedSize;
  const std::uint8_t escape = header.escape;
  std::size_t i = 0;
  std::size_t o = 0;
  while (i < inSize) {
    const std::uint8_t byte = in[i];
    if (byte != escape) {
      if (o >= outSize) return -1;
      out[o++] = byte;
      ++i;
      continue;
    }
    if (inSize - i < 2) return -1;
    const std::uint8_t code = in[i + 1];
    i += 2;
    if (code == escape) {
      if (o >= outSize) return -1;
      out[o++] = escape;
      continue;
    }
    const unsigned v = code > escape ? code - 1u : code;
    std::size_t length = v >> 3;
    if (v & 4) {
      if (i >= inSize) return -1;
      length |= std::size_t{in[i++]} << 5;
    }
    length += 4;
    const unsigned fieldSize = (v & 3) + 1;
    if (fieldSize == 4 || inSize - i < fieldSize) return -1;
    std::size_t distance = in[i];
    if (fieldSize >= 2) distance |= std::size_t{in[i + 1]} << 8;
    if (fieldSize == 3) distance |= std::size_t{in[i + 2]} << 16;
    distance += 1;
    i += fieldSize;
    if (distance > o || length > outSize - o) return -1;
    CopyBackReference(out + o, distance, length);
    o += length;
  }
  return o == outSize ? static_cast<std::int64_t>(outSize) : -1;
}
