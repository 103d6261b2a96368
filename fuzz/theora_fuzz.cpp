// Fuzz target: an Ogg Theora file through the Theora decoder's open (headers and the index of
// every page), then seeks, advances and conversions served by its decode thread. The page
// checksums are put right first, so that mutations reach the packets.
#include <algorithm>
#include <cstring>
#include <vector>

#include "files/file_table.h"
#include "media/theora_decoder.h"

namespace {

std::uint32_t OggChecksum(const std::uint8_t* data, std::size_t size) {
  static const auto table = [] {
    std::vector<std::uint32_t> entries(256);
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t value = i << 24;
      for (int bit = 0; bit < 8; ++bit)
        value = (value & 0x80000000u) ? (value << 1) ^ 0x04C11DB7u : value << 1;
      entries[i] = value;
    }
    return entries;
  }();
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < size; ++i) crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFF];
  return crc;
}

void FixPageChecksums(std::vector<std::uint8_t>& file) {
  std::size_t at = 0;
  while (at + 27 <= file.size()) {
    if (std::memcmp(&file[at], "OggS", 4) != 0) {
      ++at;
      continue;
    }
    const std::size_t segments = file[at + 26];
    if (at + 27 + segments > file.size()) return;
    std::size_t length = 27 + segments;
    for (std::size_t i = 0; i < segments; ++i) length += file[at + 27 + i];
    if (at + length > file.size()) return;
    for (int i = 22; i < 26; ++i) file[at + i] = 0;
    const std::uint32_t crc = OggChecksum(&file[at], length);
    for (int i = 0; i < 4; ++i) file[at + 22 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
    at += length;
  }
}

// The input as the one file of a file table; the decoder thread reads it too.
struct MemoryFile {
  const std::uint8_t* data;
  std::int32_t size;
  std::int32_t position;
};

MemoryFile* AsFile(FileHandle handle) { return reinterpret_cast<MemoryFile*>(handle); }

FileFunctionTable MemoryFileFunctions() {
  FileFunctionTable table{};
  table.close = [](FileHandle) { return 0; };
  table.tell = [](FileHandle handle) { return AsFile(handle)->position; };
  table.seek = [](FileHandle handle, std::int32_t offset, int origin) {
    MemoryFile* file = AsFile(handle);
    const std::int64_t base = origin == 0 ? 0 : origin == 1 ? file->position : file->size;
    const std::int64_t target = base + offset;
    if (target < 0 || target > file->size) return -1;
    file->position = static_cast<std::int32_t>(target);
    return 0;
  };
  table.read = [](void* buffer, std::size_t size, std::size_t count, FileHandle handle) {
    MemoryFile* file = AsFile(handle);
    if (size == 0) return std::size_t{0};
    const std::size_t left = static_cast<std::size_t>(file->size - file->position);
    const std::size_t items = std::min(count, left / size);
    if (items == 0) return std::size_t{0};
    std::memcpy(buffer, file->data + file->position, items * size);
    file->position += static_cast<std::int32_t>(items * size);
    return items;
  };
  table.eof = [](FileHandle handle) {
    return AsFile(handle)->position >= AsFile(handle)->size ? 1 : 0;
  };
  return table;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  BuildYuvToRgbTables();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<std::uint8_t> bytes(data, data + size);
  FixPageChecksums(bytes);
  MemoryFile file{bytes.data(), static_cast<std::int32_t>(bytes.size()), 0};
  const FileFunctionTable table = MemoryFileFunctions();
  TheoraDecoderRecord* decoder = OpenTheoraDecoder(&table, reinterpret_cast<FileHandle>(&file), 3);
  if (decoder == nullptr) return 0;
  TheoraMovieInfo info{};
  GetTheoraMovieInfo(decoder, &info);
  const int last = info.frameCount - 1;
  for (const int frame : {last, last / 2, 1}) {
    SeekTheoraFrame(decoder, frame);
    ConvertTheoraFrame(decoder, 1, 1);
  }
  AdvanceTheoraFrame(decoder, 2);
  ConvertTheoraFrame(decoder, 1, 1);
  CloseTheoraDecoder(decoder);
  return 0;
}
