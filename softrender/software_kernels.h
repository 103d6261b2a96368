// The software draw kernels: they draw one MEMIMG into another (at a point, stretched, as a
// triangle) or fill a rectangle, under the blend mode, blend parameter, draw brightness and draw
// area that the caller gives. They report nothing: a refused call writes no pixel.
#pragma once

#include <cstdint>

#include "files/memimg.h"

// The part of the draw settings that the kernels read.
struct KernelDrawSettings {
  int32_t blendMode;
  int32_t blendParam;   // taken as 0-255
  uint32_t brightness;  // 0x00RRGGBB; the top byte is not read
  RECT drawArea;        // right and bottom exclusive
};

struct TriangleVertex {
  int32_t x;  // destination column
  int32_t y;  // destination row
  int32_t u;  // source column, in texels (u = source width is the right edge)
  int32_t v;  // source row
};

int DrawMEMIMGAtPosition(MEMIMG* destination, const MEMIMG* source, int x, int y,
                         int transparencyFlag, const MEMIMG* blendImage,
                         const KernelDrawSettings* settings);
// rect: {x1, y1, x2, y2} as the caller gives it; x2 < x1 mirrors, y2 < y1 flips.
int DrawMEMIMGStretched(MEMIMG* destination, const MEMIMG* source, const int32_t* rect,
                        int transparencyFlag, const MEMIMG* blendImage,
                        const KernelDrawSettings* settings);
// rect: {x1, y1, x2, y2} or null for the whole image; colour: a pixel value of the destination.
int FillMEMIMGRectangle(MEMIMG* destination, const int32_t* rect, uint32_t color,
                        const KernelDrawSettings* settings);
// A null source draws the triangle untextured in `color` (a pixel value of the destination).
int DrawMEMIMGTriangle(MEMIMG* destination, const MEMIMG* source, const TriangleVertex* vertices,
                       int transparencyFlag, const MEMIMG* blendImage, uint32_t color,
                       const KernelDrawSettings* settings);
