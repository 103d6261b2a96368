// Little-endian fields of the byte layouts the engine reads and writes (images, archives, sound
// and movie files), taken a byte at a time so that neither the machine's byte order nor the
// field's alignment matters.
#pragma once

#include <cstdint>

inline std::uint16_t ReadLittle16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t ReadLittle32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}

inline void WriteLittle16(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void WriteLittle32(std::uint8_t* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
