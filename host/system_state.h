// The system layer's state block, shared by its start-up, window, pump and settings sources.
// SystemState is cleared at every start by InitializeWindowSystem; PreInitSettings holds what
// must outlive that clear: the settings made before the start and the running state the Parts
// keep across it.
#pragma once

#include <cstdint>

#include "host/window_system.h"
#include "platform/win32/user.h"

struct PreInitSettings {
  char windowTitle[256];
  char className[260];
  std::int32_t windowMode;  // 1 window, 0 full screen
  std::int32_t runWhileInactive;
  std::int32_t iconResourceId;
  std::int32_t windowStyleNumber;  // 0-10
  std::int32_t hiddenWindow;
  std::int32_t layeredWindow;
  std::int32_t modeSwitchAllowed;
  void (*modeSwitchCallback)(void* data);
  void* modeSwitchData;
  std::int32_t resizable;
  HWND userWindow;
  WNDPROC userWindowProc;
  HANDLE windowRegion;
  std::int32_t clientWidth, clientHeight, clientSizeSet;
  std::int32_t windowX, windowY, positionSet;
  std::int32_t fixedSize;
  double scaleX, scaleY;
  std::int32_t cursorClipping;
  std::int32_t systemKeySuppression;
  UserMessageHook userMessageHook;
  std::int32_t backgroundRed, backgroundGreen, backgroundBlue, backgroundSet;
  std::int32_t keepWindowOnClose;
  std::int32_t noQuitMessageOnDestroy;
  std::int32_t doubleStartAllowed;
  std::int32_t noWindow, noGraphics, noSound, noInput;
  std::int32_t menuOn;
  HMENU menu;
  std::int32_t menuHidden;
  std::int32_t menuAutoDisplayOff;
  void (*menuCommandCallback)(WORD commandId);
  void (*menuNameCallback)(const char* name, WORD commandId);
  void (*activationCallback)(int active, void* data);
  void* activationData;
  // Running state kept across the clear.
  HWND mainWindow;
  std::int32_t initialising;
  std::int32_t comInitialised;
  FARPROC dwmEnableComposition;
  FARPROC winnlsEnableIme;
  FARPROC updateLayeredWindow;
};

struct SystemState {
  std::int32_t running;
  std::int32_t ending;  // 1 while the shutdown core runs; 4 after a WM_CLOSE
  std::int32_t quit;
  std::int32_t closeRequested;
  std::int32_t windowDestroyed;
  std::int32_t windowActive;
  std::int32_t painting;
  std::int32_t pendingModeSwitch;
  std::int32_t modeChangeInProgress;
  std::int32_t displayChangeMark;
  std::int32_t creating;
  std::int32_t textInputGuard;
  HINSTANCE instance;
  DWORD mainThreadId;
  std::int32_t desktopWidth, desktopHeight, desktopBits;
  std::int32_t screenWidth, screenHeight;
  RECT windowRect;
  RECT clientScreenRect;
  std::int32_t captionOffset;
  std::int32_t visibleStyle;
  std::int32_t requestedCursorVisible;
  std::int32_t currentCursorVisible;
  std::int32_t cursorClipped;
  std::int32_t desktopCompositionOff;
  std::int32_t pointerNearTop;
  std::int32_t menuShown;
  std::int32_t selectedCommands[64];
  std::int32_t selectedCommandCount;
  char* droppedFiles[1000];
  std::int32_t droppedFileCount;
  std::int32_t inactivePictureSet;
  std::int32_t inactivePictureGraph;
};

PreInitSettings& EngineSettings();
SystemState& EngineState();

// Shared between the window sources.
int CreateEngineWindow();
void ComputeWindowStyles(int windowed, DWORD* style, DWORD* exStyle);
// The client size of the window-mode window: screen size times the scale factors, or the set size.
void WindowClientSize(int* width, int* height);
void RecordClientScreenRect();
// Applies the aspect-keeping rule of WM_SIZING to a drag rectangle (window coordinates).
void ApplySizingRule(WPARAM edge, RECT* drag);
