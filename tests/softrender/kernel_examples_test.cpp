// The worked examples of the blend modes, each drawn by the kernels and computed by the reference
// model: both must give the stated pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "softrender/software_kernels.h"
#include "tests/softrender/kernel_model.h"

namespace {

enum Path { kPoint, kStretched, kTriangle };
enum Kind { kPalette = 0, kDirect = 1, kAlpha = 2 };

constexpr uint32_t kOff = 0xFFFFFF;
constexpr uint32_t kNoKey = 0xDEADBEEF;

struct Example {
  const char* what;
  Path path;
  int type;
  int kind;
  int mode;
  int p;
  int g;            // blend-image weight, -1 for none
  uint32_t bright;  // 0xRRGGBB
  int trans;
  uint32_t d;  // destination pixel
  uint32_t s;  // source pixel (16-bit alpha: 5:6:5 | a << 16), or the palette entry
  uint32_t expected;
  uint32_t key = kNoKey;
};

uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return (r << 16) | (g << 8) | b; }

uint32_t F565(uint32_t r, uint32_t g, uint32_t b) { return (r << 11) | (g << 5) | b; }

const Example kExamples[] = {
    // Mode 0.
    {"16-bit bright 128 halves the fields", kPoint, 0, kDirect, 0, 0, -1, 0x808080, 0, 0, 0xFFFF,
     F565(15, 31, 15)},
    {"bright red 254 changes only red", kPoint, 1, kDirect, 0, 0, -1, 0xFEFFFF, 0, 0xAB000000,
     0x00C86432, 0xABC76432},
    {"blend weight 255 stops short", kPoint, 1, kDirect, 0, 0, 255, kOff, 0, 0x11000000, 0x00FFFFFF,
     0x11FEFEFE},
    {"blend weight 0 keeps", kStretched, 1, kDirect, 0, 0, 0, kOff, 0, 0x11223344, 0x00FFFFFF,
     0x11223344},
    {"point copies alpha 0 whole without transparency", kPoint, 1, kAlpha, 0, 0, -1, kOff, 0,
     0x99887766, 0x00FFFFFF, 0x00FFFFFF},
    {"stretched mixes alpha 255 without transparency", kStretched, 1, kAlpha, 0, 0, -1, kOff, 0,
     0x99000000, 0xFFFFFFFF, 0x99FEFEFE},
    {"triangle mixes alpha 0 to nothing", kTriangle, 1, kAlpha, 0, 0, -1, kOff, 0, 0x99887766,
     0x00FFFFFF, 0x99887766},
    {"alpha 255 with transparency is written whole", kTriangle, 1, kAlpha, 0, 0, -1, kOff, 1,
     0x99887766, 0xFF123456, 0xFF123456},
    {"16-bit alpha 255 writes the colour word", kPoint, 0, kAlpha, 0, 0, -1, kOff, 1, 0x0000,
     0xFF1234, 0x1234},
    {"key differing in the fourth byte is drawn", kPoint, 1, kDirect, 0, 0, -1, kOff, 1, 0,
     0x00123456, 0x00123456, 0xFF123456},
    {"palette key is skipped", kStretched, 1, kPalette, 0, 0, -1, kOff, 1, 0x55555555, 0x00010203,
     0x55555555, 1},
    // Mode 1.
    {"half-sum at p 128 clears the fourth byte", kPoint, 1, kDirect, 1, 128, -1, kOff, 0,
     0x77010101, 0x00010101, 0x00000000},
    {"half-sum of white", kPoint, 1, kDirect, 1, 128, -1, kOff, 0, 0x00FFFFFF, 0x00FFFFFF,
     0x00FEFEFE},
    {"stretched p 128 is an ordinary step", kStretched, 1, kDirect, 1, 128, -1, kOff, 0, 0x77010101,
     0x00010101, 0x77010101},
    {"darkening step floors", kPoint, 1, kDirect, 1, 1, -1, kOff, 0, 0x000000FF, 0x00000000,
     0x000000FE},
    {"brightening step stops short", kPoint, 1, kDirect, 1, 1, -1, kOff, 0, 0x00000000, 0x000000FF,
     0x00000000},
    {"16-bit signed step keeps 31 at p 1", kStretched, 0, kDirect, 1, 1, -1, kOff, 0,
     F565(0, 0, 31), 0, F565(0, 0, 31)},
    {"16-bit 64-level mix at p 252", kPoint, 0, kDirect, 1, 252, -1, kOff, 0, 0, F565(0, 0, 31),
     F565(0, 0, 31)},
    {"16-bit signed step at p 252", kStretched, 0, kDirect, 1, 252, -1, kOff, 0, 0, F565(0, 0, 31),
     F565(0, 0, 30)},
    {"alpha 255 with transparency", kPoint, 1, kAlpha, 1, 254, -1, kOff, 1, 0, 0xFF0000FF,
     0x000000FD},
    {"alpha 255 without transparency", kPoint, 1, kAlpha, 1, 254, -1, kOff, 0, 0, 0xFF0000FF,
     0x000000FC},
    {"blend weight 255 at p 254", kPoint, 1, kDirect, 1, 254, 255, kOff, 0, 0, 0x000000FF,
     0x000000FC},
    // Mode 2.
    {"packed add keeps low bits", kStretched, 1, kDirect, 2, 255, -1, kOff, 0, 0x00010101,
     0x00010101, 0x00010102},
    {"unscaled fast add drops low bits", kPoint, 1, kDirect, 2, 255, -1, kOff, 0, 0x00010101,
     0x00010101, 0x00000002},
    {"blue carry lands in green", kStretched, 1, kDirect, 2, 255, -1, kOff, 0, 0x000000FF,
     0x00000001, 0x000001FF},
    {"red overflow in the fourth byte", kStretched, 1, kDirect, 2, 255, -1, kOff, 0, 0x00800000,
     0x00800000, 0x01FF0000},
    {"fourth byte lost", kStretched, 1, kDirect, 2, 255, -1, kOff, 0, 0xAB7F7F7F, 0x00808080,
     0x00FFFFFF},
    {"red 255 plus 1", kStretched, 1, kDirect, 2, 255, -1, kOff, 0, 0x00FF0000, 0x00010000,
     0x00FF0000},
    {"red 255 plus 1, fast", kPoint, 1, kDirect, 2, 255, -1, kOff, 0, 0x00FF0000, 0x00010000,
     0x00FE0000},
    {"565 blue carry", kStretched, 0, kDirect, 2, 255, -1, kOff, 0, F565(0, 0, 31), F565(0, 0, 1),
     F565(0, 1, 31)},
    {"565 green 62 + 2", kStretched, 0, kDirect, 2, 255, -1, kOff, 0, F565(0, 62, 0), F565(0, 2, 0),
     F565(1, 62, 0)},
    {"565 green 63 + 2", kStretched, 0, kDirect, 2, 255, -1, kOff, 0, F565(0, 63, 0), F565(0, 2, 0),
     F565(1, 63, 0)},
    {"565 red 16 + 16", kStretched, 0, kDirect, 2, 255, -1, kOff, 0, F565(16, 0, 0), F565(16, 0, 0),
     F565(31, 0, 0)},
    {"565 ones", kStretched, 0, kDirect, 2, 255, -1, kOff, 0, F565(1, 1, 1), F565(1, 1, 1),
     F565(1, 1, 2)},
    {"565 lone fast add", kPoint, 0, kDirect, 2, 255, -1, kOff, 0, F565(1, 1, 1), F565(1, 1, 1),
     F565(0, 0, 2)},
    {"565 lone fast red", kPoint, 0, kDirect, 2, 255, -1, kOff, 0, F565(31, 0, 0), F565(1, 0, 0),
     F565(30, 0, 0)},
    {"alpha 255 add with transparency", kPoint, 1, kAlpha, 2, 254, -1, kOff, 1, 0, 0xFF0000FF,
     0x000000FE},
    {"alpha 255 add without", kPoint, 1, kAlpha, 2, 254, -1, kOff, 0, 0, 0xFF0000FF, 0x000000FC},
    {"alpha 0 add without transparency clears the fourth byte", kPoint, 1, kAlpha, 2, 200, -1, kOff,
     0, 0xAA102030, 0x00FFFFFF, 0x00102030},
    {"alpha 0 add with transparency is skipped", kPoint, 1, kAlpha, 2, 200, -1, kOff, 1, 0xAA102030,
     0x00FFFFFF, 0xAA102030},
    {"blend 255 add", kPoint, 1, kDirect, 2, 255, 255, kOff, 0, 0, 0x000000FF, 0x000000FD},
    {"blend 0 add", kPoint, 1, kDirect, 2, 255, 0, kOff, 0, 0xAA000000, 0x000000FF, 0x00000000},
    {"16-bit alpha add, bright after alpha", kPoint, 0, kAlpha, 2, 255, -1, Rgb(255, 255, 200), 0,
     0, 0x800003, 0},
    // Mode 3.
    {"palette at p 0 still rewrites the low bits", kPoint, 1, kPalette, 3, 0, -1, kOff, 0,
     0x12345678, 0x0, 0x00355778},
    {"packed subtract", kStretched, 1, kDirect, 3, 255, -1, kOff, 0, Rgb(200, 200, 0),
     Rgb(101, 101, 1), Rgb(101, 100, 0)},
    {"white minus white", kStretched, 1, kDirect, 3, 255, -1, kOff, 0, 0x00FFFFFF, 0x00FFFFFF,
     Rgb(1, 1, 0)},
    {"100 minus 51", kPoint, 1, kDirect, 3, 255, -1, kOff, 0, Rgb(100, 100, 100), Rgb(51, 51, 51),
     Rgb(51, 51, 49)},
    {"red 4 minus 1 grows", kStretched, 1, kDirect, 3, 255, -1, kOff, 0, Rgb(4, 0, 0), Rgb(1, 0, 0),
     Rgb(5, 1, 0)},
    {"565 max minus max", kStretched, 0, kDirect, 3, 255, -1, kOff, 0, F565(31, 63, 31),
     F565(31, 63, 31), F565(1, 0, 0)},
    {"565 subtract", kStretched, 0, kDirect, 3, 255, -1, kOff, 0, F565(10, 20, 10), F565(3, 5, 3),
     F565(9, 16, 7)},
    {"565 minus nothing", kStretched, 0, kDirect, 3, 255, -1, kOff, 0, F565(2, 17, 20), 0,
     F565(3, 16, 20)},
    {"alpha 255 subtract with transparency", kPoint, 1, kAlpha, 3, 254, -1, kOff, 1, 0x00FFFFFF,
     0xFFFFFFFF, Rgb(1, 1, 1)},
    {"alpha 255 subtract without", kPoint, 1, kAlpha, 3, 254, -1, kOff, 0, 0x00FFFFFF, 0xFFFFFFFF,
     Rgb(3, 3, 3)},
    {"blend 255 subtract", kPoint, 1, kDirect, 3, 255, 255, kOff, 0, 0x00FFFFFF, 0x00FFFFFF,
     Rgb(3, 3, 2)},
    {"blend 0 subtract", kPoint, 1, kDirect, 3, 255, 0, kOff, 0, 0xAAFFFFFF, 0x00FFFFFF,
     0x00FFFFFF},
    // Mode 4.
    {"white leaves 254", kPoint, 1, kDirect, 4, 17, -1, kOff, 0, 0x55FFFFFF, 0x00FFFFFF,
     0x55FEFEFE},
    {"565 white leaves 30, 62, 30", kStretched, 0, kDirect, 4, 0, -1, kOff, 0, 0xFFFF, 0xFFFF,
     F565(30, 62, 30)},
    {"blend weight 0 multiplies to 0", kPoint, 1, kDirect, 4, 0, 0, kOff, 0, 0x55FFFFFF, 0x00FFFFFF,
     0x55000000},
    {"alpha 255 multiply with transparency", kPoint, 1, kAlpha, 4, 0, -1, kOff, 1, 0x00FFFFFF,
     0xFFFFFFFF, 0x00FEFEFE},
    {"alpha 255 multiply without", kPoint, 1, kAlpha, 4, 0, -1, kOff, 0, 0x00FFFFFF, 0xFFFFFFFF,
     0x00FDFDFD},
    {"alpha 0 multiply with transparency is skipped", kPoint, 1, kAlpha, 4, 0, -1, kOff, 1,
     0x00FFFFFF, 0x00000000, 0x00FFFFFF},
    {"alpha 0 multiply is skipped by the triangle", kTriangle, 1, kAlpha, 4, 0, -1, kOff, 1,
     0x00FFFFFF, 0x00000000, 0x00FFFFFF},
    {"black bright multiplies to 0", kPoint, 0, kDirect, 4, 0, -1, 0x000000, 0, 0xFFFF, 0xFFFF, 0},
    // Mode 10.
    {"invert black over black", kPoint, 1, kDirect, 10, 255, -1, kOff, 0, 0x44000000, 0x00000000,
     0x44FEFEFE},
    {"invert white over white", kPoint, 1, kDirect, 10, 255, -1, kOff, 0, 0x00FFFFFF, 0x00FFFFFF,
     0x00000000},
    {"565 invert gives the complement", kPoint, 0, kDirect, 10, 255, -1, kOff, 0, 0x1234, 0x0F0F,
     0xF0F0},
    {"invert with blend and alpha", kPoint, 1, kAlpha, 10, 255, 255, kOff, 0, Rgb(200, 255, 0),
     0xFF00FF00, Rgb(254, 2, 252)},
    {"invert with blend", kPoint, 1, kDirect, 10, 255, 255, kOff, 0, Rgb(255, 0, 0),
     Rgb(255, 0, 255), Rgb(1, 253, 0)},
    {"invert with bright 128", kPoint, 1, kDirect, 10, 255, -1, 0x808080, 0, 0, 0,
     Rgb(127, 127, 127)},
    {"invert with black bright", kPoint, 1, kDirect, 10, 128, -1, 0x000000, 0, Rgb(200, 200, 200),
     0, Rgb(100, 100, 100)},
    {"invert alpha 255 with transparency", kPoint, 1, kAlpha, 10, 255, -1, kOff, 1, 0, 0xFF000000,
     Rgb(254, 254, 254)},
    {"invert alpha 255 without", kPoint, 1, kAlpha, 10, 255, -1, kOff, 0, 0, 0xFF000000,
     Rgb(253, 253, 253)},
    // Mode 11.
    {"multiply blend of black", kPoint, 1, kDirect, 11, 255, -1, kOff, 0, Rgb(200, 100, 255),
     Rgb(0, 255, 255), Rgb(0, 99, 254)},
    {"multiply blend at p 128", kPoint, 1, kDirect, 11, 128, -1, kOff, 0, Rgb(0, 0, 200),
     Rgb(0, 0, 128), Rgb(0, 0, 150)},
    {"565 multiply blend p 255", kPoint, 0, kDirect, 11, 255, -1, kOff, 0, F565(20, 0, 0),
     F565(31, 0, 0), F565(19, 0, 0)},
    {"565 multiply blend p 254", kPoint, 0, kDirect, 11, 254, -1, kOff, 0, F565(20, 0, 0),
     F565(31, 0, 0), F565(20, 0, 0)},
    {"565 multiply blend p 128", kPoint, 0, kDirect, 11, 128, -1, kOff, 0, F565(20, 0, 0),
     F565(16, 0, 0), F565(15, 0, 0)},
    {"multiply blend with blend image", kPoint, 1, kDirect, 11, 255, 255, kOff, 0, Rgb(255, 0, 0),
     0, Rgb(1, 0, 0)},
    {"multiply blend with blend and alpha", kPoint, 1, kAlpha, 11, 255, 255, kOff, 0,
     Rgb(255, 200, 0), 0xFF00FF00, Rgb(2, 199, 0)},
    {"multiply blend alpha 255 with transparency", kPoint, 1, kAlpha, 11, 255, -1, kOff, 1,
     Rgb(200, 0, 0), 0xFF000000, 0},
    {"multiply blend alpha 255 without", kPoint, 1, kAlpha, 11, 255, -1, kOff, 0, Rgb(200, 0, 0),
     0xFF000000, Rgb(1, 0, 0)},
    {"565 green exception", kPoint, 0, kAlpha, 11, 255, -1, kOff, 0, F565(0, 28, 0),
     F565(0, 29, 0) | (82u << 16), F565(0, 23, 0)},
    {"565 green exception off with bright", kPoint, 0, kAlpha, 11, 255, -1, 0xFFFFFE, 0,
     F565(0, 28, 0), F565(0, 29, 0) | (82u << 16), F565(0, 22, 0)},
    {"multiply blend with black bright", kPoint, 1, kDirect, 11, 128, -1, 0x000000, 0,
     Rgb(200, 200, 200), 0x00FFFFFF, Rgb(100, 100, 100)},
};

struct Scene {
  MEMIMG dest{};
  MEMIMG source{};
  MEMIMG blend{};
  KernelDrawSettings settings{};
  ~Scene() {
    ReleaseMEMIMG(&dest);
    ReleaseMEMIMG(&source);
    ReleaseMEMIMG(&blend);
  }
};

void PutPixel(uint8_t* p, int bytes, uint32_t v) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t GetPixel(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint32_t{p[i]} << (8 * i);
  return v;
}

void SetUpScene(Scene& scene, const Example& e, const std::vector<uint32_t>& d,
                const std::vector<uint32_t>& s) {
  int width = static_cast<int>(s.size());
  int destWidth = e.path == kTriangle ? 4 : width;
  int destHeight = e.path == kTriangle ? 4 : 1;
  ASSERT_EQ(CreateMEMIMG(&scene.dest, destWidth, destHeight, -1, 0, e.type, 0, 0, 0, nullptr), 0);
  std::memset(scene.dest.pixels, 0, scene.dest.body->pitch * destHeight);
  int destBytes = e.type == 1 ? 4 : 2;
  for (int i = 0; i < width; ++i) PutPixel(scene.dest.pixels + i * destBytes, destBytes, d[i]);
  ASSERT_EQ(CreateMEMIMG(&scene.source, width, 1, -1,
                         e.key == kNoKey && e.kind == kPalette ? 0xFFFF : e.key, e.type,
                         e.kind == kPalette, e.kind == kAlpha, 0, nullptr),
            0);
  for (int i = 0; i < width; ++i) {
    if (e.kind == kPalette) {
      scene.source.pixels[i] = static_cast<uint8_t>(i + 1);
      PutPixel(scene.source.body->palette + (i + 1) * (e.type == 1 ? 4 : 2), e.type == 1 ? 4 : 2,
               s[i]);
    } else {
      int bytes = scene.source.body->format->bytesPerPixel;
      PutPixel(scene.source.pixels + i * bytes, bytes, s[i]);
    }
  }
  if (e.g >= 0) {
    ASSERT_EQ(CreateMEMIMG(&scene.blend, width, 1, -1, 0, 2, 0, 0, 0, nullptr), 0);
    std::memset(scene.blend.pixels, e.g, width);
  }
  scene.settings = KernelDrawSettings{e.mode, e.p, e.bright, RECT{0, 0, destWidth, destHeight}};
}

// Draws the example with the kernel and with the model; returns both results of pixel 0.
void DrawExample(const Example& e, const std::vector<uint32_t>& d, const std::vector<uint32_t>& s,
                 std::vector<uint32_t>* kernel, std::vector<uint32_t>* modelled) {
  BuildMEMIMGBlendTables();
  BuildMEMIMGBlendGraphTable(128, 255);  // identity: the blend byte is the weight
  Scene scene;
  SetUpScene(scene, e, d, s);
  const MEMIMG* blend = e.g >= 0 ? &scene.blend : nullptr;
  int width = static_cast<int>(s.size());
  model::Settings ms{e.mode, e.p, e.bright, scene.settings.drawArea, 128, 255};
  std::vector<uint8_t> expected;
  if (e.path == kPoint) {
    expected = model::PointBlit(scene.dest, scene.source, 0, 0, e.trans, blend, ms, false);
    DrawMEMIMGAtPosition(&scene.dest, &scene.source, 0, 0, e.trans, blend, &scene.settings);
  } else if (e.path == kStretched) {
    int32_t rect[4] = {width, 0, 0, 1};
    expected = model::StretchedBlit(scene.dest, scene.source, rect, e.trans, blend, ms);
    DrawMEMIMGStretched(&scene.dest, &scene.source, rect, e.trans, blend, &scene.settings);
  } else {
    TriangleVertex v[3] = {{0, 0, 0, 0}, {2, 0, 2, 0}, {0, 2, 0, 2}};
    std::vector<bool> covered(16, false);
    covered[0] = true;
    expected = model::TexturedPixels(scene.dest, scene.source, covered, 0, 0, e.trans, blend, ms);
    DrawMEMIMGTriangle(&scene.dest, &scene.source, v, e.trans, blend, 0, &scene.settings);
  }
  int bytes = e.type == 1 ? 4 : 2;
  for (int i = 0; i < width; ++i) {
    kernel->push_back(GetPixel(scene.dest.pixels + i * bytes, bytes));
    modelled->push_back(GetPixel(expected.data() + i * bytes, bytes));
  }
}

TEST(KernelExamples, KernelsAndModelGiveTheStatedPixels) {
  for (const Example& e : kExamples) {
    SCOPED_TRACE(e.what);
    std::vector<uint32_t> kernel, modelled;
    DrawExample(e, {e.d}, {e.s}, &kernel, &modelled);
    EXPECT_EQ(kernel[0], e.expected) << std::hex << kernel[0];
    EXPECT_EQ(modelled[0], e.expected) << std::hex << modelled[0];
  }
}

TEST(KernelExamples, SixteenBitPairs) {
  struct Pair {
    const char* what;
    int mode;
    uint32_t d0, d1, s0, s1, e0, e1;
  };
  const Pair pairs[] = {
      {"add pair carries red into blue", 2, F565(16, 0, 0), 0, F565(16, 0, 0), 0, F565(31, 0, 0),
       F565(0, 0, 1)},
      {"add pair drops the right blue's low bit", 2, 0, 0, F565(0, 0, 1), F565(0, 0, 1),
       F565(0, 0, 1), 0},
      {"subtract pair", 3, 0, F565(0, 0, 5), F565(2, 0, 0), F565(0, 0, 2), 0, F565(1, 0, 2)},
      {"subtract pair of nothing", 3, 0, 0, 0, 0, F565(1, 0, 0), F565(1, 0, 1)},
  };
  for (const Pair& pr : pairs) {
    SCOPED_TRACE(pr.what);
    Example e{pr.what, kPoint, 0, kDirect, pr.mode, 255, -1, kOff, 0, 0, 0, 0};
    std::vector<uint32_t> kernel, modelled;
    DrawExample(e, {pr.d0, pr.d1}, {pr.s0, pr.s1}, &kernel, &modelled);
    EXPECT_EQ(kernel, (std::vector<uint32_t>{pr.e0, pr.e1}));
    EXPECT_EQ(modelled, (std::vector<uint32_t>{pr.e0, pr.e1}));
  }
}

TEST(KernelExamples, PaletteKeyFFFF) {
  // Index 255 of a palette image keyed 0xFFFF vanishes only in the key pattern loops.
  struct Row {
    const char* what;
    Path path;
    int type, mode, p;
    uint32_t bright;
    bool skipped;
  };
  const Row rows[] = {
      {"mode 0", kPoint, 1, 0, 0, kOff, true},
      {"mode 2 at p 255", kPoint, 1, 2, 255, kOff, true},
      {"16-bit mode 1", kPoint, 0, 1, 100, kOff, true},
      {"mode 2 at p 254", kPoint, 1, 2, 254, kOff, false},
      {"32-bit mode 1 at p 127", kPoint, 1, 1, 127, kOff, false},
      {"bright on", kPoint, 1, 0, 0, 0xFFFFFE, false},
      {"stretched", kStretched, 1, 0, 0, kOff, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    BuildMEMIMGBlendTables();
    Scene scene;
    Example e{r.what,   r.path, r.type, kPalette,   r.mode, r.p,   -1,
              r.bright, 1,      0,      0x00FFFFFF, 0,      0xFFFF};
    SetUpScene(scene, e, {0x11111111}, {0x00FFFFFF});
    scene.source.pixels[0] = 255;
    PutPixel(scene.source.body->palette + 255 * (r.type == 1 ? 4 : 2), r.type == 1 ? 4 : 2,
             0x00FFFFFF);
    int32_t rect[4] = {1, 0, 0, 1};
    if (r.path == kPoint)
      DrawMEMIMGAtPosition(&scene.dest, &scene.source, 0, 0, 1, nullptr, &scene.settings);
    else
      DrawMEMIMGStretched(&scene.dest, &scene.source, rect, 1, nullptr, &scene.settings);
    uint32_t after = GetPixel(scene.dest.pixels, r.type == 1 ? 4 : 2);
    uint32_t before = r.type == 1 ? 0x11111111u : 0x1111u;
    EXPECT_EQ(after == before, r.skipped) << std::hex << after;
  }
}

}  // namespace
