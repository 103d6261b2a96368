// The GDI basics of the layer: device contexts of windows and of the screen, device capabilities
// (a 32-bit desktop of the current display mode), stock objects and solid brushes, and FillRect,
// which paints a window's client area through its SDL window surface. DIB sections and DIB
// transfer are in gdi_dib.h.
#pragma once

#include "platform/win32/gdi_dib.h"
#include "platform/win32/gdi_font.h"
#include "platform/win32/win32_types.h"

using COLORREF = DWORD;
constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) |
         (static_cast<COLORREF>(b) << 16);
}

constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int VREFRESH = 116;

constexpr int WHITE_BRUSH = 0;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;

// A context for the window's client area; null names the screen.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
HWND WindowFromDC(HDC dc);
int GetDeviceCaps(HDC dc, int index);

constexpr int NULLREGION = 1;
constexpr int SIMPLEREGION = 2;
constexpr int COMPLEXREGION = 3;
// The box of what the context may paint, in its own coordinates. Windows here never overlap, so
// a window's context paints its whole client area (a null region when that is empty) and the
// screen's the whole screen; never a complex region. 0 for no context.
int GetClipBox(HDC dc, RECT* box);

HGDIOBJ GetStockObject(int object);
HBRUSH CreateSolidBrush(COLORREF color);
// Paints a rectangle of a window's context with a brush (the null brush paints nothing). Only
// window contexts are painted; a window whose SDL window has a renderer is left to it.
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
