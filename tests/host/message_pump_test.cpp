// The message pump: five messages per call, WM_QUIT, the window timer, the inactive wait and its
// end by a focus event from another thread, and virtual time.
#include <SDL.h>

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "tests/host/engine_fixture.h"

namespace {

using MessagePumpTest = EngineFixture;

int userMessagesSeen = 0;
void CountUserMessages(HWND, UINT message, WPARAM, LPARAM) {
  if (message == WM_USER + 7) ++userMessagesSeen;
}

TEST_F(MessagePumpTest, AtMostFiveMessagesAreDispatchedPerCall) {
  SetRunWhileInactive(1);
  // Without input devices: the keyboard refresh pumps again when it reads a keyboard device.
  SetEngineSubsystemSwitches(0, 0, 0, 1);
  // In virtual time no window timer comes due: a present it runs may pump again.
  SetPlatformVirtualTime(true);
  ASSERT_EQ(InitializeEngine(), 0);
  MSG leftover;
  for (int i = 0; i < 20 && PeekMessageA(&leftover, nullptr, 0, 0, PM_NOREMOVE); ++i)
    ProcessWindowMessages();
  userMessagesSeen = 0;
  SetUserMessageHook(CountUserMessages);
  for (int i = 0; i < 7; ++i) PostMessageA(GetEngineWindowHandle(), WM_USER + 7, 0, 0);
  EXPECT_EQ(ProcessWindowMessages(), 0);
  EXPECT_EQ(userMessagesSeen, 5);
  EXPECT_EQ(ProcessWindowMessages(), 0);
  EXPECT_EQ(userMessagesSeen, 7);
  EXPECT_EQ(ProcessWindowMessages(), 0);
  EXPECT_EQ(userMessagesSeen, 7);
  SetUserMessageHook(nullptr);
  SetEngineSubsystemSwitches(0, 0, 0, 0);
  SetPlatformVirtualTime(false);
}

TEST_F(MessagePumpTest, QuitMessageEndsThePumpForGood) {
  ASSERT_EQ(InitializeEngine(), 0);
  PostQuitMessage(0);
  EXPECT_EQ(ProcessWindowMessages(), -1);
  EXPECT_EQ(IsQuitRequested(), 1);
  EXPECT_EQ(ProcessWindowMessages(), -1);
  EXPECT_EQ(ShutdownEngine(), 0);
}

int timerCalls = 0;
void CALLBACK CountTimer(HWND, UINT, UINT_PTR, DWORD) { ++timerCalls; }

TEST_F(MessagePumpTest, The32MillisecondWindowTimerFiresThroughThePump) {
  SetPlatformVirtualTime(true);
  ASSERT_EQ(InitializeEngine(), 0);
  timerCalls = 0;
  ASSERT_NE(SetTimer(GetEngineWindowHandle(), 0x7fff, 32, CountTimer), 0u);
  ProcessWindowMessages();
  EXPECT_EQ(timerCalls, 0);
  AdvancePlatformTime(32);
  ProcessWindowMessages();
  EXPECT_EQ(timerCalls, 1);
  AdvancePlatformTime(20);
  ProcessWindowMessages();
  EXPECT_EQ(timerCalls, 1);
  AdvancePlatformTime(12);
  ProcessWindowMessages();
  EXPECT_EQ(timerCalls, 2);
}

TEST_F(MessagePumpTest, InactiveWaitEndsOnAFocusEventFromAnotherThread) {
  SetRunWhileInactive(0);
  ASSERT_EQ(InitializeEngine(), 0);
  HWND window = GetEngineWindowHandle();
  InjectPlatformWindowEvent(window, SDL_WINDOWEVENT_FOCUS_LOST, 0, 0);
  std::atomic<bool> sent{false};
  std::thread other([&] {
    usleep(150000);
    sent = true;
    InjectPlatformWindowEvent(window, SDL_WINDOWEVENT_FOCUS_GAINED, 0, 0);
  });
  EXPECT_EQ(ProcessWindowMessages(), 0);  // does not return while the window is inactive
  EXPECT_TRUE(sent.load());
  EXPECT_EQ(IsWindowActive(), 1);
  other.join();
}

TEST_F(MessagePumpTest, RunWhileInactiveReturnsAtOnceInWindowMode) {
  SetRunWhileInactive(1);
  ASSERT_EQ(InitializeEngine(), 0);
  InjectPlatformWindowEvent(GetEngineWindowHandle(), SDL_WINDOWEVENT_FOCUS_LOST, 0, 0);
  EXPECT_EQ(ProcessWindowMessages(), 0);
  EXPECT_EQ(IsWindowActive(), 0);
  WaitWhileWindowInactive();  // window mode with run-while-inactive: no wait
  EXPECT_EQ(IsWindowActive(), 0);
}

TEST_F(MessagePumpTest, ACloseRequestedByTheEngineEndsTheInactiveWait) {
  SetRunWhileInactive(0);
  ASSERT_EQ(InitializeEngine(), 0);
  HWND window = GetEngineWindowHandle();
  InjectPlatformWindowEvent(window, SDL_WINDOWEVENT_FOCUS_LOST, 0, 0);
  std::thread other([&] {
    usleep(100000);
    PostMessageA(window, WM_CLOSE, 0, 0);
  });
  int result = 0;
  for (int i = 0; i < 5 && result == 0; ++i) result = ProcessWindowMessages();
  other.join();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(IsWindowActive(), 0);
}

TEST_F(MessagePumpTest, AfterAFailedStartThePumpReportsTheQuitFlag) {
  GetEngineSubsystemCalls().initializeInputDevices = [] { return -1; };
  ASSERT_EQ(InitializeEngine(), -1);
  // The window of the failed start is there; destroying it sets the quit flag.
  DestroyWindow(GetEngineWindowHandle());
  EXPECT_EQ(ProcessWindowMessages(), -1);
}

// Under virtual time the clock moves only as the program waits: ten seconds are the frames' sleeps
// and the pump's own short waits, however slowly (or quickly) the machine runs them.
TEST_F(MessagePumpTest, VirtualTimeMovesOnlyWithTheFramesSleeps) {
  SetPlatformVirtualTime(true);
  SetRunWhileInactive(1);
  ASSERT_EQ(InitializeEngine(), 0);
  const int start = GetMillisecondCount();
  int frames = 0;
  while (GetMillisecondCount() - start < 10000) {
    ASSERT_EQ(ProcessWindowMessages(), 0);
    Sleep(22);
    ++frames;
  }
  EXPECT_LE(frames, (10000 + 21) / 22);
  EXPECT_GE(frames, 10000 / (22 + 5));
}

}  // namespace
