// The engine's clocks: the 31-bit millisecond clock that paces the game, the 64-bit microsecond
// clock from the best source the start-up found, and the local date.
#include "platform/win32/kernel.h"
#include "platform/win32/sysinfo.h"
#include "platform/winmm/winmm.h"
#include "system/host_call_table.h"
#include "system/math.h"
#include "system/system.h"
#include "system/system_info.h"

std::uint64_t GetPerformanceFrequencyForClocks();

namespace {

// value × 1,000,000 / divisor in 128 bits, so that no counter value overflows.
std::uint64_t ScaleToMicroseconds(std::uint64_t value, std::uint64_t divisor) {
  const std::uint64_t million = 1000000;
  std::uint32_t product[4];
  Multiply64To128(&value, &million, product);
  std::uint64_t quotient = 0;
  Divide128By64(product, &divisor, &quotient);
  return quotient;
}

}  // namespace

int GetMillisecondCount() { return static_cast<int>(timeGetTime() & 0x7FFFFFFF); }

std::uint64_t GetMicrosecondCount(int useTimeStampCounter) {
  const SystemInfo& info = GetSystemInformation();
  if (useTimeStampCounter == 1 && info.timeStampCounter && info.timeStampTicksPerSecond != 0 &&
      hostCallTable.isEngineRunning())
    return ScaleToMicroseconds(ReadTimeStampCounter(), info.timeStampTicksPerSecond);
  std::uint64_t frequency = GetPerformanceFrequencyForClocks();
  if (GetTimerSource() == 1 && frequency != 0) {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return ScaleToMicroseconds(static_cast<std::uint64_t>(counter.QuadPart), frequency);
  }
  return static_cast<std::uint64_t>(timeGetTime()) * 1000;
}

int FillLocalDateRecord(DateRecord* record) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  *record = DateRecord{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
  return 0;
}
