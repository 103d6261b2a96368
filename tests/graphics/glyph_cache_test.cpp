// The glyph cache over the fake outline source: the cell formats of the memory and texture caches
// with their edges against values worked out by hand, first-in-first-out eviction, blanks, failed
// fetches, glyphs larger than their cells, and a cache graph deleted behind the font's back.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "graphics/draw_settings.h"
#include "graphics/font.h"
#include "graphics/font_system.h"
#include "graphics/graph_handle.h"
#include "graphics/graphics_public.h"
#include "host/system_state.h"
#include "tests/graphics/font_test_support.h"
#include "tests/graphics/graph_test_support.h"

namespace {

// The memory cell of slot `index`, `width` by `height` from its top left, one string per row:
// type 0 '#' and '.', types 1 and 2 a hex digit per byte ('.' for 0), type 3 two per byte.
std::vector<std::string> MemoryCell(const FontRecord* record, int index, int width, int height) {
  std::vector<std::string> rows;
  for (int y = 0; y < height; ++y) {
    std::string row;
    const uint8_t* bytes = record->memoryCache + static_cast<size_t>(index * record->cellSize + y) *
                                                     record->memoryCachePitch;
    for (int x = 0; x < width; ++x) {
      if (record->memoryCacheDepth == 1) {
        row += ((bytes[x / 8] >> (7 - x % 8)) & 1) ? '#' : '.';
        continue;
      }
      char text[4];
      if (record->type == 3) {
        std::snprintf(text, sizeof text, "%02x", bytes[x]);
        row += (row.empty() ? "" : " ") + std::string(bytes[x] ? text : "..");
      } else {
        std::snprintf(text, sizeof text, "%x", bytes[x]);
        row += bytes[x] ? text : ".";
      }
    }
    rows.push_back(row);
  }
  return rows;
}

// The texture cache image from (x, y), 16-bit pixels in hex.
std::vector<std::string> TextureCell(const FontRecord* record, int x, int y, int width,
                                     int height) {
  std::vector<std::string> rows;
  const StandardImage& image = record->cacheImage;
  for (int j = 0; j < height; ++j) {
    std::string row;
    for (int i = 0; i < width; ++i) {
      const uint8_t* p = image.pixels + static_cast<size_t>(y + j) * image.pitch + (x + i) * 2;
      char text[8];
      std::snprintf(text, sizeof text, "%s%04X", i ? " " : "", p[0] | p[1] << 8);
      row += text;
    }
    rows.push_back(row);
  }
  return rows;
}

struct CellCase {
  const char* name;
  int type;
  int edge;
  std::vector<std::string> glyph;
  std::vector<std::string> cell;       // memory cell, or the texture's left half
  std::vector<std::string> edgeCells;  // texture right half (edge types)
};

class MemoryCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No window was destroyed: fonts are made without an engine here.
    EngineState().windowDestroyed = 0;
    StartFontSystem();
  }
  void TearDown() override { EndFontSystem(); }
  FakeOutlineScope fake_;
};

TEST_F(MemoryCacheTest, CellFormatsAndEdges) {
  const CellCase kCases[] = {
      {"plain bits", 0, 1, {"#.#", ".#.", "#.."}, {"#.#.....", ".#......", "#......."}, {}},
      {"grey levels", 2, 1, {"1g9", "..8"}, {".f8", "..7"}, {}},
      {"edge 1 plus", 1, 1, {"#"}, {".2.", "212", ".2."}, {}},
      {"edge 1 pair", 1, 1, {"##"}, {".22.", "2112", ".22."}, {}},
      {"edge 2 mask", 1, 2, {"#"}, {".222.", "22222", "22122", "22222", ".222."}, {}},
      {"grey edge 1", 3, 1, {"9"}, {".. 80 ..", "80 08 80", ".. 80 .."}, {}},
      {"grey edge 2",
       3,
       2,
       {"g"},
       {".. f0 f0 f0 ..", "f0 f0 f0 f0 f0", "f0 f0 ff f0 f0", "f0 f0 f0 f0 f0", ".. f0 f0 f0 .."},
       {}},
      // Level 1 is no coverage, the same as an empty pixel.
      {"level one", 3, 1, {"#1"}, {".. f0 .. ..", "f0 0f f0 ..", ".. f0 .. .."}, {}},
  };
  for (const CellCase& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeWorld().glyphs['A'] = {0, 6, 5, c.glyph};
    const int font = CreateFontToHandle(nullptr, 8, -1, c.type, -1, c.edge, 0);
    const FontRecord* record = GetFontRecord(font);
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->textureMode, 0);
    const uint8_t list[] = {'A', 0, 0};
    const GlyphSlot* slot = RasterizeFontGlyph(font, 1, list);
    ASSERT_EQ(slot, &record->slots[0]);
    const int e = (c.type & 1) ? c.edge : 0;
    EXPECT_EQ(slot->width, static_cast<int>(c.glyph[0].size()) + 2 * e);
    EXPECT_EQ(slot->height, static_cast<int>(c.glyph.size()) + 2 * e);
    EXPECT_EQ(slot->advance, 5 + 2 * e);
    const int width = c.type == 0 ? 8 : slot->width;
    EXPECT_EQ(MemoryCell(record, 0, width, slot->height), c.cell);
    DeleteFontHandle(font);
  }
}

// The edge masks of the wider edges around a single glyph pixel, '#' in the neighbourhood: sizes 3
// and 4 have their own round masks, 5 and more the whole square.
struct WideEdgeCase {
  int edge;
  std::vector<std::string> mask;
};

const WideEdgeCase kWideEdges[] = {
    {3, {"...#...", ".#####.", ".#####.", "#######", ".#####.", ".#####.", "...#..."}},
    {4,
     {"..#####..", ".#######.", "#########", "#########", "#########", "#########", "#########",
      ".#######.", "..#####.."}},
    {5, std::vector<std::string>(11, std::string(11, '#'))},
    {6, std::vector<std::string>(13, std::string(13, '#'))},
};

// The mask written one cell value at a time: `centre` on the glyph pixel, `in` on the other
// positions of the mask, `out` elsewhere; one more row and column of `out` beyond the box show
// that nothing leaks past it. Values are joined by `separator`.
std::vector<std::string> MaskCell(const std::vector<std::string>& mask, const std::string& centre,
                                  const std::string& in, const std::string& out,
                                  const std::string& separator, bool margin = true) {
  const int side = static_cast<int>(mask.size());
  const int cells = side + (margin ? 1 : 0);
  std::vector<std::string> rows;
  for (int y = 0; y < cells; ++y) {
    std::string row;
    for (int x = 0; x < cells; ++x) {
      if (x) row += separator;
      if (x == side / 2 && y == side / 2)
        row += centre;
      else
        row += (x < side && y < side && mask[y][x] == '#') ? in : out;
    }
    rows.push_back(row);
  }
  return rows;
}

TEST_F(MemoryCacheTest, WideEdgeMasks) {
  for (const WideEdgeCase& c : kWideEdges) {
    for (int type : {1, 3}) {
      SCOPED_TRACE("edge " + std::to_string(c.edge) + " type " + std::to_string(type));
      // Level 9 is coverage 8, in the glyph's low half of the byte and around it in the high half,
      // its own position included.
      FakeWorld().glyphs['A'] = {0, 6, 5, {type == 1 ? "#" : "9"}};
      const int font = CreateFontToHandle(nullptr, 8, -1, type, -1, c.edge, 0);
      const FontRecord* record = GetFontRecord(font);
      ASSERT_NE(record, nullptr);
      ASSERT_GE(record->cellSize, 2 * c.edge + 2);
      EXPECT_EQ(record->lineHeight, 8 + 2 * c.edge);
      const uint8_t list[] = {'A', 0, 0};
      const GlyphSlot* slot = RasterizeFontGlyph(font, 1, list);
      ASSERT_EQ(slot, &record->slots[0]);
      EXPECT_EQ(slot->width, 1 + 2 * c.edge);
      EXPECT_EQ(slot->height, 1 + 2 * c.edge);
      EXPECT_EQ(slot->advance, 5 + 2 * c.edge);
      const int side = 2 * c.edge + 2;
      EXPECT_EQ(MemoryCell(record, 0, side, side), type == 1
                                                       ? MaskCell(c.mask, "1", "2", ".", "")
                                                       : MaskCell(c.mask, "88", "80", "..", " "));
      DeleteFontHandle(font);
    }
  }
}

// Slot metrics: the box from the pen and from the top of the line.
TEST_F(MemoryCacheTest, SlotMetricsBlanksAndFailedFetches) {
  FakeWorld().glyphs['A'] = {-1, 4, 7, {"##", "##"}};
  FakeWorld().glyphs[' '] = {0, 6, 4, {"#"}};  // a blank draws nothing whatever the font says
  FakeWorld().glyphs[0x8140] = {0, 6, 8, {"#"}};
  FakeWorld().glyphs['\t'] = {0, 0, 3, {}};  // no pixels but a box, as control characters have
  FakeWorld().failingCodes = {'X'};
  const int font = CreateFontToHandle(nullptr, 8, -1, 1, -1, 1, 0);
  FontRecord* record = GetFontRecord(font);
  ASSERT_NE(record, nullptr);
  const uint8_t list[] = {'A', 0, 0, ' ', 0, 0, 0x81, 0x40, 0, '\t', 0, 0};
  ASSERT_EQ(RasterizeFontGlyph(font, 4, list), &record->slots[3]);
  const GlyphSlot& a = record->slots[0];
  EXPECT_EQ(a.xOffset, -1);
  EXPECT_EQ(a.topOffset, 2);
  EXPECT_EQ(a.width, 4);
  EXPECT_EQ(a.height, 4);
  EXPECT_EQ(a.advance, 9);
  struct Blank {
    int slot;
    int advance;
  };
  for (const Blank b : {Blank{1, 6}, Blank{2, 10}, Blank{3, 5}}) {
    SCOPED_TRACE(b.slot);
    const GlyphSlot& s = record->slots[b.slot];
    EXPECT_EQ(s.width, 2);
    EXPECT_EQ(s.height, 2);
    EXPECT_EQ(s.advance, b.advance);
    EXPECT_EQ(s.used, 1);
    EXPECT_EQ(MemoryCell(record, b.slot, 3, 3), (std::vector<std::string>{"...", "...", "..."}));
  }
  EXPECT_EQ(record->codes[0x4081].slot, &record->slots[2]);
  EXPECT_EQ(record->ringCursor, 4);

  // A fetch that fails leaves an empty slot that draws nothing and does not move the pen.
  const uint8_t failing[] = {'X', 0, 0};
  const GlyphSlot* slot = RasterizeFontGlyph(font, 1, failing);
  ASSERT_EQ(slot, &record->slots[4]);
  EXPECT_EQ(slot->used, 0);
  EXPECT_EQ(slot->width, 0);
  EXPECT_EQ(slot->advance, 0);
  EXPECT_EQ(record->codes['X'].present, 0);
  EXPECT_EQ(record->ringCursor, 4);
}

TEST_F(MemoryCacheTest, TheOldestGlyphIsEvictedWhenTheCacheIsFull) {
  FakeWorld().maxCharWidth = 200;
  FakeWorld().height = 150;
  const int font = CreateFontToHandle(nullptr, 150, -1, 0, -1, -1, 0);
  FontRecord* record = GetFontRecord(font);
  ASSERT_NE(record, nullptr);
  ASSERT_EQ(record->slotCount, 20);
  for (int i = 0; i < 20; ++i) {
    const uint8_t list[] = {static_cast<uint8_t>('a' + i), 0, 0};
    ASSERT_EQ(RasterizeFontGlyph(font, 1, list), &record->slots[i]);
  }
  EXPECT_EQ(record->ringCursor, 0);
  const uint8_t next[] = {'Z', 0, 0};
  ASSERT_EQ(RasterizeFontGlyph(font, 1, next), &record->slots[0]);
  EXPECT_EQ(record->codes['a'].present, 0);
  EXPECT_EQ(record->codes['a'].slot, nullptr);
  EXPECT_EQ(record->codes['b'].slot, &record->slots[1]);
  EXPECT_EQ(record->codes['Z'].slot, &record->slots[0]);
  EXPECT_EQ(record->slots[0].codeEntry, &record->codes['Z']);
  EXPECT_EQ(record->ringCursor, 1);
}

// A glyph larger than its cell is cut to the cell: its neighbours keep their pixels, and the last
// cell of the cache is not written past.
TEST_F(MemoryCacheTest, GlyphsLargerThanTheirCellsAreCut) {
  FakeWorld().maxCharWidth = 200;
  FakeWorld().height = 150;
  FakeWorld().glyphs['W'] = {0, 100, 300, std::vector<std::string>(260, std::string(260, '#'))};
  for (int type : {0, 1, 2, 3}) {
    SCOPED_TRACE(type);
    const int font = CreateFontToHandle(nullptr, 150, -1, type, -1, (type & 1) ? 2 : -1, 0);
    FontRecord* record = GetFontRecord(font);
    ASSERT_NE(record, nullptr);
    const int cell = record->cellSize;
    for (int i = 0; i < record->slotCount - 1; ++i) {
      const uint8_t list[] = {static_cast<uint8_t>('a' + i), 0, 0};
      RasterizeFontGlyph(font, 1, list);
    }
    const std::vector<std::string> before = MemoryCell(record, record->slotCount - 2, 8, cell);
    const uint8_t list[] = {'W', 0, 0};
    const GlyphSlot* slot = RasterizeFontGlyph(font, 1, list);
    ASSERT_EQ(slot, &record->slots[record->slotCount - 1]);
    EXPECT_LE(slot->width, cell);
    EXPECT_LE(slot->height, cell);
    EXPECT_EQ(MemoryCell(record, record->slotCount - 2, 8, cell), before);
    DeleteFontHandle(font);
  }
}

class TextureCacheTest : public GraphTest {
 protected:
  FakeOutlineScope fake_;
};

TEST_F(TextureCacheTest, CellFormatsAndEdges) {
  Start(32, 0);
  const CellCase kCases[] = {
      {"plain", 0, 1, {"#.", ".#"}, {"FFFF 7FFF", "7FFF FFFF"}, {}},
      {"grey", 2, 1, {"1g", "9."}, {"0FFF FFFF", "8FFF 0FFF"}, {}},
      {"edge",
       1,
       1,
       {"#"},
       {"0000 0000 0000", "0000 FFFF 0000", "0000 0000 0000"},
       {"0000 FFFF 0000", "FFFF 0000 FFFF", "0000 FFFF 0000"}},
      {"grey edge",
       3,
       1,
       {"9", ".", "9"},
       {"0FFF 0FFF 0FFF", "0FFF 8FFF 0FFF", "0FFF 0FFF 0FFF", "0FFF 8FFF 0FFF", "0FFF 0FFF 0FFF"},
       {"0FFF 8FFF 0FFF", "8FFF 0FFF 8FFF", "0FFF BFFF 0FFF", "8FFF 0FFF 8FFF", "0FFF 8FFF 0FFF"}},
      {"edge 2",
       1,
       2,
       {"#"},
       {"0000 0000 0000 0000 0000", "0000 0000 0000 0000 0000", "0000 0000 FFFF 0000 0000",
        "0000 0000 0000 0000 0000", "0000 0000 0000 0000 0000"},
       {"0000 FFFF FFFF FFFF 0000", "FFFF FFFF FFFF FFFF FFFF", "FFFF FFFF FFFF FFFF FFFF",
        "FFFF FFFF FFFF FFFF FFFF", "0000 FFFF FFFF FFFF 0000"}},
  };
  for (const CellCase& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeWorld().glyphs['A'] = {0, 6, 5, c.glyph};
    const int font = CreateFontToHandle(nullptr, 8, -1, c.type, -1, c.edge, 0);
    const FontRecord* record = GetFontRecord(font);
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->textureMode, 1);
    EXPECT_EQ(record->cacheImage.width, record->cacheWidth * ((c.type & 1) ? 2 : 1));
    const uint8_t list[] = {'A', 0, 0};
    const GlyphSlot* slot = RasterizeFontGlyph(font, 1, list);
    ASSERT_EQ(slot, &record->slots[0]);
    EXPECT_EQ(TextureCell(record, 1, 1, slot->width, slot->height), c.cell);
    if (!c.edgeCells.empty()) {
      EXPECT_EQ(TextureCell(record, 1 + record->cacheWidth, 1, slot->width, slot->height),
                c.edgeCells);
    }
    DeleteFontHandle(font);
  }
}

// The texture's edge half marks the whole mask, the glyph's own position included; the glyph half
// only the glyph pixel. Grey types keep white colour bits with the level as alpha over the box.
TEST_F(TextureCacheTest, WideEdgeMasks) {
  Start(32, 0);
  for (const WideEdgeCase& c : kWideEdges) {
    for (int type : {1, 3}) {
      SCOPED_TRACE("edge " + std::to_string(c.edge) + " type " + std::to_string(type));
      FakeWorld().glyphs['A'] = {0, 6, 5, {type == 1 ? "#" : "9"}};
      const int font = CreateFontToHandle(nullptr, 8, -1, type, -1, c.edge, 0);
      const FontRecord* record = GetFontRecord(font);
      ASSERT_NE(record, nullptr);
      ASSERT_EQ(record->textureMode, 1);
      const uint8_t list[] = {'A', 0, 0};
      const GlyphSlot* slot = RasterizeFontGlyph(font, 1, list);
      ASSERT_EQ(slot, &record->slots[0]);
      const int side = 2 * c.edge + 1;
      ASSERT_EQ(slot->width, side);
      // Outside the box the cell keeps the cleared value 0 in both halves, for both types.
      const std::string none = "0000";
      const std::string empty = type == 1 ? "0000" : "0FFF";  // inside the box, no coverage
      const std::string full = type == 1 ? "FFFF" : "8FFF";   // level 9: alpha 8 of A4R4G4B4
      std::vector<std::string> glyph = MaskCell(c.mask, full, empty, empty, " ", false);
      std::vector<std::string> edge = MaskCell(c.mask, full, full, empty, " ", false);
      for (auto* rows : {&glyph, &edge}) {
        for (std::string& row : *rows) row += " " + none;
        rows->push_back(none);
        for (int x = 0; x < side; ++x) rows->back() += " " + none;
      }
      EXPECT_EQ(TextureCell(record, 1, 1, side + 1, side + 1), glyph);
      EXPECT_EQ(TextureCell(record, 1 + record->cacheWidth, 1, side + 1, side + 1), edge);
      DeleteFontHandle(font);
    }
  }
}

// Cells stay inside the cache: the last column and row end at or before its edge.
TEST_F(TextureCacheTest, CacheSizingKeepsEveryCellInside) {
  Start(32, 0);
  struct Case {
    int maxWidth, height;
    int cell, width, cacheHeight, perColumn, slots;
  };
  constexpr Case kCases[] = {
      {16, 16, 24, 512, 512, 21, 441},  {126, 16, 128, 1024, 512, 3, 21},
      {150, 16, 152, 1024, 512, 3, 18}, {202, 16, 208, 1024, 1024, 4, 16},
      {6, 6, 8, 512, 512, 63, 2024},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.maxWidth);
    FakeWorld().maxCharWidth = c.maxWidth;
    FakeWorld().height = c.height;
    const int font = CreateFontToHandle(nullptr, c.height, -1, 0, -1, -1, 0);
    const FontRecord* record = GetFontRecord(font);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->cellSize, c.cell);
    EXPECT_EQ(record->cacheWidth, c.width);
    EXPECT_EQ(record->cacheHeight, c.cacheHeight);
    EXPECT_EQ(record->cellsPerColumn, c.perColumn);
    EXPECT_EQ(record->slotCount, c.slots);
    int x = 0, y = 0;
    GetGlyphCellPosition(record, record->slotCount - 1, &x, &y);
    EXPECT_LE(x + c.cell, record->cacheWidth);
    EXPECT_LE(y + c.cell, record->cacheHeight);
    int width = 0, height = 0;
    EXPECT_EQ(GetGraphOrScreenSize(record->cacheGraph, &width, &height), 0);
    EXPECT_EQ(width, c.width);
    DeleteFontHandle(font);
  }
}

TEST_F(TextureCacheTest, DeletedCacheGraphIsMadeAgainOnTheNextDraw) {
  Start(32, 0);
  const int font = CreateFontToHandle(nullptr, 8, -1, 1, -1, 1, 0);
  FontRecord* record = GetFontRecord(font);
  ASSERT_NE(record, nullptr);
  const int graph = record->cacheGraph;
  ASSERT_TRUE(IsGraphHandleLive(graph));
  DrawFontStringHardware(0, 0, "AB", MakeScreenColorCode(255, 255, 255), font, 0, 0);
  ASSERT_EQ(record->codes['A'].present, 1);
  DeleteGraphHandle(graph);
  EXPECT_EQ(record->cacheGraphLost, 1);
  DrawFontStringHardware(0, 0, "B", MakeScreenColorCode(255, 255, 255), font, 0, 0);
  EXPECT_EQ(record->cacheGraphLost, 0);
  EXPECT_TRUE(IsGraphHandleLive(record->cacheGraph));
  EXPECT_TRUE(IsGraphHandleLive(record->edgeGraph));
  EXPECT_EQ(record->codes['A'].present, 0);
  EXPECT_EQ(record->codes['B'].present, 1);
}

}  // namespace
