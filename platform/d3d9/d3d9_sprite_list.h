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
  float halfTexelPairScale[4] = {};  // the same in the order width, height, width, height
  std::int64_t sprites = 0, covered = 0;
  // The pipeline as each quad reads it, taken once for the call: the first and last columns and
  // rows inside the clip, the target's and the texture's first rows and pitches in bytes, and
  // which quads the culling drops (bit n set: those whose corner 3 lies from corner 0 as n says,
  // bit 0 of n for right of it, bit 1 for below it).
  std::int64_t clipLeft = 0, clipTop = 0, clipRight = 0, clipBottom = 0;
  std::uint8_t* target = nullptr;
  std::ptrdiff_t targetPitch = 0, outPitch = 0;  // outPitch in pixels
  const std::uint8_t* texture = nullptr;
  std::ptrdiff_t texturePitch = 0;
  int culledOrders = 0;
  // The same in 32-bit lanes for the short way most quads take (false: none can): the clip's
  // first column and row and last column and row, and the texture's width, height, width and
  // height.
  bool quick = false;
  std::int32_t quickClip[4] = {}, quickSize[4] = {};
  // The packed diffuse colour span.shading and pair hold: a string's quads come in one or two
  // colours, set once.
  std::uint32_t spriteDiffuse = 0, pairDiffuse[2] = {};
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
// Quads of six vertices each from `v` on, vertices stride bytes apart, `quads` of them in the draw
// call, in the order the engine's batches write them (corners 0, 1, 2 then 3, 2, 1, the last two
// the same bytes as 2 and 1), each proved from the bytes themselves; a quad that lies exactly
// where the one before it lies (a glyph's text over its edge) is shaded in one pass with it.
// Returns how many quads it drew: it stops at the first it cannot prove exact (DrawSprite may
// still take that one).
std::size_t DrawSpritesFromBytes(SpriteList& list, const std::uint8_t* v, std::size_t stride,
                                 std::size_t quads, const SpriteVertexLayout& layout);
// Counts what the list drew as the rectangle path counts it.
void FinishSpriteList(SpriteList& list);
