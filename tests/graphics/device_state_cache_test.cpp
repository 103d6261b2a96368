// The device state cache: a value reaches the device once, again under force-resend, never when
// only what the device ignores differs, and stays unset when the device refuses it.
#include "graphics/device_state_cache.h"
#include "graphics/frame_present.h"
#include "graphics/graph_handle.h"
#include "graphics/vertex_batch.h"
#include "tests/graphics/graphics_engine_fixture.h"

namespace {

class DeviceStateCacheTest : public GraphicsEngineTest {
 protected:
  void SetUp() override {
    GraphicsEngineTest::SetUp();
    ASSERT_EQ(InitializeEngine(), 0);
    device_ = GetDirect3DDevice9();
    ASSERT_NE(device_, nullptr);
    D3D9ResetCounters();
  }
  DWORD RenderState(D3DRENDERSTATETYPE state) {
    DWORD value = 0;
    device_->GetRenderState(state, &value);
    return value;
  }
  IDirect3DDevice9* device_ = nullptr;
};

TEST_F(DeviceStateCacheTest, SameValueIsSentOnceUnlessForced) {
  EXPECT_EQ(SetZFuncState(D3DCMP_GREATER), 0);
  EXPECT_EQ(SetZFuncState(D3DCMP_GREATER), 0);
  EXPECT_EQ(D3D9GetRenderStateSetCount(D3DRS_ZFUNC), 1);
  EXPECT_EQ(RenderState(D3DRS_ZFUNC), static_cast<DWORD>(D3DCMP_GREATER));
  SetForceResend(1);
  EXPECT_EQ(SetZFuncState(D3DCMP_GREATER), 0);
  SetForceResend(0);
  EXPECT_EQ(D3D9GetRenderStateSetCount(D3DRS_ZFUNC), 2);
}

TEST_F(DeviceStateCacheTest, TextureAddressStages) {
  EXPECT_EQ(SetTextureAddressState(D3DTADDRESS_WRAP, 8), -1);
  EXPECT_EQ(D3D9GetSamplerStateSetCount(0, D3DSAMP_ADDRESSU), 0);
  EXPECT_EQ(SetTextureAddressState(D3DTADDRESS_WRAP, -1), 0);
  for (DWORD stage = 0; stage < 8; ++stage) {
    SCOPED_TRACE(stage);
    for (D3DSAMPLERSTATETYPE type : {D3DSAMP_ADDRESSU, D3DSAMP_ADDRESSV, D3DSAMP_ADDRESSW}) {
      EXPECT_EQ(D3D9GetSamplerStateSetCount(stage, type), 1);
      DWORD value = 0;
      device_->GetSamplerState(stage, type, &value);
      EXPECT_EQ(value, static_cast<DWORD>(D3DTADDRESS_WRAP));
    }
  }
  EXPECT_EQ(SetTextureAddressUState(D3DTADDRESS_MIRROR, 3), 0);
  EXPECT_EQ(D3D9GetSamplerStateSetCount(3, D3DSAMP_ADDRESSU), 2);
  EXPECT_EQ(D3D9GetSamplerStateSetCount(2, D3DSAMP_ADDRESSU), 1);
}

TEST_F(DeviceStateCacheTest, ViewportDifferingOnlyInDepthRangeIsNotSent) {
  const D3DVIEWPORT9 viewport{10, 20, 100, 50, 0.0f, 1.0f};
  EXPECT_EQ(SetDeviceViewport(&viewport), 0);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::SetViewport), 1);
  const D3DVIEWPORT9 depthOnly{10, 20, 100, 50, 0.5f, 0.75f};
  EXPECT_EQ(SetDeviceViewport(&depthOnly), 0);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::SetViewport), 1);
}

TEST_F(DeviceStateCacheTest, RefusedValueIsNotMirrored) {
  const D3DVIEWPORT9 good{0, 0, 320, 240, 0.0f, 1.0f};
  ASSERT_EQ(SetDeviceViewport(&good), 0);
  // Larger than the back buffer: the device refuses it, the mirror keeps the value it has.
  const D3DVIEWPORT9 tooLarge{0, 0, 4000, 240, 0.0f, 1.0f};
  EXPECT_EQ(SetDeviceViewport(&tooLarge), -1);
  EXPECT_EQ(GetDeviceStateCache().viewport.Width, 320u);
  EXPECT_EQ(SetDeviceViewport(&tooLarge), -1);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::SetViewport), 3);
  EXPECT_NE(ReadLog().find("ビューポートのセットに失敗しました ErrorCode 8876086c\r\n"),
            std::string::npos);
  // The value the device holds is still known, so setting it again sends nothing.
  EXPECT_EQ(SetDeviceViewport(&good), 0);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::SetViewport), 3);
}

TEST_F(DeviceStateCacheTest, CullModeCodes) {
  const struct {
    int mode;
    D3DCULL cull;
  } cases[] = {{1, D3DCULL_CCW}, {2, D3DCULL_CW}, {0, D3DCULL_NONE}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    EXPECT_EQ(SetCullModeState(c.mode), 0);
    EXPECT_EQ(RenderState(D3DRS_CULLMODE), static_cast<DWORD>(c.cull));
  }
  EXPECT_EQ(SetCullModeState(3), -1);
}

TEST_F(DeviceStateCacheTest, AmbientComponentsAreClampedToOneByte) {
  const float ambient[4] = {2.0f, 0.5f, -1.0f, 1.0f};
  EXPECT_EQ(SetAmbientColorState(ambient), 0);
  EXPECT_EQ(RenderState(D3DRS_AMBIENT), 0xFFFF7F00u);
}

TEST_F(DeviceStateCacheTest, FilterModes) {
  const struct {
    int mode;
    DWORD mag, min, mip;
  } cases[] = {{1, D3DTEXF_LINEAR, D3DTEXF_LINEAR, D3DTEXF_LINEAR},
               {2, D3DTEXF_LINEAR, D3DTEXF_ANISOTROPIC, D3DTEXF_LINEAR},
               {0, D3DTEXF_POINT, D3DTEXF_POINT, D3DTEXF_POINT}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    EXPECT_EQ(ApplyTextureFilterMode(c.mode), 0);
    for (DWORD stage : {0u, 7u}) {
      DWORD value = 0;
      device_->GetSamplerState(stage, D3DSAMP_MAGFILTER, &value);
      EXPECT_EQ(value, c.mag);
      device_->GetSamplerState(stage, D3DSAMP_MINFILTER, &value);
      EXPECT_EQ(value, c.min);
      device_->GetSamplerState(stage, D3DSAMP_MIPFILTER, &value);
      EXPECT_EQ(value, c.mip);
    }
  }
  EXPECT_EQ(ApplyTextureFilterMode(3), -1);
}

TEST_F(DeviceStateCacheTest, GridNeedsTwoColumnsAndRows) {
  float vertices[4 * 7] = {};
  BeginDeviceScene();
  EXPECT_EQ(DrawIndexedGrid(vertices, 1, 4), -1);
  EXPECT_EQ(DrawIndexedGrid(vertices, 4, 1), -1);
  EXPECT_EQ(DrawIndexedGrid(vertices, 2, 2), 0);
}

TEST_F(DeviceStateCacheTest, GridOfManyRowsIsDrawnInStripsOfAtMost1000Indices) {
  // 40 columns: 80 indices a pair of rows plus 2 joining; 30 rows give 29 pairs.
  std::vector<float> vertices(40 * 30 * 7, 0.0f);
  BeginDeviceScene();
  D3D9ResetCounters();
  EXPECT_EQ(DrawIndexedGrid(vertices.data(), 40, 30), 0);
  // 12 pairs fit in 1000 indices (12 x 80 + 11 x 2 = 982), so 29 pairs take three draws.
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::Draw), 3);
}

TEST_F(DeviceStateCacheTest, AChangeSendsTheQueuedVerticesFirst) {
  // A 2 x 2 TGA, uncompressed true colour with the origin at the top.
  const uint8_t tga[] = {0, 0,  2,    0, 0, 0,   0, 0,   0, 0,   0, 0, 2,   0,   2,
                         0, 24, 0x20, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255};
  const int graph = CreateGraphFromMemoryImage(tga, sizeof tga, nullptr, 0, 1, 0);
  ASSERT_NE(graph, -1);
  ASSERT_EQ(DrawGraphAtPoint(10, 10, graph, 0), 0);
  ASSERT_EQ(DrawGraphAtPoint(20, 10, graph, 0), 0);
  ASSERT_GT(GetVertexBatchCount(), 0);
  D3D9ResetCounters();
  ASSERT_EQ(SetCullModeState(1), 0);
  EXPECT_EQ(GetVertexBatchCount(), 0);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::Draw), 1);
  // The draw asserts its own cull mode (none); that value again sends nothing and leaves the
  // queued vertices queued.
  ASSERT_EQ(DrawGraphAtPoint(30, 10, graph, 0), 0);
  ASSERT_EQ(SetCullModeState(0), 0);
  EXPECT_GT(GetVertexBatchCount(), 0);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::Draw), 1);
}

}  // namespace
