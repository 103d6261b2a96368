// The per-frame message pump: a pending window-mode switch, at most five dispatched messages per
// call, the sleep while the window is inactive, and the per-frame work of the other subsystems;
// and the inactive wait of the draw calls and key reads.
#include "host/host.h"
#include "host/input.h"
#include "host/network.h"
#include "host/system_state.h"
#include "host/text_input.h"
#include "media/movie.h"
#include "media/sound_system.h"
#include "platform/win32/kernel.h"
#include "system/system.h"
#include "system/system_info.h"

namespace {

// Takes one message: any of the thread's, else one posted without a window, else the main
// window's.
bool TakeMessage(MSG* message, HWND mainWindow) {
  if (PeekMessageA(message, nullptr, 0, 0, PM_NOREMOVE))
    return PeekMessageA(message, nullptr, 0, 0, PM_REMOVE) != 0;
  if (PeekMessageA(message, reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)), 0, 0, PM_REMOVE))
    return true;
  return PeekMessageA(message, mainWindow, 0, 0, PM_REMOVE) != 0;
}

bool SleepsWhileInactive() {
  return !EngineState().windowActive && !EngineSettings().runWhileInactive;
}

void ServeWhileInactive() {
  PumpNetWorkMessages(1);
  if (GetLogicalProcessorCount() <= 1) {
    RefillAllStreamSoundBuffers();
    ProcessAllSoftSoundPlayers();
  }
  UpdateAllMovieOverlays();
  Sleep(24);
}

// Step 5 of the pump; false when the quit flag was found set before a dispatch.
void RunMessageLoop() {
  PreInitSettings& settings = EngineSettings();
  SystemState& state = EngineState();
  bool mainThread = GetCurrentThreadId() == state.mainThreadId;
  int count = 0;
  bool done = false;
  for (;;) {
    if (state.closeRequested || state.windowActive || settings.runWhileInactive) {
      if (done || state.quit) return;
    }
    done = true;
    if (SleepsWhileInactive()) Sleep(1);
    MSG message;
    while (TakeMessage(&message, settings.mainWindow)) {
      if (message.message == WM_ACTIVATEAPP && settings.windowMode == 1)
        state.windowActive = LOWORD(message.wParam);
      if (state.quit) return;
      if (message.message == WM_QUIT) state.quit = 1;
      if (!TranslateAcceleratorA(settings.mainWindow, nullptr, &message)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
      if (++count == 5) {
        count = 0;
        done = true;
        break;
      }
      done = false;
    }
    if (SleepsWhileInactive()) ServeWhileInactive();
    if (state.quit || !mainThread) return;
  }
}

}  // namespace

int PumpWindowMessages() {
  PreInitSettings& settings = EngineSettings();
  SystemState& state = EngineState();
  if (state.textInputGuard) return 0;
  if (settings.cursorClipping && state.windowActive && settings.windowMode == 1 &&
      !state.cursorClipped) {
    POINT cursor{};
    GetCursorPos(&cursor);
    const RECT& client = state.clientScreenRect;
    if (client.left < cursor.x && cursor.x <= client.right && client.top < cursor.y &&
        cursor.y <= client.bottom) {
      ClipCursor(&client);
      state.cursorClipped = 1;
    }
  }
  if (!settings.noWindow && !settings.userWindow) {
    if (!settings.mainWindow) return state.quit ? -1 : 0;
    bool mainThread = GetCurrentThreadId() == state.mainThreadId;
    if (state.pendingModeSwitch && settings.modeSwitchAllowed && mainThread) {
      state.pendingModeSwitch = 0;
      ChangeWindowMode(settings.windowMode == 1 ? 0 : 1);
      if (settings.modeSwitchCallback) settings.modeSwitchCallback(settings.modeSwitchData);
    }
    RunMessageLoop();
    if (mainThread && settings.menuAutoDisplayOff == 0) UpdateMenuAutoDisplay();
  }
  if (GetLogicalProcessorCount() <= 1) {
    RefillAllStreamSoundBuffers();
    ProcessAllSoftSoundPlayers();
  }
  UpdateMidiPlayStates();
  RefreshKeyboardState();
  ProcessJoypadEffects();
  PumpNetWorkMessages(1);
  state.textInputGuard = 1;
  ProcessKeyInput();
  state.textInputGuard = 0;
  return state.quit ? -1 : 0;
}

void WaitWhileWindowInactive() {
  PreInitSettings& settings = EngineSettings();
  SystemState& state = EngineState();
  if (state.painting || state.windowActive || settings.userWindow || settings.noWindow) return;
  if (settings.windowMode == 1) {
    if (settings.runWhileInactive) return;
  } else if (settings.windowMode != 0) {
    return;
  }
  // With run-while-inactive on, the pump returns at once; the short sleep keeps a full-screen
  // wait from spinning the processor.
  while (PumpWindowMessages() == 0 && !state.windowActive) {
    if (settings.runWhileInactive) Sleep(10);
  }
}
