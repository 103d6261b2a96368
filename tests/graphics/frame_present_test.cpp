// Presentation read back from the CPU Direct3D device: the cleared frame, partial presents, the
// vertical-blank waits and the front-screen timer that presents every 32 ms of virtual time while
// the draw target is the front screen.
#include <algorithm>

#include "graphics/device_state_cache.h"
#include "graphics/frame_present.h"
#include "graphics/screen_mode.h"
#include "tests/graphics/graphics_engine_fixture.h"

namespace {

using FramePresentTest = GraphicsEngineTest;

void SetBackground(int red, int green, int blue) {
  PreInitSettings& settings = EngineSettings();
  settings.backgroundRed = red;
  settings.backgroundGreen = green;
  settings.backgroundBlue = blue;
  settings.backgroundSet = 1;
}

TEST_F(FramePresentTest, PresentsTheClearedFrame) {
  SetBackground(0x20, 0x40, 0x80);
  ASSERT_EQ(InitializeEngine(), 0);
  ASSERT_EQ(ClearDrawTarget(), 0);
  ASSERT_EQ(PresentFrame(), 0);
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels = PresentedPixels(&width, &height);
  ASSERT_EQ(width, 640);
  ASSERT_EQ(height, 480);
  for (uint32_t pixel : pixels) ASSERT_EQ(pixel, 0x204080u);
}

TEST_F(FramePresentTest, AnEmptyMappedRectangleIsNotPresented) {
  ASSERT_EQ(InitializeEngine(), 0);
  ASSERT_EQ(PresentFrame(), 0);
  D3D9ResetCounters();
  const RECT empty{5, 0, 5, 10};
  EXPECT_EQ(PresentFrameRect(&empty), -1);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::Present), 0);
  const RECT part{0, 0, 10, 10};
  EXPECT_EQ(PresentFrameRect(&part), 0);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::Present), 1);
}

TEST_F(FramePresentTest, WithoutVerticalSyncNoPresentWaitsForTheBlank) {
  SetWaitForVerticalSync(0);
  SetRunWhileInactive(1);
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_EQ(GetWaitForVerticalSync(), 0);
  DirectDrawResetControls();
  const int waits = DirectDrawGetWaitCount();
  for (int i = 0; i < 5; ++i) ASSERT_EQ(PresentFrame(), 0);
  EXPECT_EQ(DirectDrawGetWaitCount(), waits);
  SetWaitForVerticalSync(1);
  SetRunWhileInactive(0);
}

TEST_F(FramePresentTest, FrontScreenTimerPresentsEvery32Milliseconds) {
  // Presents that do not wait keep virtual time to the pump's own steps.
  SetWaitForVerticalSync(0);
  ASSERT_EQ(InitializeEngine(), 0);
  ASSERT_EQ(GetDrawTarget(), -4);
  D3D9ResetCounters();
  PumpFor(31);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::Present), 0);
  PumpFor(1);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::Present), 1);
  PumpFor(31);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::Present), 1);
  PumpFor(1);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::Present), 2);
  PumpFor(320);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::Present), 12);

  // Another target stops the timer at its next tick, without a present.
  ASSERT_EQ(SetDrawTarget(-2), 0);
  PumpFor(200);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::Present), 12);
  // The front screen again starts it again.
  ASSERT_EQ(SetDrawTarget(-4), 0);
  PumpFor(64);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::Present), 14);
  SetWaitForVerticalSync(1);
}

TEST_F(FramePresentTest, TheTimerShowsWhatIsDrawnToTheFrontScreen) {
  SetWaitForVerticalSync(0);
  ASSERT_EQ(InitializeEngine(), 0);
  SetBackground(0, 0xFF, 0);
  ASSERT_EQ(ClearDrawTarget(), 0);
  PumpFor(40);
  std::vector<uint32_t> pixels = PresentedPixels();
  ASSERT_EQ(pixels.size(), 640u * 480u);
  EXPECT_EQ(pixels[0], 0x00FF00u);
  EXPECT_EQ(pixels[640 * 480 - 1], 0x00FF00u);
  SetWaitForVerticalSync(1);
}

TEST_F(FramePresentTest, SoftwareModePresentsAfterEachClear) {
  SetUseHardwareGraphics(0);
  SetBackground(0xFF, 0xFF, 0xFF);
  ASSERT_EQ(InitializeEngine(), 0);
  SetBackground(0, 0, 0);
  const RECT box{100, 50, 110, 60};
  ASSERT_EQ(ClearDrawTarget(&box), 0);
  ASSERT_EQ(PresentFrame(), 0);
  std::vector<uint32_t> pixels = WindowPixels();
  ASSERT_EQ(pixels.size(), 640u * 480u);
  EXPECT_EQ(pixels[55 * 640 + 105], 0u);
  EXPECT_EQ(pixels[50 * 640 + 100], 0u);
  EXPECT_NE(pixels[60 * 640 + 105], 0u);
  EXPECT_NE(pixels[55 * 640 + 110], 0u);
  EXPECT_NE(pixels[0], 0u);
}

// The software screen's rows are padded; at widths whose rows are not a whole number of padding
// units the window must still read each row from its own start, or the picture shears.
TEST_F(FramePresentTest, SoftwareModePresentsOddWidthsWithoutShear) {
  struct Case {
    int width;
    int bits;
  };
  constexpr Case kCases[] = {{642, 32}, {641, 32}, {643, 16}, {646, 16}, {640, 16}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.width) + " at " + std::to_string(c.bits) + " bits");
    SetUseHardwareGraphics(0);
    ASSERT_EQ(ChangeScreenMode(c.width, 480, c.bits, 0, -1), 0);
    SetBackground(0, 0, 0);
    ASSERT_EQ(InitializeEngine(), 0);
    SetBackground(0xFF, 0xFF, 0xFF);
    const RECT dot{101, 53, 102, 54};
    ASSERT_EQ(ClearDrawTarget(&dot), 0);
    ASSERT_EQ(PresentFrame(), 0);
    int width = 0;
    int height = 0;
    const std::vector<uint32_t> pixels = WindowPixels(&width, &height);
    ASSERT_EQ(width, c.width);
    ASSERT_EQ(height, 480);
    EXPECT_EQ(pixels[53 * width + 101], 0xFFFFFFu);
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0xFFFFFFu), 1);
    ShutdownEngine();
  }
}

TEST_F(FramePresentTest, FullScreenTimerDrawsThroughTheSubBackBuffer) {
  SetWaitForVerticalSync(0);
  ChangeWindowMode(0);
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_EQ(GraphicsCore().subBackBuffer, nullptr);
  PumpFor(40);
  ASSERT_NE(GraphicsCore().subBackBuffer, nullptr);
  EXPECT_EQ(GetDeviceStateCache().renderTarget, GraphicsCore().subBackBuffer);
  SetBackground(0xFF, 0, 0xFF);
  ASSERT_EQ(ClearDrawTarget(), 0);
  ASSERT_EQ(PresentFrame(), 0);
  std::vector<uint32_t> pixels = PresentedPixels();
  ASSERT_EQ(pixels.size(), 640u * 480u);
  EXPECT_EQ(pixels[0], 0xFF00FFu);
  EXPECT_EQ(pixels[640 * 480 - 1], 0xFF00FFu);
  ShutdownEngine();
  ChangeWindowMode(1);
  SetWaitForVerticalSync(1);
}

}  // namespace
