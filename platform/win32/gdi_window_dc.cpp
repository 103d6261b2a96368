// Window and screen device contexts, device capabilities, stock objects and solid brushes, and
// FillRect into a window's client image.
#include <algorithm>
#include <cstdint>
#include <new>

#include "platform/win32/gdi.h"
#include "platform/win32/gdi_present.h"
#include "platform/win32/user.h"

namespace {

struct Brush {
  GdiObjectHeader header;
  COLORREF color;
  bool hollow;
};

int GetBrushObject(GdiObjectHeader*, int, void*) { return 0; }

BOOL DestroyBrush(GdiObjectHeader* object) {
  delete reinterpret_cast<Brush*>(object);
  return TRUE;
}

Brush stockBrushes[] = {
    {{GDI_OBJECT_BRUSH, GetBrushObject, nullptr}, RGB(255, 255, 255), false},
    {{GDI_OBJECT_BRUSH, GetBrushObject, nullptr}, RGB(0, 0, 0), false},
    {{GDI_OBJECT_BRUSH, GetBrushObject, nullptr}, 0, true},
};

Brush* AsBrush(HGDIOBJ object) {
  auto* header = static_cast<GdiObjectHeader*>(object);
  if (!header || header->kind != GDI_OBJECT_BRUSH || header->getObject != GetBrushObject)
    return nullptr;
  return reinterpret_cast<Brush*>(header);
}

}  // namespace

HDC GetDC(HWND window) {
  if (window && !IsWindow(window)) return nullptr;
  auto* dc = new (std::nothrow) HDC__{};
  if (dc) dc->window = window;
  return dc;
}

int ReleaseDC(HWND, HDC dc) {
  if (!dc) return 0;
  delete dc;
  return 1;
}

HWND WindowFromDC(HDC dc) { return dc ? dc->window : nullptr; }

int GetDeviceCaps(HDC dc, int index) {
  if (!dc) return 0;
  DEVMODEA mode{};
  if (!EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode)) return 0;
  switch (index) {
    case HORZRES: return static_cast<int>(mode.dmPelsWidth);
    case VERTRES: return static_cast<int>(mode.dmPelsHeight);
    case BITSPIXEL: return static_cast<int>(mode.dmBitsPerPel);
    case PLANES: return 1;
    case VREFRESH: return static_cast<int>(mode.dmDisplayFrequency);
    default: return 0;
  }
}

int GetClipBox(HDC dc, RECT* box) {
  if (!dc || !box) return 0;
  RECT area{};
  if (dc->window) {
    if (!GetClientRect(dc->window, &area)) return 0;
  } else {
    area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  *box = area;
  return area.right > area.left && area.bottom > area.top ? SIMPLEREGION : NULLREGION;
}

HGDIOBJ GetStockObject(int object) {
  switch (object) {
    case WHITE_BRUSH: return &stockBrushes[0].header;
    case BLACK_BRUSH: return &stockBrushes[1].header;
    case NULL_BRUSH: return &stockBrushes[2].header;
    case SYSTEM_FONT: return GetStockSystemFont();
    default: return nullptr;
  }
}

HBRUSH CreateSolidBrush(COLORREF color) {
  auto* brush =
      new (std::nothrow) Brush{{GDI_OBJECT_BRUSH, GetBrushObject, DestroyBrush}, color, false};
  return reinterpret_cast<HBRUSH>(brush);
}

int FillRect(HDC dc, const RECT* rect, HBRUSH handle) {
  Brush* brush = AsBrush(handle);
  if (!dc || !rect || !brush) return 0;
  if (brush->hollow || !dc->window) return 1;
  // Painted into the window's client image like every other picture, so the window and a
  // read-back both show it.
  const COLORREF c = brush->color;
  const std::uint32_t pixel = 0xFF000000u | ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
  const RECT one{0, 0, 1, 1};
  PresentPixelsToWindow(dc->window, &pixel, 1, one, rect);
  return 1;
}
