// The layered window: a screen image becomes a top-down 32-bit DIB (premultiplied by its alpha,
// the transparent colour cleared) shown by UpdateLayeredWindow with per-pixel alpha or, for a
// picture without alpha before Vista, its colour key; a device context's picture goes over with
// the colour key; and the frame present of a layered window goes this way.
#include <cstring>

#include "files/color_format.h"
#include "graphics/draw_settings.h"
#include "graphics/graphics_public.h"
#include "host/system_state.h"
#include "platform/win32/gdi_present.h"
#include "platform/win32/layered_window.h"
#include "platform/win32/sysinfo.h"
#include "tests/host/engine_fixture.h"

namespace {

constexpr std::uint32_t kKey = 0x102030;  // the draw settings' transparent colour in these tests

class LayeredWindowTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    EngineSettings().layeredWindow = 1;
  }
  void TearDown() override {
    EngineFixture::TearDown();
    EngineSettings().layeredWindow = 0;
    EngineSettings().backgroundSet = 0;
    SetPlatformVersionInfo(nullptr);
  }
  void Start() {
    ASSERT_EQ(InitializeEngine(), 0);
    ASSERT_TRUE(GetWindowLongA(GetEngineWindowHandle(), GWL_EXSTYLE) & WS_EX_LAYERED);
    GetDrawSettings()->transparentColor = kKey;
  }
};

void UseVista() {
  OSVERSIONINFOA vista{};
  vista.dwOSVersionInfoSize = sizeof vista;
  vista.dwMajorVersion = 6;
  vista.dwMinorVersion = 0;
  vista.dwBuildNumber = 6002;
  vista.dwPlatformId = 2;
  SetPlatformVersionInfo(&vista);
}

// Three pixels in a row, as 0xAARRGGBB before and in the DIB after.
struct Conversion {
  const char* what;
  int format;  // 0 ARGB8, 1 XRGB8, 2 R5G6B5, 3 RGB24
  int useAlpha;
  bool vista;
  std::uint32_t in[3];
  std::uint32_t out[3];
  DWORD flags;
};

constexpr Conversion kConversions[] = {
    {"alpha: premultiplied, the key cleared",
     0,
     1,
     false,
     {0x80FF8040, 0xFF102030, 0x00FFFFFF},
     {0x80804020, 0, 0},
     ULW_ALPHA},
    {"no alpha on Vista: opaque, the key cleared",
     1,
     0,
     true,
     {0x00FF8040, 0x00102030, 0x00FFFFFF},
     {0xFFFF8040, 0, 0xFFFFFFFF},
     ULW_ALPHA},
    {"5:6:5 on Vista: widened, the key's code cleared",
     2,
     0,
     true,
     {0xF800, 0x1106, 0xFFFF},
     {0xFFFF0000, 0, 0xFFFFFFFF},
     ULW_ALPHA},
    {"no alpha before Vista: converted, cut out by the colour key",
     1,
     0,
     false,
     {0x00FF8040, 0x00102030, 0x00FFFFFF},
     {0xFFFF8040, 0xFF102030, 0xFFFFFFFF},
     ULW_COLORKEY},
    {"24 bits with alpha asked: converted opaque",
     3,
     1,
     false,
     {0xFF8040, 0x102030, 0x000000},
     {0xFFFF8040, 0xFF102030, 0xFF000000},
     ULW_ALPHA},
};

TEST_F(LayeredWindowTest, ImagesBecomeThePremultipliedDibTheWindowIsUpdatedWith) {
  for (const Conversion& c : kConversions) {
    SCOPED_TRACE(c.what);
    if (c.vista)
      UseVista();
    else
      SetPlatformVersionInfo(nullptr);
    Start();
    StandardImage image{};
    switch (c.format) {
      case 0: ASSERT_EQ(CreateARGB8StandardImage(3, 1, &image), 0); break;
      case 1: ASSERT_EQ(CreateXRGB8StandardImage(3, 1, &image), 0); break;
      case 2: {
        ColorFormat format{};
        MakeColorFormatFromMasks(&format, 16, 0xF800, 0x07E0, 0x001F, 0);
        ASSERT_EQ(CreateStandardImage(3, 1, &format, &image), 0);
        break;
      }
      default: {
        ColorFormat format{};
        MakeRGB24ColorFormat(&format);
        ASSERT_EQ(CreateStandardImage(3, 1, &format, &image), 0);
      }
    }
    for (int x = 0; x < 3; ++x)
      for (int b = 0; b < image.format.bytesPerPixel; ++b)
        image.pixels[x * image.format.bytesPerPixel + b] =
            static_cast<std::uint8_t>(c.in[x] >> 8 * b);
    ASSERT_EQ(PresentToLayeredWindow(&image, nullptr, c.useAlpha), 0);
    ReleaseStandardImage(&image);

    LayeredWindowUpdate update{};
    ASSERT_TRUE(GetLastLayeredWindowUpdate(&update));
    EXPECT_EQ(update.window, GetEngineWindowHandle());
    EXPECT_EQ(update.size.cx, 3);
    EXPECT_EQ(update.size.cy, 1);
    EXPECT_EQ(update.flags, c.flags);
    EXPECT_EQ(update.key, RGB(0x10, 0x20, 0x30));
    EXPECT_EQ(update.hasBlend, c.flags == ULW_ALPHA);
    if (update.hasBlend) {
      EXPECT_EQ(update.blend.BlendOp, AC_SRC_OVER);
      EXPECT_EQ(update.blend.SourceConstantAlpha, 255);
      EXPECT_EQ(update.blend.AlphaFormat, AC_SRC_ALPHA);
    }
    ASSERT_EQ(update.bytes.size(), 12u);
    for (int x = 0; x < 3; ++x) {
      std::uint32_t pixel;
      std::memcpy(&pixel, &update.bytes[4 * x], 4);
      EXPECT_EQ(pixel, c.out[x]) << "pixel " << x;
    }
    // The window shows the colours over black; a colour key shows black where the key is.
    std::vector<std::uint32_t> shown;
    int width = 0;
    ASSERT_TRUE(GetWindowPresentedImage(GetEngineWindowHandle(), &width, nullptr, &shown));
    for (int x = 0; x < 3; ++x) {
      std::uint32_t expected = c.out[x] & 0xFFFFFF;
      if (c.flags == ULW_COLORKEY && expected == kKey) expected = 0;
      EXPECT_EQ(shown[x] & 0xFFFFFF, expected) << "shown pixel " << x;
    }
    ShutdownEngine();
  }
}

TEST_F(LayeredWindowTest, AContextGoesOverWithTheColourKeyAndAPlainWindowRefuses) {
  Start();
  HDC memory = CreateCompatibleDC(nullptr);
  BITMAPINFO info{};
  info.bmiHeader = BITMAPINFOHEADER{40, 640, -480, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  static_cast<std::uint32_t*>(bits)[0] = 0x00ABCDEF;
  ASSERT_EQ(PresentToLayeredWindow(nullptr, memory, 1), 0);
  LayeredWindowUpdate update{};
  ASSERT_TRUE(GetLastLayeredWindowUpdate(&update));
  EXPECT_EQ(update.sourceDc, memory);
  EXPECT_EQ(update.flags, ULW_COLORKEY);
  EXPECT_FALSE(update.hasBlend);
  EXPECT_EQ(update.size.cx, 640);
  EXPECT_EQ(update.size.cy, 480);
  EXPECT_EQ(update.bytes[0], 0xEF);
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ShutdownEngine();

  EngineSettings().layeredWindow = 0;
  ASSERT_EQ(InitializeEngine(), 0);
  StandardImage image{};
  ASSERT_EQ(CreateARGB8StandardImage(2, 2, &image), 0);
  EXPECT_EQ(PresentToLayeredWindow(&image, nullptr, 1), -1);
  ReleaseStandardImage(&image);
}

TEST_F(LayeredWindowTest, TheFramePresentShowsTheBackBufferThroughTheLayeredWindow) {
  EngineSettings().backgroundRed = 0x40;
  EngineSettings().backgroundGreen = 0x80;
  EngineSettings().backgroundBlue = 0xC0;
  EngineSettings().backgroundSet = 1;
  Start();
  SetDrawTarget(-2);
  ClearDrawTarget();
  ASSERT_EQ(PresentFrame(), 0);
  LayeredWindowUpdate update{};
  ASSERT_TRUE(GetLastLayeredWindowUpdate(&update));
  EXPECT_EQ(update.size.cx, 640);
  EXPECT_EQ(update.size.cy, 480);
  ASSERT_EQ(update.bytes.size(), 640u * 480u * 4u);
  // The screen has no alpha: converted opaque and, before Vista, shown with the colour key.
  EXPECT_EQ(update.flags, ULW_COLORKEY);
  const std::uint8_t corner[4] = {0xC0, 0x80, 0x40, 0xFF};
  EXPECT_EQ(std::memcmp(&update.bytes[0], corner, 4), 0);
  EXPECT_EQ(std::memcmp(&update.bytes[update.bytes.size() - 4], corner, 4), 0);
  EXPECT_EQ(GetDrawSettings()->drawTarget, -2);
}

}  // namespace
