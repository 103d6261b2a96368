// Every kernel path against the reference model over pixel type x source kind x blend mode x
// blend parameter x blend image x brightness x transparency, on a small source with planted key
// pixels and alphas; the whole destination buffer, padding included, must match byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "softrender/software_kernels.h"
#include "tests/softrender/kernel_model.h"

namespace {

constexpr int kSourceWidth = 7;
constexpr int kSourceHeight = 4;
constexpr int kDestWidth = 16;
constexpr int kDestHeight = 10;

const int kModes[] = {0, 1, 2, 3, 4, 10, 11};
const uint32_t kBrights[] = {0xAAFFFFFF, 0xFFFFFE, 0xC880FF, 0x000000};

std::vector<int> ParamsFor(int mode) {
  switch (mode) {
    case 0: return {0};
    case 1: return {0, 1, 127, 128, 254, 255};
    case 2: return {0, 1, 128, 255};
    case 3: return {0, 128, 255};
    case 4: return {0, 255};
    default: return {0, 1, 128, 255};
  }
}

uint32_t KeyFor(int type, int kind) {
  if (kind == 0) return 5;
  return type == 1 ? 0xFF123456u : 0xF81Fu;
}

void Put(uint8_t* p, int bytes, uint32_t v) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A source with planted keys: a whole pair, a whole group of four and single keys at each
// position of a group; for alpha sources, alphas cycling through 0, 1, 127, 128, 254, 255.
MEMIMG MakeSource(int type, int kind, std::mt19937& rng) {
  MEMIMG image{};
  uint32_t key = KeyFor(type, kind);
  EXPECT_EQ(CreateMEMIMG(&image, kSourceWidth, kSourceHeight, -1, key, type, kind == 0, kind == 2,
                         1, nullptr),
            0);
  MEMIMGBody* b = image.body;
  int bytes = b->format->bytesPerPixel;
  if (kind == 0) {
    for (int i = 0; i < 256; ++i) {
      uint32_t entry = rng();
      if (type == 1)
        Put(b->palette + 4 * i, 4, entry & 0xFFFFFF);
      else
        Put(b->palette + 2 * i, 2, entry & 0xFFFF);
    }
  }
  const uint8_t alphas[] = {0, 1, 127, 128, 254, 255};
  const bool keyAt[kSourceHeight][kSourceWidth] = {
      {1, 1, 0, 0, 0, 0, 1}, {0, 0, 0, 1, 1, 1, 1}, {0, 1, 0, 0, 0, 0, 0}, {0, 0, 1, 0, 1, 0, 0}};
  for (int y = 0; y < kSourceHeight; ++y)
    for (int x = 0; x < kSourceWidth; ++x) {
      uint8_t* p = image.pixels + y * b->pitch + x * bytes;
      uint32_t v = rng();
      if ((x + y) % 5 == 0) v = 0;
      if ((x + y) % 5 == 1) v = 0xFFFFFFFF;
      if (kind == 0) {
        p[0] = keyAt[y][x]          ? static_cast<uint8_t>(key)
               : (x == 5 && y == 2) ? 255
                                    : static_cast<uint8_t>(v);
      } else if (kind == 1) {
        if (keyAt[y][x]) v = key;
        if (type == 1 && x == 2 && y == 0)
          v = key ^ 0x01000000u;  // the key but for its fourth byte
        Put(p, bytes, v);
      } else {
        Put(p, 4, v);
        p[type == 1 ? 3 : 2] = alphas[(x + 3 * y) % 6];
      }
    }
  BuildMEMIMGTransparencyTable(b);
  return image;
}

MEMIMG MakeDestination(int type, std::mt19937& rng) {
  MEMIMG image{};
  int pitch = type == 1 ? kDestWidth * 4 + 12 : kDestWidth * 2 + 6;
  EXPECT_EQ(CreateMEMIMG(&image, kDestWidth, kDestHeight, pitch, 0, type, 0, 0, 0, nullptr), 0);
  for (int i = 0; i < pitch * kDestHeight; ++i) image.pixels[i] = static_cast<uint8_t>(rng());
  return image;
}

MEMIMG MakeBlendImage(std::mt19937& rng) {
  MEMIMG image{};
  EXPECT_EQ(CreateMEMIMG(&image, kSourceWidth + 2, kSourceHeight + 1, -1, 0, 2, 0, 0, 0, nullptr),
            0);
  for (int i = 0; i < image.body->pitch * image.height; ++i)
    image.pixels[i] = static_cast<uint8_t>(rng());
  image.pixels[0] = 0;
  image.pixels[1] = 255;
  return image;
}

// The draw settings that every kernel call of these tests is given.
KernelDrawSettings drawSettings{};

void ApplySettings(const model::Settings& s, uint32_t bright) {
  drawSettings = KernelDrawSettings{s.mode, s.p, bright, s.area};
}

std::string FirstDifference(const std::vector<uint8_t>& actual,
                            const std::vector<uint8_t>& expected) {
  for (size_t i = 0; i < actual.size(); ++i)
    if (actual[i] != expected[i])
      return "byte " + std::to_string(i) + ": kernel " + std::to_string(actual[i]) + ", model " +
             std::to_string(expected[i]);
  return "";
}

// Runs `draw` for every combination; draw(dest, source, blend, trans, settings) returns the model's
// bytes after calling the kernel.
template <class Draw>
void Sweep(const char* pathName, int borderParam, int borderRange, Draw&& draw) {
  BuildMEMIMGBlendTables();
  BuildMEMIMGBlendGraphTable(borderParam, borderRange);
  std::mt19937 rng(1234);
  int failures = 0;
  for (int type = 0; type <= 1; ++type) {
    MEMIMG dest = MakeDestination(type, rng);
    std::vector<uint8_t> fresh = model::Bytes(dest);
    MEMIMG blendImage = MakeBlendImage(rng);
    for (int kind = 0; kind <= 2; ++kind) {
      MEMIMG source = MakeSource(type, kind, rng);
      for (int mode : kModes)
        for (int p : ParamsFor(mode))
          for (int withBlend = 0; withBlend <= 1; ++withBlend)
            for (uint32_t bright : kBrights)
              for (int trans = 0; trans <= 1; ++trans) {
                model::Settings s{mode,        p,          bright & 0xFFFFFF, RECT{1, 1, 15, 9},
                                  borderParam, borderRange};
                ApplySettings(s, bright);
                std::memcpy(dest.body->pixels, fresh.data(), fresh.size());
                const MEMIMG* blend = withBlend ? &blendImage : nullptr;
                std::vector<uint8_t> expected = draw(dest, source, blend, trans, s);
                std::vector<uint8_t> actual = model::Bytes(dest);
                if (actual != expected && ++failures <= 5) {
                  ADD_FAILURE() << pathName << " type " << type << " kind " << kind << " mode "
                                << mode << " p " << p << " blend " << withBlend << " bright "
                                << std::hex << bright << std::dec << " trans " << trans << ": "
                                << FirstDifference(actual, expected);
                }
              }
      ReleaseMEMIMG(&source);
    }
    ReleaseMEMIMG(&blendImage);
    ReleaseMEMIMG(&dest);
  }
  EXPECT_EQ(failures, 0);
}

TEST(KernelSweep, PointBlitClippedPath) {
  const int positions[][2] = {{3, 2}, {-2, -1}, {12, 7}};
  for (const auto& at : positions)
    Sweep("point", 100, 60,
          [&](MEMIMG& dest, MEMIMG& source, const MEMIMG* blend, int trans,
              const model::Settings& s) {
            source.body->tableValid = 0;
            auto expected = model::PointBlit(dest, source, at[0], at[1], trans, blend, s, false);
            DrawMEMIMGAtPosition(&dest, &source, at[0], at[1], trans ? 2 : 0, blend, &drawSettings);
            return expected;
          });
}

TEST(KernelSweep, PointBlitRunLengthPath) {
  Sweep(
      "runs", 128, 255,
      [&](MEMIMG& dest, MEMIMG& source, const MEMIMG* blend, int trans, const model::Settings& s) {
        source.body->tableValid = 1;
        bool runs = trans != 0;
        auto expected = model::PointBlit(dest, source, 3, 2, trans, blend, s, runs);
        DrawMEMIMGAtPosition(&dest, &source, 3, 2, trans, blend, &drawSettings);
        return expected;
      });
}

TEST(KernelSweep, StretchedBlit) {
  const int32_t rects[][4] = {
      {2, 1, 13, 8}, {13, 1, 2, 8}, {2, 8, 6, 1}, {-3, -2, 12, 12}, {9, 9, 2, 5}};
  for (const auto& r : rects)
    Sweep("stretched", 128, 255,
          [&](MEMIMG& dest, MEMIMG& source, const MEMIMG* blend, int trans,
              const model::Settings& s) {
            source.body->tableValid = 0;
            auto expected = model::StretchedBlit(dest, source, r, trans, blend, s);
            DrawMEMIMGStretched(&dest, &source, r, trans, blend, &drawSettings);
            return expected;
          });
}

// The covered pixels of a triangle, taken from an untextured draw in mode 0.
std::vector<bool> Coverage(const MEMIMG& like, const TriangleVertex* v, const RECT& area) {
  MEMIMG canvas{};
  EXPECT_EQ(
      CreateMEMIMG(&canvas, kDestWidth, kDestHeight, -1, 0, like.body->pixelType, 0, 0, 0, nullptr),
      0);
  std::memset(canvas.pixels, 0, canvas.body->pitch * kDestHeight);
  const KernelDrawSettings plain{0, drawSettings.blendParam, 0xFFFFFF, area};
  DrawMEMIMGTriangle(&canvas, nullptr, v, 0, nullptr, 0xFFFFFFFF, &plain);
  std::vector<bool> covered(kDestWidth * kDestHeight);
  int bytes = canvas.body->format->bytesPerPixel;
  for (int y = 0; y < kDestHeight; ++y)
    for (int x = 0; x < kDestWidth; ++x)
      covered[y * kDestWidth + x] = canvas.pixels[y * canvas.body->pitch + x * bytes] != 0;
  ReleaseMEMIMG(&canvas);
  return covered;
}

TEST(KernelSweep, TexturedTriangle) {
  const int origins[][2] = {{3, 2}, {-2, -1}};
  for (const auto& o : origins)
    for (int half = 0; half < 2; ++half) {
      int x0 = o[0], y0 = o[1], x1 = o[0] + kSourceWidth, y1 = o[1] + kSourceHeight;
      TriangleVertex first[3] = {
          {x0, y0, 0, 0}, {x1, y0, kSourceWidth, 0}, {x0, y1, 0, kSourceHeight}};
      TriangleVertex second[3] = {{x1, y0, kSourceWidth, 0},
                                  {x0, y1, 0, kSourceHeight},
                                  {x1, y1, kSourceWidth, kSourceHeight}};
      const TriangleVertex* v = half == 0 ? first : second;
      Sweep("triangle", 128, 255,
            [&](MEMIMG& dest, MEMIMG& source, const MEMIMG* blend, int trans,
                const model::Settings& s) {
              std::vector<bool> covered = Coverage(dest, v, s.area);
              auto expected =
                  model::TexturedPixels(dest, source, covered, o[0], o[1], trans, blend, s);
              DrawMEMIMGTriangle(&dest, &source, v, trans, blend, 0, &drawSettings);
              return expected;
            });
    }
}

TEST(KernelSweep, UntexturedTriangle) {
  BuildMEMIMGBlendTables();
  std::mt19937 rng(42);
  TriangleVertex v[3] = {{-3, 2, 0, 0}, {14, 0, 0, 0}, {5, 12, 0, 0}};
  int failures = 0;
  for (int type = 0; type <= 1; ++type) {
    MEMIMG dest = MakeDestination(type, rng);
    std::vector<uint8_t> fresh = model::Bytes(dest);
    std::vector<bool> covered = Coverage(dest, v, RECT{1, 1, 15, 9});
    for (int mode : kModes)
      for (int p : {0, 1, 128, 254, 255})
        for (uint32_t bright : kBrights)
          for (uint32_t color : {0xFFFFFFFFu, 0x12F0810Fu, 0x00000000u}) {
            model::Settings s{mode, p, bright & 0xFFFFFF, RECT{1, 1, 15, 9}, 0, 0};
            ApplySettings(s, bright);
            std::memcpy(dest.body->pixels, fresh.data(), fresh.size());
            uint32_t c = type == 0 ? (color & 0xFFFF) : color;
            auto expected = model::Untextured(dest, covered, c, s);
            DrawMEMIMGTriangle(&dest, nullptr, v, 1, nullptr, c, &drawSettings);
            if (model::Bytes(dest) != expected && ++failures <= 5)
              ADD_FAILURE() << "untextured type " << type << " mode " << mode << " p " << p
                            << " bright " << std::hex << bright << " colour " << color << std::dec
                            << ": " << FirstDifference(model::Bytes(dest), expected);
          }
    ReleaseMEMIMG(&dest);
  }
  EXPECT_EQ(failures, 0);
}

TEST(KernelSweep, RectangleFill) {
  BuildMEMIMGBlendTables();
  std::mt19937 rng(99);
  const int32_t rects[][4] = {{2, 1, 13, 8}, {13, 8, 2, 1}, {-5, -5, 40, 40}};
  int failures = 0;
  for (int type = 0; type <= 1; ++type) {
    MEMIMG dest = MakeDestination(type, rng);
    std::vector<uint8_t> fresh = model::Bytes(dest);
    for (int mode : kModes)
      for (int p : {0, 1, 128, 254, 255})
        for (uint32_t bright : kBrights)
          for (uint32_t color : {0xFFFFFFFFu, 0x12F0810Fu, 0x00000000u})
            for (int r = -1; r < 3; ++r) {
              model::Settings s{mode, p, bright & 0xFFFFFF, RECT{1, 1, 15, 9}, 0, 0};
              ApplySettings(s, bright);
              std::memcpy(dest.body->pixels, fresh.data(), fresh.size());
              uint32_t c = type == 0 ? (color & 0xFFFF) : color;
              const int32_t* rect = r < 0 ? nullptr : rects[r];
              auto expected = model::Fill(dest, rect, c, s);
              FillMEMIMGRectangle(&dest, rect, c, &drawSettings);
              if (model::Bytes(dest) != expected && ++failures <= 5)
                ADD_FAILURE() << "fill type " << type << " mode " << mode << " p " << p
                              << " bright " << std::hex << bright << " colour " << color << std::dec
                              << " rect " << r << ": "
                              << FirstDifference(model::Bytes(dest), expected);
            }
    ReleaseMEMIMG(&dest);
  }
  EXPECT_EQ(failures, 0);
}

}  // namespace
