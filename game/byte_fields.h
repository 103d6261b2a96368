// Little-endian fields of the game's own files (configuration, save data, replays), a byte at a
// time.
#pragma once

#include <cstdint>

inline std::int32_t ReadInt32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) |
                                   (static_cast<std::uint32_t>(p[3]) << 24));
}

inline std::int16_t ReadInt16(const std::uint8_t* p) {
  return static_cast<std::int16_t>(p[0] | (p[1] << 8));
}

inline void WriteInt32(std::uint8_t* p, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void WriteInt16(std::uint8_t* p, std::int16_t value) {
  const auto v = static_cast<std::uint16_t>(value);
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
