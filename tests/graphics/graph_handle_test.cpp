// Graph handles and image records: the split of an image into texture tiles, the handle table's
// check numbers and high mark, image records shared by pieces and freed with the last of them,
// square-only devices, the limit of 256 tiles, and graphs spanning several tiles.
#include <array>
#include <vector>

#include "graphics/graph_handle.h"
#include "graphics/graph_record.h"
#include "tests/graphics/graph_test_support.h"

namespace {

constexpr uint32_t kBackground = 0x102030;

using GraphHandleTest = GraphTest;

std::vector<int> TileSizes(int size, int oneTexture) {
  std::array<int, kGraphImageTileLimit> sizes{};
  const int count = ComputeTextureTileSizes(size, sizes.data(), oneTexture);
  return std::vector<int>(sizes.begin(), sizes.begin() + count);
}

TEST_F(GraphHandleTest, TileSizesFollowTheGreedySplit) {
  Start(32, kBackground);
  struct Case {
    int size;
    int oneTexture;
    std::vector<int> tiles;
  };
  const Case cases[] = {
      {640, 0, {512, 128}}, {700, 0, {512, 128, 64}},
      {480, 0, {512}},      {5, 0, {8}},
      {8, 0, {8}},          {9, 0, {16}},
      {256, 0, {256}},      {640, 1, {1024}},
      {1000, 0, {1024}},    {3000, 0, {2048, 1024}},
      {2048, 0, {2048}},    {768, 0, {512, 256}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    EXPECT_EQ(TileSizes(c.size, c.oneTexture), c.tiles);
  }
}

TEST_F(GraphHandleTest, SmallMaximumTextureSizeTilesGreedily) {
  D3D9SetMaxTextureSize(256, 256);
  Start(32, kBackground);
  EXPECT_EQ(TileSizes(700, 0), (std::vector<int>{256, 256, 128, 64}));
  EXPECT_EQ(TileSizes(600, 0), (std::vector<int>{256, 256, 64, 16, 8}));
  // The last two tiles of 8 merge into one of 16.
  EXPECT_EQ(TileSizes(300, 0), (std::vector<int>{256, 32, 16}));
}

TEST_F(GraphHandleTest, CheckNumbersWrapAndStaleHandlesAreDead) {
  Start(32, kBackground);
  const int first = MakeEmptyGraph(4, 4);
  ASSERT_NE(first, -1);
  EXPECT_EQ((first >> 27) & 0xF, 1);
  EXPECT_EQ(first & (1 << 31), 0);
  const int slot = first & 0xFFFF;
  const int check = (first >> 16) & 0x7FF;
  ASSERT_EQ(DeleteGraphHandle(first), 0);
  int last = -1;
  for (int i = 0; i < 2048; ++i) {
    last = MakeEmptyGraph(4, 4);
    ASSERT_NE(last, -1);
    EXPECT_EQ(last & 0xFFFF, slot);
    ASSERT_EQ(DeleteGraphHandle(last), 0);
  }
  EXPECT_EQ((last >> 16) & 0x7FF, check);
  const int again = MakeEmptyGraph(4, 4);
  EXPECT_EQ((again >> 16) & 0x7FF, (check + 1) % 2048);
  EXPECT_EQ(IsGraphHandleValid(first), 0);
  EXPECT_EQ(IsGraphHandleValid(again), 1);
  EXPECT_EQ(IsGraphHandleValid(again | (1 << 31)), 0);
  EXPECT_EQ(IsGraphHandleValid((again & ~(0xF << 27)) | (2 << 27)), 0);
}

TEST_F(GraphHandleTest, HighMarkDropsPastEmptySlots) {
  Start(32, kBackground);
  const int base = GetGraphHandleHighMark();
  int graphs[4];
  for (int& graph : graphs) graph = MakeEmptyGraph(2, 2);
  EXPECT_EQ(GetGraphHandleHighMark(), base + 4);
  ASSERT_EQ(DeleteGraphHandle(graphs[1]), 0);
  ASSERT_EQ(DeleteGraphHandle(graphs[2]), 0);
  EXPECT_EQ(GetGraphHandleHighMark(), base + 4);
  ASSERT_EQ(DeleteGraphHandle(graphs[3]), 0);
  EXPECT_EQ(GetGraphHandleHighMark(), base + 1);
  const int next = MakeEmptyGraph(2, 2);
  EXPECT_EQ(next & 0xFFFF, base + 1);
  ASSERT_EQ(DeleteGraphHandle(next), 0);
  ASSERT_EQ(DeleteGraphHandle(graphs[0]), 0);
  EXPECT_EQ(GetGraphHandleHighMark(), base);
}

TEST_F(GraphHandleTest, ScreenCodesGiveTheScreenSize) {
  Start(32, kBackground);
  for (int code : {-2, -4}) {
    int width = 0;
    int height = 0;
    EXPECT_EQ(GetGraphOrScreenSize(code, &width, &height), 0);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);
  }
  EXPECT_EQ(GetGraphOrScreenSize(-1, nullptr, nullptr), -1);
  EXPECT_EQ(GetGraphOrScreenSize(12345, nullptr, nullptr), -1);
}

TEST_F(GraphHandleTest, PiecesShareOneImageFreedWithTheLastOfThem) {
  Start(32, kBackground);
  const int texturesBefore = D3D9GetLiveObjectCount(D3D9ObjectKind::Texture);
  const TestImage sheet = MakePatternImage(16, 8, 5);
  int pieces[8];
  ASSERT_EQ(LoadDividedGraphFile(WriteFixture("sheet.bmp", sheet).c_str(), 8, 4, 2, 4, 4, pieces),
            0);
  const int texturesOfSheet = D3D9GetLiveObjectCount(D3D9ObjectKind::Texture) - texturesBefore;
  EXPECT_EQ(texturesOfSheet, 1);
  const int derived = DeriveGraph(1, 1, 2, 2, pieces[5]);
  ASSERT_NE(derived, -1);
  for (int i = 0; i < 8; ++i) {
    ASSERT_EQ(DeleteGraphHandle(pieces[i]), 0);
    EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Texture) - texturesBefore, 1);
  }
  // The last user of the image still draws it.
  ASSERT_EQ(ClearDrawTarget(), 0);
  EXPECT_EQ(DrawGraphAtPoint(30, 40, derived, 0), 0);
  Canvas expected(kBackground);
  expected.Draw(Crop(sheet, 4 * 1 + 1, 4 * 1 + 1, 2, 2), 30, 40, false);
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(), expected.image), 0);
  ASSERT_EQ(DeleteGraphHandle(derived), 0);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Texture), texturesBefore);
}

TEST_F(GraphHandleTest, GraphsSpanningTilesDrawEveryPixel) {
  Start(32, kBackground);
  // 700 pixels wide: tiles of 512, 128 and 64.
  const TestImage wide = MakePatternImage(700, 3, 13);
  const int graph = LoadGraphFile(WriteFixture("wide.bmp", wide).c_str());
  ASSERT_NE(graph, -1);
  const int across = DeriveGraph(500, 0, 150, 3, graph);
  ASSERT_NE(across, -1);
  ASSERT_EQ(ClearDrawTarget(), 0);
  EXPECT_EQ(DrawGraphAtPoint(-30, 10, graph, 0), 0);
  EXPECT_EQ(DrawGraphAtPoint(5, 20, across, 0), 0);
  EXPECT_EQ(DrawGraphStretched(5, 30, 305, 36, across, 0), 0);
  Canvas expected(kBackground);
  expected.Draw(wide, -30, 10, false);
  const TestImage part = Crop(wide, 500, 0, 150, 3);
  expected.Draw(part, 5, 20, false);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 300; ++x) expected.Put(5 + x, 30 + y, part.At(x / 2, y / 2));
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(), expected.image), 0);
}

TEST_F(GraphHandleTest, SquareOnlyDeviceCutsOblongTilesIntoSquares) {
  D3D9SetSquareTexturesOnly(true);
  Start(32, kBackground);
  const int texturesBefore = D3D9GetLiveObjectCount(D3D9ObjectKind::Texture);
  const TestImage strip = MakePatternImage(512, 128, 17);
  const int graph = LoadGraphFile(WriteFixture("strip.bmp", strip).c_str());
  ASSERT_NE(graph, -1);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Texture) - texturesBefore, 4);
  const GraphImageRecord* image = GetGraphRecord(graph)->image;
  ASSERT_EQ(image->tileCount, 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(image->tiles[i].x, 128 * i);
    EXPECT_EQ(image->tiles[i].y, 0);
    EXPECT_EQ(image->tiles[i].textureWidth, 128);
    EXPECT_EQ(image->tiles[i].textureHeight, 128);
  }
  ASSERT_EQ(ClearDrawTarget(), 0);
  EXPECT_EQ(DrawGraphAtPoint(60, 100, graph, 0), 0);
  Canvas expected(kBackground);
  expected.Draw(strip, 60, 100, false);
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(), expected.image), 0);
}

TEST_F(GraphHandleTest, MoreThanTwoHundredFiftySixTilesAreRefused) {
  D3D9SetMaxTextureSize(8, 8);
  Start(32, kBackground);
  const int count = GetGraphHandleCount();
  EXPECT_NE(MakeEmptyGraph(128, 128), -1);
  EXPECT_EQ(MakeEmptyGraph(129, 128), -1);
  EXPECT_EQ(GetGraphHandleCount(), count + 1);
  EXPECT_NE(ReadLog().find("テクスチャの数が 256 枚を越えるため画像を作成できません"),
            std::string::npos);
}

}  // namespace
