// Fill rate of the CPU Direct3D 9 device: the game's frame (point-sampled, alpha-tested 32 x 32
// quads on a 640 x 480 target) beside SDL2's software renderer and pixman drawing the same
// pixels, a full-screen stretched quad, and a clear with a present, in pixels per second.
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "bench/side_by_side.h"
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
    p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;  // the sprite scene reads its frame back
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

// The game's scene: 300 sprites of 32 x 32 (an opaque body in a transparent border), drawn
// alpha-tested by the CPU device in one batch, as the engine sends them; and the same scene by
// SDL2's software renderer and by pixman, which blend the same texels to the same pixels.
constexpr int kSprites = 300;
constexpr int kSpriteSize = 32;

std::uint32_t SpriteTexel(int x, int y) {
  bool body = x >= 4 && y >= 4 && x < kSpriteSize - 4 && y < kSpriteSize - 4;
  return body ? 0xFF000000u | (x * 0x010305) | (y << 8) : 0;
}

int SpriteX(int i) { return (i * 37) % 608; }
int SpriteY(int i) { return (i * 53) % 448; }

std::vector<Vertex> SpriteQuads() {
  std::vector<Vertex> vertices;
  for (int i = 0; i < kSprites; ++i) {
    float x = static_cast<float>(SpriteX(i)) - 0.5f, y = static_cast<float>(SpriteY(i)) - 0.5f;
    AddQuad(vertices, x, y, x + kSpriteSize, y + kSpriteSize);
  }
  return vertices;
}

void DrawSpritesWithDevice(Scene& scene, const std::vector<Vertex>& vertices) {
  scene.device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  scene.device->BeginScene();
  scene.device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(vertices.size() / 3),
                                vertices.data(), sizeof(Vertex));
  scene.device->EndScene();
}

std::vector<std::uint32_t> DeviceFrame(Scene& scene) {
  IDirect3DSurface9* back = nullptr;
  scene.device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
  D3DLOCKED_RECT locked;
  std::vector<std::uint32_t> frame(640 * 480);
  if (back->LockRect(&locked, nullptr, D3DLOCK_READONLY) != D3D_OK) {
    back->Release();
    return {};
  }
  for (int y = 0; y < 480; ++y)
    std::memcpy(frame.data() + y * 640, static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch,
                640 * 4);
  back->UnlockRect();
  back->Release();
  return frame;
}

struct SdlScene {
  std::vector<std::uint32_t> texels = std::vector<std::uint32_t>(kSpriteSize * kSpriteSize);
  SDL_Surface* target = SDL_CreateRGBSurfaceWithFormat(0, 640, 480, 32, SDL_PIXELFORMAT_RGB888);
  SDL_Renderer* renderer = SDL_CreateSoftwareRenderer(target);
  SDL_Texture* texture = nullptr;
  SdlScene() {
    for (int y = 0; y < kSpriteSize; ++y)
      for (int x = 0; x < kSpriteSize; ++x) texels[y * kSpriteSize + x] = SpriteTexel(x, y);
    texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC,
                                kSpriteSize, kSpriteSize);
    SDL_UpdateTexture(texture, nullptr, texels.data(), kSpriteSize * 4);
    SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
  }
  ~SdlScene() {
    SDL_DestroyTexture(texture);
    SDL_DestroyRenderer(renderer);
    SDL_FreeSurface(target);
  }
  void Draw() {
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
    SDL_RenderClear(renderer);
    for (int i = 0; i < kSprites; ++i) {
      SDL_Rect to{SpriteX(i), SpriteY(i), kSpriteSize, kSpriteSize};
      SDL_RenderCopy(renderer, texture, nullptr, &to);
    }
    SDL_RenderFlush(renderer);
  }
  std::uint32_t Pixel(int x, int y) const {
    return static_cast<const std::uint32_t*>(target->pixels)[y * target->pitch / 4 + x];
  }
};

struct PixmanScene {
  std::vector<std::uint32_t> texels = std::vector<std::uint32_t>(kSpriteSize * kSpriteSize);
  std::vector<std::uint32_t> frame = std::vector<std::uint32_t>(640 * 480);
  pixman_image_t* source;
  pixman_image_t* target;
  PixmanScene() {
    for (int y = 0; y < kSpriteSize; ++y)
      for (int x = 0; x < kSpriteSize; ++x) texels[y * kSpriteSize + x] = SpriteTexel(x, y);
    source = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSpriteSize, kSpriteSize, texels.data(),
                                      kSpriteSize * 4);
    target = pixman_image_create_bits(PIXMAN_x8r8g8b8, 640, 480, frame.data(), 640 * 4);
  }
  ~PixmanScene() {
    pixman_image_unref(source);
    pixman_image_unref(target);
  }
  void Draw() {
    std::memset(frame.data(), 0, frame.size() * 4);
    for (int i = 0; i < kSprites; ++i)
      pixman_image_composite32(PIXMAN_OP_OVER, source, nullptr, target, 0, 0, 0, 0, SpriteX(i),
                               SpriteY(i), kSpriteSize, kSpriteSize);
  }
};

// The label says whether the three frames agree, in red, green and blue.
const char* SameSprites() {
  static const char* verdict = [] {
    Scene scene(kSpriteSize, kSpriteSize);
    DrawSpritesWithDevice(scene, SpriteQuads());
    std::vector<std::uint32_t> device = DeviceFrame(scene);
    if (device.empty()) return "NO FRAME READ";
    SdlScene sdl;
    sdl.Draw();
    PixmanScene pixman;
    pixman.Draw();
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) {
        std::uint32_t d = device[y * 640 + x] & 0xFFFFFF;
        if ((sdl.Pixel(x, y) & 0xFFFFFF) != d || (pixman.frame[y * 640 + x] & 0xFFFFFF) != d)
          return "PIXELS DIFFER";
      }
    return "same pixels";
  }();
  return verdict;
}

void SpritesDevice(benchmark::State& state) {
  Scene scene(kSpriteSize, kSpriteSize);
  std::vector<Vertex> vertices = SpriteQuads();
  for (auto _ : state) DrawSpritesWithDevice(scene, vertices);
  state.SetItemsProcessed(state.iterations() * kSprites * kSpriteSize * kSpriteSize);
  state.SetLabel(SameSprites());
}
BENCHMARK(SpritesDevice)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

void SpritesSdlSoftwareRenderer(benchmark::State& state) {
  SdlScene scene;
  for (auto _ : state) scene.Draw();
  state.SetItemsProcessed(state.iterations() * kSprites * kSpriteSize * kSpriteSize);
  state.SetLabel(SameSprites());
}
BENCHMARK(SpritesSdlSoftwareRenderer)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

void SpritesPixman(benchmark::State& state) {
  PixmanScene scene;
  for (auto _ : state) scene.Draw();
  state.SetItemsProcessed(state.iterations() * kSprites * kSpriteSize * kSpriteSize);
  state.SetLabel(SameSprites());
}
BENCHMARK(SpritesPixman)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

// The device against SDL2's software renderer and pixman side by side: each round draws the scene
// with all three, and the counters are the medians of the rounds' time ratios (device / other).
void SpritesDeviceRatio(benchmark::State& state) {
  Scene scene(kSpriteSize, kSpriteSize);
  std::vector<Vertex> vertices = SpriteQuads();
  SdlScene sdl;
  PixmanScene pixman;
  std::vector<double> toSdl, toPixman;
  for (auto _ : state) {
    const auto t0 = Now();
    DrawSpritesWithDevice(scene, vertices);
    const auto t1 = Now();
    sdl.Draw();
    const auto t2 = Now();
    pixman.Draw();
    const auto t3 = Now();
    toSdl.push_back((t1 - t0) / (t2 - t1));
    toPixman.push_back((t1 - t0) / (t3 - t2));
  }
  state.counters["vs_sdl"] = Median(toSdl);
  state.counters["vs_pixman"] = Median(toPixman);
  state.SetLabel(SameSprites());
}
BENCHMARK(SpritesDeviceRatio)->Unit(benchmark::kMillisecond);

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
