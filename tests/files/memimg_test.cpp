// Software images: pitch, views and release, conversion from standard images with palette,
// premultiplied alpha and run-length table, the rectangle fill, and the kernel tables.
#include "files/memimg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "system/tracked_memory.h"

namespace {

TEST(MEMIMG, PitchAndExponent) {
  struct Case {
    int type, width, pitch, alpha, palette;
    int expectedPitch, exponent, bytes;
  };
  const Case cases[] = {
      {0, 3, -1, 0, 0, 16, -1, 2}, {0, 64, -1, 0, 0, 128, 7, 2}, {0, 10, 256, 0, 0, 256, 8, 2},
      {0, 4, -1, 1, 0, 16, 4, 4},  {1, 5, -1, 0, 1, 16, -1, 1},  {1, 4, -1, 1, 0, 16, 4, 4},
      {2, 17, -1, 1, 1, 32, 5, 1}, {3, 8, -1, 0, 0, 16, 4, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    MEMIMG image{};
    ASSERT_EQ(CreateMEMIMG(&image, c.width, 2, c.pitch, 0, c.type, c.palette, c.alpha, 0, nullptr),
              0);
    EXPECT_EQ(image.body->pitch, c.expectedPitch);
    EXPECT_EQ(image.body->pitchExponent, c.exponent);
    EXPECT_EQ(image.body->format->bytesPerPixel, c.bytes);
    EXPECT_EQ(image.body->format,
              GetMEMIMGColorFormat(c.type, image.body->alphaFlag, image.body->paletteFlag));
    ReleaseMEMIMG(&image);
  }
  EXPECT_EQ(GetMEMIMGColorFormat(4, 0, 0), nullptr);
  EXPECT_EQ(GetMEMIMGColorFormat(0, 1, 0)->alphaMask, 0xFF0000u);
}

TEST(MEMIMG, CreateTwiceAndFailureLeaveNoBlocks) {
  int blocks = GetTrackedBlockCount();
  MEMIMG image{};
  ASSERT_EQ(CreateMEMIMG(&image, 4, 4, -1, 0, 1, 0, 0, 0, nullptr), 0);
  EXPECT_EQ(CreateMEMIMG(&image, 4, 4, -1, 0, 1, 0, 0, 0, nullptr), -1);
  ReleaseMEMIMG(&image);
  EXPECT_EQ(IsMEMIMGValid(&image), 0);

  // The palette block is made, then the pixel buffer cannot be: everything is freed again.
  MEMIMG huge{};
  EXPECT_EQ(CreateMEMIMG(&huge, 50000, 50000, -1, 0, 1, 1, 0, 1, nullptr), -1);
  EXPECT_EQ(huge.body, nullptr);
  EXPECT_EQ(huge.magic, 0u);
  ReleaseMEMIMG(&huge);
  EXPECT_EQ(GetTrackedBlockCount(), blocks);
}

TEST(MEMIMG, ViewsShareTheBody) {
  int blocks = GetTrackedBlockCount();
  MEMIMG image{};
  ASSERT_EQ(CreateMEMIMG(&image, 25, 25, -1, 0, 1, 0, 1, 1, nullptr), 0);
  MEMIMG view{};
  MakeSubMEMIMG(&view, &image, 10, 10, 20, 20);
  EXPECT_EQ(IsMEMIMGValid(&view), 0);
  MakeSubMEMIMG(&view, &image, 10, 10, -5, 2);
  EXPECT_EQ(IsMEMIMGValid(&view), 0);
  MakeSubMEMIMG(&view, &image, 5, 6, 10, 10);
  ASSERT_EQ(IsMEMIMGValid(&view), 1);
  EXPECT_EQ(view.body, image.body);
  EXPECT_EQ(image.body->useCount, 2);
  EXPECT_EQ(view.pixels, image.pixels + 6 * image.body->pitch + 5 * 4);
  EXPECT_EQ(view.alpha, image.alpha + 6 * image.body->pitch + 5 * 4);
  ReleaseMEMIMG(&view);
  ASSERT_EQ(IsMEMIMGValid(&image), 1);
  EXPECT_EQ(image.body->useCount, 1);
  image.pixels[0] = 1;  // still owned
  MEMIMG unset{};
  ReleaseMEMIMG(&unset);
  ReleaseMEMIMG(&image);
  EXPECT_EQ(GetTrackedBlockCount(), blocks);
}

StandardImage XrgbImage(int w, int h, std::vector<uint32_t> pixels) {
  StandardImage image{};
  EXPECT_EQ(CreateXRGB8StandardImage(w, h, &image), 0);
  for (int i = 0; i < w * h; ++i) {
    uint8_t* p = image.pixels + (i / w) * image.pitch + (i % w) * 4;
    for (int b = 0; b < 4; ++b) p[b] = static_cast<uint8_t>(pixels[i] >> (8 * b));
  }
  return image;
}

std::vector<uint8_t> Runs(const MEMIMG& image, int bytes) {
  return std::vector<uint8_t>(image.body->transparencyTable, image.body->transparencyTable + bytes);
}

TEST(MEMIMG, RunLengthTable) {
  const uint32_t key = 0xFF00FF00;  // the key as a 32-bit code of the image
  StandardImage row = XrgbImage(4, 1, {0x00FF00, 0x00FF00, 0x123456, 0x00FF00});
  MEMIMG image{};
  ASSERT_EQ(CreateMEMIMG(&image, 4, 1, -1, key, 1, 0, 0, 1, nullptr), 0);
  ASSERT_EQ(CopyStandardImageToMEMIMG(&row, nullptr, &image, 0, 0, 4, 1, 0, 0, 0), 0);
  EXPECT_EQ(image.body->tableValid, 1);
  EXPECT_EQ(Runs(image, 4), (std::vector<uint8_t>{0x01, 0x40, 0x00, 0xC0}));
  // A partial copy clears both flags.
  ASSERT_EQ(CopyStandardImageToMEMIMG(&row, nullptr, &image, 0, 0, 2, 1, 0, 0, 0), 0);
  EXPECT_EQ(image.body->tableValid, 0);
  ReleaseMEMIMG(&image);
  ReleaseStandardImage(&row);

  // 70 opaque pixels over two rows, laid back to back.
  StandardImage wide = XrgbImage(70, 2, std::vector<uint32_t>(140, 0x010203));
  ASSERT_EQ(CreateMEMIMG(&image, 70, 2, -1, key, 1, 0, 0, 1, nullptr), 0);
  ASSERT_EQ(CopyStandardImageToMEMIMG(&wide, nullptr, &image, 0, 0, 70, 2, 0, 0, 0), 0);
  EXPECT_EQ(Runs(image, 6), (std::vector<uint8_t>{0x7F, 0x45, 0xC0, 0x7F, 0x45, 0xC0}));
  ReleaseMEMIMG(&image);
  ReleaseStandardImage(&wide);
}

TEST(MEMIMG, AlphaRunsAndPremultipliedCopy) {
  StandardImage argb{};
  ASSERT_EQ(CreateARGB8StandardImage(3, 1, &argb), 0);
  const uint32_t px[3] = {0x00FFFFFF, 0x80C86432, 0xFF102030};
  for (int i = 0; i < 3; ++i)
    for (int b = 0; b < 4; ++b) argb.pixels[i * 4 + b] = static_cast<uint8_t>(px[i] >> (8 * b));
  for (int type = 0; type <= 1; ++type) {
    SCOPED_TRACE(type);
    MEMIMG image{};
    ASSERT_EQ(CreateMEMIMG(&image, 3, 1, -1, 0, type, 0, 1, 1, nullptr), 0);
    ASSERT_EQ(CopyStandardImageToMEMIMG(&argb, nullptr, &image, 0, 0, 3, 1, 0, 0, 0), 0);
    EXPECT_EQ(Runs(image, 4), (std::vector<uint8_t>{0x00, 0x80, 0x40, 0xC0}));
    EXPECT_EQ(image.body->premultipliedValid, 1);
    const uint8_t* p = image.pixels + 4;
    const uint8_t* q = image.alpha + 4;
    if (type == 1) {
      EXPECT_EQ(q[0], 0x32 * 0x80 >> 8);
      EXPECT_EQ(q[1], 0x64 * 0x80 >> 8);
      EXPECT_EQ(q[2], 0xC8 * 0x80 >> 8);
      EXPECT_EQ(q[3], 0x80);
    } else {
      uint32_t c = p[0] | (p[1] << 8);
      uint32_t a = p[2];
      EXPECT_EQ(a, 0x80u);
      uint32_t expected = ((((c & 0xF800) * a) & 0xF80000) | (((c & 0x7E0) * a) & 0x7E000) |
                           (((c & 0x1F) * a) & 0x1F00)) >>
                          8;
      EXPECT_EQ(q[0] | (q[1] << 8) | (q[2] << 16) | (q[3] << 24), expected | (a << 16));
    }
    ReleaseMEMIMG(&image);
  }
  ReleaseStandardImage(&argb);
}

TEST(MEMIMG, PaletteImages) {
  StandardImage indexed{};
  ColorFormat pal{};
  MakePaletteColorFormat(&pal);
  pal.palette[2] = ColorPaletteEntry{0x30, 0x20, 0x10, 0x99};
  ASSERT_EQ(CreateStandardImage(3, 1, &pal, &indexed), 0);
  indexed.pixels[0] = 2;
  indexed.pixels[1] = 5;
  indexed.pixels[2] = 2;
  for (int type = 0; type <= 1; ++type) {
    MEMIMG image{};
    ASSERT_EQ(CreateMEMIMG(&image, 3, 1, -1, 5, type, 1, 1, 1, nullptr), 0);
    EXPECT_EQ(image.body->alphaFlag, 0);
    ASSERT_EQ(CopyStandardImageToMEMIMG(&indexed, nullptr, &image, 0, 0, 3, 1, 0, 0, 0), 0);
    EXPECT_EQ(image.body->paletteSize, 6);
    EXPECT_EQ(Runs(image, 4), (std::vector<uint8_t>{0x40, 0x00, 0x40, 0xC0}));
    const uint8_t* e = image.body->palette;
    if (type == 1) {
      EXPECT_EQ(e[8] | (e[9] << 8) | (e[10] << 16) | (e[11] << 24), 0x102030);
      EXPECT_EQ(image.body->paletteCopy[8], 0x30);
    } else {
      EXPECT_EQ(e[4] | (e[5] << 8), ((0x10u & 0xF8) << 8) | ((0x20u & 0xFC) << 3) | (0x30u >> 3));
    }
    ReleaseMEMIMG(&image);
  }
  ReleaseStandardImage(&indexed);
}

TEST(MEMIMG, BlendImageTakesRed) {
  StandardImage src = XrgbImage(2, 1, {0x7F1020, 0x03FFFF});
  MEMIMG blend{};
  ASSERT_EQ(CreateMEMIMG(&blend, 2, 1, -1, 0, 2, 0, 0, 0, nullptr), 0);
  CopyStandardImageToMEMIMG(&src, nullptr, &blend, 0, 0, 2, 1, 0, 0, 0);
  EXPECT_EQ(blend.pixels[0], 0x7F);
  EXPECT_EQ(blend.pixels[1], 0x03);
  ReleaseMEMIMG(&blend);
  ReleaseStandardImage(&src);
}

TEST(MEMIMG, RectPixelsAndRectCopy) {
  MEMIMG image{};
  ASSERT_EQ(CreateMEMIMG(&image, 4, 3, -1, 0, 0, 0, 0, 0, nullptr), 0);
  std::fill(image.pixels, image.pixels + image.body->pitch * 3, 0);
  RECT outside{10, 0, 20, 3};
  SetMEMIMGRectPixels(&image, &outside, 0xBEEF);
  EXPECT_TRUE(std::all_of(image.pixels, image.pixels + image.body->pitch * 3,
                          [](uint8_t b) { return b == 0; }));
  RECT part{-2, 1, 2, 9};
  SetMEMIMGRectPixels(&image, &part, 0xBEEF);
  EXPECT_EQ(image.pixels[0], 0);
  EXPECT_EQ(image.pixels[image.body->pitch], 0xEF);
  EXPECT_EQ(image.pixels[image.body->pitch + 3], 0xBE);
  EXPECT_EQ(image.pixels[image.body->pitch + 4], 0);

  MEMIMG copy{};
  ASSERT_EQ(CreateMEMIMG(&copy, 4, 3, -1, 0, 0, 0, 0, 0, nullptr), 0);
  EXPECT_EQ(CopyMEMIMGRect(&copy, &image, nullptr, 0, 0), 0);
  for (int y = 0; y < 3; ++y)
    EXPECT_TRUE(std::equal(image.pixels + y * 16, image.pixels + y * 16 + 8, copy.pixels + y * 16));
  ReleaseMEMIMG(&copy);
  ReleaseMEMIMG(&image);
}

TEST(MEMIMGTables, MatchTheirFormulasOverFullRanges) {
  BuildMEMIMGBlendTables();
  for (int i = 0; i < 256; ++i) {
    const int32_t* row = MEMIMGSignedProductRow(i);
    for (int j = 0; j < 256; ++j) ASSERT_EQ(MEMIMGProductTable[i][j], i * j / 255);
    for (int d = -255; d <= 255; ++d) {
      int expected = (i * (d < 0 ? -d : d)) / 255;
      ASSERT_EQ(row[d], d < 0 ? -expected : expected) << i << " " << d;
    }
  }
  for (int k = 0; k < 64; ++k)
    for (int a = 0; a < 64; ++a)
      for (int b = 0; b < 64; ++b)
        ASSERT_EQ(MEMIMGLerp64Table[k][a][b], (k * a + (63 - k) * b) / 63);
  EXPECT_EQ(MEMIMGProductTable[128][128], 64);
  EXPECT_EQ(MEMIMGSignedProductRow(128)[100], 50);
  EXPECT_EQ(MEMIMGSignedProductRow(128)[-1], 0);
  EXPECT_EQ(MEMIMGSignedProductRow(255)[-255], -255);
  EXPECT_EQ(MEMIMGLerp64Table[63][10][50], 10);
  EXPECT_EQ(MEMIMGLerp64Table[0][10][50], 50);
  EXPECT_EQ(MEMIMGLerp64Table[32][63][0], 32);
}

TEST(MEMIMGTables, BlendGraphTable) {
  for (int p : {0, 1, 128, 200, 255})
    for (int r : {0, 1, 64, 254, 255}) {
      BuildMEMIMGBlendGraphTable(p, r);
      int s = 256 - (p * (65536 / (r + 1) + 256)) / 256;
      for (int i = 0; i < 256; ++i)
        ASSERT_EQ(MEMIMGBlendGraphTable[i], std::clamp(i * 256 / (r + 1) + s, 0, 255))
            << p << " " << r;
    }
  BuildMEMIMGBlendGraphTable(128, 64);
  EXPECT_EQ(MEMIMGBlendGraphTable[0], 0);
  EXPECT_EQ(MEMIMGBlendGraphTable[64], 0);
  EXPECT_EQ(MEMIMGBlendGraphTable[128], 128);
  EXPECT_EQ(MEMIMGBlendGraphTable[255], 255);
  BuildMEMIMGBlendGraphTable(0, 0);
  EXPECT_TRUE(std::all_of(std::begin(MEMIMGBlendGraphTable), std::end(MEMIMGBlendGraphTable),
                          [](uint8_t v) { return v == 255; }));
  BuildMEMIMGBlendGraphTable(128, -1);  // a range of -1 is taken as 0, not divided by
  EXPECT_EQ(MEMIMGBlendGraphTable[255], 255);
}

}  // namespace
