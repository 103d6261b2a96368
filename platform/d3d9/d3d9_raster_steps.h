// What the rasteriser's general path and its span paths share: the 1/256-pixel grid, the edge
// functions and the columns of a row inside them, the texel address modes, and the per-pixel
// pipeline that a pixel the span paths cannot step exactly goes through.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "platform/d3d9/d3d9_rasterizer.h"

constexpr std::int64_t SubPixel = 256;

// Vertices this far outside the target are taken as beyond the guard band and not drawn.
constexpr double GuardBand = 1 << 20;

// Rounded half away from zero, as llround does, without its call: every quad snaps twelve times.
inline bool Snap(double v, std::int64_t* out) {
  if (!(v > -GuardBand && v < GuardBand)) return false;
  const double scaled = v * SubPixel;  // under 2^28: truncation and the fraction are exact
  std::int64_t whole = static_cast<std::int64_t>(scaled);
  const double fraction = scaled - static_cast<double>(whole);
  whole += fraction >= 0.5 ? 1 : (fraction <= -0.5 ? -1 : 0);
  *out = whole;
  return true;
}

// The corner index (bit 0: right column, bit 1: bottom row) of a snapped position of the
// rectangle [x1, x2] x [y1, y2]; -1 when it is no corner.
inline int CornerOf(std::int64_t x, std::int64_t y, std::int64_t x1, std::int64_t x2,
                    std::int64_t y1, std::int64_t y2) {
  if ((x != x1 && x != x2) || (y != y1 && y != y2)) return -1;
  return (x == x2 ? 1 : 0) | (y == y2 ? 2 : 0);
}

inline int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// A blend's sum of products over 255, rounded as the blending rounds it.
inline int Div255Rounded(int v) { return v <= 0 ? 0 : Clamp255((v + 127) / 255); }

inline std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}
inline std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return -FloorDiv(-a, b); }

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

// The columns of a row inside all three edges, from the edge values at minX: each edge is a
// linear function of the column, so its bound is one integer division.
struct Edge {
  std::int64_t px, py, dx, dy, bias;
};

bool RowSpan(const Edge* edges, const std::int64_t* w, std::int64_t minX, std::int64_t maxX,
             std::int64_t* first, std::int64_t* last);

// Which stages read their texture.
std::array<bool, 8> SampledStages(const PixelPipeline& p);
// The colour of one covered pixel from its interpolated inputs, written to the target.
void ShadeAndWrite(const PixelPipeline& p, const std::array<bool, 8>& sampled, int x, int y,
                   const Rgba& diffuse, const Rgba& specular, const double (*tex)[2]);
