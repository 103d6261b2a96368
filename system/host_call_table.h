// The calls through which the layers below the host (graphics, media and the system's own clocks)
// reach the host at run time: window queries, the message pump, the inactive wait and the end of
// the program. The host fills the table as soon as it is part of the program; until then every
// entry answers as a program without a window would.
#pragma once

#include <cstdint>

#include "platform/win32/win32_types.h"

struct StandardImage;

struct HostCallTable {
  int (*isEngineRunning)();
  int (*isEngineInitialising)();
  int (*isQuitRequested)();
  int (*isWindowActive)();
  int (*isWindowedMode)();
  int (*getRunWhileInactive)();
  int (*isGraphicsSwitchedOff)();
  HWND (*getWindowHandle)();
  // Returns x; either pointer may be null.
  double (*getWindowScaleFactors)(double* x, double* y);
  int (*getDesktopSizeAndBits)(int* width, int* height, int* bits);
  // 0x00RRGGBB of the window background setting, 0 while none is set.
  std::uint32_t (*getBackgroundColor)();
  // An entry point the start-up looked up by name; null when missing.
  FARPROC (*getModuleEntry)(const char* module, const char* entry);
  int (*applyWindowStyle)();
  int (*enableDesktopComposition)(int on);
  // 0 while the program may go on, -1 once the quit flag is set.
  int (*pumpWindowMessages)();
  void (*waitWhileWindowInactive)();
  // Ends and starts the input devices again (after the device was rebuilt in place).
  int (*restartInputDevices)();
  // The shutdown core that a fatal exit runs before it ends the process.
  int (*shutdownEngineCore)();
  // 1 once the main window has been destroyed (the program is ending).
  int (*isWindowDestroyed)();
  // 1 when the main window is layered: frames are shown through presentToLayeredWindow.
  int (*isLayeredWindow)();
  // Shows a screen image in the layered window; 0, or -1 when it cannot.
  int (*presentToLayeredWindow)(StandardImage* image, HDC dc, int useAlpha);
  // The client area in screen coordinates, below the toolbar when there is one; 0.
  int (*getClientScreenRect)(RECT* rect);
};

extern HostCallTable hostCallTable;
// Puts back the entries of a program without a host.
void ResetHostCallTable();

// Logs the message, runs the shutdown core once and ends the process with exit code -1.
[[noreturn]] void FatalErrorExit(const char* message);
[[noreturn]] void FatalErrorExitFormat(const char* format, ...)
    __attribute__((format(printf, 1, 2)));
