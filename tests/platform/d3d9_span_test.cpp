// The rasteriser's span path against its per-pixel path: random quads (on the half-pixel grid
// the engine uses, on integer and odd sub-pixel edges, scaled or unscaled, mirrored, partly off
// screen, with texture sub-rectangles), point-sampled or linear, alpha-tested or blended, with and
// without the diffuse colour, drawn both ways over the same background, must leave the same bytes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "tests/platform/d3d9_test_support.h"

namespace {

class D3D9SpanTest : public D3D9DeviceTest {
 protected:
  // The target after the draw, with its stored alpha bytes when `raw`.
  std::vector<std::uint32_t> DrawBothWays(const std::vector<TexturedVertex>& quads, bool spans,
                                          bool raw = false) {
    D3D9SetSpanPaths(spans);
    FillBackground();
    EXPECT_EQ(DrawTextured(quads), D3D_OK);
    D3D9SetSpanPaths(true);
    if (!raw) return Snapshot();
    std::vector<std::uint32_t> pixels;
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) pixels.push_back(Pixel32(backBuffer, x, y));
    return pixels;
  }

  // A background with every alpha, so blends read varied destinations.
  void FillBackground() {
    D3DLOCKED_RECT locked;
    ASSERT_EQ(backBuffer->LockRect(&locked, nullptr, 0), D3D_OK);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) {
        std::uint32_t v = static_cast<std::uint32_t>(x * 0x04030201u + y * 0x01050309u);
        std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch + x * 4, &v, 4);
      }
    backBuffer->UnlockRect();
  }
};

struct PipelineCase {
  const char* name;
  bool modulate;  // texture x diffuse, else the texture alone
  bool alphaTest;
  DWORD sourceBlend, destBlend;  // D3DBLEND_ZERO as source: no blending
  DWORD address;
  bool linear;
};

constexpr PipelineCase kCases[] = {
    {"copy", false, false, D3DBLEND_ZERO, D3DBLEND_ZERO, D3DTADDRESS_CLAMP, false},
    {"alpha test", false, true, D3DBLEND_ZERO, D3DBLEND_ZERO, D3DTADDRESS_CLAMP, false},
    {"alpha test x diffuse", true, true, D3DBLEND_ZERO, D3DBLEND_ZERO, D3DTADDRESS_WRAP, false},
    {"alpha blend", false, false, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DTADDRESS_CLAMP,
     false},
    {"alpha blend x diffuse", true, false, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA,
     D3DTADDRESS_MIRROR, false},
    {"add x diffuse", true, true, D3DBLEND_SRCALPHA, D3DBLEND_ONE, D3DTADDRESS_CLAMP, false},
    {"multiply", true, false, D3DBLEND_DESTCOLOR, D3DBLEND_ZERO, D3DTADDRESS_BORDER, false},
    {"linear", false, false, D3DBLEND_ZERO, D3DBLEND_ZERO, D3DTADDRESS_CLAMP, true},
    {"linear alpha test x diffuse", true, true, D3DBLEND_ZERO, D3DBLEND_ZERO, D3DTADDRESS_WRAP,
     true},
    {"linear alpha blend", false, false, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA,
     D3DTADDRESS_BORDER, true},
    {"linear add x diffuse", true, false, D3DBLEND_SRCALPHA, D3DBLEND_ONE, D3DTADDRESS_MIRROR,
     true},
};

// The texture stage, alpha test, blend and sampler states a case names.
void ApplyPipelineCase(IDirect3DDevice9* device, const PipelineCase& c) {
  const DWORD op = c.modulate ? D3DTOP_MODULATE : D3DTOP_SELECTARG1;
  device->SetTextureStageState(0, D3DTSS_COLOROP, op);
  device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, op);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  device->SetRenderState(D3DRS_ALPHATESTENABLE, c.alphaTest);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, c.sourceBlend != D3DBLEND_ZERO);
  device->SetRenderState(D3DRS_SRCBLEND, c.sourceBlend);
  device->SetRenderState(D3DRS_DESTBLEND, c.destBlend);
  device->SetSamplerState(0, D3DSAMP_ADDRESSU, c.address);
  device->SetSamplerState(0, D3DSAMP_ADDRESSV, c.address);
  const DWORD filter = c.linear ? D3DTEXF_LINEAR : D3DTEXF_POINT;
  device->SetSamplerState(0, D3DSAMP_MINFILTER, filter);
  device->SetSamplerState(0, D3DSAMP_MAGFILTER, filter);
}

TEST_F(D3D9SpanTest, RandomQuadsGiveTheSameBytesAsThePerPixelPath) {
  std::mt19937 random(12345);
  auto uniform = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  IDirect3DTexture9* texture = MakeTexture(16, 8, [](int x, int y) {
    return static_cast<std::uint32_t>((x * 37 + y * 11) % 256) << 24 |
           static_cast<std::uint32_t>(x * 0x0F1E2D + y * 0x050A14);
  });
  device->SetTexture(0, texture);
  device->SetSamplerState(0, D3DSAMP_BORDERCOLOR, 0x80402010);
  device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
  device->SetRenderState(D3DRS_ALPHAREF, 96);
  D3D9ResetCounters();
  for (const PipelineCase& c : kCases) {
    SCOPED_TRACE(c.name);
    ApplyPipelineCase(device, c);
    for (int i = 0; i < 60; ++i) {
      SCOPED_TRACE(i);
      // Edges on the half-pixel grid, on whole pixels or on any 1/256 step.
      const int grid = std::array{128, 256, 1}[uniform(3)];
      auto coordinate = [&](int range) {
        return static_cast<float>((uniform(range * 256 / grid + 1) * grid - 8 * 256)) / 256.0f;
      };
      float x1 = coordinate(80), y1 = coordinate(64), x2 = coordinate(80), y2 = coordinate(64);
      // Texture sub-rectangles in 1/64 steps, beyond 0-1 and mirrored at times.
      auto tex = [&] { return static_cast<float>(uniform(160) - 48) / 64.0f; };
      float u1 = tex(), v1 = tex(), u2 = tex(), v2 = tex();
      if (i % 2 == 1) {
        // Every other quad shows its texels unscaled (one texel a pixel, mirrored at times),
        // partly off the texture at times: the rectangles drawn as texel runs.
        const int columns = 1 + uniform(16), rows = 1 + uniform(8);
        u1 = static_cast<float>(uniform(20) - 2) / 16.0f;
        v1 = static_cast<float>(uniform(12) - 2) / 8.0f;
        u2 = u1 + static_cast<float>(columns) / 16.0f;
        v2 = v1 + static_cast<float>(rows) / 8.0f;
        if (uniform(3) == 0) std::swap(u1, u2);
        x2 = x1 + static_cast<float>(columns);
        y2 = y1 + static_cast<float>(rows);
      }
      DWORD color = static_cast<DWORD>(random());
      std::vector<TexturedVertex> quads = Quad(x1, y1, x2, y2, color, u1, v1, u2, v2);
      ASSERT_EQ(DrawBothWays(quads, true), DrawBothWays(quads, false))
          << x1 << "," << y1 << " - " << x2 << "," << y2;
    }
  }
  // The sweep went through the span path and the rectangle runs, not around them.
  EXPECT_GT(D3D9GetCallCount(D3D9Counter::SpanTriangle), 500);
  EXPECT_GT(D3D9GetCallCount(D3D9Counter::SpanRectangle), 20);
  device->SetTexture(0, nullptr);
  texture->Release();
}

// The 16-bit formats (the glyph caches' among them), whose texels the span paths widen as
// ReadPixel does: quads at any scale through the stepped rows and unscaled or mirrored ones
// through the rectangle runs, in every pipeline case above.
TEST_F(D3D9SpanTest, SixteenBitTexturesGiveTheSameBytesAsThePerPixelPath) {
  std::mt19937 random(54321);
  auto uniform = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  D3D9ResetCounters();
  for (D3DFORMAT format : {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4}) {
    SCOPED_TRACE(format);
    IDirect3DTexture9* texture = MakeTexture(
        16, 8, [](int x, int y) { return static_cast<std::uint32_t>(x * 0x1357 + y * 0x9BDF); },
        format);
    device->SetTexture(0, texture);
    device->SetSamplerState(0, D3DSAMP_BORDERCOLOR, 0x80402010);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    device->SetRenderState(D3DRS_ALPHAREF, 96);
    for (const PipelineCase& c : kCases) {
      SCOPED_TRACE(c.name);
      ApplyPipelineCase(device, c);
      for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        // On the half-pixel grid, partly off screen at times.
        const float x1 = static_cast<float>(uniform(80) - 8) + 0.5f,
                    y1 = static_cast<float>(uniform(56) - 8) + 0.5f;
        const int columns = 1 + uniform(24), rows = 1 + uniform(12);
        // One texel a pixel, mirrored, or any 1/64 texture step, partly off the texture.
        const float scale =
            std::array{1.0f, -1.0f, static_cast<float>(uniform(96) + 1) / 64.0f}[uniform(3)];
        const float u1 = static_cast<float>(uniform(20) - 2) / 16.0f,
                    v1 = static_cast<float>(uniform(12) - 2) / 8.0f;
        std::vector<TexturedVertex> quads = Quad(
            x1, y1, x1 + static_cast<float>(columns), y1 + static_cast<float>(rows),
            static_cast<DWORD>(random()), u1, v1, u1 + scale * static_cast<float>(columns) / 16.0f,
            v1 + std::fabs(scale) * static_cast<float>(rows) / 8.0f);
        ASSERT_EQ(DrawBothWays(quads, true), DrawBothWays(quads, false));
      }
    }
    device->SetTexture(0, nullptr);
    texture->Release();
  }
  EXPECT_GT(D3D9GetCallCount(D3D9Counter::SpanTriangle), 200);
  EXPECT_GT(D3D9GetCallCount(D3D9Counter::SpanRectangle), 40);
}

// A string's glyphs come as one draw call of many small quads, whose shading the device chooses
// once: the quads it can prove whole texel runs go that way, the others (scaled by a half, partly
// off the texture, turned) through the rectangle and triangle paths, and every byte stays the
// per-pixel path's, in draw order, each quad in its own colour (white and black among them).
TEST_F(D3D9SpanTest, QuadsOfOneDrawCallGiveTheSameBytesAsThePerPixelPath) {
  struct BatchQuad {
    float x1, y1, x2, y2, u1, v1, u2, v2;
    DWORD color;
    bool sprite;  // provably a run of whole texel steps inside the texture
  };
  // 16 x 8 texture; a glyph cell is 6 x 8 texels at texel (2, 0).
  constexpr BatchQuad kQuads[] = {
      {3.5f, 4.5f, 9.5f, 12.5f, 2 / 16.0f, 0, 8 / 16.0f, 1, 0xFFFFFFFF, true},
      {8.5f, 6.5f, 14.5f, 14.5f, 2 / 16.0f, 0, 8 / 16.0f, 1, 0x80C04020, true},   // overlaps
      {20.5f, 4.5f, 26.5f, 12.5f, 8 / 16.0f, 0, 2 / 16.0f, 1, 0xC0FFFF00, true},  // mirrored
      {30.5f, 4.5f, 36.5f, 8.5f, 1.5f / 16, 0.5f / 8, 13.5f / 16, 8.5f / 8, 0xFF00FFFF,
       true},                                                                         // two a pixel
      {-2.5f, 20.5f, 3.5f, 28.5f, 2 / 16.0f, 0, 8 / 16.0f, 1, 0xFF808080, true},      // clipped
      {58.5f, 40.5f, 64.5f, 48.5f, 2 / 16.0f, 0, 8 / 16.0f, 1, 0x40FFFFFF, true},     // corner
      {10.5f, 20.5f, 22.5f, 36.5f, 2 / 16.0f, 0, 8 / 16.0f, 1, 0xFFFF8040, false},    // halves
      {48.5f, 4.5f, 54.5f, 12.5f, 2 / 16.0f, 0, 8 / 16.0f, 1, 0xFF000000, true},      // black edge
      {50.5f, 8.5f, 56.5f, 16.5f, 2 / 16.0f, 0, 8 / 16.0f, 1, 0x80000000, true},      // see-through
      {26.5f, 20.5f, 32.5f, 28.5f, 12 / 16.0f, 0, 18 / 16.0f, 1, 0xFFFFFFFF, false},  // off
  };
  std::vector<TexturedVertex> batch;
  int sprites = 0;
  for (const BatchQuad& q : kQuads) {
    std::vector<TexturedVertex> quad =
        Quad(q.x1, q.y1, q.x2, q.y2, q.color, q.u1, q.v1, q.u2, q.v2);
    batch.insert(batch.end(), quad.begin(), quad.end());
    sprites += q.sprite;
  }
  // A turned quad's two triangles between the others: drawn as triangles.
  const TexturedVertex turned[6] = {
      {40.5f, 20.5f, 0.2f, 1, 0xFFFFFFFF, 0, 0}, {48.5f, 24.5f, 0.2f, 1, 0, 0.5f, 0},
      {36.5f, 28.5f, 0.2f, 1, 0, 0, 1},          {44.5f, 32.5f, 0.2f, 1, 0xFFFFFFFF, 0.5f, 1},
      {36.5f, 28.5f, 0.2f, 1, 0, 0, 1},          {48.5f, 24.5f, 0.2f, 1, 0, 0.5f, 0}};
  batch.insert(batch.begin() + 12, turned, turned + 6);
  // A quad cut on its other diagonal, corners in another order: a sprite still.
  const TexturedVertex other[6] = {{40.5f, 36.5f, 0.2f, 1, 0xFF40C0FF, 2 / 16.0f, 0},
                                   {46.5f, 36.5f, 0.2f, 1, 0, 8 / 16.0f, 0},
                                   {46.5f, 44.5f, 0.2f, 1, 0, 8 / 16.0f, 1},
                                   {40.5f, 36.5f, 0.2f, 1, 0xFF40C0FF, 2 / 16.0f, 0},
                                   {46.5f, 44.5f, 0.2f, 1, 0, 8 / 16.0f, 1},
                                   {40.5f, 44.5f, 0.2f, 1, 0, 2 / 16.0f, 1}};
  batch.insert(batch.end(), other, other + 6);
  ++sprites;

  for (D3DFORMAT format : {D3DFMT_A1R5G5B5, D3DFMT_A8R8G8B8, D3DFMT_R5G6B5}) {
    SCOPED_TRACE(format);
    IDirect3DTexture9* texture = MakeTexture(
        16, 8,
        [](int x, int y) {
          return static_cast<std::uint32_t>((x * 53 + y * 29) % 256) << 24 |
                 static_cast<std::uint32_t>(x * 0x0F1E2D + y * 0x050A14);
        },
        format);
    device->SetTexture(0, texture);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    device->SetRenderState(D3DRS_ALPHAREF, 96);
    for (const PipelineCase& c : kCases) {
      SCOPED_TRACE(c.name);
      ApplyPipelineCase(device, c);
      D3D9ResetCounters();
      const std::vector<std::uint32_t> fast = DrawBothWays(batch, true);
      // Point sampling under a blend the runs shade: the provable quads, and only they.
      const bool runs = !c.linear && c.sourceBlend != D3DBLEND_DESTCOLOR;
      EXPECT_EQ(D3D9GetCallCount(D3D9Counter::SpriteQuad), runs ? sprites : 0);
      ASSERT_EQ(fast, DrawBothWays(batch, false));
    }
    device->SetTexture(0, nullptr);
    texture->Release();
  }
}

}  // namespace

namespace {

// The engine's own quad: all six vertices in one colour, the last two the bytes of the third and
// the second, as its batches write them.
std::vector<TexturedVertex> EngineQuad(float x1, float y1, float x2, float y2, DWORD color,
                                       float u1, float v1, float u2, float v2) {
  return {{x1, y1, 0.2f, 1, color, u1, v1}, {x2, y1, 0.2f, 1, color, u2, v1},
          {x1, y2, 0.2f, 1, color, u1, v2}, {x2, y2, 0.2f, 1, color, u2, v2},
          {x1, y2, 0.2f, 1, color, u1, v2}, {x2, y1, 0.2f, 1, color, u2, v1}};
}

constexpr D3DFORMAT kTextureFormats[] = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5,
                                         D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4};

}  // namespace

// Glyph-like quads in the engine's own layout, one texel a pixel, each alone or with a second
// quad over exactly its pixels in another colour (a glyph's text over its edge, shaded in one
// pass): every width from one pixel past two fetches, clipped by the screen's edges, mirrored,
// reaching the texture's last bytes, onto targets with and without alpha, in every texture format
// and pipeline case, must leave the per-pixel path's bytes.
TEST_F(D3D9SpanTest, EngineQuadsAloneAndStackedGiveTheSameBytesAsThePerPixelPath) {
  std::mt19937 random(271828);
  auto uniform = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  constexpr int kWidth = 32, kHeight = 16;  // powers of two, as the engine's
  for (D3DFORMAT target : {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}) {
    MakeDevice(64, 48, target);
    for (D3DFORMAT format : kTextureFormats) {
      SCOPED_TRACE(::testing::Message() << "target " << target << ", texture " << format);
      IDirect3DTexture9* texture = MakeTexture(
          kWidth, kHeight,
          [](int x, int y) {
            return static_cast<std::uint32_t>((x * 53 + y * 29) % 256) << 24 |
                   static_cast<std::uint32_t>(x * 0x0F1E2D + y * 0x050A14 + (x ^ y) * 0x1357);
          },
          format);
      device->SetTexture(0, texture);
      device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
      device->SetRenderState(D3DRS_ALPHAREF, 96);
      for (const PipelineCase& c : kCases) {
        if (c.linear) continue;
        SCOPED_TRACE(c.name);
        ApplyPipelineCase(device, c);
        int quads = 0, stacked = 0;
        D3D9ResetCounters();
        for (int round = 0; round < 6; ++round) {
          SCOPED_TRACE(round);
          std::vector<TexturedVertex> batch;
          for (int i = 0; i < 8; ++i) {
            const int columns = 1 + uniform(20), rows = 1 + uniform(10);
            // At least a pixel on the screen, off its edges at times. A quad on the half-pixel
            // grid shows whole texels; one on whole pixels half texels, as a glyph clipped by
            // the draw area does.
            const bool halfU = uniform(4) == 0, halfV = uniform(4) == 0;
            const float x1 = static_cast<float>(uniform(63 + columns) - columns) +
                             (halfU ? 1.0f : 0.5f),
                        y1 = static_cast<float>(uniform(47 + rows) - rows) + (halfV ? 1.0f : 0.5f);
            const float x2 = x1 + static_cast<float>(columns), y2 = y1 + static_cast<float>(rows);
            auto texels = [&](float* u1, float* v1, float* u2, float* v2) {
              // Reaching the texture's last row and column at times, mirrored at times.
              const int tx = uniform(kWidth - columns + 1), ty = uniform(kHeight - rows + 1);
              *u1 = (static_cast<float>(tx) + (halfU ? 0.5f : 0.0f)) / kWidth;
              *v1 = (static_cast<float>(ty) + (halfV ? 0.5f : 0.0f)) / kHeight;
              *u2 = *u1 + static_cast<float>(columns) / kWidth;
              *v2 = *v1 + static_cast<float>(rows) / kHeight;
              if (uniform(6) == 0) std::swap(*u1, *u2);
            };
            const DWORD colours[] = {0xFFFFFFFF, 0xFF000000, 0x80000000,
                                     static_cast<DWORD>(random())};
            float u1, v1, u2, v2;
            texels(&u1, &v1, &u2, &v2);
            std::vector<TexturedVertex> quad =
                EngineQuad(x1, y1, x2, y2, colours[uniform(4)], u1, v1, u2, v2);
            batch.insert(batch.end(), quad.begin(), quad.end());
            ++quads;
            if (uniform(2) == 0) {
              texels(&u1, &v1, &u2, &v2);
              quad = EngineQuad(x1, y1, x2, y2, colours[uniform(4)], u1, v1, u2, v2);
              batch.insert(batch.end(), quad.begin(), quad.end());
              ++quads, ++stacked;
            }
          }
          const std::vector<std::uint32_t> fast = DrawBothWays(batch, true, true);
          ASSERT_EQ(fast, DrawBothWays(batch, false, true));
        }
        // Mostly through the sprite list, stacked pairs among them.
        if (c.sourceBlend != D3DBLEND_DESTCOLOR) {
          EXPECT_GT(D3D9GetCallCount(D3D9Counter::SpriteQuad), quads * 3 / 4)
              << stacked << " stacked of " << quads;
        }
      }
      device->SetTexture(0, nullptr);
      texture->Release();
    }
  }
}

// Every value of each 16-bit format, one texel a pixel in glyph-sized quads, is widened as the
// per-pixel path widens it: seen through a copy, an alpha test and an alpha blend.
TEST_F(D3D9SpanTest, EverySixteenBitTexelIsShadedAsThePerPixelPathShadesIt) {
  MakeDevice(64, 48, D3DFMT_A8R8G8B8);
  for (D3DFORMAT format : {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4}) {
    SCOPED_TRACE(format);
    IDirect3DTexture9* texture = MakeTexture(
        256, 256, [](int x, int y) { return static_cast<std::uint32_t>(y * 256 + x); }, format);
    device->SetTexture(0, texture);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    device->SetRenderState(D3DRS_ALPHAREF, 96);
    for (int pipeline : {0, 1, 3}) {
      const PipelineCase& c = kCases[pipeline];
      SCOPED_TRACE(c.name);
      ApplyPipelineCase(device, c);
      // Each frame: twelve 16 x 16 blocks of the texture, 4 x 3 on the screen.
      for (int firstBlock = 0; firstBlock < 256; firstBlock += 12) {
        std::vector<TexturedVertex> batch;
        for (int k = 0; k < 12 && firstBlock + k < 256; ++k) {
          const int block = firstBlock + k;
          const float x = static_cast<float>(k % 4 * 16) - 0.5f,
                      y = static_cast<float>(k / 4 * 16) - 0.5f;
          const float u = static_cast<float>(block % 16) / 16,
                      v = static_cast<float>(block / 16) / 16;
          std::vector<TexturedVertex> quad =
              EngineQuad(x, y, x + 16, y + 16, 0xFFFFFFFF, u, v, u + 1 / 16.0f, v + 1 / 16.0f);
          batch.insert(batch.end(), quad.begin(), quad.end());
        }
        D3D9ResetCounters();
        const std::vector<std::uint32_t> fast = DrawBothWays(batch, true, true);
        EXPECT_EQ(D3D9GetCallCount(D3D9Counter::SpriteQuad), static_cast<int>(batch.size() / 6));
        ASSERT_EQ(fast, DrawBothWays(batch, false, true)) << "blocks from " << firstBlock;
      }
    }
    device->SetTexture(0, nullptr);
    texture->Release();
  }
}

namespace {

// A glyph-like quad in the engine's layout (12 x 8 pixels on the half-pixel grid, its texture
// coordinates in texels: one texel a pixel) and what spoils it, if anything.
struct HostileQuad {
  const char* name;
  float x1, y1, x2, y2, u1, v1, u2, v2;
  void (*spoil)(TexturedVertex* q);  // the six vertices, or null
};

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

// Corners 0, 2 and 4 share the left column; 0, 1 and 5 the top row.
constexpr HostileQuad kHostileQuads[] = {
    {"plain", 10.5f, 6.5f, 22.5f, 14.5f, 4, 2, 16, 10, nullptr},
    {"mirrored across", 22.5f, 6.5f, 10.5f, 14.5f, 4, 2, 16, 10, nullptr},
    {"mirrored down", 10.5f, 14.5f, 22.5f, 6.5f, 4, 2, 16, 10, nullptr},
    {"turned half round", 22.5f, 14.5f, 10.5f, 6.5f, 4, 2, 16, 10, nullptr},
    {"texels mirrored", 10.5f, 6.5f, 22.5f, 14.5f, 16, 10, 4, 2, nullptr},
    {"half texels on whole pixels", 10, 6, 22, 14, 4.5f, 2.5f, 16.5f, 10.5f, nullptr},
    {"pixel centres on texel edges", 10, 6, 22, 14, 4, 2, 16, 10, nullptr},
    {"clipped left and top", -3.5f, -2.5f, 8.5f, 5.5f, 4, 2, 16, 10, nullptr},
    {"clipped right and bottom", 58.5f, 44.5f, 70.5f, 52.5f, 4, 2, 16, 10, nullptr},
    {"off the screen", 100.5f, 6.5f, 112.5f, 14.5f, 4, 2, 16, 10, nullptr},
    {"past the texture", 10.5f, 6.5f, 22.5f, 14.5f, 24, 2, 36, 10, nullptr},
    {"before the texture", 10.5f, 6.5f, 22.5f, 14.5f, -1, -1, 11, 7, nullptr},
    {"the whole texture", 10.5f, 6.5f, 34.5f, 18.5f, 0, 0, 24, 12, nullptr},
    {"far coordinates", 10.5f, 6.5f, 22.5f, 14.5f, 9604, 2, 9616, 10, nullptr},
    {"two texels a pixel", 10.5f, 6.5f, 22.5f, 14.5f, 0, 0, 24, 16, nullptr},
    {"quarter texels", 10.5f, 6.5f, 22.5f, 14.5f, 4.25f, 2.25f, 16.25f, 10.25f, nullptr},
    {"narrower than a pixel", 10.25f, 6.5f, 10.75f, 14.5f, 4, 2, 4.5f, 10, nullptr},
    {"on half a sub-pixel", 10.5f + 1 / 512.0f, 6.5f - 1 / 512.0f, 22.5f + 1 / 512.0f,
     14.5f - 1 / 512.0f, 4, 2, 16, 10, nullptr},
    {"minus zero", -0.0f, 6.5f, 12, 14.5f, 4, 2, 16, 10,
     [](TexturedVertex* q) { q[2].x = q[4].x = 0.0f; }},
    {"past the sprite limit", -40000.5f, 6.5f, 22.5f, 14.5f, -40007, 2, 16, 10, nullptr},
    {"wider than 2^23 sub-pixels", -32000, 6, 1001, 14, -31999.5f, 2.5f, 1001.5f, 10.5f, nullptr},
    {"past the guard band", -2.0e6f, 6.5f, 22.5f, 14.5f, 4, 2, 16, 10, nullptr},
    {"NaN x", kNaN, 6.5f, 22.5f, 14.5f, 4, 2, 16, 10, nullptr},
    {"NaN u", 10.5f, 6.5f, 22.5f, 14.5f, kNaN, 2, 16, 10, nullptr},
    {"infinite v", 10.5f, 6.5f, 22.5f, 14.5f, 4, 2, 16, kInfinity, nullptr},
    {"NaN rhw", 10.5f, 6.5f, 22.5f, 14.5f, 4, 2, 16, 10,
     [](TexturedVertex* q) {
       for (int k = 0; k < 6; ++k) q[k].rhw = kNaN;
     }},
    {"negative rhw", 10.5f, 6.5f, 22.5f, 14.5f, 4, 2, 16, 10,
     [](TexturedVertex* q) {
       for (int k = 0; k < 6; ++k) q[k].rhw = -1;
     }},
    {"zero rhw", 10.5f, 6.5f, 22.5f, 14.5f, 4, 2, 16, 10,
     [](TexturedVertex* q) {
       for (int k = 0; k < 6; ++k) q[k].rhw = 0;
     }},
    {"rhw apart at one corner", 10.5f, 6.5f, 22.5f, 14.5f, 4, 2, 16, 10,
     [](TexturedVertex* q) { q[3].rhw = 0.5f; }},
    {"a corner off the column", 10.5f, 6.5f, 22.5f, 14.5f, 4, 2, 16, 10,
     [](TexturedVertex* q) { q[2].x = q[4].x = 11.5f; }},
    {"a corner's u apart", 10.5f, 6.5f, 22.5f, 14.5f, 4, 2, 16, 10,
     [](TexturedVertex* q) { q[2].u = q[4].u = 5 / 32.0f; }},
    {"a corner's v apart", 10.5f, 6.5f, 22.5f, 14.5f, 4, 2, 16, 10,
     [](TexturedVertex* q) { q[1].v = q[5].v = 3 / 16.0f; }},
    {"second triangle in its own colour", 10.5f, 6.5f, 22.5f, 14.5f, 4, 2, 16, 10,
     [](TexturedVertex* q) { q[3].color = 0xFF00FF00; }},
    {"a repeated corner's bytes apart", 10.5f, 6.5f, 22.5f, 14.5f, 4, 2, 16, 10,
     [](TexturedVertex* q) { q[4].z = 0.5f; }},
};

}  // namespace

// Quads in the engine's layout that a sprite list must draw exactly as the per-pixel path or
// leave to it: mirrored every way under each culling, clipped, off the texture, off the half-texel
// grid, NaN, infinite, past the limits, with no single rhw or a corner out of place; each alone,
// under a second quad at its place and after a plain one, into textures whose sizes are powers
// of two (one wide enough for a quad past 2^23 sub-pixels) and one whose are not.
TEST_F(D3D9SpanTest, HostileEngineQuadsGiveTheSameBytesAsThePerPixelPath) {
  const auto texel = [](int x, int y) {
    return static_cast<std::uint32_t>((x * 53 + y * 29) % 256) << 24 |
           static_cast<std::uint32_t>(x * 0x0F1E2D + y * 0x050A14 + (x ^ y) * 0x1357);
  };
  for (const auto& [width, height] :
       {std::pair{32u, 16u}, std::pair{24u, 12u}, std::pair{128u, 16u}}) {
    // The quad in texels of this texture, moved by (du, dv) texels.
    const auto quad = [w = static_cast<float>(width), h = static_cast<float>(height)](
                          const HostileQuad& c, DWORD color, float du, float dv) {
      std::vector<TexturedVertex> q = EngineQuad(c.x1, c.y1, c.x2, c.y2, color, (c.u1 + du) / w,
                                                 (c.v1 + dv) / h, (c.u2 + du) / w, (c.v2 + dv) / h);
      if (c.spoil) c.spoil(q.data());
      return q;
    };
    IDirect3DTexture9* texture = MakeTexture(width, height, texel);
    device->SetTexture(0, texture);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    device->SetRenderState(D3DRS_ALPHAREF, 96);
    for (int pipeline : {1, 4}) {
      ApplyPipelineCase(device, kCases[pipeline]);
      D3D9ResetCounters();
      for (DWORD cull : {D3DCULL_NONE, D3DCULL_CW, D3DCULL_CCW}) {
        device->SetRenderState(D3DRS_CULLMODE, cull);
        for (const HostileQuad& h : kHostileQuads) {
          SCOPED_TRACE(::testing::Message()
                       << width << " x " << height << ", " << kCases[pipeline].name << ", cull "
                       << cull << ", " << h.name);
          const std::vector<TexturedVertex> edge = quad(h, 0xFF000000, 0, 0),
                                            text = quad(h, 0xC0FFFFFF, 1, 1),
                                            plain = quad(kHostileQuads[0], 0x80FFFFFF, 0, 0);
          const auto joined = [](std::initializer_list<const std::vector<TexturedVertex>*> parts) {
            std::vector<TexturedVertex> all;
            for (const std::vector<TexturedVertex>* part : parts)
              all.insert(all.end(), part->begin(), part->end());
            return all;
          };
          // Alone, under a second quad, and after a plain one.
          const std::vector<TexturedVertex> batches[] = {edge, joined({&edge, &text}),
                                                         joined({&plain, &edge, &text})};
          for (const std::vector<TexturedVertex>& batch : batches)
            ASSERT_EQ(DrawBothWays(batch, true, true), DrawBothWays(batch, false, true));
        }
      }
      // The plain quads and their like went through the sprite list (in the other texture their
      // coordinates are no whole numbers of 2^-k).
      if (width != 24) {
        EXPECT_GT(D3D9GetCallCount(D3D9Counter::SpriteQuad), 100);
      }
    }
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetTexture(0, nullptr);
    texture->Release();
  }
}

// The sprite list reads quads from the vertex bytes of any pre-transformed layout: a specular
// colour (shown or not, black or not), the coordinates in a second set, no diffuse colour, or
// vertices spaced wider than they are. Each layout's quads, alone and stacked, leave the per-pixel
// path's bytes.
TEST_F(D3D9SpanTest, QuadsInOtherVertexLayoutsGiveTheSameBytesAsThePerPixelPath) {
  struct LayoutCase {
    const char* name;
    DWORD fvf;
    UINT stride;
    int diffuse, specular, tex;  // byte offsets, -1: none
    DWORD texCoordIndex;
    BOOL specularShown;
  };
  constexpr DWORD kXyzrhw = D3DFVF_XYZRHW;
  constexpr LayoutCase kLayouts[] = {
      {"specular", kXyzrhw | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1, 32, 16, 20, 24, 0,
       FALSE},
      {"specular shown", kXyzrhw | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1, 32, 16, 20, 24,
       0, TRUE},
      {"second set", kXyzrhw | D3DFVF_DIFFUSE | D3DFVF_TEX2, 36, 16, -1, 28, 1, FALSE},
      {"no diffuse", kXyzrhw | D3DFVF_TEX1, 24, -1, -1, 16, 0, FALSE},
      {"spaced wider", kXyzrhw | D3DFVF_DIFFUSE | D3DFVF_TEX1, 40, 16, -1, 20, 0, FALSE},
  };
  IDirect3DTexture9* texture = MakeTexture(32, 16, [](int x, int y) {
    return static_cast<std::uint32_t>((x * 53 + y * 29) % 256) << 24 |
           static_cast<std::uint32_t>(x * 0x0F1E2D + y * 0x050A14);
  });
  device->SetTexture(0, texture);
  ApplyPipelineCase(device, kCases[4]);
  // Glyph-like quads: plain, stacked, mirrored, clipped, and with a specular colour.
  std::vector<TexturedVertex> quads;
  std::vector<DWORD> speculars;
  const auto add = [&](std::vector<TexturedVertex> q, DWORD specular) {
    quads.insert(quads.end(), q.begin(), q.end());
    speculars.insert(speculars.end(), 6, specular);
  };
  add(EngineQuad(4.5f, 4.5f, 16.5f, 12.5f, 0xFF000000, 0, 0, 12 / 32.0f, 8 / 16.0f), 0);
  add(EngineQuad(4.5f, 4.5f, 16.5f, 12.5f, 0xC0FFFFFF, 2 / 32.0f, 1 / 16.0f, 14 / 32.0f, 9 / 16.0f),
      0xFF000000);
  add(EngineQuad(40.5f, 20.5f, 28.5f, 28.5f, 0x80FF8040, 4 / 32.0f, 2 / 16.0f, 16 / 32.0f,
                 10 / 16.0f),
      0);
  add(EngineQuad(-3.5f, 30.5f, 8.5f, 38.5f, 0xFF40C0FF, 4 / 32.0f, 2 / 16.0f, 16 / 32.0f,
                 10 / 16.0f),
      0x00102030);
  add(EngineQuad(50, 40, 62, 48, 0xFFFFFFFF, 4.5f / 32, 2.5f / 16, 16.5f / 32, 10.5f / 16), 0);
  for (const LayoutCase& layout : kLayouts) {
    SCOPED_TRACE(layout.name);
    std::vector<std::uint8_t> bytes(quads.size() * layout.stride, 0xA5);
    for (std::size_t k = 0; k < quads.size(); ++k) {
      std::uint8_t* v = bytes.data() + k * layout.stride;
      const TexturedVertex& q = quads[k];
      const float position[4] = {q.x, q.y, q.z, q.rhw}, uv[2] = {q.u, q.v};
      std::memcpy(v, position, sizeof position);
      if (layout.diffuse >= 0) std::memcpy(v + layout.diffuse, &q.color, 4);
      if (layout.specular >= 0) std::memcpy(v + layout.specular, &speculars[k], 4);
      std::memcpy(v + layout.tex, uv, sizeof uv);
    }
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, layout.texCoordIndex);
    device->SetRenderState(D3DRS_SPECULARENABLE, layout.specularShown);
    const auto draw = [&](bool spans) {
      D3D9SetSpanPaths(spans);
      FillBackground();
      device->SetFVF(layout.fvf);
      device->BeginScene();
      EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(quads.size() / 3),
                                        bytes.data(), layout.stride),
                D3D_OK);
      device->EndScene();
      D3D9SetSpanPaths(true);
      std::vector<std::uint32_t> pixels;
      for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) pixels.push_back(Pixel32(backBuffer, x, y));
      return pixels;
    };
    D3D9ResetCounters();
    const std::vector<std::uint32_t> fast = draw(true);
    // A shown specular colour other than black keeps its quad off the sprite list.
    EXPECT_EQ(D3D9GetCallCount(D3D9Counter::SpriteQuad), layout.specularShown ? 4 : 5);
    ASSERT_EQ(fast, draw(false));
  }
  device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
  device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
  device->SetTexture(0, nullptr);
  texture->Release();
}

// Glyph pairs on one-bit alpha with no blending, the engine's text: under every alpha test
// (those that pass exactly the set bits and those that do not), in every pair of white, black,
// grey and see-through colours, in every width from one pixel to past two fetches, the pair
// leaves the per-pixel path's bytes.
TEST_F(D3D9SpanTest, OneBitGlyphPairsUnderEveryAlphaTestGiveTheSameBytesAsThePerPixelPath) {
  struct AlphaTest {
    DWORD func, ref;
  };
  constexpr AlphaTest kTests[] = {
      {D3DCMP_GREATER, 0},        {D3DCMP_GREATER, 127},    {D3DCMP_GREATER, 254},
      {D3DCMP_GREATER, 255},      {D3DCMP_GREATEREQUAL, 0}, {D3DCMP_GREATEREQUAL, 1},
      {D3DCMP_GREATEREQUAL, 255}, {D3DCMP_LESS, 128},       {D3DCMP_NOTEQUAL, 0},
      {D3DCMP_EQUAL, 255},        {D3DCMP_ALWAYS, 0},
  };
  constexpr DWORD kColours[] = {0xFFFFFFFF, 0xFF000000, 0xFF808080, 0x00FFFFFF, 0x00000000};
  std::mt19937 random(314159);
  for (D3DFORMAT target : {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}) {
    MakeDevice(64, 48, target);
    IDirect3DTexture9* texture = MakeTexture(
        64, 32, [&](int, int) { return static_cast<std::uint32_t>(random()); }, D3DFMT_A1R5G5B5);
    device->SetTexture(0, texture);
    for (bool modulate : {true, false}) {
      ApplyPipelineCase(device, kCases[modulate ? 2 : 1]);
      device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
      device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
      for (const AlphaTest& test : kTests) {
        SCOPED_TRACE(::testing::Message() << "target " << target << ", modulate " << modulate
                                          << ", alpha func " << test.func << " ref " << test.ref);
        device->SetRenderState(D3DRS_ALPHAFUNC, test.func);
        device->SetRenderState(D3DRS_ALPHAREF, test.ref);
        std::vector<TexturedVertex> batch;
        for (int columns = 1; columns <= 20; ++columns) {
          const float x = static_cast<float>(columns % 3 * 21) - 0.5f,
                      y = static_cast<float>(columns / 3 * 7) - 0.5f;
          const int rows = 1 + columns % 6;
          for (int layer = 0; layer < 2; ++layer) {
            // Anywhere, or upside down at the texture's last bytes.
            const bool corner = random() % 3 == 0;
            const float u = static_cast<float>(corner ? 64 - columns : random() % 40) / 64,
                        v = static_cast<float>(corner ? 32 - rows : random() % 20) / 32;
            const float u2 = u + static_cast<float>(columns) / 64,
                        v2 = v + static_cast<float>(rows) / 32;
            const DWORD colour = kColours[random() % std::size(kColours)];
            std::vector<TexturedVertex> quad =
                EngineQuad(x, y, x + static_cast<float>(columns), y + static_cast<float>(rows),
                           colour, u, corner ? v2 : v, u2, corner ? v : v2);
            batch.insert(batch.end(), quad.begin(), quad.end());
          }
        }
        D3D9ResetCounters();
        const std::vector<std::uint32_t> fast = DrawBothWays(batch, true, true);
        EXPECT_EQ(D3D9GetCallCount(D3D9Counter::SpriteQuad), static_cast<int>(batch.size() / 6));
        ASSERT_EQ(fast, DrawBothWays(batch, false, true));
      }
    }
    device->SetTexture(0, nullptr);
    texture->Release();
  }
}

// A game left on its title covers 2^31 pixels within minutes: the count goes on past it.
TEST_F(D3D9SpanTest, CoveredPixelCountGoesPastTwoToTheThirtyOne) {
  constexpr int kSide = 2048;
  MakeDevice(kSide, kSide, D3DFMT_X8R8G8B8);
  IDirect3DTexture9* texture =
      MakeTexture(kSide, kSide, [](int x, int y) { return 0xFF000000u | (x ^ y); });
  ASSERT_NE(texture, nullptr);
  device->SetTexture(0, texture);
  const float edge = kSide - 0.5f;
  const std::vector<TexturedVertex> one = Quad(-0.5f, -0.5f, edge, edge);
  // 300 quads a call keeps each call's own count below 2^31; the second call passes it.
  std::vector<TexturedVertex> many;
  for (int i = 0; i < 300; ++i) many.insert(many.end(), one.begin(), one.end());
  D3D9ResetCounters();
  ASSERT_EQ(DrawTextured(many), D3D_OK);
  ASSERT_EQ(DrawTextured(many), D3D_OK);
  const std::int64_t perQuad = std::int64_t{kSide} * kSide;
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::SpriteQuad), 600);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::CoveredPixels), 600 * perQuad);
  EXPECT_GT(D3D9GetCallCount(D3D9Counter::CoveredPixels), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(Pixel(kSide - 1, 1), 0xFF000000u | ((kSide - 1) ^ 1));
  device->SetTexture(0, nullptr);
  texture->Release();
}
