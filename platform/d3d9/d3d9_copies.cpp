// The device's surface operations: Clear, ColorFill, StretchRect, GetRenderTargetData,
// UpdateSurface and UpdateTexture, with the pool and usage rules of each.
#include <algorithm>
#include <cstring>

#include "platform/d3d9/d3d9_internal.h"
#include "platform/d3d9/d3d9_pixels.h"

namespace {

void FillSurfaceRect(CpuSurface* surface, const RECT& area, D3DCOLOR color) {
  std::uint8_t pixel[4] = {};
  WritePixel(surface->format, pixel, color);
  int bpp = surface->bytesPerPixel;
  std::uint8_t* first = surface->Pixel(area.left, area.top);
  for (LONG x = area.left; x < area.right; ++x)
    std::memcpy(first + (x - area.left) * bpp, pixel, bpp);
  std::size_t rowBytes = static_cast<std::size_t>(area.right - area.left) * bpp;
  for (LONG y = area.top + 1; y < area.bottom; ++y)
    std::memcpy(surface->Pixel(area.left, y), first, rowBytes);
}

bool Intersect(const RECT& a, const RECT& b, RECT* out) {
  out->left = std::max(a.left, b.left);
  out->top = std::max(a.top, b.top);
  out->right = std::min(a.right, b.right);
  out->bottom = std::min(a.bottom, b.bottom);
  return out->left < out->right && out->top < out->bottom;
}

// Copies equal-sized rectangles of two surfaces of the same format, by block rows for DXT.
void CopySameFormat(const CpuSurface& source, const RECT& from, CpuSurface* dest, POINT to) {
  if (GetPixelKind(source.format) == PixelKind::Compressed) {
    int blockBytes = source.format == D3DFMT_DXT1 ? 8 : 16;
    int blocksWide = (from.right - from.left + 3) / 4,
        blocksHigh = (from.bottom - from.top + 3) / 4;
    for (int row = 0; row < blocksHigh; ++row) {
      std::memcpy(dest->Row(to.y / 4 + row) + (to.x / 4) * blockBytes,
                  source.Row(from.top / 4 + row) + (from.left / 4) * blockBytes,
                  static_cast<std::size_t>(blocksWide) * blockBytes);
    }
    return;
  }
  std::size_t rowBytes = static_cast<std::size_t>(from.right - from.left) * source.bytesPerPixel;
  for (LONG y = 0; y < from.bottom - from.top; ++y) {
    std::memcpy(dest->Row(to.y + y) + to.x * dest->bytesPerPixel,
                source.Row(from.top + y) + from.left * source.bytesPerPixel, rowBytes);
  }
}

bool IsBlockAligned(const CpuSurface& surface, const RECT& area) {
  if (GetPixelKind(surface.format) != PixelKind::Compressed) return true;
  auto aligned = [](LONG value, UINT limit) {
    return value % 4 == 0 || static_cast<UINT>(value) == limit;
  };
  return area.left % 4 == 0 && area.top % 4 == 0 && aligned(area.right, surface.width) &&
         aligned(area.bottom, surface.height);
}

bool CanBeStretchSource(const CpuSurface& surface) {
  return surface.pool == D3DPOOL_DEFAULT && GetPixelKind(surface.format) == PixelKind::Color &&
         (surface.IsRenderTarget() || surface.role == SurfaceRole::OffscreenPlain);
}

}  // namespace

HRESULT CpuDevice::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                         DWORD) {
  CountD3D9Call(D3D9Counter::Clear);
  if ((count > 0) != (rects != nullptr) || flags == 0 ||
      (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER))) {
    return D3DERR_INVALIDCALL;
  }
  if ((flags & D3DCLEAR_ZBUFFER) && (!depthStencil || !(z >= 0.0f && z <= 1.0f)))
    return D3DERR_INVALIDCALL;
  if (lost || !(flags & D3DCLEAR_TARGET) || !renderTarget) return D3D_OK;
  // Clearing never reaches outside the viewport.
  RECT area = {static_cast<LONG>(viewport.X), static_cast<LONG>(viewport.Y),
               static_cast<LONG>(viewport.X + viewport.Width),
               static_cast<LONG>(viewport.Y + viewport.Height)};
  RECT whole = {0, 0, static_cast<LONG>(renderTarget->width),
                static_cast<LONG>(renderTarget->height)};
  if (!Intersect(area, whole, &area)) return D3D_OK;
  if (renderStates[D3DRS_SCISSORTESTENABLE] && !Intersect(area, scissor, &area)) return D3D_OK;
  if (count == 0) {
    FillSurfaceRect(renderTarget, area, color);
    return D3D_OK;
  }
  for (DWORD i = 0; i < count; ++i) {
    RECT part = {rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2};
    if (Intersect(part, area, &part)) FillSurfaceRect(renderTarget, part, color);
  }
  return D3D_OK;
}

HRESULT CpuDevice::ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) {
  CpuSurface* target = AsCpuSurface(surface);
  if (!target || target->OwningDevice() != this || target->pool != D3DPOOL_DEFAULT)
    return D3DERR_INVALIDCALL;
  if (!target->IsRenderTarget() && target->role != SurfaceRole::OffscreenPlain)
    return D3DERR_INVALIDCALL;
  if (GetPixelKind(target->format) != PixelKind::Color) return D3DERR_INVALIDCALL;
  RECT area;
  if (!ResolveRect(rect, target->width, target->height, &area)) return D3DERR_INVALIDCALL;
  if (lost) return D3D_OK;
  FillSurfaceRect(target, area, color);
  return D3D_OK;
}

HRESULT CpuDevice::StretchRect(IDirect3DSurface9* sourceSurface, const RECT* sourceRect,
                               IDirect3DSurface9* destSurface, const RECT* destRect,
                               D3DTEXTUREFILTERTYPE filter) {
  CountD3D9Call(D3D9Counter::StretchRect);
  CpuSurface* source = AsCpuSurface(sourceSurface);
  CpuSurface* dest = AsCpuSurface(destSurface);
  if (!source || !dest || source == dest || source->OwningDevice() != this ||
      dest->OwningDevice() != this) {
    return D3DERR_INVALIDCALL;
  }
  if (filter > D3DTEXF_LINEAR || !CanBeStretchSource(*source) || !CanBeStretchSource(*dest))
    return D3DERR_INVALIDCALL;
  // A plain off-screen surface receives only from another one; render targets take both.
  if (!dest->IsRenderTarget() && source->role != SurfaceRole::OffscreenPlain)
    return D3DERR_INVALIDCALL;
  RECT from, to;
  if (!ResolveRect(sourceRect, source->width, source->height, &from) ||
      !ResolveRect(destRect, dest->width, dest->height, &to)) {
    return D3DERR_INVALIDCALL;
  }
  if (lost) return D3D_OK;
  LONG sw = from.right - from.left, sh = from.bottom - from.top;
  LONG dw = to.right - to.left, dh = to.bottom - to.top;
  if (sw == dw && sh == dh && source->format == dest->format) {
    CopySameFormat(*source, from, dest, {to.left, to.top});
    return D3D_OK;
  }
  // Nearest texel under each destination pixel's centre.
  for (LONG y = 0; y < dh; ++y) {
    LONG sy = from.top + static_cast<LONG>((static_cast<std::int64_t>(2 * y + 1) * sh) / (2 * dh));
    for (LONG x = 0; x < dw; ++x) {
      LONG sx =
          from.left + static_cast<LONG>((static_cast<std::int64_t>(2 * x + 1) * sw) / (2 * dw));
      WritePixel(dest->format, dest->Pixel(to.left + x, to.top + y),
                 ReadPixel(source->format, source->Pixel(sx, sy)));
    }
  }
  return D3D_OK;
}

HRESULT CpuDevice::GetRenderTargetData(IDirect3DSurface9* renderTargetSurface,
                                       IDirect3DSurface9* destSurface) {
  CpuSurface* source = AsCpuSurface(renderTargetSurface);
  CpuSurface* dest = AsCpuSurface(destSurface);
  if (!source || !dest || source->OwningDevice() != this || dest->OwningDevice() != this)
    return D3DERR_INVALIDCALL;
  if (!source->IsRenderTarget() || dest->pool != D3DPOOL_SYSTEMMEM) return D3DERR_INVALIDCALL;
  if (source->width != dest->width || source->height != dest->height ||
      source->format != dest->format) {
    return D3DERR_INVALIDCALL;
  }
  if (lost) return D3DERR_DEVICELOST;
  RECT all = {0, 0, static_cast<LONG>(source->width), static_cast<LONG>(source->height)};
  CopySameFormat(*source, all, dest, {0, 0});
  return D3D_OK;
}

HRESULT CpuDevice::UpdateSurface(IDirect3DSurface9* sourceSurface, const RECT* sourceRect,
                                 IDirect3DSurface9* destSurface, const POINT* destPoint) {
  CpuSurface* source = AsCpuSurface(sourceSurface);
  CpuSurface* dest = AsCpuSurface(destSurface);
  if (!source || !dest || source->OwningDevice() != this || dest->OwningDevice() != this)
    return D3DERR_INVALIDCALL;
  if (source->pool != D3DPOOL_SYSTEMMEM || dest->pool != D3DPOOL_DEFAULT ||
      source->format != dest->format || GetPixelKind(dest->format) == PixelKind::Depth) {
    return D3DERR_INVALIDCALL;
  }
  RECT from;
  if (!ResolveRect(sourceRect, source->width, source->height, &from)) return D3DERR_INVALIDCALL;
  POINT to = destPoint ? *destPoint : POINT{0, 0};
  RECT target = {to.x, to.y, to.x + (from.right - from.left), to.y + (from.bottom - from.top)};
  RECT checked;
  if (to.x < 0 || to.y < 0 || !ResolveRect(&target, dest->width, dest->height, &checked))
    return D3DERR_INVALIDCALL;
  if (!IsBlockAligned(*source, from) || !IsBlockAligned(*dest, target)) return D3DERR_INVALIDCALL;
  if (lost) return D3D_OK;
  CopySameFormat(*source, from, dest, to);
  return D3D_OK;
}

HRESULT CpuDevice::UpdateTexture(IDirect3DBaseTexture9* sourceTexture,
                                 IDirect3DBaseTexture9* destTexture) {
  if (!sourceTexture || !destTexture) return D3DERR_INVALIDCALL;
  auto* source2d = dynamic_cast<CpuTexture*>(sourceTexture);
  auto* dest2d = dynamic_cast<CpuTexture*>(destTexture);
  if (source2d && dest2d) {
    if (source2d->device != this || dest2d->device != this || source2d->pool != D3DPOOL_SYSTEMMEM ||
        dest2d->pool != D3DPOOL_DEFAULT || source2d->format != dest2d->format) {
      return D3DERR_INVALIDCALL;
    }
    // The source may have larger top levels; its level matching the destination's top is copied on.
    std::size_t first = 0;
    while (first < source2d->levels.size() &&
           (source2d->levels[first]->width != dest2d->levels[0]->width ||
            source2d->levels[first]->height != dest2d->levels[0]->height)) {
      ++first;
    }
    if (first == source2d->levels.size() ||
        source2d->levels.size() - first < dest2d->levels.size()) {
      return D3DERR_INVALIDCALL;
    }
    if (lost) return D3D_OK;
    for (std::size_t i = 0; i < dest2d->levels.size(); ++i)
      dest2d->levels[i]->bits = source2d->levels[first + i]->bits;
    return D3D_OK;
  }
  auto* sourceVolume = dynamic_cast<CpuVolumeTexture*>(sourceTexture);
  auto* destVolume = dynamic_cast<CpuVolumeTexture*>(destTexture);
  if (!sourceVolume || !destVolume || sourceVolume->device != this || destVolume->device != this) {
    return D3DERR_INVALIDCALL;
  }
  if (sourceVolume->pool != D3DPOOL_SYSTEMMEM || destVolume->pool != D3DPOOL_DEFAULT ||
      sourceVolume->format != destVolume->format ||
      sourceVolume->levels.size() < destVolume->levels.size()) {
    return D3DERR_INVALIDCALL;
  }
  for (std::size_t i = 0; i < destVolume->levels.size(); ++i) {
    const VolumeLevel& a = sourceVolume->levels[i];
    const VolumeLevel& b = destVolume->levels[i];
    if (a.width != b.width || a.height != b.height || a.depth != b.depth) return D3DERR_INVALIDCALL;
  }
  if (lost) return D3D_OK;
  for (std::size_t i = 0; i < destVolume->levels.size(); ++i)
    destVolume->levels[i].bits = sourceVolume->levels[i].bits;
  return D3D_OK;
}
