// The layered-window update: reads the source context's DIB section, records the call and shows
// the composed picture through the window's client image.
#include "platform/win32/layered_window.h"

#include <cstring>
#include <mutex>

#include "platform/win32/gdi_present.h"
#include "platform/win32/user.h"

namespace {

struct LayeredState {
  std::mutex mutex;
  bool recorded = false;
  LayeredWindowUpdate last{};
};

LayeredState& Layered() {
  static auto* state = new LayeredState;
  return *state;
}

}  // namespace

BOOL UpdateLayeredWindow(HWND window, HDC screenDc, POINT* destination, SIZE* size, HDC sourceDc,
                         POINT* sourcePoint, COLORREF key, BLENDFUNCTION* blend, DWORD flags) {
  if (!IsWindow(window) || !(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_LAYERED)) return FALSE;
  if (!sourceDc || !size || size->cx <= 0 || size->cy <= 0) return FALSE;
  DibSectionLayout dib{};
  if (!GetDibSectionLayout(sourceDc->selected[GDI_OBJECT_BITMAP], &dib) || dib.bitCount != 32)
    return FALSE;
  POINT from = sourcePoint ? *sourcePoint : POINT{0, 0};
  if (from.x < 0 || from.y < 0 || size->cx > dib.width - from.x || size->cy > dib.height - from.y)
    return FALSE;
  bool perPixelAlpha = (flags & ULW_ALPHA) && blend && blend->AlphaFormat == AC_SRC_ALPHA;
  LayeredWindowUpdate update{window,
                             screenDc,
                             destination != nullptr,
                             destination ? *destination : POINT{},
                             *size,
                             sourceDc,
                             from,
                             key,
                             blend != nullptr,
                             blend ? *blend : BLENDFUNCTION{},
                             flags,
                             {}};
  const auto width = static_cast<std::size_t>(size->cx);
  update.bytes.resize(width * 4 * static_cast<std::size_t>(size->cy));
  std::vector<std::uint32_t> shown(width * static_cast<std::size_t>(size->cy));
  // The colour key as a pixel 0x00RRGGBB.
  const std::uint32_t keyPixel = (key & 0xFF) << 16 | (key & 0xFF00) | ((key >> 16) & 0xFF);
  for (LONG y = 0; y < size->cy; ++y) {
    LONG stored = dib.topDown ? from.y + y : dib.height - 1 - (from.y + y);
    const BYTE* row = dib.bits + static_cast<std::size_t>(stored) * dib.rowBytes + from.x * 4;
    std::memcpy(update.bytes.data() + static_cast<std::size_t>(y) * width * 4, row, width * 4);
    for (LONG x = 0; x < size->cx; ++x) {
      const BYTE* p = row + x * 4;
      std::uint32_t colour = p[0] | p[1] << 8 | p[2] << 16;
      // Premultiplied colours are the picture over black; a keyed pixel shows nothing but black.
      if (!perPixelAlpha && (flags & ULW_COLORKEY) && colour == keyPixel) colour = 0;
      shown[static_cast<std::size_t>(y) * width + x] = 0xFF000000u | colour;
    }
  }
  RECT source{0, 0, size->cx, size->cy};
  PresentPixelsToWindow(window, shown.data(), size->cx, source, &source);
  std::lock_guard lock(Layered().mutex);
  Layered().last = std::move(update);
  Layered().recorded = true;
  return TRUE;
}

bool GetLastLayeredWindowUpdate(LayeredWindowUpdate* update) {
  std::lock_guard lock(Layered().mutex);
  if (!Layered().recorded || !update) return false;
  *update = Layered().last;
  return true;
}
