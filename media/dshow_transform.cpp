// The transform filters: the two-buffer transform's pin checks and streaming, type offers,
// allocator sizing, positions, state changes and sample copy; and the in-place transform's
// allocator pass-through, reconnections and copy between two allocators.
#include "media/dshow_transform.h"

#include <cstring>
#include <new>

#include "media/dshow_seeking_passthru.h"

K_CTwoBufferTransformInputPin::K_CTwoBufferTransformInputPin(LPCWSTR objectName,
                                                             K_CTwoBufferTransformFilter* filter,
                                                             HRESULT* result, LPCWSTR pinName)
    : K_CInputPinBase(objectName, filter, filter->Lock(), result, pinName), transform_(filter) {}

HRESULT K_CTwoBufferTransformInputPin::AcceptsMediaType(const MediaTypeObject* type) {
  if (type == nullptr) return E_POINTER;
  HRESULT result = transform_->CheckInputType(type);
  if (result != S_OK) return result;
  K_CTwoBufferTransformOutputPin* output = transform_->Output();
  if (output != nullptr && output->IsConnected())
    result = transform_->CheckTransform(type, &output->ConnectionType());
  return result;
}

HRESULT K_CTwoBufferTransformInputPin::TakeMediaType(const MediaTypeObject* type) {
  const HRESULT result = K_CInputPinBase::TakeMediaType(type);
  if (FAILED(result)) return result;
  return transform_->SetMediaType(PINDIR_INPUT, type);
}

HRESULT K_CTwoBufferTransformInputPin::CheckPeer(IPin* pin) {
  const HRESULT result = transform_->CheckConnect(PINDIR_INPUT, pin);
  if (FAILED(result)) return result;
  return K_CInputPinBase::CheckPeer(pin);
}

HRESULT K_CTwoBufferTransformInputPin::BreakPeer() {
  transform_->BreakConnect(PINDIR_INPUT);
  return K_CInputPinBase::BreakPeer();
}

HRESULT K_CTwoBufferTransformInputPin::CompletePeer(IPin* pin) {
  const HRESULT result = transform_->CompleteConnect(PINDIR_INPUT, pin);
  if (FAILED(result)) return result;
  return K_CInputPinBase::CompletePeer(pin);
}

HRESULT K_CTwoBufferTransformInputPin::CheckStreaming() {
  K_CTwoBufferTransformOutputPin* output = transform_->Output();
  if (output == nullptr || !output->IsConnected()) return VFW_E_NOT_CONNECTED;
  if (flushing_) return S_FALSE;
  if (filter_->IsStopped()) return VFW_E_WRONG_STATE;
  if (runtimeError_) return VFW_E_RUNTIME_ERROR;
  return S_OK;
}

HRESULT K_CTwoBufferTransformInputPin::QueryId(LPWSTR* id) {
  return CopyStringToTaskMemory(u"In", id);
}

HRESULT K_CTwoBufferTransformInputPin::EndOfStream() {
  K_CAutoLock guard(transform_->ReceiveLock());
  const HRESULT result = CheckStreaming();
  if (result != S_OK) return result;
  return transform_->EndOfStream();
}

HRESULT K_CTwoBufferTransformInputPin::BeginFlush() {
  K_CAutoLock guard(lock_);
  K_CTwoBufferTransformOutputPin* output = transform_->Output();
  if (!IsConnected() || output == nullptr || !output->IsConnected()) return VFW_E_NOT_CONNECTED;
  const HRESULT result = K_CInputPinBase::BeginFlush();
  if (FAILED(result)) return result;
  return transform_->BeginFlush();
}

HRESULT K_CTwoBufferTransformInputPin::EndFlush() {
  K_CAutoLock guard(lock_);
  K_CTwoBufferTransformOutputPin* output = transform_->Output();
  if (!IsConnected() || output == nullptr || !output->IsConnected()) return VFW_E_NOT_CONNECTED;
  const HRESULT result = transform_->EndFlush();
  if (FAILED(result)) return result;
  return K_CInputPinBase::EndFlush();
}

HRESULT K_CTwoBufferTransformInputPin::Receive(IMediaSample* sample) {
  K_CAutoLock guard(transform_->ReceiveLock());
  const HRESULT result = K_CInputPinBase::Receive(sample);
  if (result != S_OK) return result;
  return transform_->Receive(sample);
}

HRESULT K_CTwoBufferTransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                                  double rate) {
  K_CInputPinBase::NewSegment(start, stop, rate);
  return transform_->NewSegment(start, stop, rate);
}

K_CTwoBufferTransformOutputPin::K_CTwoBufferTransformOutputPin(LPCWSTR objectName,
                                                               K_CTwoBufferTransformFilter* filter,
                                                               HRESULT* result, LPCWSTR pinName)
    : K_COutputPinBase(objectName, filter, filter->Lock(), result, pinName), transform_(filter) {}

K_CTwoBufferTransformOutputPin::~K_CTwoBufferTransformOutputPin() {
  if (position_ != nullptr) position_->Release();
}

HRESULT K_CTwoBufferTransformOutputPin::CreatePositionPassThrough() {
  RegisterSeekingPassThruClass();
  IUnknown* inner = nullptr;
  HRESULT result =
      CoCreateInstance(CLSID_SeekingPassThru, static_cast<IPin*>(this), CLSCTX_INPROC_SERVER,
                       IID_IUnknown, reinterpret_cast<void**>(&inner));
  if (FAILED(result)) return result;
  ISeekingPassThru* init = nullptr;
  result = inner->QueryInterface(IID_ISeekingPassThru, reinterpret_cast<void**>(&init));
  if (SUCCEEDED(result)) {
    result = init->Init(FALSE, transform_->Input());
    // The interface came through this pin's own count.
    init->Release();
  }
  if (FAILED(result)) {
    inner->Release();
    return result;
  }
  position_ = inner;
  return S_OK;
}

HRESULT K_CTwoBufferTransformOutputPin::InnerQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IMediaSeeking || riid == IID_IMediaPosition) {
    K_CAutoLock guard(lock_);
    if (position_ == nullptr) {
      const HRESULT result = CreatePositionPassThrough();
      if (FAILED(result)) {
        *object = nullptr;
        return result;
      }
    }
    return position_->QueryInterface(riid, object);
  }
  return K_COutputPinBase::InnerQueryInterface(riid, object);
}

HRESULT K_CTwoBufferTransformOutputPin::AcceptsMediaType(const MediaTypeObject* type) {
  if (type == nullptr) return E_POINTER;
  K_CTwoBufferTransformInputPin* input = transform_->Input();
  if (input == nullptr || !input->IsConnected()) return E_INVALIDARG;
  return transform_->CheckTransform(&input->ConnectionType(), type);
}

HRESULT K_CTwoBufferTransformOutputPin::TakeMediaType(const MediaTypeObject* type) {
  const HRESULT result = K_COutputPinBase::TakeMediaType(type);
  if (FAILED(result)) return result;
  return transform_->SetMediaType(PINDIR_OUTPUT, type);
}

HRESULT K_CTwoBufferTransformOutputPin::MediaTypeAt(int position, MediaTypeObject* type) {
  K_CTwoBufferTransformInputPin* input = transform_->Input();
  if (input == nullptr || !input->IsConnected()) return VFW_S_NO_MORE_ITEMS;
  return transform_->GetMediaType(position, type);
}

HRESULT K_CTwoBufferTransformOutputPin::CheckPeer(IPin* pin) {
  K_CTwoBufferTransformInputPin* input = transform_->Input();
  if (input == nullptr || !input->IsConnected()) return E_UNEXPECTED;
  const HRESULT result = transform_->CheckConnect(PINDIR_OUTPUT, pin);
  if (FAILED(result)) return result;
  return K_COutputPinBase::CheckPeer(pin);
}

HRESULT K_CTwoBufferTransformOutputPin::BreakPeer() {
  transform_->BreakConnect(PINDIR_OUTPUT);
  return K_COutputPinBase::BreakPeer();
}

HRESULT K_CTwoBufferTransformOutputPin::CompletePeer(IPin* pin) {
  const HRESULT result = transform_->CompleteConnect(PINDIR_OUTPUT, pin);
  if (FAILED(result)) return result;
  return K_COutputPinBase::CompletePeer(pin);
}

HRESULT K_CTwoBufferTransformOutputPin::SizeBuffers(IMemAllocator* allocator,
                                                    ALLOCATOR_PROPERTIES* request) {
  return transform_->DecideBufferSize(allocator, request);
}

HRESULT K_CTwoBufferTransformOutputPin::QueryId(LPWSTR* id) {
  return CopyStringToTaskMemory(u"Out", id);
}

HRESULT K_CTwoBufferTransformOutputPin::Notify(IBaseFilter*, Quality quality) {
  const HRESULT result = transform_->AlterQuality(quality);
  if (result != S_FALSE) return result;
  if (qualitySink_ != nullptr) return qualitySink_->Notify(transform_->AsBaseFilter(), quality);
  // Upstream is the pin feeding the input.
  K_CTwoBufferTransformInputPin* input = transform_->Input();
  IPin* upstream = input != nullptr ? input->Connected() : nullptr;
  if (upstream == nullptr) return VFW_E_NOT_FOUND;
  IQualityControl* control = nullptr;
  if (FAILED(upstream->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&control))))
    return VFW_E_NOT_FOUND;
  const HRESULT passed = control->Notify(transform_->AsBaseFilter(), quality);
  control->Release();
  return passed;
}

K_CTwoBufferTransformFilter::K_CTwoBufferTransformFilter(LPCWSTR name, IUnknown* outer,
                                                         REFCLSID clsid)
    : K_CFilterBase(name, outer, nullptr, clsid) {
  lock_ = filterLock_.Get();
}

K_CTwoBufferTransformFilter::~K_CTwoBufferTransformFilter() {
  delete output_;
  delete input_;
}

K_CTwoBufferTransformInputPin* K_CTwoBufferTransformFilter::MakeInputPin(HRESULT* result) {
  return new (std::nothrow)
      K_CTwoBufferTransformInputPin(u"Transform input pin", this, result, u"XForm In");
}

K_CTwoBufferTransformOutputPin* K_CTwoBufferTransformFilter::MakeOutputPin(HRESULT* result) {
  return new (std::nothrow)
      K_CTwoBufferTransformOutputPin(u"Transform output pin", this, result, u"XForm Out");
}

K_CPinBase* K_CTwoBufferTransformFilter::PinAt(int index) {
  if (input_ == nullptr) {
    K_CAutoLock guard(lock_);
    if (input_ == nullptr) {
      HRESULT result = S_OK;
      K_CTwoBufferTransformInputPin* input = MakeInputPin(&result);
      if (input != nullptr && SUCCEEDED(result)) {
        K_CTwoBufferTransformOutputPin* output = MakeOutputPin(&result);
        if (output != nullptr && SUCCEEDED(result)) {
          output_ = output;
          input_ = input;
        } else {
          delete output;
          delete input;
        }
      } else {
        delete input;
      }
    }
  }
  if (index == 0) return input_;
  if (index == 1) return output_;
  return nullptr;
}

HRESULT K_CTwoBufferTransformFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (pin == nullptr) return E_POINTER;
  *pin = nullptr;
  if (PinAt(0) == nullptr) return E_OUTOFMEMORY;
  if (id != nullptr && CompareWideStrings(id, u"In") == 0)
    *pin = input_;
  else if (id != nullptr && CompareWideStrings(id, u"Out") == 0)
    *pin = output_;
  else
    return VFW_E_NOT_FOUND;
  (*pin)->AddRef();
  return S_OK;
}

HRESULT K_CTwoBufferTransformFilter::Stop() {
  K_CAutoLock guard(lock_);
  if (state_ == State_Stopped) return S_OK;
  if (input_ == nullptr || !input_->IsConnected() || output_ == nullptr ||
      !output_->IsConnected()) {
    state_ = State_Stopped;
    endOfStreamSent_ = false;
    return S_OK;
  }
  // The input lets go of waiting senders first, so that the receive lock comes free.
  input_->PinInactive();
  K_CAutoLock receiving(receiveLock_.Get());
  output_->PinInactive();
  const HRESULT result = StopStreaming();
  if (SUCCEEDED(result)) {
    state_ = State_Stopped;
    endOfStreamSent_ = false;
  }
  return result;
}

HRESULT K_CTwoBufferTransformFilter::Pause() {
  K_CAutoLock guard(lock_);
  HRESULT result = S_OK;
  if (state_ != State_Paused) {
    if (input_ == nullptr || !input_->IsConnected()) {
      // Nothing will ever arrive: downstream hears the end at once, and only once.
      if (output_ != nullptr && output_->IsConnected() && !endOfStreamSent_) {
        output_->PassEndOfStream();
        endOfStreamSent_ = true;
      }
      state_ = State_Paused;
    } else if (output_ == nullptr || !output_->IsConnected()) {
      state_ = State_Paused;
    } else if (state_ == State_Running) {
      result = K_CFilterBase::Pause();
    } else {
      K_CAutoLock receiving(receiveLock_.Get());
      result = StartStreaming();
      if (SUCCEEDED(result)) result = K_CFilterBase::Pause();
    }
  }
  sampleSkipped_ = false;
  qualityChanged_ = false;
  return result;
}

// S_OK delivers the sample; S_FALSE skips it, telling the graph once that quality changed, and
// the next delivered sample is marked discontinuous.
HRESULT K_CTwoBufferTransformFilter::DeliverTransformed(HRESULT transformed, IMediaSample* sample) {
  if (transformed == S_OK) {
    sampleSkipped_ = false;
    return output_->DeliverSample(sample);
  }
  if (transformed != S_FALSE) return transformed;
  sampleSkipped_ = true;
  if (!qualityChanged_) {
    PostFilterEvent(EC_QUALITY_CHANGE, 0, 0);
    qualityChanged_ = true;
  }
  return S_OK;
}

HRESULT K_CTwoBufferTransformFilter::InitializeOutputSample(IMediaSample* in, IMediaSample** out) {
  const AM_SAMPLE2_PROPERTIES& properties = input_->SampleProperties();
  DWORD flags = sampleSkipped_ ? AM_GBF_PREVFRAMESKIPPED : 0;
  if ((properties.dwSampleFlags & AM_SAMPLE_SPLICEPOINT) == 0) flags |= AM_GBF_NOTASYNCPOINT;
  REFERENCE_TIME start = properties.tStart;
  REFERENCE_TIME stop = properties.tStop;
  const bool timeValid = (properties.dwSampleFlags & AM_SAMPLE_TIMEVALID) != 0;
  const bool stopValid = (properties.dwSampleFlags & AM_SAMPLE_STOPVALID) != 0;
  *out = nullptr;
  HRESULT result = output_->TakeDeliveryBuffer(out, timeValid ? &start : nullptr,
                                               stopValid ? &stop : nullptr, flags);
  if (FAILED(result)) return result;
  if (*out == nullptr) return E_UNEXPECTED;
  IMediaSample* sample = *out;
  if (timeValid) sample->SetTime(&start, stopValid ? &stop : nullptr);
  sample->SetSyncPoint((properties.dwSampleFlags & AM_SAMPLE_SPLICEPOINT) != 0);
  // A receiver that missed a sample must not take the next one as continuous.
  if ((properties.dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) != 0 || sampleSkipped_)
    sample->SetDiscontinuity(TRUE);
  LONGLONG mediaStart = 0, mediaStop = 0;
  if (in->GetMediaTime(&mediaStart, &mediaStop) == S_OK)
    sample->SetMediaTime(&mediaStart, &mediaStop);
  else
    sample->SetMediaTime(nullptr, nullptr);
  return S_OK;
}

HRESULT K_CTwoBufferTransformFilter::Receive(IMediaSample* sample) {
  // Samples of another stream than the media pass through untouched.
  if (input_->SampleProperties().dwStreamId != 0) return output_->DeliverSample(sample);
  IMediaSample* out = nullptr;
  HRESULT result = InitializeOutputSample(sample, &out);
  if (FAILED(result)) return result;
  result = DeliverTransformed(Transform(sample, out), out);
  out->Release();
  return result;
}

HRESULT K_CTwoBufferTransformFilter::EndOfStream() {
  return output_ != nullptr ? output_->PassEndOfStream() : S_OK;
}

HRESULT K_CTwoBufferTransformFilter::BeginFlush() {
  return output_ != nullptr ? output_->PassBeginFlush() : S_OK;
}

HRESULT K_CTwoBufferTransformFilter::EndFlush() {
  return output_ != nullptr ? output_->PassEndFlush() : S_OK;
}

HRESULT K_CTwoBufferTransformFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                                double rate) {
  return output_ != nullptr ? output_->PassNewSegment(start, stop, rate) : S_OK;
}

namespace {

// Type `position` of the types `peer` offers, or VFW_S_NO_MORE_ITEMS past its last.
HRESULT TypeOfferedBy(IPin* peer, int position, MediaTypeObject* type) {
  if (position < 0) return E_INVALIDARG;
  IEnumMediaTypes* types = nullptr;
  HRESULT result = peer->EnumMediaTypes(&types);
  if (FAILED(result)) return result;
  if (types == nullptr) return VFW_S_NO_MORE_ITEMS;
  AM_MEDIA_TYPE* offered = nullptr;
  ULONG fetched = 0;
  result = position > 0 ? types->Skip(static_cast<ULONG>(position)) : S_OK;
  if (result == S_OK) result = types->Next(1, &offered, &fetched);
  types->Release();
  if (result != S_OK || fetched != 1 || offered == nullptr) {
    if (offered != nullptr) DeleteMediaType(offered);
    return VFW_S_NO_MORE_ITEMS;
  }
  result = CopyMediaType(type, offered);
  DeleteMediaType(offered);
  return result;
}

}  // namespace

K_CInPlaceTransformInputPin::K_CInPlaceTransformInputPin(LPCWSTR objectName,
                                                         K_CInPlaceTransformFilter* filter,
                                                         HRESULT* result, LPCWSTR pinName)
    : K_CTwoBufferTransformInputPin(objectName, filter, result, pinName), inPlace_(filter) {}

HRESULT K_CInPlaceTransformInputPin::AcceptsMediaType(const MediaTypeObject* type) {
  HRESULT result = K_CTwoBufferTransformInputPin::AcceptsMediaType(type);
  if (result != S_OK) return result;
  // The samples go on unchanged in type: downstream must take the type too.
  K_CInPlaceTransformOutputPin* output = inPlace_->InPlaceOutput();
  if (output != nullptr && output->IsConnected()) {
    result = output->Connected()->QueryAccept(type);
    if (result != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
  }
  return S_OK;
}

HRESULT K_CInPlaceTransformInputPin::MediaTypeAt(int position, MediaTypeObject* type) {
  K_CInPlaceTransformOutputPin* output = inPlace_->InPlaceOutput();
  if (output == nullptr || !output->IsConnected()) return VFW_E_NOT_CONNECTED;
  return TypeOfferedBy(output->Connected(), position, type);
}

HRESULT K_CInPlaceTransformInputPin::GetAllocator(IMemAllocator** allocator) {
  if (allocator == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_);
  IMemInputPin* downstream = inPlace_->InPlaceOutput()->Downstream();
  if (downstream == nullptr) return K_CInputPinBase::GetAllocator(allocator);
  *allocator = nullptr;
  IMemAllocator* shared = nullptr;
  const HRESULT result = downstream->GetAllocator(&shared);
  if (FAILED(result)) return result;
  if (shared == nullptr) return E_UNEXPECTED;
  shared->AddRef();
  if (allocator_ != nullptr) allocator_->Release();
  allocator_ = shared;
  *allocator = shared;
  return S_OK;
}

HRESULT K_CInPlaceTransformInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (allocator == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_);
  K_CInPlaceTransformOutputPin* output = inPlace_->InPlaceOutput();
  IMemInputPin* downstream = output->Downstream();
  if (downstream != nullptr) {
    // Samples upstream may not write to cannot be changed where they lie.
    const bool needsCopy = readOnly && inPlace_->ModifiesData();
    if (!needsCopy && SUCCEEDED(downstream->NotifyAllocator(allocator, readOnly))) {
      output->UseAllocator(allocator);
    } else if (needsCopy) {
      IMemAllocator* writable = nullptr;
      if (FAILED(output->ProvideWritableAllocator(allocator, &writable))) return E_FAIL;
      output->UseAllocator(writable);
      writable->Release();
    }
    // Otherwise downstream keeps its own allocator and each sample is copied across.
  }
  return K_CInputPinBase::NotifyAllocator(allocator, readOnly);
}

HRESULT K_CInPlaceTransformInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) {
  if (properties == nullptr) return E_POINTER;
  IMemInputPin* downstream = inPlace_->InPlaceOutput()->Downstream();
  if (downstream == nullptr) return E_NOTIMPL;
  return downstream->GetAllocatorRequirements(properties);
}

K_CInPlaceTransformOutputPin::K_CInPlaceTransformOutputPin(LPCWSTR objectName,
                                                           K_CInPlaceTransformFilter* filter,
                                                           HRESULT* result, LPCWSTR pinName)
    : K_CTwoBufferTransformOutputPin(objectName, filter, result, pinName), inPlace_(filter) {}

HRESULT K_CInPlaceTransformOutputPin::AcceptsMediaType(const MediaTypeObject* type) {
  if (type == nullptr) return E_POINTER;
  // A sample copied into the other allocator keeps its type: only the current one will do.
  if (IsConnected() && inPlace_->UsesTwoAllocators() && !MediaTypesEqual(*type, type_))
    return VFW_E_TYPE_NOT_ACCEPTED;
  return K_CTwoBufferTransformOutputPin::AcceptsMediaType(type);
}

HRESULT K_CInPlaceTransformOutputPin::Connect(IPin* receiver, const AM_MEDIA_TYPE* type) {
  const HRESULT result = K_CTwoBufferTransformOutputPin::Connect(receiver, type);
  if (FAILED(result)) return result;
  const HRESULT reconnected = inPlace_->RunPendingReconnection();
  if (SUCCEEDED(reconnected)) return result;
  // The connection fails as a failed completion would have failed it.
  receiver->Disconnect();
  Disconnect();
  return reconnected;
}

HRESULT K_CInPlaceTransformOutputPin::MediaTypeAt(int position, MediaTypeObject* type) {
  K_CInPlaceTransformInputPin* input = inPlace_->InPlaceInput();
  if (input == nullptr || !input->IsConnected()) return VFW_E_NOT_CONNECTED;
  return TypeOfferedBy(input->Connected(), position, type);
}

void K_CInPlaceTransformOutputPin::UseAllocator(IMemAllocator* allocator) {
  K_CAutoLock guard(lock_);
  if (allocator != nullptr) allocator->AddRef();
  if (allocator_ != nullptr) allocator_->Release();
  allocator_ = allocator;
}

HRESULT K_CInPlaceTransformOutputPin::ProvideWritableAllocator(IMemAllocator* like,
                                                               IMemAllocator** made) {
  *made = nullptr;
  IMemInputPin* downstream = Downstream();
  if (downstream == nullptr) return VFW_E_NOT_CONNECTED;
  ALLOCATOR_PROPERTIES wanted{};
  HRESULT result = like->GetProperties(&wanted);
  if (FAILED(result)) return result;
  if (wanted.cBuffers < 1) wanted.cBuffers = 1;
  if (wanted.cbBuffer < 1) wanted.cbBuffer = 1;
  if (wanted.cbAlign < 1) wanted.cbAlign = 1;
  for (int attempt = 0; attempt < 2; ++attempt) {
    IMemAllocator* allocator = nullptr;
    result = attempt == 0 ? downstream->GetAllocator(&allocator) : MakeAllocator(&allocator);
    if (FAILED(result) || allocator == nullptr || allocator == like) {
      if (allocator != nullptr) allocator->Release();
      continue;
    }
    ALLOCATOR_PROPERTIES request = wanted;
    ALLOCATOR_PROPERTIES actual{};
    result = allocator->SetProperties(&request, &actual);
    if (SUCCEEDED(result) && actual.cBuffers >= wanted.cBuffers &&
        actual.cbBuffer >= wanted.cbBuffer &&
        SUCCEEDED(downstream->NotifyAllocator(allocator, FALSE))) {
      *made = allocator;
      return S_OK;
    }
    allocator->Release();
  }
  return E_FAIL;
}

K_CInPlaceTransformFilter::K_CInPlaceTransformFilter(LPCWSTR name, IUnknown* outer, REFCLSID clsid,
                                                     bool modifiesData)
    : K_CTwoBufferTransformFilter(name, outer, clsid), modifiesData_(modifiesData) {}

K_CInPlaceTransformInputPin* K_CInPlaceTransformFilter::MakeInputPin(HRESULT* result) {
  return new (std::nothrow)
      K_CInPlaceTransformInputPin(u"TransInPlace input pin", this, result, u"Input");
}

K_CInPlaceTransformOutputPin* K_CInPlaceTransformFilter::MakeOutputPin(HRESULT* result) {
  return new (std::nothrow)
      K_CInPlaceTransformOutputPin(u"TransInPlace output pin", this, result, u"Output");
}

bool K_CInPlaceTransformFilter::UsesTwoAllocators() const {
  if (input_ == nullptr || output_ == nullptr) return false;
  const IMemAllocator* upstream = input_->Allocator();
  const IMemAllocator* downstream = output_->Allocator();
  return upstream != nullptr && downstream != nullptr && upstream != downstream;
}

HRESULT K_CInPlaceTransformFilter::DecideBufferSize(IMemAllocator* allocator,
                                                    ALLOCATOR_PROPERTIES* request) {
  // Downstream gets buffers like the ones upstream fills, so that a sample fits either way.
  ALLOCATOR_PROPERTIES wanted{1, 1, 1, request != nullptr ? request->cbPrefix : 0};
  if (input_ != nullptr && input_->IsConnected() && input_->Allocator() != nullptr) {
    ALLOCATOR_PROPERTIES upstream{};
    if (SUCCEEDED(input_->Allocator()->GetProperties(&upstream))) {
      wanted.cBuffers = upstream.cBuffers;
      wanted.cbBuffer = upstream.cbBuffer;
      wanted.cbAlign = upstream.cbAlign;
      // A sample that passes through keeps the room upstream left in front of it.
      if (upstream.cbPrefix > wanted.cbPrefix) wanted.cbPrefix = upstream.cbPrefix;
    }
  }
  if (wanted.cBuffers < 1) wanted.cBuffers = 1;
  if (wanted.cbBuffer < 1) wanted.cbBuffer = 1;
  if (wanted.cbAlign < 1) wanted.cbAlign = 1;
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT result = allocator->SetProperties(&wanted, &actual);
  if (FAILED(result)) return result;
  if (actual.cBuffers < wanted.cBuffers || actual.cbBuffer < wanted.cbBuffer) return E_FAIL;
  return S_OK;
}

HRESULT K_CInPlaceTransformFilter::CompleteConnect(PIN_DIRECTION direction, IPin*) {
  if (graph_ == nullptr) return VFW_E_NOT_IN_GRAPH;
  // A reconnection made here completes through this function again; it starts no further one.
  if (reconnecting_) return S_OK;
  if (direction == PINDIR_OUTPUT) {
    // The output pin reconnects the input once its own lock is free (RunPendingReconnection):
    // upstream's lock is always taken before this filter's.
    if (input_->IsConnected()) pendingReconnection_ = true;
    return S_OK;
  }
  if (!output_->IsConnected() ||
      MediaTypesEqual(input_->ConnectionType(), output_->ConnectionType()))
    return S_OK;
  reconnecting_ = true;
  const HRESULT result = ReconnectPin(output_, &input_->ConnectionType());
  reconnecting_ = false;
  return result;
}

HRESULT K_CInPlaceTransformFilter::RunPendingReconnection() {
  if (!pendingReconnection_.exchange(false) || !input_->IsConnected()) return S_OK;
  reconnecting_ = true;
  const HRESULT result = ReconnectPin(input_, &output_->ConnectionType());
  reconnecting_ = false;
  return result;
}

HRESULT K_CInPlaceTransformFilter::CopySample(IMediaSample* source, IMediaSample** copy) {
  *copy = nullptr;
  REFERENCE_TIME start = 0, stop = 0;
  const HRESULT timed = source->GetTime(&start, &stop);
  const bool hasStart = timed == S_OK || timed == VFW_S_NO_STOP_TIME;
  const bool hasStop = timed == S_OK;
  IMediaSample* target = nullptr;
  HRESULT result = output_->TakeDeliveryBuffer(&target, hasStart ? &start : nullptr,
                                               hasStop ? &stop : nullptr, 0);
  if (FAILED(result) || target == nullptr) return E_UNEXPECTED;
  BYTE* from = nullptr;
  BYTE* to = nullptr;
  const LONG length = source->GetActualDataLength();
  if (FAILED(source->GetPointer(&from)) || FAILED(target->GetPointer(&to)) || length < 0 ||
      length > target->GetSize() || (length > 0 && (from == nullptr || to == nullptr))) {
    target->Release();
    return E_UNEXPECTED;
  }
  if (length > 0) std::memcpy(to, from, static_cast<size_t>(length));
  if (hasStart) target->SetTime(&start, hasStop ? &stop : nullptr);
  target->SetSyncPoint(source->IsSyncPoint() == S_OK);
  target->SetPreroll(source->IsPreroll() == S_OK);
  target->SetDiscontinuity(source->IsDiscontinuity() == S_OK);
  AM_MEDIA_TYPE* type = nullptr;
  if (source->GetMediaType(&type) == S_OK && type != nullptr) {
    result = target->SetMediaType(type);
    DeleteMediaType(type);
  }
  if (SUCCEEDED(result)) result = target->SetActualDataLength(length);
  if (FAILED(result)) {
    target->Release();
    return E_UNEXPECTED;
  }
  *copy = target;
  return S_OK;
}

HRESULT K_CInPlaceTransformFilter::Receive(IMediaSample* sample) {
  if (input_->SampleProperties().dwStreamId != 0) return output_->DeliverSample(sample);
  IMediaSample* copy = nullptr;
  if (UsesTwoAllocators()) {
    const HRESULT copied = CopySample(sample, &copy);
    if (FAILED(copied)) return copied;
  }
  IMediaSample* working = copy != nullptr ? copy : sample;
  // A receiver that missed a sample must not take the next one as continuous.
  if (sampleSkipped_) working->SetDiscontinuity(TRUE);
  HRESULT result = DeliverTransformed(TransformInPlace(working), working);
  if (copy != nullptr) copy->Release();
  return result;
}
