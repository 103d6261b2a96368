// Window classes and windows: the registry of records behind window handles, creation and
// destruction with their synchronous messages, geometry, styles, titles and the window queries.
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/win32/file_path.h"
#include "platform/win32/gdi_dib.h"
#include "platform/win32/gdi_present.h"
#include "platform/win32/kernel.h"
#include "platform/win32/user_internal.h"

namespace user_detail {

UserState& State() {
  static UserState* state = new UserState;  // outlives every static destructor that may post
  return *state;
}

namespace {

// A thread's hold on its queue, given up when the thread ends. The process's first thread keeps
// its queue: it runs the exit, whose static destructors and exit handlers come after its
// thread-local objects are gone and may still end the engine, which pumps messages.
struct QueueHold {
  std::shared_ptr<ThreadQueue>** slot = nullptr;
  ~QueueHold() {
    if (gettid() == getpid()) return;
    delete *slot;
    *slot = nullptr;
  }
};

}  // namespace

std::shared_ptr<ThreadQueue> CurrentQueue() {
  // A plain pointer has no destructor, so it stays readable through the thread's whole end.
  thread_local std::shared_ptr<ThreadQueue>* queue = nullptr;
  if (!queue) {
    thread_local QueueHold hold;
    queue = new std::shared_ptr<ThreadQueue>(std::make_shared<ThreadQueue>());
    (*queue)->threadId = GetCurrentThreadId();
    hold.slot = &queue;
  }
  return *queue;
}

std::shared_ptr<WindowRecord> FindRecordLocked(HWND window) {
  auto& windows = State().windows;
  auto it = windows.find(reinterpret_cast<ULONG_PTR>(window));
  if (it == windows.end()) return nullptr;
  return it->second;
}

std::shared_ptr<WindowRecord> FindRecord(HWND window) {
  std::lock_guard lock(State().mutex);
  return FindRecordLocked(window);
}

bool EqualNoCase(const std::string& a, const char* b) {
  std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(a[i]);
    auto y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x -= 32;
    if (y >= 'a' && y <= 'z') y -= 32;
    if (x != y) return false;
  }
  return true;
}

LRESULT CallProcedure(const std::shared_ptr<WindowRecord>& record, UINT message, WPARAM wParam,
                      LPARAM lParam) {
  WNDPROC procedure;
  {
    std::lock_guard lock(State().mutex);
    procedure = record->procedure;
  }
  if (!procedure) return 0;
  return procedure(record->handle, message, wParam, lParam);
}

namespace {

// A full-screen window takes the display's own mode of the chosen size where the display has one,
// and otherwise covers the desktop, where its picture is shown scaled with its aspect kept. The
// window is first laid over the whole area by the layer itself, so that it covers it even where
// no window manager acts on the full-screen request.
void EnterFullScreen(SDL_Window* sdl, int width, int height) {
  int display = SDL_GetWindowDisplayIndex(sdl);
  if (display < 0) display = 0;
  SDL_Rect bounds{0, 0, width, height};
  SDL_GetDisplayBounds(display, &bounds);
  SDL_DisplayMode mode{};
  bool listed = false;
  for (int i = 0, count = SDL_GetNumDisplayModes(display); i < count && !listed; ++i)
    listed = SDL_GetDisplayMode(display, i, &mode) == 0 && mode.w == width && mode.h == height;
  SDL_SetWindowBordered(sdl, SDL_FALSE);
  SDL_SetWindowPosition(sdl, bounds.x, bounds.y);
  if (listed) {
    SDL_SetWindowSize(sdl, width, height);
    SDL_SetWindowDisplayMode(sdl, &mode);
    SDL_SetWindowFullscreen(sdl, SDL_WINDOW_FULLSCREEN);
  } else {
    SDL_SetWindowSize(sdl, bounds.w, bounds.h);
    SDL_SetWindowFullscreen(sdl, SDL_WINDOW_FULLSCREEN_DESKTOP);
  }
}

// Drops the window's pending move and size events: after a switch into or out of full screen they
// tell of the layer's own steps on the way, not of a change made from outside.
int DropGeometryEvents(void* windowId, SDL_Event* event) {
  if (event->type != SDL_WINDOWEVENT ||
      event->window.windowID != static_cast<Uint32>(reinterpret_cast<std::uintptr_t>(windowId)))
    return 1;
  const Uint8 kind = event->window.event;
  return kind == SDL_WINDOWEVENT_MOVED || kind == SDL_WINDOWEVENT_RESIZED ||
                 kind == SDL_WINDOWEVENT_SIZE_CHANGED
             ? 0
             : 1;
}

}  // namespace

void ApplySdlGeometry(WindowRecord& record) {
  if (!record.sdl) return;
  int modeWidth, modeHeight, bits;
  GetCurrentDisplayMode(modeWidth, modeHeight, bits);
  const RECT& r = record.rect;
  bool topmost = (record.exStyle & WS_EX_TOPMOST) != 0;
  bool wantFull = record.visible && (record.style & WS_CAPTION) == 0 && topmost && r.left == 0 &&
                  r.top == 0 && r.right == modeWidth && r.bottom == modeHeight;
  bool leftFullScreen = false;
  if (wantFull != record.fullscreen) {
    record.fullscreen = wantFull;
    if (wantFull) {
      EnterFullScreen(record.sdl, modeWidth, modeHeight);
    } else {
      SDL_SetWindowFullscreen(record.sdl, 0);
      leftFullScreen = true;
    }
  }
  if (!record.fullscreen) {
    SDL_SetWindowBordered(record.sdl,
                          (record.style & WS_CAPTION) == WS_CAPTION ? SDL_TRUE : SDL_FALSE);
    SDL_SetWindowResizable(record.sdl, (record.style & WS_THICKFRAME) ? SDL_TRUE : SDL_FALSE);
    int width = std::max<LONG>(1, r.right - r.left);
    int height = std::max<LONG>(1, r.bottom - r.top);
    int currentWidth, currentHeight, currentX, currentY;
    SDL_GetWindowSize(record.sdl, &currentWidth, &currentHeight);
    // Back from full screen the window gets its own size and place again, whatever SDL believes
    // they are.
    if (leftFullScreen || currentWidth != width || currentHeight != height) {
      if (record.maximized) {
        SDL_RestoreWindow(record.sdl);
        record.maximized = false;
      }
      SDL_SetWindowSize(record.sdl, width, height);
    }
    SDL_GetWindowPosition(record.sdl, &currentX, &currentY);
    if (leftFullScreen || currentX != r.left || currentY != r.top)
      SDL_SetWindowPosition(record.sdl, r.left, r.top);
  }
  if (leftFullScreen) {
    if (Video().thread == std::this_thread::get_id()) SDL_PumpEvents();
    SDL_FilterEvents(DropGeometryEvents,
                     reinterpret_cast<void*>(static_cast<std::uintptr_t>(record.sdlId)));
  }
  SDL_SetWindowAlwaysOnTop(record.sdl, topmost ? SDL_TRUE : SDL_FALSE);
}

}  // namespace user_detail

using namespace user_detail;

namespace {

std::string TitleForSdl(const std::string& title) {
  std::string utf8;
  if (ConvertAnsiToUtf8(title.c_str(), utf8)) return utf8;
  utf8 = title;
  for (char& c : utf8)
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  return utf8;
}

ClassRecord* FindClassLocked(LPCSTR name) {
  if (!name) return nullptr;
  for (auto& c : State().classes) {
    if (reinterpret_cast<ULONG_PTR>(name) <= 0xFFFF ? c.atom == reinterpret_cast<ULONG_PTR>(name)
                                                    : EqualNoCase(c.name, name))
      return &c;
  }
  return nullptr;
}

bool IsOwnThread(const WindowRecord& record) {
  return record.queue->threadId == GetCurrentThreadId();
}

}  // namespace

ATOM RegisterClassExA(const WNDCLASSEXA* windowClass) {
  if (!windowClass || !windowClass->lpszClassName || !windowClass->lpfnWndProc) return 0;
  if (windowClass->cbSize != sizeof(WNDCLASSEXA)) return 0;
  std::lock_guard lock(State().mutex);
  if (FindClassLocked(windowClass->lpszClassName)) return 0;
  ClassRecord record;
  record.name = windowClass->lpszClassName;
  record.info = *windowClass;
  record.info.lpszClassName = nullptr;
  record.atom = State().nextAtom++;
  State().classes.push_back(record);
  return record.atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
  std::lock_guard lock(State().mutex);
  ClassRecord* record = FindClassLocked(className);
  if (!record) return FALSE;
  for (auto& [handle, window] : State().windows)
    if (EqualNoCase(window->className, record->name.c_str())) return FALSE;
  auto& classes = State().classes;
  classes.erase(classes.begin() + (record - classes.data()));
  return TRUE;
}

ULONG_PTR SetClassLongPtrA(HWND window, int index, LONG_PTR value) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record || index != GCL_HICON) return 0;
  ClassRecord* c = FindClassLocked(record->className.c_str());
  if (!c) return 0;
  auto previous = reinterpret_cast<ULONG_PTR>(c->info.hIcon);
  c->info.hIcon = reinterpret_cast<HICON>(value);
  // Every window of the class shows the class's icon.
  for (auto& [handle, other] : State().windows)
    if (EqualNoCase(other->className, c->name.c_str())) ShowWindowIcon(*other, c->info.hIcon);
  return previous;
}

DWORD SetClassLongA(HWND window, int index, LONG value) {
  return static_cast<DWORD>(SetClassLongPtrA(window, index, value));
}

// Cursors are tokens: the layer shows the system's own pointer.
HCURSOR LoadCursorA(HINSTANCE, LPCSTR name) {
  auto id = reinterpret_cast<ULONG_PTR>(name);
  if (id == 0 || id > 0xFFFF) return nullptr;
  return reinterpret_cast<HICON>(0x7F000000 | id);
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
  bool messageOnly = parent == HWND_MESSAGE;
  if (messageOnly) parent = nullptr;
  bool topLevel = parent == nullptr && (style & WS_CHILD) == 0 && !messageOnly;
  if (topLevel && !EnsurePlatformVideo()) return nullptr;
  auto record = std::make_shared<WindowRecord>();
  {
    std::lock_guard lock(State().mutex);
    ClassRecord* c = FindClassLocked(className);
    if (!c) return nullptr;
    if (parent && !FindRecordLocked(parent)) return nullptr;
    record->className = c->name;
    record->procedure = c->info.lpfnWndProc;
    record->icon = c->info.hIcon;
  }
  record->style = style & ~WS_VISIBLE;
  record->exStyle = exStyle;
  record->parent = parent;
  record->menu = menu;
  record->instance = instance;
  record->title = windowName ? windowName : "";
  record->rect = RECT{x, y, x + std::max(0, width), y + std::max(0, height)};
  record->queue = CurrentQueue();
  if (topLevel) {
    record->sdl = SDL_CreateWindow(TitleForSdl(record->title).c_str(), x, y, std::max(1, width),
                                   std::max(1, height), SDL_WINDOW_HIDDEN);
    if (!record->sdl) return nullptr;
    record->sdlId = SDL_GetWindowID(record->sdl);
  }
  {
    std::lock_guard lock(State().mutex);
    record->handle = reinterpret_cast<HWND>(State().nextHandle);
    State().nextHandle += 0x10;
    State().windows[reinterpret_cast<ULONG_PTR>(record->handle)] = record;
    if (record->sdl) ShowWindowIcon(*record, record->icon);
    ApplySdlGeometry(*record);
  }
  if (topLevel) MarkClassWindowCreated(record->className);
  CREATESTRUCTA create{
      param,      instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
      windowName, className, exStyle};
  if (CallProcedure(record, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    DestroyWindow(record->handle);
    return nullptr;
  }
  if (!FindRecord(record->handle)) return nullptr;
  if (style & WS_VISIBLE) ShowWindow(record->handle, SW_SHOW);
  return record->handle;
}

BOOL DestroyWindow(HWND window) {
  auto record = FindRecord(window);
  if (!record || !IsOwnThread(*record)) return FALSE;
  {
    std::lock_guard lock(State().mutex);
    if (record->destroyed) return FALSE;
    record->destroyed = true;
  }
  std::vector<HWND> children;
  {
    std::lock_guard lock(State().mutex);
    for (auto& [handle, child] : State().windows)
      if (child->parent == window) children.push_back(child->handle);
  }
  for (HWND child : children) DestroyWindow(child);
  CallProcedure(record, WM_DESTROY, 0, 0);
  if (record->sdl) KeepPresentedImage(window);
  std::lock_guard lock(State().mutex);
  auto& state = State();
  state.windows.erase(reinterpret_cast<ULONG_PTR>(window));
  record->timers.clear();
  auto& posted = record->queue->posted;
  posted.erase(
      std::remove_if(posted.begin(), posted.end(), [&](const MSG& m) { return m.hwnd == window; }),
      posted.end());
  if (state.foreground == window) state.foreground = nullptr;
  if (record->sdl) {
    SDL_DestroyWindow(record->sdl);
    record->sdl = nullptr;
    MarkClassWindowDestroyed(record->className);
  }
  state.sentDone.notify_all();
  return TRUE;
}

BOOL IsWindow(HWND window) { return FindRecord(window) ? TRUE : FALSE; }

BOOL ShowWindow(HWND window, int command) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record) return FALSE;
  BOOL wasVisible = record->visible ? TRUE : FALSE;
  SDL_Window* sdl = record->sdl;
  switch (command) {
    case SW_HIDE:
      record->visible = false;
      if (sdl) SDL_HideWindow(sdl);
      break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
      if (!record->visible) record->invalid = true;
      record->visible = true;
      record->minimized = true;
      if (sdl) {
        SDL_ShowWindow(sdl);
        SDL_MinimizeWindow(sdl);
      }
      break;
    case SW_MAXIMIZE:
      if (!record->visible) record->invalid = true;
      record->visible = true;
      record->maximized = true;
      if (sdl) {
        SDL_ShowWindow(sdl);
        SDL_MaximizeWindow(sdl);
      }
      break;
    default:
      if (!record->visible) record->invalid = true;
      record->visible = true;
      if (sdl) SDL_ShowWindow(sdl);
      if (command == SW_RESTORE || command == SW_SHOWNORMAL) {
        record->minimized = record->maximized = false;
        if (sdl) SDL_RestoreWindow(sdl);
      }
      if (!State().foreground && sdl) State().foreground = window;
      break;
  }
  ApplySdlGeometry(*record);
  return wasVisible;
}

BOOL InvalidateRect(HWND window, const RECT*, BOOL) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record) return FALSE;
  record->invalid = true;
  return TRUE;
}

BOOL ValidateRect(HWND window, const RECT*) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record) return FALSE;
  record->invalid = false;
  return TRUE;
}

BOOL UpdateWindow(HWND window) {
  auto record = FindRecord(window);
  if (!record) return FALSE;
  bool paint;
  {
    std::lock_guard lock(State().mutex);
    paint = record->invalid && record->visible;
  }
  if (paint) SendMessageA(window, WM_PAINT, 0, 0);
  return TRUE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(window, nullptr, x, y, width, height,
                      SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags) {
  bool moved, sized;
  RECT now;
  WPARAM sizeKind;
  {
    std::lock_guard lock(State().mutex);
    auto record = FindRecordLocked(window);
    if (!record) return FALSE;
    RECT old = record->rect;
    now = old;
    if (!(flags & SWP_NOMOVE)) {
      now.right = x + (old.right - old.left);
      now.bottom = y + (old.bottom - old.top);
      now.left = x;
      now.top = y;
    }
    if (!(flags & SWP_NOSIZE)) {
      now.right = now.left + std::max(0, width);
      now.bottom = now.top + std::max(0, height);
    }
    if (!(flags & SWP_NOZORDER)) {
      if (insertAfter == HWND_TOPMOST) record->exStyle |= WS_EX_TOPMOST;
      if (insertAfter == HWND_NOTOPMOST) record->exStyle &= ~WS_EX_TOPMOST;
    }
    if (flags & SWP_SHOWWINDOW) {
      if (!record->visible) record->invalid = true;
      record->visible = true;
      if (record->sdl) SDL_ShowWindow(record->sdl);
    }
    if (flags & SWP_HIDEWINDOW) {
      record->visible = false;
      if (record->sdl) SDL_HideWindow(record->sdl);
    }
    moved = now.left != old.left || now.top != old.top;
    sized = now.right - now.left != old.right - old.left ||
            now.bottom - now.top != old.bottom - old.top;
    if (sized && !(flags & SWP_NOREDRAW)) record->invalid = true;
    record->rect = now;
    sizeKind = record->maximized ? SIZE_MAXIMIZED : SIZE_RESTORED;
    ApplySdlGeometry(*record);
  }
  if (moved)
    SendMessageA(window, WM_MOVE, 0,
                 MAKELONG(static_cast<WORD>(now.left), static_cast<WORD>(now.top)));
  if (sized)
    SendMessageA(
        window, WM_SIZE, sizeKind,
        MAKELONG(static_cast<WORD>(now.right - now.left), static_cast<WORD>(now.bottom - now.top)));
  return TRUE;
}

BOOL GetClientRect(HWND window, RECT* rect) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record || !rect) return FALSE;
  *rect =
      RECT{0, 0, record->rect.right - record->rect.left, record->rect.bottom - record->rect.top};
  return TRUE;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record || !rect) return FALSE;
  *rect = record->rect;
  return TRUE;
}

BOOL ClientToScreen(HWND window, POINT* point) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record || !point) return FALSE;
  point->x += record->rect.left;
  point->y += record->rect.top;
  return TRUE;
}

BOOL ScreenToClient(HWND window, POINT* point) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record || !point) return FALSE;
  point->x -= record->rect.left;
  point->y -= record->rect.top;
  return TRUE;
}

BOOL AdjustWindowRectEx(RECT* rect, DWORD, BOOL, DWORD) { return rect ? TRUE : FALSE; }

BOOL SetWindowTextA(HWND window, LPCSTR text) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record) return FALSE;
  record->title = text ? text : "";
  if (record->sdl) SDL_SetWindowTitle(record->sdl, TitleForSdl(record->title).c_str());
  return TRUE;
}

int GetWindowTextA(HWND window, LPSTR buffer, int size) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record || !buffer || size <= 0) return 0;
  int n = std::min<int>(size - 1, static_cast<int>(record->title.size()));
  std::memcpy(buffer, record->title.data(), n);
  buffer[n] = '\0';
  return n;
}

LONG_PTR GetWindowLongPtrA(HWND window, int index) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record) return 0;
  switch (index) {
    case GWL_WNDPROC: return reinterpret_cast<LONG_PTR>(record->procedure);
    case GWL_STYLE: return static_cast<LONG>(record->style | (record->visible ? WS_VISIBLE : 0));
    case GWL_EXSTYLE: return static_cast<LONG>(record->exStyle);
    case GWLP_USERDATA: return record->userData;
    default: return 0;
  }
}

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record) return 0;
  LONG_PTR previous = 0;
  switch (index) {
    case GWL_WNDPROC:
      previous = reinterpret_cast<LONG_PTR>(record->procedure);
      if (value) record->procedure = reinterpret_cast<WNDPROC>(value);
      break;
    case GWL_STYLE:
      previous = static_cast<LONG>(record->style | (record->visible ? WS_VISIBLE : 0));
      // Setting the style never shows or hides the window, as on the platform.
      record->style = static_cast<DWORD>(value) & ~WS_VISIBLE;
      ApplySdlGeometry(*record);
      break;
    case GWL_EXSTYLE:
      previous = static_cast<LONG>(record->exStyle);
      record->exStyle = static_cast<DWORD>(value);
      ApplySdlGeometry(*record);
      break;
    case GWLP_USERDATA:
      previous = record->userData;
      record->userData = value;
      break;
    default: return 0;
  }
  return previous;
}

LONG GetWindowLongA(HWND window, int index) {
  if (index == GWL_WNDPROC) return 0;  // a procedure does not fit; GetWindowLongPtrA gives it
  return static_cast<LONG>(GetWindowLongPtrA(window, index));
}

LONG SetWindowLongA(HWND window, int index, LONG value) {
  if (index == GWL_WNDPROC) return 0;
  return static_cast<LONG>(SetWindowLongPtrA(window, index, value));
}

BOOL BringWindowToTop(HWND window) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record) return FALSE;
  if (record->sdl && record->visible) SDL_RaiseWindow(record->sdl);
  return TRUE;
}

BOOL SetForegroundWindow(HWND window) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record) return FALSE;
  if (record->sdl && record->visible) SDL_RaiseWindow(record->sdl);
  State().foreground = window;
  return TRUE;
}

HWND GetForegroundWindow() {
  std::lock_guard lock(State().mutex);
  return State().foreground;
}

HWND SetActiveWindow(HWND window) {
  std::lock_guard lock(State().mutex);
  if (!FindRecordLocked(window)) return nullptr;
  HWND previous = State().foreground;
  State().foreground = window;
  return previous;
}

DWORD GetWindowThreadProcessId(HWND window, LPDWORD processId) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record) return 0;
  if (processId) *processId = static_cast<DWORD>(getpid());
  return record->queue->threadId;
}

BOOL AttachThreadInput(DWORD, DWORD, BOOL) { return TRUE; }

int SetWindowRgn(HWND, HANDLE, BOOL) { return 0; }

SDL_Window* GetPlatformSDLWindow(HWND window) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  return record ? record->sdl : nullptr;
}

HWND GetPlatformWindowFromSDL(unsigned sdlWindowId) {
  std::lock_guard lock(State().mutex);
  for (auto& [handle, record] : State().windows)
    if (record->sdl && record->sdlId == sdlWindowId) return record->handle;
  return nullptr;
}
