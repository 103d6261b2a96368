// String measuring and drawing: the pen and the box size, multibyte splitting, strings longer than
// the cache, the pixels both paths put on a 32-bit screen (by hand for the fake font, and the
// texture path against the software path for real fonts), the software path's transparent key,
// and fonts across a device loss.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "files/memimg.h"
#include "graphics/blend_state.h"
#include "graphics/draw_settings.h"
#include "graphics/font.h"
#include "graphics/font_system.h"
#include "graphics/graphics.h"
#include "graphics/graphics_system.h"
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
