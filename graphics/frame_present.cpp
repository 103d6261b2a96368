// Presentation of finished frames: through the swap chain in Direct3D mode, through GDI from the
// primary screen image in software mode; the vertical-blank waits paced by the refresh period
// measured at device creation; the sub back buffer; the scene brackets; the front-screen timer.
#include "graphics/frame_present.h"

#include "graphics/device_rebuild.h"
#include "graphics/device_state_cache.h"
#include "graphics/draw_settings.h"
#include "graphics/draw_target.h"
#include "graphics/graph_record.h"
#include "graphics/graphics_state.h"
#include "graphics/screen_log.h"
#include "graphics/vertex_batch.h"
#include "platform/win32/gdi.h"
#include "platform/win32/gdi_present.h"
#include "platform/win32/kernel.h"
#include "system/host_call_table.h"
#include "system/log.h"
#include "system/system_info.h"

namespace {

// A present that returns this quickly did not wait for the vertical blank by itself.
constexpr uint64_t kPresentWaitedMicroseconds = 500;

// The 320 x 240 screen is drawn in the top-left quarter of a 640 x 480 one and shown doubled.
constexpr int kEmulatedWidth = 320, kEmulatedHeight = 240;
constexpr int kDoubledWidth = 2 * kEmulatedWidth, kDoubledHeight = 2 * kEmulatedHeight;

int64_t Now() { return static_cast<int64_t>(GetMicrosecondCount(0)); }

bool IsDoubled(const GraphicsCoreState& core) {
  return (core.request320x240 || GetDrawSettings()->emulation320x240) &&
         core.screenWidth == kDoubledWidth && core.screenHeight == kDoubledHeight;
}

// The on-screen log over the frame, with the whole screen as draw area, no blending and white
// brightness; all three are put back afterwards.
void DrawScreenLogOverFrame(const GraphicsCoreState& core) {
  if (GetScreenLogDrawState() == 0) return;
  DrawSettings* settings = GetDrawSettings();
  RECT area = settings->drawArea;
  int mode = settings->blendMode;
  int param = settings->blendParam;
  uint32_t brightness = GetDrawBrightnessRGB(settings);
  SetDrawClipRect(0, 0, core.screenWidth, core.screenHeight);
  SetBlendModeAndParam(0, param);
  SetDrawBrightness(255, 255, 255);
  DrawScreenLog();
  SetDrawClipRect(area.left, area.top, area.right, area.bottom);
  SetBlendModeAndParam(mode, param);
  SetDrawBrightnessPacked(brightness);
}

int PresentDirect3D(GraphicsCoreState& core, const RECT* rect, const RECT& mapped,
                    const RECT& source, const RECT& destination, bool doubled) {
  FlushVertexBatch();
  EndDeviceScene();
  if (core.device == nullptr) return -1;
  if (core.subBackBuffer != nullptr &&
      FAILED(core.device->StretchRect(core.subBackBuffer, nullptr, core.backBuffer, nullptr,
                                      D3DTEXF_NONE)))
    return -1;
  if (core.swapChain == nullptr) return 0;
  HWND window = hostCallTable.getWindowHandle();
  uint64_t start = GetMicrosecondCount(0);
  HRESULT result;
  if (hostCallTable.isWindowedMode()) {
    if (rect == nullptr) {
      core.lastSourceRect = source;
      result = core.swapChain->Present(&core.lastSourceRect, &destination, window, nullptr, 0);
    } else {
      result = core.swapChain->Present(&mapped, rect, window, nullptr, 0);
    }
  } else if (!doubled) {
    result = core.swapChain->Present(nullptr, nullptr, window, nullptr, 0);
  } else {
    result = core.swapChain->Present(&source, &destination, window, nullptr, 0);
  }
  if (FAILED(result)) return -1;
  if (hostCallTable.getRunWhileInactive() && !GetDrawSettings()->noVerticalSync &&
      GetMicrosecondCount(0) - start < kPresentWaitedMicroseconds)
    WaitVerticalBlankPaced();
  return 0;
}

int PresentSoftware(GraphicsCoreState& core, const RECT* rect, const RECT& mapped,
                    const RECT& destination, bool doubled) {
  const MEMIMG* screen = GetSoftwareScreenImage(kSoftwareScreenPrimary);
  if (screen == nullptr) return 0;
  if (!GetDrawSettings()->noVerticalSync) WaitVerticalBlankPaced();
  const ColorFormat* format = screen->body->format;
  struct {
    BITMAPINFOHEADER header;
    DWORD masks[3];
  } info{};
  info.header.biSize = 40;
  // The screen's rows are padded: the window reads whole padded rows and shows the screen's width.
  info.header.biWidth = screen->body->pitch / (format->bitDepth / 8);
  info.header.biHeight = -core.screenHeight;
  info.header.biPlanes = 1;
  info.header.biBitCount = format->bitDepth;
  info.header.biCompression = BI_BITFIELDS;
  info.masks[0] = format->redMask;
  info.masks[1] = format->greenMask;
  info.masks[2] = format->blueMask;
  const BITMAPINFO* bitmapInfo = reinterpret_cast<const BITMAPINFO*>(&info);
  HWND window = hostCallTable.getWindowHandle();
  HDC dc = GetDC(window);
  if (dc == nullptr) return 0;
  const void* pixels = screen->pixels;
  if (doubled) {
    core.lastSourceRect = RECT{0, 0, kDoubledWidth, kDoubledHeight};
    // A bottom-up image counts its rows from the bottom: the top quarter lies from that row up.
    StretchDIBits(dc, 0, 0, kDoubledWidth, kDoubledHeight, 0, kDoubledHeight - kEmulatedHeight,
                  kEmulatedWidth, kEmulatedHeight, pixels, bitmapInfo, DIB_RGB_COLORS, SRCCOPY);
  } else if (rect != nullptr) {
    StretchDIBits(dc, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
                  mapped.left, core.screenHeight - mapped.bottom, mapped.right - mapped.left,
                  mapped.bottom - mapped.top, pixels, bitmapInfo, DIB_RGB_COLORS, SRCCOPY);
  } else {
    int width = destination.right - destination.left;
    int height = destination.bottom - destination.top;
    core.lastSourceRect = RECT{0, 0, width, height};
    if (width == core.screenWidth && height == core.screenHeight) {
      SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0, 0,
                        static_cast<UINT>(height), pixels, bitmapInfo, DIB_RGB_COLORS);
    } else {
      StretchDIBits(dc, 0, 0, width, height, 0, 0, core.screenWidth, core.screenHeight, pixels,
                    bitmapInfo, DIB_RGB_COLORS, SRCCOPY);
    }
  }
  ReleaseDC(window, dc);
  return 0;
}

// A layered window is shown from the back buffer read as an image, with the back screen as the
// draw target while it is read; its alpha is used when it has one.
int PresentLayered(const GraphicsCoreState& core) {
  if (!GetDrawSettings()->noVerticalSync) WaitVerticalBlankPaced();
  DrawSettings* settings = GetDrawSettings();
  const int target = settings->drawTarget;
  settings->drawTarget = kDrawTargetBackBuffer;
  RECT whole{0, 0, core.screenWidth, core.screenHeight};
  StandardImage image{};
  int result = -1;
  if (LockDrawTargetPixels(&whole, &image) == 0) {
    result = hostCallTable.presentToLayeredWindow(&image, nullptr, image.format.alphaWidth ? 1 : 0);
    UnlockDrawTargetPixels();
  }
  settings->drawTarget = target;
  return result;
}

}  // namespace

int PresentFrame() { return PresentFrameRect(nullptr); }

int PresentFrameRect(const RECT* rect) {
  GraphicsCoreState& core = GraphicsCore();
  if (!core.initialised || hostCallTable.isQuitRequested()) return -1;
  if (core.deviceLost && RetryLostDevice() != 0) return -1;
  RECT mapped{};
  if (rect != nullptr) {
    const RECT& last = core.lastSourceRect;
    int sourceWidth = last.right - last.left;
    int sourceHeight = last.bottom - last.top;
    mapped.left = rect->left * sourceWidth / core.screenWidth + last.left;
    mapped.right = rect->right * sourceWidth / core.screenWidth + last.left;
    mapped.top = rect->top * sourceHeight / core.screenHeight + last.top;
    mapped.bottom = rect->bottom * sourceHeight / core.screenHeight + last.top;
    if (mapped.left == mapped.right || mapped.top == mapped.bottom) return -1;
  }
  DrawScreenLogOverFrame(core);
  if (hostCallTable.isLayeredWindow()) return PresentLayered(core);

  const bool doubled = IsDoubled(core);
  RECT source{0, 0, core.screenWidth, core.screenHeight};
  RECT destination{0, 0, core.screenWidth, core.screenHeight};
  if (doubled) source = RECT{0, 0, kEmulatedWidth, kEmulatedHeight};
  if (hostCallTable.isWindowedMode() && !doubled) {
    double scaleX = 1;
    double scaleY = 1;
    hostCallTable.getWindowScaleFactors(&scaleX, &scaleY);
    destination.right = static_cast<LONG>(core.screenWidth * scaleX);
    destination.bottom = static_cast<LONG>(core.screenHeight * scaleY);
  }
  if (core.direct3DActive) return PresentDirect3D(core, rect, mapped, source, destination, doubled);
  return PresentSoftware(core, rect, mapped, destination, doubled);
}

int PresentFrameForRepaint() {
  if (!hostCallTable.isWindowedMode() && IsDirect3DMode()) EnsureSubBackBufferCopy();
  return PresentFrameRect(nullptr);
}

void FrontScreenTimerProc(HWND window, UINT, UINT_PTR, DWORD) {
  KillTimer(window, kFrontScreenTimerId);
  if (GetDrawSettings()->drawTarget != kDrawTargetFrontScreen || hostCallTable.isLayeredWindow())
    return;
  if (!hostCallTable.isWindowedMode() && IsDirect3DMode()) EnsureSubBackBufferCopy();
  PresentFrameRect(nullptr);
  SetTimer(window, kFrontScreenTimerId, kFrontScreenTimerPeriod, FrontScreenTimerProc);
}

int CreateSubBackBuffer() {
  GraphicsCoreState& core = GraphicsCore();
  if (core.device == nullptr ||
      FAILED(core.device->CreateRenderTarget(
          static_cast<UINT>(core.screenWidth), static_cast<UINT>(core.screenHeight),
          core.screenFormat, static_cast<D3DMULTISAMPLE_TYPE>(core.multiSampleType),
          static_cast<DWORD>(core.multiSampleQuality), FALSE, &core.subBackBuffer, nullptr))) {
    core.subBackBuffer = nullptr;
    LogWriteText("サブバックバッファの作成に失敗しました\n");
    return -1;
  }
  return 0;
}

int EnsureSubBackBufferCopy() {
  GraphicsCoreState& core = GraphicsCore();
  if (core.subBackBuffer != nullptr) return 0;
  FlushVertexBatch();
  EndDeviceScene();
  if (CreateSubBackBuffer() == -1) return -1;
  core.device->StretchRect(core.backBuffer, nullptr, core.subBackBuffer, nullptr, D3DTEXF_NONE);
  int previous = GetDeviceStateCache().forceResend;
  SetForceResend(1);
  SetRenderTargetAndViewport(core.subBackBuffer);
  SetForceResend(previous);
  return 0;
}

int BeginDeviceScene() {
  GraphicsCoreState& core = GraphicsCore();
  if (core.device == nullptr || core.inScene) return 0;
  core.device->BeginScene();
  core.inScene = 1;
  ForgetVertexBatchDrawSetup();
  return 0;
}

int EndDeviceScene() {
  GraphicsCoreState& core = GraphicsCore();
  if (core.device == nullptr || !core.inScene) return 0;
  core.device->EndScene();
  core.inScene = 0;
  return 0;
}

int IsInDeviceScene() { return GraphicsCore().inScene; }

int MeasureRefreshPeriod() {
  GraphicsCoreState& core = GraphicsCore();
  core.refreshPeriod = -1;
  if (core.directDraw == nullptr) return 0;
  core.directDraw->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr);
  int64_t previousTime = Now();
  int64_t previousInterval = 0;
  int64_t sum = 0;
  int count = 0;
  for (int tries = 0; tries < 60 && count < 10; ++tries) {
    core.directDraw->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr);
    int64_t now = Now();
    int64_t interval = now - previousTime;
    previousTime = now;
    int64_t difference = previousInterval - interval;
    if (difference < 0) difference = -difference;
    if (difference < 1000) {
      sum += interval;
      ++count;
    } else {
      sum = 0;
      count = 0;
    }
    previousInterval = interval;
    if (count >= 10) core.refreshPeriod = static_cast<int32_t>(static_cast<uint32_t>(sum)) / count;
    Sleep(5);
  }
  WaitVerticalBlankPaced();
  return 0;
}

int WaitVerticalBlankPaced() {
  GraphicsCoreState& core = GraphicsCore();
  if (core.directDraw == nullptr) return 0;
  int64_t lead = core.refreshPeriod >= 0 ? core.refreshPeriod - 3000 : 4000;
  if (Now() - core.lastVerticalBlank < lead) {
    Sleep(0);
    while (Now() - core.lastVerticalBlank < lead) Sleep(1);
    core.directDraw->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr);
    core.lastVerticalBlank = Now();
  } else {
    core.directDraw->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr);
    core.lastVerticalBlank = Now();
    Sleep(0);
  }
  return 0;
}
