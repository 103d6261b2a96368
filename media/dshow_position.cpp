// Position pass-through: forwards every seeking and media position call to the filter upstream
// of the input pin, and describes IMediaPosition to automation clients.
#include "media/dshow_position.h"

K_CPosPassThru::K_CPosPassThru(LPCWSTR, IUnknown* outer, HRESULT* result, IPin* pin)
    : K_CComBase(outer), pin_(pin) {
  if (pin == nullptr && result != nullptr) *result = E_POINTER;
}

K_CPosPassThru::~K_CPosPassThru() {
  if (typeInfo_ != nullptr) typeInfo_->Release();
}

HRESULT K_CPosPassThru::InnerQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), object);
  if (riid == IID_IMediaPosition || riid == IID_IDispatch)
    return GetInterface(static_cast<IMediaPosition*>(this), object);
  return K_CComBase::InnerQueryInterface(riid, object);
}

template <class Interface>
Interface* K_CPosPassThru::Upstream(REFIID riid) {
  if (pin_ == nullptr) return nullptr;
  IPin* connected = nullptr;
  if (FAILED(pin_->ConnectedTo(&connected)) || connected == nullptr) return nullptr;
  Interface* answer = nullptr;
  if (FAILED(connected->QueryInterface(riid, reinterpret_cast<void**>(&answer)))) answer = nullptr;
  connected->Release();
  return answer;
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

#define K_PASS_POSITION_UPSTREAM(call)                                     \
  IMediaPosition* upstream = Upstream<IMediaPosition>(IID_IMediaPosition); \
  if (upstream == nullptr) return E_NOTIMPL;                               \
  const HRESULT result = upstream->call;                                   \
  upstream->Release();                                                     \
  return result

HRESULT K_CPosPassThru::get_Duration(REFTIME* length) {
  K_PASS_POSITION_UPSTREAM(get_Duration(length));
}
HRESULT K_CPosPassThru::put_CurrentPosition(REFTIME time) {
  K_PASS_POSITION_UPSTREAM(put_CurrentPosition(time));
}
HRESULT K_CPosPassThru::get_CurrentPosition(REFTIME* time) {
  K_PASS_POSITION_UPSTREAM(get_CurrentPosition(time));
}
HRESULT K_CPosPassThru::get_StopTime(REFTIME* time) {
  K_PASS_POSITION_UPSTREAM(get_StopTime(time));
}
HRESULT K_CPosPassThru::put_StopTime(REFTIME time) { K_PASS_POSITION_UPSTREAM(put_StopTime(time)); }
HRESULT K_CPosPassThru::get_PrerollTime(REFTIME* time) {
  K_PASS_POSITION_UPSTREAM(get_PrerollTime(time));
}
HRESULT K_CPosPassThru::put_PrerollTime(REFTIME time) {
  K_PASS_POSITION_UPSTREAM(put_PrerollTime(time));
}
HRESULT K_CPosPassThru::put_Rate(double rate) {
  if (rate == 0.0) return E_INVALIDARG;
  K_PASS_POSITION_UPSTREAM(put_Rate(rate));
}
HRESULT K_CPosPassThru::get_Rate(double* rate) { K_PASS_POSITION_UPSTREAM(get_Rate(rate)); }
HRESULT K_CPosPassThru::CanSeekForward(LONG* canSeek) {
  K_PASS_POSITION_UPSTREAM(CanSeekForward(canSeek));
}
HRESULT K_CPosPassThru::CanSeekBackward(LONG* canSeek) {
  K_PASS_POSITION_UPSTREAM(CanSeekBackward(canSeek));
}

HRESULT K_CPosPassThru::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

namespace {
using LoadRegTypeLibCall = HRESULT (*)(REFGUID, WORD, WORD, LCID, ITypeLib**);
using LoadTypeLibCall = HRESULT (*)(LPCOLESTR, ITypeLib**);

HRESULT LastErrorResult() { return static_cast<HRESULT>(0x80070000u | GetLastError()); }

// IMediaPosition's type information from the registered library, or from the library file.
HRESULT LoadPositionTypeInfo(LCID locale, ITypeInfo** info) {
  HMODULE module = FrameworkOleAut32();
  if (module == nullptr) return LastErrorResult();
  auto loadRegistered =
      reinterpret_cast<LoadRegTypeLibCall>(GetProcAddress(module, "LoadRegTypeLib"));
  if (loadRegistered == nullptr) return LastErrorResult();
  ITypeLib* library = nullptr;
  HRESULT result = loadRegistered(LIBID_QuartzTypeLib, 1, 0, locale, &library);
  if (FAILED(result)) {
    auto loadFile = reinterpret_cast<LoadTypeLibCall>(GetProcAddress(module, "LoadTypeLib"));
    if (loadFile == nullptr) return LastErrorResult();
    library = nullptr;
    result = loadFile(u"control.tlb", &library);
    if (FAILED(result)) return result;
  }
  if (library == nullptr) return E_FAIL;
  result = library->GetTypeInfoOfGuid(IID_IMediaPosition, info);
  library->Release();
  return result;
}
}  // namespace

HRESULT K_CPosPassThru::GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return TYPE_E_ELEMENTNOTFOUND;
  K_CAutoLock guard(typeInfoLock_.Get());
  if (typeInfo_ == nullptr) {
    ITypeInfo* loaded = nullptr;
    const HRESULT result = LoadPositionTypeInfo(locale, &loaded);
    if (FAILED(result)) return result;
    if (loaded == nullptr) return E_FAIL;
    typeInfo_ = loaded;
  }
  typeInfo_->AddRef();
  *info = typeInfo_;
  return S_OK;
}

HRESULT K_CPosPassThru::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID locale,
                                      DISPID* ids) {
  ITypeInfo* info = nullptr;
  const HRESULT loaded = GetTypeInfo(0, locale, &info);
  if (FAILED(loaded)) return loaded;
  const HRESULT result = info->GetIDsOfNames(names, count, ids);
  info->Release();
  return result;
}

HRESULT K_CPosPassThru::Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  if (!(riid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo* info = nullptr;
  const HRESULT loaded = GetTypeInfo(0, locale, &info);
  if (FAILED(loaded)) return loaded;
  const HRESULT invoked = info->Invoke(static_cast<IMediaPosition*>(this), id, flags, params,
                                       result, exception, argumentError);
  info->Release();
  return invoked;
}
