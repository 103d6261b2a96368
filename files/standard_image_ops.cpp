// Operations on whole standard images built around the pixel converter: rectangle copy and
// scaling, pixel reading and writing, mirroring, the half turn, halving for mip levels and the
// preparation of a DIB.
#include <cstring>
#include <utility>

#include "files/color_convert.h"
#include "files/dxt_decompress.h"
#include "platform/win32/gdi_dib.h"
#include "system/tracked_memory.h"

namespace {

uint32_t ReadPixelCode(const uint8_t* p, int bytes) {
  uint32_t code = 0;
  for (int i = 0; i < bytes; ++i) code |= uint32_t{p[i]} << (8 * i);
  return code;
}

void WritePixelCode(uint8_t* p, int bytes, uint32_t code) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(code >> (8 * i));
}

uint8_t* PixelAddress(const StandardImage* image, int x, int y) {
  return image->pixels + static_cast<intptr_t>(y) * image->pitch +
         static_cast<intptr_t>(x) * image->format.bytesPerPixel;
}

int DecompressIfNeeded(StandardImage* image) {
  if (image->format.compression == 0) return 0;
  return DecompressDXTStandardImage(image) < 0 ? -1 : 0;
}

bool RectInsideImage(int x1, int y1, int x2, int y2, const StandardImage* image) {
  return x1 < x2 && y1 < y2 && x1 >= 0 && y1 >= 0 && x1 < image->width && y1 < image->height &&
         x2 <= image->width && y2 <= image->height;
}

void SwapPixels(uint8_t* a, uint8_t* b, int bytes) {
  for (int i = 0; i < bytes; ++i) std::swap(a[i], b[i]);
}

}  // namespace

int CopyStandardImageRect(int sourceX, int sourceY, int width, int height, int targetX, int targetY,
                          StandardImage* source, StandardImage* target) {
  if (DecompressIfNeeded(source) < 0 || DecompressIfNeeded(target) < 0) return -1;
  if (sourceX < 0) {
    targetX -= sourceX;
    width += sourceX;
    sourceX = 0;
  }
  if (sourceY < 0) {
    targetY -= sourceY;
    height += sourceY;
    sourceY = 0;
  }
  if (targetX < 0) {
    sourceX -= targetX;
    width += targetX;
    targetX = 0;
  }
  if (targetY < 0) {
    sourceY -= targetY;
    height += targetY;
    targetY = 0;
  }
  if (targetX + static_cast<int64_t>(width) > target->width) width = target->width - targetX;
  if (targetY + static_cast<int64_t>(height) > target->height) height = target->height - targetY;
  if (sourceX + static_cast<int64_t>(width) > source->width) width = source->width - sourceX;
  if (sourceY + static_cast<int64_t>(height) > source->height) height = source->height - sourceY;
  if (width <= 0 || height <= 0) return 0;
  RECT rect{sourceX, sourceY, sourceX + width, sourceY + height};
  int result = ConvertPixelRect(target->pixels, target->pitch, &target->format, source->pixels,
                                source->pitch, &source->format, nullptr, 0, nullptr, targetX,
                                targetY, &rect, 0, 0, 0, 0, 0, 0, 0, 1);
  return result < 0 ? -1 : 0;
}

// Bilinear samples beyond the last column or row take the edge pixel.
int ScaleStandardImageRect(int sourceX1, int sourceY1, int sourceX2, int sourceY2,
                           StandardImage* source, int targetX1, int targetY1, int targetX2,
                           int targetY2, StandardImage* target, int filter) {
  if (!RectInsideImage(sourceX1, sourceY1, sourceX2, sourceY2, source) ||
      !RectInsideImage(targetX1, targetY1, targetX2, targetY2, target))
    return -1;
  int sourceWidth = sourceX2 - sourceX1;
  int sourceHeight = sourceY2 - sourceY1;
  int targetWidth = targetX2 - targetX1;
  int targetHeight = targetY2 - targetY1;
  if (sourceWidth == targetWidth && sourceHeight == targetHeight)
    return CopyStandardImageRect(sourceX1, sourceY1, sourceWidth, sourceHeight, targetX1, targetY1,
                                 source, target);
  if (DecompressIfNeeded(source) < 0 || DecompressIfNeeded(target) < 0) return -1;
  int64_t stepX = static_cast<int64_t>(sourceWidth) * 65536 / targetWidth;
  int64_t stepY = static_cast<int64_t>(sourceHeight) * 65536 / targetHeight;
  int64_t v = static_cast<int64_t>(sourceY1) * 65536;
  for (int i = 0; i < targetHeight; ++i, v += stepY) {
    int64_t u = static_cast<int64_t>(sourceX1) * 65536;
    for (int j = 0; j < targetWidth; ++j, u += stepX) {
      int x = static_cast<int>(u >> 16);
      int y = static_cast<int>(v >> 16);
      int rgba[4] = {0, 0, 0, 0};
      if (filter == 1) {
        int64_t fx = u & 0xFFFF;
        int64_t fy = v & 0xFFFF;
        int x1 = x + 1 < source->width ? x + 1 : x;
        int y1 = y + 1 < source->height ? y + 1 : y;
        const int corners[4][2] = {{x, y}, {x1, y}, {x, y1}, {x1, y1}};
        const int64_t weights[4] = {(0xFFFF - fx) * (0xFFFF - fy) >> 16, fx * (0xFFFF - fy) >> 16,
                                    (0xFFFF - fx) * fy >> 16, fx * fy >> 16};
        int64_t sums[4] = {0, 0, 0, 0};
        for (int c = 0; c < 4; ++c) {
          int r = 0, g = 0, b = 0, a = 0;
          GetStandardImagePixel(source, corners[c][0], corners[c][1], &r, &g, &b, &a);
          sums[0] += r * weights[c];
          sums[1] += g * weights[c];
          sums[2] += b * weights[c];
          sums[3] += a * weights[c];
        }
        for (int k = 0; k < 4; ++k) rgba[k] = static_cast<int>(sums[k] >> 16);
      } else {
        GetStandardImagePixel(source, x, y, &rgba[0], &rgba[1], &rgba[2], &rgba[3]);
      }
      SetStandardImagePixel(target, targetX1 + j, targetY1 + i, rgba[0], rgba[1], rgba[2], rgba[3]);
    }
  }
  return 0;
}

int GetStandardImagePixel(StandardImage* image, int x, int y, int* red, int* green, int* blue,
                          int* alpha) {
  if (DecompressIfNeeded(image) < 0) return -1;
  if (static_cast<uint32_t>(x) >= static_cast<uint32_t>(image->width) ||
      static_cast<uint32_t>(y) >= static_cast<uint32_t>(image->height))
    return -1;
  const uint8_t* p = PixelAddress(image, x, y);
  if (image->format.bytesPerPixel == 1) {
    const ColorPaletteEntry& e = image->format.palette[p[0]];
    if (red) *red = e.red;
    if (green) *green = e.green;
    if (blue) *blue = e.blue;
    if (alpha) *alpha = e.alpha;
    return 0;
  }
  return ColorFormatCodeToRGBA(&image->format, ReadPixelCode(p, image->format.bytesPerPixel), red,
                               green, blue, alpha);
}

int SetStandardImagePixel(StandardImage* image, int x, int y, int red, int green, int blue,
                          int alpha) {
  if (DecompressIfNeeded(image) < 0) return -1;
  if (static_cast<uint32_t>(x) >= static_cast<uint32_t>(image->width) ||
      static_cast<uint32_t>(y) >= static_cast<uint32_t>(image->height))
    return -1;
  int bytes = image->format.bytesPerPixel;
  if (bytes < 1 || bytes > 4) return -1;
  WritePixelCode(PixelAddress(image, x, y), bytes,
                 ColorFormatCodeFromRGBA(&image->format, red, green, blue, alpha));
  return 0;
}

int MirrorStandardImage(StandardImage* image) {
  int bytes = image->format.bytesPerPixel;
  if (image->width == 0 || image->height == 0 || image->format.compression != 0 || bytes < 1 ||
      bytes > 4)
    return -1;
  for (int y = 0; y < image->height; ++y)
    for (int i = 0; i < image->width / 2; ++i)
      SwapPixels(PixelAddress(image, i, y), PixelAddress(image, image->width - 1 - i, y), bytes);
  return 0;
}

int TurnStandardImage180(StandardImage* image) {
  int bytes = image->format.bytesPerPixel;
  if (image->format.compression != 0 || bytes < 1 || bytes > 4) return -1;
  int w = image->width;
  int h = image->height;
  for (int top = 0; top < h / 2; ++top) {
    int bottom = h - 1 - top;
    for (int x = 0; x < w; ++x)
      SwapPixels(PixelAddress(image, x, top), PixelAddress(image, w - 1 - x, bottom), bytes);
  }
  if (h % 2 == 1) {
    int middle = h / 2;
    for (int i = 0; i < w / 2; ++i)
      SwapPixels(PixelAddress(image, i, middle), PixelAddress(image, w - 1 - i, middle), bytes);
  }
  return 0;
}

int HalveImagePixels(const ColorFormat* format, void* target, int targetPitch, const void* source,
                     int sourcePitch, int targetX, int targetY, int sourceX, int sourceY, int width,
                     int height) {
  if ((width != 1 && width % 2 != 0) || (height != 1 && height % 2 != 0) || width <= 0 ||
      height <= 0)
    return -1;
  int bytes = format->bytesPerPixel;
  if (bytes != 2 && bytes != 4) return -1;
  const uint32_t masks[4] = {format->redMask, format->greenMask, format->blueMask,
                             format->alphaMask};
  const int shifts[4] = {format->redShift, format->greenShift, format->blueShift,
                         format->alphaShift};
  int stepX = width == 1 ? 0 : 1;
  int stepY = height == 1 ? 0 : 1;
  int count = (stepX + 1) * (stepY + 1);
  int countShift = count == 4 ? 2 : count == 2 ? 1 : 0;
  int outWidth = width == 1 ? 1 : width / 2;
  int outHeight = height == 1 ? 1 : height / 2;
  auto* out = static_cast<uint8_t*>(target);
  auto* in = static_cast<const uint8_t*>(source);
  for (int j = 0; j < outHeight; ++j) {
    for (int i = 0; i < outWidth; ++i) {
      uint32_t sums[4] = {0, 0, 0, 0};
      for (int dy = 0; dy <= stepY; ++dy) {
        for (int dx = 0; dx <= stepX; ++dx) {
          const uint8_t* p = in + static_cast<intptr_t>(sourceY + 2 * j + dy) * sourcePitch +
                             static_cast<intptr_t>(sourceX + 2 * i + dx) * bytes;
          uint32_t code = ReadPixelCode(p, bytes);
          for (int c = 0; c < 4; ++c) sums[c] += (code & masks[c]) >> shifts[c];
        }
      }
      uint32_t result = 0;
      for (int c = 0; c < 4; ++c) result |= ((sums[c] >> countShift) << shifts[c]) & masks[c];
      uint8_t* q = out + static_cast<intptr_t>(targetY + j) * targetPitch +
                   static_cast<intptr_t>(targetX + i) * bytes;
      WritePixelCode(q, bytes, result);
    }
  }
  return 0;
}

int MakeDIBFromStandardImage(StandardImage* image, BITMAPINFO* info, void** pixels, int forceCopy,
                             int force24Bit) {
  if (DecompressIfNeeded(image) < 0) return -1;
  BITMAPINFOHEADER& header = info->bmiHeader;
  std::memset(&header, 0, sizeof(header));
  header.biSize = 40;
  header.biWidth = image->width;
  header.biHeight = -image->height;
  header.biPlanes = 1;
  header.biCompression = 0;
  int width = image->width;
  int height = image->height;
  if (image->format.bytesPerPixel == 1 && !force24Bit) {
    header.biBitCount = 8;
    // The header is followed by room for 256 entries (the caller allocates it so).
    std::memcpy(reinterpret_cast<uint8_t*>(info) + sizeof(BITMAPINFOHEADER), image->format.palette,
                1024);
    int rowBytes = (width + 3) & ~3;
    if (!forceCopy && image->pitch == rowBytes) {
      *pixels = image->pixels;
      return 0;
    }
    auto* buffer = static_cast<uint8_t*>(
        TrackedAllocZeroed(static_cast<int64_t>(rowBytes) * height, __FILE__, __LINE__));
    if (!buffer) return -1;
    for (int y = 0; y < height; ++y)
      std::memcpy(buffer + static_cast<intptr_t>(y) * rowBytes, PixelAddress(image, 0, y),
                  static_cast<size_t>(width));
    *pixels = buffer;
    return 1;
  }
  header.biBitCount = 24;
  int rowBytes = (width * 3 + 3) & ~3;
  const ColorFormat& f = image->format;
  bool exact24 = f.bitDepth == 24 && f.bytesPerPixel == 3 && f.redMask == 0xFF0000 &&
                 f.greenMask == 0xFF00 && f.blueMask == 0xFF;
  if (exact24 && !forceCopy && image->pitch == rowBytes) {
    *pixels = image->pixels;
    return 0;
  }
  auto* buffer = static_cast<uint8_t*>(
      TrackedAllocZeroed(static_cast<int64_t>(rowBytes) * height, __FILE__, __LINE__));
  if (!buffer) return -1;
  if (exact24 && !forceCopy) {
    for (int y = 0; y < height; ++y)
      std::memcpy(buffer + static_cast<intptr_t>(y) * rowBytes, PixelAddress(image, 0, y),
                  static_cast<size_t>(width) * 3);
  } else if (width > 0 && height > 0) {
    ColorFormat rgb24{};
    MakeRGB24ColorFormat(&rgb24);
    RECT rect{0, 0, width, height};
    ConvertPixelRect(buffer, rowBytes, &rgb24, image->pixels, image->pitch, &image->format, nullptr,
                     0, nullptr, 0, 0, &rect, 0, 0, 0, 0, 0, 0, 0, 0);
  }
  *pixels = buffer;
  return 1;
}
