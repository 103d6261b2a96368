// Golden-image tests of the CPU device's rasterisation: texel mapping under the engine's -0.5
// offset, the top-left fill rule, flat shading, alpha test, blending, stage operations,
// viewport clipping, Clear and Present.
#include <bit>

#include "tests/platform/d3d9_test_support.h"

namespace {

std::uint32_t TestTexel(int x, int y) {
  return 0xFF000000u | (x * 16 + 8) << 16 | (y * 16 + 8) << 8 | 0x55;
}

using D3D9RasterTest = D3D9DeviceTest;

// An 8 x 8 texture on a quad: where each texel lands, and which edge pixels the quad keeps.
struct TexelMappingCase {
  const char* name;
  float x1, y1, x2, y2;
  int left, top, scale;  // the first pixel covered and the pixels per texel
};

constexpr TexelMappingCase kTexelMappings[] = {
    // A graph drawn at (10, 20) starts at (9.5, 19.5).
    {"unscaled with the half-pixel offset", 9.5f, 19.5f, 17.5f, 27.5f, 10, 20, 1},
    {"doubled: each texel a 2 x 2 block", 9.5f, 19.5f, 25.5f, 35.5f, 10, 20, 2},
    // A part draw clamped to a draw area of x 10-18, y 20-28 puts its corners on those integers:
    // the first column and row are kept, the last dropped.
    {"on integer edges", 10.0f, 20.0f, 18.0f, 28.0f, 10, 20, 1},
};

TEST_F(D3D9RasterTest, QuadMapsTexelsToPixels) {
  IDirect3DTexture9* texture = MakeTexture(8, 8, TestTexel);
  device->SetTexture(0, texture);
  for (const TexelMappingCase& c : kTexelMappings) {
    SCOPED_TRACE(c.name);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    ASSERT_EQ(DrawTextured(Quad(c.x1, c.y1, c.x2, c.y2)), D3D_OK);
    const int right = c.left + 8 * c.scale, bottom = c.top + 8 * c.scale;
    for (int y = c.top - 2; y < bottom + 2; ++y) {
      for (int x = c.left - 2; x < right + 2; ++x) {
        bool inside = x >= c.left && x < right && y >= c.top && y < bottom;
        ASSERT_EQ(Pixel(x, y),
                  inside ? TestTexel((x - c.left) / c.scale, (y - c.top) / c.scale) : 0xFF000000u)
            << x << "," << y;
      }
    }
  }
  device->SetTexture(0, nullptr);
  texture->Release();
}

TEST_F(D3D9RasterTest, SharedDiagonalOfQuadIsCoveredExactlyOnce) {
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
  device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  struct Case {
    float x1, y1, x2, y2;
    int covered;
  };
  // On the grid, on half pixels, and on arbitrary fractions (whose diagonal still passes sample
  // points).
  const Case cases[] = {{0, 0, 16, 16, 256},
                        {19.5f, 0.5f, 35.5f, 16.5f, 256},
                        {40.25f, 2.75f, 56.25f, 18.75f, 256},
                        {2.3f, 20.1f, 30.9f, 44.6f, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x1);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    ASSERT_EQ(DrawColorQuad(c.x1, c.y1, c.x2, c.y2, 0xFF000040), D3D_OK);
    int covered = 0;
    for (int y = 0; y < 48; ++y) {
      for (int x = 0; x < 64; ++x) {
        std::uint32_t p = Pixel(x, y) & 0xFFFFFF;
        ASSERT_TRUE(p == 0 || p == 0x40) << x << "," << y << " " << std::hex << p;
        covered += p == 0x40;
      }
    }
    if (c.covered >= 0) {
      EXPECT_EQ(covered, c.covered);
    }
  }
}

TEST_F(D3D9RasterTest, FlatShadingTakesTheFirstVertexOfEachTriangle) {
  ASSERT_EQ(DrawColorQuad(0, 0, 16, 16, 0xFF336699), D3D_OK);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(Pixel(x, y), 0xFF336699u);
  // In a strip, triangle k takes vertex k.
  ColorVertex strip[4] = {{20, 0, 0, 1, 0xFF110000},
                          {36, 0, 0, 1, 0xFF002200},
                          {20, 16, 0, 1, 0xFF000033},
                          {36, 16, 0, 1, 0xFF444444}};
  device->BeginScene();
  ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, strip, sizeof(ColorVertex)), D3D_OK);
  device->EndScene();
  EXPECT_EQ(Pixel(21, 1), 0xFF110000u);
  EXPECT_EQ(Pixel(34, 14), 0xFF002200u);
}

TEST_F(D3D9RasterTest, GouraudShadingInterpolatesAtTheSamplePoint) {
  device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
  ColorVertex strip[4] = {{0, 0, 0, 1, 0xFF000000},
                          {16, 0, 0, 1, 0xFFFF0000},
                          {0, 4, 0, 1, 0xFF000000},
                          {16, 4, 0, 1, 0xFFFF0000}};
  device->SetFVF(ColorFvf);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  device->BeginScene();
  ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, strip, sizeof(ColorVertex)), D3D_OK);
  device->EndScene();
  // Red runs from 0 at x = 0 to 255 at x = 16: x = 4 is a quarter, x = 8 half.
  EXPECT_EQ(Pixel(0, 1), 0xFF000000u);
  EXPECT_EQ(Pixel(4, 1), 0xFF400000u);
  EXPECT_EQ(Pixel(8, 2), 0xFF800000u);
}

TEST_F(D3D9RasterTest, AlphaTestGreaterSixteenDropsTransparentTexels) {
  const std::uint32_t alphas[4] = {0x00000000, 0x10FFFFFF, 0x11FFFFFF, 0xFF00FF00};
  IDirect3DTexture9* texture = MakeTexture(4, 4, [&](int x, int) { return alphas[x]; });
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF203040, 1.0f, 0);
  device->SetTexture(0, texture);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
  device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
  device->SetRenderState(D3DRS_ALPHAREF, 16);
  ASSERT_EQ(DrawTextured(Quad(-0.5f, -0.5f, 3.5f, 3.5f)), D3D_OK);
  for (int y = 0; y < 4; ++y) {
    EXPECT_EQ(Pixel(0, y), 0xFF203040u);
    EXPECT_EQ(Pixel(1, y), 0xFF203040u);
    EXPECT_EQ(Pixel(2, y), 0xFFFFFFFFu);
    EXPECT_EQ(Pixel(3, y), 0xFF00FF00u);
  }
  device->SetTexture(0, nullptr);
  texture->Release();
}

TEST_F(D3D9RasterTest, BlendFactorsAndOperationsGiveExpectedBytes) {
  struct Case {
    DWORD source, dest, op;
    std::uint32_t expected;
  };
  // Source 0x80C86432 (alpha 128) over destination 0x2850A0, rounded to the nearest value.
  const Case cases[] = {
      {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD, 0x785A69},
      {D3DBLEND_SRCALPHA, D3DBLEND_ONE, D3DBLENDOP_ADD, 0x8C82B9},
      {D3DBLEND_INVDESTCOLOR, D3DBLEND_ZERO, D3DBLENDOP_ADD, 0xA94513},
      {D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, D3DBLENDOP_ADD, 0x1F1F1F},
      {D3DBLEND_ZERO, D3DBLEND_ONE, D3DBLENDOP_ADD, 0x2850A0},
      {D3DBLEND_SRCALPHA, D3DBLEND_ONE, D3DBLENDOP_REVSUBTRACT, 0x001E87},
      {D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_ADD, 0xF0B4D2},
      {D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_SUBTRACT, 0xA01400},
      {D3DBLEND_ONE, D3DBLEND_ZERO, D3DBLENDOP_ADD, 0xC86432},
  };
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.source << " " << c.dest << " " << c.op);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF2850A0, 1.0f, 0);
    device->SetRenderState(D3DRS_SRCBLEND, c.source);
    device->SetRenderState(D3DRS_DESTBLEND, c.dest);
    device->SetRenderState(D3DRS_BLENDOP, c.op);
    ASSERT_EQ(DrawColorQuad(0, 0, 4, 4, 0x80C86432), D3D_OK);
    EXPECT_EQ(Pixel(1, 1) & 0xFFFFFF, c.expected);
    EXPECT_EQ(Pixel(5, 5) & 0xFFFFFF, 0x2850A0u);
  }
}

TEST_F(D3D9RasterTest, StageOperationsGiveExpectedBytes) {
  IDirect3DSurface9* target = nullptr;
  ASSERT_EQ(device->CreateRenderTarget(8, 8, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, &target,
                                       nullptr),
            D3D_OK);
  ASSERT_EQ(device->SetRenderTarget(0, target), D3D_OK);
  struct Case {
    DWORD op, arg1, arg2;
    std::uint32_t expected;
  };
  // Diffuse 0x80C86432 as argument 1, texture factor 0x403CB4F0 as argument 2.
  const Case cases[] = {
      {D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0x80C86432},
      {D3DTOP_SELECTARG2, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0x403CB4F0},
      {D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0x202F472F},
      {D3DTOP_MODULATE2X, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0x405E8D5E},
      {D3DTOP_MODULATE4X, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0x81BCFFBC},
      {D3DTOP_ADD, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0xC0FFFFFF},
      {D3DTOP_SUBTRACT, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0x408C0000},
      {D3DTOP_BLENDDIFFUSEALPHA, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0x60828C91},
      {D3DTOP_SELECTARG1, D3DTA_DIFFUSE | D3DTA_COMPLEMENT, D3DTA_TFACTOR, 0x7F379BCD},
      {D3DTOP_SELECTARG1, D3DTA_TFACTOR | D3DTA_ALPHAREPLICATE, D3DTA_DIFFUSE, 0x40404040},
  };
  device->SetRenderState(D3DRS_TEXTUREFACTOR, 0x403CB4F0);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.op << " " << c.arg1);
    device->SetTextureStageState(0, D3DTSS_COLOROP, c.op);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, c.arg1);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, c.arg2);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, c.op);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, c.arg1);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, c.arg2);
    ColorVertex v[3] = {{0, 0, 0, 1, 0x80C86432}, {8, 0, 0, 1, 0}, {0, 8, 0, 1, 0}};
    device->SetFVF(ColorFvf);
    device->BeginScene();
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(ColorVertex)), D3D_OK);
    device->EndScene();
    EXPECT_EQ(Pixel32(target, 1, 1), c.expected);
  }
  device->SetRenderTarget(0, backBuffer);
  target->Release();
}

TEST_F(D3D9RasterTest, StagesCascadeThroughCurrentAndTemp) {
  IDirect3DTexture9* texture = MakeTexture(1, 1, [](int, int) { return 0xFF808080u; });
  device->SetTexture(0, texture);
  // Stage 0: texture x diffuse into TEMP; stage 1: diffuse + TEMP, into CURRENT.
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  device->SetTextureStageState(0, D3DTSS_RESULTARG, D3DTA_TEMP);
  device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
  device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
  device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TEMP);
  device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
  ASSERT_EQ(DrawTextured(Quad(-0.5f, -0.5f, 3.5f, 3.5f, 0xFF402010)), D3D_OK);
  // CURRENT is still the diffuse colour in stage 1: 0x402010 + 0x402010 x 0x80 / 255.
  EXPECT_EQ(Pixel(1, 1), 0xFF603018u);
  device->SetTexture(0, nullptr);
  texture->Release();
}

TEST_F(D3D9RasterTest, ModulateByDiffuseDarkensTheTexture) {
  IDirect3DTexture9* texture = MakeTexture(8, 8, TestTexel);
  device->SetTexture(0, texture);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  ASSERT_EQ(DrawTextured(Quad(-0.5f, -0.5f, 7.5f, 7.5f, 0xFF808080)), D3D_OK);
  // 0x58 x 0x80 / 255 = 44.2 and 0x55 x 0x80 / 255 = 42.7.
  EXPECT_EQ(Pixel(5, 5), 0xFF2C2C2Bu);
  device->SetTexture(0, nullptr);
  texture->Release();
}

TEST_F(D3D9RasterTest, ClearFillsOnlyTheViewport) {
  D3DVIEWPORT9 viewport = {8, 4, 16, 12, 0.0f, 1.0f};
  ASSERT_EQ(device->SetViewport(&viewport), D3D_OK);
  ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF112233, 1.0f, 0), D3D_OK);
  D3DRECT partly = {20, 10, 40, 40};
  ASSERT_EQ(device->Clear(1, &partly, D3DCLEAR_TARGET, 0xFF445566, 1.0f, 0), D3D_OK);
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      std::uint32_t expected = 0xFF000000;
      if (x >= 8 && x < 24 && y >= 4 && y < 16)
        expected = (x >= 20 && y >= 10) ? 0xFF445566 : 0xFF112233;
      ASSERT_EQ(Pixel(x, y), expected) << x << "," << y;
    }
  }
}

TEST_F(D3D9RasterTest, TrianglesAreClippedToTheViewport) {
  D3DVIEWPORT9 viewport = {10, 10, 20, 8, 0.0f, 1.0f};
  ASSERT_EQ(device->SetViewport(&viewport), D3D_OK);
  ASSERT_EQ(DrawColorQuad(-100, -100, 200, 200, 0xFFFFFFFF), D3D_OK);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      bool inside = x >= 10 && x < 30 && y >= 10 && y < 18;
      ASSERT_EQ(Pixel(x, y), inside ? 0xFFFFFFFFu : 0xFF000000u) << x << "," << y;
    }
}

TEST_F(D3D9RasterTest, CullModesDropTrianglesByWinding) {
  ColorVertex clockwise[3] = {{0, 0, 0, 1, 0xFFFFFFFF}, {8, 0, 0, 1, 0}, {0, 8, 0, 1, 0}};
  ColorVertex counter[3] = {{0, 0, 0, 1, 0xFFFFFFFF}, {0, 8, 0, 1, 0}, {8, 0, 0, 1, 0}};
  struct Case {
    DWORD mode;
    bool drawsClockwise, drawsCounter;
  };
  const Case cases[] = {
      {D3DCULL_NONE, true, true}, {D3DCULL_CW, false, true}, {D3DCULL_CCW, true, false}};
  device->SetFVF(ColorFvf);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    device->SetRenderState(D3DRS_CULLMODE, c.mode);
    for (int i = 0; i < 2; ++i) {
      device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
      device->BeginScene();
      device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, i == 0 ? clockwise : counter,
                              sizeof(ColorVertex));
      device->EndScene();
      EXPECT_EQ(Pixel(1, 1) == 0xFFFFFFFFu, i == 0 ? c.drawsClockwise : c.drawsCounter);
    }
  }
}

TEST_F(D3D9RasterTest, BilinearSamplingBlendsNeighbourTexels) {
  IDirect3DTexture9* texture =
      MakeTexture(2, 1, [](int x, int) { return x ? 0xFFFFFFFFu : 0xFF000000u; });
  device->SetTexture(0, texture);
  device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  ASSERT_EQ(DrawTextured(Quad(-0.5f, -0.5f, 7.5f, 0.5f)), D3D_OK);
  // Pixel i samples u = (i + 0.5) / 8, between texel centres at u = 0.25 and 0.75.
  const std::uint32_t expected[8] = {0, 0, 0x20, 0x60, 0x9F, 0xDF, 0xFF, 0xFF};
  for (int x = 0; x < 8; ++x) EXPECT_EQ(Pixel(x, 0) & 0xFF, expected[x]) << x;
  device->SetTexture(0, nullptr);
  texture->Release();
}

TEST_F(D3D9RasterTest, UntransformedVerticesGoThroughTheMatrices) {
  struct Vertex {
    float x, y, z;
    DWORD color;
  };
  // With identity matrices the square (-1, -1)-(1, 1) covers the viewport; a world move halves it.
  Vertex v[4] = {{-1, 1, 0.5f, 0xFFFFFFFF},
                 {1, 1, 0.5f, 0xFFFFFFFF},
                 {-1, -1, 0.5f, 0xFFFFFFFF},
                 {1, -1, 0.5f, 0xFFFFFFFF}};
  D3DMATRIX world{};
  world._11 = world._22 = world._33 = world._44 = 1;
  world._41 = 1;
  device->SetTransform(D3DTS_WORLD, &world);
  device->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  device->BeginScene();
  ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(Vertex)), D3D_OK);
  device->EndScene();
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x)
      ASSERT_EQ(Pixel(x, y), x >= 32 ? 0xFFFFFFFFu : 0xFF000000u) << x << "," << y;

  // Lit draws are left out: counted, nothing drawn.
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  device->SetRenderState(D3DRS_LIGHTING, TRUE);
  int before = D3D9GetCallCount(D3D9Counter::UnsupportedDraw);
  device->BeginScene();
  EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(Vertex)), D3D_OK);
  device->EndScene();
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::UnsupportedDraw), before + 1);
  EXPECT_EQ(Pixel(40, 20), 0xFF000000u);
}

TEST_F(D3D9RasterTest, IndexedStripGridDrawsLikeTheList) {
  IDirect3DTexture9* texture = MakeTexture(8, 8, TestTexel);
  device->SetTexture(0, texture);
  // A 3 x 2 grid of vertices over an 8 x 8 area, drawn as one strip of four triangles.
  TexturedVertex grid[6];
  for (int i = 0; i < 6; ++i) {
    int col = i % 3, row = i / 3;
    grid[i] = {9.5f + col * 4, 19.5f + row * 8,        0.2f, 1, 0xFFFFFFFF,
               col * 0.5f,     static_cast<float>(row)};
  }
  const WORD indices[6] = {0, 3, 1, 4, 2, 5};
  device->SetFVF(TexturedFvf);
  device->BeginScene();
  ASSERT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLESTRIP, 0, 6, 4, indices, D3DFMT_INDEX16,
                                           grid, sizeof(TexturedVertex)),
            D3D_OK);
  device->EndScene();
  for (int y = 18; y < 30; ++y)
    for (int x = 8; x < 20; ++x) {
      bool inside = x >= 10 && x < 18 && y >= 20 && y < 28;
      ASSERT_EQ(Pixel(x, y), inside ? TestTexel(x - 10, y - 20) : 0xFF000000u) << x << "," << y;
    }
  device->SetTexture(0, nullptr);
  texture->Release();
}

TEST_F(D3D9RasterTest, OnePointCoversTheNearestPixel) {
  ColorVertex points[2] = {{0, 0, 0, 1, 0xFFFFFFFF}, {5.5f, 7.25f, 0, 1, 0xFF00FF00}};
  device->SetFVF(ColorFvf);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  device->BeginScene();
  ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 2, points, sizeof(ColorVertex)), D3D_OK);
  device->EndScene();
  int lit = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) lit += Pixel(x, y) != 0xFF000000u;
  EXPECT_EQ(lit, 2);
  EXPECT_EQ(Pixel(0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(Pixel(5, 7), 0xFF00FF00u);
}

TEST_F(D3D9RasterTest, SixteenBitTargetStoresRoundedChannels) {
  MakeDevice(16, 16, D3DFMT_R5G6B5);
  ASSERT_EQ(DrawColorQuad(0, 0, 4, 4, 0xFF808080), D3D_OK);
  D3DLOCKED_RECT locked;
  ASSERT_EQ(backBuffer->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
  WORD value;
  std::memcpy(&value, locked.pBits, 2);
  backBuffer->UnlockRect();
  // 128 -> 16 of 31 and 32 of 63.
  EXPECT_EQ(value, (16 << 11) | (32 << 5) | 16);
}

TEST_F(D3D9RasterTest, DepthTestedDrawsAreCountedAndDrawNothing) {
  IDirect3DSurface9* depth = nullptr;
  ASSERT_EQ(device->CreateDepthStencilSurface(64, 64, D3DFMT_D16, D3DMULTISAMPLE_NONE, 0, TRUE,
                                              &depth, nullptr),
            D3D_OK);
  ASSERT_EQ(device->SetDepthStencilSurface(depth), D3D_OK);
  EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
  device->SetRenderState(D3DRS_ZENABLE, TRUE);
  int before = D3D9GetCallCount(D3D9Counter::UnsupportedDraw);
  ASSERT_EQ(DrawColorQuad(0, 0, 4, 4, 0xFFFFFFFF), D3D_OK);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::UnsupportedDraw), before + 1);
  EXPECT_EQ(Pixel(1, 1), 0xFF000000u);
  // Without a depth buffer, or with a test that always passes and writes nothing, it draws.
  device->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
  device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  ASSERT_EQ(DrawColorQuad(0, 0, 4, 4, 0xFFFFFFFF), D3D_OK);
  EXPECT_EQ(Pixel(1, 1), 0xFFFFFFFFu);
  device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
  device->SetDepthStencilSurface(nullptr);
  EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3DERR_INVALIDCALL);
  ASSERT_EQ(DrawColorQuad(4, 4, 8, 8, 0xFFFFFFFF), D3D_OK);
  EXPECT_EQ(Pixel(5, 5), 0xFFFFFFFFu);
  EXPECT_EQ(D3D9GetCallCount(D3D9Counter::UnsupportedDraw), before + 1);
  depth->Release();
}

TEST_F(D3D9RasterTest, DrawOutsideASceneFailsAndDrawsNothing) {
  ColorVertex v[3] = {{0, 0, 0, 1, 0xFFFFFFFF}, {8, 0, 0, 1, 0}, {0, 8, 0, 1, 0}};
  device->SetFVF(ColorFvf);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(ColorVertex)),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(Pixel(1, 1), 0xFF000000u);
  EXPECT_EQ(device->EndScene(), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->BeginScene(), D3D_OK);
  EXPECT_EQ(device->BeginScene(), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->EndScene(), D3D_OK);
}

TEST_F(D3D9RasterTest, PresentShowsTheFrameAndLeavesTheBackBuffer) {
  IDirect3DTexture9* texture = MakeTexture(8, 8, TestTexel);
  device->SetTexture(0, texture);
  ASSERT_EQ(DrawTextured(Quad(9.5f, 19.5f, 17.5f, 27.5f)), D3D_OK);
  std::vector<std::uint32_t> before = Snapshot();
  ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  EXPECT_EQ(Snapshot(), before);
  D3D9Image image;
  ASSERT_TRUE(D3D9GetLastPresentedImage(&image));
  ASSERT_EQ(image.width, 64);
  ASSERT_EQ(image.height, 48);
  EXPECT_EQ(image.pixels, before);
  // Presented again, the same frame shows again.
  ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  ASSERT_TRUE(D3D9GetLastPresentedImage(&image));
  EXPECT_EQ(image.pixels, before);
  device->SetTexture(0, nullptr);
  texture->Release();
}

TEST_F(D3D9RasterTest, PresentScalesSourceRectangleToDestination) {
  ASSERT_EQ(DrawColorQuad(0, 0, 2, 2, 0xFFFF0000), D3D_OK);
  RECT source = {0, 0, 4, 4};
  RECT dest = {0, 0, 8, 8};
  ASSERT_EQ(device->Present(&source, &dest, nullptr, nullptr), D3D_OK);
  D3D9Image image;
  ASSERT_TRUE(D3D9GetLastPresentedImage(&image));
  ASSERT_EQ(image.width, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(image.pixels[y * 8 + x], (x < 4 && y < 4) ? 0xFFFF0000u : 0xFF000000u)
          << x << "," << y;
}

}  // namespace
