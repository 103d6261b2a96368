// The rasteriser's span paths for the draws the engine makes most: one stage showing a 32-bit or
// 16-bit texture, alone or times the flat diffuse colour, into a 32-bit target. Texture coordinates
// step exactly along a row; whole runs of texels are shaded four pixels at a time; a screen-aligned
// quad of two triangles is drawn as one rectangle. Every pixel is the one the per-pixel path
// would write.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/d3d9/d3d9_pixels.h"
#include "platform/d3d9/d3d9_raster_steps.h"

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

FastTexturePath MakeFastTexturePath(const PixelPipeline& p, const Rgba& flatSpecular,
                                    bool allowLinear);

// The texel at (tx, ty), inside the texture, as 0xAARRGGBB.
inline std::uint32_t LoadTexel(const FastTexturePath& f, int tx, int ty) {
  const std::uint8_t* texel = f.level->Row(ty) + tx * f.texelBytes;
  if (f.texelBytes == 2)
    return Widen16(f.level->format, static_cast<unsigned>(texel[0] | texel[1] << 8));
  std::uint32_t t;
  std::memcpy(&t, texel, 4);
  return f.textureHasAlpha ? t : t | 0xFF000000u;
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

// One texture axis: q and remainder r of the exact coordinate (in texels, less half a texel and
// times 2^fractionBits when sampling linearly) over m, at one pixel.
struct AxisStepper {
  std::int64_t scaled[3];  // the vertices' coordinates times the texture size, times 2^scaleBits
  int fractionBits = 0;
  int scaleBits = 0;  // the fewest that make the three coordinates whole
  Wide m, margin, stepQ, stepR, rowStepQ = 0, rowStepR = 0;
  Wide q, r;

  bool Setup(double c0, double c1, double c2, int size, bool linear);
  // w: the edge values at the pixel.
  void StartRow(const std::int64_t* w, const Edge* edges, Wide weightSum);
  // The step from one row to the next at the same column, after StartRow.
  void PrepareRowStep(const Edge* edges);
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
  // To the next pixel of the row, and to the next row at the same column.
  void Step() { Add(stepQ, stepR); }
  void StepRow() { Add(rowStepQ, rowStepR); }
  void Add(Wide dq, Wide dr) {
    q += dq;
    r += dr;
    if (r >= m) {
      r -= m;
      ++q;
    }
  }
};

// The blend the engine's modes use most, in the arithmetic of BlendColors.
enum class SpanBlend { None, Alpha, Add, Other };

// What a run of exactly stepped texels needs to shade: the flat diffuse colour, which alphas
// pass the alpha test, and the alpha the formats force.
struct RunShading {
  int dr, dg, db, da;
  int alphaSource;
  int passLow, passHigh;  // the alpha test passes inside [low, high], or outside when inverted
  bool passInverted;
  std::uint32_t forceTextureAlpha, forceTargetAlpha;
};

// padded: the texels run on for three past the last (a widened copy), so the run's last pixels
// may be shaded four at a time too.
using ShadeRunFunction = void (*)(const RunShading&, const std::uint32_t*, std::ptrdiff_t,
                                  std::uint32_t*, std::int64_t, bool padded);

// A rectangle of consecutive texels, rowBytes apart from row to row, shaded onto the target rows
// from `out` on (outPitch pixels apart), the diffuse colour multiplied or not (RunMultiplies).
using ShadeRectangleFunction = void (*)(const RunShading&, bool modulate, const std::uint8_t*,
                                        std::ptrdiff_t rowBytes, std::uint32_t*,
                                        std::ptrdiff_t outPitch, int columns, int rows);

// Two such rectangles (a glyph's edge and its text) of texels at the same steps, each shaded in
// its own diffuse colour, neither multiplying, the second over the first.
using ShadeRectanglePairFunction = void (*)(const RunShading& first, const RunShading& second,
                                            bool modulate, const std::uint8_t* firstTexel,
                                            const std::uint8_t* secondTexel,
                                            std::ptrdiff_t rowBytes, std::uint32_t*,
                                            std::ptrdiff_t outPitch, int columns, int rows);

struct SpanPath {
  bool usable = false;
  FastTexturePath f;
  AxisStepper u, v;
  SpanBlend blend = SpanBlend::Other;
  RunShading shading{};
  ShadeRunFunction shade = nullptr;  // null: the blend has no run shading
  // By a simple alpha test (SimpleAlphaTest) or not, then without and with multiplying; null
  // where shade is.
  ShadeRectangleFunction shadeRectangle[2][2] = {};
  ShadeRectanglePairFunction shadeRectanglePair[2] = {};
  // One-bit alpha texels, no blending, and an alpha test that passes the set bits: a pair's
  // layers that multiply nothing take the shortest pass.
  bool oneBitPairs = false;
};

// Set up once per triangle: flat colours and pipeline state do not change across its rows.
SpanPath MakeSpanPath(const PixelPipeline& p, const FastTexturePath& f,
                      const RasterVertex* const* v, const Rgba& flatDiffuse);

// The blend, the run shading function and the alpha range of span->f under the pipeline, the
// diffuse colour aside; false when the blend has no run shading.
bool SetUpRunShading(const PixelPipeline& p, SpanPath* span);
inline void SetRunDiffuse(RunShading* s, const Rgba& diffuse) {
  s->dr = diffuse.r, s->dg = diffuse.g, s->db = diffuse.b, s->da = diffuse.a;
}

// `rows` rows of `columns` texels, from `texel` on, `step` texels apart along a row and rowBytes
// from row to row, every one inside the texture, shaded onto the target rows from `out` on
// (outPitch pixels apart).
void ShadeTexelRectangle(const SpanPath& span, const std::uint8_t* texel, std::ptrdiff_t step,
                         std::ptrdiff_t rowBytes, std::uint32_t* out, std::ptrdiff_t outPitch,
                         int columns, int rows);

// `count` pixels from the texel at `texel`, `step` texels apart, every one inside the texture,
// shaded onto the target from `out` on.
void ShadeTexels(const SpanPath& span, const std::uint8_t* texel, std::ptrdiff_t step,
                 std::uint32_t* out, std::int64_t count);

// Two rectangles of consecutive texels over the same pixels, shaded in one pass as
// ShadeTexelRectangle would shade the first and then the second, each with its own shading (the
// span's, in its own diffuse colour). False, with nothing drawn, when the pair has no such pass.
bool ShadeTexelRectanglePair(const SpanPath& span, const RunShading& first,
                             const RunShading& second, const std::uint8_t* firstTexel,
                             const std::uint8_t* secondTexel, std::ptrdiff_t rowBytes,
                             std::uint32_t* out, std::ptrdiff_t outPitch, int columns, int rows);

// One row [first, last] of a span-path triangle; w holds the edge values at `first`.
void DrawSpanRow(const PixelPipeline& p, SpanPath& span, const std::array<bool, 8>& sampled,
                 const RasterVertex* const* v, const Edge* edges, std::int64_t* w, std::int64_t y,
                 std::int64_t first, std::int64_t last, const Rgba& diffuse, const Rgba& specular);

// The rows of a screen-aligned rectangle whose texture follows the screen's axes, point-sampled
// at whole-texel steps: each row is one run of texels. `span` is one of its triangles' span
// paths; a row whose texels are not certain or leave the texture is left to the triangles.
class RectangleRuns {
 public:
  // w: the triangle's edge values at (firstColumn, firstRow). False: no row is a run.
  bool Start(const PixelPipeline& p, const SpanPath& span, const Edge* edges, const std::int64_t* w,
             std::int64_t firstColumn, std::int64_t lastColumn, std::int64_t firstRow);
  // Draws the current row as a run (false: not a run, nothing drawn), then steps to the next.
  bool DrawRowAndStep();

 private:
  const PixelPipeline* p_ = nullptr;
  const SpanPath* span_ = nullptr;
  AxisStepper v_;
  std::int64_t firstColumn_ = 0, count_ = 0, row_ = 0;
  std::int64_t firstTexel_ = 0;  // the texture column of the first column
  std::ptrdiff_t texelStep_ = 0;
};
