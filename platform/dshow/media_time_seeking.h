// The part of IMediaSeeking that a source pin seeking in media time only answers the same way
// whatever it reads: the time format, its capabilities, conversions, the available range, a rate
// of 1 and no preroll. The pin gives its duration and positions and takes new positions.
#pragma once

#include "platform/dshow/dshow.h"

class MediaTimeSeeking : public IMediaSeeking {
 public:
  HRESULT GetCapabilities(DWORD* c) override { return Answer(c, 0x1F); }
  HRESULT CheckCapabilities(DWORD* c) override { return c == nullptr ? E_POINTER : S_OK; }
  HRESULT IsFormatSupported(const GUID* f) override {
    return f != nullptr && *f == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
  }
  HRESULT QueryPreferredFormat(GUID* f) override { return GetTimeFormat(f); }
  HRESULT GetTimeFormat(GUID* f) override { return Answer(f, TIME_FORMAT_MEDIA_TIME); }
  HRESULT IsUsingTimeFormat(const GUID* f) override { return IsFormatSupported(f); }
  HRESULT SetTimeFormat(const GUID* f) override {
    return IsFormatSupported(f) == S_OK ? S_OK : E_INVALIDARG;
  }
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                            const GUID* sourceFormat) override {
    if (target == nullptr) return E_POINTER;
    if ((targetFormat != nullptr && !(*targetFormat == TIME_FORMAT_MEDIA_TIME)) ||
        (sourceFormat != nullptr && !(*sourceFormat == TIME_FORMAT_MEDIA_TIME)))
      return E_INVALIDARG;
    *target = source;
    return S_OK;
  }
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override {
    if (current != nullptr) GetCurrentPosition(current);
    if (stop != nullptr) GetStopPosition(stop);
    return S_OK;
  }
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override {
    if (earliest != nullptr) *earliest = 0;
    return latest != nullptr ? GetDuration(latest) : S_OK;
  }
  HRESULT SetRate(double rate) override { return rate == 1.0 ? S_OK : E_INVALIDARG; }
  HRESULT GetRate(double* rate) override { return Answer(rate, 1.0); }
  HRESULT GetPreroll(LONGLONG* preroll) override { return Answer(preroll, 0LL); }

 protected:
  template <class T, class V>
  static HRESULT Answer(T* out, V value) {
    if (out == nullptr) return E_POINTER;
    *out = static_cast<T>(value);
    return S_OK;
  }
};
