// The setters and getters of the draw settings: brightness, blend mode and blend graph, draw area,
// filter and fog, the create-graph settings, vertical sync, the hardware switch, screen colour
// codes, and the reset at graphics start-up. In Direct3D mode they keep the batch's vertex colour
// and the device state up to date.
#include <cstring>
#include <utility>

#include "graphics/camera.h"
#include "graphics/device_state_cache.h"
#include "graphics/draw_settings.h"
#include "graphics/draw_target.h"
#include "graphics/graph_handle.h"
#include "graphics/graphics_state.h"
#include "graphics/screen_mode.h"
#include "graphics/vertex_batch.h"
#include "system/host_call_table.h"

namespace {

// Beside the block: the software mode's blend image, the last requested draw area and the
// scale of the blend texture's coordinates.
struct DrawSettingsSideState {
  const MEMIMG* blendImage;
  RECT requestedArea;
  float blendTextureScaleU;
  float blendTextureScaleV;
};
DrawSettingsSideState side;

int Clamp255(int value) { return value < 0 ? 0 : value > 255 ? 255 : value; }

bool Suppressed() { return GetDrawSettings()->drawSuppression != 0; }

const ColorFormat* ScreenColorFormat() {
  bool bits32 = GetScreenColorBitDepth() == 32;
  if (IsSoftwareMode())
    return GetMEMIMGColorFormat(bits32 ? MEMIMG_PIXEL_XRGB8 : MEMIMG_PIXEL_RGB565, 0, 0);
  return GetColorFormatForD3DFormat(bits32 ? D3DFMT_X8R8G8B8 : D3DFMT_R5G6B5);
}

}  // namespace

void RefreshVertexColor() {
  if (!IsDirect3DMode()) return;
  const DrawSettings* settings = GetDrawSettings();
  uint32_t alpha = settings->blendMode != 0 || settings->blendParamAsAlpha
                       ? static_cast<uint32_t>(settings->blendParam)
                       : 255u;
  SetVertexBatchColor((alpha << 24) | GetDrawBrightnessRGB(settings));
}

int SetDrawBrightness(int red, int green, int blue) {
  DrawSettings* settings = GetDrawSettings();
  uint8_t r = static_cast<uint8_t>(Clamp255(red));
  uint8_t g = static_cast<uint8_t>(Clamp255(green));
  uint8_t b = static_cast<uint8_t>(Clamp255(blue));
  if (settings->drawBrightness[0] == b && settings->drawBrightness[1] == g &&
      settings->drawBrightness[2] == r)
    return 0;
  settings->drawBrightness[0] = b;
  settings->drawBrightness[1] = g;
  settings->drawBrightness[2] = r;
  RefreshVertexColor();
  return 0;
}

int SetDrawBrightnessPacked(uint32_t rgb) {
  return SetDrawBrightness(static_cast<int>((rgb >> 16) & 0xFF),
                           static_cast<int>((rgb >> 8) & 0xFF), static_cast<int>(rgb & 0xFF));
}

int SetBlendModeAndParam(int mode, int param) {
  DrawSettings* settings = GetDrawSettings();
  if (Suppressed()) return 0;
  // The blend table has rows for modes 0-14 only.
  if (mode < 0 || mode > 14) return -1;
  param = Clamp255(param);
  if (settings->blendMode == mode && settings->blendParam == param) return 0;
  hostCallTable.waitWhileWindowInactive();
  settings->blendMode = mode;
  settings->blendParam = param;
  RefreshVertexColor();
  return 0;
}

int SetBlendGraph(int graph, int borderParam, int borderRange) {
  DrawSettings* settings = GetDrawSettings();
  if (Suppressed()) return 0;
  borderParam = Clamp255(borderParam);
  borderRange = Clamp255(borderRange);
  if (settings->blendGraph == graph && settings->blendBorderParam == borderParam &&
      settings->blendBorderRange == borderRange)
    return 0;
  // Every check comes before any change: a refused graph leaves the settings and the device's
  // blend texture as they were.
  if (graph != -1 && !IsGraphHandleLive(graph)) return -1;
  IDirect3DTexture9* texture = nullptr;
  int textureWidth = 0;
  int textureHeight = 0;
  const bool direct3D = GraphicsCore().direct3DActive != 0;
  if (direct3D) {
    if (GraphicsCore().device == nullptr) return -1;
    if (graph != -1) {
      texture = GetGraphFirstTexture(graph, &textureWidth, &textureHeight);
      if (texture == nullptr || textureWidth <= 0 || textureHeight <= 0) return -1;
    }
  }
  hostCallTable.waitWhileWindowInactive();
  settings->blendGraph = graph;
  settings->blendBorderParam = borderParam;
  settings->blendBorderRange = borderRange;
  if (!direct3D) {
    side.blendImage = graph == -1 ? nullptr : GetGraphMEMIMG(graph);
    BuildMEMIMGBlendGraphTable(borderParam, borderRange);
    return 0;
  }
  SetBlendTextureState(texture, borderParam, borderRange);
  side.blendTextureScaleU = textureWidth > 0 ? 1.0f / static_cast<float>(textureWidth) : 0.0f;
  side.blendTextureScaleV = textureHeight > 0 ? 1.0f / static_cast<float>(textureHeight) : 0.0f;
  return 0;
}

const MEMIMG* GetSoftwareBlendImage() { return side.blendImage; }

void GetBlendTextureScale(float* u, float* v) {
  if (u != nullptr) *u = side.blendTextureScaleU;
  if (v != nullptr) *v = side.blendTextureScaleV;
}

RECT GetRequestedDrawArea() { return side.requestedArea; }

int SetDrawClipRect(int left, int top, int right, int bottom) {
  DrawSettings* settings = GetDrawSettings();
  if (Suppressed()) return 0;
  side.requestedArea = RECT{left, top, right, bottom};
  int width = 0;
  int height = 0;
  if (GetGraphOrScreenSize(settings->drawTarget, &width, &height) == -1) return -1;
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  auto clamp = [](int value, int limit) { return value < 0 ? 0 : value > limit ? limit : value; };
  RECT area{clamp(left, width), clamp(top, height), clamp(right, width), clamp(bottom, height)};
  settings->drawArea = area;
  settings->drawAreaFloat[0] = static_cast<float>(area.left);
  settings->drawAreaFloat[1] = static_cast<float>(area.top);
  settings->drawAreaFloat[2] = static_cast<float>(area.right);
  settings->drawAreaFloat[3] = static_cast<float>(area.bottom);
  if (area.right == area.left || area.bottom == area.top) {
    settings->drawAreaEmpty = 1;
    return 0;
  }
  settings->drawAreaEmpty = 0;
  if (!IsDirect3DMode()) return 0;
  SetDeviceViewportFromRect(&area);
  SetDeviceScissorRect(&area);
  const float areaWidth = static_cast<float>(area.right - area.left);
  const float areaHeight = static_cast<float>(area.bottom - area.top);
  MakeViewportTransformMatrix(&settings->drawAreaViewportMatrix, areaWidth, areaHeight,
                              static_cast<float>(area.left) + areaWidth * 0.5f,
                              static_cast<float>(area.top) + areaHeight * 0.5f);
  MakeInvertedMatrix(&settings->inverseDrawAreaViewportMatrix, &settings->drawAreaViewportMatrix);
  SendCombinedProjection();
  return 0;
}

int SetDrawFilterMode(int mode) {
  DrawSettings* settings = GetDrawSettings();
  if (mode < 0 || mode > 2) return -1;
  if (Suppressed() || settings->filterMode == mode) return 0;
  settings->filterMode = mode;
  if (IsDirect3DMode()) ApplyTextureFilterMode(mode);
  return 0;
}

int GetDrawFilterMode() { return GetDrawSettings()->filterMode; }

int ChangeFogMode(int mode) {
  DrawSettings* settings = GetDrawSettings();
  bool direct3D = IsDirect3DMode() != 0;
  if (settings->fogMode == mode && (!direct3D || GetDeviceStateCache().fogMode == mode)) return 0;
  FlushVertexBatch();
  settings->fogMode = mode;
  if (direct3D) SetFogModeState(mode);
  return 0;
}

int ChangeFogColor(int red, int green, int blue) {
  DrawSettings* settings = GetDrawSettings();
  uint32_t color = 0xFF000000u | (static_cast<uint32_t>(red & 0xFF) << 16) |
                   (static_cast<uint32_t>(green & 0xFF) << 8) | static_cast<uint32_t>(blue & 0xFF);
  bool direct3D = IsDirect3DMode() != 0;
  if (settings->fogColor == color && (!direct3D || GetDeviceStateCache().fogColor == color))
    return 0;
  FlushVertexBatch();
  settings->fogColor = color;
  if (direct3D) SetFogColorState(color);
  return 0;
}

int ChangeFogRange(float start, float end) {
  DrawSettings* settings = GetDrawSettings();
  bool direct3D = IsDirect3DMode() != 0;
  const DeviceStateCache& cache = GetDeviceStateCache();
  if (settings->fogStart == start && settings->fogEnd == end &&
      (!direct3D || (cache.fogStart == start && cache.fogEnd == end)))
    return 0;
  FlushVertexBatch();
  settings->fogStart = start;
  settings->fogEnd = end;
  if (direct3D) SetFogStartEndState(start, end);
  return 0;
}

int SetCreateGraphColorBits(int bits) { return GetDrawSettings()->createGraphColorBits = bits, 0; }
int GetCreateGraphColorBits() { return GetDrawSettings()->createGraphColorBits; }
int SetCreateDrawValidGraph(int flag) { return GetDrawSettings()->createDrawValidGraph = flag, 0; }
int GetCreateDrawValidGraph() { return GetDrawSettings()->createDrawValidGraph; }
int SetUseAlphaTestFormat(int flag) { return GetDrawSettings()->useAlphaTestFormat = flag, 0; }
int GetUseAlphaTestFormat() { return GetDrawSettings()->useAlphaTestFormat; }
int SetEmptyGraphAlpha(int flag) { return GetDrawSettings()->emptyGraphAlpha = flag, 0; }
int GetEmptyGraphAlpha() { return GetDrawSettings()->emptyGraphAlpha; }
int SetUseSystemMemoryStaging(int flag) {
  return GetDrawSettings()->useSystemMemoryStaging = flag, 0;
}
int GetUseSystemMemoryStaging() { return GetDrawSettings()->useSystemMemoryStaging; }
int GetMovieGraphCreationFlag() { return GetDrawSettings()->movieGraphCreationFlag; }
int SetEmulation320x240(int flag) { return GetDrawSettings()->emulation320x240 = flag, 0; }

int SetUseTransparentColor(int flag) {
  GetDrawSettings()->noTransparentColor = flag == 0 ? 1 : 0;
  return 0;
}

int SetTransparentColor(int red, int green, int blue) {
  if (GetScreenColorBitDepth() == 8) return 0;
  GetDrawSettings()->transparentColor = (static_cast<uint32_t>(red & 0xFF) << 16) |
                                        (static_cast<uint32_t>(green & 0xFF) << 8) |
                                        static_cast<uint32_t>(blue & 0xFF);
  return 0;
}

int SetWaitForVerticalSync(int flag) {
  DrawSettings* settings = GetDrawSettings();
  settings->noVerticalSync = flag == 0 ? 1 : 0;
  if (!hostCallTable.isEngineRunning()) settings->verticalSyncRequest = flag;
  return 0;
}

int GetWaitForVerticalSync() { return GetDrawSettings()->noVerticalSync ? 0 : 1; }

int SetUseHardwareGraphics(int flag) {
  if (hostCallTable.isEngineRunning()) return -1;
  GraphicsCore().softwareSwitch = flag == 0 ? 1 : 0;
  return 0;
}

int GetUseHardwareGraphics() {
  const GraphicsCoreState& core = GraphicsCore();
  if (core.initialised) return core.direct3DActive ? 1 : 0;
  return core.softwareSwitch ? 0 : 1;
}

int GetScreenModeInfo(int* width, int* height, int* bits) {
  int w = 0;
  int h = 0;
  if (GetDrawSettings()->emulation320x240 || GraphicsCore().request320x240) {
    w = 320;
    h = 240;
  } else {
    GetScreenModeSize(&w, &h);
  }
  if (width != nullptr) *width = w;
  if (height != nullptr) *height = h;
  if (bits != nullptr) *bits = GetScreenColorBitDepth();
  return 0;
}

int GetDrawTarget() { return GetDrawSettings()->drawTarget; }

uint32_t MakeScreenColorCode(int red, int green, int blue) {
  return MakeColorCodeForFormat(ScreenColorFormat(), red, green, blue);
}

int SplitScreenColorCode(uint32_t code, int* red, int* green, int* blue) {
  return SplitColorCodeForFormat(ScreenColorFormat(), code, red, green, blue);
}

const ColorFormat* GetScreenColorCodeFormat() { return ScreenColorFormat(); }

uint32_t MakeColorCodeForFormat(const ColorFormat* format, int red, int green, int blue) {
  if (format == nullptr) return 0;
  auto channel = [](int value, int width, int shift) -> uint32_t {
    if (width == 0) return 0;
    return (static_cast<uint32_t>(value & 0xFF) >> (8 - width)) << shift;
  };
  uint32_t depthMask = format->bitDepth >= 32 ? 0xFFFFFFFFu : (1u << format->bitDepth) - 1;
  uint32_t channels = format->redMask | format->greenMask | format->blueMask | format->alphaMask;
  return channel(red, format->redWidth, format->redShift) |
         channel(green, format->greenWidth, format->greenShift) |
         channel(blue, format->blueWidth, format->blueShift) | (depthMask & ~channels);
}

int SplitColorCodeForFormat(const ColorFormat* format, uint32_t code, int* red, int* green,
                            int* blue) {
  if (format == nullptr) return -1;
  auto channel = [code](uint32_t mask, int width, int shift) -> int {
    if (width == 0) return 0;
    return static_cast<int>(((code & mask) >> shift) * 255 / ((1u << width) - 1));
  };
  if (red != nullptr) *red = channel(format->redMask, format->redWidth, format->redShift);
  if (green != nullptr) *green = channel(format->greenMask, format->greenWidth, format->greenShift);
  if (blue != nullptr) *blue = channel(format->blueMask, format->blueWidth, format->blueShift);
  return 0;
}

float* MakeFloatColor(float* color, float red, float green, float blue, float alpha) {
  color[0] = red;
  color[1] = green;
  color[2] = blue;
  color[3] = alpha;
  return color;
}

int SetGraphReloadCallback(GraphReloadCallback callback) {
  GetDrawSettings()->graphReloadCallback = callback != nullptr ? callback : ReloadGraphsFromFiles;
  return 0;
}

int SetScreen320x240Emulation(int on) { return SetEmulation320x240(on); }

int ResetDrawSettings() {
  DrawSettings* settings = GetDrawSettings();
  const DrawSettings kept = *settings;
  std::memset(settings, 0, sizeof *settings);
  side = DrawSettingsSideState{};
  settings->graphReloadCallback =
      kept.graphReloadCallback != nullptr ? kept.graphReloadCallback : ReloadGraphsFromFiles;
  settings->drawSuppression = kept.drawSuppression;
  settings->noVerticalSync = kept.noVerticalSync;
  settings->verticalSyncRequest = kept.verticalSyncRequest;
  settings->emulation320x240 = kept.emulation320x240;
  settings->savedWord = kept.savedWord;
  settings->blendGraph = -1;
  for (int s = 0; s < 8; ++s) {
    settings->textureAddressU[s] = 3;
    settings->textureAddressV[s] = 3;
    settings->textureAddressW[s] = 3;
  }
  settings->drawDepth2D = 0.2f;
  settings->depth2D = DrawDepthSettings{0, 0, 4, 0};
  settings->depth3D = DrawDepthSettings{0, 0, 4, 0};
  GetLightBlock().lightsChanged = 1;
  settings->resetFlag = 1;
  settings->useAlphaTestFormat = 1;
  settings->filterMode = 0;
  settings->maxAnisotropy = 1;
  settings->fillMode = 3;
  settings->blendMode = 0;
  settings->alphaTestFunction = -1;
  SetDrawBrightness(255, 255, 255);
  settings->fogMode = 3;
  settings->fogColor = 0xFFFFFFFF;
  settings->fogStart = 0.0f;
  settings->fogEnd = 1500.0f;
  settings->createGraphColorBits = 0;

  // The camera values come before the target, whose default camera is built from them.
  CameraSettings& camera = settings->camera;
  camera.cameraAspect = 1.0f;
  camera.projectionMode = 0;
  camera.nearZ = 10.0f;
  camera.farZ = 10000.0f;
  camera.aspectFactor = 1.0f;
  camera.fieldOfView = 1.0471976f;
  camera.orthographicSize = 1.0f;
  MakeUnitMatrix(&camera.projectionMatrix);
  MakeUnitMatrix(&settings->worldMatrix);
  MakeUnitMatrix(&settings->viewMatrix);
  MakeUnitMatrix(&settings->projectionMatrix);
  MakeUnitMatrix(&settings->cameraViewportMatrix);
  MakeUnitMatrix(&settings->drawAreaViewportMatrix);
  MakeUnitMatrix(&settings->inverseDrawAreaViewportMatrix);

  settings->drawTarget = kDrawTargetBackBuffer;
  SetDrawTarget(kDrawTargetFrontScreen);
  int width = 0;
  int height = 0;
  GetGraphOrScreenSize(settings->drawTarget, &width, &height);
  SetDrawClipRect(0, 0, width, height);

  settings->drawSuppression = 0;
  LightBlock& lights = GetLightBlock();
  if (GetLightRecord(lights.defaultLight) == nullptr)
    lights.defaultLight = MakeDirectionalLight(1.0f, -1.0f, 1.0f);
  lights.material = D3DMATERIAL9{
      {0.8f, 0.8f, 0.8f, 1.0f}, {0, 0, 0, 0}, {0.8f, 0.8f, 0.8f, 0.0f}, {0, 0, 0, 0}, 20.0f};
  lights.materialChanged = 1;
  return 0;
}
