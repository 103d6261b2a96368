// The DDS decoder: block-compressed (DXT1-DXT5) surfaces kept compressed, formats named by a
// Direct3D format code, and surfaces described by RGB masks, with their mip levels.
#include <algorithm>
#include <cstring>

#include "files/image_loader.h"
#include "system/little_endian.h"

namespace {

struct DDSFormatRow {
  std::uint32_t code;
  int bits;
  std::uint32_t red, green, blue, alpha;
};

// Direct3D format codes found in the FourCC field, ended by a row of all ones. R3G3B2 (27) is
// missing: a one-byte pixel that is not a palette index has no place in the pixel converter.
constexpr DDSFormatRow DDSFormatTable[] = {
    {20, 24, 0xFF0000, 0xFF00, 0xFF, 0},
    {21, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000},
    {22, 32, 0xFF0000, 0xFF00, 0xFF, 0},
    {23, 16, 0xF800, 0x7E0, 0x1F, 0},
    {24, 16, 0x7C00, 0x3E0, 0x1F, 0},
    {25, 16, 0x7C00, 0x3E0, 0x1F, 0x8000},
    {26, 16, 0xF00, 0xF0, 0xF, 0xF000},
    {29, 16, 0xE0, 0x1C, 0x3, 0xFF00},
    {30, 16, 0xF00, 0xF0, 0xF, 0},
    {31, 32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000},
    {32, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000},
    {33, 32, 0xFF, 0xFF00, 0xFF0000, 0},
    {35, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000},
    {0xFFFFFFFF, -1, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
};

constexpr std::uint32_t kFlagPitch = 0x8;
constexpr std::uint32_t kFlagMipCount = 0x20000;
constexpr std::uint32_t kPixelFourCC = 0x4;
constexpr std::uint32_t kPixelRGB = 0x40;
constexpr std::uint32_t kCapsComplex = 0x8;
constexpr std::uint32_t kCapsMipMap = 0x400000;
constexpr std::uint32_t kMipLevelMax = 32;

constexpr std::uint32_t FourCC(const char (&s)[5]) {
  return static_cast<std::uint8_t>(s[0]) | (static_cast<std::uint8_t>(s[1]) << 8) |
         (static_cast<std::uint8_t>(s[2]) << 16) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[3])) << 24);
}

}  // namespace

int DecodeDDSStream(StreamRecord* stream, StandardImage* image) {
  const std::int64_t streamSize = MeasureStream(stream);
  std::uint8_t magic[4];
  std::uint8_t h[124];
  if (streamSize < 128 || ReadStreamBytes(stream, magic, 4) != 4 ||
      std::memcmp(magic, "DDS", 3) != 0 || ReadStreamBytes(stream, h, 124) != 124)
    return -1;
  const std::uint32_t flags = ReadLittle32(h + 4);
  const std::uint32_t height = ReadLittle32(h + 8);
  const std::uint32_t width = ReadLittle32(h + 12);
  const std::uint32_t pitch = ReadLittle32(h + 16);
  const std::uint32_t mipCount = ReadLittle32(h + 24);
  const std::uint32_t pixelFlags = ReadLittle32(h + 76);
  const std::uint32_t fourCC = ReadLittle32(h + 80);
  const std::uint32_t bitCount = ReadLittle32(h + 84);
  const std::uint32_t caps = ReadLittle32(h + 104);
  if (width == 0 || height == 0 || width > 0x8000 || height > 0x8000) return -1;

  ColorFormat format{};
  bool haveFormat = false;
  if (pixelFlags == kPixelFourCC) {
    for (const DDSFormatRow* row = DDSFormatTable; row->bits > 0; ++row) {
      if (row->code != fourCC) continue;
      MakeColorFormatFromMasks(&format, row->bits, row->red, row->green, row->blue, row->alpha);
      haveFormat = true;
    }
  }
  int compression = 0;
  if (pixelFlags & kPixelFourCC) {
    // Only a DXT FourCC replaces what the table gave.
    for (int c = 1; c <= 5; ++c) {
      const char name[5] = {'D', 'X', 'T', static_cast<char>('0' + c), 0};
      if (fourCC == FourCC(name)) compression = c;
    }
    if (compression) {
      format = ColorFormat{};
      haveFormat = true;
    }
    if (!haveFormat) return -1;
  } else if (pixelFlags & kPixelRGB) {
    if (bitCount != 16 && bitCount != 24 && bitCount != 32) return -1;
    MakeColorFormatFromMasks(&format, static_cast<int>(bitCount), ReadLittle32(h + 88),
                             ReadLittle32(h + 92), ReadLittle32(h + 96), ReadLittle32(h + 100));
  } else if (!haveFormat) {
    return -1;
  }

  std::uint32_t levels = 0;
  if ((flags & kFlagMipCount) && (caps & kCapsMipMap) && (caps & kCapsComplex)) levels = mipCount;
  if (levels > kMipLevelMax) return -1;
  const std::uint32_t levelsRead = levels ? levels : 1;
  std::int64_t total = 0;
  std::int64_t rowSize = 0;
  if (compression) {
    // Each level is stored in whole blocks of its own size, at least one block.
    const std::int64_t blockBytes = compression == 1 ? 8 : 16;
    for (std::uint32_t level = 0; level < levelsRead; ++level) {
      const std::int64_t w = std::max<std::int64_t>(1, std::int64_t{width} >> level);
      const std::int64_t ht = std::max<std::int64_t>(1, std::int64_t{height} >> level);
      total += ((w + 3) / 4) * ((ht + 3) / 4) * blockBytes;
    }
  } else {
    const std::int64_t packedRow = std::int64_t{format.bytesPerPixel} * width;
    rowSize = (flags & kFlagPitch) ? pitch : packedRow;
    // A pitch shorter than a row would make every reader run past the buffer.
    if (rowSize < packedRow) return -1;
    std::int64_t levelBytes = rowSize * height;
    for (std::uint32_t level = 0; level < levelsRead; ++level, levelBytes /= 4) total += levelBytes;
  }
  if (total <= 0 || total > kImagePixelBytesMax || total > streamSize - 128) return -1;
  TrackedBuffer pixels;
  if (!pixels.Allocate(total, false) || ReadStreamBytes(stream, pixels.bytes, total) != total)
    return -1;

  if (compression) {
    MakeARGB8ColorFormat(&format);
    format.compression = compression;
    format.bitDepth = compression == 1 ? 4 : 8;
  }
  image->format = format;
  image->width = static_cast<std::int32_t>(width);
  image->height = static_cast<std::int32_t>(height);
  image->pitch = compression ? 0 : static_cast<std::int32_t>(rowSize);
  image->mipLevelCount = static_cast<std::int32_t>(levels);
  image->pixels = pixels.Release();
  return 0;
}
