// DXT decompression: the base level of a block-compressed image into A8R8G8B8 pixels, with the
// engine's own widening and interpolation rules. Edge blocks of sizes that are not multiples of
// four are decoded too, so every pixel is written.
#include "files/dxt_decompress.h"

#include <cstring>

#include "system/tracked_memory.h"

namespace {

struct Rgba {
  int r, g, b, a;
};

void ColorEndpoints(const std::uint8_t* block, bool threeColourAllowed, Rgba colours[4]) {
  const int c0 = block[0] | (block[1] << 8);
  const int c1 = block[2] | (block[3] << 8);
  auto widen = [](int c) {
    return Rgba{((c >> 11) & 31) * 255 / 31, ((c >> 5) & 63) * 255 / 63, (c & 31) * 255 / 31, 255};
  };
  colours[0] = widen(c0);
  colours[1] = widen(c1);
  const Rgba& a = colours[0];
  const Rgba& b = colours[1];
  if (!threeColourAllowed || c0 > c1) {
    colours[2] = Rgba{(2 * a.r + b.r) / 3, (2 * a.g + b.g) / 3, (2 * a.b + b.b) / 3, 255};
    colours[3] = Rgba{(a.r + 2 * b.r) / 3, (a.g + 2 * b.g) / 3, (a.b + 2 * b.b) / 3, 255};
  } else {
    colours[2] = Rgba{(a.r + b.r) >> 1, (a.g + b.g) >> 1, (a.b + b.b) >> 1, 255};
    colours[3] = Rgba{(a.r + b.r) >> 1, (a.g + b.g) >> 1, (a.b + b.b) >> 1, 0};
  }
}

// One 4 x 4 block into 16 pixels, row by row.
void DecodeBlock(const std::uint8_t* block, int compression, Rgba out[16]) {
  const std::uint8_t* colourBlock = compression == 1 ? block : block + 8;
  Rgba colours[4];
  ColorEndpoints(colourBlock, compression == 1, colours);
  const std::uint32_t indices = colourBlock[4] | (colourBlock[5] << 8) | (colourBlock[6] << 16) |
                                (std::uint32_t{colourBlock[7]} << 24);
  for (int i = 0; i < 16; ++i) out[i] = colours[(indices >> (2 * i)) & 3];
  if (compression == 2 || compression == 3) {
    for (int i = 0; i < 16; ++i) out[i].a = ((block[i / 2] >> ((i & 1) * 4)) & 15) * 17;
  } else if (compression == 4 || compression == 5) {
    const int a0 = block[0];
    const int a1 = block[1];
    int alphas[8] = {a0, a1};
    if (a0 > a1) {
      for (int i = 1; i <= 6; ++i) alphas[i + 1] = ((7 - i) * a0 + i * a1) / 7;
    } else {
      for (int i = 1; i <= 4; ++i) alphas[i + 1] = ((5 - i) * a0 + i * a1) / 5;
      alphas[6] = 0;
      alphas[7] = 255;
    }
    std::uint64_t bits = 0;
    for (int i = 0; i < 6; ++i) bits |= std::uint64_t{block[2 + i]} << (8 * i);
    for (int i = 0; i < 16; ++i) out[i].a = alphas[(bits >> (3 * i)) & 7];
  }
  if (compression == 2 || compression == 4) {
    // Premultiplied colours are divided back; a pixel with no alpha keeps no colour.
    for (int i = 0; i < 16; ++i) {
      Rgba& p = out[i];
      if (p.a == 0) {
        p.r = p.g = p.b = 0;
        continue;
      }
      p.r = p.r * 255 / p.a > 255 ? 255 : p.r * 255 / p.a;
      p.g = p.g * 255 / p.a > 255 ? 255 : p.g * 255 / p.a;
      p.b = p.b * 255 / p.a > 255 ? 255 : p.b * 255 / p.a;
    }
  }
}

}  // namespace

int DecompressDXTStandardImage(StandardImage* image) {
  const int compression = image->format.compression;
  if (compression < 1 || compression > 5) return 0;
  const std::int64_t width = image->width;
  const std::int64_t height = image->height;
  auto* pixels = static_cast<std::uint8_t*>(
      TrackedAllocZeroed(width * height * 4 > 0 ? width * height * 4 : 1));
  if (!pixels) return -1;
  const int blockBytes = compression == 1 ? 8 : 16;
  const std::int64_t blocksAcross = (width + 3) / 4;
  const std::int64_t blocksDown = (height + 3) / 4;
  for (std::int64_t by = 0; by < blocksDown; ++by) {
    for (std::int64_t bx = 0; bx < blocksAcross; ++bx) {
      Rgba block[16];
      DecodeBlock(image->pixels + (by * blocksAcross + bx) * blockBytes, compression, block);
      for (int i = 0; i < 16; ++i) {
        const std::int64_t x = bx * 4 + (i & 3);
        const std::int64_t y = by * 4 + (i >> 2);
        if (x >= width || y >= height) continue;
        std::uint8_t* p = pixels + (y * width + x) * 4;
        p[0] = static_cast<std::uint8_t>(block[i].b);
        p[1] = static_cast<std::uint8_t>(block[i].g);
        p[2] = static_cast<std::uint8_t>(block[i].r);
        p[3] = static_cast<std::uint8_t>(block[i].a);
      }
    }
  }
  TrackedFree(image->pixels);
  image->pixels = pixels;
  image->format = ColorFormat{};
  MakeARGB8ColorFormat(&image->format);
  image->pitch = static_cast<std::int32_t>(width * 4);
  image->mipLevelCount = 0;
  return 0;
}
