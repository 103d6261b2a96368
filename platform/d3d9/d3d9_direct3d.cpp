// The Direct3D 9 object: the entry points of "d3d9.dll", the adapter's modes, formats and
// capabilities, and device creation.
#include <cstring>
#include <new>

#include "platform/d3d9/d3d9_internal.h"
#include "platform/d3d9/d3d9_module.h"
#include "platform/d3d9/d3d9_pixels.h"
#include "platform/win32/kernel.h"
#include "platform/win32/user.h"

namespace {

bool IsDisplayFormat(D3DFORMAT format) {
  return format == D3DFMT_X8R8G8B8 || format == D3DFMT_R5G6B5 || format == D3DFMT_X1R5G5B5;
}

bool IsBackBufferFormat(D3DFORMAT format) {
  return format == D3DFMT_X8R8G8B8 || format == D3DFMT_A8R8G8B8 || format == D3DFMT_R5G6B5 ||
         format == D3DFMT_X1R5G5B5 || format == D3DFMT_A1R5G5B5;
}

// The desktop and the listed display modes come from the window layer's display settings, so
// both layers report the same machine.
D3DFORMAT FormatForBits(DWORD bits) { return bits == 16 ? D3DFMT_R5G6B5 : D3DFMT_X8R8G8B8; }

class CpuDirect3D final : public RefCounted<IDirect3D9Ex> {
 public:
  explicit CpuDirect3D(bool isEx) : isEx(isEx) { TrackD3D9Object(D3D9ObjectKind::Direct3D, 1); }
  ~CpuDirect3D() override { TrackD3D9Object(D3D9ObjectKind::Direct3D, -1); }

  HRESULT GetAdapterIdentifier(UINT adapter, DWORD, D3DADAPTER_IDENTIFIER9* identifier) override {
    if (adapter != D3DADAPTER_DEFAULT || !identifier) return D3DERR_INVALIDCALL;
    std::memset(identifier, 0, sizeof(*identifier));
    std::strcpy(identifier->Driver, "d3d9.dll");
    std::strcpy(identifier->Description, "CPU Direct3D 9 device (SDL2 presentation)");
    std::strcpy(identifier->DeviceName, "\\\\.\\DISPLAY1");
    return D3D_OK;
  }

  UINT GetAdapterModeCount(UINT adapter, D3DFORMAT format) override {
    if (adapter != D3DADAPTER_DEFAULT) return 0;
    UINT count = 0;
    DEVMODEA mode{};
    mode.dmSize = sizeof(mode);
    for (DWORD i = 0; EnumDisplaySettingsA(nullptr, i, &mode); ++i) {
      if (FormatForBits(mode.dmBitsPerPel) == format &&
          (mode.dmBitsPerPel == 16 || mode.dmBitsPerPel == 32))
        ++count;
    }
    return count;
  }

  HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override {
    if (adapter != D3DADAPTER_DEFAULT || !mode) return D3DERR_INVALIDCALL;
    DEVMODEA current{};
    current.dmSize = sizeof(current);
    if (!EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &current)) {
      current.dmPelsWidth = 1024;
      current.dmPelsHeight = 768;
      current.dmBitsPerPel = 32;
      current.dmDisplayFrequency = 60;
    }
    mode->Width = current.dmPelsWidth;
    mode->Height = current.dmPelsHeight;
    mode->RefreshRate = current.dmDisplayFrequency ? current.dmDisplayFrequency : 60;
    mode->Format = FormatForBits(current.dmBitsPerPel);
    return D3D_OK;
  }

  HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat,
                            DWORD usage, D3DRESOURCETYPE resourceType,
                            D3DFORMAT checkFormat) override {
    if (adapter != D3DADAPTER_DEFAULT || !IsDisplayFormat(adapterFormat)) return D3DERR_INVALIDCALL;
    if (deviceType != D3DDEVTYPE_HAL || IsD3D9FormatRefused(checkFormat))
      return D3DERR_NOTAVAILABLE;
    PixelKind kind = GetPixelKind(checkFormat);
    switch (resourceType) {
      case D3DRTYPE_TEXTURE:
        return IsD3D9TextureFormatSupported(checkFormat, usage) ? D3D_OK : D3DERR_NOTAVAILABLE;
      case D3DRTYPE_VOLUMETEXTURE:
        return kind == PixelKind::Color && (usage & ~D3DUSAGE_DYNAMIC) == 0 ? D3D_OK
                                                                            : D3DERR_NOTAVAILABLE;
      case D3DRTYPE_SURFACE:
        if (usage & D3DUSAGE_DEPTHSTENCIL)
          return kind == PixelKind::Depth ? D3D_OK : D3DERR_NOTAVAILABLE;
        return kind == PixelKind::Color ? D3D_OK : D3DERR_NOTAVAILABLE;
      default: return D3DERR_NOTAVAILABLE;
    }
  }

  HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT, BOOL,
                                     D3DMULTISAMPLE_TYPE multiSampleType,
                                     DWORD* qualityLevels) override {
    if (adapter != D3DADAPTER_DEFAULT) return D3DERR_INVALIDCALL;
    if (deviceType != D3DDEVTYPE_HAL || multiSampleType != D3DMULTISAMPLE_NONE)
      return D3DERR_NOTAVAILABLE;
    if (qualityLevels) *qualityLevels = 1;
    return D3D_OK;
  }

  HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat,
                                 D3DFORMAT renderTargetFormat,
                                 D3DFORMAT depthStencilFormat) override {
    if (adapter != D3DADAPTER_DEFAULT || !IsDisplayFormat(adapterFormat)) return D3DERR_INVALIDCALL;
    if (deviceType != D3DDEVTYPE_HAL || IsD3D9FormatRefused(depthStencilFormat))
      return D3DERR_NOTAVAILABLE;
    if (GetPixelKind(renderTargetFormat) != PixelKind::Color) return D3DERR_NOTAVAILABLE;
    if (GetPixelKind(depthStencilFormat) != PixelKind::Depth) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
  }

  HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE deviceType, D3DCAPS9* caps) override {
    if (adapter != D3DADAPTER_DEFAULT || !caps) return D3DERR_INVALIDCALL;
    if (deviceType != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    FillD3D9Caps(caps);
    return D3D_OK;
  }

  HRESULT CreateDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD behaviorFlags,
                       D3DPRESENT_PARAMETERS* parameters,
                       IDirect3DDevice9** returnedDevice) override {
    CpuDevice* device = nullptr;
    HRESULT result = MakeDevice(adapter, deviceType, focusWindow, behaviorFlags, parameters,
                                nullptr, false, &device);
    if (returnedDevice) *returnedDevice = device;
    return result;
  }

  HRESULT CreateDeviceEx(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* parameters, D3DDISPLAYMODEEX* fullscreenDisplayMode,
                         IDirect3DDevice9Ex** returnedDevice) override {
    if (!isEx) return D3DERR_INVALIDCALL;
    CpuDevice* device = nullptr;
    HRESULT result = MakeDevice(adapter, deviceType, focusWindow, behaviorFlags, parameters,
                                fullscreenDisplayMode, true, &device);
    if (returnedDevice) *returnedDevice = device;
    return result;
  }

 private:
  HRESULT MakeDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD behaviorFlags,
                     D3DPRESENT_PARAMETERS* parameters, D3DDISPLAYMODEEX* displayMode, bool ex,
                     CpuDevice** out) {
    *out = nullptr;
    if (adapter != D3DADAPTER_DEFAULT || !parameters) return D3DERR_INVALIDCALL;
    if (deviceType != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    DWORD processing =
        behaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                         D3DCREATE_MIXED_VERTEXPROCESSING);
    if (processing != D3DCREATE_SOFTWARE_VERTEXPROCESSING &&
        processing != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
        processing != D3DCREATE_MIXED_VERTEXPROCESSING) {
      return D3DERR_INVALIDCALL;
    }
    D3DPRESENT_PARAMETERS p = *parameters;
    if (ex && (p.Windowed ? displayMode != nullptr : displayMode == nullptr))
      return D3DERR_INVALIDCALL;
    if (p.BackBufferCount > 1 || p.MultiSampleType != D3DMULTISAMPLE_NONE)
      return D3DERR_NOTAVAILABLE;
    if (p.SwapEffect < D3DSWAPEFFECT_DISCARD || p.SwapEffect > D3DSWAPEFFECT_COPY)
      return D3DERR_INVALIDCALL;
    HWND window = p.hDeviceWindow ? p.hDeviceWindow : focusWindow;
    if (p.Windowed) {
      RECT client{};
      if ((p.BackBufferWidth == 0 || p.BackBufferHeight == 0) && window &&
          GetClientRect(window, &client)) {
        if (p.BackBufferWidth == 0)
          p.BackBufferWidth = static_cast<UINT>(client.right - client.left);
        if (p.BackBufferHeight == 0)
          p.BackBufferHeight = static_cast<UINT>(client.bottom - client.top);
      }
      if (p.BackBufferFormat == D3DFMT_UNKNOWN) {
        D3DDISPLAYMODE desktop{};
        GetAdapterDisplayMode(adapter, &desktop);
        p.BackBufferFormat = desktop.Format;
      }
    }
    if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0 || p.BackBufferWidth > 16384 ||
        p.BackBufferHeight > 16384) {
      return D3DERR_INVALIDCALL;
    }
    if (!IsBackBufferFormat(p.BackBufferFormat) || IsD3D9FormatRefused(p.BackBufferFormat))
      return D3DERR_NOTAVAILABLE;
    if (p.EnableAutoDepthStencil && GetPixelKind(p.AutoDepthStencilFormat) != PixelKind::Depth) {
      return D3DERR_INVALIDCALL;
    }
    if (TakeD3D9CallFailure(D3D9Call::CreateDevice)) return D3DERR_NOTAVAILABLE;
    p.BackBufferCount = 1;
    p.hDeviceWindow = window;
    // A full-screen device takes the display mode of its back buffer, as long as it lives.
    if (!p.Windowed) {
      DEVMODEA mode{};
      mode.dmSize = sizeof mode;
      mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL;
      mode.dmPelsWidth = p.BackBufferWidth;
      mode.dmPelsHeight = p.BackBufferHeight;
      mode.dmBitsPerPel = GetBytesPerPixel(p.BackBufferFormat) == 2 ? 16 : 32;
      if (ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) != DISP_CHANGE_SUCCESSFUL)
        return D3DERR_NOTAVAILABLE;
    }
    *parameters = p;
    try {
      *out = new CpuDevice(focusWindow, behaviorFlags, p, ex);
    } catch (const std::bad_alloc&) {
      return D3DERR_OUTOFVIDEOMEMORY;
    }
    return D3D_OK;
  }

  bool isEx;
};

}  // namespace

bool IsD3D9TextureFormatSupported(D3DFORMAT format, DWORD usage) {
  if (IsD3D9FormatRefused(format)) return false;
  switch (GetPixelKind(format)) {
    case PixelKind::Color: return format != D3DFMT_R8G8B8;
    case PixelKind::Compressed:
      return GetD3D9Settings().dxtSupported && (usage & D3DUSAGE_RENDERTARGET) == 0;
    default: return false;
  }
}

void FillD3D9Caps(D3DCAPS9* caps) {
  const D3D9Settings& settings = GetD3D9Settings();
  std::memset(caps, 0, sizeof(*caps));
  caps->DeviceType = D3DDEVTYPE_HAL;
  caps->PresentationIntervals = D3DPRESENT_INTERVAL_ONE | D3DPRESENT_INTERVAL_IMMEDIATE;
  caps->PrimitiveMiscCaps = settings.primitiveMiscCaps;
  caps->ZCmpCaps = 0xFF;
  caps->SrcBlendCaps = 0x1FFF;
  caps->DestBlendCaps = 0x1FFF;
  caps->AlphaCmpCaps = 0xFF;
  caps->TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_MIPMAP |
                      D3DPTEXTURECAPS_VOLUMEMAP |
                      (settings.squareOnly ? D3DPTEXTURECAPS_SQUAREONLY : 0);
  caps->MaxTextureWidth = settings.maxTextureWidth;
  caps->MaxTextureHeight = settings.maxTextureHeight;
  caps->MaxVolumeExtent = 256;
  caps->MaxTextureAspectRatio = 0;
  caps->MaxAnisotropy = 16;
  caps->MaxTextureBlendStages = 8;
  caps->MaxSimultaneousTextures = 8;
  caps->MaxActiveLights = 8;
  caps->MaxPrimitiveCount = 0xFFFFF;
  caps->MaxVertexIndex = 0xFFFFFF;
  caps->MaxStreams = 16;
  caps->VertexShaderVersion = settings.shaderModel2 ? D3DVS_VERSION(2, 0) : D3DVS_VERSION(0, 0);
  caps->MaxVertexShaderConst = settings.shaderModel2 ? 256 : 0;
  caps->PixelShaderVersion = settings.shaderModel2 ? D3DPS_VERSION(2, 0) : D3DPS_VERSION(0, 0);
  caps->NumSimultaneousRTs = 1;
}

IDirect3D9* Direct3DCreate9(UINT sdkVersion) {
  if (sdkVersion != D3D_SDK_VERSION || TakeD3D9CallFailure(D3D9Call::Direct3DCreate9))
    return nullptr;
  return new CpuDirect3D(false);
}

HRESULT Direct3DCreate9Ex(UINT sdkVersion, IDirect3D9Ex** object) {
  if (!object) return D3DERR_INVALIDCALL;
  *object = nullptr;
  if (sdkVersion != D3D_SDK_VERSION) return D3DERR_INVALIDCALL;
  if (TakeD3D9CallFailure(D3D9Call::Direct3DCreate9)) return D3DERR_NOTAVAILABLE;
  *object = new CpuDirect3D(true);
  return D3D_OK;
}

std::span<const PlatformModuleEntry> D3D9ModuleEntries() {
  static const PlatformModuleEntry entries[] = {
      {"Direct3DCreate9", AsFarProc(&Direct3DCreate9)},
      {"Direct3DCreate9Ex", AsFarProc(&Direct3DCreate9Ex)},
  };
  return {entries, GetD3D9Settings().exportCreate9Ex ? 2u : 1u};
}

void RegisterD3D9Module() { RegisterPlatformModule("d3d9.dll", D3D9ModuleEntries()); }
