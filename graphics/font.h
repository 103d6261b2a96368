// Fonts: font handles (engine handles of type 4) with their FontRecord, each holding a GDI font and
// a glyph cache of square cells (a texture with a CPU copy in Direct3D mode, a bitmap in memory
// otherwise), the glyph rasteriser that fills the cache, and string measuring and drawing. The
// device layer's calls (start, end, rebuild) are in graphics/font_system.h.
#pragma once

#include <cstdint>

#include "files/color_format.h"
#include "platform/win32/gdi.h"
#include "platform/win32/win32_types.h"

struct MEMIMG;

constexpr int kFontHandleSlotCount = 40;
constexpr int kGlyphSlotCount = 2025;  // at most 2024 used, then the sentinel
constexpr int kGlyphSlotLimit = 2024;
constexpr int kGlyphCodeCount = 65536;
constexpr int kFontFaceNameBytes = 256;

// FontType bits.
constexpr int kFontTypeEdge = 1;
constexpr int kFontTypeAntiAliased = 2;

struct GlyphCodeEntry;

struct GlyphSlot {
  uint8_t used;
  int16_t xOffset;    // glyph box from the pen along the line
  int16_t topOffset;  // glyph box below the top of the line
  int16_t advance;
  int32_t slotIndex;  // -1 in the sentinel
  int16_t width;
  int16_t height;
  GlyphCodeEntry* codeEntry;
};

struct GlyphCodeEntry {
  int32_t present;
  GlyphSlot* slot;
};

struct FontRecord {
  int32_t check;
  int* deletedFlag;
  GlyphSlot slots[kGlyphSlotCount];
  GlyphCodeEntry codes[kGlyphCodeCount];  // first byte + 256 × second byte
  int32_t ringCursor;
  int32_t slotCount;
  uint8_t* memoryCache;
  int32_t memoryCachePitch;
  int32_t memoryCacheDepth;  // 1 for type 0, 8 for the others
  char faceName[kFontFaceNameBytes];
  int32_t thickness;
  int32_t size;
  int32_t lineHeight;
  int32_t italic;
  int32_t spacing;
  int32_t cellSize;
  HFONT gdiFont;
  int32_t type;
  int32_t codePageKind;
  int32_t edgeSize;
  int32_t cacheWidth;  // of one half for edge types
  int32_t cacheHeight;
  int32_t cellsPerColumn;
  int32_t cacheGraph;
  int32_t edgeGraph;
  int32_t cacheGraphLost;
  StandardImage cacheImage;
  int32_t textureMode;
};

struct DefaultFontSettings {
  char faceName[128];
  int32_t size;
  int32_t thickness;
  int32_t type;
  int32_t codePageKind;
  int32_t edgeSize;
  int32_t italic;
  int32_t spacing;
};

// The GDI calls through which fonts are made and glyphs fetched. Each defaults to the platform's
// function; a test may put its own outline source in.
struct FontOutlineSource {
  HFONT(*createFont)
  (int height, int width, int escapement, int orientation, int weight, DWORD italic,
   DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision,
   DWORD quality, DWORD pitchAndFamily, LPCSTR faceName);
  BOOL (*deleteObject)(HGDIOBJ object);
  HDC (*createCompatibleDC)(HDC dc);
  HGDIOBJ (*selectObject)(HDC dc, HGDIOBJ object);
  BOOL (*deleteDC)(HDC dc);
  BOOL (*getTextMetrics)(HDC dc, TEXTMETRICA* metrics);
  DWORD(*getGlyphOutline)
  (HDC dc, UINT character, UINT format, GLYPHMETRICS* metrics, DWORD bufferSize, LPVOID buffer,
   const MAT2* matrix);
};
FontOutlineSource& GetFontOutlineSource();
void ResetFontOutlineSource();

// Font handles. -1 in size, thickness, type, code page kind or edge size takes the default; -1 in
// slot or check takes the first free slot and the next check number.
int CreateFontToHandle(const char* faceName, int size, int thickness, int type, int codePageKind,
                       int edgeSize, int italic, int slot = -1, int check = -1);
int DeleteFontHandle(int font);
int SetFontHandleDeletedFlag(int font, int* flag);
int SetFontHandleCharSpacing(int spacing, int font);
// The face name goes into `faceBuffer` of `faceBufferSize` bytes, cut to fit and terminated.
int GetFontHandleInfo(char* faceBuffer, int faceBufferSize, int* size, int* thickness, int font);
int GetFontHandleSize(int font);
int IsFontHandleValid(int font);
FontRecord* GetFontRecord(int font);
int GetDefaultFontHandle();
int RefreshDefaultFont();
int ReinitializeFonts();
DefaultFontSettings* GetDefaultFontSettings();

// The glyph cache.
int ResetFontGlyphCache(int font);
int CreateFontCacheGraph(int font);
// `characters`: count entries of 3 bytes (first byte, second byte or 0, 0). The slot of the last.
GlyphSlot* RasterizeFontGlyph(int font, int count, const uint8_t* characters);
// Where slot `index` of the font's cache starts, in the cache image or the memory cache.
inline void GetGlyphCellPosition(const FontRecord* record, int index, int* x, int* y) {
  const int column = index / record->cellsPerColumn;
  const int row = index % record->cellsPerColumn;
  const int offset = record->textureMode ? 1 : 0;
  *x = offset + column * record->cellSize;
  *y = offset + row * record->cellSize;
}

// Strings.
int DrawStringWithFontHandle(int x, int y, const char* text, uint32_t color, int font,
                             uint32_t edgeColor, int vertical);
int DrawFontStringHardware(int x, int y, const char* text, uint32_t color, int font,
                           uint32_t edgeColor, int vertical);
int DrawFontStringSoftware(int x, int y, const char* text, uint32_t color, int font,
                           uint32_t edgeColor, int vertical);
// Mode 0 measures, 1 draws; the pen's integer part after the last character, or -1.
int DrawFontStringCore(int mode, int x, int y, int scaling, double scaleX, double scaleY,
                       const char* text, uint32_t color, MEMIMG* target, const RECT* clip,
                       int transparent, int font, uint32_t edgeColor, int byteCount, int vertical,
                       int* size);
int PrepareFontString(const char* text, int byteCount, int font, uint8_t* characters,
                      int* characterCount);

// Blank characters advance the pen but are never drawn.
inline bool IsBlankCharacter(uint8_t first, uint8_t second) {
  return (first == 0x20 && second == 0) || (first == 0x81 && second == 0x40);
}
