// Pixel layouts of the formats the CPU device stores: size, pitch, and conversion of one pixel
// to and from 0xAARRGGBB. Narrow channels widen by repeating their top bits and narrow by
// rounding, so a colour written and read back in the same format is unchanged.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"

enum class PixelKind { Unsupported, Color, Depth, Compressed, Yuv };

PixelKind GetPixelKind(D3DFORMAT format);
// Bytes per pixel of colour and depth formats; 0 for compressed and unknown ones.
int GetBytesPerPixel(D3DFORMAT format);
// Row pitch and number of stored rows (block rows for DXT) of a level.
int GetSurfacePitch(D3DFORMAT format, UINT width);
int GetSurfaceRows(D3DFORMAT format, UINT height);
bool FormatHasAlpha(D3DFORMAT format);

// Colour formats only: A8R8G8B8, X8R8G8B8, R5G6B5, X1R5G5B5, A1R5G5B5, A4R4G4B4, R8G8B8.
// Formats without alpha read as alpha 255 and store their unused bits as ones.
std::uint32_t ReadPixel(D3DFORMAT format, const std::uint8_t* pixel);
void WritePixel(D3DFORMAT format, std::uint8_t* pixel, std::uint32_t argb);

// A stored pixel of a 16-bit format (R5G6B5, X1R5G5B5, A1R5G5B5, A4R4G4B4) as ReadPixel gives
// it; inline so that the rasteriser's short paths widen whole runs of texels without a call each.
inline std::uint32_t Widen16(D3DFORMAT format, unsigned v) {
  auto five = [](unsigned c) { return (c << 3) | (c >> 2); };
  auto six = [](unsigned c) { return (c << 2) | (c >> 4); };
  switch (format) {
    case D3DFMT_R5G6B5:
      return 0xFF000000u | five((v >> 11) & 31) << 16 | six((v >> 5) & 63) << 8 | five(v & 31);
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: {
      const std::uint32_t a = format == D3DFMT_X1R5G5B5 || (v & 0x8000) ? 0xFF000000u : 0;
      return a | five((v >> 10) & 31) << 16 | five((v >> 5) & 31) << 8 | five(v & 31);
    }
    case D3DFMT_A4R4G4B4:
      return ((v >> 12) & 15) * 17 << 24 | ((v >> 8) & 15) * 17 << 16 | ((v >> 4) & 15) * 17 << 8 |
             (v & 15) * 17;
    default: return 0;
  }
}

// round(a * b / 255) for a, b in 0-255.
inline int MultiplyChannel(int a, int b) {
  int t = a * b + 128;
  return (t + (t >> 8)) >> 8;
}
