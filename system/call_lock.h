// The engine call lock: serialises the public frame calls between threads. Recursive for its
// owner; every other thread waits on an event of its own, first come, first served, and a
// newcomer queues behind the waiters even when the lock is free at that moment.
#pragma once

// Returns when the calling thread holds the lock (again, when it already held it).
void AcquireEngineCallLock();
// Gives up one level; at the last level hands the lock to the first waiter.
void ReleaseEngineCallLock();
// Closes the lock's events; the next acquire makes them again. A lock that is held or has
// waiters is left open, so that nobody is left waiting on a closed event.
void CloseEngineCallLock();
// 1 when the calling thread holds the lock, else 0.
int IsEngineCallLockHeldByCaller();
// Threads queued for the lock (0-4096).
int GetEngineCallLockWaiterCount();
