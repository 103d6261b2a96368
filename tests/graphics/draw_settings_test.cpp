// Draw settings: brightness and blend clamping with the batch colour, the draw area, screen colour
// codes, the blend graph's refusal, the defaults of the reset, and the screen-mode queries.
#include "graphics/camera.h"
#include "graphics/device_state_cache.h"
#include "graphics/graph_handle.h"
#include "graphics/screen_mode.h"
#include "graphics/vertex_batch.h"
#include "system/engine_handle.h"
#include "tests/graphics/graphics_engine_fixture.h"

namespace {

using DrawSettingsTest = GraphicsEngineTest;

TEST_F(DrawSettingsTest, BrightnessAndBlendParameterAreClamped) {
  ASSERT_EQ(InitializeEngine(), 0);
  ASSERT_EQ(SetDrawBrightness(300, -5, 128), 0);
  EXPECT_EQ(GetDrawBrightnessRGB(GetDrawSettings()), 0xFF0080u);
  EXPECT_EQ(GetVertexBatchColor(), 0xFFFF0080u);
  ASSERT_EQ(SetBlendModeAndParam(1, 999), 0);
  EXPECT_EQ(GetDrawSettings()->blendParam, 255);
  EXPECT_EQ(GetVertexBatchColor() >> 24, 255u);
  ASSERT_EQ(SetBlendModeAndParam(1, 128), 0);
  EXPECT_EQ(GetVertexBatchColor(), 0x80FF0080u);
  // Mode 0 draws opaque whatever the parameter.
  ASSERT_EQ(SetBlendModeAndParam(0, 128), 0);
  EXPECT_EQ(GetVertexBatchColor() >> 24, 255u);
  ASSERT_EQ(SetDrawBrightnessPacked(0xAB123456), 0);
  EXPECT_EQ(GetDrawBrightnessRGB(GetDrawSettings()), 0x123456u);
}

TEST_F(DrawSettingsTest, DrawAreaIsSortedClampedAndMayBeEmpty) {
  ASSERT_EQ(InitializeEngine(), 0);
  const struct {
    RECT request;
    RECT expected;
    int empty;
  } cases[] = {
      {{100, 100, 50, 50}, {50, 50, 100, 100}, 0}, {{10, 10, 10, 200}, {10, 10, 10, 200}, 1},
      {{-20, -30, 700, 500}, {0, 0, 640, 480}, 0}, {{600, 470, 900, 900}, {600, 470, 640, 480}, 0},
      {{700, 10, 800, 20}, {640, 10, 640, 20}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request.left);
    ASSERT_EQ(SetDrawClipRect(c.request.left, c.request.top, c.request.right, c.request.bottom), 0);
    const DrawSettings* settings = GetDrawSettings();
    EXPECT_EQ(settings->drawArea.left, c.expected.left);
    EXPECT_EQ(settings->drawArea.top, c.expected.top);
    EXPECT_EQ(settings->drawArea.right, c.expected.right);
    EXPECT_EQ(settings->drawArea.bottom, c.expected.bottom);
    EXPECT_EQ(settings->drawAreaEmpty, c.empty);
    EXPECT_FLOAT_EQ(settings->drawAreaFloat[2], static_cast<float>(c.expected.right));
    EXPECT_EQ(GetRequestedDrawArea().left, c.request.left);
  }
}

TEST_F(DrawSettingsTest, ScreenColourCodesOnA32BitDevice) {
  ASSERT_EQ(InitializeEngine(), 0);
  ASSERT_EQ(GetScreenColorBitDepth(), 32);
  EXPECT_EQ(MakeScreenColorCode(255, 0, 0), 0xFFFF0000u);
  EXPECT_EQ(MakeScreenColorCode(0x12, 0x34, 0x56), 0xFF123456u);
  int red = 0;
  int green = 0;
  int blue = 0;
  ASSERT_EQ(SplitScreenColorCode(0xFF123456u, &red, &green, &blue), 0);
  EXPECT_EQ(red, 0x12);
  EXPECT_EQ(green, 0x34);
  EXPECT_EQ(blue, 0x56);
}

TEST_F(DrawSettingsTest, ScreenColourCodesOnA16BitSoftwareScreen) {
  SetUseHardwareGraphics(0);
  ASSERT_EQ(ChangeScreenMode(640, 480, 16, 0, -1), 0);
  ASSERT_EQ(InitializeEngine(), 0);
  ASSERT_EQ(GetScreenColorBitDepth(), 16);
  const struct {
    int red, green, blue;
    uint32_t code;
    int splitRed, splitGreen, splitBlue;
  } cases[] = {
      {255, 0, 0, 0xF800, 255, 0, 0},
      {0, 255, 0, 0x07E0, 0, 255, 0},
      {0, 0, 255, 0x001F, 0, 0, 255},
      {0x80, 0x80, 0x80, 0x8410, 131, 129, 131},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(MakeScreenColorCode(c.red, c.green, c.blue), c.code);
    int red = 0;
    int green = 0;
    int blue = 0;
    SplitScreenColorCode(c.code, &red, &green, &blue);
    EXPECT_EQ(red, c.splitRed);
    EXPECT_EQ(green, c.splitGreen);
    EXPECT_EQ(blue, c.splitBlue);
  }
}

TEST_F(DrawSettingsTest, BlendGraphThatIsNotLiveChangesNothing) {
  ASSERT_EQ(InitializeEngine(), 0);
  for (int graph :
       {0, 12345, MakeEngineHandle(kGraphHandle, 5, 7), MakeEngineHandle(kSoundHandle, 0, 0)}) {
    SCOPED_TRACE(graph);
    EXPECT_EQ(SetBlendGraph(graph, 10, 20), -1);
    EXPECT_EQ(GetDrawSettings()->blendGraph, -1);
    EXPECT_EQ(GetDrawSettings()->blendBorderParam, 0);
  }
  EXPECT_EQ(SetBlendGraph(-1, 300, -4), 0);
  EXPECT_EQ(GetDrawSettings()->blendBorderParam, 255);
  EXPECT_EQ(GetDrawSettings()->blendBorderRange, 0);
}

TEST_F(DrawSettingsTest, BlendGraphRecordsItsTextureForTheNextDraw) {
  ASSERT_EQ(InitializeEngine(), 0);
  // A 2 x 2 TGA, uncompressed true colour with the origin at the top.
  const uint8_t tga[] = {0, 0,  2,    0, 0, 0,   0, 0,   0, 0,   0, 0, 2,   0,   2,
                         0, 24, 0x20, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255};
  const int graph = CreateGraphFromMemoryImage(tga, sizeof tga, nullptr, 0, 1, 0);
  ASSERT_NE(graph, -1);
  ASSERT_EQ(SetBlendGraph(graph, 64, 300), 0);
  EXPECT_EQ(GetDrawSettings()->blendGraph, graph);
  EXPECT_EQ(GetDrawSettings()->blendBorderRange, 255);
  int width = 0;
  int height = 0;
  IDirect3DTexture9* texture = GetGraphFirstTexture(graph, &width, &height);
  ASSERT_NE(texture, nullptr);
  const DrawSetupState& draw = GetDeviceStateCache().draw;
  EXPECT_EQ(draw.blendTexture, texture);
  EXPECT_EQ(draw.blendBorderParam, 64);
  EXPECT_EQ(draw.blendBorderRange, 255);
  float u = 0;
  float v = 0;
  GetBlendTextureScale(&u, &v);
  EXPECT_FLOAT_EQ(u, 1.0f / static_cast<float>(width));
  EXPECT_FLOAT_EQ(v, 1.0f / static_cast<float>(height));
  ASSERT_EQ(SetBlendGraph(-1, 0, 0), 0);
  EXPECT_EQ(draw.blendTexture, nullptr);
}

TEST_F(DrawSettingsTest, ResetGivesTheDefaults) {
  ASSERT_EQ(InitializeEngine(), 0);
  const DrawSettings* settings = GetDrawSettings();
  EXPECT_EQ(settings->drawTarget, -4);
  EXPECT_EQ(settings->blendMode, 0);
  EXPECT_EQ(settings->blendGraph, -1);
  EXPECT_EQ(settings->alphaTestFunction, -1);
  EXPECT_EQ(GetDrawBrightnessRGB(settings), 0xFFFFFFu);
  EXPECT_EQ(settings->fogMode, 3);
  EXPECT_EQ(settings->fogColor, 0xFFFFFFFFu);
  EXPECT_FLOAT_EQ(settings->fogEnd, 1500.0f);
  EXPECT_FLOAT_EQ(settings->drawDepth2D, 0.2f);
  EXPECT_EQ(settings->depth2D.zFunction, 4);
  EXPECT_EQ(settings->fillMode, 3);
  EXPECT_EQ(settings->maxAnisotropy, 1);
  EXPECT_EQ(settings->useAlphaTestFormat, 1);
  for (int stage = 0; stage < 8; ++stage) EXPECT_EQ(settings->textureAddressU[stage], 3);
  EXPECT_FLOAT_EQ(settings->camera.cameraAspect, 1.0f);
  EXPECT_FLOAT_EQ(settings->camera.aspectFactor, 1.0f);
  EXPECT_NE(GetLightRecord(GetLightBlock().defaultLight), nullptr);
  EXPECT_FLOAT_EQ(GetLightBlock().material.Power, 20.0f);
}

TEST_F(DrawSettingsTest, VerticalSyncAndHardwareSwitches) {
  ASSERT_EQ(SetWaitForVerticalSync(0), 0);
  EXPECT_EQ(GetWaitForVerticalSync(), 0);
  EXPECT_EQ(GetDrawSettings()->verticalSyncRequest, 0);
  ASSERT_EQ(SetWaitForVerticalSync(1), 0);
  EXPECT_EQ(GetWaitForVerticalSync(), 1);
  ASSERT_EQ(SetUseHardwareGraphics(0), 0);
  EXPECT_EQ(GetUseHardwareGraphics(), 0);
  ASSERT_EQ(SetUseHardwareGraphics(1), 0);
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_EQ(SetUseHardwareGraphics(0), -1);
  EXPECT_EQ(GetUseHardwareGraphics(), 1);
}

TEST_F(DrawSettingsTest, ScreenModeQueries) {
  int width = 0;
  int height = 0;
  int bits = 0;
  EXPECT_EQ(GetDisplayModeAt(-1, &width, &height, &bits), -1);
  EXPECT_EQ(width, -1);
  EXPECT_EQ(height, -1);
  EXPECT_EQ(bits, -1);
  ASSERT_GT(GetDisplayModeCount(), 0);
  EXPECT_EQ(HasDisplayMode(640, 480, 32), 1);
  EXPECT_EQ(HasDisplayMode(641, 480, 32), 0);
  ASSERT_EQ(InitializeEngine(), 0);
  const std::string logBefore = ReadLog();
  EXPECT_EQ(ChangeScreenMode(-1, -1, -1, 0, -1), 0);
  EXPECT_EQ(ReadLog(), logBefore);
  ASSERT_EQ(GetScreenModeInfo(&width, &height, &bits), 0);
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);
  SetEmulation320x240(1);
  ASSERT_EQ(GetScreenModeInfo(&width, &height, nullptr), 0);
  EXPECT_EQ(width, 320);
  EXPECT_EQ(height, 240);
  SetEmulation320x240(0);
}

TEST(ColorFormatForD3DFormatTest, KnownCodesAndOthers) {
  const struct {
    D3DFORMAT format;
    int depth;
    uint32_t red, alpha;
  } cases[] = {{D3DFMT_R8G8B8, 24, 0xFF0000, 0},
               {D3DFMT_A8R8G8B8, 32, 0xFF0000, 0xFF000000u},
               {D3DFMT_R5G6B5, 16, 0xF800, 0},
               {D3DFMT_A1R5G5B5, 16, 0x7C00, 0x8000},
               {D3DFMT_A4R4G4B4, 16, 0xF00, 0xF000},
               {D3DFMT_R3G3B2, 8, 0xE0, 0},
               {D3DFMT_A2B10G10R10, 32, 0x3FF, 0xC0000000u},
               {D3DFMT_X8B8G8R8, 32, 0xFF, 0},
               {D3DFMT_A2R10G10B10, 32, 0x3FF00000, 0xC0000000u}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    const ColorFormat* format = GetColorFormatForD3DFormat(c.format);
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->bitDepth, c.depth);
    EXPECT_EQ(format->redMask, c.red);
    EXPECT_EQ(format->alphaMask, c.alpha);
  }
  for (D3DFORMAT other : {D3DFMT_UNKNOWN, D3DFMT_A8, D3DFMT_D16, D3DFMT_DXT1})
    EXPECT_EQ(GetColorFormatForD3DFormat(other), nullptr);
}

}  // namespace
