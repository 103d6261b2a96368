// Text through the engine on the CPU Direct3D device: a 40-character line whose glyphs are all in
// the cache, against blitting the same pixels as one graph; and the same line with every glyph new,
// against FreeType rendering those glyphs alone. Each pair runs side by side; compare medians, or
// the median ratio of BM_CachedLineOverGraph, whose rounds draw both in turn.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>

#include "bench/side_by_side.h"
#include "engine.h"
#include "graphics/draw_settings.h"
#include "graphics/font.h"
#include "graphics/graph_record.h"
#include "graphics/graphics_public.h"
#include "graphics/vertex_batch.h"
#include "platform/clock.h"
#include "platform/d3d9/d3d9_controls.h"
#include "system/log.h"

namespace {

constexpr char kLine[] = "Pack my box with five dozen liquor jugs!";  // 40 characters
static_assert(sizeof kLine == 41);

struct TextScene {
  int font = -1;
  int graph = -1;
  int width = 0;
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  bool ready = false;

  TextScene() {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    SetPlatformVirtualTime(true);
    SetLogOutput(0);
    ChangeWindowMode(1);
    SetWindowTitle("font bench");
    SetWaitForVerticalSync(0);
    if (InitializeEngine() != 0) return;
    font = CreateFontToHandle(nullptr, 16, 4, 1, -1, 1, 0);
    const FontRecord* record = GetFontRecord(font);
    if (record == nullptr) return;
    width = DrawFontStringCore(0, 0, 0, 0, 1.0, 1.0, kLine, 0, nullptr, nullptr, 1, font, 0, 40, 0,
                               nullptr);
    // The reference graph: as many pixels as the line's box, with alpha-test transparency.
    SetUseAlphaTestFormat(1);
    graph = MakeEmptyGraph(width, record->lineHeight);
    SetUseAlphaTestFormat(0);
    FillGraphWithColor(graph, 255, 255, 255, 255);
    const char* path = GetFontFilePath(record->gdiFont);
    if (FT_Init_FreeType(&library) != 0 || path == nullptr ||
        FT_New_Face(library, path, 0, &face) != 0 || FT_Set_Pixel_Sizes(face, 0, 16) != 0)
      return;
    ready = graph != -1;
  }
  ~TextScene() {
    if (face) FT_Done_Face(face);
    if (library) FT_Done_FreeType(library);
    ShutdownEngine();
  }
};

TextScene& Scene() {
  static TextScene scene;
  return scene;
}

template <class Draw>
void Run(benchmark::State& state, Draw draw) {
  TextScene& scene = Scene();
  if (!scene.ready) {
    state.SkipWithError("the engine or the font did not start");
    return;
  }
  const uint32_t white = MakeScreenColorCode(255, 255, 255);
  const uint32_t black = MakeScreenColorCode(0, 0, 0);
  for (auto _ : state) {
    draw(scene, white, black);
    FlushVertexBatch();
  }
}

void BM_CachedLine(benchmark::State& state) {
  DrawStringWithFontHandle(0, 100, kLine, 0, Scene().font, 0, 0);
  Run(state, [](TextScene& scene, uint32_t white, uint32_t black) {
    DrawStringWithFontHandle(0, 100, kLine, white, scene.font, black, 0);
  });
}

void BM_SamePixelsAsAGraph(benchmark::State& state) {
  Run(state,
      [](TextScene& scene, uint32_t, uint32_t) { DrawGraphAtPoint(0, 100, scene.graph, 1); });
}

void BM_LineWithEveryGlyphNew(benchmark::State& state) {
  Run(state, [](TextScene& scene, uint32_t white, uint32_t black) {
    ResetFontGlyphCache(scene.font);
    DrawStringWithFontHandle(0, 100, kLine, white, scene.font, black, 0);
  });
}

void BM_FreeTypeAloneOnTheSameGlyphs(benchmark::State& state) {
  Run(state, [](TextScene& scene, uint32_t, uint32_t) {
    for (const char* c = kLine; c < kLine + 40; ++c) {
      FT_Load_Char(scene.face, static_cast<unsigned char>(*c),
                   FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_NO_BITMAP);
      benchmark::DoNotOptimize(scene.face->glyph->bitmap.buffer);
    }
  });
}

// The cached line and the graph in turn, each round timing ten of each: the median of the rounds'
// ratios holds on a loaded machine. The counters give the pixels the device covers for each.
void BM_CachedLineOverGraph(benchmark::State& state) {
  TextScene& scene = Scene();
  if (!scene.ready) {
    state.SkipWithError("the engine or the font did not start");
    return;
  }
  const uint32_t white = MakeScreenColorCode(255, 255, 255);
  const uint32_t black = MakeScreenColorCode(0, 0, 0);
  auto line = [&] {
    DrawStringWithFontHandle(0, 100, kLine, white, scene.font, black, 0);
    FlushVertexBatch();
  };
  auto graph = [&] {
    DrawGraphAtPoint(0, 100, scene.graph, 1);
    FlushVertexBatch();
  };
  auto covered = [](auto draw) {
    D3D9ResetCounters();
    draw();
    return static_cast<double>(D3D9GetCallCount(D3D9Counter::CoveredPixels));
  };
  state.counters["line_pixels"] = covered(line);
  state.counters["graph_pixels"] = covered(graph);
  std::vector<double> ratios;
  for (auto _ : state) {
    const double t0 = Now();
    for (int i = 0; i < 10; ++i) line();
    const double t1 = Now();
    for (int i = 0; i < 10; ++i) graph();
    const double t2 = Now();
    ratios.push_back((t1 - t0) / (t2 - t1));
  }
  state.counters["ratio"] = Median(ratios);
}

BENCHMARK(BM_CachedLine);
BENCHMARK(BM_SamePixelsAsAGraph);
BENCHMARK(BM_LineWithEveryGlyphNew);
BENCHMARK(BM_FreeTypeAloneOnTheSameGlyphs);
BENCHMARK(BM_CachedLineOverGraph);

}  // namespace

BENCHMARK_MAIN();
