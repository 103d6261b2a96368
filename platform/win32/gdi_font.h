// GDI fonts over FreeType and fontconfig: CreateFontA, the text metrics of the font selected into a
// context, and glyph bitmaps by GetGlyphOutlineA. A positive height is the character cell height
// (ascent plus descent). Face names and character codes are in the code page of the font's
// character set; "ＭＳ ゴシック" (and "MS Gothic") is IPA Gothic.
#pragma once

#include "platform/win32/gdi_dib.h"
#include "platform/win32/win32_types.h"

constexpr DWORD ANSI_CHARSET = 0;
constexpr DWORD DEFAULT_CHARSET = 1;
constexpr DWORD SHIFTJIS_CHARSET = 128;
constexpr DWORD HANGEUL_CHARSET = 129;
constexpr DWORD GB2312_CHARSET = 134;
constexpr DWORD CHINESEBIG5_CHARSET = 136;
constexpr DWORD OUT_DEFAULT_PRECIS = 0;
constexpr DWORD CLIP_DEFAULT_PRECIS = 0;
constexpr DWORD NONANTIALIASED_QUALITY = 3;
constexpr DWORD FIXED_PITCH = 1;
constexpr int SYSTEM_FONT = 13;

constexpr UINT GGO_BITMAP = 1;
constexpr UINT GGO_GRAY4_BITMAP = 5;
constexpr DWORD GDI_ERROR = 0xFFFFFFFFu;

struct TEXTMETRICA {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
  LONG tmOverhang;
  LONG tmDigitizedAspectX;
  LONG tmDigitizedAspectY;
  BYTE tmFirstChar;
  BYTE tmLastChar;
  BYTE tmDefaultChar;
  BYTE tmBreakChar;
  BYTE tmItalic;
  BYTE tmUnderlined;
  BYTE tmStruckOut;
  BYTE tmPitchAndFamily;
  BYTE tmCharSet;
};

struct GLYPHMETRICS {
  UINT gmBlackBoxX;
  UINT gmBlackBoxY;
  POINT gmptGlyphOrigin;  // y upward from the baseline
  SHORT gmCellIncX;
  SHORT gmCellIncY;
};

struct FIXED {
  WORD fract;
  SHORT value;
};

struct MAT2 {
  FIXED eM11;
  FIXED eM12;
  FIXED eM21;
  FIXED eM22;
};

// Null only when no font file at all can be opened: an unknown face is mapped to an installed one
// that covers the character set, as the platform's font mapper does.
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision,
                  DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, LPCSTR faceName);
BOOL GetTextMetricsA(HDC dc, TEXTMETRICA* metrics);
// GGO_BITMAP (1 bit, most significant first) or GGO_GRAY4_BITMAP (a byte of 0-16 per pixel), rows
// top-down padded to 4 bytes. Without a buffer (or with size 0) returns the bytes needed; a
// character with no pixels needs 0 and has a 1 x 1 box. GDI_ERROR for anything it cannot do.
DWORD GetGlyphOutlineA(HDC dc, UINT character, UINT format, GLYPHMETRICS* metrics, DWORD bufferSize,
                       LPVOID buffer, const MAT2* matrix);
// The font file a font was made from (tests and the log use it), or null.
const char* GetFontFilePath(HFONT font);
// The stock font a new memory context starts with; it has no metrics and no glyphs.
HGDIOBJ GetStockSystemFont();
