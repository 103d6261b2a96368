// The software draw path: with the software switch set, or with no device to be had, the engine
// draws the game's patterns into its MEMIMG screen and presents it through GDI, and the window
// shows the same pixels as with the CPU Direct3D device.
#include <algorithm>
#include <string>
#include <vector>

#include "graphics/graph_record.h"
#include "tests/graphics/graph_test_support.h"

namespace {

constexpr uint32_t kBackground = 0x284060;

class SoftwareDrawTest : public GraphTest {
 protected:
  // The scene's frame as the window shows it, drawn by the device or in software.
  std::vector<uint32_t> SceneFrame(bool software, int colorBits, bool pureColours) {
    ShutdownEngine();
    SetUseHardwareGraphics(1);
    Start(colorBits, kBackground, software);
    EXPECT_EQ(IsSoftwareMode(), software ? 1 : 0);
    GameScene scene;
    if (pureColours) {
      // Channels a 16-bit screen and a 16-bit texture hold alike: 0x00 or 0xFF.
      for (TestImage* image : {&scene.sheetImage, &scene.glyphImage})
        for (uint32_t& p : image->pixels)
          p = ((p & 0x800000) ? 0xFF0000 : 0) | ((p & 0x8000) ? 0xFF00 : 0) |
              ((p & 0x80) ? 0xFF : 0) | 0x0000FF;
    }
    EXPECT_TRUE(scene.Load([&](const std::string& name, const TestImage& image) {
      return WriteFixture(name, image);
    }));
    EXPECT_EQ(ClearDrawTarget(), 0);
    scene.Draw();
    EXPECT_EQ(PresentFrame(), 0);
    return WindowPixels();
  }
};

int CountDifferences(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b,
                     int tolerance) {
  TestImage expected(640, 480);
  expected.pixels = b;
  return CountFrameDifferences(a, expected, tolerance);
}

TEST_F(SoftwareDrawTest, GamePatternsMatchTheDeviceOnA32BitScreen) {
  const std::vector<uint32_t> device = SceneFrame(false, 32, false);
  const std::vector<uint32_t> software = SceneFrame(true, 32, false);
  ASSERT_EQ(device.size(), 640u * 480u);
  ASSERT_GT(
      std::count_if(device.begin(), device.end(), [](uint32_t p) { return p != kBackground; }),
      500);
  // The brightness products may round one step apart.
  EXPECT_EQ(CountDifferences(software, device, 1), 0);
}

TEST_F(SoftwareDrawTest, GamePatternsMatchTheDeviceOnA16BitScreen) {
  const std::vector<uint32_t> device = SceneFrame(false, 16, true);
  const std::vector<uint32_t> software = SceneFrame(true, 16, true);
  ASSERT_EQ(device.size(), 640u * 480u);
  ASSERT_GT(std::count_if(device.begin(), device.end(), [](uint32_t p) { return p != 0x294163; }),
            500);
  // The windowed device keeps the desktop's 32-bit back buffer while the software screen holds
  // 5:6:5 pixels: the background may be one step of a 5- or 6-bit channel apart.
  EXPECT_EQ(CountDifferences(software, device, 8), 0);
}

TEST_F(SoftwareDrawTest, NoDeviceMeansSoftwareModeThatStillDraws) {
  D3D9FailNextCalls(D3D9Call::CreateDevice, 8);
  Start(32, kBackground);
  ASSERT_EQ(IsSoftwareMode(), 1);
  const TestImage sprite = MakePatternImage(6, 5, 55);
  const int graph = LoadGraphFile(WriteFixture("soft.bmp", sprite).c_str());
  ASSERT_NE(graph, -1);
  EXPECT_EQ(GetGraphRecord(graph)->image->textureBacked, 0);
  ASSERT_EQ(ClearDrawTarget(), 0);
  EXPECT_EQ(DrawGraphAtPoint(-2, 3, graph, 1), 0);
  EXPECT_EQ(DrawGraphAtPoint(700, 3, graph, 1), 0);
  ASSERT_EQ(SetBlendModeAndParam(6, 128), 0);
  EXPECT_EQ(DrawGraphAtPoint(50, 50, graph, 1), 0);
  ASSERT_EQ(SetBlendModeAndParam(0, 255), 0);
  EXPECT_EQ(DrawGraphFourCorners(100.9f, 0, 106.9f, 0, 106.9f, 5, 100.9f, 5, graph, 0), 0);
  Canvas expected(kBackground);
  expected.Draw(sprite, -2, 3, true);
  expected.Draw(sprite, 100, 0, false);
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(true), expected.image), 0);
}

}  // namespace
