// Which pixels the kernels touch: refused calls, stretched sampling, triangle coverage, and the
// cross-checks between the kernels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "softrender/software_kernels.h"
#include "tests/softrender/kernel_model.h"

namespace {

struct Image {
  MEMIMG m{};
  Image(int w, int h, int type, int palette = 0, int alpha = 0, uint32_t key = 0) {
    EXPECT_EQ(CreateMEMIMG(&m, w, h, -1, key, type, palette, alpha, 0, nullptr), 0);
    std::memset(m.pixels, 0, static_cast<size_t>(m.body->pitch) * h);
  }
  ~Image() { ReleaseMEMIMG(&m); }
  uint8_t* At(int x, int y) {
    return m.pixels + y * m.body->pitch + x * m.body->format->bytesPerPixel;
  }
  std::vector<uint8_t> Bytes() const { return model::Bytes(m); }
};

// The draw settings that every kernel call of these tests is given.
KernelDrawSettings drawSettings{};

void Settings(int mode, int p, uint32_t bright, RECT area) {
  drawSettings = KernelDrawSettings{mode, p, bright, area};
}

void Randomise(Image& image, std::mt19937& rng) {
  for (int i = 0; i < image.m.body->pitch * image.m.height; ++i)
    image.m.pixels[i] = static_cast<uint8_t>(rng());
}

class Kernels : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildMEMIMGBlendTables();
    BuildMEMIMGBlendGraphTable(128, 255);
    Settings(0, 0, 0xFFFFFF, RECT{0, 0, 16, 16});
  }
};

TEST_F(Kernels, RefusedCallsLeaveTheDestinationUnchanged) {
  std::mt19937 rng(5);
  Image dest(16, 16, 1), source(4, 4, 1), small(2, 2, 2);
  Image dest565(16, 16, 0), paletteDest(16, 16, 1, 1), alphaDest(16, 16, 1, 0, 1), type2(16, 16, 2),
      src2(4, 4, 2);
  Image direct565(4, 4, 0);
  Randomise(source, rng);
  struct Case {
    const char* what;
    int mode, p;
    Image* dest;
    Image* source;
    Image* blend;
    RECT area;
  };
  const RECT all{0, 0, 16, 16};
  const Case cases[] = {
      {"mode 5", 5, 128, &dest, &source, nullptr, all},
      {"mode 9", 9, 128, &dest, &source, nullptr, all},
      {"mode 12", 12, 128, &dest, &source, nullptr, all},
      {"mode -1", -1, 128, &dest, &source, nullptr, all},
      {"types differ", 0, 0, &dest565, &source, nullptr, all},
      {"palette destination", 0, 0, &paletteDest, &source, nullptr, all},
      {"alpha destination", 0, 0, &alphaDest, &source, nullptr, all},
      {"one-channel images", 0, 0, &type2, &src2, nullptr, all},
      {"mode 1 at p 0", 1, 0, &dest, &source, nullptr, all},
      {"mode 2 at p 0", 2, 0, &dest, &source, nullptr, all},
      {"mode 3 at p 0", 3, 0, &dest, &source, nullptr, all},
      {"empty draw area", 0, 0, &dest, &source, nullptr, RECT{5, 5, 5, 9}},
      {"blend image smaller than the source", 0, 0, &dest, &source, &small, all},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Randomise(*c.dest, rng);
    std::vector<uint8_t> before = c.dest->Bytes();
    Settings(c.mode, c.p, 0xFFFFFF, c.area);
    const MEMIMG* blend = c.blend ? &c.blend->m : nullptr;
    DrawMEMIMGAtPosition(&c.dest->m, &c.source->m, 1, 1, 1, blend, &drawSettings);
    int32_t scaled[4] = {0, 0, 9, 7};
    DrawMEMIMGStretched(&c.dest->m, &c.source->m, scaled, 1, blend, &drawSettings);
    TriangleVertex v[3] = {{0, 0, 0, 0}, {8, 0, 4, 0}, {0, 8, 0, 4}};
    DrawMEMIMGTriangle(&c.dest->m, &c.source->m, v, 1, blend, 0, &drawSettings);
    if (c.blend == nullptr && c.source->m.body->pixelType == c.dest->m.body->pixelType) {
      DrawMEMIMGTriangle(&c.dest->m, nullptr, v, 0, nullptr, 0x123456, &drawSettings);
      FillMEMIMGRectangle(&c.dest->m, nullptr, 0x123456, &drawSettings);
    }
    EXPECT_EQ(c.dest->Bytes(), before);
  }
  // Mode 3 at p 0 still draws a palette source.
  Image paletteSource(4, 4, 1, 1, 0, 0xFFFF);
  Randomise(dest, rng);
  std::vector<uint8_t> before = dest.Bytes();
  Settings(3, 0, 0xFFFFFF, all);
  DrawMEMIMGAtPosition(&dest.m, &paletteSource.m, 0, 0, 0, nullptr, &drawSettings);
  EXPECT_NE(dest.Bytes(), before);
}

TEST_F(Kernels, StretchRatiosOutOfRange) {
  // A source more than 65536 times the target samples nothing: drawn as nothing.
  Image wide(70000, 1, 1), dest(16, 16, 1);
  std::vector<uint8_t> before = dest.Bytes();
  int32_t one[4] = {0, 0, 1, 1};
  DrawMEMIMGStretched(&dest.m, &wide.m, one, 0, nullptr, &drawSettings);
  EXPECT_EQ(dest.Bytes(), before);
  // A target side far beyond 32767 pixels keeps sampling the first source pixel.
  Image two(2, 1, 1);
  two.At(0, 0)[0] = 7;
  two.At(1, 0)[0] = 9;
  int32_t huge[4] = {0, 0, 40000, 1};
  DrawMEMIMGStretched(&dest.m, &two.m, huge, 0, nullptr, &drawSettings);
  for (int x = 0; x < 16; ++x) EXPECT_EQ(dest.At(x, 0)[0], 7);
}

// The source column each destination column of row 0 samples (source pixels hold their column).
std::vector<int> SampledColumns(int sourceWidth, const int32_t* rect, RECT area) {
  Image source(sourceWidth, 1, 1), dest(16, 1, 1);
  for (int x = 0; x < sourceWidth; ++x) source.At(x, 0)[0] = static_cast<uint8_t>(x + 1);
  Settings(0, 0, 0xFFFFFF, area);
  DrawMEMIMGStretched(&dest.m, &source.m, rect, 0, nullptr, &drawSettings);
  std::vector<int> columns;
  for (int x = 0; x < 16; ++x)
    if (dest.At(x, 0)[0] != 0) columns.push_back(dest.At(x, 0)[0] - 1);
  return columns;
}

TEST_F(Kernels, StretchedSampling) {
  struct Case {
    int sourceWidth;
    int32_t rect[4];
    std::vector<int> columns;
  };
  const Case cases[] = {
      {5, {10, 0, 0, 1}, {4, 4, 3, 3, 2, 2, 1, 1, 0, 0}},
      {3, {0, 0, 6, 1}, {0, 0, 1, 1, 2, 2}},
      {3, {0, 0, 4, 1}, {0, 0, 1, 2}},
      {3, {0, 0, 2, 1}, {0, 1}},
      {8, {0, 0, 4, 1}, {0, 2, 4, 6}},
      {4, {4, 0, 0, 1}, {3, 2, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sourceWidth);
    EXPECT_EQ(SampledColumns(c.sourceWidth, c.rect, RECT{0, 0, 16, 1}), c.columns);
  }
  // Cut by the draw area, the remaining pixels sample what they sampled uncut.
  int32_t rect[4] = {-3, 0, 11, 1};
  std::vector<int> uncut = SampledColumns(5, rect, RECT{0, 0, 16, 1});
  int32_t shifted[4] = {0, 0, 14, 1};
  std::vector<int> full = SampledColumns(5, shifted, RECT{0, 0, 16, 1});
  EXPECT_EQ(uncut, std::vector<int>(full.begin() + 3, full.end()));
}

std::vector<std::vector<int>> Rows(const TriangleVertex* v, RECT area = RECT{0, 0, 16, 16}) {
  Image dest(16, 16, 1);
  Settings(0, 0, 0xFFFFFF, area);
  DrawMEMIMGTriangle(&dest.m, nullptr, v, 0, nullptr, 0xFFFFFFFF, &drawSettings);
  std::vector<std::vector<int>> rows(16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      if (dest.At(x, y)[0]) rows[y].push_back(x);
  return rows;
}

TEST_F(Kernels, TriangleCoverage) {
  TriangleVertex flatTop[3] = {{0, 0, 0, 0}, {10, 0, 0, 0}, {0, 10, 0, 0}};
  auto rows = Rows(flatTop);
  ASSERT_EQ(rows[0].size(), 11u);
  EXPECT_EQ(rows[0].back(), 10);
  EXPECT_EQ(rows[1].back(), 9);
  EXPECT_EQ(rows[9], (std::vector<int>{0, 1}));
  EXPECT_TRUE(rows[10].empty());

  // Every vertex order covers the same pixels.
  TriangleVertex general[3] = {{2, 1, 0, 0}, {13, 6, 0, 0}, {5, 14, 0, 0}};
  auto reference = Rows(general);
  int order[3] = {0, 1, 2};
  while (std::next_permutation(order, order + 3)) {
    TriangleVertex v[3] = {general[order[0]], general[order[1]], general[order[2]]};
    EXPECT_EQ(Rows(v), reference);
  }
  // Collinear or coincident vertices draw nothing.
  TriangleVertex line[3] = {{0, 0, 0, 0}, {5, 5, 0, 0}, {10, 10, 0, 0}};
  TriangleVertex point[3] = {{3, 3, 0, 0}, {3, 3, 0, 0}, {9, 4, 0, 0}};
  for (auto* v : {line, point})
    for (const auto& r : Rows(v)) EXPECT_TRUE(r.empty());
}

TEST_F(Kernels, TriangleWithNegativeCoordinatesKeepsItsShape) {
  // The same triangle 6 pixels higher covers the same pixels 6 rows up, left edge and top alike,
  // and no row twice.
  TriangleVertex low[3] = {{4, 6, 0, 0}, {12, 9, 0, 0}, {1, 15, 0, 0}};
  TriangleVertex high[3] = {{4, 0, 0, 0}, {12, 3, 0, 0}, {1, 9, 0, 0}};
  TriangleVertex cut[3] = {{4, -6, 0, 0}, {12, -3, 0, 0}, {1, 3, 0, 0}};
  auto a = Rows(low), b = Rows(high), c = Rows(cut);
  for (int y = 0; y < 10; ++y) EXPECT_EQ(a[y + 6], b[y]) << y;
  for (int y = 0; y < 4; ++y) EXPECT_EQ(b[y + 6], c[y]) << y;
  // Mode 2 adds once per covered pixel: a doubled row would show as a second addition.
  Image dest(16, 16, 1);
  Settings(2, 255, 0xFFFFFF, RECT{0, 0, 16, 16});
  DrawMEMIMGTriangle(&dest.m, nullptr, cut, 0, nullptr, 0x00000010, &drawSettings);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      EXPECT_TRUE(dest.At(x, y)[0] == 0 || dest.At(x, y)[0] == 0x10) << x << "," << y;
}

TEST_F(Kernels, UntexturedColourIsModulated) {
  Image dest(4, 4, 1);
  TriangleVertex v[3] = {{0, 0, 0, 0}, {3, 0, 0, 0}, {0, 3, 0, 0}};
  Settings(0, 0, 0xFF0000, RECT{0, 0, 4, 4});
  DrawMEMIMGTriangle(&dest.m, nullptr, v, 0, nullptr, 0x7FFFFFFF, &drawSettings);
  EXPECT_EQ(dest.At(0, 0)[0], 0);
  EXPECT_EQ(dest.At(0, 0)[1], 0);
  EXPECT_EQ(dest.At(0, 0)[2], 255);
  EXPECT_EQ(dest.At(0, 0)[3], 0x7F);
}

TEST_F(Kernels, QuadTexelsAndTheRightEdge) {
  Image source(10, 10, 1), dest(16, 16, 1);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) {
      source.At(x, y)[0] = static_cast<uint8_t>(x + 1);
      source.At(x, y)[1] = static_cast<uint8_t>(y + 1);
    }
  TriangleVertex v[3] = {{0, 0, 0, 0}, {10, 0, 10, 0}, {0, 10, 0, 10}};
  DrawMEMIMGTriangle(&dest.m, &source.m, v, 0, nullptr, 0, &drawSettings);
  for (int x = 0; x < 10; ++x) {
    EXPECT_EQ(dest.At(x, 0)[0], x + 1);
    EXPECT_EQ(dest.At(x, 0)[1], 1);
  }
  EXPECT_EQ(dest.At(10, 0)[0], 0);  // u reaches the source width: left unchanged
}

// The cross-checks: mode 1 at 255 is mode 0, an unscaled stretch is the point blit, and the
// two-triangle quad is the point blit in mode 0.
TEST_F(Kernels, CrossChecks) {
  std::mt19937 rng(11);
  for (int type = 0; type <= 1; ++type)
    for (int kind = 0; kind <= 2; ++kind)
      for (uint32_t bright : {0xFFFFFFu, 0x80C0FFu})
        for (int trans = 0; trans <= 1; ++trans) {
          SCOPED_TRACE(type * 100 + kind * 10 + trans);
          Image source(6, 5, type, kind == 0, kind == 2, kind == 0 ? 3 : 0);
          Randomise(source, rng);
          if (kind == 0)
            for (int i = 0; i < 2048; ++i) source.m.body->palette[i] = static_cast<uint8_t>(rng());
          Image a(16, 16, type), b(16, 16, type);
          Randomise(a, rng);
          std::vector<uint8_t> start = a.Bytes();
          auto restart = [&] { std::memcpy(b.m.pixels, start.data(), start.size()); };
          restart();
          RECT area{1, 1, 15, 15};

          Settings(0, 0, bright, area);
          DrawMEMIMGAtPosition(&a.m, &source.m, 3, 4, trans, nullptr, &drawSettings);
          Settings(1, 255, bright, area);
          DrawMEMIMGAtPosition(&b.m, &source.m, 3, 4, trans, nullptr, &drawSettings);
          EXPECT_EQ(a.Bytes(), b.Bytes());

          int32_t same[4] = {3, 4, 9, 9};
          Settings(0, 0, bright, area);
          restart();
          DrawMEMIMGStretched(&b.m, &source.m, same, trans, nullptr, &drawSettings);
          EXPECT_EQ(a.Bytes(), b.Bytes());

          if (kind != 2) {
            TriangleVertex first[3] = {{3, 4, 0, 0}, {9, 4, 6, 0}, {3, 9, 0, 5}};
            TriangleVertex second[3] = {{9, 4, 6, 0}, {3, 9, 0, 5}, {9, 9, 6, 5}};
            restart();
            DrawMEMIMGTriangle(&b.m, &source.m, first, trans, nullptr, 0, &drawSettings);
            DrawMEMIMGTriangle(&b.m, &source.m, second, trans, nullptr, 0, &drawSettings);
            EXPECT_EQ(a.Bytes(), b.Bytes());
          }
        }
}

TEST_F(Kernels, RunLengthPathOnlyForWholeImages) {
  // A view of part of an image with a run-length table is drawn through the clipped path.
  MEMIMG image{};
  ASSERT_EQ(CreateMEMIMG(&image, 8, 2, -1, 0xFF000000u, 1, 0, 0, 1, nullptr), 0);
  for (int i = 0; i < 16; ++i)
    reinterpret_cast<uint32_t*>(image.pixels)[i % 8 + (i / 8) * (image.body->pitch / 4)] =
        i % 3 == 0 ? 0xFF000000u : 0x00101010u * (i + 1);
  BuildMEMIMGTransparencyTable(image.body);
  image.body->tableValid = 1;
  MEMIMG view{};
  MakeSubMEMIMG(&view, &image, 3, 0, 4, 2);
  Image dest(16, 16, 1);
  Settings(0, 0, 0xFFFFFF, RECT{0, 0, 16, 16});
  model::Settings s{0, 0, 0xFFFFFF, RECT{0, 0, 16, 16}, 128, 255};
  auto expected = model::PointBlit(dest.m, view, 2, 2, 1, nullptr, s, false);
  DrawMEMIMGAtPosition(&dest.m, &view, 2, 2, 1, nullptr, &drawSettings);
  EXPECT_EQ(dest.Bytes(), expected);
  ReleaseMEMIMG(&view);
  ReleaseMEMIMG(&image);
}

}  // namespace

// A 16-bit image whose rows have no padding ends on its last pixel's second byte: drawing it must
// not read past it (the sanitizer build catches a read of a third byte).
TEST_F(Kernels, SixteenBitSourceWithoutPaddingIsReadWithinItsPixels) {
  Settings(0, 0, 0xFFFFFF, RECT{0, 0, 32, 2});
  Image source(32, 2, 0, 0, 0, 0);
  Image dest(32, 2, 0);
  for (int x = 0; x < 32; ++x) source.At(x, 1)[0] = static_cast<uint8_t>(x + 1);
  ASSERT_EQ(source.m.body->pitch, 64);
  DrawMEMIMGAtPosition(&dest.m, &source.m, 0, 0, 1, nullptr, &drawSettings);
  EXPECT_EQ(dest.At(31, 1)[0], 32);
  RECT whole{0, 0, 32, 2};
  DrawMEMIMGStretched(&dest.m, &source.m, reinterpret_cast<const int32_t*>(&whole), 1, nullptr,
                      &drawSettings);
  EXPECT_EQ(dest.At(31, 1)[0], 32);
}
