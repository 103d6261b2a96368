// A small shader pack made the way the program stores its own: the file "KvShaderPack.bin" (the
// size table, then the code of each slot with code in slot order) packed as an LZ block, put into
// an archive, and the archive packed as an LZ block again.
#pragma once

#include <cstdint>
#include <vector>

#include "graphics/shader_pack.h"
#include "tools/archive_writer.h"
#include "tools/lz_encoder.h"

struct ShaderPackSlotCode {
  int kind;  // 0 pixel, 1 vertex
  int slot;
  std::vector<uint32_t> code;
};

// The base vertex and pixel shaders and one more vertex shader before them: version token, the
// slot number as a payload word, end token.
inline std::vector<ShaderPackSlotCode> BaseShaderPackSlots() {
  return {{1, 5, {0xFFFE0200u, 5u, 0x0000FFFFu}},
          {1, kBaseVertexShaderSlot, {0xFFFE0200u, 0x0000FFFFu}},
          {0, kBasePixelShaderSlot, {0xFFFF0200u, 0x0000FFFFu}}};
}

// The unpacked pack file; `cut` bytes are taken off its end.
inline std::vector<uint8_t> MakeShaderPackFile(const std::vector<ShaderPackSlotCode>& slots,
                                               size_t cut = 0) {
  std::vector<uint8_t> file(kShaderPackCodeOffset, 0);
  // Code follows the table in slot order: vertex slots first, then pixel slots.
  std::vector<const ShaderPackSlotCode*> ordered;
  for (const auto& slot : slots) ordered.push_back(&slot);
  auto index = [](const ShaderPackSlotCode* s) {
    return s->kind ? s->slot : kVertexShaderSlotCount + s->slot;
  };
  for (size_t i = 1; i < ordered.size(); ++i)
    for (size_t j = i; j > 0 && index(ordered[j]) < index(ordered[j - 1]); --j)
      std::swap(ordered[j], ordered[j - 1]);
  for (const ShaderPackSlotCode* slot : ordered) {
    const size_t entry = static_cast<size_t>(index(slot));
    const size_t bytes = slot->code.size() * 4;
    file[2 * entry] = static_cast<uint8_t>(bytes);
    file[2 * entry + 1] = static_cast<uint8_t>(bytes >> 8);
    for (uint32_t word : slot->code)
      for (int b = 0; b < 4; ++b) file.push_back(static_cast<uint8_t>(word >> (8 * b)));
  }
  file.resize(file.size() - cut);
  return file;
}

inline std::vector<uint8_t> MakeStoredShaderPack(const std::vector<uint8_t>& file) {
  ArchiveWriterFile entry;
  entry.path = "KvShaderPack.bin";
  entry.bytes = PackLZBlock(file.data(), file.size());
  const std::vector<uint8_t> archive = WriteArchive({entry}, ArchiveWriterOptions{});
  return PackLZBlock(archive.data(), archive.size());
}
