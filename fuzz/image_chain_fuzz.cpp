// Fuzz target: the whole decoder chain, then the decoded image converted to 32-bit and 5:6:5
// pixels and copied into a software image with transparency tables.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "files/color_convert.h"
#include "files/dxt_decompress.h"
#include "files/file_table.h"
#include "files/image_loader.h"
#include "files/memimg.h"

namespace {

void Convert(StandardImage* image) {
  if (DecompressDXTStandardImage(image) != 0) return;
  const RECT whole{0, 0, image->width, image->height};
  ColorFormat xrgb{};
  MakeXRGB8ColorFormat(&xrgb);
  ColorFormat rgb565{};
  MakeColorFormatFromMasks(&rgb565, 16, 0xF800, 0x07E0, 0x001F, 0);
  std::vector<std::uint8_t> target(static_cast<std::size_t>(image->width) * image->height * 4);
  ConvertPixelRect(target.data(), image->width * 4, &xrgb, image->pixels, image->pitch,
                   &image->format, nullptr, 0, nullptr, 0, 0, &whole, 0, 0, 0, 0, 0, 0, 0, 0);
  ConvertPixelRect(target.data(), image->width * 2, &rgb565, image->pixels, image->pitch,
                   &image->format, nullptr, 0, nullptr, 0, 0, &whole, 1, 0, 0, 1, 0, 0, 0, 0);
  MEMIMG memimg{};
  if (CreateMEMIMG(&memimg, image->width, image->height, -1, 0, MEMIMG_PIXEL_XRGB8, 0, 1, 1,
                   nullptr) == 0) {
    CopyStandardImageToMEMIMG(image, nullptr, &memimg, 0, 0, image->width, image->height, 0, 0, 1);
    ReleaseMEMIMG(&memimg);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  StreamRecord stream{*GetMemoryStreamOps(), reinterpret_cast<std::intptr_t>(OpenMemoryStream(
                                                 data, static_cast<std::int32_t>(size)))};
  StandardImage image{};
  if (DecodeImageStream(&stream, &image) == 0) {
    // Large images only slow the search down; the decoders have already read them.
    if (static_cast<std::int64_t>(image.width) * image.height <= (1 << 16)) Convert(&image);
    ReleaseStandardImage(&image);
  }
  stream.ops.close(stream.handle);
  return 0;
}
