// The platform clock: the system's monotonic clock, or the virtual counter that tests advance.
#include "platform/clock.h"

#include <time.h>

#include <ctime>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

struct ClockState {
  std::mutex switchLock;
  std::atomic<bool> virtualOn{false};
  std::atomic<std::uint64_t> virtualNs{0};
  std::thread::id driver;
  std::mutex advancedLock;
  std::condition_variable advanced;
  // Added to the system clock in real time, so that leaving virtual time never goes back.
  std::atomic<std::uint64_t> realOffsetNs{0};
  bool localTimeGiven = false;
  std::int64_t localSeconds = 0;  // the given local time, counted as if it were UTC
  std::uint64_t localGivenAtNs = 0;
};

// The engine's sound thread sleeps on this clock until the engine ends, which a program that exits
// without ending it never does: the state lives until the process is gone, never destroyed by the
// exit handlers under a thread still waiting on it.
ClockState& Clock() {
  static ClockState& state = *new ClockState;
  return state;
}

std::uint64_t SystemNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(now.tv_nsec);
}

}  // namespace

void SetPlatformVirtualTime(bool on) {
  ClockState& clock = Clock();
  std::lock_guard<std::mutex> guard(clock.switchLock);
  if (on == clock.virtualOn.load()) return;
  if (on) {
    clock.virtualNs.store(SystemNanoseconds() + clock.realOffsetNs.load());
    clock.driver = std::this_thread::get_id();
    clock.virtualOn.store(true);
  } else {
    const std::uint64_t system = SystemNanoseconds();
    const std::uint64_t reached = clock.virtualNs.load();
    if (reached > system + clock.realOffsetNs.load()) clock.realOffsetNs.store(reached - system);
    clock.virtualOn.store(false);
  }
}

bool IsPlatformVirtualTime() { return Clock().virtualOn.load(); }

bool IsPlatformTimeDriverThread() {
  ClockState& clock = Clock();
  std::lock_guard<std::mutex> guard(clock.switchLock);
  return clock.driver == std::this_thread::get_id();
}

void WaitForPlatformTime(std::uint64_t targetNanoseconds, std::uint32_t realLimitMilliseconds) {
  ClockState& clock = Clock();
  std::unique_lock<std::mutex> lock(clock.advancedLock);
  clock.advanced.wait_for(lock, std::chrono::milliseconds(realLimitMilliseconds), [&] {
    return !clock.virtualOn.load() || clock.virtualNs.load() >= targetNanoseconds;
  });
}

void AdvancePlatformTimeNanoseconds(std::uint64_t nanoseconds) {
  ClockState& clock = Clock();
  if (!clock.virtualOn.load()) return;
  {
    std::lock_guard<std::mutex> guard(clock.advancedLock);
    clock.virtualNs.fetch_add(nanoseconds);
  }
  clock.advanced.notify_all();
}

void AdvancePlatformTime(std::uint32_t milliseconds) {
  AdvancePlatformTimeNanoseconds(static_cast<std::uint64_t>(milliseconds) * 1000000u);
}

void SetPlatformVirtualNanoseconds(std::uint64_t nanoseconds) {
  ClockState& clock = Clock();
  if (!clock.virtualOn.load()) return;
  {
    std::lock_guard<std::mutex> guard(clock.advancedLock);
    clock.virtualNs.store(nanoseconds);
  }
  clock.advanced.notify_all();
}

std::uint64_t GetPlatformNanoseconds() {
  ClockState& clock = Clock();
  if (clock.virtualOn.load()) return clock.virtualNs.load();
  return SystemNanoseconds() + clock.realOffsetNs.load();
}

void SetPlatformVirtualLocalTime(int year, int month, int day, int hour, int minute, int second) {
  ClockState& clock = Clock();
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  const std::int64_t seconds = timegm(&fields);
  std::lock_guard<std::mutex> guard(clock.switchLock);
  clock.localTimeGiven = true;
  clock.localSeconds = seconds;
  clock.localGivenAtNs = GetPlatformNanoseconds();
}

void GetPlatformLocalTime(std::int64_t* seconds, std::uint32_t* milliseconds) {
  ClockState& clock = Clock();
  {
    std::lock_guard<std::mutex> guard(clock.switchLock);
    if (clock.virtualOn.load() && clock.localTimeGiven) {
      const std::uint64_t passed = clock.virtualNs.load() - clock.localGivenAtNs;
      *seconds = clock.localSeconds + static_cast<std::int64_t>(passed / 1000000000u);
      *milliseconds = static_cast<std::uint32_t>(passed / 1000000u % 1000u);
      return;
    }
  }
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm local{};
  const time_t wall = now.tv_sec;
  localtime_r(&wall, &local);
  *seconds = static_cast<std::int64_t>(now.tv_sec) + local.tm_gmtoff;
  *milliseconds = static_cast<std::uint32_t>(now.tv_nsec / 1000000);
}
