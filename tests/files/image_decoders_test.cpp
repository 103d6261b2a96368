// The TGA, BGRA and DDS decoders and DXT decompression, with small files written here.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "files/dxt_decompress.h"
#include "image_fixtures.h"
#include "system/tracked_memory.h"

namespace {

using fixtures::Bytes;
using fixtures::Put16;
using fixtures::Put32;

class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override { blocks_ = GetTrackedBlockCount(); }
  void TearDown() override { EXPECT_EQ(GetTrackedBlockCount(), blocks_); }
  int blocks_ = 0;
};

struct TgaLayout {
  int type = 2;
  int width = 2, height = 2;
  int depth = 24;
  int descriptor = 0x20;  // top-down
  int mapFirst = 0, mapEntryBits = 0;
  Bytes map;
  Bytes data;
  int xOrigin = 0, yOrigin = 0;
  bool footer = false;
};

Bytes WriteTga(const TgaLayout& s) {
  Bytes b = {3, static_cast<std::uint8_t>(s.map.empty() ? 0 : 1),
             static_cast<std::uint8_t>(s.type)};
  int entryBytes = s.mapEntryBits ? (s.mapEntryBits + 7) / 8 : 1;
  Put16(b, s.mapFirst);
  Put16(b, s.map.empty() ? 0 : static_cast<std::uint32_t>(s.map.size() / entryBytes));
  b.push_back(static_cast<std::uint8_t>(s.mapEntryBits));
  Put16(b, s.xOrigin);
  Put16(b, s.yOrigin);
  Put16(b, s.width);
  Put16(b, s.height);
  b.push_back(static_cast<std::uint8_t>(s.depth));
  b.push_back(static_cast<std::uint8_t>(s.descriptor));
  b.insert(b.end(), {'i', 'd', '!'});
  b.insert(b.end(), s.map.begin(), s.map.end());
  b.insert(b.end(), s.data.begin(), s.data.end());
  if (s.footer) {
    Put32(b, 0);
    Put32(b, 0);
    const char* signature = "TRUEVISION-XFILE.";
    b.insert(b.end(), signature, signature + 17);
    b.push_back(0);
  }
  return b;
}

TEST_F(DecoderTest, TgaTypesDepthsAndOrientations) {
  struct Case {
    const char* name;
    TgaLayout layout;
    int bitDepth;
    std::vector<std::uint32_t> argb;  // top-down, left to right
  };
  std::vector<Case> cases;
  {
    TgaLayout s;
    s.descriptor = 0;  // bottom-up
    s.data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    cases.push_back({"24-bit bottom-up", s, 24, {0x090807, 0x0C0B0A, 0x030201, 0x060504}});
    s.descriptor = 0x30;  // top-down, right to left
    cases.push_back({"24-bit right to left", s, 24, {0x060504, 0x030201, 0x0C0B0A, 0x090807}});
  }
  {
    TgaLayout s;
    s.depth = 32, s.width = 2, s.height = 1;
    s.data = {1, 2, 3, 0x80, 4, 5, 6, 0xFF};
    cases.push_back({"32-bit", s, 32, {0x80030201, 0xFF060504}});
  }
  {
    TgaLayout s;
    s.depth = 16, s.width = 2, s.height = 1;
    s.data = {0xFF, 0xFF, 0x1F, 0x00};  // top bit set (not alpha); pure blue
    cases.push_back({"16-bit", s, 16, {0xF8F8F8, 0x0000F8}});
  }
  {
    TgaLayout s;
    s.type = 1, s.depth = 8, s.mapFirst = 2, s.mapEntryBits = 24, s.width = 3, s.height = 1;
    s.map = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90};
    s.data = {2, 4, 0};
    cases.push_back({"colour-mapped", s, 24, {0x302010, 0x908070, 0}});
    TgaLayout r = s;
    r.type = 9, r.width = 5, r.data = {0x82, 3, 0x01, 2, 4};
    cases.push_back(
        {"colour-mapped run-length", r, 24, {0x605040, 0x605040, 0x605040, 0x302010, 0x908070}});
  }
  {
    TgaLayout s;
    s.type = 10, s.width = 4, s.height = 2;
    s.data = {0x83, 1, 2, 3, 0x03, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    std::vector<std::uint32_t> expected = {0x030201, 0x030201, 0x030201, 0x030201,
                                           0x060504, 0x090807, 0x0C0B0A, 0x0F0E0D};
    cases.push_back({"run-length", s, 24, expected});
    s.footer = true;
    cases.push_back({"run-length with footer", s, 24, expected});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StandardImage image;
    ASSERT_EQ(fixtures::DecodeWith(DecodeTGAStream, WriteTga(c.layout), &image), 0);
    EXPECT_EQ(image.format.bitDepth, c.bitDepth);
    EXPECT_EQ(image.pitch, image.width * c.bitDepth / 8);
    if (c.bitDepth == 16) {
      EXPECT_EQ(image.format.redMask, 0x7C00u);
      EXPECT_EQ(image.format.noneMask, 0x8000u);  // the top bit is not alpha
    }
    std::vector<std::uint32_t> argb = fixtures::Argb(image);
    if (c.bitDepth != 32) {
      for (std::uint32_t& v : argb) v &= 0xFFFFFF;
    }
    EXPECT_EQ(argb, c.argb);
    ReleaseStandardImage(&image);
  }
}

TEST_F(DecoderTest, TgaRefusals) {
  TgaLayout good;
  good.data.assign(12, 7);
  auto with = [&](auto change) {
    TgaLayout s = good;
    change(s);
    return WriteTga(s);
  };
  struct Case {
    const char* name;
    Bytes file;
  } cases[] = {
      {"y origin", with([](TgaLayout& s) { s.yOrigin = 1; })},
      {"grey", with([](TgaLayout& s) { s.type = 3, s.depth = 8; })},
      {"type 0", with([](TgaLayout& s) { s.type = 0; })},
      {"width 8193", with([](TgaLayout& s) { s.width = 8193; })},
      {"width 0", with([](TgaLayout& s) { s.width = 0; })},
      {"depth 15", with([](TgaLayout& s) { s.depth = 15; })},
      {"short data", with([](TgaLayout& s) { s.data.resize(11); })},
      {"map past 256", with([](TgaLayout& s) {
         s.type = 1, s.depth = 8, s.mapFirst = 250, s.mapEntryBits = 24, s.map.assign(30, 1),
         s.data.assign(4, 0);
       })},
      {"16-bit indices", with([](TgaLayout& s) {
         s.type = 1, s.depth = 16, s.mapEntryBits = 24, s.map.assign(6, 1), s.data.assign(8, 0);
       })},
      {"run-length data ends",
       with([](TgaLayout& s) { s.type = 10, s.data = {0x81, 1, 2, 3, 0x05, 1, 2}; })},
      {"run-length packet cut", with([](TgaLayout& s) {
         s.type = 10, s.data = {0x83, 1, 2};
       })},
      {"header only", Bytes(18, 0)},
      {"tiny", Bytes(5, 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StandardImage image;
    EXPECT_EQ(fixtures::DecodeWith(DecodeTGAStream, c.file, &image), -1);
    EXPECT_EQ(image.pixels, nullptr);
  }
  // A packet longer than the image is cut at its end.
  TgaLayout s = good;
  s.type = 10, s.data = {0xFF, 1, 2, 3};
  StandardImage image;
  ASSERT_EQ(fixtures::DecodeWith(DecodeTGAStream, WriteTga(s), &image), 0);
  EXPECT_EQ(fixtures::Argb(image)[3] & 0xFFFFFF, 0x030201u);
  ReleaseStandardImage(&image);
}

Bytes WriteBgra(std::uint32_t channels, std::int32_t width, std::int32_t height,
                const Bytes& pixels) {
  Bytes b = {'B', 'G', 'R', 'A'};
  Put32(b, channels);
  Put32(b, static_cast<std::uint32_t>(width));
  Put32(b, static_cast<std::uint32_t>(height));
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

TEST_F(DecoderTest, BgraEightAndSixteenBitChannels) {
  StandardImage image;
  ASSERT_EQ(
      fixtures::DecodeWith(
          DecodeBGRAStream,
          WriteBgra(0x10101010, 1, 1, {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xF0, 0xDE}), &image),
      0);
  EXPECT_EQ(fixtures::Argb(image), std::vector<std::uint32_t>({0xDE9A5612}));
  EXPECT_EQ(image.format.bitDepth, 32);
  EXPECT_EQ(image.pitch, 4);
  ReleaseStandardImage(&image);
  ASSERT_EQ(fixtures::DecodeWith(DecodeBGRAStream,
                                 WriteBgra(0x08080808, 2, 1, {1, 2, 3, 4, 5, 6, 7, 8}), &image),
            0);
  EXPECT_EQ(fixtures::Argb(image), std::vector<std::uint32_t>({0x04030201, 0x08070605}));
  ReleaseStandardImage(&image);
  struct Case {
    const char* name;
    Bytes file;
  } refused[] = {
      {"channel word", WriteBgra(0x08080800, 1, 1, Bytes(4, 0))},
      {"short pixels", WriteBgra(0x08080808, 2, 1, Bytes(7, 0))},
      {"short 16-bit pixels", WriteBgra(0x10101010, 1, 1, Bytes(7, 0))},
      {"size overflows 32 bits", WriteBgra(0x08080808, 0x40000000, 4, Bytes(64, 0))},
      {"negative width", WriteBgra(0x08080808, -1, 1, Bytes(4, 0))},
      {"zero height", WriteBgra(0x08080808, 1, 0, Bytes(4, 0))},
      {"magic", Bytes({'B', 'G', 'R', 'X', 8, 8, 8, 8, 1, 0, 0, 0, 1, 0, 0, 0, 1, 2, 3, 4})},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(fixtures::DecodeWith(DecodeBGRAStream, c.file, &image), -1);
  }
}

struct DdsLayout {
  std::uint32_t flags = 0x1007;
  std::uint32_t width = 4, height = 4, pitch = 0, mipCount = 0;
  std::uint32_t pixelFlags = 4, fourCC = 0, bitCount = 0;
  std::uint32_t masks[4] = {};
  std::uint32_t caps = 0x1000;
  Bytes data;
};

constexpr std::uint32_t FourCC(const char* s) {
  return static_cast<std::uint8_t>(s[0]) | (static_cast<std::uint8_t>(s[1]) << 8) |
         (static_cast<std::uint8_t>(s[2]) << 16) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[3])) << 24);
}

Bytes WriteDds(const DdsLayout& s) {
  Bytes b = {'D', 'D', 'S', ' '};
  Bytes h(124, 0);
  auto at = [&](int offset, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) h[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  at(0, 124), at(4, s.flags), at(8, s.height), at(12, s.width), at(16, s.pitch), at(24, s.mipCount);
  at(72, 32), at(76, s.pixelFlags), at(80, s.fourCC), at(84, s.bitCount);
  for (int i = 0; i < 4; ++i) at(88 + 4 * i, s.masks[i]);
  at(104, s.caps);
  b.insert(b.end(), h.begin(), h.end());
  b.insert(b.end(), s.data.begin(), s.data.end());
  return b;
}

TEST_F(DecoderTest, DdsReadsEveryMipLevel) {
  struct Case {
    const char* fourCC;
    std::int64_t bytes;
    int bitDepth;
  } cases[] = {
      {"DXT1", 32768 + 8192 + 2048 + 512 + 128 + 32 + 8 + 8 + 8, 4},
      {"DXT5", 65536 + 16384 + 4096 + 1024 + 256 + 64 + 16 + 16 + 16, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fourCC);
    DdsLayout s;
    s.flags |= 0x20000, s.caps |= 0x400008, s.width = s.height = 256, s.mipCount = 9,
                                            s.fourCC = FourCC(c.fourCC);
    s.data.assign(static_cast<std::size_t>(c.bytes), 0x5A);
    StandardImage image;
    ASSERT_EQ(fixtures::DecodeWith(DecodeDDSStream, WriteDds(s), &image), 0);
    EXPECT_EQ(image.mipLevelCount, 9);
    EXPECT_EQ(image.format.bitDepth, c.bitDepth);
    EXPECT_EQ(image.pitch, 0);
    EXPECT_EQ(image.pixels[c.bytes - 1], 0x5A);
    ReleaseStandardImage(&image);
    s.data.pop_back();
    EXPECT_EQ(fixtures::DecodeWith(DecodeDDSStream, WriteDds(s), &image), -1);
    s.caps = 0x1000;  // without the caps the levels are not read
    EXPECT_EQ(fixtures::DecodeWith(DecodeDDSStream, WriteDds(s), &image), 0);
    EXPECT_EQ(image.mipLevelCount, 0);
    ReleaseStandardImage(&image);
  }
}

TEST_F(DecoderTest, DdsFormatsFromTheTableAndFromMasks) {
  DdsLayout s;
  s.flags |= 0x8, s.fourCC = 23, s.width = 2, s.height = 2, s.pitch = 6;
  s.data = {0x00, 0xF8, 0xE0, 0x07, 0, 0, 0x1F, 0x00, 0xFF, 0xFF, 0, 0};
  StandardImage image;
  ASSERT_EQ(fixtures::DecodeWith(DecodeDDSStream, WriteDds(s), &image), 0);
  EXPECT_EQ(image.format.redMask, 0xF800u);
  EXPECT_EQ(image.format.greenMask, 0x7E0u);
  EXPECT_EQ(image.format.blueMask, 0x1Fu);
  EXPECT_EQ(image.pitch, 6);
  EXPECT_EQ(image.pixels[6 + 2], 0xFF);
  EXPECT_EQ(image.pixels[6 + 3], 0xFF);
  EXPECT_EQ(fixtures::Argb(image)[2] & 0xFFFFFF, 0x0000F8u);
  ReleaseStandardImage(&image);

  DdsLayout rgb;
  rgb.pixelFlags = 0x41, rgb.bitCount = 32, rgb.width = 1, rgb.height = 1;
  rgb.masks[0] = 0xFF, rgb.masks[1] = 0xFF00, rgb.masks[2] = 0xFF0000, rgb.masks[3] = 0xFF000000;
  rgb.data = {0x11, 0x22, 0x33, 0x44};
  ASSERT_EQ(fixtures::DecodeWith(DecodeDDSStream, WriteDds(rgb), &image), 0);
  EXPECT_EQ(fixtures::Argb(image)[0], 0x44112233u);
  ReleaseStandardImage(&image);

  auto refused = [&](const char* name, DdsLayout layout) {
    SCOPED_TRACE(name);
    EXPECT_EQ(fixtures::DecodeWith(DecodeDDSStream, WriteDds(layout), &image), -1);
  };
  DdsLayout bad = s;
  bad.pitch = 2;
  refused("pitch shorter than a row", bad);
  bad = s;
  bad.fourCC = FourCC("ATI2");
  refused("unknown FourCC", bad);
  bad = rgb;
  bad.bitCount = 8;
  refused("8-bit RGB", bad);
  bad = s;
  bad.fourCC = 27;
  refused("R3G3B2", bad);
  bad = rgb;
  bad.flags |= 0x20000, bad.caps |= 0x400008, bad.mipCount = 1000;
  refused("mip count", bad);
  bad = rgb;
  bad.data.pop_back();
  refused("short data", bad);
  bad = rgb;
  bad.width = 0;
  refused("width 0", bad);
  bad = rgb;
  bad.width = 0x40000000;
  refused("huge width", bad);
  Bytes notDds = WriteDds(rgb);
  notDds[2] = 'X';
  EXPECT_EQ(fixtures::DecodeWith(DecodeDDSStream, notDds, &image), -1);
}

// A compressed image over the given blocks.
StandardImage Compressed(int compression, int width, int height, const Bytes& blocks) {
  StandardImage image{};
  MakeARGB8ColorFormat(&image.format);
  image.format.compression = compression;
  image.width = width;
  image.height = height;
  image.pixels = static_cast<std::uint8_t*>(TrackedAlloc(static_cast<std::int64_t>(blocks.size())));
  std::memcpy(image.pixels, blocks.data(), blocks.size());
  return image;
}

std::vector<std::uint32_t> Decompress(int compression, int width, int height, const Bytes& blocks) {
  StandardImage image = Compressed(compression, width, height, blocks);
  EXPECT_EQ(DecompressDXTStandardImage(&image), 0);
  EXPECT_EQ(image.format.compression, 0);
  EXPECT_EQ(image.pitch, width * 4);
  std::vector<std::uint32_t> argb = fixtures::Argb(image);
  ReleaseStandardImage(&image);
  return argb;
}

TEST_F(DecoderTest, DxtBlocksDecodeByTheEnginesRules) {
  // Four-colour mode: red and blue endpoints, indices 0, 1, 2, 3 in the first row.
  std::vector<std::uint32_t> p = Decompress(1, 4, 4, {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0, 0, 0});
  EXPECT_EQ(p[0], 0xFFFF0000u);
  EXPECT_EQ(p[1], 0xFF0000FFu);
  EXPECT_EQ(p[2], 0xFFAA0055u);
  EXPECT_EQ(p[3], 0xFF5500AAu);
  EXPECT_EQ(p[4], 0xFFFF0000u);
  // Endpoint widening: field x 255 / 31 and x 255 / 63.
  p = Decompress(1, 4, 4, {0x21, 0x08, 0x00, 0x00, 0, 0, 0, 0});
  EXPECT_EQ(p[0], 0xFF080408u);
  // Equal endpoints: colour 2 opaque, colour 3 transparent with the same colour.
  p = Decompress(1, 4, 4, {0xE0, 0x07, 0xE0, 0x07, 0xE0, 0, 0, 0});
  EXPECT_EQ(p[0], 0xFF00FF00u);
  EXPECT_EQ(p[2], 0xFF00FF00u);
  EXPECT_EQ(p[3], 0x0000FF00u);
  // DXT3: 4-bit alpha x 17.
  p = Decompress(3, 4, 4, {0x10, 0xF8, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0});
  EXPECT_EQ(p[0] >> 24, 0u);
  EXPECT_EQ(p[1] >> 24, 17u);
  EXPECT_EQ(p[2] >> 24, 8u * 17u);
  EXPECT_EQ(p[3] >> 24, 255u);
  EXPECT_EQ(p[0] & 0xFFFFFF, 0xFFFFFFu);
  // DXT5: six-step ramp when alpha 0 > alpha 1, else four steps with 0 and 255.
  // Indices of the first pixels: 0, 1, 2, 7 (3 bits each).
  const Bytes white = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
  Bytes six = {200, 60, 0x88, 0x0E, 0, 0, 0, 0};
  six.insert(six.end(), white.begin(), white.end());
  p = Decompress(5, 4, 4, six);
  EXPECT_EQ(p[0] >> 24, 200u);
  EXPECT_EQ(p[1] >> 24, 60u);
  EXPECT_EQ(p[2] >> 24, (6u * 200 + 60) / 7);
  EXPECT_EQ(p[3] >> 24, (200u + 6 * 60) / 7);
  Bytes four = {60, 200, 0x88, 0x0E, 0, 0, 0, 0};
  four.insert(four.end(), white.begin(), white.end());
  p = Decompress(5, 4, 4, four);
  EXPECT_EQ(p[2] >> 24, (4u * 60 + 200) / 5);
  EXPECT_EQ(p[3] >> 24, 255u);
  four[3] = 0x0C;  // index 6 for the fourth pixel
  p = Decompress(5, 4, 4, four);
  EXPECT_EQ(p[3] >> 24, 0u);
  // DXT2: colours divided back by alpha; no alpha, no colour.
  p = Decompress(2, 4, 4, {0x08, 0, 0, 0, 0, 0, 0, 0, 0x08, 0x42, 0x08, 0x42, 0, 0, 0, 0});
  EXPECT_EQ(p[0], (136u << 24) | (121u << 16) | (120u << 8) | 121u);
  EXPECT_EQ(p[1], 0u);
}

TEST_F(DecoderTest, DxtImagesOfOddSizesWriteEveryPixel) {
  // 5 x 3: two blocks across, one down; the second block is all blue.
  std::vector<std::uint32_t> p =
      Decompress(1, 5, 3, {0x00, 0xF8, 0x00, 0xF8, 0, 0, 0, 0, 0x1F, 0x00, 0x1F, 0x00, 0, 0, 0, 0});
  ASSERT_EQ(p.size(), 15u);
  EXPECT_EQ(p[3], 0xFFFF0000u);
  EXPECT_EQ(p[4], 0xFF0000FFu);
  EXPECT_EQ(p[14], 0xFF0000FFu);
  p = Decompress(1, 1, 1, {0x1F, 0x00, 0x1F, 0x00, 0, 0, 0, 0});
  EXPECT_EQ(p, std::vector<std::uint32_t>({0xFF0000FF}));
  StandardImage plain{};
  MakeXRGB8ColorFormat(&plain.format);
  EXPECT_EQ(DecompressDXTStandardImage(&plain), 0);
  EXPECT_EQ(plain.pixels, nullptr);
}

TEST_F(DecoderTest, DdsDxtThroughTheChainAndDecompression) {
  DdsLayout s;
  s.fourCC = FourCC("DXT1"), s.width = 6, s.height = 2;
  s.data = {0x00, 0xF8, 0x00, 0xF8, 0, 0, 0, 0, 0xE0, 0x07, 0xE0, 0x07, 0, 0, 0, 0};
  Bytes file = WriteDds(s);
  StandardImage image;
  ASSERT_EQ(fixtures::DecodeWith(DecodeImageStream, file, &image), 0);
  EXPECT_EQ(image.format.compression, 1);
  ASSERT_EQ(DecompressDXTStandardImage(&image), 0);
  std::vector<std::uint32_t> p = fixtures::Argb(image);
  EXPECT_EQ(p[3], 0xFFFF0000u);
  EXPECT_EQ(p[4], 0xFF00FF00u);
  EXPECT_EQ(p[11], 0xFF00FF00u);
  ReleaseStandardImage(&image);
}

}  // namespace
