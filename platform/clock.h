// The one clock that every time source of the layer reads (timeGetTime, GetTickCount, the
// performance counter, waits and Sleep). Real time follows the system's monotonic clock; virtual
// time, for tests, is a counter that only Sleep, the timed waits and the calls below advance, so
// a run never waits and always sees the same times. The program never switches virtual time on.
#pragma once

#include <cstdint>

// Switching on starts the counter at the current time; switching off continues real time from
// the counter's value, so neither switch makes the clock go back. The thread that switches it on
// drives it: only its Sleep and timed waits advance the counter, so a background thread (the
// sound thread, say) cannot move the time a test runs on.
void SetPlatformVirtualTime(bool on);
bool IsPlatformVirtualTime();
bool IsPlatformTimeDriverThread();
// For a thread that does not drive virtual time: waits until the counter has passed `target` or,
// at the latest, `realLimitMilliseconds` of real time, so a driver that stands still never hangs
// it.
void WaitForPlatformTime(std::uint64_t targetNanoseconds, std::uint32_t realLimitMilliseconds);
// Advance virtual time; nothing in real time.
void AdvancePlatformTime(std::uint32_t milliseconds);
void AdvancePlatformTimeNanoseconds(std::uint64_t nanoseconds);
// Set virtual time to a value (for example just before a clock wraps); nothing in real time.
void SetPlatformVirtualNanoseconds(std::uint64_t nanoseconds);
std::uint64_t GetPlatformNanoseconds();

// Local time in virtual time: the date and time given here, advanced by the virtual time passed
// since. Until one is given, local time is the system's. Fields as written on a calendar.
void SetPlatformVirtualLocalTime(int year, int month, int day, int hour, int minute, int second);
// For the kernel's GetLocalTime: the local time as seconds since 1970 counted as if it were UTC,
// with the milliseconds.
void GetPlatformLocalTime(std::int64_t* seconds, std::uint32_t* milliseconds);
