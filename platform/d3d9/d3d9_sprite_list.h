// Draw calls of many small screen-aligned quads (a string's glyphs, a batch of sprites): the
// pipeline state, the span-path choice and the shading function are worked out once per draw
// call, and each quad that is an unscaled or whole-ratio rectangle of texels inside the texture
// costs only its integer rectangle, its clip and its first texel. Any other quad is left to the
// rectangle and triangle paths, so every pixel is the one they would write.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9_span_path.h"

struct SpriteList {
  bool usable = false;
  const PixelPipeline* p = nullptr;
  SpanPath span;  // its f and run shading; the steppers are unused
  std::int64_t sprites = 0, covered = 0;
};

// False when no quad of the draw call can be drawn as a sprite.
bool StartSpriteList(const PixelPipeline& p, SpriteList* list);
// The quad of triangles a and b (each in submission order, coloured by flatA and flatB) drawn as
// a sprite; false (nothing drawn) when it is not one the list can prove exact.
bool DrawSprite(SpriteList& list, const RasterVertex* const* a, const RasterVertex& flatA,
                const RasterVertex* const* b, const RasterVertex& flatB);
// Counts what the list drew as the rectangle path counts it.
void FinishSpriteList(SpriteList& list);
