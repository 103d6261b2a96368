// The DirectDraw 7 object: initialisation, cooperative level, and vertical-blank waits on a
// 60 Hz display timed by the platform clock.
#include "platform/ddraw/ddraw.h"

#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace {

constexpr std::uint64_t NanosecondsPerSecond = 1000000000;
constexpr std::uint64_t RefreshRate = 60;
// The blank lasts 45 of 525 lines, as on a 640 x 480 display.
constexpr std::uint64_t BlankNanoseconds = NanosecondsPerSecond / RefreshRate * 45 / 525;

struct DirectDrawControls {
  int failNext = 0;
  int live = 0;
  int waits = 0;
};

DirectDrawControls& Controls() {
  static DirectDrawControls controls;
  return controls;
}

// Start of blank k: k / 60 s, rounded up to a whole nanosecond.
std::uint64_t BlankStart(std::uint64_t k) {
  return static_cast<std::uint64_t>((static_cast<unsigned __int128>(k) * NanosecondsPerSecond + RefreshRate - 1) /
                                    RefreshRate);
}

std::uint64_t BlankIndex(std::uint64_t nanoseconds) {
  return static_cast<std::uint64_t>(static_cast<unsigned __int128>(nanoseconds) * RefreshRate / NanosecondsPerSecond);
}

void WaitUntil(std::uint64_t target) {
  std::uint64_t now = GetPlatformNanoseconds();
  if (now >= target) return;
  if (IsPlatformVirtualTime()) {
    AdvancePlatformTimeNanoseconds(target - now);
    return;
  }
  while ((now = GetPlatformNanoseconds()) < target) std::this_thread::sleep_for(std::chrono::nanoseconds(target - now));
}

class DirectDrawObject final : public IDirectDraw7 {
 public:
  DirectDrawObject() { ++Controls().live; }
  ~DirectDrawObject() override { --Controls().live; }

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirectDraw7) {
      AddRef();
      *object = static_cast<IDirectDraw7*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override {
    ULONG left = --references;
    if (left == 0) delete this;
    return left;
  }

  HRESULT Initialize(GUID* driver) override {
    if (initialised) return DDERR_ALREADYINITIALIZED;
    if (driver) return DDERR_INVALIDPARAMS;
    initialised = true;
    return DD_OK;
  }

  HRESULT SetCooperativeLevel(HWND, DWORD flags) override {
    if (!initialised) return DDERR_NOTINITIALIZED;
    bool normal = (flags & DDSCL_NORMAL) != 0, exclusive = (flags & DDSCL_EXCLUSIVE) != 0;
    if (normal == exclusive || (exclusive && !(flags & DDSCL_FULLSCREEN))) return DDERR_INVALIDPARAMS;
    return DD_OK;
  }

  HRESULT WaitForVerticalBlank(DWORD flags, HANDLE event) override {
    if (!initialised) return DDERR_NOTINITIALIZED;
    if (event || (flags != DDWAITVB_BLOCKBEGIN && flags != DDWAITVB_BLOCKEND)) return DDERR_INVALIDPARAMS;
    ++Controls().waits;
    std::uint64_t now = GetPlatformNanoseconds();
    std::uint64_t k = BlankIndex(now);
    if (flags == DDWAITVB_BLOCKBEGIN) {
      WaitUntil(BlankStart(k + 1));
    } else {
      std::uint64_t end = BlankStart(k) + BlankNanoseconds;
      WaitUntil(now < end ? end : BlankStart(k + 1) + BlankNanoseconds);
    }
    return DD_OK;
  }

 private:
  ULONG references = 1;
  bool initialised = false;
};

}  // namespace

HRESULT CreateDirectDraw7Instance(IUnknown* outer, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  if (!(riid == IID_IDirectDraw7) && !(riid == IID_IUnknown)) return E_NOINTERFACE;
  if (Controls().failNext > 0) {
    --Controls().failNext;
    return E_OUTOFMEMORY;
  }
  *object = static_cast<IDirectDraw7*>(new DirectDrawObject);
  return S_OK;
}

void DirectDrawFailNextCreations(int count) { Controls().failNext = count < 0 ? 0 : count; }
int DirectDrawGetLiveObjectCount() { return Controls().live; }
int DirectDrawGetWaitCount() { return Controls().waits; }

void DirectDrawResetControls() {
  Controls().failNext = 0;
  Controls().waits = 0;
}
