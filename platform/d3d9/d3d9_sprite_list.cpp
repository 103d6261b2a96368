// Sprite lists: each quad is proved a rectangle of whole texel steps by integer arithmetic on
// its snapped corners and scaled texture coordinates, then shaded as one small block.
#include "platform/d3d9/d3d9_sprite_list.h"

#include <emmintrin.h>
#include <algorithm>

#include <cmath>
#include <cstring>
#include <utility>

#include "platform/d3d9/d3d9_internal.h"

namespace {

// As the span paths bound them, so the products below stay in 128 bits.
constexpr double SpriteCoordinateLimit = 32768;

// a and b times 2^bits, whole, for the fewest bits up to 32; false when there are none.
bool ScaleToWhole(double a, double b, int* bits, std::int64_t* wa, std::int64_t* wb) {
  for (int k = 0; k <= 32; ++k) {
    const double scale = static_cast<double>(std::uint64_t{1} << k);
    const double sa = a * scale, sb = b * scale;
    if (!(std::fabs(sa) < 9.0e18 && std::fabs(sb) < 9.0e18)) return false;
    const auto ia = static_cast<std::int64_t>(sa), ib = static_cast<std::int64_t>(sb);
    if (static_cast<double>(ia) == sa && static_cast<double>(ib) == sb) {
      *bits = k, *wa = ia, *wb = ib;
      return true;
    }
  }
  return false;
}

// WholeSteps on the scaled coordinates t0 and t1 (times 2^bits), in integers of type T wide
// enough for their products with the edges.
template <class T>
bool SnappedSteps(std::int64_t t0, std::int64_t t1, int bits, std::int64_t e0, std::int64_t e1,
                  std::int64_t s, int size, std::int64_t count, std::int64_t* index,
                  std::int64_t* step) {
  const T d = static_cast<T>(e1 - e0) << bits;  // e1 > e0
  const T perPixel = static_cast<T>(t1 - t0) * SubPixel;
  // One texel a pixel, either way, needs no division.
  const T q = perPixel == d ? T(1) : (perPixel == -d ? T(-1) : perPixel / d);
  if (q * d != perPixel) return false;
  const T n = static_cast<T>(t0) * (e1 - s) + static_cast<T>(t1) * (s - e0);
  T whole;
  if constexpr (sizeof(T) == 8) {
    // Under 2^56, the quotient in doubles lies near the floor without the division unit's
    // latency; the steps below make it exact.
    whole = static_cast<T>(static_cast<double>(n) / static_cast<double>(d));
  } else {
    whole = n / d;
  }
  T r = n - whole * d;
  while (r < 0) r += d, --whole;
  while (r >= d) r -= d, ++whole;
  const T margin = (d >> 24) + 1;
  if (r < margin || r > d - margin) return false;
  const T last = whole + q * (count - 1);
  if (whole < 0 || whole >= size || last < 0 || last >= size) return false;
  *index = static_cast<std::int64_t>(whole);
  *step = static_cast<std::int64_t>(q);
  return true;
}

// WholeSteps for any coordinates, below; kept out of line so that a glyph's quads inline the
// short test above it.
[[gnu::noinline]] bool GeneralSteps(double c0, double c1, std::int64_t e0, std::int64_t e1,
                                    int size, std::int64_t first, std::int64_t count,
                                    std::int64_t* index, std::int64_t* step);

// One texture axis across a rectangle: the coordinate is c0 at the snapped edge e0 and c1 at e1,
// linear between, sampled at pixel centres `first` to `first + count - 1`. Succeeds when the
// texel index steps by a whole number of texels, every index lies inside [0, size) and each
// coordinate is far enough from a texel edge (2^-24 texel, as the span paths ask) for the
// per-pixel formula to find the same texel.
[[gnu::always_inline]] inline bool WholeSteps(double c0, double c1, std::int64_t e0,
                                              std::int64_t e1, int size, std::int64_t first,
                                              std::int64_t count, std::int64_t* index,
                                              std::int64_t* step) {
  if (!(std::fabs(c0) <= 256 && std::fabs(c1) <= 256)) return false;
  const std::int64_t s = first * SubPixel;
  // A glyph's or a sprite's quad: one texel a pixel, the coordinates whole or half texels (a
  // clipped quad's edge lies half a texel in). In units of 2^-bits texel the coordinate at s is
  // then N / 2^8 = a + (s - e0) 2^bits / SubPixel, the index its floor and the remainder of the
  // division below D * fraction / 2^8 (D = e1 - e0), with no product of coordinates or division.
  for (int bits = 0; bits <= 1; ++bits) {
    const double scale = bits == 0 ? 1.0 : 2.0;
    const double a = c0 * size * scale, b = c1 * size * scale;
    const auto ta = static_cast<std::int64_t>(a), tb = static_cast<std::int64_t>(b);
    if (static_cast<double>(ta) != a || static_cast<double>(tb) != b) continue;
    const std::int64_t span = e1 - e0;  // under 2^24: the snapped corners lie inside 2^23
    if ((tb - ta) * SubPixel != span << bits) break;
    const std::int64_t n = ta * SubPixel + ((s - e0) << bits);
    const std::int64_t fraction = n & ((SubPixel << bits) - 1);
    const std::int64_t margin = ((span << bits) >> 24) + 1;
    if (span * fraction < margin * SubPixel ||
        span * fraction > ((span << bits) - margin) * SubPixel)
      return false;
    const std::int64_t whole = n >> (8 + bits);  // floor
    if (whole < 0 || whole + count - 1 >= size) return false;
    *index = whole;
    *step = 1;
    return true;
  }
  return GeneralSteps(c0, c1, e0, e1, size, first, count, index, step);
}

// WholeSteps for any coordinates: scaled to whole numbers, in products and divisions.
[[gnu::noinline]] bool GeneralSteps(double c0, double c1, std::int64_t e0, std::int64_t e1,
                                    int size, std::int64_t first, std::int64_t count,
                                    std::int64_t* index, std::int64_t* step) {
  const std::int64_t s = first * SubPixel;
  int bits;
  std::int64_t t0, t1;
  if (!ScaleToWhole(c0 * size, c1 * size, &bits, &t0, &t1)) return false;
  // A glyph's numbers fit in 64 bits, where the divisions are single instructions.
  constexpr std::int64_t Narrow = std::int64_t{1} << 30;
  if (bits <= 8 && t0 > -Narrow && t0 < Narrow && t1 > -Narrow && t1 < Narrow)
    return SnappedSteps<std::int64_t>(t0, t1, bits, e0, e1, s, size, count, index, step);
  return SnappedSteps<Wide>(t0, t1, bits, e0, e1, s, size, count, index, step);
}

bool Culled(const PixelPipeline& p, const std::int64_t* x, const std::int64_t* y) {
  const std::int64_t area = (x[1] - x[0]) * (y[2] - y[0]) - (y[1] - y[0]) * (x[2] - x[0]);
  return area == 0 || (p.cullMode == D3DCULL_CW && area > 0) ||
         (p.cullMode == D3DCULL_CCW && area < 0);
}

// A quad proved a screen-aligned rectangle: its snapped edges and the texture coordinate of each
// column (u) and row (v).
struct SpriteRectangle {
  std::int64_t x1, x2, y1, y2;
  double u[2], v[2];
};

[[gnu::always_inline]] inline bool Snapped(const RasterVertex& v, double rhw, std::int64_t* x,
                                           std::int64_t* y) {
  return v.rhw == rhw && std::fabs(v.x) < SpriteCoordinateLimit &&
         std::fabs(v.y) < SpriteCoordinateLimit && Snap(v.x, x) && Snap(v.y, y);
}

bool Same(const RasterVertex& a, const RasterVertex& b, int set) {
  return a.x == b.x && a.y == b.y && a.rhw == b.rhw && a.tex[set][0] == b.tex[set][0] &&
         a.tex[set][1] == b.tex[set][1];
}

// The order the engine's batches write a quad in: corners 0, 1, 2 then 3, 2, 1, where 0 and 1
// share a row and a v, 0 and 2 a column and a u. Four snaps prove it.
bool SharedCorners(const PixelPipeline& p, const RasterVertex* const* a,
                   const RasterVertex* const* b, int set, SpriteRectangle* r) {
  const RasterVertex &c0 = *a[0], &c1 = *a[1], &c2 = *a[2], &c3 = *b[0];
  if (!Same(*b[1], c2, set) || !Same(*b[2], c1, set) || c0.x != c2.x || c1.x != c3.x ||
      c0.y != c1.y || c2.y != c3.y || c0.tex[set][0] != c2.tex[set][0] ||
      c1.tex[set][0] != c3.tex[set][0] || c0.tex[set][1] != c1.tex[set][1] ||
      c2.tex[set][1] != c3.tex[set][1])
    return false;
  const double rhw = c0.rhw;
  std::int64_t x0, y0, x1, y1;
  if (!(rhw > 0.0) || !Snapped(c0, rhw, &x0, &y0) || !Snapped(c3, rhw, &x1, &y1) || c1.rhw != rhw ||
      c2.rhw != rhw || x0 == x1 || y0 == y1)
    return false;
  // Both triangles wind the same way: clockwise on screen when the area is positive.
  const std::int64_t area = (x1 - x0) * (y1 - y0);
  if ((p.cullMode == D3DCULL_CW && area > 0) || (p.cullMode == D3DCULL_CCW && area < 0))
    return false;
  const bool left = x0 < x1, top = y0 < y1;
  r->x1 = left ? x0 : x1, r->x2 = left ? x1 : x0;
  r->y1 = top ? y0 : y1, r->y2 = top ? y1 : y0;
  r->u[0] = c0.tex[set][0], r->u[1] = c3.tex[set][0];
  r->v[0] = c0.tex[set][1], r->v[1] = c3.tex[set][1];
  if (!left) std::swap(r->u[0], r->u[1]);
  if (!top) std::swap(r->v[0], r->v[1]);
  return true;
}

// Any two triangles over the four corners of a rectangle, in any order.
bool AnyCorners(const PixelPipeline& p, const RasterVertex* const* a, const RasterVertex* const* b,
                int set, SpriteRectangle* r) {
  const RasterVertex* all[6] = {a[0], a[1], a[2], b[0], b[1], b[2]};
  const double rhw = all[0]->rhw;
  if (!(rhw > 0.0)) return false;
  std::int64_t x[6], y[6];
  for (int k = 0; k < 6; ++k) {
    const RasterVertex& v = *all[k];
    if (v.rhw != rhw || !(std::fabs(v.x) < SpriteCoordinateLimit) ||
        !(std::fabs(v.y) < SpriteCoordinateLimit) || !Snap(v.x, &x[k]) || !Snap(v.y, &y[k]))
      return false;
  }
  if (Culled(p, x, y) || Culled(p, x + 3, y + 3)) return false;
  const std::int64_t x1 = *std::min_element(x, x + 6), x2 = *std::max_element(x, x + 6);
  const std::int64_t y1 = *std::min_element(y, y + 6), y2 = *std::max_element(y, y + 6);
  r->x1 = x1, r->x2 = x2, r->y1 = y1, r->y2 = y2;
  if (x1 == x2 || y1 == y2) return false;
  // Two triangles of three corners each, lacking opposite corners: they meet on a diagonal and
  // cover the rectangle once. Each column has one u, each row one v.
  int lacked[2] = {15, 15};
  double* u = r->u;
  double* v = r->v;
  bool seenU[2] = {}, seenV[2] = {};
  for (int k = 0; k < 6; ++k) {
    const int corner = CornerOf(x[k], y[k], x1, x2, y1, y2);
    if (corner < 0) return false;
    lacked[k / 3] &= ~(1 << corner);
    const int column = corner & 1, row = corner >> 1;
    const double tu = all[k]->tex[set][0], tv = all[k]->tex[set][1];
    if ((seenU[column] && u[column] != tu) || (seenV[row] && v[row] != tv)) return false;
    u[column] = tu, v[row] = tv;
    seenU[column] = seenV[row] = true;
  }
  for (int h = 0; h < 2; ++h)
    if (lacked[h] == 0 || (lacked[h] & (lacked[h] - 1)) != 0) return false;
  if ((lacked[0] | lacked[1]) != 0b1001 && (lacked[0] | lacked[1]) != 0b0110) return false;
  return true;
}

}  // namespace

bool StartSpriteList(const PixelPipeline& p, SpriteList* list) {
  list->usable = false;
  if (!SpanPathsEnabled() || !p.target || p.clip.left >= p.clip.right ||
      p.clip.top >= p.clip.bottom)
    return false;
  // A quad's specular colour is checked against the fast path's terms quad by quad.
  const FastTexturePath f = MakeFastTexturePath(p, Rgba{0, 0, 0, 0}, false);
  if (!f.usable) return false;
  list->span.f = f;
  if (!SetUpRunShading(p, &list->span)) return false;
  list->p = &p;
  list->usable = true;
  return true;
}

namespace {

// The rectangle drawn as a sprite in the flat diffuse colour; false (nothing drawn) when its
// texels are not whole steps inside the texture, or it covers no pixel.
[[gnu::always_inline]] inline bool DrawSpriteRectangle(SpriteList& list, const SpriteRectangle& r,
                                                       std::uint32_t diffuse) {
  const PixelPipeline& p = *list.p;
  const std::int64_t x1 = r.x1, x2 = r.x2, y1 = r.y1, y2 = r.y2;
  const double* u = r.u;
  const double* v = r.v;

  // Left and top edges are inside, right and bottom edges outside.
  const std::int64_t firstColumn = std::max<std::int64_t>(CeilDiv(x1, SubPixel), p.clip.left),
                     lastColumn =
                         std::min<std::int64_t>(CeilDiv(x2, SubPixel) - 1, p.clip.right - 1);
  const std::int64_t firstRow = std::max<std::int64_t>(CeilDiv(y1, SubPixel), p.clip.top),
                     lastRow = std::min<std::int64_t>(CeilDiv(y2, SubPixel) - 1, p.clip.bottom - 1);
  if (firstColumn > lastColumn || firstRow > lastRow) return false;
  const std::int64_t columns = lastColumn - firstColumn + 1, rows = lastRow - firstRow + 1;
  const CpuSurface& level = *list.span.f.level;
  std::int64_t tu, stepU, tv, stepV;
  if (!WholeSteps(u[0], u[1], x1, x2, static_cast<int>(level.width), firstColumn, columns, &tu,
                  &stepU) ||
      !WholeSteps(v[0], v[1], y1, y2, static_cast<int>(level.height), firstRow, rows, &tv, &stepV))
    return false;

  // Field by field from the packed colour: a returned Rgba stored as one would stall the store.
  RunShading& shading = list.span.shading;
  shading.dr = static_cast<int>((diffuse >> 16) & 0xFF);
  shading.dg = static_cast<int>((diffuse >> 8) & 0xFF);
  shading.db = static_cast<int>(diffuse & 0xFF);
  shading.da = static_cast<int>(diffuse >> 24);
  const std::uint8_t* texel = level.Row(static_cast<int>(tv)) + tu * list.span.f.texelBytes;
  const std::ptrdiff_t outPitch = p.target->pitch / 4;
  auto* out =
      reinterpret_cast<std::uint32_t*>(p.target->Row(static_cast<int>(firstRow))) + firstColumn;
  ShadeTexelRectangle(list.span, texel, static_cast<std::ptrdiff_t>(stepU),
                      static_cast<std::ptrdiff_t>(stepV * level.pitch), out, outPitch,
                      static_cast<int>(columns), static_cast<int>(rows));
  ++list.sprites;
  list.covered += columns * rows;
  return true;
}

bool FlatColoursUsable(const SpriteList& list, std::uint32_t diffuseA, std::uint32_t diffuseB,
                       std::uint32_t specularA, std::uint32_t specularB) {
  return list.usable && diffuseA == diffuseB && specularA == specularB &&
         !(list.p->specularAdd && (specularA & 0x00FFFFFFu) != 0);
}

inline float FloatAt(const std::uint8_t* v, int offset) {
  float f;
  std::memcpy(&f, v + offset, 4);
  return f;
}

inline std::uint32_t DwordAt(const std::uint8_t* v, int offset, std::uint32_t none) {
  if (offset < 0) return none;
  std::uint32_t d;
  std::memcpy(&d, v + offset, 4);
  return d;
}

// The first `size` bytes of two vertices the same, sixteen at a time (size is at least 16).
inline bool SameBytes(const std::uint8_t* a, const std::uint8_t* b, int size) {
  const auto load = [](const std::uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  };
  int k = 0;
  for (; k + 16 < size; k += 16)
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(load(a + k), load(b + k))) != 0xFFFF) return false;
  return _mm_movemask_epi8(_mm_cmpeq_epi8(load(a + size - 16), load(b + size - 16))) == 0xFFFF;
}

}  // namespace

bool DrawSprite(SpriteList& list, const RasterVertex* const* a, const RasterVertex& flatA,
                const RasterVertex* const* b, const RasterVertex& flatB) {
  if (!FlatColoursUsable(list, flatA.diffuse, flatB.diffuse, flatA.specular, flatB.specular))
    return false;
  SpriteRectangle r;
  const PixelPipeline& p = *list.p;
  if (!SharedCorners(p, a, b, list.span.f.set, &r) && !AnyCorners(p, a, b, list.span.f.set, &r))
    return false;
  return DrawSpriteRectangle(list, r, flatA.diffuse);
}

bool DrawSpriteFromBytes(SpriteList& list, const std::uint8_t* v, std::size_t stride,
                         const SpriteVertexLayout& layout) {
  const std::uint8_t *v0 = v, *v1 = v + stride, *v2 = v1 + stride, *v3 = v2 + stride;
  if (!SameBytes(v3 + stride, v2, layout.size) || !SameBytes(v3 + 2 * stride, v1, layout.size))
    return false;
  const std::uint32_t diffuse = DwordAt(v0, layout.diffuse, 0xFFFFFFFFu);
  if (!FlatColoursUsable(list, diffuse, DwordAt(v3, layout.diffuse, 0xFFFFFFFFu),
                         DwordAt(v0, layout.specular, 0), DwordAt(v3, layout.specular, 0)))
    return false;
  // Corners 0 and 1 share a row and a v, 0 and 2 a column and a u; one rhw for all.
  const int u = layout.tex, tv = layout.tex + 4;
  const float rhw = FloatAt(v0, 12);
  if (FloatAt(v0, 0) != FloatAt(v2, 0) || FloatAt(v1, 0) != FloatAt(v3, 0) ||
      FloatAt(v0, 4) != FloatAt(v1, 4) || FloatAt(v2, 4) != FloatAt(v3, 4) ||
      FloatAt(v0, u) != FloatAt(v2, u) || FloatAt(v1, u) != FloatAt(v3, u) ||
      FloatAt(v0, tv) != FloatAt(v1, tv) || FloatAt(v2, tv) != FloatAt(v3, tv) || !(rhw > 0.0f) ||
      FloatAt(v1, 12) != rhw || FloatAt(v2, 12) != rhw || FloatAt(v3, 12) != rhw)
    return false;
  const double x0 = FloatAt(v0, 0), y0 = FloatAt(v0, 4), x3 = FloatAt(v3, 0), y3 = FloatAt(v3, 4);
  std::int64_t sx0, sy0, sx3, sy3;
  if (!(std::fabs(x0) < SpriteCoordinateLimit && std::fabs(y0) < SpriteCoordinateLimit &&
        std::fabs(x3) < SpriteCoordinateLimit && std::fabs(y3) < SpriteCoordinateLimit) ||
      !Snap(x0, &sx0) || !Snap(y0, &sy0) || !Snap(x3, &sx3) || !Snap(y3, &sy3) || sx0 == sx3 ||
      sy0 == sy3)
    return false;
  // Both triangles wind the same way: clockwise on screen when the area is positive.
  const PixelPipeline& p = *list.p;
  const std::int64_t area = (sx3 - sx0) * (sy3 - sy0);
  if ((p.cullMode == D3DCULL_CW && area > 0) || (p.cullMode == D3DCULL_CCW && area < 0))
    return false;
  const bool left = sx0 < sx3, top = sy0 < sy3;
  SpriteRectangle r;
  r.x1 = left ? sx0 : sx3, r.x2 = left ? sx3 : sx0;
  r.y1 = top ? sy0 : sy3, r.y2 = top ? sy3 : sy0;
  const double u0 = FloatAt(v0, u), u3 = FloatAt(v3, u), t0 = FloatAt(v0, tv), t3 = FloatAt(v3, tv);
  r.u[0] = left ? u0 : u3, r.u[1] = left ? u3 : u0;
  r.v[0] = top ? t0 : t3, r.v[1] = top ? t3 : t0;
  return DrawSpriteRectangle(list, r, diffuse);
}

void FinishSpriteList(SpriteList& list) {
  if (list.sprites == 0) return;
  CountD3D9Call(D3D9Counter::SpanTriangle, static_cast<int>(2 * list.sprites));
  CountD3D9Call(D3D9Counter::SpanRectangle, static_cast<int>(list.sprites));
  CountD3D9Call(D3D9Counter::SpriteQuad, static_cast<int>(list.sprites));
  CountD3D9Call(D3D9Counter::CoveredPixels, static_cast<int>(list.covered));
  list.sprites = list.covered = 0;
}
