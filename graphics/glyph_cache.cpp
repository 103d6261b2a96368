// The glyph cache of a font: emptying it, (re)making its cache graph, and rasterising characters
// into its cells, oldest cell first, with the edge made by dilating the glyph. Texture caches keep
// white pixels whose alpha is the coverage; memory caches keep the four cell formats the software
// text path composes from.
#include <algorithm>
#include <cstring>

#include "graphics/draw_settings.h"
#include "graphics/font.h"
#include "graphics/graph_handle.h"
#include "graphics/graph_record.h"
#include "graphics/graphics_public.h"
#include "graphics/graphics_state.h"
#include "system/host_call_table.h"
#include "system/log.h"
#include "system/tracked_memory.h"

namespace {

// Half-widths of the edge masks, row by row from the top, for edge sizes 2 to 4. Size 1 is the
// four direct neighbours; 5 and more the whole square.
constexpr int kMask2[] = {1, 2, 2, 2, 1};
constexpr int kMask3[] = {0, 2, 2, 3, 2, 2, 0};
constexpr int kMask4[] = {2, 3, 4, 4, 4, 4, 4, 3, 2};

// Calls `visit(dx, dy)` for every position of the edge neighbourhood of a glyph pixel.
template <class Visit>
void ForEachEdgePosition(int edge, Visit visit) {
  if (edge <= 0) return;
  if (edge == 1) {
    visit(-1, 0);
    visit(1, 0);
    visit(0, -1);
    visit(0, 1);
    return;
  }
  const int* halfWidths = edge == 2 ? kMask2 : edge == 3 ? kMask3 : edge == 4 ? kMask4 : nullptr;
  for (int dy = -edge; dy <= edge; ++dy) {
    const int half = halfWidths ? halfWidths[dy + edge] : edge;
    for (int dx = -half; dx <= half; ++dx) visit(dx, dy);
  }
}

bool BitSet(const uint8_t* row, int c) { return (row[c >> 3] >> (7 - (c & 7))) & 1; }

struct CellWriter {
  FontRecord* record;
  int x0;  // cell position in the cache image or the memory cache
  int y0;
  const uint8_t* bitmap;
  int pitch;
  int width;  // clipped to the cell
  int height;
  bool mono;

  int Level(int c, int r) const {
    const uint8_t* row = bitmap + static_cast<ptrdiff_t>(r) * pitch;
    return mono ? (BitSet(row, c) ? 16 : 0) : std::min<int>(row[c], 16);
  }

  uint8_t* MemoryByte(int x, int y) const {
    return record->memoryCache + static_cast<ptrdiff_t>(y0 + y) * record->memoryCachePitch + x;
  }

  uint16_t* Pixel(int x, int y) const {
    StandardImage& image = record->cacheImage;
    return reinterpret_cast<uint16_t*>(image.pixels + static_cast<ptrdiff_t>(y0 + y) * image.pitch +
                                       static_cast<ptrdiff_t>(x0 + x) * 2);
  }

  void WriteMemory() const {
    const int e = (record->type & kFontTypeEdge) ? record->edgeSize : 0;
    switch (record->type) {
      case 0: {
        const int bytes = std::min(record->memoryCachePitch, pitch);
        for (int r = 0; r < height; ++r)
          std::memcpy(MemoryByte(0, r), bitmap + static_cast<ptrdiff_t>(r) * pitch, bytes);
        // Bits past the glyph's clipped width would show once the cell is drawn wider.
        for (int r = 0; r < height; ++r)
          for (int c = width; c < record->memoryCachePitch * 8 && c < pitch * 8; ++c)
            MemoryByte(c >> 3, r)[0] &= static_cast<uint8_t>(~(0x80 >> (c & 7)));
        break;
      }
      case 2:
        for (int r = 0; r < height; ++r)
          for (int c = 0; c < width; ++c)
            if (int v = Level(c, r); v > 0) *MemoryByte(c, r) = static_cast<uint8_t>(v - 1);
        break;
      case 1:
        for (int r = 0; r < height; ++r)
          for (int c = 0; c < width; ++c) {
            if (Level(c, r) == 0) continue;
            *MemoryByte(e + c, e + r) = 1;
            ForEachEdgePosition(e, [&](int dx, int dy) {
              uint8_t* b = MemoryByte(e + c + dx, e + r + dy);
              if (*b != 1) *b = 2;
            });
          }
        break;
      case 3:
        for (int r = 0; r < height; ++r)
          for (int c = 0; c < width; ++c) {
            const int v = Level(c, r);
            if (v == 0) continue;
            uint8_t* b = MemoryByte(e + c, e + r);
            *b = static_cast<uint8_t>((*b & 0xF0) | (v - 1));
            ForEachEdgePosition(e, [&](int dx, int dy) {
              uint8_t* n = MemoryByte(e + c + dx, e + r + dy);
              if ((*n >> 4) < v - 1) *n = static_cast<uint8_t>((*n & 0x0F) | ((v - 1) << 4));
            });
          }
        break;
    }
  }

  void WriteTexture() const {
    const ColorFormat& format = record->cacheImage.format;
    const uint16_t alpha = static_cast<uint16_t>(format.alphaMask);
    const uint16_t white =
        static_cast<uint16_t>(format.redMask | format.greenMask | format.blueMask);
    auto level = [&](int v) -> uint16_t {
      if (v == 0) return white;
      return static_cast<uint16_t>(((v << (format.alphaWidth + format.alphaShift - 4)) - 1) |
                                   white);
    };
    const int e = (record->type & kFontTypeEdge) ? record->edgeSize : 0;
    const int half = record->cacheWidth;
    switch (record->type) {
      case 0:
        for (int r = 0; r < height; ++r)
          for (int c = 0; c < width; ++c)
            *Pixel(c, r) = Level(c, r) ? static_cast<uint16_t>(alpha | white) : white;
        break;
      case 2:
        for (int r = 0; r < height; ++r)
          for (int c = 0; c < width; ++c) *Pixel(c, r) = level(Level(c, r));
        break;
      case 1:
        for (int r = 0; r < height; ++r)
          for (int c = 0; c < width; ++c) {
            if (Level(c, r) == 0) continue;
            *Pixel(e + c, e + r) = static_cast<uint16_t>(alpha | white);
            ForEachEdgePosition(e, [&](int dx, int dy) {
              uint16_t* p = Pixel(half + e + c + dx, e + r + dy);
              if ((*p & alpha) == 0) *p = static_cast<uint16_t>(alpha | white);
            });
          }
        break;
      case 3: {
        // Levels first (the cell was cleared to 0), coverage combined as 1 - (1 - a)(1 - b).
        for (int r = 0; r < height; ++r)
          for (int c = 0; c < width; ++c) {
            const int v = Level(c, r);
            if (v == 0) continue;
            *Pixel(e + c, e + r) = static_cast<uint16_t>(v);
            ForEachEdgePosition(e, [&](int dx, int dy) {
              uint16_t* n = Pixel(half + e + c + dx, e + r + dy);
              *n = static_cast<uint16_t>((256 - (16 - *n) * (16 - v)) / 16);
            });
          }
        for (int y = 0; y < height + 2 * e; ++y)
          for (int x = 0; x < width + 2 * e; ++x) {
            *Pixel(x, y) = level(*Pixel(x, y));
            *Pixel(half + x, y) = level(*Pixel(half + x, y));
          }
        break;
      }
    }
  }
};

void ClearCell(FontRecord* record, int x0, int y0) {
  const int cell = record->cellSize;
  if (record->textureMode) {
    StandardImage& image = record->cacheImage;
    for (int half = 0; half < ((record->type & kFontTypeEdge) ? 2 : 1); ++half)
      for (int y = 0; y < cell; ++y)
        std::memset(image.pixels + static_cast<ptrdiff_t>(y0 + y) * image.pitch +
                        static_cast<ptrdiff_t>(x0 + half * record->cacheWidth) * 2,
                    0, static_cast<size_t>(cell) * 2);
  } else {
    std::memset(record->memoryCache + static_cast<ptrdiff_t>(y0) * record->memoryCachePitch, 0,
                static_cast<size_t>(record->memoryCachePitch) * cell);
  }
}

void UploadCell(FontRecord* record, int x0, int y0, int width, int height) {
  const int e = (record->type & kFontTypeEdge) ? record->edgeSize : 0;
  if (e == 0 && !(record->type & kFontTypeEdge)) {
    const RECT cell{x0, y0, x0 + record->cellSize, y0 + record->cellSize};
    TransferImageRectToGraph(nullptr, &record->cacheImage, nullptr, &cell, x0, y0,
                             record->cacheGraph, 0);
    return;
  }
  const RECT box{x0, y0, x0 + width + 2 * e, y0 + height + 2 * e};
  TransferImageRectToGraph(nullptr, &record->cacheImage, nullptr, &box, x0, y0, record->cacheGraph,
                           0);
  const RECT right{box.left + record->cacheWidth, box.top, box.right + record->cacheWidth,
                   box.bottom};
  TransferImageRectToGraph(nullptr, &record->cacheImage, nullptr, &right, x0 + record->cacheWidth,
                           y0, record->cacheGraph, 0);
}

// A slot whose character could not be fetched draws nothing and does not move the pen, rather
// than showing the evicted character.
void MakeSlotEmpty(GlyphSlot* slot) {
  slot->xOffset = slot->topOffset = slot->advance = 0;
  slot->width = slot->height = 0;
}

}  // namespace

int ResetFontGlyphCache(int font) {
  FontRecord* record = GetFontRecord(font);
  if (record == nullptr) return -1;
  std::memset(record->codes, 0, sizeof(record->codes));
  std::memset(record->slots, 0, sizeof(record->slots));
  for (int i = 0; i < kGlyphSlotCount; ++i) record->slots[i].slotIndex = i;
  record->slots[record->slotCount].slotIndex = -1;
  record->ringCursor = 0;
  return 0;
}

int CreateFontCacheGraph(int font) {
  FontRecord* record = GetFontRecord(font);
  if (record == nullptr) return -1;
  if (record->cacheGraphLost != 1) return 0;
  record->cacheGraphLost = 0;
  const int emptyAlpha = GetEmptyGraphAlpha();
  const int alphaTest = GetUseAlphaTestFormat();
  const int colorBits = GetCreateGraphColorBits();
  const int hardware = GetUseHardwareGraphics();
  const bool antiAliased = (record->type & kFontTypeAntiAliased) != 0;
  const bool edge = (record->type & kFontTypeEdge) != 0;
  SetEmptyGraphAlpha(antiAliased ? 1 : 0);
  SetUseAlphaTestFormat(antiAliased ? 0 : 1);
  SetCreateGraphColorBits(16);
  SetUseHardwareGraphics(1);
  if (record->edgeGraph >= 0 && IsGraphHandleLive(record->edgeGraph))
    DeleteGraphHandle(record->edgeGraph);
  record->cacheGraph = MakeEmptyGraph(record->cacheWidth * (edge ? 2 : 1), record->cacheHeight);
  record->edgeGraph = -1;
  if (edge && record->cacheGraph >= 0)
    record->edgeGraph = DeriveGraph(record->cacheWidth, 0, record->cacheWidth, record->cacheHeight,
                                    record->cacheGraph);
  SetEmptyGraphAlpha(emptyAlpha);
  SetUseAlphaTestFormat(alphaTest);
  SetCreateGraphColorBits(colorBits);
  SetUseHardwareGraphics(hardware);
  if (record->cacheGraph < 0) {
    record->cacheGraph = -1;
    return -1;
  }
  SetGraphHandleDeletedFlag(record->cacheGraph, &record->cacheGraphLost);
  FillGraphWithColor(record->cacheGraph, 255, 255, 255, 0);
  ResetFontGlyphCache(font);
  return 0;
}

GlyphSlot* RasterizeFontGlyph(int font, int count, const uint8_t* characters) {
  FontRecord* record = GetFontRecord(font);
  if (GetDrawSettings()->drawSuppression || record == nullptr || count < 1 || characters == nullptr)
    return nullptr;
  FontOutlineSource& source = GetFontOutlineSource();
  HDC dc = source.createCompatibleDC(nullptr);
  if (!dc) FatalErrorExit("テキストキャッシュサーフェスのＤＣの取得に失敗しました");
  HGDIOBJ previous = source.selectObject(dc, record->gdiFont);
  if (!previous) {
    source.deleteDC(dc);
    FatalErrorExit("テキストキャッシュサーフェスのＤＣの取得に失敗しました");
  }
  TEXTMETRICA metrics{};
  source.getTextMetrics(dc, &metrics);
  const bool antiAliased = (record->type & kFontTypeAntiAliased) != 0;
  const UINT format = antiAliased ? GGO_GRAY4_BITMAP : GGO_BITMAP;
  const MAT2 identity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};
  const int e = (record->type & kFontTypeEdge) ? record->edgeSize : 0;
  const int room = std::max(record->cellSize - 2 * e, 0);
  GlyphSlot* last = nullptr;
  for (int i = 0; i < count; ++i) {
    const uint8_t first = characters[i * 3];
    const uint8_t second = characters[i * 3 + 1];
    GlyphSlot* slot = &record->slots[record->ringCursor];
    last = slot;
    if (slot->used) {
      slot->codeEntry->present = 0;
      slot->codeEntry->slot = nullptr;
      slot->codeEntry = nullptr;
      slot->used = 0;
    }
    int x0 = 0;
    int y0 = 0;
    GetGlyphCellPosition(record, slot->slotIndex, &x0, &y0);
    ClearCell(record, x0, y0);
    const UINT code = second ? first * 256u + second : first;
    GLYPHMETRICS glyph{};
    const DWORD size = source.getGlyphOutline(dc, code, format, &glyph, 0, nullptr, &identity);
    if (size == GDI_ERROR) {
      LogWriteText("GetGlyphOutline 関数が失敗しました\n");
      MakeSlotEmpty(slot);
      continue;
    }
    slot->advance = glyph.gmCellIncX;
    // A character with no pixels (a blank, or a control character the font draws as nothing) is
    // kept as a box of no size.
    if (IsBlankCharacter(first, second) || size == 0 || glyph.gmBlackBoxY == 0 ||
        glyph.gmBlackBoxX == 0) {
      slot->xOffset = slot->topOffset = 0;
      slot->width = slot->height = 0;
    } else {
      const int pitch = static_cast<int>(size / glyph.gmBlackBoxY) & ~3;
      auto* buffer = static_cast<uint8_t*>(TrackedAllocZeroed(
          static_cast<int64_t>(size) + 2 * static_cast<int64_t>(pitch), __FILE__, __LINE__));
      if (buffer == nullptr)
        FatalErrorExit("アンチエイリアス文字取得用バッファの確保に失敗しました");
      if (source.getGlyphOutline(dc, code, format, &glyph, size, buffer + pitch, &identity) ==
          GDI_ERROR) {
        LogWriteText("GetGlyphOutline 関数が失敗しました\n");
        TrackedFree(buffer);
        MakeSlotEmpty(slot);
        continue;
      }
      // The box is cut to the cell and to what the bitmap's rows hold, so that a glyph wider or
      // taller than its cell never writes into its neighbours or past the cache.
      const int rowsHeld = pitch > 0 ? static_cast<int>(size) / pitch : 0;
      const int columnsHeld = antiAliased ? pitch : pitch * 8;
      const int width = std::min(
          {static_cast<int>(std::min<UINT>(glyph.gmBlackBoxX, 0x7FFF)), room, columnsHeld});
      const int height =
          std::min({static_cast<int>(std::min<UINT>(glyph.gmBlackBoxY, 0x7FFF)), room, rowsHeld});
      slot->xOffset = static_cast<int16_t>(glyph.gmptGlyphOrigin.x);
      slot->topOffset = static_cast<int16_t>(metrics.tmAscent - glyph.gmptGlyphOrigin.y);
      slot->width = static_cast<int16_t>(width);
      slot->height = static_cast<int16_t>(height);
      if (width > 0 && height > 0) {
        const CellWriter writer{record, x0, y0, buffer + pitch, pitch, width, height, !antiAliased};
        if (record->textureMode) {
          writer.WriteTexture();
          UploadCell(record, x0, y0, width, height);
        } else {
          writer.WriteMemory();
        }
      } else {
        slot->width = slot->height = 0;
      }
      TrackedFree(buffer);
    }
    if (e > 0) {
      slot->advance = static_cast<int16_t>(slot->advance + 2 * e);
      slot->width = static_cast<int16_t>(slot->width + 2 * e);
      slot->height = static_cast<int16_t>(slot->height + 2 * e);
    }
    GlyphCodeEntry* entry = &record->codes[first + 256 * second];
    entry->present = 1;
    entry->slot = slot;
    slot->codeEntry = entry;
    slot->used = 1;
    if (++record->ringCursor >= record->slotCount) record->ringCursor = 0;
  }
  source.selectObject(dc, previous);
  source.deleteDC(dc);
  return last;
}
