// The kernel's threads over POSIX threads: suspended start, exit codes, and thread handles that
// are signalled when the thread ends.
#include <pthread.h>
#include <unistd.h>

#include <mutex>

#include "platform/win32/kernel.h"
#include "platform/win32/kernel_waitable.h"

namespace {

struct ThreadStart {
  WaitableObject* thread;
  LPTHREAD_START_ROUTINE start;
  LPVOID parameter;
};

thread_local WaitableObject* currentThread = nullptr;
thread_local bool exitCodeGiven = false;
thread_local DWORD givenExitCode = 0;

// Marks the thread ended with its code, also when it leaves through ExitThread's unwinding.
struct ThreadEnd {
  WaitableObject* thread;
  DWORD code = 0;
  ~ThreadEnd() {
    std::lock_guard<std::mutex> guard(KernelWaitLock());
    thread->exitCode = exitCodeGiven ? givenExitCode : code;
    thread->signalled = true;
    KernelWaitChanged().notify_all();
    DropWaitableReference(thread);
  }
};

void* RunThread(void* argument) {
  const ThreadStart start = *static_cast<ThreadStart*>(argument);
  delete static_cast<ThreadStart*>(argument);
  currentThread = start.thread;
  ThreadEnd end{start.thread};
  {
    std::unique_lock<std::mutex> lock(KernelWaitLock());
    start.thread->threadId = GetCurrentThreadId();
    KernelWaitChanged().wait(lock, [&] { return start.thread->suspendCount == 0; });
  }
  end.code = start.start(start.parameter);
  return nullptr;
}

}  // namespace

DWORD GetCurrentThreadId() { return static_cast<DWORD>(gettid()); }

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId) {
  if (start == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  WaitableObject* thread = NewWaitableObject(WaitableKind::kThread);
  {
    std::lock_guard<std::mutex> guard(KernelWaitLock());
    thread->exitCode = STILL_ACTIVE;
    thread->suspendCount = (creationFlags & CREATE_SUSPENDED) ? 1 : 0;
    thread->references = 2;  // the handle and the running thread
  }
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t id;
  auto* startRecord = new ThreadStart{thread, start, parameter};
  const int failed = pthread_create(&id, &attributes, RunThread, startRecord);
  pthread_attr_destroy(&attributes);
  if (failed != 0) {
    delete startRecord;
    {
      std::lock_guard<std::mutex> guard(KernelWaitLock());
      thread->references = 1;
    }
    CloseHandle(thread);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId != nullptr) {
    // The id is the system's, known once the thread runs.
    std::unique_lock<std::mutex> lock(KernelWaitLock());
    while (thread->threadId == 0) {
      lock.unlock();
      sched_yield();
      lock.lock();
    }
    *threadId = thread->threadId;
  }
  return thread;
}

DWORD ResumeThread(HANDLE handle) {
  std::lock_guard<std::mutex> guard(KernelWaitLock());
  WaitableObject* thread = FindWaitableObject(handle, WaitableKind::kThread);
  if (thread == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFF;
  }
  const DWORD previous = thread->suspendCount;
  if (previous > 0 && --thread->suspendCount == 0) KernelWaitChanged().notify_all();
  return previous;
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
  std::lock_guard<std::mutex> guard(KernelWaitLock());
  WaitableObject* thread = FindWaitableObject(handle, WaitableKind::kThread);
  if (thread == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  thread->priority = priority;
  return TRUE;
}

int GetThreadPriority(HANDLE handle) {
  std::lock_guard<std::mutex> guard(KernelWaitLock());
  WaitableObject* thread = FindWaitableObject(handle, WaitableKind::kThread);
  if (thread == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0x7FFFFFFF;
  }
  return thread->priority;
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
  std::lock_guard<std::mutex> guard(KernelWaitLock());
  WaitableObject* thread = FindWaitableObject(handle, WaitableKind::kThread);
  if (thread == nullptr || exitCode == nullptr) {
    SetLastError(thread == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *exitCode = thread->exitCode;
  return TRUE;
}

void ExitThread(DWORD exitCode) {
  if (currentThread != nullptr) {
    exitCodeGiven = true;
    givenExitCode = exitCode;
  }
  pthread_exit(nullptr);
}
