// Draw calls of many small screen-aligned quads (a string's glyphs, a batch of sprites): the
// pipeline state, the span-path choice and the shading function are worked out once per draw
// call, and each quad that is an unscaled or whole-ratio rectangle of texels inside the texture
// costs only its integer rectangle, its clip and its first texel. Any other quad is left to the
// rectangle and triangle paths, so every pixel is the one they would write.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/d3d9/d3d9_span_path.h"

struct SpriteList {
  bool usable = false;
  const PixelPipeline* p = nullptr;
  SpanPath span;       // its f and run shading; the steppers are unused
  RunShading pair[2];  // the shading of two quads drawn in one pass
  // Twice the texture's width, width, height and height when both are powers of two, else 0.
  float halfTexelScale[4] = {};
  std::int64_t sprites = 0, covered = 0;
};

// False when no quad of the draw call can be drawn as a sprite.
bool StartSpriteList(const PixelPipeline& p, SpriteList* list);
// The quad of triangles a and b (each in submission order, coloured by flatA and flatB) drawn as
// a sprite; false (nothing drawn) when it is not one the list can prove exact.
bool DrawSprite(SpriteList& list, const RasterVertex* const* a, const RasterVertex& flatA,
                const RasterVertex* const* b, const RasterVertex& flatB);
// Where a pre-transformed vertex keeps what a sprite reads: x, y and rhw at 0, 4 and 12, the
// colours (-1: none, white diffuse and black specular) and the coordinate set the list reads.
struct SpriteVertexLayout {
  int size = 0;  // the vertex's bytes, at least 16
  int diffuse = -1, specular = -1;
  int tex = 0;  // both coordinates
};
// The quad of the six vertices from `v` on, stride bytes apart, in the order the engine's batches
// write it (corners 0, 1, 2 then 3, 2, 1, the last two the same bytes as 2 and 1), proved from the
// bytes themselves, and with mayPair the next quad too when it lies exactly where this one lies
// (a glyph's text over its edge), the two then shaded in one pass. Returns how many quads it drew:
// 0 when the first is not such a quad or not one the list can prove exact (DrawSprite may still
// take it).
int DrawSpritesFromBytes(SpriteList& list, const std::uint8_t* v, std::size_t stride,
                         const SpriteVertexLayout& layout, bool mayPair);
// Counts what the list drew as the rectangle path counts it.
void FinishSpriteList(SpriteList& list);
