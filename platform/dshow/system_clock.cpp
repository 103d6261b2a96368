// The graph's reference clock: the platform clock in 100 ns units, so virtual time drives it in
// tests. Advises are kept in a list that a thread of the clock's own serves.
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include "platform/clock.h"
#include "platform/dshow/dshow.h"

namespace {

class SystemClock final : public PlatformComObject<IReferenceClock> {
 public:
  SystemClock() {
    wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    worker_ = std::thread([this] { Serve(); });
  }
  ~SystemClock() override {
    {
      std::lock_guard guard(lock_);
      quit_ = true;
    }
    SetEvent(wake_);
    worker_.join();
    CloseHandle(wake_);
  }
  HRESULT GetTime(REFERENCE_TIME* time) override {
    if (time == nullptr) return E_POINTER;
    *time = static_cast<REFERENCE_TIME>(GetPlatformNanoseconds() / 100);
    return S_OK;
  }
  HRESULT AdviseTime(REFERENCE_TIME base, REFERENCE_TIME offset, HANDLE event,
                     DWORD_PTR* cookie) override {
    if (cookie == nullptr || event == nullptr) return E_POINTER;
    {
      std::lock_guard guard(lock_);
      *cookie = next_++;
      advises_[*cookie] = {base + offset, event};
    }
    SetEvent(wake_);
    return S_OK;
  }
  HRESULT AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HANDLE, DWORD_PTR*) override {
    return E_NOTIMPL;
  }
  HRESULT Unadvise(DWORD_PTR cookie) override {
    std::lock_guard guard(lock_);
    return advises_.erase(cookie) == 1 ? S_OK : S_FALSE;
  }

 protected:
  bool Offers(REFIID riid) const override { return riid == IID_IReferenceClock; }

 private:
  void Serve() {
    for (;;) {
      DWORD wait = INFINITE;
      {
        std::lock_guard guard(lock_);
        if (quit_) return;
        REFERENCE_TIME now = 0;
        GetTime(&now);
        for (auto it = advises_.begin(); it != advises_.end();) {
          if (it->second.first <= now) {
            SetEvent(it->second.second);
            it = advises_.erase(it);
            continue;
          }
          const REFERENCE_TIME left = (it->second.first - now + 9999) / 10000;
          if (left < static_cast<REFERENCE_TIME>(wait)) wait = static_cast<DWORD>(left);
          ++it;
        }
      }
      WaitForSingleObject(wake_, wait);
    }
  }

  std::mutex lock_;
  std::map<DWORD_PTR, std::pair<REFERENCE_TIME, HANDLE>> advises_;
  DWORD_PTR next_ = 1;
  bool quit_ = false;
  HANDLE wake_ = nullptr;
  std::thread worker_;
};

}  // namespace

HRESULT CreateSystemClockInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  auto* clock = new (std::nothrow) SystemClock;
  if (clock == nullptr) return E_OUTOFMEMORY;
  const HRESULT result = clock->QueryInterface(riid, object);
  clock->Release();
  return result;
}
