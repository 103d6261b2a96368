// What the graph tests share: an engine started headless on a screen of a chosen colour depth, BMP
// fixtures written by the test, and expected frames painted on the CPU to compare with the frame
// the device (or the software screen) presented.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "graphics/graphics_public.h"
#include "graphics/screen_mode.h"
#include "tests/graphics/graphics_engine_fixture.h"

// A small RGB image, 0xRRGGBB per pixel, rows top-down.
struct TestImage {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  TestImage() = default;
  TestImage(int w, int h, uint32_t fill = 0)
      : width(w), height(h), pixels(static_cast<size_t>(w) * h, fill) {}
  uint32_t& At(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// A 24-bit bottom-up BMP of the image, written field by field.
inline bool WriteBMPFile(const std::string& path, const TestImage& image) {
  const int rowBytes = (image.width * 3 + 3) & ~3;
  const uint32_t pixelBytes = static_cast<uint32_t>(rowBytes * image.height);
  std::vector<uint8_t> bytes;
  auto put16 = [&](uint32_t v) {
    bytes.push_back(static_cast<uint8_t>(v));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto put32 = [&](uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  bytes.push_back('B');
  bytes.push_back('M');
  put32(54 + pixelBytes);
  put32(0);
  put32(54);
  put32(40);
  put32(static_cast<uint32_t>(image.width));
  put32(static_cast<uint32_t>(image.height));
  put16(1);
  put16(24);
  put32(0);
  put32(pixelBytes);
  put32(2835);
  put32(2835);
  put32(0);
  put32(0);
  for (int y = image.height - 1; y >= 0; --y) {
    for (int x = 0; x < image.width; ++x) {
      const uint32_t p = image.At(x, y);
      bytes.push_back(static_cast<uint8_t>(p));
      bytes.push_back(static_cast<uint8_t>(p >> 8));
      bytes.push_back(static_cast<uint8_t>(p >> 16));
    }
    for (int pad = image.width * 3; pad < rowBytes; ++pad) bytes.push_back(0);
  }
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

// Distinct colours from a seed; each channel is one of 0x00, 0x40, 0x80, 0xC0, 0xFF and black is
// never made, so that black can mark the transparent pixels.
inline uint32_t FixtureColour(int seed) {
  static constexpr uint32_t kLevels[5] = {0x00, 0x40, 0x80, 0xC0, 0xFF};
  const int n = seed % 124 + 1;
  return (kLevels[n % 5] << 16) | (kLevels[(n / 5) % 5] << 8) | kLevels[(n / 25) % 5];
}

inline TestImage MakePatternImage(int width, int height, int seed) {
  TestImage image(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.At(x, y) = FixtureColour(seed + y * width + x);
  return image;
}

// The expected screen.
struct Canvas {
  TestImage image;
  explicit Canvas(uint32_t background, int width = 640, int height = 480)
      : image(width, height, background) {}
  void Put(int x, int y, uint32_t rgb) {
    if (x >= 0 && y >= 0 && x < image.width && y < image.height) image.At(x, y) = rgb;
  }
  // The source drawn with its top-left pixel at (x, y), inside the clip (left, top, right, bottom);
  // black pixels skipped when transparent.
  void Draw(const TestImage& source, int x, int y, bool transparent, int left = 0, int top = 0,
            int right = 640, int bottom = 480) {
    for (int sy = 0; sy < source.height; ++sy) {
      for (int sx = 0; sx < source.width; ++sx) {
        const int px = x + sx;
        const int py = y + sy;
        if (px < left || py < top || px >= right || py >= bottom) continue;
        const uint32_t rgb = source.At(sx, sy);
        if (transparent && rgb == 0) continue;
        Put(px, py, rgb);
      }
    }
  }
};

inline TestImage Crop(const TestImage& source, int x, int y, int width, int height) {
  TestImage part(width, height);
  for (int j = 0; j < height; ++j)
    for (int i = 0; i < width; ++i) part.At(i, j) = source.At(x + i, y + j);
  return part;
}

// Number of pixels whose channels differ by more than the tolerance; the first few are reported.
inline int CountFrameDifferences(const std::vector<uint32_t>& actual, const TestImage& expected,
                                 int tolerance = 0) {
  if (actual.size() != expected.pixels.size()) {
    ADD_FAILURE() << "frame of " << actual.size() << " pixels, expected " << expected.pixels.size();
    return -1;
  }
  int count = 0;
  for (size_t i = 0; i < actual.size(); ++i) {
    const uint32_t a = actual[i];
    const uint32_t e = expected.pixels[i];
    bool differs = false;
    for (int shift = 0; shift < 24; shift += 8) {
      const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((e >> shift) & 0xFF);
      if (d > tolerance || d < -tolerance) {
        differs = true;
      }
    }
    if (!differs) continue;
    if (++count <= 5) {
      char line[96];
      std::snprintf(line, sizeof line, "pixel (%d, %d): %06X, expected %06X",
                    static_cast<int>(i % expected.width), static_cast<int>(i / expected.width), a,
                    e);
      ADD_FAILURE() << line;
    }
  }
  return count;
}

// The engine started on a 640 x 480 screen of the given depth, with a background colour.
class GraphTest : public GraphicsEngineTest {
 protected:
  void TearDown() override {
    GraphicsEngineTest::TearDown();
    ChangeScreenMode(640, 480, 16, 0, -1);
  }

  void Start(int colorBits, uint32_t background, bool software = false) {
    ASSERT_EQ(ChangeScreenMode(640, 480, colorBits, 0, -1), 0);
    if (software) {
      ASSERT_EQ(SetUseHardwareGraphics(0), 0);
    }
    // A title of its own, so that test programs running side by side are not second copies.
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    title_ = std::string("graph test ") + info->name() + " " + std::to_string(getpid());
    SetWindowTitle(title_.c_str());
    PreInitSettings& settings = EngineSettings();
    settings.backgroundSet = 1;
    settings.backgroundRed = static_cast<int>((background >> 16) & 0xFF);
    settings.backgroundGreen = static_cast<int>((background >> 8) & 0xFF);
    settings.backgroundBlue = static_cast<int>(background & 0xFF);
    ASSERT_EQ(InitializeEngine(), 0) << ReadLog();
  }

  std::string title_;

  // Writes the image as a BMP in the test's folder and returns the path the engine opens it by.
  std::string WriteFixture(const std::string& name, const TestImage& image) {
    const std::string posix = directory_ + "/" + name;
    EXPECT_TRUE(WriteBMPFile(posix, image));
    std::string enginePath;
    EXPECT_TRUE(MapPosixToEnginePath(posix, enginePath));
    return enginePath;
  }

  // The frame as the window shows it after a present: the swap chain's image, or in software
  // mode the picture GDI put into the window.
  std::vector<uint32_t> PresentAndRead(bool software = false) {
    EXPECT_EQ(PresentFrame(), 0);
    return software ? WindowPixels() : PresentedPixels();
  }
};

// The game's way of drawing a frame, in small: sprites cut from a sheet drawn at points with black
// transparent, a gauge drawn in part, a glyph stretched twice under a brightness, a sprite partly
// off the screen.
struct GameScene {
  // Four columns beyond the pieces: a 16-bit software image of this width has padding at the end
  // of its rows (the 16-bit software kernels read a byte beyond the pixel they fetch).
  TestImage sheetImage = MakePatternImage(36, 16, 100);
  TestImage glyphImage = MakePatternImage(12, 16, 200);
  int pieces[8] = {};
  int glyph = -1;

  // Loads the sheet (with a few black pixels) and the glyph from BMP files of the test's folder.
  template <class Writer>
  bool Load(Writer write) {
    for (int i = 0; i < 16; ++i) sheetImage.At((i * 7) % 32, (i * 5) % 16) = 0;
    glyphImage.At(2, 3) = 0;
    glyphImage.At(11, 15) = 0;
    if (LoadDividedGraphFile(write("scene_sheet.bmp", sheetImage).c_str(), 8, 4, 2, 8, 8, pieces) !=
        0)
      return false;
    glyph = LoadGraphFile(write("scene_glyph.bmp", glyphImage).c_str());
    return glyph != -1;
  }

  void Draw() const {
    for (int i = 0; i < 8; ++i) DrawGraphAtPoint(20 + 40 * i, 30 + 3 * i, pieces[i], 1);
    DrawGraphAtPoint(-4, 470, pieces[3], 1);
    DrawGraphPart(100, 100, 0, 0, 5, 8, pieces[1], 1, 0);
    DrawGraphPart(120, 100, 2, 1, -3, 8, pieces[1], 1, 0);
    SetDrawBrightness(255, 128, 64);
    DrawGraphStretched(200, 200, 224, 232, glyph, 1);
    SetDrawBrightness(255, 255, 255);
    DrawGraphStretched(300, 200, 336, 248, glyph, 1);
  }
};
