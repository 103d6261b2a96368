// The in-place transform and the sample grabber: samples pass from the input pin through the
// transform to the output pin's downstream peer without a copy.
#include "media/dshow_sample_grabber.h"

#include <new>

namespace {
constexpr CLSID CLSID_SampleGrabber = {
    0x2FA4F053, 0x6D60, 0x4CB0, {0x95, 0x03, 0x8E, 0x89, 0x23, 0x4F, 0x3F, 0x73}};
constexpr HRESULT kGrabberTypeRefused = static_cast<HRESULT>(0x80040248u);
}  // namespace

K_CInPlaceTransformInputPin::K_CInPlaceTransformInputPin(K_CInPlaceTransformFilter* filter,
                                                         CRITICAL_SECTION* lock)
    : K_CInputPinBase(u"Transform input", filter, lock, nullptr, u"Input"), transform_(filter) {}

HRESULT K_CInPlaceTransformInputPin::AcceptsMediaType(const MediaTypeObject* type) {
  if (type == nullptr) return E_POINTER;
  return transform_->AcceptsInput(type);
}

HRESULT K_CInPlaceTransformInputPin::Receive(IMediaSample* sample) {
  HRESULT result = K_CInputPinBase::Receive(sample);
  if (result != S_OK) return result;
  result = transform_->TransformInPlace(sample);
  if (FAILED(result)) return result;
  return transform_->Output()->IsConnected() ? transform_->Output()->DeliverSample(sample) : S_OK;
}

HRESULT K_CInPlaceTransformInputPin::EndOfStream() {
  const HRESULT streaming = CheckStreaming();
  if (streaming != S_OK) return streaming;
  return transform_->Output()->IsConnected() ? transform_->Output()->PassEndOfStream() : S_OK;
}

HRESULT K_CInPlaceTransformInputPin::BeginFlush() {
  K_CInputPinBase::BeginFlush();
  return transform_->Output()->IsConnected() ? transform_->Output()->PassBeginFlush() : S_OK;
}

HRESULT K_CInPlaceTransformInputPin::EndFlush() {
  K_CInputPinBase::EndFlush();
  return transform_->Output()->IsConnected() ? transform_->Output()->PassEndFlush() : S_OK;
}

HRESULT K_CInPlaceTransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                                double rate) {
  K_CPinBase::NewSegment(start, stop, rate);
  return transform_->Output()->IsConnected()
             ? transform_->Output()->PassNewSegment(start, stop, rate)
             : S_OK;
}

K_CInPlaceTransformOutputPin::K_CInPlaceTransformOutputPin(K_CInPlaceTransformFilter* filter,
                                                           CRITICAL_SECTION* lock)
    : K_COutputPinBase(u"Transform output", filter, lock, nullptr, u"Output"), transform_(filter) {}

// The output carries exactly what the input was connected with.
HRESULT K_CInPlaceTransformOutputPin::AcceptsMediaType(const MediaTypeObject* type) {
  if (type == nullptr) return E_POINTER;
  if (!transform_->Input()->IsConnected()) return VFW_E_NOT_CONNECTED;
  return MediaTypesEqual(*type, transform_->Input()->ConnectionType()) ? S_OK : S_FALSE;
}

HRESULT K_CInPlaceTransformOutputPin::MediaTypeAt(int position, MediaTypeObject* type) {
  if (!transform_->Input()->IsConnected()) return E_UNEXPECTED;
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  return CopyMediaType(type, &transform_->Input()->ConnectionType());
}

HRESULT K_CInPlaceTransformOutputPin::SizeBuffers(IMemAllocator* allocator,
                                                  ALLOCATOR_PROPERTIES* request) {
  // Samples pass through from upstream; the allocator only completes the connection.
  if (request->cBuffers < 1) request->cBuffers = 1;
  if (request->cbBuffer < 1) request->cbBuffer = 1;
  ALLOCATOR_PROPERTIES actual;
  return allocator->SetProperties(request, &actual);
}

K_CInPlaceTransformFilter::K_CInPlaceTransformFilter(LPCWSTR name, IUnknown* outer, REFCLSID clsid)
    : K_CFilterBase(name, outer, nullptr, clsid),
      input_(this, section_.Get()),
      output_(this, section_.Get()) {
  lock_ = section_.Get();
}

K_CPinBase* K_CInPlaceTransformFilter::PinAt(int index) {
  if (index == 0) return &input_;
  if (index == 1) return &output_;
  return nullptr;
}

K_CSampleGrabber::K_CSampleGrabber(IUnknown* outer)
    : K_CInPlaceTransformFilter(u"SampleGrabber", outer, CLSID_SampleGrabber) {
  ClearMediaType(&accepted_);
  accepted_.bFixedSizeSamples = FALSE;
}

K_CSampleGrabber::~K_CSampleGrabber() { ReleaseMediaTypeContents(&accepted_); }

HRESULT K_CSampleGrabber::InnerQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_K_ISampleGrabberControl)
    return GetInterface(static_cast<K_ISampleGrabberControl*>(this), object);
  return K_CInPlaceTransformFilter::InnerQueryInterface(riid, object);
}

HRESULT K_CSampleGrabber::AcceptsInput(const MediaTypeObject* type) {
  K_CAutoLock guard(grabberLock_.Get());
  return MatchesPartial(*type, accepted_) ? S_OK : kGrabberTypeRefused;
}

HRESULT K_CSampleGrabber::TransformInPlace(IMediaSample* sample) {
  K_CAutoLock guard(grabberLock_.Get());
  if (callback_ == nullptr) return S_OK;
  REFERENCE_TIME start = 0, stop = 0;
  sample->GetTime(&start, &stop);
  const BOOL typeChanged = (input_.SampleProperties().dwSampleFlags & AM_SAMPLE_TYPECHANGED) != 0;
  callback_(sample, &start, &stop, typeChanged, user_);
  return S_OK;
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
  if (!input_.IsConnected()) return VFW_E_NOT_CONNECTED;
  return CopyMediaType(type, &input_.ConnectionType());
}

HRESULT K_CSampleGrabber::SetSampleCallback(SampleGrabberCallback callback, void* user) {
  K_CAutoLock guard(grabberLock_.Get());
  callback_ = callback;
  user_ = user;
  return S_OK;
}

HRESULT K_CSampleGrabber::SetOwnBuffer(ALLOCATOR_PROPERTIES*, BYTE*) { return E_NOTIMPL; }

K_CSampleGrabber* CreateSampleGrabber(IUnknown* outer, HRESULT* result) {
  auto* grabber = new (std::nothrow) K_CSampleGrabber(outer);
  if (result != nullptr) *result = grabber != nullptr ? S_OK : E_OUTOFMEMORY;
  return grabber;
}
