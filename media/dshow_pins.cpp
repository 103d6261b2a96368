// The base pins: connection and media type agreement, sample reception on input pins and
// allocator choice and delivery on output pins.
#include <mutex>
#include <new>

#include "media/dshow_framework.h"

namespace {

// The system memory allocator is the framework's own: it joins the COM class table the first
// time a pin needs one.
void RegisterMemoryAllocatorClass() {
  static std::once_flag once;
  std::call_once(
      once, [] { RegisterPlatformComClass(CLSID_MemoryAllocator, CreateMemoryAllocatorInstance); });
}

HRESULT CreateSystemMemoryAllocator(IMemAllocator** allocator) {
  RegisterMemoryAllocatorClass();
  return CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                          reinterpret_cast<void**>(allocator));
}

HRESULT AcceptanceResult(HRESULT result) {
  if (result == S_FALSE || result == E_FAIL || result == E_INVALIDARG)
    return VFW_E_TYPE_NOT_ACCEPTED;
  return result;
}

bool IsRefusal(HRESULT result) {
  return result == E_FAIL || result == VFW_E_TYPE_NOT_ACCEPTED || result == E_INVALIDARG;
}

}  // namespace

K_CPinBase::K_CPinBase(LPCWSTR, K_CFilterBase* filter, CRITICAL_SECTION* lock, HRESULT*,
                       LPCWSTR pinName, PIN_DIRECTION direction)
    : K_CComBase(nullptr),
      name_(DuplicateWideString(pinName)),
      direction_(direction),
      lock_(lock),
      filter_(filter) {
  ClearMediaType(&type_);
}

K_CPinBase::~K_CPinBase() {
  delete[] name_;
  if (connected_ != nullptr) connected_->Release();
  ReleaseMediaTypeContents(&type_);
}

HRESULT K_CPinBase::QueryInterface(REFIID riid, void** object) {
  return InnerQueryInterface(riid, object);
}
// Pins live as long as their filter: their references are the filter's.
ULONG K_CPinBase::AddRef() { return filter_->AsBaseFilter()->AddRef(); }
ULONG K_CPinBase::Release() { return filter_->AsBaseFilter()->Release(); }
ULONG K_CPinBase::InnerAddRef() { return AddRef(); }
ULONG K_CPinBase::InnerRelease() { return Release(); }

HRESULT K_CPinBase::InnerQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IPin || riid == IID_IUnknown)
    return GetInterface(static_cast<IPin*>(this), object);
  if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), object);
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT K_CPinBase::PinInactive() {
  runtimeError_ = false;
  return S_OK;
}

HRESULT K_CPinBase::TakeMediaType(const MediaTypeObject* type) {
  return AssignMediaType(&type_, type);
}

HRESULT K_CPinBase::CheckPeer(IPin* pin) {
  PIN_DIRECTION other;
  const HRESULT result = pin->QueryDirection(&other);
  if (FAILED(result)) return result;
  return other == direction_ ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT K_CPinBase::MediaTypeAt(int, MediaTypeObject*) { return E_UNEXPECTED; }

HRESULT K_CPinBase::DropConnection() {
  if (connected_ == nullptr) return S_FALSE;
  const HRESULT result = BreakPeer();
  if (FAILED(result)) return result;
  connected_->Release();
  connected_ = nullptr;
  ReleaseMediaTypeContents(&type_);
  ClearMediaType(&type_);
  return S_OK;
}

HRESULT K_CPinBase::AttemptConnection(IPin* receiver, const MediaTypeObject* type) {
  HRESULT result = CheckPeer(receiver);
  if (FAILED(result)) {
    BreakPeer();
    return result;
  }
  result = AcceptsMediaType(type);
  if (result != S_OK) {
    BreakPeer();
    return AcceptanceResult(result);
  }
  connected_ = receiver;
  connected_->AddRef();
  result = TakeMediaType(type);
  if (SUCCEEDED(result)) {
    result = receiver->ReceiveConnection(this, type);
    if (SUCCEEDED(result)) {
      result = CompletePeer(receiver);
      if (SUCCEEDED(result)) return S_OK;
      receiver->Disconnect();
    }
  }
  BreakPeer();
  connected_->Release();
  connected_ = nullptr;
  ReleaseMediaTypeContents(&type_);
  ClearMediaType(&type_);
  return result;
}

HRESULT K_CPinBase::TryTypes(IPin* receiver, const MediaTypeObject* partial,
                             IEnumMediaTypes* types) {
  HRESULT result = types->Reset();
  if (FAILED(result)) return result;
  HRESULT remembered = S_OK;
  for (;;) {
    AM_MEDIA_TYPE* type = nullptr;
    ULONG fetched = 0;
    if (types->Next(1, &type, &fetched) != S_OK || fetched != 1) break;
    if (partial == nullptr || MatchesPartial(*type, *partial)) {
      result = AttemptConnection(receiver, type);
      if (SUCCEEDED(result)) {
        DeleteMediaType(type);
        return S_OK;
      }
      if (!IsRefusal(result)) remembered = result;
    }
    DeleteMediaType(type);
  }
  return FAILED(remembered) ? remembered : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT K_CPinBase::AgreeMediaType(IPin* receiver, const MediaTypeObject* type) {
  if (type != nullptr && !IsPartiallySpecified(*type)) return AttemptConnection(receiver, type);
  HRESULT remembered = S_OK;
  for (int pass = 0; pass < 2; ++pass) {
    const bool own = (pass == 0) == tryOwnTypesFirst_;
    IEnumMediaTypes* types = nullptr;
    const HRESULT got = own ? EnumMediaTypes(&types) : receiver->EnumMediaTypes(&types);
    if (FAILED(got) || types == nullptr) continue;
    const HRESULT result = TryTypes(receiver, type, types);
    types->Release();
    if (SUCCEEDED(result)) return S_OK;
    if (result != VFW_E_NO_ACCEPTABLE_TYPES && !IsRefusal(result)) remembered = result;
  }
  return FAILED(remembered) ? remembered : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT K_CPinBase::Connect(IPin* receiver, const AM_MEDIA_TYPE* type) {
  if (receiver == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_);
  if (connected_ != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (!filter_->IsStopped() && !canReconnectWhenActive_) return VFW_E_NOT_STOPPED;
  const HRESULT result = AgreeMediaType(receiver, type);
  if (FAILED(result)) BreakPeer();
  return result;
}

HRESULT K_CPinBase::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (connector == nullptr || type == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_);
  if (connected_ != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (!filter_->IsStopped() && !canReconnectWhenActive_) return VFW_E_NOT_STOPPED;
  HRESULT result = CheckPeer(connector);
  if (FAILED(result)) {
    BreakPeer();
    return result;
  }
  result = AcceptsMediaType(type);
  if (result != S_OK) {
    BreakPeer();
    return AcceptanceResult(result);
  }
  connected_ = connector;
  connected_->AddRef();
  result = TakeMediaType(type);
  if (SUCCEEDED(result)) result = CompletePeer(connector);
  if (SUCCEEDED(result)) return S_OK;
  connected_->Release();
  connected_ = nullptr;
  BreakPeer();
  ReleaseMediaTypeContents(&type_);
  ClearMediaType(&type_);
  return result;
}

HRESULT K_CPinBase::Disconnect() {
  K_CAutoLock guard(lock_);
  if (!filter_->IsStopped() && !canReconnectWhenActive_) return VFW_E_NOT_STOPPED;
  return DropConnection();
}

HRESULT K_CPinBase::ConnectedTo(IPin** pin) {
  if (pin == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_);
  *pin = connected_;
  if (connected_ == nullptr) return VFW_E_NOT_CONNECTED;
  connected_->AddRef();
  return S_OK;
}

HRESULT K_CPinBase::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (type == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_);
  if (connected_ == nullptr) {
    ClearMediaType(type);
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(type, &type_);
}

HRESULT K_CPinBase::QueryPinInfo(PIN_INFO* info) {
  if (info == nullptr) return E_POINTER;
  info->pFilter = filter_->AsBaseFilter();
  info->pFilter->AddRef();
  CopyWideStringCut(info->achName, 128, name_);
  info->dir = direction_;
  return S_OK;
}

HRESULT K_CPinBase::QueryDirection(PIN_DIRECTION* direction) {
  if (direction == nullptr) return E_POINTER;
  *direction = direction_;
  return S_OK;
}

HRESULT K_CPinBase::QueryId(LPWSTR* id) { return CopyStringToTaskMemory(name_, id); }

HRESULT K_CPinBase::QueryAccept(const AM_MEDIA_TYPE* type) {
  const HRESULT result = AcceptsMediaType(type);
  return FAILED(result) ? S_FALSE : result;
}

HRESULT K_CPinBase::EnumMediaTypes(IEnumMediaTypes** types) {
  if (types == nullptr) return E_POINTER;
  *types = new (std::nothrow) K_CMediaTypeEnumerator(this, nullptr);
  return *types != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT K_CPinBase::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
HRESULT K_CPinBase::EndOfStream() { return S_OK; }
HRESULT K_CPinBase::BeginFlush() { return S_OK; }
HRESULT K_CPinBase::EndFlush() { return S_OK; }

HRESULT K_CPinBase::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  segmentStart_ = start;
  segmentStop_ = stop;
  rate_ = rate;
  return S_OK;
}

HRESULT K_CPinBase::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }

HRESULT K_CPinBase::SetSink(IQualityControl* sink) {
  K_CAutoLock guard(lock_);
  qualitySink_ = sink;
  return S_OK;
}

K_CInputPinBase::K_CInputPinBase(LPCWSTR objectName, K_CFilterBase* filter, CRITICAL_SECTION* lock,
                                 HRESULT* result, LPCWSTR pinName)
    : K_CPinBase(objectName, filter, lock, result, pinName, PINDIR_INPUT) {}

K_CInputPinBase::~K_CInputPinBase() {
  if (allocator_ != nullptr) allocator_->Release();
}

HRESULT K_CInputPinBase::InnerQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), object);
  return K_CPinBase::InnerQueryInterface(riid, object);
}

HRESULT K_CInputPinBase::CheckStreaming() {
  if (filter_->IsStopped()) return VFW_E_WRONG_STATE;
  if (flushing_) return S_FALSE;
  if (runtimeError_) return VFW_E_RUNTIME_ERROR;
  return S_OK;
}

HRESULT K_CInputPinBase::PinInactive() {
  runtimeError_ = false;
  flushing_ = false;
  if (allocator_ == nullptr) return VFW_E_NO_ALLOCATOR;
  return allocator_->Decommit();
}

HRESULT K_CInputPinBase::BreakPeer() {
  if (allocator_ == nullptr) return S_OK;
  const HRESULT result = allocator_->Decommit();
  allocator_->Release();
  allocator_ = nullptr;
  return result;
}

HRESULT K_CInputPinBase::BeginFlush() {
  K_CAutoLock guard(lock_);
  flushing_ = true;
  return S_OK;
}

HRESULT K_CInputPinBase::EndFlush() {
  K_CAutoLock guard(lock_);
  flushing_ = false;
  runtimeError_ = false;
  return S_OK;
}

HRESULT K_CInputPinBase::GetAllocator(IMemAllocator** allocator) {
  if (allocator == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_);
  *allocator = nullptr;
  if (allocator_ == nullptr) {
    const HRESULT result = CreateSystemMemoryAllocator(&allocator_);
    if (FAILED(result)) return result;
  }
  *allocator = allocator_;
  allocator_->AddRef();
  return S_OK;
}

HRESULT K_CInputPinBase::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (allocator == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_);
  allocator->AddRef();
  if (allocator_ != nullptr) allocator_->Release();
  allocator_ = allocator;
  readOnly_ = readOnly != FALSE;
  return S_OK;
}

HRESULT K_CInputPinBase::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT K_CInputPinBase::Receive(IMediaSample* sample) {
  if (sample == nullptr) return E_POINTER;
  const HRESULT streaming = CheckStreaming();
  if (streaming != S_OK) return streaming;
  properties_ = {};
  IMediaSample2* sample2 = nullptr;
  AM_MEDIA_TYPE* ownedType = nullptr;
  if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&sample2)))) {
    const HRESULT result =
        sample2->GetProperties(sizeof(properties_), reinterpret_cast<BYTE*>(&properties_));
    sample2->Release();
    if (FAILED(result)) return result;
  } else {
    properties_.cbData = sizeof(properties_);
    if (sample->IsDiscontinuity() == S_OK) properties_.dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
    if (sample->IsPreroll() == S_OK) properties_.dwSampleFlags |= AM_SAMPLE_PREROLL;
    if (sample->IsSyncPoint() == S_OK) properties_.dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
    if (SUCCEEDED(sample->GetTime(&properties_.tStart, &properties_.tStop)))
      properties_.dwSampleFlags |= AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
    if (sample->GetMediaType(&ownedType) == S_OK && ownedType != nullptr) {
      properties_.dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
      properties_.pMediaType = ownedType;
    }
    sample->GetPointer(&properties_.pbBuffer);
    properties_.lActual = sample->GetActualDataLength();
    properties_.cbBuffer = sample->GetSize();
  }
  HRESULT result = S_OK;
  if ((properties_.dwSampleFlags & AM_SAMPLE_TYPECHANGED) != 0 &&
      properties_.pMediaType != nullptr && AcceptsMediaType(properties_.pMediaType) != S_OK) {
    runtimeError_ = true;
    EndOfStream();
    filter_->PostFilterEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
    result = VFW_E_INVALIDMEDIATYPE;
  }
  DeleteMediaType(ownedType);
  if (ownedType != nullptr) properties_.pMediaType = nullptr;
  return result;
}

HRESULT K_CInputPinBase::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* done) {
  if (samples == nullptr || done == nullptr) return E_POINTER;
  *done = 0;
  HRESULT result = S_OK;
  for (LONG i = 0; i < count; ++i) {
    result = Receive(samples[i]);
    if (result != S_OK) break;
    ++*done;
  }
  return result;
}

HRESULT K_CInputPinBase::ReceiveCanBlock() {
  int connectedOutputs = 0;
  int nonBlocking = 0;
  for (int i = 0; i < filter_->PinCount(); ++i) {
    K_CPinBase* pin = filter_->PinAt(i);
    if (pin == nullptr || pin->Direction() != PINDIR_OUTPUT || !pin->IsConnected()) continue;
    ++connectedOutputs;
    IMemInputPin* downstream = nullptr;
    if (FAILED(pin->Connected()->QueryInterface(IID_IMemInputPin,
                                                reinterpret_cast<void**>(&downstream))))
      return S_OK;
    const HRESULT result = downstream->ReceiveCanBlock();
    downstream->Release();
    if (result == S_FALSE) ++nonBlocking;
  }
  return connectedOutputs > 0 && nonBlocking == connectedOutputs ? S_FALSE : S_OK;
}

K_COutputPinBase::K_COutputPinBase(LPCWSTR objectName, K_CFilterBase* filter,
                                   CRITICAL_SECTION* lock, HRESULT* result, LPCWSTR pinName)
    : K_CPinBase(objectName, filter, lock, result, pinName, PINDIR_OUTPUT) {}

K_COutputPinBase::~K_COutputPinBase() {
  if (allocator_ != nullptr) allocator_->Release();
  if (input_ != nullptr) input_->Release();
}

HRESULT K_COutputPinBase::CheckPeer(IPin* pin) {
  HRESULT result = K_CPinBase::CheckPeer(pin);
  if (FAILED(result)) return result;
  IMemInputPin* input = nullptr;
  result = pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
  if (FAILED(result)) return result;
  if (input_ != nullptr) input_->Release();
  input_ = input;
  return S_OK;
}

HRESULT K_COutputPinBase::CompletePeer(IPin*) {
  if (input_ == nullptr) return E_UNEXPECTED;
  return ChooseAllocator(input_, &allocator_);
}

HRESULT K_COutputPinBase::BreakPeer() {
  HRESULT result = S_OK;
  if (allocator_ != nullptr) {
    result = allocator_->Decommit();
    allocator_->Release();
    allocator_ = nullptr;
  }
  if (input_ != nullptr) {
    input_->Release();
    input_ = nullptr;
  }
  return result;
}

HRESULT K_COutputPinBase::PinActive() {
  return allocator_ == nullptr ? VFW_E_NO_ALLOCATOR : allocator_->Commit();
}

HRESULT K_COutputPinBase::PinInactive() {
  runtimeError_ = false;
  return allocator_ == nullptr ? VFW_E_NO_ALLOCATOR : allocator_->Decommit();
}

HRESULT K_COutputPinBase::ChooseAllocator(IMemInputPin* input, IMemAllocator** chosen) {
  ALLOCATOR_PROPERTIES request{};
  input->GetAllocatorRequirements(&request);
  if (request.cbAlign == 0) request.cbAlign = 1;
  IMemAllocator* allocator = nullptr;
  HRESULT result = input->GetAllocator(&allocator);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt == 1) result = MakeAllocator(&allocator);
    if (SUCCEEDED(result)) {
      ALLOCATOR_PROPERTIES sized = request;
      result = SizeBuffers(allocator, &sized);
      if (SUCCEEDED(result)) result = input->NotifyAllocator(allocator, FALSE);
      if (SUCCEEDED(result)) {
        if (*chosen != nullptr) (*chosen)->Release();
        *chosen = allocator;
        return S_OK;
      }
    }
    if (allocator != nullptr) allocator->Release();
    allocator = nullptr;
  }
  return result;
}

HRESULT K_COutputPinBase::TakeDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start,
                                             REFERENCE_TIME* stop, DWORD flags) {
  if (allocator_ == nullptr) return E_NOINTERFACE;
  return allocator_->GetBuffer(sample, start, stop, flags);
}

HRESULT K_COutputPinBase::DeliverSample(IMediaSample* sample) {
  if (input_ == nullptr) return VFW_E_NOT_CONNECTED;
  return input_->Receive(sample);
}

HRESULT K_COutputPinBase::MakeAllocator(IMemAllocator** allocator) {
  return CreateSystemMemoryAllocator(allocator);
}

HRESULT K_COutputPinBase::PassEndOfStream() {
  return connected_ == nullptr ? VFW_E_NOT_CONNECTED : connected_->EndOfStream();
}

HRESULT K_COutputPinBase::PassBeginFlush() {
  return connected_ == nullptr ? VFW_E_NOT_CONNECTED : connected_->BeginFlush();
}

HRESULT K_COutputPinBase::PassEndFlush() {
  return connected_ == nullptr ? VFW_E_NOT_CONNECTED : connected_->EndFlush();
}

HRESULT K_COutputPinBase::PassNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  return connected_ == nullptr ? VFW_E_NOT_CONNECTED : connected_->NewSegment(start, stop, rate);
}
