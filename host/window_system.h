// The engine's life cycle as the rest of the engine sees it: the main window, the message pump
// and the inactive wait, the fatal exit, the window settings and queries, cursor, clipboard, and
// the platform modules looked up by name at start-up.
#pragma once

#include "platform/win32/user.h"
#include "platform/win32/win32_types.h"
#include "system/host_call_table.h"

// The per-frame pump: 0 while the program may go on, -1 once the quit flag is set.
int PumpWindowMessages();
// Returns at once, or pumps until the window is active again (draw calls and key reads call it).
void WaitWhileWindowInactive();

int InitializeEngineCore();
int ShutdownEngineCore();
int InitializeWindowSystem();

// Window queries.
int IsQuitRequested();
int IsEngineRunning();
int IsEngineInitialising();
HWND GetEngineWindowHandle();
HINSTANCE GetEngineModuleInstance();
DWORD GetEngineMainThreadId();
int IsWindowedMode();
int IsWindowActive();
int GetRunWhileInactive();
int IsCloseRequested();
int IsWindowModeChangeInProgress();
int GetDesktopSizeAndBits(int* width, int* height, int* bits);
double GetWindowScaleFactors(double* x, double* y);
int GetClientScreenRect(RECT* rect);

// Window operations.
LRESULT CALLBACK EngineWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int DestroyEngineWindow();
void ForceWindowForeground(HWND window, int topmost);
int FitWindowToScreen();
int UpdateClientScreenRect(LPARAM movePosition);
int DrawInactivePicture(HDC dc);
// Layered-window mode only: shows a screen image (or, with a context, that context's picture)
// through UpdateLayeredWindow. 0, or -1 when the window is not layered, the entry point is
// missing or the picture cannot be made.
int PresentToLayeredWindow(StandardImage* image, HDC dc, int useAlpha);
// The DIB section PresentToLayeredWindow keeps between frames, deleted with the window.
void DeleteLayeredWindowDib();

// Window mode and settings (ChangeWindowMode, SetWindowTitle, SetWindowIconResource and
// SetRunWhileInactive are public, in system/system.h).
int StoreWindowModeSetting(int windowed);
int ApplyWindowStyle();
int EnableDesktopComposition(int on);
// -1 keeps the requested visibility and forces a refresh.
int SetCursorVisible(int visible);
int ReadMousePosition(int* x, int* y);
// With a buffer, copies at most bufferSize - 1 bytes and a terminator and returns 0; with null
// returns the clipboard data's size + 1. -1 when the clipboard holds no text.
int ReadClipboardText(char* buffer, int bufferSize);
int WriteClipboardText(const char* text);
int CollectMenuItems(HMENU menu);
int LookUpMenuItemName(int commandId, char* buffer);
int ShowMenuBar(int show);
int IsMenuBarWanted();
int UpdateMenuAutoDisplay();
int FindToolbarButton(int commandId);
int GetToolbarHeight();
int RemoveToolbarButtons();
int ClearDroppedFiles();

// Settings that this program never makes; other programs and the tests do.
int SetDoubleStartAllowed(int allowed);
int SetWindowModeSwitchAllowed(int allowed, void (*callback)(void* data), void* data);
using UserMessageHook = void (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int SetUserMessageHook(UserMessageHook hook);
int SetWindowStyleNumber(int number);
// The no-window, no-graphics, no-sound and no-input switches.
int SetEngineSubsystemSwitches(int noWindow, int noGraphics, int noSound, int noInput);

// An entry point of a module that the start-up looked up by name ("winmm.dll", "timeGetTime");
// null when the module or the entry is missing or the modules are released.
FARPROC GetEngineModuleEntry(const char* module, const char* entry);

// The subsystem calls of the start-up and the shutdown, in a table so that a program (or a test)
// can see or replace them; each defaults to its subsystem's function.
struct EngineSubsystemCalls {
  int (*initializeInputDevices)();
  int (*shutdownInputDevices)();
  int (*startSoundSystem)();
  int (*endSoundSystem)();
  int (*startGraphicsSystem)();
  int (*endGraphicsSystem)();
  int (*startModelSystem)();
  int (*endModelSystem)();
  int (*shutdownNetWork)();
  int (*releasePendingMusic)();
  int (*initializeKeyInput)();
};
EngineSubsystemCalls& GetEngineSubsystemCalls();
void ResetEngineSubsystemCalls();
