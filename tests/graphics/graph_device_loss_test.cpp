// Device loss: after a loss delivered as an activation through the message pump, the old device is
// gone with nothing of it left alive, one new device stands, every graph handle keeps its value
// and the same scene presents the identical frame.
#include <algorithm>

#include "graphics/graph_record.h"
#include "tests/graphics/graph_test_support.h"

namespace {

constexpr uint32_t kBackground = 0x183048;

using GraphDeviceLossTest = GraphTest;

TEST_F(GraphDeviceLossTest, GraphsSurviveALostDevice) {
  Start(32, kBackground);
  GameScene scene;
  ASSERT_TRUE(scene.Load([&](const std::string& name, const TestImage& image) { return WriteFixture(name, image); }));
  ASSERT_EQ(ClearDrawTarget(), 0);
  scene.Draw();
  const std::vector<uint32_t> before = PresentAndRead();
  ASSERT_GT(std::count_if(before.begin(), before.end(), [](uint32_t p) { return p != kBackground; }), 500);
  ASSERT_EQ(D3D9GetDeviceCreationCount(), 1);
  const int texturesBefore = D3D9GetLiveObjectCount(D3D9ObjectKind::Texture);

  D3D9InjectDeviceLoss();
  ASSERT_TRUE(PostMessageA(GetEngineWindowHandle(), WM_ACTIVATE, WA_ACTIVE, 0));
  ProcessWindowMessages();

  EXPECT_EQ(D3D9GetDeviceCreationCount(), 2);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Device), 1);
  EXPECT_EQ(D3D9GetLeakReportCount(), 0);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Texture), texturesBefore);
  for (int piece : scene.pieces) EXPECT_EQ(IsGraphHandleValid(piece), 1);
  EXPECT_EQ(IsGraphHandleValid(scene.glyph), 1);
  EXPECT_NE(ReadLog().find("グラフィックを復帰します"), std::string::npos);

  ASSERT_EQ(ClearDrawTarget(), 0);
  scene.Draw();
  const std::vector<uint32_t> after = PresentAndRead();
  ASSERT_EQ(after.size(), before.size());
  EXPECT_TRUE(after == before);
}

TEST_F(GraphDeviceLossTest, GraphsWithoutAFileComeBackCleared) {
  Start(32, kBackground);
  const TestImage image = MakePatternImage(4, 4, 77);
  const int loaded = LoadGraphFile(WriteFixture("loaded.bmp", image).c_str());
  const int empty = MakeEmptyGraph(4, 4);
  ASSERT_NE(loaded, -1);
  ASSERT_NE(empty, -1);
  D3D9InjectDeviceLoss();
  ASSERT_TRUE(PostMessageA(GetEngineWindowHandle(), WM_ACTIVATE, WA_ACTIVE, 0));
  ProcessWindowMessages();
  ASSERT_EQ(D3D9GetDeviceCreationCount(), 2);
  ASSERT_EQ(ClearDrawTarget(), 0);
  EXPECT_EQ(DrawGraphAtPoint(0, 0, loaded, 0), 0);
  EXPECT_EQ(DrawGraphAtPoint(10, 0, empty, 0), 0);
  Canvas expected(kBackground);
  expected.Draw(image, 0, 0, false);
  expected.Draw(TestImage(4, 4, 0), 10, 0, false);
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(), expected.image), 0);
}

}  // namespace
