// Draw targets and clearing: caller rectangles clipped to the target, the whole target for a
// rectangle that starts outside it, the draw area kept across targets of one size and put back on
// the device after a clear.
#include <algorithm>

#include "tests/graphics/graphics_engine_fixture.h"

namespace {

using DrawTargetTest = GraphicsEngineTest;

struct ClearCase {
  const char* name;
  RECT rect;
  RECT expected;  // empty: nothing is cleared
};

// The bounding box of the white pixels of the presented frame and their count.
int WhiteBox(const std::vector<uint32_t>& pixels, RECT* box) {
  int count = 0;
  *box = RECT{640, 480, 0, 0};
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 640; ++x) {
      if (pixels[static_cast<size_t>(y) * 640 + static_cast<size_t>(x)] != 0xFFFFFF) continue;
      ++count;
      box->left = std::min<LONG>(box->left, x);
      box->top = std::min<LONG>(box->top, y);
      box->right = std::max<LONG>(box->right, x + 1);
      box->bottom = std::max<LONG>(box->bottom, y + 1);
    }
  }
  return count;
}

TEST_F(DrawTargetTest, ClearClipsCallerRectanglesToTheTarget) {
  ASSERT_EQ(InitializeEngine(), 0);
  const ClearCase cases[] = {
      {"inside", {10, 20, 30, 40}, {10, 20, 30, 40}},
      {"starts left of the target", {-1, 5, 10, 10}, {0, 0, 640, 480}},
      {"starts above the target", {5, -3, 10, 10}, {0, 0, 640, 480}},
      {"beyond the right and bottom", {600, 400, 700, 500}, {600, 400, 640, 480}},
      {"inverted", {30, 30, 10, 10}, {0, 0, 0, 0}},
      {"right of the target", {700, 10, 800, 20}, {0, 0, 0, 0}},
      {"no width", {50, 10, 50, 20}, {0, 0, 0, 0}},
  };
  PreInitSettings& settings = EngineSettings();
  settings.backgroundSet = 1;
  for (const ClearCase& c : cases) {
    SCOPED_TRACE(c.name);
    settings.backgroundRed = settings.backgroundGreen = settings.backgroundBlue = 0;
    ASSERT_EQ(ClearDrawTarget(), 0);
    settings.backgroundRed = settings.backgroundGreen = settings.backgroundBlue = 255;
    ASSERT_EQ(ClearDrawTarget(&c.rect), 0);
    ASSERT_EQ(PresentFrame(), 0);
    RECT box;
    int count = WhiteBox(PresentedPixels(), &box);
    const RECT& e = c.expected;
    EXPECT_EQ(count, (e.right - e.left) * (e.bottom - e.top));
    if (count > 0) {
      EXPECT_EQ(box.left, e.left);
      EXPECT_EQ(box.top, e.top);
      EXPECT_EQ(box.right, e.right);
      EXPECT_EQ(box.bottom, e.bottom);
    }
  }
}

TEST_F(DrawTargetTest, ClearPutsTheDrawAreaBackOnTheDevice) {
  ASSERT_EQ(InitializeEngine(), 0);
  ASSERT_EQ(SetDrawClipRect(100, 120, 300, 220), 0);
  ASSERT_EQ(ClearDrawTarget(), 0);
  D3DVIEWPORT9 viewport{};
  ASSERT_EQ(GetDirect3DDevice9()->GetViewport(&viewport), D3D_OK);
  EXPECT_EQ(viewport.X, 100u);
  EXPECT_EQ(viewport.Y, 120u);
  EXPECT_EQ(viewport.Width, 200u);
  EXPECT_EQ(viewport.Height, 100u);
}

TEST_F(DrawTargetTest, TargetsOfOneSizeKeepTheDrawArea) {
  ASSERT_EQ(InitializeEngine(), 0);
  ASSERT_EQ(SetDrawClipRect(10, 20, 110, 120), 0);
  ASSERT_EQ(SetDrawTarget(-2), 0);
  const RECT area = GetDrawSettings()->drawArea;
  EXPECT_EQ(area.left, 10);
  EXPECT_EQ(area.top, 20);
  EXPECT_EQ(area.right, 110);
  EXPECT_EQ(area.bottom, 120);
}

TEST_F(DrawTargetTest, RefusedTargetChangesNothing) {
  ASSERT_EQ(InitializeEngine(), 0);
  ASSERT_EQ(SetDrawClipRect(10, 20, 110, 120), 0);
  D3D9ResetCounters();
  for (int target : {-1, 0, -6, 12345}) {
    SCOPED_TRACE(target);
    EXPECT_EQ(SetDrawTarget(target), -1);
  }
  EXPECT_EQ(GetDrawTarget(), -4);
  EXPECT_EQ(GetDrawSettings()->drawArea.left, 10);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::SetRenderTarget), 0);
}

}  // namespace
