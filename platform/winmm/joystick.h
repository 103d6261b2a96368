// winmm's joystick capabilities, over SDL's joystick API: joystick ids 0-15 are SDL's attached
// joysticks in SDL's order.
#pragma once

#include "platform/winmm/winmm.h"

constexpr MMRESULT JOYERR_NOERROR = 0;
constexpr MMRESULT JOYERR_PARMS = 165;
constexpr MMRESULT JOYERR_UNPLUGGED = 167;

constexpr UINT JOYCAPS_HASZ = 0x0001;
constexpr UINT JOYCAPS_HASR = 0x0002;
constexpr UINT JOYCAPS_HASU = 0x0004;
constexpr UINT JOYCAPS_HASV = 0x0008;
constexpr UINT JOYCAPS_HASPOV = 0x0010;

struct JOYCAPSA {
  WORD wMid;
  WORD wPid;
  CHAR szPname[32];
  UINT wXmin, wXmax;
  UINT wYmin, wYmax;
  UINT wZmin, wZmax;
  UINT wNumButtons;
  UINT wPeriodMin, wPeriodMax;
  UINT wRmin, wRmax;
  UINT wUmin, wUmax;
  UINT wVmin, wVmax;
  UINT wCaps;
  UINT wMaxAxes;
  UINT wNumAxes;
  UINT wMaxButtons;
  CHAR szRegKey[32];
  CHAR szOEMVxD[MAX_PATH];
};
using LPJOYCAPSA = JOYCAPSA*;

// JOYERR_UNPLUGGED for an id with no joystick attached, JOYERR_PARMS for a bad id or size.
MMRESULT joyGetDevCapsA(UINT_PTR id, LPJOYCAPSA caps, UINT size);
