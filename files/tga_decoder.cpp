// The TGA decoder: colour-mapped and true-colour images, plain or run-length, at 16, 24 or 32
// bits, turned top-down and left to right.
#include <cstring>

#include "files/image_loader.h"
#include "system/little_endian.h"
#include "system/tracked_memory.h"

namespace {

constexpr std::int32_t kTgaSideMax = 8192;
constexpr std::int64_t kFooterSize = 26;
constexpr std::int64_t kRunPixelsMax = 128;

// Expands run-length packets of `unit`-byte values into `count` values. False when the data ends
// first; a packet that runs past the image is cut at its end.
bool ExpandPackets(const std::uint8_t* data, std::int64_t size, int unit, std::uint8_t* out,
                   std::int64_t count) {
  std::int64_t i = 0;
  std::int64_t done = 0;
  while (done < count) {
    if (i >= size) return false;
    const std::uint8_t header = data[i++];
    const std::int64_t run = (header & 0x7F) + 1;
    const std::int64_t n = run < count - done ? run : count - done;
    if (header & 0x80) {
      if (size - i < unit) return false;
      for (std::int64_t k = 0; k < n; ++k)
        std::memcpy(out + (done + k) * unit, data + i, static_cast<std::size_t>(unit));
      i += unit;
    } else {
      if (size - i < run * unit) return false;
      std::memcpy(out + done * unit, data + i, static_cast<std::size_t>(n * unit));
      i += run * unit;
    }
    done += n;
  }
  return true;
}

}  // namespace

int DecodeTGAStream(StreamRecord* stream, StandardImage* image) {
  const std::int64_t streamSize = MeasureStream(stream);
  if (streamSize < 18) return -1;
  bool hasFooter = false;
  if (streamSize >= kFooterSize &&
      stream->ops.seek(stream->handle, -static_cast<std::int32_t>(kFooterSize), 2) == 0) {
    std::uint8_t footer[kFooterSize];
    hasFooter = ReadStreamBytes(stream, footer, kFooterSize) == kFooterSize &&
                std::memcmp(footer + 8, "TRUEVISION-XFILE", 16) == 0 && footer[0] == 0 &&
                footer[1] == 0 && footer[2] == 0 && footer[3] == 0;
  }
  if (stream->ops.seek(stream->handle, 0, 0) != 0) return -1;
  std::uint8_t h[18];
  if (ReadStreamBytes(stream, h, 18) != 18) return -1;
  const int idLength = h[0];
  const int mapType = h[1];
  const int type = h[2];
  const int mapFirst = ReadLittle16(h + 3);
  const int mapLength = ReadLittle16(h + 5);
  const int mapEntryBits = h[7];
  const std::int32_t width = ReadLittle16(h + 12);
  const std::int32_t height = ReadLittle16(h + 14);
  const int pixelBits = h[16];
  const int descriptor = h[17];
  const bool mapped = type == 1 || type == 9;
  const bool runLength = type == 9 || type == 10;
  if (!(mapped || type == 2 || type == 10) || ReadLittle16(h + 8) != 0 || ReadLittle16(h + 10) != 0)
    return -1;
  if (width <= 0 || height <= 0 || width > kTgaSideMax || height > kTgaSideMax) return -1;
  const int depth = mapped ? mapEntryBits : pixelBits;
  if (depth != 16 && depth != 24 && depth != 32) return -1;
  // Indices are one byte, and a colour map has room for 256 entries.
  if (mapped && (mapType != 1 || pixelBits != 8 || mapFirst + mapLength > 256)) return -1;
  const int bytesPerPixel = depth / 8;
  const std::int64_t pixelCount = std::int64_t{width} * height;

  std::uint8_t skip[255];
  if (ReadStreamBytes(stream, skip, idLength) != idLength) return -1;
  std::uint8_t map[256 * 4] = {};
  if (mapped) {
    if (ReadStreamBytes(stream, map + mapFirst * bytesPerPixel, mapLength * bytesPerPixel) !=
        mapLength * bytesPerPixel)
      return -1;
  } else if (mapType != 0) {
    const std::int64_t mapBytes = std::int64_t{mapLength} * ((mapEntryBits + 7) / 8);
    if (stream->ops.seek(stream->handle, static_cast<std::int32_t>(mapBytes), 1) != 0) return -1;
  }

  const int unit = mapped ? 1 : bytesPerPixel;
  const std::int64_t end = hasFooter ? streamSize - kFooterSize : streamSize;
  const std::int64_t available = end - stream->ops.tell(stream->handle);
  // The pixels must fit in what the file holds: plain, or as run packets of a header byte and
  // one value standing for at most 128 pixels.
  const std::int64_t provable =
      runLength ? (available + unit) / (1 + unit) * kRunPixelsMax : available / unit;
  if (available <= 0 || pixelCount > provable) return -1;
  TrackedBuffer values;
  if (!values.Allocate(pixelCount * unit, false)) return -1;
  if (runLength) {
    TrackedBuffer packed;
    if (available <= 0 || !packed.Allocate(available, false) ||
        ReadStreamBytes(stream, packed.bytes, available) != available ||
        !ExpandPackets(packed.bytes, available, unit, values.bytes, pixelCount))
      return -1;
  } else if (ReadStreamBytes(stream, values.bytes, pixelCount * unit) != pixelCount * unit) {
    return -1;
  }
  if (mapped) {
    TrackedBuffer colours;
    if (!colours.Allocate(pixelCount * bytesPerPixel, false)) return -1;
    for (std::int64_t i = 0; i < pixelCount; ++i)
      std::memcpy(colours.bytes + i * bytesPerPixel, map + values.bytes[i] * bytesPerPixel,
                  static_cast<std::size_t>(bytesPerPixel));
    TrackedFree(values.bytes);
    values.bytes = colours.Release();
  }

  const std::int64_t pitch = std::int64_t{width} * bytesPerPixel;
  const bool bottomUp = !(descriptor & 0x20);
  const bool rightToLeft = (descriptor & 0x10) != 0;
  if (bottomUp || rightToLeft) {
    TrackedBuffer turned;
    if (!turned.Allocate(pitch * height, false)) return -1;
    for (std::int32_t y = 0; y < height; ++y) {
      const std::uint8_t* source = values.bytes + (bottomUp ? height - 1 - y : y) * pitch;
      std::uint8_t* target = turned.bytes + y * pitch;
      if (!rightToLeft) {
        std::memcpy(target, source, static_cast<std::size_t>(pitch));
        continue;
      }
      for (std::int32_t x = 0; x < width; ++x)
        std::memcpy(target + x * bytesPerPixel, source + (width - 1 - x) * bytesPerPixel,
                    static_cast<std::size_t>(bytesPerPixel));
    }
    TrackedFree(values.bytes);
    values.bytes = turned.Release();
  }

  image->format = ColorFormat{};
  if (depth == 16) {
    MakeColorFormatFromMasks(&image->format, 16, 0x7C00, 0x03E0, 0x001F, 0);
  } else if (depth == 24) {
    MakeRGB24ColorFormat(&image->format);
  } else {
    MakeARGB8ColorFormat(&image->format);
  }
  image->width = width;
  image->height = height;
  image->pitch = static_cast<std::int32_t>(pitch);
  image->pixels = values.Release();
  return 0;
}
