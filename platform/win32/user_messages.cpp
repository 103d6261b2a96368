// The message queues: posting, sending, retrieval in the platform's order, translation of keys
// into characters, dispatch to window procedures, the default window procedure, window timers
// and painting.
#include <algorithm>

#include "platform/win32/gdi_dib.h"
#include "platform/win32/kernel.h"
#include "platform/win32/user_internal.h"
#include "platform/winmm/winmm.h"
#include "platform/winsock/winsock.h"

using namespace user_detail;

namespace {

bool InRange(UINT message, UINT filterMin, UINT filterMax) {
  if (filterMin == 0 && filterMax == 0) return true;
  return message >= filterMin && message <= filterMax;
}

// hwnd null: any message of the thread; -1: only messages posted without a window.
bool MatchesWindow(HWND messageWindow, HWND filter) {
  if (!filter) return true;
  if (filter == reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1))) return messageWindow == nullptr;
  return messageWindow == filter;
}

MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG m{window, message, wParam, lParam, timeGetTime(), CursorPosition()};
  return m;
}

}  // namespace

namespace user_detail {

bool PostLocked(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto record = FindRecordLocked(window);
  if (!record || record->destroyed) return false;
  record->queue->posted.push_back(MakeMessage(window, message, wParam, lParam));
  return true;
}

void RunSentMessages() {
  auto queue = CurrentQueue();
  for (;;) {
    std::shared_ptr<SentMessage> sent;
    {
      std::lock_guard lock(State().mutex);
      if (queue->sent.empty()) return;
      sent = queue->sent.front();
      queue->sent.pop_front();
    }
    auto record = FindRecord(sent->message.hwnd);
    LRESULT result = 0;
    if (record)
      result =
          CallProcedure(record, sent->message.message, sent->message.wParam, sent->message.lParam);
    std::lock_guard lock(State().mutex);
    sent->result = result;
    sent->done = true;
    State().sentDone.notify_all();
  }
}

}  // namespace user_detail

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard lock(State().mutex);
  if (!window) {
    CurrentQueue()->posted.push_back(MakeMessage(nullptr, message, wParam, lParam));
    return TRUE;
  }
  return PostLocked(window, message, wParam, lParam) ? TRUE : FALSE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto record = FindRecord(window);
  if (!record) return 0;
  auto queue = CurrentQueue();
  if (record->queue == queue) return CallProcedure(record, message, wParam, lParam);
  // Another thread's window: its thread runs the procedure when it next looks at its queue;
  // meanwhile this thread answers what is sent to it, so two senders cannot block each other.
  auto sent = std::make_shared<SentMessage>();
  sent->message = MakeMessage(window, message, wParam, lParam);
  std::unique_lock lock(State().mutex);
  record->queue->sent.push_back(sent);
  while (!sent->done && FindRecordLocked(window)) {
    State().sentDone.wait_for(lock, std::chrono::milliseconds(1));
    lock.unlock();
    RunSentMessages();
    lock.lock();
  }
  return sent->done ? sent->result : 0;
}

void PostQuitMessage(int exitCode) {
  std::lock_guard lock(State().mutex);
  auto queue = CurrentQueue();
  queue->quitPosted = true;
  queue->quitCode = exitCode;
}

BOOL PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
  if (!message) return FALSE;
  DrainSdlEvents();
  RunSentMessages();
  auto queue = CurrentQueue();
  bool removing = (remove & PM_REMOVE) != 0;
  HWND threadOnly = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));
  auto takePosted = [&] {
    auto& posted = queue->posted;
    for (auto it = posted.begin(); it != posted.end(); ++it) {
      if (!MatchesWindow(it->hwnd, window) || !InRange(it->message, filterMin, filterMax)) continue;
      *message = *it;
      if (removing) posted.erase(it);
      return true;
    }
    return false;
  };
  {
    std::lock_guard lock(State().mutex);
    if (takePosted()) return TRUE;
  }
  // Sockets post only to windows: a look for thread messages alone would find nothing of theirs.
  bool socketsPosted = window != threadOnly && PollPlatformSockets() > 0;
  std::lock_guard lock(State().mutex);
  if (socketsPosted && takePosted()) return TRUE;
  if (queue->quitPosted && (!window || window == threadOnly) &&
      InRange(WM_QUIT, filterMin, filterMax)) {
    *message = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(queue->quitCode), 0);
    if (removing) queue->quitPosted = false;
    return TRUE;
  }
  if (window == threadOnly) return FALSE;
  if (InRange(WM_PAINT, filterMin, filterMax)) {
    for (auto& [handle, record] : State().windows) {
      if (record->queue != queue || !record->visible || !record->invalid ||
          !MatchesWindow(record->handle, window))
        continue;
      *message = MakeMessage(record->handle, WM_PAINT, 0, 0);
      return TRUE;
    }
  }
  if (InRange(WM_TIMER, filterMin, filterMax)) {
    DWORD now = timeGetTime();
    for (auto& [handle, record] : State().windows) {
      if (record->queue != queue || !MatchesWindow(record->handle, window)) continue;
      for (auto& timer : record->timers) {
        if (static_cast<std::int32_t>(now - timer.due) < 0) continue;
        *message = MakeMessage(record->handle, WM_TIMER, timer.id,
                               reinterpret_cast<LPARAM>(timer.procedure));
        if (removing) timer.due = now + timer.elapse;
        return TRUE;
      }
    }
  }
  return FALSE;
}

BOOL GetMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax) {
  if (window && window != reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)) && !IsWindow(window))
    return -1;
  while (!PeekMessageA(message, window, filterMin, filterMax, PM_REMOVE)) Sleep(1);
  return message->message == WM_QUIT ? FALSE : TRUE;
}

BOOL TranslateMessage(const MSG* message) {
  if (!message) return FALSE;
  UINT charMessage = 0;
  WPARAM character = 0;
  auto key = static_cast<int>(message->wParam);
  if (message->message == WM_KEYDOWN) {
    bool control = IsVirtualKeyDown(VK_CONTROL) && !IsVirtualKeyDown(VK_MENU);
    if (key == VK_RETURN)
      character = control ? 10 : 13;
    else if (key == VK_BACK)
      character = 8;
    else if (key == VK_TAB)
      character = 9;
    else if (key == VK_ESCAPE)
      character = 27;
    else if (control && key >= 'A' && key <= 'Z')
      character = static_cast<WPARAM>(key - 'A' + 1);
    charMessage = WM_CHAR;
  } else if (message->message == WM_SYSKEYDOWN) {
    // Printable text is held back while Alt is down, so Alt with a key gives its character here.
    if (key == VK_RETURN)
      character = 13;
    else if (key >= 'A' && key <= 'Z')
      character = static_cast<WPARAM>(key - 'A' + 'a');
    else if (key >= '0' && key <= '9')
      character = static_cast<WPARAM>(key);
    charMessage = WM_SYSCHAR;
  }
  if (!character) return FALSE;
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(message->hwnd);
  if (!record) return FALSE;
  // The character comes next, before anything posted after the key.
  record->queue->posted.push_front(
      MakeMessage(message->hwnd, charMessage, character, message->lParam & 0xFFFFFF));
  return TRUE;
}

LRESULT DispatchMessageA(const MSG* message) {
  if (!message) return 0;
  if (message->message == WM_TIMER && message->lParam) {
    auto procedure = reinterpret_cast<TIMERPROC>(message->lParam);
    {
      std::lock_guard lock(State().mutex);
      auto record = FindRecordLocked(message->hwnd);
      if (!record) return 0;
      bool live =
          std::any_of(record->timers.begin(), record->timers.end(), [&](const TimerRecord& t) {
            return t.id == message->wParam && t.procedure == procedure;
          });
      if (!live) return 0;
    }
    procedure(message->hwnd, WM_TIMER, message->wParam, timeGetTime());
    return 0;
  }
  auto record = FindRecord(message->hwnd);
  if (!record || record->queue != CurrentQueue()) return 0;
  return CallProcedure(record, message->message, message->wParam, message->lParam);
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: ValidateRect(window, nullptr); return 0;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_SYSKEYDOWN:
      if (wParam == 0x73 && IsVirtualKeyDown(VK_MENU))
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);  // Alt+F4
      return 0;
    case WM_NCHITTEST: return HTCLIENT;
    default: (void)lParam; return 0;
  }
}

LRESULT CallWindowProcA(WNDPROC procedure, HWND window, UINT message, WPARAM wParam,
                        LPARAM lParam) {
  if (!procedure) return 0;
  return procedure(window, message, wParam, lParam);
}

int TranslateAcceleratorA(HWND, HACCEL, LPMSG) { return 0; }

BOOL IsDialogMessageA(HWND, LPMSG) { return FALSE; }

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record) return 0;
  elapse = std::clamp<UINT>(elapse, 10, 0x7FFFFFFF);
  DWORD due = timeGetTime() + elapse;
  for (auto& timer : record->timers) {
    if (timer.id == id) {
      timer = TimerRecord{id, elapse, procedure, due};
      return id ? id : 1;
    }
  }
  record->timers.push_back(TimerRecord{id, elapse, procedure, due});
  return id ? id : 1;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  std::lock_guard lock(State().mutex);
  auto record = FindRecordLocked(window);
  if (!record) return FALSE;
  auto& timers = record->timers;
  auto it =
      std::find_if(timers.begin(), timers.end(), [&](const TimerRecord& t) { return t.id == id; });
  if (it == timers.end()) return FALSE;
  timers.erase(it);
  auto& posted = record->queue->posted;
  posted.erase(std::remove_if(posted.begin(), posted.end(),
                              [&](const MSG& m) {
                                return m.hwnd == window && m.message == WM_TIMER && m.wParam == id;
                              }),
               posted.end());
  return TRUE;
}

HDC BeginPaint(HWND window, LPPAINTSTRUCT paint) {
  if (!paint) return nullptr;
  RECT client;
  if (!GetClientRect(window, &client)) return nullptr;
  auto* dc = new HDC__{};
  dc->window = window;
  *paint = PAINTSTRUCT{};
  paint->hdc = dc;
  paint->rcPaint = client;
  ValidateRect(window, nullptr);
  return dc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* paint) {
  if (!paint || !paint->hdc) return FALSE;
  delete paint->hdc;
  return TRUE;
}
