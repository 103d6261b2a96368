// Seeking pass-through: forwards every call to the filter upstream of the input pin.
#include "media/dshow_position.h"

K_CPosPassThru::K_CPosPassThru(LPCWSTR, IUnknown* outer, HRESULT* result, IPin* pin)
    : K_CComBase(outer), pin_(pin) {
  if (pin == nullptr && result != nullptr) *result = E_POINTER;
}

HRESULT K_CPosPassThru::InnerQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), object);
  return K_CComBase::InnerQueryInterface(riid, object);
}

IMediaSeeking* K_CPosPassThru::Upstream() {
  if (pin_ == nullptr) return nullptr;
  IPin* connected = nullptr;
  if (FAILED(pin_->ConnectedTo(&connected)) || connected == nullptr) return nullptr;
  IMediaSeeking* seeking = nullptr;
  if (FAILED(connected->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking))))
    seeking = nullptr;
  connected->Release();
  return seeking;
}

HRESULT K_CPosPassThru::GetMediaTimes(LONGLONG*, LONGLONG*) { return E_FAIL; }

// Each call reaches the upstream interface afresh and lets it go afterwards.
#define K_PASS_UPSTREAM(call)                \
  IMediaSeeking* upstream = Upstream();      \
  if (upstream == nullptr) return E_NOTIMPL; \
  const HRESULT result = upstream->call;     \
  upstream->Release();                       \
  return result

HRESULT K_CPosPassThru::GetCapabilities(DWORD* capabilities) {
  K_PASS_UPSTREAM(GetCapabilities(capabilities));
}
HRESULT K_CPosPassThru::CheckCapabilities(DWORD* capabilities) {
  K_PASS_UPSTREAM(CheckCapabilities(capabilities));
}
HRESULT K_CPosPassThru::IsFormatSupported(const GUID* format) {
  K_PASS_UPSTREAM(IsFormatSupported(format));
}
HRESULT K_CPosPassThru::QueryPreferredFormat(GUID* format) {
  K_PASS_UPSTREAM(QueryPreferredFormat(format));
}
HRESULT K_CPosPassThru::GetTimeFormat(GUID* format) { K_PASS_UPSTREAM(GetTimeFormat(format)); }
HRESULT K_CPosPassThru::IsUsingTimeFormat(const GUID* format) {
  K_PASS_UPSTREAM(IsUsingTimeFormat(format));
}
HRESULT K_CPosPassThru::SetTimeFormat(const GUID* format) {
  K_PASS_UPSTREAM(SetTimeFormat(format));
}
HRESULT K_CPosPassThru::GetDuration(LONGLONG* duration) { K_PASS_UPSTREAM(GetDuration(duration)); }
HRESULT K_CPosPassThru::GetStopPosition(LONGLONG* stop) { K_PASS_UPSTREAM(GetStopPosition(stop)); }
HRESULT K_CPosPassThru::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat,
                                          LONGLONG source, const GUID* sourceFormat) {
  K_PASS_UPSTREAM(ConvertTimeFormat(target, targetFormat, source, sourceFormat));
}
HRESULT K_CPosPassThru::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                     DWORD stopFlags) {
  K_PASS_UPSTREAM(SetPositions(current, currentFlags, stop, stopFlags));
}
HRESULT K_CPosPassThru::GetPositions(LONGLONG* current, LONGLONG* stop) {
  K_PASS_UPSTREAM(GetPositions(current, stop));
}
HRESULT K_CPosPassThru::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  K_PASS_UPSTREAM(GetAvailable(earliest, latest));
}
HRESULT K_CPosPassThru::GetRate(double* rate) { K_PASS_UPSTREAM(GetRate(rate)); }
HRESULT K_CPosPassThru::GetPreroll(LONGLONG* preroll) { K_PASS_UPSTREAM(GetPreroll(preroll)); }

HRESULT K_CPosPassThru::SetRate(double rate) {
  if (rate == 0.0) return E_INVALIDARG;
  K_PASS_UPSTREAM(SetRate(rate));
}

HRESULT K_CPosPassThru::GetCurrentPosition(LONGLONG* current) {
  if (current == nullptr) return E_POINTER;
  if (SUCCEEDED(GetMediaTimes(current, nullptr))) return S_OK;
  K_PASS_UPSTREAM(GetCurrentPosition(current));
}

K_CRendererPassThru::K_CRendererPassThru(LPCWSTR name, IUnknown* outer, HRESULT* result, IPin* pin)
    : K_CPosPassThru(name, outer, result, pin) {}

HRESULT K_CRendererPassThru::GetMediaTimes(LONGLONG* current, LONGLONG* stop) {
  LONGLONG mediaStart = 0, mediaStop = 0;
  {
    K_CAutoLock guard(lock_.Get());
    if (reset_) return E_FAIL;
    mediaStart = mediaStart_;
    mediaStop = mediaStop_;
  }
  // Upstream is reached without this object's lock: the streaming thread takes the pin's lock
  // first and this one second when it records the end of the stream.
  IMediaSeeking* upstream = Upstream();
  if (upstream == nullptr) return E_FAIL;
  // The times are media times; the caller sees them in the upstream filter's time format.
  HRESULT result =
      upstream->ConvertTimeFormat(current, nullptr, mediaStart, &TIME_FORMAT_MEDIA_TIME);
  if (SUCCEEDED(result) && stop != nullptr)
    result = upstream->ConvertTimeFormat(stop, nullptr, mediaStop, &TIME_FORMAT_MEDIA_TIME);
  upstream->Release();
  return result;
}

void K_CRendererPassThru::RecordSampleTimes(IMediaSample* sample) {
  K_CAutoLock guard(lock_.Get());
  REFERENCE_TIME start = 0, stop = 0;
  if (FAILED(sample->GetTime(&start, &stop))) return;
  mediaStart_ = start;
  mediaStop_ = stop;
  reset_ = false;
}

void K_CRendererPassThru::ResetMediaTimes() {
  K_CAutoLock guard(lock_.Get());
  mediaStart_ = 0;
  mediaStop_ = 0;
  reset_ = true;
}

void K_CRendererPassThru::RecordEndOfStream() {
  {
    K_CAutoLock guard(lock_.Get());
    if (reset_) return;
  }
  LONGLONG stop = 0;
  if (FAILED(GetStopPosition(&stop))) return;
  K_CAutoLock guard(lock_.Get());
  mediaStart_ = mediaStop_ = stop;
}
