// The stretched blit: a whole source image scaled into a destination rectangle, mirrored along an
// axis given in reverse order, cut to the draw area; each destination pixel samples the source
// pixel that a 16.16 fixed-point walk chooses, so clipping never changes what a pixel samples.
#include <cstring>

#include "softrender/blend_modes.h"
#include "softrender/software_kernels.h"
#include "softrender/vector_rows.h"
#include "system/math.h"

namespace {

// One axis of the walk: the first source index, its step and the 16.16 counter.
struct StretchAxis {
  int64_t ratio;    // destination pixels per source pixel, 16.16
  int64_t counter;  // what is left of the current source pixel
  int first;        // first source index sampled
  int direction;    // +1, or -1 when mirrored
  int size;         // source pixels along the axis
};

StretchAxis MakeAxis(int64_t length, int sourceSize, int64_t offset, int direction) {
  StretchAxis a{};
  a.ratio = length * 65536 / sourceSize;
  a.direction = direction;
  a.size = sourceSize;
  if (a.ratio == 0) return a;
  int64_t start = offset * 65536 / a.ratio;
  int64_t remainder = offset * 65536 - start * a.ratio;
  a.counter = a.ratio - remainder;
  a.first = static_cast<int>(direction > 0 ? start : sourceSize - 1 - start);
  return a;
}

// Steps the index on while the counter is used up; it never leaves the source.
inline void Advance(const StretchAxis& a, int64_t* counter, int* index) {
  *counter -= 65536;
  if (*counter > 0) return;
  do {
    *index += a.direction;
    *counter += a.ratio;
  } while (*counter <= 0);
  if (*index < 0)
    *index = 0;
  else if (*index >= a.size)
    *index = a.size - 1;
}

struct StretchGeometry {
  const MEMIMG* source;
  const MEMIMG* blend;
  uint8_t* destination;  // first destination pixel drawn
  int destinationPitch;
  int destinationBytes;
  int width;  // clipped
  int height;
  StretchAxis x;
  StretchAxis y;
};

// The copy of a source exactly twice as wide as drawn, left to right, through the vector rows:
// every source pixel twice, the first once when the draw area cuts its pair. An unkeyed row that
// samples the source row of the row above is that row again. False: not such a draw.
template <KernelConfig C>
bool DoubledRows(const VectorRows& v, const KernelContext& k, const StretchGeometry& g) {
  if (g.x.ratio != 2 * 65536 || g.x.direction != 1) return false;
  const bool once = g.x.counter <= 65536;  // the first column's pair began left of the area
  if (g.x.first + (g.width - 1 + (once ? 1 : 0)) / 2 >= g.x.size) return false;
  const MEMIMGBody* sb = g.source->body;
  int row = g.y.first, previousRow = -1;
  int64_t rowCounter = g.y.counter;
  for (int j = 0; j < g.height; ++j) {
    const uint8_t* s = g.source->pixels + static_cast<intptr_t>(row) * sb->pitch +
                       static_cast<intptr_t>(g.x.first) * 4;
    uint8_t* d = g.destination + static_cast<intptr_t>(j) * g.destinationPitch;
    if (!C.trans && row == previousRow) {
      std::memcpy(d, d - g.destinationPitch, static_cast<size_t>(g.width) * 4);
    } else if (once) {
      if (!C.trans || Load32(s) != k.key) Store32(d, Load32(s));
      v.doubled(d + 4, s + 4, g.width - 1, C.trans, k.key);
    } else {
      v.doubled(d, s, g.width, C.trans, k.key);
    }
    previousRow = row;
    if (j + 1 < g.height) Advance(g.y, &rowCounter, &row);
  }
  return true;
}

template <KernelConfig C>
void StretchRows(const KernelContext& k, const StretchGeometry& g) {
  if constexpr (C.mode == 0 && C.pixelType == 1 && C.source == kSourceDirect && !C.blend &&
                !C.bright) {
    const VectorRows* vector = ChosenVectorRows();
    if (vector && DoubledRows<C>(*vector, k, g)) return;
  }
  const MEMIMGBody* sb = g.source->body;
  int sourceBytes = sb->format->bytesPerPixel;
  int blendPitch = g.blend ? g.blend->body->pitch : 0;
  int row = g.y.first;
  int64_t rowCounter = g.y.counter;
  for (int j = 0; j < g.height; ++j) {
    const uint8_t* s = g.source->pixels + static_cast<intptr_t>(row) * sb->pitch;
    const uint8_t* b =
        C.blend ? g.blend->pixels + static_cast<intptr_t>(row) * blendPitch : nullptr;
    uint8_t* d = g.destination + static_cast<intptr_t>(j) * g.destinationPitch;
    int column = g.x.first;
    int64_t counter = g.x.counter;
    for (int i = 0; i < g.width; ++i) {
      blend::DrawPixel<C>(k, s + static_cast<intptr_t>(column) * sourceBytes,
                          d + static_cast<intptr_t>(i) * g.destinationBytes,
                          C.blend ? b + column : nullptr, 0);
      if (i + 1 < g.width) Advance(g.x, &counter, &column);
    }
    if (j + 1 < g.height) Advance(g.y, &rowCounter, &row);
  }
}

}  // namespace

// The point blit's guards apply here too: a pair it refuses would be written out of bounds.
int DrawMEMIMGStretched(MEMIMG* destination, const MEMIMG* source, const int32_t* rect,
                        int transparencyFlag, const MEMIMG* blendImage,
                        const KernelDrawSettings* settings) {
  if (!source || !AcceptsKernelCall(destination, source, blendImage, settings)) return 0;
  const MEMIMGBody* db = destination->body;

  int directionX = rect[0] <= rect[2] ? 1 : -1;
  int directionY = rect[1] <= rect[3] ? 1 : -1;
  RECT r{directionX > 0 ? rect[0] : rect[2], directionY > 0 ? rect[1] : rect[3],
         directionX > 0 ? rect[2] : rect[0], directionY > 0 ? rect[3] : rect[1]};
  int64_t width = static_cast<int64_t>(r.right) - r.left;
  int64_t height = static_cast<int64_t>(r.bottom) - r.top;
  if (width == 0 || height == 0) return 0;
  if (width == source->width && height == source->height && directionX > 0 && directionY > 0)
    return DrawMEMIMGAtPosition(destination, source, r.left, r.top, transparencyFlag, blendImage,
                                settings);
  if (source->width <= 0 || source->height <= 0) return 0;

  RECT unclipped = r;
  ClipRectToRect(&r, &settings->drawArea);
  StretchGeometry g{};
  g.x = MakeAxis(width, source->width, static_cast<int64_t>(r.left) - unclipped.left, directionX);
  g.y = MakeAxis(height, source->height, static_cast<int64_t>(r.top) - unclipped.top, directionY);
  // A source more than 65536 times the target has a zero ratio: nothing to sample.
  if (g.x.ratio == 0 || g.y.ratio == 0) return 0;
  g.width = r.right - r.left;
  g.height = r.bottom - r.top;
  if (g.width <= 0 || g.height <= 0) return 0;

  KernelContext k;
  KernelSelection s;
  if (!PrepareKernelCall(destination, source, blendImage, transparencyFlag, settings, &k, &s))
    return 0;

  g.source = source;
  g.blend = blendImage;
  g.destinationBytes = db->format->bytesPerPixel;
  g.destinationPitch = db->pitch;
  g.destination = destination->pixels + static_cast<intptr_t>(r.top) * db->pitch +
                  static_cast<intptr_t>(r.left) * g.destinationBytes;

  DispatchImageKernel<kPathStretched>(s, [&]<KernelConfig C>() { StretchRows<C>(k, g); });
  return 0;
}
