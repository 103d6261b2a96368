// Helpers of the content tests: a copy of the shipped sources, file reads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "temp_folder.h"

namespace content_test {

inline std::string SourceDir() { return MUB_CONTENT_DIR; }

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string ReadFileText(const std::string& path) {
  auto b = ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

inline void WriteFileText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Copies the source folders the generator reads (not the generator's own code).
inline void CopySources(const std::string& to) {
  std::filesystem::create_directories(to);
  for (const char* sub : {"types", "maps", "sprites", "draw", "sounds", "replays"}) {
    std::filesystem::path from = std::filesystem::path(SourceDir()) / sub;
    if (std::filesystem::exists(from))
      std::filesystem::copy(from, std::filesystem::path(to) / sub,
                            std::filesystem::copy_options::recursive);
  }
}

inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}

inline uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return uint16_t(b[at] | b[at + 1] << 8);
}

}  // namespace content_test
