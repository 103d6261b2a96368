// The classes of the layer that CoCreateInstance makes. Each folder of the layer whose objects
// the engine creates through COM adds one line here.
#include <array>

#include "platform/com/com.h"
#include "platform/dsound/dsound.h"

std::span<const PlatformComClass> BuiltInPlatformComClasses() {
  static const std::array<PlatformComClass, 1> classes = {{
      {CLSID_DirectSound, CreateDirectSoundInstance},
  }};
  return classes;
}
