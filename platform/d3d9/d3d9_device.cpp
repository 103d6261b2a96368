// The CPU device: its life (children, leak report, loss), its state stores with Direct3D 9's
// defaults and validation, and the creation of its resources.
#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "platform/d3d9/d3d9_internal.h"
#include "platform/d3d9/d3d9_pixels.h"
#include "platform/win32/user.h"

namespace {

DWORD FloatBits(float value) { return std::bit_cast<DWORD>(value); }

D3DMATRIX Identity() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

// Larger surfaces than any Direct3D 9 card offered are refused rather than allocated.
constexpr UINT MaxSurfaceSize = 16384;

// A resource the memory cannot hold gets the driver's out-of-memory answer.
template <class Make>
HRESULT MakeResource(Make make) {
  try {
    make();
    return D3D_OK;
  } catch (const std::bad_alloc&) {
    return D3DERR_OUTOFVIDEOMEMORY;
  }
}

constexpr UINT VertexFloatRegisters = 256;
constexpr UINT PixelFloatRegisters = 224;
constexpr UINT IntRegisters = 16;
constexpr UINT BoolRegisters = 16;

template <class T>
HRESULT StoreConstants(std::vector<T>& store, UINT registerCount, UINT width, UINT start,
                       const T* data, UINT count) {
  if (!data || start > registerCount || count > registerCount - start) return D3DERR_INVALIDCALL;
  std::copy(data, data + static_cast<std::size_t>(count) * width,
            store.begin() + static_cast<std::size_t>(start) * width);
  CountD3D9Call(D3D9Counter::SetShaderConstant);
  return D3D_OK;
}

// A shader's byte code runs from its version token to the end token.
bool ReadShaderCode(const DWORD* function, DWORD kindBits, DWORD reportedVersion,
                    std::vector<DWORD>* code) {
  if (!function || (function[0] & 0xFFFF0000u) != kindBits) return false;
  if ((function[0] & 0xFFFF) > (reportedVersion & 0xFFFF)) return false;
  constexpr std::size_t MaxTokens = 1 << 20;
  for (std::size_t i = 1; i < MaxTokens; ++i) {
    if (function[i] == 0x0000FFFFu) {
      code->assign(function, function + i + 1);
      return true;
    }
  }
  return false;
}

}  // namespace

CpuDevice::CpuDevice(HWND focus, DWORD behavior, const D3DPRESENT_PARAMETERS& presentParameters,
                     bool ex)
    : focusWindow(focus), behaviorFlags(behavior), parameters(presentParameters), isEx(ex) {
  TrackD3D9Object(D3D9ObjectKind::Device, 1);
  CountD3D9DeviceCreation();
  RegisterD3D9Device(this, true);
  auto* backBuffer = new CpuSurface(
      this, SurfaceRole::BackBuffer, parameters.BackBufferWidth, parameters.BackBufferHeight,
      parameters.BackBufferFormat, D3DPOOL_DEFAULT, D3DUSAGE_RENDERTARGET,
      (parameters.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) != 0, nullptr);
  swapChain = new CpuSwapChain(this, backBuffer);
  renderTarget = backBuffer;
  renderTarget->AddRef();
  if (parameters.EnableAutoDepthStencil) {
    depthStencil = new CpuSurface(
        this, SurfaceRole::DepthStencil, parameters.BackBufferWidth, parameters.BackBufferHeight,
        parameters.AutoDepthStencilFormat, D3DPOOL_DEFAULT, D3DUSAGE_DEPTHSTENCIL,
        parameters.AutoDepthStencilFormat == D3DFMT_D16_LOCKABLE, nullptr);
  }
  vertexConstantsF.assign(VertexFloatRegisters * 4, 0.0f);
  pixelConstantsF.assign(PixelFloatRegisters * 4, 0.0f);
  vertexConstantsI.assign(IntRegisters * 4, 0);
  pixelConstantsI.assign(IntRegisters * 4, 0);
  vertexConstantsB.assign(BoolRegisters, FALSE);
  pixelConstantsB.assign(BoolRegisters, FALSE);
  SetDefaultStates();
}

void CpuDevice::SetDefaultStates() {
  std::array<DWORD, D3D9RenderStateCount>& rs = renderStates;
  rs.fill(0);
  rs[D3DRS_ZENABLE] = parameters.EnableAutoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
  rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
  rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
  rs[D3DRS_ZWRITEENABLE] = TRUE;
  rs[D3DRS_LASTPIXEL] = TRUE;
  rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
  rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
  rs[D3DRS_CULLMODE] = D3DCULL_CCW;
  rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
  rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
  rs[D3DRS_FOGSTART] = FloatBits(0.0f);
  rs[D3DRS_FOGEND] = FloatBits(1.0f);
  rs[D3DRS_FOGDENSITY] = FloatBits(1.0f);
  rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
  rs[D3DRS_CLIPPING] = TRUE;
  rs[D3DRS_LIGHTING] = TRUE;
  rs[D3DRS_COLORVERTEX] = TRUE;
  rs[D3DRS_LOCALVIEWER] = TRUE;
  rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
  rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
  rs[D3DRS_POINTSIZE] = FloatBits(1.0f);
  rs[D3DRS_COLORWRITEENABLE] = 0xF;
  rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
  rs[D3DRS_BLENDFACTOR] = 0xFFFFFFFF;
  for (DWORD s = 0; s < D3D9SamplerCount; ++s) {
    auto& ss = samplerStates[s];
    ss.fill(0);
    ss[D3DSAMP_ADDRESSU] = ss[D3DSAMP_ADDRESSV] = ss[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
    ss[D3DSAMP_MAGFILTER] = ss[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
    ss[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
    ss[D3DSAMP_MAXANISOTROPY] = 1;
  }
  for (DWORD s = 0; s < D3D9TextureStageCount; ++s) {
    auto& ts = stageStates[s];
    ts.fill(0);
    ts[D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    ts[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    ts[D3DTSS_COLORARG2] = D3DTA_CURRENT;
    ts[D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    ts[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    ts[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    ts[D3DTSS_TEXCOORDINDEX] = s;
    ts[D3DTSS_COLORARG0] = ts[D3DTSS_ALPHAARG0] = ts[D3DTSS_RESULTARG] = D3DTA_CURRENT;
  }
  world = view = projection = Identity();
  textureMatrices.fill(Identity());
  viewport = {0, 0, parameters.BackBufferWidth, parameters.BackBufferHeight, 0.0f, 1.0f};
  scissor = {0, 0, static_cast<LONG>(parameters.BackBufferWidth),
             static_cast<LONG>(parameters.BackBufferHeight)};
}

CpuDevice::~CpuDevice() {
  for (auto& texture : textures) ReleaseAndClear(texture);
  ReleaseAndClear(vertexShader);
  ReleaseAndClear(pixelShader);
  ReleaseAndClear(renderTarget);
  ReleaseAndClear(depthStencil);
  ReleaseAndClear(swapChain);
  if (!children.empty()) {
    ReportD3D9LeakedObjects(static_cast<int>(children.size()));
    for (DeviceChild* child : children) child->device = nullptr;
    children.clear();
  }
  RegisterD3D9Device(this, false);
  TrackD3D9Object(D3D9ObjectKind::Device, -1);
  if (!parameters.Windowed) ChangeDisplaySettingsA(nullptr, 0);
}

ULONG CpuDevice::Release() { return RefCounted<IDirect3DDevice9Ex>::Release(); }

void CpuDevice::AddChild(DeviceChild* child) { children.push_back(child); }

void CpuDevice::RemoveChild(DeviceChild* child) {
  children.erase(std::remove(children.begin(), children.end(), child), children.end());
}

HRESULT CpuDevice::GetDeviceCaps(D3DCAPS9* caps) {
  if (!caps) return D3DERR_INVALIDCALL;
  FillD3D9Caps(caps);
  return D3D_OK;
}

HRESULT CpuDevice::GetSwapChain(UINT index, IDirect3DSwapChain9** result) {
  if (!result || index != 0 || !swapChain) return D3DERR_INVALIDCALL;
  swapChain->AddRef();
  *result = swapChain;
  return D3D_OK;
}

HRESULT CpuDevice::GetBackBuffer(UINT chain, UINT index, D3DBACKBUFFER_TYPE type,
                                 IDirect3DSurface9** result) {
  if (chain != 0 || !swapChain) return D3DERR_INVALIDCALL;
  return swapChain->GetBackBuffer(index, type, result);
}

HRESULT CpuDevice::SetDialogBoxMode(BOOL) { return D3D_OK; }

HRESULT CpuDevice::SetMaximumFrameLatency(UINT maxLatency) {
  return maxLatency <= 16 ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT CpuDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage,
                                 D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture,
                                 HANDLE*) {
  if (!texture) return D3DERR_INVALIDCALL;
  *texture = nullptr;
  const D3D9Settings& settings = GetD3D9Settings();
  if (width == 0 || height == 0 || width > MaxSurfaceSize || height > MaxSurfaceSize ||
      pool > D3DPOOL_SCRATCH) {
    return D3DERR_INVALIDCALL;
  }
  if ((usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) && pool != D3DPOOL_DEFAULT)
    return D3DERR_INVALIDCALL;
  if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
  if (isEx && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
  if (!IsD3D9TextureFormatSupported(format, usage)) return D3DERR_NOTAVAILABLE;
  if (settings.squareOnly && width != height) return D3DERR_INVALIDCALL;
  if ((settings.maxTextureWidth && width > settings.maxTextureWidth) ||
      (settings.maxTextureHeight && height > settings.maxTextureHeight)) {
    return D3DERR_INVALIDCALL;
  }
  if (GetPixelKind(format) == PixelKind::Compressed && (width % 4 || height % 4))
    return D3DERR_INVALIDCALL;
  UINT chain = 1;
  for (UINT size = std::max(width, height); size > 1; size >>= 1) ++chain;
  if (levels > chain) return D3DERR_INVALIDCALL;
  if (TakeD3D9CallFailure(D3D9Call::CreateTexture)) return D3DERR_OUTOFVIDEOMEMORY;
  return MakeResource(
      [&] { *texture = new CpuTexture(this, width, height, levels, usage, format, pool); });
}

HRESULT CpuDevice::CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels,
                                       DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                       IDirect3DVolumeTexture9** texture, HANDLE*) {
  if (!texture) return D3DERR_INVALIDCALL;
  *texture = nullptr;
  if (width == 0 || height == 0 || depth == 0 || pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
  if (width > 256 || height > 256 || depth > 256) return D3DERR_INVALIDCALL;
  if ((usage & ~D3DUSAGE_DYNAMIC) != 0 || (isEx && pool == D3DPOOL_MANAGED))
    return D3DERR_INVALIDCALL;
  if (GetPixelKind(format) != PixelKind::Color || IsD3D9FormatRefused(format))
    return D3DERR_NOTAVAILABLE;
  if (TakeD3D9CallFailure(D3D9Call::CreateVolumeTexture)) return D3DERR_OUTOFVIDEOMEMORY;
  return MakeResource([&] {
    *texture = new CpuVolumeTexture(this, width, height, depth, levels, usage, format, pool);
  });
}

HRESULT CpuDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                      IDirect3DVertexBuffer9** buffer, HANDLE*) {
  if (!buffer) return D3DERR_INVALIDCALL;
  *buffer = nullptr;
  if (length == 0 || pool > D3DPOOL_SCRATCH || (isEx && pool == D3DPOOL_MANAGED))
    return D3DERR_INVALIDCALL;
  if (TakeD3D9CallFailure(D3D9Call::CreateVertexBuffer)) return D3DERR_OUTOFVIDEOMEMORY;
  return MakeResource([&] { *buffer = new CpuVertexBuffer(this, length, usage, fvf, pool); });
}

HRESULT CpuDevice::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                     IDirect3DIndexBuffer9** buffer, HANDLE*) {
  if (!buffer) return D3DERR_INVALIDCALL;
  *buffer = nullptr;
  if (length == 0 || pool > D3DPOOL_SCRATCH || (isEx && pool == D3DPOOL_MANAGED))
    return D3DERR_INVALIDCALL;
  if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
  if (TakeD3D9CallFailure(D3D9Call::CreateIndexBuffer)) return D3DERR_OUTOFVIDEOMEMORY;
  return MakeResource([&] { *buffer = new CpuIndexBuffer(this, length, usage, format, pool); });
}

HRESULT CpuDevice::CreateRenderTarget(UINT width, UINT height, D3DFORMAT format,
                                      D3DMULTISAMPLE_TYPE multiSample, DWORD, BOOL lockable,
                                      IDirect3DSurface9** surface, HANDLE*) {
  if (!surface) return D3DERR_INVALIDCALL;
  *surface = nullptr;
  if (width == 0 || height == 0 || width > MaxSurfaceSize || height > MaxSurfaceSize)
    return D3DERR_INVALIDCALL;
  if (multiSample != D3DMULTISAMPLE_NONE) return D3DERR_NOTAVAILABLE;
  if (!IsD3D9TextureFormatSupported(format, D3DUSAGE_RENDERTARGET) ||
      GetPixelKind(format) != PixelKind::Color) {
    return D3DERR_NOTAVAILABLE;
  }
  if (TakeD3D9CallFailure(D3D9Call::CreateRenderTarget)) return D3DERR_OUTOFVIDEOMEMORY;
  return MakeResource([&] {
    *surface = new CpuSurface(this, SurfaceRole::RenderTarget, width, height, format,
                              D3DPOOL_DEFAULT, D3DUSAGE_RENDERTARGET, lockable != FALSE, nullptr);
  });
}

HRESULT CpuDevice::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                             D3DMULTISAMPLE_TYPE multiSample, DWORD, BOOL,
                                             IDirect3DSurface9** surface, HANDLE*) {
  if (!surface) return D3DERR_INVALIDCALL;
  *surface = nullptr;
  if (width == 0 || height == 0 || width > MaxSurfaceSize || height > MaxSurfaceSize)
    return D3DERR_INVALIDCALL;
  if (multiSample != D3DMULTISAMPLE_NONE) return D3DERR_NOTAVAILABLE;
  if (GetPixelKind(format) != PixelKind::Depth || IsD3D9FormatRefused(format))
    return D3DERR_NOTAVAILABLE;
  if (TakeD3D9CallFailure(D3D9Call::CreateDepthStencilSurface)) return D3DERR_OUTOFVIDEOMEMORY;
  return MakeResource([&] {
    *surface =
        new CpuSurface(this, SurfaceRole::DepthStencil, width, height, format, D3DPOOL_DEFAULT,
                       D3DUSAGE_DEPTHSTENCIL, format == D3DFMT_D16_LOCKABLE, nullptr);
  });
}

HRESULT CpuDevice::CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format,
                                               D3DPOOL pool, IDirect3DSurface9** surface, HANDLE*) {
  if (!surface) return D3DERR_INVALIDCALL;
  *surface = nullptr;
  if (width == 0 || height == 0 || width > MaxSurfaceSize || height > MaxSurfaceSize ||
      pool == D3DPOOL_MANAGED || pool > D3DPOOL_SCRATCH) {
    return D3DERR_INVALIDCALL;
  }
  // YUV surfaces are refused: the movie code then converts its frames on the CPU.
  if (GetPixelKind(format) != PixelKind::Color || IsD3D9FormatRefused(format))
    return D3DERR_NOTAVAILABLE;
  if (TakeD3D9CallFailure(D3D9Call::CreateOffscreenPlainSurface)) return D3DERR_OUTOFVIDEOMEMORY;
  return MakeResource([&] {
    *surface = new CpuSurface(this, SurfaceRole::OffscreenPlain, width, height, format, pool, 0,
                              true, nullptr);
  });
}

HRESULT CpuDevice::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                           IDirect3DVertexDeclaration9** decl) {
  if (!elements || !decl) return D3DERR_INVALIDCALL;
  *decl = nullptr;
  std::vector<D3DVERTEXELEMENT9> list;
  for (int i = 0;; ++i) {
    if (i > 64) return D3DERR_INVALIDCALL;
    list.push_back(elements[i]);
    if (elements[i].Stream == 0xFF) break;
  }
  *decl = new CpuVertexDeclaration(this, std::move(list));
  return D3D_OK;
}

HRESULT CpuDevice::CreateVertexShader(const DWORD* function, IDirect3DVertexShader9** shader) {
  if (!shader) return D3DERR_INVALIDCALL;
  *shader = nullptr;
  D3DCAPS9 caps;
  FillD3D9Caps(&caps);
  std::vector<DWORD> code;
  if (!ReadShaderCode(function, 0xFFFE0000u, caps.VertexShaderVersion, &code))
    return D3DERR_INVALIDCALL;
  *shader = new CpuVertexShader(this, std::move(code));
  return D3D_OK;
}

HRESULT CpuDevice::CreatePixelShader(const DWORD* function, IDirect3DPixelShader9** shader) {
  if (!shader) return D3DERR_INVALIDCALL;
  *shader = nullptr;
  D3DCAPS9 caps;
  FillD3D9Caps(&caps);
  std::vector<DWORD> code;
  if (!ReadShaderCode(function, 0xFFFF0000u, caps.PixelShaderVersion, &code))
    return D3DERR_INVALIDCALL;
  *shader = new CpuPixelShader(this, std::move(code));
  return D3D_OK;
}

HRESULT CpuDevice::SetRenderTarget(DWORD index, IDirect3DSurface9* surface) {
  CountD3D9Call(D3D9Counter::SetRenderTarget);
  CpuSurface* target = AsCpuSurface(surface);
  if (index != 0 || !target || !target->IsRenderTarget() || target->OwningDevice() != this)
    return D3DERR_INVALIDCALL;
  target->AddRef();
  ReleaseAndClear(renderTarget);
  renderTarget = target;
  // A new render target resets the viewport and the scissor rectangle to its whole area.
  viewport = {0, 0, target->width, target->height, 0.0f, 1.0f};
  scissor = {0, 0, static_cast<LONG>(target->width), static_cast<LONG>(target->height)};
  return D3D_OK;
}

HRESULT CpuDevice::GetRenderTarget(DWORD index, IDirect3DSurface9** surface) {
  if (!surface || index != 0 || !renderTarget) return D3DERR_INVALIDCALL;
  renderTarget->AddRef();
  *surface = renderTarget;
  return D3D_OK;
}

HRESULT CpuDevice::SetDepthStencilSurface(IDirect3DSurface9* surface) {
  CountD3D9Call(D3D9Counter::SetDepthStencilSurface);
  CpuSurface* depth = AsCpuSurface(surface);
  if (surface &&
      (!depth || depth->role != SurfaceRole::DepthStencil || depth->OwningDevice() != this)) {
    return D3DERR_INVALIDCALL;
  }
  if (depth) depth->AddRef();
  ReleaseAndClear(depthStencil);
  depthStencil = depth;
  return D3D_OK;
}

HRESULT CpuDevice::BeginScene() {
  CountD3D9Call(D3D9Counter::BeginScene);
  if (inScene) return D3DERR_INVALIDCALL;
  inScene = true;
  return D3D_OK;
}

HRESULT CpuDevice::EndScene() {
  CountD3D9Call(D3D9Counter::EndScene);
  if (!inScene) return D3DERR_INVALIDCALL;
  inScene = false;
  return D3D_OK;
}

HRESULT CpuDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
  CountD3D9Call(D3D9Counter::SetTransform);
  if (!matrix) return D3DERR_INVALIDCALL;
  if (state == D3DTS_WORLD) {
    world = *matrix;
  } else if (state == D3DTS_VIEW) {
    view = *matrix;
  } else if (state == D3DTS_PROJECTION) {
    projection = *matrix;
  } else if (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7) {
    textureMatrices[state - D3DTS_TEXTURE0] = *matrix;
  } else {
    return D3DERR_INVALIDCALL;
  }
  return D3D_OK;
}

HRESULT CpuDevice::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
  if (!matrix) return D3DERR_INVALIDCALL;
  if (state == D3DTS_WORLD) {
    *matrix = world;
  } else if (state == D3DTS_VIEW) {
    *matrix = view;
  } else if (state == D3DTS_PROJECTION) {
    *matrix = projection;
  } else if (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7) {
    *matrix = textureMatrices[state - D3DTS_TEXTURE0];
  } else {
    return D3DERR_INVALIDCALL;
  }
  return D3D_OK;
}

HRESULT CpuDevice::SetViewport(const D3DVIEWPORT9* newViewport) {
  CountD3D9Call(D3D9Counter::SetViewport);
  if (!newViewport || !renderTarget) return D3DERR_INVALIDCALL;
  const D3DVIEWPORT9& v = *newViewport;
  // The viewport must lie inside the render target, as the runtime checks.
  if (v.Width == 0 || v.Height == 0 || v.X >= renderTarget->width || v.Y >= renderTarget->height ||
      v.Width > renderTarget->width - v.X || v.Height > renderTarget->height - v.Y) {
    return D3DERR_INVALIDCALL;
  }
  if (!(v.MinZ >= 0.0f && v.MaxZ <= 1.0f && v.MinZ <= v.MaxZ)) return D3DERR_INVALIDCALL;
  viewport = v;
  return D3D_OK;
}

HRESULT CpuDevice::GetViewport(D3DVIEWPORT9* result) {
  if (!result) return D3DERR_INVALIDCALL;
  *result = viewport;
  return D3D_OK;
}

HRESULT CpuDevice::SetMaterial(const D3DMATERIAL9* newMaterial) {
  CountD3D9Call(D3D9Counter::SetMaterial);
  if (!newMaterial) return D3DERR_INVALIDCALL;
  material = *newMaterial;
  return D3D_OK;
}

HRESULT CpuDevice::GetMaterial(D3DMATERIAL9* result) {
  if (!result) return D3DERR_INVALIDCALL;
  *result = material;
  return D3D_OK;
}

HRESULT CpuDevice::SetLight(DWORD index, const D3DLIGHT9* light) {
  CountD3D9Call(D3D9Counter::SetLight);
  if (!light || light->Type < D3DLIGHT_POINT || light->Type > D3DLIGHT_DIRECTIONAL)
    return D3DERR_INVALIDCALL;
  lights[index].light = *light;
  return D3D_OK;
}

HRESULT CpuDevice::LightEnable(DWORD index, BOOL enable) {
  CountD3D9Call(D3D9Counter::LightEnable);
  auto found = lights.find(index);
  if (found == lights.end()) {
    // Enabling a light that was never set makes the default white directional light, as the runtime
    // does.
    StoredLight light;
    light.light.Type = D3DLIGHT_DIRECTIONAL;
    light.light.Diffuse = {1.0f, 1.0f, 1.0f, 0.0f};
    light.light.Direction = {0.0f, 0.0f, 1.0f};
    found = lights.emplace(index, light).first;
  }
  found->second.enabled = enable != FALSE;
  return D3D_OK;
}

HRESULT CpuDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
  if (state >= D3D9RenderStateCount) return D3DERR_INVALIDCALL;
  CountD3D9RenderState(state);
  renderStates[state] = value;
  return D3D_OK;
}

HRESULT CpuDevice::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
  if (state >= D3D9RenderStateCount || !value) return D3DERR_INVALIDCALL;
  *value = renderStates[state];
  return D3D_OK;
}

HRESULT CpuDevice::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
  CountD3D9Call(D3D9Counter::SetTexture);
  if (stage >= D3D9SamplerCount) return D3DERR_INVALIDCALL;
  if (texture) texture->AddRef();
  ReleaseAndClear(textures[stage]);
  textures[stage] = texture;
  return D3D_OK;
}

HRESULT CpuDevice::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
  if (stage >= D3D9SamplerCount || !texture) return D3DERR_INVALIDCALL;
  *texture = textures[stage];
  if (*texture) (*texture)->AddRef();
  return D3D_OK;
}

HRESULT CpuDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
  if (stage >= D3D9TextureStageCount || type >= D3D9TextureStageStateCount)
    return D3DERR_INVALIDCALL;
  CountD3D9TextureStageState(stage, type);
  stageStates[stage][type] = value;
  return D3D_OK;
}

HRESULT CpuDevice::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
  if (stage >= D3D9TextureStageCount || type >= D3D9TextureStageStateCount || !value)
    return D3DERR_INVALIDCALL;
  *value = stageStates[stage][type];
  return D3D_OK;
}

HRESULT CpuDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
  if (sampler >= D3D9SamplerCount || type >= D3D9SamplerStateCount) return D3DERR_INVALIDCALL;
  CountD3D9SamplerState(sampler, type);
  samplerStates[sampler][type] = value;
  return D3D_OK;
}

HRESULT CpuDevice::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
  if (sampler >= D3D9SamplerCount || type >= D3D9SamplerStateCount || !value)
    return D3DERR_INVALIDCALL;
  *value = samplerStates[sampler][type];
  return D3D_OK;
}

HRESULT CpuDevice::SetScissorRect(const RECT* rect) {
  CountD3D9Call(D3D9Counter::SetScissorRect);
  if (!rect) return D3DERR_INVALIDCALL;
  scissor = *rect;
  return D3D_OK;
}

HRESULT CpuDevice::SetFVF(DWORD newFvf) {
  CountD3D9Call(D3D9Counter::SetFVF);
  fvf = newFvf;
  return D3D_OK;
}

HRESULT CpuDevice::GetFVF(DWORD* result) {
  if (!result) return D3DERR_INVALIDCALL;
  *result = fvf;
  return D3D_OK;
}

HRESULT CpuDevice::SetVertexShader(IDirect3DVertexShader9* shader) {
  CountD3D9Call(D3D9Counter::SetVertexShader);
  if (shader) shader->AddRef();
  ReleaseAndClear(vertexShader);
  vertexShader = shader;
  return D3D_OK;
}

HRESULT CpuDevice::SetPixelShader(IDirect3DPixelShader9* shader) {
  CountD3D9Call(D3D9Counter::SetPixelShader);
  if (shader) shader->AddRef();
  ReleaseAndClear(pixelShader);
  pixelShader = shader;
  return D3D_OK;
}

HRESULT CpuDevice::SetVertexShaderConstantF(UINT start, const float* data, UINT count) {
  return StoreConstants(vertexConstantsF, VertexFloatRegisters, 4, start, data, count);
}

HRESULT CpuDevice::SetVertexShaderConstantI(UINT start, const int* data, UINT count) {
  return StoreConstants(vertexConstantsI, IntRegisters, 4, start, data, count);
}

HRESULT CpuDevice::SetVertexShaderConstantB(UINT start, const BOOL* data, UINT count) {
  return StoreConstants(vertexConstantsB, BoolRegisters, 1, start, data, count);
}

HRESULT CpuDevice::SetPixelShaderConstantF(UINT start, const float* data, UINT count) {
  return StoreConstants(pixelConstantsF, PixelFloatRegisters, 4, start, data, count);
}

HRESULT CpuDevice::SetPixelShaderConstantI(UINT start, const int* data, UINT count) {
  return StoreConstants(pixelConstantsI, IntRegisters, 4, start, data, count);
}

HRESULT CpuDevice::SetPixelShaderConstantB(UINT start, const BOOL* data, UINT count) {
  return StoreConstants(pixelConstantsB, BoolRegisters, 1, start, data, count);
}
