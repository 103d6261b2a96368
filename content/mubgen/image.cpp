// 24-bit BMP writer with fixed header fields, so the same picture always gives the same bytes.
#include "image.h"

namespace mubgen {

static void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

static void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

std::vector<uint8_t> BmpBytes(const Image& image) {
  uint32_t rowBytes = (uint32_t(image.width) * 3 + 3) & ~3u;
  uint32_t dataBytes = rowBytes * uint32_t(image.height);
  std::vector<uint8_t> out;
  out.reserve(54 + dataBytes);
  out.push_back('B');
  out.push_back('M');
  Put32(out, 54 + dataBytes);
  Put32(out, 0);
  Put32(out, 54);
  Put32(out, 40);
  Put32(out, uint32_t(image.width));
  Put32(out, uint32_t(image.height));
  Put16(out, 1);
  Put16(out, 24);
  Put32(out, 0);
  Put32(out, dataBytes);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  for (int y = image.height - 1; y >= 0; --y) {
    size_t start = out.size();
    for (int x = 0; x < image.width; ++x) {
      const Rgb& c = image.At(x, y);
      out.push_back(c.b);
      out.push_back(c.g);
      out.push_back(c.r);
    }
    out.resize(start + rowBytes, 0);
  }
  return out;
}

}  // namespace mubgen
