// The span paths: exact texel stepping along rows, a row of whole texel steps handed to the run
// shading as one run, and screen-aligned rectangles drawn row by row as runs.
#include "platform/d3d9/d3d9_span_path.h"

#include <cmath>
#include <cstring>

#include "platform/d3d9/d3d9_internal.h"
#include "platform/d3d9/d3d9_pixels.h"

namespace {

bool IsTextureAndDiffuse(DWORD a, DWORD b) {
  auto diffuse = [](DWORD arg) { return arg == D3DTA_DIFFUSE || arg == D3DTA_CURRENT; };
  return (a == D3DTA_TEXTURE && diffuse(b)) || (b == D3DTA_TEXTURE && diffuse(a));
}

}  // namespace

FastTexturePath MakeFastTexturePath(const PixelPipeline& p, const Rgba& flatSpecular,
                                    bool allowLinear) {
  FastTexturePath f;
  if (p.stageCount != 1 || p.gouraud ||
      (p.specularAdd && (flatSpecular.r | flatSpecular.g | flatSpecular.b)))
    return f;
  const StageSetup& s = p.stages[0];
  const CpuSurface* level = s.sampler.level;
  if (!level || (s.sampler.linear && !allowLinear) || s.resultToTemp || s.texCoordSet < 0) return f;
  switch (level->format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: f.texelBytes = 4; break;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4: f.texelBytes = 2; break;
    default: return f;
  }
  if (p.target->format != D3DFMT_A8R8G8B8 && p.target->format != D3DFMT_X8R8G8B8) return f;
  if (s.colorOp == D3DTOP_SELECTARG1 && s.colorArg1 == D3DTA_TEXTURE) {
    f.modulateColor = false;
  } else if (s.colorOp == D3DTOP_MODULATE && IsTextureAndDiffuse(s.colorArg1, s.colorArg2)) {
    f.modulateColor = true;
  } else {
    return f;
  }
  if (s.alphaOp == D3DTOP_SELECTARG1 && s.alphaArg1 == D3DTA_TEXTURE) {
    f.alphaSource = 0;
  } else if (s.alphaOp == D3DTOP_MODULATE && IsTextureAndDiffuse(s.alphaArg1, s.alphaArg2)) {
    f.alphaSource = 1;
  } else if (s.alphaOp == D3DTOP_DISABLE ||
             (s.alphaOp == D3DTOP_SELECTARG1 &&
              (s.alphaArg1 == D3DTA_DIFFUSE || s.alphaArg1 == D3DTA_CURRENT))) {
    f.alphaSource = 2;
  } else {
    return f;
  }
  f.set = s.texCoordSet;
  f.level = level;
  f.textureHasAlpha = level->format != D3DFMT_X8R8G8B8;
  f.targetHasAlpha = p.target->format == D3DFMT_A8R8G8B8;
  f.addressU = s.sampler.addressU;
  f.addressV = s.sampler.addressV;
  f.linear = s.sampler.linear;
  f.usable = true;
  return f;
}

namespace {

Wide FloorDivWide(Wide a, Wide b) {  // b > 0
  // Sprites' rows fit in 64 bits, where the division is one instruction.
  constexpr Wide Narrow = Wide(1) << 62;
  if (a > -Narrow && a < Narrow && b < Narrow)
    return FloorDiv(static_cast<std::int64_t>(a), static_cast<std::int64_t>(b));
  Wide q = a / b;
  return (a % b != 0 && a < 0) ? q - 1 : q;
}

bool ExactCoordinate(double value, double scale, std::int64_t* out) {
  double scaled = value * scale;
  if (!(std::fabs(scaled) < 9.0e18)) return false;
  std::int64_t i = static_cast<std::int64_t>(scaled);
  if (static_cast<double>(i) != scaled) return false;
  *out = i;
  return true;
}

// Vertices beyond this many pixels take the per-pixel path, so the products stay in 128 bits.
constexpr double SpanCoordinateLimit = 32768;

inline bool WrapIndex(DWORD mode, std::int64_t i, int size, int* out) {
  if (i >= 0 && i < size) {
    *out = static_cast<int>(i);
    return true;
  }
  if (i < -(1 << 30) || i > (1 << 30)) return false;
  return AddressIndex(mode, static_cast<int>(i), size, out);
}

// The texel at an index pair under the address modes, alpha forced where the format has none.
inline std::uint32_t SpanTexel(const FastTexturePath& f, std::uint32_t border, std::int64_t tu,
                               std::int64_t tv) {
  int tx, ty;
  const CpuSurface& level = *f.level;
  if (!WrapIndex(f.addressU, tu, static_cast<int>(level.width), &tx) ||
      !WrapIndex(f.addressV, tv, static_cast<int>(level.height), &ty))
    return border;
  return LoadTexel(f, tx, ty);
}

// Bilinear filtering in fixed point: each channel with 40 fraction bits, whose error (under
// 2^-10) is far below the band around a half that rounding must stay clear of; a channel inside
// it makes the pixel take the per-pixel formula (false).
bool FilterSpanTexel(const FastTexturePath& f, std::uint32_t border, const AxisStepper& u,
                     const AxisStepper& v, std::uint32_t* out) {
  const std::int64_t x0 = u.Index(), y0 = v.Index();
  const std::int64_t fx = u.Fraction(), fy = v.Fraction();
  const std::uint32_t t00 = SpanTexel(f, border, x0, y0), t10 = SpanTexel(f, border, x0 + 1, y0),
                      t01 = SpanTexel(f, border, x0, y0 + 1),
                      t11 = SpanTexel(f, border, x0 + 1, y0 + 1);
  constexpr std::int64_t Half = std::int64_t{1} << 39, Band = std::int64_t{1} << 30;
  std::uint32_t result = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    auto channel = [shift](std::uint32_t t) {
      return static_cast<std::int64_t>((t >> shift) & 0xFF);
    };
    std::int64_t top = (channel(t00) << LinearFractionBits) + (channel(t10) - channel(t00)) * fx;
    std::int64_t bottom = (channel(t01) << LinearFractionBits) + (channel(t11) - channel(t01)) * fx;
    std::int64_t value = (top << LinearFractionBits) + (bottom - top) * fy;
    std::int64_t fraction = value & ((std::int64_t{1} << 40) - 1);
    if (fraction > Half - Band && fraction < Half + Band) return false;
    std::int64_t rounded = (value + Half) >> 40;
    result |= static_cast<std::uint32_t>(rounded < 0 ? 0 : (rounded > 255 ? 255 : rounded))
              << shift;
  }
  *out = result;
  return true;
}

// A point-sampled row whose texel indices step by whole texels (an unscaled or whole-ratio
// draw, where the remainders never change) and stay inside the texture is one run over texel
// memory. False when the row is not such a run.
bool DrawRowAsRun(const SpanPath& span, std::uint32_t* out, std::int64_t count) {
  const FastTexturePath& f = span.f;
  const AxisStepper &u = span.u, &v = span.v;
  if (f.linear || !span.shade || u.stepR != 0 || v.stepR != 0 || !u.Certain() || !v.Certain())
    return false;
  const Wide width = f.level->width, height = f.level->height;
  const Wide lastU = u.q + u.stepQ * (count - 1), lastV = v.q + v.stepQ * (count - 1);
  if (u.q < 0 || u.q >= width || lastU < 0 || lastU >= width || v.q < 0 || v.q >= height ||
      lastV < 0 || lastV >= height)
    return false;
  const std::ptrdiff_t rowTexels = f.level->pitch / f.texelBytes;
  const std::uint8_t* texel = f.level->Row(static_cast<int>(static_cast<std::int64_t>(v.q))) +
                              static_cast<std::int64_t>(u.q) * f.texelBytes;
  ShadeTexels(
      span, texel,
      static_cast<std::ptrdiff_t>(u.stepQ) + static_cast<std::ptrdiff_t>(v.stepQ) * rowTexels, out,
      count);
  return true;
}

}  // namespace

bool AxisStepper::Setup(double c0, double c1, double c2, int size, bool linear) {
  fractionBits = linear ? LinearFractionBits : 0;
  if (!(std::fabs(c0) <= 256 && std::fabs(c1) <= 256 && std::fabs(c2) <= 256)) return false;
  for (scaleBits = 0; scaleBits <= 32; ++scaleBits) {
    const double scale = static_cast<double>(std::uint64_t{1} << scaleBits);  // exact, no call
    if (ExactCoordinate(c0 * size, scale, &scaled[0]) &&
        ExactCoordinate(c1 * size, scale, &scaled[1]) &&
        ExactCoordinate(c2 * size, scale, &scaled[2]))
      return true;
  }
  return false;
}

void AxisStepper::StartRow(const std::int64_t* w, const Edge* edges, Wide weightSum) {
  m = weightSum << scaleBits;
  margin = (m >> 24) + 1;
  Wide n = 0, step = 0;
  for (int k = 0; k < 3; ++k) {
    n += static_cast<Wide>(w[k]) * scaled[k];
    step -= static_cast<Wide>(edges[k].dy * SubPixel) * scaled[k];
  }
  if (fractionBits) {
    n = n * (Wide(1) << fractionBits) - m * (Wide(1) << (fractionBits - 1));
    step *= Wide(1) << fractionBits;
  }
  q = FloorDivWide(n, m);
  r = n - q * m;
  stepQ = FloorDivWide(step, m);
  stepR = step - stepQ * m;
}

void AxisStepper::PrepareRowStep(const Edge* edges) {
  // A row down adds dx * SubPixel to each edge value.
  Wide step = 0;
  for (int k = 0; k < 3; ++k) step += static_cast<Wide>(edges[k].dx * SubPixel) * scaled[k];
  step *= Wide(1) << fractionBits;
  rowStepQ = FloorDivWide(step, m);
  rowStepR = step - rowStepQ * m;
}

SpanPath MakeSpanPath(const PixelPipeline& p, const FastTexturePath& f,
                      const RasterVertex* const* v, const Rgba& flatDiffuse) {
  SpanPath span;
  if (!f.usable || !SpanPathsEnabled()) return span;
  double rhw = v[0]->rhw;
  if (!(rhw > 0.0) || v[1]->rhw != rhw || v[2]->rhw != rhw) return span;
  for (int k = 0; k < 3; ++k)
    if (!(std::fabs(v[k]->x) < SpanCoordinateLimit && std::fabs(v[k]->y) < SpanCoordinateLimit))
      return span;
  const int set = f.set;
  const int width = static_cast<int>(f.level->width), height = static_cast<int>(f.level->height);
  span.f = f;
  span.usable =
      span.u.Setup(v[0]->tex[set][0], v[1]->tex[set][0], v[2]->tex[set][0], width, f.linear) &&
      span.v.Setup(v[0]->tex[set][1], v[1]->tex[set][1], v[2]->tex[set][1], height, f.linear);
  if (!span.usable) return span;
  SetUpRunShading(p, &span);
  SetRunDiffuse(&span.shading, flatDiffuse);
  return span;
}

void DrawSpanRow(const PixelPipeline& p, SpanPath& span, const std::array<bool, 8>& sampled,
                 const RasterVertex* const* v, const Edge* edges, std::int64_t* w, std::int64_t y,
                 std::int64_t first, std::int64_t last, const Rgba& diffuse, const Rgba& specular) {
  const SpanBlend blend = span.blend;
  const Wide weightSum = static_cast<Wide>(w[0]) + w[1] + w[2];
  if (weightSum <= 0) return;
  span.u.StartRow(w, edges, weightSum);
  span.v.StartRow(w, edges, weightSum);
  const FastTexturePath& f = span.f;
  const std::uint32_t border = p.stages[0].sampler.border;
  const std::uint32_t forceTargetAlpha = f.targetHasAlpha ? 0 : 0xFF000000u;
  std::uint32_t* out = reinterpret_cast<std::uint32_t*>(p.target->Row(static_cast<int>(y)));
  if (DrawRowAsRun(span, out + first, last - first + 1)) return;
  const int set = f.set;
  const double rhw = v[0]->rhw;
  for (std::int64_t x = first; x <= last; ++x) {
    std::uint32_t texel;
    bool exact = span.u.Certain() && span.v.Certain();
    if (exact && f.linear) exact = FilterSpanTexel(f, border, span.u, span.v, &texel);
    if (exact && !f.linear) texel = SpanTexel(f, border, span.u.Index(), span.v.Index());
    span.u.Step();
    span.v.Step();
    if (!exact) {
      // As the general path computes it, edge values and all.
      std::int64_t wx[3];
      for (int k = 0; k < 3; ++k) wx[k] = w[k] - edges[k].dy * SubPixel * (x - first);
      double n0 = static_cast<double>(wx[0]) * rhw, n1 = static_cast<double>(wx[1]) * rhw,
             n2 = static_cast<double>(wx[2]) * rhw;
      double sum = n0 + n1 + n2;
      double tex[8][2] = {};
      tex[set][0] =
          (n0 * v[0]->tex[set][0] + n1 * v[1]->tex[set][0] + n2 * v[2]->tex[set][0]) / sum;
      tex[set][1] =
          (n0 * v[0]->tex[set][1] + n1 * v[1]->tex[set][1] + n2 * v[2]->tex[set][1]) / sum;
      if (f.linear) {
        ShadeAndWrite(p, sampled, static_cast<int>(x), static_cast<int>(y), diffuse, specular, tex);
        continue;
      }
      texel = SpanTexel(f, border, FloorToIndex(tex[set][0] * f.level->width),
                        FloorToIndex(tex[set][1] * f.level->height));
    }
    int r = (texel >> 16) & 0xFF, g = (texel >> 8) & 0xFF, b = texel & 0xFF,
        a = static_cast<int>(texel >> 24);
    if (f.modulateColor) {
      r = MultiplyChannel(r, diffuse.r);
      g = MultiplyChannel(g, diffuse.g);
      b = MultiplyChannel(b, diffuse.b);
    }
    a = f.alphaSource == 0 ? a : (f.alphaSource == 1 ? MultiplyChannel(a, diffuse.a) : diffuse.a);
    if (p.alphaTest && !PassesAlphaTest(p.alphaFunc, a, p.alphaRef)) continue;
    std::uint32_t& target = out[x];
    if (blend != SpanBlend::None) {
      std::uint32_t d = target | forceTargetAlpha;
      int dr = (d >> 16) & 0xFF, dg = (d >> 8) & 0xFF, db = d & 0xFF,
          da = static_cast<int>(d >> 24);
      if (blend == SpanBlend::Alpha) {
        int inv = 255 - a;
        r = Div255Rounded(r * a + dr * inv);
        g = Div255Rounded(g * a + dg * inv);
        b = Div255Rounded(b * a + db * inv);
        a = Div255Rounded(a * a + da * inv);
      } else if (blend == SpanBlend::Add) {
        r = Div255Rounded(r * a + dr * 255);
        g = Div255Rounded(g * a + dg * 255);
        b = Div255Rounded(b * a + db * 255);
        a = Div255Rounded(a * a + da * 255);
      } else {
        Rgba c = BlendColors(p, Rgba{r, g, b, a}, Rgba{dr, dg, db, da});
        r = c.r, g = c.g, b = c.b, a = c.a;
      }
    }
    target = ((static_cast<std::uint32_t>(a) << 24) | (static_cast<std::uint32_t>(r) << 16) |
              (static_cast<std::uint32_t>(g) << 8) | static_cast<std::uint32_t>(b)) |
             forceTargetAlpha;
  }
}

bool RectangleRuns::Start(const PixelPipeline& p, const SpanPath& span, const Edge* edges,
                          const std::int64_t* w, std::int64_t firstColumn, std::int64_t lastColumn,
                          std::int64_t firstRow) {
  const FastTexturePath& f = span.f;
  if (!span.usable || f.linear || !span.shade) return false;
  const Wide weightSum = static_cast<Wide>(w[0]) + w[1] + w[2];
  if (weightSum <= 0) return false;
  AxisStepper u = span.u;
  v_ = span.v;
  u.StartRow(w, edges, weightSum);
  v_.StartRow(w, edges, weightSum);
  // The texture's rows follow the screen's (v is the same along a row) and every texel of a row
  // is certain and inside the texture (u is the same down a column, at whole-texel steps).
  if (u.stepR != 0 || v_.stepQ != 0 || v_.stepR != 0 || !u.Certain()) return false;
  count_ = lastColumn - firstColumn + 1;
  const Wide lastU = u.q + u.stepQ * (count_ - 1), width = f.level->width;
  if (u.q < 0 || u.q >= width || lastU < 0 || lastU >= width) return false;
  v_.PrepareRowStep(edges);
  p_ = &p;
  span_ = &span;
  firstColumn_ = firstColumn;
  row_ = firstRow;
  firstTexel_ = static_cast<std::int64_t>(u.q);
  texelStep_ = static_cast<std::ptrdiff_t>(u.stepQ);
  return true;
}

bool RectangleRuns::DrawRowAndStep() {
  const FastTexturePath& f = span_->f;
  const bool run = v_.Certain() && v_.q >= 0 && v_.q < f.level->height;
  if (run) {
    const std::uint8_t* texel = f.level->Row(static_cast<int>(static_cast<std::int64_t>(v_.q))) +
                                firstTexel_ * f.texelBytes;
    auto* out = reinterpret_cast<std::uint32_t*>(p_->target->Row(static_cast<int>(row_)));
    ShadeTexels(*span_, texel, texelStep_, out + firstColumn_, count_);
  }
  v_.StepRow();
  ++row_;
  return run;
}
