// Pictures shown in a window's client area: the DIB transfers to a window context
// (SetDIBitsToDevice, StretchDIBits) and the Direct3D swap chain's present both land in one
// client image per window, which is shown through the SDL window surface and kept, so that
// headless tests can read back what the window shows.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32/gdi_dib.h"

constexpr DWORD SRCCOPY = 0x00CC0020;

// Scales the top-down DIB's source rectangle into the destination rectangle of the window.
// As on the platform, (xSrc, ySrc) is the source rectangle's lower-left corner counted from the
// image's bottom row, whatever the row order. 16 bits (5:5:5 or bit fields), 24 and 32 bits
// (BI_RGB or bit fields) are understood; only SRCCOPY is. Returns the number of source rows
// drawn, 0 on failure. A memory context is not a target of this call.
int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage,
                  DWORD rop);

// SetDIBitsToDevice for a window's context (gdi_dib.cpp hands window contexts over): the
// rectangle is copied unscaled; the rows in `bits` are stored rows startScan on.
int SetDIBitsToWindow(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT lines, const void* bits, const BITMAPINFO* info,
                      UINT colorUse);

// Copies a rectangle of 0xAARRGGBB pixels (rows top-down, `pitch` pixels apart) into the
// window's client area, scaled with the nearest pixel to the destination rectangle (null: the
// whole client area), and shows it. Without a window (null, or no SDL window behind it) the
// client area is as large as the destination or, without one, the source.
bool PresentPixelsToWindow(HWND window, const std::uint32_t* pixels, int pitch, const RECT& source,
                           const RECT* dest);

// The window's client area as the last present left it (0xFFRRGGBB, top-down), made when asked.
// A destroyed window's picture stays until the next window goes.
bool GetWindowPresentedImage(HWND window, int* width, int* height,
                             std::vector<std::uint32_t>* pixels);

// DestroyWindow calls this before the window's SDL surface goes, so its picture can still be read.
void KeepPresentedImage(HWND window);
