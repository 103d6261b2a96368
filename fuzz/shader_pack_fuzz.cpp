// Fuzz target: the shader pack loader. An input whose first byte is even is the stored block
// itself (LZ, then the archive, then "KvShaderPack.bin"); an odd one describes the unpacked file:
// up to eight (slot, size) pairs of six bytes set entries of the size table, the rest is the code
// area, and the harness packs that file into an archive as the program would store it. Every
// slot's code the loader indexes is read to its end.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "graphics/shader_pack.h"
#include "tools/archive_writer.h"
#include "tools/lz_encoder.h"

namespace {

std::vector<std::uint8_t> MakeStoredPack(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> file(kShaderPackCodeOffset, 0);
  std::size_t at = 0;
  for (int pair = 0; pair < 8 && at + 6 <= size; ++pair, at += 6) {
    const std::uint32_t slot = (data[at] | (data[at + 1] << 8) | (data[at + 2] << 16)) %
                               (kVertexShaderSlotCount + kPixelShaderSlotCount);
    file[2 * slot] = data[at + 4];
    file[2 * slot + 1] = data[at + 5];
  }
  file.insert(file.end(), data + at, data + size);
  const std::vector<std::uint8_t> packed = PackLZBlock(file.data(), file.size());
  ArchiveWriterFile entry;
  entry.path = "KvShaderPack.bin";
  entry.bytes = packed;
  ArchiveWriterOptions options;
  options.pack = false;
  const std::vector<std::uint8_t> archive = WriteArchive({entry}, options);
  return PackLZBlock(archive.data(), archive.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::vector<std::uint8_t> stored = (data[0] & 1) == 0
                                         ? std::vector<std::uint8_t>(data + 1, data + size)
                                         : MakeStoredPack(data + 1, size - 1);
  SetStoredShaderPack(stored.data(), stored.size());
  if (LoadShaderPack() == 1) {
    volatile std::uint8_t sink = 0;
    for (int kind = 0; kind < 2; ++kind) {
      const int slots = kind ? kVertexShaderSlotCount : kPixelShaderSlotCount;
      for (int slot = 0; slot < slots; ++slot) {
        int bytes = 0;
        const std::uint8_t* code = GetShaderPackCode(kind, slot, &bytes);
        for (int i = 0; code != nullptr && i < bytes; ++i) sink = sink ^ code[i];
      }
    }
  }
  ReleaseShaderPack();
  SetStoredShaderPack(nullptr, 0);
  return 0;
}
