// Screen-mode changes of a running engine (the graphics system torn down and started again, with
// its fallbacks) and the 320 x 240 full-screen mode shown doubled on 640 x 480.
#include "graphics/screen_mode.h"
#include "tests/graphics/graphics_engine_fixture.h"

namespace {

using ScreenModeTest = GraphicsEngineTest;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

void ExpectBackBufferSize(UINT width, UINT height) {
  IDirect3DSurface9* backBuffer = GraphicsCore().backBuffer;
  ASSERT_NE(backBuffer, nullptr);
  D3DSURFACE_DESC description{};
  backBuffer->GetDesc(&description);
  EXPECT_EQ(description.Width, width);
  EXPECT_EQ(description.Height, height);
}

TEST_F(ScreenModeTest, ChangeRestartsTheGraphicsInTheNewMode) {
  ASSERT_EQ(InitializeEngine(), 0);
  const int created = D3D9GetDeviceCreationCount();
  ASSERT_EQ(ChangeScreenMode(800, 600, 32, 0, -1), 0);
  int width = 0;
  int height = 0;
  GetScreenModeSize(&width, &height);
  EXPECT_EQ(width, 800);
  EXPECT_EQ(height, 600);
  ExpectBackBufferSize(800, 600);
  EXPECT_EQ(D3D9GetDeviceCreationCount(), created + 1);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Device), 1);
  EXPECT_EQ(GetDrawTarget(), -4);
  EXPECT_EQ(GetDrawSettings()->drawArea.right, 800);
  const std::string log = ReadLog();
  EXPECT_TRUE(Contains(log, "画面モード変更処理を開始します\r\n"));
  EXPECT_TRUE(Contains(log, "画面モード変更処理は正常に終了しました\r\n"));

  // A mode that cannot start falls back to the previous one.
  DirectDrawFailNextCreations(1);
  ASSERT_EQ(ChangeScreenMode(1024, 768, 32, 0, -1), 0);
  GetScreenModeSize(&width, &height);
  EXPECT_EQ(width, 800);
  EXPECT_EQ(height, 600);
  ExpectBackBufferSize(800, 600);

  // When the previous one cannot start either, 640 x 480 is the last resort.
  DirectDrawFailNextCreations(2);
  ASSERT_EQ(ChangeScreenMode(1024, 768, 32, 0, -1), 0);
  GetScreenModeSize(&width, &height);
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);
  ExpectBackBufferSize(640, 480);
  EXPECT_EQ(IsDirect3DMode(), 1);
}

TEST_F(ScreenModeTest, FullScreen320x240IsShownDoubled) {
  ChangeWindowMode(0);
  ASSERT_EQ(ChangeScreenMode(320, 240, 16, 0, -1), 0);
  ASSERT_EQ(InitializeEngine(), 0);
  int width = 0;
  int height = 0;
  GetScreenModeSize(&width, &height);
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);
  ExpectBackBufferSize(640, 480);
  ASSERT_EQ(GetScreenModeInfo(&width, &height, nullptr), 0);
  EXPECT_EQ(width, 320);
  EXPECT_EQ(height, 240);

  PreInitSettings& settings = EngineSettings();
  settings.backgroundSet = 1;
  settings.backgroundRed = settings.backgroundGreen = settings.backgroundBlue = 0;
  ASSERT_EQ(ClearDrawTarget(), 0);
  settings.backgroundRed = settings.backgroundGreen = settings.backgroundBlue = 255;
  const RECT corner{0, 0, 1, 1};
  ASSERT_EQ(ClearDrawTarget(&corner), 0);
  const RECT edge{319, 239, 321, 241};
  ASSERT_EQ(ClearDrawTarget(&edge), 0);
  ASSERT_EQ(PresentFrame(), 0);
  std::vector<uint32_t> pixels = PresentedPixels(&width, &height);
  ASSERT_EQ(width, 640);
  ASSERT_EQ(height, 480);
  auto at = [&](int x, int y) {
    return pixels[static_cast<size_t>(y) * 640 + static_cast<size_t>(x)];
  };
  EXPECT_EQ(at(0, 0), 0xFFFFFFu);
  EXPECT_EQ(at(1, 1), 0xFFFFFFu);
  EXPECT_EQ(at(2, 2), 0u);
  // Only the top-left 320 x 240 pixels are shown: the edge box's pixel (319, 239) fills the last
  // 2 x 2 block, its pixel (320, 240) is not shown.
  EXPECT_EQ(at(638, 478), 0xFFFFFFu);
  EXPECT_EQ(at(639, 479), 0xFFFFFFu);
  EXPECT_EQ(at(637, 477), 0u);

  ShutdownEngine();
  ChangeWindowMode(1);
  SetEmulation320x240(0);
  ASSERT_EQ(ChangeScreenMode(640, 480, 16, 0, -1), 0);
  EXPECT_EQ(GraphicsCore().request320x240, 0);
}

}  // namespace
