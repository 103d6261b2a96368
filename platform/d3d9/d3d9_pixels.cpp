// Pixel layouts of the CPU device's formats and per-pixel conversion to and from 0xAARRGGBB.
#include "platform/d3d9/d3d9_pixels.h"

namespace {

int Narrow(std::uint32_t channel, int bits) {
  int maxValue = (1 << bits) - 1;
  return (static_cast<int>(channel) * maxValue + 127) / 255;
}

std::uint16_t Read16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
void Write16(std::uint8_t* p, unsigned v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace

PixelKind GetPixelKind(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_R8G8B8: return PixelKind::Color;
    case D3DFMT_D16:
    case D3DFMT_D16_LOCKABLE:
    case D3DFMT_D24X8:
    case D3DFMT_D24S8:
    case D3DFMT_D32: return PixelKind::Depth;
    case D3DFMT_DXT1:
    case D3DFMT_DXT2:
    case D3DFMT_DXT3:
    case D3DFMT_DXT4:
    case D3DFMT_DXT5: return PixelKind::Compressed;
    case D3DFMT_YV12:
    case D3DFMT_YUY2:
    case D3DFMT_UYVY: return PixelKind::Yuv;
    default: return PixelKind::Unsupported;
  }
}

int GetBytesPerPixel(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_D24X8:
    case D3DFMT_D24S8:
    case D3DFMT_D32: return 4;
    case D3DFMT_R8G8B8: return 3;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_D16:
    case D3DFMT_D16_LOCKABLE:
    case D3DFMT_YUY2:
    case D3DFMT_UYVY: return 2;
    default: return 0;
  }
}

int GetSurfacePitch(D3DFORMAT format, UINT width) {
  if (GetPixelKind(format) == PixelKind::Compressed) {
    int blockBytes = format == D3DFMT_DXT1 ? 8 : 16;
    return static_cast<int>((width + 3) / 4) * blockBytes;
  }
  if (format == D3DFMT_YV12) return static_cast<int>(width);
  return static_cast<int>(width) * GetBytesPerPixel(format);
}

int GetSurfaceRows(D3DFORMAT format, UINT height) {
  if (GetPixelKind(format) == PixelKind::Compressed) return static_cast<int>((height + 3) / 4);
  // The two chroma planes of YV12 follow the luma plane, each half as wide and half as high.
  if (format == D3DFMT_YV12) return static_cast<int>(height + (height + 1) / 2);
  return static_cast<int>(height);
}

bool FormatHasAlpha(D3DFORMAT format) {
  return format == D3DFMT_A8R8G8B8 || format == D3DFMT_A1R5G5B5 || format == D3DFMT_A4R4G4B4;
}

std::uint32_t ReadPixel(D3DFORMAT format, const std::uint8_t* p) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
      return static_cast<std::uint32_t>(p[0]) | (p[1] << 8) | (p[2] << 16) |
             (static_cast<std::uint32_t>(p[3]) << 24);
    case D3DFMT_X8R8G8B8: return 0xFF000000u | p[0] | (p[1] << 8) | (p[2] << 16);
    case D3DFMT_R8G8B8: return 0xFF000000u | p[0] | (p[1] << 8) | (p[2] << 16);
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4: return Widen16(format, Read16(p));
    default: return 0;
  }
}

void WritePixel(D3DFORMAT format, std::uint8_t* p, std::uint32_t argb) {
  std::uint32_t a = argb >> 24, r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
      p[0] = static_cast<std::uint8_t>(b);
      p[1] = static_cast<std::uint8_t>(g);
      p[2] = static_cast<std::uint8_t>(r);
      p[3] = static_cast<std::uint8_t>(format == D3DFMT_A8R8G8B8 ? a : 0xFF);
      break;
    case D3DFMT_R8G8B8:
      p[0] = static_cast<std::uint8_t>(b);
      p[1] = static_cast<std::uint8_t>(g);
      p[2] = static_cast<std::uint8_t>(r);
      break;
    case D3DFMT_R5G6B5:
      Write16(p, (Narrow(r, 5) << 11) | (Narrow(g, 6) << 5) | Narrow(b, 5));
      break;
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: {
      unsigned top = format == D3DFMT_A1R5G5B5 ? (a >= 128 ? 1u : 0u) : 1u;
      Write16(p, (top << 15) | (Narrow(r, 5) << 10) | (Narrow(g, 5) << 5) | Narrow(b, 5));
      break;
    }
    case D3DFMT_A4R4G4B4:
      Write16(p, (Narrow(a, 4) << 12) | (Narrow(r, 4) << 8) | (Narrow(g, 4) << 4) | Narrow(b, 4));
      break;
    default: break;
  }
}
