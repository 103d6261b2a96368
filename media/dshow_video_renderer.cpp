// The video renderer's policy: each frame is drawn at once, waits for its time stamp, or is
// dropped when rendering cannot keep up; quality messages ask the source to slow down or catch
// up, and the source's answers set a throttle.
#include <algorithm>

#include "media/dshow_renderer.h"
#include "platform/win32/kernel_arithmetic.h"
#include "platform/winmm/winmm.h"

namespace {

constexpr REFERENCE_TIME kLateLimit = 500000000;

// Three Newton steps from the power of two at or above the root: close enough for statistics
// shown in whole milliseconds.
int IntegerSquareRoot(LONGLONG x) {
  if (x <= 0) return 0;
  if (x > 0x40000000) return 0x8000;
  LONGLONG r = 1;
  while (r * r < x) r *= 2;
  for (int step = 0; step < 3; ++step) r = (x + r * r) / (2 * r);
  return static_cast<int>(r);
}

// The standard deviation of n values from their sum of squares and their sum.
int Deviation(bool haveClock, LONGLONG n, LONGLONG squareSum, LONGLONG sum) {
  if (!haveClock || n <= 1) return 0;
  return IntegerSquareRoot((squareSum - sum * sum / n) / (n - 1));
}

}  // namespace

K_CVideoRendererBase::K_CVideoRendererBase(REFCLSID clsid, LPCWSTR name, IUnknown* outer,
                                           HRESULT* result)
    : K_CRendererBase(clsid, name, outer, result) {
  ResetTimingStats();
}

HRESULT K_CVideoRendererBase::InnerQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), object);
  if (riid == IID_IQualProp) return GetInterface(static_cast<IQualProp*>(this), object);
  return K_CRendererBase::InnerQueryInterface(riid, object);
}

HRESULT K_CVideoRendererBase::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  if (graph == nullptr && graph_ != nullptr && sink_ != nullptr)
    sink_->Notify(EC_WINDOW_DESTROYED, reinterpret_cast<LONG_PTR>(AsBaseFilter()), 0);
  return K_CRendererBase::JoinFilterGraph(graph, name);
}

void K_CVideoRendererBase::ResetTimingStats() {
  const DWORD now = timeGetTime();
  stats = TimingStats{};
  stats.streamingMs = now;
}

HRESULT K_CVideoRendererBase::OnStreamingBegin() {
  ResetTimingStats();
  return S_OK;
}

HRESULT K_CVideoRendererBase::OnStreamingEnd() {
  stats.streamingMs = timeGetTime() - stats.streamingMs;
  return S_OK;
}

bool K_CVideoRendererBase::ScheduleRender(IMediaSample* sample) {
  const bool accepted = K_CRendererBase::ScheduleRender(sample);
  if (!accepted) ++stats.framesDropped;
  return accepted;
}

void K_CVideoRendererBase::OnBeforeRender(IMediaSample*) {
  RecordLateness(stats.pendingLateness, stats.pendingFrameTime);
  stats.renderStartMs = timeGetTime();
}

void K_CVideoRendererBase::OnAfterRender(IMediaSample*) {
  const REFERENCE_TIME t = static_cast<REFERENCE_TIME>(timeGetTime() - stats.renderStartMs) * 10000;
  if (t < 2 * stats.averageRenderTime || t < 2 * stats.lastRenderTime)
    stats.averageRenderTime = (t + 3 * stats.averageRenderTime) / 4;
  stats.lastRenderTime = t;
  SleepForThrottle();
}

void K_CVideoRendererBase::OnRenderedDirectly(IMediaSample*) {
  stats.averageRenderTime = 0;
  stats.lastRenderTime = 5000000;
  RecordLateness(stats.pendingLateness, stats.pendingFrameTime);
  SleepForThrottle();
}

void K_CVideoRendererBase::SleepForThrottle() {
  Sleep(stats.throttle > 0 ? static_cast<DWORD>(stats.throttle / 10000) : 0);
}

void K_CVideoRendererBase::RecordLateness(REFERENCE_TIME lateness, REFERENCE_TIME frameTime) {
  LONGLONG l = lateness / 10000;
  if (l < -1000 || l > 1000) l = stats.framesDrawn <= 1 ? 0 : (l < 0 ? -1000 : 1000);
  if (stats.framesDrawn > 1) {
    stats.latenessSum += l;
    stats.latenessSquareSum += l * l;
  }
  if (stats.framesDrawn > 2) {
    LONGLONG f = frameTime / 10000;
    if (f > 1000 || f < 0) f = 1000;
    stats.frameTimeSquareSum += f * f;
    stats.frameTimeSum += f;
  }
  ++stats.framesDrawn;
}

HRESULT K_CVideoRendererBase::SendQualityMessage(REFERENCE_TIME lateness,
                                                 REFERENCE_TIME streamTime) {
  Quality quality;
  const REFERENCE_TIME estimate = stats.frameEstimate;
  quality.Type = estimate >= 0 && estimate <= 2 * stats.averageRenderTime ? Flood : Famine;
  if (estimate < 0) {
    quality.Proportion = 1000;
  } else if (lateness > 0) {
    quality.Proportion = static_cast<LONG>(std::max<REFERENCE_TIME>(1000 - lateness / 10000, 500));
  } else if (stats.waitAverage > 20000 && lateness < -20000) {
    if (stats.waitAverage < estimate && stats.waitAverage < estimate + 20000) {
      const REFERENCE_TIME ratio = estimate / (estimate - stats.waitAverage + 20000) * 1000;
      quality.Proportion = static_cast<LONG>(std::min<REFERENCE_TIME>(ratio, 2000));
    } else {
      quality.Proportion = 2000;
    }
  } else {
    quality.Proportion = 1000;
  }
  quality.Late = lateness + stats.averageRenderTime / 2;
  quality.TimeStamp = streamTime;
  if (qualitySink_ == nullptr && pin_ != nullptr && pin_->Connected() != nullptr) {
    IQualityControl* upstream = nullptr;
    if (SUCCEEDED(pin_->Connected()->QueryInterface(IID_IQualityControl,
                                                    reinterpret_cast<void**>(&upstream))))
      qualitySink_ = upstream;
  }
  if (qualitySink_ == nullptr) return S_FALSE;
  return qualitySink_->Notify(AsBaseFilter(), quality);
}

HRESULT K_CVideoRendererBase::DecideDrawNow(IMediaSample* sample, REFERENCE_TIME* start,
                                            REFERENCE_TIME* stop) {
  REFERENCE_TIME now = 0;
  if (clock_ != nullptr) clock_->GetTime(&now);
  now -= start_;
  if (*start >= 80000) {
    *start -= 80000;
    *stop -= 80000;
  }
  stats.adjustedStart = *start;
  const REFERENCE_TIME late = std::clamp(now - *start, -kLateLimit, kLateLimit);
  const REFERENCE_TIME frame = *stop - *start;
  stats.supplierHandlesQuality = SendQualityMessage(late, now) == S_OK;
  const REFERENCE_TIME last = stats.lastFrameLength;
  if (frame > last + last / 32 || frame < last - last / 32) {
    stats.frameEstimate = frame;
    stats.lastFrameLength = frame;
  }
  const bool asap =
      (stats.supplierHandlesQuality && sample->IsDiscontinuity() == S_OK) || stats.lateRun == -1;
  if (late > 0) {
    stats.earliness = 0;
  } else if (late < stats.earliness && !asap) {
    stats.earliness -= stats.earliness / 8;
  } else {
    stats.earliness = late;
  }
  const REFERENCE_TIME newWait = (3 * stats.waitAverage + (late < 0 ? -late : 0)) / 4;
  const REFERENCE_TIME sinceDrawFull = now - stats.lastDrawTime;
  const REFERENCE_TIME sinceDraw = std::min<REFERENCE_TIME>(sinceDrawFull, 10000000);
  if (3 * stats.averageRenderTime > stats.frameEstimate) {
    const bool keepsUp = stats.supplierHandlesQuality ? late <= 4 * frame : 2 * late < frame;
    if (!keepsUp && stats.waitAverage <= 80000 && sinceDrawFull <= 10000000) {
      stats.lateRun = -1;
      stats.waitAverage = newWait;
      return E_FAIL;
    }
  }
  const bool drawNow = asap || (stats.frameEstimate > frame + frame / 16 && late > -10 * frame);
  if (late >= -9000000 && drawNow) {
    stats.waitAverage = 3 * stats.waitAverage / 4;
    stats.lateRun = 0;
    stats.frameEstimate = (3 * stats.frameEstimate + sinceDraw) / 4;
    stats.pendingLateness = late;
    stats.pendingFrameTime = sinceDraw;
    stats.lastDrawTime = now;
    stats.earliness = std::min(stats.earliness, late);
    return S_OK;
  }
  stats.lateRun += 1;
  stats.frameEstimate = frame;
  *start += std::max(stats.earliness, -frame);
  stats.waitAverage = newWait;
  if (late < 0) {
    stats.pendingFrameTime = std::clamp(*start - stats.lastDrawTime, -kLateLimit, kLateLimit);
    stats.lastDrawTime = *start;
    stats.pendingLateness = std::clamp(*start - stats.adjustedStart, -kLateLimit, kLateLimit);
    return S_FALSE;
  }
  stats.lastDrawTime = now;
  stats.pendingLateness = late;
  stats.pendingFrameTime = sinceDraw;
  return S_OK;
}

HRESULT K_CVideoRendererBase::OnDisconnect() { return K_CRendererBase::OnDisconnect(); }

HRESULT K_CVideoRendererBase::Notify(IBaseFilter*, Quality quality) {
  K_CAutoLock guard(lock_);
  // A proportion of 0 or below asks for no throttle, and would divide by zero near -167.
  if (quality.Proportion > 0 && quality.Proportion < 1000) {
    stats.throttle = 388880000 / (quality.Proportion + 167) - 330000;
  } else {
    stats.throttle = 0;
  }
  return S_OK;
}

HRESULT K_CVideoRendererBase::SetSink(IQualityControl* sink) {
  K_CAutoLock guard(lock_);
  if (sink != nullptr) sink->AddRef();
  if (qualitySink_ != nullptr) qualitySink_->Release();
  qualitySink_ = sink;
  return S_OK;
}

HRESULT K_CVideoRendererBase::get_FramesDroppedInRenderer(int* frames) {
  if (frames == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_);
  *frames = stats.framesDropped;
  return S_OK;
}

HRESULT K_CVideoRendererBase::get_FramesDrawn(int* frames) {
  if (frames == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_);
  *frames = stats.framesDrawn;
  return S_OK;
}

HRESULT K_CVideoRendererBase::get_AvgFrameRate(int* rate) {
  if (rate == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_);
  const int milliseconds =
      static_cast<int>(streaming_ ? timeGetTime() - stats.streamingMs : stats.streamingMs);
  *rate = milliseconds > 0 ? MulDiv(100000, stats.framesDrawn, milliseconds) : 0;
  return S_OK;
}

HRESULT K_CVideoRendererBase::get_Jitter(int* jitter) {
  if (jitter == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_);
  *jitter = Deviation(clock_ != nullptr, stats.framesDrawn - 2, stats.frameTimeSquareSum,
                      stats.frameTimeSum);
  return S_OK;
}

HRESULT K_CVideoRendererBase::get_AvgSyncOffset(int* offset) {
  if (offset == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_);
  *offset = clock_ != nullptr && stats.framesDrawn > 1
                ? static_cast<int>(stats.latenessSum / (stats.framesDrawn - 1))
                : 0;
  return S_OK;
}

HRESULT K_CVideoRendererBase::get_DevSyncOffset(int* deviation) {
  if (deviation == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_);
  *deviation = Deviation(clock_ != nullptr, stats.framesDrawn - 1, stats.latenessSquareSum,
                         stats.latenessSum);
  return S_OK;
}
