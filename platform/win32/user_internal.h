// What the user part's sources share: the window registry, the per-thread queues and the
// key-state tables. One mutex guards all of it; window procedures are never called with it held.
#pragma once

#include <SDL.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/user.h"

namespace user_detail {

// A message sent from another thread, waiting for the window's thread to run its procedure.
struct SentMessage {
  MSG message;
  LRESULT result = 0;
  bool done = false;
};

struct ThreadQueue {
  DWORD threadId = 0;
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  bool quitPosted = false;
  int quitCode = 0;
};

struct TimerRecord {
  UINT_PTR id;
  UINT elapse;
  TIMERPROC procedure;
  DWORD due;
};

struct WindowRecord {
  HWND handle = nullptr;
  std::string className;
  WNDPROC procedure = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  HWND parent = nullptr;
  HMENU menu = nullptr;
  HINSTANCE instance = nullptr;
  std::string title;  // the engine's code page
  RECT rect{};        // screen coordinates; the client area is the whole window
  SDL_Window* sdl = nullptr;
  Uint32 sdlId = 0;
  std::shared_ptr<ThreadQueue> queue;
  bool visible = false;
  bool minimized = false;
  bool maximized = false;
  bool invalid = false;
  bool fullscreen = false;  // SDL shows it over the whole desktop
  bool destroyed = false;
  std::vector<TimerRecord> timers;
  LONG_PTR userData = 0;
  HICON icon = nullptr;  // the class's icon when it was last shown
};

struct ClassRecord {
  std::string name;
  WNDCLASSEXA info{};
  ATOM atom = 0;
};

struct UserState {
  std::mutex mutex;
  std::condition_variable sentDone;
  std::map<ULONG_PTR, std::shared_ptr<WindowRecord>> windows;
  std::vector<ClassRecord> classes;
  ULONG_PTR nextHandle = 0x10010;
  ATOM nextAtom = 0xC000;
  HWND foreground = nullptr;
};

// SDL's video is started once, by the first call that needs it; its thread drains the events.
struct VideoState {
  std::mutex mutex;
  std::atomic<bool> started{false};
  bool failed = false;  // looked for once: a failed start is not tried again
  std::thread::id thread;
};
VideoState& Video();

UserState& State();
// The calling thread's queue, made on first use.
std::shared_ptr<ThreadQueue> CurrentQueue();
// The record of a live window, or null. Call with the mutex held.
std::shared_ptr<WindowRecord> FindRecordLocked(HWND window);
std::shared_ptr<WindowRecord> FindRecord(HWND window);
bool EqualNoCase(const std::string& a, const char* b);

// Calls the window's procedure on the calling thread (which must own the window).
LRESULT CallProcedure(const std::shared_ptr<WindowRecord>& record, UINT message, WPARAM wParam,
                      LPARAM lParam);
// Posts under the mutex; false when the window is gone.
bool PostLocked(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Turns SDL's pending events into messages; only on the thread that started SDL's video.
void DrainSdlEvents();
// Runs messages that other threads sent to the calling thread's windows.
void RunSentMessages();
// Shows an icon on the SDL window (null: the default icon) and remembers it. Call with the mutex
// held.
void ShowWindowIcon(WindowRecord& record, HICON icon);
// Makes the SDL window follow the record: position, size, border, full-screen, top-most.
void ApplySdlGeometry(WindowRecord& record);
// The current display mode and the desktop's.
void GetCurrentDisplayMode(int& width, int& height, int& bitsPerPixel);
void GetDesktopDisplayMode(int& width, int& height);
// Keyboard tables fed by the event drain.
void UpdateKeyTables(SDL_Scancode scancode, bool down);
int VirtualKeyFromScancode(SDL_Scancode scancode);
bool IsVirtualKeyDown(int virtualKey);
// The IME switch of WINNLSEnableIME (on until switched off).
bool IsImeEnabled();
// Last known cursor position in screen coordinates.
POINT CursorPosition();
void SetCursorPosition(POINT point);
// Releases a window's cross-process class marker (user_find.cpp).
void MarkClassWindowCreated(const std::string& className);
void MarkClassWindowDestroyed(const std::string& className);

}  // namespace user_detail
