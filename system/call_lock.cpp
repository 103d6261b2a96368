// The engine call lock: a recursive lock whose other callers wait in arrival order, each on an
// event of its own.
#include "system/call_lock.h"

#include <array>
#include <mutex>

#include "platform/win32/kernel.h"

namespace {

constexpr int kQueueLength = 4096;
constexpr DWORD kNoOwner = 0xFFFFFFFF;

struct QueueEntry {
  DWORD threadId;
  HANDLE event;
};

struct EngineCallLock {
  int depth = 0;
  int owned = 0;
  DWORD owner = 0;
  std::array<QueueEntry, kQueueLength> queue{};
  int count = 0;
  int created = 0;
  CRITICAL_SECTION section{};
};

EngineCallLock callLock;

// The critical section is made once for the process, so two threads that use the lock for the
// first time at once cannot both make it; closing the lock closes only its events.
void EnterLockState() {
  static std::once_flag once;
  std::call_once(once, [] { InitializeCriticalSection(&callLock.section); });
  EnterCriticalSection(&callLock.section);
}

void CreateLockEvents() {
  if (callLock.created) return;
  for (QueueEntry& entry : callLock.queue) entry = {0, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  callLock.created = 1;
}

void TakeLock(DWORD caller) {
  ++callLock.depth;
  callLock.owned = 1;
  callLock.owner = caller;
  LeaveCriticalSection(&callLock.section);
}

// The first waiter leaves the queue; its event goes to the freed last entry.
void LeaveQueueHead() {
  if (callLock.count > 1) {
    const HANDLE event = callLock.queue[0].event;
    for (int i = 1; i < callLock.count; ++i) callLock.queue[i - 1] = callLock.queue[i];
    callLock.queue[callLock.count - 1] = {0, event};
  }
  --callLock.count;
}

}  // namespace

void AcquireEngineCallLock() {
  const DWORD caller = GetCurrentThreadId();
  for (;;) {
    EnterLockState();
    CreateLockEvents();
    if (callLock.owned) {
      if (callLock.owner == caller) return TakeLock(caller);
    } else if (callLock.count == 0 || callLock.owner == caller) {
      return TakeLock(caller);
    } else if (callLock.queue[0].threadId == caller) {
      LeaveQueueHead();
      return TakeLock(caller);
    }
    if (callLock.count == kQueueLength) {
      LeaveCriticalSection(&callLock.section);
      Sleep(1);
      continue;
    }
    QueueEntry& entry = callLock.queue[callLock.count];
    entry.threadId = caller;
    const HANDLE event = entry.event;
    ++callLock.count;
    LeaveCriticalSection(&callLock.section);
    WaitForSingleObject(event, INFINITE);
    ResetEvent(event);
  }
}

void ReleaseEngineCallLock() {
  EnterLockState();
  // A release by a thread that does not hold the lock would hand it out twice: it is ignored.
  if (!callLock.owned || callLock.owner != GetCurrentThreadId()) {
    LeaveCriticalSection(&callLock.section);
    return;
  }
  HANDLE wake = nullptr;
  if (callLock.depth == 1) {
    callLock.owned = 0;
    callLock.owner = kNoOwner;
    if (callLock.count > 0) wake = callLock.queue[0].event;
  }
  --callLock.depth;
  LeaveCriticalSection(&callLock.section);
  if (wake != nullptr) {
    SetEvent(wake);
    Sleep(0);
  }
}

void CloseEngineCallLock() {
  EnterLockState();
  if (callLock.created && !callLock.owned && callLock.count == 0) {
    callLock.created = 0;
    for (QueueEntry& entry : callLock.queue) {
      CloseHandle(entry.event);
      entry = {0, nullptr};
    }
  }
  LeaveCriticalSection(&callLock.section);
}

int IsEngineCallLockHeldByCaller() {
  EnterLockState();
  const int held = callLock.owned && callLock.owner == GetCurrentThreadId() ? 1 : 0;
  LeaveCriticalSection(&callLock.section);
  return held;
}

int GetEngineCallLockWaiterCount() {
  EnterLockState();
  const int count = callLock.count;
  LeaveCriticalSection(&callLock.section);
  return count;
}
