// Real fonts against stored pictures: Japanese text (hiragana, kanji, half-width kana) and ASCII,
// horizontal and in a vertical line, drawn white with a black edge by the texture path and by the
// software path, compared with golden images kept in tests/data/fonts. The comparison is loose, so
// that a font package that moves a pixel here and there still passes, while a wrong glyph, a wrong
// position, a wrong direction or a missing edge fails. Grey text from a real font is checked to
// reach the text colour itself where its strokes are fully covered.
//
// The goldens are plain PGM files (P2, one value a pixel: 0 background, 1 edge, 2 text). To make
// them again after a deliberate change, run the test with ENGINE_UPDATE_FONT_GOLDEN=1:
//   ENGINE_UPDATE_FONT_GOLDEN=1 build/test/tests/graphics_tests --gtest_filter='FontGolden*'
// which writes the software path's pictures over the stored ones; look at them before committing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/font.h"
#include "tests/graphics/graph_test_support.h"

namespace {

constexpr uint32_t kBackground = 0x204060;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000;
// Hiragana, kanji, half-width kana, a blank and ASCII with a descender.
constexpr const char* kText = "あいう漢字ｱｲｳ Ag";

// A picture of pixel classes: 0 background, 1 edge, 2 text, 3 anything else.
struct ClassImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> values;
  int At(int x, int y) const { return values[static_cast<size_t>(y) * width + x]; }
};

// Where each string is drawn and the part of the frame kept for it.
struct GoldenPart {
  const char* file;
  int vertical;
  int x, y;                      // the string's position
  int left, top, right, bottom;  // the part of the frame compared
};

constexpr GoldenPart kParts[] = {
    {"text_horizontal.pgm", 0, 4, 4, 0, 0, 200, 28},
    {"text_vertical.pgm", 1, 4, 40, 0, 36, 28, 236},
};

std::string GoldenPath(const char* file) {
  return std::string(ENGINE_TEST_DATA_DIR) + "/fonts/" + file;
}

ClassImage Classify(const std::vector<uint32_t>& frame, const GoldenPart& part) {
  ClassImage image{part.right - part.left, part.bottom - part.top, {}};
  for (int y = part.top; y < part.bottom; ++y)
    for (int x = part.left; x < part.right; ++x) {
      const uint32_t rgb = frame[static_cast<size_t>(y) * 640 + x] & 0xFFFFFF;
      image.values.push_back(rgb == kBackground ? 0 : rgb == kBlack ? 1 : rgb == kWhite ? 2 : 3);
    }
  return image;
}

bool WritePgm(const std::string& path, const ClassImage& image) {
  std::ofstream file(path, std::ios::binary);
  file << "P2\n# pixel classes: 0 background, 1 edge, 2 text\n"
       << image.width << " " << image.height << "\n3\n";
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) file << (x ? " " : "") << image.At(x, y);
    file << "\n";
  }
  return static_cast<bool>(file);
}

bool ReadPgm(const std::string& path, ClassImage* image) {
  std::ifstream file(path, std::ios::binary);
  std::string text, line;
  while (std::getline(file, line))
    if (line.empty() || line[0] != '#') text += line + "\n";
  std::istringstream in(text);
  std::string magic;
  int maxValue = 0;
  if (!(in >> magic >> image->width >> image->height >> maxValue) || magic != "P2") return false;
  if (image->width <= 0 || image->height <= 0 || image->width > 4096 || image->height > 4096)
    return false;
  image->values.assign(static_cast<size_t>(image->width) * image->height, 0);
  for (uint8_t& v : image->values) {
    int value = -1;
    if (!(in >> value) || value < 0 || value > maxValue) return false;
    v = static_cast<uint8_t>(value);
  }
  return true;
}

// The ink's bounding box (left, top, right, bottom; right and bottom exclusive).
RECT InkBox(const ClassImage& image) {
  RECT box{image.width, image.height, 0, 0};
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x)
      if (image.At(x, y) != 0) {
        box.left = std::min<LONG>(box.left, x);
        box.top = std::min<LONG>(box.top, y);
        box.right = std::max<LONG>(box.right, x + 1);
        box.bottom = std::max<LONG>(box.bottom, y + 1);
      }
  return box;
}

int CountClass(const ClassImage& image, int value) {
  return static_cast<int>(std::count(image.values.begin(), image.values.end(), value));
}

// The loose comparison. A font package update may move a few pixels of a glyph's outline, or its
// ink by a pixel at most; everything else must stay:
// - the ink's bounding box within a pixel on each side;
// - the amounts of text and of edge within 8 % of the golden's;
// - pixels whose class differs at most 6 % of the pixels inked in either picture;
// - in every square of 16 pixels (stepped by 8), at most 12 differing pixels or half of the
//   square's ink, so that one wrong glyph among many cannot hide in the whole, while a stroke
//   moved by a pixel can.
// Each fault this is meant to find (a pixel's move along or across the line, no edge, a line
// turned the wrong way, one character changed) makes 10 % to 70 % of the ink differ, and 80 % or
// more in its worst square.
// The result is empty when the pictures match, else what did not.
std::string CompareLoosely(const ClassImage& actual, const ClassImage& golden) {
  std::ostringstream fault;
  if (actual.width != golden.width || actual.height != golden.height) {
    fault << "size " << actual.width << "x" << actual.height << ", golden " << golden.width << "x"
          << golden.height;
    return fault.str();
  }
  if (CountClass(actual, 3) != 0) fault << CountClass(actual, 3) << " pixels of other colours; ";
  const RECT a = InkBox(actual);
  const RECT g = InkBox(golden);
  if (std::abs(a.left - g.left) > 1 || std::abs(a.top - g.top) > 1 ||
      std::abs(a.right - g.right) > 1 || std::abs(a.bottom - g.bottom) > 1)
    fault << "ink box (" << a.left << ", " << a.top << ", " << a.right << ", " << a.bottom
          << "), golden (" << g.left << ", " << g.top << ", " << g.right << ", " << g.bottom
          << "); ";
  for (int value : {1, 2}) {
    const int have = CountClass(actual, value);
    const int want = CountClass(golden, value);
    if (std::abs(have - want) * 100 > want * 8)
      fault << (value == 1 ? "edge" : "text") << " pixels " << have << ", golden " << want << "; ";
  }
  int differing = 0, inked = 0;
  for (size_t i = 0; i < actual.values.size(); ++i) {
    differing += actual.values[i] != golden.values[i];
    inked += actual.values[i] != 0 || golden.values[i] != 0;
  }
  if (differing * 100 > inked * 6)
    fault << differing << " of " << inked << " inked pixels differ; ";
  for (int top = 0; top < actual.height; top += 8)
    for (int left = 0; left < actual.width; left += 8) {
      int d = 0, ink = 0;
      for (int y = top; y < std::min(top + 16, actual.height); ++y)
        for (int x = left; x < std::min(left + 16, actual.width); ++x) {
          d += actual.At(x, y) != golden.At(x, y);
          ink += actual.At(x, y) != 0 || golden.At(x, y) != 0;
        }
      if (d > 12 && d * 2 > ink) {
        fault << d << " of " << ink << " inked pixels differ in the square at (" << left << ", "
              << top << "); ";
        return fault.str();
      }
    }
  return fault.str();
}

class FontGoldenTest : public GraphTest {
 protected:
  // The frame with both strings drawn in the log's kind of font (size 16, weight 400, an edge of
  // one) from the given text, on the texture path or the software path.
  std::vector<uint32_t> DrawStrings(bool software, const char* text) {
    // A software start keeps its setting: a Direct3D frame after it asks for Direct3D again.
    SetUseHardwareGraphics(software ? 0 : 1);
    Start(32, kBackground, software);
    EXPECT_EQ(ClearDrawTarget(), 0);
    const int font = CreateFontToHandle(nullptr, 16, 4, 1, 1, 1, 0);
    EXPECT_NE(font, -1);
    for (const GoldenPart& part : kParts)
      EXPECT_EQ(DrawStringWithFontHandle(part.x, part.y, text, MakeScreenColorCode(255, 255, 255),
                                         font, MakeScreenColorCode(0, 0, 0), part.vertical),
                0);
    std::vector<uint32_t> frame = PresentAndRead(software);
    ShutdownEngine();
    return frame;
  }
};

TEST_F(FontGoldenTest, RealFontTextMatchesTheStoredPictures) {
  const bool update = std::getenv("ENGINE_UPDATE_FONT_GOLDEN") != nullptr;
  // The software path first, so that an update writes the pictures the Direct3D path is then
  // compared with.
  for (bool software : {true, false}) {
    SCOPED_TRACE(software ? "software" : "Direct3D");
    const std::vector<uint32_t> frame = DrawStrings(software, kText);
    ASSERT_EQ(frame.size(), 640u * 480u);
    for (const GoldenPart& part : kParts) {
      SCOPED_TRACE(part.file);
      const ClassImage actual = Classify(frame, part);
      if (update && software) {
        ASSERT_TRUE(WritePgm(GoldenPath(part.file), actual)) << GoldenPath(part.file);
        continue;
      }
      ClassImage golden;
      ASSERT_TRUE(ReadPgm(GoldenPath(part.file), &golden)) << GoldenPath(part.file);
      EXPECT_EQ(CompareLoosely(actual, golden), "");
    }
  }
}

// Grey text from a real font: the insides of the strokes are fully covered and show the text
// colour itself on both paths, their borders blend into the background.
TEST_F(FontGoldenTest, RealGreyTextIsOpaqueWhereFullyCovered) {
  for (bool software : {false, true}) {
    SCOPED_TRACE(software ? "software" : "Direct3D");
    SetUseHardwareGraphics(software ? 0 : 1);
    Start(32, kBackground, software);
    EXPECT_EQ(ClearDrawTarget(), 0);
    const int font = CreateFontToHandle(nullptr, 24, 4, 2, 1, -1, 0);
    ASSERT_NE(font, -1);
    EXPECT_EQ(
        DrawStringWithFontHandle(10, 10, "漢字", MakeScreenColorCode(255, 255, 255), font, 0, 0),
        0);
    const std::vector<uint32_t> frame = PresentAndRead(software);
    ShutdownEngine();
    ASSERT_EQ(frame.size(), 640u * 480u);
    int full = 0, partial = 0, outside = 0;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) {
        const uint32_t rgb = frame[static_cast<size_t>(y) * 640 + x];
        if (rgb == kBackground) continue;
        if (x < 10 || y < 10 || x >= 10 + 2 * 26 || y >= 10 + 26) ++outside;
        ++(rgb == kWhite ? full : partial);
      }
    EXPECT_GT(full, 60);
    EXPECT_GT(partial, 20);
    EXPECT_EQ(outside, 0);
  }
}

// The comparison is loose, not blind: the stored pictures moved by a pixel, without their edge,
// mirrored (a vertical line turned the wrong way), and text with one character changed all fail.
TEST_F(FontGoldenTest, LooseComparisonStillFindsWrongText) {
  if (std::getenv("ENGINE_UPDATE_FONT_GOLDEN")) GTEST_SKIP() << "the goldens are being made";
  const std::vector<uint32_t> wrongGlyph = DrawStrings(true, "あいい漢字ｱｲｳ Ag");
  for (const GoldenPart& part : kParts) {
    SCOPED_TRACE(part.file);
    ClassImage golden;
    ASSERT_TRUE(ReadPgm(GoldenPath(part.file), &golden));
    ASSERT_EQ(CompareLoosely(golden, golden), "");
    auto changed = [&](auto pixel) {
      ClassImage image = golden;
      for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
          image.values[static_cast<size_t>(y) * image.width + x] =
              static_cast<uint8_t>(pixel(x, y));
      return image;
    };
    auto at = [&](int x, int y) {
      return x < 0 || y < 0 || x >= golden.width || y >= golden.height ? 0 : golden.At(x, y);
    };
    const ClassImage moved =
        changed([&](int x, int y) { return part.vertical ? at(x, y - 1) : at(x - 1, y); });
    const ClassImage across =
        changed([&](int x, int y) { return part.vertical ? at(x - 1, y) : at(x, y - 1); });
    const ClassImage noEdge = changed([&](int x, int y) { return at(x, y) == 1 ? 0 : at(x, y); });
    const ClassImage mirrored = changed([&](int x, int y) {
      const RECT box = InkBox(golden);
      return part.vertical ? at(box.left + box.right - 1 - x, y)
                           : at(x, box.top + box.bottom - 1 - y);
    });
    EXPECT_NE(CompareLoosely(moved, golden), "");
    EXPECT_NE(CompareLoosely(across, golden), "");
    EXPECT_NE(CompareLoosely(noEdge, golden), "");
    EXPECT_NE(CompareLoosely(mirrored, golden), "");
    EXPECT_NE(CompareLoosely(Classify(wrongGlyph, part), golden), "");
  }
}

}  // namespace
