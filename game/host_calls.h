// The calls that the game's simulation makes outwards: sound and debugger output. The engine glue
// fills them at start with the engine's and the platform's calls; tests fill them with recorders
// or leave them empty, and an empty call does nothing.
#pragma once

struct HostCalls {
  int (*playSound)(int sound, int playType, int fromTop) = nullptr;
  int (*stopSound)(int sound) = nullptr;
  int (*setSoundVolume)(int volume, int sound) = nullptr;
  void (*debugOutput)(const char* text) = nullptr;
};

extern HostCalls hostCalls;
