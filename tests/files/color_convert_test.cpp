// The pixel converter's cases (direct rows, general rule, options) and the standard-image
// operations around it.
#include "files/color_convert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/win32/gdi_dib.h"
#include "system/tracked_memory.h"

namespace {

ColorFormat Masks(int depth, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  ColorFormat f{};
  MakeColorFormatFromMasks(&f, depth, r, g, b, a);
  return f;
}

ColorFormat Palette() {
  ColorFormat f{};
  MakePaletteColorFormat(&f);
  return f;
}

ColorFormat Rgb24() {
  ColorFormat f{};
  MakeRGB24ColorFormat(&f);
  return f;
}

const ColorFormat kRgb565 = Masks(16, 0xF800, 0x7E0, 0x1F, 0);
const ColorFormat kXrgb555 = Masks(16, 0x7C00, 0x3E0, 0x1F, 0);
const ColorFormat kArgb1555 = Masks(16, 0x7C00, 0x3E0, 0x1F, 0x8000);
const ColorFormat kXrgb8 = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0);
const ColorFormat kArgb8 = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);

uint32_t Read(const std::vector<uint8_t>& b, int offset, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint32_t{b[offset + i]} << (8 * i);
  return v;
}

void Write(std::vector<uint8_t>& b, int offset, int bytes, uint32_t v) {
  for (int i = 0; i < bytes; ++i) b[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Converts one pixel (code, or palette index) with the given options; returns the target code.
struct Options {
  int colorKey = 0;
  uint32_t key = 0;
  int dither = 0;
  int colorOff = 0;
  int alphaFromRed = 0;
  int skip = 0;
};

uint32_t ConvertOne(const ColorFormat& target, const ColorFormat& source, uint32_t code,
                    Options o = {}, uint32_t targetStart = 0, int* result = nullptr) {
  std::vector<uint8_t> src(4), dst(4);
  Write(src, 0, source.bytesPerPixel, code);
  Write(dst, 0, target.bytesPerPixel, targetStart);
  RECT r{0, 0, 1, 1};
  int rc =
      ConvertPixelRect(dst.data(), 4, &target, src.data(), 4, &source, nullptr, 0, nullptr, 0, 0,
                       &r, 0, o.colorKey, o.key, o.dither, o.colorOff, o.alphaFromRed, o.skip, 0);
  if (result) *result = rc;
  return Read(dst, 0, target.bytesPerPixel);
}

TEST(ConvertPixelRect, DirectConversions) {
  ColorFormat pal = Palette();
  pal.palette[7] = ColorPaletteEntry{0x40, 0x80, 0xFF, 0x00};  // 0x00FF8040
  struct Case {
    const char* name;
    const ColorFormat* target;
    const ColorFormat* source;
    uint32_t code;
    Options options;
    uint32_t expected;
  };
  ColorFormat rgb24 = Rgb24();
  Options key{1, 0xFF00FF};
  const Case cases[] = {
      {"palette to 565", &kRgb565, &pal, 7, {}, 0xFC08},
      {"palette to 555", &kXrgb555, &pal, 7, {}, 0x8000 | (31 << 10) | (16 << 5) | 8},
      {"palette to 32", &kXrgb8, &pal, 7, {}, 0xFFFF8040},
      {"24 to 565", &kRgb565, &rgb24, 0xFF8040, {}, 0xFC08},
      {"24 to 555", &kXrgb555, &rgb24, 0xFF8040, {}, 0x8000 | (31 << 10) | (16 << 5) | 8},
      {"24 to 32", &kArgb8, &rgb24, 0x123456, {}, 0xFF123456},
      {"32 to 565", &kRgb565, &kXrgb8, 0xFFFF8040, {}, 0xFC08},
      {"565 to 24", &rgb24, &kRgb565, 0xFFFF, {}, 0xF8FCF8},
      {"565 to 32 sets the bits outside the channels", &kXrgb8, &kRgb565, 0xFFFF, {}, 0xFFF8FCF8},
      {"565 to 555", &kXrgb555, &kRgb565, 0xFFFF, {}, 0x7FFF},
      {"555 to 565 repeats the green bit", &kRgb565, &kXrgb555, 0x0020, {}, 0x0060},
      {"keyed palette to 1555, key",
       &kArgb1555,
       &pal,
       7,
       {1, 0xFF8040},
       (31 << 10) | (16 << 5) | 8},
      {"keyed palette to 8888, other", &kArgb8, &pal, 7, key, 0xFFFF8040},
      {"keyed 24 to 8888, key", &kArgb8, &rgb24, 0xFF00FF, key, 0x00FF00FF},
      {"keyed 24 to 8888, other", &kArgb8, &rgb24, 0xFE00FF, key, 0xFFFE00FF},
      {"keyed 24 to 1555, key", &kArgb1555, &rgb24, 0xFF00FF, key, 0x7C1F},
      {"keyed 565 to 1555, key", &kArgb1555, &kRgb565, 0xF81F, key, 0x7C1F},
      {"keyed 565 to 8888, key", &kArgb8, &kRgb565, 0xF81F, key, 0x00F800F8},
      {"keyed 565 to 8888, other", &kArgb8, &kRgb565, 0x001F, key, 0xFF0000F8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ConvertOne(*c.target, *c.source, c.code, c.options), c.expected);
  }
}

TEST(ConvertPixelRect, ColorKeyWithTheSameLayout) {
  // 32-bit source into the same colour masks with alpha: the key loses its alpha, whatever the
  // bits outside the colour channels held.
  Options key{1, 0x00FF00};
  EXPECT_EQ(ConvertOne(kArgb8, kXrgb8, 0x0000FF00, key), 0x0000FF00u);
  EXPECT_EQ(ConvertOne(kArgb8, kXrgb8, 0x0000FF01, key), 0xFF00FF01u);
  // Without alpha in the target the option is off: a plain conversion.
  EXPECT_EQ(ConvertOne(kXrgb8, kXrgb8, 0x0000FF00, key), 0xFF00FF00u);
}

TEST(ConvertPixelRect, GeneralRule) {
  ColorFormat argb4 = Masks(16, 0xF00, 0xF0, 0xF, 0xF000);
  ColorFormat rgb24 = Rgb24();
  // Widening: 4-bit 15 -> 255; 5-bit 16 -> 131; the none mask is set in 32-bit targets.
  EXPECT_EQ(ConvertOne(kXrgb8, argb4, 0xFF0F), 0xFFFF00FFu);
  EXPECT_EQ(ConvertOne(kArgb8, kXrgb555, 16u << 10), 0xFF830000u);
  // Alpha is rescaled from the source's own alpha.
  EXPECT_EQ(ConvertOne(kArgb8, argb4, 0x8000), 0x88000000u);
  // Colour off keeps only alpha; alpha from red takes the raw red value.
  Options off;
  off.colorOff = 1;
  EXPECT_EQ(ConvertOne(kArgb8, rgb24, 0x123456, off), 0xFF000000u);
  Options red;
  red.colorOff = 1;
  red.alphaFromRed = 1;
  EXPECT_EQ(ConvertOne(kArgb8, kXrgb555, 7u << 10, red), 0x07000000u);
  // The general rule scales where the direct 565 -> 24 row leaves low bits 0.
  ColorFormat rgb24Alpha = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
  EXPECT_EQ(ConvertOne(rgb24Alpha, kRgb565, 0xFFFF), 0xFFFFFFFFu);
}

TEST(ConvertPixelRect, ZeroWidthChannelIsAbsent) {
  // A source whose green mask is empty: green becomes 0 instead of dividing by zero.
  ColorFormat noGreen = Masks(16, 0xF800, 0, 0x1F, 0);
  EXPECT_EQ(ConvertOne(kXrgb8, noGreen, 0xFFFF), 0xFFFF00FFu);
}

TEST(ConvertPixelRect, EightBitTargets) {
  ColorFormat gray{};
  MakeGrayColorFormat(&gray);
  // Channel values are used as they stand: 5-bit 31 counts as 31.
  EXPECT_EQ(ConvertOne(gray, kRgb565, 0xFFFF), 42u);  // nearest grey to (31, 63, 31)
  int rc = 0;
  ColorFormat deep12 = Masks(12, 0xF00, 0xF0, 0xF, 0);
  deep12.bytesPerPixel = 2;
  ConvertOne(gray, deep12, 0xFFF, {}, 0x55, &rc);
  EXPECT_EQ(rc, -1);
  // A copy of indices returns the largest index copied.
  std::vector<uint8_t> src = {3, 9, 4}, dst(3, 0);
  RECT r{0, 0, 3, 1};
  ColorFormat pal = Palette();
  EXPECT_EQ(ConvertPixelRect(dst.data(), 3, &pal, src.data(), 3, &pal, nullptr, 0, nullptr, 0, 0,
                             &r, 0, 0, 0, 0, 0, 0, 0, 0),
            9);
  EXPECT_EQ(dst, src);
}

TEST(ConvertPixelRect, MirrorSkipAndEmpty) {
  std::vector<uint8_t> src = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
  std::vector<uint8_t> dst(12, 0xEE);
  RECT r{0, 0, 3, 1};
  ConvertPixelRect(dst.data(), 12, &kXrgb8, src.data(), 12, &kXrgb8, nullptr, 0, nullptr, 0, 0, &r,
                   1, 0, 0, 0, 0, 0, 0, 0);
  // A straight copy sets the bits outside the channels, as every other conversion does.
  EXPECT_EQ(Read(dst, 0, 4), 0xFF000003u);
  EXPECT_EQ(Read(dst, 4, 4), 0xFF000002u);
  EXPECT_EQ(Read(dst, 8, 4), 0xFF000001u);

  std::fill(dst.begin(), dst.end(), 0xEE);
  ConvertPixelRect(dst.data(), 12, &kXrgb8, src.data(), 12, &kXrgb8, nullptr, 0, nullptr, 0, 0, &r,
                   0, 0, 2, 0, 0, 0, 1, 0);
  EXPECT_EQ(Read(dst, 0, 4), 0xFF000001u);
  EXPECT_EQ(Read(dst, 4, 4), 0xEEEEEEEEu);
  EXPECT_EQ(Read(dst, 8, 4), 0xFF000003u);

  // 32-bit keyed copy into a target with alpha.
  std::fill(dst.begin(), dst.end(), 0xEE);
  ConvertPixelRect(dst.data(), 12, &kArgb8, src.data(), 12, &kXrgb8, nullptr, 0, nullptr, 0, 0, &r,
                   0, 0, 2, 0, 0, 0, 1, 0);
  EXPECT_EQ(Read(dst, 0, 4), 0xFF000001u);
  EXPECT_EQ(Read(dst, 4, 4), 0xEEEEEEEEu);

  RECT empty{2, 0, 2, 1};
  EXPECT_EQ(ConvertPixelRect(dst.data(), 12, &kXrgb8, src.data(), 12, &kXrgb8, nullptr, 0, nullptr,
                             0, 0, &empty, 0, 0, 0, 0, 0, 0, 0, 0),
            -1);
}

TEST(ConvertPixelRect, AlphaImageAndRemap) {
  std::vector<uint8_t> src = {0x10, 0x20, 0x30};
  ColorFormat gray{};
  MakeGrayColorFormat(&gray);
  std::vector<uint8_t> alpha = {0x80};
  std::vector<uint8_t> dst(4, 0);
  RECT r{0, 0, 1, 1};
  ColorFormat rgb24 = Rgb24();
  ConvertPixelRect(dst.data(), 4, &kArgb8, src.data(), 3, &rgb24, alpha.data(), 1, &gray, 0, 0, &r,
                   0, 0, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(Read(dst, 0, 4), 0x80302010u);

  ColorFormat pal = Palette();
  pal.palette[1] = ColorPaletteEntry{0, 0, 200, 0};
  std::vector<uint8_t> idx = {1}, out = {0};
  EXPECT_EQ(ConvertPixelRect(out.data(), 1, &gray, idx.data(), 1, &pal, nullptr, 0, nullptr, 0, 0,
                             &r, 0, 0, 0, 0, 0, 0, 0, 1),
            out[0]);
  EXPECT_EQ(out[0], 67);  // the grey nearest to pure red 200
}

TEST(ConvertPixelRect, Dither) {
  // An 8-bit ramp narrowed to 5 bits: ordered dither follows the Bayer matrix, carried error the
  // running sum of the dropped bits along the whole rectangle.
  ColorFormat red8 = Masks(16, 0xFF00, 0, 0, 0);
  ColorFormat red5 = Masks(16, 0xF800, 0x7E0, 0x1F, 0);
  std::vector<uint8_t> src = {0, 0x04, 0, 0x04, 0, 0x04, 0, 0x04,
                              0, 0x06, 0, 0x06, 0, 0x06, 0, 0x06};
  std::vector<uint8_t> dst(16, 0);
  RECT r{0, 0, 4, 2};
  ConvertPixelRect(dst.data(), 8, &red5, src.data(), 8, &red8, nullptr, 0, nullptr, 0, 0, &r, 0, 0,
                   0, 1, 0, 0, 0, 0);
  // Dropped bits 4 (row 0), 6 (row 1) against thresholds (8 * m) >> 4 = m / 2.
  const int bayer[2][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) {
      int dropped = y == 0 ? 4 : 6;
      uint32_t expected = dropped > (8 * bayer[y][x]) >> 4 ? (1u << 11) : 0u;
      EXPECT_EQ(Read(dst, y * 8 + x * 2, 2), expected) << x << "," << y;
    }
  std::fill(dst.begin(), dst.end(), 0);
  ConvertPixelRect(dst.data(), 8, &red5, src.data(), 8, &red8, nullptr, 0, nullptr, 0, 0, &r, 0, 0,
                   0, 2, 0, 0, 0, 0);
  // Accumulator: 4, 8 -> carry (0), 4, 8 -> carry (0), then 6, 12 -> carry (4), 10 -> carry (2), 8
  // -> carry (0).
  const uint32_t carried[8] = {0, 1, 0, 1, 0, 1, 1, 1};
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(Read(dst, (i / 4) * 8 + (i % 4) * 2, 2), carried[i] << 11) << i;
}

StandardImage MakeImage(int w, int h, const ColorFormat& f) {
  StandardImage image{};
  EXPECT_EQ(CreateStandardImage(w, h, &f, &image), 0);
  std::memset(image.pixels, 0, static_cast<size_t>(image.pitch) * h);
  return image;
}

TEST(StandardImageOps, CopyRectClipsNegativeSource) {
  StandardImage src = MakeImage(4, 1, kXrgb8), dst = MakeImage(4, 1, kXrgb8);
  for (int x = 0; x < 4; ++x) SetStandardImagePixel(&src, x, 0, x + 1, 0, 0, 0);
  EXPECT_EQ(CopyStandardImageRect(-2, 0, 4, 1, 1, 0, &src, &dst), 0);
  int r = 0;
  GetStandardImagePixel(&dst, 1, 0, &r, nullptr, nullptr, nullptr);
  EXPECT_EQ(r, 0);
  GetStandardImagePixel(&dst, 3, 0, &r, nullptr, nullptr, nullptr);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(GetStandardImagePixel(&dst, 4, 0, &r, nullptr, nullptr, nullptr), -1);
  ReleaseStandardImage(&src);
  ReleaseStandardImage(&dst);
}

TEST(StandardImageOps, MirrorTurnHalve) {
  StandardImage image = MakeImage(3, 3, kXrgb8);
  for (int i = 0; i < 9; ++i) SetStandardImagePixel(&image, i % 3, i / 3, 0, 0, i + 1, 0);
  ASSERT_EQ(TurnStandardImage180(&image), 0);
  for (int i = 0; i < 9; ++i) {
    int b = 0;
    GetStandardImagePixel(&image, i % 3, i / 3, nullptr, nullptr, &b, nullptr);
    EXPECT_EQ(b, 9 - i);
  }
  ASSERT_EQ(MirrorStandardImage(&image), 0);
  int b = 0;
  GetStandardImagePixel(&image, 0, 0, nullptr, nullptr, &b, nullptr);
  EXPECT_EQ(b, 7);
  ReleaseStandardImage(&image);

  uint32_t block[4] = {0, 4, 8, 12};
  uint32_t out = 0xDEAD;
  EXPECT_EQ(HalveImagePixels(&kXrgb8, &out, 4, block, 8, 0, 0, 0, 0, 2, 2), 0);
  EXPECT_EQ(out, 6u);
  EXPECT_EQ(HalveImagePixels(&kXrgb8, &out, 4, block, 8, 0, 0, 0, 0, 3, 2), -1);
}

TEST(StandardImageOps, ScaleNearestBilinearAndRefusals) {
  StandardImage src = MakeImage(2, 2, kXrgb8), dst = MakeImage(4, 4, kXrgb8);
  SetStandardImagePixel(&src, 1, 0, 200, 0, 0, 0);
  EXPECT_EQ(ScaleStandardImageRect(0, 0, 2, 2, &src, 0, 0, 4, 4, &dst, 0), 0);
  int r = 0;
  GetStandardImagePixel(&dst, 2, 1, &r, nullptr, nullptr, nullptr);
  EXPECT_EQ(r, 200);
  GetStandardImagePixel(&dst, 1, 1, &r, nullptr, nullptr, nullptr);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(ScaleStandardImageRect(0, 0, 2, 2, &src, 0, 0, 4, 4, &dst, 1), 0);
  // Column 1 samples u = 0.5: half of 200 with weights that sum below 65536.
  GetStandardImagePixel(&dst, 1, 0, &r, nullptr, nullptr, nullptr);
  EXPECT_EQ(r, 200 * ((0x8000 * 0xFFFF) >> 16) >> 16);
  std::vector<uint8_t> before(dst.pixels, dst.pixels + 64);
  EXPECT_EQ(ScaleStandardImageRect(0, 0, 0, 2, &src, 0, 0, 4, 4, &dst, 0), -1);
  EXPECT_EQ(ScaleStandardImageRect(0, 0, 2, 2, &src, 1, 0, 5, 4, &dst, 0), -1);
  EXPECT_EQ(std::vector<uint8_t>(dst.pixels, dst.pixels + 64), before);
  ReleaseStandardImage(&src);
  ReleaseStandardImage(&dst);
}

TEST(StandardImageOps, MakeDIB) {
  std::vector<uint8_t> infoBlock(sizeof(BITMAPINFOHEADER) + 1024);
  auto* info = reinterpret_cast<BITMAPINFO*>(infoBlock.data());
  void* pixels = nullptr;
  int blocks = GetTrackedBlockCount();

  ColorFormat pal = Palette();
  StandardImage indexed = MakeImage(4, 2, pal);
  EXPECT_EQ(MakeDIBFromStandardImage(&indexed, info, &pixels, 0, 0), 0);
  EXPECT_EQ(pixels, indexed.pixels);
  EXPECT_EQ(info->bmiHeader.biBitCount, 8);
  EXPECT_EQ(info->bmiHeader.biHeight, -2);
  EXPECT_EQ(MakeDIBFromStandardImage(&indexed, info, &pixels, 1, 0), 1);
  TrackedFree(pixels);

  StandardImage rgb = MakeImage(2, 2, Rgb24());  // pitch 8, rows of 6 bytes round up to 8
  EXPECT_EQ(MakeDIBFromStandardImage(&rgb, info, &pixels, 0, 0), 0);
  StandardImage xrgb = MakeImage(1, 1, kXrgb8);
  SetStandardImagePixel(&xrgb, 0, 0, 1, 2, 3, 0);
  EXPECT_EQ(MakeDIBFromStandardImage(&xrgb, info, &pixels, 0, 0), 1);
  EXPECT_EQ(info->bmiHeader.biBitCount, 24);
  auto* p = static_cast<uint8_t*>(pixels);
  EXPECT_EQ(p[0], 3);
  EXPECT_EQ(p[1], 2);
  EXPECT_EQ(p[2], 1);
  TrackedFree(pixels);
  ReleaseStandardImage(&indexed);
  ReleaseStandardImage(&rgb);
  ReleaseStandardImage(&xrgb);
  EXPECT_EQ(GetTrackedBlockCount(), blocks);
}

}  // namespace
