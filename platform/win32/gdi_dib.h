// GDI device contexts, the object model that SelectObject, GetObjectA and DeleteObject work on,
// DIB sections, and DIB transfer (SetDIBitsToDevice), which converts any DIB the platform
// understands into the selected DIB section's pixel layout.
#pragma once

#include "platform/win32/win32_types.h"

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;  // positive: rows stored bottom-up; negative: top-down
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};

// The header, then the colour table or, under BI_BITFIELDS, the red, green and blue masks.
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;  // row bytes, rounded up to an even number
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
};

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;
constexpr UINT DIB_RGB_COLORS = 0;

// Every GDI object starts with this header. Folders of the layer that add a kind of object
// (fonts, brushes) give it its own kind number and functions.
enum GdiObjectKind : int {
  GDI_OBJECT_BITMAP = 0,
  GDI_OBJECT_FONT = 1,
  GDI_OBJECT_BRUSH = 2,
  GDI_OBJECT_KIND_COUNT = 3,
};
struct GdiObjectHeader {
  GdiObjectKind kind;
  int (*getObject)(GdiObjectHeader* object, int size, void* out);  // bytes written, 0 on failure
  BOOL (*destroy)(GdiObjectHeader* object);                        // null for stock objects
};

// A device context holds one selected object of each kind; a memory context starts with the stock
// 1 x 1 bitmap and the stock font selected.
struct HDC__ {
  HWND window;
  HGDIOBJ selected[GDI_OBJECT_KIND_COUNT];
};

HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
// Returns the object that was selected before, or null for a bad argument.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Fails for a stock object and for an object selected into a context.
BOOL DeleteObject(HGDIOBJ object);
int GetObjectA(HGDIOBJ object, int size, LPVOID out);

// A DIB section of 1, 4, 8, 16, 24 or 32 bits (BI_RGB, or BI_BITFIELDS for 16 and 32), zeroed.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset);
// For the other stand-ins of the layer: the layout of a DIB section (false for anything else).
struct DibSectionLayout {
  LONG width;
  LONG height;
  WORD bitCount;
  LONG rowBytes;
  const BYTE* bits;
  bool topDown;
};
bool GetDibSectionLayout(HGDIOBJ bitmap, DibSectionLayout* layout);

// Copies a rectangle of a DIB into the bitmap selected into `dc`, converting each pixel. The
// source may be BI_RGB of 1, 2, 4, 8, 16 (5:5:5), 24 or 32 bits or BI_BITFIELDS of 16 or 32 bits;
// its colour table or masks follow its header (biSize bytes); `bits` holds `lines` stored rows
// from `startScan` on. The target must be a
// 24- or 32-bit DIB section. For a bottom-up source, ySrc counts from the bottom row, as on the
// platform. Narrow channels are widened by repeating their top bits. Returns the number of rows
// set, 0 when the source or the target is not supported.
int SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT lines, const void* bits, const BITMAPINFO* info,
                      UINT colorUse);
