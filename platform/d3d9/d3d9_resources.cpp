// Surfaces, textures and volume textures of the CPU device: their memory, descriptions and the
// lock rules a driver enforces (what each pool, usage and role may lock).
#include "platform/d3d9/d3d9_internal.h"
#include "platform/d3d9/d3d9_pixels.h"

DeviceChild::DeviceChild(CpuDevice* owner, D3D9ObjectKind objectKind)
    : device(owner), kind(objectKind), tracked(owner != nullptr) {
  if (tracked) {
    TrackD3D9Object(kind, 1);
    device->AddChild(this);
  }
}

DeviceChild::~DeviceChild() {
  if (!tracked) return;
  TrackD3D9Object(kind, -1);
  if (device) device->RemoveChild(this);
}

bool ResolveRect(const RECT* rect, UINT width, UINT height, RECT* out) {
  if (!rect) {
    *out = {0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    return true;
  }
  if (rect->left < 0 || rect->top < 0 || rect->left >= rect->right || rect->top >= rect->bottom)
    return false;
  if (rect->right > static_cast<LONG>(width) || rect->bottom > static_cast<LONG>(height))
    return false;
  *out = *rect;
  return true;
}

CpuSurface* AsCpuSurface(IDirect3DSurface9* surface) { return dynamic_cast<CpuSurface*>(surface); }

CpuSurface::CpuSurface(CpuDevice* owner, SurfaceRole surfaceRole, UINT w, UINT h,
                       D3DFORMAT surfaceFormat, D3DPOOL surfacePool, DWORD surfaceUsage,
                       bool canLock, CpuTexture* texture)
    : DeviceChild(texture ? nullptr : owner, D3D9ObjectKind::Surface),
      role(surfaceRole),
      width(w),
      height(h),
      format(surfaceFormat),
      pool(surfacePool),
      usage(surfaceUsage),
      lockable(canLock),
      pitch(GetSurfacePitch(surfaceFormat, w)),
      bytesPerPixel(GetBytesPerPixel(surfaceFormat)),
      container(texture) {
  // Depth surfaces keep no pixels: nothing tests depth, and only D16_LOCKABLE can be read.
  if (GetPixelKind(format) != PixelKind::Depth || format == D3DFMT_D16_LOCKABLE) {
    bits.assign(static_cast<std::size_t>(pitch) * GetSurfaceRows(format, h), 0);
  }
}

CpuSurface::~CpuSurface() = default;

ULONG CpuSurface::AddRef() { return container ? container->AddRef() : ++references; }

ULONG CpuSurface::Release() {
  if (container) return container->Release();
  ULONG left = --references;
  if (left == 0) delete this;
  return left;
}

CpuDevice* CpuSurface::OwningDevice() const { return container ? container->device : device; }

HRESULT CpuSurface::GetDevice(IDirect3DDevice9** result) {
  CpuDevice* owner = OwningDevice();
  if (!result || !owner) return D3DERR_INVALIDCALL;
  owner->AddRef();
  *result = owner;
  return D3D_OK;
}

HRESULT CpuSurface::GetDesc(D3DSURFACE_DESC* desc) {
  if (!desc) return D3DERR_INVALIDCALL;
  desc->Format = format;
  desc->Type = D3DRTYPE_SURFACE;
  desc->Usage = usage;
  desc->Pool = pool;
  desc->MultiSampleType = D3DMULTISAMPLE_NONE;
  desc->MultiSampleQuality = 0;
  desc->Width = width;
  desc->Height = height;
  return D3D_OK;
}

HRESULT CpuSurface::LockRect(D3DLOCKED_RECT* result, const RECT* rect, DWORD) {
  if (!result || locked || !lockable) return D3DERR_INVALIDCALL;
  CpuDevice* owner = OwningDevice();
  if (owner && owner->IsDefaultPoolLocked(pool)) return D3DERR_DEVICELOST;
  RECT area;
  if (!ResolveRect(rect, width, height, &area)) return D3DERR_INVALIDCALL;
  std::uint8_t* first;
  if (GetPixelKind(format) == PixelKind::Compressed) {
    int blockBytes = format == D3DFMT_DXT1 ? 8 : 16;
    first = Row(area.top / 4) + (area.left / 4) * blockBytes;
  } else {
    first = Row(area.top) + area.left * bytesPerPixel;
  }
  locked = true;
  result->Pitch = pitch;
  result->pBits = first;
  return D3D_OK;
}

HRESULT CpuSurface::UnlockRect() {
  if (!locked) return D3DERR_INVALIDCALL;
  locked = false;
  return D3D_OK;
}

CpuTexture::CpuTexture(CpuDevice* owner, UINT width, UINT height, UINT levelCount,
                       DWORD textureUsage, D3DFORMAT textureFormat, D3DPOOL texturePool)
    : DeviceChild(owner, D3D9ObjectKind::Texture),
      format(textureFormat),
      pool(texturePool),
      usage(textureUsage) {
  if (levelCount == 0) {
    levelCount = 1;
    for (UINT size = width > height ? width : height; size > 1; size >>= 1) ++levelCount;
  }
  bool canLock = pool != D3DPOOL_DEFAULT || (usage & D3DUSAGE_DYNAMIC) != 0;
  for (UINT i = 0; i < levelCount; ++i) {
    UINT w = width >> i ? width >> i : 1, h = height >> i ? height >> i : 1;
    levels.push_back(std::make_unique<CpuSurface>(owner, SurfaceRole::TextureLevel, w, h, format,
                                                  pool, usage, canLock, this));
  }
}

HRESULT CpuTexture::GetDevice(IDirect3DDevice9** result) {
  if (!result || !device) return D3DERR_INVALIDCALL;
  device->AddRef();
  *result = device;
  return D3D_OK;
}

HRESULT CpuTexture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  return levels[level]->GetDesc(desc);
}

HRESULT CpuTexture::GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) {
  if (!surface || level >= levels.size()) return D3DERR_INVALIDCALL;
  AddRef();
  *surface = levels[level].get();
  return D3D_OK;
}

HRESULT CpuTexture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  return levels[level]->LockRect(locked, rect, flags);
}

HRESULT CpuTexture::UnlockRect(UINT level) {
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  return levels[level]->UnlockRect();
}

CpuVolumeTexture::CpuVolumeTexture(CpuDevice* owner, UINT width, UINT height, UINT depth,
                                   UINT levelCount, DWORD textureUsage, D3DFORMAT textureFormat,
                                   D3DPOOL texturePool)
    : DeviceChild(owner, D3D9ObjectKind::VolumeTexture),
      format(textureFormat),
      pool(texturePool),
      usage(textureUsage) {
  if (levelCount == 0) {
    levelCount = 1;
    UINT size = width > height ? width : height;
    if (depth > size) size = depth;
    for (; size > 1; size >>= 1) ++levelCount;
  }
  for (UINT i = 0; i < levelCount; ++i) {
    VolumeLevel level;
    level.width = width >> i ? width >> i : 1;
    level.height = height >> i ? height >> i : 1;
    level.depth = depth >> i ? depth >> i : 1;
    level.rowPitch = GetSurfacePitch(format, level.width);
    level.slicePitch = level.rowPitch * static_cast<int>(level.height);
    level.bits.assign(static_cast<std::size_t>(level.slicePitch) * level.depth, 0);
    levels.push_back(std::move(level));
  }
}

HRESULT CpuVolumeTexture::GetDevice(IDirect3DDevice9** result) {
  if (!result || !device) return D3DERR_INVALIDCALL;
  device->AddRef();
  *result = device;
  return D3D_OK;
}

HRESULT CpuVolumeTexture::LockBox(UINT index, D3DLOCKED_BOX* result, const D3DBOX* box, DWORD) {
  if (!result || index >= levels.size()) return D3DERR_INVALIDCALL;
  VolumeLevel& level = levels[index];
  if (level.locked || (pool == D3DPOOL_DEFAULT && (usage & D3DUSAGE_DYNAMIC) == 0))
    return D3DERR_INVALIDCALL;
  if (device && device->IsDefaultPoolLocked(pool)) return D3DERR_DEVICELOST;
  D3DBOX area = {0, 0, level.width, level.height, 0, level.depth};
  if (box) {
    if (box->Left >= box->Right || box->Top >= box->Bottom || box->Front >= box->Back ||
        box->Right > level.width || box->Bottom > level.height || box->Back > level.depth) {
      return D3DERR_INVALIDCALL;
    }
    area = *box;
  }
  level.locked = true;
  result->RowPitch = level.rowPitch;
  result->SlicePitch = level.slicePitch;
  result->pBits = level.bits.data() + static_cast<std::size_t>(area.Front) * level.slicePitch +
                  static_cast<std::size_t>(area.Top) * level.rowPitch +
                  area.Left * GetBytesPerPixel(format);
  return D3D_OK;
}

HRESULT CpuVolumeTexture::UnlockBox(UINT index) {
  if (index >= levels.size() || !levels[index].locked) return D3DERR_INVALIDCALL;
  levels[index].locked = false;
  return D3D_OK;
}
