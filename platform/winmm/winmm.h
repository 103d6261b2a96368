// winmm's millisecond clock and timer resolution, read from the platform clock.
#pragma once

#include <span>

#include "platform/win32/kernel.h"
#include "platform/win32/win32_types.h"

using MMRESULT = UINT;
constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT TIMERR_NOCANDO = 97;

struct TIMECAPS {
  UINT wPeriodMin;
  UINT wPeriodMax;
};
using LPTIMECAPS = TIMECAPS*;

// Milliseconds of the platform clock, wrapping at 2^32.
DWORD timeGetTime();
// The resolution is 1 ms whatever is asked; the calls are counted so that a balance can be seen.
MMRESULT timeBeginPeriod(UINT period);
MMRESULT timeEndPeriod(UINT period);
MMRESULT timeGetDevCaps(LPTIMECAPS caps, UINT size);
// One-shot timers (TIME_ONESHOT): the callback runs once on a thread of the timer's own after
// `delay` ms of the platform clock. Killing a timer waits for a callback already running; a
// timer that has fired is forgotten. 0 when the timer cannot be made.
constexpr UINT TIME_ONESHOT = 0x0000;
constexpr UINT TIME_PERIODIC = 0x0001;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
using LPTIMECALLBACK = void (*)(UINT id, UINT message, DWORD_PTR user, DWORD_PTR, DWORD_PTR);
MMRESULT timeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback, DWORD_PTR user,
                      UINT flags);
MMRESULT timeKillEvent(UINT id);
// timeBeginPeriod calls not yet ended by timeEndPeriod.
int GetTimerPeriodBalance();

// The entry points of "winmm.dll" for the module table.
std::span<const PlatformModuleEntry> WinmmModuleEntries();
