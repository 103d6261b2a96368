// Sprite lists: each quad is proved a rectangle of whole texel steps by integer arithmetic on
// its snapped corners and scaled texture coordinates, then shaded as one small block.
#include "platform/d3d9/d3d9_sprite_list.h"

#include <emmintrin.h>
#include <xmmintrin.h>

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

// WholeSteps's common case, the coordinates whole numbers ha and hb of half texels: 1 when the
// texels step by one inside the texture (the first in *index), 0 when they cannot be proved, -1
// when they do not step by one and want the general arithmetic. In units of 2^-bits texel the
// coordinate at s is N / 2^8 = a + (s - e0) 2^bits / SubPixel, the index its floor and the
// remainder of the division below D * fraction / 2^8 (D = e1 - e0), with no product of
// coordinates or division.
[[gnu::always_inline]] inline int HalfTexelSteps(std::int64_t ha, std::int64_t hb, std::int64_t e0,
                                                 std::int64_t e1, int size, std::int64_t first,
                                                 std::int64_t count, std::int64_t* index) {
  const int bits = static_cast<int>((ha | hb) & 1);  // even: whole texels
  const std::int64_t ta = ha >> (1 - bits), tb = hb >> (1 - bits);
  const std::int64_t span = e1 - e0;  // under 2^24: the snapped corners lie inside 2^23
  if ((tb - ta) * SubPixel != span << bits) return -1;
  const std::int64_t n = ta * SubPixel + ((first * SubPixel - e0) << bits);
  const std::int64_t fraction = n & ((SubPixel << bits) - 1);
  const std::int64_t margin = ((span << bits) >> 24) + 1;
  if (span * fraction < margin * SubPixel || span * fraction > ((span << bits) - margin) * SubPixel)
    return 0;
  const std::int64_t whole = n >> (8 + bits);  // floor
  if (whole < 0 || whole + count - 1 >= size) return 0;
  *index = whole;
  return 1;
}

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
  // A glyph's or a sprite's quad: one texel a pixel, the coordinates whole or half texels (a
  // clipped quad's edge lies half a texel in).
  // Both in half texels first: whole there, and even, they are whole texels (bits 0).
  const double a2 = c0 * size * 2.0, b2 = c1 * size * 2.0;
  const auto ha = static_cast<std::int64_t>(a2), hb = static_cast<std::int64_t>(b2);
  if (static_cast<double>(ha) == a2 && static_cast<double>(hb) == b2) {
    const int proved = HalfTexelSteps(ha, hb, e0, e1, size, first, count, index);
    if (proved >= 0) {
      *step = 1;
      return proved == 1;
    }
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

// The rectangle of snapped opposite corners (x0, y0) and (x1, y1), and whether the first lies
// left of and above the second; false when the culling drops the quad (both its triangles wind
// the same way: clockwise on screen when the area is positive).
bool OrderCorners(const PixelPipeline& p, std::int64_t x0, std::int64_t y0, std::int64_t x1,
                  std::int64_t y1, SpriteRectangle* r, bool* leftToRight, bool* topToBottom) {
  const std::int64_t area = (x1 - x0) * (y1 - y0);
  if ((p.cullMode == D3DCULL_CW && area > 0) || (p.cullMode == D3DCULL_CCW && area < 0))
    return false;
  const bool left = x0 < x1, top = y0 < y1;
  r->x1 = left ? x0 : x1, r->x2 = left ? x1 : x0;
  r->y1 = top ? y0 : y1, r->y2 = top ? y1 : y0;
  *leftToRight = left, *topToBottom = top;
  return true;
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
  bool left, top;
  if (!OrderCorners(p, x0, y0, x1, y1, r, &left, &top)) return false;
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
  list->pair[0] = list->pair[1] = list->span.shading;
  // Products with twice a size that is a power of two are exact in floats.
  const auto power = [](UINT n) { return n != 0 && n <= 8192 && (n & (n - 1)) == 0; };
  const CpuSurface& level = *f.level;
  const bool exact = power(level.width) && power(level.height);
  const float w = exact ? 2.0f * static_cast<float>(level.width) : 0.0f,
              h = exact ? 2.0f * static_cast<float>(level.height) : 0.0f;
  list->halfTexelScale[0] = list->halfTexelScale[1] = w;
  list->halfTexelScale[2] = list->halfTexelScale[3] = h;
  list->p = &p;
  list->usable = true;
  return true;
}

namespace {

// Where a proved rectangle's pixels lie, inside the clip.
struct SpritePlan {
  std::int64_t firstColumn, columns, firstRow, rows;
  std::uint32_t* out;  // the first row's first
};

// The texels under them: the first row's first, then the steps along a row and down.
struct SpriteTexels {
  const std::uint8_t* texel;
  std::ptrdiff_t step, rowBytes;
};

// The texels of rectangle r (its texture coordinates u and v) under the plan's pixels: false when
// they are not whole steps inside the texture.
[[gnu::always_inline]] inline bool PlanTexels(const SpriteList& list, const SpriteRectangle& r,
                                              const double* u, const double* v,
                                              const SpritePlan& plan, SpriteTexels* texels) {
  const CpuSurface& level = *list.span.f.level;
  std::int64_t tu, stepU, tv, stepV;
  if (!WholeSteps(u[0], u[1], r.x1, r.x2, static_cast<int>(level.width), plan.firstColumn,
                  plan.columns, &tu, &stepU) ||
      !WholeSteps(v[0], v[1], r.y1, r.y2, static_cast<int>(level.height), plan.firstRow, plan.rows,
                  &tv, &stepV))
    return false;
  texels->texel = level.Row(static_cast<int>(tv)) + tu * list.span.f.texelBytes;
  texels->step = static_cast<std::ptrdiff_t>(stepU);
  texels->rowBytes = static_cast<std::ptrdiff_t>(stepV * level.pitch);
  return true;
}

// Rectangle r's pixels inside the clip: false when it covers none.
[[gnu::always_inline]] inline bool PlanPixels(const SpriteList& list, const SpriteRectangle& r,
                                              SpritePlan* plan) {
  const PixelPipeline& p = *list.p;
  // Left and top edges are inside, right and bottom edges outside.
  const std::int64_t firstColumn = std::max<std::int64_t>(CeilDiv(r.x1, SubPixel), p.clip.left),
                     lastColumn =
                         std::min<std::int64_t>(CeilDiv(r.x2, SubPixel) - 1, p.clip.right - 1);
  const std::int64_t firstRow = std::max<std::int64_t>(CeilDiv(r.y1, SubPixel), p.clip.top),
                     lastRow =
                         std::min<std::int64_t>(CeilDiv(r.y2, SubPixel) - 1, p.clip.bottom - 1);
  if (firstColumn > lastColumn || firstRow > lastRow) return false;
  plan->firstColumn = firstColumn, plan->columns = lastColumn - firstColumn + 1;
  plan->firstRow = firstRow, plan->rows = lastRow - firstRow + 1;
  plan->out =
      reinterpret_cast<std::uint32_t*>(p.target->Row(static_cast<int>(firstRow))) + firstColumn;
  return true;
}

// Rectangle r's pixels inside the clip and its texels: false when it covers no pixel or its
// texels are not whole steps inside the texture.
[[gnu::always_inline]] inline bool PlanSprite(const SpriteList& list, const SpriteRectangle& r,
                                              SpritePlan* plan, SpriteTexels* texels) {
  return PlanPixels(list, r, plan) && PlanTexels(list, r, r.u, r.v, *plan, texels);
}

// PlanTexels for coordinates as the vertex bytes hold them (the left and right columns' u, the
// top and bottom rows' v), four lanes at once: a texture whose sizes are powers of two takes
// their products with twice the sizes exactly in floats, and whole numbers of half texels go
// to HalfTexelSteps without a double.
[[gnu::always_inline]] inline bool PlanTexelsFromFloats(const SpriteList& list,
                                                        const SpriteRectangle& r, __m128 uv,
                                                        const SpritePlan& plan,
                                                        SpriteTexels* texels) {
  if (list.halfTexelScale[0] != 0) {
    const __m128 half = _mm_mul_ps(uv, _mm_loadu_ps(list.halfTexelScale));
    const __m128i whole = _mm_cvttps_epi32(half);
    const __m128 inside = _mm_cmple_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), uv), _mm_set1_ps(256.0f));
    if (_mm_movemask_ps(_mm_and_ps(inside, _mm_cmpeq_ps(_mm_cvtepi32_ps(whole), half))) == 15) {
      alignas(16) std::int32_t h[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(h), whole);
      const CpuSurface& level = *list.span.f.level;
      std::int64_t tu = 0, tv = 0;
      const int u = HalfTexelSteps(h[0], h[1], r.x1, r.x2, static_cast<int>(level.width),
                                   plan.firstColumn, plan.columns, &tu);
      const int v = HalfTexelSteps(h[2], h[3], r.y1, r.y2, static_cast<int>(level.height),
                                   plan.firstRow, plan.rows, &tv);
      if (u == 0 || v == 0) return false;
      if (u == 1 && v == 1) {
        texels->texel = level.Row(static_cast<int>(tv)) + tu * list.span.f.texelBytes;
        texels->step = 1;
        texels->rowBytes = static_cast<std::ptrdiff_t>(level.pitch);
        return true;
      }
    }
  }
  alignas(16) float c[4];
  _mm_store_ps(c, uv);
  const double u[2] = {c[0], c[1]}, v[2] = {c[2], c[3]};
  return PlanTexels(list, r, u, v, plan, texels);
}

// The list's shading in a flat diffuse colour, set field by field from the packed colour (a
// returned Rgba stored as one would stall the store).
inline void SetDiffuse(RunShading* shading, std::uint32_t diffuse) {
  shading->dr = static_cast<int>((diffuse >> 16) & 0xFF);
  shading->dg = static_cast<int>((diffuse >> 8) & 0xFF);
  shading->db = static_cast<int>(diffuse & 0xFF);
  shading->da = static_cast<int>(diffuse >> 24);
}

void ShadeSprite(SpriteList& list, const SpritePlan& plan, const SpriteTexels& texels,
                 std::uint32_t diffuse) {
  SetDiffuse(&list.span.shading, diffuse);
  ShadeTexelRectangle(list.span, texels.texel, texels.step, texels.rowBytes, plan.out,
                      list.p->target->pitch / 4, static_cast<int>(plan.columns),
                      static_cast<int>(plan.rows));
  ++list.sprites;
  list.covered += plan.columns * plan.rows;
}

// The rectangle drawn as a sprite in the flat diffuse colour; false (nothing drawn) when its
// texels are not whole steps inside the texture, or it covers no pixel.
bool DrawSpriteRectangle(SpriteList& list, const SpriteRectangle& r, std::uint32_t diffuse) {
  SpritePlan plan;
  SpriteTexels texels;
  if (!PlanSprite(list, r, &plan, &texels)) return false;
  ShadeSprite(list, plan, texels, diffuse);
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

inline __m128i Load16(const std::uint8_t* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// A vertex's x, y, z and rhw.
inline __m128 LoadPosition(const std::uint8_t* v) {
  return _mm_loadu_ps(reinterpret_cast<const float*>(v));
}

// Corners 0 and 2 share a u and corners 1 and 3 another; 0 and 1 share a v and 2 and 3 another.
inline bool SharedTexelCorners(const std::uint8_t* v0, const std::uint8_t* v1,
                               const std::uint8_t* v2, const std::uint8_t* v3, int tex) {
  const auto uv = [tex](const std::uint8_t* v) {
    return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + tex)));
  };
  const __m128 t0 = uv(v0), t1 = uv(v1), t2 = uv(v2), t3 = uv(v3);
  // (u0 v0 u1 v1) against (u2 v2 u3 v3) for the u, (u0 v0 u2 v2) against (u1 v1 u3 v3) for the v.
  const int u = _mm_movemask_ps(_mm_cmpeq_ps(_mm_movelh_ps(t0, t1), _mm_movelh_ps(t2, t3)));
  const int v = _mm_movemask_ps(_mm_cmpeq_ps(_mm_movelh_ps(t0, t2), _mm_movelh_ps(t1, t3)));
  return (u & 5) == 5 && (v & 10) == 10;
}

// The texture coordinates of corners 0 and 3 in column order (u) and row order (v): the left and
// right columns' u, then the top and bottom rows' v.
inline __m128 TexelCorners(const std::uint8_t* v0, const std::uint8_t* v3,
                           const SpriteVertexLayout& layout, bool left, bool top) {
  const auto uv = [&layout](const std::uint8_t* v) {
    return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + layout.tex)));
  };
  // (u0, u3, v0, v3), each pair swapped where corner 3 comes first.
  __m128 c = _mm_unpacklo_ps(uv(v0), uv(v3));
  if (!left) c = _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 2, 0, 1));
  if (!top) c = _mm_shuffle_ps(c, c, _MM_SHUFFLE(2, 3, 1, 0));
  return c;
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

namespace {

// The quad of the six vertices from v on, as DrawSpritesFromBytes reads it; its flat diffuse
// colour in *diffuse. False when it is not such a quad.
[[gnu::always_inline]] inline bool QuadFromBytes(const SpriteList& list, const std::uint8_t* v,
                                                 std::size_t stride,
                                                 const SpriteVertexLayout& layout,
                                                 SpriteRectangle* r, __m128* uv,
                                                 std::uint32_t* diffuse, bool* leftToRight,
                                                 bool* topToBottom) {
  const std::uint8_t *v0 = v, *v1 = v + stride, *v2 = v1 + stride, *v3 = v2 + stride;
  if (!SameBytes(v3 + stride, v2, layout.size) || !SameBytes(v3 + 2 * stride, v1, layout.size))
    return false;
  *diffuse = DwordAt(v0, layout.diffuse, 0xFFFFFFFFu);
  if (!FlatColoursUsable(list, *diffuse, DwordAt(v3, layout.diffuse, 0xFFFFFFFFu),
                         DwordAt(v0, layout.specular, 0), DwordAt(v3, layout.specular, 0)))
    return false;
  // Corners 0 and 1 share a row and a v, 0 and 2 a column and a u; one rhw for all. Compared as
  // floats, four lanes at a time: NaNs differ, and 0 and -0 are the same.
  const __m128 p0 = LoadPosition(v0), p1 = LoadPosition(v1), p2 = LoadPosition(v2),
               p3 = LoadPosition(v3);
  const auto same = [](__m128 a, __m128 b) { return _mm_movemask_ps(_mm_cmpeq_ps(a, b)); };
  constexpr int X = 1, Y = 2, Rhw = 8;
  if ((same(p0, p2) & (X | Rhw)) != (X | Rhw) || (same(p1, p3) & (X | Rhw)) != (X | Rhw) ||
      (same(p0, p1) & (Y | Rhw)) != (Y | Rhw) || (same(p2, p3) & Y) != Y ||
      !SharedTexelCorners(v0, v1, v2, v3, layout.tex) ||
      !(_mm_cvtss_f32(_mm_shuffle_ps(p0, p0, 3)) > 0.0f))
    return false;
  // Corners 0 and 3, snapped: within the limit, each a float whose product with SubPixel is
  // exact in floats, truncated, then rounded half away from zero as Snap rounds.
  const __m128 corners = _mm_movelh_ps(p0, p3);  // x0, y0, x3, y3
  const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), corners);
  if (_mm_movemask_ps(
          _mm_cmplt_ps(magnitude, _mm_set1_ps(static_cast<float>(SpriteCoordinateLimit)))) != 15)
    return false;
  const __m128 scaled = _mm_mul_ps(corners, _mm_set1_ps(static_cast<float>(SubPixel)));
  const __m128i whole = _mm_cvttps_epi32(scaled);
  const __m128 fraction = _mm_sub_ps(scaled, _mm_cvtepi32_ps(whole));
  const __m128i up = _mm_castps_si128(_mm_cmpge_ps(fraction, _mm_set1_ps(0.5f)));
  const __m128i down = _mm_castps_si128(_mm_cmple_ps(fraction, _mm_set1_ps(-0.5f)));
  alignas(16) std::int32_t snapped[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(snapped),
                  _mm_add_epi32(_mm_sub_epi32(whole, up), down));
  const std::int64_t sx0 = snapped[0], sy0 = snapped[1], sx3 = snapped[2], sy3 = snapped[3];
  if (sx0 == sx3 || sy0 == sy3) return false;
  if (!OrderCorners(*list.p, sx0, sy0, sx3, sy3, r, leftToRight, topToBottom)) return false;
  *uv = TexelCorners(v0, v3, layout, *leftToRight, *topToBottom);
  return true;
}

// The next quad's coordinates when it lies exactly where the quad at `first` lies: the same
// bytes of position and rhw at every vertex, its corners shared as QuadFromBytes asks, and its
// own flat colour. False when it does not.
[[gnu::always_inline]] inline bool StackedQuad(const SpriteList& list, const std::uint8_t* first,
                                               std::size_t stride, const SpriteVertexLayout& layout,
                                               bool left, bool top, __m128* uv,
                                               std::uint32_t* diffuse) {
  const std::uint8_t* next = first + 6 * stride;
  __m128i equal = _mm_set1_epi8(-1);
  for (int k = 0; k < 6; ++k)
    equal =
        _mm_and_si128(equal, _mm_cmpeq_epi8(Load16(next + k * stride), Load16(first + k * stride)));
  if (_mm_movemask_epi8(equal) != 0xFFFF) return false;
  const std::uint8_t *v0 = next, *v1 = v0 + stride, *v2 = v1 + stride, *v3 = v2 + stride;
  if (!SameBytes(v3 + stride, v2, layout.size) || !SameBytes(v3 + 2 * stride, v1, layout.size))
    return false;
  *diffuse = DwordAt(v0, layout.diffuse, 0xFFFFFFFFu);
  if (!FlatColoursUsable(list, *diffuse, DwordAt(v3, layout.diffuse, 0xFFFFFFFFu),
                         DwordAt(v0, layout.specular, 0), DwordAt(v3, layout.specular, 0)) ||
      !SharedTexelCorners(v0, v1, v2, v3, layout.tex))
    return false;
  *uv = TexelCorners(v0, v3, layout, left, top);
  return true;
}

}  // namespace

int DrawSpritesFromBytes(SpriteList& list, const std::uint8_t* v, std::size_t stride,
                         const SpriteVertexLayout& layout, bool mayPair) {
  SpriteRectangle r;
  __m128 uv;
  std::uint32_t diffuse;
  bool left, top;
  SpritePlan plan;
  SpriteTexels texels;
  if (!QuadFromBytes(list, v, stride, layout, &r, &uv, &diffuse, &left, &top) ||
      !PlanPixels(list, r, &plan) || !PlanTexelsFromFloats(list, r, uv, plan, &texels))
    return 0;
  // A glyph's edge and then its text over the same pixels: both shaded in one pass.
  std::uint32_t secondDiffuse;
  SpriteTexels second;
  if (mayPair && StackedQuad(list, v, stride, layout, left, top, &uv, &secondDiffuse) &&
      PlanTexelsFromFloats(list, r, uv, plan, &second)) {
    RunShading& first = list.pair[0];
    RunShading& next = list.pair[1];
    SetDiffuse(&first, diffuse);
    SetDiffuse(&next, secondDiffuse);
    if (texels.step == 1 && second.step == 1 && texels.rowBytes == second.rowBytes &&
        ShadeTexelRectanglePair(list.span, first, next, texels.texel, second.texel, texels.rowBytes,
                                plan.out, list.p->target->pitch / 4, static_cast<int>(plan.columns),
                                static_cast<int>(plan.rows))) {
      list.sprites += 2;
      list.covered += 2 * plan.columns * plan.rows;
    } else {
      ShadeSprite(list, plan, texels, diffuse);
      ShadeSprite(list, plan, second, secondDiffuse);
    }
    return 2;
  }
  ShadeSprite(list, plan, texels, diffuse);
  return 1;
}

void FinishSpriteList(SpriteList& list) {
  if (list.sprites == 0) return;
  CountD3D9Call(D3D9Counter::SpanTriangle, static_cast<int>(2 * list.sprites));
  CountD3D9Call(D3D9Counter::SpanRectangle, static_cast<int>(list.sprites));
  CountD3D9Call(D3D9Counter::SpriteQuad, static_cast<int>(list.sprites));
  CountD3D9Call(D3D9Counter::CoveredPixels, static_cast<int>(list.covered));
  list.sprites = list.covered = 0;
}
