// Pictures shown in a window: DIB transfers to a window context land in the window's client
// image and on its SDL surface, with the platform's source-rectangle conventions.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstring>
#include <vector>

#include "platform/win32/gdi.h"
#include "platform/win32/gdi_present.h"
#include "platform/win32/user.h"

namespace {

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

// A top-down DIB header followed by its three bit-field masks.
struct DibHeader {
  BITMAPINFOHEADER header;
  DWORD masks[3];
};

DibHeader TopDown(int width, int height, int bits) {
  DibHeader info{};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = width;
  info.header.biHeight = -height;
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(bits);
  info.header.biCompression = BI_BITFIELDS;
  if (bits == 16) {
    info.masks[0] = 0xF800, info.masks[1] = 0x07E0, info.masks[2] = 0x001F;
  } else {
    info.masks[0] = 0xFF0000, info.masks[1] = 0x00FF00, info.masks[2] = 0x0000FF;
  }
  return info;
}

// Distinct colours that survive 5:6:5 exactly: each channel's low bits repeat its top bits.
std::uint32_t Color565(int x, int y) {
  int r = (x * 3) & 31, g = (y * 5) & 63, b = (x + y) & 31;
  return 0xFF000000u | (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) |
         ((b << 3) | (b >> 2));
}

class GdiPresentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSEXA c{};
    c.cbSize = sizeof c;
    c.lpfnWndProc = PlainProc;
    c.lpszClassName = "GdiPresentTestClass";
    RegisterClassExA(&c);
    window = CreateWindowExA(0, "GdiPresentTestClass", "present", WS_POPUP | WS_VISIBLE, 0, 0, 640,
                             480, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    dc = GetDC(window);
    ASSERT_NE(dc, nullptr);
  }
  void TearDown() override {
    if (dc) ReleaseDC(window, dc);
    if (window) DestroyWindow(window);
    UnregisterClassA("GdiPresentTestClass", nullptr);
  }
  std::vector<std::uint32_t> ClientImage() {
    int w = 0, h = 0;
    std::vector<std::uint32_t> pixels;
    EXPECT_TRUE(GetWindowPresentedImage(window, &w, &h, &pixels));
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    return pixels;
  }
  HWND window = nullptr;
  HDC dc = nullptr;
};

TEST_F(GdiPresentTest, SetDIBitsToDeviceShowsA32BitFrameUnchanged) {
  std::vector<std::uint32_t> frame(640 * 480);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) frame[y * 640 + x] = 0xFF000000u | (x << 12) | (y << 2);
  DibHeader info = TopDown(640, 480, 32);
  ASSERT_EQ(SetDIBitsToDevice(dc, 0, 0, 640, 480, 0, 0, 0, 480, frame.data(),
                              reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS),
            480);
  std::vector<std::uint32_t> shown = ClientImage();
  for (std::size_t i = 0; i < frame.size(); ++i) ASSERT_EQ(shown[i], frame[i] | 0xFF000000u) << i;
  // The SDL window surface shows the same picture.
  SDL_Surface* surface = SDL_GetWindowSurface(GetPlatformSDLWindow(window));
  ASSERT_NE(surface, nullptr);
  Uint32 pixel;
  std::memcpy(&pixel, static_cast<Uint8*>(surface->pixels) + 100 * surface->pitch + 200 * 4, 4);
  Uint8 r, g, b;
  SDL_GetRGB(pixel, surface->format, &r, &g, &b);
  EXPECT_EQ((0xFF000000u | (r << 16) | (g << 8) | b), frame[100 * 640 + 200]);
}

TEST_F(GdiPresentTest, StretchDIBitsDoublesTheTopLeftQuarterOfATopDownImage) {
  std::vector<WORD> frame(640 * 480);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      std::uint32_t c = Color565(x, y);
      frame[y * 640 + x] = static_cast<WORD>((((c >> 16) & 0xFF) >> 3) << 11 |
                                             (((c >> 8) & 0xFF) >> 2) << 5 | ((c & 0xFF) >> 3));
    }
  DibHeader info = TopDown(640, 480, 16);
  // Source y 240 counts from the bottom row: the top 240 rows.
  ASSERT_EQ(StretchDIBits(dc, 0, 0, 640, 480, 0, 240, 320, 240, frame.data(),
                          reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, SRCCOPY),
            240);
  std::vector<std::uint32_t> shown = ClientImage();
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x)
      ASSERT_EQ(shown[y * 640 + x], Color565(x / 2, y / 2)) << x << "," << y;
}

TEST_F(GdiPresentTest, PartialStretchLeavesTheRestOfTheWindow) {
  std::vector<std::uint32_t> white(640 * 480, 0xFFFFFFFF), black(640 * 480, 0xFF000000);
  DibHeader info = TopDown(640, 480, 32);
  auto* bmi = reinterpret_cast<BITMAPINFO*>(&info);
  ASSERT_EQ(
      StretchDIBits(dc, 0, 0, 640, 480, 0, 0, 640, 480, white.data(), bmi, DIB_RGB_COLORS, SRCCOPY),
      480);
  // The rectangle (100, 50)-(200, 150) of the frame, as the engine's partial present passes it.
  ASSERT_EQ(StretchDIBits(dc, 100, 50, 100, 100, 100, 480 - 150, 100, 100, black.data(), bmi,
                          DIB_RGB_COLORS, SRCCOPY),
            100);
  std::vector<std::uint32_t> shown = ClientImage();
  EXPECT_EQ(shown[50 * 640 + 100], 0xFF000000u);
  EXPECT_EQ(shown[149 * 640 + 199], 0xFF000000u);
  EXPECT_EQ(shown[49 * 640 + 100], 0xFFFFFFFFu);
  EXPECT_EQ(shown[150 * 640 + 199], 0xFFFFFFFFu);
  EXPECT_EQ(shown[100 * 640 + 200], 0xFFFFFFFFu);
}

TEST_F(GdiPresentTest, BadArgumentsDrawNothing) {
  std::vector<std::uint32_t> frame(16 * 16, 0xFFFFFFFF);
  DibHeader info = TopDown(16, 16, 32);
  auto* bmi = reinterpret_cast<BITMAPINFO*>(&info);
  EXPECT_EQ(
      StretchDIBits(dc, 0, 0, 16, 16, 0, 0, 16, 16, frame.data(), bmi, DIB_RGB_COLORS, 0x00EE0086),
      0);
  EXPECT_EQ(
      StretchDIBits(dc, 0, 0, -16, 16, 0, 0, 16, 16, frame.data(), bmi, DIB_RGB_COLORS, SRCCOPY),
      0);
  EXPECT_EQ(StretchDIBits(dc, 0, 0, 16, 16, 0, 0, 16, 16, nullptr, bmi, DIB_RGB_COLORS, SRCCOPY),
            0);
  HDC memory = CreateCompatibleDC(nullptr);
  EXPECT_EQ(
      StretchDIBits(memory, 0, 0, 16, 16, 0, 0, 16, 16, frame.data(), bmi, DIB_RGB_COLORS, SRCCOPY),
      0);
  DeleteDC(memory);
  EXPECT_FALSE(GetWindowPresentedImage(window, nullptr, nullptr, nullptr));
}

}  // namespace

// A brush painted into a window lands in the same client image as the presents, so it shows on
// the window's surface and in the read-back alike, and a later present covers it.
TEST_F(GdiPresentTest, FillRectPaintsTheClientImage) {
  HBRUSH brush = CreateSolidBrush(RGB(0x12, 0x34, 0x56));
  const RECT area{10, 20, 30, 25};
  ASSERT_EQ(FillRect(dc, &area, brush), 1);
  std::vector<std::uint32_t> shown = ClientImage();
  EXPECT_EQ(shown[20 * 640 + 10], 0xFF123456u);
  EXPECT_EQ(shown[24 * 640 + 29], 0xFF123456u);
  EXPECT_NE(shown[25 * 640 + 29], 0xFF123456u);
  EXPECT_NE(shown[20 * 640 + 30], 0xFF123456u);
  SDL_Surface* surface = SDL_GetWindowSurface(GetPlatformSDLWindow(window));
  ASSERT_NE(surface, nullptr);
  Uint32 pixel;
  std::memcpy(&pixel, static_cast<Uint8*>(surface->pixels) + 22 * surface->pitch + 15 * 4, 4);
  Uint8 r, g, b;
  SDL_GetRGB(pixel, surface->format, &r, &g, &b);
  EXPECT_EQ((r << 16) | (g << 8) | b, 0x123456);
  DeleteObject(brush);
}
