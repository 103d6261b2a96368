// The point blit: a whole source image drawn with its top-left pixel at a destination position,
// cut to the draw area, through the clipped path or, for an unclipped keyed draw of an image with
// a valid run-length table, the run-length path.
#include <cstring>

#include "softrender/blend_modes.h"
#include "softrender/software_kernels.h"
#include "softrender/vector_rows.h"
#include "system/math.h"

namespace {

struct PointGeometry {
  const uint8_t* source;
  int sourcePitch;
  int sourceBytes;
  uint8_t* destination;
  int destinationPitch;
  int destinationBytes;
  const uint8_t* blend;
  int blendPitch;
  int width;
  int height;
  const uint8_t* runs;
};

// 16-bit pixels of the add and subtract fast cases, taken in pairs from the row's first pixel: a
// pair whose two pixels are drawn is computed in one 32-bit word.
template <KernelConfig C>
void PairedRows(const KernelContext& k, const PointGeometry& g) {
  for (int y = 0; y < g.height; ++y) {
    const uint8_t* s = g.source + static_cast<intptr_t>(y) * g.sourcePitch;
    uint8_t* d = g.destination + static_cast<intptr_t>(y) * g.destinationPitch;
    for (int x = 0; x < g.width; x += 2) {
      SourcePixel p0 = FetchSource<C>(k, s + static_cast<intptr_t>(x) * g.sourceBytes);
      bool drawn0 = !C.trans || !IsKeyPixel<C>(k, p0.keyValue);
      if (x + 1 < g.width) {
        SourcePixel p1 = FetchSource<C>(k, s + static_cast<intptr_t>(x + 1) * g.sourceBytes);
        bool drawn1 = !C.trans || !IsKeyPixel<C>(k, p1.keyValue);
        uint8_t* d0 = d + 2 * x;
        if (drawn0 && drawn1) {
          uint32_t D = Load16(d0) | (Load16(d0 + 2) << 16);
          uint32_t X = p0.color | (p1.color << 16);
          uint32_t R = C.mode == 2 ? blend::PairedAdd565(D, X) : blend::PairedSub565(D, X);
          Store16(d0, R & 0xFFFF);
          Store16(d0 + 2, R >> 16);
          continue;
        }
        if (drawn1) blend::Apply<C, false>(k, d0 + 2, p1.color, 0, 0);
      }
      if (drawn0) blend::Apply<C, false>(k, d + 2 * x, p0.color, 0, 0);
    }
  }
}

// The configurations that the vector rows draw: 32-bit direct pixels without blend image or
// brightness, in the alpha blend (with its half-sum case) and the full-strength add.
constexpr bool HasVectorRow(KernelConfig c) {
  return c.pixelType == 1 && c.source == kSourceDirect && !c.blend && !c.bright &&
         ((c.mode == 1 && (c.special == kSpecialNone || c.special == kSpecialHalfSum)) ||
          (c.mode == 2 && c.special == kSpecialFast));
}

template <KernelConfig C>
void VectorRow(const VectorRows& v, const KernelContext& k, uint8_t* d, const uint8_t* s,
               int count) {
  if constexpr (C.mode == 1 && C.special == kSpecialHalfSum)
    v.halfSum(d, s, count, C.trans, k.key);
  else if constexpr (C.mode == 1)
    v.alpha(d, s, count, k.p, C.trans, k.key);
  else
    v.add(d, s, count, C.trans, k.key);
}

template <KernelConfig C>
void ClippedRows(const KernelContext& k, const PointGeometry& g) {
  const VectorRows* vector = HasVectorRow(C) ? ChosenVectorRows() : nullptr;
  if constexpr (HasVectorRow(C)) {
    if (vector) {
      for (int y = 0; y < g.height; ++y)
        VectorRow<C>(*vector, k, g.destination + static_cast<intptr_t>(y) * g.destinationPitch,
                     g.source + static_cast<intptr_t>(y) * g.sourcePitch, g.width);
      return;
    }
  }
  if constexpr (C.mode == 0 && C.source == kSourceDirect && !C.blend && !C.bright && !C.trans) {
    size_t rowBytes = static_cast<size_t>(g.width) * g.destinationBytes;
    for (int y = 0; y < g.height; ++y)
      std::memcpy(g.destination + static_cast<intptr_t>(y) * g.destinationPitch,
                  g.source + static_cast<intptr_t>(y) * g.sourcePitch, rowBytes);
  } else if constexpr (C.special == kSpecialFast && C.pixelType == 0) {
    PairedRows<C>(k, g);
  } else {
    for (int y = 0; y < g.height; ++y) {
      const uint8_t* s = g.source + static_cast<intptr_t>(y) * g.sourcePitch;
      uint8_t* d = g.destination + static_cast<intptr_t>(y) * g.destinationPitch;
      const uint8_t* b = C.blend ? g.blend + static_cast<intptr_t>(y) * g.blendPitch : nullptr;
      for (int x = 0; x < g.width; ++x) {
        blend::DrawPixel<C>(k, s, d, b, 0);
        s += g.sourceBytes;
        d += g.destinationBytes;
        if constexpr (C.blend) ++b;
      }
    }
  }
}

// The table is trusted as the image's own, but a run never reaches past the row.
template <KernelConfig C>
void RunRows(const KernelContext& k, const PointGeometry& g) {
  // A run holds no key pixel: the alpha blend's vector row draws it unkeyed.
  constexpr bool vectorRuns = C.pixelType == 1 && C.source == kSourceDirect && !C.blend &&
                              !C.bright && C.mode == 1 && C.special == kSpecialNone;
  const VectorRows* vector = vectorRuns ? ChosenVectorRows() : nullptr;
  const uint8_t* code = g.runs;
  for (int y = 0; y < g.height; ++y) {
    const uint8_t* s = g.source + static_cast<intptr_t>(y) * g.sourcePitch;
    uint8_t* d = g.destination + static_cast<intptr_t>(y) * g.destinationPitch;
    const uint8_t* b = C.blend ? g.blend + static_cast<intptr_t>(y) * g.blendPitch : nullptr;
    int x = 0;
    for (;;) {
      uint8_t c = *code++;
      int kind = c >> 6;
      if (kind == 3) break;
      int n = (c & 63) + 1;
      if (n > g.width - x) n = g.width - x;
      if (kind != 0 && vector) {
        vector->alpha(d + static_cast<intptr_t>(x) * 4, s + static_cast<intptr_t>(x) * 4, n, k.p,
                      false, 0);
      } else if (kind != 0) {
        for (int i = 0; i < n; ++i)
          blend::DrawPixel<C>(k, s + static_cast<intptr_t>(x + i) * g.sourceBytes,
                              d + static_cast<intptr_t>(x + i) * g.destinationBytes,
                              C.blend ? b + x + i : nullptr, kind);
      }
      x += n;
    }
  }
}

}  // namespace

int DrawMEMIMGAtPosition(MEMIMG* destination, const MEMIMG* source, int x, int y,
                         int transparencyFlag, const MEMIMG* blendImage,
                         const KernelDrawSettings* settings) {
  if (!source || !AcceptsKernelCall(destination, source, blendImage, settings)) return 0;
  const MEMIMGBody* db = destination->body;
  const MEMIMGBody* sb = source->body;

  int64_t right = static_cast<int64_t>(x) + source->width;
  int64_t bottom = static_cast<int64_t>(y) + source->height;
  RECT r{x, y, static_cast<LONG>(right > INT32_MAX ? INT32_MAX : right),
         static_cast<LONG>(bottom > INT32_MAX ? INT32_MAX : bottom)};
  if (!ClipToDrawArea(&r, settings)) return 0;
  const int w = r.right - r.left, h = r.bottom - r.top;

  KernelContext k;
  KernelSelection s;
  if (!PrepareKernelCall(destination, source, blendImage, transparencyFlag, settings, &k, &s))
    return 0;

  int sx = r.left - x;
  int sy = r.top - y;
  PointGeometry g{};
  g.sourceBytes = sb->format->bytesPerPixel;
  g.sourcePitch = sb->pitch;
  g.source = source->pixels + static_cast<intptr_t>(sy) * sb->pitch +
             static_cast<intptr_t>(sx) * g.sourceBytes;
  g.destinationBytes = db->format->bytesPerPixel;
  g.destinationPitch = db->pitch;
  g.destination = destination->pixels + static_cast<intptr_t>(r.top) * db->pitch +
                  static_cast<intptr_t>(r.left) * g.destinationBytes;
  if (blendImage) {
    g.blendPitch = blendImage->body->pitch;
    g.blend = blendImage->pixels + static_cast<intptr_t>(sy) * g.blendPitch + sx;
  }
  g.width = w;
  g.height = h;

  if (!s.blend && !s.bright && s.source != kSourceAlpha) {
    if (s.mode == 1)
      s.special = k.p == 128 ? kSpecialHalfSum : s.pixelType == 0 ? kSpecialLerp64 : kSpecialNone;
    else if ((s.mode == 2 || s.mode == 3) && k.p == 255)
      s.special = kSpecialFast;
  }

  // The table describes the whole body, so only a view of the whole body may use it.
  bool wholeBody =
      source->pixels == sb->pixels && source->width == sb->width && source->height == sb->height;
  bool runs = transparencyFlag == 1 && sb->tableValid == 1 && sb->transparencyTable != nullptr &&
              wholeBody && w == source->width && h == source->height;
  if (runs) {
    g.runs = sb->transparencyTable;
    s.special = kSpecialNone;
    DispatchImageKernel<kPathPointRuns>(s, [&]<KernelConfig C>() { RunRows<C>(k, g); });
  } else {
    DispatchImageKernel<kPathPoint>(s, [&]<KernelConfig C>() { ClippedRows<C>(k, g); });
  }
  return 0;
}
