// The CPU device's rasteriser: integer edge functions on a 1/256-pixel grid with the top-left
// fill rule, perspective-correct attributes at each pixel's sample point, and the fixed-function
// pixel pipeline that colours, tests, blends and writes the pixel.
#include "platform/d3d9/d3d9_rasterizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}
std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return -FloorDiv(-a, b); }

inline int FloorToIndex(double v) {
  if (!(v > -1e9 && v < 1e9)) return 0;
  int i = static_cast<int>(v);
  return v < i ? i - 1 : i;
}

// The texel index under an address mode; false when it falls on the border colour.
inline bool AddressIndex(DWORD mode, int i, int size, int* out) {
  if (mode == D3DTADDRESS_CLAMP) {
    *out = i < 0 ? 0 : (i >= size ? size - 1 : i);
    return true;
  }
  switch (mode) {
    case D3DTADDRESS_WRAP: *out = ((i % size) + size) % size; return true;
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

// The colour of one covered pixel from its interpolated inputs, written to the target.
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

// The columns of a row inside all three edges, from the edge values at minX: each edge is a
// linear function of the column, so its bound is one integer division.
struct Edge {
  std::int64_t px, py, dx, dy, bias;
};

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

// The game's draws (one stage showing a 32-bit or 16-bit texture, alone or times the flat diffuse
// colour, point-sampled, into a 32-bit target) go through a shorter path with the same arithmetic.
struct FastTexturePath {
  bool usable = false;
  int set = 0;
  bool modulateColor = false;
  int alphaSource = 0;           // 0 texture, 1 texture x diffuse, 2 diffuse
  int texelBytes = 4;            // 2: a 16-bit format, widened as ReadPixel widens it
  bool textureHasAlpha = false;  // false: X8R8G8B8, whose stored alpha byte reads as 255
  bool targetHasAlpha = false;
  bool linear = false;  // only the span path samples linearly
  const CpuSurface* level = nullptr;
  DWORD addressU = D3DTADDRESS_CLAMP, addressV = D3DTADDRESS_CLAMP;
};

bool IsTextureAndDiffuse(DWORD a, DWORD b) {
  auto diffuse = [](DWORD arg) { return arg == D3DTA_DIFFUSE || arg == D3DTA_CURRENT; };
  return (a == D3DTA_TEXTURE && diffuse(b)) || (b == D3DTA_TEXTURE && diffuse(a));
}

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

// The texel at (tx, ty) inside the texture as 0xAARRGGBB.
inline std::uint32_t LoadTexel(const FastTexturePath& f, int tx, int ty) {
  const std::uint8_t* p = f.level->Row(ty) + tx * f.texelBytes;
  if (f.texelBytes == 2) return Widen16(f.level->format, static_cast<unsigned>(p[0] | p[1] << 8));
  std::uint32_t texel;
  std::memcpy(&texel, p, 4);
  return f.textureHasAlpha ? texel : texel | 0xFF000000u;
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

// Spans of a triangle whose vertices share one rhw (every pre-transformed quad the engine
// draws): the texture coordinates are then affine along a row, so the texel index steps by a
// constant quotient and remainder from pixel to pixel, exactly, with no division. Coordinates
// are scaled by a power of two up to 2^32 to integers, which every float texture coordinate of
// magnitude 2^-9 to 256 is. Where the exact coordinate lies within 2^-24 texel of a texel edge, the
// rounding of the per-pixel formula decides, so that pixel takes the formula itself and the pixels
// stay the same.
using Wide = __int128;

constexpr int LinearFractionBits = 20;
constexpr std::int64_t LinearFractionMask = (std::int64_t{1} << LinearFractionBits) - 1;
// Vertices beyond this many pixels take the per-pixel path, so the products stay in 128 bits.
constexpr double SpanCoordinateLimit = 32768;

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

// One texture axis across a row: q and remainder r of the exact coordinate (in texels, less half
// a texel and times 2^fractionBits when sampling linearly) over m.
struct AxisStepper {
  std::int64_t scaled[3];  // the vertices' coordinates times the texture size, times 2^scaleBits
  int fractionBits = 0;
  Wide m, margin, stepQ, stepR;
  Wide q, r;

  int scaleBits = 0;  // the fewest that make the three coordinates whole

  bool Setup(double c0, double c1, double c2, int size, bool linear) {
    fractionBits = linear ? LinearFractionBits : 0;
    if (!(std::fabs(c0) <= 256 && std::fabs(c1) <= 256 && std::fabs(c2) <= 256)) return false;
    for (scaleBits = 0; scaleBits <= 32; ++scaleBits) {
      const double scale = std::ldexp(1.0, scaleBits);
      if (ExactCoordinate(c0 * size, scale, &scaled[0]) &&
          ExactCoordinate(c1 * size, scale, &scaled[1]) &&
          ExactCoordinate(c2 * size, scale, &scaled[2]))
        return true;
    }
    return false;
  }
  void StartRow(const std::int64_t* w, const Edge* edges, Wide weightSum) {
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
  // Far enough from a texel edge for the per-pixel formula to find the same texel.
  bool Certain() const {
    if (!fractionBits) return r >= margin && r <= m - margin;
    std::int64_t fraction = static_cast<std::int64_t>(q) & LinearFractionMask;
    return fraction != 0 && fraction != LinearFractionMask;
  }
  std::int64_t Index() const { return static_cast<std::int64_t>(q >> fractionBits); }
  int Fraction() const {
    return static_cast<int>(static_cast<std::int64_t>(q) & LinearFractionMask);
  }
  void Step() {
    q += stepQ;
    r += stepR;
    if (r >= m) {
      r -= m;
      ++q;
    }
  }
};

struct SpanPath {
  bool usable = false;
  FastTexturePath f;
  AxisStepper u, v;
};

SpanPath MakeSpanPath(const FastTexturePath& f, const RasterVertex* const* v) {
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
  return span;
}

inline bool WrapIndex(DWORD mode, std::int64_t i, int size, int* out) {
  if (i >= 0 && i < size) {
    *out = static_cast<int>(i);
    return true;
  }
  if (i < -(1 << 30) || i > (1 << 30)) return false;
  return AddressIndex(mode, static_cast<int>(i), size, out);
}

// The blend the engine's modes use most, in the arithmetic of BlendChannel.
enum class SpanBlend { None, Alpha, Add, Other };

SpanBlend ClassifyBlend(const PixelPipeline& p) {
  if (!p.blend) return SpanBlend::None;
  if (p.blendOp != D3DBLENDOP_ADD) return SpanBlend::Other;
  bool alphaSource = p.sourceBlend == D3DBLEND_SRCALPHA;
  if (p.sourceBlend == D3DBLEND_BOTHSRCALPHA ||
      (alphaSource && p.destBlend == D3DBLEND_INVSRCALPHA))
    return SpanBlend::Alpha;
  if (alphaSource && p.destBlend == D3DBLEND_ONE) return SpanBlend::Add;
  return SpanBlend::Other;
}

inline int Div255Rounded(int v) { return v <= 0 ? 0 : Clamp255((v + 127) / 255); }

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

// What a run of exactly stepped texels needs to shade: the flat diffuse colour, which alphas
// pass the alpha test, and the alpha the formats force.
struct RunShading {
  int dr, dg, db, da;
  int alphaSource;
  int passLow, passHigh;  // the alpha test passes inside [low, high], or outside when inverted
  bool passInverted;
  std::uint32_t forceTextureAlpha, forceTargetAlpha;
};

// The alpha test as a range of alphas.
void SetAlphaRange(const PixelPipeline& p, RunShading* s) {
  int low = 0, high = 255;
  bool inverted = false;
  const int ref = p.alphaRef;
  if (p.alphaTest) {
    switch (p.alphaFunc) {
      case D3DCMP_NEVER: low = 1, high = 0; break;
      case D3DCMP_LESS: high = ref - 1; break;
      case D3DCMP_EQUAL: low = high = ref; break;
      case D3DCMP_LESSEQUAL: high = ref; break;
      case D3DCMP_GREATER: low = ref + 1; break;
      case D3DCMP_NOTEQUAL: low = high = ref, inverted = true; break;
      case D3DCMP_GREATEREQUAL: low = ref; break;
      default: break;
    }
  }
  s->passLow = low;
  s->passHigh = high;
  s->passInverted = inverted;
}

// The run's pixels in the arithmetic of the per-pixel path, specialised on the colour operation
// and the blend so that the loop holds neither a switch nor a division.
// A texel of the run's format as 0xAARRGGBB; the 32-bit formats share A8R8G8B8's reader, the
// alpha of X8R8G8B8 being forced by the caller.
template <D3DFORMAT Format>
inline std::uint32_t ReadRunTexel(const std::uint8_t* texel) {
  if constexpr (Format == D3DFMT_A8R8G8B8) {
    std::uint32_t t;
    std::memcpy(&t, texel, 4);
    return t;
  } else {
    return Widen16(Format, static_cast<unsigned>(texel[0] | texel[1] << 8));
  }
}

template <bool Modulate, SpanBlend Blend, D3DFORMAT Format>
void ShadeRun(const RunShading& s, const std::uint8_t* texel, std::ptrdiff_t byteStep,
              std::uint32_t* out, std::int64_t count) {
  for (std::int64_t i = 0; i < count; ++i, texel += byteStep) {
    const std::uint32_t t = ReadRunTexel<Format>(texel) | s.forceTextureAlpha;
    int a = static_cast<int>(t >> 24);
    if (s.alphaSource == 1) a = MultiplyChannel(a, s.da);
    if (s.alphaSource == 2) a = s.da;
    // Tested before the colour is worked out: glyph and sprite cells are mostly see-through.
    if ((a >= s.passLow && a <= s.passHigh) == s.passInverted) continue;
    int r = (t >> 16) & 0xFF, g = (t >> 8) & 0xFF, b = t & 0xFF;
    if constexpr (Modulate) {
      r = MultiplyChannel(r, s.dr);
      g = MultiplyChannel(g, s.dg);
      b = MultiplyChannel(b, s.db);
    }
    if constexpr (Blend != SpanBlend::None) {
      const std::uint32_t d = out[i] | s.forceTargetAlpha;
      const int dr = (d >> 16) & 0xFF, dg = (d >> 8) & 0xFF, db = d & 0xFF,
                da = static_cast<int>(d >> 24);
      const int keep = Blend == SpanBlend::Alpha ? 255 - a : 255;
      r = Div255Rounded(r * a + dr * keep);
      g = Div255Rounded(g * a + dg * keep);
      b = Div255Rounded(b * a + db * keep);
      a = Div255Rounded(a * a + da * keep);
    }
    out[i] = (static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(r) << 16 |
              static_cast<std::uint32_t>(g) << 8 | static_cast<std::uint32_t>(b)) |
             s.forceTargetAlpha;
  }
}

using ShadeRunFunction = void (*)(const RunShading&, const std::uint8_t*, std::ptrdiff_t,
                                  std::uint32_t*, std::int64_t);

template <bool Modulate, SpanBlend Blend>
ShadeRunFunction PickShadeRunFormat(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_R5G6B5: return ShadeRun<Modulate, Blend, D3DFMT_R5G6B5>;
    case D3DFMT_X1R5G5B5: return ShadeRun<Modulate, Blend, D3DFMT_X1R5G5B5>;
    case D3DFMT_A1R5G5B5: return ShadeRun<Modulate, Blend, D3DFMT_A1R5G5B5>;
    case D3DFMT_A4R4G4B4: return ShadeRun<Modulate, Blend, D3DFMT_A4R4G4B4>;
    default: return ShadeRun<Modulate, Blend, D3DFMT_A8R8G8B8>;
  }
}

// A texture times white is the texture: MultiplyChannel(c, 255) is c.
ShadeRunFunction PickShadeRun(bool modulate, const Rgba& diffuse, SpanBlend blend,
                              D3DFORMAT format) {
  if (diffuse.r == 255 && diffuse.g == 255 && diffuse.b == 255) modulate = false;
  switch (blend) {
    case SpanBlend::None:
      return modulate ? PickShadeRunFormat<true, SpanBlend::None>(format)
                      : PickShadeRunFormat<false, SpanBlend::None>(format);
    case SpanBlend::Alpha:
      return modulate ? PickShadeRunFormat<true, SpanBlend::Alpha>(format)
                      : PickShadeRunFormat<false, SpanBlend::Alpha>(format);
    case SpanBlend::Add:
      return modulate ? PickShadeRunFormat<true, SpanBlend::Add>(format)
                      : PickShadeRunFormat<false, SpanBlend::Add>(format);
    default: return nullptr;
  }
}

RunShading MakeRunShading(const PixelPipeline& p, const FastTexturePath& f, const Rgba& diffuse) {
  RunShading s;
  s.dr = diffuse.r, s.dg = diffuse.g, s.db = diffuse.b, s.da = diffuse.a;
  s.alphaSource = f.alphaSource;
  SetAlphaRange(p, &s);
  s.forceTextureAlpha = f.textureHasAlpha ? 0 : 0xFF000000u;
  s.forceTargetAlpha = f.targetHasAlpha ? 0 : 0xFF000000u;
  return s;
}

// `count` pixels from texel (tu, tv) on, `step` texels apart, all inside the texture.
void ShadeTexelRun(const FastTexturePath& f, ShadeRunFunction shade, const RunShading& s,
                   std::int64_t tu, std::int64_t tv, std::ptrdiff_t step, std::uint32_t* out,
                   std::int64_t count) {
  shade(s, f.level->Row(static_cast<int>(tv)) + tu * f.texelBytes, step * f.texelBytes, out, count);
}

// A point-sampled row whose texel indices step by whole texels (an unscaled or whole-ratio
// draw, where the remainders never change) and stay inside the texture is one run over texel
// memory. False when the row is not such a run.
bool DrawRowAsRun(const PixelPipeline& p, const SpanPath& span, SpanBlend blend, std::uint32_t* out,
                  std::int64_t count, const Rgba& diffuse) {
  const FastTexturePath& f = span.f;
  const AxisStepper &u = span.u, &v = span.v;
  if (f.linear || u.stepR != 0 || v.stepR != 0 || !u.Certain() || !v.Certain()) return false;
  const ShadeRunFunction shade = PickShadeRun(f.modulateColor, diffuse, blend, f.level->format);
  if (!shade) return false;
  const Wide width = f.level->width, height = f.level->height;
  const Wide lastU = u.q + u.stepQ * (count - 1), lastV = v.q + v.stepQ * (count - 1);
  if (u.q < 0 || u.q >= width || lastU < 0 || lastU >= width || v.q < 0 || v.q >= height ||
      lastV < 0 || lastV >= height)
    return false;
  const RunShading s = MakeRunShading(p, f, diffuse);
  const std::ptrdiff_t rowTexels = f.level->pitch / f.texelBytes;
  ShadeTexelRun(
      f, shade, s, static_cast<std::int64_t>(u.q), static_cast<std::int64_t>(v.q),
      static_cast<std::ptrdiff_t>(u.stepQ) + static_cast<std::ptrdiff_t>(v.stepQ) * rowTexels, out,
      count);
  return true;
}

// One row [first, last] of a span-path triangle; w holds the edge values at `first`.
void DrawSpanRow(const PixelPipeline& p, SpanPath& span, SpanBlend blend,
                 const std::array<bool, 8>& sampled, const RasterVertex* const* v,
                 const Edge* edges, std::int64_t* w, std::int64_t y, std::int64_t first,
                 std::int64_t last, const Rgba& diffuse, const Rgba& specular) {
  const Wide weightSum = static_cast<Wide>(w[0]) + w[1] + w[2];
  if (weightSum <= 0) return;
  span.u.StartRow(w, edges, weightSum);
  span.v.StartRow(w, edges, weightSum);
  const FastTexturePath& f = span.f;
  const std::uint32_t border = p.stages[0].sampler.border;
  const std::uint32_t forceTargetAlpha = f.targetHasAlpha ? 0 : 0xFF000000u;
  std::uint32_t* out = reinterpret_cast<std::uint32_t*>(p.target->Row(static_cast<int>(y)));
  if (DrawRowAsRun(p, span, blend, out + first, last - first + 1, diffuse)) return;
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

}  // namespace

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

void RasterizeTriangle(const PixelPipeline& p, const RasterVertex& a0, const RasterVertex& b0,
                       const RasterVertex& c0, const RasterVertex& flat) {
  if (!p.target || p.clip.left >= p.clip.right || p.clip.top >= p.clip.bottom) return;
  std::int64_t ax, ay, bx, by, cx, cy;
  if (!Snap(a0.x, &ax) || !Snap(a0.y, &ay) || !Snap(b0.x, &bx) || !Snap(b0.y, &by) ||
      !Snap(c0.x, &cx) || !Snap(c0.y, &cy)) {
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
  auto makeEdge = [](std::int64_t px, std::int64_t py, std::int64_t qx, std::int64_t qy) {
    std::int64_t dx = qx - px, dy = qy - py;
    bool topLeft = (dy == 0 && dx > 0) || dy < 0;
    return Edge{px, py, dx, dy, topLeft ? 0 : -1};
  };
  const Edge edges[3] = {makeEdge(bx, by, cx, cy), makeEdge(cx, cy, ax, ay),
                         makeEdge(ax, ay, bx, by)};

  std::int64_t minX =
      std::max<std::int64_t>(CeilDiv(std::min({ax, bx, cx}), SubPixel), p.clip.left);
  std::int64_t maxX =
      std::min<std::int64_t>(FloorDiv(std::max({ax, bx, cx}), SubPixel), p.clip.right - 1);
  std::int64_t minY = std::max<std::int64_t>(CeilDiv(std::min({ay, by, cy}), SubPixel), p.clip.top);
  std::int64_t maxY =
      std::min<std::int64_t>(FloorDiv(std::max({ay, by, cy}), SubPixel), p.clip.bottom - 1);
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

  FastTexturePath fast = MakeFastTexturePath(p, flatSpecular, false);
  SpanPath span = MakeSpanPath(MakeFastTexturePath(p, flatSpecular, true), v);
  const SpanBlend spanBlend = ClassifyBlend(p);
  if (span.usable) CountD3D9Call(D3D9Counter::SpanTriangle);
  for (std::int64_t y = minY; y <= maxY; ++y) {
    std::int64_t sy = y * SubPixel, sx = minX * SubPixel;
    std::int64_t w[3];
    for (int k = 0; k < 3; ++k)
      w[k] = edges[k].dx * (sy - edges[k].py) - edges[k].dy * (sx - edges[k].px);
    std::int64_t first, last;
    if (!RowSpan(edges, w, minX, maxX, &first, &last)) continue;
    for (int k = 0; k < 3; ++k) w[k] -= edges[k].dy * SubPixel * (first - minX);
    CountD3D9Call(D3D9Counter::CoveredPixels, static_cast<int>(last - first + 1));
    if (span.usable) {
      DrawSpanRow(p, span, spanBlend, sampled, v, edges, w, y, first, last, flatDiffuse,
                  flatSpecular);
      continue;
    }
    for (std::int64_t x = first; x <= last; ++x) {
      double n0 = static_cast<double>(w[0]) * va->rhw, n1 = static_cast<double>(w[1]) * vb->rhw,
             n2 = static_cast<double>(w[2]) * vc->rhw;
      double sum = n0 + n1 + n2;
      for (int k = 0; k < 3; ++k) w[k] -= edges[k].dy * SubPixel;
      if (!(sum > 0.0 || sum < 0.0)) continue;
      if (fast.usable) {
        // One division per coordinate keeps texel-centre hits exact for unit rhw.
        int set = fast.set;
        double u = (n0 * va->tex[set][0] + n1 * vb->tex[set][0] + n2 * vc->tex[set][0]) / sum;
        double v = (n0 * va->tex[set][1] + n1 * vb->tex[set][1] + n2 * vc->tex[set][1]) / sum;
        ShadeTexturedPixel(p, fast, static_cast<int>(x), static_cast<int>(y), u, v, flatDiffuse);
        continue;
      }
      Rgba diffuse = flatDiffuse, specular = flatSpecular;
      if (p.gouraud) {
        double k0 = n0 / sum, k1 = n1 / sum, k2 = n2 / sum;
        auto lerp = [&](int c0, int c1, int c2) {
          return Clamp255(static_cast<int>(std::lround(k0 * c0 + k1 * c1 + k2 * c2)));
        };
        diffuse = {lerp(vd[0].r, vd[1].r, vd[2].r), lerp(vd[0].g, vd[1].g, vd[2].g),
                   lerp(vd[0].b, vd[1].b, vd[2].b), lerp(vd[0].a, vd[1].a, vd[2].a)};
        specular = {lerp(vs[0].r, vs[1].r, vs[2].r), lerp(vs[0].g, vs[1].g, vs[2].g),
                    lerp(vs[0].b, vs[1].b, vs[2].b), lerp(vs[0].a, vs[1].a, vs[2].a)};
      }
      if (anyTexture) {
        for (int s = 0; s < p.stageCount; ++s) {
          int set = p.stages[s].texCoordSet;
          if (!sampled[s] || set < 0) continue;
          tex[set][0] = (n0 * va->tex[set][0] + n1 * vb->tex[set][0] + n2 * vc->tex[set][0]) / sum;
          tex[set][1] = (n0 * va->tex[set][1] + n1 * vb->tex[set][1] + n2 * vc->tex[set][1]) / sum;
        }
      }
      ShadeAndWrite(p, sampled, static_cast<int>(x), static_cast<int>(y), diffuse, specular, tex);
    }
  }
}

bool RasterizeQuadAsRuns(const PixelPipeline& p, const RasterVertex* q) {
  if (!p.target || p.clip.left >= p.clip.right || p.clip.top >= p.clip.bottom ||
      !SpanPathsEnabled())
    return false;
  const RasterVertex &a = q[0], &b = q[1], &c = q[2], &d = q[3];
  auto same = [](const RasterVertex& x, const RasterVertex& y) {
    return x.x == y.x && x.y == y.y && x.rhw == y.rhw &&
           std::memcmp(x.tex, y.tex, sizeof x.tex) == 0;
  };
  if (!same(q[4], c) || !same(q[5], b) || a.diffuse != d.diffuse || a.specular != d.specular)
    return false;
  const Rgba diffuse = UnpackRgba(a.diffuse);
  const FastTexturePath f = MakeFastTexturePath(p, UnpackRgba(a.specular), false);
  if (!f.usable) return false;
  const ShadeRunFunction shade =
      PickShadeRun(f.modulateColor, diffuse, ClassifyBlend(p), f.level->format);
  if (!shade) return false;
  const double rhw = a.rhw;
  if (!(rhw > 0.0) || b.rhw != rhw || c.rhw != rhw || d.rhw != rhw) return false;
  for (const RasterVertex* v : {&a, &b, &c, &d})
    if (!(std::fabs(v->x) < SpanCoordinateLimit && std::fabs(v->y) < SpanCoordinateLimit))
      return false;
  std::int64_t ax, ay, bx, by, cx, cy, dx, dy;
  if (!Snap(a.x, &ax) || !Snap(a.y, &ay) || !Snap(b.x, &bx) || !Snap(b.y, &by) || !Snap(c.x, &cx) ||
      !Snap(c.y, &cy) || !Snap(d.x, &dx) || !Snap(d.y, &dy))
    return false;
  // An upright rectangle whose texture u follows x alone and v follows y alone.
  const int set = f.set;
  if (ay != by || cy != dy || ax != cx || bx != dx || ax == bx || ay == cy ||
      a.tex[set][0] != c.tex[set][0] || b.tex[set][0] != d.tex[set][0] ||
      a.tex[set][1] != b.tex[set][1] || c.tex[set][1] != d.tex[set][1])
    return false;
  // Both triangles wind the same way: culled together.
  const bool clockwise = (bx - ax > 0) == (cy - ay > 0);
  if ((p.cullMode == D3DCULL_CW && clockwise) || (p.cullMode == D3DCULL_CCW && !clockwise))
    return true;
  // The top-left rule leaves the pixels whose sample points are in [left, right) x [top, bottom),
  // the shared diagonal's pixels going to one triangle or the other.
  const std::int64_t first =
      std::max<std::int64_t>(CeilDiv(std::min(ax, bx), SubPixel), p.clip.left);
  const std::int64_t last =
      std::min<std::int64_t>(CeilDiv(std::max(ax, bx), SubPixel) - 1, p.clip.right - 1);
  const std::int64_t top = std::max<std::int64_t>(CeilDiv(std::min(ay, cy), SubPixel), p.clip.top);
  const std::int64_t bottom =
      std::min<std::int64_t>(CeilDiv(std::max(ay, cy), SubPixel) - 1, p.clip.bottom - 1);
  if (first > last || top > bottom) return true;

  // The texel steppers of the first triangle as the span path orders it; the second triangle has
  // the same area and coordinates, so its exact texel positions and margins are the same.
  const RasterVertex* v[3] = {&a, &b, &c};
  std::int64_t px[3] = {ax, bx, cx}, py[3] = {ay, by, cy};
  if (!clockwise) {
    std::swap(v[1], v[2]);
    std::swap(px[1], px[2]);
    std::swap(py[1], py[2]);
  }
  auto makeEdge = [&](int from, int to) {
    return Edge{px[from], py[from], px[to] - px[from], py[to] - py[from], 0};
  };
  const Edge edges[3] = {makeEdge(1, 2), makeEdge(2, 0), makeEdge(0, 1)};
  AxisStepper u, vs;
  const int width = static_cast<int>(f.level->width), height = static_cast<int>(f.level->height);
  if (!u.Setup(v[0]->tex[set][0], v[1]->tex[set][0], v[2]->tex[set][0], width, false) ||
      !vs.Setup(v[0]->tex[set][1], v[1]->tex[set][1], v[2]->tex[set][1], height, false))
    return false;
  std::int64_t w[3];
  for (int k = 0; k < 3; ++k)
    w[k] = edges[k].dx * (top * SubPixel - edges[k].py) -
           edges[k].dy * (first * SubPixel - edges[k].px);
  const Wide weightSum = static_cast<Wide>(w[0]) + w[1] + w[2];
  if (weightSum <= 0) return false;
  u.StartRow(w, edges, weightSum);
  vs.StartRow(w, edges, weightSum);
  // Down a row: each weight grows by its edge's dx.
  Wide uRow = 0, vRow = 0;
  for (int k = 0; k < 3; ++k) {
    uRow += static_cast<Wide>(edges[k].dx * SubPixel) * u.scaled[k];
    vRow += static_cast<Wide>(edges[k].dx * SubPixel) * vs.scaled[k];
  }
  // Whole-texel steps along a row, inside the texture, never near a texel edge; else the pair
  // goes triangle by triangle.
  const std::int64_t count = last - first + 1;
  const Wide lastU = u.q + u.stepQ * (count - 1);
  if (uRow != 0 || u.stepR != 0 || vs.stepQ != 0 || vs.stepR != 0 || !u.Certain() || u.q < 0 ||
      u.q >= width || lastU < 0 || lastU >= width)
    return false;
  const Wide vRowQ = FloorDivWide(vRow, vs.m), vRowR = vRow - vRowQ * vs.m;
  AxisStepper row = vs;
  for (std::int64_t y = top; y <= bottom; ++y) {
    if (!row.Certain() || row.q < 0 || row.q >= height) return false;
    row.q += vRowQ;
    row.r += vRowR;
    if (row.r >= row.m) row.r -= row.m, ++row.q;
  }
  CountD3D9Call(D3D9Counter::SpanTriangle, 2);
  const RunShading shading = MakeRunShading(p, f, diffuse);
  CountD3D9Call(D3D9Counter::CoveredPixels, static_cast<int>(count * (bottom - top + 1)));
  for (std::int64_t y = top; y <= bottom; ++y) {
    auto* out = reinterpret_cast<std::uint32_t*>(p.target->Row(static_cast<int>(y))) + first;
    ShadeTexelRun(f, shade, shading, static_cast<std::int64_t>(u.q),
                  static_cast<std::int64_t>(vs.q), static_cast<std::ptrdiff_t>(u.stepQ), out,
                  count);
    vs.q += vRowQ;
    vs.r += vRowR;
    if (vs.r >= vs.m) vs.r -= vs.m, ++vs.q;
  }
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
