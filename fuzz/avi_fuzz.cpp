// Fuzz target: the AVI source's RIFF parser over a file held in memory.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "media/avi_source.h"

namespace {
struct Bytes {
  const std::uint8_t* data;
  std::size_t size;
};
bool ReadBytes(void* context, std::uint64_t offset, void* buffer, std::uint32_t size) {
  const auto* bytes = static_cast<const Bytes*>(context);
  if (offset > bytes->size || bytes->size - offset < size) return false;
  std::memcpy(buffer, bytes->data + offset, size);
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes bytes{data, size};
  AviMovieIndex index;
  if (ParseAviMovieIndex(ReadBytes, &bytes, size, &index) != 0) return 0;
  // Every frame the index names lies whole inside the file.
  const std::uint64_t frame =
      static_cast<std::uint64_t>(index.pitch) *
      static_cast<std::uint64_t>(index.height < 0 ? -index.height : index.height);
  for (std::uint64_t offset : index.frameOffsets)
    if (offset + frame > size) __builtin_trap();
  return 0;
}
