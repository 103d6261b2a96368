// The DeviceStateCache: a mirror of every state the engine sets on the Direct3D device. Every
// state change goes through a setter here, which compares with its mirror, flushes the vertex
// batch before it calls the device (queued vertices keep the state they were queued under) and
// stores the mirror only when the device accepted the value. Force-resend makes every setter
// send regardless of its mirror while a new device is brought into the cached state.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"
#include "system/math.h"

constexpr int kDeviceStageCount = 8;
constexpr int kDeviceLightCount = 256;
constexpr int kVertexShaderConstantCount = 256;
constexpr int kPixelShaderConstantCount = 32;
// 16-bit value of a stage program that leaves the device's value alone.
constexpr uint16_t kStageValueKeep = 0xFFFF;

// One texture stage of a render program: the texture (or, in a caller's program, a graph
// handle turned into its first texture), the coordinate set, the result register and the
// alpha and colour combiners.
struct BlendStageSetup {
  IDirect3DBaseTexture9* texture;
  int32_t graph;  // -1 when `texture` is used
  int32_t texCoordIndex;
  int32_t resultArg;  // D3DTA_CURRENT or D3DTA_TEMP
  uint16_t alphaArg1;
  uint16_t alphaArg2;
  uint16_t alphaOp;
  uint16_t colorArg1;
  uint16_t colorArg2;
  uint16_t colorOp;
};

// The render program of one blend application.
struct BlendRenderProgram {
  int32_t alphaTestEnable;
  int32_t alphaRef;
  int32_t alphaFunc;
  int32_t alphaBlendEnable;
  uint32_t textureFactor;  // 0xAARRGGBB
  int32_t srcBlend;        // -1 keeps the device's value
  int32_t destBlend;
  int32_t blendOp;
  int32_t stageCount;
  BlendStageSetup stages[kDeviceStageCount];
};

// What the next draw asks of the blend application: recorded by the draw paths (PrepareDrawState)
// through the setters below, consumed by ApplyBlendState.
struct DrawSetupState {
  IDirect3DBaseTexture9* drawTexture;   // stage-0 texture of the draw, null when untextured
  IDirect3DBaseTexture9* blendTexture;  // first tile of the blend graph, or null
  int32_t blendBorderParam;
  int32_t blendBorderRange;
  int32_t blendMode;   // 0-14
  int32_t alphaBlend;  // the image has an alpha channel to blend with
  int32_t alphaTest;   // the image uses the alpha test (transparent colour)
  int32_t coloured;    // the vertex colour modulates the texture
  int32_t blended;     // the vertex alpha modulates the texture alpha
  int32_t textureChanged;
  int32_t blendChanged;
  // Results of the last application, read by the vertex batch.
  int32_t vertexType;    // 0 untextured, 1 textured, 2 textured with blend texture
  int32_t drawsNothing;  // FlushVertexBatch drops the batch
  int32_t stageCount;    // stages of the last program on the device
  // A caller's own program (masks, models), applied instead of the built one.
  const BlendRenderProgram* userProgram;
  int32_t userGraphTextures;
};

struct DeviceStateCache {
  int32_t forceResend;

  // Render states.
  int32_t zEnable;
  int32_t zWriteEnable;
  int32_t zFunc;
  int32_t depthBias;
  int32_t fillMode;
  int32_t shadeMode;
  int32_t cullMode;  // engine code 0-2
  int32_t specularEnable;
  int32_t diffuseMaterialSource;   // 255 until first set
  int32_t specularMaterialSource;  // 255 until first set
  int32_t lighting;
  int32_t fogEnable;
  int32_t fogMode;
  uint32_t fogColor;
  float fogStart;
  float fogEnd;
  float fogDensity;
  float ambient[4];
  int32_t alphaTestEnable;
  int32_t alphaRef;
  int32_t alphaFunc;
  int32_t alphaBlendEnable;
  uint32_t textureFactor;
  int32_t srcBlend;
  int32_t destBlend;
  int32_t blendOp;

  // Sampler states per stage.
  int32_t addressU[kDeviceStageCount];
  int32_t addressV[kDeviceStageCount];
  int32_t addressW[kDeviceStageCount];
  int32_t magFilter[kDeviceStageCount];
  int32_t minFilter[kDeviceStageCount];
  int32_t mipFilter[kDeviceStageCount];
  int32_t maxAnisotropy[kDeviceStageCount];
  int32_t filterMode;  // 0 point, 1 linear, 2 anisotropic
  int32_t maxAnisotropySetting;

  // Texture-stage states.
  IDirect3DBaseTexture9* stageTexture[kDeviceStageCount];
  int32_t texCoordIndex[kDeviceStageCount];
  int32_t resultArg[kDeviceStageCount];
  int32_t textureTransformFlags[kDeviceStageCount];
  Matrix4 textureTransform[kDeviceStageCount];
  int32_t colorOp[kDeviceStageCount];
  int32_t colorArg1[kDeviceStageCount];
  int32_t colorArg2[kDeviceStageCount];
  int32_t alphaOp[kDeviceStageCount];
  int32_t alphaArg1[kDeviceStageCount];
  int32_t alphaArg2[kDeviceStageCount];

  DrawSetupState draw;

  // Pipeline words cleared at device creation.
  DWORD fvf;
  IDirect3DVertexDeclaration9* declaration;
  IDirect3DVertexShader9* vertexShader;
  IDirect3DPixelShader9* pixelShader;
  int32_t lastDrawSetup[2];

  IDirect3DSurface9* renderTarget;
  D3DVIEWPORT9 viewport;
  RECT scissorRect;

  D3DMATERIAL9 material;
  int32_t lightUsed[kDeviceLightCount];
  int32_t lightEnabled[kDeviceLightCount];
  D3DLIGHT9 lights[kDeviceLightCount];

  float vertexShaderConstants[kVertexShaderConstantCount][4];
  float pixelShaderConstants[kPixelShaderConstantCount][4];
  int32_t userConstantSetOn;
};

DeviceStateCache& GetDeviceStateCache();
// Every mirror to its initial value (the material sources to 255); force-resend off.
void ClearDeviceStateCache();
int SetForceResend(int on);

// Each setter: 0 when nothing was sent or the device accepted it, -1 when the device call failed
// (or, where noted, without a device).
int ApplyTextureFilterMode(int mode);  // -1 for a mode outside 0-2
int SetMaxAnisotropy(int count);
int SetBlendModeRecord(int mode, int alphaBlend, int alphaTest);
int SetBlendParamRecord(int coloured, int blended);
int SetZEnableState(int value);
int ApplyZEnableState(int value);
int SetZWriteEnableState(int value);
int SetZFuncState(int function);
int SetDepthBiasState(int value);
int SetFillModeState(int mode);
int SetShadeModeState(int mode);
int SetSpecularEnableState(int on);
int SetDrawTextureState(IDirect3DBaseTexture9* texture);
int SetBlendTextureState(IDirect3DBaseTexture9* texture, int borderParam, int borderRange);
int SetDiffuseMaterialSourceState(int fromVertex);
int SetSpecularMaterialSourceState(int fromVertex);
int SetCullModeState(int mode);
int SetTextureAddressState(int mode, int stage);  // stage -1: all; above 7: -1
int SetTextureAddressUState(int mode, int stage);
int SetTextureAddressVState(int mode, int stage);
int SetTextureAddressWState(int mode, int stage);
int SetTextureTransformState(int stage, int on, const Matrix4* matrix);
int SetFogEnableState(int on);
int SetFogModeState(int mode);
int SetFogColorState(uint32_t color);
int SetFogStartEndState(float start, float end);
int SetFogDensityState(float density);
int SetLightingState(int on);
int SetAmbientColorState(const float color[4]);
int SetMaterialState(const D3DMATERIAL9* material);
int SetLightRecord(int index, const D3DLIGHT9* light);
int SetLightEnableState(int index, int on);
int SetLightAndEnable(int index, int on, const D3DLIGHT9* light);
int SetDeviceWorldTransform(const Matrix4* matrix);
int SetViewTransform(const Matrix4* matrix);
int SetProjectionTransform(const Matrix4* matrix);
int ResetTexCoordIndices();
int SetDeviceViewport(const D3DVIEWPORT9* viewport);
int SetDeviceViewportFromRect(const RECT* rect);
int SetDeviceScissorRect(const RECT* rect);
int UploadVertexShaderConstants(int count, int firstRegister, const float* data);
int UploadPixelShaderConstants(int count, int firstRegister, const float* data);
int ApplyUserStageSetup(const BlendRenderProgram* program, int graphTextures);
int ApplyBlendStageNow(const BlendRenderProgram* program, int graphTextures, int userFlag);
// The blend application's own states (alpha test, blending, texture factor, stage combiners).
int SetRenderStateCached(D3DRENDERSTATETYPE state, int32_t* mirror, DWORD value);
int SetStageTextureState(int stage, IDirect3DBaseTexture9* texture);
int SetStageStateCached(int stage, D3DTEXTURESTAGESTATETYPE type, int32_t* mirror, DWORD value);
int SetFVFState(DWORD fvf);

int ResetDeviceStateCache();
int ReapplyDeviceState();
// Draws a grid of columns x rows pre-transformed textured vertices (28 bytes each) as triangle
// strips; -1 when either side is below 2.
int DrawIndexedGrid(const void* vertices, int columns, int rows);
HRESULT CreateVertexBufferRaw(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                              IDirect3DVertexBuffer9** buffer);
HRESULT CreateIndexBufferRaw(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                             IDirect3DIndexBuffer9** buffer);
