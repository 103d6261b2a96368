// The main window and its procedure: sizing that keeps the aspect ratio, maximising and Alt+Enter
// with and without mode switching, a full-screen start, window settings after the start, the
// run-time mode switch with its bounded wait, the clipboard and the desktop queries.
#include <SDL.h>

#include <cstring>

#include "platform/win32/gdi.h"
#include "tests/host/engine_fixture.h"

namespace {

using MainWindowTest = EngineFixture;

RECT Drag(WPARAM edge, RECT rect) {
  SendMessageA(GetEngineWindowHandle(), WM_SIZING, edge, reinterpret_cast<LPARAM>(&rect));
  return rect;
}

TEST_F(MainWindowTest, SizingKeepsTheScreensAspectRatioWithinTheDesktop) {
  ASSERT_EQ(InitializeEngine(), 0);
  int desktopWidth, desktopHeight;
  GetDesktopSizeAndBits(&desktopWidth, &desktopHeight, nullptr);
  struct Case {
    WPARAM edge;
    RECT drag;
    RECT expected;
    double scale;
  };
  const Case cases[] = {
      {WMSZ_RIGHT,
       {100, 100, 900, 300},
       {100, 100, 900, 700},
       800.0 / 640},  // the height follows the width
      {WMSZ_BOTTOM,
       {100, 100, 200, 340},
       {100, 100, 420, 340},
       320.0 / 640},  // the width follows the height
      {WMSZ_BOTTOMRIGHT, {0, 0, 320, 400}, {0, 0, 533, 400}, 533.0 / 640},  // the taller side leads
      {WMSZ_TOPLEFT, {0, 0, 800, 300}, {0, 0, 800, 600}, 800.0 / 640},      // the wider side leads
      {WMSZ_LEFT,
       {0, 0, 5000, 100},
       {0, 0, desktopWidth, desktopWidth * 3 / 4},
       desktopWidth / 640.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.edge);
    RECT got = Drag(c.edge, c.drag);
    EXPECT_EQ(got.left, c.expected.left);
    EXPECT_EQ(got.top, c.expected.top);
    EXPECT_EQ(got.right, c.expected.right);
    EXPECT_EQ(got.bottom, std::min(c.expected.bottom, static_cast<LONG>(desktopHeight)));
    double x, y;
    GetWindowScaleFactors(&x, &y);
    EXPECT_DOUBLE_EQ(x, c.scale);
    EXPECT_DOUBLE_EQ(y, c.scale);
  }
}

TEST_F(MainWindowTest, MaximiseAndAltEnterRequestASwitchOnlyWhenSwitchingIsAllowed) {
  SetRunWhileInactive(1);
  ASSERT_EQ(InitializeEngine(), 0);
  HWND window = GetEngineWindowHandle();
  // Without the setting, maximising re-fits the window to the screen size and Alt+Enter is nothing.
  SendMessageA(window, WM_SIZE, SIZE_MAXIMIZED, MAKELONG(1024, 768));
  SendMessageA(window, WM_SYSCHAR, 13, 0);
  ProcessWindowMessages();
  EXPECT_EQ(IsWindowedMode(), 1);
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 640);

  int switches = 0;
  SetWindowModeSwitchAllowed(
      1, [](void* data) { ++*static_cast<int*>(data); }, &switches);
  SendMessageA(window, WM_SYSCHAR, 13, 0);
  EXPECT_EQ(IsWindowedMode(), 1);  // the next pump performs it
  SetPlatformVirtualTime(true);
  ProcessWindowMessages();
  EXPECT_EQ(IsWindowedMode(), 0);
  EXPECT_EQ(switches, 1);
  SendMessageA(window, WM_SYSCHAR, 13, 0);
  ProcessWindowMessages();
  EXPECT_EQ(IsWindowedMode(), 1);
  EXPECT_EQ(switches, 2);
  SetWindowModeSwitchAllowed(0, nullptr, nullptr);
}

TEST_F(MainWindowTest, FullScreenStartMakesATopmostPopupOverTheScreenWithTheCursorHidden) {
  ChangeWindowMode(0);
  ASSERT_EQ(InitializeEngine(), 0);
  HWND window = GetEngineWindowHandle();
  EXPECT_EQ(IsWindowedMode(), 0);  // 640 x 480 is a display mode
  RECT rect{};
  GetWindowRect(window, &rect);
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.top, 0);
  EXPECT_EQ(rect.right, 640);
  EXPECT_EQ(rect.bottom, 480);
  LONG style = GetWindowLongA(window, GWL_STYLE);
  EXPECT_EQ(style & WS_CAPTION, 0);
  EXPECT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
  auto lines = LogLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "フルスクリーンモード用のウインドウを作成します"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "カーソルを不可視にしました"), lines.end());
}

TEST_F(MainWindowTest, ChangeWindowModeBeforeTheStartOnlyStoresAndWithTheSameValueStillLogs) {
  EXPECT_EQ(ChangeWindowMode(1), 0);
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_EQ(ChangeWindowMode(1), 0);
  auto lines = LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "ChangeWindowMode実行 ");
}

TEST_F(MainWindowTest, RunTimeSwitchToFullScreenAndBack) {
  SetPlatformVirtualTime(true);
  ASSERT_EQ(InitializeEngine(), 0);
  EXPECT_EQ(ChangeWindowMode(0), 0);
  EXPECT_EQ(IsWindowedMode(), 0);
  RECT rect{};
  GetWindowRect(GetEngineWindowHandle(), &rect);
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.right, 640);
  EXPECT_EQ(IsWindowModeChangeInProgress(), 0);
  EXPECT_EQ(ChangeWindowMode(1), 0);
  EXPECT_EQ(IsWindowedMode(), 1);
  RECT client{};
  GetClientRect(GetEngineWindowHandle(), &client);
  EXPECT_EQ(client.right, 640);
  EXPECT_EQ(client.bottom, 480);
}

TEST_F(MainWindowTest, SettingsAfterTheStartApplyToTheWindowButNotToItsClass) {
  ASSERT_EQ(InitializeEngine(), 0);
  HWND window = GetEngineWindowHandle();
  SetWindowTitle("\x83\x5E\x83\x43\x83\x67\x83\x8B");  // タイトル in code page 932
  EXPECT_STREQ(SDL_GetWindowTitle(GetPlatformSDLWindow(window)),
               "\xE3\x82\xBF\xE3\x82\xA4\xE3\x83\x88\xE3\x83\xAB");
  EXPECT_EQ(FindWindowA(title_.c_str(), nullptr), window);
  EXPECT_EQ(SetWindowIconResource(101), 0);
  int width, height, bits;
  GetDesktopSizeAndBits(&width, &height, &bits);
  EXPECT_EQ(width, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(bits, 32);
}

TEST_F(MainWindowTest, ClipboardTextRoundTripsAndReportsItsSize) {
  ASSERT_EQ(InitializeEngine(), 0);
  WriteClipboardText("abc");
  EXPECT_EQ(ReadClipboardText(nullptr, 0), 5);  // the data's four bytes, plus one
  char small[3];
  EXPECT_EQ(ReadClipboardText(small, sizeof small), 0);
  EXPECT_STREQ(small, "ab");  // cut to the buffer
  char buffer[32];
  WriteClipboardText("\x93\xFA\x96\x7B");  // 日本
  EXPECT_EQ(ReadClipboardText(buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "\x93\xFA\x96\x7B");
  SDL_SetClipboardText("");
  EXPECT_EQ(ReadClipboardText(buffer, sizeof buffer), -1);
}

TEST_F(MainWindowTest, ScreenSaverAndMonitorPowerAreBlockedWhileTheWindowExists) {
  ASSERT_EQ(InitializeEngine(), 0);
  HWND window = GetEngineWindowHandle();
  EXPECT_EQ(SendMessageA(window, WM_SYSCOMMAND, SC_SCREENSAVE, 0), 1);
  EXPECT_EQ(SendMessageA(window, WM_SYSCOMMAND, SC_MONITORPOWER, 2), 1);
  EXPECT_FALSE(SDL_IsScreenSaverEnabled());
  ShutdownEngine();
  EXPECT_TRUE(SDL_IsScreenSaverEnabled());
}

TEST_F(MainWindowTest, MousePositionIsClientRelativeAndScaled) {
  ASSERT_EQ(InitializeEngine(), 0);
  HWND window = GetEngineWindowHandle();
  InjectPlatformMouseMove(window, 320, 240);
  ProcessWindowMessages();
  int x, y;
  ReadMousePosition(&x, &y);
  EXPECT_EQ(x, 320);
  EXPECT_EQ(y, 240);
  RECT drag{0, 0, 320, 240};
  Drag(WMSZ_BOTTOMRIGHT, drag);  // scale 0.5
  ReadMousePosition(&x, &y);
  EXPECT_EQ(x, 640);
  EXPECT_EQ(y, 480);
}

}  // namespace
