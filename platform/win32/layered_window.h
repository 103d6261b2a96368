// UpdateLayeredWindow: a layered window's picture handed over whole from a memory context. The
// layer shows it in the window as the composed colours over black (per-pixel alpha: the
// premultiplied colours themselves; a colour key: black where the key is) and keeps the last
// call's arguments and source pixels for tests.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32/gdi.h"

struct BLENDFUNCTION {
  BYTE BlendOp;
  BYTE BlendFlags;
  BYTE SourceConstantAlpha;
  BYTE AlphaFormat;
};
constexpr BYTE AC_SRC_OVER = 0x00;
constexpr BYTE AC_SRC_ALPHA = 0x01;
constexpr DWORD ULW_COLORKEY = 0x00000001;
constexpr DWORD ULW_ALPHA = 0x00000002;
constexpr DWORD ULW_OPAQUE = 0x00000004;

// Fails for a window without WS_EX_LAYERED, a source context without a 32-bit DIB section, and a
// size or source point outside that DIB. The window keeps its own place and size.
BOOL UpdateLayeredWindow(HWND window, HDC screenDc, POINT* destination, SIZE* size, HDC sourceDc,
                         POINT* sourcePoint, COLORREF key, BLENDFUNCTION* blend, DWORD flags);

// The last successful call, its source rectangle's pixels copied as they were (4 bytes a pixel
// in memory order blue, green, red, alpha; rows top-down).
struct LayeredWindowUpdate {
  HWND window;
  HDC screenDc;
  bool hasDestination;
  POINT destination;
  SIZE size;
  HDC sourceDc;
  POINT sourcePoint;
  COLORREF key;
  bool hasBlend;
  BLENDFUNCTION blend;
  DWORD flags;
  std::vector<std::uint8_t> bytes;
};
bool GetLastLayeredWindowUpdate(LayeredWindowUpdate* update);
