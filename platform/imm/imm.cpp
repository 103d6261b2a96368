// The input context behind the IMM calls, fed by the window layer's SDL event drain.
#include "platform/imm/imm.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/win32/file_path.h"
#include "platform/win32/user_internal.h"

namespace {

struct InputContext {
  std::mutex mutex;
  bool composing = false;
  HWND window = nullptr;    // the window the composition is in
  std::string composition;  // the engine's code page
  int cursor = 0;           // bytes into the composition
  std::string result;
  bool open = false;
};

InputContext& Context() {
  static auto* context = new InputContext;
  return *context;
}

// The one context's token.
HIMC ContextToken() { return reinterpret_cast<HIMC>(&Context()); }

bool IsContext(HIMC context) { return context && context == ContextToken(); }

int Utf8SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;  // a stray byte counts as a character of its own and is dropped
}

// A result message still in the window's queue takes further committed text into its string, so
// that two commits between two looks at the queue both arrive.
bool IsResultQueued(HWND window) {
  using namespace user_detail;
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record) return false;
  for (const MSG& m : record->queue->posted)
    if (m.hwnd == window && m.message == WM_IME_COMPOSITION && (m.lParam & GCS_RESULTSTR))
      return true;
  return false;
}

}  // namespace

void ConvertUtf8ToAnsiDroppingUnmapped(const char* utf8, std::string& out,
                                       std::vector<int>* offsets) {
  out.clear();
  if (offsets) offsets->clear();
  if (!utf8) return;
  std::size_t length = std::strlen(utf8);
  std::string converted;
  for (std::size_t i = 0; i < length;) {
    std::size_t n =
        std::min<std::size_t>(Utf8SequenceLength(static_cast<unsigned char>(utf8[i])), length - i);
    if (offsets) offsets->push_back(static_cast<int>(out.size()));
    if (n == 1 && static_cast<unsigned char>(utf8[i]) < 0x80)
      out += utf8[i];
    else if (ConvertUtf8ToAnsi(std::string(utf8 + i, n), converted))
      out += converted;
    i += n;
  }
  if (offsets) offsets->push_back(static_cast<int>(out.size()));
}

void HandlePlatformComposition(HWND window, const char* utf8, int cursor) {
  if (!window || !user_detail::IsImeEnabled()) return;
  std::string text;
  std::vector<int> offsets;
  ConvertUtf8ToAnsiDroppingUnmapped(utf8, text, &offsets);
  auto& context = Context();
  bool start = false, end = false;
  {
    std::lock_guard lock(context.mutex);
    if (text.empty()) {
      if (!context.composing) return;
      end = true;
      context.composing = false;
    } else {
      start = !context.composing;
      context.composing = true;
    }
    context.composition = text;
    context.window = window;
    int characters = static_cast<int>(offsets.size()) - 1;
    context.cursor = offsets[std::clamp(cursor, 0, characters)];
  }
  if (start) PostMessageA(window, WM_IME_STARTCOMPOSITION, 0, 0);
  PostMessageA(window, WM_IME_COMPOSITION, 0, GCS_COMPSTR | GCS_CURSORPOS);
  if (end) PostMessageA(window, WM_IME_ENDCOMPOSITION, 0, 0);
}

bool HandlePlatformCommittedText(HWND window, const std::string& text) {
  auto& context = Context();
  {
    std::lock_guard lock(context.mutex);
    if (!context.composing || !user_detail::IsImeEnabled()) return false;
    context.composing = false;
    context.composition.clear();
    context.cursor = 0;
  }
  bool queued = IsResultQueued(window);
  {
    std::lock_guard lock(context.mutex);
    if (queued)
      context.result += text;
    else
      context.result = text;
  }
  if (!queued) PostMessageA(window, WM_IME_COMPOSITION, 0, GCS_RESULTSTR);
  PostMessageA(window, WM_IME_ENDCOMPOSITION, 0, 0);
  return true;
}

HIMC ImmGetContext(HWND window) { return IsWindow(window) ? ContextToken() : nullptr; }

BOOL ImmReleaseContext(HWND, HIMC context) { return IsContext(context) ? TRUE : FALSE; }

LONG ImmGetCompositionStringA(HIMC context, DWORD index, LPVOID buffer, DWORD size) {
  if (!IsContext(context)) return -1;
  auto& c = Context();
  std::lock_guard lock(c.mutex);
  const std::string* text = nullptr;
  switch (index) {
    case GCS_COMPSTR: text = &c.composition; break;
    case GCS_RESULTSTR: text = &c.result; break;
    case GCS_CURSORPOS: return c.cursor;
    case GCS_COMPATTR:
    case GCS_COMPCLAUSE: return 0;
    default: return -1;
  }
  auto length = static_cast<LONG>(text->size());
  if (size == 0) return length;
  if (!buffer) return -1;
  LONG copied = std::min<LONG>(length, static_cast<LONG>(std::min<DWORD>(size, 0x7FFFFFFF)));
  std::memcpy(buffer, text->data(), static_cast<std::size_t>(copied));
  return copied;
}

DWORD ImmGetCandidateListA(HIMC, DWORD, CANDIDATELIST*, DWORD) { return 0; }

BOOL ImmGetOpenStatus(HIMC context) {
  if (!IsContext(context)) return FALSE;
  std::lock_guard lock(Context().mutex);
  return Context().open ? TRUE : FALSE;
}

BOOL ImmSetOpenStatus(HIMC context, BOOL open) {
  if (!IsContext(context)) return FALSE;
  std::lock_guard lock(Context().mutex);
  Context().open = open != FALSE;
  return TRUE;
}

BOOL ImmNotifyIME(HIMC context, DWORD action, DWORD index, DWORD) {
  if (!IsContext(context) || action != NI_COMPOSITIONSTR || index != CPS_CANCEL) return FALSE;
  bool wasComposing;
  HWND window;
  {
    std::lock_guard lock(Context().mutex);
    wasComposing = Context().composing;
    window = Context().window;
    Context().composing = false;
    Context().composition.clear();
    Context().cursor = 0;
  }
  auto& video = user_detail::Video();
  if (video.started.load() && video.thread == std::this_thread::get_id() &&
      SDL_IsTextInputActive()) {
    SDL_StopTextInput();
    SDL_StartTextInput();
  }
  if (wasComposing && window) PostMessageA(window, WM_IME_ENDCOMPOSITION, 0, 0);
  return TRUE;
}

BOOL ImmSetCompositionStringA(HIMC context, DWORD index, LPVOID composition, DWORD compositionSize,
                              LPVOID, DWORD) {
  if (!IsContext(context) || index != SCS_SETSTR || (compositionSize && !composition)) return FALSE;
  std::lock_guard lock(Context().mutex);
  Context().composition.assign(static_cast<const char*>(composition), compositionSize);
  Context().cursor = static_cast<int>(compositionSize);
  return TRUE;
}

std::span<const PlatformModuleEntry> ImmModuleEntries() {
  static const PlatformModuleEntry entries[] = {
      {"ImmGetContext", AsFarProc(ImmGetContext)},
      {"ImmReleaseContext", AsFarProc(ImmReleaseContext)},
      {"ImmGetCompositionStringA", AsFarProc(ImmGetCompositionStringA)},
      {"ImmGetCandidateListA", AsFarProc(ImmGetCandidateListA)},
      {"ImmGetOpenStatus", AsFarProc(ImmGetOpenStatus)},
      {"ImmSetOpenStatus", AsFarProc(ImmSetOpenStatus)},
      {"ImmNotifyIME", AsFarProc(ImmNotifyIME)},
      {"ImmSetCompositionStringA", AsFarProc(ImmSetCompositionStringA)},
  };
  return entries;
}
