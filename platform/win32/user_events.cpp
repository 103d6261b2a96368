// SDL's events as window messages, and the keyboard tables they feed: one by SDL scancode (for
// the DirectInput stand-in) and one by virtual key (GetKeyboardState). Events are drained only on
// the thread that started SDL's video and posted to the queue of the thread owning the window.
#include <array>
#include <atomic>
#include <cstring>

#include "platform/imm/imm.h"
#include "platform/win32/user_internal.h"

using namespace user_detail;

namespace {

std::array<std::atomic<BYTE>, PlatformScancodeCount> scancodeStates;
// Keys that went down since the keyboard was last polled, so a tap shorter than a frame counts.
std::array<std::atomic<BYTE>, PlatformScancodeCount> scancodePresses;
std::array<std::atomic<BYTE>, 256> virtualKeyStates;
std::atomic<LONG> cursorX{0};
std::atomic<LONG> cursorY{0};

struct ScancodeToKey {
  SDL_Scancode scancode;
  BYTE virtualKey;
  bool extended;
};

// Keys whose virtual key is not simply their letter or digit. The Japanese keys follow SDL's
// Linux table: Henkan, Muhenkan, Ro, Yen, Katakana/Hiragana and Zenkaku/Hankaku.
constexpr ScancodeToKey keyTable[] = {
    {SDL_SCANCODE_RETURN, 0x0D, false},
    {SDL_SCANCODE_ESCAPE, 0x1B, false},
    {SDL_SCANCODE_BACKSPACE, 0x08, false},
    {SDL_SCANCODE_TAB, 0x09, false},
    {SDL_SCANCODE_SPACE, 0x20, false},
    {SDL_SCANCODE_MINUS, 0xBD, false},
    {SDL_SCANCODE_EQUALS, 0xBB, false},
    {SDL_SCANCODE_LEFTBRACKET, 0xDB, false},
    {SDL_SCANCODE_RIGHTBRACKET, 0xDD, false},
    {SDL_SCANCODE_BACKSLASH, 0xDC, false},
    {SDL_SCANCODE_NONUSHASH, 0xDC, false},
    {SDL_SCANCODE_SEMICOLON, 0xBA, false},
    {SDL_SCANCODE_APOSTROPHE, 0xDE, false},
    {SDL_SCANCODE_GRAVE, 0xC0, false},
    {SDL_SCANCODE_COMMA, 0xBC, false},
    {SDL_SCANCODE_PERIOD, 0xBE, false},
    {SDL_SCANCODE_SLASH, 0xBF, false},
    {SDL_SCANCODE_CAPSLOCK, 0x14, false},
    {SDL_SCANCODE_PRINTSCREEN, 0x2C, true},
    {SDL_SCANCODE_SCROLLLOCK, 0x91, false},
    {SDL_SCANCODE_PAUSE, 0x13, false},
    {SDL_SCANCODE_INSERT, 0x2D, true},
    {SDL_SCANCODE_HOME, 0x24, true},
    {SDL_SCANCODE_PAGEUP, 0x21, true},
    {SDL_SCANCODE_DELETE, 0x2E, true},
    {SDL_SCANCODE_END, 0x23, true},
    {SDL_SCANCODE_PAGEDOWN, 0x22, true},
    {SDL_SCANCODE_RIGHT, 0x27, true},
    {SDL_SCANCODE_LEFT, 0x25, true},
    {SDL_SCANCODE_DOWN, 0x28, true},
    {SDL_SCANCODE_UP, 0x26, true},
    {SDL_SCANCODE_NUMLOCKCLEAR, 0x90, true},
    {SDL_SCANCODE_KP_DIVIDE, 0x6F, true},
    {SDL_SCANCODE_KP_MULTIPLY, 0x6A, false},
    {SDL_SCANCODE_KP_MINUS, 0x6D, false},
    {SDL_SCANCODE_KP_PLUS, 0x6B, false},
    {SDL_SCANCODE_KP_ENTER, 0x0D, true},
    {SDL_SCANCODE_KP_0, 0x60, false},
    {SDL_SCANCODE_KP_PERIOD, 0x6E, false},
    {SDL_SCANCODE_NONUSBACKSLASH, 0xE2, false},
    {SDL_SCANCODE_APPLICATION, 0x5D, true},
    {SDL_SCANCODE_LCTRL, 0xA2, false},
    {SDL_SCANCODE_LSHIFT, 0xA0, false},
    {SDL_SCANCODE_LALT, 0xA4, false},
    {SDL_SCANCODE_LGUI, 0x5B, true},
    {SDL_SCANCODE_RCTRL, 0xA3, true},
    {SDL_SCANCODE_RSHIFT, 0xA1, false},
    {SDL_SCANCODE_RALT, 0xA5, true},
    {SDL_SCANCODE_RGUI, 0x5C, true},
    {SDL_SCANCODE_INTERNATIONAL1, 0xE2, false},
    {SDL_SCANCODE_INTERNATIONAL2, 0xF2, false},
    {SDL_SCANCODE_INTERNATIONAL3, 0xDC, false},
    {SDL_SCANCODE_INTERNATIONAL4, 0x1C, false},
    {SDL_SCANCODE_INTERNATIONAL5, 0x1D, false},
    {SDL_SCANCODE_LANG5, 0xF3, false},
};

const ScancodeToKey* FindKey(SDL_Scancode scancode) {
  for (const auto& entry : keyTable)
    if (entry.scancode == scancode) return &entry;
  return nullptr;
}

bool IsDown(int virtualKey) { return (virtualKeyStates[virtualKey & 0xFF].load() & 0x80) != 0; }

void SetKey(int virtualKey, bool down) {
  BYTE old = virtualKeyStates[virtualKey].load();
  BYTE state = static_cast<BYTE>((down ? 0x80 : 0) | (old & 1));
  if (down && !(old & 0x80)) state ^= 1;  // each press toggles, as Caps Lock shows
  virtualKeyStates[virtualKey].store(state);
}

// The window an event belongs to: its own, else the foreground window, else the first window of
// the draining thread.
HWND EventWindow(Uint32 sdlWindowId) {
  if (sdlWindowId) {
    if (HWND window = GetPlatformWindowFromSDL(sdlWindowId)) return window;
  }
  std::lock_guard lock(State().mutex);
  if (State().foreground && FindRecordLocked(State().foreground)) return State().foreground;
  for (auto& [handle, record] : State().windows)
    if (record->sdl) return record->handle;
  return nullptr;
}

void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!window) return;
  std::lock_guard lock(State().mutex);
  PostLocked(window, message, wParam, lParam);
}

// Mouse moves are merged: the queue holds at most one per window, with the latest position.
void PostMouseMove(HWND window, WPARAM buttons, LPARAM position) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record) return;
  for (auto& m : record->queue->posted) {
    if (m.hwnd == window && m.message == WM_MOUSEMOVE) {
      m.wParam = buttons;
      m.lParam = position;
      return;
    }
  }
  PostLocked(window, WM_MOUSEMOVE, buttons, position);
}

LPARAM PackPoint(int x, int y) { return MAKELONG(static_cast<WORD>(x), static_cast<WORD>(y)); }

WPARAM MouseButtons(Uint32 state) {
  WPARAM buttons = 0;
  if (state & SDL_BUTTON_LMASK) buttons |= 0x0001;
  if (state & SDL_BUTTON_RMASK) buttons |= 0x0002;
  if (state & SDL_BUTTON_MMASK) buttons |= 0x0010;
  if (IsDown(VK_SHIFT)) buttons |= 0x0004;
  if (IsDown(VK_CONTROL)) buttons |= 0x0008;
  return buttons;
}

void HandleWindowEvent(const SDL_WindowEvent& event) {
  HWND window = GetPlatformWindowFromSDL(event.windowID);
  if (!window) return;
  std::unique_lock lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record) return;
  auto minimizedWord = static_cast<WORD>(record->minimized ? 1 : 0);
  switch (event.event) {
    case SDL_WINDOWEVENT_EXPOSED: record->invalid = true; break;
    case SDL_WINDOWEVENT_MOVED:
      if (record->fullscreen ||
          (record->rect.left == event.data1 && record->rect.top == event.data2))
        break;
      record->rect.right += event.data1 - record->rect.left;
      record->rect.bottom += event.data2 - record->rect.top;
      record->rect.left = event.data1;
      record->rect.top = event.data2;
      PostLocked(window, WM_MOVE, 0, PackPoint(event.data1, event.data2));
      break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      if (record->fullscreen || (record->rect.right - record->rect.left == event.data1 &&
                                 record->rect.bottom - record->rect.top == event.data2))
        break;
      record->rect.right = record->rect.left + event.data1;
      record->rect.bottom = record->rect.top + event.data2;
      record->invalid = true;
      PostLocked(window, WM_SIZE, record->maximized ? SIZE_MAXIMIZED : SIZE_RESTORED,
                 PackPoint(event.data1, event.data2));
      break;
    case SDL_WINDOWEVENT_MINIMIZED: record->minimized = true; break;
    case SDL_WINDOWEVENT_MAXIMIZED:
      record->maximized = true;
      PostLocked(window, WM_SIZE, SIZE_MAXIMIZED,
                 PackPoint(record->rect.right - record->rect.left,
                           record->rect.bottom - record->rect.top));
      break;
    case SDL_WINDOWEVENT_RESTORED:
      record->minimized = false;
      record->maximized = false;
      break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      State().foreground = window;
      PostLocked(window, WM_ACTIVATEAPP, 1, 0);
      PostLocked(window, WM_ACTIVATE, MAKELONG(WA_ACTIVE, minimizedWord), 0);
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      PostLocked(window, WM_ACTIVATE, MAKELONG(WA_INACTIVE, minimizedWord), 0);
      PostLocked(window, WM_ACTIVATEAPP, 0, 0);
      break;
    case SDL_WINDOWEVENT_CLOSE: PostLocked(window, WM_CLOSE, 0, 0); break;
    default: break;
  }
}

void HandleKeyEvent(const SDL_KeyboardEvent& event) {
  bool down = event.type == SDL_KEYDOWN;
  SDL_Scancode scancode = event.keysym.scancode;
  bool wasDown =
      scancode >= 0 && scancode < PlatformScancodeCount && (scancodeStates[scancode].load() & 0x80);
  UpdateKeyTables(scancode, down);
  int virtualKey = VirtualKeyFromScancode(scancode);
  if (!virtualKey) return;
  const ScancodeToKey* entry = FindKey(scancode);
  bool alt = IsDown(VK_MENU);
  bool system = alt || virtualKey == VK_F10 || virtualKey == VK_LMENU || virtualKey == VK_RMENU;
  if (virtualKey >= VK_LSHIFT && virtualKey <= VK_RMENU)
    virtualKey = VK_SHIFT + (virtualKey - VK_LSHIFT) / 2;
  UINT message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
  LPARAM lParam = 1;
  if (entry && entry->extended) lParam |= 1 << 24;
  if (alt) lParam |= 1 << 29;
  if (down ? wasDown : true) lParam |= 1 << 30;
  if (!down) lParam |= static_cast<LPARAM>(1u << 31);
  Post(EventWindow(event.windowID), message, static_cast<WPARAM>(virtualKey), lParam);
}

// Committed text: the result of a composition, or typed characters, one WM_CHAR per byte (a
// double-byte character as two, lead byte first); characters the code page lacks are dropped.
void HandleTextEvent(const SDL_TextInputEvent& event) {
  if (IsDown(VK_MENU)) return;
  std::string text;
  ConvertUtf8ToAnsiDroppingUnmapped(event.text, text, nullptr);
  HWND window = EventWindow(event.windowID);
  if (text.empty() || !window || HandlePlatformCommittedText(window, text)) return;
  for (char c : text) Post(window, WM_CHAR, static_cast<BYTE>(c), 1);
}

void HandleMouseMotion(const SDL_MouseMotionEvent& event) {
  HWND window = EventWindow(event.windowID);
  RECT rect{};
  if (!window || !GetWindowRect(window, &rect)) return;
  cursorX = rect.left + event.x;
  cursorY = rect.top + event.y;
  PostMouseMove(window, MouseButtons(event.state), PackPoint(event.x, event.y));
}

void HandleMouseButton(const SDL_MouseButtonEvent& event) {
  HWND window = EventWindow(event.windowID);
  bool down = event.type == SDL_MOUSEBUTTONDOWN;
  UINT message;
  switch (event.button) {
    case SDL_BUTTON_LEFT: message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP; break;
    case SDL_BUTTON_RIGHT: message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP; break;
    case SDL_BUTTON_MIDDLE: message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP; break;
    default: return;
  }
  Post(window, message, MouseButtons(SDL_GetMouseState(nullptr, nullptr)),
       PackPoint(event.x, event.y));
}

// SDL's quit (an interrupt, or the session ending) asks every top-level window to close.
void HandleQuit() {
  std::lock_guard lock(State().mutex);
  for (auto& [handle, record] : State().windows)
    if (record->sdl) PostLocked(record->handle, WM_CLOSE, 0, 0);
}

int PushEvent(SDL_Event& event) { return SDL_PushEvent(&event) == 1 ? 0 : -1; }

Uint32 SdlIdOf(HWND window) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  return record ? record->sdlId : 0;
}

}  // namespace

namespace user_detail {

void DrainSdlEvents() {
  if (!Video().started.load() || Video().thread != std::this_thread::get_id()) return;
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    switch (event.type) {
      case SDL_WINDOWEVENT: HandleWindowEvent(event.window); break;
      case SDL_KEYDOWN:
      case SDL_KEYUP: HandleKeyEvent(event.key); break;
      case SDL_TEXTINPUT: HandleTextEvent(event.text); break;
      case SDL_TEXTEDITING:
        HandlePlatformComposition(EventWindow(event.edit.windowID), event.edit.text,
                                  event.edit.start);
        break;
      case SDL_TEXTEDITING_EXT:
        HandlePlatformComposition(EventWindow(event.editExt.windowID), event.editExt.text,
                                  event.editExt.start);
        SDL_free(event.editExt.text);
        break;
      case SDL_MOUSEMOTION: HandleMouseMotion(event.motion); break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: HandleMouseButton(event.button); break;
      case SDL_QUIT: HandleQuit(); break;
      default: break;
    }
  }
}

int VirtualKeyFromScancode(SDL_Scancode scancode) {
  if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z)
    return 'A' + (scancode - SDL_SCANCODE_A);
  if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9)
    return '1' + (scancode - SDL_SCANCODE_1);
  if (scancode == SDL_SCANCODE_0) return '0';
  if (scancode >= SDL_SCANCODE_F1 && scancode <= SDL_SCANCODE_F12)
    return VK_F1 + (scancode - SDL_SCANCODE_F1);
  if (scancode >= SDL_SCANCODE_KP_1 && scancode <= SDL_SCANCODE_KP_9)
    return 0x61 + (scancode - SDL_SCANCODE_KP_1);
  const ScancodeToKey* entry = FindKey(scancode);
  return entry ? entry->virtualKey : 0;
}

void UpdateKeyTables(SDL_Scancode scancode, bool down) {
  if (scancode <= SDL_SCANCODE_UNKNOWN || scancode >= PlatformScancodeCount) return;
  scancodeStates[scancode].store(down ? 0x80 : 0);
  if (down) scancodePresses[scancode].store(0x80);
  int virtualKey = VirtualKeyFromScancode(scancode);
  if (!virtualKey) return;
  SetKey(virtualKey, down);
  // The side-neutral Shift, Ctrl and Alt are down while either side is.
  if (virtualKey >= VK_LSHIFT && virtualKey <= VK_RMENU) {
    int left = VK_LSHIFT + (virtualKey - VK_LSHIFT) / 2 * 2;
    SetKey(VK_SHIFT + (virtualKey - VK_LSHIFT) / 2, IsDown(left) || IsDown(left + 1));
  }
}

bool IsVirtualKeyDown(int virtualKey) { return IsDown(virtualKey); }

POINT CursorPosition() { return POINT{cursorX.load(), cursorY.load()}; }

void SetCursorPosition(POINT point) {
  cursorX = point.x;
  cursorY = point.y;
}

}  // namespace user_detail

const BYTE* GetPlatformScancodeStates() {
  static_assert(sizeof(std::atomic<BYTE>) == 1 && std::atomic<BYTE>::is_always_lock_free);
  return reinterpret_cast<const BYTE*>(scancodeStates.data());
}

void PollPlatformScancodeStates(BYTE* states) {
  for (int scancode = 0; scancode < PlatformScancodeCount; ++scancode)
    states[scancode] = scancodeStates[scancode].load() | scancodePresses[scancode].exchange(0);
}

BOOL GetKeyboardState(BYTE* keyStates) {
  if (!keyStates) return FALSE;
  DrainSdlEvents();
  for (int i = 0; i < 256; ++i) keyStates[i] = virtualKeyStates[i].load();
  return TRUE;
}

SHORT GetKeyState(int virtualKey) {
  BYTE state = virtualKeyStates[virtualKey & 0xFF].load();
  return static_cast<SHORT>(((state & 0x80) ? 0x8000 : 0) | (state & 1));
}

void SetPlatformKeyState(int scancode, bool down) {
  UpdateKeyTables(static_cast<SDL_Scancode>(scancode), down);
}

int InjectPlatformWindowEvent(HWND window, int windowEvent, int data1, int data2) {
  Uint32 id = SdlIdOf(window);
  if (!id) return -1;
  SDL_Event event{};
  event.type = SDL_WINDOWEVENT;
  event.window.windowID = id;
  event.window.event = static_cast<Uint8>(windowEvent);
  event.window.data1 = data1;
  event.window.data2 = data2;
  return PushEvent(event);
}

int InjectPlatformKey(HWND window, int scancode, bool down) {
  if (scancode <= 0 || scancode >= PlatformScancodeCount || !EnsurePlatformVideo()) return -1;
  SDL_Event event{};
  event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
  event.key.windowID = SdlIdOf(window);
  event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
  event.key.keysym.scancode = static_cast<SDL_Scancode>(scancode);
  event.key.keysym.sym = SDL_GetKeyFromScancode(static_cast<SDL_Scancode>(scancode));
  return PushEvent(event);
}

int InjectPlatformText(HWND window, const char* utf8) {
  if (!utf8 || std::strlen(utf8) >= sizeof(SDL_TextInputEvent::text) || !EnsurePlatformVideo())
    return -1;
  SDL_Event event{};
  event.type = SDL_TEXTINPUT;
  event.text.windowID = SdlIdOf(window);
  std::strcpy(event.text.text, utf8);
  return PushEvent(event);
}

int InjectPlatformComposition(HWND window, const char* utf8, int cursor) {
  if (!utf8 || !EnsurePlatformVideo()) return -1;
  SDL_Event event{};
  event.type = SDL_TEXTEDITING_EXT;
  event.editExt.windowID = SdlIdOf(window);
  event.editExt.text = SDL_strdup(utf8);
  event.editExt.start = cursor;
  if (!event.editExt.text) return -1;
  if (PushEvent(event) == 0) return 0;
  SDL_free(event.editExt.text);
  return -1;
}

int InjectPlatformMouseMove(HWND window, int x, int y) {
  Uint32 id = SdlIdOf(window);
  if (!id) return -1;
  SDL_Event event{};
  event.type = SDL_MOUSEMOTION;
  event.motion.windowID = id;
  event.motion.x = x;
  event.motion.y = y;
  return PushEvent(event);
}
