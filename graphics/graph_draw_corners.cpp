// The hardware paths of graphs drawn with free corners: each draw tile becomes a parallelogram in
// the VertexBatch or, when its edges are not parallel, a grid of 8 x 8 vertices sent at once; with
// a blend graph the quadrilateral is two affine triangles sent tile by tile as strips. Every draw
// sent past the batch flushes it first, so the draw order holds.
#include <algorithm>
#include <array>
#include <cmath>

#include "graphics/device_state_cache.h"
#include "graphics/draw_settings.h"
#include "graphics/frame_present.h"
#include "graphics/graph_draw.h"
#include "graphics/graph_record.h"
#include "graphics/graphics_state.h"
#include "graphics/vertex_batch.h"
#include "system/math.h"

namespace {

struct Point {
  double x;
  double y;
};

Point operator-(Point a, Point b) { return Point{a.x - b.x, a.y - b.y}; }
Point operator+(Point a, Point b) { return Point{a.x + b.x, a.y + b.y}; }
Point operator*(Point a, double s) { return Point{a.x * s, a.y * s}; }
double Cross(Point a, Point b) { return a.x * b.y - a.y * b.x; }

constexpr int kGridSide = 8;

// Texture coordinates of a tile's edge moved a thousandth of a texel inwards, unless the edge is
// the texture's own.
void InsetRange(float* start, float* end, int pixels) {
  const float step = pixels > 0 ? (*end - *start) / static_cast<float>(pixels) * 0.001f : 0.0f;
  if (*start > 0.000001f) *start += step;
  if (*end < 0.99999f) *end -= step;
}

// p: top left, top right, bottom left, bottom right, already offset by -0.5.
void DrawTileQuadrilateral(const GraphTile& tile, const Point (&p)[4]) {
  SetBatchTexture(tile.imageTile->texture);
  if (GetDeviceStateCache().draw.vertexType != kVertex2DTextured) return;
  const uint32_t color = GetVertexBatchColor();
  const float z = GetDrawSettings()->drawDepth2D;
  const Point top = p[1] - p[0];
  const Point bottom = p[3] - p[2];
  const Point leftEdge = p[2] - p[0];
  const Point rightEdge = p[3] - p[1];
  const bool parallelogram =
      std::fabs(top.x - bottom.x) < 1.0 && std::fabs(top.y - bottom.y) < 1.0 &&
      std::fabs(leftEdge.x - rightEdge.x) < 1.0 && std::fabs(leftEdge.y - rightEdge.y) < 1.0;
  if (parallelogram) {
    const bool reversed = Cross(top, leftEdge) <= 0.0 && Cross(p[2] - p[3], p[1] - p[3]) <= 0.0;
    static constexpr int kForward[6] = {0, 1, 2, 3, 2, 1};
    static constexpr int kReversed[6] = {0, 2, 1, 3, 1, 2};
    const int* order = reversed ? kReversed : kForward;
    auto* v = static_cast<Vertex2DTextured*>(ReserveBatchQuad(kVertex2DTextured));
    for (int i = 0; i < 6; ++i) {
      const int k = order[i];
      v[i] =
          Vertex2DTextured{static_cast<float>(p[k].x), static_cast<float>(p[k].y), z, 1.0f, color,
                           tile.corners[k].u,          tile.corners[k].v};
    }
    return;
  }
  float u0 = tile.corners[0].u;
  float u1 = tile.corners[3].u;
  float v0 = tile.corners[0].v;
  float v1 = tile.corners[3].v;
  InsetRange(&u0, &u1, tile.width);
  InsetRange(&v0, &v1, tile.height);
  std::array<Vertex2DTextured, kGridSide * kGridSide> grid{};
  for (int row = 0; row < kGridSide; ++row) {
    const double t = static_cast<double>(row) / (kGridSide - 1);
    const Point left = p[0] + leftEdge * t;
    const Point right = p[1] + rightEdge * t;
    for (int column = 0; column < kGridSide; ++column) {
      const double s = static_cast<double>(column) / (kGridSide - 1);
      const Point at = left + (right - left) * s;
      grid[static_cast<size_t>(row * kGridSide + column)] =
          Vertex2DTextured{static_cast<float>(at.x),
                           static_cast<float>(at.y),
                           z,
                           1.0f,
                           color,
                           static_cast<float>(u0 + (u1 - u0) * s),
                           static_cast<float>(v0 + (v1 - v0) * t)};
    }
  }
  FlushVertexBatch();
  DrawIndexedGrid(grid.data(), kGridSide, kGridSide);
}

}  // namespace

int DrawGraphFourCornersHardware(float x1, float y1, float x2, float y2, float x3, float y3,
                                 float x4, float y4, GraphRecord* record, int transparent) {
  if (GraphicsCore().device == nullptr) return -1;
  if (GetDrawSettings()->blendGraph != -1) {
    return DrawGraphQuadHardware(record, TruncateDoubleToInt(x1), TruncateDoubleToInt(y1),
                                 TruncateDoubleToInt(x2), TruncateDoubleToInt(y2),
                                 TruncateDoubleToInt(x3), TruncateDoubleToInt(y3),
                                 TruncateDoubleToInt(x4), TruncateDoubleToInt(y4), transparent);
  }
  BeginDeviceScene();
  if (record->tileCount < 1) return 0;
  PrepareDrawState(record->image, record->tiles[0].imageTile->texture,
                   transparent ? kDrawTransparent : 0);
  const Point corners[4] = {
      {x1 - 0.5, y1 - 0.5}, {x2 - 0.5, y2 - 0.5}, {x3 - 0.5, y3 - 0.5}, {x4 - 0.5, y4 - 0.5}};
  if (record->tileCount == 1) {
    DrawTileQuadrilateral(record->tiles[0], corners);
    return 0;
  }
  for (int t = 0; t < record->tileCount; ++t) {
    const GraphTile& tile = record->tiles[t];
    Point placed[4];
    for (int k = 0; k < 4; ++k) {
      const double fx = tile.corners[k].x / record->width;
      const double fy = tile.corners[k].y / record->height;
      const Point left = corners[0] + (corners[2] - corners[0]) * fy;
      const Point right = corners[1] + (corners[3] - corners[1]) * fy;
      placed[k] = left + (right - left) * fx;
    }
    DrawTileQuadrilateral(tile, placed);
  }
  return 0;
}

int DrawGraphQuadHardware(GraphRecord* record, int x1, int y1, int x2, int y2, int x3, int y3,
                          int x4, int y4, int transparent) {
  IDirect3DDevice9* device = GraphicsCore().device;
  if (device == nullptr) return -1;
  if (x1 == x3 && x2 == x4 && y1 == y2 && y3 == y4) {
    return DrawGraphStretchedHardware(record, x1, y1, x4, y4, static_cast<float>(x1),
                                      static_cast<float>(y1), static_cast<float>(x4),
                                      static_cast<float>(y4), transparent, 1);
  }
  FlushVertexBatch();
  BeginDeviceScene();
  if (record->tileCount < 1) return 0;
  PrepareDrawState(record->image, record->tiles[0].imageTile->texture,
                   transparent ? kDrawTransparent : 0);
  const DrawSettings* settings = GetDrawSettings();
  const Point topLeft{x1 - 0.5, y1 - 0.5};
  const Point topRight{x2 - 0.5, y2 - 0.5};
  const Point bottomLeft{x3 - 0.5, y3 - 0.5};
  const Point bottomRight{x4 - 0.5, y4 - 0.5};
  const double width = record->width;
  const double height = record->height;
  float scaleU = 0.0f;
  float scaleV = 0.0f;
  GetBlendTextureScale(&scaleU, &scaleV);
  const uint32_t color = GetVertexBatchColor();
  const float z = settings->drawDepth2D;
  for (int t = 0; t < record->tileCount; ++t) {
    const GraphTile& tile = record->tiles[t];
    SetBatchTexture(tile.imageTile->texture);
    FlushVertexBatch();
    const int vertexType = GetDeviceStateCache().draw.vertexType;
    if (vertexType != kVertex2DTextured && vertexType != kVertex2DBlendTextured) continue;
    Point placed[4];
    for (int k = 0; k < 4; ++k) {
      const double cx = tile.corners[k].x;
      const double cy = tile.corners[k].y;
      placed[k] = tile.aboveDiagonal[k]
                      ? topLeft + (topRight - topLeft) * (cx / width) +
                            (bottomLeft - topLeft) * (cy / height)
                      : bottomRight + (bottomLeft - bottomRight) * ((width - cx) / width) +
                            (topRight - bottomRight) * ((height - cy) / height);
    }
    if (vertexType == kVertex2DTextured) {
      Vertex2DTextured strip[4];
      for (int k = 0; k < 4; ++k)
        strip[k] = Vertex2DTextured{static_cast<float>(placed[k].x),
                                    static_cast<float>(placed[k].y),
                                    z,
                                    1.0f,
                                    color,
                                    tile.corners[k].u,
                                    tile.corners[k].v};
      SetFVFState(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
      device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, strip, sizeof(Vertex2DTextured));
    } else {
      Vertex2DBlendTextured strip[4];
      for (int k = 0; k < 4; ++k)
        strip[k] = Vertex2DBlendTextured{
            static_cast<float>(placed[k].x),
            static_cast<float>(placed[k].y),
            z,
            1.0f,
            color,
            0xFFFFFFFF,
            tile.corners[k].u,
            tile.corners[k].v,
            (static_cast<float>(settings->blendGraphOffsetX) + tile.corners[k].x) * scaleU,
            (static_cast<float>(settings->blendGraphOffsetY) + tile.corners[k].y) * scaleV};
      SetFVFState(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2);
      device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, strip, sizeof(Vertex2DBlendTextured));
    }
  }
  return 0;
}
