// Uncompressed 24-bit AVI files made by the tests: every byte of frame f, row r, byte b is known,
// so a frame seen on the other side of the graph can be matched byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace avi_fixture {

inline void Put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
inline void Put16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}
inline std::string Chunk(const char* id, const std::string& data) {
  std::string out(id, 4);
  Put32(out, static_cast<std::uint32_t>(data.size()));
  out += data;
  if (data.size() & 1) out.push_back('\0');
  return out;
}
inline std::string List(const char* type, const std::string& data) {
  return Chunk("LIST", std::string(type, 4) + data);
}

inline int Pitch(int width) { return (width * 3 + 3) & ~3; }

// The byte at (frame, stored row, column byte) of a fixture.
inline std::uint8_t FrameByte(int frame, int row, int column) {
  return static_cast<std::uint8_t>(frame * 40 + row * 7 + column);
}

struct Options {
  int width = 5;
  int height = 4;  // positive: bottom-up rows as stored
  int frames = 3;
  std::uint32_t rate = 100;  // frames per second
  std::uint16_t bitCount = 24;
  int shortFrame = -1;      // a frame whose chunk is one byte short
  std::int32_t solid = -1;  // 0xRRGGBB: every pixel of every frame this colour, rows padded with 0
};

inline std::string MakeAvi(const Options& o) {
  const int rows = o.height < 0 ? -o.height : o.height;
  const int pitch = Pitch(o.width);
  std::string avih;
  Put32(avih, 1000000 / o.rate);
  for (int i = 0; i < 3; ++i) Put32(avih, 0);
  Put32(avih, static_cast<std::uint32_t>(o.frames));
  Put32(avih, 0);
  Put32(avih, 1);
  Put32(avih, static_cast<std::uint32_t>(pitch * rows));
  Put32(avih, static_cast<std::uint32_t>(o.width));
  Put32(avih, static_cast<std::uint32_t>(rows));
  for (int i = 0; i < 4; ++i) Put32(avih, 0);
  std::string strh = "vids";
  strh += "DIB ";
  for (int i = 0; i < 3; ++i) Put32(strh, 0);
  Put32(strh, 1);       // scale
  Put32(strh, o.rate);  // rate
  Put32(strh, 0);
  Put32(strh, static_cast<std::uint32_t>(o.frames));
  for (int i = 0; i < 5; ++i) Put32(strh, 0);
  std::string strf;
  Put32(strf, 40);
  Put32(strf, static_cast<std::uint32_t>(o.width));
  Put32(strf, static_cast<std::uint32_t>(o.height));
  Put16(strf, 1);
  Put16(strf, o.bitCount);
  for (int i = 0; i < 6; ++i) Put32(strf, 0);
  const std::string hdrl =
      List("hdrl", Chunk("avih", avih) + List("strl", Chunk("strh", strh) + Chunk("strf", strf)));
  std::string movi;
  for (int f = 0; f < o.frames; ++f) {
    std::string frame;
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < pitch; ++c) {
        // Solid pixels are stored blue, green, red.
        const int channel = c < o.width * 3 ? c % 3 : -1;
        frame.push_back(static_cast<char>(o.solid < 0   ? FrameByte(f, r, c)
                                          : channel < 0 ? 0
                                                        : (o.solid >> (8 * channel)) & 0xFF));
      }
    if (f == o.shortFrame) frame.pop_back();
    movi += Chunk("00db", frame);
  }
  std::string riff = "AVI " + hdrl + List("movi", movi);
  return Chunk("RIFF", riff);
}

}  // namespace avi_fixture
