// What the game draws, read back from the headless window: the bitmap font's layout and the
// heads-up display's gauges, on fixture bitmaps whose cells each have a colour of their own.
#include <gtest/gtest.h>

#include <vector>

#include "engine.h"
#include "game/assets.h"
#include "game/bitmap_text.h"
#include "game/game_test_support.h"
#include "game/hud.h"
#include "host/window_system.h"
#include "platform/win32/gdi_present.h"

using namespace gametest;

namespace {

// Glyph i of the font is filled with its own colour.
std::uint32_t GlyphColour(int glyph) {
  return static_cast<std::uint32_t>(glyph * 4 + 8) << 16 | 0x00C000u |
         static_cast<std::uint32_t>(glyph);
}

class DrawingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteTables(DefaultTables());
    WriteFixtureBitmaps();
    WritePatternBitmap("image/txt.bmp", 120, 160,
                       [](int x, int y) { return GlyphColour(y / 16 * 10 + x / 12); });
    // Gauge frames are transparent (black); the fills are bright.
    WritePatternBitmap("image/hgauge.bmp", 320, 64,
                       [](int, int y) { return y < 32 ? 0u : 0x30FF30u; });
    WritePatternBitmap("image/jgauge.bmp", 240, 72, [](int, int y) {
      return y < 24 ? 0u : y < 48 ? 0x3030FFu : 0xFF3030u;
    });
    ResetGameState();
    ChangeWindowMode(1);
    SetLogOutput(0);
    SetRunWhileInactive(1);
    ASSERT_EQ(InitializeEngine(), 0);
    LoadBitmapFont();
    LoadGameAssets();
  }
  void TearDown() override { ShutdownEngine(); }

  // The presented picture after one frame of drawing.
  std::vector<std::uint32_t> Present() {
    PresentFrame();
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    EXPECT_TRUE(GetWindowPresentedImage(GetEngineWindowHandle(), &width, &height, &pixels));
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);
    return pixels;
  }
  static std::uint32_t At(const std::vector<std::uint32_t>& pixels, int x, int y) {
    return pixels[y * 640 + x] & 0xFFFFFF;
  }

  WorkingFolder folder;
};

TEST_F(DrawingTest, TextAdvancesTwelvePixelsPerGlyphSpacesIncluded) {
  ClearDrawTarget();
  DrawBitmapText(kWhite, 4, 4, "HI :    1234", 1);
  const auto pixels = Present();
  const int expected[] = {17, 18, 59, 40, 59, 59, 59, 59, 1, 2, 3, 4};
  for (int i = 0; i < 12; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(At(pixels, 4 + 12 * i + 6, 4 + 8), GlyphColour(expected[i]));
  }
  EXPECT_EQ(At(pixels, 4 + 12 * 12 + 6, 12), 0u);
}

TEST_F(DrawingTest, ALowerCaseLetterEndsTheTextAndScaleTwoDoublesTheCells) {
  ClearDrawTarget();
  DrawBitmapText(kWhite, 100, 100, "ABcD", 2);
  const auto pixels = Present();
  EXPECT_EQ(At(pixels, 100 + 2, 100 + 2), GlyphColour(10));
  EXPECT_EQ(At(pixels, 100 + 23, 100 + 31), GlyphColour(10));
  EXPECT_EQ(At(pixels, 124 + 12, 116), GlyphColour(11));
  EXPECT_EQ(At(pixels, 148 + 12, 116), 0u);  // nothing from "c" on
}

TEST_F(DrawingTest, GaugeFillsFollowTheirValues) {
  game.player.hp = 32;  // half of 64: 312 / 2 + 4 pixels
  game.player.hover = 0;
  game.player.power = 1000;
  game.stage = 5;
  ClearDrawTarget();
  DrawHud();
  const auto pixels = Present();
  EXPECT_EQ(At(pixels, 64 + 159, 444 + 10), 0x30FF30u);
  EXPECT_EQ(At(pixels, 64 + 160, 444 + 10), 0u);
  EXPECT_EQ(At(pixels, 384 + 3, 428 + 10), 0x3030FFu);  // an empty hover gauge still shows 4 pixels
  EXPECT_EQ(At(pixels, 384 + 4, 428 + 10), 0u);
  EXPECT_EQ(At(pixels, 384 + 235, 452 + 10), 0xFF3030u);
}

TEST_F(DrawingTest, AZeroMaximumDrawsAnEmptyGaugeAndANegativeHpNone) {
  tables.player.maxHp = 0;
  tables.player.hoverMax = 0;
  game.player.hp = 50;
  game.player.hover = 50;
  ClearDrawTarget();
  DrawHud();
  auto pixels = Present();
  EXPECT_EQ(At(pixels, 64 + 3, 454), 0x30FF30u);
  EXPECT_EQ(At(pixels, 64 + 4, 454), 0u);
  EXPECT_EQ(At(pixels, 384 + 4, 438), 0u);
  tables.player.maxHp = 64;
  game.player.hp = -20;
  ClearDrawTarget();
  DrawHud();
  pixels = Present();
  EXPECT_EQ(At(pixels, 64, 454), 0u);
}

}  // namespace
