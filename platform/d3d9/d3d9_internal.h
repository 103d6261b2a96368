// The CPU device's objects and the helpers its source files share. Nothing outside
// platform/d3d9/ includes this header.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_controls.h"

class CpuDevice;
class CpuTexture;

// Settings that the controls change and the Direct3D object and devices read.
struct D3D9Settings {
  DWORD primitiveMiscCaps;
  DWORD maxTextureWidth;
  DWORD maxTextureHeight;
  bool squareOnly;
  bool shaderModel2;
  bool dxtSupported;
  bool neverVerticalBlank;
  bool exportCreate9Ex;
  bool spanPaths;
};
const D3D9Settings& GetD3D9Settings();
inline bool SpanPathsEnabled() { return GetD3D9Settings().spanPaths; }
bool IsD3D9FormatRefused(D3DFORMAT format);
// True when the next call of the kind is to fail (and counts the failure off).
bool TakeD3D9CallFailure(D3D9Call call);
void CountD3D9Call(D3D9Counter counter, std::int64_t count = 1);
void CountD3D9RenderState(DWORD state);
void CountD3D9SamplerState(DWORD sampler, DWORD type);
void CountD3D9TextureStageState(DWORD stage, DWORD type);
void TrackD3D9Object(D3D9ObjectKind kind, int delta);
void CountD3D9DeviceCreation();
void ReportD3D9LeakedObjects(int count);
// After each successful present: the window that shows it, for the read-back, and the observer.
void RecordD3D9Present(HWND window);
// Every device alive registers itself, so a loss can be injected into all of them.
void RegisterD3D9Device(CpuDevice* device, bool alive);
void RegisterD3D9Module();

// What a texture format and usage are allowed to be by the current capabilities.
bool IsD3D9TextureFormatSupported(D3DFORMAT format, DWORD usage);
void FillD3D9Caps(D3DCAPS9* caps);

// Objects made by a device register with it; a device released while some are alive reports
// them and leaves them detached (their device pointer becomes null).
class DeviceChild {
 public:
  DeviceChild(CpuDevice* device, D3D9ObjectKind kind);
  virtual ~DeviceChild();
  DeviceChild(const DeviceChild&) = delete;
  DeviceChild& operator=(const DeviceChild&) = delete;
  CpuDevice* device;
  D3D9ObjectKind kind;
  bool tracked;
};

template <class Interface>
class RefCounted : public Interface {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown) {
      *object = static_cast<IUnknown*>(this);
      this->AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override {
    ULONG left = --references;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ULONG references = 1;
};

enum class SurfaceRole { BackBuffer, RenderTarget, OffscreenPlain, DepthStencil, TextureLevel };

class CpuSurface final : public RefCounted<IDirect3DSurface9>, public DeviceChild {
 public:
  CpuSurface(CpuDevice* device, SurfaceRole role, UINT width, UINT height, D3DFORMAT format,
             D3DPOOL pool, DWORD usage, bool lockable, CpuTexture* container);
  ~CpuSurface() override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
  HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
  HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
  HRESULT UnlockRect() override;

  CpuDevice* OwningDevice() const;
  bool IsRenderTarget() const { return (usage & D3DUSAGE_RENDERTARGET) != 0; }
  std::uint8_t* Row(int y) { return bits.data() + static_cast<std::size_t>(y) * pitch; }
  const std::uint8_t* Row(int y) const { return bits.data() + static_cast<std::size_t>(y) * pitch; }
  std::uint8_t* Pixel(int x, int y) { return Row(y) + x * bytesPerPixel; }

  SurfaceRole role;
  UINT width;
  UINT height;
  D3DFORMAT format;
  D3DPOOL pool;
  DWORD usage;
  bool lockable;
  bool locked = false;
  int pitch;
  int bytesPerPixel;
  std::vector<std::uint8_t> bits;
  CpuTexture* container;  // the texture a level belongs to; its reference count is the level's
};

class CpuTexture final : public RefCounted<IDirect3DTexture9>, public DeviceChild {
 public:
  CpuTexture(CpuDevice* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
             D3DPOOL pool);
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
  DWORD GetLevelCount() override { return static_cast<DWORD>(levels.size()); }
  HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
  HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override;
  HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
  HRESULT UnlockRect(UINT level) override;

  D3DFORMAT format;
  D3DPOOL pool;
  DWORD usage;
  std::vector<std::unique_ptr<CpuSurface>> levels;
};

struct VolumeLevel {
  UINT width, height, depth;
  int rowPitch, slicePitch;
  std::vector<std::uint8_t> bits;
  bool locked = false;
};

class CpuVolumeTexture final : public RefCounted<IDirect3DVolumeTexture9>, public DeviceChild {
 public:
  CpuVolumeTexture(CpuDevice* device, UINT width, UINT height, UINT depth, UINT levels, DWORD usage,
                   D3DFORMAT format, D3DPOOL pool);
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  D3DRESOURCETYPE GetType() override { return D3DRTYPE_VOLUMETEXTURE; }
  DWORD GetLevelCount() override { return static_cast<DWORD>(levels.size()); }
  HRESULT LockBox(UINT level, D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags) override;
  HRESULT UnlockBox(UINT level) override;

  D3DFORMAT format;
  D3DPOOL pool;
  DWORD usage;
  std::vector<VolumeLevel> levels;
};

template <class Interface, D3D9ObjectKind Kind, D3DRESOURCETYPE Type>
class CpuBuffer final : public RefCounted<Interface>, public DeviceChild {
 public:
  CpuBuffer(CpuDevice* device, UINT length, DWORD usage, DWORD layout, D3DPOOL pool)
      : DeviceChild(device, Kind), usage(usage), layout(layout), pool(pool), bytes(length) {}
  HRESULT GetDevice(IDirect3DDevice9** result) override;
  D3DRESOURCETYPE GetType() override { return Type; }
  HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
  HRESULT Unlock() override {
    if (!locked) return D3DERR_INVALIDCALL;
    locked = false;
    return D3D_OK;
  }
  DWORD usage;
  DWORD layout;  // the FVF of a vertex buffer, the index format of an index buffer
  D3DPOOL pool;
  bool locked = false;
  std::vector<std::uint8_t> bytes;
};
using CpuVertexBuffer =
    CpuBuffer<IDirect3DVertexBuffer9, D3D9ObjectKind::VertexBuffer, D3DRTYPE_VERTEXBUFFER>;
using CpuIndexBuffer =
    CpuBuffer<IDirect3DIndexBuffer9, D3D9ObjectKind::IndexBuffer, D3DRTYPE_INDEXBUFFER>;

// Declarations and shaders are kept as the engine made them; nothing executes them.
class CpuVertexDeclaration final : public RefCounted<IDirect3DVertexDeclaration9>,
                                   public DeviceChild {
 public:
  CpuVertexDeclaration(CpuDevice* device, std::vector<D3DVERTEXELEMENT9> elements)
      : DeviceChild(device, D3D9ObjectKind::VertexDeclaration), elements(std::move(elements)) {}
  std::vector<D3DVERTEXELEMENT9> elements;
};

template <class Interface, D3D9ObjectKind Kind>
class CpuShader final : public RefCounted<Interface>, public DeviceChild {
 public:
  CpuShader(CpuDevice* device, std::vector<DWORD> code)
      : DeviceChild(device, Kind), code(std::move(code)) {}
  std::vector<DWORD> code;
};
using CpuVertexShader = CpuShader<IDirect3DVertexShader9, D3D9ObjectKind::VertexShader>;
using CpuPixelShader = CpuShader<IDirect3DPixelShader9, D3D9ObjectKind::PixelShader>;

class CpuSwapChain final : public RefCounted<IDirect3DSwapChain9>, public DeviceChild {
 public:
  CpuSwapChain(CpuDevice* device, CpuSurface* backBuffer);
  ~CpuSwapChain() override;
  HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindow,
                  const RGNDATA* dirtyRegion, DWORD flags) override;
  HRESULT GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type,
                        IDirect3DSurface9** backBuffer) override;
  HRESULT GetRasterStatus(D3DRASTER_STATUS* status) override;

  CpuSurface* backBuffer;
  std::uint64_t lastRasterTime = ~0ull;
  int rasterStepsWithoutTime = 0;
};

// The device's light and shader-constant stores: kept for read-back, never used to draw.
struct StoredLight {
  D3DLIGHT9 light{};
  bool enabled = false;
};

class CpuDevice final : public RefCounted<IDirect3DDevice9Ex> {
 public:
  CpuDevice(HWND focusWindow, DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& parameters,
            bool isEx);
  ~CpuDevice() override;
  ULONG Release() override;

  HRESULT GetDeviceCaps(D3DCAPS9* caps) override;
  HRESULT GetSwapChain(UINT index, IDirect3DSwapChain9** swapChain) override;
  HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type,
                        IDirect3DSurface9** backBuffer) override;
  HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindow,
                  const RGNDATA* dirtyRegion) override;
  HRESULT SetDialogBoxMode(BOOL enable) override;
  HRESULT SetMaximumFrameLatency(UINT maxLatency) override;

  HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                        D3DPOOL pool, IDirect3DTexture9** texture, HANDLE* sharedHandle) override;
  HRESULT CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage,
                              D3DFORMAT format, D3DPOOL pool, IDirect3DVolumeTexture9** texture,
                              HANDLE* sharedHandle) override;
  HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                             IDirect3DVertexBuffer9** buffer, HANDLE* sharedHandle) override;
  HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                            IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle) override;
  HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format,
                             D3DMULTISAMPLE_TYPE multiSample, DWORD multisampleQuality,
                             BOOL lockable, IDirect3DSurface9** surface,
                             HANDLE* sharedHandle) override;
  HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                    D3DMULTISAMPLE_TYPE multiSample, DWORD multisampleQuality,
                                    BOOL discard, IDirect3DSurface9** surface,
                                    HANDLE* sharedHandle) override;
  HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DSurface9** surface, HANDLE* sharedHandle) override;
  HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                  IDirect3DVertexDeclaration9** decl) override;
  HRESULT CreateVertexShader(const DWORD* function, IDirect3DVertexShader9** shader) override;
  HRESULT CreatePixelShader(const DWORD* function, IDirect3DPixelShader9** shader) override;

  HRESULT UpdateSurface(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                        const POINT* destPoint) override;
  HRESULT UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* dest) override;
  HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* dest) override;
  HRESULT StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                      const RECT* destRect, D3DTEXTUREFILTERTYPE filter) override;
  HRESULT ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) override;

  HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9* surface) override;
  HRESULT GetRenderTarget(DWORD index, IDirect3DSurface9** surface) override;
  HRESULT SetDepthStencilSurface(IDirect3DSurface9* surface) override;
  HRESULT BeginScene() override;
  HRESULT EndScene() override;
  HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                DWORD stencil) override;

  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
  HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
  HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
  HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
  HRESULT SetMaterial(const D3DMATERIAL9* material) override;
  HRESULT GetMaterial(D3DMATERIAL9* material) override;
  HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override;
  HRESULT LightEnable(DWORD index, BOOL enable) override;
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
  HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
  HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
  HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
  HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;
  HRESULT SetScissorRect(const RECT* rect) override;
  HRESULT SetFVF(DWORD fvf) override;
  HRESULT GetFVF(DWORD* fvf) override;
  HRESULT SetVertexShader(IDirect3DVertexShader9* shader) override;
  HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override;
  HRESULT SetVertexShaderConstantF(UINT startRegister, const float* data, UINT count) override;
  HRESULT SetVertexShaderConstantI(UINT startRegister, const int* data, UINT count) override;
  HRESULT SetVertexShaderConstantB(UINT startRegister, const BOOL* data, UINT count) override;
  HRESULT SetPixelShaderConstantF(UINT startRegister, const float* data, UINT count) override;
  HRESULT SetPixelShaderConstantI(UINT startRegister, const int* data, UINT count) override;
  HRESULT SetPixelShaderConstantB(UINT startRegister, const BOOL* data, UINT count) override;

  HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData,
                          UINT vertexStride) override;
  HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices,
                                 UINT primitiveCount, const void* indexData, D3DFORMAT indexFormat,
                                 const void* vertexData, UINT vertexStride) override;

  // Shows the back buffer's source rectangle in the window's destination rectangle.
  HRESULT PresentBackBuffer(const RECT* sourceRect, const RECT* destRect, HWND destWindow);
  void AddChild(DeviceChild* child);
  void RemoveChild(DeviceChild* child);
  bool IsDefaultPoolLocked(D3DPOOL pool) const { return lost && pool == D3DPOOL_DEFAULT; }

  HWND focusWindow;
  DWORD behaviorFlags;
  D3DPRESENT_PARAMETERS parameters;
  bool isEx;
  bool lost = false;
  bool inScene = false;
  CpuSwapChain* swapChain = nullptr;
  CpuSurface* renderTarget = nullptr;
  CpuSurface* depthStencil = nullptr;
  std::array<IDirect3DBaseTexture9*, D3D9SamplerCount> textures{};
  IDirect3DVertexShader9* vertexShader = nullptr;
  IDirect3DPixelShader9* pixelShader = nullptr;
  std::array<DWORD, D3D9RenderStateCount> renderStates{};
  std::array<std::array<DWORD, D3D9SamplerStateCount>, D3D9SamplerCount> samplerStates{};
  std::array<std::array<DWORD, D3D9TextureStageStateCount>, D3D9TextureStageCount> stageStates{};
  D3DMATRIX world{}, view{}, projection{};
  std::array<D3DMATRIX, 8> textureMatrices{};
  D3DVIEWPORT9 viewport{};
  RECT scissor{};
  D3DMATERIAL9 material{};
  std::map<DWORD, StoredLight> lights;
  DWORD fvf = 0;
  std::vector<float> vertexConstantsF, pixelConstantsF;
  std::vector<int> vertexConstantsI, pixelConstantsI;
  std::vector<BOOL> vertexConstantsB, pixelConstantsB;
  std::vector<DeviceChild*> children;
  std::vector<std::uint32_t> presentPixels;  // the frame converted from a 16-bit back buffer

 private:
  void SetDefaultStates();
  HRESULT DrawVertices(D3DPRIMITIVETYPE type, UINT primitiveCount, const std::uint8_t* vertices,
                       UINT vertexCount, UINT stride, const void* indices, D3DFORMAT indexFormat);
};

// Surfaces behind a texture or surface interface given to the device (null when foreign).
CpuSurface* AsCpuSurface(IDirect3DSurface9* surface);
// 0 when the rectangle (null: all) is inside a surface of this size, and its bounds in `out`.
bool ResolveRect(const RECT* rect, UINT width, UINT height, RECT* out);
template <class T>
void ReleaseAndClear(T*& object) {
  if (object) object->Release();
  object = nullptr;
}

template <class Interface, D3D9ObjectKind Kind, D3DRESOURCETYPE Type>
HRESULT CpuBuffer<Interface, Kind, Type>::GetDevice(IDirect3DDevice9** result) {
  if (!result || !device) return D3DERR_INVALIDCALL;
  device->AddRef();
  *result = device;
  return D3D_OK;
}

// A lost device's default-pool buffers refuse to lock, as its surfaces do.
template <class Interface, D3D9ObjectKind Kind, D3DRESOURCETYPE Type>
HRESULT CpuBuffer<Interface, Kind, Type>::Lock(UINT offset, UINT size, void** data, DWORD) {
  if (!data || locked || offset > bytes.size()) return D3DERR_INVALIDCALL;
  if (size != 0 && size > bytes.size() - offset) return D3DERR_INVALIDCALL;
  if (device && device->IsDefaultPoolLocked(pool)) return D3DERR_DEVICELOST;
  locked = true;
  *data = bytes.data() + offset;
  return D3D_OK;
}
