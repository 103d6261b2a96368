// Colour formats and standard images: the builders of the common layouts, the conversion between
// colour components and pixel codes, creation and release of images, and the standard-image
// handle table.
#include "files/color_format.h"

#include <cstring>

#include "system/engine_handle.h"
#include "system/tracked_memory.h"

namespace {

void SetChannelFields(ColorFormat* format) {
  format->redWidth = 8;
  format->redShift = 16;
  format->redMask = 0xFF0000;
  format->greenWidth = 8;
  format->greenShift = 8;
  format->greenMask = 0xFF00;
  format->blueWidth = 8;
  format->blueShift = 0;
  format->blueMask = 0xFF;
  format->alphaWidth = 0;
  format->alphaShift = 0;
  format->alphaMask = 0;
  format->compression = 0;
}

// Lowest set bit and the run of set bits from there; both 0 for a zero mask.
void DescribeMask(uint32_t mask, uint8_t* shift, uint8_t* width) {
  *shift = 0;
  *width = 0;
  if (mask == 0) return;
  int s = 0;
  while (((mask >> s) & 1u) == 0) ++s;
  int w = 0;
  while (s + w < 32 && ((mask >> (s + w)) & 1u) != 0) ++w;
  *shift = static_cast<uint8_t>(s);
  *width = static_cast<uint8_t>(w);
}

uint32_t AllBitsOfDepth(int bitDepth) {
  return bitDepth >= 32 ? 0xFFFFFFFFu : (1u << bitDepth) - 1u;
}

// An 8-bit component narrowed (or, for channels wider than 8 bits, widened) to `width` bits.
uint32_t ScaleComponentToWidth(int component, int width) {
  uint32_t c = static_cast<uint32_t>(component) & 0xFFu;
  if (width <= 8) return c >> (8 - width);
  return c << (width - 8);
}

int ExpandChannel(uint32_t code, uint32_t mask, int shift, int width) {
  if (width == 0) return 0;
  uint64_t value = (code & mask) >> shift;
  uint64_t maxValue = (uint64_t{1} << width) - 1;
  return static_cast<int>(value * 255 / maxValue);
}

// The channel's value left-aligned to 8 bits (its top 8 bits when it is wider).
uint32_t ChannelTopByte(uint32_t code, uint32_t mask, int shift, int width) {
  uint32_t value = (code & mask) >> shift;
  if (width <= 8) return (value << (8 - width)) & 0xFFu;
  return (value >> (width - 8)) & 0xFFu;
}

}  // namespace

int MakePaletteColorFormat(ColorFormat* format) {
  format->bitDepth = 8;
  format->bytesPerPixel = 1;
  SetChannelFields(format);
  format->noneMask = 0xFF000000u;
  return 0;
}

int MakeXRGB8ColorFormat(ColorFormat* format) {
  format->bitDepth = 32;
  format->bytesPerPixel = 4;
  SetChannelFields(format);
  format->noneMask = 0xFF000000u;
  format->noneShift = 24;
  format->noneWidth = 8;
  return 0;
}

int MakeARGB8ColorFormat(ColorFormat* format) {
  format->bitDepth = 32;
  format->bytesPerPixel = 4;
  SetChannelFields(format);
  format->alphaWidth = 8;
  format->alphaShift = 24;
  format->alphaMask = 0xFF000000u;
  format->noneMask = 0;
  return 0;
}

int MakeRGB24ColorFormat(ColorFormat* format) {
  format->bitDepth = 24;
  format->bytesPerPixel = 3;
  SetChannelFields(format);
  format->noneMask = 0;
  return 0;
}

int MakeGrayColorFormat(ColorFormat* format) {
  MakePaletteColorFormat(format);
  for (int i = 0; i < 256; ++i) {
    uint8_t level = static_cast<uint8_t>(i);
    format->palette[i] = ColorPaletteEntry{level, level, level, 0};
  }
  return 0;
}

// A depth outside 1-32 cannot describe a pixel code of at most 32 bits: refused.
int MakeColorFormatFromMasks(ColorFormat* format, int bitDepth, uint32_t redMask,
                             uint32_t greenMask, uint32_t blueMask, uint32_t alphaMask) {
  if (bitDepth <= 0 || bitDepth > 32) return -1;
  format->bitDepth = static_cast<uint16_t>(bitDepth);
  format->bytesPerPixel = static_cast<uint16_t>(bitDepth / 8);
  format->compression = 0;
  format->redMask = redMask;
  format->greenMask = greenMask;
  format->blueMask = blueMask;
  format->alphaMask = alphaMask;
  format->noneMask = AllBitsOfDepth(bitDepth) & ~(redMask | greenMask | blueMask | alphaMask);
  DescribeMask(redMask, &format->redShift, &format->redWidth);
  DescribeMask(greenMask, &format->greenShift, &format->greenWidth);
  DescribeMask(blueMask, &format->blueShift, &format->blueWidth);
  DescribeMask(alphaMask, &format->alphaShift, &format->alphaWidth);
  DescribeMask(format->noneMask, &format->noneShift, &format->noneWidth);
  return 0;
}

ColorFormat* UpdateColorFormatNoneMask(ColorFormat* format) {
  int widths = format->redWidth + format->greenWidth + format->blueWidth + format->alphaWidth;
  if (widths == format->bitDepth) {
    format->noneMask = 0;
  } else {
    format->noneMask = AllBitsOfDepth(format->bitDepth) & ~(format->redMask | format->greenMask |
                                                            format->blueMask | format->alphaMask);
  }
  return format;
}

uint32_t ColorFormatCodeFromRGBA(const ColorFormat* format, int red, int green, int blue,
                                 int alpha) {
  if (format->bytesPerPixel == 1) {
    int r = red & 0xFF;
    int g = green & 0xFF;
    int b = blue & 0xFF;
    int bestDistance = 0xFFFFFF;
    uint32_t bestIndex = 0;
    for (int i = 0; i < 256; ++i) {
      const ColorPaletteEntry& entry = format->palette[i];
      int dr = entry.red - r;
      int dg = entry.green - g;
      int db = entry.blue - b;
      int distance = dr * dr + dg * dg + db * db;
      if (distance < bestDistance) {
        bestDistance = distance;
        bestIndex = static_cast<uint32_t>(i);
      }
    }
    return bestIndex;
  }
  uint32_t code = (ScaleComponentToWidth(red, format->redWidth) << format->redShift) +
                  (ScaleComponentToWidth(green, format->greenWidth) << format->greenShift) +
                  (ScaleComponentToWidth(blue, format->blueWidth) << format->blueShift) +
                  format->noneMask;
  if (format->alphaWidth != 0)
    code += ScaleComponentToWidth(alpha, format->alphaWidth) << format->alphaShift;
  return code;
}

int ColorFormatCodeToRGBA(const ColorFormat* format, uint32_t code, int* red, int* green, int* blue,
                          int* alpha) {
  bool all8 = format->redWidth == 8 && format->greenWidth == 8 && format->blueWidth == 8;
  int r, g, b, a;
  if (all8) {
    r = static_cast<int>((code & format->redMask) >> format->redShift);
    g = static_cast<int>((code & format->greenMask) >> format->greenShift);
    b = static_cast<int>((code & format->blueMask) >> format->blueShift);
    if (format->alphaWidth == 8)
      a = static_cast<int>((code & format->alphaMask) >> format->alphaShift);
    else
      a = ExpandChannel(code, format->alphaMask, format->alphaShift, format->alphaWidth);
  } else {
    r = ExpandChannel(code, format->redMask, format->redShift, format->redWidth);
    g = ExpandChannel(code, format->greenMask, format->greenShift, format->greenWidth);
    b = ExpandChannel(code, format->blueMask, format->blueShift, format->blueWidth);
    a = ExpandChannel(code, format->alphaMask, format->alphaShift, format->alphaWidth);
  }
  if (red) *red = r;
  if (green) *green = g;
  if (blue) *blue = b;
  if (alpha) *alpha = a;
  return 0;
}

// A palette image gives its entry's colour.
uint32_t GetStandardImagePixelARGB(const StandardImage* image, int x, int y) {
  if (image->pixels == nullptr) return 0;
  const ColorFormat& f = image->format;
  const uint8_t* p = image->pixels + static_cast<intptr_t>(y) * image->pitch +
                     static_cast<intptr_t>(x) * f.bytesPerPixel;
  uint32_t code = 0;
  switch (f.bytesPerPixel) {
    case 1: {
      const ColorPaletteEntry& e = f.palette[p[0]];
      return (uint32_t{e.alpha} << 24) | (uint32_t{e.red} << 16) | (uint32_t{e.green} << 8) |
             e.blue;
    }
    case 2: code = p[0] | (uint32_t{p[1]} << 8); break;
    case 3: code = p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16); break;
    default:
      code = p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
      break;
  }
  uint32_t result = ChannelTopByte(code, f.blueMask, f.blueShift, f.blueWidth) |
                    (ChannelTopByte(code, f.greenMask, f.greenShift, f.greenWidth) << 8) |
                    (ChannelTopByte(code, f.redMask, f.redShift, f.redWidth) << 16);
  if (f.alphaWidth != 0)
    result |= ChannelTopByte(code, f.alphaMask, f.alphaShift, f.alphaWidth) << 24;
  return result;
}

int CreateStandardImage(int width, int height, const ColorFormat* format, StandardImage* image) {
  image->format = *format;
  image->width = width;
  image->height = height;
  image->mipLevelCount = 0;
  image->pixels = nullptr;
  int64_t rowBytes = static_cast<int64_t>(width) * format->bytesPerPixel;
  int64_t pitch = (rowBytes + 3) & ~int64_t{3};
  int64_t size = pitch * height;
  if (width < 0 || height < 0 || pitch > INT32_MAX || size > INT32_MAX) {
    image->pitch = 0;
    return -1;
  }
  image->pitch = static_cast<int32_t>(pitch);
  // A block of at least one byte, so that an empty image still owns a buffer.
  image->pixels = static_cast<uint8_t*>(TrackedAlloc(size > 0 ? size : 1, __FILE__, __LINE__));
  return image->pixels ? 0 : -1;
}

int CreateARGB8StandardImage(int width, int height, StandardImage* image) {
  ColorFormat& f = image->format;
  f.bitDepth = 32;
  f.bytesPerPixel = 4;
  f.redWidth = f.greenWidth = f.blueWidth = f.alphaWidth = 8;
  f.redShift = 16;
  f.greenShift = 8;
  f.blueShift = 0;
  f.alphaShift = 24;
  f.redMask = 0xFF0000;
  f.greenMask = 0xFF00;
  f.blueMask = 0xFF;
  f.alphaMask = 0xFF000000u;
  f.noneMask = 0;
  f.compression = 0;
  return CreateStandardImage(width, height, &f, image);
}

int CreateXRGB8StandardImage(int width, int height, StandardImage* image) {
  MakeXRGB8ColorFormat(&image->format);
  return CreateStandardImage(width, height, &image->format, image);
}

int ReleaseStandardImage(StandardImage* image) {
  if (image->pixels) TrackedFree(image->pixels);
  std::memset(image, 0, sizeof(*image));
  return 0;
}

int ClearStandardImageRect(StandardImage* image, int x, int y, int width, int height) {
  int bytes = image->format.bytesPerPixel;
  for (int row = 0; row < height; ++row) {
    uint8_t* p = image->pixels + static_cast<intptr_t>(y + row) * image->pitch +
                 static_cast<intptr_t>(x) * bytes;
    std::memset(p, 0, static_cast<size_t>(width) * bytes);
  }
  return 0;
}

namespace {

struct StandardImageHandleRecord {
  StandardImage image;
  int32_t checkNumber;
};

struct StandardImageHandleState {
  StandardImageHandleRecord* table[8192];
  EngineHandleKind kind = MakeEngineHandleKind(kStandardImageHandle);
};

StandardImageHandleState handleState;

}  // namespace

int CreateStandardImageHandle(const StandardImage* image) {
  int slot = FindFreeEngineHandleSlot(handleState.kind, handleState.table, true);
  if (slot < 0) return -1;
  auto* record = static_cast<StandardImageHandleRecord*>(
      TrackedAllocZeroed(sizeof(StandardImageHandleRecord), __FILE__, __LINE__));
  if (!record) return -1;
  record->image = *image;
  handleState.table[slot] = record;
  int check = 0;
  int handle = IssueEngineHandle(handleState.kind, slot, &check);
  record->checkNumber = check;
  return handle;
}

int DeleteStandardImageHandle(int handle) {
  StandardImageHandleRecord* record =
      FindEngineHandleRecord(handle, handleState.kind, handleState.table,
                             [](const StandardImageHandleRecord& r) { return r.checkNumber; });
  if (!record) return -1;
  int slot = GetEngineHandleSlot(handle);
  ReleaseStandardImage(&record->image);
  RetireEngineHandle(handleState.kind);
  TrackedFree(record);
  handleState.table[slot] = nullptr;
  if (slot + 1 == handleState.kind.highWater) {
    int mark = slot;
    while (mark > 0 && handleState.table[mark - 1] == nullptr) --mark;
    handleState.kind.highWater = mark;
  }
  return 0;
}

int DeleteAllStandardImageHandles() {
  for (int slot = handleState.kind.highWater - 1; slot >= 0; --slot) {
    StandardImageHandleRecord* record = handleState.table[slot];
    if (record)
      DeleteStandardImageHandle(MakeEngineHandle(kStandardImageHandle, record->checkNumber, slot));
  }
  return 0;
}

int ShutdownStandardImageHandles() { return DeleteAllStandardImageHandles(); }
