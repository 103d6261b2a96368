// Strings drawn with a font: splitting multibyte text into characters, rasterising a string's
// missing characters in one batch, the string core that measures or draws (horizontally, or in
// vertical lines with each glyph turned a quarter clockwise), the texture path that draws glyph
// cells out of the cache graph, and the public draw entry with its mask and subtract handling.
#include <cmath>
#include <cstring>

#include "graphics/blend_state.h"
#include "graphics/device_state_cache.h"
#include "graphics/draw_settings.h"
#include "graphics/draw_target.h"
#include "graphics/font.h"
#include "graphics/frame_present.h"
#include "graphics/graph_draw.h"
#include "graphics/graph_handle.h"
#include "graphics/graph_record.h"
#include "graphics/graphics_inner.h"
#include "graphics/graphics_public.h"
#include "graphics/graphics_state.h"
#include "graphics/mask.h"
#include "graphics/vertex_batch.h"
#include "system/host_call_table.h"
#include "system/log.h"
#include "system/math.h"
#include "system/text_helpers.h"
#include "system/tracked_memory.h"

// The software composition of one glyph into a MEMIMG (graphics/font_software.cpp).
void ComposeGlyphSoftware(const FontRecord* record, const GlyphSlot* slot, int boxX, int boxY,
                          int vertical, uint32_t textCode, uint32_t edgeCode, MEMIMG* target,
                          const RECT* clip, int transparent);

namespace {

constexpr int kStaticListBytes = 256;

// Lists of strings up to 256 bytes; the string functions run on the main thread only.
uint8_t staticCharacters[kStaticListBytes * 3];
uint8_t staticOutput[kStaticListBytes * 3];
uint8_t staticMissing[kStaticListBytes * 3];
uint8_t staticMissingCodes[kStaticListBytes * 2];

struct PreparedColor {
  uint32_t code;
  uint32_t packed;
};

// The colour through the draw brightness, in the screen's colour format `format`.
PreparedColor BrightenColor(const ColorFormat* format, uint32_t color) {
  const DrawSettings* settings = GetDrawSettings();
  int r = 0, g = 0, b = 0;
  SplitColorCodeForFormat(format, color, &r, &g, &b);
  r = r * settings->drawBrightness[2] / 255;
  g = g * settings->drawBrightness[1] / 255;
  b = b * settings->drawBrightness[0] / 255;
  return {MakeColorCodeForFormat(format, r, g, b) & ~MakeColorCodeForFormat(format, 0, 0, 0),
          0xFF000000u | static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 |
              static_cast<uint32_t>(b)};
}

// The last colour prepared in each of a string's two roles (text, edge): strings are mostly drawn
// again in the colours of the last, and the result depends on the format (an entry of a fixed
// table), the colour and the brightness alone.
struct PreparedColorMemo {
  const ColorFormat* format = nullptr;
  uint32_t color = 0;
  uint32_t brightness = 0;
  PreparedColor prepared{};
};
PreparedColorMemo textColorMemo, edgeColorMemo;

PreparedColor PrepareColor(const ColorFormat* format, uint32_t color, PreparedColorMemo* memo) {
  const uint32_t brightness = GetDrawBrightnessRGB(GetDrawSettings());
  if (format != nullptr && memo->format == format && memo->color == color &&
      memo->brightness == brightness)
    return memo->prepared;
  const PreparedColor prepared = BrightenColor(format, color);
  *memo = PreparedColorMemo{format, color, brightness, prepared};
  return prepared;
}

// The blend graph settings and the brightness a glyph draw changes: kept, the blend graph switched
// off (the cells are drawn as they are), and given back afterwards.
class KeptGlyphSettings {
 public:
  void Keep() {
    const DrawSettings* settings = GetDrawSettings();
    blendGraph_ = settings->blendGraph;
    borderParam_ = settings->blendBorderParam;
    borderRange_ = settings->blendBorderRange;
    brightness_ = GetDrawBrightnessRGB(settings);
    SetBlendGraph(-1, 0, 0);
  }
  void Restore() const {
    SetBlendGraph(blendGraph_, borderParam_, borderRange_);
    SetDrawBrightnessPacked(brightness_);
  }

 private:
  int blendGraph_ = -1;
  int borderParam_ = 0;
  int borderRange_ = 0;
  uint32_t brightness_ = 0;
};

bool HasEdgeGraph(const FontRecord* record) {
  return (record->type & kFontTypeEdge) && record->edgeGraph >= 0;
}

// A glyph's two passes: the edge graph in the edge colour for edge types, then the cache graph in
// the text colour. draw(graph, textPass) draws the glyph's cell of the graph it is given.
template <class Draw>
void DrawEdgeThenText(const FontRecord* record, const PreparedColor& text,
                      const PreparedColor& edge, Draw draw) {
  if (HasEdgeGraph(record)) {
    SetDrawBrightnessPacked(edge.packed);
    draw(record->edgeGraph, false);
  }
  SetDrawBrightnessPacked(text.packed);
  draw(record->cacheGraph, true);
}

// A turned glyph is drawn with the draw area narrowed to its box (within the current draw area), so
// that nothing of the neighbouring cells shows; the draw area is given back afterwards.
template <class Draw>
void DrawInsideBox(RECT box, Draw draw) {
  const RECT requested = GetRequestedDrawArea();
  const RECT area = GetDrawSettings()->drawArea;
  ClipRectToRect(&box, &area);
  SetDrawClipRect(box.left, box.top, box.right, box.bottom);
  if (box.right > box.left && box.bottom > box.top) draw();
  SetDrawClipRect(requested.left, requested.top, requested.right, requested.bottom);
}

void DrawGlyphHardware(const FontRecord* record, const GlyphSlot* slot, int boxX, int boxY,
                       int vertical, const PreparedColor& text, const PreparedColor& edge) {
  KeptGlyphSettings kept;
  kept.Keep();
  int x0 = 0, y0 = 0;
  GetGlyphCellPosition(record, slot->slotIndex, &x0, &y0);
  const int w = slot->width;
  const int h = slot->height;
  if (!vertical) {
    DrawEdgeThenText(record, text, edge, [&](int graph, bool) {
      DrawGraphPart(boxX, boxY, x0, y0, w, h, graph, 1, 0);
    });
  } else {
    // boxX is the box's right edge R, boxY its top T.
    DrawInsideBox(RECT{boxX - h, boxY, boxX, boxY + w}, [&] {
      const float X0 = static_cast<float>(boxX + y0);
      const float Y0 = static_cast<float>(boxY - x0);
      DrawEdgeThenText(record, text, edge, [&](int graph, bool) {
        int gw = 0, gh = 0;
        GetGraphOrScreenSize(graph, &gw, &gh);
        // The corners are the pixel edges; the draw call moves them by the half pixel of every
        // 2D vertex itself.
        DrawGraphFourCorners(X0, Y0, X0, Y0 + gw, X0 - gh, Y0 + gw, X0 - gh, Y0, graph, 1);
      });
    });
  }
  kept.Restore();
}

// A glyph drawn scaled by (sx, sy); pen is the unrounded pen. Horizontal glyphs are stretched parts
// of the cache. Turned glyphs are drawn from graphs of their cell alone, so that the stretched
// quad takes nothing of the neighbouring cells; the text pass filters bilinearly, and that filter
// is left set.
void DrawScaledGlyphHardware(const FontRecord* record, const GlyphSlot* slot, int x, int y,
                             double pen, double sx, double sy, int vertical,
                             const PreparedColor& text, const PreparedColor& edge) {
  int x0 = 0, y0 = 0;
  GetGlyphCellPosition(record, slot->slotIndex, &x0, &y0);
  const int w = slot->width;
  const int h = slot->height;
  if (!vertical) {
    KeptGlyphSettings kept;
    kept.Keep();
    const double left = x + pen + slot->xOffset * sx;
    const double top = y + slot->topOffset * sy;
    DrawEdgeThenText(record, text, edge, [&](int graph, bool) {
      DrawGraphPartStretched(static_cast<float>(left), static_cast<float>(top),
                             static_cast<float>(left + w * sx), static_cast<float>(top + h * sy),
                             x0, y0, w, h, graph, 1);
    });
    kept.Restore();
    return;
  }
  // Both cells are cut out first: a glyph whose cells cannot be had draws nothing at all.
  const int textCell = DeriveGraph(x0, y0, w, h, record->cacheGraph);
  const int edgeCell = HasEdgeGraph(record) ? DeriveGraph(x0, y0, w, h, record->edgeGraph) : -1;
  if (textCell != -1 && (edgeCell != -1 || !HasEdgeGraph(record))) {
    KeptGlyphSettings kept;
    kept.Keep();
    // The pen's integer part, as for unscaled text; the box's right edge and top.
    const double right = x + (record->lineHeight - slot->topOffset) * sx;
    const double top = y + TruncateDoubleToInt(pen) + slot->xOffset * sy;
    const double across = h * sx;
    const double along = w * sy;
    const RECT box{TruncateDoubleToInt(right - TruncateDoubleToInt(across) - 1),
                   TruncateDoubleToInt(top), TruncateDoubleToInt(right + 1),
                   TruncateDoubleToInt(top + along)};
    DrawInsideBox(box, [&] {
      const float X0 = static_cast<float>(right);
      const float Y0 = static_cast<float>(top);
      const float X1 = static_cast<float>(right - across);
      const float Y1 = static_cast<float>(top + along);
      DrawEdgeThenText(record, text, edge, [&](int, bool textPass) {
        if (textPass) SetDrawFilterMode(1);
        // The cell's top-left on the box's top right, its rows running leftwards; the draw call
        // moves the corners by the half pixel itself.
        DrawGraphFourCorners(X0, Y0, X0, Y1, X1, Y1, X1, Y0, textPass ? textCell : edgeCell, 1);
      });
    });
    kept.Restore();
  }
  if (textCell != -1) DeleteGraphHandle(textCell);
  if (edgeCell != -1) DeleteGraphHandle(edgeCell);
}

bool IsSingleTextureTile(const GraphRecord* graph) {
  return graph != nullptr && graph->image != nullptr && graph->image->textureBacked &&
         graph->movie == -1 && graph->tileCount == 1;
}

// Horizontal glyphs written straight into the VertexBatch with the vertices DrawGraphPart would
// write. The draw is set up once, as a coloured draw, so that the edge and the text of every glyph
// share one batch (white text, the texture times white, is the texture itself); drawing each glyph
// through DrawGraphPart ends the batch at every change between an edge colour and white. Draws that
// need DrawGraphPart's frame (a mask, the subtract emulation, a cache of several tiles, a window
// waiting to be active) go glyph by glyph.
class GlyphRun {
 public:
  bool Begin(const FontRecord* record, const PreparedColor& text, const PreparedColor& edge) {
    textPacked_ = text.packed;
    edgePacked_ = edge.packed;
    const DrawSettings* settings = GetDrawSettings();
    const GraphicsCoreState& core = GraphicsCore();
    if (core.device == nullptr || settings->drawAreaEmpty || !hostCallTable.isEngineRunning() ||
        !hostCallTable.isWindowActive() || GetMaskUseFlag() != 0 ||
        (settings->blendMode == 3 && !core.nativeSubtractBlend))
      return false;
    text_ = GetGraphRecord(record->cacheGraph);
    if (!IsSingleTextureTile(text_)) return false;
    edge_ = nullptr;
    if (HasEdgeGraph(record)) {
      edge_ = GetGraphRecord(record->edgeGraph);
      if (!IsSingleTextureTile(edge_) || edge_->image != text_->image ||
          edge_->tiles[0].imageTile->texture != text_->tiles[0].imageTile->texture)
        return false;
    }
    kept_.Keep();
    Prepare();
    active_ = true;
    return true;
  }
  // Again after a glyph was rasterised in the middle of the string, whose upload may have moved
  // the device's state.
  void Prepare() {
    BeginDeviceScene();
    PrepareDrawState(text_->image, text_->tiles[0].imageTile->texture,
                     kDrawTransparent | kDrawPixelExact | kDrawColoured);
    // The texture's state once for the run; plain textured vertices (no blend graph) let each
    // glyph's vertices be written with the colours worked out once.
    SetBatchTexture(text_->tiles[0].imageTile->texture);
    direct_ = GetDeviceStateCache().draw.vertexType == kVertex2DTextured;
    coloursKnown_ = false;
    // The draw area, the depth and the cells' tile corners hold for the run: each glyph then
    // only clips its box and writes its quads.
    const DrawSettings* settings = GetDrawSettings();
    const GraphRecord* graphs[2] = {edge_, text_};
    const int first = edge_ != nullptr ? 0 : 1;
    shared_ = direct_ && PrepareTilePartRun(&parts_, graphs + first, 2 - first, settings->drawArea,
                                            settings->drawDepth2D) == 0;
  }
  void Draw(int x0, int y0, int boxX, int boxY, int width, int height) {
    if (shared_) {
      const TilePart part{boxX, boxY, x0, y0, width, height};
      WriteParts(&part, 1);
      return;
    }
    if (!direct_) {
      if (edge_ != nullptr) {
        SetDrawBrightnessPacked(edgePacked_);
        WriteGraphPartHardware(edge_, boxX, boxY, x0, y0, width, height);
      }
      SetDrawBrightnessPacked(textPacked_);
      WriteGraphPartHardware(text_, boxX, boxY, x0, y0, width, height);
      return;
    }
    KnowColours();
    const DrawSettings* settings = GetDrawSettings();
    if (edge_ != nullptr)
      WriteSingleTilePartHardware(edge_, settings->drawArea, settings->drawDepth2D, colours_[0],
                                  boxX, boxY, x0, y0, width, height);
    WriteSingleTilePartHardware(text_, settings->drawArea, settings->drawDepth2D, colours_[1], boxX,
                                boxY, x0, y0, width, height);
  }
  // Glyphs of a run whose parts share the run's numbers (shared()), written together.
  void WriteParts(const TilePart* parts, int count) {
    if (count == 0) return;
    KnowColours();
    WriteTileParts(parts_, edge_ != nullptr ? colours_ : colours_ + 1, parts, count);
  }
  bool shared() const { return shared_; }
  bool active() const { return active_; }
  ~GlyphRun() {
    if (active_) kept_.Restore();
  }

 private:
  void KnowColours() {
    if (coloursKnown_) return;
    // The batch colours the brightness gives, as the per-glyph calls would set them; the
    // brightness is left at the text's, as they leave it. The string's colours hold along it.
    SetDrawBrightnessPacked(edgePacked_);
    colours_[0] = GetVertexBatchColor();
    SetDrawBrightnessPacked(textPacked_);
    colours_[1] = GetVertexBatchColor();
    coloursKnown_ = true;
  }

  GraphRecord* text_ = nullptr;
  GraphRecord* edge_ = nullptr;
  KeptGlyphSettings kept_;
  bool active_ = false;
  bool direct_ = false;
  bool coloursKnown_ = false;
  bool shared_ = false;
  TilePartRun parts_{};
  uint32_t colours_[2] = {};
  uint32_t edgePacked_ = 0, textPacked_ = 0;
};

}  // namespace

int PrepareFontString(const char* text, int byteCount, int font, uint8_t* characters,
                      int* characterCount) {
  FontRecord* record = GetFontRecord(font);
  if (record == nullptr || text == nullptr) return -1;
  int n = static_cast<int>(std::strlen(text));
  if (byteCount >= 0 && byteCount < n) n = byteCount;
  uint8_t* missing = staticMissing;
  uint8_t* missingCodes = staticMissingCodes;
  uint8_t* work = nullptr;
  if (n > kStaticListBytes) {
    work = static_cast<uint8_t*>(TrackedAlloc(static_cast<int64_t>(n) * 5, __FILE__, __LINE__));
    if (work == nullptr) return -1;
    missing = work;
    missingCodes = work + static_cast<ptrdiff_t>(n) * 3;
  }
  if (characters == nullptr) characters = n > kStaticListBytes ? nullptr : staticOutput;
  int count = 0;
  int missingCount = 0;
  // One character, listed, and noted as missing (once) while the cache has slots for it.
  auto add = [&](uint8_t first, uint8_t second) {
    if (characters) {
      characters[count * 3] = first;
      characters[count * 3 + 1] = second;
      characters[count * 3 + 2] = 0;
    }
    ++count;
    GlyphCodeEntry& entry = record->codes[first + 256 * second];
    if (!entry.present && missingCount < record->slotCount) [[unlikely]] {
      entry.present = 1;
      missing[missingCount * 3] = first;
      missing[missingCount * 3 + 1] = second;
      missing[missingCount * 3 + 2] = 0;
      missingCodes[missingCount * 2] = first;
      missingCodes[missingCount * 2 + 1] = second;
      ++missingCount;
    }
  };
  for (int i = 0; i < n;) {
    const uint8_t first = static_cast<uint8_t>(text[i]);
    // No code page leads a pair with a byte below 0x80: plain ASCII skips the call.
    if (first < 0x80) [[likely]] {
      ++i;
      add(first, 0);
      continue;
    }
    uint8_t second = 0;
    // A lead byte takes the next byte even past the byte count; at the string's end that is the
    // terminator.
    if (IsLeadByteForCodePage(text + i, record->codePageKind)) {
      second = static_cast<uint8_t>(text[i + 1]);
      i += second ? 2 : 1;
    } else {
      ++i;
    }
    add(first, second);
  }
  for (int i = 0; i < missingCount; ++i)
    record->codes[missingCodes[i * 2] + 256 * missingCodes[i * 2 + 1]].present = 0;
  if (missingCount > 0) RasterizeFontGlyph(font, missingCount, missing);
  if (characterCount) *characterCount = count;
  if (work) TrackedFree(work);
  return 0;
}

int DrawFontStringCore(int mode, int x, int y, int scaling, double scaleX, double scaleY,
                       const char* text, uint32_t color, MEMIMG* target, const RECT* clip,
                       int transparent, int font, uint32_t edgeColor, int byteCount, int vertical,
                       int* size) {
  FontRecord* record = GetFontRecord(font);
  if (GetDrawSettings()->drawSuppression || record == nullptr) return -1;
  if (!(record->textureMode && (mode == 0 || scaling))) {
    scaling = 0;
    scaleX = scaleY = 1.0;
  }
  const double advanceScale = vertical ? scaleY : scaleX;
  const ColorFormat* screenFormat = GetScreenColorCodeFormat();
  const PreparedColor textColor = PrepareColor(screenFormat, color, &textColorMemo);
  const PreparedColor edge = PrepareColor(screenFormat, edgeColor, &edgeColorMemo);
  auto writeSize = [&](int pen) {
    if (size == nullptr) return;
    size[0] = vertical ? record->lineHeight : pen;
    size[1] = vertical ? pen : record->lineHeight;
  };
  // A scale of zero, a negative one (a mirrored or turned-back box the passes do not handle) or one
  // that is no number at all leaves nothing to draw or measure: the string is taken as empty.
  const bool scalesUsable =
      std::isfinite(scaleX) && std::isfinite(scaleY) && scaleX > 0.0 && scaleY > 0.0;
  if (text == nullptr || text[0] == '\0' || !scalesUsable) {
    writeSize(0);
    return 0;
  }
  const int length = static_cast<int>(std::strlen(text));
  if (byteCount < 0 || byteCount > length) byteCount = length;
  uint8_t* list = staticCharacters;
  if (length > kStaticListBytes) {
    list =
        static_cast<uint8_t*>(TrackedAlloc(static_cast<int64_t>(length) * 3, __FILE__, __LINE__));
    if (list == nullptr) return -1;
  }
  int count = 0;
  if (PrepareFontString(text, byteCount, font, list, &count) != 0) {
    if (list != staticCharacters) TrackedFree(list);
    return -1;
  }
  GlyphRun run;
  if (mode == 1 && record->textureMode && !scaling && !vertical) run.Begin(record, textColor, edge);
  double pen = 0.0;
  int i = 0;
  if (run.active() && run.shared()) {
    // The run's glyphs (horizontal, unscaled, drawn) while they are in the cache, their parts
    // gathered and written a number at a time: nothing here looks at the batch, and they are
    // written before the loop below takes over from a glyph that is not in the cache.
    constexpr int kGathered = 64;
    TilePart parts[kGathered];
    int gathered = 0;
    const GlyphCodeEntry* const codes = record->codes;
    const int spacing = record->spacing;
    for (; i < count; ++i) {
      const uint8_t first = list[i * 3];
      const uint8_t second = list[i * 3 + 1];
      const GlyphCodeEntry& entry = codes[first + 256 * second];
      const GlyphSlot* slot = entry.slot;
      if (!entry.present || slot == nullptr) [[unlikely]]
        break;
      if (!IsBlankCharacter(first, second) && (slot->width != 0 || slot->height != 0)) {
        int x0 = 0, y0 = 0;
        GetGlyphCellPosition(record, slot->slotIndex, &x0, &y0);
        parts[gathered++] = TilePart{x + TruncateDoubleToInt(pen) + slot->xOffset,
                                     y + slot->topOffset,
                                     x0,
                                     y0,
                                     slot->width,
                                     slot->height};
        if (gathered == kGathered) {
          run.WriteParts(parts, gathered);
          gathered = 0;
        }
      }
      pen += (slot->advance + spacing) * advanceScale;
    }
    run.WriteParts(parts, gathered);
  }
  for (; i < count; ++i) {
    const uint8_t first = list[i * 3];
    const uint8_t second = list[i * 3 + 1];
    GlyphCodeEntry& entry = record->codes[first + 256 * second];
    GlyphSlot* slot = entry.slot;
    if (!entry.present) {
      slot = RasterizeFontGlyph(font, 1, list + i * 3);
      if (run.active()) run.Prepare();
    }
    if (slot == nullptr) {
      LogPrintf("テキストキャッシュの作成に失敗しました");
      if (list != staticCharacters) TrackedFree(list);
      return -1;
    }
    const int penInteger = TruncateDoubleToInt(pen);
    if (mode == 1 && !IsBlankCharacter(first, second) && (slot->width != 0 || slot->height != 0)) {
      const int boxX =
          vertical ? x + record->lineHeight - slot->topOffset : x + penInteger + slot->xOffset;
      const int boxY = vertical ? y + penInteger + slot->xOffset : y + slot->topOffset;
      if (run.active()) {
        int x0 = 0, y0 = 0;
        GetGlyphCellPosition(record, slot->slotIndex, &x0, &y0);
        run.Draw(x0, y0, boxX, boxY, slot->width, slot->height);
      } else if (record->textureMode) {
        if (scaling) {
          DrawScaledGlyphHardware(record, slot, x, y, pen, scaleX, scaleY, vertical, textColor,
                                  edge);
        } else {
          DrawGlyphHardware(record, slot, boxX, boxY, vertical, textColor, edge);
        }
      } else if (target != nullptr) {
        ComposeGlyphSoftware(record, slot, boxX, boxY, vertical, textColor.code, edge.code, target,
                             clip, transparent);
      }
    }
    pen += (slot->advance + record->spacing) * advanceScale;
  }
  writeSize(TruncateDoubleToInt(pen));
  if (list != staticCharacters) TrackedFree(list);
  return TruncateDoubleToInt(pen);
}

int DrawFontStringHardware(int x, int y, const char* text, uint32_t color, int font,
                           uint32_t edgeColor, int vertical) {
  FontRecord* record = GetFontRecord(font);
  if (record == nullptr || !record->textureMode) return 0;
  if (record->cacheGraphLost) CreateFontCacheGraph(font);
  const RECT area = GetDrawSettings()->drawArea;
  DrawFontStringCore(1, x, y, 0, 1.0, 1.0, text, color, nullptr, &area, 1, font, edgeColor, -1,
                     vertical, nullptr);
  return 0;
}

int DrawStringWithFontHandle(int x, int y, const char* text, uint32_t color, int font,
                             uint32_t edgeColor, int vertical) {
  DrawSettings* settings = GetDrawSettings();
  if (text == nullptr || text[0] == '\0' || settings->drawSuppression || settings->drawAreaEmpty)
    return 0;
  FontRecord* record = GetFontRecord(font);
  if (record == nullptr) {
    LogWriteText("フォントハンドル値が異常です\n");
    return -1;
  }
  hostCallTable.waitWhileWindowInactive();
  const bool subtract = settings->blendMode == 3;
  const bool mask = GetMaskUseFlag() != 0;
  RECT area{};
  if ((subtract && record->textureMode) || mask || settings->drawTarget == kDrawTargetFrontScreen) {
    // The line height, not the size: an edge or a tall face reaches below size + 3.
    const int across =
        record->lineHeight > record->size + 3 ? record->lineHeight : record->size + 3;
    area = vertical ? RECT{x, y, x + across, settings->drawArea.bottom}
                    : RECT{x, y, settings->drawArea.right, y + across};
    if (area.left >= settings->drawArea.right) return 0;
    if (mask) BeginMaskDraw(&area);
  }
  int result = 0;
  if (subtract && !GraphicsCore().nativeSubtractBlend) {
    if (record->textureMode) {
      BeginSubtractBlendEmulation(&area);
      result = DrawFontStringHardware(x, y, text, color, font, edgeColor, vertical);
      EndSubtractBlendEmulation(&area);
    } else {
      result = DrawFontStringSoftware(x, y, text, color, font, edgeColor, vertical);
    }
  } else if (record->textureMode) {
    result = DrawFontStringHardware(x, y, text, color, font, edgeColor, vertical);
  } else {
    result = DrawFontStringSoftware(x, y, text, color, font, edgeColor, vertical);
  }
  if (mask) EndMaskDraw(&area);
  return result;
}
