// The device's draw calls: vertex fetch by FVF, the world-view-projection transform and frustum
// clipping of untransformed vertices, primitive assembly, and the pipeline set-up from the
// device's states. Draws that need what the device leaves out are counted and draw nothing.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "platform/d3d9/d3d9_internal.h"
#include "platform/d3d9/d3d9_pixels.h"
#include "platform/d3d9/d3d9_rasterizer.h"
#include "platform/d3d9/d3d9_sprite_list.h"

namespace {

// Leaves the vertices of a resize unset: the fetch writes every field the pipeline reads (the
// coordinate sets past the layout's count are never read, a stage's set being -1 there), and
// zeroing eight sets a vertex cost more than the rest of the fetch.
template <class T>
struct UnsetAllocator : std::allocator<T> {
  using value_type = T;
  template <class U>
  struct rebind {
    using other = UnsetAllocator<U>;
  };
  UnsetAllocator() = default;
  template <class U>
  UnsetAllocator(const UnsetAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* place) noexcept {
    ::new (static_cast<void*>(place)) U;
  }
  template <class U, class... Args>
  void construct(U* place, Args&&... args) {
    ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
  }
};

struct FvfLayout {
  bool valid = false;
  bool transformed = false;
  int diffuse = -1;
  int specular = -1;
  int texCount = 0;
  int texOffset[8] = {};
  int texSize[8] = {};
  UINT size = 0;
};

FvfLayout DecodeFvf(DWORD fvf) {
  FvfLayout layout;
  DWORD position = fvf & D3DFVF_POSITION_MASK;
  if (position == D3DFVF_XYZ) {
    layout.size = 12;
  } else if (position == D3DFVF_XYZRHW) {
    layout.size = 16;
    layout.transformed = true;
  } else {
    return layout;
  }
  if (fvf & D3DFVF_NORMAL) layout.size += 12;
  if (fvf & D3DFVF_PSIZE) layout.size += 4;
  if (fvf & D3DFVF_DIFFUSE) layout.diffuse = static_cast<int>(layout.size), layout.size += 4;
  if (fvf & D3DFVF_SPECULAR) layout.specular = static_cast<int>(layout.size), layout.size += 4;
  layout.texCount = static_cast<int>((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
  if (layout.texCount > 8) return layout;
  for (int i = 0; i < layout.texCount; ++i) {
    static constexpr int Floats[4] = {2, 3, 4, 1};
    layout.texSize[i] = Floats[(fvf >> (16 + 2 * i)) & 3];
    layout.texOffset[i] = static_cast<int>(layout.size);
    layout.size += 4 * layout.texSize[i];
  }
  layout.valid = true;
  return layout;
}

float ReadFloat(const std::uint8_t* p) {
  float v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

DWORD ReadDword(const std::uint8_t* p) {
  DWORD v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// A screen-space vertex from its bytes, with the coordinate sets [firstSet, endSet).
[[gnu::always_inline]] inline void FetchScreenVertex(const FvfLayout& layout, const std::uint8_t* v,
                                                     int firstSet, int endSet, RasterVertex* r) {
  r->x = ReadFloat(v);
  r->y = ReadFloat(v + 4);
  r->rhw = ReadFloat(v + 12);
  r->diffuse = layout.diffuse >= 0 ? ReadDword(v + layout.diffuse) : 0xFFFFFFFFu;
  r->specular = layout.specular >= 0 ? ReadDword(v + layout.specular) : 0;
  for (int t = firstSet; t < endSet; ++t) {
    r->tex[t][0] = ReadFloat(v + layout.texOffset[t]);
    r->tex[t][1] = layout.texSize[t] > 1 ? ReadFloat(v + layout.texOffset[t] + 4) : 0.0;
  }
}

// A vertex in clip space, with its colours as numbers so clipping can interpolate them.
struct ClipVertex {
  double pos[4];
  double color[8];  // diffuse r, g, b, a, then specular
  double tex[8][2];
};

D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
  D3DMATRIX r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float sum = 0.0f;
      for (int k = 0; k < 4; ++k) sum += a.m[i][k] * b.m[k][j];
      r.m[i][j] = sum;
    }
  return r;
}

ClipVertex Lerp(const ClipVertex& a, const ClipVertex& b, double t) {
  ClipVertex r;
  for (int i = 0; i < 4; ++i) r.pos[i] = a.pos[i] + (b.pos[i] - a.pos[i]) * t;
  for (int i = 0; i < 8; ++i) r.color[i] = a.color[i] + (b.color[i] - a.color[i]) * t;
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 2; ++j) r.tex[i][j] = a.tex[i][j] + (b.tex[i][j] - a.tex[i][j]) * t;
  return r;
}

// Distance to each frustum plane, non-negative inside: -w <= x, y <= w and 0 <= z <= w.
double PlaneDistance(const ClipVertex& v, int plane) {
  const double* p = v.pos;
  switch (plane) {
    case 0: return p[3] + p[0];
    case 1: return p[3] - p[0];
    case 2: return p[3] + p[1];
    case 3: return p[3] - p[1];
    case 4: return p[2];
    default: return p[3] - p[2];
  }
}

std::vector<ClipVertex> ClipPolygon(std::vector<ClipVertex> polygon) {
  for (int plane = 0; plane < 6 && !polygon.empty(); ++plane) {
    std::vector<ClipVertex> out;
    for (std::size_t i = 0; i < polygon.size(); ++i) {
      const ClipVertex& a = polygon[i];
      const ClipVertex& b = polygon[(i + 1) % polygon.size()];
      double da = PlaneDistance(a, plane), db = PlaneDistance(b, plane);
      if (da >= 0) out.push_back(a);
      if ((da >= 0) != (db >= 0)) out.push_back(Lerp(a, b, da / (da - db)));
    }
    polygon = std::move(out);
  }
  return polygon;
}

std::uint32_t PackColor(const double* c) {
  auto channel = [](double v) {
    long r = std::lround(v);
    return static_cast<std::uint32_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
  };
  return (channel(c[3]) << 24) | (channel(c[0]) << 16) | (channel(c[1]) << 8) | channel(c[2]);
}

RasterVertex ToScreen(const ClipVertex& v, const D3DVIEWPORT9& viewport) {
  RasterVertex r{};
  double w = v.pos[3];
  r.rhw = 1.0 / w;
  r.x = viewport.X + (1.0 + v.pos[0] * r.rhw) * viewport.Width * 0.5;
  r.y = viewport.Y + (1.0 - v.pos[1] * r.rhw) * viewport.Height * 0.5;
  r.diffuse = PackColor(v.color);
  r.specular = PackColor(v.color + 4);
  std::memcpy(r.tex, v.tex, sizeof r.tex);
  return r;
}

bool IsSupportedOp(DWORD op) {
  switch (op) {
    case D3DTOP_SELECTARG1:
    case D3DTOP_SELECTARG2:
    case D3DTOP_MODULATE:
    case D3DTOP_MODULATE2X:
    case D3DTOP_MODULATE4X:
    case D3DTOP_ADD:
    case D3DTOP_ADDSIGNED:
    case D3DTOP_SUBTRACT:
    case D3DTOP_BLENDDIFFUSEALPHA:
    case D3DTOP_BLENDTEXTUREALPHA:
    case D3DTOP_BLENDFACTORALPHA:
    case D3DTOP_BLENDCURRENTALPHA: return true;
    default: return false;
  }
}

bool IsSupportedArgument(DWORD arg) {
  return (arg & ~(D3DTA_SELECTMASK | D3DTA_COMPLEMENT | D3DTA_ALPHAREPLICATE)) == 0 &&
         (arg & D3DTA_SELECTMASK) <= D3DTA_TEMP;
}

bool StageReadsTexture(const StageSetup& s) {
  auto isTexture = [](DWORD arg) { return (arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE; };
  return isTexture(s.colorArg1) || isTexture(s.colorArg2) ||
         s.colorOp == D3DTOP_BLENDTEXTUREALPHA ||
         (s.alphaOp != D3DTOP_DISABLE && (isTexture(s.alphaArg1) || isTexture(s.alphaArg2) ||
                                          s.alphaOp == D3DTOP_BLENDTEXTUREALPHA));
}

UINT VertexCountFor(D3DPRIMITIVETYPE type, UINT primitives) {
  switch (type) {
    case D3DPT_POINTLIST: return primitives;
    case D3DPT_LINELIST: return primitives * 2;
    case D3DPT_LINESTRIP: return primitives + 1;
    case D3DPT_TRIANGLELIST: return primitives * 3;
    default: return primitives + 2;
  }
}

}  // namespace

HRESULT CpuDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount,
                                   const void* vertexData, UINT vertexStride) {
  if (type < D3DPT_POINTLIST || type > D3DPT_TRIANGLEFAN || primitiveCount > 0xFFFFF)
    return D3DERR_INVALIDCALL;
  return DrawVertices(type, primitiveCount, static_cast<const std::uint8_t*>(vertexData),
                      VertexCountFor(type, primitiveCount), vertexStride, nullptr, D3DFMT_UNKNOWN);
}

HRESULT CpuDevice::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex,
                                          UINT numVertices, UINT primitiveCount,
                                          const void* indexData, D3DFORMAT indexFormat,
                                          const void* vertexData, UINT vertexStride) {
  if (type < D3DPT_POINTLIST || type > D3DPT_TRIANGLEFAN || primitiveCount > 0xFFFFF ||
      !indexData || (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32) ||
      numVertices == 0 || numVertices > 0xFFFFFF || minVertexIndex > 0xFFFFFF) {
    return D3DERR_INVALIDCALL;
  }
  return DrawVertices(type, primitiveCount, static_cast<const std::uint8_t*>(vertexData),
                      minVertexIndex + numVertices, vertexStride, indexData, indexFormat);
}

HRESULT CpuDevice::DrawVertices(D3DPRIMITIVETYPE type, UINT primitiveCount,
                                const std::uint8_t* vertices, UINT vertexCount, UINT stride,
                                const void* indices, D3DFORMAT indexFormat) {
  CountD3D9Call(D3D9Counter::Draw);
  if (!vertices || stride == 0 || !inScene) return D3DERR_INVALIDCALL;
  if (primitiveCount == 0 || lost || !renderTarget) return D3D_OK;
  FvfLayout layout = DecodeFvf(fvf);
  auto unsupported = [] {
    CountD3D9Call(D3D9Counter::UnsupportedDraw);
    return D3D_OK;
  };
  if (!layout.valid || stride < layout.size || vertexShader || pixelShader) return unsupported();
  if (type == D3DPT_LINELIST || type == D3DPT_LINESTRIP) return unsupported();
  if (renderStates[D3DRS_FOGENABLE] || renderStates[D3DRS_FILLMODE] != D3DFILL_SOLID)
    return unsupported();
  // A depth test that always passes and writes nothing needs no depth buffer.
  bool depthUsed = renderStates[D3DRS_ZFUNC] != D3DCMP_ALWAYS || renderStates[D3DRS_ZWRITEENABLE];
  if (renderStates[D3DRS_ZENABLE] != D3DZB_FALSE && depthStencil && depthUsed) return unsupported();
  if (!layout.transformed && renderStates[D3DRS_LIGHTING]) return unsupported();

  PixelPipeline p;
  p.target = renderTarget;
  p.clip = {static_cast<LONG>(viewport.X), static_cast<LONG>(viewport.Y),
            static_cast<LONG>(std::min<DWORD>(viewport.X + viewport.Width, renderTarget->width)),
            static_cast<LONG>(std::min<DWORD>(viewport.Y + viewport.Height, renderTarget->height))};
  if (renderStates[D3DRS_SCISSORTESTENABLE]) {
    p.clip.left = std::max(p.clip.left, scissor.left);
    p.clip.top = std::max(p.clip.top, scissor.top);
    p.clip.right = std::min(p.clip.right, scissor.right);
    p.clip.bottom = std::min(p.clip.bottom, scissor.bottom);
  }
  for (DWORD s = 0; s < D3D9TextureStageCount; ++s) {
    const auto& ts = stageStates[s];
    if (ts[D3DTSS_COLOROP] == D3DTOP_DISABLE) break;
    StageSetup& stage = p.stages[s];
    stage.colorOp = ts[D3DTSS_COLOROP];
    stage.colorArg1 = ts[D3DTSS_COLORARG1];
    stage.colorArg2 = ts[D3DTSS_COLORARG2];
    stage.alphaOp = ts[D3DTSS_ALPHAOP];
    stage.alphaArg1 = ts[D3DTSS_ALPHAARG1];
    stage.alphaArg2 = ts[D3DTSS_ALPHAARG2];
    stage.resultToTemp = ts[D3DTSS_RESULTARG] == D3DTA_TEMP;
    if (!IsSupportedOp(stage.colorOp) ||
        (stage.alphaOp != D3DTOP_DISABLE && !IsSupportedOp(stage.alphaOp))) {
      return unsupported();
    }
    for (DWORD arg : {stage.colorArg1, stage.colorArg2, stage.alphaArg1, stage.alphaArg2}) {
      if (!IsSupportedArgument(arg)) return unsupported();
    }
    if (StageReadsTexture(stage) && textures[s]) {
      auto* texture = dynamic_cast<CpuTexture*>(textures[s]);
      // Texture-coordinate generation and transforms belong to the vertex pipeline left out here.
      if (!texture || GetPixelKind(texture->format) != PixelKind::Color ||
          (ts[D3DTSS_TEXCOORDINDEX] >> 16) != 0 ||
          ts[D3DTSS_TEXTURETRANSFORMFLAGS] != D3DTTFF_DISABLE) {
        return unsupported();
      }
      const auto& ss = samplerStates[s];
      stage.sampler.level = texture->levels[0].get();
      stage.sampler.addressU = ss[D3DSAMP_ADDRESSU];
      stage.sampler.addressV = ss[D3DSAMP_ADDRESSV];
      stage.sampler.border = ss[D3DSAMP_BORDERCOLOR];
      stage.sampler.linear =
          ss[D3DSAMP_MAGFILTER] >= D3DTEXF_LINEAR || ss[D3DSAMP_MINFILTER] >= D3DTEXF_LINEAR;
    }
    int set = static_cast<int>(ts[D3DTSS_TEXCOORDINDEX] & 0xFFFF);
    stage.texCoordSet = set < layout.texCount ? set : -1;
    p.stageCount = static_cast<int>(s) + 1;
  }
  p.textureFactor = renderStates[D3DRS_TEXTUREFACTOR];
  p.specularAdd = renderStates[D3DRS_SPECULARENABLE] != FALSE;
  p.alphaTest = renderStates[D3DRS_ALPHATESTENABLE] != FALSE;
  p.alphaFunc = renderStates[D3DRS_ALPHAFUNC];
  p.alphaRef = static_cast<int>(renderStates[D3DRS_ALPHAREF] & 0xFF);
  p.blend = renderStates[D3DRS_ALPHABLENDENABLE] != FALSE;
  p.sourceBlend = renderStates[D3DRS_SRCBLEND];
  p.destBlend = renderStates[D3DRS_DESTBLEND];
  p.blendOp = renderStates[D3DRS_BLENDOP];
  p.blendFactor = renderStates[D3DRS_BLENDFACTOR];
  p.gouraud = renderStates[D3DRS_SHADEMODE] != D3DSHADE_FLAT;
  p.cullMode = renderStates[D3DRS_CULLMODE];

  // The pipeline's sprite shading, once for every quad of the call.
  SpriteList sprites;
  if (layout.transformed && primitiveCount >= 2) StartSpriteList(p, &sprites);
  // An unindexed list of quads goes to the sprite list straight from the vertex bytes, a run of
  // quads at a time; a quad it declines is fetched into a small list of its own with the one
  // coordinate set the list reads (a full fetch writes every vertex's eight sets, more than the
  // first-level cache holds for a string). From the first quad the list declines both ways, the
  // call takes the path below.
  UINT firstPrimitive = 0;
  if (sprites.usable && type == D3DPT_TRIANGLELIST && !indices && sprites.span.f.set >= 0 &&
      sprites.span.f.set < layout.texCount) {
    const int set = sprites.span.f.set;
    SpriteVertexLayout bytes;
    bytes.size = static_cast<int>(layout.size);
    bytes.diffuse = layout.diffuse, bytes.specular = layout.specular;
    bytes.tex = layout.texOffset[set];
    const bool fromBytes = layout.texSize[set] >= 2;
    const std::size_t quads = std::min(primitiveCount / 2, vertexCount / 6);
    std::size_t quad = 0;
    RasterVertex corners[6];
    while (quad < quads) {
      const std::uint8_t* at = vertices + quad * 6 * stride;
      if (fromBytes) {
        quad += DrawSpritesFromBytes(sprites, at, stride, quads - quad, bytes);
        if (quad == quads) break;
        at = vertices + quad * 6 * stride;
      }
      for (int j = 0; j < 6; ++j)
        FetchScreenVertex(layout, at + static_cast<std::size_t>(j) * stride, set, set + 1,
                          &corners[j]);
      const RasterVertex* a[3] = {&corners[0], &corners[1], &corners[2]};
      const RasterVertex* b[3] = {&corners[3], &corners[4], &corners[5]};
      if (!DrawSprite(sprites, a, corners[0], b, corners[3])) break;
      ++quad;
    }
    firstPrimitive = static_cast<UINT>(2 * quad);
    if (firstPrimitive >= primitiveCount) {
      FinishSpriteList(sprites);
      return D3D_OK;
    }
  }
  // Vertex fetch: screen-space vertices as they are; the others into clip space.
  std::vector<RasterVertex, UnsetAllocator<RasterVertex>> screen;
  std::vector<ClipVertex> clip;
  if (layout.transformed)
    screen.resize(vertexCount);
  else
    clip.reserve(vertexCount);
  D3DMATRIX transform = Multiply(Multiply(world, view), projection);
  for (UINT i = layout.transformed ? 3 * firstPrimitive : 0; i < vertexCount; ++i) {
    const std::uint8_t* v = vertices + static_cast<std::size_t>(i) * stride;
    if (layout.transformed) {
      // Straight into the list: a vertex is mostly its eight coordinate sets.
      FetchScreenVertex(layout, v, 0, layout.texCount, &screen[i]);
      continue;
    }
    std::uint32_t diffuse = layout.diffuse >= 0 ? ReadDword(v + layout.diffuse) : 0xFFFFFFFFu;
    std::uint32_t specular = layout.specular >= 0 ? ReadDword(v + layout.specular) : 0;
    double tex[8][2] = {};
    for (int t = 0; t < layout.texCount; ++t) {
      tex[t][0] = ReadFloat(v + layout.texOffset[t]);
      if (layout.texSize[t] > 1) tex[t][1] = ReadFloat(v + layout.texOffset[t] + 4);
    }
    ClipVertex c{};
    double in[4] = {ReadFloat(v), ReadFloat(v + 4), ReadFloat(v + 8), 1.0};
    for (int j = 0; j < 4; ++j) {
      c.pos[j] = in[0] * transform.m[0][j] + in[1] * transform.m[1][j] + in[2] * transform.m[2][j] +
                 in[3] * transform.m[3][j];
    }
    Rgba d = UnpackRgba(diffuse), s = UnpackRgba(specular);
    double colors[8] = {double(d.r), double(d.g), double(d.b), double(d.a),
                        double(s.r), double(s.g), double(s.b), double(s.a)};
    std::memcpy(c.color, colors, sizeof colors);
    std::memcpy(c.tex, tex, sizeof tex);
    clip.push_back(c);
  }

  auto vertexIndex = [&](UINT n, UINT* out) {
    if (!indices) {
      *out = n;
    } else if (indexFormat == D3DFMT_INDEX16) {
      std::uint16_t i;
      std::memcpy(&i, static_cast<const std::uint8_t*>(indices) + n * 2, 2);
      *out = i;
    } else {
      std::uint32_t i;
      std::memcpy(&i, static_cast<const std::uint8_t*>(indices) + static_cast<std::size_t>(n) * 4,
                  4);
      *out = i;
    }
    return *out < vertexCount;
  };

  auto drawTriangle = [&](UINT n0, UINT n1, UINT n2, UINT nFlat) {
    UINT i0, i1, i2, iFlat;
    if (!vertexIndex(n0, &i0) || !vertexIndex(n1, &i1) || !vertexIndex(n2, &i2) ||
        !vertexIndex(nFlat, &iFlat))
      return;
    if (layout.transformed) {
      RasterizeTriangle(p, screen[i0], screen[i1], screen[i2], screen[iFlat]);
      return;
    }
    RasterVertex flat = ToScreen(clip[iFlat], viewport);
    std::vector<ClipVertex> polygon = ClipPolygon({clip[i0], clip[i1], clip[i2]});
    for (std::size_t k = 1; k + 1 < polygon.size(); ++k) {
      RasterizeTriangle(p, ToScreen(polygon[0], viewport), ToScreen(polygon[k], viewport),
                        ToScreen(polygon[k + 1], viewport), flat);
    }
  };

  if (type == D3DPT_POINTLIST) {
    double size = std::bit_cast<float>(renderStates[D3DRS_POINTSIZE]);
    for (UINT n = 0; n < primitiveCount; ++n) {
      UINT i;
      if (!vertexIndex(n, &i)) continue;
      if (layout.transformed) {
        RasterizePoint(p, screen[i], size);
      } else if (clip[i].pos[3] > 0 && PlaneDistance(clip[i], 4) >= 0 &&
                 PlaneDistance(clip[i], 5) >= 0) {
        RasterizePoint(p, ToScreen(clip[i], viewport), size);
      }
    }
    return D3D_OK;
  }
  // Triangle k's vertices in drawing order, then the one that colours it under flat shading.
  auto triangleOf = [&](UINT k, UINT* n) {
    if (type == D3DPT_TRIANGLELIST) {
      n[0] = 3 * k, n[1] = 3 * k + 1, n[2] = 3 * k + 2, n[3] = 3 * k;
    } else if (type == D3DPT_TRIANGLESTRIP) {
      // Every second triangle of a strip is wound the other way round; its first vertex still
      // colours it.
      n[0] = k % 2 == 0 ? k : k + 1, n[1] = k % 2 == 0 ? k + 1 : k, n[2] = k + 2, n[3] = k;
    } else {
      n[0] = 0, n[1] = k + 1, n[2] = k + 2, n[3] = k + 1;
    }
  };
  // Two screen-space triangles that make a screen-aligned quad are drawn as one rectangle.
  auto drawRectangle = [&](const UINT* n, const UINT* m) {
    UINT i[8];
    for (int j = 0; j < 4; ++j)
      if (!vertexIndex(n[j], &i[j]) || !vertexIndex(m[j], &i[4 + j])) return false;
    const RasterVertex* a[3] = {&screen[i[0]], &screen[i[1]], &screen[i[2]]};
    const RasterVertex* b[3] = {&screen[i[4]], &screen[i[5]], &screen[i[6]]};
    return DrawSprite(sprites, a, screen[i[3]], b, screen[i[7]]) ||
           RasterizeRectangle(p, a, screen[i[3]], b, screen[i[7]]);
  };
  for (UINT k = firstPrimitive; k < primitiveCount; ++k) {
    UINT n[4];
    triangleOf(k, n);
    if (layout.transformed && k + 1 < primitiveCount) {
      UINT m[4];
      triangleOf(k + 1, m);
      if (drawRectangle(n, m)) {
        ++k;
        continue;
      }
    }
    drawTriangle(n[0], n[1], n[2], n[3]);
  }
  FinishSpriteList(sprites);
  return D3D_OK;
}
