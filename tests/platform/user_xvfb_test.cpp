// Windows on a real X server (Xvfb with a 1280 x 720 screen, run by the test): the class icon is
// the window's _NET_WM_ICON as xprop reads it and follows SetClassLongA, and a full-screen window
// shows its 640 x 480 picture scaled to the screen with its aspect kept (black bars left and
// right), then, back in a window, the picture 1:1 at the window's place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/gdi_present.h"
#include "platform/win32/user.h"
#include "tests/xvfb_support.h"

namespace {

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 720;

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

std::vector<std::uint32_t> IconPattern(std::uint32_t seed) {
  std::vector<std::uint32_t> pixels(16 * 16);
  for (std::size_t i = 0; i < pixels.size(); ++i)
    pixels[i] =
        i % 5 == 0 ? 0 : 0xFF000000u | static_cast<std::uint32_t>((i + 1) * seed & 0xFFFFFF);
  return pixels;
}

// The icon property as the X server holds it, once it equals the picture (bounded wait).
bool WaitForIcon(const std::string& display, unsigned long window,
                 const std::vector<std::uint32_t>& pixels) {
  std::vector<std::uint32_t> expected{16, 16};
  expected.insert(expected.end(), pixels.begin(), pixels.end());
  for (int attempt = 0; attempt < 40; ++attempt) {
    Pump();
    if (xvfb::WindowIconProperty(display, window) == expected) return true;
    usleep(50000);
  }
  return false;
}

struct Probe {
  int x, y;
  std::uint32_t rgb;
};

// Presents the picture again and again until a screenshot shows every probe (bounded wait).
bool WaitForScreen(const std::string& display, HWND window, const std::vector<std::uint32_t>& frame,
                   const std::vector<Probe>& probes, std::string* seen) {
  const RECT whole{0, 0, 640, 480};
  for (int attempt = 0; attempt < 40; ++attempt) {
    Pump();
    PresentPixelsToWindow(window, frame.data(), 640, whole, nullptr);
    usleep(50000);
    const std::vector<std::uint8_t> shot = xvfb::ScreenshotRoot(display);
    if (shot.size() != static_cast<std::size_t>(kScreenWidth) * kScreenHeight * 3) continue;
    bool all = true;
    seen->clear();
    for (const Probe& p : probes) {
      const std::uint8_t* pixel = &shot[(static_cast<std::size_t>(p.y) * kScreenWidth + p.x) * 3];
      const std::uint32_t rgb = pixel[0] << 16 | pixel[1] << 8 | pixel[2];
      *seen += std::to_string(p.x) + "," + std::to_string(p.y) + "=" + std::to_string(rgb) + " ";
      all = all && rgb == p.rgb;
    }
    if (all) return true;
  }
  return false;
}

TEST(UserXvfbTest, IconAndFullScreenOnARealDisplay) {
  if (!xvfb::IsOnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_TRUE(xvfb::IsOnPath("xprop") && xvfb::IsOnPath("import"))
      << "xprop (x11-utils) and import (imagemagick) are needed beside Xvfb";
  pid_t server = 0;
  const std::string display = xvfb::StartServer(&server, "1280x720x24");
  ASSERT_FALSE(display.empty()) << "Xvfb did not start";
  std::string output;
  const bool passed = xvfb::RunChildOnDisplay(display, "UserXvfbChild.*", &output);
  xvfb::StopServer(server);
  EXPECT_TRUE(passed) << output;
}

TEST(UserXvfbChild, IconAndFullScreen) {
  if (!std::getenv("XVFB_CHILD")) GTEST_SKIP() << "run on Xvfb by UserXvfbTest";
  ASSERT_FALSE(IsPlatformHeadless());
  const std::string display = std::getenv("DISPLAY");
  const auto first = IconPattern(0x10305);
  const auto second = IconPattern(0x2911);
  ASSERT_EQ(RegisterPlatformIconResource(4201, 16, 16, first.data()), 0);
  ASSERT_EQ(RegisterPlatformIconResource(4202, 16, 16, second.data()), 0);
  WNDCLASSEXA c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = PlainProc;
  c.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(4201));
  c.lpszClassName = "UserXvfbClass";
  ASSERT_NE(RegisterClassExA(&c), 0);

  // Shown first, then full screen on the layer's 640 x 480 mode, which this screen does not have,
  // as a program switches.
  HWND window = CreateWindowExA(WS_EX_TOPMOST, "UserXvfbClass", "xvfb", WS_POPUP | WS_VISIBLE, 0, 0,
                                640, 480, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  for (int i = 0; i < 5; ++i) {
    Pump();
    usleep(20000);
  }
  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL;
  mode.dmPelsWidth = 640;
  mode.dmPelsHeight = 480;
  mode.dmBitsPerPel = 32;
  ASSERT_EQ(ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN), DISP_CHANGE_SUCCESSFUL);
  const std::string id = xvfb::FindWindow(display, "xvfb");
  ASSERT_FALSE(id.empty()) << "the window never appeared";
  const unsigned long xWindow = std::stoul(id);

  EXPECT_TRUE(WaitForIcon(display, xWindow, first));
  SetClassLongA(
      window, GCL_HICON,
      static_cast<LONG>(reinterpret_cast<LONG_PTR>(LoadIconA(nullptr, MAKEINTRESOURCEA(4202)))));
  EXPECT_TRUE(WaitForIcon(display, xWindow, second));

  // Four quadrants: red, green / blue, yellow.
  std::vector<std::uint32_t> frame(640 * 480);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x)
      frame[y * 640 + x] =
          y < 240 ? (x < 320 ? 0xFFFF0000u : 0xFF00FF00u) : (x < 320 ? 0xFF0000FFu : 0xFFFFFF00u);
  // 640 x 480 fits 1280 x 720 as 960 x 720 from x = 160.
  std::string seen;
  EXPECT_TRUE(WaitForScreen(display, window, frame,
                            {{80, 100, 0},
                             {155, 360, 0},
                             {1125, 360, 0},
                             {1270, 700, 0},
                             {165, 5, 0xFF0000},
                             {400, 180, 0xFF0000},
                             {880, 180, 0x00FF00},
                             {400, 540, 0x0000FF},
                             {880, 540, 0xFFFF00},
                             {1114, 714, 0xFFFF00}},
                            &seen))
      << seen;

  // Back in a window of its own place and size.
  SetWindowLongA(window, GWL_STYLE, WS_POPUP | WS_CAPTION);
  ASSERT_EQ(ChangeDisplaySettingsA(nullptr, 0), DISP_CHANGE_SUCCESSFUL);
  SetWindowPos(window, HWND_NOTOPMOST, 100, 50, 640, 480, 0);
  EXPECT_TRUE(WaitForScreen(display, window, frame,
                            {{101, 51, 0xFF0000},
                             {100 + 639, 51, 0x00FF00},
                             {101, 50 + 479, 0x0000FF},
                             {100 + 639, 50 + 479, 0xFFFF00},
                             {100 + 320, 50 + 240, 0xFFFF00},
                             {100 + 319, 50 + 239, 0xFF0000}},
                            &seen))
      << seen;
  DestroyWindow(window);
  UnregisterClassA("UserXvfbClass", nullptr);
}

}  // namespace
