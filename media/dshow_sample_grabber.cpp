// The sample grabber: its accepted-type test, the callback on every sample, the control
// interface, and the input pin with the allocator that places samples in a buffer of the user's.
#include "media/dshow_sample_grabber.h"

#include <new>

namespace {
constexpr CLSID CLSID_SampleGrabber = {
    0x2FA4F053, 0x6D60, 0x4CB0, {0x95, 0x03, 0x8E, 0x89, 0x23, 0x4F, 0x3F, 0x73}};
constexpr HRESULT kGrabberTypeRefused = static_cast<HRESULT>(0x80040248u);

// Each GUID the accepted type names (not all zero) must be the input's.
bool AcceptedGuidMatches(const GUID& accepted, const GUID& input) {
  return accepted == GUID_NULL || accepted == input;
}
}  // namespace

K_CSampleGrabberAllocator::K_CSampleGrabberAllocator(K_CSampleGrabberInputPin* pin)
    : K_CMemoryAllocator(nullptr), pin_(pin) {}

void K_CSampleGrabberAllocator::DetachPin() {
  K_CAutoLock guard(lock_.Get());
  pin_ = nullptr;
}

HRESULT K_CSampleGrabberAllocator::SetProperties(ALLOCATOR_PROPERTIES* request,
                                                 ALLOCATOR_PROPERTIES* actual) {
  if (request == nullptr || actual == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_.Get());
  if (pin_ == nullptr) return E_UNEXPECTED;
  const ALLOCATOR_PROPERTIES own = pin_->OwnProperties();
  if (request->cbAlign != own.cbAlign) return VFW_E_BADALIGN;
  if (request->cbPrefix != own.cbPrefix || request->cBuffers > own.cBuffers ||
      request->cbBuffer > own.cbBuffer)
    return E_FAIL;
  if (committed_) return VFW_E_ALREADY_COMMITTED;
  if (allocated_ != freeCount_) return VFW_E_BUFFERS_OUTSTANDING;
  count_ = own.cBuffers;
  size_ = own.cbBuffer;
  alignment_ = own.cbAlign;
  prefix_ = own.cbPrefix;
  changed_ = true;
  *actual = own;
  return S_OK;
}

HRESULT K_CSampleGrabberAllocator::MakeBuffers() {
  const HRESULT check = K_CAllocatorBase::MakeBuffers();
  if (FAILED(check)) return check;
  if (pin_ == nullptr || pin_->OwnBuffer() == nullptr) return E_UNEXPECTED;
  if (!changed_ && allocated_ > 0) return S_OK;
  // Only the samples are ours to drop: the block belongs to the pin's user.
  FreeBlock();
  const long long unaligned = static_cast<long long>(prefix_) + size_;
  const long long stride = (unaligned + alignment_ - 1) / alignment_ * alignment_;
  return MakeSamplesIn(pin_->OwnBuffer(), static_cast<size_t>(stride));
}

K_CSampleGrabberInputPin::K_CSampleGrabberInputPin(K_CSampleGrabber* grabber, HRESULT* result)
    : K_CInPlaceTransformInputPin(u"SampleGrabberInputPin", grabber, result, u"Input"),
      grabber_(grabber) {}

K_CSampleGrabberInputPin::~K_CSampleGrabberInputPin() {
  if (ownAllocator_ != nullptr) {
    ownAllocator_->DetachPin();
    ownAllocator_->Release();
  }
}

HRESULT K_CSampleGrabberInputPin::MediaTypeAt(int position, MediaTypeObject* type) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  return grabber_->CopyAcceptedType(type);
}

HRESULT K_CSampleGrabberInputPin::TakeMediaType(const MediaTypeObject* type) {
  const HRESULT result = K_CInPlaceTransformInputPin::TakeMediaType(type);
  if (SUCCEEDED(result)) typeChanged_ = true;
  return result;
}

HRESULT K_CSampleGrabberInputPin::GetAllocator(IMemAllocator** allocator) {
  if (allocator == nullptr) return E_POINTER;
  {
    K_CAutoLock guard(lock_);
    if (ownAllocator_ != nullptr) {
      ownAllocator_->AddRef();
      *allocator = ownAllocator_;
      return S_OK;
    }
  }
  return K_CInPlaceTransformInputPin::GetAllocator(allocator);
}

HRESULT K_CSampleGrabberInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (allocator == nullptr) return E_POINTER;
  {
    K_CAutoLock guard(lock_);
    if (ownAllocator_ != nullptr && (allocator != static_cast<IMemAllocator*>(ownAllocator_) ||
                                     (readOnly && inPlace_->ModifiesData())))
      return E_FAIL;
  }
  return K_CInPlaceTransformInputPin::NotifyAllocator(allocator, readOnly);
}

HRESULT K_CSampleGrabberInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) {
  if (properties == nullptr) return E_POINTER;
  {
    K_CAutoLock guard(lock_);
    if (ownAllocator_ != nullptr) {
      *properties = ownProperties_;
      return S_OK;
    }
  }
  return K_CInPlaceTransformInputPin::GetAllocatorRequirements(properties);
}

HRESULT K_CSampleGrabberInputPin::SetOwnBuffer(const ALLOCATOR_PROPERTIES* properties,
                                               BYTE* buffer) {
  if (properties == nullptr) return E_POINTER;
  if (properties->cBuffers != 1) return E_INVALIDARG;
  if (buffer == nullptr) return E_POINTER;
  // Properties no allocator could lay out are refused here rather than at commit.
  const long long span = static_cast<long long>(properties->cbPrefix) + properties->cbBuffer;
  if (properties->cbBuffer < 1 || properties->cbAlign < 1 || properties->cbPrefix < 0 ||
      span > 0x7fffffff)
    return E_INVALIDARG;
  auto* allocator = new (std::nothrow) K_CSampleGrabberAllocator(this);
  if (allocator == nullptr) return E_OUTOFMEMORY;
  allocator->InnerAddRef();
  K_CAutoLock guard(lock_);
  if (ownAllocator_ != nullptr) {
    ownAllocator_->DetachPin();
    ownAllocator_->Release();
  }
  ownAllocator_ = allocator;
  ownProperties_ = *properties;
  ownBuffer_ = buffer;
  return S_OK;
}

K_CSampleGrabber::K_CSampleGrabber(IUnknown* outer)
    : K_CInPlaceTransformFilter(u"SampleGrabber", outer, CLSID_SampleGrabber, false) {
  ClearMediaType(&accepted_);
  accepted_.bFixedSizeSamples = FALSE;
}

K_CSampleGrabber::~K_CSampleGrabber() { ReleaseMediaTypeContents(&accepted_); }

K_CInPlaceTransformInputPin* K_CSampleGrabber::MakeInputPin(HRESULT* result) {
  return new (std::nothrow) K_CSampleGrabberInputPin(this, result);
}

HRESULT K_CSampleGrabber::InnerQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_K_ISampleGrabberControl)
    return GetInterface(static_cast<K_ISampleGrabberControl*>(this), object);
  return K_CInPlaceTransformFilter::InnerQueryInterface(riid, object);
}

HRESULT K_CSampleGrabber::CheckInputType(const MediaTypeObject* type) {
  if (type == nullptr) return E_POINTER;
  K_CAutoLock guard(grabberLock_.Get());
  const bool matches = AcceptedGuidMatches(accepted_.majortype, type->majortype) &&
                       AcceptedGuidMatches(accepted_.subtype, type->subtype) &&
                       AcceptedGuidMatches(accepted_.formattype, type->formattype);
  return matches ? S_OK : kGrabberTypeRefused;
}

HRESULT K_CSampleGrabber::Receive(IMediaSample* sample) {
  if (input_->SampleProperties().dwStreamId != 0)
    return output_->IsConnected() ? output_->DeliverSample(sample) : S_OK;
  IMediaSample* copy = nullptr;
  if (UsesTwoAllocators()) {
    const HRESULT copied = CopySample(sample, &copy);
    if (FAILED(copied)) return copied;
  }
  IMediaSample* working = copy != nullptr ? copy : sample;
  HRESULT result = TransformInPlace(working);
  if (result == S_OK) result = output_->DeliverSample(working);
  if (copy != nullptr) copy->Release();
  return result;
}

HRESULT K_CSampleGrabber::TransformInPlace(IMediaSample* sample) {
  K_CAutoLock guard(grabberLock_.Get());
  if (callback_ == nullptr) return S_OK;
  REFERENCE_TIME start = 0, stop = 0;
  sample->GetTime(&start, &stop);
  // The callback hears stream times: the sample's times count from the segment's start.
  const REFERENCE_TIME segmentStart = input_->SegmentStart();
  start += segmentStart;
  stop += segmentStart;
  const BOOL typeChanged = static_cast<K_CSampleGrabberInputPin*>(input_)->TakeTypeChanged();
  return callback_(sample, &start, &stop, typeChanged, user_);
}

HRESULT K_CSampleGrabber::CopyAcceptedType(MediaTypeObject* type) {
  if (type == nullptr) return E_POINTER;
  K_CAutoLock guard(grabberLock_.Get());
  return CopyMediaType(type, &accepted_);
}

HRESULT K_CSampleGrabber::SetAcceptedType(const MediaTypeObject* type) {
  K_CAutoLock guard(grabberLock_.Get());
  if (type == nullptr) {
    ReleaseMediaTypeContents(&accepted_);
    ClearMediaType(&accepted_);
    return S_OK;
  }
  return AssignMediaType(&accepted_, type);
}

HRESULT K_CSampleGrabber::GetConnectionType(MediaTypeObject* type) {
  if (type == nullptr) return E_POINTER;
  K_CPinBase* input = PinAt(0);
  if (input == nullptr) return VFW_E_NOT_CONNECTED;
  return input->ConnectionMediaType(type);
}

HRESULT K_CSampleGrabber::SetSampleCallback(SampleGrabberCallback callback, void* user) {
  K_CAutoLock guard(grabberLock_.Get());
  callback_ = callback;
  user_ = user;
  return S_OK;
}

HRESULT K_CSampleGrabber::SetOwnBuffer(ALLOCATOR_PROPERTIES* properties, BYTE* buffer) {
  if (PinAt(0) == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_);
  if (input_->IsConnected() || output_->IsConnected()) return E_INVALIDARG;
  return static_cast<K_CSampleGrabberInputPin*>(input_)->SetOwnBuffer(properties, buffer);
}

K_CSampleGrabber* CreateSampleGrabber(IUnknown* outer, HRESULT* result) {
  auto* grabber = new (std::nothrow) K_CSampleGrabber(outer);
  if (result != nullptr) *result = grabber != nullptr ? S_OK : E_OUTOFMEMORY;
  return grabber;
}
