// The VertexBatch: the typed vertex buffers that every hardware draw fills, the flush that sends
// them to the device with one draw call, the draw set-up that brings the device state up to date
// before a draw, and the filled box of the subtract emulation.
#include "graphics/vertex_batch.h"

#include <algorithm>
#include <array>

#include "graphics/blend_state.h"
#include "graphics/device_state_cache.h"
#include "graphics/draw_settings.h"
#include "graphics/frame_present.h"
#include "graphics/graph_record.h"
#include "graphics/graphics_state.h"
#include "system/host_call_table.h"
#include "system/math.h"

namespace {

struct Vertex3DUntextured {
  float x, y, z;
  uint32_t color;
};
struct Vertex3DTextured {
  float x, y, z;
  uint32_t color;
  float u, v;
};

constexpr std::array<int, 5> kCapacity = {3225, 2340, 1638, 4096, 2730};
constexpr std::array<DWORD, 5> kFVF = {0x44, 0x144, 0x2C4, 0x42, 0x142};
constexpr std::array<int, 5> kStride = {20, 28, 40, 16, 24};

struct VertexBatch {
  std::array<Vertex2DUntextured, 3225> untextured2D;
  std::array<Vertex2DTextured, 2340> textured2D;
  std::array<Vertex2DBlendTextured, 1638> blendTextured2D;
  std::array<Vertex3DUntextured, 4096> untextured3D;
  std::array<Vertex3DTextured, 2730> textured3D;
  int threeD;
  int count;
  int vertexType;
  D3DPRIMITIVETYPE primitiveType;
  uint32_t color;
};

VertexBatch batch = [] {
  VertexBatch made{};
  made.primitiveType = D3DPT_TRIANGLELIST;
  made.vertexType = kVertex2DTextured;
  made.color = 0xFFFFFFFF;
  return made;
}();

const void* BufferOf(int type) {
  switch (type) {
    case kVertex2DUntextured: return batch.untextured2D.data();
    case kVertex2DTextured: return batch.textured2D.data();
    case kVertex2DBlendTextured: return batch.blendTextured2D.data();
    case kVertex3DUntextured: return batch.untextured3D.data();
    default: return batch.textured3D.data();
  }
}

UINT PrimitiveCount(D3DPRIMITIVETYPE type, int count) {
  switch (type) {
    case D3DPT_POINTLIST: return static_cast<UINT>(count);
    case D3DPT_LINELIST: return static_cast<UINT>(count / 2);
    case D3DPT_LINESTRIP: return static_cast<UINT>(std::max(0, count - 1));
    case D3DPT_TRIANGLELIST: return static_cast<UINT>(count / 3);
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return static_cast<UINT>(std::max(0, count - 2));
    default: return 0;
  }
}

// Sends what is queued; the count is taken first, so that the flushes of the setters called here
// find an empty batch.
void SendBatch(bool testDrawsNothing) {
  IDirect3DDevice9* device = GraphicsCore().device;
  const int count = batch.count;
  batch.count = 0;
  if (device == nullptr || count == 0) return;
  if (testDrawsNothing && GetDeviceStateCache().draw.drawsNothing) return;
  const int type = batch.vertexType + 3 * batch.threeD;
  if (type < 0 || type > kVertex3DTextured) return;
  const UINT primitives = PrimitiveCount(batch.primitiveType, count);
  if (primitives == 0) return;
  SetFVFState(kFVF[static_cast<size_t>(type)]);
  Matrix4 identity;
  if (batch.threeD) {
    MakeUnitMatrix(&identity);
    SetDeviceWorldTransform(&identity);
  }
  device->DrawPrimitiveUP(batch.primitiveType, primitives, BufferOf(type),
                          static_cast<UINT>(kStride[static_cast<size_t>(type)]));
  if (batch.threeD) SetDeviceWorldTransform(&GetDrawSettings()->worldMatrix);
}

}  // namespace

int FlushVertexBatch() {
  if (GraphicsCore().device == nullptr) {
    batch.count = 0;
    return -1;
  }
  if (batch.count > 0 && !hostCallTable.isQuitRequested()) {
    BeginDeviceScene();
    SendBatch(true);
  }
  batch.count = 0;
  return 0;
}

int DiscardVertexBatch() {
  batch.count = 0;
  return 0;
}

int PrepareVertexBatchBuffers() {
  for (Vertex2DUntextured& v : batch.untextured2D) {
    v.z = 0.0f;
    v.rhw = 1.0f;
  }
  for (Vertex2DTextured& v : batch.textured2D) {
    v.z = 0.0f;
    v.rhw = 1.0f;
  }
  for (Vertex2DBlendTextured& v : batch.blendTextured2D) {
    v.z = 0.0f;
    v.rhw = 1.0f;
    v.specular = 0xFFFFFFFF;
  }
  batch.count = 0;
  return 0;
}

int StartInitialPointBatch() {
  batch.threeD = 0;
  batch.vertexType = kVertex2DUntextured;
  batch.primitiveType = D3DPT_POINTLIST;
  batch.untextured2D[0] =
      Vertex2DUntextured{0.0f, 0.0f, GetDrawSettings()->drawDepth2D, 1.0f, batch.color};
  batch.count = 1;
  return 0;
}

void SetVertexBatchColor(uint32_t color) { batch.color = color; }

uint32_t GetVertexBatchColor() { return batch.color; }

int GetVertexBatchCount() { return batch.count; }

const void* GetVertexBatchVertices() { return BufferOf(batch.vertexType + 3 * batch.threeD); }

// Every draw prepares its whole set-up through the cache's comparisons, so nothing is remembered
// that a new scene would have to forget.
void ForgetVertexBatchDrawSetup() {}

void* ReserveBatchQuad(int vertexType) { return ReserveBatchQuads(vertexType, 1); }

void* ReserveBatchQuads(int vertexType, int quads) {
  const int vertices = 6 * quads;
  if (batch.threeD || batch.primitiveType != D3DPT_TRIANGLELIST || batch.vertexType != vertexType ||
      batch.count + vertices >= kCapacity[static_cast<size_t>(vertexType)]) [[unlikely]] {
    SendBatch(false);
    batch.threeD = 0;
    batch.primitiveType = D3DPT_TRIANGLELIST;
    batch.vertexType = vertexType;
  }
  const int first = batch.count;
  batch.count = first + vertices;
  switch (vertexType) {
    case kVertex2DUntextured: return &batch.untextured2D[static_cast<size_t>(first)];
    case kVertex2DBlendTextured: return &batch.blendTextured2D[static_cast<size_t>(first)];
    default: return &batch.textured2D[static_cast<size_t>(first)];
  }
}

void* PeekBatchQuads(int vertexType, int quads) {
  const int capacity = kCapacity[static_cast<size_t>(vertexType)];
  if (batch.threeD || batch.primitiveType != D3DPT_TRIANGLELIST || batch.vertexType != vertexType ||
      quads > capacity / 6 || batch.count + 6 * quads >= capacity)
    return nullptr;
  const auto first = static_cast<size_t>(batch.count);
  switch (vertexType) {
    case kVertex2DUntextured: return &batch.untextured2D[first];
    case kVertex2DBlendTextured: return &batch.blendTextured2D[first];
    default: return &batch.textured2D[first];
  }
}

void CommitBatchVertices(int vertices) { batch.count += vertices; }

void SetBatchTexture(IDirect3DBaseTexture9* texture) {
  SetDrawTextureState(texture);
  const DrawSetupState& draw = GetDeviceStateCache().draw;
  if (draw.blendChanged || draw.textureChanged) ApplyBlendState(0, nullptr, 0);
}

void PrepareDrawState(const GraphImageRecord* image, IDirect3DBaseTexture9* texture,
                      uint32_t flags) {
  GraphicsCoreState& core = GraphicsCore();
  IDirect3DDevice9* device = core.device;
  if (device == nullptr) return;
  DeviceStateCache& cache = GetDeviceStateCache();
  const DrawSettings* settings = GetDrawSettings();

  if (!(flags & kDrawKeepShaders) &&
      (cache.vertexShader != nullptr || cache.pixelShader != nullptr)) {
    FlushVertexBatch();
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    cache.vertexShader = nullptr;
    cache.pixelShader = nullptr;
  }
  SetLightingState((flags & kDrawLighting) != 0 ? 1 : 0);
  SetSpecularEnableState((flags & kDrawSpecular) != 0 && !settings->specularOff ? 1 : 0);
  const DrawDepthSettings& depth =
      (flags & kDraw3DDepth) != 0 ? settings->depth3D : settings->depth2D;
  SetZEnableState(depth.zEnable);
  SetZWriteEnableState(depth.zWrite);
  SetZFuncState(depth.zFunction);
  SetDepthBiasState(depth.depthBias);
  SetFillModeState(settings->fillMode);
  SetFogEnableState((flags & kDrawFog) != 0 ? settings->fogEnable : 0);

  if (!(flags & kDrawKeepBlendSetup)) {
    int alphaTest = 0;
    int alphaBlend = 0;
    if ((flags & kDrawTransparent) != 0 && texture != nullptr && image != nullptr &&
        (image->alphaTest || image->alpha)) {
      const bool bilinear = settings->filterMode != 0;
      if ((settings->blendMode != 0 && settings->blendMode != 8) ||
          ((flags & kDrawPixelExact) == 0 && bilinear)) {
        alphaBlend = 1;
      } else {
        alphaTest = image->alphaTest;
        alphaBlend = image->alpha;
      }
    }
    const int coloured =
        (flags & kDrawColoured) != 0 || GetDrawBrightnessRGB(settings) != 0xFFFFFF ? 1 : 0;
    const int blended = (flags & kDrawBlended) != 0 || settings->blendMode != 0 ? 1 : 0;
    SetBlendModeRecord(settings->blendMode, alphaBlend, alphaTest);
    SetBlendParamRecord(coloured, blended);
    SetDrawTextureState(texture);
    const DrawSetupState& draw = cache.draw;
    if (draw.blendChanged || draw.textureChanged) ApplyBlendState(0, nullptr, 0);
  }
  SetShadeModeState((flags & kDrawGouraud) != 0 ? D3DSHADE_GOURAUD : D3DSHADE_FLAT);
  ApplyTextureFilterMode(settings->filterMode);
  SetMaxAnisotropy(settings->maxAnisotropy);
  SetCullModeState(settings->cullMode);
  if ((flags & kDrawUserAddressing) != 0) {
    for (int stage = 0; stage < kDeviceStageCount; ++stage) {
      SetTextureAddressUState(settings->textureAddressU[stage], stage);
      SetTextureAddressVState(settings->textureAddressV[stage], stage);
    }
  } else {
    for (int stage = 0; stage < 4; ++stage) {
      SetTextureAddressUState(D3DTADDRESS_CLAMP, stage);
      SetTextureAddressVState(D3DTADDRESS_CLAMP, stage);
    }
  }
}

int DrawFilledBoxHardware(int x1, int y1, int x2, int y2, uint32_t color, int) {
  if (GraphicsCore().device == nullptr) return -1;
  RECT box{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
  ClipRectToRect(&box, &GetDrawSettings()->drawArea);
  if (box.right <= box.left || box.bottom <= box.top) return 0;
  BeginDeviceScene();
  SetDrawTextureState(nullptr);
  PrepareDrawState(nullptr, nullptr, kDrawColoured);
  int red = 0;
  int green = 0;
  int blue = 0;
  SplitScreenColorCode(color, &red, &green, &blue);
  const uint32_t vertexColor = batch.color;
  auto scale = [&](int channel, int shift) {
    return static_cast<uint32_t>(channel * static_cast<int>((vertexColor >> shift) & 0xFF) / 255)
           << shift;
  };
  const uint32_t colour =
      (vertexColor & 0xFF000000u) | scale(red, 16) | scale(green, 8) | scale(blue, 0);
  const DrawSetupState& draw = GetDeviceStateCache().draw;
  if (draw.blendChanged || draw.textureChanged) ApplyBlendState(0, nullptr, 0);
  auto* v = static_cast<Vertex2DUntextured*>(ReserveBatchQuad(kVertex2DUntextured));
  const float z = GetDrawSettings()->drawDepth2D;
  const float left = static_cast<float>(box.left);
  const float top = static_cast<float>(box.top);
  const float right = static_cast<float>(box.right);
  const float bottom = static_cast<float>(box.bottom);
  v[0] = Vertex2DUntextured{left, top, z, 1.0f, colour};
  v[1] = Vertex2DUntextured{right, top, z, 1.0f, colour};
  v[2] = Vertex2DUntextured{left, bottom, z, 1.0f, colour};
  v[3] = Vertex2DUntextured{right, bottom, z, 1.0f, colour};
  v[4] = v[2];
  v[5] = v[1];
  return 0;
}
