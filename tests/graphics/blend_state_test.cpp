// The blend application's device states for every blend mode, the image-alpha and alpha-test
// defaults, the blend graph's border computation, and the refusal of modes outside 0-14.
#include "graphics/blend_state.h"
#include "graphics/graph_handle.h"
#include "tests/graphics/graphics_engine_fixture.h"

namespace {

constexpr DWORD kKeep = 0xFFFFFFFF;

class BlendStateTest : public GraphicsEngineTest {
 protected:
  void SetUp() override {
    GraphicsEngineTest::SetUp();
    ASSERT_EQ(InitializeEngine(), 0);
    device_ = GetDirect3DDevice9();
    ASSERT_NE(device_, nullptr);
  }
  void TearDown() override {
    SetDrawTextureState(nullptr);
    SetBlendTextureState(nullptr, 0, 0);
    ApplyBlendState(0, nullptr, 0);
    for (IDirect3DTexture9* texture : textures_) texture->Release();
    GraphicsEngineTest::TearDown();
  }
  IDirect3DTexture9* MakeTexture() {
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(
        device_->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
        D3D_OK);
    textures_.push_back(texture);
    return texture;
  }
  DWORD RenderState(D3DRENDERSTATETYPE state) {
    DWORD value = 0;
    device_->GetRenderState(state, &value);
    return value;
  }
  DWORD StageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type) {
    DWORD value = 0;
    device_->GetTextureStageState(stage, type, &value);
    return value;
  }
  IDirect3DDevice9* device_ = nullptr;
  std::vector<IDirect3DTexture9*> textures_;
};

struct BlendCase {
  int mode;
  DWORD enable;
  DWORD source;
  DWORD destination;
  DWORD operation;
};

// kKeep: the mode leaves the device's factor as the previous mode set it.
constexpr BlendCase kBlendCases[] = {
    {0, 0, kKeep, kKeep, D3DBLENDOP_ADD},
    {1, 1, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD},
    {2, 1, D3DBLEND_SRCALPHA, D3DBLEND_ONE, D3DBLENDOP_ADD},
    {3, 1, D3DBLEND_SRCALPHA, D3DBLEND_ONE, D3DBLENDOP_REVSUBTRACT},
    {4, 1, D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, D3DBLENDOP_ADD},
    {5, 1, D3DBLEND_SRCALPHA, D3DBLEND_ONE, D3DBLENDOP_ADD},
    {6, 0, kKeep, kKeep, D3DBLENDOP_ADD},
    {7, 1, kKeep, kKeep, D3DBLENDOP_ADD},
    {8, 1, D3DBLEND_ZERO, D3DBLEND_ONE, D3DBLENDOP_ADD},
    {9, 1, D3DBLEND_INVDESTCOLOR, D3DBLEND_ZERO, D3DBLENDOP_ADD},
    {10, 1, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD},
    {11, 1, D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, D3DBLENDOP_ADD},
    {12, 1, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD},
    {13, 1, D3DBLEND_SRCALPHA, D3DBLEND_ONE, D3DBLENDOP_ADD},
    {14, 1, D3DBLEND_SRCALPHA, D3DBLEND_ONE, D3DBLENDOP_REVSUBTRACT},
};

TEST_F(BlendStateTest, EachModeSetsItsBlendStates) {
  SetDrawTextureState(MakeTexture());
  for (const BlendCase& c : kBlendCases) {
    SCOPED_TRACE(c.mode);
    // A known factor first, so a mode that keeps the device's factors shows it.
    SetBlendModeRecord(1, 0, 0);
    ApplyBlendState(0, nullptr, 0);
    SetBlendModeRecord(c.mode, 0, 0);
    ApplyBlendState(0, nullptr, 0);
    EXPECT_EQ(RenderState(D3DRS_ALPHABLENDENABLE), c.enable);
    EXPECT_EQ(RenderState(D3DRS_SRCBLEND), c.source == kKeep ? DWORD{D3DBLEND_SRCALPHA} : c.source);
    EXPECT_EQ(RenderState(D3DRS_DESTBLEND),
              c.destination == kKeep ? DWORD{D3DBLEND_INVSRCALPHA} : c.destination);
    EXPECT_EQ(RenderState(D3DRS_BLENDOP), c.operation);
  }
}

TEST_F(BlendStateTest, SubtractiveModeWithoutReverseSubtractionUsesItsOwnRow) {
  ShutdownEngine();
  D3D9ClearPrimitiveMiscCaps(D3DPMISCCAPS_BLENDOP);
  ASSERT_EQ(InitializeEngine(), 0);
  device_ = GetDirect3DDevice9();
  EXPECT_NE(ReadLog().find("減算合成のハードウェア対応：エミュレート\r\n"), std::string::npos);
  SetDrawTextureState(MakeTexture());
  SetBlendModeRecord(3, 0, 0);
  ASSERT_EQ(ApplyBlendState(0, nullptr, 0), 0);
  EXPECT_EQ(RenderState(D3DRS_SRCBLEND), DWORD{D3DBLEND_INVDESTCOLOR});
  EXPECT_EQ(RenderState(D3DRS_DESTBLEND), DWORD{D3DBLEND_ZERO});
  EXPECT_EQ(RenderState(D3DRS_BLENDOP), DWORD{D3DBLENDOP_ADD});
}

TEST_F(BlendStateTest, ImageAlphaBlendsEvenInModeZero) {
  SetDrawTextureState(MakeTexture());
  SetBlendModeRecord(0, 1, 0);
  ASSERT_EQ(ApplyBlendState(0, nullptr, 0), 0);
  EXPECT_EQ(RenderState(D3DRS_ALPHABLENDENABLE), 1u);
  EXPECT_EQ(RenderState(D3DRS_SRCBLEND), DWORD{D3DBLEND_SRCALPHA});
  EXPECT_EQ(RenderState(D3DRS_DESTBLEND), DWORD{D3DBLEND_INVSRCALPHA});
  EXPECT_EQ(StageState(0, D3DTSS_ALPHAARG1), DWORD{D3DTA_TEXTURE});
}

TEST_F(BlendStateTest, TransparentColourImagesUseTheAlphaTest) {
  IDirect3DTexture9* texture = MakeTexture();
  SetDrawTextureState(texture);
  SetBlendModeRecord(0, 0, 1);
  SetBlendParamRecord(0, 0);
  ASSERT_EQ(ApplyBlendState(0, nullptr, 0), 0);
  EXPECT_EQ(RenderState(D3DRS_ALPHATESTENABLE), 1u);
  EXPECT_EQ(RenderState(D3DRS_ALPHAFUNC), DWORD{D3DCMP_GREATER});
  EXPECT_EQ(RenderState(D3DRS_ALPHAREF), 16u);
  EXPECT_EQ(RenderState(D3DRS_ALPHABLENDENABLE), 0u);
  EXPECT_EQ(StageState(0, D3DTSS_COLOROP), DWORD{D3DTOP_SELECTARG1});
  EXPECT_EQ(StageState(0, D3DTSS_COLORARG1), DWORD{D3DTA_TEXTURE});
  EXPECT_EQ(StageState(1, D3DTSS_COLOROP), DWORD{D3DTOP_DISABLE});
  IDirect3DBaseTexture9* bound = nullptr;
  device_->GetTexture(0, &bound);
  EXPECT_EQ(bound, texture);
  if (bound != nullptr) bound->Release();

  // A coloured draw (brightness not white) modulates by the vertex colour.
  SetBlendParamRecord(1, 0);
  ASSERT_EQ(ApplyBlendState(0, nullptr, 0), 0);
  EXPECT_EQ(StageState(0, D3DTSS_COLOROP), DWORD{D3DTOP_MODULATE});
  EXPECT_EQ(StageState(0, D3DTSS_COLORARG2), DWORD{D3DTA_DIFFUSE});
}

TEST_F(BlendStateTest, NothingChangedIsNotApplied) {
  SetDrawTextureState(MakeTexture());
  SetBlendModeRecord(2, 0, 0);
  ASSERT_EQ(ApplyBlendState(0, nullptr, 0), 0);
  EXPECT_EQ(ApplyBlendState(0, nullptr, 0), -1);
  // Only another texture: bound without a new program.
  IDirect3DTexture9* other = MakeTexture();
  SetDrawTextureState(other);
  D3D9ResetCounters();
  EXPECT_EQ(ApplyBlendState(0, nullptr, 0), 0);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::SetTexture), 1);
  EXPECT_EQ(D3D9GetRenderStateSetCount(D3DRS_SRCBLEND), 0);
}

struct BorderCase {
  int param;
  int range;
  DWORD factor;
  DWORD stage0AlphaOp;
  DWORD stage1AlphaOp;
  DWORD blending;
};

TEST_F(BlendStateTest, BlendGraphBorder) {
  SetDrawTextureState(MakeTexture());
  IDirect3DTexture9* blend = MakeTexture();
  const BorderCase cases[] = {
      {100, 1, 0x00FFFFFF, D3DTOP_ADD, D3DTOP_MODULATE, 0},
      {0, 64, 0x40FFFFFF, D3DTOP_ADD, D3DTOP_MODULATE4X, 1},
      {255, 65, 0xFFFFFFFF, D3DTOP_SUBTRACT, D3DTOP_MODULATE2X, 1},
      {128, 129, 0x01FFFFFF, D3DTOP_SUBTRACT, D3DTOP_MODULATE, 1},
      {0, 200, 0xFFFFFFFF, D3DTOP_ADD, D3DTOP_MODULATE, 1},
  };
  for (const BorderCase& c : cases) {
    SCOPED_TRACE(c.range);
    SetBlendModeRecord(0, 0, 1);
    SetBlendTextureState(blend, c.param, c.range);
    ASSERT_EQ(ApplyBlendState(0, nullptr, 0), 0);
    EXPECT_EQ(RenderState(D3DRS_TEXTUREFACTOR), c.factor);
    EXPECT_EQ(StageState(0, D3DTSS_ALPHAOP), c.stage0AlphaOp);
    EXPECT_EQ(StageState(1, D3DTSS_ALPHAOP), c.stage1AlphaOp);
    EXPECT_EQ(RenderState(D3DRS_ALPHABLENDENABLE), c.blending);
    EXPECT_EQ(GetDeviceStateCache().draw.vertexType, 2);
    EXPECT_EQ(GetDeviceStateCache().draw.drawsNothing, c.param == 255 ? 1 : 0);
  }
  // A range of at most 1 is an alpha test at the border parameter.
  SetBlendTextureState(blend, 100, 1);
  ASSERT_EQ(ApplyBlendState(0, nullptr, 0), 0);
  EXPECT_EQ(RenderState(D3DRS_ALPHATESTENABLE), 1u);
  EXPECT_EQ(RenderState(D3DRS_ALPHAFUNC), DWORD{D3DCMP_GREATEREQUAL});
  EXPECT_EQ(RenderState(D3DRS_ALPHAREF), 100u);
}

TEST_F(BlendStateTest, ModesOutsideTheTableAreRefused) {
  ASSERT_EQ(SetBlendModeAndParam(2, 100), 0);
  for (int mode : {-1, 15, 100}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(SetBlendModeAndParam(mode, 50), -1);
    EXPECT_EQ(GetDrawSettings()->blendMode, 2);
    EXPECT_EQ(GetDrawSettings()->blendParam, 100);
  }
  EXPECT_EQ(SetBlendModeAndParam(14, 999), 0);
  EXPECT_EQ(GetDrawSettings()->blendMode, 14);
  EXPECT_EQ(GetDrawSettings()->blendParam, 255);
}

TEST_F(BlendStateTest, UntexturedDrawInModeTwelveBindsTheWhiteGraph) {
  SetDrawTextureState(nullptr);
  SetBlendModeRecord(12, 0, 0);
  ASSERT_EQ(ApplyBlendState(0, nullptr, 0), 0);
  const int white = GetBuiltInWhiteGraph();
  ASSERT_NE(white, -1);
  int width = 0;
  int height = 0;
  IDirect3DTexture9* texture = GetGraphFirstTexture(white, &width, &height);
  ASSERT_NE(texture, nullptr);
  IDirect3DBaseTexture9* bound = nullptr;
  device_->GetTexture(0, &bound);
  EXPECT_EQ(bound, texture);
  if (bound != nullptr) bound->Release();
  EXPECT_EQ(StageState(0, D3DTSS_COLOROP), DWORD{D3DTOP_MODULATE4X});
  EXPECT_EQ(GetBuiltInWhiteGraph(), white);
}

}  // namespace
