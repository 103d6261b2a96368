// The engine's filters that the filter graph creates for itself: its source and decoder
// factories and the system classes made of the framework, joined to the graph once.
#pragma once

#include "platform/dshow/dshow.h"

HRESULT CreateAviSourceFilter(LPCWSTR path, IBaseFilter** filter);
HRESULT CreateMpegAudioParser(const AM_MEDIA_TYPE* type, IBaseFilter** filter);
HRESULT CreateDefaultAudioRenderer(const AM_MEDIA_TYPE* type, IBaseFilter** filter);
void RegisterEngineGraphFilters();
