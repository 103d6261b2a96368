// The base filter: its state machine over the connected pins, its clock, and its links to the
// graph it was added to.
#include <new>

#include "media/dshow_framework.h"

K_CFilterBase::K_CFilterBase(LPCWSTR name, IUnknown* outer, CRITICAL_SECTION* lock, REFCLSID clsid)
    : K_CComBase(outer), clsid_(clsid), lock_(lock), name_(DuplicateWideString(name)) {}

K_CFilterBase::~K_CFilterBase() {
  delete[] name_;
  if (clock_ != nullptr) clock_->Release();
}

HRESULT K_CFilterBase::InnerQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist)
    return GetInterface(static_cast<IBaseFilter*>(this), object);
  if (riid == IID_IAMovieSetup) return GetInterface(static_cast<IAMovieSetup*>(this), object);
  return K_CComBase::InnerQueryInterface(riid, object);
}

HRESULT K_CFilterBase::GetStreamTime(REFERENCE_TIME* time) {
  if (time == nullptr) return E_POINTER;
  if (clock_ == nullptr) return VFW_E_NO_CLOCK;
  const HRESULT result = clock_->GetTime(time);
  if (SUCCEEDED(result)) *time -= start_;
  return result;
}

HRESULT K_CFilterBase::GetClassID(CLSID* classId) {
  if (classId == nullptr) return E_POINTER;
  *classId = clsid_;
  return S_OK;
}

HRESULT K_CFilterBase::Stop() {
  K_CAutoLock guard(lock_);
  HRESULT first = S_OK;
  if (state_ != State_Stopped) {
    for (int i = 0; i < PinCount(); ++i) {
      K_CPinBase* pin = PinAt(i);
      if (pin == nullptr || !pin->IsConnected()) continue;
      const HRESULT result = pin->PinInactive();
      if (FAILED(result) && SUCCEEDED(first)) first = result;
    }
  }
  state_ = State_Stopped;
  return first;
}

HRESULT K_CFilterBase::Pause() {
  K_CAutoLock guard(lock_);
  if (state_ == State_Stopped) {
    for (int i = 0; i < PinCount(); ++i) {
      K_CPinBase* pin = PinAt(i);
      if (pin == nullptr || !pin->IsConnected()) continue;
      const HRESULT result = pin->PinActive();
      if (FAILED(result)) return result;
    }
  }
  state_ = State_Paused;
  return S_OK;
}

HRESULT K_CFilterBase::Run(REFERENCE_TIME start) {
  K_CAutoLock guard(lock_);
  start_ = start;
  if (state_ == State_Stopped) {
    const HRESULT result = Pause();
    if (FAILED(result)) return result;
  }
  if (state_ != State_Running) {
    for (int i = 0; i < PinCount(); ++i) {
      K_CPinBase* pin = PinAt(i);
      if (pin == nullptr || !pin->IsConnected()) continue;
      const HRESULT result = pin->PinRun(start);
      if (FAILED(result)) return result;
    }
  }
  state_ = State_Running;
  return S_OK;
}

HRESULT K_CFilterBase::GetState(DWORD, FILTER_STATE* state) {
  if (state == nullptr) return E_POINTER;
  *state = state_;
  return S_OK;
}

HRESULT K_CFilterBase::SetSyncSource(IReferenceClock* clock) {
  K_CAutoLock guard(lock_);
  if (clock != nullptr) clock->AddRef();
  if (clock_ != nullptr) clock_->Release();
  clock_ = clock;
  return S_OK;
}

HRESULT K_CFilterBase::GetSyncSource(IReferenceClock** clock) {
  if (clock == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_);
  *clock = clock_;
  if (clock_ != nullptr) clock_->AddRef();
  return S_OK;
}

HRESULT K_CFilterBase::EnumPins(IEnumPins** pins) {
  if (pins == nullptr) return E_POINTER;
  *pins = new (std::nothrow) K_CPinEnumerator(this, nullptr);
  return *pins != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT K_CFilterBase::FindPin(LPCWSTR id, IPin** pin) {
  if (pin == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_);
  for (int i = 0; i < PinCount(); ++i) {
    K_CPinBase* candidate = PinAt(i);
    if (candidate != nullptr && CompareWideStrings(candidate->Name(), id) == 0) {
      *pin = candidate;
      (*pin)->AddRef();
      return S_OK;
    }
  }
  *pin = nullptr;
  return VFW_E_NOT_FOUND;
}

HRESULT K_CFilterBase::QueryFilterInfo(FILTER_INFO* info) {
  if (info == nullptr) return E_POINTER;
  // Cut to 127 characters so that the copy always ends with its NUL.
  CopyWideStringCut(info->achName, 128, name_);
  info->pGraph = graph_;
  if (graph_ != nullptr) graph_->AddRef();
  return S_OK;
}

HRESULT K_CFilterBase::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  K_CAutoLock guard(lock_);
  graph_ = graph;
  sink_ = nullptr;
  if (graph != nullptr) {
    IMediaEventSink* sink = nullptr;
    if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
      // Kept without a reference: the graph outlives its filters' membership.
      sink_ = sink;
      sink->Release();
    }
  }
  delete[] name_;
  name_ = DuplicateWideString(name);
  return S_OK;
}

HRESULT K_CFilterBase::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

// No filter of the engine carries registration data, so neither registers anything.
HRESULT K_CFilterBase::Register() { return SetupData() == nullptr ? S_FALSE : E_NOTIMPL; }
HRESULT K_CFilterBase::Unregister() { return SetupData() == nullptr ? S_FALSE : E_NOTIMPL; }

HRESULT K_CFilterBase::ReconnectPin(IPin* pin, const AM_MEDIA_TYPE* type) {
  (void)type;  // the graph reconnects with the type the pins agree on again
  if (graph_ == nullptr) return E_NOINTERFACE;
  return graph_->Reconnect(pin);
}

HRESULT K_CFilterBase::PostFilterEvent(LONG code, LONG_PTR first, LONG_PTR second) {
  if (sink_ == nullptr) return E_NOTIMPL;
  if (code == EC_COMPLETE) second = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
  return sink_->Notify(code, first, second);
}
