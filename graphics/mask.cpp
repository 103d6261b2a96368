// Masks: the mask handle table, the mask screen (byte buffer; a screen MEMIMG in software mode, a
// mask image texture and a mask screen render texture in Direct3D mode), the switch that sends
// drawing to the mask screen, and the bracket that writes a masked draw back to the real target.
#include "graphics/mask.h"
#include "graphics/blend_state.h"

#include <algorithm>
#include <cstring>

#include "files/memimg.h"
#include "graphics/device_state_cache.h"
#include "graphics/draw_settings.h"
#include "graphics/draw_target.h"
#include "graphics/frame_present.h"
#include "graphics/graph_handle.h"
#include "graphics/graphics_state.h"
#include "graphics/screen_mode.h"
#include "graphics/vertex_batch.h"
#include "system/engine_handle.h"
#include "system/host_call_table.h"
#include "system/tracked_memory.h"

namespace {

struct MaskRecord {
  int32_t check;
  uint8_t* bytes;
  int32_t width;
  int32_t height;
  int32_t used;
};

struct MaskState {
  EngineHandleKind kind = MakeEngineHandleKind(kMaskHandle);
  MaskRecord* slots[kEngineHandleSlotLimit[kMaskHandle]] = {};

  uint8_t* buffer = nullptr;
  int bufferPitch = 0;
  int bufferHeight = 0;
  MEMIMG image{};
  int imageMade = 0;
  IDirect3DTexture9* imageTexture = nullptr;   // the mask bytes as alpha
  IDirect3DTexture9* screenTexture = nullptr;  // where masked draws go
  IDirect3DSurface9* screenSurface = nullptr;
  int textureWidth = 0;
  int textureHeight = 0;

  int created = 0;
  int requested = 0;
  int effective = 0;
  int nesting = 0;
  int reverse = 0;
  IDirect3DSurface9* realTarget = nullptr;
  MEMIMG* realImage = nullptr;
};

MaskState mask;

template <class T>
void ReleaseObject(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

int PowerOfTwoAtLeast(int value) {
  int result = 1;
  while (result < value) result <<= 1;
  return result;
}

bool HasMaskScreen() {
  return IsDirect3DMode() ? mask.screenSurface != nullptr : mask.imageMade != 0;
}

// The surface or image drawing goes to when masking is off.
IDirect3DSurface9* RealTargetSurface() {
  GraphicsCoreState& core = GraphicsCore();
  const int target = GetDrawSettings()->drawTarget;
  if (!IsScreenDrawTarget(target)) return GetGraphRenderTargetSurface(target);
  return core.subBackBuffer != nullptr ? core.subBackBuffer : core.backBuffer;
}

MEMIMG* RealTargetImage() {
  const int target = GetDrawSettings()->drawTarget;
  MEMIMG* image = IsScreenDrawTarget(target) ? nullptr : GetGraphMEMIMG(target);
  return image != nullptr ? image : GetSoftwareScreenImage(kSoftwareScreenPrimary);
}

// The rectangle cut to the draw area; false when nothing is left.
bool ClipToDrawArea(const RECT* rect, RECT* out) {
  const RECT& area = GetDrawSettings()->drawArea;
  RECT r = rect != nullptr ? *rect : area;
  out->left = std::max(r.left, area.left);
  out->top = std::max(r.top, area.top);
  out->right = std::min(r.right, area.right);
  out->bottom = std::min(r.bottom, area.bottom);
  return out->left < out->right && out->top < out->bottom;
}

bool Passes(uint8_t byte) { return (byte != 0) != (mask.reverse != 0); }

// The mask bytes of the rectangle into the mask image texture's alpha: opaque where the mask
// lets the draw through.
bool UploadMaskBytes(const RECT& rect) {
  D3DLOCKED_RECT locked{};
  if (FAILED(mask.imageTexture->LockRect(0, &locked, &rect, 0))) return false;
  const bool wide = GetTextureFormat(kTextureFormatAlphaTestScreen) == D3DFMT_A8R8G8B8;
  for (LONG y = rect.top; y < rect.bottom; ++y) {
    const uint8_t* bytes = mask.buffer + static_cast<size_t>(y) * mask.bufferPitch;
    uint8_t* row = static_cast<uint8_t*>(locked.pBits) +
                   static_cast<size_t>(y - rect.top) * static_cast<size_t>(locked.Pitch);
    for (LONG x = rect.left; x < rect.right; ++x) {
      const bool through = Passes(bytes[x]);
      if (wide) {
        const uint32_t texel = through ? 0xFF000000u : 0u;
        std::memcpy(row + 4 * (x - rect.left), &texel, 4);
      } else {
        const uint16_t texel = through ? 0x8000 : 0;
        std::memcpy(row + 2 * (x - rect.left), &texel, 2);
      }
    }
  }
  mask.imageTexture->UnlockRect(0);
  return true;
}

// The mask screen's rectangle onto the real target as one quad: stage 0 takes the mask screen's
// colour, stage 1 the mask image's alpha, and the alpha test keeps only the pixels let through.
void DrawMaskedRectangle(const RECT& rect) {
  BlendRenderProgram program{};
  program.alphaTestEnable = 1;
  program.alphaFunc = D3DCMP_GREATER;
  program.alphaRef = 0;
  program.alphaBlendEnable = 0;
  program.textureFactor = GetDeviceStateCache().textureFactor;
  program.srcBlend = -1;
  program.destBlend = -1;
  program.blendOp = -1;
  program.stageCount = 2;
  program.stages[0] = {mask.screenTexture,
                       -1,
                       0,
                       D3DTA_CURRENT,
                       D3DTA_TEXTURE,
                       D3DTA_TEXTURE,
                       D3DTOP_SELECTARG1,
                       D3DTA_TEXTURE,
                       D3DTA_TEXTURE,
                       D3DTOP_SELECTARG1};
  program.stages[1] = {mask.imageTexture,
                       -1,
                       1,
                       D3DTA_CURRENT,
                       D3DTA_TEXTURE,
                       D3DTA_TEXTURE,
                       D3DTOP_SELECTARG1,
                       D3DTA_CURRENT,
                       D3DTA_CURRENT,
                       D3DTOP_SELECTARG1};
  ApplyUserStageSetup(&program, 0);
  ApplyBlendStageNow(&program, 0, 1);
  SetFVFState(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2);

  const float left = static_cast<float>(rect.left) - 0.5f;
  const float top = static_cast<float>(rect.top) - 0.5f;
  const float right = static_cast<float>(rect.right) - 0.5f;
  const float bottom = static_cast<float>(rect.bottom) - 0.5f;
  const float u1 = static_cast<float>(rect.left) / static_cast<float>(mask.textureWidth);
  const float v1 = static_cast<float>(rect.top) / static_cast<float>(mask.textureHeight);
  const float u2 = static_cast<float>(rect.right) / static_cast<float>(mask.textureWidth);
  const float v2 = static_cast<float>(rect.bottom) / static_cast<float>(mask.textureHeight);
  auto corner = [&](float x, float y, float u, float v) {
    return Vertex2DBlendTextured{x, y, 0.0f, 1.0f, 0xFFFFFFFFu, 0xFFFFFFFFu, u, v, u, v};
  };
  const Vertex2DBlendTextured quad[6] = {
      corner(left, top, u1, v1),     corner(right, top, u2, v1),   corner(left, bottom, u1, v2),
      corner(right, bottom, u2, v2), corner(left, bottom, u1, v2), corner(right, top, u2, v1),
  };
  BeginDeviceScene();
  GraphicsCore().device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, quad,
                                         sizeof(Vertex2DBlendTextured));
  // The next draw binds its own texture and program again.
  ApplyUserStageSetup(nullptr, 0);
  MarkBlendStateChanged();
  ForgetVertexBatchDrawSetup();
}

void EndMaskDrawSoftware(const RECT& rect) {
  MEMIMG* target = mask.realImage;
  if (target == nullptr || !mask.imageMade) return;
  const int bytes = target->body->pixelType == MEMIMG_PIXEL_RGB565 ? 2 : 4;
  if (mask.image.body->pixelType != target->body->pixelType) return;
  const RECT bounds{0, 0, std::min(target->width, mask.image.width),
                    std::min(target->height, mask.image.height)};
  const LONG right = std::min(rect.right, bounds.right);
  const LONG bottom = std::min(rect.bottom, bounds.bottom);
  for (LONG y = rect.top; y < bottom; ++y) {
    const uint8_t* line = mask.buffer + static_cast<size_t>(y) * mask.bufferPitch;
    uint8_t* to = target->pixels + static_cast<ptrdiff_t>(y) * target->body->pitch;
    const uint8_t* from = mask.image.pixels + static_cast<ptrdiff_t>(y) * mask.image.body->pitch;
    for (LONG x = rect.left; x < right; ++x)
      if (Passes(line[x]))
        std::memcpy(to + x * bytes, from + x * bytes, static_cast<size_t>(bytes));
  }
}

void FreeMaskObjects() {
  if (mask.imageMade) ReleaseMEMIMG(&mask.image);
  std::memset(&mask.image, 0, sizeof mask.image);
  mask.imageMade = 0;
  ReleaseObject(mask.screenSurface);
  ReleaseObject(mask.screenTexture);
  ReleaseObject(mask.imageTexture);
  mask.effective = 0;
  mask.nesting = 0;
}

}  // namespace

int DeleteMaskHandle(int handle) {
  MaskRecord* record = FindEngineHandleRecord(handle, mask.kind, mask.slots,
                                              [](const MaskRecord& r) { return r.check; });
  if (record == nullptr) return -1;
  TrackedFree(record->bytes);
  const int slot = GetEngineHandleSlot(handle);
  RetireEngineHandle(mask.kind);
  mask.slots[slot] = nullptr;
  TrackedFree(record);
  return 0;
}

int DeleteAllMaskHandles() {
  for (int slot = 0; slot < mask.kind.slotLimit; ++slot) {
    if (mask.slots[slot] == nullptr) continue;
    DeleteMaskHandle(MakeEngineHandle(kMaskHandle, mask.slots[slot]->check, slot));
  }
  return 0;
}

int SetUpMaskScreen(int create) {
  if (!create) return 0;
  GraphicsCoreState& core = GraphicsCore();
  if (mask.buffer == nullptr) {
    mask.bufferPitch = (core.screenWidth + 3) & ~3;
    mask.bufferHeight = core.screenHeight;
    mask.buffer =
        static_cast<uint8_t*>(TrackedAllocZeroed(int64_t{mask.bufferPitch} * mask.bufferHeight));
    if (mask.buffer == nullptr) FatalErrorExit("マスク用バッファの作成に失敗しました\n");
  }
  if (!IsDirect3DMode()) {
    if (!mask.imageMade) {
      const int pixelType = core.screenColorBits == 16 ? MEMIMG_PIXEL_RGB565 : MEMIMG_PIXEL_XRGB8;
      if (CreateScreenMEMIMG(&mask.image, core.screenWidth, core.screenHeight, pixelType,
                             GetScreenColorBitDepth()) != 0)
        FatalErrorExit("マスク用スクリーンの作成に失敗しました\n");
      mask.imageMade = 1;
    }
    return 0;
  }
  if (mask.screenSurface != nullptr) return 0;
  if (GetTextureFormat(kTextureFormatRenderTargetScreen) == D3DFMT_UNKNOWN)
    FatalErrorExit(
        "マスク描画用カラーバッファで使用できるテクスチャフォーマットがありませんでした\n");
  if (GetTextureFormat(kTextureFormatAlphaTestScreen) == D3DFMT_UNKNOWN)
    FatalErrorExit(
        "マスク描画用アルファチャンネルバッファで使用できるテクスチャフォーマットがありませんでした"
        "\n");
  mask.textureWidth = PowerOfTwoAtLeast(core.screenWidth);
  mask.textureHeight = PowerOfTwoAtLeast(core.screenHeight);
  if (FAILED(core.device->CreateTexture(static_cast<UINT>(mask.textureWidth),
                                        static_cast<UINT>(mask.textureHeight), 1, D3DUSAGE_DYNAMIC,
                                        GetTextureFormat(kTextureFormatAlphaTestScreen),
                                        D3DPOOL_DEFAULT, &mask.imageTexture, nullptr)))
    FatalErrorExit("マスク用イメージテクスチャの作成に失敗しました\n");
  D3DLOCKED_RECT locked{};
  if (SUCCEEDED(mask.imageTexture->LockRect(0, &locked, nullptr, 0))) {
    std::memset(locked.pBits, 0, static_cast<size_t>(locked.Pitch) * mask.textureHeight);
    mask.imageTexture->UnlockRect(0);
  }
  if (FAILED(core.device->CreateTexture(
          static_cast<UINT>(mask.textureWidth), static_cast<UINT>(mask.textureHeight), 1,
          D3DUSAGE_RENDERTARGET, core.screenFormat, D3DPOOL_DEFAULT, &mask.screenTexture, nullptr)))
    FatalErrorExit("マスク用スクリーンテクスチャの作成に失敗しました\n");
  mask.screenTexture->GetSurfaceLevel(0, &mask.screenSurface);
  return 0;
}

int FreeMaskScreen() {
  FreeMaskObjects();
  return 0;
}

int RestoreMaskScreen() {
  SetUpMaskScreen(mask.created);
  if (mask.requested) SetMaskUseFlag(1);
  return 0;
}

int ShutDownMaskScreen() {
  if (mask.requested) SetMaskUseFlag(0);
  FreeMaskObjects();
  TrackedFree(mask.buffer);
  mask.buffer = nullptr;
  mask.bufferPitch = 0;
  mask.bufferHeight = 0;
  mask.created = 0;
  mask.effective = 0;
  mask.requested = 0;
  mask.reverse = 0;
  return 0;
}

int GetMaskUseFlag() { return mask.requested; }

int SetMaskUseFlag(int flag) {
  if (mask.buffer == nullptr) return -1;
  mask.requested = flag ? 1 : 0;
  mask.effective = mask.requested && HasMaskScreen() ? 1 : 0;
  GraphicsCoreState& core = GraphicsCore();
  if (!core.initialised) return 0;
  if (!IsDirect3DMode()) {
    SetSoftwareDrawTarget(mask.effective ? &mask.image : RealTargetImage());
    return 0;
  }
  FlushVertexBatch();
  SetRenderTargetAndViewport(mask.effective ? mask.screenSurface : RealTargetSurface());
  const int previous = GetDeviceStateCache().forceResend;
  SetForceResend(1);
  SetDeviceViewportFromRect(&GetDrawSettings()->drawArea);
  SetForceResend(previous);
  return 0;
}

int BeginMaskDraw(const RECT* rect) {
  if (!mask.effective) return 0;
  if (mask.nesting++ != 0) return 0;
  RECT clipped;
  if (!ClipToDrawArea(rect, &clipped)) return 0;
  if (IsDirect3DMode()) {
    mask.realTarget = RealTargetSurface();
    if (mask.realTarget == nullptr) return 0;
    FlushVertexBatch();
    EndDeviceScene();
    GraphicsCore().device->StretchRect(mask.realTarget, &clipped, mask.screenSurface, &clipped,
                                       D3DTEXF_NONE);
    return 0;
  }
  mask.realImage = RealTargetImage();
  if (mask.realImage != nullptr)
    CopyMEMIMGRect(&mask.image, mask.realImage, &clipped, clipped.left, clipped.top);
  return 0;
}

int EndMaskDraw(const RECT* rect) {
  if (!mask.effective || mask.nesting == 0) return 0;
  if (--mask.nesting != 0) return 0;
  RECT clipped;
  if (!ClipToDrawArea(rect, &clipped)) return 0;
  clipped.right = std::min<LONG>(clipped.right, mask.bufferPitch);
  clipped.bottom = std::min<LONG>(clipped.bottom, mask.bufferHeight);
  if (clipped.left >= clipped.right || clipped.top >= clipped.bottom) return 0;
  if (!IsDirect3DMode()) {
    EndMaskDrawSoftware(clipped);
    return 0;
  }
  if (mask.realTarget == nullptr) return 0;
  FlushVertexBatch();
  SetRenderTargetAndViewport(mask.realTarget);
  if (UploadMaskBytes(clipped)) DrawMaskedRectangle(clipped);
  FlushVertexBatch();
  SetRenderTargetAndViewport(mask.screenSurface);
  SetDeviceViewportFromRect(&GetDrawSettings()->drawArea);
  mask.realTarget = nullptr;
  return 0;
}

IDirect3DSurface9* GetMaskScreenSurface() { return mask.effective ? mask.screenSurface : nullptr; }

MEMIMG* GetMaskScreenImage() { return mask.effective && mask.imageMade ? &mask.image : nullptr; }

int SetMaskScreenCreated(int created) {
  mask.created = created ? 1 : 0;
  return SetUpMaskScreen(mask.created);
}

uint8_t* GetMaskBuffer(int* pitch) {
  if (pitch != nullptr) *pitch = mask.bufferPitch;
  return mask.buffer;
}

int SetMaskReverse(int reverse) {
  mask.reverse = reverse ? 1 : 0;
  return 0;
}
