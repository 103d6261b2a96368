// Fill rate of the CPU Direct3D 9 device: the game's frame (point-sampled, alpha-tested 32 x 32
// quads on a 640 x 480 target) and a full-screen stretched quad, in pixels per second.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "platform/d3d9/d3d9.h"

namespace {

struct Vertex {
  float x, y, z, rhw;
  DWORD color;
  float u, v;
};

struct Scene {
  IDirect3D9* d3d = nullptr;
  IDirect3DDevice9* device = nullptr;
  IDirect3DTexture9* texture = nullptr;

  Scene(UINT textureWidth, UINT textureHeight) {
    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = 640;
    p.BackBufferHeight = 480;
    p.BackBufferFormat = D3DFMT_X8R8G8B8;
    p.SwapEffect = D3DSWAPEFFECT_COPY;
    p.Windowed = TRUE;
    p.PresentationInterval =
        D3DPRESENT_INTERVAL_IMMEDIATE;  // measure the copy, not the wait for the blank
    d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &device);
    device->CreateTexture(textureWidth, textureHeight, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                          &texture, nullptr);
    D3DLOCKED_RECT locked;
    texture->LockRect(0, &locked, nullptr, 0);
    for (UINT y = 0; y < textureHeight; ++y)
      for (UINT x = 0; x < textureWidth; ++x) {
        // A sprite: a transparent black border around an opaque body.
        bool body = x >= 4 && y >= 4 && x < textureWidth - 4 && y < textureHeight - 4;
        std::uint32_t texel = body ? 0xFF000000u | (x * 0x010305) | (y << 8) : 0;
        std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch + x * 4, &texel, 4);
      }
    texture->UnlockRect(0);
    // The game's per-frame state.
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    device->SetRenderState(D3DRS_ALPHAREF, 16);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTexture(0, texture);
    device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
  }

  ~Scene() {
    device->SetTexture(0, nullptr);
    texture->Release();
    device->Release();
    d3d->Release();
  }
};

void AddQuad(std::vector<Vertex>& out, float x1, float y1, float x2, float y2) {
  out.push_back({x1, y1, 0.2f, 1, 0xFFFFFFFF, 0, 0});
  out.push_back({x2, y1, 0.2f, 1, 0xFFFFFFFF, 1, 0});
  out.push_back({x1, y2, 0.2f, 1, 0xFFFFFFFF, 0, 1});
  out.push_back({x2, y2, 0.2f, 1, 0xFFFFFFFF, 1, 1});
  out.push_back({x1, y2, 0.2f, 1, 0xFFFFFFFF, 0, 1});
  out.push_back({x2, y1, 0.2f, 1, 0xFFFFFFFF, 1, 0});
}

// 300 sprites of 32 x 32 per frame, sent in batches of at most 389 quads as the engine does.
void GameSprites(benchmark::State& state) {
  Scene scene(32, 32);
  std::vector<Vertex> vertices;
  for (int i = 0; i < 300; ++i) {
    float x = static_cast<float>((i * 37) % 608) - 0.5f,
          y = static_cast<float>((i * 53) % 448) - 0.5f;
    AddQuad(vertices, x, y, x + 32, y + 32);
  }
  for (auto _ : state) {
    scene.device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    scene.device->BeginScene();
    scene.device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(vertices.size() / 3),
                                  vertices.data(), sizeof(Vertex));
    scene.device->EndScene();
  }
  state.SetItemsProcessed(state.iterations() * 300 * 32 * 32);
}
BENCHMARK(GameSprites)->Unit(benchmark::kMillisecond);

// A 320 x 240 picture stretched over the whole 640 x 480 target.
void FullScreenStretch(benchmark::State& state) {
  Scene scene(320, 240);
  scene.device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
  std::vector<Vertex> vertices;
  AddQuad(vertices, -0.5f, -0.5f, 639.5f, 479.5f);
  for (auto _ : state) {
    scene.device->BeginScene();
    scene.device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, vertices.data(), sizeof(Vertex));
    scene.device->EndScene();
  }
  state.SetItemsProcessed(state.iterations() * 640 * 480);
}
BENCHMARK(FullScreenStretch)->Unit(benchmark::kMillisecond);

// Clear and present of a 640 x 480 frame with no window (the copy into the client image).
void ClearAndPresent(benchmark::State& state) {
  Scene scene(32, 32);
  for (auto _ : state) {
    scene.device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF102030, 1.0f, 0);
    scene.device->Present(nullptr, nullptr, nullptr, nullptr);
  }
  state.SetItemsProcessed(state.iterations() * 640 * 480);
}
BENCHMARK(ClearAndPresent)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
