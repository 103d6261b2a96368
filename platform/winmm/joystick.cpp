// winmm's joystick capabilities from SDL's joystick API: the axes, buttons and hats an attached
// joystick has become the capability record's counts and flags.
#include "platform/winmm/joystick.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

MMRESULT joyGetDevCapsA(UINT_PTR id, LPJOYCAPSA caps, UINT size) {
  if (caps == nullptr || size < sizeof(JOYCAPSA) || id >= 16) return JOYERR_PARMS;
  if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return JOYERR_UNPLUGGED;
  MMRESULT result = JOYERR_UNPLUGGED;
  SDL_Joystick* joystick =
      static_cast<int>(id) < SDL_NumJoysticks() ? SDL_JoystickOpen(static_cast<int>(id)) : nullptr;
  if (joystick != nullptr) {
    std::memset(caps, 0, sizeof *caps);
    caps->wMid = SDL_JoystickGetVendor(joystick);
    caps->wPid = SDL_JoystickGetProduct(joystick);
    const char* name = SDL_JoystickName(joystick);
    for (std::size_t i = 0; name != nullptr && name[i] != '\0' && i + 1 < sizeof caps->szPname; ++i)
      caps->szPname[i] = static_cast<unsigned char>(name[i]) < 0x80 ? name[i] : '?';
    const int axes = std::clamp(SDL_JoystickNumAxes(joystick), 0, 6);
    caps->wXmax = caps->wYmax = caps->wZmax = caps->wRmax = caps->wUmax = caps->wVmax = 65535;
    caps->wNumButtons = static_cast<UINT>(std::clamp(SDL_JoystickNumButtons(joystick), 0, 32));
    caps->wMaxButtons = 32;
    caps->wPeriodMin = 10;
    caps->wPeriodMax = 1000;
    caps->wNumAxes = static_cast<UINT>(axes);
    caps->wMaxAxes = 6;
    if (axes >= 3) caps->wCaps |= JOYCAPS_HASZ;
    if (axes >= 4) caps->wCaps |= JOYCAPS_HASR;
    if (axes >= 5) caps->wCaps |= JOYCAPS_HASU;
    if (axes >= 6) caps->wCaps |= JOYCAPS_HASV;
    if (SDL_JoystickNumHats(joystick) > 0) caps->wCaps |= JOYCAPS_HASPOV;
    SDL_JoystickClose(joystick);
    result = JOYERR_NOERROR;
  }
  SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  return result;
}
