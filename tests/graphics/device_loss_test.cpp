// Device loss: a lost device found at window activation is released with Direct3D and made again,
// its state re-sent, the camera and draw area of before the loss restored, graph handles kept; a
// rebuild that cannot bring Direct3D back keeps the device marked lost and tries again.
#include <cstring>

#include "graphics/blend_state.h"
#include "graphics/camera.h"
#include "graphics/device_state_cache.h"
#include "graphics/graph_handle.h"
#include "tests/graphics/graphics_engine_fixture.h"

namespace {

int inputStarts = 0;
int CountInputStart() {
  ++inputStarts;
  return 0;
}

class DeviceLossTest : public GraphicsEngineTest {
 protected:
  void SetUp() override {
    GraphicsEngineTest::SetUp();
    inputStarts = 0;
    GetEngineSubsystemCalls().initializeInputDevices = CountInputStart;
    PreInitSettings& settings = EngineSettings();
    settings.backgroundRed = 0x10;
    settings.backgroundGreen = 0x80;
    settings.backgroundBlue = 0xF0;
    settings.backgroundSet = 1;
    ASSERT_EQ(InitializeEngine(), 0);
    inputStarts = 0;
  }
  void TearDown() override {
    GraphicsEngineTest::TearDown();
    ResetEngineSubsystemCalls();
  }
  // The window is activated again, as after the user switched back to the program.
  static void Activate() {
    PostMessageA(GetEngineWindowHandle(), WM_ACTIVATE, 1, 0);
    ProcessWindowMessages();
  }
  static bool SameMatrix(const Matrix4& a, const Matrix4& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
  }
};

// A 2 x 2 TGA of four colours, uncompressed true colour with the origin at the top.
std::vector<uint8_t> SmallTga() {
  std::vector<uint8_t> image = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0x20};
  const uint8_t pixels[] = {0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255};
  image.insert(image.end(), pixels, pixels + sizeof pixels);
  return image;
}

TEST_F(DeviceLossTest, RebuildsTheDeviceAndRestoresState) {
  const std::vector<uint8_t> tga = SmallTga();
  const int graph =
      CreateGraphFromMemoryImage(tga.data(), static_cast<int>(tga.size()), nullptr, 0, 1, 0);
  ASSERT_NE(graph, -1);
  const int white = GetBuiltInWhiteGraph();
  ASSERT_NE(white, -1);
  ASSERT_EQ(SetDrawFilterMode(1), 0);
  ASSERT_EQ(SetDrawClipRect(10, 20, 300, 200), 0);
  ASSERT_EQ(ChangeCameraNearFar(5.0f, 5000.0f), 0);
  Matrix4 view;
  MakeUnitMatrix(&view);
  view.m[3][0] = -100.0f;
  ASSERT_EQ(SetViewMatrix(&view), 0);
  const DrawSettings before = *GetDrawSettings();
  ASSERT_EQ(ClearDrawTarget(), 0);
  ASSERT_EQ(PresentFrame(), 0);
  const std::vector<uint32_t> frame = PresentedPixels();
  ASSERT_FALSE(frame.empty());

  const int created = D3D9GetDeviceCreationCount();
  D3D9InjectDeviceLoss();
  EXPECT_EQ(PresentFrame(), -1);
  Activate();

  EXPECT_EQ(D3D9GetDeviceCreationCount(), created + 1);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Device), 1);
  EXPECT_EQ(D3D9GetLeakReportCount(), 0);
  EXPECT_EQ(inputStarts, 1);
  EXPECT_EQ(IsDirect3DMode(), 1);
  EXPECT_EQ(GetDrawSettings()->deviceRecreated, 1);

  // Handles keep their values; the white graph, made from memory, is made again on next use.
  EXPECT_EQ(IsGraphHandleLive(graph), 1);
  EXPECT_NE(GetGraphFirstTexture(graph, nullptr, nullptr), nullptr);
  EXPECT_EQ(IsGraphHandleLive(white), 0);
  const int newWhite = GetBuiltInWhiteGraph();
  EXPECT_NE(newWhite, -1);
  EXPECT_NE(GetGraphFirstTexture(newWhite, nullptr, nullptr), nullptr);

  // The camera and the draw area of before the loss, not the target's defaults.
  const DrawSettings& after = *GetDrawSettings();
  EXPECT_TRUE(SameMatrix(after.viewMatrix, before.viewMatrix));
  EXPECT_TRUE(SameMatrix(after.camera.projectionMatrix, before.camera.projectionMatrix));
  EXPECT_TRUE(SameMatrix(after.cameraViewportMatrix, before.cameraViewportMatrix));
  EXPECT_TRUE(SameMatrix(after.projectionMatrix, before.projectionMatrix));
  EXPECT_EQ(after.drawArea.left, 10);
  EXPECT_EQ(after.drawArea.top, 20);
  EXPECT_EQ(after.drawArea.right, 300);
  EXPECT_EQ(after.drawArea.bottom, 200);

  // The new device has the states of the old one.
  IDirect3DDevice9* device = GetDirect3DDevice9();
  DWORD filter = 0;
  device->GetSamplerState(0, D3DSAMP_MAGFILTER, &filter);
  EXPECT_EQ(filter, DWORD{D3DTEXF_LINEAR});
  D3DVIEWPORT9 viewport{};
  device->GetViewport(&viewport);
  EXPECT_EQ(viewport.X, 10u);
  EXPECT_EQ(viewport.Width, 290u);
  D3DMATRIX projection{};
  device->GetTransform(D3DTS_PROJECTION, &projection);
  EXPECT_EQ(std::memcmp(projection.m, after.projectionMatrix.m, sizeof projection.m), 0);

  // The same scene presents the same frame.
  ASSERT_EQ(ClearDrawTarget(), 0);
  ASSERT_EQ(PresentFrame(), 0);
  EXPECT_EQ(PresentedPixels(), frame);
}

TEST_F(DeviceLossTest, FailedRebuildKeepsTheDeviceLostAndRetries) {
  D3D9InjectDeviceLoss();
  D3D9FailNextCalls(D3D9Call::CreateDevice, 2);
  Activate();
  EXPECT_EQ(GraphicsCore().deviceLost, 1);
  EXPECT_EQ(IsDirect3DMode(), 0);
  EXPECT_EQ(IsSoftwareMode(), 0);
  EXPECT_EQ(D3D9GetLiveObjectCount(D3D9ObjectKind::Device), 0);
  EXPECT_EQ(ClearDrawTarget(), 0);
  EXPECT_EQ(PresentFrame(), -1);

  // Within a second no new attempt is made; after it the next present rebuilds.
  const int created = D3D9GetDeviceCreationCount();
  AdvancePlatformTime(500);
  EXPECT_EQ(PresentFrame(), -1);
  EXPECT_EQ(D3D9GetDeviceCreationCount(), created);
  AdvancePlatformTime(600);
  EXPECT_EQ(PresentFrame(), 0);
  EXPECT_EQ(D3D9GetDeviceCreationCount(), created + 1);
  EXPECT_EQ(GraphicsCore().deviceLost, 0);
  EXPECT_EQ(IsDirect3DMode(), 1);
  ASSERT_EQ(ClearDrawTarget(), 0);
  ASSERT_EQ(PresentFrame(), 0);
  const std::vector<uint32_t> pixels = PresentedPixels();
  ASSERT_FALSE(pixels.empty());
  EXPECT_EQ(pixels[0], 0x1080F0u);
}

TEST_F(DeviceLossTest, ActivationWithAHealthyDeviceRebuildsNothing) {
  const int created = D3D9GetDeviceCreationCount();
  Activate();
  EXPECT_EQ(D3D9GetDeviceCreationCount(), created);
  EXPECT_EQ(inputStarts, 0);
}

}  // namespace
