// Seeking and media positions through a filter that has no positions of its own: every call
// goes upstream through the input pin; a renderer's pass-through also answers the current
// position from the sample it shows.
#pragma once

#include "media/dshow_framework.h"

class K_CPosPassThru : public K_CComBase, public IMediaSeeking, public IMediaPosition {
 public:
  // A null pin reports E_POINTER through `result`.
  K_CPosPassThru(LPCWSTR name, IUnknown* outer, HRESULT* result, IPin* pin);
  ~K_CPosPassThru() override;
  K_FORWARD_IUNKNOWN_TO_OWNER
  HRESULT InnerQueryInterface(REFIID riid, void** object) override;
  virtual HRESULT GetMediaTimes(LONGLONG* current, LONGLONG* stop);

  HRESULT GetCapabilities(DWORD* capabilities) override;
  HRESULT CheckCapabilities(DWORD* capabilities) override;
  HRESULT IsFormatSupported(const GUID* format) override;
  HRESULT QueryPreferredFormat(GUID* format) override;
  HRESULT GetTimeFormat(GUID* format) override;
  HRESULT IsUsingTimeFormat(const GUID* format) override;
  HRESULT SetTimeFormat(const GUID* format) override;
  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT GetStopPosition(LONGLONG* stop) override;
  HRESULT GetCurrentPosition(LONGLONG* current) override;
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                            const GUID* sourceFormat) override;
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                       DWORD stopFlags) override;
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  HRESULT SetRate(double rate) override;
  HRESULT GetRate(double* rate) override;
  HRESULT GetPreroll(LONGLONG* preroll) override;

  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                        DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

  HRESULT get_Duration(REFTIME* length) override;
  HRESULT put_CurrentPosition(REFTIME time) override;
  HRESULT get_CurrentPosition(REFTIME* time) override;
  HRESULT get_StopTime(REFTIME* time) override;
  HRESULT put_StopTime(REFTIME time) override;
  HRESULT get_PrerollTime(REFTIME* time) override;
  HRESULT put_PrerollTime(REFTIME time) override;
  HRESULT put_Rate(double rate) override;
  HRESULT get_Rate(double* rate) override;
  HRESULT CanSeekForward(LONG* canSeek) override;
  HRESULT CanSeekBackward(LONG* canSeek) override;

 protected:
  // The upstream pin's interface `riid` with a reference, or null.
  template <class Interface>
  Interface* Upstream(REFIID riid);
  IMediaSeeking* Upstream() { return Upstream<IMediaSeeking>(IID_IMediaSeeking); }
  IPin* pin_;

 private:
  K_CCritSec typeInfoLock_;
  ITypeInfo* typeInfo_ = nullptr;  // IMediaPosition's, once loaded
};

class K_CRendererPassThru : public K_CPosPassThru {
 public:
  K_CRendererPassThru(LPCWSTR name, IUnknown* outer, HRESULT* result, IPin* pin);
  HRESULT GetMediaTimes(LONGLONG* current, LONGLONG* stop) override;
  void RecordSampleTimes(IMediaSample* sample);
  void ResetMediaTimes();
  void RecordEndOfStream();

 private:
  K_CCritSec lock_;
  LONGLONG mediaStart_ = 0;
  LONGLONG mediaStop_ = 0;
  bool reset_ = true;
};
