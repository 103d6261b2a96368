// String measuring and drawing: the pen and the box size, multibyte splitting, strings longer than
// the cache, the pixels both paths put on a 32-bit screen (by hand for the fake font, and the
// texture path against the software path for real fonts), the software path's transparent key,
// and fonts across a device loss.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "files/memimg.h"
#include "graphics/blend_state.h"
#include "graphics/draw_settings.h"
#include "graphics/font.h"
#include "graphics/font_system.h"
#include "graphics/graph_record.h"
#include "graphics/graphics_inner.h"
#include "graphics/graphics_public.h"
#include "graphics/mask.h"
#include "platform/win32/user.h"
#include "tests/graphics/font_test_support.h"
#include "tests/graphics/graph_test_support.h"

namespace {

constexpr uint32_t kBackground = 0x204060;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000;

class FontStringTest : public GraphTest {
 protected:
  static uint32_t Color(uint32_t rgb) {
    return MakeScreenColorCode(static_cast<int>(rgb >> 16), static_cast<int>((rgb >> 8) & 0xFF),
                               static_cast<int>(rgb & 0xFF));
  }
  // Starts the engine, draws, presents and returns the window's picture; the engine is shut
  // down again.
  template <class Draw>
  std::vector<uint32_t> Frame(bool software, Draw draw) {
    // A software start keeps its setting: a Direct3D frame after it asks for Direct3D again.
    SetUseHardwareGraphics(software ? 0 : 1);
    Start(32, kBackground, software);
    EXPECT_EQ(ClearDrawTarget(), 0);
    draw();
    std::vector<uint32_t> frame = PresentAndRead(software);
    ShutdownEngine();
    return frame;
  }
  static int Count(const std::vector<uint32_t>& frame, uint32_t rgb) {
    int n = 0;
    for (uint32_t p : frame) n += p == rgb;
    return n;
  }
};

class FakeFontStringTest : public FontStringTest {
 protected:
  FakeOutlineScope fake_;
};

TEST_F(FakeFontStringTest, MeasuringGivesThePenAndTheBox) {
  Start(32, kBackground);
  FakeWorld().glyphs['A'] = {0, 6, 5, {"#"}};
  FakeWorld().glyphs['B'] = {0, 6, 7, {"#"}};
  const int font = CreateFontToHandle(nullptr, 8, -1, 1, -1, 1, 0);
  ASSERT_NE(font, -1);
  SetFontHandleCharSpacing(2, font);
  int size[2] = {};
  EXPECT_EQ(
      DrawFontStringCore(0, 0, 0, 0, 1.0, 1.0, "AB", 0, nullptr, nullptr, 1, font, 0, -1, 0, size),
      7 + 9 + 4);
  EXPECT_EQ(size[0], 20);
  EXPECT_EQ(size[1], 10);
  EXPECT_EQ(
      DrawFontStringCore(0, 0, 0, 0, 1.0, 1.0, "AB", 0, nullptr, nullptr, 1, font, 0, -1, 1, size),
      20);
  EXPECT_EQ(size[0], 10);
  EXPECT_EQ(size[1], 20);
  EXPECT_EQ(
      DrawFontStringCore(0, 0, 0, 0, 1.0, 1.0, "AB", 0, nullptr, nullptr, 1, font, 0, 1, 0, size),
      9);
  EXPECT_EQ(
      DrawFontStringCore(0, 0, 0, 0, 1.0, 1.0, "AB", 0, nullptr, nullptr, 1, -1, 0, -1, 0, size),
      -1);
}

TEST_F(FakeFontStringTest, DoubleByteCharactersAreKeptWhole) {
  Start(32, kBackground);
  const int font = CreateFontToHandle(nullptr, 8, -1, 0, 1, -1, 0);
  ASSERT_NE(font, -1);
  struct Case {
    const char* text;
    int byteCount;
    std::vector<uint8_t> list;
  };
  const Case kCases[] = {
      {"\x82\xA0"
       "B",
       1,
       {0x82, 0xA0, 0}},
      {"A\x82", -1, {'A', 0, 0, 0x82, 0, 0}},
      {"\xB1\x82\x40", -1, {0xB1, 0, 0, 0x82, 0x40, 0}},
      {"a\x81\x40 ", 3, {'a', 0, 0, 0x81, 0x40, 0}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    uint8_t list[32] = {};
    int count = 0;
    ASSERT_EQ(PrepareFontString(c.text, c.byteCount, font, list, &count), 0);
    ASSERT_EQ(count * 3, static_cast<int>(c.list.size()));
    EXPECT_EQ(std::vector<uint8_t>(list, list + count * 3), c.list);
  }
  EXPECT_EQ(PrepareFontString("A", -1, -1, nullptr, nullptr), -1);
}

// A string with more distinct characters than the cache holds (and longer than the static lists)
// draws exactly as its characters drawn one by one.
TEST_F(FakeFontStringTest, StringLongerThanTheCacheIsDrawnRight) {
  Start(32, kBackground, true);
  const int font = CreateFontToHandle(nullptr, 8, -1, 1, 1, 1, 0);
  const FontRecord* record = GetFontRecord(font);
  ASSERT_NE(record, nullptr);
  ASSERT_EQ(record->textureMode, 0);
  std::string text;
  for (int lead = 0x88; text.size() / 2 < static_cast<size_t>(record->slotCount) + 40; ++lead)
    for (int trail = 0x40; trail < 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      text += static_cast<char>(lead);
      text += static_cast<char>(trail);
    }
  const int width = static_cast<int>(text.size() / 2) * 8 + 16;
  MEMIMG whole{}, single{};
  ASSERT_EQ(CreateMEMIMG(&whole, width, 12, -1, 0, MEMIMG_PIXEL_XRGB8, 0, 0, 0, nullptr), 0);
  ASSERT_EQ(CreateMEMIMG(&single, width, 12, -1, 0, MEMIMG_PIXEL_XRGB8, 0, 0, 0, nullptr), 0);
  SetMEMIMGRectPixels(&whole, nullptr, 0);
  SetMEMIMGRectPixels(&single, nullptr, 0);
  const uint32_t white = Color(kWhite);
  const uint32_t red = Color(0xFF0000);
  const int pen = DrawFontStringCore(1, 0, 0, 0, 1.0, 1.0, text.c_str(), white, &whole, nullptr, 1,
                                     font, red, -1, 0, nullptr);
  EXPECT_EQ(pen, static_cast<int>(text.size() / 2) * 8);
  int x = 0;
  for (size_t i = 0; i < text.size(); i += 2) {
    x += DrawFontStringCore(1, x, 0, 0, 1.0, 1.0, text.substr(i, 2).c_str(), white, &single,
                            nullptr, 1, font, red, -1, 0, nullptr);
  }
  EXPECT_EQ(x, pen);
  const size_t bytes = static_cast<size_t>(whole.body->pitch) * 12;
  EXPECT_EQ(std::memcmp(whole.pixels, single.pixels, bytes), 0);
  ReleaseMEMIMG(&whole);
  ReleaseMEMIMG(&single);
}

// "AA" in white with a black edge at (10, 20), and turned a quarter clockwise at (100, 20); each
// glyph is two pixels wide with an edge of one, and advances six.
TEST_F(FakeFontStringTest, BothPathsDrawTheGlyphsWorkedOutByHand) {
  Canvas expected(kBackground);
  auto horizontal = [&](int x, int y) {
    for (int i : {1, 2}) {
      expected.Put(x + i, y + 1, kWhite);
      expected.Put(x + i, y, kBlack);
      expected.Put(x + i, y + 2, kBlack);
    }
    expected.Put(x, y + 1, kBlack);
    expected.Put(x + 3, y + 1, kBlack);
  };
  auto vertical = [&](int right, int top) {
    for (int i : {1, 2}) {
      expected.Put(right - 2, top + i, kWhite);
      expected.Put(right - 1, top + i, kBlack);
      expected.Put(right - 3, top + i, kBlack);
    }
    expected.Put(right - 2, top, kBlack);
    expected.Put(right - 2, top + 3, kBlack);
  };
  horizontal(10, 20);
  horizontal(16, 20);
  vertical(110, 20);
  vertical(110, 26);
  for (bool software : {false, true}) {
    SCOPED_TRACE(software ? "software" : "Direct3D");
    const std::vector<uint32_t> frame = Frame(software, [&] {
      FakeWorld().glyphs['A'] = {0, 6, 4, {"##"}};
      const int font = CreateFontToHandle(nullptr, 8, -1, 1, -1, 1, 0);
      ASSERT_NE(font, -1);
      EXPECT_EQ(DrawStringWithFontHandle(10, 20, "AA", Color(kWhite), font, Color(kBlack), 0), 0);
      EXPECT_EQ(DrawStringWithFontHandle(100, 20, "AA", Color(kWhite), font, Color(kBlack), 1), 0);
    });
    EXPECT_EQ(CountFrameDifferences(frame, expected.image), 0);
  }
}

// What a scaled glyph puts on the screen, row by row from the box's top-left pixel: '#' the text
// colour, 'K' the edge colour, '.' the background, '?' not looked at (a pixel whose centre lies on
// the box's edge); the ring of pixels around the picture is background too.
struct ScaledPicture {
  int left, top;
  std::vector<std::string> rows;
};

void ExpectScaledPicture(const std::vector<uint32_t>& frame, const ScaledPicture& picture) {
  ASSERT_EQ(frame.size(), 640u * 480u);
  const int height = static_cast<int>(picture.rows.size());
  const int width = static_cast<int>(picture.rows[0].size());
  for (int y = -1; y <= height; ++y)
    for (int x = -1; x <= width; ++x) {
      const bool inside = x >= 0 && y >= 0 && x < width && y < height;
      const char c = inside ? picture.rows[y][x] : '.';
      if (c == '?') continue;
      const uint32_t want = c == '#' ? kWhite : c == 'K' ? kBlack : kBackground;
      EXPECT_EQ(frame[(picture.top + y) * 640 + picture.left + x], want)
          << "(" << picture.left + x << ", " << picture.top + y << ")";
    }
}

// Scaled horizontal glyphs are their cells stretched into (x + pen + xo sx, y + top sy) to that
// plus (w sx, h sy), the edge under the text; the box's corner is the glyph's (x offset 0, top 0).
TEST_F(FakeFontStringTest, ScaledGlyphsFillTheirStretchedBox) {
  struct Case {
    const char* name;
    double sx, sy;
    int type, edge;
    std::vector<std::string> glyph;
    std::vector<std::string> picture;
  };
  const Case kCases[] = {
      {"2 x 2", 2, 2, 0, -1, {"###", "#.."}, {"######", "######", "##....", "##...."}},
      // Texel 1 begins at the centre of the second column: its two texels are alike.
      {"1.5 x 3",
       1.5,
       3,
       0,
       -1,
       {"##.", "..#"},
       {"###.?", "###.?", "###.?", "...#?", "...#?", "...#?"}},
      {"edge, 2 x 2",
       2,
       2,
       1,
       1,
       {"##"},
       {"..KKKK..", "..KKKK..", "KK####KK", "KK####KK", "..KKKK..", "..KKKK.."}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    int graphs = 0;
    const std::vector<uint32_t> frame = Frame(false, [&] {
      FakeWorld().glyphs['A'] = {0, 6, 4, c.glyph};
      const int font = CreateFontToHandle(nullptr, 8, -1, c.type, -1, c.edge, 0);
      ASSERT_NE(font, -1);
      const FontRecord* record = GetFontRecord(font);
      ASSERT_EQ(record->textureMode, 1);
      graphs = GetGraphHandleCount();
      const int pen = DrawFontStringCore(1, 10, 20, 1, c.sx, c.sy, "A", Color(kWhite), nullptr,
                                         nullptr, 1, font, Color(kBlack), -1, 0, nullptr);
      const GlyphSlot* slot = record->codes['A'].slot;
      ASSERT_NE(slot, nullptr);
      EXPECT_EQ(pen, static_cast<int>(slot->advance * c.sx));
      EXPECT_EQ(slot->xOffset, 0);
      EXPECT_EQ(slot->topOffset, 0);
      // No cell graph is left behind, and the filter is as it was.
      EXPECT_EQ(GetGraphHandleCount(), graphs);
      EXPECT_EQ(GetDrawFilterMode(), 0);
    });
    ExpectScaledPicture(frame, {10, 20, c.picture});
  }
}

// Two glyphs at 1.5: the second starts at the unrounded pen 3 x 1.5 = 4.5 plus its x offset
// 1 x 1.5, at 10 + 6 = 16, not at the pen's integer part (15.5); the first covers 10 to 13.
TEST_F(FakeFontStringTest, ScaledTextAdvancesByTheUnroundedPen) {
  const std::vector<uint32_t> frame = Frame(false, [&] {
    FakeWorld().glyphs['A'] = {0, 6, 3, {"##"}};
    FakeWorld().glyphs['B'] = {1, 6, 3, {"##"}};
    const int font = CreateFontToHandle(nullptr, 8, -1, 0, -1, -1, 0);
    ASSERT_NE(font, -1);
    EXPECT_EQ(DrawFontStringCore(1, 10, 20, 1, 1.5, 2.0, "AB", Color(kWhite), nullptr, nullptr, 1,
                                 font, 0, -1, 0, nullptr),
              9);
  });
  ExpectScaledPicture(frame, {10, 20, {"###...###", "###...###"}});
}

// A turned glyph at 2 x 2 covers x from XR - h sx to XR = x + (H - top) sx and y from YT = y + pen
// + xo sy to YT + w sy, its top row on the right. Its text pass filters bilinearly, so only the
// pixels between two texels of the same kind are exact: the glyph's two filled rows (4 x 4 cells)
// give the box's right half, its two empty rows the left half.
TEST_F(FakeFontStringTest, ScaledVerticalGlyphLandsInTheTurnedBox) {
  int graphs = 0;
  const std::vector<uint32_t> frame = Frame(false, [&] {
    FakeWorld().glyphs['A'] = {0, 6, 4, {"####", "####", "....", "...."}};
    const int font = CreateFontToHandle(nullptr, 8, -1, 0, -1, -1, 0);
    ASSERT_NE(font, -1);
    ASSERT_EQ(GetFontRecord(font)->lineHeight, 8);
    graphs = GetGraphHandleCount();
    EXPECT_EQ(GetDrawFilterMode(), 0);
    EXPECT_EQ(DrawFontStringCore(1, 100, 50, 1, 2.0, 2.0, "AA", Color(kWhite), nullptr, nullptr, 1,
                                 font, 0, -1, 1, nullptr),
              16);
    EXPECT_EQ(GetGraphHandleCount(), graphs);
    EXPECT_EQ(GetDrawFilterMode(), 1);
  });
  ASSERT_EQ(frame.size(), 640u * 480u);
  // XR = 100 + 8 x 2 = 116; the first glyph from y 50 to 58, the second from 58 to 66.
  for (int y = 51; y < 65; ++y) {
    if (y == 57 || y == 58) continue;  // where the two boxes meet, filtered
    SCOPED_TRACE(y);
    EXPECT_EQ(frame[y * 640 + 113], kWhite);
    EXPECT_EQ(frame[y * 640 + 114], kWhite);
    EXPECT_EQ(frame[y * 640 + 110], kBackground);
    EXPECT_EQ(frame[y * 640 + 117], kBackground);  // right of the narrowed draw area
  }
  for (int x = 100; x < 120; ++x) {
    EXPECT_EQ(frame[49 * 640 + x], kBackground) << x;
    EXPECT_EQ(frame[66 * 640 + x], kBackground) << x;
  }
}

// A scale of zero, a negative one or one that is no number draws and measures nothing; the string
// is taken as empty.
TEST_F(FakeFontStringTest, UnusableScalesDrawNothing) {
  const double kScales[] = {0.0, -2.0, std::nan(""), HUGE_VAL};
  const std::vector<uint32_t> frame = Frame(false, [&] {
    FakeWorld().glyphs['A'] = {0, 6, 4, {"##"}};
    const int font = CreateFontToHandle(nullptr, 8, -1, 1, -1, 1, 0);
    ASSERT_NE(font, -1);
    const int graphs = GetGraphHandleCount();
    for (double scale : kScales) {
      SCOPED_TRACE(scale);
      for (int vertical : {0, 1}) {
        int size[2] = {-1, -1};
        EXPECT_EQ(DrawFontStringCore(1, 10, 20, 1, scale, 1.0, "AA", Color(kWhite), nullptr,
                                     nullptr, 1, font, Color(kBlack), -1, vertical, size),
                  0);
        EXPECT_EQ(DrawFontStringCore(1, 10, 20, 1, 1.0, scale, "AA", Color(kWhite), nullptr,
                                     nullptr, 1, font, Color(kBlack), -1, vertical, nullptr),
                  0);
        EXPECT_EQ(DrawFontStringCore(0, 0, 0, 0, scale, scale, "AA", 0, nullptr, nullptr, 1, font,
                                     0, -1, vertical, nullptr),
                  0);
        EXPECT_EQ(size[vertical ? 1 : 0], 0);
      }
    }
    EXPECT_EQ(GetGraphHandleCount(), graphs);
  });
  EXPECT_EQ(Count(frame, kBackground), 640 * 480);
}

// A turned glyph whose cell cannot be cut out of the cache (its edge graph gone) draws nothing,
// leaves no graph behind, and the string still advances.
TEST_F(FakeFontStringTest, ScaledVerticalGlyphWithoutItsCellDrawsNothing) {
  const std::vector<uint32_t> frame = Frame(false, [&] {
    FakeWorld().glyphs['A'] = {0, 6, 4, {"##"}};
    const int font = CreateFontToHandle(nullptr, 8, -1, 1, -1, 1, 0);
    ASSERT_NE(font, -1);
    ASSERT_EQ(DrawFontStringCore(0, 0, 0, 0, 1.0, 1.0, "A", 0, nullptr, nullptr, 1, font, 0, -1, 0,
                                 nullptr),
              6);
    ASSERT_EQ(DeleteGraphHandle(GetFontRecord(font)->edgeGraph), 0);
    const int graphs = GetGraphHandleCount();
    EXPECT_EQ(DrawFontStringCore(1, 100, 50, 1, 2.0, 2.0, "AA", Color(kWhite), nullptr, nullptr, 1,
                                 font, Color(kBlack), -1, 1, nullptr),
              24);
    EXPECT_EQ(GetGraphHandleCount(), graphs);
  });
  EXPECT_EQ(Count(frame, kBackground), 640 * 480);
}

// Measuring a texture-mode font applies the scales with the flag off too: the pen times the scale
// along the line (scale x across, scale y down), the line height unscaled across it. A memory-cache
// font measures unscaled.
TEST_F(FakeFontStringTest, MeasuringWithScalesScalesThePen) {
  FakeWorld().glyphs['A'] = {0, 6, 5, {"#"}};
  FakeWorld().glyphs['B'] = {0, 6, 7, {"#"}};
  for (bool software : {false, true}) {
    SCOPED_TRACE(software ? "memory cache" : "texture");
    Frame(software, [&] {
      const int font = CreateFontToHandle(nullptr, 8, -1, 0, -1, -1, 0);
      ASSERT_NE(font, -1);
      ASSERT_EQ(GetFontRecord(font)->textureMode, software ? 0 : 1);
      int size[2] = {};
      EXPECT_EQ(DrawFontStringCore(0, 0, 0, 0, 1.5, 2.5, "AB", 0, nullptr, nullptr, 1, font, 0, -1,
                                   0, size),
                software ? 12 : 18);
      EXPECT_EQ(size[0], software ? 12 : 18);
      EXPECT_EQ(size[1], 8);
      EXPECT_EQ(DrawFontStringCore(0, 0, 0, 0, 1.5, 2.5, "AB", 0, nullptr, nullptr, 1, font, 0, -1,
                                   1, size),
                software ? 12 : 30);
      EXPECT_EQ(size[0], 8);
      EXPECT_EQ(size[1], software ? 12 : 30);
    });
  }
}

// A run of glyphs cut by the draw area, through a glyph's edge and its text, under a brightness:
// inside the area the pixels of the uncut run, outside the background.
TEST_F(FakeFontStringTest, DrawAreaCutsARunOfGlyphsWhereItsPixelsWere) {
  auto draw = [](bool cut) {
    FakeWorld().glyphs['A'] = {0, 6, 4, {"##"}};
    const int font = CreateFontToHandle(nullptr, 8, -1, 1, -1, 1, 0);
    ASSERT_NE(font, -1);
    SetDrawBrightness(255, 160, 64);
    if (cut) {
      ASSERT_EQ(SetDrawClipRect(12, 21, 27, 23), 0);
    }
    EXPECT_EQ(DrawStringWithFontHandle(10, 20, "AAAA", Color(kWhite), font, Color(0x4080C0), 0), 0);
  };
  const std::vector<uint32_t> whole = Frame(false, [&] { draw(false); });
  const std::vector<uint32_t> cut = Frame(false, [&] { draw(true); });
  ASSERT_EQ(whole.size(), cut.size());
  int inside = 0, drawn = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      const size_t i = static_cast<size_t>(y) * 640 + static_cast<size_t>(x);
      const bool in = x >= 12 && x < 27 && y >= 21 && y < 23;
      ASSERT_EQ(cut[i] & 0xFFFFFF, in ? whole[i] & 0xFFFFFF : kBackground) << x << ", " << y;
      inside += in;
      drawn += in && whole[i] != kBackground;
    }
  EXPECT_EQ(inside, 30);
  EXPECT_GT(drawn, 10);
}

// Grey text on the software path, blended over the background by its coverage: level v of the
// outline is coverage v - 1, drawn with alpha 16 x coverage, and full coverage opaque. Each
// channel of a blended pixel is floor((d x 256 + (s - d) x a) / 256) for alpha a, text channel s
// and background channel d; alpha 0 leaves the background.
TEST_F(FakeFontStringTest, GreyTextBlendsByItsCoverageOnTheSoftwarePath) {
  constexpr uint32_t kText = 0xF0C835;
  struct Expected {
    int x, y;
    uint32_t rgb;
  };
  // Row 0: levels 16, 12, 9, 5; row 1: levels 15, 2, 1 and an empty pixel.
  const Expected kPixels[] = {
      {0, 0, 0xF0C835},  // alpha 255: the text colour itself
      {1, 0, 0xAF9D42},  // alpha 176: 0x20 + 208 x 176 / 256 = 0xAF, 0x40 + 0x5D, 0x60 - 0x1E
      {2, 0, 0x88844A},  // alpha 128
      {3, 0, 0x546255},  // alpha 64
      {0, 1, 0xD6B73A},  // alpha 224
      {1, 1, 0x2D485D},  // alpha 16
      {2, 1, kBackground}, {3, 1, kBackground},
  };
  for (bool software : {false, true}) {
    SCOPED_TRACE(software ? "software" : "Direct3D");
    const std::vector<uint32_t> frame = Frame(software, [&] {
      FakeWorld().glyphs['A'] = {0, 6, 6, {"#c95", "f21."}};
      const int font = CreateFontToHandle(nullptr, 8, -1, 2, -1, -1, 0);
      ASSERT_NE(font, -1);
      EXPECT_EQ(GetFontRecord(font)->textureMode, software ? 0 : 1);
      EXPECT_EQ(DrawStringWithFontHandle(10, 20, "A", Color(kText), font, Color(kBlack), 0), 0);
    });
    ASSERT_EQ(frame.size(), 640u * 480u);
    if (!software) {
      // The texture path draws full coverage opaque too.
      EXPECT_EQ(frame[20 * 640 + 10], kText);
      continue;
    }
    Canvas expected(kBackground);
    for (const Expected& p : kPixels) expected.Put(10 + p.x, 20 + p.y, p.rgb);
    EXPECT_EQ(CountFrameDifferences(frame, expected.image), 0);
  }
}

// On a 16-bit screen grey text goes through the work image with alpha as well, with blend mode 0:
// full coverage shows the text colour as plain text shows it, half coverage a colour between the
// text and the background in every channel, no coverage the background.
TEST_F(FakeFontStringTest, GreyTextBlendsOnA16BitScreen) {
  constexpr uint32_t kText = 0xF0C835;
  SetUseHardwareGraphics(0);
  Start(16, kBackground, true);
  EXPECT_EQ(ClearDrawTarget(), 0);
  FakeWorld().glyphs['A'] = {0, 6, 6, {"#9."}};
  const int grey = CreateFontToHandle(nullptr, 8, -1, 2, -1, -1, 0);
  const int plain = CreateFontToHandle(nullptr, 8, -1, 0, -1, -1, 0);
  ASSERT_NE(grey, -1);
  ASSERT_NE(plain, -1);
  EXPECT_EQ(DrawStringWithFontHandle(10, 20, "A", Color(kText), grey, 0, 0), 0);
  EXPECT_EQ(DrawStringWithFontHandle(30, 20, "A", Color(kText), plain, 0, 0), 0);
  const std::vector<uint32_t> frame = PresentAndRead(true);
  ASSERT_EQ(frame.size(), 640u * 480u);
  const uint32_t background = frame[0];
  const uint32_t text = frame[20 * 640 + 30];
  ASSERT_NE(text, background);
  EXPECT_EQ(frame[20 * 640 + 10], text);
  const uint32_t half = frame[20 * 640 + 11];
  for (int shift : {0, 8, 16}) {
    SCOPED_TRACE(shift);
    const int lo = std::min((background >> shift) & 0xFF, (text >> shift) & 0xFF);
    const int hi = std::max((background >> shift) & 0xFF, (text >> shift) & 0xFF);
    EXPECT_GT(static_cast<int>((half >> shift) & 0xFF), lo);
    EXPECT_LT(static_cast<int>((half >> shift) & 0xFF), hi);
  }
  EXPECT_EQ(frame[20 * 640 + 12], background);
  EXPECT_EQ(frame[21 * 640 + 10], background);
}

// Grey text with an edge: glyph coverage b in the low half of a cell byte, the largest coverage e
// around it in the high half. b = 15 is the text colour opaque; b = 0 the edge colour with alpha
// 16 x e; otherwise alpha a = 16b + (15 - b)e and each channel edge + floor((text - edge) x t /
// 256) with t = 4096b / a; then blended over the background as above.
TEST_F(FakeFontStringTest, GreyEdgeTextMixesTheEdgeIntoPartlyCoveredPixels) {
  constexpr uint32_t kText = 0xF0C835;
  constexpr uint32_t kEdge = 0x1080E0;
  // Levels 16, 9, 12 with an edge of one: the cell bytes of the 5 x 3 box are
  //   .. f0 80 b0 ..
  //   f0 8f f8 8b b0
  //   .. f0 80 b0 ..
  const std::vector<std::string> kRows = {".ABC.", "AKXYC", ".ABC."};
  auto colour = [&](char c) -> uint32_t {
    switch (c) {
      case 'A': return 0x117CD8;  // edge, alpha 240
      case 'B': return 0x1860A0;  // edge, alpha 128
      case 'C': return 0x156CB8;  // edge, alpha 176
      case 'K': return kText;     // b = 15
      case 'X': return 0x809D7E;  // b = 8, e = 15: a = 233, t = 140, mixed 0x8AA782
      case 'Y': return 0xACA452;  // b = 11, e = 8: a = 208, t = 216, mixed 0xCDBC4F
      default: return kBackground;
    }
  };
  Canvas expected(kBackground);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) expected.Put(30 + x, 40 + y, colour(kRows[y][x]));
  const std::vector<uint32_t> frame = Frame(true, [&] {
    FakeWorld().glyphs['A'] = {0, 6, 6, {"#9c"}};
    const int font = CreateFontToHandle(nullptr, 8, -1, 3, -1, 1, 0);
    ASSERT_NE(font, -1);
    EXPECT_EQ(DrawStringWithFontHandle(30, 40, "A", Color(kText), font, Color(kEdge), 0), 0);
  });
  EXPECT_EQ(CountFrameDifferences(frame, expected.image), 0);
}

// A tall glyph (a bar of 20 rows, taller than the line) drawn under a mask that lets everything
// through: the masked draw covers the string's line across its direction, the line height or the
// size + 3 whichever is more, and leaves the background beyond it.
TEST_F(FakeFontStringTest, MaskedTextCoversTheLineHeight) {
  struct Case {
    const char* name;
    int type;
    int edge;
    int across;  // what the mask lets through across the line
  };
  // Size 8 and a character height of 8: the line is 8 high, 14 with an edge of 3.
  constexpr Case kCases[] = {{"plain", 0, -1, 11}, {"edge 3", 1, 3, 14}};
  for (const Case& c : kCases) {
    for (bool software : {false, true}) {
      for (int vertical : {0, 1}) {
        SCOPED_TRACE(std::string(c.name) + (software ? " software" : " Direct3D") +
                     (vertical ? " vertical" : " horizontal"));
        auto draw = [&](bool masked) {
          return Frame(software, [&] {
            FakeWorld().maxCharWidth = 24;
            FakeWorld().glyphs['A'] = {0, 6, 4, std::vector<std::string>(20, "#")};
            const int font = CreateFontToHandle(nullptr, 8, -1, c.type, -1, c.edge, 0);
            ASSERT_NE(font, -1);
            ASSERT_EQ(GetFontRecord(font)->lineHeight, c.type ? 14 : 8);
            if (masked) {
              ASSERT_EQ(SetMaskScreenCreated(1), 0);
              int pitch = 0;
              uint8_t* bytes = GetMaskBuffer(&pitch);
              ASSERT_NE(bytes, nullptr);
              std::memset(bytes, 1, static_cast<size_t>(pitch) * 480);
              ASSERT_EQ(SetMaskUseFlag(1), 0);
            }
            EXPECT_EQ(DrawStringWithFontHandle(100, 100, "A", Color(kWhite), font, Color(kBlack),
                                               vertical),
                      0);
          });
        };
        const std::vector<uint32_t> plain = draw(false);
        const std::vector<uint32_t> masked = draw(true);
        ASSERT_EQ(plain.size(), masked.size());
        int kept = 0, cut = 0;
        for (int y = 0; y < 480; ++y)
          for (int x = 0; x < 640; ++x) {
            const size_t i = static_cast<size_t>(y) * 640 + static_cast<size_t>(x);
            const int offset = vertical ? x - 100 : y - 100;
            const bool inside = offset >= 0 && offset < c.across;
            ASSERT_EQ(masked[i], inside ? plain[i] : kBackground) << x << ", " << y;
            kept += inside && plain[i] != kBackground;
            cut += !inside && plain[i] != kBackground;
          }
        // The bar reaches beyond the line on one side: below it, or left of it when turned.
        EXPECT_GT(kept, 5);
        EXPECT_GT(cut, 5);
      }
    }
  }
}

// Subtractive text on a device without reverse subtraction: the line's area is turned over, the
// text added, and the area turned back. Over the line height (14 with an edge of 3, more than the
// size + 3) that gives what the device's own subtraction gives: the tall bar's part below size + 3
// is subtracted too.
TEST_F(FakeFontStringTest, EmulatedSubtractCoversTheLineHeight) {
  auto draw = [&](bool native) {
    return Frame(false, [&] {
      ASSERT_TRUE(GraphicsCore().nativeSubtractBlend);
      GraphicsCore().nativeSubtractBlend = native;
      FakeWorld().maxCharWidth = 24;
      FakeWorld().glyphs['A'] = {0, 6, 4, std::vector<std::string>(20, "#")};
      const int font = CreateFontToHandle(nullptr, 8, -1, 1, -1, 3, 0);
      ASSERT_NE(font, -1);
      ASSERT_EQ(GetFontRecord(font)->lineHeight, 14);
      SetBlendModeAndParam(3, 255);
      EXPECT_EQ(DrawStringWithFontHandle(100, 100, "A", Color(0x204060), font, Color(0x102030), 0),
                0);
      SetBlendModeAndParam(0, 255);
      GraphicsCore().nativeSubtractBlend = 1;
    });
  };
  const std::vector<uint32_t> native = draw(true);
  const std::vector<uint32_t> emulated = draw(false);
  ASSERT_EQ(native.size(), emulated.size());
  // The bar's column turns black where the text is subtracted, its edge half dark.
  EXPECT_EQ(native[112 * 640 + 103], 0u);
  EXPECT_EQ(native[112 * 640 + 101], 0x102030u);
  for (int y = 100; y < 114; ++y)
    for (int x = 90; x < 120; ++x)
      ASSERT_EQ(emulated[y * 640 + x], native[y * 640 + x]) << x << ", " << y;
}

// A blended string on the software path goes through a work image the size of the string's box:
// its advance along the line and the line height across it. What a glyph draws outside that box
// (a bar taller than the line, starting left of the pen) is cut; inside, the pixels are those of
// the direct draw (white text with a red edge added onto black is the text itself, but for the
// add's rounding of a channel or two).
TEST_F(FakeFontStringTest, BlendedSoftwareTextIsCutToItsLineBox) {
  for (int vertical : {0, 1}) {
    SCOPED_TRACE(vertical ? "vertical" : "horizontal");
    auto draw = [&](bool blended) {
      Start(32, 0, true);
      EXPECT_EQ(ClearDrawTarget(), 0);
      FakeWorld().maxCharWidth = 24;
      FakeWorld().glyphs['A'] = {-2, 6, 6, std::vector<std::string>(20, "###")};
      const int font = CreateFontToHandle(nullptr, 8, -1, 1, -1, 1, 0);
      EXPECT_EQ(GetFontRecord(font)->lineHeight, 10);
      if (blended) SetBlendModeAndParam(2, 255);
      EXPECT_EQ(
          DrawStringWithFontHandle(100, 100, "AA", Color(kWhite), font, Color(0xFF0000), vertical),
          0);
      SetBlendModeAndParam(0, 255);
      std::vector<uint32_t> frame = PresentAndRead(true);
      ShutdownEngine();
      return frame;
    };
    const std::vector<uint32_t> direct = draw(false);
    const std::vector<uint32_t> blended = draw(true);
    ASSERT_EQ(direct.size(), blended.size());
    // Two advances of 8 along the line, the line height of 10 across it.
    const RECT box = vertical ? RECT{100, 100, 110, 116} : RECT{100, 100, 116, 110};
    int kept = 0, cut = 0;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) {
        const size_t i = static_cast<size_t>(y) * 640 + static_cast<size_t>(x);
        const bool inside = x >= box.left && x < box.right && y >= box.top && y < box.bottom;
        const uint32_t want = inside ? direct[i] : 0u;
        for (int shift : {0, 8, 16}) {
          const int d = static_cast<int>((blended[i] >> shift) & 0xFF) -
                        static_cast<int>((want >> shift) & 0xFF);
          ASSERT_LE(std::abs(d), 2) << x << ", " << y << ": " << blended[i] << " for " << want;
        }
        kept += inside && direct[i] != 0;
        cut += !inside && direct[i] != 0;
      }
    EXPECT_GT(kept, 30);
    EXPECT_GT(cut, 30);
  }
}

// The software path's work image keys out a colour that no glyph pixel has, even when the
// brightness turns the text into that colour or the edge has the text's colour.
TEST_F(FakeFontStringTest, SoftwareWorkImageKeyDiffersFromTheDrawnColours) {
  Start(32, 0x808080, true);
  FakeWorld().glyphs['A'] = {0, 6, 4, {"##"}};
  const int font = CreateFontToHandle(nullptr, 8, -1, 1, -1, 1, 0);
  struct Case {
    int brightness;
    uint32_t text, edge;
  };
  constexpr Case kCases[] = {{0, kWhite, kWhite}, {255, kBlack, kBlack}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.brightness);
    ClearDrawTarget();
    SetDrawBrightness(c.brightness, c.brightness, c.brightness);
    SetBlendModeAndParam(1, 128);
    EXPECT_EQ(DrawStringWithFontHandle(10, 20, "A", Color(c.text), font, Color(c.edge), 0), 0);
    SetBlendModeAndParam(0, 255);
    SetDrawBrightness(255, 255, 255);
    const std::vector<uint32_t> frame = PresentAndRead(true);
    ASSERT_FALSE(frame.empty());
    // Black at half strength over grey, for the glyph and for its edge.
    for (int at : {21 * 640 + 11, 20 * 640 + 11}) {
      EXPECT_GE(frame[at] & 0xFF, 0x38u) << at;
      EXPECT_LE(frame[at] & 0xFF, 0x48u) << at;
    }
    EXPECT_EQ(frame[20 * 640 + 10], 0x808080u);
  }
}

// The same colour codes string after string: the colours drawn follow the draw brightness, and
// the screen's colour format, of each string.
TEST_F(FakeFontStringTest, ColoursFollowTheBrightnessAndTheScreenOfEachString) {
  struct Case {
    int x, red, green, blue;
  };
  constexpr Case kCases[] = {
      {10, 255, 255, 255}, {40, 255, 0, 0}, {70, 0, 0, 255}, {100, 255, 255, 255}};
  const std::vector<uint32_t> frame = Frame(false, [&] {
    FakeWorld().glyphs['A'] = {0, 6, 4, {"##"}};
    const int font = CreateFontToHandle(nullptr, 8, -1, 1, -1, 1, 0);
    ASSERT_NE(font, -1);
    for (const Case& c : kCases) {
      SetDrawBrightness(c.red, c.green, c.blue);
      EXPECT_EQ(DrawStringWithFontHandle(c.x, 20, "A", Color(kWhite), font, Color(0x808080), 0), 0);
    }
    SetDrawBrightness(255, 255, 255);
  });
  ASSERT_EQ(frame.size(), 640u * 480u);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.x);
    const auto at = [&](int x, int y) {
      return frame[static_cast<size_t>(y * 640 + x)] & 0xFFFFFF;
    };
    EXPECT_EQ(at(c.x + 1, 21), static_cast<uint32_t>(c.red << 16 | c.green << 8 | c.blue));
    EXPECT_EQ(at(c.x + 1, 20),
              static_cast<uint32_t>((0x80 * c.red / 255) << 16 | (0x80 * c.green / 255) << 8 |
                                    (0x80 * c.blue / 255)));
  }
  // One code on a 32-bit and then a 16-bit screen: green there, full red here.
  for (const int bits : {32, 16}) {
    SCOPED_TRACE(bits);
    SetUseHardwareGraphics(1);
    Start(bits, kBackground, false);
    EXPECT_EQ(ClearDrawTarget(), 0);
    FakeWorld().glyphs['A'] = {0, 6, 4, {"##"}};
    const int font = CreateFontToHandle(nullptr, 8, -1, 1, -1, 1, 0);
    ASSERT_NE(font, -1);
    EXPECT_EQ(DrawStringWithFontHandle(10, 20, "A", 0xF800, font, 0, 0), 0);
    const std::vector<uint32_t> picture = PresentAndRead(false);
    ShutdownEngine();
    ASSERT_EQ(picture.size(), 640u * 480u);
    const uint32_t text = picture[21 * 640 + 11];
    if (bits == 32) {
      EXPECT_EQ(text & 0xFFFFFF, 0x00F800u);
    } else {
      // The 16-bit picture holds R5G6B5 words.
      EXPECT_EQ(text & 0xFFFF, 0xF800u);
    }
  }
}

TEST_F(FakeFontStringTest, DrawEntryRefusesADeadHandleAndIgnoresEmptyStrings) {
  Start(32, kBackground);
  EXPECT_EQ(DrawStringWithFontHandle(0, 0, "A", 0, -1, 0, 0), -1);
  EXPECT_NE(ReadLog().find("フォントハンドル値が異常です"), std::string::npos);
  const int font = CreateFontToHandle(nullptr, 8, -1, 0, -1, -1, 0);
  EXPECT_EQ(DrawStringWithFontHandle(0, 0, "", 0, font, 0, 0), 0);
  EXPECT_EQ(DrawStringWithFontHandle(0, 0, nullptr, 0, font, 0, 0), 0);
  // The draw settings are as they were.
  SetDrawBrightness(10, 20, 30);
  SetDrawClipRect(5, 6, 300, 200);
  DrawStringWithFontHandle(4, 4, "AAAA", 0, font, 0, 1);
  DrawStringWithFontHandle(4, 4, "AAAA", 0, font, 0, 0);
  EXPECT_EQ(GetDrawBrightnessRGB(GetDrawSettings()), 0x0A141Eu);
  EXPECT_EQ(GetDrawSettings()->drawArea.left, 5);
  EXPECT_EQ(GetDrawSettings()->drawArea.bottom, 200);
}

// Real fonts: Japanese text in the gothic face and ASCII, horizontal and vertical; the texture
// path and the software path put the same pixels on the screen.
TEST_F(FontStringTest, RealFontsDrawTheSameOnBothPaths) {
  const char* kJapanese = "\x82\xA0\x82\xA2\x82\xA4\x8A\xBF\x8E\x9A\xB1\xB2\xB3";  // あいう漢字ｱｲｳ
  std::vector<uint32_t> frames[2];
  int advances[3] = {};
  for (bool software : {false, true}) {
    frames[software] = Frame(software, [&] {
      const int font = CreateFontToHandle(nullptr, 16, 4, 1, 1, 1, 0);
      const FontRecord* record = GetFontRecord(font);
      ASSERT_NE(record, nullptr);
      EXPECT_EQ(record->lineHeight, 18);
      const char* samples[3] = {"\x82\xA0", "\xB1", "A"};
      for (int i = 0; i < 3; ++i)
        advances[i] = DrawFontStringCore(0, 0, 0, 0, 1.0, 1.0, samples[i], 0, nullptr, nullptr, 1,
                                         font, 0, -1, 0, nullptr);
      DrawStringWithFontHandle(8, 8, kJapanese, Color(kWhite), font, Color(kBlack), 0);
      DrawStringWithFontHandle(8, 40, "Ag ~", Color(kWhite), font, Color(kBlack), 0);
      DrawStringWithFontHandle(400, 8, kJapanese, Color(kWhite), font, Color(kBlack), 1);
    });
    EXPECT_GT(advances[0], advances[1]);
    EXPECT_EQ(advances[1], advances[2]);
  }
  ASSERT_FALSE(frames[0].empty());
  EXPECT_EQ(CountFrameDifferences(frames[0],
                                  [&] {
                                    TestImage image(640, 480);
                                    image.pixels = frames[1];
                                    return image;
                                  }()),
            0);
  // Loose: white text with its black edge in the boxes the strings cover, and nothing elsewhere.
  auto inBox = [&](int left, int top, int right, int bottom, uint32_t rgb) {
    int n = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) n += frames[0][y * 640 + x] == rgb;
    return n;
  };
  EXPECT_GT(inBox(8, 8, 8 + 13 * 18, 8 + 18, kWhite), 150);
  EXPECT_GT(inBox(8, 8, 8 + 13 * 18, 8 + 18, kBlack), 150);
  EXPECT_GT(inBox(8, 40, 8 + 4 * 18, 40 + 18, kWhite), 20);
  EXPECT_GT(inBox(400, 8, 400 + 18, 8 + 13 * 18, kWhite), 150);
  EXPECT_EQ(Count(frames[0], kWhite), inBox(8, 8, 8 + 13 * 18, 8 + 18, kWhite) +
                                          inBox(8, 40, 8 + 4 * 18, 40 + 18, kWhite) +
                                          inBox(400, 8, 400 + 18, 8 + 13 * 18, kWhite));
}

TEST_F(FontStringTest, DeviceLossKeepsFontHandlesAndDrawsTheSame) {
  Start(32, kBackground);
  const int font = CreateFontToHandle(nullptr, 16, 4, 1, -1, 2, 0);
  const int plain = CreateFontToHandle(nullptr, 12, -1, 2, -1, -1, 0);
  ASSERT_NE(font, -1);
  SetFontHandleCharSpacing(1, font);
  auto draw = [&] {
    ClearDrawTarget();
    DrawStringWithFontHandle(20, 30, "Fonts \x82\xA0\x8A\xBF", Color(kWhite), font, Color(kBlack),
                             0);
    DrawStringWithFontHandle(20, 80, "grey", Color(0xFFC040), plain, 0, 0);
    return PresentAndRead();
  };
  const std::vector<uint32_t> before = draw();
  EXPECT_GT(Count(before, kWhite), 50);
  D3D9InjectDeviceLoss();
  EXPECT_EQ(PresentFrame(), -1);
  PostMessageA(GetEngineWindowHandle(), WM_ACTIVATE, 1, 0);
  ProcessWindowMessages();
  ASSERT_EQ(IsDirect3DMode(), 1);
  EXPECT_TRUE(IsFontHandleValid(font));
  EXPECT_TRUE(IsFontHandleValid(plain));
  EXPECT_EQ(GetFontRecord(font)->spacing, 1);
  EXPECT_EQ(draw(), before);
}

}  // namespace
