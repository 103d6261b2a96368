// The CPU device's rasteriser and pixel pipeline: triangles and points in screen space, with
// Direct3D 9's conventions (sample point of pixel (i, j) at (i, j), top-left fill rule on a grid
// of 1/256 pixel, flat colour from the triangle's first vertex), then the texture-stage cascade,
// specular add, alpha test, blending and the write in the target's format.
#pragma once

#include <array>
#include <cstdint>

#include "platform/d3d9/d3d9_internal.h"

struct RasterVertex {
  double x, y;  // screen position in pixels
  double rhw;   // 1 / w: attributes interpolate perspective-correctly with it
  std::uint32_t diffuse, specular;
  double tex[8][2];
};

struct SamplerSetup {
  const CpuSurface* level = nullptr;  // level 0 of the bound texture; none samples opaque white
  DWORD addressU = D3DTADDRESS_WRAP;
  DWORD addressV = D3DTADDRESS_WRAP;
  std::uint32_t border = 0;
  bool linear = false;
};

struct StageSetup {
  DWORD colorOp, colorArg1, colorArg2;
  DWORD alphaOp, alphaArg1, alphaArg2;
  bool resultToTemp;
  int texCoordSet;  // -1: the vertex has no such set and the coordinates are (0, 0)
  SamplerSetup sampler;
};

struct PixelPipeline {
  CpuSurface* target = nullptr;
  RECT clip{};  // viewport within the render target
  int stageCount = 0;
  std::array<StageSetup, 8> stages{};
  std::uint32_t textureFactor = 0xFFFFFFFF;
  bool specularAdd = false;
  bool alphaTest = false;
  DWORD alphaFunc = D3DCMP_ALWAYS;
  int alphaRef = 0;
  bool blend = false;
  DWORD sourceBlend = D3DBLEND_ONE;
  DWORD destBlend = D3DBLEND_ZERO;
  DWORD blendOp = D3DBLENDOP_ADD;
  std::uint32_t blendFactor = 0xFFFFFFFF;
  bool gouraud = false;
  DWORD cullMode = D3DCULL_NONE;
};

// a, b, c in submission order (winding decides culling); colours of `flat` under flat shading.
void RasterizeTriangle(const PixelPipeline& pipeline, const RasterVertex& a, const RasterVertex& b,
                       const RasterVertex& c, const RasterVertex& flat);
// Two triangles that make a screen-aligned rectangle textured along the screen's axes, drawn as
// one; false (nothing drawn) when they are not such a pair, and each is to be drawn alone.
bool RasterizeRectangle(const PixelPipeline& pipeline, const RasterVertex* const* a,
                        const RasterVertex& flatA, const RasterVertex* const* b,
                        const RasterVertex& flatB);
// A point sprite-less point: a square of `size` pixels centred on the vertex, same fill rule.
void RasterizePoint(const PixelPipeline& pipeline, const RasterVertex& v, double size);

// One pixel's colour through the stages; exposed for the table tests of operations and blending.
struct Rgba {
  int r, g, b, a;
};
Rgba UnpackRgba(std::uint32_t argb);
std::uint32_t PackRgba(const Rgba& c);
Rgba BlendColors(const PixelPipeline& pipeline, const Rgba& source, const Rgba& dest);
bool PassesAlphaTest(DWORD function, int alpha, int reference);
