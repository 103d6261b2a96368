// The BMP decoder: palette images (plain and run-length), 24- and 32-bit images, and everything
// else the platform's DIB transfer converts to 24 bits. Every length and offset in the file is
// checked against the file before it is used.
#include <cstring>

#include "files/image_loader.h"
#include "platform/win32/gdi_dib.h"
#include "system/little_endian.h"
#include "system/log.h"
#include "system/tracked_memory.h"

namespace {

constexpr std::uint32_t kCompressionRgb = 0;
constexpr std::uint32_t kCompressionRle8 = 1;
constexpr std::uint32_t kCompressionRle4 = 2;
constexpr std::uint32_t kCompressionBitFields = 3;
constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;

struct BmpInfo {
  std::uint32_t headerSize;
  std::int32_t width;
  std::int32_t height;
  std::uint16_t bitCount;
  std::uint32_t compression;
  std::uint32_t colorsUsed;
};

// Header and colour table (or masks) as one BITMAPINFO with a 40-byte header.
constexpr std::size_t kHeaderCopySize = kInfoHeaderSize + 1024 + 16;

bool HeaderSizeKnown(std::uint32_t size) {
  return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

void DecodeRunLength(const std::uint8_t* data, std::int64_t size, std::uint8_t* out,
                     std::int32_t pitch, std::int32_t width, std::int32_t height, bool topDown,
                     bool fourBit) {
  std::int64_t x = 0;
  std::int64_t row = 0;  // stored row
  auto put = [&](std::uint8_t value) {
    if (row < height && x >= 0 && x < width)
      out[(topDown ? row : height - 1 - row) * pitch + x] = value;
    ++x;
  };
  std::int64_t i = 0;
  while (i + 1 < size && row < height) {
    std::uint8_t count = data[i];
    std::uint8_t value = data[i + 1];
    i += 2;
    if (count > 0) {
      for (int k = 0; k < count; ++k) put(fourBit ? ((k & 1) ? value & 15 : value >> 4) : value);
    } else if (value == 0) {
      x = 0;
      ++row;
    } else if (value == 1) {
      return;
    } else if (value == 2) {
      if (i + 1 >= size) return;
      x += data[i];
      row += data[i + 1];
      i += 2;
    } else {
      std::int64_t bytes = fourBit ? (value + 1) / 2 : value;
      for (int k = 0; k < value; ++k) {
        std::int64_t at = i + (fourBit ? k / 2 : k);
        if (at >= size) return;
        put(fourBit ? ((k & 1) ? data[at] & 15 : data[at] >> 4) : data[at]);
      }
      i += bytes + (bytes & 1);  // records start on even offsets
    }
  }
}

void CopyPalette(ColorFormat* format, const std::uint8_t* palette, int entries) {
  for (int i = 0; i < entries; ++i) {
    format->palette[i].blue = palette[i * 4];
    format->palette[i].green = palette[i * 4 + 1];
    format->palette[i].red = palette[i * 4 + 2];
    format->palette[i].alpha = 0;
  }
}

// The platform's DIB transfer turns what the decoder does not read itself into 24-bit rows.
int ConvertThroughDib(const BmpInfo& info, const std::uint8_t* headerCopy, const std::uint8_t* data,
                      StandardImage* image) {
  std::int32_t height = info.height < 0 ? -info.height : info.height;
  if (!FitsImageBytes((std::int64_t{info.width} * 3 + 3) / 4 * 4, height)) return -1;
  HDC dc = CreateCompatibleDC(nullptr);
  BITMAPINFO target{};
  target.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  target.bmiHeader.biWidth = info.width;
  target.bmiHeader.biHeight = -height;
  target.bmiHeader.biPlanes = 1;
  target.bmiHeader.biBitCount = 24;
  target.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = dc ? CreateDIBSection(dc, &target, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
  if (!dib) {
    LogWriteText("ＤＩＢの作成に失敗しました3\n");
    if (dc) DeleteDC(dc);
    return -1;
  }
  HGDIOBJ old = SelectObject(dc, dib);
  int rows = SetDIBitsToDevice(dc, 0, 0, info.width, height, 0, 0, 0, height, data,
                               reinterpret_cast<const BITMAPINFO*>(headerCopy), DIB_RGB_COLORS);
  BITMAP bitmap{};
  GetObjectA(dib, sizeof bitmap, &bitmap);
  std::int64_t pitch = (std::int64_t{bitmap.bmWidthBytes} + 3) / 4 * 4;
  int result = -1;
  // A DIB the platform cannot read comes back with no rows set: that is a refusal, not a black
  // image.
  if (rows == height) {
    TrackedBuffer pixels;
    if (pixels.Allocate(pitch * height, false)) {
      for (std::int32_t y = 0; y < height; ++y)
        std::memcpy(pixels.bytes + y * pitch,
                    static_cast<std::uint8_t*>(bits) + y * std::int64_t{bitmap.bmWidthBytes},
                    static_cast<std::size_t>(bitmap.bmWidthBytes));
      MakeRGB24ColorFormat(&image->format);
      image->pitch = static_cast<std::int32_t>(pitch);
      image->pixels = pixels.Release();
      result = 0;
    } else {
      LogWriteText("２４ビットカラー化したグラフィックを格納するメモリ領域の確保に失敗しました\n");
    }
  }
  SelectObject(dc, old);
  DeleteObject(dib);
  DeleteDC(dc);
  return result;
}

}  // namespace

int DecodeBMPStream(StreamRecord* stream, StandardImage* image) {
  std::int64_t streamSize = MeasureStream(stream);
  std::uint8_t fileHeader[kFileHeaderSize];
  if (streamSize < 0 || ReadStreamBytes(stream, fileHeader, kFileHeaderSize) != kFileHeaderSize)
    return -1;
  if (fileHeader[0] != 'B' || fileHeader[1] != 'M') return -1;
  const std::uint32_t dataOffset = ReadLittle32(fileHeader + 10);

  std::uint8_t header[124];
  if (ReadStreamBytes(stream, header, 4) != 4) return -1;
  BmpInfo info{};
  info.headerSize = ReadLittle32(header);
  if (!HeaderSizeKnown(info.headerSize) ||
      ReadStreamBytes(stream, header + 4, info.headerSize - 4) != info.headerSize - 4)
    return -1;
  info.width = static_cast<std::int32_t>(ReadLittle32(header + 4));
  info.height = static_cast<std::int32_t>(ReadLittle32(header + 8));
  info.bitCount = ReadLittle16(header + 14);
  info.compression = ReadLittle32(header + 16);
  info.colorsUsed = ReadLittle32(header + 32);

  const bool paletted = info.bitCount == 1 || info.bitCount == 4 || info.bitCount == 8;
  const bool direct = info.bitCount == 16 || info.bitCount == 24 || info.bitCount == 32;
  const bool known =
      (info.compression == kCompressionRgb && (paletted || direct)) ||
      (info.compression == kCompressionRle8 && info.bitCount == 8) ||
      (info.compression == kCompressionRle4 && info.bitCount == 4) ||
      (info.compression == kCompressionBitFields && (info.bitCount == 16 || info.bitCount == 32));
  if (!known || info.width <= 0 || info.height == 0 || info.height == INT32_MIN) return -1;
  const std::int32_t height = info.height < 0 ? -info.height : info.height;
  const bool topDown = info.height < 0;

  TrackedBuffer headerCopy;
  if (!headerCopy.Allocate(kHeaderCopySize, true)) return -1;
  std::memcpy(headerCopy.bytes, header, kInfoHeaderSize);
  headerCopy.bytes[0] = kInfoHeaderSize;  // the copy always has the 40-byte header
  headerCopy.bytes[1] = headerCopy.bytes[2] = headerCopy.bytes[3] = 0;
  std::uint8_t* afterHeader = headerCopy.bytes + kInfoHeaderSize;
  if (info.compression == kCompressionBitFields) {
    // Larger headers hold the masks themselves; a 40-byte one is followed by them.
    if (info.headerSize >= 52) {
      std::memcpy(afterHeader, header + 40, 12);
    } else if (ReadStreamBytes(stream, afterHeader, 12) != 12) {
      return -1;
    }
  }
  int paletteEntries = 0;
  if (paletted) {
    // The table always has 2^bit count entries; a short one reads as black.
    paletteEntries = 1 << info.bitCount;
    if (ReadStreamBytes(stream, afterHeader, paletteEntries * 4) <= 0) return -1;
  }

  if (dataOffset < kFileHeaderSize + info.headerSize || dataOffset > streamSize) return -1;
  const std::int64_t dataSize = streamSize - dataOffset;
  const std::int64_t rowSize = (std::int64_t{info.width} * info.bitCount + 31) / 32 * 4;
  if (!FitsImageBytes(rowSize, height)) return -1;
  const bool runLength =
      info.compression == kCompressionRle8 || info.compression == kCompressionRle4;
  if (!runLength && dataSize < rowSize * height) return -1;
  if (stream->ops.seek(stream->handle, static_cast<std::int32_t>(dataOffset), 0) != 0) return -1;
  TrackedBuffer data;
  if (!data.Allocate(dataSize > 0 ? dataSize : 1, false) ||
      ReadStreamBytes(stream, data.bytes, dataSize) != dataSize)
    return -1;

  const std::int64_t indexPitch = (std::int64_t{info.width} + 3) / 4 * 4;
  if (runLength) {
    TrackedBuffer pixels;
    if (!FitsImageBytes(indexPitch, height) || !pixels.Allocate(indexPitch * height, true))
      return -1;
    DecodeRunLength(data.bytes, dataSize, pixels.bytes, static_cast<std::int32_t>(indexPitch),
                    info.width, height, topDown, info.compression == kCompressionRle4);
    image->pitch = static_cast<std::int32_t>(indexPitch);
    image->pixels = pixels.Release();
  } else if (info.compression == kCompressionRgb && info.bitCount == 4) {
    TrackedBuffer pixels;
    if (!pixels.Allocate(indexPitch * height, true)) return -1;
    for (std::int32_t y = 0; y < height; ++y) {
      const std::uint8_t* source = data.bytes + (topDown ? y : height - 1 - y) * rowSize;
      std::uint8_t* target = pixels.bytes + y * indexPitch;
      for (std::int32_t x = 0; x < info.width; ++x)
        target[x] = (x & 1) ? source[x / 2] & 15 : source[x / 2] >> 4;
    }
    image->pitch = static_cast<std::int32_t>(indexPitch);
    image->pixels = pixels.Release();
  } else if (info.compression == kCompressionRgb &&
             (info.bitCount == 8 || info.bitCount == 24 || info.bitCount == 32)) {
    if (topDown) {
      image->pixels = data.Release();
    } else {
      TrackedBuffer pixels;
      if (!pixels.Allocate(rowSize * height, false)) return -1;
      for (std::int32_t y = 0; y < height; ++y)
        std::memcpy(pixels.bytes + y * rowSize, data.bytes + (height - 1 - y) * rowSize,
                    static_cast<std::size_t>(rowSize));
      image->pixels = pixels.Release();
    }
    image->pitch = static_cast<std::int32_t>(rowSize);
  } else {
    if (ConvertThroughDib(info, headerCopy.bytes, data.bytes, image) != 0) return -1;
  }

  if (image->format.bitDepth == 0) {
    if (paletted) {
      MakePaletteColorFormat(&image->format);
      CopyPalette(&image->format, afterHeader, paletteEntries);
    } else if (info.bitCount == 32) {
      MakeARGB8ColorFormat(&image->format);
    } else {
      MakeRGB24ColorFormat(&image->format);
    }
  }
  image->width = info.width;
  image->height = height;
  return 0;
}
