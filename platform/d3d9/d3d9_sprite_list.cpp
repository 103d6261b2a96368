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

// The list's shading in a flat diffuse colour, set field by field from the packed colour (a
// returned Rgba stored as one would stall the store), and only when the colour changes.
inline void SetDiffuse(RunShading* shading, std::uint32_t* held, std::uint32_t diffuse) {
  if (*held == diffuse) return;
  *held = diffuse;
  shading->dr = static_cast<int>((diffuse >> 16) & 0xFF);
  shading->dg = static_cast<int>((diffuse >> 8) & 0xFF);
  shading->db = static_cast<int>(diffuse & 0xFF);
  shading->da = static_cast<int>(diffuse >> 24);
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
  // Each shading in a known colour, so that SetDiffuse may keep what it holds.
  SetRunDiffuse(&list->span.shading, Rgba{0, 0, 0, 0});
  list->pair[0] = list->pair[1] = list->span.shading;
  list->spriteDiffuse = list->pairDiffuse[0] = list->pairDiffuse[1] = 0;
  // Products with twice a size that is a power of two are exact in floats.
  const auto power = [](UINT n) { return n != 0 && n <= 8192 && (n & (n - 1)) == 0; };
  const CpuSurface& level = *f.level;
  const bool exact = power(level.width) && power(level.height);
  const float w = exact ? 2.0f * static_cast<float>(level.width) : 0.0f,
              h = exact ? 2.0f * static_cast<float>(level.height) : 0.0f;
  list->halfTexelScale[0] = list->halfTexelScale[1] = w;
  list->halfTexelScale[2] = list->halfTexelScale[3] = h;
  list->halfTexelPairScale[0] = list->halfTexelPairScale[2] = w;
  list->halfTexelPairScale[1] = list->halfTexelPairScale[3] = h;
  list->clipLeft = p.clip.left, list->clipRight = p.clip.right - 1;
  list->clipTop = p.clip.top, list->clipBottom = p.clip.bottom - 1;
  list->target = p.target->Row(0);
  list->targetPitch = p.target->pitch;
  list->outPitch = p.target->pitch / 4;
  list->texture = level.Row(0);
  list->texturePitch = level.pitch;
  // Clockwise on screen: corner 3 right of and below corner 0 (order 3) or neither (order 0).
  list->culledOrders = p.cullMode == D3DCULL_CW ? 0b1001 : (p.cullMode == D3DCULL_CCW ? 0b0110 : 0);
  list->quickClip[0] = p.clip.left, list->quickClip[1] = p.clip.top;
  list->quickClip[2] = p.clip.right - 1, list->quickClip[3] = p.clip.bottom - 1;
  list->quickSize[0] = list->quickSize[2] = static_cast<std::int32_t>(level.width);
  list->quickSize[1] = list->quickSize[3] = static_cast<std::int32_t>(level.height);
  // The short way's products stay in 32 bits for pixels and texels under 2^15 from the origin.
  list->quick = exact && p.clip.left >= 0 && p.clip.top >= 0 && p.clip.right <= 32768 &&
                p.clip.bottom <= 32768;
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
  // Left and top edges are inside, right and bottom edges outside: the first column is the
  // ceiling of x1 / SubPixel, the last one less than the ceiling of x2 / SubPixel.
  static_assert(SubPixel == 256);
  const std::int64_t firstColumn = std::max((r.x1 + 255) >> 8, list.clipLeft),
                     lastColumn = std::min((r.x2 - 1) >> 8, list.clipRight);
  const std::int64_t firstRow = std::max((r.y1 + 255) >> 8, list.clipTop),
                     lastRow = std::min((r.y2 - 1) >> 8, list.clipBottom);
  if (firstColumn > lastColumn || firstRow > lastRow) return false;
  plan->firstColumn = firstColumn, plan->columns = lastColumn - firstColumn + 1;
  plan->firstRow = firstRow, plan->rows = lastRow - firstRow + 1;
  plan->out =
      reinterpret_cast<std::uint32_t*>(list.target + firstRow * list.targetPitch) + firstColumn;
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

void ShadeSprite(SpriteList& list, const SpritePlan& plan, const SpriteTexels& texels,
                 std::uint32_t diffuse) {
  SetDiffuse(&list.span.shading, &list.spriteDiffuse, diffuse);
  ShadeTexelRectangle(list.span, texels.texel, texels.step, texels.rowBytes, plan.out,
                      list.outPitch, static_cast<int>(plan.columns), static_cast<int>(plan.rows));
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

// The engine's own vertex: x, y, z and rhw, the diffuse colour and one coordinate set, packed.
// Its offsets as constants let a quad's proof address every vertex directly.
struct EngineBytes {
  static constexpr bool engine = true;
  static constexpr int size = 28, diffuse = 16, specular = -1, tex = 20;
  static constexpr std::size_t stride = 28;
};

// Any other layout, as the draw call gives it.
struct AnyBytes {
  static constexpr bool engine = false;
  int size, diffuse, specular, tex;
  std::size_t stride;
};

inline std::uint32_t DwordAt(const std::uint8_t* v, int offset, std::uint32_t none) {
  if (offset < 0) return none;
  std::uint32_t d;
  std::memcpy(&d, v + offset, 4);
  return d;
}

inline __m128i Load16(const std::uint8_t* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// The first `size` bytes of two vertices the same, sixteen at a time (size is at least 16).
[[gnu::always_inline]] inline bool SameBytes(const std::uint8_t* a, const std::uint8_t* b,
                                             int size) {
  __m128i equal = _mm_cmpeq_epi8(Load16(a + size - 16), Load16(b + size - 16));
  for (int k = 0; k + 16 < size; k += 16)
    equal = _mm_and_si128(equal, _mm_cmpeq_epi8(Load16(a + k), Load16(b + k)));
  return _mm_movemask_epi8(equal) == 0xFFFF;
}

// A vertex's x, y, z and rhw.
inline __m128 LoadPosition(const std::uint8_t* v) {
  return _mm_loadu_ps(reinterpret_cast<const float*>(v));
}

// Both flat colours the same (corner 0 colours the first triangle, corner 3 the second) and one
// the list shades; the diffuse colour in *diffuse.
template <class Layout>
[[gnu::always_inline]] inline bool FlatColours(const SpriteList& list, const std::uint8_t* v0,
                                               const std::uint8_t* v3, const Layout& layout,
                                               std::uint32_t* diffuse) {
  *diffuse = DwordAt(v0, layout.diffuse, 0xFFFFFFFFu);
  if (*diffuse != DwordAt(v3, layout.diffuse, 0xFFFFFFFFu)) return false;
  if (layout.specular < 0) return true;
  const std::uint32_t specular = DwordAt(v0, layout.specular, 0);
  return specular == DwordAt(v3, layout.specular, 0) &&
         !(list.p->specularAdd && (specular & 0x00FFFFFFu) != 0);
}

// Corners 0 and 2 share a u and corners 1 and 3 another; 0 and 1 share a v and 2 and 3 another.
[[gnu::always_inline]] inline bool SharedTexelCorners(const std::uint8_t* v0,
                                                      const std::uint8_t* v1,
                                                      const std::uint8_t* v2,
                                                      const std::uint8_t* v3, int tex) {
  const auto uv = [tex](const std::uint8_t* v) {
    return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + tex)));
  };
  const __m128 t0 = uv(v0), t1 = uv(v1), t2 = uv(v2), t3 = uv(v3);
  // (u0 v0 u1 v1) against (u2 v2 u3 v3) for the u, (u0 v0 u2 v2) against (u1 v1 u3 v3) for the v.
  const int u = _mm_movemask_ps(_mm_cmpeq_ps(_mm_movelh_ps(t0, t1), _mm_movelh_ps(t2, t3)));
  const int v = _mm_movemask_ps(_mm_cmpeq_ps(_mm_movelh_ps(t0, t2), _mm_movelh_ps(t1, t3)));
  return (u & 5) == 5 && (v & 10) == 10;
}

// The texture coordinates of corners 0 and 3: (u0, u3, v0, v3).
[[gnu::always_inline]] inline __m128 TexelCorners(const std::uint8_t* v0, const std::uint8_t* v3,
                                                  int tex) {
  const auto uv = [tex](const std::uint8_t* v) {
    return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + tex)));
  };
  return _mm_unpacklo_ps(uv(v0), uv(v3));
}

// TexelCorners's coordinates in column order (u) and row order (v): the left and right columns'
// u, then the top and bottom rows' v, each pair swapped where corner 3 comes first.
[[gnu::always_inline]] inline __m128 OrderTexelCorners(__m128 c, bool left, bool top) {
  if (!left) c = _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 2, 0, 1));
  if (!top) c = _mm_shuffle_ps(c, c, _MM_SHUFFLE(2, 3, 1, 0));
  return c;
}

// The engine's vertex in two loads of 16 bytes: x, y, z and rhw, then rhw, diffuse, u and v.
struct EngineVertex {
  __m128i position, rest;
};

inline EngineVertex LoadEngineVertex(const std::uint8_t* v) { return {Load16(v), Load16(v + 12)}; }

// Byte masks (of the two loads' compares, the second's in the high half) of what corners sharing a
// column share (x, rhw and u) and what corners sharing a row share (y, rhw and v).
constexpr unsigned kEngineColumn = 0x0F00F00F, kEngineRow = 0xF000F0F0;

inline unsigned EqualBytes(__m128i a, __m128i b, __m128i c, __m128i d) {
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, b), _mm_cmpeq_epi8(c, d))));
}

// Bytes equal at every bit of mask, two vertices against two others.
inline bool EngineShare(const EngineVertex& a, const EngineVertex& b, const EngineVertex& c,
                        const EngineVertex& d, unsigned mask) {
  const unsigned bytes = EqualBytes(a.position, b.position, c.position, d.position) |
                         EqualBytes(a.rest, b.rest, c.rest, d.rest) << 16;
  return (bytes & mask) == mask;
}

// SnappedQuad's test of the engine's quad at v, the shared values compared byte for byte: corners
// 4 and 5 the bytes of 2 and 1, 0 and 2 and then 1 and 3 in one column, 0 and 1 and then 2 and 3
// in one row, one rhw. That asks more than the floats' equality (a quad with -0 against 0 goes the
// long way) but for NaNs of the same bytes, which the rhw's sign, the coordinate limit and
// QuickTexels's exact coordinates turn away after it. Corners 0 and 3's positions in *p0 and *p3,
// their coordinates as TexelCorners gives them in *uv.
[[gnu::always_inline]] inline bool EngineCorners(const std::uint8_t* v, __m128* p0, __m128* p3,
                                                 __m128* uv) {
  constexpr std::size_t stride = EngineBytes::stride;
  const EngineVertex c0 = LoadEngineVertex(v), c1 = LoadEngineVertex(v + stride),
                     c2 = LoadEngineVertex(v + 2 * stride), c3 = LoadEngineVertex(v + 3 * stride),
                     c4 = LoadEngineVertex(v + 4 * stride), c5 = LoadEngineVertex(v + 5 * stride);
  if (!EngineShare(c4, c2, c5, c1, ~0u) || !EngineShare(c0, c2, c1, c3, kEngineColumn) ||
      !EngineShare(c0, c1, c2, c3, kEngineRow))
    return false;
  *p0 = _mm_castsi128_ps(c0.position), *p3 = _mm_castsi128_ps(c3.position);
  *uv = _mm_unpackhi_ps(_mm_castsi128_ps(c0.rest), _mm_castsi128_ps(c3.rest));
  return true;
}

// StackedQuad's test of the engine's quad after the one at `first` (proved by EngineCorners),
// byte for byte: the first four corners' positions the first quad's, and then the rest of
// EngineCorners's test reduces to the coordinates.
[[gnu::always_inline]] inline bool EngineStacked(const std::uint8_t* first, __m128* uv) {
  constexpr std::size_t stride = EngineBytes::stride;
  const std::uint8_t* next = first + 6 * stride;
  const EngineVertex c0 = LoadEngineVertex(next), c1 = LoadEngineVertex(next + stride),
                     c2 = LoadEngineVertex(next + 2 * stride),
                     c3 = LoadEngineVertex(next + 3 * stride),
                     c4 = LoadEngineVertex(next + 4 * stride),
                     c5 = LoadEngineVertex(next + 5 * stride);
  const unsigned positions =
      EqualBytes(c0.position, Load16(first), c1.position, Load16(first + stride)) &
      EqualBytes(c2.position, Load16(first + 2 * stride), c3.position, Load16(first + 3 * stride));
  constexpr unsigned U = kEngineColumn >> 16, V = kEngineRow >> 16;
  if (positions != 0xFFFF || !EngineShare(c4, c2, c5, c1, ~0u) ||
      (EqualBytes(c0.rest, c2.rest, c1.rest, c3.rest) & U) != U ||
      (EqualBytes(c0.rest, c1.rest, c2.rest, c3.rest) & V) != V)
    return false;
  *uv = _mm_unpackhi_ps(_mm_castsi128_ps(c0.rest), _mm_castsi128_ps(c3.rest));
  return true;
}

// The quad of the six vertices from v on as DrawSpritesFromBytes reads it, up to its snapped
// corners 0 and 3 (x0, y0, x3, y3) and their texture coordinates (u0, u3, v0, v3); its flat
// diffuse colour in *diffuse. False when it is not such a quad.
template <bool Bytewise, class Layout>
[[gnu::always_inline]] inline bool SnappedQuad(const SpriteList& list, const std::uint8_t* v,
                                               const Layout& layout, __m128i* snapped, __m128* uv,
                                               std::uint32_t* diffuse) {
  const std::size_t stride = layout.stride;
  const std::uint8_t *v0 = v, *v1 = v + stride, *v2 = v1 + stride, *v3 = v2 + stride;
  __m128 p0, p3;
  if constexpr (Bytewise) {
    if (!EngineCorners(v, &p0, &p3, uv) || !FlatColours(list, v0, v3, layout, diffuse))
      return false;
  } else {
    if (!SameBytes(v3 + stride, v2, layout.size) || !SameBytes(v3 + 2 * stride, v1, layout.size) ||
        !FlatColours(list, v0, v3, layout, diffuse))
      return false;
    // Corners 0 and 1 share a row and a v, 0 and 2 a column and a u; one rhw for all. Compared
    // as floats, four lanes at a time: NaNs differ, and 0 and -0 are the same.
    p0 = LoadPosition(v0), p3 = LoadPosition(v3);
    const __m128 p1 = LoadPosition(v1), p2 = LoadPosition(v2);
    const auto same = [](__m128 a, __m128 b) { return _mm_movemask_ps(_mm_cmpeq_ps(a, b)); };
    constexpr int X = 1, Y = 2, Rhw = 8;
    if ((same(p0, p2) & same(p1, p3) & (X | Rhw)) != (X | Rhw) ||
        (same(p0, p1) & (Y | Rhw)) != (Y | Rhw) || (same(p2, p3) & Y) != Y ||
        !SharedTexelCorners(v0, v1, v2, v3, layout.tex))
      return false;
    *uv = TexelCorners(v0, v3, layout.tex);
  }
  if (!(_mm_cvtss_f32(_mm_shuffle_ps(p0, p0, 3)) > 0.0f)) return false;
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
  *snapped = _mm_add_epi32(_mm_sub_epi32(whole, up), down);
  return true;
}

// A quad proved from its bytes: its rectangle (edges only), the way corner 0 lies from corner 3,
// its coordinates as OrderTexelCorners orders them and its flat diffuse colour.
struct QuadBytes {
  SpriteRectangle r;
  bool left, top;
  __m128 uv;
  std::uint32_t diffuse;
};

// SnappedQuad's quad as a rectangle: false when it is empty or culled.
template <class Layout>
[[gnu::always_inline]] inline bool QuadFromBytes(const SpriteList& list, const std::uint8_t* v,
                                                 const Layout& layout, QuadBytes* q) {
  __m128i corners;
  __m128 uv;
  if (!SnappedQuad<false>(list, v, layout, &corners, &uv, &q->diffuse)) return false;
  alignas(16) std::int32_t snapped[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(snapped), corners);
  const std::int64_t x0 = snapped[0], y0 = snapped[1], x3 = snapped[2], y3 = snapped[3];
  if (x0 == x3 || y0 == y3) return false;
  // The culling drops both triangles or neither: they wind as corners 0 and 3 lie (clockwise on
  // screen when corner 3 is right of and below corner 0, or left of and above it).
  const bool left = x0 < x3, top = y0 < y3;
  if ((list.culledOrders >> (left | top << 1)) & 1) return false;
  q->r.x1 = left ? x0 : x3, q->r.x2 = left ? x3 : x0;
  q->r.y1 = top ? y0 : y3, q->r.y2 = top ? y3 : y0;
  q->left = left, q->top = top;
  q->uv = OrderTexelCorners(uv, left, top);
  return true;
}

// The next quad's coordinates (as TexelCorners gives them) when it lies exactly where the quad at
// `first` (proved by SnappedQuad) lies: the same bytes of position and rhw at every vertex, its
// corners shared as SnappedQuad asks, and its own flat colour. False when it does not.
template <bool Bytewise, class Layout>
[[gnu::always_inline]] inline bool StackedQuad(const SpriteList& list, const std::uint8_t* first,
                                               const Layout& layout, __m128* uv,
                                               std::uint32_t* diffuse) {
  const std::size_t stride = layout.stride;
  const std::uint8_t* next = first + 6 * stride;
  const std::uint8_t *v0 = next, *v1 = v0 + stride, *v2 = v1 + stride, *v3 = v2 + stride;
  if constexpr (Bytewise)
    return EngineStacked(first, uv) && FlatColours(list, v0, v3, layout, diffuse);
  // Corners 4 and 5 are the bytes of 2 and 1 in both quads, so four corners' positions say all
  // six are the same.
  __m128i equal = _mm_cmpeq_epi8(Load16(v0), Load16(first));
  for (int k = 1; k < 4; ++k)
    equal =
        _mm_and_si128(equal, _mm_cmpeq_epi8(Load16(next + k * stride), Load16(first + k * stride)));
  if (_mm_movemask_epi8(equal) != 0xFFFF || !SameBytes(v3 + stride, v2, layout.size) ||
      !SameBytes(v3 + 2 * stride, v1, layout.size) || !FlatColours(list, v0, v3, layout, diffuse) ||
      !SharedTexelCorners(v0, v1, v2, v3, layout.tex))
    return false;
  *uv = TexelCorners(v0, v3, layout.tex);
  return true;
}

// The quad at `at` and, when mayPair, the next one stacked on it, drawn as the list proves them:
// returns how many it drew, 0 when the first is not one it can prove exact.
template <class Layout>
[[gnu::noinline]] int DrawQuadsTheLongWay(SpriteList& list, const std::uint8_t* at,
                                          const Layout& layout, bool mayPair) {
  QuadBytes q;
  SpritePlan plan;
  SpriteTexels texels;
  if (!QuadFromBytes(list, at, layout, &q) || !PlanPixels(list, q.r, &plan) ||
      !PlanTexelsFromFloats(list, q.r, q.uv, plan, &texels))
    return 0;
  __m128 uv;
  std::uint32_t secondDiffuse;
  SpriteTexels second;
  if (mayPair && StackedQuad<false>(list, at, layout, &uv, &secondDiffuse) &&
      PlanTexelsFromFloats(list, q.r, OrderTexelCorners(uv, q.left, q.top), plan, &second)) {
    SetDiffuse(&list.pair[0], &list.pairDiffuse[0], q.diffuse);
    SetDiffuse(&list.pair[1], &list.pairDiffuse[1], secondDiffuse);
    if (texels.step == 1 && second.step == 1 && texels.rowBytes == second.rowBytes &&
        ShadeTexelRectanglePair(list.span, list.pair[0], list.pair[1], texels.texel, second.texel,
                                texels.rowBytes, plan.out, list.outPitch,
                                static_cast<int>(plan.columns), static_cast<int>(plan.rows))) {
      list.sprites += 2;
      list.covered += 2 * plan.columns * plan.rows;
    } else {
      ShadeSprite(list, plan, texels, q.diffuse);
      ShadeSprite(list, plan, second, secondDiffuse);
    }
    return 2;
  }
  ShadeSprite(list, plan, texels, q.diffuse);
  return 1;
}

inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// What QuickTexels needs of a rectangle, in lanes 0 and 2 for the u and lanes 1 and 3 for the v:
// its span e1 - e0, 512 first - 2 e0, and the largest first texel.
struct QuickSteps {
  __m128i spans, offsets, lasts;
};

// HalfTexelSteps on both axes of two quads over one rectangle at once, in 32-bit lanes, for what
// most quads are: at least a pixel wide and tall, in a texture whose sizes are powers of two, no
// larger than it. There a span D (under 2^24 sub-pixels, the corners inside 2^23) is at least
// 256 times the margin HalfTexelSteps asks (one, or two from 2^23 on), so a coordinate is
// certain when it is not on a texel edge; and in units of 1/512 texel the coordinate at the
// first pixel centre is 256 ha + 512 first - 2 e0 whether ha is even or odd.
// The first texels under the pixels of coordinates a and b (each in column and row order) in
// *texelA and *texelB; false when HalfTexelSteps would not find one texel a pixel on every axis,
// and PlanTexelsFromFloats is to answer.
[[gnu::always_inline]] inline bool QuickTexels(const SpriteList& list, const QuickSteps& q,
                                               __m128 a, __m128 b, const std::uint8_t** texelA,
                                               const std::uint8_t** texelB) {
  // (left u, top v) of both, then (right u, bottom v) of both.
  const __m128 first = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
  const __m128 last = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
  const __m128 scale = _mm_loadu_ps(list.halfTexelPairScale);
  const __m128 halfFirst = _mm_mul_ps(first, scale), halfLast = _mm_mul_ps(last, scale);
  const __m128i hFirst = _mm_cvttps_epi32(halfFirst), hLast = _mm_cvttps_epi32(halfLast);
  const __m128 sign = _mm_set1_ps(-0.0f), limit = _mm_set1_ps(256.0f);
  const __m128 exact = _mm_and_ps(_mm_and_ps(_mm_cmple_ps(_mm_andnot_ps(sign, first), limit),
                                             _mm_cmple_ps(_mm_andnot_ps(sign, last), limit)),
                                  _mm_and_ps(_mm_cmpeq_ps(_mm_cvtepi32_ps(hFirst), halfFirst),
                                             _mm_cmpeq_ps(_mm_cvtepi32_ps(hLast), halfLast)));
  const __m128i n = _mm_add_epi32(_mm_slli_epi32(hFirst, 8), q.offsets);
  const __m128i t = _mm_srai_epi32(n, 9);
  const __m128i zero = _mm_setzero_si128();
  const __m128i off =
      _mm_or_si128(_mm_cmpeq_epi32(_mm_and_si128(n, _mm_set1_epi32(511)), zero),
                   _mm_or_si128(_mm_cmpgt_epi32(zero, t), _mm_cmpgt_epi32(t, q.lasts)));
  const __m128i good = _mm_andnot_si128(
      off, _mm_cmpeq_epi32(_mm_slli_epi32(_mm_sub_epi32(hLast, hFirst), 7), q.spans));
  if ((_mm_movemask_ps(_mm_and_ps(exact, _mm_castsi128_ps(good)))) != 15) return false;
  // Two lanes at a time: column in the low half, row in the high.
  const std::int64_t atA = _mm_cvtsi128_si64(t), atB = _mm_cvtsi128_si64(_mm_unpackhi_epi64(t, t));
  const int bytes = list.span.f.texelBytes;
  *texelA = list.texture + (atA >> 32) * list.texturePitch + static_cast<std::int32_t>(atA) * bytes;
  *texelB = list.texture + (atB >> 32) * list.texturePitch + static_cast<std::int32_t>(atB) * bytes;
  return true;
}

// DrawQuadsTheLongWay for the quads most are (a glyph's, a sprite's: one texel a pixel, by
// QuickTexels), in 32-bit lanes with nothing kept for the long way's answers: 0, with nothing
// drawn, when any of them needs it.
template <class Layout>
[[gnu::always_inline]] inline int DrawQuadsTheShortWay(SpriteList& list, const std::uint8_t* at,
                                                       const Layout& layout, bool mayPair) {
  __m128i s;
  __m128 uv;
  std::uint32_t diffuse;
  if (!list.quick || !SnappedQuad<Layout::engine>(list, at, layout, &s, &uv, &diffuse)) return 0;
  // Bits 0 and 1: corner 3 right of and below corner 0; bits 2 and 3: left of and above it.
  const __m128i swapped = _mm_shuffle_epi32(s, _MM_SHUFFLE(1, 0, 3, 2));
  const __m128i beyond = _mm_cmpgt_epi32(swapped, s);
  const int lying = _mm_movemask_ps(_mm_castsi128_ps(beyond));
  if (((lying | lying >> 2) & 3) != 3 || ((list.culledOrders >> (lying & 3)) & 1)) return 0;
  // (x1, y1, x2, y2), and the first and last columns and rows inside the clip.
  const __m128i forward = _mm_shuffle_epi32(beyond, _MM_SHUFFLE(1, 0, 1, 0));
  const __m128i r = Select(forward, s, swapped);
  const __m128i edges = _mm_srai_epi32(_mm_add_epi32(r, _mm_set_epi32(-1, -1, 255, 255)), 8);
  const __m128i clip = _mm_loadu_si128(reinterpret_cast<const __m128i*>(list.quickClip));
  const __m128i p =
      Select(_mm_xor_si128(_mm_cmpgt_epi32(edges, clip), _mm_set_epi32(-1, -1, 0, 0)), edges, clip);
  // Lanes 0 and 1: the columns and rows, and the spans; every one at least one pixel. (A texture
  // narrower or shorter than the pixels leaves QuickTexels no texel to start at.)
  const __m128i counts = _mm_sub_epi32(_mm_shuffle_epi32(p, _MM_SHUFFLE(1, 0, 3, 2)),
                                       _mm_sub_epi32(p, _mm_set1_epi32(1)));
  const __m128i spans = _mm_sub_epi32(_mm_shuffle_epi32(r, _MM_SHUFFLE(1, 0, 3, 2)), r);
  const __m128i zero = _mm_setzero_si128();
  const __m128i usable = _mm_and_si128(_mm_cmpgt_epi32(counts, zero),
                                       _mm_cmpgt_epi32(spans, _mm_set1_epi32(SubPixel - 1)));
  if ((_mm_movemask_ps(_mm_castsi128_ps(usable)) & 3) != 3) return 0;
  QuickSteps q;
  q.spans = _mm_shuffle_epi32(spans, _MM_SHUFFLE(1, 0, 1, 0));
  q.offsets = _mm_shuffle_epi32(_mm_sub_epi32(_mm_slli_epi32(p, 9), _mm_slli_epi32(r, 1)),
                                _MM_SHUFFLE(1, 0, 1, 0));
  q.lasts = _mm_shuffle_epi32(
      _mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(list.quickSize)), counts),
      _MM_SHUFFLE(1, 0, 1, 0));
  // The coordinates in column and row order: each pair swapped where corner 3 comes first.
  const __m128 inOrder = _mm_castsi128_ps(_mm_shuffle_epi32(beyond, _MM_SHUFFLE(1, 1, 0, 0)));
  const auto inColumnOrder = [inOrder](__m128 c) {
    return _mm_or_ps(_mm_and_ps(inOrder, c),
                     _mm_andnot_ps(inOrder, _mm_shuffle_ps(c, c, _MM_SHUFFLE(2, 3, 0, 1))));
  };
  // A glyph's edge and then its text over the same pixels: both shaded in one pass.
  __m128 secondUv;
  std::uint32_t secondDiffuse;
  const bool stacked =
      mayPair && StackedQuad<Layout::engine>(list, at, layout, &secondUv, &secondDiffuse);
  const __m128 first = inColumnOrder(uv);
  const std::uint8_t *texel, *secondTexel;
  if (!QuickTexels(list, q, first, stacked ? inColumnOrder(secondUv) : first, &texel, &secondTexel))
    return 0;
  const std::int64_t starts = _mm_cvtsi128_si64(p), sizes = _mm_cvtsi128_si64(counts);
  SpritePlan plan;
  plan.firstColumn = static_cast<std::int32_t>(starts), plan.firstRow = starts >> 32;
  plan.columns = static_cast<std::int32_t>(sizes), plan.rows = sizes >> 32;
  plan.out = reinterpret_cast<std::uint32_t*>(list.target + plan.firstRow * list.targetPitch) +
             plan.firstColumn;
  if (!stacked) {
    ShadeSprite(list, plan, SpriteTexels{texel, 1, list.texturePitch}, diffuse);
    return 1;
  }
  SetDiffuse(&list.pair[0], &list.pairDiffuse[0], diffuse);
  SetDiffuse(&list.pair[1], &list.pairDiffuse[1], secondDiffuse);
  if (ShadeTexelRectanglePair(list.span, list.pair[0], list.pair[1], texel, secondTexel,
                              list.texturePitch, plan.out, list.outPitch,
                              static_cast<int>(plan.columns), static_cast<int>(plan.rows))) {
    list.sprites += 2;
    list.covered += 2 * plan.columns * plan.rows;
  } else {
    ShadeSprite(list, plan, SpriteTexels{texel, 1, list.texturePitch}, diffuse);
    ShadeSprite(list, plan, SpriteTexels{secondTexel, 1, list.texturePitch}, secondDiffuse);
  }
  return 2;
}

// DrawSpritesFromBytes for one layout.
template <class Layout>
[[gnu::always_inline]] inline std::size_t DrawQuadsFromBytes(SpriteList& list,
                                                             const std::uint8_t* v,
                                                             std::size_t quads,
                                                             const Layout& layout) {
  std::size_t drawn = 0;
  for (const std::uint8_t* at = v; drawn < quads;) {
    const bool mayPair = drawn + 1 < quads;
    int n = DrawQuadsTheShortWay(list, at, layout, mayPair);
    if (n == 0) n = DrawQuadsTheLongWay(list, at, layout, mayPair);
    if (n == 0) break;
    drawn += static_cast<std::size_t>(n);
    at += static_cast<std::size_t>(n) * 6 * layout.stride;
  }
  return drawn;
}

}  // namespace

std::size_t DrawSpritesFromBytes(SpriteList& list, const std::uint8_t* v, std::size_t stride,
                                 std::size_t quads, const SpriteVertexLayout& layout) {
  if (!list.usable) return 0;
  constexpr EngineBytes engine;
  if (stride == engine.stride && layout.size == engine.size && layout.diffuse == engine.diffuse &&
      layout.specular == engine.specular && layout.tex == engine.tex)
    return DrawQuadsFromBytes(list, v, quads, engine);
  return DrawQuadsFromBytes(
      list, v, quads, AnyBytes{layout.size, layout.diffuse, layout.specular, layout.tex, stride});
}

void FinishSpriteList(SpriteList& list) {
  if (list.sprites == 0) return;
  CountD3D9Call(D3D9Counter::SpanTriangle, 2 * list.sprites);
  CountD3D9Call(D3D9Counter::SpanRectangle, list.sprites);
  CountD3D9Call(D3D9Counter::SpriteQuad, list.sprites);
  CountD3D9Call(D3D9Counter::CoveredPixels, list.covered);
  list.sprites = list.covered = 0;
}
