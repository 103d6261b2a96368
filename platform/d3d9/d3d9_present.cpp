// The swap chain: Present with copy semantics into the window's client area, synchronised with
// the display's vertical blank unless immediate, and the raster status of that display.
#include "platform/clock.h"
#include "platform/d3d9/d3d9_internal.h"
#include "platform/d3d9/d3d9_pixels.h"
#include "platform/ddraw/vertical_blank.h"
#include "platform/win32/gdi_present.h"

namespace {

constexpr std::uint64_t FrameNanoseconds = 1000000000ull / 60;

}  // namespace

CpuSwapChain::CpuSwapChain(CpuDevice* owner, CpuSurface* buffer)
    : DeviceChild(owner, D3D9ObjectKind::SwapChain), backBuffer(buffer) {}

CpuSwapChain::~CpuSwapChain() { ReleaseAndClear(backBuffer); }

HRESULT CpuSwapChain::Present(const RECT* sourceRect, const RECT* destRect, HWND destWindow,
                              const RGNDATA*, DWORD) {
  if (!device) return D3DERR_INVALIDCALL;
  return device->PresentBackBuffer(sourceRect, destRect, destWindow);
}

HRESULT CpuSwapChain::GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type,
                                    IDirect3DSurface9** result) {
  if (!result || index != 0 || type != D3DBACKBUFFER_TYPE_MONO || !backBuffer)
    return D3DERR_INVALIDCALL;
  backBuffer->AddRef();
  *result = backBuffer;
  return D3D_OK;
}

HRESULT CpuSwapChain::GetRasterStatus(D3DRASTER_STATUS* status) {
  if (!status) return D3DERR_INVALIDCALL;
  std::uint64_t now = GetPlatformNanoseconds();
  // A caller that polls without letting time pass still sees the beam move, a sixteenth of a
  // frame per call, so a wait for the blank ends even on a clock that stands still.
  if (now == lastRasterTime) {
    ++rasterStepsWithoutTime;
  } else {
    lastRasterTime = now;
    rasterStepsWithoutTime = 0;
  }
  VerticalBlankPhase phase =
      GetVerticalBlankPhase(now + rasterStepsWithoutTime * (FrameNanoseconds / 16));
  bool blank = phase.inBlank && !GetD3D9Settings().neverVerticalBlank;
  status->InVBlank = blank ? TRUE : FALSE;
  status->ScanLine = phase.scanLine;
  return D3D_OK;
}

HRESULT CpuDevice::Present(const RECT* sourceRect, const RECT* destRect, HWND destWindow,
                           const RGNDATA*) {
  return PresentBackBuffer(sourceRect, destRect, destWindow);
}

HRESULT CpuDevice::PresentBackBuffer(const RECT* sourceRect, const RECT* destRect,
                                     HWND destWindow) {
  CountD3D9Call(D3D9Counter::Present);
  if (lost) return D3DERR_DEVICELOST;
  CpuSurface* buffer = swapChain ? swapChain->backBuffer : nullptr;
  if (!buffer) return D3DERR_INVALIDCALL;
  // Rectangles are for copy presentation only.
  if ((sourceRect || destRect) && parameters.SwapEffect != D3DSWAPEFFECT_COPY)
    return D3DERR_INVALIDCALL;
  RECT source;
  if (!ResolveRect(sourceRect, buffer->width, buffer->height, &source)) return D3DERR_INVALIDCALL;
  if (destRect && (destRect->left >= destRect->right || destRect->top >= destRect->bottom))
    return D3DERR_INVALIDCALL;
  // The back buffer is only read: with the copy swap effect it keeps the frame for the next
  // present. Its 32-bit formats are already the window's pixels; others convert into a buffer
  // the device keeps.
  const std::uint32_t* pixels;
  int pitch;
  if ((buffer->format == D3DFMT_X8R8G8B8 || buffer->format == D3DFMT_A8R8G8B8) &&
      buffer->pitch % 4 == 0) {
    pixels = reinterpret_cast<const std::uint32_t*>(buffer->Row(0));
    pitch = buffer->pitch / 4;
  } else {
    presentPixels.resize(static_cast<std::size_t>(buffer->width) * buffer->height);
    for (UINT y = static_cast<UINT>(source.top); y < static_cast<UINT>(source.bottom); ++y) {
      const std::uint8_t* row = buffer->Row(static_cast<int>(y));
      std::uint32_t* out = presentPixels.data() + static_cast<std::size_t>(y) * buffer->width;
      for (UINT x = static_cast<UINT>(source.left); x < static_cast<UINT>(source.right); ++x)
        out[x] = ReadPixel(buffer->format, row + x * buffer->bytesPerPixel);
    }
    pixels = presentPixels.data();
    pitch = static_cast<int>(buffer->width);
  }
  // A synchronised present shows the frame at the start of the next vertical blank.
  if (parameters.PresentationInterval != D3DPRESENT_INTERVAL_IMMEDIATE) WaitForVerticalBlankStart();
  HWND window = destWindow ? destWindow : parameters.hDeviceWindow;
  if (!PresentPixelsToWindow(window, pixels, pitch, source, destRect)) return D3DERR_INVALIDCALL;
  RecordD3D9Present(window);
  return D3D_OK;
}
