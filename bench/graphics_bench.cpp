// The game's frame through the whole engine path (draw calls, vertex batch, device state cache,
// CPU Direct3D device, present): 600 sprites of 32 x 32 cut from one sheet and a full-screen
// stretch of a 320 x 240 picture, alone and together, on the engine started headless.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>

#include "engine.h"
#include "files/color_convert.h"
#include "files/color_format.h"
#include "graphics/draw_settings.h"
#include "graphics/graph_record.h"
#include "graphics/graphics_public.h"
#include "platform/clock.h"
#include "system/log.h"

namespace {

struct EngineScene {
  int sprites[16] = {};
  int picture = -1;
  bool ready = false;

  EngineScene() {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    SetPlatformVirtualTime(true);
    SetLogOutput(0);
    ChangeWindowMode(1);
    SetWindowTitle("graphics bench");
    // Measure drawing and the copy to the window, not the wait for the blank.
    SetWaitForVerticalSync(0);
    if (InitializeEngine() != 0) return;
    StandardImage sheet{};
    CreateXRGB8StandardImage(128, 128, &sheet);
    for (int y = 0; y < 128; ++y)
      for (int x = 0; x < 128; ++x) {
        // Each sprite: a black (transparent) border around a coloured body.
        const bool body = x % 32 >= 4 && x % 32 < 28 && y % 32 >= 4 && y % 32 < 28;
        SetStandardImagePixel(&sheet, x, y, body ? x * 2 : 0, body ? y * 2 : 0, body ? 200 : 0,
                              255);
      }
    const bool made =
        CreateDivGraphFromGraphImage(&sheet, nullptr, 16, 4, 4, 32, 32, sprites, 0, 0, 0) == 0;
    ReleaseStandardImage(&sheet);
    StandardImage back{};
    CreateXRGB8StandardImage(320, 240, &back);
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 320; ++x)
        SetStandardImagePixel(&back, x, y, x % 256, y, (x + y) % 256, 255);
    picture = CreateGraphFromImage(&back, nullptr, 0, 0, 0);
    ReleaseStandardImage(&back);
    ready = made && picture != -1;
  }
  ~EngineScene() { ShutdownEngine(); }

  void DrawSprites() const {
    for (int i = 0; i < 600; ++i)
      DrawGraphAtPoint((i * 37) % 620 - 10, (i * 53) % 460 - 10, sprites[i % 16], 1);
  }
  void DrawStretch() const { DrawGraphStretched(0, 0, 640, 480, picture, 0); }
};

EngineScene& Scene() {
  static EngineScene scene;
  return scene;
}

template <class Draw>
void RunFrames(benchmark::State& state, Draw draw) {
  EngineScene& scene = Scene();
  if (!scene.ready) {
    state.SkipWithError("the engine did not start");
    return;
  }
  for (auto _ : state) {
    ClearDrawTarget();
    draw(scene);
    PresentFrame();
  }
  state.SetItemsProcessed(state.iterations());
}

void GameFrame(benchmark::State& state) {
  RunFrames(state, [](const EngineScene& scene) {
    scene.DrawStretch();
    scene.DrawSprites();
  });
}
BENCHMARK(GameFrame)->Unit(benchmark::kMillisecond);

void SixHundredSprites(benchmark::State& state) {
  RunFrames(state, [](const EngineScene& scene) { scene.DrawSprites(); });
}
BENCHMARK(SixHundredSprites)->Unit(benchmark::kMillisecond);

void FullScreenStretch(benchmark::State& state) {
  RunFrames(state, [](const EngineScene& scene) { scene.DrawStretch(); });
}
BENCHMARK(FullScreenStretch)->Unit(benchmark::kMillisecond);

void ClearAndPresentOnly(benchmark::State& state) {
  RunFrames(state, [](const EngineScene&) {});
}
BENCHMARK(ClearAndPresentOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
