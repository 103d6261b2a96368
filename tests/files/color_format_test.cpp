// Colour formats and standard images: the builders, component <-> code conversion, image creation
// and the standard-image handle table.
#include "files/color_format.h"

#include <gtest/gtest.h>

#include "system/engine_handle.h"
#include "system/tracked_memory.h"

namespace {

ColorFormat FromMasks(int depth, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  ColorFormat f{};
  EXPECT_EQ(MakeColorFormatFromMasks(&f, depth, r, g, b, a), 0);
  return f;
}

TEST(ColorFormat, BuildersFillTheirTable) {
  ColorFormat f{};
  f.noneShift = 7;
  f.palette[3].red = 9;
  MakePaletteColorFormat(&f);
  EXPECT_EQ(f.bitDepth, 8);
  EXPECT_EQ(f.bytesPerPixel, 1);
  EXPECT_EQ(f.redMask, 0xFF0000u);
  EXPECT_EQ(f.noneMask, 0xFF000000u);
  EXPECT_EQ(f.noneShift, 7);       // kept
  EXPECT_EQ(f.palette[3].red, 9);  // kept

  MakeXRGB8ColorFormat(&f);
  EXPECT_EQ(f.bitDepth, 32);
  EXPECT_EQ(f.noneMask, 0xFF000000u);
  EXPECT_EQ(f.noneShift, 24);
  EXPECT_EQ(f.noneWidth, 8);
  EXPECT_EQ(f.alphaWidth, 0);

  MakeARGB8ColorFormat(&f);
  EXPECT_EQ(f.alphaMask, 0xFF000000u);
  EXPECT_EQ(f.alphaShift, 24);
  EXPECT_EQ(f.noneMask, 0u);

  MakeRGB24ColorFormat(&f);
  EXPECT_EQ(f.bytesPerPixel, 3);
  EXPECT_EQ(f.noneMask, 0u);

  MakeGrayColorFormat(&f);
  EXPECT_EQ(f.palette[77].blue, 77);
  EXPECT_EQ(f.palette[77].green, 77);
  EXPECT_EQ(f.palette[77].red, 77);
  EXPECT_EQ(f.palette[77].alpha, 0);
}

TEST(ColorFormat, FromMasks) {
  struct Case {
    int depth;
    uint32_t r, g, b, a;
    int rw, gw, bw, aw, rs, gs, bs, as;
    uint32_t none;
    int noneShift, noneWidth;
  };
  const Case cases[] = {
      {16, 0x7C00, 0x3E0, 0x1F, 0, 5, 5, 5, 0, 10, 5, 0, 0, 0x8000, 15, 1},
      {16, 0xF800, 0x7E0, 0x1F, 0, 5, 6, 5, 0, 11, 5, 0, 0, 0, 0, 0},
      {32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000, 10, 10, 10, 2, 20, 10, 0, 30, 0, 0, 0},
      {32, 0xFF0000, 0xFF00, 0xFF, 0, 8, 8, 8, 0, 16, 8, 0, 0, 0xFF000000, 24, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.r);
    ColorFormat f = FromMasks(c.depth, c.r, c.g, c.b, c.a);
    EXPECT_EQ(f.bytesPerPixel, c.depth / 8);
    EXPECT_EQ(f.redWidth, c.rw);
    EXPECT_EQ(f.greenWidth, c.gw);
    EXPECT_EQ(f.blueWidth, c.bw);
    EXPECT_EQ(f.alphaWidth, c.aw);
    EXPECT_EQ(f.redShift, c.rs);
    EXPECT_EQ(f.greenShift, c.gs);
    EXPECT_EQ(f.blueShift, c.bs);
    EXPECT_EQ(f.alphaShift, c.as);
    EXPECT_EQ(f.noneMask, c.none);
    EXPECT_EQ(f.noneShift, c.noneShift);
    EXPECT_EQ(f.noneWidth, c.noneWidth);
  }
  ColorFormat f{};
  EXPECT_EQ(MakeColorFormatFromMasks(&f, 40, 1, 2, 4, 0), -1);
}

TEST(ColorFormat, UpdateNoneMask) {
  ColorFormat f = FromMasks(16, 0x7C00, 0x3E0, 0x1F, 0);
  f.noneMask = 0;
  EXPECT_EQ(UpdateColorFormatNoneMask(&f)->noneMask, 0x8000u);
  f.alphaWidth = 1;
  f.alphaMask = 0x8000;
  EXPECT_EQ(UpdateColorFormatNoneMask(&f)->noneMask, 0u);
}

TEST(ColorFormat, CodeFromComponents) {
  ColorFormat xrgb{}, argb{};
  MakeXRGB8ColorFormat(&xrgb);
  MakeARGB8ColorFormat(&argb);
  EXPECT_EQ(ColorFormatCodeFromRGBA(&xrgb, 0x12, 0x34, 0x56, 0x80), 0xFF123456u);
  EXPECT_EQ(ColorFormatCodeFromRGBA(&argb, 0x12, 0x34, 0x56, 0x80), 0x80123456u);
  ColorFormat rgb565 = FromMasks(16, 0xF800, 0x7E0, 0x1F, 0);
  EXPECT_EQ(ColorFormatCodeFromRGBA(&rgb565, 255, 255, 255, 0), 0xFFFFu);
  // Channels wider than 8 bits take the component in their top bits.
  ColorFormat wide = FromMasks(32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000);
  EXPECT_EQ(ColorFormatCodeFromRGBA(&wide, 0xFF, 0x80, 0x01, 0xFF),
            0xFFFFFFFFu & ((0x3FCu << 20) | (0x200u << 10) | 4u | 0xC0000000u));
}

TEST(ColorFormat, ComponentsFromCode) {
  ColorFormat rgb565 = FromMasks(16, 0xF800, 0x7E0, 0x1F, 0);
  int r = -1, g = -1, b = -1, a = -1;
  ColorFormatCodeToRGBA(&rgb565, 0xFFFF, &r, &g, &b, &a);
  EXPECT_EQ(r, 255);
  EXPECT_EQ(g, 255);
  EXPECT_EQ(b, 255);
  EXPECT_EQ(a, 0);
  ColorFormat argb4 = FromMasks(16, 0xF00, 0xF0, 0xF, 0xF000);
  ColorFormatCodeToRGBA(&argb4, 0x8F71, &r, &g, &b, &a);
  EXPECT_EQ(a, 8 * 255 / 15);
  EXPECT_EQ(r, 255);
  EXPECT_EQ(g, 7 * 255 / 15);
  EXPECT_EQ(b, 17);
  // 8-bit colour with a 1-bit alpha scales the alpha.
  ColorFormat a1 = FromMasks(32, 0xFF0000, 0xFF00, 0xFF, 0x80000000);
  ColorFormatCodeToRGBA(&a1, 0x80123456, &r, nullptr, nullptr, &a);
  EXPECT_EQ(r, 0x12);
  EXPECT_EQ(a, 255);
}

TEST(ColorFormat, NearestPaletteEntry) {
  ColorFormat gray{};
  MakeGrayColorFormat(&gray);
  EXPECT_EQ(ColorFormatCodeFromRGBA(&gray, 10, 20, 30, 0), 20u);
  ColorFormat pal{};
  MakePaletteColorFormat(&pal);
  for (auto& e : pal.palette) e = ColorPaletteEntry{200, 200, 200, 0};
  pal.palette[5] = ColorPaletteEntry{10, 10, 10, 0};
  pal.palette[9] = ColorPaletteEntry{10, 10, 10, 0};
  EXPECT_EQ(ColorFormatCodeFromRGBA(&pal, 10, 10, 10, 0), 5u);
}

TEST(StandardImage, CreateAndPixelARGB) {
  ColorFormat rgb24{};
  MakeRGB24ColorFormat(&rgb24);
  StandardImage image{};
  ASSERT_EQ(CreateStandardImage(3, 2, &rgb24, &image), 0);
  EXPECT_EQ(image.pitch, 12);
  EXPECT_EQ(image.mipLevelCount, 0);
  ReleaseStandardImage(&image);
  EXPECT_EQ(image.pixels, nullptr);

  ColorFormat rgb565{};
  MakeColorFormatFromMasks(&rgb565, 16, 0xF800, 0x7E0, 0x1F, 0);
  ASSERT_EQ(CreateStandardImage(2, 1, &rgb565, &image), 0);
  image.pixels[0] = 0x00;
  image.pixels[1] = 0xF8;  // red 31
  EXPECT_EQ(GetStandardImagePixelARGB(&image, 0, 0), 0x00F80000u);
  ClearStandardImageRect(&image, 0, 0, 1, 1);
  EXPECT_EQ(GetStandardImagePixelARGB(&image, 0, 0), 0u);
  ReleaseStandardImage(&image);

  ASSERT_EQ(CreateARGB8StandardImage(1, 1, &image), 0);
  image.pixels[0] = 0x11;
  image.pixels[1] = 0x22;
  image.pixels[2] = 0x33;
  image.pixels[3] = 0x44;
  EXPECT_EQ(GetStandardImagePixelARGB(&image, 0, 0), 0x44332211u);
  ReleaseStandardImage(&image);
  EXPECT_EQ(GetStandardImagePixelARGB(&image, 0, 0), 0u);
}

TEST(StandardImage, PixelARGBOfWideChannels) {
  // 10-bit channels give their top 8 bits.
  ColorFormat wide{};
  MakeColorFormatFromMasks(&wide, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000);
  StandardImage image{};
  ASSERT_EQ(CreateStandardImage(1, 1, &wide, &image), 0);
  uint32_t code = (0x3FCu << 20) | (0x201u << 10) | 0x007u | 0x80000000u;
  for (int i = 0; i < 4; ++i) image.pixels[i] = static_cast<uint8_t>(code >> (8 * i));
  EXPECT_EQ(GetStandardImagePixelARGB(&image, 0, 0), 0x80FF8001u);
  ReleaseStandardImage(&image);
}

TEST(StandardImage, FailedCreationIsSafeToRelease) {
  int blocks = GetTrackedBlockCount();
  StandardImage image{};
  EXPECT_EQ(CreateXRGB8StandardImage(60000, 60000, &image), -1);
  EXPECT_EQ(image.pixels, nullptr);
  EXPECT_EQ(image.width, 60000);
  ReleaseStandardImage(&image);
  EXPECT_EQ(GetTrackedBlockCount(), blocks);
}

TEST(StandardImage, HandlesDeleteOnce) {
  int blocks = GetTrackedBlockCount();
  StandardImage image{};
  ASSERT_EQ(CreateXRGB8StandardImage(4, 4, &image), 0);
  int first = CreateStandardImageHandle(&image);
  ASSERT_GE(first, 0);
  EXPECT_EQ(GetEngineHandleTypeCode(first), kStandardImageHandle);
  StandardImage other{};
  ASSERT_EQ(CreateXRGB8StandardImage(1, 1, &other), 0);
  int second = CreateStandardImageHandle(&other);
  ASSERT_GE(second, 0);
  EXPECT_NE(first, second);
  EXPECT_EQ(DeleteStandardImageHandle(first), 0);
  EXPECT_EQ(DeleteStandardImageHandle(first), -1);
  EXPECT_EQ(DeleteStandardImageHandle(-1), -1);
  EXPECT_EQ(DeleteStandardImageHandle(MakeEngineHandle(kGraphHandle, 0, 0)), -1);
  DeleteAllStandardImageHandles();
  EXPECT_EQ(DeleteStandardImageHandle(second), -1);
  EXPECT_EQ(GetTrackedBlockCount(), blocks);
}

}  // namespace
