// An RGB picture in memory and its 24-bit BMP form. Black (0, 0, 0) is the game's colour key.
#pragma once

#include <cstdint>
#include <vector>

#include "source_text.h"

namespace mubgen {

struct Image {
  int width = 0;
  int height = 0;
  std::vector<Rgb> pixels;  // row-major, top row first

  Image() = default;
  Image(int w, int h) : width(w), height(h), pixels(size_t(w) * size_t(h)) {}
  Rgb& At(int x, int y) { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
  const Rgb& At(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
  bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
  void Put(int x, int y, Rgb c) {
    if (Inside(x, y)) At(x, y) = c;
  }
};

// "BM", 14-byte file header, 40-byte info header, 24 bits, no compression, bottom-up rows
// padded to 4 bytes; resolution and palette fields 0.
std::vector<uint8_t> BmpBytes(const Image& image);

}  // namespace mubgen
