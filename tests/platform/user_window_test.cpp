// Windows and message queues of the user part: synchronous messages, geometry messages only on
// change, retrieval order, filters, timers, per-thread queues and stale handles.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/win32/user.h"

namespace {

struct Seen {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Seen> seen;
bool closeDestroys = true;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  seen.push_back({window, message, wParam, lParam});
  if (message == WM_CLOSE && !closeDestroys) return 0;
  return DefWindowProcA(window, message, wParam, lParam);
}

class UserWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    seen.clear();
    closeDestroys = true;
    WNDCLASSEXA c{};
    c.cbSize = sizeof c;
    c.lpfnWndProc = RecordingProc;
    c.lpszClassName = "UserWindowTestClass";
    RegisterClassExA(&c);
  }
  void TearDown() override {
    for (HWND w : created) DestroyWindow(w);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    UnregisterClassA("UserWindowTestClass", nullptr);
    SetPlatformVirtualTime(false);
  }
  HWND Make(DWORD style = WS_POPUP | WS_CAPTION, int x = 10, int y = 20, int w = 640, int h = 480) {
    HWND window = CreateWindowExA(0, "UserWindowTestClass", "test", style, x, y, w, h, nullptr,
                                  nullptr, nullptr, nullptr);
    created.push_back(window);
    return window;
  }
  static std::vector<UINT> Messages() {
    std::vector<UINT> messages;
    for (auto& s : seen) messages.push_back(s.message);
    return messages;
  }
  std::vector<HWND> created;
};

TEST_F(UserWindowTest, CreateSendsCreateAtOnceAndDestroySendsDestroyThenHandleIsStale) {
  HWND window = Make();
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(Messages(), std::vector<UINT>{WM_CREATE});
  EXPECT_NE(GetPlatformSDLWindow(window), nullptr);
  RECT client{};
  ASSERT_TRUE(GetClientRect(window, &client));
  EXPECT_EQ(client.right, 640);
  EXPECT_EQ(client.bottom, 480);
  POINT corner{0, 0};
  ClientToScreen(window, &corner);
  EXPECT_EQ(corner.x, 10);
  EXPECT_EQ(corner.y, 20);
  ASSERT_TRUE(SetTimer(window, 7, 32, nullptr));
  ASSERT_TRUE(DestroyWindow(window));
  EXPECT_EQ(seen.back().message, WM_DESTROY);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(DestroyWindow(window));
  EXPECT_FALSE(PostMessageA(window, WM_CLOSE, 0, 0));
  EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);
  EXPECT_FALSE(GetClientRect(window, &client));
  EXPECT_FALSE(KillTimer(window, 7));
  EXPECT_EQ(GetPlatformSDLWindow(window), nullptr);
  EXPECT_EQ(FindWindowA("UserWindowTestClass", nullptr), nullptr);
}

TEST_F(UserWindowTest, ClassRegistryRefusesDuplicatesAndUnregistersOnlyWithoutWindows) {
  WNDCLASSEXA c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = RecordingProc;
  c.lpszClassName = "userwindowtestclass";
  EXPECT_EQ(RegisterClassExA(&c), 0);  // letter case does not make a new class
  HWND window = Make();
  EXPECT_FALSE(UnregisterClassA("UserWindowTestClass", nullptr));
  EXPECT_EQ(FindWindowA("USERWINDOWTESTCLASS", nullptr), window);
  DestroyWindow(window);
  EXPECT_TRUE(UnregisterClassA("UserWindowTestClass", nullptr));
  EXPECT_FALSE(UnregisterClassA("UserWindowTestClass", nullptr));
  EXPECT_EQ(CreateWindowExA(0, "UserWindowTestClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                            nullptr),
            nullptr);
}

TEST_F(UserWindowTest, MoveAndSizeMessagesOnlyWhenTheyChange) {
  HWND window = Make();
  seen.clear();
  MoveWindow(window, 10, 20, 640, 480, TRUE);
  EXPECT_TRUE(seen.empty());
  MoveWindow(window, 30, 20, 640, 480, TRUE);
  ASSERT_EQ(Messages(), std::vector<UINT>{WM_MOVE});
  EXPECT_EQ(seen[0].lParam, MAKELONG(30, 20));
  seen.clear();
  SetWindowPos(window, nullptr, 0, 0, 800, 600, SWP_NOMOVE | SWP_NOZORDER);
  ASSERT_EQ(Messages(), std::vector<UINT>{WM_SIZE});
  EXPECT_EQ(seen[0].wParam, SIZE_RESTORED);
  EXPECT_EQ(seen[0].lParam, MAKELONG(800, 600));
  seen.clear();
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_TRUE(seen.empty());
  EXPECT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
  MoveWindow(window, -5, -7, 100, 50, TRUE);
  ASSERT_EQ(Messages(), (std::vector<UINT>{WM_MOVE, WM_SIZE}));
  EXPECT_EQ(static_cast<SHORT>(LOWORD(seen[0].lParam)), -5);
  EXPECT_EQ(static_cast<SHORT>(HIWORD(seen[0].lParam)), -7);
  RECT r{};
  GetWindowRect(window, &r);
  EXPECT_EQ(r.left, -5);
  EXPECT_EQ(r.right, 95);
}

TEST_F(UserWindowTest, RetrievalOrderIsPostedThenQuitThenPaintThenTimer) {
  SetPlatformVirtualTime(true);
  HWND window = Make();
  ShowWindow(window, SW_SHOW);  // the shown window needs painting
  SetTimer(window, 1, 32, nullptr);
  AdvancePlatformTime(40);
  PostQuitMessage(3);
  PostMessageA(window, WM_USER + 1, 0, 0);
  PostMessageA(nullptr, WM_USER + 2, 0, 0);
  std::vector<UINT> order;
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    order.push_back(m.message);
    if (m.message == WM_QUIT) {
      EXPECT_EQ(m.wParam, 3u);
    }
    DispatchMessageA(&m);  // paints: the default procedure validates
  }
  EXPECT_EQ(order, (std::vector<UINT>{WM_USER + 1, WM_USER + 2, WM_QUIT, WM_PAINT, WM_TIMER}));
}

TEST_F(UserWindowTest, FiltersTakeThreadMessagesWindowMessagesAndRanges) {
  HWND a = Make();
  HWND b = Make();
  PostMessageA(a, WM_USER + 1, 0, 0);
  PostMessageA(b, WM_USER + 2, 0, 0);
  PostMessageA(nullptr, WM_USER + 3, 0, 0);
  MSG m;
  HWND threadOnly = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));
  ASSERT_TRUE(PeekMessageA(&m, threadOnly, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 3u);
  EXPECT_FALSE(PeekMessageA(&m, threadOnly, 0, 0, PM_REMOVE));
  ASSERT_TRUE(PeekMessageA(&m, b, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_USER + 2u);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_USER + 2, WM_USER + 2, PM_REMOVE));
  EXPECT_EQ(m.hwnd, b);
  ASSERT_TRUE(PeekMessageA(&m, a, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 1u);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

int timerCalls = 0;
void CALLBACK CountingTimer(HWND, UINT, UINT_PTR, DWORD) { ++timerCalls; }

TEST_F(UserWindowTest, TimerFiresOncePerPeriodThroughDispatchAndDiesWithItsWindow) {
  SetPlatformVirtualTime(true);
  timerCalls = 0;
  HWND window = Make();
  ASSERT_EQ(SetTimer(window, 0x7fff, 32, CountingTimer), 0x7fffu);
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
  AdvancePlatformTime(100);  // three periods late: still one pending tick
  int ticks = 0;
  while (PeekMessageA(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) {
    ++ticks;
    DispatchMessageA(&m);
  }
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(timerCalls, 1);
  AdvancePlatformTime(32);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
  EXPECT_EQ(m.wParam, 0x7fffu);
  DestroyWindow(window);
  DispatchMessageA(&m);  // the timer died with the window
  EXPECT_EQ(timerCalls, 1);
  AdvancePlatformTime(64);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
}

TEST_F(UserWindowTest, UpdateWindowPaintsAtOnceOnlyWhenInvalid) {
  HWND window = Make();
  UpdateWindow(window);  // hidden: nothing to paint
  ShowWindow(window, SW_SHOW);
  seen.clear();
  UpdateWindow(window);
  ASSERT_EQ(Messages(), std::vector<UINT>{WM_PAINT});
  UpdateWindow(window);
  EXPECT_EQ(seen.size(), 1u);
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE));
}

TEST_F(UserWindowTest, EachThreadHasItsOwnQueueAndPostsReachTheWindowsThread) {
  HWND window = Make();
  std::thread other([&] {
    MSG m;
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));  // the window's message is not here
    PostMessageA(window, WM_USER + 9, 1, 2);
    PostQuitMessage(0);  // the other thread's own quit
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_QUIT);
  });
  other.join();
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 9u);
  EXPECT_EQ(m.hwnd, window);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(UserWindowTest, SendFromAnotherThreadRunsOnTheWindowsThread) {
  HWND window = Make();
  seen.clear();
  LRESULT result = -1;
  std::thread other([&] { result = SendMessageA(window, WM_USER + 5, 0, 0); });
  MSG m;
  while (seen.empty()) PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
  other.join();
  EXPECT_EQ(result, 0);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, WM_USER + 5u);
}

TEST_F(UserWindowTest, CloseThroughTheDefaultProcedureDestroysTheWindow) {
  HWND window = Make();
  PostMessageA(window, WM_CLOSE, 0, 0);
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(Messages(), (std::vector<UINT>{WM_CREATE, WM_CLOSE, WM_DESTROY}));
}

TEST_F(UserWindowTest, DisplayChangeIsDeliveredOnEveryModeChange) {
  HWND window = Make();
  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL;
  mode.dmPelsWidth = 640;
  mode.dmPelsHeight = 480;
  mode.dmBitsPerPel = 16;
  seen.clear();
  ASSERT_EQ(ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN), DISP_CHANGE_SUCCESSFUL);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, WM_DISPLAYCHANGE);
  EXPECT_EQ(seen[0].wParam, 16u);
  EXPECT_EQ(seen[0].lParam, MAKELONG(640, 480));
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 640);
  ASSERT_EQ(ChangeDisplaySettingsA(&mode, 0), DISP_CHANGE_SUCCESSFUL);  // the same mode again
  EXPECT_EQ(seen.size(), 2u);
  mode.dmPelsWidth = 123;
  EXPECT_EQ(ChangeDisplaySettingsA(&mode, 0), DISP_CHANGE_BADMODE);
  EXPECT_EQ(seen.size(), 2u);
  ASSERT_EQ(ChangeDisplaySettingsA(nullptr, 0), DISP_CHANGE_SUCCESSFUL);
  EXPECT_EQ(seen.back().wParam, 32u);
  (void)window;
}

}  // namespace
