// The desktop services of the user part: the desktop window, the cursor with its display count,
// the clipboard over SDL's, the global memory blocks it trades in, the menu calls (no menus
// exist), and message boxes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/win32/file_path.h"
#include "platform/win32/user_internal.h"

using namespace user_detail;

namespace {

struct CursorState {
  std::mutex mutex;
  int displayCount = 0;
  HCURSOR current = nullptr;
  bool currentSet = false;
};

CursorState& Cursor() {
  static auto* state = new CursorState;
  return *state;
}

void ApplyCursorLocked(CursorState& cursor) {
  if (!Video().started.load()) return;
  bool shown = cursor.displayCount >= 0 && (!cursor.currentSet || cursor.current);
  SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE);
}

// A global memory block: its size in front of the bytes, so GlobalSize can answer.
struct GlobalBlock {
  SIZE_T size;
  alignas(std::max_align_t) unsigned char bytes[1];
};

GlobalBlock* AsBlock(HGLOBAL memory) { return static_cast<GlobalBlock*>(memory); }

struct ClipboardState {
  std::mutex mutex;
  bool open = false;
  HGLOBAL text = nullptr;  // the last CF_TEXT read, owned by the clipboard
};

ClipboardState& Clipboard() {
  static auto* state = new ClipboardState;
  return *state;
}

// Code-page text with CR LF from SDL's UTF-8 with LF.
bool ReadSdlClipboard(std::string& out) {
  if (!EnsurePlatformVideo() || !SDL_HasClipboardText()) return false;
  char* utf8 = SDL_GetClipboardText();
  if (!utf8) return false;
  std::string text;
  bool converted = ConvertUtf8ToAnsi(utf8, text);
  SDL_free(utf8);
  if (!converted) return false;
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return true;
}

}  // namespace

// The desktop window is a handle of its own, outside the window table.
HWND GetDesktopWindow() {
  static char desktop;
  return reinterpret_cast<HWND>(&desktop);
}

int ShowCursor(BOOL show) {
  auto& cursor = Cursor();
  std::lock_guard lock(cursor.mutex);
  cursor.displayCount += show ? 1 : -1;
  ApplyCursorLocked(cursor);
  return cursor.displayCount;
}

HCURSOR SetCursor(HCURSOR newCursor) {
  auto& cursor = Cursor();
  std::lock_guard lock(cursor.mutex);
  HCURSOR previous = cursor.current;
  cursor.current = newCursor;
  cursor.currentSet = true;
  ApplyCursorLocked(cursor);
  return previous;
}

BOOL GetCursorPos(POINT* point) {
  if (!point) return FALSE;
  *point = CursorPosition();
  return TRUE;
}

BOOL SetCursorPos(int x, int y) {
  SetCursorPosition(POINT{x, y});
  if (Video().started.load()) SDL_WarpMouseGlobal(x, y);
  return TRUE;
}

BOOL ClipCursor(const RECT* rect) {
  std::lock_guard lock(State().mutex);
  for (auto& [handle, record] : State().windows) {
    if (!record->sdl) continue;
    if (!rect) {
      SDL_SetWindowMouseRect(record->sdl, nullptr);
      continue;
    }
    SDL_Rect area{rect->left - record->rect.left, rect->top - record->rect.top,
                  rect->right - rect->left, rect->bottom - rect->top};
    SDL_SetWindowMouseRect(record->sdl, &area);
  }
  return TRUE;
}

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  if (bytes > (SIZE_T{1} << 40)) return nullptr;
  void* memory = std::malloc(offsetof(GlobalBlock, bytes) + (bytes ? bytes : 1));
  if (!memory) return nullptr;
  auto* block = static_cast<GlobalBlock*>(memory);
  block->size = bytes;
  if (flags & GMEM_ZEROINIT) std::memset(block->bytes, 0, bytes);
  return block;
}

LPVOID GlobalLock(HGLOBAL memory) { return memory ? AsBlock(memory)->bytes : nullptr; }

BOOL GlobalUnlock(HGLOBAL) {
  return FALSE;
}  // no lock count is kept: the platform's result for a fixed block

SIZE_T GlobalSize(HGLOBAL memory) { return memory ? AsBlock(memory)->size : 0; }

HGLOBAL GlobalFree(HGLOBAL memory) {
  std::free(memory);
  return nullptr;
}

BOOL OpenClipboard(HWND owner) {
  if (owner && !IsWindow(owner)) return FALSE;
  auto& clipboard = Clipboard();
  std::lock_guard lock(clipboard.mutex);
  if (clipboard.open) return FALSE;
  clipboard.open = true;
  return TRUE;
}

BOOL CloseClipboard() {
  auto& clipboard = Clipboard();
  std::lock_guard lock(clipboard.mutex);
  if (!clipboard.open) return FALSE;
  clipboard.open = false;
  GlobalFree(clipboard.text);
  clipboard.text = nullptr;
  return TRUE;
}

BOOL EmptyClipboard() {
  auto& clipboard = Clipboard();
  std::lock_guard lock(clipboard.mutex);
  if (!clipboard.open || !EnsurePlatformVideo()) return FALSE;
  SDL_SetClipboardText("");
  return TRUE;
}

BOOL IsClipboardFormatAvailable(UINT format) {
  return format == CF_TEXT && EnsurePlatformVideo() && SDL_HasClipboardText() ? TRUE : FALSE;
}

HANDLE SetClipboardData(UINT format, HANDLE data) {
  auto& clipboard = Clipboard();
  std::lock_guard lock(clipboard.mutex);
  if (!clipboard.open || format != CF_TEXT || !data || !EnsurePlatformVideo()) return nullptr;
  GlobalBlock* block = AsBlock(data);
  std::string text(reinterpret_cast<const char*>(block->bytes),
                   strnlen(reinterpret_cast<const char*>(block->bytes), block->size));
  std::string withoutCr;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) withoutCr += text[i];
  std::string utf8;
  if (!ConvertAnsiToUtf8(withoutCr.c_str(), utf8) || SDL_SetClipboardText(utf8.c_str()) != 0)
    return nullptr;
  GlobalFree(data);
  return data;
}

HANDLE GetClipboardData(UINT format) {
  auto& clipboard = Clipboard();
  std::lock_guard lock(clipboard.mutex);
  if (!clipboard.open || format != CF_TEXT) return nullptr;
  std::string text;
  if (!ReadSdlClipboard(text) || text.empty()) return nullptr;
  HGLOBAL block = GlobalAlloc(GMEM_FIXED, text.size() + 1);
  if (!block) return nullptr;
  std::memcpy(GlobalLock(block), text.c_str(), text.size() + 1);
  GlobalFree(clipboard.text);
  clipboard.text = block;
  return block;
}

BOOL SetMenu(HWND window, HMENU menu) {
  if (!IsWindow(window) || menu) return FALSE;
  return TRUE;
}

HMENU GetMenu(HWND) { return nullptr; }

BOOL DestroyMenu(HMENU) { return FALSE; }

BOOL DrawMenuBar(HWND window) { return IsWindow(window); }

int GetMenuItemCount(HMENU) { return -1; }

BOOL GetMenuItemInfoA(HMENU, UINT, BOOL, MENUITEMINFOA*) { return FALSE; }

HMENU GetSubMenu(HMENU, int) { return nullptr; }

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  std::string utf8Text, utf8Caption;
  if (!text || !ConvertAnsiToUtf8(text, utf8Text)) utf8Text = text ? text : "";
  if (!caption || !ConvertAnsiToUtf8(caption, utf8Caption)) utf8Caption = caption ? caption : "";
  if (!IsPlatformHeadless()) {
    Uint32 flags = SDL_MESSAGEBOX_INFORMATION;
    if ((type & 0xF0) == MB_ICONERROR)
      flags = SDL_MESSAGEBOX_ERROR;
    else if ((type & 0xF0) == MB_ICONWARNING)
      flags = SDL_MESSAGEBOX_WARNING;
    if (SDL_ShowSimpleMessageBox(flags, utf8Caption.c_str(), utf8Text.c_str(),
                                 GetPlatformSDLWindow(owner)) == 0)
      return IDOK;
  }
  std::fprintf(stderr, "%s: %s\n", utf8Caption.c_str(), utf8Text.c_str());
  return IDOK;
}
