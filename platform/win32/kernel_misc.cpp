// The kernel's counters, debugger output, code pages, last error and process exit.
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "platform/clock.h"
#include "platform/win32/kernel.h"
#include "platform/win32/kernel_arithmetic.h"

namespace {

constexpr LONGLONG kCounterFrequency = 10000000;
std::atomic<DebugOutputSink> debugSink{nullptr};
thread_local DWORD lastError = ERROR_SUCCESS;

}  // namespace

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
  if (count == nullptr) return FALSE;
  count->QuadPart = static_cast<LONGLONG>(GetPlatformNanoseconds() / 100);
  return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  if (frequency == nullptr) return FALSE;
  frequency->QuadPart = kCounterFrequency;
  return TRUE;
}

DWORD GetTickCount() { return static_cast<DWORD>(GetPlatformNanoseconds() / 1000000); }

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const std::int64_t product = static_cast<std::int64_t>(a) * b;
  const std::int64_t divisor = c < 0 ? -static_cast<std::int64_t>(c) : c;
  const std::int64_t magnitude = product < 0 ? -product : product;
  std::int64_t result = (magnitude + divisor / 2) / divisor;
  if ((product < 0) != (c < 0)) result = -result;
  if (result > INT32_MAX || result < INT32_MIN) return -1;
  return static_cast<int>(result);
}

void GetLocalTime(SYSTEMTIME* time) {
  if (time == nullptr) return;
  std::int64_t seconds = 0;
  std::uint32_t milliseconds = 0;
  GetPlatformLocalTime(&seconds, &milliseconds);
  const time_t counted = static_cast<time_t>(seconds);
  std::tm fields{};
  gmtime_r(&counted, &fields);
  time->wYear = static_cast<WORD>(fields.tm_year + 1900);
  time->wMonth = static_cast<WORD>(fields.tm_mon + 1);
  time->wDayOfWeek = static_cast<WORD>(fields.tm_wday);
  time->wDay = static_cast<WORD>(fields.tm_mday);
  time->wHour = static_cast<WORD>(fields.tm_hour);
  time->wMinute = static_cast<WORD>(fields.tm_min);
  time->wSecond = static_cast<WORD>(fields.tm_sec);
  time->wMilliseconds = static_cast<WORD>(milliseconds);
}

void OutputDebugStringA(LPCSTR text) {
  const DebugOutputSink sink = debugSink.load();
  if (sink != nullptr && text != nullptr) sink(text);
}

void SetDebugOutputSink(DebugOutputSink sink) { debugSink.store(sink); }

UINT GetACP() { return 932; }
UINT GetOEMCP() { return 932; }

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }

void ExitProcess(UINT exitCode) {
  // Other threads may still run: end at once, without running static destructors under them.
  std::fflush(nullptr);
  _exit(static_cast<int>(exitCode));
}
