// What the kernel's sync and thread files share: the records behind event, semaphore and thread
// handles, and the one lock and condition under which every wait looks at them.
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/win32/kernel.h"

enum class WaitableKind { kEvent, kSemaphore, kThread };

struct WaitableObject {
  KernelObjectHeader header;
  WaitableKind kind;
  // References: the open handle, each wait in progress and, for a thread, the running thread.
  int references;
  bool handleOpen;
  bool manualReset;
  bool signalled;  // an event's state; a thread's end
  LONG count;
  LONG maximum;
  DWORD exitCode;
  DWORD threadId;
  DWORD suspendCount;
  int priority;
};

std::mutex& KernelWaitLock();
std::condition_variable& KernelWaitChanged();
// A new object with one reference for its handle; the caller fills the rest.
WaitableObject* NewWaitableObject(WaitableKind kind);
// The object of an open handle of the kind (any kind when `anyKind`), else null. Lock held.
WaitableObject* FindWaitableObject(HANDLE handle, WaitableKind kind, bool anyKind = false);
// Drops one reference and frees the object at none. Lock held.
void DropWaitableReference(WaitableObject* object);
