// One-shot multimedia timers: each runs on a thread of its own that waits out the delay on the
// platform clock (so virtual time drives it) and then calls back once. Killing a timer waits for
// a callback already running, so its owner may free what the callback touches right after.
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/winmm/winmm.h"

namespace {

struct OneShotTimer {
  HANDLE cancel = nullptr;
  std::thread thread;
};

std::mutex timerLock;
// Never destroyed: a timer that fired ends on its own thread, which nothing joins, and may still
// be leaving this table while the process exits.
auto& timers = *new std::map<UINT, std::unique_ptr<OneShotTimer>>;
UINT nextTimerId = 1;

}  // namespace

MMRESULT timeSetEvent(UINT delay, UINT, LPTIMECALLBACK callback, DWORD_PTR user, UINT flags) {
  if (callback == nullptr || (flags & TIME_PERIODIC) != 0) return 0;
  auto timer = std::make_unique<OneShotTimer>();
  timer->cancel = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (timer->cancel == nullptr) return 0;
  std::lock_guard guard(timerLock);
  const UINT id = nextTimerId++;
  if (nextTimerId == 0) nextTimerId = 1;
  HANDLE cancel = timer->cancel;
  timer->thread = std::thread([=] {
    if (WaitForSingleObject(cancel, delay) == WAIT_TIMEOUT) callback(id, 0, user, 0, 0);
    // A timer that fired and was not killed meanwhile ends here; a kill in progress joins it.
    std::lock_guard done(timerLock);
    auto it = timers.find(id);
    if (it == timers.end()) return;
    it->second->thread.detach();
    CloseHandle(it->second->cancel);
    timers.erase(it);
  });
  timers[id] = std::move(timer);
  return id;
}

MMRESULT timeKillEvent(UINT id) {
  std::unique_ptr<OneShotTimer> timer;
  {
    std::lock_guard guard(timerLock);
    auto it = timers.find(id);
    if (it == timers.end()) return MMSYSERR_INVALPARAM;
    timer = std::move(it->second);
    timers.erase(it);
  }
  SetEvent(timer->cancel);
  // A timer killed from its own callback cannot wait for itself.
  if (timer->thread.get_id() == std::this_thread::get_id()) {
    timer->thread.detach();
  } else {
    timer->thread.join();
  }
  CloseHandle(timer->cancel);
  return TIMERR_NOERROR;
}
