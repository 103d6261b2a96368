// The DeviceStateCache and its setters: each compares with its mirror, flushes the vertex batch
// before it calls the device and keeps the value only when the device accepted it (a refused value
// must not count as set).
#include "graphics/device_state_cache.h"

#include <bit>
#include <cstring>
#include <vector>

#include "graphics/blend_state.h"
#include "graphics/draw_settings.h"
#include "graphics/frame_present.h"
#include "graphics/graphics_state.h"
#include "graphics/shader_pack.h"
#include "graphics/vertex_batch.h"
#include "system/log.h"

namespace {

DeviceStateCache cache;

IDirect3DDevice9* Device() { return GraphicsCore().device; }

bool Unchanged(bool same) { return same && !cache.forceResend; }

DWORD FloatBits(float value) { return std::bit_cast<DWORD>(value); }

D3DMATRIX ToD3DMatrix(const Matrix4* matrix) {
  D3DMATRIX result;
  std::memcpy(result.m, matrix->m, sizeof result.m);
  return result;
}

int SendRenderState(D3DRENDERSTATETYPE state, int32_t* mirror, int32_t value) {
  // A value already set needs nothing, with or without a device: the mirror is read first.
  if (Unchanged(*mirror == value)) return 0;
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return 0;
  FlushVertexBatch();
  if (FAILED(device->SetRenderState(state, static_cast<DWORD>(value)))) return -1;
  *mirror = value;
  return 0;
}

int SendFloatRenderState(D3DRENDERSTATETYPE state, float* mirror, float value) {
  // A value already set needs nothing, with or without a device: the mirror is read first.
  if (Unchanged(*mirror == value)) return 0;
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return 0;
  FlushVertexBatch();
  if (FAILED(device->SetRenderState(state, FloatBits(value)))) return -1;
  *mirror = value;
  return 0;
}

int SendSamplerState(int stage, D3DSAMPLERSTATETYPE type, int32_t* mirror, int32_t value) {
  // A value already set needs nothing, with or without a device: the mirror is read first.
  if (Unchanged(mirror[stage] == value)) return 0;
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return 0;
  FlushVertexBatch();
  if (FAILED(device->SetSamplerState(static_cast<DWORD>(stage), type, static_cast<DWORD>(value))))
    return -1;
  mirror[stage] = value;
  return 0;
}

// Stage -1 means every stage; -1 for a stage above 7.
template <class Send>
int ForStages(int stage, Send send) {
  if (stage >= kDeviceStageCount) return -1;
  int result = 0;
  int first = stage < 0 ? 0 : stage;
  int last = stage < 0 ? kDeviceStageCount - 1 : stage;
  for (int s = first; s <= last; ++s)
    if (send(s) == -1) result = -1;
  return result;
}

// Out of line, so that the address setters' check of a state already set stays a few
// instructions.
[[gnu::noinline]] int SendAddressStates(D3DSAMPLERSTATETYPE type, int32_t* mirror, int mode,
                                        int stage) {
  return ForStages(stage, [&](int s) { return SendSamplerState(s, type, mirror, mode); });
}

D3DCULL CullModeFor(int mode) {
  switch (mode) {
    case 1: return D3DCULL_CCW;
    case 2: return D3DCULL_CW;
    default: return D3DCULL_NONE;
  }
}

// The view matrix last sent, for the lights' view-space shader constants.
Matrix4 lastView = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};

bool ShadersOn() { return AreShadersInUse() != 0; }

// Rows of the transposed matrix, which are the matrix's columns.
void UploadTransposed(const Matrix4* matrix, int firstRegister) {
  float rows[4][4];
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) rows[r][c] = matrix->m[c][r];
  UploadVertexShaderConstants(4, firstRegister, &rows[0][0]);
}

// A light's position and direction in view space, two registers from 14 + 7 x light.
void UploadLightViewConstants(int index) {
  const int first = 14 + 7 * index;
  if (first + 2 > kVertexShaderConstantCount || !cache.lightUsed[index]) return;
  const D3DLIGHT9& light = cache.lights[index];
  const float in[2][4] = {{light.Position.x, light.Position.y, light.Position.z, 1.0f},
                          {light.Direction.x, light.Direction.y, light.Direction.z, 0.0f}};
  float out[2][4];
  for (int v = 0; v < 2; ++v)
    for (int c = 0; c < 4; ++c)
      out[v][c] = in[v][0] * lastView.m[0][c] + in[v][1] * lastView.m[1][c] +
                  in[v][2] * lastView.m[2][c] + in[v][3] * lastView.m[3][c];
  UploadVertexShaderConstants(2, first, &out[0][0]);
}

// Pixel constant 10 of the fog; a zero-length fog range has no such constant and keeps the last.
void UploadFogConstant() {
  if (!ShadersOn() || cache.fogEnd == cache.fogStart) return;
  const float range = cache.fogEnd - cache.fogStart;
  const float values[4] = {cache.fogEnd / range, -1.0f / range, cache.fogDensity, 2.71828f};
  UploadPixelShaderConstants(1, 10, values);
}

}  // namespace

DeviceStateCache& GetDeviceStateCache() { return cache; }

void ClearDeviceStateCache() {
  std::memset(&cache, 0, sizeof cache);
  cache.zFunc = D3DCMP_LESSEQUAL;
  cache.fillMode = D3DFILL_SOLID;
  cache.shadeMode = D3DSHADE_FLAT;
  cache.specularEnable = 1;
  cache.diffuseMaterialSource = 255;
  cache.specularMaterialSource = 255;
  cache.lighting = 1;
  cache.fogMode = D3DFOG_NONE;
  cache.fogEnd = 1.0f;
  cache.fogDensity = 1.0f;
  cache.alphaTestEnable = -1;
  cache.alphaRef = -1;
  cache.alphaFunc = -1;
  cache.alphaBlendEnable = -1;
  cache.textureFactor = 0xFFFFFFFF;
  cache.srcBlend = -1;
  cache.destBlend = -1;
  cache.blendOp = -1;
  cache.maxAnisotropySetting = 1;
  for (int s = 0; s < kDeviceStageCount; ++s) {
    cache.addressU[s] = cache.addressV[s] = cache.addressW[s] = D3DTADDRESS_CLAMP;
    cache.magFilter[s] = cache.minFilter[s] = cache.mipFilter[s] = D3DTEXF_POINT;
    cache.maxAnisotropy[s] = 1;
    cache.texCoordIndex[s] = 0;
    cache.resultArg[s] = D3DTA_CURRENT;
    cache.colorOp[s] = cache.alphaOp[s] = -1;
    cache.colorArg1[s] = cache.alphaArg1[s] = D3DTA_TEXTURE;
    cache.colorArg2[s] = cache.alphaArg2[s] = D3DTA_CURRENT;
    MakeUnitMatrix(&cache.textureTransform[s]);
  }
  cache.draw.blendChanged = 1;
  cache.draw.textureChanged = 1;
  cache.draw.blendBorderParam = 0;
  cache.draw.blendBorderRange = 0;
}

int SetForceResend(int on) {
  cache.forceResend = on ? 1 : 0;
  return 0;
}

int ApplyTextureFilterMode(int mode) {
  if (mode < 0 || mode > 2) return -1;
  if (Device() == nullptr) return 0;
  static constexpr int32_t kMag[3] = {D3DTEXF_POINT, D3DTEXF_LINEAR, D3DTEXF_LINEAR};
  static constexpr int32_t kMin[3] = {D3DTEXF_POINT, D3DTEXF_LINEAR, D3DTEXF_ANISOTROPIC};
  static constexpr int32_t kMip[3] = {D3DTEXF_POINT, D3DTEXF_LINEAR, D3DTEXF_LINEAR};
  // Every draw asks for the filter, which is nearly always set already on every stage.
  bool set = !cache.forceResend;
  for (int s = 0; s < kDeviceStageCount && set; ++s)
    set = cache.magFilter[s] == kMag[mode] && cache.minFilter[s] == kMin[mode] &&
          cache.mipFilter[s] == kMip[mode];
  if (set) {
    cache.filterMode = mode;
    return 0;
  }
  int result = ForStages(-1, [&](int s) {
    int r = SendSamplerState(s, D3DSAMP_MAGFILTER, cache.magFilter, kMag[mode]);
    if (SendSamplerState(s, D3DSAMP_MINFILTER, cache.minFilter, kMin[mode]) == -1) r = -1;
    if (SendSamplerState(s, D3DSAMP_MIPFILTER, cache.mipFilter, kMip[mode]) == -1) r = -1;
    return r;
  });
  cache.filterMode = mode;
  return result;
}

int SetMaxAnisotropy(int count) {
  if (count <= 0) count = 1;
  cache.maxAnisotropySetting = count;
  if (Device() == nullptr) return 0;
  bool set = !cache.forceResend;
  for (int s = 0; s < kDeviceStageCount && set; ++s) set = cache.maxAnisotropy[s] == count;
  if (set) return 0;
  return ForStages(-1, [&](int s) {
    return SendSamplerState(s, D3DSAMP_MAXANISOTROPY, cache.maxAnisotropy, count);
  });
}

int SetBlendModeRecord(int mode, int alphaBlend, int alphaTest) {
  DrawSetupState& draw = cache.draw;
  if (draw.blendMode != mode || draw.alphaBlend != alphaBlend || draw.alphaTest != alphaTest ||
      cache.forceResend)
    draw.blendChanged = 1;
  draw.blendMode = mode;
  draw.alphaBlend = alphaBlend;
  draw.alphaTest = alphaTest;
  return 0;
}

int SetBlendParamRecord(int coloured, int blended) {
  DrawSetupState& draw = cache.draw;
  if (draw.coloured != coloured || draw.blended != blended || cache.forceResend)
    draw.blendChanged = 1;
  draw.coloured = coloured;
  draw.blended = blended;
  return 0;
}

int SetZEnableState(int value) {
  return SendRenderState(D3DRS_ZENABLE, &cache.zEnable, value == 1 ? 1 : 0);
}

int ApplyZEnableState(int value) { return SetZEnableState(value); }

int SetZWriteEnableState(int value) {
  return SendRenderState(D3DRS_ZWRITEENABLE, &cache.zWriteEnable, value);
}

int SetZFuncState(int function) { return SendRenderState(D3DRS_ZFUNC, &cache.zFunc, function); }

int SetDepthBiasState(int value) {
  return SendRenderState(D3DRS_DEPTHBIAS, &cache.depthBias, value);
}

int SetFillModeState(int mode) { return SendRenderState(D3DRS_FILLMODE, &cache.fillMode, mode); }

int SetShadeModeState(int mode) { return SendRenderState(D3DRS_SHADEMODE, &cache.shadeMode, mode); }

int SetSpecularEnableState(int on) {
  return SendRenderState(D3DRS_SPECULARENABLE, &cache.specularEnable, on ? 1 : 0);
}

int SetDrawTextureState(IDirect3DBaseTexture9* texture) {
  DrawSetupState& draw = cache.draw;
  if (draw.drawTexture == texture && !cache.forceResend) return 0;
  if ((draw.drawTexture == nullptr) != (texture == nullptr)) draw.blendChanged = 1;
  draw.drawTexture = texture;
  draw.textureChanged = 1;
  return 0;
}

int SetBlendTextureState(IDirect3DBaseTexture9* texture, int borderParam, int borderRange) {
  DrawSetupState& draw = cache.draw;
  draw.blendTexture = texture;
  if (borderParam != -1) draw.blendBorderParam = borderParam;
  if (borderRange != -1) draw.blendBorderRange = borderRange;
  draw.blendChanged = 1;
  return 0;
}

int SetDiffuseMaterialSourceState(int fromVertex) {
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return 0;
  int32_t flag = fromVertex ? 1 : 0;
  if (Unchanged(cache.diffuseMaterialSource == flag)) return 0;
  FlushVertexBatch();
  if (FAILED(device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE,
                                    flag ? D3DMCS_COLOR1 : D3DMCS_MATERIAL)))
    return -1;
  cache.diffuseMaterialSource = flag;
  return 0;
}

int SetSpecularMaterialSourceState(int fromVertex) {
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return 0;
  int32_t flag = fromVertex ? 1 : 0;
  if (Unchanged(cache.specularMaterialSource == flag)) return 0;
  FlushVertexBatch();
  if (FAILED(device->SetRenderState(D3DRS_SPECULARMATERIALSOURCE,
                                    flag ? D3DMCS_COLOR2 : D3DMCS_MATERIAL)))
    return -1;
  cache.specularMaterialSource = flag;
  return 0;
}

int SetCullModeState(int mode) {
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return 0;
  if (mode < 0 || mode > 2) return -1;
  if (Unchanged(cache.cullMode == mode)) return 0;
  FlushVertexBatch();
  if (FAILED(device->SetRenderState(D3DRS_CULLMODE, CullModeFor(mode)))) return -1;
  cache.cullMode = mode;
  return 0;
}

int SetTextureAddressUState(int mode, int stage) {
  // Each draw sets the first stages' addressing, which is nearly always set already.
  if (stage >= 0 && stage < kDeviceStageCount && Unchanged(cache.addressU[stage] == mode)) return 0;
  return SendAddressStates(D3DSAMP_ADDRESSU, cache.addressU, mode, stage);
}

int SetTextureAddressVState(int mode, int stage) {
  // Each draw sets the first stages' addressing, which is nearly always set already.
  if (stage >= 0 && stage < kDeviceStageCount && Unchanged(cache.addressV[stage] == mode)) return 0;
  return SendAddressStates(D3DSAMP_ADDRESSV, cache.addressV, mode, stage);
}

int SetTextureAddressWState(int mode, int stage) {
  return ForStages(
      stage, [&](int s) { return SendSamplerState(s, D3DSAMP_ADDRESSW, cache.addressW, mode); });
}

int SetTextureAddressState(int mode, int stage) {
  if (stage >= kDeviceStageCount) return -1;
  int result = SetTextureAddressUState(mode, stage);
  if (SetTextureAddressVState(mode, stage) == -1) result = -1;
  if (SetTextureAddressWState(mode, stage) == -1) result = -1;
  return result;
}

int SetTextureTransformState(int stage, int on, const Matrix4* matrix) {
  if (stage >= kDeviceStageCount) return -1;
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return 0;
  int first = stage < 0 ? 0 : stage;
  int last = stage < 0 ? 3 : stage;
  int result = 0;
  for (int s = first; s <= last; ++s) {
    int32_t flags = on == 1 ? D3DTTFF_COUNT3 : D3DTTFF_DISABLE;
    bool sameMatrix = on != 1 || matrix == nullptr ||
                      std::memcmp(&cache.textureTransform[s], matrix, sizeof(Matrix4)) == 0;
    if (Unchanged(cache.textureTransformFlags[s] == flags && sameMatrix)) continue;
    FlushVertexBatch();
    if (FAILED(device->SetTextureStageState(static_cast<DWORD>(s), D3DTSS_TEXTURETRANSFORMFLAGS,
                                            static_cast<DWORD>(flags)))) {
      result = -1;
      continue;
    }
    cache.textureTransformFlags[s] = flags;
    if (on == 1 && matrix != nullptr) {
      D3DMATRIX m = ToD3DMatrix(matrix);
      if (FAILED(
              device->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(D3DTS_TEXTURE0 + s), &m))) {
        result = -1;
        continue;
      }
      cache.textureTransform[s] = *matrix;
    }
  }
  return result;
}

int SetFogEnableState(int on) {
  const int result = SendRenderState(D3DRS_FOGENABLE, &cache.fogEnable, on ? 1 : 0);
  UpdateBuiltinShaderSlots();
  return result;
}

int SetFogModeState(int mode) {
  const int result = SendRenderState(D3DRS_FOGVERTEXMODE, &cache.fogMode, mode);
  if (ShadersOn() && Device() != nullptr) {
    const BOOL flags[4] = {mode == D3DFOG_LINEAR, mode == D3DFOG_EXP, mode == D3DFOG_EXP2,
                           mode != D3DFOG_NONE};
    SwitchShaderConstantSet(0);
    Device()->SetVertexShaderConstantB(0, flags, 4);
  }
  UpdateBuiltinShaderSlots();
  return result;
}

int SetFogColorState(uint32_t color) {
  int32_t mirror = static_cast<int32_t>(cache.fogColor);
  int result = SendRenderState(D3DRS_FOGCOLOR, &mirror, static_cast<int32_t>(color));
  cache.fogColor = static_cast<uint32_t>(mirror);
  return result;
}

int SetFogStartEndState(float start, float end) {
  int result = SendFloatRenderState(D3DRS_FOGSTART, &cache.fogStart, start);
  if (SendFloatRenderState(D3DRS_FOGEND, &cache.fogEnd, end) == -1) result = -1;
  UploadFogConstant();
  return result;
}

int SetFogDensityState(float density) {
  const int result = SendFloatRenderState(D3DRS_FOGDENSITY, &cache.fogDensity, density);
  UploadFogConstant();
  return result;
}

int SetLightingState(int on) {
  const int result = SendRenderState(D3DRS_LIGHTING, &cache.lighting, on ? 1 : 0);
  UpdateBuiltinShaderSlots();
  return result;
}

int SetAmbientColorState(const float color[4]) {
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return 0;
  if (Unchanged(std::memcmp(cache.ambient, color, sizeof cache.ambient) == 0)) return 0;
  // A component outside 0-1 would spill into its neighbour: each is clamped to one byte.
  auto toByte = [](float value) -> DWORD {
    if (!(value > 0.0f)) return 0;
    if (value >= 1.0f) return 255;
    return static_cast<DWORD>(value * 255.0f);
  };
  DWORD argb =
      D3DCOLOR_ARGB(toByte(color[3]), toByte(color[0]), toByte(color[1]), toByte(color[2]));
  FlushVertexBatch();
  if (FAILED(device->SetRenderState(D3DRS_AMBIENT, argb))) return -1;
  std::memcpy(cache.ambient, color, sizeof cache.ambient);
  return 0;
}

int SetMaterialState(const D3DMATERIAL9* material) {
  IDirect3DDevice9* device = Device();
  if (device == nullptr || material == nullptr) return 0;
  if (Unchanged(std::memcmp(&cache.material, material, sizeof(D3DMATERIAL9)) == 0)) return 0;
  FlushVertexBatch();
  if (FAILED(device->SetMaterial(material))) return -1;
  cache.material = *material;
  return 0;
}

int SetLightRecord(int index, const D3DLIGHT9* light) {
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return 0;
  if (index < 0 || index >= kDeviceLightCount || light == nullptr) return -1;
  if (Unchanged(cache.lightUsed[index] &&
                std::memcmp(&cache.lights[index], light, sizeof(D3DLIGHT9)) == 0))
    return 0;
  FlushVertexBatch();
  if (FAILED(device->SetLight(static_cast<DWORD>(index), light))) return -1;
  cache.lights[index] = *light;
  cache.lightUsed[index] = 1;
  if (ShadersOn()) UploadLightViewConstants(index);
  UpdateBuiltinShaderSlots();
  return 0;
}

int SetLightEnableState(int index, int on) {
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return 0;
  if (index < 0 || index >= kDeviceLightCount) return -1;
  int32_t flag = on ? 1 : 0;
  if (Unchanged(cache.lightEnabled[index] == flag)) return 0;
  FlushVertexBatch();
  if (FAILED(device->LightEnable(static_cast<DWORD>(index), flag))) return -1;
  cache.lightEnabled[index] = flag;
  UpdateBuiltinShaderSlots();
  return 0;
}

int SetLightAndEnable(int index, int on, const D3DLIGHT9* light) {
  int result = 0;
  if (on == 1 && SetLightRecord(index, light) == -1) result = -1;
  if (SetLightEnableState(index, on) == -1) result = -1;
  return result;
}

namespace {

int SendTransform(D3DTRANSFORMSTATETYPE state, const Matrix4* matrix) {
  IDirect3DDevice9* device = Device();
  if (device == nullptr || matrix == nullptr) return 0;
  FlushVertexBatch();
  D3DMATRIX m = ToD3DMatrix(matrix);
  return FAILED(device->SetTransform(state, &m)) ? -1 : 0;
}

}  // namespace

int SetDeviceWorldTransform(const Matrix4* matrix) { return SendTransform(D3DTS_WORLD, matrix); }

int SetViewTransform(const Matrix4* matrix) {
  const int result = SendTransform(D3DTS_VIEW, matrix);
  if (matrix != nullptr && Device() != nullptr && ShadersOn()) {
    lastView = *matrix;
    UploadTransposed(matrix, 6);
    for (int light = 0; light < kDeviceLightCount; ++light) UploadLightViewConstants(light);
  }
  return result;
}

int SetProjectionTransform(const Matrix4* matrix) {
  const int result = SendTransform(D3DTS_PROJECTION, matrix);
  if (matrix != nullptr && Device() != nullptr && ShadersOn()) UploadTransposed(matrix, 2);
  return result;
}

int ResetTexCoordIndices() {
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return 0;
  int result = 0;
  for (int s = 0; s < kDeviceStageCount; ++s) {
    if (SetStageStateCached(s, D3DTSS_TEXCOORDINDEX, cache.texCoordIndex, static_cast<DWORD>(s)) ==
        -1)
      result = -1;
  }
  return result;
}

int SetDeviceViewport(const D3DVIEWPORT9* viewport) {
  IDirect3DDevice9* device = Device();
  if (device == nullptr || viewport == nullptr) return 0;
  const D3DVIEWPORT9& old = cache.viewport;
  if (Unchanged(old.X == viewport->X && old.Y == viewport->Y && old.Width == viewport->Width &&
                old.Height == viewport->Height))
    return 0;
  FlushVertexBatch();
  EndDeviceScene();
  HRESULT result = device->SetViewport(viewport);
  if (FAILED(result)) {
    LogPrintf("ビューポートのセットに失敗しました ErrorCode %x", static_cast<unsigned>(result));
    return -1;
  }
  cache.viewport = *viewport;
  return 0;
}

int SetDeviceViewportFromRect(const RECT* rect) {
  if (rect == nullptr) return 0;
  D3DVIEWPORT9 viewport{static_cast<DWORD>(rect->left),
                        static_cast<DWORD>(rect->top),
                        static_cast<DWORD>(rect->right - rect->left),
                        static_cast<DWORD>(rect->bottom - rect->top),
                        0.0f,
                        1.0f};
  return SetDeviceViewport(&viewport);
}

int SetDeviceScissorRect(const RECT* rect) {
  IDirect3DDevice9* device = Device();
  if (device == nullptr || rect == nullptr) return 0;
  const RECT& old = cache.scissorRect;
  if (Unchanged(old.left == rect->left && old.top == rect->top && old.right == rect->right &&
                old.bottom == rect->bottom))
    return 0;
  FlushVertexBatch();
  EndDeviceScene();
  if (FAILED(device->SetScissorRect(rect))) return -1;
  cache.scissorRect = *rect;
  return 0;
}

// Shader constants reach the device only with programmable shaders in use; the engine set's
// mirrors are kept all the same.
int UploadVertexShaderConstants(int count, int firstRegister, const float* data) {
  if (data == nullptr || firstRegister < 0 || count < 0 ||
      firstRegister + count > kVertexShaderConstantCount)
    return -1;
  std::memcpy(cache.vertexShaderConstants[firstRegister], data,
              static_cast<size_t>(count) * 4 * sizeof(float));
  if (!ShadersOn() || Device() == nullptr || count == 0) return 0;
  SwitchShaderConstantSet(0);
  return FAILED(Device()->SetVertexShaderConstantF(static_cast<UINT>(firstRegister), data,
                                                   static_cast<UINT>(count)))
             ? -1
             : 0;
}

int UploadPixelShaderConstants(int count, int firstRegister, const float* data) {
  if (data == nullptr || firstRegister < 0 || count < 0 ||
      firstRegister + count > kPixelShaderConstantCount)
    return -1;
  std::memcpy(cache.pixelShaderConstants[firstRegister], data,
              static_cast<size_t>(count) * 4 * sizeof(float));
  if (!ShadersOn() || Device() == nullptr || count == 0) return 0;
  SwitchShaderConstantSet(0);
  return FAILED(Device()->SetPixelShaderConstantF(static_cast<UINT>(firstRegister), data,
                                                  static_cast<UINT>(count)))
             ? -1
             : 0;
}

int ApplyUserStageSetup(const BlendRenderProgram* program, int graphTextures) {
  cache.draw.userProgram = program;
  cache.draw.userGraphTextures = graphTextures;
  if (program == nullptr) return 0;
  cache.draw.textureChanged = 1;
  cache.draw.blendChanged = 1;
  return ApplyBlendState(graphTextures, program, 1);
}

int ApplyBlendStageNow(const BlendRenderProgram* program, int graphTextures, int userFlag) {
  FlushVertexBatch();
  int result = ApplyBlendState(graphTextures, program, userFlag);
  cache.draw.textureChanged = 1;
  cache.draw.blendChanged = 1;
  return result;
}

int SetRenderStateCached(D3DRENDERSTATETYPE state, int32_t* mirror, DWORD value) {
  return SendRenderState(state, mirror, static_cast<int32_t>(value));
}

int SetStageTextureState(int stage, IDirect3DBaseTexture9* texture) {
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return 0;
  if (stage < 0 || stage >= kDeviceStageCount) return -1;
  if (Unchanged(cache.stageTexture[stage] == texture)) return 0;
  FlushVertexBatch();
  if (FAILED(device->SetTexture(static_cast<DWORD>(stage), texture))) return -1;
  cache.stageTexture[stage] = texture;
  return 0;
}

int SetStageStateCached(int stage, D3DTEXTURESTAGESTATETYPE type, int32_t* mirror, DWORD value) {
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return 0;
  if (stage < 0 || stage >= kDeviceStageCount) return -1;
  if (Unchanged(mirror[stage] == static_cast<int32_t>(value))) return 0;
  FlushVertexBatch();
  if (FAILED(device->SetTextureStageState(static_cast<DWORD>(stage), type, value))) return -1;
  mirror[stage] = static_cast<int32_t>(value);
  return 0;
}

int SetFVFState(DWORD fvf) {
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return 0;
  if (Unchanged(cache.fvf == fvf)) return 0;
  FlushVertexBatch();
  if (FAILED(device->SetFVF(fvf))) return -1;
  cache.fvf = fvf;
  return 0;
}

int ResetDeviceStateCache() {
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return -1;
  FlushVertexBatch();
  const DrawSettings* settings = GetDrawSettings();
  device->SetSamplerState(0, D3DSAMP_ADDRESSU, static_cast<DWORD>(settings->textureAddressU[0]));
  device->SetSamplerState(0, D3DSAMP_ADDRESSV, static_cast<DWORD>(settings->textureAddressV[0]));
  cache.addressU[0] = settings->textureAddressU[0];
  cache.addressV[0] = settings->textureAddressV[0];
  // Stage 0's combiners are unknown now: the next blend application sends them again.
  cache.colorOp[0] = -1;
  cache.alphaOp[0] = -1;
  cache.texCoordIndex[0] = -1;
  MarkBlendStateChanged();
  device->SetRenderState(D3DRS_SHADEMODE, static_cast<DWORD>(cache.shadeMode));
  device->SetRenderState(D3DRS_LIGHTING, static_cast<DWORD>(cache.lighting));
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  cache.cullMode = 0;
  device->SetRenderState(D3DRS_DITHERENABLE, FALSE);
  if (ShadersOn()) {
    static constexpr float kVertexZero[4] = {0.0f, 1.0f, 0.0f, 0.0f};
    static constexpr float kPixelZero[4] = {0.0f, 0.5f, 1.0f, 2.0f};
    UploadVertexShaderConstants(1, 0, kVertexZero);
    UploadPixelShaderConstants(1, 0, kPixelZero);
  }
  if (cache.vertexShader != nullptr) device->SetVertexShader(nullptr);
  if (cache.pixelShader != nullptr) device->SetPixelShader(nullptr);
  cache.vertexShader = nullptr;
  cache.pixelShader = nullptr;
  cache.declaration = nullptr;
  return 0;
}

int ReapplyDeviceState() {
  if (Device() == nullptr) return -1;
  cache.forceResend = 1;
  D3DVIEWPORT9 viewport = cache.viewport;
  SetDeviceViewport(&viewport);
  RECT scissor = cache.scissorRect;
  if (scissor.right > scissor.left && scissor.bottom > scissor.top) SetDeviceScissorRect(&scissor);
  ResetDeviceStateCache();
  ApplyTextureFilterMode(cache.filterMode);
  ApplyBlendState(0, nullptr, 0);
  SetZEnableState(cache.zEnable);
  SetZWriteEnableState(cache.zWriteEnable);
  SetZFuncState(cache.zFunc);
  SetDepthBiasState(cache.depthBias);
  SetFillModeState(cache.fillMode);
  SetCullModeState(cache.cullMode);
  SetShadeModeState(cache.shadeMode);
  float ambient[4];
  std::memcpy(ambient, cache.ambient, sizeof ambient);
  SetAmbientColorState(ambient);
  SetSpecularEnableState(cache.specularEnable);
  if (cache.diffuseMaterialSource != 255)
    SetDiffuseMaterialSourceState(cache.diffuseMaterialSource);
  if (cache.specularMaterialSource != 255)
    SetSpecularMaterialSourceState(cache.specularMaterialSource);
  cache.forceResend = 0;
  return 0;
}

int DrawIndexedGrid(const void* vertices, int columns, int rows) {
  if (columns < 2 || rows < 2 || vertices == nullptr) return -1;
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return -1;
  // Queued vertices of earlier draws go first, so the draw order holds.
  FlushVertexBatch();
  if (SetFVFState(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1) == -1) return -1;
  constexpr int kIndexLimit = 1000;
  const int vertexCount = columns * rows;
  std::vector<uint16_t> strip;
  strip.reserve(kIndexLimit + 2 * static_cast<size_t>(columns) + 2);
  int result = 0;
  auto draw = [&]() {
    if (strip.size() < 3) return;
    if (FAILED(device->DrawIndexedPrimitiveUP(
            D3DPT_TRIANGLESTRIP, 0, static_cast<UINT>(vertexCount),
            static_cast<UINT>(strip.size() - 2), strip.data(), D3DFMT_INDEX16, vertices, 28)))
      result = -1;
    strip.clear();
  };
  for (int row = 0; row + 1 < rows; ++row) {
    size_t pairLength = 2 * static_cast<size_t>(columns);
    if (!strip.empty() && strip.size() + 2 + pairLength > kIndexLimit) draw();
    uint16_t first = static_cast<uint16_t>(row * columns);
    if (!strip.empty()) {
      // Two repeated indices join the pairs of rows with triangles of no area.
      strip.push_back(strip.back());
      strip.push_back(first);
    }
    for (int column = 0; column < columns; ++column) {
      strip.push_back(static_cast<uint16_t>(row * columns + column));
      strip.push_back(static_cast<uint16_t>((row + 1) * columns + column));
    }
  }
  draw();
  return result;
}

HRESULT CreateVertexBufferRaw(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                              IDirect3DVertexBuffer9** buffer) {
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return D3DERR_INVALIDCALL;
  return device->CreateVertexBuffer(length, usage, fvf, pool, buffer, nullptr);
}

HRESULT CreateIndexBufferRaw(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                             IDirect3DIndexBuffer9** buffer) {
  IDirect3DDevice9* device = Device();
  if (device == nullptr) return D3DERR_INVALIDCALL;
  return device->CreateIndexBuffer(length, usage, format, pool, buffer, nullptr);
}
