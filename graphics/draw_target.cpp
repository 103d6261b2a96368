// Where drawing goes: choosing the draw target (screen or draw-valid graph) and pointing the
// device or the software renderer at it, clearing it, and putting a new device into the state
// the DeviceStateCache describes.
#include "graphics/draw_target.h"

#include <cstring>

#include "graphics/blend_state.h"
#include "graphics/camera.h"
#include "graphics/device_state_cache.h"
#include "graphics/draw_settings.h"
#include "graphics/frame_present.h"
#include "graphics/graph_handle.h"
#include "graphics/graphics_state.h"
#include "graphics/mask.h"
#include "graphics/vertex_batch.h"
#include "system/host_call_table.h"

namespace {

// tan 30 degrees in single precision: the default camera sees the plane z = 0 at one pixel per
// unit.
constexpr float kTan30 = 0.5773502588272095f;
constexpr float kDefaultFieldOfView = 1.0471975803375244f;

void SetDefaultCamera(int width, int height) {
  float distance = static_cast<float>(height / 2) / kTan30;
  Vector3 eye{width * 0.5f, height * 0.5f, -distance};
  Vector3 target{width * 0.5f, height * 0.5f, -distance + 1.0f};
  Vector3 up{0.0f, 1.0f, 0.0f};
  Matrix4 view;
  MakeCameraViewMatrix(&view, &eye, &target, &up);
  SetViewMatrix(&view);
  ChangeCameraPerspective(kDefaultFieldOfView);
  ChangeCameraNearFar(distance * 0.1f, distance + 20000.0f);
}

}  // namespace

uint32_t GetBackgroundColor() { return hostCallTable.getBackgroundColor(); }

int GetDrawTargetSize(int* width, int* height) {
  const CameraSettings& camera = GetDrawSettings()->camera;
  if (width != nullptr) *width = camera.targetWidth;
  if (height != nullptr) *height = camera.targetHeight;
  return 0;
}

int SetDrawTarget(int target) {
  GraphicsCoreState& core = GraphicsCore();
  if (!core.initialised) return -1;
  hostCallTable.waitWhileWindowInactive();
  // Every check comes before any change: a refused target leaves everything as it was.
  const bool screen = IsScreenDrawTarget(target);
  if (!screen && IsGraphDrawValid(target) != 1) return -1;
  int width = 0;
  int height = 0;
  if (GetGraphOrScreenSize(target, &width, &height) == -1) return -1;

  const int maskWanted = GetMaskUseFlag();
  SetMaskUseFlag(0);
  DeviceStateCache& cache = GetDeviceStateCache();
  if (core.direct3DActive && core.device != nullptr) {
    FlushVertexBatch();
    EndDeviceScene();
    if (cache.draw.drawTexture != nullptr || cache.forceResend) {
      FlushVertexBatch();
      MarkBlendStateChanged();
    }
    IDirect3DSurface9* renderTarget;
    IDirect3DSurface9* depth = core.depthSurface;
    if (screen) {
      renderTarget = core.subBackBuffer != nullptr ? core.subBackBuffer : core.backBuffer;
    } else {
      renderTarget = GetGraphRenderTargetSurface(target);
      if (width > core.screenWidth || height > core.screenHeight) depth = nullptr;
    }
    SetRenderTargetAndViewport(renderTarget);
    core.device->SetDepthStencilSurface(depth);
  } else if (!core.direct3DActive) {
    MEMIMG* image = screen ? nullptr : GetGraphMEMIMG(target);
    SetSoftwareDrawTarget(image != nullptr ? image
                                           : GetSoftwareScreenImage(kSoftwareScreenPrimary));
  }

  DrawSettings* settings = GetDrawSettings();
  settings->drawTarget = target;
  if (target == kDrawTargetFrontScreen && hostCallTable.getWindowHandle() != nullptr)
    SetTimer(hostCallTable.getWindowHandle(), kFrontScreenTimerId, kFrontScreenTimerPeriod,
             FrontScreenTimerProc);

  CameraSettings& camera = settings->camera;
  const bool sameSize = camera.targetWidth == width && camera.targetHeight == height;
  camera.targetWidth = width;
  camera.targetHeight = height;
  if (sameSize) {
    RECT area = settings->drawArea;
    SetDrawClipRect(area.left, area.top, area.right, area.bottom);
  } else {
    SetDrawClipRect(0, 0, width, height);
  }

  Matrix4 identity;
  MakeUnitMatrix(&identity);
  SetWorldMatrix(&identity);
  SetCameraViewportCentre(width * 0.5f, height * 0.5f);
  SetDefaultCamera(width, height);
  SetMaskUseFlag(maskWanted);
  return 0;
}

int ClearDrawTarget(const RECT* rect) {
  GraphicsCoreState& core = GraphicsCore();
  if (!core.initialised) return 0;
  DrawSettings* settings = GetDrawSettings();
  const int target = settings->drawTarget;
  int width = settings->camera.targetWidth;
  int height = settings->camera.targetHeight;
  // A rectangle starting left of or above the target means the whole target; any other is
  // clipped to the target, and one with nothing left clears nothing.
  RECT area{0, 0, width, height};
  bool whole = rect == nullptr || rect->left < 0 || rect->top < 0;
  if (!whole) {
    area = *rect;
    if (area.right > width) area.right = width;
    if (area.bottom > height) area.bottom = height;
    if (area.right <= area.left || area.bottom <= area.top) return 0;
  }
  const uint32_t background = GetBackgroundColor();

  if (core.direct3DActive) {
    if (core.device == nullptr) return 0;
    FlushVertexBatch();
    EndDeviceScene();
    IDirect3DSurface9* mask = GetMaskUseFlag() ? GetMaskScreenSurface() : nullptr;
    DeviceStateCache& cache = GetDeviceStateCache();
    IDirect3DSurface9* drawSurface = cache.renderTarget;
    if (mask != nullptr) {
      drawSurface = IsScreenDrawTarget(target)
                        ? (core.subBackBuffer ? core.subBackBuffer : core.backBuffer)
                        : GetGraphRenderTargetSurface(target);
      SetRenderTargetAndViewport(drawSurface);
    }
    D3DVIEWPORT9 targetViewport{0,    0,   static_cast<DWORD>(width), static_cast<DWORD>(height),
                                0.0f, 1.0f};
    SetDeviceViewport(&targetViewport);
    D3DRECT clearRect{area.left, area.top, area.right, area.bottom};
    DWORD count = whole ? 0 : 1;
    const D3DRECT* rects = count ? &clearRect : nullptr;
    core.device->Clear(count, rects, D3DCLEAR_TARGET, background & 0x00FFFFFF, 1.0f, 0);
    if (core.depthSurface != nullptr)
      core.device->Clear(count, rects, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    if (mask != nullptr) SetRenderTargetAndViewport(mask);
    SetDeviceViewportFromRect(&settings->drawArea);
    return 0;
  }

  MEMIMG* image = IsScreenDrawTarget(target) ? nullptr : GetGraphMEMIMG(target);
  if (image == nullptr) image = GetSoftwareScreenImage(kSoftwareScreenPrimary);
  if (image == nullptr) return 0;
  SetMEMIMGRectPixels(
      image, whole ? nullptr : &area,
      ColorFormatCodeFromRGBA(image->body->format, static_cast<int>((background >> 16) & 0xFF),
                              static_cast<int>((background >> 8) & 0xFF),
                              static_cast<int>(background & 0xFF), 0));
  return 0;
}

int SetRenderTargetAndViewport(IDirect3DSurface9* surface) {
  IDirect3DDevice9* device = GraphicsCore().device;
  if (device == nullptr) return -1;
  DeviceStateCache& cache = GetDeviceStateCache();
  if (surface == cache.renderTarget && !cache.forceResend) return 0;
  FlushVertexBatch();
  if (FAILED(device->SetRenderTarget(0, surface))) return 0;
  cache.renderTarget = surface;
  D3DSURFACE_DESC description{};
  if (surface != nullptr && SUCCEEDED(surface->GetDesc(&description))) {
    D3DVIEWPORT9 viewport{0, 0, description.Width, description.Height, 0.0f, 1.0f};
    SetDeviceViewport(&viewport);
  }
  return 0;
}

int SetInitialDeviceState() {
  GraphicsCoreState& core = GraphicsCore();
  IDirect3DDevice9* device = core.device;
  if (device == nullptr) return 0;
  PrepareVertexBatchBuffers();
  ClearDeviceStateCache();
  DeviceStateCache& cache = GetDeviceStateCache();

  DrawSettings* settings = GetDrawSettings();
  static constexpr D3DSAMPLERSTATETYPE kAddress[3] = {D3DSAMP_ADDRESSU, D3DSAMP_ADDRESSV,
                                                      D3DSAMP_ADDRESSW};
  int32_t* settingAddress[3] = {settings->textureAddressU, settings->textureAddressV,
                                settings->textureAddressW};
  int32_t* mirrorAddress[3] = {cache.addressU, cache.addressV, cache.addressW};
  for (int s = 0; s < kDeviceStageCount; ++s) {
    for (int a = 0; a < 3; ++a) {
      if (settingAddress[a][s] == 0) settingAddress[a][s] = D3DTADDRESS_CLAMP;
      device->SetSamplerState(static_cast<DWORD>(s), kAddress[a],
                              static_cast<DWORD>(settingAddress[a][s]));
      mirrorAddress[a][s] = settingAddress[a][s];
    }
  }
  SetForceResend(1);
  ApplyTextureFilterMode(cache.filterMode);
  SetForceResend(0);

  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device->SetRenderState(D3DRS_LIGHTING, TRUE);
  device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
  device->SetRenderState(D3DRS_DITHERENABLE, FALSE);
  device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
  device->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL);
  device->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
  device->SetRenderState(D3DRS_FOGENABLE, FALSE);
  device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_NONE);
  device->SetRenderState(D3DRS_FOGCOLOR, 0);
  float fogStart = 0.0f;
  float fogEnd = 1.0f;
  DWORD bits;
  std::memcpy(&bits, &fogStart, sizeof bits);
  device->SetRenderState(D3DRS_FOGSTART, bits);
  std::memcpy(&bits, &fogEnd, sizeof bits);
  device->SetRenderState(D3DRS_FOGEND, bits);

  device->GetMaterial(&cache.material);
  cache.viewport = D3DVIEWPORT9{
      0,    0,   static_cast<DWORD>(core.screenWidth), static_cast<DWORD>(core.screenHeight),
      0.0f, 1.0f};
  cache.scissorRect = RECT{0, 0, core.screenWidth, core.screenHeight};
  SetVertexBatchColor(0xFFFFFFFF);
  cache.renderTarget = core.backBuffer;

  ReapplyDeviceState();
  BeginDeviceScene();
  if (cache.draw.blendChanged) ApplyBlendState(0, nullptr, 0);
  StartInitialPointBatch();
  return 0;
}

int ApplyDefaultRenderStates() {
  GraphicsCoreState& core = GraphicsCore();
  IDirect3DDevice9* device = core.device;
  if (device == nullptr) return -1;
  device->SetRenderState(D3DRS_DITHERENABLE, FALSE);
  DeviceStateCache& cache = GetDeviceStateCache();
  DrawSettings* settings = GetDrawSettings();
  SetForceResend(1);
  cache.draw.drawTexture = nullptr;
  DiscardVertexBatch();

  const DrawSetupState draw = cache.draw;
  SetBlendModeRecord(draw.blendMode, draw.alphaBlend, draw.alphaTest);
  SetCullModeState(cache.cullMode);
  ApplyTextureFilterMode(cache.filterMode);
  SetBlendModeRecord(draw.blendMode, draw.alphaBlend, draw.alphaTest);
  SetShadeModeState(cache.shadeMode);
  SetMaxAnisotropy(cache.maxAnisotropySetting);
  SetCullModeState(cache.cullMode);
  for (int s = 0; s < kDeviceStageCount; ++s) {
    SetTextureAddressUState(cache.addressU[s], s);
    SetTextureAddressVState(cache.addressV[s], s);
    SetTextureAddressWState(cache.addressW[s], s);
  }
  for (int s = 0; s < kDeviceStageCount; ++s) {
    Matrix4 matrix = cache.textureTransform[s];
    SetTextureTransformState(s, cache.textureTransformFlags[s] == D3DTTFF_COUNT3 ? 1 : 0, &matrix);
  }
  SetFogEnableState(cache.fogEnable);
  SetFogModeState(cache.fogMode);
  SetFogColorState(cache.fogColor);
  SetFogStartEndState(cache.fogStart, cache.fogEnd);
  SetFogDensityState(cache.fogDensity);
  SetZEnableState(cache.zEnable);
  SetZWriteEnableState(cache.zWriteEnable);
  SetZFuncState(cache.zFunc);
  SetDepthBiasState(cache.depthBias);
  SetFillModeState(cache.fillMode);
  FlushVertexBatch();

  SetDeviceWorldTransform(&settings->worldMatrix);
  SetViewTransform(&settings->viewMatrix);
  SendCombinedProjection();
  D3DMATERIAL9 material = cache.material;
  SetMaterialState(&material);
  SetSpecularEnableState(cache.specularEnable);
  if (cache.diffuseMaterialSource != 255)
    SetDiffuseMaterialSourceState(cache.diffuseMaterialSource);
  if (cache.specularMaterialSource != 255)
    SetSpecularMaterialSourceState(cache.specularMaterialSource);
  float ambient[4];
  std::memcpy(ambient, cache.ambient, sizeof ambient);
  SetAmbientColorState(ambient);
  SetLightingState(cache.lighting);
  for (int i = 0; i < kDeviceLightCount; ++i) {
    if (!cache.lightUsed[i]) continue;
    D3DLIGHT9 light = cache.lights[i];
    SetLightAndEnable(i, cache.lightEnabled[i] ? 1 : 0, &light);
    if (!cache.lightEnabled[i]) SetLightRecord(i, &light);
  }
  SetDeviceViewportFromRect(&settings->drawArea);
  SetDeviceScissorRect(&settings->drawArea);
  SetStageStateCached(0, D3DTSS_TEXCOORDINDEX, cache.texCoordIndex, 0);
  ApplyBlendState(0, nullptr, 0);
  ReapplyDeviceState();
  SetForceResend(0);
  return 0;
}
