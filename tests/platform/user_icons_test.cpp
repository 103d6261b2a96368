// Icons: a program's registered icon resources are found by id, 32512 falls back to the layer's
// default picture, and a window shows its class's icon, following the class when it changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/win32/user.h"

namespace {

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

std::vector<std::uint32_t> Pattern(int width, int height, std::uint32_t seed) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
  for (std::size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = (i % 3 == 0) ? 0 : 0xFF000000u | static_cast<std::uint32_t>(i * seed & 0xFFFFFF);
  return pixels;
}

TEST(UserIconsTest, IconsAreFoundByIdWithTheDefaultUnder32512) {
  const auto small = Pattern(16, 16, 0x10101);
  const auto large = Pattern(32, 24, 0x3F1);
  ASSERT_EQ(RegisterPlatformIconResource(4101, 16, 16, small.data()), 0);
  ASSERT_EQ(RegisterPlatformIconResource(4102, 32, 24, large.data()), 0);
  EXPECT_EQ(RegisterPlatformIconResource(4103, 0, 16, small.data()), -1);
  EXPECT_EQ(RegisterPlatformIconResource(4103, 300, 16, small.data()), -1);
  EXPECT_EQ(RegisterPlatformIconResource(0, 16, 16, small.data()), -1);
  EXPECT_EQ(RegisterPlatformIconResource(4103, 16, 16, nullptr), -1);

  struct Case {
    LPCSTR name;
    int width;  // 0: no icon
    int height;
    const std::vector<std::uint32_t>* pixels;  // null: any picture
  };
  const Case cases[] = {
      {MAKEINTRESOURCEA(4101), 16, 16, &small},
      {MAKEINTRESOURCEA(4102), 32, 24, &large},
      {IDI_APPLICATION, 32, 32, nullptr},
      {MAKEINTRESOURCEA(4103), 0, 0, nullptr},  // refused above, so never registered
      {"app", 0, 0, nullptr},                   // no named resources
      {nullptr, 0, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(reinterpret_cast<std::uintptr_t>(c.name));
    for (HINSTANCE instance : {static_cast<HINSTANCE>(nullptr), GetModuleHandleA(nullptr)}) {
      HICON icon = LoadIconA(instance, c.name);
      int width = 0, height = 0;
      std::vector<std::uint32_t> pixels;
      ASSERT_EQ(icon != nullptr, c.width != 0);
      if (!icon) continue;
      ASSERT_TRUE(GetPlatformIconImage(icon, &width, &height, &pixels));
      EXPECT_EQ(width, c.width);
      EXPECT_EQ(height, c.height);
      if (c.pixels) {
        EXPECT_EQ(pixels, *c.pixels);
      } else {
        EXPECT_NE(std::count_if(pixels.begin(), pixels.end(),
                                [](std::uint32_t p) { return (p >> 24) == 0xFF; }),
                  0);
      }
    }
  }
  // A cursor is not an icon.
  EXPECT_FALSE(GetPlatformIconImage(LoadCursorA(nullptr, IDC_ARROW), nullptr, nullptr, nullptr));
}

TEST(UserIconsTest, WindowsShowTheirClassIconAndFollowItsChanges) {
  const auto pixels = Pattern(16, 16, 0x777);
  ASSERT_EQ(RegisterPlatformIconResource(4111, 16, 16, pixels.data()), 0);
  ASSERT_EQ(RegisterPlatformIconResource(4112, 16, 16, pixels.data()), 0);
  HICON first = LoadIconA(nullptr, MAKEINTRESOURCEA(4111));
  HICON second = LoadIconA(nullptr, MAKEINTRESOURCEA(4112));
  WNDCLASSEXA c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = PlainProc;
  c.hIcon = first;
  c.lpszClassName = "UserIconsTestClass";
  ASSERT_NE(RegisterClassExA(&c), 0);
  HWND a = CreateWindowExA(0, c.lpszClassName, "a", WS_POPUP, 0, 0, 64, 64, nullptr, nullptr,
                           nullptr, nullptr);
  HWND b = CreateWindowExA(0, c.lpszClassName, "b", WS_POPUP, 0, 0, 64, 64, nullptr, nullptr,
                           nullptr, nullptr);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(GetPlatformWindowIcon(a), first);
  EXPECT_EQ(SetClassLongA(a, GCL_HICON, static_cast<LONG>(reinterpret_cast<LONG_PTR>(second))),
            static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(first)));
  EXPECT_EQ(GetPlatformWindowIcon(a), second);
  EXPECT_EQ(GetPlatformWindowIcon(b), second);
  // A class without an icon: its windows show the default one.
  SetClassLongPtrA(b, GCL_HICON, 0);
  EXPECT_EQ(GetPlatformWindowIcon(a), nullptr);
  int width = 0;
  EXPECT_TRUE(GetPlatformIconImage(GetPlatformWindowIcon(a), &width, nullptr, nullptr));
  EXPECT_EQ(width, 32);
  DestroyWindow(a);
  DestroyWindow(b);
  UnregisterClassA(c.lpszClassName, nullptr);
}

}  // namespace
