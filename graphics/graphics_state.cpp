// The graphics system's start: the core state block, the choice between the Direct3D device and
// the software mode, the DirectDraw and Direct3D objects, and the software mode's screen images.
#include "graphics/graphics_state.h"

#include <cstring>

#include "graphics/device_creation.h"
#include "graphics/device_rebuild.h"
#include "graphics/draw_settings.h"
#include "graphics/draw_target.h"
#include "graphics/font_system.h"
#include "graphics/frame_present.h"
#include "graphics/graph_handle.h"
#include "graphics/screen_mode.h"
#include "graphics/shader_pack.h"
#include "media/movie.h"
#include "media/theora_decoder.h"
#include "platform/win32/kernel.h"
#include "system/host_call_table.h"
#include "system/log.h"
#include "system/system_info.h"

namespace {

GraphicsCoreState core;

constexpr int kVistaVersionCode = 0x108;

template <class T>
void ReleaseObject(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

// Theora movies make their YUV surfaces on the device while it is in use.
IDirect3DDevice9* GetTheoraSurfaceDevice() { return core.direct3DActive ? core.device : nullptr; }

// Movie overlays go over the primary surface, which the engine never holds (null), and keep the
// DirectDraw capability alignments.
IDirectDrawSurface7* GetOverlayPrimarySurface() { return nullptr; }
void GetOverlayCaps(DDCAPS* caps) { GetDirectDrawCaps(caps); }

// Full screen on Vista or later with a mode that the device cannot show by itself: the engine
// changes the display resolution first and runs the device in a window of that size.
bool ChangesDisplayItself() {
  return !hostCallTable.isWindowedMode() && OsVersionCode() >= kVistaVersionCode &&
         (core.request320x240 || GetDrawSettings()->emulation320x240 || core.presentSourceRectSet);
}

}  // namespace

GraphicsCoreState& GraphicsCore() { return core; }

int IsDirect3DMode() { return core.direct3DActive && core.device != nullptr ? 1 : 0; }

int IsSoftwareMode() { return core.initialised && !core.direct3DActive ? 1 : 0; }

D3DFORMAT GetTextureFormat(int index) {
  if (index < 0 || index >= kTextureFormatCount) return D3DFMT_UNKNOWN;
  return core.textureFormats.formats[index];
}

int GetMaxTextureSize() { return core.maxTextureSize > 0 ? core.maxTextureSize : 256; }

IDirect3DSurface9* GetBackBufferSurface() {
  return core.device != nullptr ? core.backBuffer : nullptr;
}

IDirect3DSurface9* GetDepthSurface() {
  return core.device != nullptr ? core.depthSurface : nullptr;
}

IDirect3DDevice9* GetDirect3DDevice9() { return core.direct3DActive ? core.device : nullptr; }

MEMIMG* GetSoftwareDrawTarget() { return core.softwareDrawTarget; }

int SetSoftwareDrawTarget(MEMIMG* image) {
  core.softwareDrawTarget = image;
  return 0;
}

MEMIMG* GetSoftwareScreenImage(int which) {
  if (which < 0 || which >= kSoftwareScreenImageCount) return nullptr;
  return IsMEMIMGValid(&core.softwareScreen[which]) ? &core.softwareScreen[which] : nullptr;
}

int HasDirectDrawObject() { return core.directDraw != nullptr ? 1 : 0; }

int GetSoftwareRenderingSetting() { return core.softwareSwitch; }

int StartGraphicsSystem() {
  if (core.initialised) return 0;
  ResetGraphHandleCounters();
  SetTheoraDeviceSource(GetTheoraSurfaceDevice);
  SetMovieOverlaySource({GetOverlayPrimarySurface, GetOverlayCaps});
  if (core.screenWidth == 0) core.screenWidth = 640;
  if (core.screenHeight == 0) core.screenHeight = 480;
  if (core.screenColorBits == 0) core.screenColorBits = 16;
  if (core.screenWidth == 320 && core.screenHeight == 240 && !hostCallTable.isWindowedMode()) {
    core.request320x240 = 1;
    core.screenWidth = 640;
    core.screenHeight = 480;
  }
  if (StartDirect3D() == -1) {
    // A failed display-mode change in software mode leaves the module and DirectDraw behind.
    ShutDownDirect3D();
    EndGraphicsSystem();
    return -1;
  }
  core.initialised = 1;
  if (core.direct3DActive) {
    SetInitialDeviceState();
  } else {
    CreateSoftwareScreenImages();
  }
  ResetDrawSettings();
  BuildMEMIMGBlendTables();
  StartFontSystem();
  return 0;
}

int StartDirect3D() {
  if (core.d3d9Module == nullptr) {
    core.d3d9Module = LoadLibraryA("d3d9.dll");
    if (core.d3d9Module == nullptr) {
      LogWriteText("d3d9.dll の読み込みに失敗しました\n");
      return -1;
    }
  }
  if (CreateDirectDrawObject() == -1) {
    LogWriteText("Direct3D9 DLL の解放 3\n");
    FreeLibrary(core.d3d9Module);
    core.d3d9Module = nullptr;
    return -1;
  }
  core.direct3DActive = 0;
  bool software = core.softwareSwitch != 0;
  if (!software && ChangesDisplayItself() && ChangeDisplayResolution() == -1) software = true;
  if (!software && CreateDirect3DObject() == 0 && CreateDirect3DDevice() == 0 &&
      CreateDepthBuffer() == 0) {
    core.direct3DActive = 1;
    SetUpShaders();
    if (core.shadersInUse) {
      CreateVertexDeclarations();
      CreateBrightnessVolumeTexture();
    }
    return 0;
  }

  ReleaseObject(core.depthSurface);
  if (core.device != nullptr) {
    LogWriteText("Direct3DDevice9 の解放 2\n");
    ReleaseObject(core.backBuffer);
    ReleaseObject(core.swapChain);
    ReleaseObject(core.subBackBuffer);
    ReleaseObject(core.device);
    core.deviceEx = nullptr;
    core.inScene = 0;
  }
  ReleaseObject(core.direct3D);
  core.direct3DEx = nullptr;
  if (!hostCallTable.isWindowedMode() && ChangeDisplayResolution() == -1) return -1;
  MeasureRefreshPeriod();
  return 0;
}

int CreateDirectDrawObject() {
  ReleaseObject(core.directDraw);
  LogWriteText("DirectDraw オブジェクトの取得を行います....  ");
  auto coCreateInstance =
      reinterpret_cast<HRESULT (*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*)>(
          hostCallTable.getModuleEntry("ole32.dll", "CoCreateInstance"));
  void* object = nullptr;
  if (coCreateInstance == nullptr ||
      FAILED(coCreateInstance(CLSID_DirectDraw7, nullptr,
                              CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                              IID_IDirectDraw7, &object)) ||
      object == nullptr) {
    LogWriteText("オブジェクトの取得に失敗しました\n");
    return -1;
  }
  core.directDraw = static_cast<IDirectDraw7*>(object);
  LogWriteText("成功\n");
  LogWriteText("引き続き初期化処理... ");
  if (FAILED(core.directDraw->Initialize(nullptr))) {
    LogWriteText("DirectDrawオブジェクトの初期化に失敗しました\n");
    ReleaseObject(core.directDraw);
    return -1;
  }
  LogWriteText("初期化に成功しました\n");
  core.directDraw->SetCooperativeLevel(hostCallTable.getWindowHandle(),
                                       DDSCL_NORMAL | (core.keepFpuState ? DDSCL_FPUPRESERVE : 0));
  if (core.compositionAlwaysOff) hostCallTable.enableDesktopComposition(0);
  return 0;
}

int CreateDirect3DObject() {
  ReleaseObject(core.direct3D);
  core.direct3DEx = nullptr;
  LogWriteText("IDirect3D9Ex オブジェクトを取得します.... ");
  auto create9Ex = reinterpret_cast<Direct3DCreate9ExFunction>(
      GetProcAddress(core.d3d9Module, "Direct3DCreate9Ex"));
  IDirect3D9Ex* objectEx = nullptr;
  if (create9Ex != nullptr && create9Ex(D3D_SDK_VERSION, &objectEx) == 0 && objectEx != nullptr) {
    core.direct3D = objectEx;
    core.direct3DEx = objectEx;
  } else {
    LogWriteText("IDirect3D9 オブジェクトを取得します.... ");
    auto create9 = reinterpret_cast<Direct3DCreate9Function>(
        GetProcAddress(core.d3d9Module, "Direct3DCreate9"));
    if (create9 == nullptr) {
      LogWriteText("Direct3DCreate9 APIのアドレス取得に失敗しました\n");
      return -1;
    }
    core.direct3D = create9(D3D_SDK_VERSION);
    if (core.direct3D == nullptr) {
      LogWriteText("IDirect3D9 オブジェクトの取得に失敗しました\n");
      return -1;
    }
  }
  LogWriteText("成功\n");
  return 0;
}

int CreateDepthBuffer() {
  if (core.device == nullptr) return -1;
  ReleaseObject(core.depthSurface);
  LogWriteText("Ｚバッファを作成します.... ");
  int width = 1;
  while (width < core.screenWidth) width <<= 1;
  int height = 1;
  while (height < core.screenHeight) height <<= 1;
  if (FAILED(core.device->CreateDepthStencilSurface(
          static_cast<UINT>(width), static_cast<UINT>(height), core.depthFormat,
          static_cast<D3DMULTISAMPLE_TYPE>(core.multiSampleType),
          static_cast<DWORD>(core.multiSampleQuality), TRUE, &core.depthSurface, nullptr))) {
    core.depthSurface = nullptr;
    LogWriteText("Ｚバッファの作成に失敗しました\n");
    return -1;
  }
  core.depthWidth = width;
  core.depthHeight = height;
  core.device->SetDepthStencilSurface(core.depthSurface);
  core.device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  LogWriteText("成功\n");
  return 0;
}

int CreateSoftwareScreenImages() {
  int pixelType = core.screenColorBits == 16 ? MEMIMG_PIXEL_RGB565 : MEMIMG_PIXEL_XRGB8;
  ReleaseSoftwareScreenImages();
  MEMIMG& primary = core.softwareScreen[kSoftwareScreenPrimary];
  if (CreateScreenMEMIMG(&primary, core.screenWidth, core.screenHeight, pixelType,
                         GetScreenColorBitDepth()) != 0) {
    FatalErrorExit("プライマリサーフェス用の MEMIMG の作成に失敗しました\n");
  }
  CreateMEMIMG(&core.softwareScreen[kSoftwareScreenWork], core.screenWidth, core.screenHeight, -1,
               0, pixelType, 0, 0, 0, nullptr);
  CreateMEMIMG(&core.softwareScreen[kSoftwareScreenWorkAlpha], core.screenWidth, core.screenHeight,
               -1, 0, pixelType, 0, 1, 0, nullptr);
  uint32_t background = GetBackgroundColor();
  SetMEMIMGRectPixels(
      &primary, nullptr,
      ColorFormatCodeFromRGBA(primary.body->format, static_cast<int>((background >> 16) & 0xFF),
                              static_cast<int>((background >> 8) & 0xFF),
                              static_cast<int>(background & 0xFF), 0));
  core.softwareDrawTarget = &primary;
  return 0;
}

int ReleaseSoftwareScreenImages() {
  for (MEMIMG& image : core.softwareScreen) {
    if (IsMEMIMGValid(&image)) ReleaseMEMIMG(&image);
    std::memset(&image, 0, sizeof image);
  }
  core.softwareDrawTarget = nullptr;
  return 0;
}
