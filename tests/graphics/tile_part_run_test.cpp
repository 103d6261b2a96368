// A run of glyph parts written with the corners worked out once for the run: for each placement
// (inside the draw area, clipped on each side, on two sides, on all four, fully outside, odd
// sizes, cells at the cache graph's ends, a whole graph) the vertex bytes are those that
// WriteSingleTilePartHardware writes for the edge part and then the text part, byte for byte, on
// textures whose sides are powers of two and on others.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "graphics/font.h"
#include "graphics/graph_draw.h"
#include "graphics/graph_record.h"
#include "graphics/vertex_batch.h"
#include "tests/graphics/font_test_support.h"
#include "tests/graphics/graph_test_support.h"

namespace {

constexpr uint32_t kEdgeColor = 0xFF102030;
constexpr uint32_t kTextColor = 0xFFC0D0E0;
constexpr float kDepth = 0.25f;

struct Placement {
  const char* name;
  RECT area;
  // -1 in sourceX or sourceY: the cell that ends the graph; 0 in width and height: the graph's.
  int x, y, sourceX, sourceY, width, height;
};

class TilePartRunTest : public GraphTest {
 protected:
  FakeOutlineScope fake_;

  // The bytes of the vertices queued by `write`, as the 32-bit words of their fields.
  template <class Write>
  static std::vector<uint32_t> Written(Write write) {
    DiscardVertexBatch();
    write();
    std::vector<uint32_t> words(static_cast<size_t>(GetVertexBatchCount()) *
                                sizeof(Vertex2DTextured) / 4);
    if (!words.empty()) std::memcpy(words.data(), GetVertexBatchVertices(), words.size() * 4);
    DiscardVertexBatch();
    return words;
  }

  // The cache graphs of a font after one string (edge first, null without an edge).
  static void CacheGraphs(int font, GraphRecord** edge, GraphRecord** text) {
    ASSERT_NE(font, -1);
    ASSERT_EQ(DrawStringWithFontHandle(0, 0, "A", 0, font, 0, 0), 0);
    const FontRecord* record = GetFontRecord(font);
    ASSERT_NE(record, nullptr);
    *text = GetGraphRecord(record->cacheGraph);
    *edge = record->edgeGraph >= 0 ? GetGraphRecord(record->edgeGraph) : nullptr;
    ASSERT_NE(*text, nullptr);
    ASSERT_EQ((*text)->tileCount, 1);
  }
};

TEST_F(TilePartRunTest, WritesTheVerticesOfTheSinglePartsByteForByte) {
  Start(32, 0x204060);
  const int edgeFont = CreateFontToHandle(nullptr, 8, -1, kFontTypeEdge, -1, 1, 0);
  const int plainFont = CreateFontToHandle(nullptr, 8, -1, 0, -1, -1, 0);
  GraphRecord *edge = nullptr, *text = nullptr, *noEdge = nullptr, *plain = nullptr;
  CacheGraphs(edgeFont, &edge, &text);
  CacheGraphs(plainFont, &noEdge, &plain);
  ASSERT_NE(edge, nullptr);
  ASSERT_EQ(noEdge, nullptr);
  const RECT area{100, 50, 300, 200};
  const RECT screen{0, 0, 640, 480};
  const Placement placements[] = {
      {"inside", area, 150, 100, 1, 1, 7, 11},
      {"at the area's top left", area, 100, 50, 1, 12, 7, 11},
      {"at the area's bottom right", area, 293, 189, 8, 1, 7, 11},
      {"clipped left", area, 97, 100, 1, 1, 7, 11},
      {"clipped right", area, 296, 100, 1, 1, 7, 11},
      {"clipped top", area, 150, 45, 1, 1, 7, 11},
      {"clipped bottom", area, 150, 195, 1, 1, 7, 11},
      {"clipped left and top", area, 95, 44, 1, 1, 7, 11},
      {"clipped right and bottom", area, 298, 198, 1, 1, 7, 11},
      {"clipped on all sides", RECT{152, 103, 155, 107}, 150, 100, 1, 1, 7, 11},
      {"just left of the area", area, 93, 100, 1, 1, 7, 11},
      {"below the area", area, 150, 200, 1, 1, 7, 11},
      {"far outside", area, 1000, -500, 1, 1, 7, 11},
      {"one pixel", area, 123, 77, 3, 2, 1, 1},
      {"odd size", area, 211, 133, 2, 5, 13, 3},
      {"the cell at the graph's left and top", area, 150, 100, 0, 0, 5, 4},
      {"the cell at the graph's right end", area, 150, 100, -1, 0, 6, 9},
      {"the cell at the graph's right end, clipped", area, 297, 100, -1, 0, 6, 9},
      {"the cell at the graph's bottom right", area, 150, 100, -1, -1, 6, 9},
      {"on the whole screen, off its left", screen, -3, 10, 1, 1, 7, 11},
      {"the whole graph", screen, 20, 30, 0, 0, 0, 0},
  };
  const uint32_t colors[2] = {kEdgeColor, kTextColor};
  // The cache textures have sides of powers of two; copies of the graphs whose textures claim
  // other sides take the texture steps that no float holds exactly.
  ASSERT_TRUE(std::has_single_bit(static_cast<unsigned>(text->tiles[0].imageTile->textureWidth)));
  struct OddCopy {
    GraphImageTile image;
    GraphTile tile;
    GraphRecord record;
  };
  auto oddCopy = [](GraphRecord* graph, OddCopy* copy) {
    copy->image = *graph->tiles[0].imageTile;
    copy->image.textureWidth = copy->image.textureWidth * 3 / 4 + 1;
    copy->image.textureHeight = copy->image.textureHeight * 5 / 8 + 3;
    copy->tile = graph->tiles[0];
    copy->tile.imageTile = &copy->image;
    copy->record = *graph;
    copy->record.tiles = &copy->tile;
    return &copy->record;
  };
  OddCopy oddEdge{}, oddText{}, oddPlain{};
  for (const bool oddTextures : {false, true})
    for (const bool withEdge : {true, false}) {
      GraphRecord* first = withEdge ? edge : plain;
      GraphRecord* second = withEdge ? text : nullptr;
      if (oddTextures) {
        first = oddCopy(first, withEdge ? &oddEdge : &oddPlain);
        if (second != nullptr) second = oddCopy(second, &oddText);
      }
      const GraphRecord* graphs[2] = {first, second};
      const int count = withEdge ? 2 : 1;
      for (const Placement& p : placements) {
        SCOPED_TRACE(std::string(oddTextures ? "other texture sides, " : "") +
                     (withEdge ? "edge font, " : "plain font, ") + p.name);
        // Ends and whole-graph sizes from the first graph (the edge half or the plain cache).
        const int width = p.width == 0 ? first->width : p.width;
        const int height = p.height == 0 ? first->height : p.height;
        const int sourceX = p.sourceX == -1 ? first->width - width : p.sourceX;
        const int sourceY = p.sourceY == -1 ? first->height - height : p.sourceY;
        const std::vector<uint32_t> expected = Written([&] {
          WriteSingleTilePartHardware(first, p.area, kDepth, colors[0], p.x, p.y, sourceX, sourceY,
                                      width, height);
          if (second != nullptr)
            WriteSingleTilePartHardware(second, p.area, kDepth, colors[1], p.x, p.y, sourceX,
                                        sourceY, width, height);
        });
        TilePartRun run{};
        ASSERT_EQ(PrepareTilePartRun(&run, graphs, count, p.area, kDepth), 0);
        const std::vector<uint32_t> written = Written(
            [&] { WriteTilePartRun(run, colors, p.x, p.y, sourceX, sourceY, width, height); });
        EXPECT_EQ(written, expected);
        const bool outside = p.x >= p.area.right || p.y >= p.area.bottom ||
                             p.x + width <= p.area.left || p.y + height <= p.area.top;
        EXPECT_EQ(written.size(), outside ? 0u : count * 6 * sizeof(Vertex2DTextured) / 4);
      }
    }
}

// Several parts in one call (a string's glyphs) write what the single parts write one after the
// other; and with a batch too full to take them all, what the run writes part by part, each part
// reserving its own room and the batch sent before the part that no longer fits.
TEST_F(TilePartRunTest, WritesSeveralPartsAsTheSinglePartsInTurn) {
  Start(32, 0x204060);
  GraphRecord *edge = nullptr, *text = nullptr;
  CacheGraphs(CreateFontToHandle(nullptr, 8, -1, kFontTypeEdge, -1, 1, 0), &edge, &text);
  const RECT area{100, 50, 300, 200};
  const TilePart parts[] = {
      {150, 100, 1, 1, 7, 11},  {97, 100, 1, 1, 7, 11}, {1000, -500, 1, 1, 7, 11},
      {150, 195, 1, 1, 7, 11},  {123, 77, 3, 2, 1, 1},  {211, 133, 2, 5, 13, 3},
      {296, 100, 1, 12, 7, 11}, {100, 50, 9, 1, 6, 9},
  };
  const uint32_t colors[2] = {kEdgeColor, kTextColor};
  const GraphRecord* graphs[2] = {edge, text};
  TilePartRun run{};
  ASSERT_EQ(PrepareTilePartRun(&run, graphs, 2, area, kDepth), 0);
  // Quads already queued before the parts, leaving room for `room` more.
  auto queued = [](int room) {
    const int capacity = 2340 / 6;  // the textured batch's vertices, in quads
    const int quads = capacity - 1 - room;
    if (quads <= 0) return;
    auto* v = static_cast<Vertex2DTextured*>(ReserveBatchQuads(kVertex2DTextured, quads));
    std::memset(static_cast<void*>(v), 0, sizeof(Vertex2DTextured) * 6 * quads);
  };
  for (const int room : {1000, 5}) {
    SCOPED_TRACE("room for " + std::to_string(room) + " quads");
    const std::vector<uint32_t> expected = Written([&] {
      queued(room);
      for (const TilePart& p : parts) {
        if (room < 2 * static_cast<int>(std::size(parts))) {
          WriteTilePartRun(run, colors, p.x, p.y, p.sourceX, p.sourceY, p.width, p.height);
          continue;
        }
        for (int g = 0; g < 2; ++g)
          WriteSingleTilePartHardware(graphs[g], area, kDepth, colors[g], p.x, p.y, p.sourceX,
                                      p.sourceY, p.width, p.height);
      }
    });
    const std::vector<uint32_t> written = Written([&] {
      queued(room);
      WriteTileParts(run, colors, parts, static_cast<int>(std::size(parts)));
    });
    EXPECT_EQ(written, expected);
    EXPECT_FALSE(written.empty());
  }
}

TEST_F(TilePartRunTest, RefusesATileThatIsNotAnUprightRectangle) {
  Start(32, 0x204060);
  GraphRecord *edge = nullptr, *text = nullptr;
  CacheGraphs(CreateFontToHandle(nullptr, 8, -1, kFontTypeEdge, -1, 1, 0), &edge, &text);
  GraphTile slanted = text->tiles[0];
  slanted.corners[2].x += 1.0f;
  GraphRecord record = *text;
  record.tiles = &slanted;
  const GraphRecord* graphs[2] = {edge, &record};
  TilePartRun run{};
  EXPECT_EQ(PrepareTilePartRun(&run, graphs, 2, RECT{0, 0, 640, 480}, kDepth), -1);
  EXPECT_EQ(PrepareTilePartRun(&run, graphs, 1, RECT{0, 0, 640, 480}, kDepth), 0);
}

}  // namespace
