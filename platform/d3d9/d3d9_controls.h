// Test controls of the CPU Direct3D 9 device: faults to inject, capabilities to change, and what
// the device did (live objects, state changes, the last presented image). The program never
// calls these; every setting holds until D3D9ResetControls.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d9/d3d9.h"

// Calls that D3D9FailNextCalls can make fail (D3DERR_NOTAVAILABLE for Direct3DCreate9's null,
// D3DERR_OUTOFVIDEOMEMORY for creations).
enum class D3D9Call : int {
  Direct3DCreate9,
  CreateDevice,
  CreateDepthStencilSurface,
  CreateTexture,
  CreateRenderTarget,
  CreateOffscreenPlainSurface,
  CreateVolumeTexture,
  CreateVertexBuffer,
  CreateIndexBuffer,
  Count,
};

enum class D3D9ObjectKind : int {
  Direct3D,
  Device,
  SwapChain,
  Surface,  // stand-alone surfaces and back buffers; texture levels belong to their texture
  Texture,
  VolumeTexture,
  VertexBuffer,
  IndexBuffer,
  VertexDeclaration,
  VertexShader,
  PixelShader,
  Count,
};

// Device calls counted for tests (per call, whether or not the value changed).
enum class D3D9Counter : int {
  SetTexture,
  SetTransform,
  SetViewport,
  SetScissorRect,
  SetRenderTarget,
  SetDepthStencilSurface,
  SetFVF,
  SetMaterial,
  SetLight,
  LightEnable,
  SetVertexShader,
  SetPixelShader,
  SetShaderConstant,
  BeginScene,
  EndScene,
  Clear,
  Draw,
  UnsupportedDraw,  // draws that need lighting, fog, depth testing, shaders or lines: nothing drawn
  Present,
  StretchRect,
  SpanTriangle,   // triangles drawn row by row with exact integer texture steps
  SpanRectangle,  // pairs of them drawn as one screen-aligned rectangle of texel runs
  SpriteQuad,     // of those, quads drawn with the shading their draw call chose once
  CoveredPixels,  // pixels inside the triangles drawn, before any test
  Count,
};

// Back to the defaults (no faults, no Ex export, the default capabilities) with all counters 0.
void D3D9ResetControls();
// Every device alive now becomes lost: Present fails with D3DERR_DEVICELOST, draws and Clear do
// nothing, locks of default-pool resources fail. Devices created later are healthy.
void D3D9InjectDeviceLoss();
// The next `count` calls of the kind fail.
void D3D9FailNextCalls(D3D9Call call, int count);
// A refused format fails CheckDeviceFormat, CheckDepthStencilMatch and every creation in it.
void D3D9SetFormatRefused(D3DFORMAT format, bool refused);
// Accepts DXT1-DXT5 textures (stored, not sampled: a draw from one counts as unsupported).
void D3D9SetDxtSupported(bool supported);
// Capability bits taken out of D3DCAPS9::PrimitiveMiscCaps (D3DPMISCCAPS_BLENDOP, _TSSARGTEMP).
void D3D9ClearPrimitiveMiscCaps(DWORD bits);
// Reports (and enforces) D3DPTEXTURECAPS_SQUAREONLY.
void D3D9SetSquareTexturesOnly(bool on);
// The reported maximum texture size (default 2048 x 2048); 0 is reported as 0 and not enforced.
void D3D9SetMaxTextureSize(DWORD width, DWORD height);
// Reports vertex and pixel shader version 2.0 (default: none), so shader objects can be created.
void D3D9SetShaderModel2(bool on);
// Makes "d3d9.dll" export Direct3DCreate9Ex (default off).
void D3D9ExportCreate9Ex(bool on);
// GetRasterStatus never reports a vertical blank.
void D3D9SetNeverVerticalBlank(bool on);
// Off: every triangle takes the per-pixel path, for comparing the two (default on).
void D3D9SetSpanPaths(bool on);

int D3D9GetLiveObjectCount(D3D9ObjectKind kind);
int D3D9GetDeviceCreationCount();
// Devices whose last Release found objects of theirs still alive, and how many the last one found.
int D3D9GetLeakReportCount();
int D3D9GetLastLeakedObjectCount();
// Counts are 64-bit: a game left running draws past 2^31 covered pixels within minutes.
std::int64_t D3D9GetRenderStateSetCount(D3DRENDERSTATETYPE state);
std::int64_t D3D9GetSamplerStateSetCount(DWORD sampler, D3DSAMPLERSTATETYPE type);
std::int64_t D3D9GetTextureStageStateSetCount(DWORD stage, D3DTEXTURESTAGESTATETYPE type);
std::int64_t D3D9GetCallCount(D3D9Counter counter);
// Counters to 0, settings kept.
void D3D9ResetCounters();

// The window's client area as the last successful Present left it: 0xAARRGGBB pixels (alpha
// 0xFF), rows top-down, made when asked. False before the first present.
struct D3D9Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};
bool D3D9GetLastPresentedImage(D3D9Image* image);
// Called after every successful Present, on the presenting thread (null: none). Survives
// D3D9ResetControls.
void D3D9SetPresentObserver(void (*observer)());

// What the device holds, read back for tests (false for a null or foreign object): a vertex or
// index buffer's bytes, a shader's stored byte code, a declaration's elements, a texel of a volume
// texture's top level (0xAARRGGBB of an X8R8G8B8 or A8R8G8B8 volume), and a float shader constant
// register of the device.
bool D3D9ReadBufferBytes(IDirect3DVertexBuffer9* buffer, std::vector<std::uint8_t>* bytes);
bool D3D9ReadBufferBytes(IDirect3DIndexBuffer9* buffer, std::vector<std::uint8_t>* bytes);
bool D3D9ReadShaderCode(IUnknown* shader, std::vector<DWORD>* code);
bool D3D9ReadVertexDeclaration(IDirect3DVertexDeclaration9* declaration,
                               std::vector<D3DVERTEXELEMENT9>* elements);
bool D3D9ReadVolumeTexel(IDirect3DVolumeTexture9* texture, UINT x, UINT y, UINT z, DWORD* texel);
bool D3D9ReadShaderConstantF(IDirect3DDevice9* device, bool pixel, UINT registerIndex,
                             float value[4]);
