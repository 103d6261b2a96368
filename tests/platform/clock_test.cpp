// The platform clock in real and virtual time, and the winmm calls that read it.
#include "platform/clock.h"

#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <thread>

#include "platform/win32/kernel.h"
#include "platform/winmm/winmm.h"

namespace {

std::uint64_t SystemMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000 +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
}

class VirtualTime : public ::testing::Test {
 protected:
  void SetUp() override { SetPlatformVirtualTime(true); }
  void TearDown() override { SetPlatformVirtualTime(false); }
};

TEST_F(VirtualTime, SleepReturnsAtOnceAndAdvancesEveryClock) {
  const DWORD mm = timeGetTime();
  const DWORD tick = GetTickCount();
  LARGE_INTEGER counter{};
  LARGE_INTEGER frequency{};
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  const std::uint64_t ns = GetPlatformNanoseconds();
  const std::uint64_t realStart = SystemMilliseconds();
  Sleep(1000);
  EXPECT_LT(SystemMilliseconds() - realStart, 900u);
  EXPECT_EQ(timeGetTime() - mm, 1000u);
  EXPECT_EQ(GetTickCount() - tick, 1000u);
  LARGE_INTEGER after{};
  QueryPerformanceCounter(&after);
  EXPECT_EQ(after.QuadPart - counter.QuadPart, frequency.QuadPart);
  EXPECT_EQ(GetPlatformNanoseconds() - ns, 1000000000u);
}

TEST_F(VirtualTime, StandsStillWithoutSleepsOrWaits) {
  const DWORD start = timeGetTime();
  volatile int spin = 0;
  for (int i = 0; i < 1000000; ++i) spin = spin + 1;
  EXPECT_EQ(timeGetTime(), start);
}

TEST_F(VirtualTime, AnUnsatisfiedTimedWaitAdvancesByItsTimeOut) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  const DWORD start = timeGetTime();
  EXPECT_EQ(WaitForSingleObject(event, 250), WAIT_TIMEOUT);
  EXPECT_EQ(timeGetTime() - start, 250u);
  SetEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 250), WAIT_OBJECT_0);
  EXPECT_EQ(timeGetTime() - start, 250u);
  CloseHandle(event);
}

// Only the thread that switched virtual time on moves it: another thread's Sleep and timed wait
// leave it where it is, and its Sleep ends once the driver has moved time past its end.
TEST_F(VirtualTime, OtherThreadsDoNotMoveTheClock) {
  const std::uint64_t start = GetPlatformNanoseconds();
  std::thread waiter([] {
    Sleep(20);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    WaitForSingleObject(event, 20);
    CloseHandle(event);
  });
  waiter.join();
  EXPECT_EQ(GetPlatformNanoseconds(), start);

  std::atomic<std::uint64_t> wokeAt{0};
  std::thread sleeper([&] {
    Sleep(60000);
    wokeAt = GetPlatformNanoseconds();
  });
  // The driver steps time on until the sleeper is through, however late it began its sleep.
  for (int step = 0; step < 1000 && wokeAt == 0; ++step) Sleep(1000);
  sleeper.join();
  EXPECT_GE(wokeAt.load(), start + 60000000000u);
}

TEST_F(VirtualTime, MillisecondClockWrapsAt32Bits) {
  SetPlatformVirtualNanoseconds((0xFFFFFFFFull) * 1000000);
  EXPECT_EQ(timeGetTime(), 0xFFFFFFFFu);
  AdvancePlatformTime(2);
  EXPECT_EQ(timeGetTime(), 1u);
}

TEST_F(VirtualTime, LocalTimeIsTheGivenDateAdvancedByVirtualTime) {
  SetPlatformVirtualLocalTime(2011, 3, 5, 7, 8, 9);
  SYSTEMTIME now{};
  GetLocalTime(&now);
  EXPECT_EQ(now.wYear, 2011);
  EXPECT_EQ(now.wMonth, 3);
  EXPECT_EQ(now.wDay, 5);
  EXPECT_EQ(now.wHour, 7);
  EXPECT_EQ(now.wMinute, 8);
  EXPECT_EQ(now.wSecond, 9);
  EXPECT_EQ(now.wDayOfWeek, 6);  // a Saturday
  Sleep(24 * 3600 * 1000 - 9000 + 1500);
  GetLocalTime(&now);
  EXPECT_EQ(now.wDay, 6);
  EXPECT_EQ(now.wHour, 7);
  EXPECT_EQ(now.wMinute, 8);
  EXPECT_EQ(now.wSecond, 1);
  EXPECT_EQ(now.wMilliseconds, 500);
}

TEST(RealTime, SwitchingVirtualTimeOnAndOffNeverGoesBack) {
  const std::uint64_t before = GetPlatformNanoseconds();
  SetPlatformVirtualTime(true);
  EXPECT_GE(GetPlatformNanoseconds(), before);
  AdvancePlatformTime(60000);
  const std::uint64_t reached = GetPlatformNanoseconds();
  SetPlatformVirtualTime(false);
  EXPECT_GE(GetPlatformNanoseconds(), reached);
  EXPECT_FALSE(IsPlatformVirtualTime());
}

TEST(RealTime, SleepWaitsAndTheClocksMove) {
  const DWORD start = timeGetTime();
  Sleep(30);
  EXPECT_GE(timeGetTime() - start, 30u);
}

TEST(Winmm, ResolutionCallsAreCountedAndCapsReportOneMillisecond) {
  TIMECAPS caps{};
  ASSERT_EQ(timeGetDevCaps(&caps, sizeof(caps)), TIMERR_NOERROR);
  EXPECT_EQ(caps.wPeriodMin, 1u);
  EXPECT_EQ(timeGetDevCaps(&caps, 4), TIMERR_NOCANDO);
  EXPECT_EQ(timeGetDevCaps(nullptr, sizeof(caps)), TIMERR_NOCANDO);
  const int balance = GetTimerPeriodBalance();
  EXPECT_EQ(timeBeginPeriod(caps.wPeriodMin), TIMERR_NOERROR);
  EXPECT_EQ(GetTimerPeriodBalance(), balance + 1);
  EXPECT_EQ(timeEndPeriod(caps.wPeriodMin), TIMERR_NOERROR);
  EXPECT_EQ(GetTimerPeriodBalance(), balance);
  EXPECT_EQ(timeBeginPeriod(0), TIMERR_NOCANDO);
}

}  // namespace
