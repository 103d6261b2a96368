// The classes of the layer that CoCreateInstance makes. Each folder of the layer whose objects
// the engine creates through COM adds one line here.
#include <array>

#include "platform/com/com.h"
#include "platform/ddraw/ddraw.h"
#include "platform/dinput/dinput.h"
#include "platform/dshow/dshow.h"
#include "platform/dsound/dsound.h"

std::span<const PlatformComClass> BuiltInPlatformComClasses() {
  static const std::array<PlatformComClass, 6> classes = {{
      {CLSID_DirectSound, CreateDirectSoundInstance},
      {CLSID_DirectInput, CreateDirectInput7Instance},
      {CLSID_DirectInput8, CreateDirectInput8Instance},
      {CLSID_DirectDraw7, CreateDirectDraw7Instance},
      {CLSID_FilterGraph, CreateFilterGraphInstance},
      {CLSID_SystemClock, CreateSystemClockInstance},
  }};
  return classes;
}
