// The BGRA decoder: the engine's raw format of blue, green, red, alpha pixels with 8- or 16-bit
// channels, rows top to bottom.
#include <cstring>

#include "files/image_loader.h"
#include "system/little_endian.h"

int DecodeBGRAStream(StreamRecord* stream, StandardImage* image) {
  const std::int64_t streamSize = MeasureStream(stream);
  std::uint8_t header[16];
  if (streamSize < 16 || ReadStreamBytes(stream, header, 16) != 16 ||
      std::memcmp(header, "BGRA", 4) != 0)
    return -1;
  const std::uint32_t channels = ReadLittle32(header + 4);
  const auto width = static_cast<std::int32_t>(ReadLittle32(header + 8));
  const auto height = static_cast<std::int32_t>(ReadLittle32(header + 12));
  if ((channels != 0x08080808 && channels != 0x10101010) || width <= 0 || height <= 0) return -1;
  const int bytesPerChannel = channels == 0x10101010 ? 2 : 1;
  // Sizes are checked in 64 bits against what the stream holds before anything is allocated.
  if (!FitsImageBytes(std::int64_t{width} * 4, height)) return -1;
  const std::int64_t pixelBytes = std::int64_t{width} * height * 4;
  if (pixelBytes * bytesPerChannel > streamSize - 16) return -1;
  TrackedBuffer pixels;
  if (!pixels.Allocate(pixelBytes, false)) return -1;
  const std::int64_t rowBytes = std::int64_t{width} * 4;
  if (bytesPerChannel == 1) {
    if (ReadStreamBytes(stream, pixels.bytes, pixelBytes) != pixelBytes) return -1;
  } else {
    TrackedBuffer row;
    if (!row.Allocate(rowBytes * 2, false)) return -1;
    for (std::int32_t y = 0; y < height; ++y) {
      if (ReadStreamBytes(stream, row.bytes, rowBytes * 2) != rowBytes * 2) return -1;
      std::uint8_t* target = pixels.bytes + y * rowBytes;
      for (std::int64_t i = 0; i < rowBytes; ++i) target[i] = row.bytes[i * 2 + 1];
    }
  }
  image->format = ColorFormat{};
  MakeARGB8ColorFormat(&image->format);
  image->width = width;
  image->height = height;
  image->pitch = static_cast<std::int32_t>(rowBytes);
  image->pixels = pixels.Release();
  return 0;
}
