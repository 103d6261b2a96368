// Masks: a draw while masking is on changes only the pixels whose mask byte lets it through (the
// others with the reverse flag), in software mode and through Direct3D alike; the handle and flag
// calls give their results on empty tables; the mask screen survives a rebuild and leaves nothing
// behind at the end.
#include <gtest/gtest.h>

#include "graphics/graphics_inner.h"
#include "graphics/mask.h"
#include "platform/win32/user.h"
#include "tests/graphics/graph_test_support.h"

namespace {

constexpr uint32_t kBackground = 0x102030;
constexpr uint32_t kInk = 0xF04020;
// The mask bytes over the 4 x 4 corner that the draw covers.
constexpr uint8_t kMaskBytes[4][4] = {
    {1, 0, 0, 7},
    {0, 255, 0, 0},
    {0, 0, 1, 0},
    {3, 0, 0, 1},
};

struct MaskCase {
  bool software;
  bool reverse;
};

class MaskDrawTest : public GraphTest, public ::testing::WithParamInterface<MaskCase> {};

TEST_P(MaskDrawTest, OnlyPixelsTheMaskLetsThroughChange) {
  const MaskCase c = GetParam();
  Start(32, kBackground, c.software);
  ASSERT_EQ(SetMaskScreenCreated(1), 0);
  int pitch = 0;
  uint8_t* bytes = GetMaskBuffer(&pitch);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(pitch, 640);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) bytes[y * pitch + x] = kMaskBytes[y][x];
  SetMaskReverse(c.reverse ? 1 : 0);
  ASSERT_EQ(SetMaskUseFlag(1), 0);
  EXPECT_EQ(GetMaskUseFlag(), 1);

  ASSERT_EQ(ClearDrawTarget(), 0);
  const int graph = LoadGraphFile(WriteFixture("ink.bmp", TestImage(6, 4, kInk)).c_str());
  ASSERT_NE(graph, -1);
  // Six columns wide: the two beyond the mask's corner have zero bytes.
  ASSERT_EQ(DrawGraphAtPoint(0, 0, graph, 0), 0);

  Canvas expected(kBackground);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) {
      const bool through = (x < 4 && kMaskBytes[y][x] != 0) != c.reverse;
      if (through) expected.Put(x, y, kInk);
    }
  }
  EXPECT_EQ(CountFrameDifferences(PresentAndRead(c.software), expected.image), 0);
}

INSTANTIATE_TEST_SUITE_P(Paths, MaskDrawTest,
                         ::testing::Values(MaskCase{false, false}, MaskCase{false, true},
                                           MaskCase{true, false}, MaskCase{true, true}),
                         [](const ::testing::TestParamInfo<MaskCase>& info) {
                           return std::string(info.param.software ? "Software" : "Direct3D") +
                                  (info.param.reverse ? "Reverse" : "");
                         });

class MaskTest : public GraphTest {};

TEST_F(MaskTest, HandleAndFlagCallsOnEmptyTables) {
  Start(32, kBackground);
  const int graph = LoadGraphFile(WriteFixture("ink.bmp", TestImage(4, 4, kInk)).c_str());
  for (int handle : {-1, 0, graph, 0x28000000}) {
    SCOPED_TRACE(handle);
    EXPECT_EQ(DeleteMaskHandle(handle), -1);
  }
  EXPECT_EQ(SetMaskUseFlag(1), -1);
  EXPECT_EQ(GetMaskUseFlag(), 0);
  EXPECT_EQ(DeleteAllMaskHandles(), 0);
  EXPECT_EQ(GetMaskScreenSurface(), nullptr);
}

TEST_F(MaskTest, TheMaskScreenSurvivesARebuildAndLeavesNothingAtTheEnd) {
  Start(32, kBackground);
  const int texturesBefore = D3D9GetLiveObjectCount(D3D9ObjectKind::Texture);
  ASSERT_EQ(SetMaskScreenCreated(1), 0);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Texture), texturesBefore + 2);
  int pitch = 0;
  GetMaskBuffer(&pitch)[pitch + 2] = 9;
  ASSERT_EQ(SetMaskUseFlag(1), 0);
  ASSERT_NE(GetMaskScreenSurface(), nullptr);

  D3D9InjectDeviceLoss();
  ASSERT_TRUE(PostMessageA(GetEngineWindowHandle(), WM_ACTIVATE, WA_ACTIVE, 0));
  ProcessWindowMessages();
  ASSERT_EQ(D3D9GetDeviceCreationCount(), 2);
  EXPECT_EQ(D3D9GetLeakReportCount(), 0);
  EXPECT_EQ(GetMaskUseFlag(), 1);
  EXPECT_NE(GetMaskScreenSurface(), nullptr);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Texture), texturesBefore + 2);
  // The bytes are no device object: a rebuild keeps them.
  EXPECT_EQ(GetMaskBuffer(&pitch)[pitch + 2], 9);

  ShutdownEngine();
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Texture), 0);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Device), 0);
  EXPECT_EQ(D3D9GetLeakReportCount(), 0);
  EXPECT_EQ(GetMaskBuffer(nullptr), nullptr);
  EXPECT_EQ(GetMaskUseFlag(), 0);
}

}  // namespace
