// Graph creation: divided sheets numbered row by row (and mirrored), a count beyond the cells
// refused with every handle -1, derived graphs cut to their source and refused without pixels,
// alpha images beside the file, missing and undecodable files, and pixel upload details (the edge
// column and row of a tile, mip levels made by halving).
#include <cstdio>
#include <string>

#include "files/color_convert.h"
#include "files/color_format.h"
#include "graphics/graph_handle.h"
#include "graphics/graph_record.h"
#include "tests/graphics/graph_test_support.h"

namespace {

constexpr uint32_t kBackground = 0x304050;

using GraphCreationTest = GraphTest;

TEST_F(GraphCreationTest, DividedSheetNumbersPiecesRowByRow) {
  Start(32, kBackground);
  const TestImage sheet = MakePatternImage(16, 8, 3);
  int pieces[8];
  for (int& piece : pieces) piece = 12345;
  ASSERT_EQ(LoadDividedGraphFile(WriteFixture("sheet.bmp", sheet).c_str(), 7, 4, 2, 4, 4, pieces),
            0);
  EXPECT_EQ(pieces[7], 12345);
  ASSERT_EQ(ClearDrawTarget(), 0);
  Canvas expected(kBackground);
  for (int i = 0; i < 7; ++i) {
    int width = 0;
    int height = 0;
    EXPECT_EQ(GetGraphOrScreenSize(pieces[i], &width, &height), 0);
    EXPECT_EQ(width, 4);
    EXPECT_EQ(height, 4);
    EXPECT_EQ(DrawGraphAtPoint(10 * i, 7, pieces[i], 0), 0);
    expected.Draw(Crop(sheet, 4 * (i % 4), 4 * (i / 4), 4, 4), 10 * i, 7, false);
  }
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(), expected.image), 0);
}

TEST_F(GraphCreationTest, MirroredSheetShowsEachCellMirrored) {
  Start(32, kBackground);
  const TestImage sheet = MakePatternImage(12, 4, 9);
  int pieces[3];
  ASSERT_EQ(LoadDividedGraphFileCore(WriteFixture("mirror.bmp", sheet).c_str(), 3, 3, 1, 4, 4,
                                     pieces, 0, 1),
            0);
  ASSERT_EQ(ClearDrawTarget(), 0);
  Canvas expected(kBackground);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(DrawGraphAtPoint(10 * i, 0, pieces[i], 0), 0);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) expected.Put(10 * i + x, y, sheet.At(4 * i + 3 - x, y));
  }
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(), expected.image), 0);
}

TEST_F(GraphCreationTest, CountBeyondTheCellsSetsEveryHandleToMinusOne) {
  Start(32, kBackground);
  const std::string path = WriteFixture("few.bmp", MakePatternImage(8, 8, 1));
  const int graphs = GetGraphHandleCount();
  int pieces[6];
  for (int& piece : pieces) piece = 12345;
  EXPECT_EQ(LoadDividedGraphFile(path.c_str(), 5, 2, 2, 4, 4, pieces), -1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(pieces[i], -1);
  EXPECT_EQ(pieces[5], 12345);
  EXPECT_EQ(GetGraphHandleCount(), graphs);
}

TEST_F(GraphCreationTest, DeriveGraphCutsToItsSourceAndRefusesEmptyRectangles) {
  Start(32, kBackground);
  const TestImage image = MakePatternImage(10, 6, 21);
  const int source = LoadGraphFile(WriteFixture("source.bmp", image).c_str());
  ASSERT_NE(source, -1);
  struct Case {
    int x, y, width, height;
    int expectedWidth, expectedHeight;  // 0: refused
  };
  const Case cases[] = {
      {0, 0, 10, 6, 10, 6}, {7, 2, 10, 10, 3, 4}, {9, 5, 1, 1, 1, 1},  {10, 0, 1, 1, 0, 0},
      {0, 6, 1, 1, 0, 0},   {-1, 0, 2, 2, 0, 0},  {0, -1, 2, 2, 0, 0}, {2, 2, 0, 3, 0, 0},
      {2, 2, 3, -1, 0, 0},  {2, 2, -4, 3, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " " << c.width << "x" << c.height);
    const int derived = DeriveGraph(c.x, c.y, c.width, c.height, source);
    if (c.expectedWidth == 0) {
      EXPECT_EQ(derived, -1);
      continue;
    }
    ASSERT_NE(derived, -1);
    int width = 0;
    int height = 0;
    EXPECT_EQ(GetGraphOrScreenSize(derived, &width, &height), 0);
    EXPECT_EQ(width, c.expectedWidth);
    EXPECT_EQ(height, c.expectedHeight);
    EXPECT_EQ(DeleteGraphHandle(derived), 0);
  }
  EXPECT_EQ(DeriveGraph(0, 0, 1, 1, -1), -1);
  // A derived graph outlives its source.
  const int kept = DeriveGraph(3, 1, 4, 4, source);
  ASSERT_EQ(DeleteGraphHandle(source), 0);
  ASSERT_EQ(ClearDrawTarget(), 0);
  EXPECT_EQ(DrawGraphAtPoint(50, 60, kept, 0), 0);
  Canvas expected(kBackground);
  expected.Draw(Crop(image, 3, 1, 4, 4), 50, 60, false);
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(), expected.image), 0);
}

TEST_F(GraphCreationTest, PartStretchedRefusesWhatDeriveGraphRefuses) {
  Start(32, kBackground);
  const TestImage image = MakePatternImage(8, 8, 4);
  const int graph = LoadGraphFile(WriteFixture("part.bmp", image).c_str());
  ASSERT_NE(graph, -1);
  const int graphs = GetGraphHandleCount();
  EXPECT_EQ(DrawGraphPartStretched(0, 0, 8, 8, 9, 0, 2, 2, graph, 0), -1);
  EXPECT_EQ(DrawGraphPartStretched(0, 0, 8, 8, 0, 0, 0, 2, graph, 0), -1);
  ASSERT_EQ(ClearDrawTarget(), 0);
  EXPECT_EQ(DrawGraphPartStretched(20, 20, 28, 28, 2, 3, 4, 4, graph, 0), 0);
  EXPECT_EQ(GetGraphHandleCount(), graphs);
  Canvas expected(kBackground);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) expected.Put(20 + x, 20 + y, image.At(2 + x / 2, 3 + y / 2));
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(), expected.image), 0);
}

TEST_F(GraphCreationTest, AlphaImageBesideTheFileWeightsThePixels) {
  Start(32, kBackground);
  TestImage colour(3, 1);
  colour.At(0, 0) = 0xFF0000;
  colour.At(1, 0) = 0x00FF00;
  colour.At(2, 0) = 0x0000FF;
  TestImage alpha(3, 1);
  alpha.At(0, 0) = 0xFFFFFF;
  alpha.At(1, 0) = 0x000000;
  alpha.At(2, 0) = 0x808080;
  const std::string path = WriteFixture("alpha.bmp", colour);
  WriteFixture("alpha_a.bmp", alpha);
  const int graph = LoadGraphFile(path.c_str());
  ASSERT_NE(graph, -1);
  ASSERT_EQ(ClearDrawTarget(), 0);
  EXPECT_EQ(DrawGraphAtPoint(0, 0, graph, 1), 0);
  const std::vector<uint32_t> frame = PresentAndRead();
  ASSERT_EQ(frame.size(), 640u * 480u);
  EXPECT_EQ(frame[0], 0xFF0000u);
  EXPECT_EQ(frame[1], kBackground);
  const uint32_t mixed = frame[2];
  EXPECT_NEAR(static_cast<int>(mixed & 0xFF), (0xFF * 0x80 + 0x50 * 0x7F) / 255, 2);
  EXPECT_NEAR(static_cast<int>((mixed >> 16) & 0xFF), (0x30 * 0x7F) / 255, 2);

  WriteFixture("odd_a.bmp", TestImage(2, 1, 0xFFFFFF));
  EXPECT_EQ(LoadGraphFile(WriteFixture("odd.bmp", colour).c_str()), -1);
}

TEST_F(GraphCreationTest, MissingAndUndecodableFilesAreToldApart) {
  Start(32, kBackground);
  std::string missing;
  ASSERT_TRUE(MapPosixToEnginePath(directory_ + "/none.bmp", missing));
  EXPECT_EQ(LoadGraphFile(missing.c_str()), -1);
  EXPECT_NE(ReadLog().find("グラフィックファイル " + missing + " がありません"), std::string::npos);

  const std::string posix = directory_ + "/junk.bmp";
  FILE* file = std::fopen(posix.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("not an image at all", file);
  std::fclose(file);
  std::string junk;
  ASSERT_TRUE(MapPosixToEnginePath(posix, junk));
  EXPECT_EQ(LoadGraphFile(junk.c_str()), -1);
  EXPECT_NE(ReadLog().find("右記のグラフィックファイルのロードに失敗しました：" + junk),
            std::string::npos);
  int pieces[2];
  EXPECT_EQ(LoadDividedGraphFile(junk.c_str(), 2, 2, 1, 1, 1, pieces), -1);
}

TEST_F(GraphCreationTest, UploadRepeatsTheLastColumnAndRowIntoTheTile) {
  Start(32, kBackground);
  const TestImage image = MakePatternImage(100, 100, 8);
  const int graph = LoadGraphFile(WriteFixture("hundred.bmp", image).c_str());
  ASSERT_NE(graph, -1);
  const GraphImageTile& tile = GetGraphRecord(graph)->image->tiles[0];
  ASSERT_EQ(tile.textureWidth, 128);
  ASSERT_EQ(tile.usedWidth, 100);
  D3DLOCKED_RECT locked{};
  ASSERT_EQ(tile.texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
  auto texel = [&](int x, int y) {
    return reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(locked.pBits) +
                                             y * locked.Pitch)[x] &
           0xFFFFFF;
  };
  for (int y = 0; y < 100; y += 33) {
    EXPECT_EQ(texel(99, y), image.At(99, y));
    EXPECT_EQ(texel(100, y), image.At(99, y));
  }
  for (int x = 0; x < 100; x += 33) EXPECT_EQ(texel(x, 100), image.At(x, 99));
  EXPECT_EQ(texel(100, 100), image.At(99, 99));
  EXPECT_EQ(texel(101, 50), 0u);
  tile.texture->UnlockRect(0);
}

TEST_F(GraphCreationTest, MipLevelsAreMadeByHalving) {
  Start(32, kBackground);
  StandardImage image{};
  ASSERT_EQ(CreateXRGB8StandardImage(8, 8, &image), 0);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      SetStandardImagePixel(&image, x, y, x * 32, y * 32, (x + y) * 16, 255);
  const int graph = AllocateGraphHandle();
  ASSERT_EQ(BuildGraphImageRecord(graph, 8, 8, 0, 0, 0, 4), 0);
  EXPECT_EQ(TransferImageToGraph(nullptr, &image, nullptr, 0, 0, graph, 0), 0);
  ReleaseStandardImage(&image);
  const GraphImageRecord* record = GetGraphRecord(graph)->image;
  ASSERT_EQ(record->textureMipLevels, 4);
  IDirect3DTexture9* texture = record->tiles[0].texture;
  ASSERT_EQ(texture->GetLevelCount(), 4u);
  auto read = [&](int level, int x, int y) {
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(texture->LockRect(static_cast<UINT>(level), &locked, nullptr, D3DLOCK_READONLY),
              D3D_OK);
    const uint32_t value = reinterpret_cast<const uint32_t*>(
        static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch)[x];
    texture->UnlockRect(static_cast<UINT>(level));
    return value & 0xFFFFFF;
  };
  // Level 1 pixel (1, 2) averages level 0 pixels (2..3, 4..5).
  const uint32_t red = (64 + 96) / 2;
  const uint32_t green = (128 + 160) / 2;
  const uint32_t blue = ((6 + 7 + 7 + 8) * 16) / 4;
  EXPECT_EQ(read(1, 1, 2), (red << 16) | (green << 8) | blue);
  // The last level holds the average of the whole image.
  EXPECT_EQ(read(3, 0, 0) >> 16, (0 + 32 + 64 + 96 + 128 + 160 + 192 + 224) / 8u);
}

TEST_F(GraphCreationTest, DrawTargetReadsBackAndCopiesIntoAGraph) {
  Start(32, kBackground);
  const TestImage sprite = MakePatternImage(6, 4, 90);
  const int graph = LoadGraphFile(WriteFixture("readback.bmp", sprite).c_str());
  ASSERT_NE(graph, -1);
  ASSERT_EQ(ClearDrawTarget(), 0);
  EXPECT_EQ(DrawGraphAtPoint(20, 10, graph, 0), 0);
  StandardImage pixels{};
  const RECT outside{630, 0, 641, 4};
  EXPECT_EQ(LockDrawTargetPixels(&outside, &pixels), -1);
  const RECT rect{19, 10, 26, 14};
  ASSERT_EQ(LockDrawTargetPixels(&rect, &pixels), 0);
  EXPECT_EQ(pixels.width, 7);
  EXPECT_EQ(pixels.height, 4);
  for (int y = 0; y < 4; ++y) {
    EXPECT_EQ(GetStandardImagePixelARGB(&pixels, 0, y) & 0xFFFFFF, kBackground);
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(GetStandardImagePixelARGB(&pixels, x + 1, y) & 0xFFFFFF, sprite.At(x, y));
  }
  EXPECT_EQ(UnlockDrawTargetPixels(), 0);

  const int copy = MakeEmptyGraph(6, 4);
  ASSERT_NE(copy, -1);
  EXPECT_EQ(CopyDrawTargetToGraph(20, 10, 27, 14, copy), -1);
  EXPECT_EQ(CopyDrawTargetToGraph(20, 10, 26, 14, copy), 0);
  EXPECT_EQ(DrawGraphAtPoint(100, 100, copy, 0), 0);
  Canvas expected(kBackground);
  expected.Draw(sprite, 20, 10, false);
  expected.Draw(sprite, 100, 100, false);
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(), expected.image), 0);
}

}  // namespace
