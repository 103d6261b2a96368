// Window and screen device contexts, device capabilities, stock objects and solid brushes, and
// FillRect on a window's SDL surface.
#include <SDL.h>

#include <algorithm>
#include <new>

#include "platform/win32/gdi.h"
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
  if (!header || header->kind != GDI_OBJECT_BRUSH || header->getObject != GetBrushObject) return nullptr;
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

HGDIOBJ GetStockObject(int object) {
  switch (object) {
    case WHITE_BRUSH: return &stockBrushes[0].header;
    case BLACK_BRUSH: return &stockBrushes[1].header;
    case NULL_BRUSH: return &stockBrushes[2].header;
    default: return nullptr;
  }
}

HBRUSH CreateSolidBrush(COLORREF color) {
  auto* brush = new (std::nothrow) Brush{{GDI_OBJECT_BRUSH, GetBrushObject, DestroyBrush}, color, false};
  return reinterpret_cast<HBRUSH>(brush);
}

int FillRect(HDC dc, const RECT* rect, HBRUSH handle) {
  Brush* brush = AsBrush(handle);
  if (!dc || !rect || !brush) return 0;
  if (brush->hollow) return 1;
  SDL_Window* window = GetPlatformSDLWindow(dc->window);
  RECT client;
  if (!window || !GetClientRect(dc->window, &client) || SDL_GetRenderer(window)) return 1;
  SDL_Surface* surface = SDL_GetWindowSurface(window);
  if (!surface || client.right <= 0 || client.bottom <= 0) return 0;
  // The surface may be larger than the client area when a full-screen window shows a smaller mode.
  auto scaleX = [&](LONG x) { return static_cast<int>(std::clamp<LONG>(x, 0, client.right) * surface->w / client.right); };
  auto scaleY = [&](LONG y) { return static_cast<int>(std::clamp<LONG>(y, 0, client.bottom) * surface->h / client.bottom); };
  SDL_Rect area{scaleX(rect->left), scaleY(rect->top), 0, 0};
  area.w = scaleX(rect->right) - area.x;
  area.h = scaleY(rect->bottom) - area.y;
  if (area.w <= 0 || area.h <= 0) return 1;
  COLORREF c = brush->color;
  SDL_FillRect(surface, &area, SDL_MapRGB(surface->format, c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
  SDL_UpdateWindowSurfaceRects(window, &area, 1);
  return 1;
}
