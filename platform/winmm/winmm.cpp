// winmm's clock and timer resolution. The platform clock is always as fine as a millisecond, so
// the resolution calls only keep count.
#include "platform/winmm/winmm.h"

#include <array>
#include <atomic>

#include "platform/clock.h"
#include "platform/winmm/joystick.h"

namespace {

std::atomic<int> periodBalance{0};

}  // namespace

DWORD timeGetTime() { return static_cast<DWORD>(GetPlatformNanoseconds() / 1000000); }

MMRESULT timeBeginPeriod(UINT period) {
  if (period == 0) return TIMERR_NOCANDO;
  ++periodBalance;
  return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(UINT period) {
  if (period == 0) return TIMERR_NOCANDO;
  --periodBalance;
  return TIMERR_NOERROR;
}

MMRESULT timeGetDevCaps(LPTIMECAPS caps, UINT size) {
  if (caps == nullptr || size < sizeof(TIMECAPS)) return TIMERR_NOCANDO;
  caps->wPeriodMin = 1;
  caps->wPeriodMax = 1000000;
  return TIMERR_NOERROR;
}

int GetTimerPeriodBalance() { return periodBalance.load(); }

std::span<const PlatformModuleEntry> WinmmModuleEntries() {
  static const std::array<PlatformModuleEntry, 5> entries = {{
      {"timeBeginPeriod", AsFarProc(timeBeginPeriod)},
      {"timeEndPeriod", AsFarProc(timeEndPeriod)},
      {"timeGetTime", AsFarProc(timeGetTime)},
      {"timeGetDevCaps", AsFarProc(timeGetDevCaps)},
      {"joyGetDevCapsA", AsFarProc(joyGetDevCapsA)},
  }};
  return entries;
}
