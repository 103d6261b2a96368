// The vector rows against the scalar loops they stand for: the same draw, on random images with
// planted key pixels, at odd widths and cut by the draw area at odd places, must leave the same
// destination bytes (padding included) at every vector level the machine has.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "softrender/software_kernels.h"
#include "softrender/vector_rows.h"

namespace {

enum class Draw { Point, Runs, Doubled };

struct VectorCase {
  const char* name;
  Draw draw;
  int mode;
  int p;
};

constexpr VectorCase kCases[] = {
    {"alpha", Draw::Point, 1, 160},        {"alpha weak", Draw::Point, 1, 1},
    {"alpha strong", Draw::Point, 1, 254}, {"half sum", Draw::Point, 1, 128},
    {"add", Draw::Point, 2, 255},          {"alpha runs", Draw::Runs, 1, 77},
    {"doubled", Draw::Doubled, 0, 255},
};

constexpr uint32_t kKey = 0xFF00FF00u;

MEMIMG RandomImage(int width, int height, int pitch, bool keys, std::mt19937& rng) {
  MEMIMG image{};
  EXPECT_EQ(CreateMEMIMG(&image, width, height, pitch, kKey, 1, 0, 0, 0, nullptr), 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < image.body->pitch / 4; ++x) {
      uint32_t v = rng();
      if (rng() % 7 == 0) v = rng() % 2 ? 0xFFFFFFFFu : 0;
      if (keys && rng() % 4 == 0) v = kKey;
      if (keys && v == (kKey ^ 0x01000000u)) v = 0;
      std::memcpy(image.pixels + y * image.body->pitch + 4 * x, &v, 4);
    }
  if (keys) {
    // The key but for its fourth byte is drawn, not skipped.
    const uint32_t nearKey = kKey ^ 0x01000000u;
    std::memcpy(image.pixels, &nearKey, 4);
    BuildMEMIMGTransparencyTable(image.body);
  }
  return image;
}

std::vector<uint8_t> DrawAt(int level, const VectorCase& c, const MEMIMG& source,
                            const std::vector<uint8_t>& start, int x, int y, int trans,
                            const RECT& area) {
  SetSoftwareKernelVectorLevel(level);
  MEMIMG dest{};
  EXPECT_EQ(CreateMEMIMG(&dest, 40, 12, 40 * 4 + 12, 0, 1, 0, 0, 0, nullptr), 0);
  std::memcpy(dest.pixels, start.data(), start.size());
  KernelDrawSettings settings{c.mode, c.p, 0xFFFFFF, area};
  if (c.draw == Draw::Doubled) {
    const int32_t rect[4] = {x, y, x + 2 * source.width, y + 2 * source.height};
    DrawMEMIMGStretched(&dest, &source, rect, trans, nullptr, &settings);
  } else {
    DrawMEMIMGAtPosition(&dest, &source, x, y, trans, nullptr, &settings);
  }
  std::vector<uint8_t> bytes(dest.pixels, dest.pixels + start.size());
  ReleaseMEMIMG(&dest);
  return bytes;
}

TEST(KernelVectorRows, GiveTheBytesOfTheScalarLoops) {
  BuildMEMIMGBlendTables();
  const int best = SetSoftwareKernelVectorLevel(2);
  std::mt19937 rng(99);
  const int widths[] = {1, 2, 3, 5, 7, 8, 9, 15, 17, 33};
  // Whole, cut on the left and top, cut on the right and bottom at odd places.
  const RECT areas[] = {{0, 0, 40, 12}, {3, 1, 40, 12}, {0, 0, 22, 9}, {5, 2, 16, 7}};
  const int positions[][2] = {{0, 0}, {1, 1}, {-3, -1}, {6, 3}};
  int draws = 0;
  for (const VectorCase& c : kCases) {
    SCOPED_TRACE(c.name);
    for (int width : widths)
      for (int trans = 0; trans <= 1; ++trans) {
        if (c.draw == Draw::Runs && !trans) continue;
        const int height = c.draw == Draw::Doubled ? 4 : 6;
        MEMIMG source = RandomImage(width, height, -1, trans != 0, rng);
        source.body->tableValid = c.draw == Draw::Runs ? 1 : 0;
        std::vector<uint8_t> start((40 * 4 + 12) * 12);
        for (auto& b : start) b = static_cast<uint8_t>(rng());
        for (const RECT& area : areas)
          for (const auto& at : positions) {
            if (c.draw == Draw::Runs && (at[0] < 0 || at[1] < 0 || area.left || area.top))
              continue;  // the run-length path draws whole images only
            SCOPED_TRACE(testing::Message() << "width " << width << " trans " << trans << " at "
                                            << at[0] << "," << at[1] << " area " << area.left << ","
                                            << area.top << "," << area.right << "," << area.bottom);
            const auto scalar = DrawAt(0, c, source, start, at[0], at[1], trans, area);
            for (int level = 1; level <= best; ++level)
              ASSERT_EQ(DrawAt(level, c, source, start, at[0], at[1], trans, area), scalar)
                  << "level " << level;
            ++draws;
          }
        ReleaseMEMIMG(&source);
      }
  }
  SetSoftwareKernelVectorLevel(2);
  EXPECT_GT(draws, 400);
}

}  // namespace
