// A CPU Direct3D 9 device on no window for the device tests, with helpers to fill textures,
// draw the engine's quads and read pixels back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_controls.h"

// The engine's 2D vertex layouts.
struct TexturedVertex {
  float x, y, z, rhw;
  DWORD color;
  float u, v;
};
constexpr DWORD TexturedFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
struct ColorVertex {
  float x, y, z, rhw;
  DWORD color;
};
constexpr DWORD ColorFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;

class D3D9DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    D3D9ResetControls();
    MakeDevice(64, 48, D3DFMT_X8R8G8B8);
  }

  void TearDown() override {
    ReleaseDevice();
    D3D9ResetControls();
  }

  void MakeDevice(UINT width, UINT height, D3DFORMAT format) {
    ReleaseDevice();
    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = width;
    p.BackBufferHeight = height;
    p.BackBufferFormat = format;
    p.BackBufferCount = 1;
    p.SwapEffect = D3DSWAPEFFECT_COPY;
    p.Windowed = TRUE;
    p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    p.PresentationInterval = D3DPRESENT_INTERVAL_ONE;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p,
                                &device),
              D3D_OK);
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer), D3D_OK);
    // The engine's 2D state: no lighting, no culling, flat shading, stage 0 shows the texture.
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
  }

  void ReleaseDevice() {
    if (backBuffer) backBuffer->Release();
    if (device) device->Release();
    if (d3d) d3d->Release();
    backBuffer = nullptr;
    device = nullptr;
    d3d = nullptr;
  }

  // 0xAARRGGBB of a pixel of a lockable surface in a 32-bit format.
  static std::uint32_t Pixel32(IDirect3DSurface9* surface, int x, int y) {
    D3DLOCKED_RECT locked;
    RECT r = {x, y, x + 1, y + 1};
    if (surface->LockRect(&locked, &r, D3DLOCK_READONLY) != D3D_OK) return 0xDEADBEEF;
    std::uint32_t v;
    std::memcpy(&v, locked.pBits, 4);
    surface->UnlockRect();
    return v;
  }

  std::uint32_t Pixel(int x, int y) { return Pixel32(backBuffer, x, y) | 0xFF000000u; }

  std::vector<std::uint32_t> Snapshot() {
    D3DSURFACE_DESC desc;
    backBuffer->GetDesc(&desc);
    std::vector<std::uint32_t> pixels;
    for (UINT y = 0; y < desc.Height; ++y)
      for (UINT x = 0; x < desc.Width; ++x)
        pixels.push_back(Pixel(static_cast<int>(x), static_cast<int>(y)));
    return pixels;
  }

  IDirect3DTexture9* MakeTexture(UINT width, UINT height,
                                 const std::function<std::uint32_t(int, int)>& texel,
                                 D3DFORMAT format = D3DFMT_A8R8G8B8) {
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(
        device->CreateTexture(width, height, 1, 0, format, D3DPOOL_MANAGED, &texture, nullptr),
        D3D_OK);
    if (!texture) return nullptr;
    D3DLOCKED_RECT locked;
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (UINT y = 0; y < height; ++y) {
      for (UINT x = 0; x < width; ++x) {
        // 16-bit formats take the low half of the value as stored bits.
        const int bytes = format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8 ? 4 : 2;
        std::uint32_t v = texel(static_cast<int>(x), static_cast<int>(y));
        std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch + x * bytes, &v,
                    static_cast<std::size_t>(bytes));
      }
    }
    texture->UnlockRect(0);
    return texture;
  }

  // The engine's quad: triangles (TL, TR, BL) and (BR, BL, TR), colour in vertices 0 and 3.
  static std::vector<TexturedVertex> Quad(float x1, float y1, float x2, float y2,
                                          DWORD color = 0xFFFFFFFF, float u1 = 0, float v1 = 0,
                                          float u2 = 1, float v2 = 1) {
    return {{x1, y1, 0.2f, 1, color, u1, v1},      {x2, y1, 0.2f, 1, 0x12345678, u2, v1},
            {x1, y2, 0.2f, 1, 0x9ABCDEF0, u1, v2}, {x2, y2, 0.2f, 1, color, u2, v2},
            {x1, y2, 0.2f, 1, 0x0F0F0F0F, u1, v2}, {x2, y1, 0.2f, 1, 0xF0F0F0F0, u2, v1}};
  }

  HRESULT DrawTextured(const std::vector<TexturedVertex>& vertices) {
    device->SetFVF(TexturedFvf);
    device->BeginScene();
    HRESULT hr = device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(vertices.size() / 3),
                                         vertices.data(), sizeof(TexturedVertex));
    device->EndScene();
    return hr;
  }

  // An untextured quad in the engine's layout, coloured by its diffuse colour alone.
  HRESULT DrawColorQuad(float x1, float y1, float x2, float y2, DWORD color) {
    ColorVertex v[6] = {{x1, y1, 0, 1, color}, {x2, y1, 0, 1, 0}, {x1, y2, 0, 1, 0},
                        {x2, y2, 0, 1, color}, {x1, y2, 0, 1, 0}, {x2, y1, 0, 1, 0}};
    device->SetFVF(ColorFvf);
    device->SetTexture(0, nullptr);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    device->BeginScene();
    HRESULT hr = device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(ColorVertex));
    device->EndScene();
    return hr;
  }

  IDirect3D9* d3d = nullptr;
  IDirect3DDevice9* device = nullptr;
  IDirect3DSurface9* backBuffer = nullptr;
};
