// The device's draw calls, read top-down: the pipeline built from the device's states, the quads
// the sprite list takes straight from the vertex bytes, the vertex fetch (screen-space vertices as
// they are, the others transformed to clip space), and the walk over the primitives, which hands
// each to the first drawing path that takes it, the reference rasteriser last. Draws that need what
// the device leaves out are counted and draw nothing.
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

// One draw call as the application made it, with its vertex layout decoded.
struct DrawCall {
  D3DPRIMITIVETYPE type;
  UINT primitiveCount;
  const std::uint8_t* vertices;
  UINT vertexCount;
  UINT stride;
  const void* indices;  // null: the primitives take the vertices in order
  D3DFORMAT indexFormat;
  FvfLayout layout;
};

// A vertex in clip space, with its colours as numbers so clipping can interpolate them.
struct ClipVertex {
  double pos[4];
  double color[8];  // diffuse r, g, b, a, then specular
  double tex[8][2];
};

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

// The call's vertices after the fetch: screen-space ones as they are, the others in clip space.
struct FetchedVertices {
  std::vector<RasterVertex, UnsetAllocator<RasterVertex>> screen;
  std::vector<ClipVertex> clip;
};

// What the walk over the primitives draws with.
struct PrimitiveWalk {
  const DrawCall& call;
  const PixelPipeline& p;
  SpriteList& sprites;
  const FetchedVertices& fetched;
  const D3DVIEWPORT9& viewport;
  double pointSize;
};

FvfLayout DecodeFvf(DWORD fvf);
UINT VertexCountFor(D3DPRIMITIVETYPE type, UINT primitives);
bool BuildPixelPipeline(const CpuDevice& device, const DrawCall& call, PixelPipeline* p);
UINT DrawSpriteRun(const DrawCall& call, SpriteList& sprites);
void FetchVertices(const CpuDevice& device, const DrawCall& call, UINT first, FetchedVertices* out);
void WalkPoints(const PrimitiveWalk& walk);
void WalkTriangles(const PrimitiveWalk& walk, UINT first);

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
  const DrawCall call{type,   primitiveCount, vertices,    vertexCount,
                      stride, indices,        indexFormat, DecodeFvf(fvf)};
  PixelPipeline p;
  if (!BuildPixelPipeline(*this, call, &p)) {
    CountD3D9Call(D3D9Counter::UnsupportedDraw);
    return D3D_OK;
  }
  // The pipeline's sprite shading, once for every quad of the call.
  SpriteList sprites;
  if (call.layout.transformed && primitiveCount >= 2) StartSpriteList(p, &sprites);
  const UINT first = DrawSpriteRun(call, sprites);
  if (first < primitiveCount) {
    FetchedVertices fetched;
    FetchVertices(*this, call, 3 * first, &fetched);
    const PrimitiveWalk walk{
        call, p, sprites, fetched, viewport, std::bit_cast<float>(renderStates[D3DRS_POINTSIZE])};
    if (type == D3DPT_POINTLIST)
      WalkPoints(walk);
    else
      WalkTriangles(walk, first);
  }
  FinishSpriteList(sprites);
  return D3D_OK;
}

namespace {

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

UINT VertexCountFor(D3DPRIMITIVETYPE type, UINT primitives) {
  switch (type) {
    case D3DPT_POINTLIST: return primitives;
    case D3DPT_LINELIST: return primitives * 2;
    case D3DPT_LINESTRIP: return primitives + 1;
    case D3DPT_TRIANGLELIST: return primitives * 3;
    default: return primitives + 2;
  }
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

// Stage s of the pipeline from its stage and sampler states; false when it needs an operation,
// an argument or a texture set-up the device does not have.
bool BuildStage(const CpuDevice& device, DWORD s, const FvfLayout& layout, StageSetup* stage) {
  const auto& ts = device.stageStates[s];
  stage->colorOp = ts[D3DTSS_COLOROP];
  stage->colorArg1 = ts[D3DTSS_COLORARG1];
  stage->colorArg2 = ts[D3DTSS_COLORARG2];
  stage->alphaOp = ts[D3DTSS_ALPHAOP];
  stage->alphaArg1 = ts[D3DTSS_ALPHAARG1];
  stage->alphaArg2 = ts[D3DTSS_ALPHAARG2];
  stage->resultToTemp = ts[D3DTSS_RESULTARG] == D3DTA_TEMP;
  if (!IsSupportedOp(stage->colorOp) ||
      (stage->alphaOp != D3DTOP_DISABLE && !IsSupportedOp(stage->alphaOp))) {
    return false;
  }
  for (DWORD arg : {stage->colorArg1, stage->colorArg2, stage->alphaArg1, stage->alphaArg2}) {
    if (!IsSupportedArgument(arg)) return false;
  }
  if (StageReadsTexture(*stage) && device.textures[s]) {
    auto* texture = dynamic_cast<CpuTexture*>(device.textures[s]);
    // Texture-coordinate generation and transforms belong to the vertex pipeline left out here.
    if (!texture || GetPixelKind(texture->format) != PixelKind::Color ||
        (ts[D3DTSS_TEXCOORDINDEX] >> 16) != 0 ||
        ts[D3DTSS_TEXTURETRANSFORMFLAGS] != D3DTTFF_DISABLE) {
      return false;
    }
    const auto& ss = device.samplerStates[s];
    stage->sampler.level = texture->levels[0].get();
    stage->sampler.addressU = ss[D3DSAMP_ADDRESSU];
    stage->sampler.addressV = ss[D3DSAMP_ADDRESSV];
    stage->sampler.border = ss[D3DSAMP_BORDERCOLOR];
    stage->sampler.linear =
        ss[D3DSAMP_MAGFILTER] >= D3DTEXF_LINEAR || ss[D3DSAMP_MINFILTER] >= D3DTEXF_LINEAR;
  }
  int set = static_cast<int>(ts[D3DTSS_TEXCOORDINDEX] & 0xFFFF);
  stage->texCoordSet = set < layout.texCount ? set : -1;
  return true;
}

// The pixel pipeline from the device's render, stage and sampler states; false when the call
// needs what the device leaves out (shaders, lines, fog, depth, lighting, stage operations and
// texture set-ups it does not have).
bool BuildPixelPipeline(const CpuDevice& device, const DrawCall& call, PixelPipeline* p) {
  const FvfLayout& layout = call.layout;
  const auto& renderStates = device.renderStates;
  if (!layout.valid || call.stride < layout.size || device.vertexShader || device.pixelShader)
    return false;
  if (call.type == D3DPT_LINELIST || call.type == D3DPT_LINESTRIP) return false;
  if (renderStates[D3DRS_FOGENABLE] || renderStates[D3DRS_FILLMODE] != D3DFILL_SOLID) return false;
  // A depth test that always passes and writes nothing needs no depth buffer.
  bool depthUsed = renderStates[D3DRS_ZFUNC] != D3DCMP_ALWAYS || renderStates[D3DRS_ZWRITEENABLE];
  if (renderStates[D3DRS_ZENABLE] != D3DZB_FALSE && device.depthStencil && depthUsed) return false;
  if (!layout.transformed && renderStates[D3DRS_LIGHTING]) return false;

  const CpuSurface* target = device.renderTarget;
  const D3DVIEWPORT9& viewport = device.viewport;
  p->target = device.renderTarget;
  p->clip = {static_cast<LONG>(viewport.X), static_cast<LONG>(viewport.Y),
             static_cast<LONG>(std::min<DWORD>(viewport.X + viewport.Width, target->width)),
             static_cast<LONG>(std::min<DWORD>(viewport.Y + viewport.Height, target->height))};
  if (renderStates[D3DRS_SCISSORTESTENABLE]) {
    const RECT& scissor = device.scissor;
    p->clip.left = std::max(p->clip.left, scissor.left);
    p->clip.top = std::max(p->clip.top, scissor.top);
    p->clip.right = std::min(p->clip.right, scissor.right);
    p->clip.bottom = std::min(p->clip.bottom, scissor.bottom);
  }
  for (DWORD s = 0; s < D3D9TextureStageCount; ++s) {
    if (device.stageStates[s][D3DTSS_COLOROP] == D3DTOP_DISABLE) break;
    if (!BuildStage(device, s, layout, &p->stages[s])) return false;
    p->stageCount = static_cast<int>(s) + 1;
  }
  p->textureFactor = renderStates[D3DRS_TEXTUREFACTOR];
  p->specularAdd = renderStates[D3DRS_SPECULARENABLE] != FALSE;
  p->alphaTest = renderStates[D3DRS_ALPHATESTENABLE] != FALSE;
  p->alphaFunc = renderStates[D3DRS_ALPHAFUNC];
  p->alphaRef = static_cast<int>(renderStates[D3DRS_ALPHAREF] & 0xFF);
  p->blend = renderStates[D3DRS_ALPHABLENDENABLE] != FALSE;
  p->sourceBlend = renderStates[D3DRS_SRCBLEND];
  p->destBlend = renderStates[D3DRS_DESTBLEND];
  p->blendOp = renderStates[D3DRS_BLENDOP];
  p->blendFactor = renderStates[D3DRS_BLENDFACTOR];
  p->gouraud = renderStates[D3DRS_SHADEMODE] != D3DSHADE_FLAT;
  p->cullMode = renderStates[D3DRS_CULLMODE];
  return true;
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

// An unindexed list of quads goes to the sprite list straight from the vertex bytes, a run of
// quads at a time; a quad it declines is fetched into a small list of its own with the one
// coordinate set the list reads (a full fetch writes every vertex's eight sets, more than the
// first-level cache holds for a string). Returns the first primitive it left: from the first quad
// the list declines both ways, the call takes the fetch and the walk.
UINT DrawSpriteRun(const DrawCall& call, SpriteList& sprites) {
  // Copies the list's calls cannot reach, so the loop keeps them in registers.
  const FvfLayout layout = call.layout;
  const std::uint8_t* const vertices = call.vertices;
  if (!sprites.usable || call.type != D3DPT_TRIANGLELIST || call.indices ||
      sprites.span.f.set < 0 || sprites.span.f.set >= layout.texCount) {
    return 0;
  }
  const int set = sprites.span.f.set;
  const std::size_t stride = call.stride;
  SpriteVertexLayout bytes;
  bytes.size = static_cast<int>(layout.size);
  bytes.diffuse = layout.diffuse, bytes.specular = layout.specular;
  bytes.tex = layout.texOffset[set];
  const bool fromBytes = layout.texSize[set] >= 2;
  const std::size_t quads = std::min(call.primitiveCount / 2, call.vertexCount / 6);
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
  return static_cast<UINT>(2 * quad);
}

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

// An untransformed vertex in clip space, its colours as numbers so clipping can interpolate them.
ClipVertex FetchClipVertex(const FvfLayout& layout, const std::uint8_t* v,
                           const D3DMATRIX& transform) {
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
  return c;
}

// Screen-space vertices from `first` on (the sprite run drew those before it; only screen-space
// calls have one), straight into the list: a vertex is mostly its eight coordinate sets. The
// others all go through the world, view and projection transforms into clip space.
void FetchVertices(const CpuDevice& device, const DrawCall& call, UINT first,
                   FetchedVertices* out) {
  const FvfLayout& layout = call.layout;
  if (layout.transformed) {
    out->screen.resize(call.vertexCount);
    for (UINT i = first; i < call.vertexCount; ++i) {
      FetchScreenVertex(layout, call.vertices + static_cast<std::size_t>(i) * call.stride, 0,
                        layout.texCount, &out->screen[i]);
    }
    return;
  }
  const D3DMATRIX transform = Multiply(Multiply(device.world, device.view), device.projection);
  out->clip.reserve(call.vertexCount);
  for (UINT i = 0; i < call.vertexCount; ++i) {
    out->clip.push_back(FetchClipVertex(
        layout, call.vertices + static_cast<std::size_t>(i) * call.stride, transform));
  }
}

// The vertex that primitive vertex n names; false when it lies past the call's vertices.
bool VertexIndex(const DrawCall& call, UINT n, UINT* out) {
  if (!call.indices) {
    *out = n;
  } else if (call.indexFormat == D3DFMT_INDEX16) {
    std::uint16_t i;
    std::memcpy(&i, static_cast<const std::uint8_t*>(call.indices) + n * 2, 2);
    *out = i;
  } else {
    std::uint32_t i;
    std::memcpy(
        &i, static_cast<const std::uint8_t*>(call.indices) + static_cast<std::size_t>(n) * 4, 4);
    *out = i;
  }
  return *out < call.vertexCount;
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

void WalkPoints(const PrimitiveWalk& walk) {
  const FetchedVertices& fetched = walk.fetched;
  for (UINT n = 0; n < walk.call.primitiveCount; ++n) {
    UINT i;
    if (!VertexIndex(walk.call, n, &i)) continue;
    if (walk.call.layout.transformed) {
      RasterizePoint(walk.p, fetched.screen[i], walk.pointSize);
    } else if (fetched.clip[i].pos[3] > 0 && PlaneDistance(fetched.clip[i], 4) >= 0 &&
               PlaneDistance(fetched.clip[i], 5) >= 0) {
      RasterizePoint(walk.p, ToScreen(fetched.clip[i], walk.viewport), walk.pointSize);
    }
  }
}

// Triangle k's vertices in drawing order, then the one that colours it under flat shading.
void TriangleOf(D3DPRIMITIVETYPE type, UINT k, UINT* n) {
  if (type == D3DPT_TRIANGLELIST) {
    n[0] = 3 * k, n[1] = 3 * k + 1, n[2] = 3 * k + 2, n[3] = 3 * k;
  } else if (type == D3DPT_TRIANGLESTRIP) {
    // Every second triangle of a strip is wound the other way round; its first vertex still
    // colours it.
    n[0] = k % 2 == 0 ? k : k + 1, n[1] = k % 2 == 0 ? k + 1 : k, n[2] = k + 2, n[3] = k;
  } else {
    n[0] = 0, n[1] = k + 1, n[2] = k + 2, n[3] = k + 1;
  }
}

// The reference way: one triangle through the rasteriser, which picks its rows' shading itself;
// an untransformed one is clipped to the frustum first.
void DrawTriangle(const PrimitiveWalk& walk, const UINT* n) {
  UINT i0, i1, i2, iFlat;
  if (!VertexIndex(walk.call, n[0], &i0) || !VertexIndex(walk.call, n[1], &i1) ||
      !VertexIndex(walk.call, n[2], &i2) || !VertexIndex(walk.call, n[3], &iFlat))
    return;
  if (walk.call.layout.transformed) {
    const auto& screen = walk.fetched.screen;
    RasterizeTriangle(walk.p, screen[i0], screen[i1], screen[i2], screen[iFlat]);
    return;
  }
  const auto& clip = walk.fetched.clip;
  RasterVertex flat = ToScreen(clip[iFlat], walk.viewport);
  std::vector<ClipVertex> polygon = ClipPolygon({clip[i0], clip[i1], clip[i2]});
  for (std::size_t k = 1; k + 1 < polygon.size(); ++k) {
    RasterizeTriangle(walk.p, ToScreen(polygon[0], walk.viewport),
                      ToScreen(polygon[k], walk.viewport), ToScreen(polygon[k + 1], walk.viewport),
                      flat);
  }
}

// Two screen-space triangles that may make a quad: each one's vertices in submission order and
// the vertex that colours it under flat shading.
struct QuadCorners {
  const RasterVertex* a[3];
  const RasterVertex* flatA;
  const RasterVertex* b[3];
  const RasterVertex* flatB;
};

bool DrawQuadAsSprite(const PrimitiveWalk& walk, const QuadCorners& q) {
  return DrawSprite(walk.sprites, q.a, *q.flatA, q.b, *q.flatB);
}

bool DrawQuadAsRectangle(const PrimitiveWalk& walk, const QuadCorners& q) {
  return RasterizeRectangle(walk.p, q.a, *q.flatA, q.b, *q.flatB);
}

// The fast ways through a pair of screen-space triangles, tried in this order: the sprite list
// (shading chosen once for the call), then one rectangle of texel runs (the span path's run
// shading). Each draws only a pair it proves byte for byte the same as the reference rasteriser's
// and declines the rest; a pair every way declines is drawn a triangle at a time (DrawTriangle),
// whose rows take the span path where it holds and the per-pixel pipeline elsewhere. A speed
// change belongs in one of these ways; the span tests hold each to the reference.
using QuadPath = bool (*)(const PrimitiveWalk&, const QuadCorners&);
constexpr QuadPath QuadPaths[] = {DrawQuadAsSprite, DrawQuadAsRectangle};

bool DrawQuad(const PrimitiveWalk& walk, const UINT* n, const UINT* m) {
  UINT i[8];
  for (int j = 0; j < 4; ++j)
    if (!VertexIndex(walk.call, n[j], &i[j]) || !VertexIndex(walk.call, m[j], &i[4 + j]))
      return false;
  const auto& screen = walk.fetched.screen;
  const QuadCorners q{{&screen[i[0]], &screen[i[1]], &screen[i[2]]},
                      &screen[i[3]],
                      {&screen[i[4]], &screen[i[5]], &screen[i[6]]},
                      &screen[i[7]]};
  for (QuadPath path : QuadPaths)
    if (path(walk, q)) return true;
  return false;
}

// Triangles from `first` on; screen-space ones two at a time where the pair takes a fast way.
void WalkTriangles(const PrimitiveWalk& walk, UINT first) {
  const UINT count = walk.call.primitiveCount;
  for (UINT k = first; k < count; ++k) {
    UINT n[4];
    TriangleOf(walk.call.type, k, n);
    if (walk.call.layout.transformed && k + 1 < count) {
      UINT m[4];
      TriangleOf(walk.call.type, k + 1, m);
      if (DrawQuad(walk, n, m)) {
        ++k;
        continue;
      }
    }
    DrawTriangle(walk, n);
  }
}

}  // namespace
