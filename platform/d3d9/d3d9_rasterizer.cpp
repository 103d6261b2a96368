// The CPU device's rasteriser: integer edge functions on a 1/256-pixel grid with the top-left
// fill rule, perspective-correct attributes at each pixel's sample point, and the fixed-function
// pixel pipeline that colours, tests, blends and writes the pixel.
#include "platform/d3d9/d3d9_rasterizer.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/d3d9/d3d9_pixels.h"

namespace {

constexpr std::int64_t SubPixel = 256;
// Vertices this far outside the target are taken as beyond the guard band and not drawn.
constexpr double GuardBand = 1 << 20;

int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

bool Snap(double v, std::int64_t* out) {
  if (!(v > -GuardBand && v < GuardBand)) return false;
  *out = std::llround(v * SubPixel);
  return true;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return -FloorDiv(-a, b); }

int FloorToIndex(double v) {
  if (!(v > -1e9 && v < 1e9)) return 0;
  return static_cast<int>(std::floor(v));
}

// The texel index under an address mode; false when it falls on the border colour.
bool AddressIndex(DWORD mode, int i, int size, int* out) {
  switch (mode) {
    case D3DTADDRESS_WRAP:
      *out = ((i % size) + size) % size;
      return true;
    case D3DTADDRESS_MIRROR: {
      int period = 2 * size;
      int m = ((i % period) + period) % period;
      *out = m < size ? m : period - 1 - m;
      return true;
    }
    case D3DTADDRESS_BORDER:
      if (i < 0 || i >= size) return false;
      *out = i;
      return true;
    case D3DTADDRESS_MIRRORONCE:
      if (i < 0) i = -i - 1;
      *out = std::min(i, size - 1);
      return true;
    default:  // D3DTADDRESS_CLAMP
      *out = std::clamp(i, 0, size - 1);
      return true;
  }
}

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
  Rgba t00 = Texel(s, x0, y0), t10 = Texel(s, x0 + 1, y0), t01 = Texel(s, x0, y0 + 1), t11 = Texel(s, x0 + 1, y0 + 1);
  auto mix = [&](int c00, int c10, int c01, int c11) {
    double top = c00 + (c10 - c00) * fx, bottom = c01 + (c11 - c01) * fx;
    return Clamp255(static_cast<int>(std::lround(top + (bottom - top) * fy)));
  };
  return {mix(t00.r, t10.r, t01.r, t11.r), mix(t00.g, t10.g, t01.g, t11.g), mix(t00.b, t10.b, t01.b, t11.b),
          mix(t00.a, t10.a, t01.a, t11.a)};
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
  return isTexture(stage.colorArg1) || isTexture(stage.colorArg2) || stage.colorOp == D3DTOP_BLENDTEXTUREALPHA ||
         (stage.alphaOp != D3DTOP_DISABLE &&
          (isTexture(stage.alphaArg1) || isTexture(stage.alphaArg2) || stage.alphaOp == D3DTOP_BLENDTEXTUREALPHA));
}

Rgba RunStages(const PixelPipeline& p, const std::array<bool, 8>& sampled, const Rgba& diffuse, const Rgba& specular,
               const double (*tex)[2]) {
  StageInputs in{diffuse, specular, diffuse, {0, 0, 0, 0}, {255, 255, 255, 255}, UnpackRgba(p.textureFactor)};
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
      result.a = Operate(stage.alphaOp, Argument(stage.alphaArg1, in).a, Argument(stage.alphaArg2, in).a, in);
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

// The colour of one covered pixel from its interpolated inputs, written to the target.
void ShadeAndWrite(const PixelPipeline& p, const std::array<bool, 8>& sampled, int x, int y, const Rgba& diffuse,
                   const Rgba& specular, const double (*tex)[2]) {
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
  for (int s = 0; s < p.stageCount; ++s) sampled[s] = p.stages[s].sampler.level && ReadsTexture(p.stages[s]);
  return sampled;
}

}  // namespace

Rgba UnpackRgba(std::uint32_t argb) {
  return {static_cast<int>((argb >> 16) & 0xFF), static_cast<int>((argb >> 8) & 0xFF), static_cast<int>(argb & 0xFF),
          static_cast<int>(argb >> 24)};
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
  return {BlendChannel(p.blendOp, s.r, sf.r, d.r, df.r), BlendChannel(p.blendOp, s.g, sf.g, d.g, df.g),
          BlendChannel(p.blendOp, s.b, sf.b, d.b, df.b), BlendChannel(p.blendOp, s.a, sf.a, d.a, df.a)};
}

void RasterizeTriangle(const PixelPipeline& p, const RasterVertex& a0, const RasterVertex& b0, const RasterVertex& c0,
                       const RasterVertex& flat) {
  if (!p.target || p.clip.left >= p.clip.right || p.clip.top >= p.clip.bottom) return;
  std::int64_t ax, ay, bx, by, cx, cy;
  if (!Snap(a0.x, &ax) || !Snap(a0.y, &ay) || !Snap(b0.x, &bx) || !Snap(b0.y, &by) || !Snap(c0.x, &cx) ||
      !Snap(c0.y, &cy)) {
    return;
  }
  std::int64_t area = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
  if (area == 0) return;
  // With y down, a positive area is a clockwise triangle on screen.
  if ((p.cullMode == D3DCULL_CW && area > 0) || (p.cullMode == D3DCULL_CCW && area < 0)) return;
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
  struct Edge {
    std::int64_t px, py, dx, dy, bias;
  };
  auto makeEdge = [](std::int64_t px, std::int64_t py, std::int64_t qx, std::int64_t qy) {
    std::int64_t dx = qx - px, dy = qy - py;
    bool topLeft = (dy == 0 && dx > 0) || dy < 0;
    return Edge{px, py, dx, dy, topLeft ? 0 : -1};
  };
  const Edge edges[3] = {makeEdge(bx, by, cx, cy), makeEdge(cx, cy, ax, ay), makeEdge(ax, ay, bx, by)};

  std::int64_t minX = std::max<std::int64_t>(CeilDiv(std::min({ax, bx, cx}), SubPixel), p.clip.left);
  std::int64_t maxX = std::min<std::int64_t>(FloorDiv(std::max({ax, bx, cx}), SubPixel), p.clip.right - 1);
  std::int64_t minY = std::max<std::int64_t>(CeilDiv(std::min({ay, by, cy}), SubPixel), p.clip.top);
  std::int64_t maxY = std::min<std::int64_t>(FloorDiv(std::max({ay, by, cy}), SubPixel), p.clip.bottom - 1);
  if (minX > maxX || minY > maxY) return;

  std::array<bool, 8> sampled = SampledStages(p);
  bool anyTexture = std::find(sampled.begin(), sampled.end(), true) != sampled.end();
  const RasterVertex* v[3] = {va, vb, vc};
  Rgba flatDiffuse = UnpackRgba(flat.diffuse), flatSpecular = UnpackRgba(flat.specular);
  Rgba vd[3], vs[3];
  for (int k = 0; k < 3; ++k) {
    vd[k] = UnpackRgba(v[k]->diffuse);
    vs[k] = UnpackRgba(v[k]->specular);
  }
  double tex[8][2] = {};

  for (std::int64_t y = minY; y <= maxY; ++y) {
    std::int64_t sy = y * SubPixel, sx = minX * SubPixel;
    std::int64_t w[3];
    for (int k = 0; k < 3; ++k) w[k] = edges[k].dx * (sy - edges[k].py) - edges[k].dy * (sx - edges[k].px);
    for (std::int64_t x = minX; x <= maxX; ++x) {
      if (w[0] + edges[0].bias >= 0 && w[1] + edges[1].bias >= 0 && w[2] + edges[2].bias >= 0) {
        double k0 = static_cast<double>(w[0]) * va->rhw, k1 = static_cast<double>(w[1]) * vb->rhw,
               k2 = static_cast<double>(w[2]) * vc->rhw;
        double sum = k0 + k1 + k2;
        if (sum != 0.0) {
          k0 /= sum;
          k1 /= sum;
          k2 /= sum;
        }
        Rgba diffuse = flatDiffuse, specular = flatSpecular;
        if (p.gouraud) {
          auto lerp = [&](int c0, int c1, int c2) {
            return Clamp255(static_cast<int>(std::lround(k0 * c0 + k1 * c1 + k2 * c2)));
          };
          diffuse = {lerp(vd[0].r, vd[1].r, vd[2].r), lerp(vd[0].g, vd[1].g, vd[2].g), lerp(vd[0].b, vd[1].b, vd[2].b),
                     lerp(vd[0].a, vd[1].a, vd[2].a)};
          specular = {lerp(vs[0].r, vs[1].r, vs[2].r), lerp(vs[0].g, vs[1].g, vs[2].g),
                      lerp(vs[0].b, vs[1].b, vs[2].b), lerp(vs[0].a, vs[1].a, vs[2].a)};
        }
        if (anyTexture) {
          for (int s = 0; s < p.stageCount; ++s) {
            int set = p.stages[s].texCoordSet;
            if (!sampled[s] || set < 0) continue;
            // One division per coordinate keeps texel-centre hits exact for unit rhw.
            double n0 = static_cast<double>(w[0]) * va->rhw, n1 = static_cast<double>(w[1]) * vb->rhw,
                   n2 = static_cast<double>(w[2]) * vc->rhw;
            tex[set][0] = (n0 * va->tex[set][0] + n1 * vb->tex[set][0] + n2 * vc->tex[set][0]) / sum;
            tex[set][1] = (n0 * va->tex[set][1] + n1 * vb->tex[set][1] + n2 * vc->tex[set][1]) / sum;
          }
        }
        ShadeAndWrite(p, sampled, static_cast<int>(x), static_cast<int>(y), diffuse, specular, tex);
      }
      for (int k = 0; k < 3; ++k) w[k] -= edges[k].dy * SubPixel;
    }
  }
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
