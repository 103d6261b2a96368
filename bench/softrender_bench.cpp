// The software kernels against reference compositors on the same buffers: pixman, SDL2's surface
// blitter and memcpy, in ns per written pixel, for sprite-sized (32 x 32) and screen-sized
// (640 x 480) draws, 32-bit and 16-bit, for copy, colour-key copy, alpha blend, add and the x2
// stretched copy. Every pair is checked on identical input before it is timed, so that a refused
// or wrong call cannot look fast: exact pairs must give the same bytes, the others the same
// pixels within a small tolerance.
//
// pixman picks its SIMD code when it starts; run once as is and once with
// PIXMAN_DISABLE="mmx sse2 ssse3 sse4.1 avx2" for its generic C code (the label says which).
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/side_by_side.h"
#include "softrender/software_kernels.h"

namespace {

constexpr int kBlendParam = 160;
constexpr uint32_t kKey32 = 0xFFFF00FFu;
constexpr uint32_t kKey16 = 0xF81Fu;

enum class Op { Copy, KeyCopy, Alpha, Add, Stretch };

const char* OpName(Op op) {
  switch (op) {
    case Op::Copy: return "copy";
    case Op::KeyCopy: return "key_copy";
    case Op::Alpha: return "alpha";
    case Op::Add: return "add";
    default: return "stretch_x2";
  }
}

// One draw's buffers: the source (half size for the stretch), its keyed ARGB twin for pixman's
// OVER, and the destination, all owned here and wrapped by every implementation.
struct Scene {
  int width;
  int height;
  int type;  // 1: 32-bit, 0: 16-bit 5:6:5
  int bytes;
  int sourceWidth;
  int sourceHeight;
  int sourcePitch;
  int destPitch;
  std::vector<uint8_t> source;
  std::vector<uint8_t> keyedArgb;  // 32-bit a8r8g8b8: alpha 0 at key pixels, 255 elsewhere
  std::vector<uint8_t> dest;
  std::vector<uint8_t> start;
  MEMIMG sourceImage{};
  MEMIMG destImage{};

  ~Scene() {
    ReleaseMEMIMG(&sourceImage);
    ReleaseMEMIMG(&destImage);
  }
};

uint32_t Pixel(const std::vector<uint8_t>& b, size_t offset, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint32_t{b[offset + i]} << (8 * i);
  return v;
}

// Sprite-like content: a transparent border and about a third of keyed pixels in runs.
std::unique_ptr<Scene> MakeScene(int width, int height, int type, Op op) {
  auto s = std::make_unique<Scene>();
  s->width = width;
  s->height = height;
  s->type = type;
  s->bytes = type == 1 ? 4 : 2;
  s->sourceWidth = op == Op::Stretch ? width / 2 : width;
  s->sourceHeight = op == Op::Stretch ? height / 2 : height;
  s->sourcePitch = (s->sourceWidth * s->bytes + 15) & ~15;
  s->destPitch = (width * s->bytes + 15) & ~15;
  s->source.resize(static_cast<size_t>(s->sourcePitch) * s->sourceHeight);
  s->keyedArgb.resize(static_cast<size_t>(s->sourceWidth) * 4 * s->sourceHeight);
  s->dest.resize(static_cast<size_t>(s->destPitch) * height);
  std::mt19937 rng(7);
  uint32_t key = type == 1 ? kKey32 : kKey16;
  for (int y = 0; y < s->sourceHeight; ++y) {
    bool runKeyed = false;
    for (int x = 0; x < s->sourceWidth; ++x) {
      if (rng() % 8 == 0) runKeyed = !runKeyed;
      bool border = x < 2 || y < 2 || x >= s->sourceWidth - 2 || y >= s->sourceHeight - 2;
      bool keyed = border || runKeyed;
      uint32_t v = type == 1 ? (0xFF000000u | (rng() & 0xFFFFFF)) : (rng() & 0xFFFF);
      if (v == key) v ^= 1;
      if (keyed) v = key;
      uint8_t* p = &s->source[static_cast<size_t>(y) * s->sourcePitch + x * s->bytes];
      for (int i = 0; i < s->bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
      uint32_t argb;
      if (type == 1) {
        argb = keyed ? 0 : v;
      } else {
        uint32_t r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
        argb = keyed ? 0 : (0xFF000000u | (r << 19) | (g << 10) | (b << 3));
      }
      std::memcpy(&s->keyedArgb[(static_cast<size_t>(y) * s->sourceWidth + x) * 4], &argb, 4);
    }
  }
  for (auto& b : s->dest) b = static_cast<uint8_t>(rng());
  s->start = s->dest;
  CreateMEMIMG(&s->sourceImage, s->sourceWidth, s->sourceHeight, s->sourcePitch, key, type, 0, 0, 0,
               s->source.data());
  CreateMEMIMG(&s->destImage, width, height, s->destPitch, 0, type, 0, 0, 0, s->dest.data());
  return s;
}

// The draw settings that the kernels are given.
KernelDrawSettings kernelSettings{};

void SetDrawSettings(Op op, int width, int height) {
  kernelSettings =
      KernelDrawSettings{op == Op::Alpha ? 1
                         : op == Op::Add ? 2
                                         : 0,
                         op == Op::Alpha ? kBlendParam : 255, 0xFFFFFF, RECT{0, 0, width, height}};
}

void DrawWithKernels(Scene& s, Op op) {
  if (op == Op::Stretch) {
    int32_t rect[4] = {0, 0, s.width, s.height};
    DrawMEMIMGStretched(&s.destImage, &s.sourceImage, rect, 0, nullptr, &kernelSettings);
  } else {
    DrawMEMIMGAtPosition(&s.destImage, &s.sourceImage, 0, 0, op == Op::KeyCopy ? 1 : 0, nullptr,
                         &kernelSettings);
  }
}

void DrawWithMemcpy(Scene& s, Op) {
  for (int y = 0; y < s.height; ++y)
    std::memcpy(&s.dest[static_cast<size_t>(y) * s.destPitch],
                &s.source[static_cast<size_t>(y) * s.sourcePitch],
                static_cast<size_t>(s.width) * s.bytes);
}

// pixman adds 32-bit pixels quickly only with an alpha channel (a8r8g8b8); on x8r8g8b8 it takes
// its general path. The colours come out the same either way, so the add is given the fast one.
pixman_format_code_t PixmanFormat(int type, Op op) {
  if (type != 1) return PIXMAN_r5g6b5;
  return op == Op::Add ? PIXMAN_a8r8g8b8 : PIXMAN_x8r8g8b8;
}

void DrawWithPixman(Scene& s, Op op) {
  pixman_image_t* dst =
      pixman_image_create_bits(PixmanFormat(s.type, op), s.width, s.height,
                               reinterpret_cast<uint32_t*>(s.dest.data()), s.destPitch);
  pixman_image_t* src;
  if (op == Op::KeyCopy)
    src = pixman_image_create_bits(PIXMAN_a8r8g8b8, s.sourceWidth, s.sourceHeight,
                                   reinterpret_cast<uint32_t*>(s.keyedArgb.data()),
                                   s.sourceWidth * 4);
  else
    src = pixman_image_create_bits(PixmanFormat(s.type, op), s.sourceWidth, s.sourceHeight,
                                   reinterpret_cast<uint32_t*>(s.source.data()), s.sourcePitch);
  pixman_image_t* mask = nullptr;
  pixman_op_t pop = PIXMAN_OP_SRC;
  if (op == Op::KeyCopy) {
    pop = PIXMAN_OP_OVER;
  } else if (op == Op::Alpha) {
    pixman_color_t c{0, 0, 0, static_cast<uint16_t>(kBlendParam * 257)};
    mask = pixman_image_create_solid_fill(&c);
    pop = PIXMAN_OP_OVER;
  } else if (op == Op::Add) {
    pop = PIXMAN_OP_ADD;
  } else if (op == Op::Stretch) {
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(0.5), pixman_double_to_fixed(0.5));
    pixman_image_set_transform(src, &t);
    pixman_image_set_filter(src, PIXMAN_FILTER_NEAREST, nullptr, 0);
  }
  pixman_image_composite32(pop, src, mask, dst, 0, 0, 0, 0, 0, 0, s.width, s.height);
  if (mask) pixman_image_unref(mask);
  pixman_image_unref(src);
  pixman_image_unref(dst);
}

void DrawWithSdl(Scene& s, Op op) {
  uint32_t format = s.type == 1 ? SDL_PIXELFORMAT_XRGB8888 : SDL_PIXELFORMAT_RGB565;
  SDL_Surface* src = SDL_CreateRGBSurfaceWithFormatFrom(
      s.source.data(), s.sourceWidth, s.sourceHeight, s.bytes * 8, s.sourcePitch, format);
  SDL_Surface* dst = SDL_CreateRGBSurfaceWithFormatFrom(s.dest.data(), s.width, s.height,
                                                        s.bytes * 8, s.destPitch, format);
  SDL_SetSurfaceBlendMode(src, op == Op::Add     ? SDL_BLENDMODE_ADD
                               : op == Op::Alpha ? SDL_BLENDMODE_BLEND
                                                 : SDL_BLENDMODE_NONE);
  if (op == Op::Alpha) SDL_SetSurfaceAlphaMod(src, kBlendParam);
  if (op == Op::KeyCopy) SDL_SetColorKey(src, SDL_TRUE, s.type == 1 ? kKey32 : kKey16);
  if (op == Op::Stretch)
    SDL_BlitScaled(src, nullptr, dst, nullptr);
  else
    SDL_BlitSurface(src, nullptr, dst, nullptr);
  SDL_FreeSurface(src);
  SDL_FreeSurface(dst);
}

// The largest difference of a colour channel between two destinations (fourth bytes ignored).
int LargestDifference(const Scene& s, const std::vector<uint8_t>& a,
                      const std::vector<uint8_t>& b) {
  int largest = 0;
  for (int y = 0; y < s.height; ++y)
    for (int x = 0; x < s.width; ++x) {
      size_t o = static_cast<size_t>(y) * s.destPitch + x * s.bytes;
      uint32_t pa = Pixel(a, o, s.bytes), pb = Pixel(b, o, s.bytes);
      for (int c = 0; c < 3; ++c) {
        int shift = s.type == 1 ? 8 * c : (c == 0 ? 0 : c == 1 ? 5 : 11);
        int mask = s.type == 1 ? 0xFF : (c == 1 ? 63 : 31);
        int d = static_cast<int>((pa >> shift) & mask) - static_cast<int>((pb >> shift) & mask);
        largest = std::max(largest, std::abs(d));
      }
    }
  return largest;
}

using DrawFunction = void (*)(Scene&, Op);

void Run(benchmark::State& state, DrawFunction draw, Op op, int type, int width, int height,
         int tolerance) {
  auto scene = MakeScene(width, height, type, op);
  SetDrawSettings(op, width, height);
  DrawWithKernels(*scene, op);
  std::vector<uint8_t> reference = scene->dest;
  scene->dest = scene->start;
  draw(*scene, op);
  if (reference == scene->start) {
    state.SkipWithError("the kernels drew nothing");
    return;
  }
  int difference = LargestDifference(*scene, reference, scene->dest);
  if (difference > tolerance) {
    state.SkipWithError(
        ("result differs from the kernels by " + std::to_string(difference)).c_str());
    return;
  }
  for (auto _ : state) {
    draw(*scene, op);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t{width} * height);
  const char* disabled = std::getenv("PIXMAN_DISABLE");
  if (draw == DrawWithPixman)
    state.SetLabel(disabled && *disabled ? "pixman generic C" : "pixman SIMD");
}

// The kernels against a reference side by side: each round draws with both, on scenes of their
// own, and the counter is the median of the rounds' time ratios (kernels / reference).
void RunRatio(benchmark::State& state, DrawFunction reference, Op op, int type, int width,
              int height) {
  auto mine = MakeScene(width, height, type, op);
  auto theirs = MakeScene(width, height, type, op);
  SetDrawSettings(op, width, height);
  std::vector<double> ratios;
  for (auto _ : state) {
    const auto t0 = Now();
    DrawWithKernels(*mine, op);
    benchmark::ClobberMemory();
    const auto t1 = Now();
    reference(*theirs, op);
    benchmark::ClobberMemory();
    const auto t2 = Now();
    ratios.push_back((t1 - t0) / (t2 - t1));
  }
  state.counters["ratio"] = Median(ratios);
}

// Registers every comparison; tolerances: 0 for exact pairs, a few steps where the rounding of
// the same operation differs.
int RegisterAll() {
  BuildMEMIMGBlendTables();
  struct Impl {
    const char* name;
    DrawFunction draw;
  };
  const Impl impls[] = {{"kernels", DrawWithKernels},
                        {"pixman", DrawWithPixman},
                        {"sdl", DrawWithSdl},
                        {"memcpy", DrawWithMemcpy}};
  const Op ops[] = {Op::Copy, Op::KeyCopy, Op::Alpha, Op::Add, Op::Stretch};
  const int sizes[][2] = {{32, 32}, {640, 480}};
  for (Op op : ops)
    for (int type : {1, 0})
      for (const auto& size : sizes)
        for (const Impl& impl : impls) {
          if (impl.draw == DrawWithMemcpy && op != Op::Copy) continue;
          int tolerance = op == Op::Alpha ? (type == 1 ? 2 : 2) : op == Op::Add ? 2 : 0;
          std::string name = std::string(OpName(op)) + "/" + (type == 1 ? "32bit" : "16bit") + "/" +
                             std::to_string(size[0]) + "x" + std::to_string(size[1]) + "/" +
                             impl.name;
          benchmark::RegisterBenchmark(name.c_str(), Run, impl.draw, op, type, size[0], size[1],
                                       tolerance);
        }
  // The figures the kernels are held to: 32-bit alpha, add and x2 stretch against pixman, the
  // copy against memcpy.
  for (Op op : {Op::Alpha, Op::Add, Op::Stretch, Op::Copy})
    for (const auto& size : sizes) {
      const bool copy = op == Op::Copy;
      std::string name = std::string("ratio/") + OpName(op) + "/32bit/" + std::to_string(size[0]) +
                         "x" + std::to_string(size[1]) +
                         (copy ? "/kernels_vs_memcpy" : "/kernels_vs_pixman");
      benchmark::RegisterBenchmark(name.c_str(), RunRatio, copy ? DrawWithMemcpy : DrawWithPixman,
                                   op, 1, size[0], size[1]);
    }
  return 0;
}

[[maybe_unused]] const int registered = RegisterAll();

}  // namespace

BENCHMARK_MAIN();
