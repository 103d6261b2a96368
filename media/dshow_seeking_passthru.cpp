// The seeking pass-through system object over the framework's pass-through classes: before Init
// it answers only ISeekingPassThru; afterwards position queries reach the pass-through made for
// the pin it was given.
#include "media/dshow_seeking_passthru.h"

#include <mutex>
#include <new>

#include "media/dshow_position.h"

namespace {

class K_CSeekingPassThru final : public K_CComBase, public ISeekingPassThru {
 public:
  explicit K_CSeekingPassThru(IUnknown* outer) : K_CComBase(outer) {}
  ~K_CSeekingPassThru() override { delete passThru_; }
  K_FORWARD_IUNKNOWN_TO_OWNER

  HRESULT InnerQueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_ISeekingPassThru)
      return GetInterface(static_cast<ISeekingPassThru*>(this), object);
    if (riid == IID_IUnknown) return K_CComBase::InnerQueryInterface(riid, object);
    K_CPosPassThru* passThru = nullptr;
    {
      K_CAutoLock guard(lock_.Get());
      passThru = passThru_;
    }
    if (passThru != nullptr) return passThru->InnerQueryInterface(riid, object);
    *object = nullptr;
    return E_NOINTERFACE;
  }

  HRESULT Init(BOOL renderer, IPin* pin) override {
    if (pin == nullptr) return E_POINTER;
    K_CAutoLock guard(lock_.Get());
    if (passThru_ != nullptr) return E_FAIL;
    HRESULT result = S_OK;
    // The pass-through's interfaces count on this object's owner, as its own do.
    K_CPosPassThru* made =
        renderer ? new (std::nothrow)
                       K_CRendererPassThru(u"Renderer pass-through", Owner(), &result, pin)
                 : new (std::nothrow) K_CPosPassThru(u"Pass-through", Owner(), &result, pin);
    if (made == nullptr) return E_OUTOFMEMORY;
    if (FAILED(result)) {
      delete made;
      return result;
    }
    passThru_ = made;
    return S_OK;
  }

 private:
  K_CCritSec lock_;
  K_CPosPassThru* passThru_ = nullptr;
};

}  // namespace

HRESULT CreateSeekingPassThruInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  // An aggregating owner may only ask for the inner IUnknown.
  if (outer != nullptr && riid != IID_IUnknown) return E_NOINTERFACE;
  auto* passThru = new (std::nothrow) K_CSeekingPassThru(outer);
  if (passThru == nullptr) return E_OUTOFMEMORY;
  passThru->InnerAddRef();
  HRESULT result;
  if (outer != nullptr) {
    *object = passThru->InnerUnknown();
    result = S_OK;
  } else {
    result = passThru->InnerQueryInterface(riid, object);
    passThru->InnerRelease();
  }
  return result;
}

void RegisterSeekingPassThruClass() {
  static std::once_flag once;
  std::call_once(
      once, [] { RegisterPlatformComClass(CLSID_SeekingPassThru, CreateSeekingPassThruInstance); });
}
