// The DirectDraw 7 object: initialisation, cooperative level, and vertical-blank waits on the
// display timeline of vertical_blank.h.
#include "platform/ddraw/ddraw.h"

#include "platform/ddraw/vertical_blank.h"

namespace {

struct DirectDrawControls {
  int failNext = 0;
  int live = 0;
  int waits = 0;
};

DirectDrawControls& Controls() {
  static DirectDrawControls controls;
  return controls;
}

class DirectDrawObject final : public PlatformComObject<IDirectDraw7> {
 public:
  DirectDrawObject() { ++Controls().live; }
  ~DirectDrawObject() override { --Controls().live; }

  bool Offers(REFIID riid) const override { return riid == IID_IDirectDraw7; }

  HRESULT Initialize(GUID* driver) override {
    if (initialised) return DDERR_ALREADYINITIALIZED;
    if (driver) return DDERR_INVALIDPARAMS;
    initialised = true;
    return DD_OK;
  }

  HRESULT SetCooperativeLevel(HWND, DWORD flags) override {
    if (!initialised) return DDERR_NOTINITIALIZED;
    bool normal = (flags & DDSCL_NORMAL) != 0, exclusive = (flags & DDSCL_EXCLUSIVE) != 0;
    if (normal == exclusive || (exclusive && !(flags & DDSCL_FULLSCREEN)))
      return DDERR_INVALIDPARAMS;
    return DD_OK;
  }

  HRESULT WaitForVerticalBlank(DWORD flags, HANDLE event) override {
    if (!initialised) return DDERR_NOTINITIALIZED;
    if (event || (flags != DDWAITVB_BLOCKBEGIN && flags != DDWAITVB_BLOCKEND))
      return DDERR_INVALIDPARAMS;
    ++Controls().waits;
    if (flags == DDWAITVB_BLOCKBEGIN) {
      WaitForVerticalBlankStart();
    } else {
      WaitForVerticalBlankEnd();
    }
    return DD_OK;
  }

 private:
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
