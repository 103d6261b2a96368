// Font handles: the 40-slot table of FontRecords, font creation with its defaults, character-set
// and face fallbacks and cache sizing, deletion, the small queries, the default font the font
// system always keeps, and the font system's start, end and rebuild.
#include <cstring>
#include <new>

#include "graphics/font.h"
#include "graphics/font_system.h"
#include "graphics/graph_record.h"
#include "graphics/graphics_public.h"
#include "graphics/graphics_state.h"
#include "graphics/screen_mode.h"
#include "system/engine_handle.h"
#include "system/host_call_table.h"
#include "system/log.h"
#include "system/text_helpers.h"
#include "system/tracked_memory.h"

namespace {

constexpr int kCheckLimit = 2048;
constexpr int kTextureCacheSide = 512;
constexpr int kMemoryCacheBytes = 0x50000;
constexpr int kMemoryCacheMinimumSlots = 20;
constexpr int kTextureCacheMinimumSlots = 10;

struct FontSystemState {
  FontRecord* table[kFontHandleSlotCount];
  int32_t nextCheck;
  int32_t memoryCacheSwitch;
  int32_t cacheCharacterCount;
  int32_t defaultFont;
  DefaultFontSettings defaults;
};

FontSystemState fonts;

constexpr FontOutlineSource kPlatformOutlineSource = {
    CreateFontA, DeleteObject,    CreateCompatibleDC, SelectObject,
    DeleteDC,    GetTextMetricsA, GetGlyphOutlineA,
};
FontOutlineSource outlineSource = kPlatformOutlineSource;

constexpr DWORD kCharSetByKind[5] = {DEFAULT_CHARSET, SHIFTJIS_CHARSET, HANGEUL_CHARSET,
                                     CHINESEBIG5_CHARSET, GB2312_CHARSET};

DWORD CharSetOfKind(int kind) {
  return kind >= 0 && kind < 5 ? kCharSetByKind[kind] : DEFAULT_CHARSET;
}

// "ＭＳ ゴシック" in the engine's code page.
const char kDefaultFace[] = "ＭＳ ゴシック";

int MakeFontHandle(int slot, int check) { return MakeEngineHandle(kFontHandle, check, slot); }

HFONT MakeGdiFont(const FontRecord* record, DWORD charSet, int italic, const char* face) {
  return outlineSource.createFont(record->size, 0, 0, 0, record->thickness * 100,
                                  static_cast<DWORD>(italic), 0, 0, charSet, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, FIXED_PITCH, face);
}

// The GDI font with the fallbacks: a named face in its own character set, then the default and
// the Shift-JIS sets; no face tries the gothic face, then upright in the default set, then any.
HFONT CreateGdiFontWithFallbacks(const FontRecord* record, int kind) {
  const DWORD charSet = CharSetOfKind(kind);
  if (record->faceName[0] != '\0') {
    HFONT font = MakeGdiFont(record, charSet, record->italic, record->faceName);
    if (!font) font = MakeGdiFont(record, DEFAULT_CHARSET, record->italic, record->faceName);
    if (!font) font = MakeGdiFont(record, SHIFTJIS_CHARSET, record->italic, record->faceName);
    if (!font) LogWriteText("指定のフォントの作成に失敗しました\n");
    return font;
  }
  HFONT font = MakeGdiFont(record, charSet, record->italic, kDefaultFace);
  if (!font) font = MakeGdiFont(record, DEFAULT_CHARSET, 0, kDefaultFace);
  if (!font) font = MakeGdiFont(record, DEFAULT_CHARSET, 0, "");
  if (!font) LogWriteText("フォントの作成に失敗しました\n");
  return font;
}

// Cell size and line height from the font's text metrics; false when no context can be had.
bool MeasureGdiFont(FontRecord* record, HFONT font) {
  HDC dc = outlineSource.createCompatibleDC(nullptr);
  if (!dc) {
    LogWriteText("ＤＣの取得に失敗しました\n");
    return false;
  }
  HGDIOBJ previous = outlineSource.selectObject(dc, font);
  TEXTMETRICA metrics{};
  const bool measured = previous != nullptr && outlineSource.getTextMetrics(dc, &metrics);
  if (previous) outlineSource.selectObject(dc, previous);
  outlineSource.deleteDC(dc);
  if (!measured) {
    LogWriteText("ＤＣの取得に失敗しました\n");
    return false;
  }
  const int edge = (record->type & kFontTypeEdge) ? record->edgeSize * 2 : 0;
  int cell = (metrics.tmMaxCharWidth + 2 + edge + 7) / 8 * 8;
  int lineHeight = metrics.tmHeight + edge;
  if (lineHeight & 1) ++lineHeight;
  if (lineHeight > cell) cell = lineHeight;
  record->cellSize = cell;
  record->lineHeight = lineHeight;
  return true;
}

// Texture cells start one pixel in, so only (side - 1) / cell whole cells fit along a side.
int CellsAlong(int side, int cell) { return (side - 1) / cell; }

void SizeTextureCache(FontRecord* record) {
  const int cell = record->cellSize;
  int width = kTextureCacheSide;
  int height = kTextureCacheSide;
  int slots = 0;
  int perColumn = 0;
  if (fonts.cacheCharacterCount <= 0) {
    for (;;) {
      perColumn = CellsAlong(height, cell);
      slots = perColumn * CellsAlong(width, cell);
      if (slots >= kTextureCacheMinimumSlots) break;
      if (width > height)
        height *= 2;
      else
        width *= 2;
    }
  } else {
    int root = 0;
    while ((root + 1) * (root + 1) <= fonts.cacheCharacterCount) ++root;
    const int side = (root + 1) * cell;
    int power = 8;
    while (power < side) power *= 2;
    width = height = power;
    perColumn = side / cell < CellsAlong(height, cell) ? side / cell : CellsAlong(height, cell);
    slots = perColumn * perColumn;
  }
  if (slots > kGlyphSlotLimit) slots = kGlyphSlotLimit;
  record->cacheWidth = width;
  record->cacheHeight = height;
  record->cellsPerColumn = perColumn;
  record->slotCount = slots;
}

// The CPU copy of the cache texture: white colour bits, alpha-test or 4-bit alpha pixels.
bool MakeCacheImage(FontRecord* record) {
  StandardImage& image = record->cacheImage;
  if (record->type & kFontTypeAntiAliased)
    MakeColorFormatFromMasks(&image.format, 16, 0x0F00, 0x00F0, 0x000F, 0xF000);
  else
    MakeColorFormatFromMasks(&image.format, 16, 0x7C00, 0x03E0, 0x001F, 0x8000);
  image.width = record->cacheWidth * ((record->type & kFontTypeEdge) ? 2 : 1);
  image.height = record->cacheHeight;
  image.pitch = image.width * 2;
  image.mipLevelCount = 0;
  image.pixels = static_cast<uint8_t*>(
      TrackedAllocZeroed(static_cast<int64_t>(image.pitch) * image.height, __FILE__, __LINE__));
  return image.pixels != nullptr;
}

bool MakeMemoryCache(FontRecord* record) {
  const int cell = record->cellSize;
  record->memoryCacheDepth = record->type == 0 ? 1 : 8;
  int slots = fonts.cacheCharacterCount;
  if (slots <= 0) {
    slots = kMemoryCacheBytes / (cell * cell);
    if (slots < kMemoryCacheMinimumSlots) slots = kMemoryCacheMinimumSlots;
  }
  if (slots > kGlyphSlotLimit) slots = kGlyphSlotLimit;
  record->slotCount = slots;
  record->cacheWidth = cell;
  record->cacheHeight = cell * slots;
  record->cellsPerColumn = slots;
  record->memoryCachePitch = (record->memoryCacheDepth * cell + 7) / 8;
  record->memoryCache = static_cast<uint8_t*>(TrackedAlloc(
      static_cast<int64_t>(record->memoryCachePitch) * record->cacheHeight, __FILE__, __LINE__));
  if (record->memoryCache == nullptr) {
    LogPrintf("フォントのキャッシュ用メモリの確保に失敗しました in CreateFontToHandle");
    return false;
  }
  return true;
}

void ReleaseFontRecord(int slot) {
  FontRecord* record = fonts.table[slot];
  if (record == nullptr) return;
  if (record->gdiFont) outlineSource.deleteObject(record->gdiFont);
  if (record->memoryCache) TrackedFree(record->memoryCache);
  if (record->cacheGraph >= 0) {
    if (record->edgeGraph >= 0) DeleteGraphHandle(record->edgeGraph);
    DeleteGraphHandle(record->cacheGraph);
  }
  record->cacheGraph = record->edgeGraph = -1;
  if (record->cacheImage.pixels) TrackedFree(record->cacheImage.pixels);
  if (record->deletedFlag) *record->deletedFlag = 1;
  TrackedFree(record);
  fonts.table[slot] = nullptr;
}

bool SameFace(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

}  // namespace

FontOutlineSource& GetFontOutlineSource() { return outlineSource; }
void ResetFontOutlineSource() { outlineSource = kPlatformOutlineSource; }

FontRecord* GetFontRecord(int font) {
  if (font < 0 || GetEngineHandleTypeCode(font) != kFontHandle) return nullptr;
  const int slot = GetEngineHandleSlot(font);
  if (slot >= kFontHandleSlotCount || fonts.table[slot] == nullptr) return nullptr;
  if ((fonts.table[slot]->check << 16) != (font & 0x07FF0000)) return nullptr;
  return fonts.table[slot];
}

int IsFontHandleValid(int font) { return GetFontRecord(font) != nullptr ? 1 : 0; }

int CreateFontToHandle(const char* faceName, int size, int thickness, int type, int codePageKind,
                       int edgeSize, int italic, int slot, int check) {
  if (hostCallTable.isWindowDestroyed()) return -1;
  if (type == -1) type = 0;
  // Types above 3 are not defined: only the edge and anti-aliasing bits count.
  type &= kFontTypeEdge | kFontTypeAntiAliased;
  if (edgeSize > 1) type |= kFontTypeEdge;
  if (size == -1) size = 16;
  if (thickness == -1) thickness = 6;
  if (edgeSize == -1) edgeSize = 1;
  if (codePageKind == -1) codePageKind = GetCodePageKind();
  if (slot == -1) {
    for (slot = 0; slot < kFontHandleSlotCount && fonts.table[slot] != nullptr; ++slot) {
    }
    if (slot == kFontHandleSlotCount) {
      LogPrintf("作成できるフォントハンドル数 %d の限界を超えました", kFontHandleSlotCount);
      return -1;
    }
  } else if (slot < 0 || slot >= kFontHandleSlotCount || fonts.table[slot] != nullptr) {
    return -1;
  }
  auto* record =
      static_cast<FontRecord*>(TrackedAllocZeroed(sizeof(FontRecord), __FILE__, __LINE__));
  if (record == nullptr) {
    LogWriteText("フォント管理用メモリ領域の確保に失敗しました\n");
    return -1;
  }
  fonts.table[slot] = record;
  record->cacheGraph = record->edgeGraph = -1;
  if (GetScreenColorBitDepth() == 8) type &= ~kFontTypeAntiAliased;
  record->edgeSize = edgeSize;
  record->type = type;
  record->size = size;
  record->thickness = thickness;
  record->italic = italic;
  record->spacing = 0;
  if (check < 0) {
    check = fonts.nextCheck;
    fonts.nextCheck = (fonts.nextCheck + 1) % kCheckLimit;
  }
  record->check = check & 0x7FF;
  const int handle = MakeFontHandle(slot, record->check);
  record->textureMode = IsDirect3DMode() && !fonts.memoryCacheSwitch ? 1 : 0;
  // Longer names are cut to what the record holds.
  CopyStringMax(record->faceName, faceName ? faceName : "", kFontFaceNameBytes - 1);
  auto fail = [&]() {
    record->check = 0;
    ReleaseFontRecord(slot);
    return -1;
  };
  HFONT gdiFont = CreateGdiFontWithFallbacks(record, codePageKind);
  if (!gdiFont) return fail();
  if (!MeasureGdiFont(record, gdiFont)) {
    outlineSource.deleteObject(gdiFont);
    return fail();
  }
  record->gdiFont = gdiFont;
  record->codePageKind = codePageKind;
  if (record->textureMode) {
    SizeTextureCache(record);
    record->cacheGraphLost = 1;
    if (CreateFontCacheGraph(handle) == 0) {
      if (!MakeCacheImage(record)) {
        LogWriteText("文字キャッシュ基本イメージ用のメモリの確保に失敗しました\n");
        return fail();
      }
    } else {
      LogWriteText("テクスチャ文字キャッシュの作成に失敗しました\n");
      record->textureMode = 0;
    }
  }
  if (!record->textureMode && !MakeMemoryCache(record)) return fail();
  ResetFontGlyphCache(handle);
  record->deletedFlag = nullptr;
  return handle;
}

int DeleteFontHandle(int font) {
  if (GetFontRecord(font) == nullptr) return -1;
  ReleaseFontRecord(GetEngineHandleSlot(font));
  return 0;
}

int SetFontHandleDeletedFlag(int font, int* flag) {
  FontRecord* record = GetFontRecord(font);
  if (record == nullptr) return -1;
  record->deletedFlag = flag;
  if (flag) *flag = 0;
  return 0;
}

int SetFontHandleCharSpacing(int spacing, int font) {
  FontRecord* record = GetFontRecord(font);
  if (record == nullptr) return -1;
  record->spacing = spacing;
  return 0;
}

int GetFontHandleInfo(char* faceBuffer, int faceBufferSize, int* size, int* thickness, int font) {
  FontRecord* record = GetFontRecord(font);
  if (record == nullptr) return -1;
  if (faceBuffer && faceBufferSize > 0)
    CopyStringMax(faceBuffer, record->faceName, faceBufferSize - 1);
  if (size) *size = record->size;
  if (thickness) *thickness = record->thickness;
  return 0;
}

int GetFontHandleSize(int font) {
  FontRecord* record = GetFontRecord(font);
  return record ? record->size : -1;
}

int GetDefaultFontHandle() { return fonts.defaultFont; }
DefaultFontSettings* GetDefaultFontSettings() { return &fonts.defaults; }

int RefreshDefaultFont() {
  const DefaultFontSettings& d = fonts.defaults;
  if (FontRecord* record = GetFontRecord(fonts.defaultFont);
      record && SameFace(record->faceName, d.faceName) && record->type == d.type &&
      record->size == d.size && record->thickness == d.thickness &&
      record->codePageKind == d.codePageKind && record->edgeSize == d.edgeSize &&
      record->italic == d.italic)
    return 0;
  DeleteFontHandle(fonts.defaultFont);
  fonts.defaultFont = CreateFontToHandle(d.faceName, d.size, d.thickness, d.type, d.codePageKind,
                                         (d.type & kFontTypeEdge) ? d.edgeSize : -1, d.italic);
  SetFontHandleCharSpacing(d.spacing, fonts.defaultFont);
  return 0;
}

int ReinitializeFonts() {
  LogWriteText("フォントの初期化を行います\n");
  IncreaseLogIndent();
  char face[kFontFaceNameBytes] = {};
  const DefaultFontSettings& d = fonts.defaults;
  int size = d.size, thickness = d.thickness, type = d.type, kind = d.codePageKind;
  int edge = d.edgeSize, italic = d.italic;
  if (FontRecord* record = GetFontRecord(fonts.defaultFont)) {
    CopyString(face, record->faceName);
    size = record->size;
    thickness = record->thickness;
    type = record->type;
    kind = record->codePageKind;
    edge = record->edgeSize;
    italic = record->italic;
  }
  for (int slot = 0; slot < kFontHandleSlotCount; ++slot) ReleaseFontRecord(slot);
  fonts.defaultFont = CreateFontToHandle(face, size, thickness, type, kind, edge, italic);
  DecreaseLogIndent();
  LogWriteText("フォントの初期化は正常に終了しました\n");
  return 0;
}

// Every font is made again in its own slot with its own check number, so handles survive a device
// rebuild. A registered deleted flag is handed on to the new font rather than left set: its
// owner would otherwise make a second font and leak this one at every rebuild.
int RecreateAllFonts() {
  for (int slot = 0; slot < kFontHandleSlotCount; ++slot) {
    FontRecord* record = fonts.table[slot];
    if (record == nullptr) continue;
    char face[kFontFaceNameBytes];
    CopyString(face, record->faceName);
    const int check = record->check, size = record->size, thickness = record->thickness;
    const int type = record->type, kind = record->codePageKind, edge = record->edgeSize;
    const int italic = record->italic, spacing = record->spacing;
    int* flag = record->deletedFlag;
    ReleaseFontRecord(slot);
    const int handle =
        CreateFontToHandle(face, size, thickness, type, kind, edge, italic, slot, check);
    if (IsFontHandleValid(handle)) {
      SetFontHandleCharSpacing(spacing, handle);
      if (flag) SetFontHandleDeletedFlag(handle, flag);
    }
  }
  return 0;
}

int StartFontSystem() {
  fonts = FontSystemState{};
  fonts.defaults.size = 16;
  fonts.defaults.thickness = 6;
  fonts.defaults.type = 0;
  fonts.defaults.codePageKind = GetCodePageKind();
  fonts.defaults.edgeSize = 1;
  ReinitializeFonts();
  return 0;
}

int EndFontSystem() {
  ReinitializeFonts();
  DeleteFontHandle(fonts.defaultFont);
  fonts.defaultFont = 0;
  return 0;
}

int GetDefaultFontSizeThickness(int* size, int* thickness) {
  return GetFontHandleInfo(nullptr, 0, size, thickness, fonts.defaultFont);
}

int SetDefaultFontSizeThickness(int size, int thickness) {
  fonts.defaults.size = size == -1 ? 16 : size;
  fonts.defaults.thickness = thickness == -1 ? 6 : thickness;
  RefreshDefaultFont();
  return 0;
}
