// The draw paths behind the public draw calls: the hardware paths that turn a graph's draw tiles
// into vertices of the VertexBatch, and the software paths that hand the graph's MEMIMG to the
// software kernels. The public calls are in graphics/graphics_public.h.
#pragma once

#include <cstdint>

#include "platform/win32/win32_types.h"

struct GraphRecord;

int DrawGraphAtPointHardware(GraphRecord* record, int x, int y, float floatX, float floatY,
                             int transparent, int pixelExact);
int DrawGraphStretchedHardware(GraphRecord* record, int x1, int y1, int x2, int y2, float floatX1,
                               float floatY1, float floatX2, float floatY2, int transparent,
                               int pixelExact);
// A part of a graph with the vertices DrawGraphPart writes for it (clipped to the draw area), put
// into the VertexBatch with the batch's colour and no draw set-up: the caller has prepared the draw
// for the graph's image and texture.
void WriteGraphPartHardware(GraphRecord* record, int x, int y, int sourceX, int sourceY, int width,
                            int height);
// WriteGraphPartHardware for a graph of one texture tile in plain textured vertices of colour
// `color` at depth z, clipped to drawArea, with the draw already set up for the tile's texture
// (a string's glyphs): the same vertices, without a state call per part.
void WriteSingleTilePartHardware(const GraphRecord* record, const RECT& drawArea, float z,
                                 uint32_t color, int x, int y, int sourceX, int sourceY, int width,
                                 int height);
// What WriteSingleTilePartHardware works out again for every part, worked out once for a run of
// parts of up to two single-tile graphs (a string's edge and text cells) over one draw area and
// depth. The numbers are laid out as the writer's vector lanes take them: columns, then rows.
struct TilePartGraph {
  alignas(16) float corners[4];  // the tile's left and right corner x, its top and bottom corner y
  alignas(16) float texture[4];  // and their texture coordinates: left u, right u, top v, bottom v
  // The texture coordinates again in doubles, and the texture coordinate per pixel of position
  // (twice, one for each corner of the pair), for the arithmetic of a clamped corner.
  alignas(16) double textureU[2], textureV[2];
  alignas(16) double perPixelU[2], perPixelV[2];
  // The same step in floats, {u, u, v, v}, for a texture whose sides are powers of two.
  alignas(16) float perPixel[4];
  int width, height;  // the graph's size, which decides whether corners are clamped
};
struct TilePartRun {
  RECT area;
  alignas(16) float depth[4];  // a vertex's z and rhw, twice
  int graphCount;
  // Every graph's texture sides are powers of two: the clamp's texture step is exact in floats.
  bool floatSteps;
  TilePartGraph graphs[2];
};
// -1 when a graph's tile is not an upright rectangle (its corners cannot be shared): the caller
// writes its parts with WriteSingleTilePartHardware instead.
int PrepareTilePartRun(TilePartRun* run, const GraphRecord* const* graphs, int count,
                       const RECT& drawArea, float z);
// The part (x, y, width, height) at (sourceX, sourceY) of each graph of the run in turn in
// colors[i]: byte for byte the vertices WriteSingleTilePartHardware writes for each, with the part
// clipped once and the quads reserved together.
void WriteTilePartRun(const TilePartRun& run, const uint32_t* colors, int x, int y, int sourceX,
                      int sourceY, int width, int height);
struct TilePart {
  int x, y, sourceX, sourceY, width, height;
};
// WriteTilePartRun for each part in turn (a string's glyphs), with the numbers of the run and the
// colours set up once and the batch's room taken once when it holds them all.
void WriteTileParts(const TilePartRun& run, const uint32_t* colors, const TilePart* parts,
                    int count);
// Corners in the order top left, top right, bottom left, bottom right.
int DrawGraphFourCornersHardware(float x1, float y1, float x2, float y2, float x3, float y3,
                                 float x4, float y4, GraphRecord* record, int transparent);
int DrawGraphQuadHardware(GraphRecord* record, int x1, int y1, int x2, int y2, int x3, int y3,
                          int x4, int y4, int transparent);

int DrawGraphAtPointSoftware(GraphRecord* record, int x, int y, int transparent);
// The corners as given: x2 < x1 mirrors, y2 < y1 flips.
int DrawGraphStretchedSoftware(GraphRecord* record, int x1, int y1, int x2, int y2,
                               int transparent);
// Corners in the order top left, top right, bottom left, bottom right.
int DrawGraphQuadSoftware(GraphRecord* record, int x1, int y1, int x2, int y2, int x3, int y3,
                          int x4, int y4, int transparent);
int DrawGraphFourCornersSoftware(float x1, float y1, float x2, float y2, float x3, float y3,
                                 float x4, float y4, GraphRecord* record, int transparent);
