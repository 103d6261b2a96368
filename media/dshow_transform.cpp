// The two-buffer transform: input pin checks and streaming, output pin type offers, allocator
// sizing and positions, and the filter's state changes and sample copy.
#include "media/dshow_transform.h"

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
  result = Transform(sample, out);
  if (result == S_OK) {
    result = output_->DeliverSample(out);
    sampleSkipped_ = false;
  } else if (result == S_FALSE) {
    sampleSkipped_ = true;
    if (!qualityChanged_) {
      PostFilterEvent(EC_QUALITY_CHANGE, 0, 0);
      qualityChanged_ = true;
    }
    result = S_OK;
  }
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
