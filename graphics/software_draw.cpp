// The software draw path: graphs whose image is a MEMIMG are drawn by the software kernels into
// the draw target's MEMIMG, under the draw area, blend mode, blend parameter and draw brightness of
// the draw settings. Every call returns 0 whatever the kernel did.
#include "graphics/draw_settings.h"
#include "graphics/graph_draw.h"
#include "graphics/graph_record.h"
#include "graphics/graphics_state.h"
#include "softrender/software_kernels.h"
#include "system/math.h"

int DrawGraphAtPointSoftware(GraphRecord* record, int x, int y, int transparent) {
  MEMIMG* target = GetSoftwareDrawTarget();
  if (target == nullptr || !IsMEMIMGValid(&record->memimg)) return 0;
  const KernelDrawSettings settings = GetKernelDrawSettings(GetDrawSettings());
  DrawMEMIMGAtPosition(target, &record->memimg, x, y, transparent, GetSoftwareBlendImage(),
                       &settings);
  return 0;
}

int DrawGraphStretchedSoftware(GraphRecord* record, int x1, int y1, int x2, int y2,
                               int transparent) {
  MEMIMG* target = GetSoftwareDrawTarget();
  if (target == nullptr || !IsMEMIMGValid(&record->memimg)) return 0;
  const int32_t rect[4] = {x1, y1, x2, y2};
  const KernelDrawSettings settings = GetKernelDrawSettings(GetDrawSettings());
  DrawMEMIMGStretched(target, &record->memimg, rect, transparent, GetSoftwareBlendImage(),
                      &settings);
  return 0;
}

int DrawGraphQuadSoftware(GraphRecord* record, int x1, int y1, int x2, int y2, int x3, int y3,
                          int x4, int y4, int transparent) {
  MEMIMG* target = GetSoftwareDrawTarget();
  if (target == nullptr || !IsMEMIMGValid(&record->memimg)) return 0;
  const int width = record->width;
  const int height = record->height;
  const TriangleVertex corners[4] = {
      {x1, y1, 0, 0}, {x2, y2, width, 0}, {x3, y3, 0, height}, {x4, y4, width, height}};
  const TriangleVertex first[3] = {corners[0], corners[1], corners[2]};
  const TriangleVertex second[3] = {corners[1], corners[2], corners[3]};
  const KernelDrawSettings settings = GetKernelDrawSettings(GetDrawSettings());
  DrawMEMIMGTriangle(target, &record->memimg, first, transparent, GetSoftwareBlendImage(), 0,
                     &settings);
  DrawMEMIMGTriangle(target, &record->memimg, second, transparent, GetSoftwareBlendImage(), 0,
                     &settings);
  return 0;
}

int DrawGraphFourCornersSoftware(float x1, float y1, float x2, float y2, float x3, float y3,
                                 float x4, float y4, GraphRecord* record, int transparent) {
  return DrawGraphQuadSoftware(record, TruncateDoubleToInt(x1), TruncateDoubleToInt(y1),
                               TruncateDoubleToInt(x2), TruncateDoubleToInt(y2),
                               TruncateDoubleToInt(x3), TruncateDoubleToInt(y3),
                               TruncateDoubleToInt(x4), TruncateDoubleToInt(y4), transparent);
}
