// Golden frames of the game's own draw patterns through the CPU device: graphs loaded from BMP
// files and drawn at a point with black transparent, in part (clamped, off screen, with a negative
// width), stretched twice and mirrored, under the draw brightness; and the batch that carries them.
#include <tuple>

#include "graphics/vertex_batch.h"
#include "tests/graphics/graph_test_support.h"

namespace {

constexpr uint32_t kBackground = 0x204060;

using GraphDrawTest = GraphTest;

TEST_F(GraphDrawTest, AtPointDrawsTexelsOneToOneAndSkipsBlackWhenTransparent) {
  Start(32, kBackground);
  TestImage sprite = MakePatternImage(5, 3, 7);
  sprite.At(1, 1) = 0;
  sprite.At(4, 0) = 0;
  const int graph = LoadGraphFile(WriteFixture("sprite.bmp", sprite).c_str());
  ASSERT_NE(graph, -1);
  ASSERT_EQ(ClearDrawTarget(), 0);
  EXPECT_EQ(DrawGraphAtPoint(10, 20, graph, 1), 0);
  EXPECT_EQ(DrawGraphAtPoint(100, 20, graph, 0), 0);
  EXPECT_EQ(DrawGraphAtPoint(637, 478, graph, 1), 0);
  EXPECT_EQ(DrawGraphAtPoint(-3, -1, graph, 1), 0);
  EXPECT_EQ(DrawGraphAtPoint(700, 10, graph, 1), 0);
  Canvas expected(kBackground);
  expected.Draw(sprite, 10, 20, true);
  expected.Draw(sprite, 100, 20, false);
  expected.Draw(sprite, 637, 478, true);
  expected.Draw(sprite, -3, -1, true);
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(), expected.image), 0);
}

TEST_F(GraphDrawTest, RefusesDeadHandlesAndDrawsNothing) {
  Start(32, kBackground);
  const int graph = LoadGraphFile(WriteFixture("dead.bmp", MakePatternImage(4, 4, 3)).c_str());
  ASSERT_NE(graph, -1);
  ASSERT_EQ(DeleteGraphHandle(graph), 0);
  ASSERT_EQ(ClearDrawTarget(), 0);
  EXPECT_EQ(DrawGraphAtPoint(0, 0, graph, 1), -1);
  EXPECT_EQ(DrawGraphStretched(0, 0, 8, 8, graph, 1), -1);
  const RECT before = GetDrawSettings()->drawArea;
  EXPECT_EQ(DrawGraphPart(0, 0, 0, 0, 4, 4, graph, 1, 0), -1);
  const RECT after = GetDrawSettings()->drawArea;
  EXPECT_EQ(std::make_tuple(after.left, after.top, after.right, after.bottom),
            std::make_tuple(before.left, before.top, before.right, before.bottom));
  EXPECT_EQ(DeleteGraphHandle(graph), -1);
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(), Canvas(kBackground).image), 0);
}

struct PartCase {
  const char* name;
  int x, y, sourceX, sourceY, width, height, mirror;
};

TEST_F(GraphDrawTest, PartDrawsExactlyTheWindowOfTheGraph) {
  Start(32, kBackground);
  TestImage sheet = MakePatternImage(40, 12, 11);
  sheet.At(5, 5) = 0;
  const int graph = LoadGraphFile(WriteFixture("sheet.bmp", sheet).c_str());
  ASSERT_NE(graph, -1);
  const PartCase cases[] = {
      {"left edge", 50, 50, 0, 0, 7, 12, 0},
      {"right edge", 50, 50, 33, 2, 7, 5, 0},
      {"one column", 50, 50, 17, 0, 1, 12, 0},
      {"one row", 50, 50, 3, 11, 30, 1, 0},
      {"wider than the graph", 50, 50, 30, 0, 25, 12, 0},
      {"partly left of the screen", -4, 50, 2, 0, 10, 12, 0},
      {"partly below the screen", 300, 475, 0, 0, 12, 12, 0},
      {"transparent pixel inside", 50, 50, 4, 4, 3, 3, 0},
      {"negative width", 50, 50, 0, 0, -6, 12, 0},
      {"no height", 50, 50, 0, 0, 6, 0, 0},
      {"mirrored", 50, 50, 8, 1, 9, 6, 1},
  };
  for (const PartCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(ClearDrawTarget(), 0);
    EXPECT_EQ(DrawGraphPart(c.x, c.y, c.sourceX, c.sourceY, c.width, c.height, graph, 1, c.mirror),
              0);
    Canvas expected(kBackground);
    for (int dy = 0; dy < c.height; ++dy) {
      for (int dx = 0; dx < c.width; ++dx) {
        // Mirrored, the window shows its source columns right to left.
        const int sx = c.mirror ? c.sourceX + c.width - 1 - dx : c.sourceX + dx;
        const int sy = c.sourceY + dy;
        if (sx < 0 || sy < 0 || sx >= sheet.width || sy >= sheet.height) continue;
        const uint32_t rgb = sheet.At(sx, sy);
        if (rgb == 0) continue;
        expected.Put(c.x + dx, c.y + dy, rgb);
      }
    }
    EXPECT_EQ(CountFrameDifferences(PresentAndRead(), expected.image), 0);
  }
  const RECT area = GetDrawSettings()->drawArea;
  EXPECT_EQ(std::make_tuple(area.left, area.top, area.right, area.bottom),
            std::make_tuple(0, 0, 640, 480));
}

TEST_F(GraphDrawTest, StretchedTwiceMakesTwoByTwoBlocksAndMirrors) {
  Start(32, kBackground);
  TestImage glyph = MakePatternImage(12, 16, 29);
  glyph.At(3, 4) = 0;
  const int graph = LoadGraphFile(WriteFixture("glyph.bmp", glyph).c_str());
  ASSERT_NE(graph, -1);
  ASSERT_EQ(ClearDrawTarget(), 0);
  EXPECT_EQ(DrawGraphStretched(20, 30, 20 + 24, 30 + 32, graph, 1), 0);
  EXPECT_EQ(DrawGraphStretched(124, 30, 100, 62, graph, 1), 0);
  EXPECT_EQ(DrawGraphStretched(200, 30, 200, 62, graph, 1), 0);
  EXPECT_EQ(DrawGraphStretched(630, 470, 654, 502, graph, 1), 0);
  Canvas expected(kBackground);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 24; ++x) {
      const uint32_t rgb = glyph.At(x / 2, y / 2);
      if (rgb == 0) continue;
      expected.Put(20 + x, 30 + y, rgb);
      expected.Put(100 + 23 - x, 30 + y, rgb);
      expected.Put(630 + x, 470 + y, rgb);
    }
  }
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(), expected.image), 0);
}

TEST_F(GraphDrawTest, BrightnessModulatesEveryChannel) {
  Start(32, kBackground);
  const TestImage sprite = MakePatternImage(6, 6, 41);
  const int graph = LoadGraphFile(WriteFixture("bright.bmp", sprite).c_str());
  ASSERT_NE(graph, -1);
  ASSERT_EQ(ClearDrawTarget(), 0);
  ASSERT_EQ(SetDrawBrightness(128, 64, 255), 0);
  EXPECT_EQ(DrawGraphAtPoint(10, 10, graph, 1), 0);
  EXPECT_EQ(DrawGraphStretched(40, 10, 52, 22, graph, 1), 0);
  ASSERT_EQ(SetDrawBrightness(255, 255, 255), 0);
  EXPECT_EQ(DrawGraphAtPoint(80, 10, graph, 1), 0);
  TestImage dimmed = sprite;
  for (uint32_t& p : dimmed.pixels) {
    const uint32_t r = ((p >> 16) & 0xFF) * 128 / 255;
    const uint32_t g = ((p >> 8) & 0xFF) * 64 / 255;
    const uint32_t b = (p & 0xFF) * 255 / 255;
    p = (r << 16) | (g << 8) | b;
  }
  Canvas expected(kBackground);
  expected.Draw(dimmed, 10, 10, false);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) expected.Put(40 + x, 10 + y, dimmed.At(x / 2, y / 2));
  expected.Draw(sprite, 80, 10, false);
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(), expected.image, 1), 0);
}

TEST_F(GraphDrawTest, SixteenBitScreenKeepsTheGamePatterns) {
  Start(16, 0x0000FF);
  // Colours a 16-bit screen holds exactly: every channel 0x00 or 0xFF.
  TestImage sprite(4, 4);
  for (int i = 0; i < 16; ++i) {
    const int n = i % 8;
    sprite.pixels[static_cast<size_t>(i)] =
        ((n & 1) ? 0xFF0000 : 0) | ((n & 2) ? 0x00FF00 : 0) | ((n & 4) ? 0xFF : 0);
  }
  const int graph = LoadGraphFile(WriteFixture("sixteen.bmp", sprite).c_str());
  ASSERT_NE(graph, -1);
  ASSERT_EQ(ClearDrawTarget(), 0);
  EXPECT_EQ(DrawGraphAtPoint(3, 5, graph, 1), 0);
  EXPECT_EQ(DrawGraphPart(20, 5, 1, 1, 2, 3, graph, 1, 0), 0);
  EXPECT_EQ(DrawGraphStretched(40, 5, 48, 13, graph, 1), 0);
  Canvas expected(0x0000FF);
  expected.Draw(sprite, 3, 5, true);
  expected.Draw(Crop(sprite, 1, 1, 2, 3), 20, 5, true);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      if (sprite.At(x / 2, y / 2) != 0) expected.Put(40 + x, 5 + y, sprite.At(x / 2, y / 2));
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(), expected.image), 0);
}

TEST_F(GraphDrawTest, BatchHoldsThreeHundredEightyNineQuadsAndKeepsTheirOrder) {
  Start(32, kBackground);
  const TestImage a(2, 2, 0xFF0000);
  const TestImage b(2, 2, 0x00FF00);
  const int first = LoadGraphFile(WriteFixture("a.bmp", a).c_str());
  const int second = LoadGraphFile(WriteFixture("b.bmp", b).c_str());
  ASSERT_NE(first, -1);
  ASSERT_NE(second, -1);
  ASSERT_EQ(ClearDrawTarget(), 0);
  FlushVertexBatch();
  D3D9ResetCounters();
  for (int i = 0; i < 389; ++i) DrawGraphAtPoint(2 * (i % 300), 2 * (i / 300), first, 1);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::Draw), 0);
  EXPECT_EQ(GetVertexBatchCount(), 389 * 6);
  DrawGraphAtPoint(0, 100, first, 1);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::Draw), 1);
  EXPECT_EQ(GetVertexBatchCount(), 6);
  // Another texture sends the queued quads first, so the later draw lands on top.
  DrawGraphAtPoint(0, 100, second, 1);
  DrawGraphAtPoint(1, 101, first, 1);
  const std::vector<uint32_t> frame = PresentAndRead();
  ASSERT_EQ(frame.size(), 640u * 480u);
  EXPECT_EQ(frame[100 * 640 + 0], 0x00FF00u);
  EXPECT_EQ(frame[101 * 640 + 1], 0xFF0000u);
  EXPECT_EQ(frame[101 * 640 + 0], 0x00FF00u);
}

TEST_F(GraphDrawTest, DrawAreaCutsGraphsAtItsEdgesWithoutSqueezing) {
  Start(32, kBackground);
  const TestImage sprite = MakePatternImage(10, 10, 61);
  const int graph = LoadGraphFile(WriteFixture("area.bmp", sprite).c_str());
  ASSERT_NE(graph, -1);
  ASSERT_EQ(ClearDrawTarget(), 0);
  ASSERT_EQ(SetDrawClipRect(50, 40, 100, 90), 0);
  EXPECT_EQ(DrawGraphAtPoint(45, 35, graph, 0), 0);
  EXPECT_EQ(DrawGraphAtPoint(95, 85, graph, 0), 0);
  EXPECT_EQ(DrawGraphStretched(60, 80, 80, 100, graph, 0), 0);
  EXPECT_EQ(DrawGraphAtPoint(200, 200, graph, 0), 0);
  ASSERT_EQ(SetDrawClipRect(0, 0, 640, 480), 0);
  Canvas expected(kBackground);
  expected.Draw(sprite, 45, 35, false, 50, 40, 100, 90);
  expected.Draw(sprite, 95, 85, false, 50, 40, 100, 90);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x)
      if (80 + y < 90) expected.Put(60 + x, 80 + y, sprite.At(x / 2, y / 2));
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(), expected.image), 0);
}

TEST_F(GraphDrawTest, FreeCornersDrawAfterTheQuadsQueuedBeforeThem) {
  Start(32, kBackground);
  const TestImage sprite = MakePatternImage(8, 8, 71);
  const int graph = LoadGraphFile(WriteFixture("corners.bmp", sprite).c_str());
  ASSERT_NE(graph, -1);
  // A trapezoid is drawn as a grid sent past the batch; the quad queued before it must still come
  // first, exactly as when it was sent on its own.
  auto scene = [&](bool flushBetween) {
    EXPECT_EQ(ClearDrawTarget(), 0);
    EXPECT_EQ(DrawGraphAtPoint(50, 50, graph, 0), 0);
    if (flushBetween) FlushVertexBatch();
    EXPECT_EQ(DrawGraphFourCorners(52, 52, 60, 52, 66, 60, 52, 60, graph, 0), 0);
    return PresentAndRead();
  };
  const std::vector<uint32_t> sent = scene(true);
  const std::vector<uint32_t> queued = scene(false);
  ASSERT_EQ(sent.size(), 640u * 480u);
  EXPECT_NE(sent[55 * 640 + 55], kBackground);
  EXPECT_TRUE(sent == queued);
}

}  // namespace
