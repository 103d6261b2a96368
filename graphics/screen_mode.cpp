// Screen modes: the mode of a running engine changed by tearing the graphics system down and
// starting it again (with its fallbacks), the desktop resolution switch for full screen, the
// display-mode list, the colour formats of Direct3D format codes, and the small screen queries.
#include "graphics/screen_mode.h"

#include <array>
#include <cstring>

#include "graphics/camera.h"
#include "graphics/device_rebuild.h"
#include "graphics/draw_settings.h"
#include "graphics/draw_target.h"
#include "graphics/font_system.h"
#include "graphics/frame_present.h"
#include "graphics/graphics_state.h"
#include "graphics/vertex_batch.h"
#include "platform/win32/user.h"
#include "system/host_call_table.h"
#include "system/log.h"

namespace {

struct ScreenMode {
  int width;
  int height;
  int colorBits;
  int refreshRate;
};

void StoreScreenMode(const ScreenMode& mode) {
  GraphicsCoreState& core = GraphicsCore();
  core.screenWidth = mode.width;
  core.screenHeight = mode.height;
  core.screenColorBits = mode.colorBits;
  core.refreshRate = mode.refreshRate;
}

// Lowers the log indent on every way out of a mode change once it was raised.
struct LogIndentScope {
  LogIndentScope() { IncreaseLogIndent(); }
  ~LogIndentScope() { DecreaseLogIndent(); }
};

bool TryStart(const ScreenMode& mode) {
  StoreScreenMode(mode);
  return StartGraphicsSystem() == 0;
}

const DisplayModeRecord* DisplayModes(int* count) {
  GraphicsCoreState& core = GraphicsCore();
  if (core.displayModes == nullptr)
    BuildDisplayModeList(&core.displayModeCount, &core.displayModes);
  *count = core.displayModes != nullptr ? core.displayModeCount : 0;
  return core.displayModes;
}

}  // namespace

int GetScreenModeSize(int* width, int* height) {
  const GraphicsCoreState& core = GraphicsCore();
  if (width != nullptr) *width = core.screenWidth != 0 ? core.screenWidth : 640;
  if (height != nullptr) *height = core.screenHeight != 0 ? core.screenHeight : 480;
  return 0;
}

int GetScreenColorBitDepth() {
  const GraphicsCoreState& core = GraphicsCore();
  return core.screenColorBits != 0 ? core.screenColorBits : 16;
}

int SetScreenModeSize(int width, int height) {
  GraphicsCore().screenWidth = width;
  GraphicsCore().screenHeight = height;
  return 0;
}

int IsFullScreenMode() { return hostCallTable.isWindowedMode() ? 0 : 1; }

int IsScreenFullScreen() { return IsFullScreenMode(); }

int ChangeScreenMode() { return ChangeScreenMode(-1, -1, -1, 1, -1); }

int ChangeScreenMode(int width, int height, int colorBits, int force, int refreshRate) {
  GraphicsCoreState& core = GraphicsCore();
  FlushVertexBatch();
  int currentWidth = 0;
  int currentHeight = 0;
  GetScreenModeSize(&currentWidth, &currentHeight);
  const ScreenMode previous{currentWidth, currentHeight, GetScreenColorBitDepth(),
                            core.refreshRate};
  if (width == -1) width = previous.width;
  if (height == -1) height = previous.height;
  if (colorBits == -1) colorBits = previous.colorBits;
  if (refreshRate == -1) refreshRate = previous.refreshRate;
  if (!hostCallTable.isWindowedMode() && width == 320 && height == 240) {
    core.request320x240 = 1;
    width = 640;
    height = 480;
  } else if (hostCallTable.isWindowedMode() && force == 1 && core.request320x240 &&
             previous.width == 640 && previous.height == 480) {
    core.request320x240 = 0;
    width = 320;
    height = 240;
  } else {
    core.request320x240 = 0;
  }
  const ScreenMode requested{width, height, colorBits, refreshRate};
  if (width == previous.width && height == previous.height && colorBits == previous.colorBits &&
      refreshRate == previous.refreshRate && force == 0)
    return 0;

  LogWriteText("画面モード変更処理を開始します\n");
  LogIndentScope indent;
  int fontSize = -1;
  int fontThickness = -1;
  const bool fontKept =
      core.initialised && GetDefaultFontSizeThickness(&fontSize, &fontThickness) == 0;
  if (!hostCallTable.isEngineInitialising() && !hostCallTable.isEngineRunning()) {
    // Before the start the mode is only remembered for it.
    StoreScreenMode(requested);
    return 0;
  }

  if (core.rebuildInPlace) {
    if (!hostCallTable.isWindowedMode() ? !HasDisplayMode(width, height, colorBits) : false)
      return 0;
    if (hostCallTable.isWindowedMode()) {
      int desktopWidth = 0;
      int desktopHeight = 0;
      hostCallTable.getDesktopSizeAndBits(&desktopWidth, &desktopHeight, nullptr);
      if (desktopWidth < width || desktopHeight < height) return 0;
    }
    RebuildGraphicsDevice(1, width, height, colorBits, refreshRate);
    if (hostCallTable.isWindowedMode()) hostCallTable.applyWindowStyle();
    LogWriteText("画面モード変更処理は正常に終了しました\n");
    return 0;
  }

  const int drawTarget = GetDrawSettings()->drawTarget;
  if (core.initialised) EndGraphicsSystem();
  bool started = TryStart(requested);
  if (!started && width == 320 && height == 240) {
    SetEmulation320x240(1);
    started = TryStart(ScreenMode{640, 480, colorBits, refreshRate});
  }
  if (!started) started = TryStart(previous);
  if (!started) started = TryStart(ScreenMode{640, 480, 16, 0});
  if (!started) FatalErrorExit("予期せぬ画面モード変更不能現象が起きました2\n");

  if (hostCallTable.isWindowedMode()) hostCallTable.applyWindowStyle();
  if (fontKept) SetDefaultFontSizeThickness(fontSize, fontThickness);
  LogWriteText("画面モード変更処理は正常に終了しました\n");
  hostCallTable.pumpWindowMessages();
  SetDrawTarget(drawTarget);
  return 0;
}

int ChangeDisplayResolution() {
  GraphicsCoreState& core = GraphicsCore();
  LogPrintf("画面モードの変更処理を開始します %u x %u  %u bit ",
            static_cast<unsigned>(core.screenWidth), static_cast<unsigned>(core.screenHeight),
            static_cast<unsigned>(core.screenColorBits));
  LogIndentScope indent;
  if (core.screenColorBits != 16 && core.screenColorBits != 32) return -1;
  LogWriteText("画面解像度を変更します... ");
  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
  mode.dmBitsPerPel = static_cast<DWORD>(core.screenColorBits);
  mode.dmPelsWidth = static_cast<DWORD>(core.screenWidth);
  mode.dmPelsHeight = static_cast<DWORD>(core.screenHeight);
  if (core.refreshRate != 0) {
    mode.dmFields |= DM_DISPLAYFREQUENCY;
    mode.dmDisplayFrequency = static_cast<DWORD>(core.refreshRate);
  }
  bool changed = ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL;
  if (!changed) {
    core.refreshRate = 0;
    mode.dmFields &= ~DM_DISPLAYFREQUENCY;
    mode.dmDisplayFrequency = 0;
    changed = ChangeDisplaySettingsA(&mode, 0) == DISP_CHANGE_SUCCESSFUL;
  }
  if (!changed && core.screenWidth == 320 && core.screenHeight == 240) {
    core.screenWidth = 640;
    core.screenHeight = 480;
    SetEmulation320x240(1);
    mode.dmPelsWidth = 640;
    mode.dmPelsHeight = 480;
    changed = ChangeDisplaySettingsA(&mode, 0) == DISP_CHANGE_SUCCESSFUL;
    if (changed) hostCallTable.applyWindowStyle();
  }
  if (!changed) {
    LogWriteText("画面モードの変更に失敗しました\n");
    return -1;
  }
  LogWriteText("成功しました\n");
  return 0;
}

const ColorFormat* GetColorFormatForD3DFormat(D3DFORMAT format) {
  struct Layout {
    D3DFORMAT format;
    int depth;
    uint32_t red, green, blue, alpha;
  };
  static constexpr std::array<Layout, 14> kLayouts = {{
      {D3DFMT_R8G8B8, 24, 0xFF0000, 0xFF00, 0xFF, 0},
      {D3DFMT_A8R8G8B8, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u},
      {D3DFMT_X8R8G8B8, 32, 0xFF0000, 0xFF00, 0xFF, 0},
      {D3DFMT_R5G6B5, 16, 0xF800, 0x7E0, 0x1F, 0},
      {D3DFMT_X1R5G5B5, 16, 0x7C00, 0x3E0, 0x1F, 0},
      {D3DFMT_A1R5G5B5, 16, 0x7C00, 0x3E0, 0x1F, 0x8000},
      {D3DFMT_A4R4G4B4, 16, 0xF00, 0xF0, 0xF, 0xF000},
      {D3DFMT_R3G3B2, 8, 0xE0, 0x1C, 0x3, 0},
      {D3DFMT_A8R3G3B2, 16, 0xE0, 0x1C, 0x3, 0xFF00},
      {D3DFMT_X4R4G4B4, 16, 0xF00, 0xF0, 0xF, 0},
      {D3DFMT_A2B10G10R10, 32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000u},
      {D3DFMT_A8B8G8R8, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000u},
      {D3DFMT_X8B8G8R8, 32, 0xFF, 0xFF00, 0xFF0000, 0},
      {D3DFMT_A2R10G10B10, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000u},
  }};
  static const std::array<ColorFormat, 14> formats = [] {
    std::array<ColorFormat, 14> made{};
    for (size_t i = 0; i < kLayouts.size(); ++i) {
      const Layout& layout = kLayouts[i];
      MakeColorFormatFromMasks(&made[i], layout.depth, layout.red, layout.green, layout.blue,
                               layout.alpha);
      UpdateColorFormatNoneMask(&made[i]);
    }
    return made;
  }();
  for (size_t i = 0; i < kLayouts.size(); ++i)
    if (kLayouts[i].format == format) return &formats[i];
  return nullptr;
}

const ColorFormat* GetGraphColorFormat(int alpha, int alphaTest, int bits32, int drawValid) {
  if (IsSoftwareMode())
    return GetMEMIMGColorFormat(bits32 ? MEMIMG_PIXEL_XRGB8 : MEMIMG_PIXEL_RGB565,
                                alpha || alphaTest ? 1 : 0, 0);
  int kind;
  if (drawValid) {
    kind = alpha    ? kTextureFormatRenderTargetAlpha32
           : bits32 ? kTextureFormatRenderTarget32
                    : kTextureFormatRenderTarget16;
  } else if (alpha) {
    kind = bits32 ? kTextureFormatAlpha32 : kTextureFormatAlpha16;
  } else if (alphaTest) {
    kind = bits32 ? kTextureFormatAlphaTest32 : kTextureFormatAlphaTest16;
  } else {
    kind = bits32 ? kTextureFormatColor32 : kTextureFormatColor16;
  }
  D3DFORMAT format = GetTextureFormat(kind);
  if (format == D3DFMT_UNKNOWN) format = bits32 ? D3DFMT_A8R8G8B8 : D3DFMT_A1R5G5B5;
  return GetColorFormatForD3DFormat(format);
}

int GetDisplayModeCount() {
  int count = 0;
  DisplayModes(&count);
  return count;
}

int GetDisplayModeAt(int index, int* width, int* height, int* bits) {
  int count = 0;
  const DisplayModeRecord* modes = DisplayModes(&count);
  const bool valid = index >= 0 && index < count;
  if (width != nullptr) *width = valid ? modes[index].width : -1;
  if (height != nullptr) *height = valid ? modes[index].height : -1;
  if (bits != nullptr) *bits = valid ? modes[index].colorBits : -1;
  return valid ? 0 : -1;
}

int HasDisplayMode(int width, int height, int colorBits) {
  int count = 0;
  const DisplayModeRecord* modes = DisplayModes(&count);
  for (int i = 0; i < count; ++i)
    if (modes[i].width == width && modes[i].height == height && modes[i].colorBits == colorBits)
      return 1;
  return 0;
}

IDirectDraw7* GetDirectDrawObject() { return GraphicsCore().directDraw; }

void* GetDirectDrawCaps(void* record) {
  if (record != nullptr) std::memset(record, 0, 380);
  return record;
}

int GraphicsNullQuery() { return 0; }

int SetGraphicsDialogBoxMode(int on) {
  GraphicsCoreState& core = GraphicsCore();
  EndDeviceScene();
  core.dialogBoxMode = on;
  if (core.device != nullptr) core.device->SetDialogBoxMode(on ? TRUE : FALSE);
  return 0;
}

int RefreshDialogBoxMode(int on) {
  GraphicsCoreState& core = GraphicsCore();
  if (!IsDirect3DMode()) return 0;
  core.device->SetDialogBoxMode(FALSE);
  if (on) core.device->SetDialogBoxMode(TRUE);
  return 0;
}

int IsDialogBoxModeOn() { return GraphicsCore().dialogBoxMode; }
