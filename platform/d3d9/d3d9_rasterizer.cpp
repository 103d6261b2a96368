// The CPU device's rasteriser: integer edge functions on a 1/256-pixel grid with the top-left
// fill rule, perspective-correct attributes at each pixel's sample point, and the fixed-function
// pixel pipeline that colours, tests, blends and writes the pixel.
#include "platform/d3d9/d3d9_rasterizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/d3d9/d3d9_internal.h"
#include "platform/d3d9/d3d9_pixels.h"
#include "platform/d3d9/d3d9_span_path.h"

namespace {

Rgba Texel(const SamplerSetup& s, int x, int y) {
  int tx, ty;
  const CpuSurface& level = *s.level;
  if (!AddressIndex(s.addressU, x, static_cast<int>(level.width), &tx) ||
      !AddressIndex(s.addressV, y, static_cast<int>(level.height), &ty)) {
    return UnpackRgba(s.border);
  }
  const std::uint8_t* p = level.Row(ty) + tx * level.bytesPerPixel;
  return UnpackRgba(ReadPixel(level.format, p));
}

Rgba Sample(const SamplerSetup& s, double u, double v) {
  if (!s.level) return {255, 255, 255, 255};
  double w = s.level->width, h = s.level->height;
  if (!s.linear) return Texel(s, FloorToIndex(u * w), FloorToIndex(v * h));
  double x = u * w - 0.5, y = v * h - 0.5;
  if (!(std::fabs(x) < 1e9 && std::fabs(y) < 1e9)) return Texel(s, 0, 0);
  double fx0 = std::floor(x), fy0 = std::floor(y);
  int x0 = static_cast<int>(fx0), y0 = static_cast<int>(fy0);
  double fx = x - fx0, fy = y - fy0;
  Rgba t00 = Texel(s, x0, y0), t10 = Texel(s, x0 + 1, y0), t01 = Texel(s, x0, y0 + 1),
       t11 = Texel(s, x0 + 1, y0 + 1);
  auto mix = [&](int c00, int c10, int c01, int c11) {
    double top = c00 + (c10 - c00) * fx, bottom = c01 + (c11 - c01) * fx;
    return Clamp255(static_cast<int>(std::lround(top + (bottom - top) * fy)));
  };
  return {mix(t00.r, t10.r, t01.r, t11.r), mix(t00.g, t10.g, t01.g, t11.g),
          mix(t00.b, t10.b, t01.b, t11.b), mix(t00.a, t10.a, t01.a, t11.a)};
}

struct StageInputs {
  Rgba diffuse, specular, current, temp, texture, factor;
};

Rgba Argument(DWORD arg, const StageInputs& in) {
  Rgba c;
  switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE: c = in.diffuse; break;
    case D3DTA_CURRENT: c = in.current; break;
    case D3DTA_TEXTURE: c = in.texture; break;
    case D3DTA_TFACTOR: c = in.factor; break;
    case D3DTA_SPECULAR: c = in.specular; break;
    case D3DTA_TEMP: c = in.temp; break;
    default: c = {0, 0, 0, 0}; break;
  }
  if (arg & D3DTA_COMPLEMENT) c = {255 - c.r, 255 - c.g, 255 - c.b, 255 - c.a};
  if (arg & D3DTA_ALPHAREPLICATE) c = {c.a, c.a, c.a, c.a};
  return c;
}

int Operate(DWORD op, int x, int y, const StageInputs& in) {
  switch (op) {
    case D3DTOP_SELECTARG1: return x;
    case D3DTOP_SELECTARG2: return y;
    case D3DTOP_MODULATE: return MultiplyChannel(x, y);
    case D3DTOP_MODULATE2X: return Clamp255((x * y * 2 + 127) / 255);
    case D3DTOP_MODULATE4X: return Clamp255((x * y * 4 + 127) / 255);
    case D3DTOP_ADD: return Clamp255(x + y);
    case D3DTOP_ADDSIGNED: return Clamp255(x + y - 128);
    case D3DTOP_SUBTRACT: return Clamp255(x - y);
    case D3DTOP_BLENDDIFFUSEALPHA: return (x * in.diffuse.a + y * (255 - in.diffuse.a) + 127) / 255;
    case D3DTOP_BLENDTEXTUREALPHA: return (x * in.texture.a + y * (255 - in.texture.a) + 127) / 255;
    case D3DTOP_BLENDFACTORALPHA: return (x * in.factor.a + y * (255 - in.factor.a) + 127) / 255;
    case D3DTOP_BLENDCURRENTALPHA: return (x * in.current.a + y * (255 - in.current.a) + 127) / 255;
    default: return x;
  }
}

bool ReadsTexture(const StageSetup& stage) {
  auto isTexture = [](DWORD arg) { return (arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE; };
  return isTexture(stage.colorArg1) || isTexture(stage.colorArg2) ||
         stage.colorOp == D3DTOP_BLENDTEXTUREALPHA ||
         (stage.alphaOp != D3DTOP_DISABLE &&
          (isTexture(stage.alphaArg1) || isTexture(stage.alphaArg2) ||
           stage.alphaOp == D3DTOP_BLENDTEXTUREALPHA));
}

Rgba RunStages(const PixelPipeline& p, const std::array<bool, 8>& sampled, const Rgba& diffuse,
               const Rgba& specular, const double (*tex)[2]) {
  StageInputs in{
      diffuse, specular, diffuse, {0, 0, 0, 0}, {255, 255, 255, 255}, UnpackRgba(p.textureFactor)};
  for (int s = 0; s < p.stageCount; ++s) {
    const StageSetup& stage = p.stages[s];
    if (sampled[s]) {
      const double* uv = stage.texCoordSet >= 0 ? tex[stage.texCoordSet] : nullptr;
      in.texture = Sample(stage.sampler, uv ? uv[0] : 0.0, uv ? uv[1] : 0.0);
    } else {
      in.texture = {255, 255, 255, 255};
    }
    Rgba c1 = Argument(stage.colorArg1, in), c2 = Argument(stage.colorArg2, in);
    Rgba result;
    result.r = Operate(stage.colorOp, c1.r, c2.r, in);
    result.g = Operate(stage.colorOp, c1.g, c2.g, in);
    result.b = Operate(stage.colorOp, c1.b, c2.b, in);
    if (stage.alphaOp == D3DTOP_DISABLE) {
      result.a = in.current.a;
    } else {
      result.a = Operate(stage.alphaOp, Argument(stage.alphaArg1, in).a,
                         Argument(stage.alphaArg2, in).a, in);
    }
    (stage.resultToTemp ? in.temp : in.current) = result;
  }
  return in.current;
}

int BlendChannel(DWORD op, int source, int sourceFactor, int dest, int destFactor) {
  int s = source * sourceFactor, d = dest * destFactor;
  int v;
  switch (op) {
    case D3DBLENDOP_SUBTRACT: v = s - d; break;
    case D3DBLENDOP_REVSUBTRACT: v = d - s; break;
    case D3DBLENDOP_MIN: return std::min(source, dest);
    case D3DBLENDOP_MAX: return std::max(source, dest);
    default: v = s + d; break;
  }
  return v <= 0 ? 0 : Clamp255((v + 127) / 255);
}

Rgba Factor(DWORD factor, const Rgba& s, const Rgba& d, std::uint32_t blendFactor) {
  switch (factor) {
    case D3DBLEND_ZERO: return {0, 0, 0, 0};
    case D3DBLEND_ONE: return {255, 255, 255, 255};
    case D3DBLEND_SRCCOLOR: return s;
    case D3DBLEND_INVSRCCOLOR: return {255 - s.r, 255 - s.g, 255 - s.b, 255 - s.a};
    case D3DBLEND_SRCALPHA: return {s.a, s.a, s.a, s.a};
    case D3DBLEND_INVSRCALPHA: return {255 - s.a, 255 - s.a, 255 - s.a, 255 - s.a};
    case D3DBLEND_DESTALPHA: return {d.a, d.a, d.a, d.a};
    case D3DBLEND_INVDESTALPHA: return {255 - d.a, 255 - d.a, 255 - d.a, 255 - d.a};
    case D3DBLEND_DESTCOLOR: return d;
    case D3DBLEND_INVDESTCOLOR: return {255 - d.r, 255 - d.g, 255 - d.b, 255 - d.a};
    case D3DBLEND_SRCALPHASAT: {
      int f = std::min(s.a, 255 - d.a);
      return {f, f, f, 255};
    }
    case D3DBLEND_BLENDFACTOR: return UnpackRgba(blendFactor);
    case D3DBLEND_INVBLENDFACTOR: {
      Rgba f = UnpackRgba(blendFactor);
      return {255 - f.r, 255 - f.g, 255 - f.b, 255 - f.a};
    }
    default: return {0, 0, 0, 0};
  }
}

void ShadeTexturedPixel(const PixelPipeline& p, const FastTexturePath& f, int x, int y, double u,
                        double v, const Rgba& diffuse) {
  const CpuSurface& level = *f.level;
  int tx, ty;
  std::uint32_t texel;
  if (!AddressIndex(f.addressU, FloorToIndex(u * level.width), static_cast<int>(level.width),
                    &tx) ||
      !AddressIndex(f.addressV, FloorToIndex(v * level.height), static_cast<int>(level.height),
                    &ty)) {
    texel = p.stages[0].sampler.border;
  } else {
    texel = LoadTexel(f, tx, ty);
  }
  Rgba t = UnpackRgba(texel);
  Rgba c = f.modulateColor ? Rgba{MultiplyChannel(t.r, diffuse.r), MultiplyChannel(t.g, diffuse.g),
                                  MultiplyChannel(t.b, diffuse.b), 0}
                           : Rgba{t.r, t.g, t.b, 0};
  c.a =
      f.alphaSource == 0 ? t.a : (f.alphaSource == 1 ? MultiplyChannel(t.a, diffuse.a) : diffuse.a);
  if (p.alphaTest && !PassesAlphaTest(p.alphaFunc, c.a, p.alphaRef)) return;
  std::uint8_t* out = p.target->Pixel(x, y);
  if (p.blend) {
    std::uint32_t d;
    std::memcpy(&d, out, 4);
    if (!f.targetHasAlpha) d |= 0xFF000000u;
    c = BlendColors(p, c, UnpackRgba(d));
  }
  std::uint32_t result = PackRgba(c);
  if (!f.targetHasAlpha) result |= 0xFF000000u;
  std::memcpy(out, &result, 4);
}

}  // namespace

void ShadeAndWrite(const PixelPipeline& p, const std::array<bool, 8>& sampled, int x, int y,
                   const Rgba& diffuse, const Rgba& specular, const double (*tex)[2]) {
  Rgba color = RunStages(p, sampled, diffuse, specular, tex);
  if (p.specularAdd) {
    color.r = Clamp255(color.r + specular.r);
    color.g = Clamp255(color.g + specular.g);
    color.b = Clamp255(color.b + specular.b);
  }
  if (p.alphaTest && !PassesAlphaTest(p.alphaFunc, color.a, p.alphaRef)) return;
  std::uint8_t* out = p.target->Pixel(x, y);
  if (p.blend) color = BlendColors(p, color, UnpackRgba(ReadPixel(p.target->format, out)));
  WritePixel(p.target->format, out, PackRgba(color));
}

std::array<bool, 8> SampledStages(const PixelPipeline& p) {
  std::array<bool, 8> sampled{};
  for (int s = 0; s < p.stageCount; ++s)
    sampled[s] = p.stages[s].sampler.level && ReadsTexture(p.stages[s]);
  return sampled;
}

bool RowSpan(const Edge* edges, const std::int64_t* w, std::int64_t minX, std::int64_t maxX,
             std::int64_t* first, std::int64_t* last) {
  std::int64_t lo = 0, hi = maxX - minX;
  for (int k = 0; k < 3; ++k) {
    std::int64_t a = w[k] + edges[k].bias,
                 step = edges[k].dy * SubPixel;  // inside while a - step * n >= 0
    if (step == 0) {
      if (a < 0) return false;
    } else if (step > 0) {
      if (a < 0) return false;
      hi = std::min(hi, a / step);
    } else if (a < 0) {
      lo = std::max(lo, CeilDiv(-a, -step));
    }
  }
  if (lo > hi) return false;
  *first = minX + lo;
  *last = minX + hi;
  return true;
}

Rgba UnpackRgba(std::uint32_t argb) {
  return {static_cast<int>((argb >> 16) & 0xFF), static_cast<int>((argb >> 8) & 0xFF),
          static_cast<int>(argb & 0xFF), static_cast<int>(argb >> 24)};
}

std::uint32_t PackRgba(const Rgba& c) {
  return (static_cast<std::uint32_t>(c.a) << 24) | (static_cast<std::uint32_t>(c.r) << 16) |
         (static_cast<std::uint32_t>(c.g) << 8) | static_cast<std::uint32_t>(c.b);
}

bool PassesAlphaTest(DWORD function, int alpha, int reference) {
  switch (function) {
    case D3DCMP_NEVER: return false;
    case D3DCMP_LESS: return alpha < reference;
    case D3DCMP_EQUAL: return alpha == reference;
    case D3DCMP_LESSEQUAL: return alpha <= reference;
    case D3DCMP_GREATER: return alpha > reference;
    case D3DCMP_NOTEQUAL: return alpha != reference;
    case D3DCMP_GREATEREQUAL: return alpha >= reference;
    default: return true;
  }
}

Rgba BlendColors(const PixelPipeline& p, const Rgba& s, const Rgba& d) {
  Rgba sf, df;
  // The "both" factors set the destination factor too, overriding DESTBLEND.
  if (p.sourceBlend == D3DBLEND_BOTHSRCALPHA) {
    sf = Factor(D3DBLEND_SRCALPHA, s, d, p.blendFactor);
    df = Factor(D3DBLEND_INVSRCALPHA, s, d, p.blendFactor);
  } else if (p.sourceBlend == D3DBLEND_BOTHINVSRCALPHA) {
    sf = Factor(D3DBLEND_INVSRCALPHA, s, d, p.blendFactor);
    df = Factor(D3DBLEND_SRCALPHA, s, d, p.blendFactor);
  } else {
    sf = Factor(p.sourceBlend, s, d, p.blendFactor);
    df = Factor(p.destBlend, s, d, p.blendFactor);
  }
  return {
      BlendChannel(p.blendOp, s.r, sf.r, d.r, df.r), BlendChannel(p.blendOp, s.g, sf.g, d.g, df.g),
      BlendChannel(p.blendOp, s.b, sf.b, d.b, df.b), BlendChannel(p.blendOp, s.a, sf.a, d.a, df.a)};
}

namespace {

// What every row of one triangle shares.
struct TriangleSetup {
  Edge edges[3];
  const RasterVertex* v[3];
  std::int64_t minX, maxX, minY, maxY;
  std::array<bool, 8> sampled;
  bool anyTexture;
  Rgba flatDiffuse, flatSpecular;
  Rgba vd[3], vs[3];
  FastTexturePath fast;
  SpanPath span;
};

// What a set-up triangle's rows shade with: the stages that sample, the vertices' colours under
// Gouraud shading, the per-pixel short path (point sampling only) and the span path.
void SetUpShading(const PixelPipeline& p, TriangleSetup* t) {
  t->sampled = SampledStages(p);
  t->anyTexture = std::find(t->sampled.begin(), t->sampled.end(), true) != t->sampled.end();
  // The vertices' own colours only for Gouraud shading.
  if (p.gouraud) {
    for (int k = 0; k < 3; ++k) {
      t->vd[k] = UnpackRgba(t->v[k]->diffuse);
      t->vs[k] = UnpackRgba(t->v[k]->specular);
    }
  }
  const FastTexturePath f = MakeFastTexturePath(p, t->flatSpecular, true);
  t->fast = f;
  if (f.linear) t->fast.usable = false;
  t->span = MakeSpanPath(p, f, t->v, t->flatDiffuse);
}

// False when the triangle covers no pixel (beyond the guard band, degenerate, culled, clipped).
// With `shading` false the shading paths are left to SetUpShading.
bool SetUpTriangle(const PixelPipeline& p, const RasterVertex& a0, const RasterVertex& b0,
                   const RasterVertex& c0, const RasterVertex& flat, TriangleSetup* t,
                   bool shading = true) {
  if (!p.target || p.clip.left >= p.clip.right || p.clip.top >= p.clip.bottom) return false;
  std::int64_t ax, ay, bx, by, cx, cy;
  if (!Snap(a0.x, &ax) || !Snap(a0.y, &ay) || !Snap(b0.x, &bx) || !Snap(b0.y, &by) ||
      !Snap(c0.x, &cx) || !Snap(c0.y, &cy)) {
    return false;
  }
  std::int64_t area = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
  if (area == 0) return false;
  // With y down, a positive area is a clockwise triangle on screen.
  if ((p.cullMode == D3DCULL_CW && area > 0) || (p.cullMode == D3DCULL_CCW && area < 0))
    return false;
  const RasterVertex* va = &a0;
  const RasterVertex* vb = &b0;
  const RasterVertex* vc = &c0;
  if (area < 0) {
    std::swap(vb, vc);
    std::swap(bx, cx);
    std::swap(by, cy);
    area = -area;
  }

  // Edge P->Q gives the weight of the opposite vertex: w(s) = dx * (sy - Py) - dy * (sx - Px).
  auto makeEdge = [](std::int64_t px, std::int64_t py, std::int64_t qx, std::int64_t qy) {
    std::int64_t dx = qx - px, dy = qy - py;
    bool topLeft = (dy == 0 && dx > 0) || dy < 0;
    return Edge{px, py, dx, dy, topLeft ? 0 : -1};
  };
  t->edges[0] = makeEdge(bx, by, cx, cy);
  t->edges[1] = makeEdge(cx, cy, ax, ay);
  t->edges[2] = makeEdge(ax, ay, bx, by);

  t->minX = std::max<std::int64_t>(CeilDiv(std::min({ax, bx, cx}), SubPixel), p.clip.left);
  t->maxX = std::min<std::int64_t>(FloorDiv(std::max({ax, bx, cx}), SubPixel), p.clip.right - 1);
  t->minY = std::max<std::int64_t>(CeilDiv(std::min({ay, by, cy}), SubPixel), p.clip.top);
  t->maxY = std::min<std::int64_t>(FloorDiv(std::max({ay, by, cy}), SubPixel), p.clip.bottom - 1);
  if (t->minX > t->maxX || t->minY > t->maxY) return false;

  t->v[0] = va;
  t->v[1] = vb;
  t->v[2] = vc;
  t->flatDiffuse = UnpackRgba(flat.diffuse);
  t->flatSpecular = UnpackRgba(flat.specular);
  if (shading) SetUpShading(p, t);
  return true;
}

// The edge values at the sample point of pixel (x, y).
void EdgeValues(const Edge* edges, std::int64_t x, std::int64_t y, std::int64_t* w) {
  const std::int64_t sx = x * SubPixel, sy = y * SubPixel;
  for (int k = 0; k < 3; ++k)
    w[k] = edges[k].dx * (sy - edges[k].py) - edges[k].dy * (sx - edges[k].px);
}

// Draws the triangle's pixels on row y; returns how many it covers.
std::int64_t DrawTriangleRow(const PixelPipeline& p, TriangleSetup& t, std::int64_t y) {
  const Edge* edges = t.edges;
  std::int64_t w[3];
  EdgeValues(edges, t.minX, y, w);
  std::int64_t first, last;
  if (!RowSpan(edges, w, t.minX, t.maxX, &first, &last)) return 0;
  for (int k = 0; k < 3; ++k) w[k] -= edges[k].dy * SubPixel * (first - t.minX);
  if (t.span.usable) {
    DrawSpanRow(p, t.span, t.sampled, t.v, edges, w, y, first, last, t.flatDiffuse, t.flatSpecular);
    return last - first + 1;
  }
  const RasterVertex *va = t.v[0], *vb = t.v[1], *vc = t.v[2];
  double tex[8][2] = {};
  for (std::int64_t x = first; x <= last; ++x) {
    double n0 = static_cast<double>(w[0]) * va->rhw, n1 = static_cast<double>(w[1]) * vb->rhw,
           n2 = static_cast<double>(w[2]) * vc->rhw;
    double sum = n0 + n1 + n2;
    for (int k = 0; k < 3; ++k) w[k] -= edges[k].dy * SubPixel;
    if (!(sum > 0.0 || sum < 0.0)) continue;
    if (t.fast.usable) {
      // One division per coordinate keeps texel-centre hits exact for unit rhw.
      int set = t.fast.set;
      double u = (n0 * va->tex[set][0] + n1 * vb->tex[set][0] + n2 * vc->tex[set][0]) / sum;
      double v = (n0 * va->tex[set][1] + n1 * vb->tex[set][1] + n2 * vc->tex[set][1]) / sum;
      ShadeTexturedPixel(p, t.fast, static_cast<int>(x), static_cast<int>(y), u, v, t.flatDiffuse);
      continue;
    }
    Rgba diffuse = t.flatDiffuse, specular = t.flatSpecular;
    if (p.gouraud) {
      double k0 = n0 / sum, k1 = n1 / sum, k2 = n2 / sum;
      auto lerp = [&](int c0, int c1, int c2) {
        return Clamp255(static_cast<int>(std::lround(k0 * c0 + k1 * c1 + k2 * c2)));
      };
      const Rgba *vd = t.vd, *vs = t.vs;
      diffuse = {lerp(vd[0].r, vd[1].r, vd[2].r), lerp(vd[0].g, vd[1].g, vd[2].g),
                 lerp(vd[0].b, vd[1].b, vd[2].b), lerp(vd[0].a, vd[1].a, vd[2].a)};
      specular = {lerp(vs[0].r, vs[1].r, vs[2].r), lerp(vs[0].g, vs[1].g, vs[2].g),
                  lerp(vs[0].b, vs[1].b, vs[2].b), lerp(vs[0].a, vs[1].a, vs[2].a)};
    }
    if (t.anyTexture) {
      for (int s = 0; s < p.stageCount; ++s) {
        int set = p.stages[s].texCoordSet;
        if (!t.sampled[s] || set < 0) continue;
        tex[set][0] = (n0 * va->tex[set][0] + n1 * vb->tex[set][0] + n2 * vc->tex[set][0]) / sum;
        tex[set][1] = (n0 * va->tex[set][1] + n1 * vb->tex[set][1] + n2 * vc->tex[set][1]) / sum;
      }
    }
    ShadeAndWrite(p, t.sampled, static_cast<int>(x), static_cast<int>(y), diffuse, specular, tex);
  }
  return last - first + 1;
}

void DrawTriangleRows(const PixelPipeline& p, TriangleSetup& t) {
  if (t.span.usable) CountD3D9Call(D3D9Counter::SpanTriangle);
  std::int64_t covered = 0;
  for (std::int64_t y = t.minY; y <= t.maxY; ++y) covered += DrawTriangleRow(p, t, y);
  CountD3D9Call(D3D9Counter::CoveredPixels, covered);
}

}  // namespace

void RasterizeTriangle(const PixelPipeline& p, const RasterVertex& a0, const RasterVertex& b0,
                       const RasterVertex& c0, const RasterVertex& flat) {
  TriangleSetup t;
  if (SetUpTriangle(p, a0, b0, c0, flat, &t)) DrawTriangleRows(p, t);
}

bool RasterizeRectangle(const PixelPipeline& p, const RasterVertex* const* a,
                        const RasterVertex& flatA, const RasterVertex* const* b,
                        const RasterVertex& flatB) {
  if (!SpanPathsEnabled() || flatA.diffuse != flatB.diffuse || flatA.specular != flatB.specular)
    return false;
  const RasterVertex* all[6] = {a[0], a[1], a[2], b[0], b[1], b[2]};
  std::int64_t x[6], y[6];
  for (int k = 0; k < 6; ++k) {
    if (all[k]->rhw != all[0]->rhw || !Snap(all[k]->x, &x[k]) || !Snap(all[k]->y, &y[k]))
      return false;
  }
  const std::int64_t x1 = *std::min_element(x, x + 6), x2 = *std::max_element(x, x + 6);
  const std::int64_t y1 = *std::min_element(y, y + 6), y2 = *std::max_element(y, y + 6);
  if (x1 == x2 || y1 == y2) return false;
  // Each triangle takes three corners; the corner one lacks is the other's, and the two lacked
  // are opposite, so the triangles meet on a diagonal and cover the rectangle once.
  int corners[6], lacked[2] = {15, 15};
  for (int k = 0; k < 6; ++k) {
    corners[k] = CornerOf(x[k], y[k], x1, x2, y1, y2);
    if (corners[k] < 0) return false;
    lacked[k / 3] &= ~(1 << corners[k]);
  }
  for (int h = 0; h < 2; ++h)
    if (lacked[h] == 0 || (lacked[h] & (lacked[h] - 1)) != 0) return false;
  if ((lacked[0] | lacked[1]) != 0b1001 && (lacked[0] | lacked[1]) != 0b0110) return false;

  // The second triangle's shading is set up only when a row falls back to the triangles.
  TriangleSetup ta, tb;
  if (!SetUpTriangle(p, *a[0], *a[1], *a[2], flatA, &ta) ||
      !SetUpTriangle(p, *b[0], *b[1], *b[2], flatB, &tb, false))
    return false;
  bool shadingB = false;
  auto shadeB = [&] {
    if (!shadingB) SetUpShading(p, &tb);
    shadingB = true;
  };
  // One texture coordinate per column and per row: u follows x alone, v follows y alone.
  const int set = ta.span.f.set;
  double u[2] = {}, v[2] = {};
  // The second triangle's corners repeat the first's coordinates, so its span path is usable
  // when the first's is and the axes hold.
  bool seenU[2] = {}, seenV[2] = {}, axes = ta.span.usable;
  for (int k = 0; k < 6 && axes; ++k) {
    const int column = corners[k] & 1, row = corners[k] >> 1;
    const double tu = all[k]->tex[set][0], tv = all[k]->tex[set][1];
    axes = (!seenU[column] || u[column] == tu) && (!seenV[row] || v[row] == tv);
    u[column] = tu, v[row] = tv;
    seenU[column] = seenV[row] = true;
  }

  // Left and top edges are inside, right and bottom edges outside.
  const std::int64_t firstColumn = std::max<std::int64_t>(CeilDiv(x1, SubPixel), p.clip.left),
                     lastColumn =
                         std::min<std::int64_t>(CeilDiv(x2, SubPixel) - 1, p.clip.right - 1);
  const std::int64_t firstRow = std::max<std::int64_t>(CeilDiv(y1, SubPixel), p.clip.top),
                     lastRow = std::min<std::int64_t>(CeilDiv(y2, SubPixel) - 1, p.clip.bottom - 1);
  std::int64_t w[3];
  EdgeValues(ta.edges, firstColumn, firstRow, w);
  RectangleRuns runs;
  if (!axes || firstColumn > lastColumn || firstRow > lastRow ||
      !runs.Start(p, ta.span, ta.edges, w, firstColumn, lastColumn, firstRow)) {
    // Set up already: each triangle draws itself.
    shadeB();
    DrawTriangleRows(p, ta);
    DrawTriangleRows(p, tb);
    return true;
  }
  CountD3D9Call(D3D9Counter::SpanTriangle, 2);
  CountD3D9Call(D3D9Counter::SpanRectangle);
  std::int64_t covered = 0;
  for (std::int64_t row = firstRow; row <= lastRow; ++row) {
    if (runs.DrawRowAndStep()) {
      covered += lastColumn - firstColumn + 1;
    } else {
      if (row >= ta.minY && row <= ta.maxY) covered += DrawTriangleRow(p, ta, row);
      if (row >= tb.minY && row <= tb.maxY) {
        shadeB();
        covered += DrawTriangleRow(p, tb, row);
      }
    }
  }
  CountD3D9Call(D3D9Counter::CoveredPixels, covered);
  return true;
}

void RasterizePoint(const PixelPipeline& p, const RasterVertex& v, double size) {
  if (!p.target || !(size > 0.0)) return;
  std::int64_t cx, cy, half = std::llround(size * SubPixel / 2);
  if (!Snap(v.x, &cx) || !Snap(v.y, &cy)) return;
  // The square [c - half, c + half) keeps its top and left edges, as triangles do.
  std::int64_t minX = std::max<std::int64_t>(CeilDiv(cx - half, SubPixel), p.clip.left);
  std::int64_t maxX = std::min<std::int64_t>(CeilDiv(cx + half, SubPixel) - 1, p.clip.right - 1);
  std::int64_t minY = std::max<std::int64_t>(CeilDiv(cy - half, SubPixel), p.clip.top);
  std::int64_t maxY = std::min<std::int64_t>(CeilDiv(cy + half, SubPixel) - 1, p.clip.bottom - 1);
  std::array<bool, 8> sampled = SampledStages(p);
  Rgba diffuse = UnpackRgba(v.diffuse), specular = UnpackRgba(v.specular);
  for (std::int64_t y = minY; y <= maxY; ++y) {
    for (std::int64_t x = minX; x <= maxX; ++x) {
      ShadeAndWrite(p, sampled, static_cast<int>(x), static_cast<int>(y), diffuse, specular, v.tex);
    }
  }
}
