// Device loss: after a loss delivered as an activation through the message pump, the old device is
// gone with nothing of it left alive, one new device stands, every graph handle keeps its value
// and the same scene presents the identical frame.
#include <algorithm>
#include <cstdio>

#include "graphics/graph_record.h"
#include "tests/graphics/graph_test_support.h"

namespace {

constexpr uint32_t kBackground = 0x183048;

using GraphDeviceLossTest = GraphTest;

TEST_F(GraphDeviceLossTest, GraphsSurviveALostDevice) {
  Start(32, kBackground);
  GameScene scene;
  ASSERT_TRUE(scene.Load(
      [&](const std::string& name, const TestImage& image) { return WriteFixture(name, image); }));
  ASSERT_EQ(ClearDrawTarget(), 0);
  scene.Draw();
  const std::vector<uint32_t> before = PresentAndRead();
  ASSERT_GT(
      std::count_if(before.begin(), before.end(), [](uint32_t p) { return p != kBackground; }),
      500);
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

TEST_F(GraphDeviceLossTest, ReloadReadsTheFilesAgainAndSkipsMissingOnes) {
  Start(32, kBackground);
  const TestImage first = MakePatternImage(8, 4, 11);
  const TestImage second = MakePatternImage(8, 4, 51);
  const std::string sheetPath = WriteFixture("reload.bmp", first);
  const std::string gonePath = WriteFixture("gone.bmp", first);
  int pieces[2];
  ASSERT_EQ(LoadDividedGraphFile(sheetPath.c_str(), 2, 2, 1, 4, 4, pieces), 0);
  const int gone = LoadGraphFile(gonePath.c_str());
  ASSERT_NE(gone, -1);
  // The pixels after the loss come from the files as they are then.
  WriteFixture("reload.bmp", second);
  std::remove((directory_ + "/gone.bmp").c_str());
  D3D9InjectDeviceLoss();
  ASSERT_TRUE(PostMessageA(GetEngineWindowHandle(), WM_ACTIVATE, WA_ACTIVE, 0));
  ProcessWindowMessages();
  ASSERT_EQ(D3D9GetDeviceCreationCount(), 2);
  EXPECT_NE(ReadLog().find("ファイル:"), std::string::npos);
  EXPECT_NE(ReadLog().find("がロードできませんでした"), std::string::npos);
  ASSERT_EQ(ClearDrawTarget(), 0);
  EXPECT_EQ(DrawGraphAtPoint(0, 0, pieces[0], 0), 0);
  EXPECT_EQ(DrawGraphAtPoint(10, 0, pieces[1], 0), 0);
  EXPECT_EQ(DrawGraphAtPoint(20, 0, gone, 0), 0);
  Canvas expected(kBackground);
  expected.Draw(Crop(second, 0, 0, 4, 4), 0, 0, false);
  expected.Draw(Crop(second, 4, 0, 4, 4), 10, 0, false);
  expected.Draw(TestImage(8, 4, 0), 20, 0, false);
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(), expected.image), 0);
}

}  // namespace
