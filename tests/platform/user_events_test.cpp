// SDL's events as messages: window events, keys with the key tables, typed text in code page 932,
// and the characters TranslateMessage makes.
#include <SDL.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/win32/user.h"

namespace {

LRESULT CALLBACK QuietProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) return 0;
  return DefWindowProcA(window, message, wParam, lParam);
}

class UserEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSEXA c{};
    c.cbSize = sizeof c;
    c.lpfnWndProc = QuietProc;
    c.lpszClassName = "UserEventsTestClass";
    RegisterClassExA(&c);
    window = CreateWindowExA(0, "UserEventsTestClass", "events", WS_POPUP | WS_CAPTION, 0, 0, 320,
                             240, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    Drain();
  }
  void TearDown() override {
    DestroyWindow(window);
    UnregisterClassA("UserEventsTestClass", nullptr);
  }
  // Every message now in the queue, translated as a pump would.
  std::vector<MSG> Drain() {
    std::vector<MSG> out;
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message != WM_PAINT) out.push_back(m);
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
    return out;
  }
  HWND window = nullptr;
};

TEST_F(UserEventsTest, WindowEventsBecomeMessages) {
  struct Case {
    int event;
    int data1, data2;
    std::vector<UINT> messages;
  };
  const Case cases[] = {
      {SDL_WINDOWEVENT_CLOSE, 0, 0, {WM_CLOSE}},
      {SDL_WINDOWEVENT_FOCUS_LOST, 0, 0, {WM_ACTIVATE, WM_ACTIVATEAPP}},
      {SDL_WINDOWEVENT_FOCUS_GAINED, 0, 0, {WM_ACTIVATEAPP, WM_ACTIVATE}},
      {SDL_WINDOWEVENT_MOVED, 0, 0, {}},  // where it already is
      {SDL_WINDOWEVENT_MOVED, 50, 60, {WM_MOVE}},
      {SDL_WINDOWEVENT_SIZE_CHANGED, 320, 240, {}},
      {SDL_WINDOWEVENT_SIZE_CHANGED, 400, 300, {WM_SIZE}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.event);
    ASSERT_EQ(InjectPlatformWindowEvent(window, c.event, c.data1, c.data2), 0);
    std::vector<UINT> got;
    for (const MSG& m : Drain()) got.push_back(m.message);
    EXPECT_EQ(got, c.messages);
  }
  RECT r{};
  GetWindowRect(window, &r);
  EXPECT_EQ(r.left, 50);
  EXPECT_EQ(r.right, 450);
  InjectPlatformWindowEvent(window, SDL_WINDOWEVENT_FOCUS_LOST, 0, 0);
  auto messages = Drain();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(LOWORD(messages[0].wParam), WA_INACTIVE);
  EXPECT_EQ(messages[1].wParam, 0u);
}

TEST_F(UserEventsTest, KeysUpdateBothTablesAndBecomeKeyAndCharacterMessages) {
  InjectPlatformKey(window, SDL_SCANCODE_RETURN, true);
  auto messages = Drain();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].message, WM_KEYDOWN);
  EXPECT_EQ(messages[0].wParam, static_cast<WPARAM>(VK_RETURN));
  EXPECT_EQ(messages[1].message, WM_CHAR);
  EXPECT_EQ(messages[1].wParam, 13u);
  EXPECT_EQ(GetPlatformScancodeStates()[SDL_SCANCODE_RETURN], 0x80);
  BYTE keys[256];
  ASSERT_TRUE(GetKeyboardState(keys));
  EXPECT_EQ(keys[VK_RETURN] & 0x80, 0x80);
  InjectPlatformKey(window, SDL_SCANCODE_RETURN, false);
  messages = Drain();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].message, WM_KEYUP);
  EXPECT_EQ(GetPlatformScancodeStates()[SDL_SCANCODE_RETURN], 0);
  GetKeyboardState(keys);
  EXPECT_EQ(keys[VK_RETURN] & 0x80, 0);
}

TEST_F(UserEventsTest, AltEnterGivesSystemCharacter13AndSidesSetTheNeutralKey) {
  InjectPlatformKey(window, SDL_SCANCODE_RALT, true);
  InjectPlatformKey(window, SDL_SCANCODE_RETURN, true);
  auto messages = Drain();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0].message, WM_SYSKEYDOWN);
  EXPECT_EQ(messages[0].wParam, static_cast<WPARAM>(VK_MENU));
  EXPECT_EQ(messages[1].message, WM_SYSKEYDOWN);
  EXPECT_EQ(messages[2].message, WM_SYSCHAR);
  EXPECT_EQ(messages[2].wParam, 13u);
  EXPECT_TRUE(GetKeyState(VK_MENU) & 0x8000);
  EXPECT_TRUE(GetKeyState(VK_RMENU) & 0x8000);
  InjectPlatformKey(window, SDL_SCANCODE_RETURN, false);
  InjectPlatformKey(window, SDL_SCANCODE_RALT, false);
  Drain();
  EXPECT_FALSE(GetKeyState(VK_MENU) & 0x8000);
}

TEST_F(UserEventsTest, TypedTextArrivesAsCodePageBytesLeadByteFirst) {
  InjectPlatformText(window, "a\xE3\x81\x82");  // "a" and HIRAGANA A (0x82 0xA0 in code page 932)
  auto messages = Drain();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0].wParam, static_cast<WPARAM>('a'));
  EXPECT_EQ(messages[1].wParam, 0x82u);
  EXPECT_EQ(messages[2].wParam, 0xA0u);
  for (const MSG& m : messages) EXPECT_EQ(m.message, WM_CHAR);
}

TEST_F(UserEventsTest, InjectedKeysFromAnotherThreadCountWhenDrained) {
  std::thread other([&] { InjectPlatformKey(window, SDL_SCANCODE_Z, true); });
  other.join();
  EXPECT_EQ(GetPlatformScancodeStates()[SDL_SCANCODE_Z], 0);  // not yet drained
  auto messages = Drain();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].wParam, static_cast<WPARAM>('Z'));
  EXPECT_EQ(GetPlatformScancodeStates()[SDL_SCANCODE_Z], 0x80);
  SetPlatformKeyState(SDL_SCANCODE_Z, false);
  EXPECT_EQ(GetPlatformScancodeStates()[SDL_SCANCODE_Z], 0);
  EXPECT_FALSE(GetKeyState('Z') & 0x8000);
}

TEST_F(UserEventsTest, MouseMovesAreMergedAndMoveTheCursor) {
  InjectPlatformMouseMove(window, 5, 6);
  InjectPlatformMouseMove(window, 7, 8);
  auto messages = Drain();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].message, WM_MOUSEMOVE);
  EXPECT_EQ(messages[0].lParam, MAKELONG(7, 8));
  POINT p{};
  GetCursorPos(&p);
  EXPECT_EQ(p.x, 7);
  EXPECT_EQ(p.y, 8);
}

}  // namespace
