// Built without GStreamer: the graph's GStreamer source opens no file.
#include "platform/dshow/dshow.h"

HRESULT CreateGStreamerSourceFilter(LPCWSTR path, IBaseFilter** filter) {
  if (path == nullptr || filter == nullptr) return E_POINTER;
  *filter = nullptr;
  return VFW_E_UNSUPPORTED_STREAM;
}
