// The kernel's critical sections, events, semaphores, waits and Sleep.
#include <sched.h>
#include <time.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "platform/clock.h"
#include "platform/win32/kernel.h"
#include "platform/win32/kernel_waitable.h"

namespace {

// Never destroyed: threads nothing joins (a fired multimedia timer's) may close their handles
// while the process exits.
std::unordered_set<WaitableObject*>& OpenWaitables() {
  static auto* objects = new std::unordered_set<WaitableObject*>;
  return *objects;
}

BOOL CloseWaitableObject(KernelObjectHeader* header) {
  std::lock_guard<std::mutex> guard(KernelWaitLock());
  auto* object = reinterpret_cast<WaitableObject*>(header);
  if (OpenWaitables().erase(object) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->handleOpen = false;
  DropWaitableReference(object);
  return TRUE;
}

bool IsSatisfied(const WaitableObject* object) {
  return object->kind == WaitableKind::kSemaphore ? object->count > 0 : object->signalled;
}

void Consume(WaitableObject* object) {
  if (object->kind == WaitableKind::kSemaphore)
    --object->count;
  else if (object->kind == WaitableKind::kEvent && !object->manualReset)
    object->signalled = false;
}

// WAIT_OBJECT_0 + index when the wait is satisfied now (and takes what it waits for), else
// WAIT_TIMEOUT. Lock held.
DWORD TrySatisfy(WaitableObject* const* objects, DWORD count, bool waitAll) {
  if (waitAll) {
    for (DWORD i = 0; i < count; ++i)
      if (!IsSatisfied(objects[i])) return WAIT_TIMEOUT;
    for (DWORD i = 0; i < count; ++i) Consume(objects[i]);
    return WAIT_OBJECT_0;
  }
  for (DWORD i = 0; i < count; ++i) {
    if (IsSatisfied(objects[i])) {
      Consume(objects[i]);
      return WAIT_OBJECT_0 + i;
    }
  }
  return WAIT_TIMEOUT;
}

}  // namespace

std::mutex& KernelWaitLock() {
  // Never destroyed: a program may end the engine from a static destructor or an exit handler.
  static auto* lock = new std::mutex;
  return *lock;
}

std::condition_variable& KernelWaitChanged() {
  // Never destroyed: a program may end the engine from a static destructor or an exit handler.
  static auto* changed = new std::condition_variable;
  return *changed;
}

WaitableObject* NewWaitableObject(WaitableKind kind) {
  auto* object = new WaitableObject{};
  object->header.close = CloseWaitableObject;
  object->kind = kind;
  object->references = 1;
  object->handleOpen = true;
  std::lock_guard<std::mutex> guard(KernelWaitLock());
  OpenWaitables().insert(object);
  return object;
}

WaitableObject* FindWaitableObject(HANDLE handle, WaitableKind kind, bool anyKind) {
  auto* object = static_cast<WaitableObject*>(handle);
  if (handle == nullptr || OpenWaitables().count(object) == 0) return nullptr;
  if (!anyKind && object->kind != kind) return nullptr;
  return object;
}

void DropWaitableReference(WaitableObject* object) {
  if (--object->references == 0) delete object;
}

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  if (section != nullptr) section->lock = new std::recursive_mutex;
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
  if (section == nullptr) return;
  delete static_cast<std::recursive_mutex*>(section->lock);
  section->lock = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
  if (section != nullptr && section->lock != nullptr)
    static_cast<std::recursive_mutex*>(section->lock)->lock();
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  if (section == nullptr || section->lock == nullptr) return FALSE;
  return static_cast<std::recursive_mutex*>(section->lock)->try_lock() ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
  if (section != nullptr && section->lock != nullptr)
    static_cast<std::recursive_mutex*>(section->lock)->unlock();
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR) {
  WaitableObject* event = NewWaitableObject(WaitableKind::kEvent);
  std::lock_guard<std::mutex> guard(KernelWaitLock());
  event->manualReset = manualReset != FALSE;
  event->signalled = initialState != FALSE;
  return event;
}

BOOL SetEvent(HANDLE handle) {
  std::lock_guard<std::mutex> guard(KernelWaitLock());
  WaitableObject* event = FindWaitableObject(handle, WaitableKind::kEvent);
  if (event == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->signalled = true;
  KernelWaitChanged().notify_all();
  return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
  std::lock_guard<std::mutex> guard(KernelWaitLock());
  WaitableObject* event = FindWaitableObject(handle, WaitableKind::kEvent);
  if (event == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->signalled = false;
  return TRUE;
}

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES, LONG initialCount, LONG maximumCount, LPCSTR) {
  if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  WaitableObject* semaphore = NewWaitableObject(WaitableKind::kSemaphore);
  std::lock_guard<std::mutex> guard(KernelWaitLock());
  semaphore->count = initialCount;
  semaphore->maximum = maximumCount;
  return semaphore;
}

BOOL ReleaseSemaphore(HANDLE handle, LONG releaseCount, LPLONG previousCount) {
  std::lock_guard<std::mutex> guard(KernelWaitLock());
  WaitableObject* semaphore = FindWaitableObject(handle, WaitableKind::kSemaphore);
  if (semaphore == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (releaseCount <= 0 || releaseCount > semaphore->maximum - semaphore->count) {
    SetLastError(releaseCount <= 0 ? ERROR_INVALID_PARAMETER : ERROR_TOO_MANY_POSTS);
    return FALSE;
  }
  if (previousCount != nullptr) *previousCount = semaphore->count;
  semaphore->count += releaseCount;
  KernelWaitChanged().notify_all();
  return TRUE;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  WaitableObject* objects[MAXIMUM_WAIT_OBJECTS];
  std::unique_lock<std::mutex> lock(KernelWaitLock());
  for (DWORD i = 0; i < count; ++i) {
    objects[i] = FindWaitableObject(handles[i], WaitableKind::kEvent, true);
    if (objects[i] == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
  DWORD result = TrySatisfy(objects, count, waitAll != FALSE);
  if (result != WAIT_TIMEOUT || milliseconds == 0) return result;
  // In virtual time the driving thread's timed-out wait moves the clock on at once; other
  // threads wait in real time, so they cannot move it.
  if (milliseconds != INFINITE && IsPlatformVirtualTime() && IsPlatformTimeDriverThread()) {
    lock.unlock();
    AdvancePlatformTime(milliseconds);
    std::this_thread::yield();
    return WAIT_TIMEOUT;
  }
  // The objects stay alive while they are waited on, even if their handles are closed meanwhile.
  for (DWORD i = 0; i < count; ++i) ++objects[i]->references;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (milliseconds == INFINITE) {
      KernelWaitChanged().wait(lock);
    } else if (KernelWaitChanged().wait_until(lock, deadline) == std::cv_status::timeout) {
      result = TrySatisfy(objects, count, waitAll != FALSE);
      break;
    }
    result = TrySatisfy(objects, count, waitAll != FALSE);
    if (result != WAIT_TIMEOUT) break;
  }
  for (DWORD i = 0; i < count; ++i) DropWaitableReference(objects[i]);
  return result;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  if (milliseconds == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  if (IsPlatformVirtualTime()) {
    if (IsPlatformTimeDriverThread()) {
      AdvancePlatformTime(milliseconds);
      sched_yield();
    } else {
      WaitForPlatformTime(
          GetPlatformNanoseconds() + static_cast<std::uint64_t>(milliseconds) * 1000000u,
          milliseconds);
    }
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
