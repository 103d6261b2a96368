// The public draw calls of graphs (at a point, stretched, mirrored, a part, with free corners) and
// their common frame (checks, movie refresh, mask and subtract emulation around the draw), and the
// hardware paths at a point and stretched, which write two triangles per draw tile into the
// VertexBatch, clamped to the draw area.
#include <emmintrin.h>

#include <algorithm>
#include <bit>

#include "graphics/blend_state.h"
#include "graphics/device_state_cache.h"
#include "graphics/draw_settings.h"
#include "graphics/frame_present.h"
#include "graphics/graph_draw.h"
#include "graphics/graph_record.h"
#include "graphics/graphics_public.h"
#include "graphics/graphics_state.h"
#include "graphics/mask.h"
#include "graphics/vertex_batch.h"
#include "media/movie.h"
#include "system/host_call_table.h"
#include "system/math.h"

namespace {

struct QuadCorner {
  float x;
  float y;
  float u;
  float v;
};

// Moves a corner coordinate into [low, high], shifting its texture coordinate by the distance
// moved (perTexel: texture coordinate per pixel of position, negative when mirrored).
void ClampCorner(float* position, float* texture, float low, float high, double perPixel) {
  if (*position < low) {
    *texture = static_cast<float>(*texture + (low - *position) * perPixel);
    *position = low;
  }
  if (*position > high) {
    *texture = static_cast<float>(*texture - (*position - high) * perPixel);
    *position = high;
  }
}

// Writes one draw tile as two triangles (top left, top right, bottom left) and (bottom right,
// bottom left, top right) in the batch's current vertex type; graph-relative positions give the
// blend texture's coordinates.
void WriteQuad(int vertexType, const QuadCorner (&c)[4], const float (&graphX)[4],
               const float (&graphY)[4]) {
  static constexpr int kOrder[6] = {0, 1, 2, 3, 2, 1};
  const DrawSettings* settings = GetDrawSettings();
  const uint32_t color = GetVertexBatchColor();
  const float z = settings->drawDepth2D;
  if (vertexType == kVertex2DTextured) {
    auto* v = static_cast<Vertex2DTextured*>(ReserveBatchQuad(kVertex2DTextured));
    for (int i = 0; i < 6; ++i) {
      const QuadCorner& corner = c[kOrder[i]];
      v[i] = Vertex2DTextured{corner.x, corner.y, z, 1.0f, color, corner.u, corner.v};
    }
    return;
  }
  float scaleU = 0.0f;
  float scaleV = 0.0f;
  GetBlendTextureScale(&scaleU, &scaleV);
  auto* v = static_cast<Vertex2DBlendTextured*>(ReserveBatchQuad(kVertex2DBlendTextured));
  for (int i = 0; i < 6; ++i) {
    const int k = kOrder[i];
    const QuadCorner& corner = c[k];
    v[i] = Vertex2DBlendTextured{
        corner.x,
        corner.y,
        z,
        1.0f,
        color,
        0xFFFFFFFF,
        corner.u,
        corner.v,
        (static_cast<float>(settings->blendGraphOffsetX) + graphX[k]) * scaleU,
        (static_cast<float>(settings->blendGraphOffsetY) + graphY[k]) * scaleV};
  }
}

// Writes every draw tile of the graph placed at (originX, originY) and scaled; with clamping each
// corner is kept inside [left, right] x [top, bottom].
void WriteGraphTiles(GraphRecord* record, double originX, double originY, double scaleX,
                     double scaleY, bool clamp, float left, float top, float right, float bottom) {
  for (int t = 0; t < record->tileCount; ++t) {
    const GraphTile& tile = record->tiles[t];
    SetBatchTexture(tile.imageTile->texture);
    const int vertexType = GetDeviceStateCache().draw.vertexType;
    if (vertexType != kVertex2DTextured && vertexType != kVertex2DBlendTextured) continue;
    QuadCorner corners[4];
    float graphX[4] = {};
    float graphY[4] = {};
    // Only a clamped corner moves its texture coordinate, and only the blend texture reads the
    // graph-relative positions: a string's many glyphs pay for neither division otherwise.
    const double perPixelU = clamp ? 1.0 / (scaleX * tile.imageTile->textureWidth) : 0.0;
    const double perPixelV = clamp ? 1.0 / (scaleY * tile.imageTile->textureHeight) : 0.0;
    const bool blendTextured = vertexType == kVertex2DBlendTextured;
    for (int k = 0; k < 4; ++k) {
      const GraphTileCorner& source = tile.corners[k];
      QuadCorner& corner = corners[k];
      corner.x = static_cast<float>(originX + source.x * scaleX);
      corner.y = static_cast<float>(originY + source.y * scaleY);
      corner.u = source.u;
      corner.v = source.v;
      if (clamp) {
        ClampCorner(&corner.x, &corner.u, left, right, perPixelU);
        ClampCorner(&corner.y, &corner.v, top, bottom, perPixelV);
      }
      if (blendTextured) {
        graphX[k] = static_cast<float>((corner.x - originX) / scaleX);
        graphY[k] = static_cast<float>((corner.y - originY) / scaleY);
      }
    }
    WriteQuad(vertexType, corners, graphX, graphY);
  }
}

// ClipRectToRect's clipping (the same steps in the same order, so the same result for any clip),
// on plain numbers, here where a run of parts clips every part.
inline void ClipSpan(LONG* low, LONG* high, LONG clipLow, LONG clipHigh) {
  if (*high < *low) *high = *low;
  for (LONG* edge : {high, low}) {
    if (*edge > clipHigh) *edge = clipHigh;
    if (*edge < clipLow) *edge = clipLow;
  }
}

bool IsTextureBacked(const GraphRecord* record) {
  return record->image != nullptr && record->image->textureBacked;
}

// The common frame: checks, the movie frame, the mask and the subtract emulation around the draw.
template <class Draw>
int DrawInFrame(int graph, int left, int top, int right, int bottom, Draw draw) {
  const DrawSettings* settings = GetDrawSettings();
  if (settings->drawSuppression || settings->drawAreaEmpty) return 0;
  GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr || record->image == nullptr) return -1;
  if (settings->blendGraph != -1) {
    const GraphRecord* blend = GetGraphRecord(settings->blendGraph);
    if (blend == nullptr || blend->width < record->width || blend->height < record->height)
      return -1;
  }
  if (!hostCallTable.isWindowActive()) hostCallTable.waitWhileWindowInactive();
  const RECT rect{std::min(left, right), std::min(top, bottom), std::max(left, right),
                  std::max(top, bottom)};
  if (record->movie != -1) RefreshMovieFrame(record->movie, 0);
  const bool mask = GetMaskUseFlag() != 0;
  if (mask) BeginMaskDraw(&rect);
  const bool emulateSubtract =
      settings->blendMode == 3 && IsTextureBacked(record) && !GraphicsCore().nativeSubtractBlend;
  if (emulateSubtract) BeginSubtractBlendEmulation(&rect);
  const int result = draw(record);
  if (emulateSubtract) EndSubtractBlendEmulation(&rect);
  if (mask) EndMaskDraw(&rect);
  return result;
}

int GraphWidth(int graph) {
  const GraphRecord* record = GetGraphRecord(graph);
  return record != nullptr ? record->width : 0;
}

int GraphHeight(int graph) {
  const GraphRecord* record = GetGraphRecord(graph);
  return record != nullptr ? record->height : 0;
}

}  // namespace

int DrawGraphAtPointHardware(GraphRecord* record, int x, int y, float floatX, float floatY,
                             int transparent, int pixelExact) {
  if (GraphicsCore().device == nullptr) return -1;
  const double originX = static_cast<float>(static_cast<double>(floatX) - 0.5);
  const double originY = static_cast<float>(static_cast<double>(floatY) - 0.5);
  BeginDeviceScene();
  if (record->tileCount < 1) return 0;
  PrepareDrawState(record->image, record->tiles[0].imageTile->texture,
                   static_cast<uint32_t>(transparent ? kDrawTransparent : 0) |
                       (pixelExact ? kDrawPixelExact : 0));
  const DrawSettings* settings = GetDrawSettings();
  const RECT& area = settings->drawArea;
  const bool inside = x >= area.left && y >= area.top && x + record->width <= area.right &&
                      y + record->height <= area.bottom;
  WriteGraphTiles(record, originX, originY, 1.0, 1.0, !inside, settings->drawAreaFloat[0],
                  settings->drawAreaFloat[1], settings->drawAreaFloat[2],
                  settings->drawAreaFloat[3]);
  return 0;
}

void WriteGraphPartHardware(GraphRecord* record, int x, int y, int sourceX, int sourceY, int width,
                            int height) {
  const DrawSettings* settings = GetDrawSettings();
  RECT part{x, y, x + width, y + height};
  ClipRectToRect(&part, &settings->drawArea);
  if (part.right <= part.left || part.bottom <= part.top) return;
  // The numbers DrawGraphPart hands to the point draw, so that the vertices are the same.
  const int graphX = x - sourceX;
  const int graphY = y - sourceY;
  const double originX = static_cast<float>(static_cast<double>(static_cast<float>(graphX)) - 0.5);
  const double originY = static_cast<float>(static_cast<double>(static_cast<float>(graphY)) - 0.5);
  const bool inside = graphX >= part.left && graphY >= part.top &&
                      graphX + record->width <= part.right &&
                      graphY + record->height <= part.bottom;
  WriteGraphTiles(record, originX, originY, 1.0, 1.0, !inside, static_cast<float>(part.left),
                  static_cast<float>(part.top), static_cast<float>(part.right),
                  static_cast<float>(part.bottom));
}

void WriteSingleTilePartHardware(const GraphRecord* record, const RECT& drawArea, float z,
                                 uint32_t color, int x, int y, int sourceX, int sourceY, int width,
                                 int height) {
  RECT part{x, y, x + width, y + height};
  ClipRectToRect(&part, &drawArea);
  if (part.right <= part.left || part.bottom <= part.top) return;
  // WriteGraphPartHardware's numbers, through WriteGraphTiles's arithmetic at scale 1.
  const int graphX = x - sourceX;
  const int graphY = y - sourceY;
  const double originX = static_cast<float>(static_cast<double>(static_cast<float>(graphX)) - 0.5);
  const double originY = static_cast<float>(static_cast<double>(static_cast<float>(graphY)) - 0.5);
  const bool clamp =
      !(graphX >= part.left && graphY >= part.top && graphX + record->width <= part.right &&
        graphY + record->height <= part.bottom);
  const GraphTile& tile = record->tiles[0];
  const double perPixelU = clamp ? 1.0 / (1.0 * tile.imageTile->textureWidth) : 0.0;
  const double perPixelV = clamp ? 1.0 / (1.0 * tile.imageTile->textureHeight) : 0.0;
  const float left = static_cast<float>(part.left), top = static_cast<float>(part.top),
              right = static_cast<float>(part.right), bottom = static_cast<float>(part.bottom);
  QuadCorner c[4];
  for (int k = 0; k < 4; ++k) {
    const GraphTileCorner& source = tile.corners[k];
    c[k].x = static_cast<float>(originX + source.x * 1.0);
    c[k].y = static_cast<float>(originY + source.y * 1.0);
    c[k].u = source.u;
    c[k].v = source.v;
    if (clamp) {
      ClampCorner(&c[k].x, &c[k].u, left, right, perPixelU);
      ClampCorner(&c[k].y, &c[k].v, top, bottom, perPixelV);
    }
  }
  static constexpr int kOrder[6] = {0, 1, 2, 3, 2, 1};
  auto* v = static_cast<Vertex2DTextured*>(ReserveBatchQuad(kVertex2DTextured));
  for (int i = 0; i < 6; ++i) {
    const QuadCorner& corner = c[kOrder[i]];
    v[i] = Vertex2DTextured{corner.x, corner.y, z, 1.0f, color, corner.u, corner.v};
  }
}

int PrepareTilePartRun(TilePartRun* run, const GraphRecord* const* graphs, int count,
                       const RECT& drawArea, float z) {
  if (count < 1 || count > 2) return -1;
  run->area = drawArea;
  run->depth[0] = run->depth[2] = z;
  run->depth[1] = run->depth[3] = 1.0f;
  run->graphCount = count;
  run->floatSteps = true;
  for (int g = 0; g < count; ++g) {
    const GraphTile& tile = graphs[g]->tiles[0];
    const GraphTileCorner* c = tile.corners;
    // Corners that share their column share x and u, and rows y and v: clamping one corner of a
    // column then gives the other's numbers too.
    if (!(c[0].x == c[2].x && c[0].u == c[2].u && c[1].x == c[3].x && c[1].u == c[3].u &&
          c[0].y == c[1].y && c[0].v == c[1].v && c[2].y == c[3].y && c[2].v == c[3].v))
      return -1;
    const int textureWidth = tile.imageTile->textureWidth;
    const int textureHeight = tile.imageTile->textureHeight;
    const double perPixelU = 1.0 / (1.0 * textureWidth);
    const double perPixelV = 1.0 / (1.0 * textureHeight);
    const auto u = static_cast<float>(perPixelU), v = static_cast<float>(perPixelV);
    run->graphs[g] = TilePartGraph{{c[0].x, c[3].x, c[0].y, c[3].y},
                                   {c[0].u, c[3].u, c[0].v, c[3].v},
                                   {c[0].u, c[3].u},
                                   {c[0].v, c[3].v},
                                   {perPixelU, perPixelU},
                                   {perPixelV, perPixelV},
                                   {u, u, v, v},
                                   graphs[g]->width,
                                   graphs[g]->height};
    // A step of 2^-k moves a float distance by an exact product, so the texture coordinate plus
    // it, rounded through double as the single-part writer does, is the float sum itself.
    if (textureWidth <= 0 || textureHeight <= 0 ||
        !std::has_single_bit(static_cast<unsigned>(textureWidth)) ||
        !std::has_single_bit(static_cast<unsigned>(textureHeight)))
      run->floatSteps = false;
  }
  return 0;
}

namespace {

// What a run's graph writes with for every part, in registers.
struct TilePartLanes {
  __m128 corners, texture, rhwColor, perPixel;
  __m128d textureU, textureV, perPixelU, perPixelV;
  int width, height;
};

// A vertex at column c and row r of a quad's corners: its first four fields {x, y, z, rhw}, and
// its last four {rhw, colour, u, v} stored over them from the fourth on (both give rhw 1).
template <int c, int r>
void PutTilePartVertex(char* vertex, __m128 position, __m128 depth, __m128 rhwColor,
                       __m128 texture) {
  _mm_storeu_ps(reinterpret_cast<float*>(vertex),
                _mm_shuffle_ps(position, depth, _MM_SHUFFLE(1, 0, 2 + r, c)));
  _mm_storeu_ps(reinterpret_cast<float*>(vertex + 12),
                _mm_shuffle_ps(rhwColor, texture, _MM_SHUFFLE(2 + r, c, 1, 0)));
}

// One part of each of the run's kGraphs graphs; `out` is the room for its quads, or null to reserve
// it. Returns the vertices written.
template <int kGraphs, bool kFloatSteps>
[[gnu::always_inline]] inline int WriteTilePart(const RECT& area, __m128 depth,
                                                const TilePartLanes* graphs, const TilePart& p,
                                                char* out) {
  LONG partLeft = p.x, partTop = p.y, partRight = p.x + p.width, partBottom = p.y + p.height;
  // A part inside the area (most glyphs of a line) is its own clip.
  if (!(partRight >= partLeft && partBottom >= partTop && partLeft >= area.left &&
        partRight <= area.right && partTop >= area.top && partBottom <= area.bottom)) {
    ClipSpan(&partTop, &partBottom, area.top, area.bottom);
    ClipSpan(&partLeft, &partRight, area.left, area.right);
  }
  if (partRight <= partLeft || partBottom <= partTop) return 0;
  // WriteSingleTilePartHardware's arithmetic on the lanes {left, right, top, bottom}. Its origin
  // and corner sums are single operations rounded through double to float, which give the float
  // operation's own result (a double holds more than twice a float's digits); the clamp's texture
  // step stays in doubles as it is there.
  const int graphX = p.x - p.sourceX;
  const int graphY = p.y - p.sourceY;
  const __m128 origin = _mm_sub_ps(_mm_cvtepi32_ps(_mm_setr_epi32(graphX, graphX, graphY, graphY)),
                                   _mm_set1_ps(0.5f));
  const __m128 bounds = _mm_cvtepi32_ps(_mm_setr_epi32(partLeft, partRight, partTop, partBottom));
  const __m128 low = _mm_shuffle_ps(bounds, bounds, _MM_SHUFFLE(2, 2, 0, 0));
  const __m128 high = _mm_shuffle_ps(bounds, bounds, _MM_SHUFFLE(3, 3, 1, 1));
  if (out == nullptr) out = static_cast<char*>(ReserveBatchQuads(kVertex2DTextured, kGraphs));
  for (int g = 0; g < kGraphs; ++g, out += 6 * sizeof(Vertex2DTextured)) {
    const TilePartLanes& graph = graphs[g];
    __m128 position = _mm_add_ps(origin, graph.corners);
    __m128 texture = graph.texture;
    const bool clamp = !(graphX >= partLeft && graphY >= partTop &&
                         graphX + graph.width <= partRight && graphY + graph.height <= partBottom);
    if (clamp) {
      // ClampCorner's steps: the low bound where the corner is below it (max returns its second
      // operand on a tie, as the comparison keeps the corner), else the high bound where above;
      // the texture moves by the distance moved, a negative distance for the high bound giving
      // the same number as the subtraction there.
      const __m128 clamped = _mm_min_ps(high, _mm_max_ps(low, position));
      const __m128 moved = _mm_sub_ps(clamped, position);
      __m128 shifted;
      if constexpr (kFloatSteps) {
        shifted = _mm_add_ps(texture, _mm_mul_ps(moved, graph.perPixel));
      } else {
        const __m128d u =
            _mm_add_pd(graph.textureU, _mm_mul_pd(_mm_cvtps_pd(moved), graph.perPixelU));
        const __m128d v = _mm_add_pd(
            graph.textureV, _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(moved, moved)), graph.perPixelV));
        shifted = _mm_movelh_ps(_mm_cvtpd_ps(u), _mm_cvtpd_ps(v));
      }
      const __m128 changed = _mm_cmpneq_ps(clamped, position);
      texture = _mm_or_ps(_mm_and_ps(changed, shifted), _mm_andnot_ps(changed, texture));
      position = clamped;
    }
    // The triangles (top left, top right, bottom left) and (bottom right, bottom left, top right),
    // each vertex from the numbers at hand: copying a vertex just written back out of the batch
    // would read stores still on their way and stall.
    constexpr size_t kStride = sizeof(Vertex2DTextured);
    const __m128 rhwColor = graph.rhwColor;
    PutTilePartVertex<0, 0>(out, position, depth, rhwColor, texture);
    PutTilePartVertex<1, 0>(out + kStride, position, depth, rhwColor, texture);
    PutTilePartVertex<0, 1>(out + 2 * kStride, position, depth, rhwColor, texture);
    PutTilePartVertex<1, 1>(out + 3 * kStride, position, depth, rhwColor, texture);
    PutTilePartVertex<0, 1>(out + 4 * kStride, position, depth, rhwColor, texture);
    PutTilePartVertex<1, 0>(out + 5 * kStride, position, depth, rhwColor, texture);
  }
  return 6 * kGraphs;
}

template <int kGraphs, bool kFloatSteps>
void WriteTilePartsOf(const TilePartRun& run, const uint32_t* colors, const TilePart* parts,
                      int count) {
  TilePartLanes graphs[kGraphs];
  for (int g = 0; g < kGraphs; ++g) {
    const TilePartGraph& graph = run.graphs[g];
    graphs[g] = TilePartLanes{
        _mm_load_ps(graph.corners),
        _mm_load_ps(graph.texture),
        _mm_unpacklo_ps(_mm_set_ss(1.0f),
                        _mm_castsi128_ps(_mm_cvtsi32_si128(static_cast<int>(colors[g])))),
        _mm_load_ps(graph.perPixel),
        _mm_load_pd(graph.textureU),
        _mm_load_pd(graph.textureV),
        _mm_load_pd(graph.perPixelU),
        _mm_load_pd(graph.perPixelV),
        graph.width,
        graph.height};
  }
  const __m128 depth = _mm_load_ps(run.depth);
  // A copy the vertex stores cannot overwrite, which stays in registers.
  const RECT area = run.area;
  auto* room = static_cast<char*>(PeekBatchQuads(kVertex2DTextured, kGraphs * count));
  if (room == nullptr) {
    for (int i = 0; i < count; ++i)
      WriteTilePart<kGraphs, kFloatSteps>(area, depth, graphs, parts[i], nullptr);
    return;
  }
  int written = 0;
  for (int i = 0; i < count; ++i)
    written += WriteTilePart<kGraphs, kFloatSteps>(area, depth, graphs, parts[i],
                                                   room + written * sizeof(Vertex2DTextured));
  CommitBatchVertices(written);
}

}  // namespace

void WriteTileParts(const TilePartRun& run, const uint32_t* colors, const TilePart* parts,
                    int count) {
  if (run.graphCount == 2) {
    if (run.floatSteps)
      WriteTilePartsOf<2, true>(run, colors, parts, count);
    else
      WriteTilePartsOf<2, false>(run, colors, parts, count);
  } else {
    if (run.floatSteps)
      WriteTilePartsOf<1, true>(run, colors, parts, count);
    else
      WriteTilePartsOf<1, false>(run, colors, parts, count);
  }
}

void WriteTilePartRun(const TilePartRun& run, const uint32_t* colors, int x, int y, int sourceX,
                      int sourceY, int width, int height) {
  const TilePart part{x, y, sourceX, sourceY, width, height};
  WriteTileParts(run, colors, &part, 1);
}

int DrawGraphStretchedHardware(GraphRecord* record, int x1, int y1, int x2, int y2, float floatX1,
                               float floatY1, float floatX2, float floatY2, int transparent,
                               int pixelExact) {
  if (GraphicsCore().device == nullptr) return -1;
  if (floatX1 == floatX2 || floatY1 == floatY2) return 0;
  const DrawSettings* settings = GetDrawSettings();
  const uint32_t flags = static_cast<uint32_t>(transparent ? kDrawTransparent : 0) |
                         (pixelExact && settings->filterMode != 1 ? kDrawPixelExact : 0);
  BeginDeviceScene();
  if (record->tileCount < 1) return 0;
  PrepareDrawState(record->image, record->tiles[0].imageTile->texture, flags);
  const double scaleX = (static_cast<double>(floatX2) - floatX1) / record->width;
  const double scaleY = (static_cast<double>(floatY2) - floatY1) / record->height;
  const double originX = static_cast<double>(floatX1) - 0.5;
  const double originY = static_cast<double>(floatY1) - 0.5;
  const RECT& area = settings->drawArea;
  const bool inside = std::min(x1, x2) >= area.left && std::min(y1, y2) >= area.top &&
                      std::max(x1, x2) <= area.right && std::max(y1, y2) <= area.bottom;
  WriteGraphTiles(record, originX, originY, scaleX, scaleY, !inside,
                  settings->drawAreaFloat[0] - 0.5f, settings->drawAreaFloat[1] - 0.5f,
                  settings->drawAreaFloat[2] - 0.5f, settings->drawAreaFloat[3] - 0.5f);
  return 0;
}

int DrawGraphAtPoint(int x, int y, int graph, int transparent) {
  if (!hostCallTable.isEngineRunning()) return -1;
  return DrawInFrame(graph, x, y, x + GraphWidth(graph), y + GraphHeight(graph),
                     [&](GraphRecord* record) {
                       if (IsTextureBacked(record))
                         return DrawGraphAtPointHardware(record, x, y, static_cast<float>(x),
                                                         static_cast<float>(y), transparent, 1);
                       return DrawGraphAtPointSoftware(record, x, y, transparent);
                     });
}

int DrawGraphStretched(int x1, int y1, int x2, int y2, int graph, int transparent) {
  return DrawInFrame(graph, x1, y1, x2, y2, [&](GraphRecord* record) {
    if (IsTextureBacked(record))
      return DrawGraphStretchedHardware(record, x1, y1, x2, y2, static_cast<float>(x1),
                                        static_cast<float>(y1), static_cast<float>(x2),
                                        static_cast<float>(y2), transparent, 1);
    return DrawGraphStretchedSoftware(record, x1, y1, x2, y2, transparent);
  });
}

int DrawGraphStretchedFloat(float x1, float y1, float x2, float y2, int graph, int transparent) {
  const int ix1 = TruncateDoubleToInt(x1);
  const int iy1 = TruncateDoubleToInt(y1);
  const int ix2 = TruncateDoubleToInt(x2);
  const int iy2 = TruncateDoubleToInt(y2);
  return DrawInFrame(graph, ix1, iy1, ix2, iy2, [&](GraphRecord* record) {
    if (IsTextureBacked(record))
      return DrawGraphStretchedHardware(record, ix1, iy1, ix2, iy2, x1, y1, x2, y2, transparent, 0);
    return DrawGraphStretchedSoftware(record, ix1, iy1, ix2, iy2, transparent);
  });
}

int DrawGraphMirrored(int x, int y, int graph, int transparent) {
  const GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr) return -1;
  return DrawGraphStretched(x + record->width, y, x, y + record->height, graph, transparent);
}

int DrawGraphPart(int x, int y, int sourceX, int sourceY, int width, int height, int graph,
                  int transparent, int mirror) {
  DrawSettings* settings = GetDrawSettings();
  const GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr) return -1;
  const RECT savedArea = settings->drawArea;
  float savedFloat[4];
  std::copy(std::begin(settings->drawAreaFloat), std::end(settings->drawAreaFloat), savedFloat);
  RECT part{x, y, x + width, y + height};
  ClipRectToRect(&part, &savedArea);
  // A window of no width or height (the game passes negative widths) draws nothing.
  if (part.right <= part.left || part.bottom <= part.top) return 0;
  settings->drawArea = part;
  settings->drawAreaFloat[0] = static_cast<float>(part.left);
  settings->drawAreaFloat[1] = static_cast<float>(part.top);
  settings->drawAreaFloat[2] = static_cast<float>(part.right);
  settings->drawAreaFloat[3] = static_cast<float>(part.bottom);
  const int result = mirror ? DrawGraphMirrored(x + sourceX + width - record->width, y - sourceY,
                                                graph, transparent)
                            : DrawGraphAtPoint(x - sourceX, y - sourceY, graph, transparent);
  settings->drawArea = savedArea;
  std::copy(std::begin(savedFloat), std::end(savedFloat), settings->drawAreaFloat);
  return result;
}

int DrawGraphFourCorners(float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                         float y4, int graph, int transparent) {
  const float left = std::min({x1, x2, x3, x4});
  const float top = std::min({y1, y2, y3, y4});
  const float right = std::max({x1, x2, x3, x4});
  const float bottom = std::max({y1, y2, y3, y4});
  return DrawInFrame(
      graph, TruncateDoubleToInt(left), TruncateDoubleToInt(top), TruncateDoubleToInt(right),
      TruncateDoubleToInt(bottom), [&](GraphRecord* record) {
        if (IsTextureBacked(record))
          return DrawGraphFourCornersHardware(x1, y1, x2, y2, x4, y4, x3, y3, record, transparent);
        return DrawGraphFourCornersSoftware(x1, y1, x2, y2, x4, y4, x3, y3, record, transparent);
      });
}

int DrawGraphPartStretched(float x1, float y1, float x2, float y2, int sourceX, int sourceY,
                           int width, int height, int graph, int transparent) {
  const int part = DeriveGraph(sourceX, sourceY, width, height, graph);
  if (part == -1) return -1;
  DrawGraphStretchedFloat(x1, y1, x2, y2, part, transparent);
  DeleteGraphHandle(part);
  return 0;
}
