// Device loss and the end of graphics: a lost device is never reset but released with Direct3D
// itself and created again, its resources re-created from the engine's records and its state
// re-sent; the graphics end releases everything.
#include "graphics/device_rebuild.h"

#include "graphics/blend_state.h"
#include "graphics/buffer_handles.h"
#include "graphics/camera.h"
#include "graphics/device_state_cache.h"
#include "graphics/draw_settings.h"
#include "graphics/draw_target.h"
#include "graphics/font_system.h"
#include "graphics/frame_present.h"
#include "graphics/graph_handle.h"
#include "graphics/graphics_state.h"
#include "graphics/mask.h"
#include "graphics/model_system.h"
#include "graphics/screen_mode.h"
#include "graphics/shader_pack.h"
#include "media/movie.h"
#include "platform/win32/kernel.h"
#include "platform/win32/user.h"
#include "system/host_call_table.h"
#include "system/log.h"
#include "system/system.h"
#include "system/system_info.h"

namespace {

constexpr int kVistaVersionCode = 0x108;
// A device that could not be brought back is tried again at most this often.
constexpr uint32_t kLostDeviceRetryMilliseconds = 1000;

template <class T>
void ReleaseObject(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

// The cache's pointers name objects of the released device: they are forgotten, the values kept.
void ForgetDeviceObjectsInCache() {
  DeviceStateCache& cache = GetDeviceStateCache();
  cache.renderTarget = nullptr;
  for (IDirect3DBaseTexture9*& texture : cache.stageTexture) texture = nullptr;
  cache.draw.drawTexture = nullptr;
  cache.draw.blendTexture = nullptr;
  cache.vertexShader = nullptr;
  cache.pixelShader = nullptr;
  cache.declaration = nullptr;
  cache.fvf = 0;
}

}  // namespace

int ShutDownDirect3D() {
  GraphicsCoreState& core = GraphicsCore();
  ReleaseAllModelBuffers();
  ReleaseVertexDeclarations();
  ReleaseShaderObjects();
  if (!hostCallTable.isWindowedMode() &&
      (!core.direct3DActive ||
       (OsVersionCode() >= kVistaVersionCode &&
        (core.request320x240 || GetDrawSettings()->emulation320x240 || core.presentSourceRectSet))))
    ChangeDisplaySettingsA(nullptr, 0);
  ReleaseObject(core.depthSurface);
  ReleaseObject(core.subBackBuffer);
  ReleaseObject(core.backBuffer);
  ReleaseObject(core.swapChain);
  ReleaseBrightnessVolumeTexture();
  if (core.device != nullptr) {
    LogWriteText("Direct3DDevice9 の解放 3\n");
    ReleaseObject(core.device);
  }
  core.deviceEx = nullptr;
  core.inScene = 0;
  ReleaseObject(core.direct3D);
  core.direct3DEx = nullptr;
  ReleaseObject(core.directDraw);
  if (core.d3d9Module != nullptr) {
    LogWriteText("Direct3D9 DLL の解放 4\n");
    FreeLibrary(core.d3d9Module);
    core.d3d9Module = nullptr;
  }
  FreeDisplayModeList();
  ForgetDeviceObjectsInCache();
  return 0;
}

int RebuildGraphicsDevice(int modeChange, int width, int height, int colorBits, int refreshRate) {
  GraphicsCoreState& core = GraphicsCore();
  const bool graphicsOff = hostCallTable.isGraphicsSwitchedOff() != 0;
  const bool wasDirect3D = core.direct3DActive != 0;
  if (!graphicsOff) {
    if (wasDirect3D) {
      // The white graph is made from memory, so no reload restores it: it is made again on use.
      DeleteBuiltInWhiteGraph();
      FreeMaskScreen();
      ReleaseAllDeviceResources();
      ReleaseAllMovieDeviceSurfaces();
    }
    ShutDownDirect3D();
  }
  if (modeChange) {
    core.screenWidth = width;
    core.screenHeight = height;
    core.screenColorBits = colorBits;
    core.refreshRate = refreshRate;
  } else {
    hostCallTable.restartInputDevices();
  }
  if (graphicsOff) return 0;

  core.lastRebuildAttempt = static_cast<uint32_t>(GetMillisecondCount());
  const int started = StartDirect3D();
  if (started == -1 || !core.direct3DActive) {
    if (wasDirect3D) {
      // Graphs of a Direct3D run are textures: a software screen could draw none of them. The
      // device stays marked lost (nothing draws) and the rebuild is tried again later.
      core.direct3DActive = 1;
      core.deviceLost = 1;
      LogWriteText("Direct3DDevice9 の再作成に失敗しました\n");
    } else if (GetSoftwareScreenImage(kSoftwareScreenPrimary) == nullptr) {
      CreateSoftwareScreenImages();
    }
    return 0;
  }
  core.deviceLost = 0;

  RecreateAllDeviceResources();
  RestoreAllMovieDeviceSurfaces();
  RestoreMaskScreen();
  DrawSettings* settings = GetDrawSettings();
  const Matrix4 savedView = settings->viewMatrix;
  const Matrix4 savedProjection = settings->camera.projectionMatrix;
  const Matrix4 savedViewport = settings->cameraViewportMatrix;

  SetDrawTarget(settings->drawTarget);
  if (settings->blendGraph != -1) {
    int textureWidth = 0;
    int textureHeight = 0;
    IDirect3DTexture9* texture =
        GetGraphFirstTexture(settings->blendGraph, &textureWidth, &textureHeight);
    SetBlendTextureState(texture, settings->blendBorderParam, settings->blendBorderRange);
  }
  ApplyDefaultRenderStates();
  for (int i = 0; i < 2; ++i) {
    ClearDrawTarget(nullptr);
    PresentFrameRect(nullptr);
  }
  if (modeChange) {
    ReloadGraphsFromFiles();
    RestoreModelTextures();
    RecreateAllFonts();
  } else {
    RunGraphReloadCallback();
  }
  ReapplyDeviceState();
  RecreateAllModelBuffers();
  settings->deviceRecreated = 1;
  if (!modeChange) {
    RECT area = GetRequestedDrawArea();
    SetDrawClipRect(area.left, area.top, area.right, area.bottom);
    SetDeviceWorldTransform(&settings->worldMatrix);
    SetViewMatrix(&savedView);
    SetProjectionMatrix(&savedProjection);
    SetViewportMatrix(&savedViewport);
  }
  return 0;
}

int RebuildGraphicsDeviceAfterLoss() { return RebuildGraphicsDevice(0, -1, -1, -1, -1); }

int RetryLostDevice() {
  GraphicsCoreState& core = GraphicsCore();
  if (!core.deviceLost) return 0;
  if (static_cast<uint32_t>(GetMillisecondCount()) - core.lastRebuildAttempt <
      kLostDeviceRetryMilliseconds)
    return -1;
  RebuildGraphicsDeviceAfterLoss();
  return core.deviceLost ? -1 : 0;
}

int EndGraphicsSystem() {
  GraphicsCoreState& core = GraphicsCore();
  EndFontSystem();
  if (!core.initialised) return 0;
  DeleteBuiltInWhiteGraph();
  DeleteAllGraphHandles();
  DeleteAllVertexBufferHandles();
  DeleteAllIndexBufferHandles();
  DeleteAllShaderHandles();
  ShutDownMaskScreen();
  DeleteAllMaskHandles();
  DeleteAllLights();
  ShutDownDirect3D();
  ReleaseSoftwareScreenImages();
  ReleaseShaderPack();
  core.initialised = 0;
  core.direct3DActive = 0;
  core.deviceLost = 0;
  return 0;
}
