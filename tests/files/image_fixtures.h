// Small image files written by the tests themselves, and helpers to decode and inspect them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/file_table.h"
#include "files/image_loader.h"

namespace fixtures {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

struct BmpLayout {
  std::int32_t width = 1;
  std::int32_t height = 1;  // negative: top-down
  std::uint16_t bitCount = 24;
  std::uint32_t compression = 0;
  std::uint32_t headerSize = 40;
  std::vector<std::uint32_t> palette;  // 0x00RRGGBB entries
  std::vector<std::uint32_t> masks;    // red, green, blue: after a 40-byte header, else inside it
  Bytes pixels;                        // stored rows as they go into the file
  std::int64_t dataOffsetAdjust = 0;
};

// A BMP file: file header, info header of the given size, masks, palette, pixels.
inline Bytes WriteBmp(const BmpLayout& layout) {
  Bytes info;
  Put32(info, layout.headerSize);
  Put32(info, static_cast<std::uint32_t>(layout.width));
  Put32(info, static_cast<std::uint32_t>(layout.height));
  Put16(info, 1);
  Put16(info, layout.bitCount);
  Put32(info, layout.compression);
  Put32(info, static_cast<std::uint32_t>(layout.pixels.size()));
  Put32(info, 2835);
  Put32(info, 2835);
  Put32(info, static_cast<std::uint32_t>(layout.palette.size()));
  Put32(info, 0);
  Bytes extra;
  if (layout.headerSize > 40) {
    for (std::size_t i = 0; i < 4; ++i) Put32(info, i < layout.masks.size() ? layout.masks[i] : 0);
    while (info.size() < layout.headerSize) info.push_back(0);
  } else {
    for (std::uint32_t m : layout.masks) Put32(extra, m);
  }
  for (std::uint32_t c : layout.palette) Put32(extra, c & 0x00FFFFFF);
  Bytes file = {'B', 'M'};
  std::uint32_t offset =
      static_cast<std::uint32_t>(14 + info.size() + extra.size() + layout.dataOffsetAdjust);
  Put32(file, static_cast<std::uint32_t>(14 + info.size() + extra.size() + layout.pixels.size()));
  Put32(file, 0);
  Put32(file, offset);
  file.insert(file.end(), info.begin(), info.end());
  file.insert(file.end(), extra.begin(), extra.end());
  file.insert(file.end(), layout.pixels.begin(), layout.pixels.end());
  return file;
}

// Decodes bytes with one decoder over a memory stream.
inline int DecodeWith(ImageDecodeFunc decoder, const Bytes& bytes, StandardImage* image) {
  *image = StandardImage{};
  StreamRecord stream{*GetMemoryStreamOps(),
                      reinterpret_cast<std::intptr_t>(
                          OpenMemoryStream(bytes.data(), static_cast<std::int32_t>(bytes.size())))};
  int result = decoder(&stream, image);
  stream.ops.close(stream.handle);
  return result;
}

// The image as 0xAARRGGBB per pixel, read through its format.
inline std::vector<std::uint32_t> Argb(const StandardImage& image) {
  std::vector<std::uint32_t> out;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) out.push_back(GetStandardImagePixelARGB(&image, x, y));
  return out;
}

inline bool WriteFile(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

inline Bytes ReadFile(const std::string& path) {
  Bytes bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return bytes;
  int c;
  while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<std::uint8_t>(c));
  std::fclose(f);
  return bytes;
}

// An independent decoder: ImageMagick's convert, when installed, writing 8-bit RGB rows.
inline bool HaveImageMagick() { return std::system("test -x /usr/bin/convert") == 0; }
inline bool DecodeWithImageMagick(const std::string& path, const std::string& format, Bytes* rgb) {
  std::string out = path + ".rgb";
  std::string command =
      "/usr/bin/convert " + format + ":" + path + " -depth 8 rgb:" + out + " 2>/dev/null";
  // convert reports some well-formed run-length files as ending early and still writes them
  // whole, so the pixels it wrote decide, not its exit status.
  [[maybe_unused]] int status = std::system(command.c_str());
  *rgb = ReadFile(out);
  std::remove(out.c_str());
  return !rgb->empty();
}

// Our decoded image as 8-bit RGB rows, for the comparison above.
inline Bytes ToRgb(const StandardImage& image) {
  Bytes out;
  for (std::uint32_t argb : Argb(image)) {
    out.push_back(static_cast<std::uint8_t>(argb >> 16));
    out.push_back(static_cast<std::uint8_t>(argb >> 8));
    out.push_back(static_cast<std::uint8_t>(argb));
  }
  return out;
}

}  // namespace fixtures
