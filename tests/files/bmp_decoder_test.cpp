// The BMP decoder: every depth and compression, row order, headers larger than 40 bytes, and
// damaged files, with ImageMagick as an independent reader where it is installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "image_fixtures.h"
#include "system/tracked_memory.h"
#include "temp_folder.h"

namespace {

using fixtures::BmpLayout;
using fixtures::Bytes;

const std::vector<std::uint32_t> kPalette4 = {0x102030, 0x405060, 0x708090, 0xA0B0C0};

struct Expected {
  int bitDepth;
  int pitch;
  std::vector<std::uint32_t> argb;  // top-down
};

struct BmpCase {
  const char* name;
  BmpLayout layout;
  Expected expected;
};

std::vector<BmpCase> Cases() {
  std::vector<BmpCase> cases;
  {
    // 8-bit bottom-up, 5 x 3, index (x + y) % 4 counted from the top.
    BmpLayout s;
    s.width = 5, s.height = 3, s.bitCount = 8, s.palette = kPalette4;
    Expected e{8, 8, {}};
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) e.argb.push_back(kPalette4[(x + y) % 4]);
    for (int stored = 0; stored < 3; ++stored) {
      int y = 2 - stored;
      for (int x = 0; x < 8; ++x)
        s.pixels.push_back(x < 5 ? static_cast<std::uint8_t>((x + y) % 4) : 0);
    }
    cases.push_back({"palette8_bottom_up", s, e});
    BmpLayout big = s;
    big.headerSize = 124;
    cases.push_back({"palette8_header124", big, e});
  }
  {
    BmpLayout s;
    s.width = 3, s.height = -2, s.bitCount = 24;
    s.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 0, 0};
    cases.push_back({"rgb24_top_down",
                     s,
                     {24, 12, {0x030201, 0x060504, 0x090807, 0x0D0C0B, 0x100F0E, 0x131211}}});
    s.height = 2;
    cases.push_back({"rgb24_bottom_up",
                     s,
                     {24, 12, {0x0D0C0B, 0x100F0E, 0x131211, 0x030201, 0x060504, 0x090807}}});
  }
  {
    BmpLayout s;
    s.width = 2, s.height = 2, s.bitCount = 32;
    s.pixels = {1, 2, 3, 0x80, 4, 5, 6, 0, 7, 8, 9, 0xFF, 10, 11, 12, 0x10};
    cases.push_back(
        {"argb32_bottom_up", s, {32, 8, {0xFF090807, 0x100C0B0A, 0x80030201, 0x00060504}}});
  }
  {
    BmpLayout s;
    s.width = 5, s.height = 2, s.bitCount = 4, s.palette = kPalette4;
    s.palette.resize(16, 0xFFFFFF);
    s.pixels = {0x01, 0x23, 0x00, 0,
                0x32, 0x10, 0x30, 0};  // bottom row 0,1,2,3,0 ; top row 3,2,1,0,3
    cases.push_back({"palette4",
                     s,
                     {8,
                      8,
                      {kPalette4[3], kPalette4[2], kPalette4[1], kPalette4[0], kPalette4[3],
                       kPalette4[0], kPalette4[1], kPalette4[2], kPalette4[3], kPalette4[0]}}});
  }
  {
    BmpLayout s;
    s.width = 10, s.height = 2, s.bitCount = 1, s.palette = {0x000000, 0xFF8000};
    s.pixels = {0xF0, 0x00, 0, 0, 0x0F, 0xC0, 0, 0};  // bottom row first
    Expected e{24, 32, {}};
    for (int x = 0; x < 10; ++x) e.argb.push_back((x >= 4 && x < 10) ? 0xFF8000 : 0);
    for (int x = 0; x < 10; ++x) e.argb.push_back(x < 4 ? 0xFF8000 : 0);
    cases.push_back({"mono1", s, e});
  }
  {
    BmpLayout s;
    s.width = 2, s.height = 1, s.bitCount = 16;
    s.pixels = {0xFF, 0x7F, 0x21, 0x40};  // white; red 16, green 1, blue 1
    cases.push_back({"rgb555", s, {24, 8, {0xFFFFFF, 0x840808}}});
    BmpLayout f = s;
    f.compression = 3, f.masks = {0xF800, 0x07E0, 0x001F};
    f.pixels = {0x00, 0xFC, 0x1F, 0x04};  // red 31 green 32 blue 0; green 32, blue 31
    cases.push_back({"rgb565_bitfields", f, {24, 8, {0xFF8200, 0x0082FF}}});
    f.headerSize = 108;
    cases.push_back({"rgb565_header108", f, {24, 8, {0xFF8200, 0x0082FF}}});
  }
  {
    BmpLayout s;
    s.width = 1, s.height = 1, s.bitCount = 32, s.compression = 3,
    s.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
    s.pixels = {0x11, 0x22, 0x33, 0x44};
    cases.push_back({"bitfields32", s, {24, 4, {0x112233}}});
  }
  {
    // RLE8 6 x 3, bottom-up: a run ending the row early, a delta, an absolute run with its pad
    // byte.
    BmpLayout s;
    s.width = 6, s.height = 3, s.bitCount = 8, s.compression = 1, s.palette = kPalette4;
    s.pixels = {3, 2, 0, 0, 0, 2, 2, 1, 0, 3, 1, 2, 3, 0, 0, 1};
    std::uint32_t z = kPalette4[0];
    Expected e{8,
               8,
               {z, z, kPalette4[1], kPalette4[2], kPalette4[3], z, z, z, z, z, z, z, kPalette4[2],
                kPalette4[2], kPalette4[2], z, z, z}};
    cases.push_back({"rle8", s, e});
  }
  {
    BmpLayout s;
    s.width = 5, s.height = 2, s.bitCount = 4, s.compression = 2, s.palette = kPalette4;
    s.palette.resize(16, 0);
    s.pixels = {5, 0x12, 0, 0, 0, 5, 0x30, 0x12, 0x30, 0, 0, 1};
    std::uint32_t p0 = kPalette4[0], p1 = kPalette4[1], p2 = kPalette4[2], p3 = kPalette4[3];
    cases.push_back({"rle4", s, {8, 8, {p3, p0, p1, p2, p3, p1, p2, p1, p2, p1}}});
  }
  return cases;
}

class BmpDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override { blocks_ = GetTrackedBlockCount(); }
  void TearDown() override { EXPECT_EQ(GetTrackedBlockCount(), blocks_); }
  int blocks_ = 0;
};

TEST_F(BmpDecoderTest, DecodesEveryDepthTopDown) {
  for (const BmpCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    StandardImage image;
    ASSERT_EQ(fixtures::DecodeWith(DecodeBMPStream, fixtures::WriteBmp(c.layout), &image), 0);
    EXPECT_EQ(image.format.bitDepth, c.expected.bitDepth);
    EXPECT_EQ(image.pitch, c.expected.pitch);
    EXPECT_EQ(image.width, c.layout.width);
    EXPECT_EQ(image.height, std::abs(c.layout.height));
    std::vector<std::uint32_t> argb = fixtures::Argb(image);
    if (c.expected.bitDepth != 32) {
      for (std::uint32_t& v : argb) v &= 0xFFFFFF;
    }
    EXPECT_EQ(argb, c.expected.argb);
    if (c.expected.bitDepth == 8) {
      for (const ColorPaletteEntry& entry : image.format.palette) EXPECT_EQ(entry.alpha, 0);
    }
    ReleaseStandardImage(&image);
  }
}

TEST_F(BmpDecoderTest, PaletteIndicesAndRowOrderAreKeptAsStored) {
  BmpCase c = Cases()[0];
  StandardImage image;
  ASSERT_EQ(fixtures::DecodeWith(DecodeBMPStream, fixtures::WriteBmp(c.layout), &image), 0);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(image.pixels[y * 8 + x], (x + y) % 4);
  EXPECT_EQ(image.format.palette[1].red, 0x40);
  EXPECT_EQ(image.format.palette[1].green, 0x50);
  EXPECT_EQ(image.format.palette[1].blue, 0x60);
  ReleaseStandardImage(&image);
}

TEST_F(BmpDecoderTest, AgreesWithImageMagick) {
  if (!fixtures::HaveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
  const TempFolder folder("h3bmp");
  for (const BmpCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    std::string path = folder.string() + "/" + c.name + ".bmp";
    Bytes file = fixtures::WriteBmp(c.layout);
    ASSERT_TRUE(fixtures::WriteFile(path, file));
    Bytes reference;
    if (!fixtures::DecodeWithImageMagick(path, "BMP", &reference)) {
      ADD_FAILURE() << "ImageMagick could not read " << c.name;
      continue;
    }
    StandardImage image;
    ASSERT_EQ(fixtures::DecodeWith(DecodeBMPStream, file, &image), 0);
    EXPECT_EQ(fixtures::ToRgb(image), reference);
    ReleaseStandardImage(&image);
  }
}

TEST_F(BmpDecoderTest, RefusesDamagedFiles) {
  BmpLayout good;
  good.width = 4, good.height = 4, good.bitCount = 24, good.pixels.assign(48, 9);
  struct Damage {
    const char* name;
    BmpLayout layout;
    Bytes file;
  };
  std::vector<Damage> damages;
  auto add = [&](const char* name, auto change) {
    BmpLayout s = good;
    change(s);
    damages.push_back({name, s, fixtures::WriteBmp(s)});
  };
  add("bit count 3", [](BmpLayout& s) { s.bitCount = 3; });
  add("bit count 0", [](BmpLayout& s) { s.bitCount = 0; });
  add("jpeg compression", [](BmpLayout& s) { s.compression = 4; });
  add("rle8 with 24 bits", [](BmpLayout& s) { s.compression = 1; });
  add("bit fields with 24 bits", [](BmpLayout& s) {
    s.compression = 3, s.masks = {0xFF0000, 0xFF00, 0xFF};
  });
  add("width 0", [](BmpLayout& s) { s.width = 0; });
  add("negative width", [](BmpLayout& s) { s.width = -4; });
  add("height 0", [](BmpLayout& s) { s.height = 0; });
  add("height INT_MIN", [](BmpLayout& s) { s.height = INT_MIN; });
  add("short top-down data", [](BmpLayout& s) { s.height = -5; });
  add("short bottom-up data", [](BmpLayout& s) { s.pixels.resize(47); });
  add("offset past the end", [](BmpLayout& s) { s.dataOffsetAdjust = 1000; });
  add("offset inside the header", [](BmpLayout& s) { s.dataOffsetAdjust = -30; });
  add("header size 64", [](BmpLayout& s) { s.headerSize = 64; });
  add("huge image", [](BmpLayout& s) { s.width = 100000, s.height = 100000; });
  add("width overflows rows", [](BmpLayout& s) { s.width = INT_MAX, s.bitCount = 32; });
  add("palette missing", [](BmpLayout& s) { s.bitCount = 8, s.pixels.clear(); });
  Bytes notBmp = fixtures::WriteBmp(good);
  notBmp[1] = 'A';
  damages.push_back({"not BM", good, notBmp});
  damages.push_back({"file header only", good, Bytes(notBmp.begin(), notBmp.begin() + 14)});
  damages.push_back({"ten bytes", good, Bytes(10, 'B')});
  damages.push_back({"empty", good, Bytes()});
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.name);
    StandardImage image;
    EXPECT_EQ(fixtures::DecodeWith(DecodeBMPStream, d.file, &image), -1);
    EXPECT_EQ(image.pixels, nullptr);
  }
}

TEST_F(BmpDecoderTest, RunLengthRecordsStayInsideTheImage) {
  struct Records {
    const char* name;
    std::uint32_t compression;
    Bytes data;
  } records[] = {
      {"run past the row", 1, {200, 1, 0, 1}},
      {"delta past the image", 1, {0, 2, 255, 255, 3, 1, 0, 1}},
      {"absolute past the data", 1, {0, 200, 1, 2}},
      {"end of row past the last row", 1, {0, 0, 0, 0, 0, 0, 0, 0, 2, 1, 0, 0, 2, 1}},
      {"no end of image", 1, {2, 1, 2, 1}},
      {"odd byte at the end", 1, {2, 1, 0}},
      {"rle4 absolute past the data", 2, {0, 255, 0x12}},
      {"rle4 run past the row", 2, {255, 0x12, 0, 1}},
  };
  for (const Records& r : records) {
    SCOPED_TRACE(r.name);
    BmpLayout s;
    s.width = 3, s.height = 2, s.bitCount = r.compression == 1 ? 8 : 4,
    s.compression = r.compression;
    s.palette.assign(r.compression == 1 ? 4 : 16, 0x010203);
    s.pixels = r.data;
    StandardImage image;
    ASSERT_EQ(fixtures::DecodeWith(DecodeBMPStream, fixtures::WriteBmp(s), &image), 0);
    EXPECT_EQ(image.pitch, 4);
    for (int y = 0; y < 2; ++y) EXPECT_EQ(image.pixels[y * 4 + 3], 0) << "the pad byte stays 0";
    ReleaseStandardImage(&image);
  }
}

}  // namespace
