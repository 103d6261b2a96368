// The renderer base: the input pin's sample path, waiting for each sample's time on the
// reference clock, pause completion, flushing, and end of stream reported to the graph.
#include "media/dshow_renderer.h"

#include <new>

#include "media/dshow_position.h"
#include "platform/win32/user.h"
#include "platform/winmm/winmm.h"

constexpr HRESULT VFW_E_SAMPLE_REJECTED = static_cast<HRESULT>(0x8004022Bu);
constexpr HRESULT VFW_E_STATE_CHANGED = static_cast<HRESULT>(0x80040223u);

DWORD WaitDispatchingMessages(HANDLE handle, DWORD milliseconds) {
  DWORD result = WaitForSingleObject(handle, 0);
  if (result != WAIT_TIMEOUT) return result;
  const DWORD begin = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - begin;
    if (milliseconds != INFINITE && elapsed >= milliseconds) return WAIT_TIMEOUT;
    DWORD slice = 10;
    if (milliseconds != INFINITE && milliseconds - elapsed < slice) slice = milliseconds - elapsed;
    result = WaitForSingleObject(handle, slice);
    if (result != WAIT_TIMEOUT) return result;
    // Looking at the queue answers what other threads have sent to this thread's windows.
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
  }
}

K_CRendererPin::K_CRendererPin(K_CRendererBase* renderer, HRESULT* result)
    : K_CInputPinBase(u"Renderer pin", renderer, renderer->Lock(), result, u"In"),
      renderer_(renderer) {}

HRESULT K_CRendererPin::EndOfStream() {
  K_CAutoLock interfaceGuard(renderer_->Lock());
  K_CAutoLock rendererGuard(renderer_->RendererLock());
  const HRESULT streaming = CheckStreaming();
  if (streaming != S_OK) return streaming;
  return renderer_->MarkEndOfStream();
}

HRESULT K_CRendererPin::BeginFlush() {
  {
    K_CAutoLock interfaceGuard(renderer_->Lock());
    K_CInputPinBase::BeginFlush();
    renderer_->OnBeginFlush();
  }
  renderer_->ClearEndOfStream();
  return S_OK;
}

HRESULT K_CRendererPin::EndFlush() {
  K_CAutoLock interfaceGuard(renderer_->Lock());
  renderer_->OnEndFlush();
  return K_CInputPinBase::EndFlush();
}

HRESULT K_CRendererPin::CheckReceive(IMediaSample* sample) {
  const HRESULT result = K_CInputPinBase::Receive(sample);
  if (result != S_OK) return result;
  if ((properties_.dwSampleFlags & AM_SAMPLE_TYPECHANGED) != 0 && properties_.pMediaType != nullptr)
    return TakeMediaType(properties_.pMediaType);
  return S_OK;
}

HRESULT K_CRendererPin::Receive(IMediaSample* sample) {
  const HRESULT result = renderer_->ReceiveSample(sample);
  if (FAILED(result)) {
    // One report per activation, and none for what a stop, a flush or an abort explains.
    K_CAutoLock guard(renderer_->RendererLock());
    if (!errorReported && !renderer_->IsStopped() && !flushing_ && !renderer_->IsAborted()) {
      errorReported = true;
      renderer_->PostFilterEvent(EC_ERRORABORT, result, 0);
      renderer_->SetAborted();
      if (renderer_->IsStreaming() && !renderer_->EndOfStreamSent())
        renderer_->PostFilterEvent(EC_COMPLETE, S_OK, 0);
    }
  }
  return result;
}

HRESULT K_CRendererPin::QueryId(LPWSTR* id) { return CopyStringToTaskMemory(u"In", id); }

HRESULT K_CRendererPin::BreakPeer() {
  const HRESULT result = renderer_->OnDisconnect();
  if (FAILED(result)) return result;
  return K_CInputPinBase::BreakPeer();
}

HRESULT K_CRendererPin::CompletePeer(IPin* pin) {
  const HRESULT result = renderer_->OnConnected();
  if (FAILED(result)) return result;
  return K_CInputPinBase::CompletePeer(pin);
}

HRESULT K_CRendererPin::AcceptsMediaType(const MediaTypeObject* type) {
  return renderer_->AcceptsMediaType(type);
}

HRESULT K_CRendererPin::TakeMediaType(const MediaTypeObject* type) {
  const HRESULT result = K_CInputPinBase::TakeMediaType(type);
  if (FAILED(result)) return result;
  return renderer_->TakeMediaType(type);
}

HRESULT K_CRendererPin::PinActive() { return renderer_->OnActive(); }

HRESULT K_CRendererPin::PinInactive() {
  errorReported = false;
  return renderer_->OnInactive();
}

K_CRendererBase::K_CRendererBase(REFCLSID clsid, LPCWSTR name, IUnknown* outer, HRESULT*)
    : K_CFilterBase(name, outer, nullptr, clsid) {
  lock_ = interfaceLock_.Get();
  renderEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  sourceWaitEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  completeEvent_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
}

K_CRendererBase::~K_CRendererBase() {
  // A timer still pending would call back into a renderer that is gone.
  EndEndOfStreamTimer();
  EndStreaming();
  DropPendingSample();
  if (qualitySink_ != nullptr) qualitySink_->Release();
  if (position_ != nullptr) position_->InnerUnknown()->Release();
  delete pin_;
  CloseHandle(renderEvent_);
  CloseHandle(sourceWaitEvent_);
  CloseHandle(completeEvent_);
}

HRESULT K_CRendererBase::InnerQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IMediaSeeking || riid == IID_IMediaPosition)
    return GetPositionObject(riid, object);
  return K_CFilterBase::InnerQueryInterface(riid, object);
}

K_CPinBase* K_CRendererBase::PinAt(int index) {
  if (index != 0) return nullptr;
  K_CAutoLock guard(creationLock_.Get());
  if (pin_ == nullptr) {
    HRESULT result = S_OK;
    pin_ = new (std::nothrow) K_CRendererPin(this, &result);
  }
  return pin_;
}

HRESULT K_CRendererBase::GetPositionObject(REFIID riid, void** object) {
  {
    K_CAutoLock guard(creationLock_.Get());
    if (position_ == nullptr) {
      HRESULT result = S_OK;
      position_ = new (std::nothrow)
          K_CRendererPassThru(u"Renderer K_CPosPassThru", Owner(), &result, InputPin());
      if (position_ == nullptr) return E_OUTOFMEMORY;
      position_->InnerUnknown()->AddRef();
      if (FAILED(result)) {
        position_->InnerUnknown()->Release();
        position_ = nullptr;
        return E_NOINTERFACE;
      }
    }
  }
  return position_->InnerUnknown()->QueryInterface(riid, object);
}

void K_CRendererBase::SetSourceMayWait(bool mayWait) {
  if (mayWait) {
    ResetEvent(sourceWaitEvent_);
  } else {
    SetEvent(sourceWaitEvent_);
  }
}

HRESULT K_CRendererBase::Stop() {
  K_CAutoLock guard(lock_);
  if (state_ == State_Stopped) return S_OK;
  if (pin_ == nullptr || !pin_->IsConnected()) {
    state_ = State_Stopped;
    return S_OK;
  }
  K_CFilterBase::Stop();
  if (pin_->Allocator() != nullptr) pin_->Allocator()->Decommit();
  EndStreaming();
  SetSourceMayWait(false);
  ClearEndOfStream();
  CancelRenderAdvise();
  SetEvent(completeEvent_);
  // The streaming thread leaves the receive path once it sees the source-wait event.
  while (inReceive_ != 0) Sleep(1);
  aborted_ = false;
  return S_OK;
}

HRESULT K_CRendererBase::Pause() {
  K_CAutoLock guard(lock_);
  const FILTER_STATE old = state_;
  if (old == State_Paused) return FinishStateChange(State_Paused);
  if (pin_ == nullptr || !pin_->IsConnected()) {
    state_ = State_Paused;
    return FinishStateChange(old);
  }
  const HRESULT result = K_CFilterBase::Pause();
  if (FAILED(result)) return result;
  EndStreaming();
  SetSourceMayWait(true);
  CancelRenderAdvise();
  KillEndOfStreamTimer();
  if (pin_->Allocator() != nullptr) pin_->Allocator()->Commit();
  if (old == State_Stopped) {
    aborted_ = false;
    DropPendingSample();
  }
  return FinishStateChange(old);
}

HRESULT K_CRendererBase::Run(REFERENCE_TIME start) {
  K_CAutoLock guard(lock_);
  const FILTER_STATE old = state_;
  if (old == State_Running) return S_OK;
  if (pin_ == nullptr || !pin_->IsConnected()) {
    // A renderer with nothing to render is complete at once: the graph counts it.
    PostFilterEvent(EC_COMPLETE, S_OK, 0);
    start_ = start;
    state_ = State_Running;
    return S_OK;
  }
  SetEvent(completeEvent_);
  const HRESULT result = K_CFilterBase::Run(start);
  if (FAILED(result)) return result;
  SetSourceMayWait(true);
  if (pin_->Allocator() != nullptr) pin_->Allocator()->Commit();
  if (old == State_Stopped) {
    aborted_ = false;
    DropPendingSample();
  }
  return BeginStreaming();
}

HRESULT K_CRendererBase::GetState(DWORD milliseconds, FILTER_STATE* state) {
  if (state == nullptr) return E_POINTER;
  const DWORD waited = WaitDispatchingMessages(completeEvent_, milliseconds);
  *state = state_;
  return waited == WAIT_TIMEOUT ? VFW_S_STATE_INTERMEDIATE : S_OK;
}

HRESULT K_CRendererBase::WaitUntilRenderTime() {
  OnWaitBegin();
  const HANDLE events[2] = {sourceWaitEvent_, renderEvent_};
  DWORD which = WAIT_TIMEOUT;
  while (which == WAIT_TIMEOUT) which = WaitForMultipleObjects(2, events, FALSE, 10000);
  OnWaitFinish();
  if (which == WAIT_OBJECT_0) return VFW_E_STATE_CHANGED;
  if (which != WAIT_OBJECT_0 + 1) return E_FAIL;
  // The advise has fired; a stop on another thread may be cancelling it at the same moment.
  K_CAutoLock guard(rendererLock_.Get());
  adviseCookie_ = 0;
  return S_OK;
}

HRESULT K_CRendererBase::FinishStateChange(FILTER_STATE oldState) {
  K_CAutoLock guard(rendererLock_.Get());
  if (pin_ == nullptr || !pin_->IsConnected() || endOfStream_ ||
      (pending_ != nullptr && oldState != State_Stopped)) {
    SetEvent(completeEvent_);
    return S_OK;
  }
  ResetEvent(completeEvent_);
  return S_FALSE;
}

bool K_CRendererBase::ScheduleRender(IMediaSample* sample) {
  REFERENCE_TIME start = 0, stop = 0;
  const HRESULT result = ReadSampleTimes(sample, &start, &stop);
  if (FAILED(result)) return false;
  if (result == S_FALSE) {
    if (clock_ == nullptr) return false;
    return SUCCEEDED(clock_->AdviseTime(start_, start, renderEvent_, &adviseCookie_));
  }
  SetEvent(renderEvent_);
  return true;
}

HRESULT K_CRendererBase::ReadSampleTimes(IMediaSample* sample, REFERENCE_TIME* start,
                                         REFERENCE_TIME* stop) {
  if (FAILED(sample->GetTime(start, stop))) return S_OK;
  if (*stop < *start) return VFW_E_START_TIME_AFTER_END;
  if (clock_ == nullptr) return S_OK;
  return DecideDrawNow(sample, start, stop);
}

void CALLBACK K_CRendererBase::EndOfStreamTimerCallback(UINT id, UINT, DWORD_PTR user, DWORD_PTR,
                                                        DWORD_PTR) {
  reinterpret_cast<K_CRendererBase*>(user)->EndOfStreamTimerFired(id);
}

void K_CRendererBase::EndOfStreamTimerFired(UINT id) {
  // The locks go in their one order, the interface lock first: telling the position object the
  // end of the stream reaches upstream through the pin, and the pin's lock is the interface lock.
  // A state change holding it kills this timer and waits for this callback to return, so the
  // callback does not block on it: it tries again until it has it or the timer is no longer its.
  for (;;) {
    const UINT timer = endOfStreamTimer_;
    if (timer != id && timer != kEndOfStreamTimerStarting) return;
    if (TryEnterCriticalSection(lock_)) break;
    Sleep(0);  // a yield: under virtual time a sleep would wait for the clock to move
  }
  {
    K_CAutoLock guard(rendererLock_.Get());
    UINT expected = id;
    if (endOfStreamTimer_.compare_exchange_strong(expected, 0)) SignalEndOfStream();
  }
  LeaveCriticalSection(lock_);
}

bool K_CRendererBase::StartEndOfStreamTimer(UINT milliseconds, UINT resolution) {
  // Until the id is stored the callback cannot tell its timer from a killed one: it waits.
  endOfStreamTimer_ = kEndOfStreamTimerStarting;
  const UINT id = timeSetEvent(milliseconds, resolution, EndOfStreamTimerCallback,
                               reinterpret_cast<DWORD_PTR>(this), TIME_ONESHOT);
  UINT expected = kEndOfStreamTimerStarting;
  if (id == 0) {
    endOfStreamTimer_.compare_exchange_strong(expected, 0);
    return false;
  }
  // A flush killed the timer while it was starting: it ends here, and the flush clears the end
  // of the stream.
  if (!endOfStreamTimer_.compare_exchange_strong(expected, id)) timeKillEvent(id);
  return true;
}

HRESULT K_CRendererBase::SignalEndOfStream() {
  K_CAutoLock guard(rendererLock_.Get());
  if (!endOfStream_ || endOfStreamSent_ || endOfStreamTimer_ != 0) return S_OK;
  if (clock_ != nullptr) {
    REFERENCE_TIME now = 0;
    if (SUCCEEDED(clock_->GetTime(&now))) {
      const LONGLONG left = (start_ + lastSampleEnd_ - now) / 10000;
      if (left >= 50) {
        if (StartEndOfStreamTimer(static_cast<UINT>(left), 10)) return S_OK;
      }
    }
  }
  if (!streaming_) return S_OK;
  if (position_ != nullptr) position_->RecordEndOfStream();
  endOfStreamSent_ = true;
  PostFilterEvent(EC_COMPLETE, S_OK, 0);
  return S_OK;
}

void K_CRendererBase::KillEndOfStreamTimer() {
  const UINT timer = endOfStreamTimer_.exchange(0);
  if (timer != 0 && timer != kEndOfStreamTimerStarting) timeKillEvent(timer);
}

void K_CRendererBase::EndEndOfStreamTimer() {
  // A callback inside the locks finishes first (it may start another timer), then whatever is
  // pending is killed, which waits for a callback already running.
  { K_CAutoLock guard(lock_); }
  KillEndOfStreamTimer();
}

void K_CRendererBase::ClearEndOfStream() {
  KillEndOfStreamTimer();
  K_CAutoLock guard(rendererLock_.Get());
  lastSampleEnd_ = 0;
  endOfStream_ = false;
  endOfStreamSent_ = false;
}

HRESULT K_CRendererBase::MarkEndOfStream() {
  K_CAutoLock guard(rendererLock_.Get());
  if (state_ == State_Stopped) return S_OK;
  endOfStream_ = true;
  if (pending_ != nullptr) return S_OK;
  SetEvent(completeEvent_);
  if (streaming_) return SignalEndOfStream();
  return S_OK;
}

HRESULT K_CRendererBase::CancelRenderAdvise() {
  K_CAutoLock guard(rendererLock_.Get());
  const DWORD_PTR cookie = adviseCookie_;
  adviseCookie_ = 0;
  if (cookie != 0 && clock_ != nullptr) clock_->Unadvise(cookie);
  ResetEvent(renderEvent_);
  return cookie != 0 ? S_OK : S_FALSE;
}

void K_CRendererBase::DropPendingSample() {
  K_CAutoLock guard(rendererLock_.Get());
  if (pending_ != nullptr) pending_->Release();
  pending_ = nullptr;
}

HRESULT K_CRendererBase::OnInactive() {
  if (position_ != nullptr) position_->ResetMediaTimes();
  DropPendingSample();
  return S_OK;
}

HRESULT K_CRendererBase::BeginStreaming() {
  K_CAutoLock guard(rendererLock_.Get());
  if (streaming_) return S_OK;
  streaming_ = true;
  timeBeginPeriod(1);
  OnStreamingBegin();
  if (pending_ == nullptr) return SignalEndOfStream();
  if (!ScheduleRender(pending_)) SetEvent(renderEvent_);
  return S_OK;
}

HRESULT K_CRendererBase::EndStreaming() {
  K_CAutoLock guard(rendererLock_.Get());
  endOfStreamSent_ = false;
  if (streaming_) {
    streaming_ = false;
    OnStreamingEnd();
    timeEndPeriod(1);
  }
  return S_OK;
}

HRESULT K_CRendererBase::OnBeginFlush() {
  if (state_ == State_Paused) ResetEvent(completeEvent_);
  SetSourceMayWait(false);
  CancelRenderAdvise();
  DropPendingSample();
  while (inReceive_ != 0) Sleep(1);
  return S_OK;
}

HRESULT K_CRendererBase::OnEndFlush() {
  if (position_ != nullptr) position_->ResetMediaTimes();
  SetSourceMayWait(true);
  return S_OK;
}

HRESULT K_CRendererBase::OnDisconnect() {
  if (qualitySink_ != nullptr) qualitySink_->Release();
  qualitySink_ = nullptr;
  if (pin_ == nullptr || !pin_->IsConnected()) return S_FALSE;
  if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
  ClearEndOfStream();
  DropPendingSample();
  aborted_ = false;
  return S_OK;
}

HRESULT K_CRendererBase::OnConnected() {
  aborted_ = false;
  if (state_ == State_Running) return BeginStreaming();
  return S_OK;
}

HRESULT K_CRendererBase::PrepareSample(IMediaSample* sample) {
  {
    K_CAutoLock guard(lock_);
    inReceive_ = 1;
    const HRESULT check = InputPin()->CheckReceive(sample);
    if (check != S_OK) {
      inReceive_ = 0;
      return FAILED(check) ? check : E_FAIL;
    }
  }
  K_CAutoLock guard(rendererLock_.Get());
  if (pending_ != nullptr || endOfStream_ || aborted_) {
    SetEvent(completeEvent_);
    inReceive_ = 0;
    return E_UNEXPECTED;
  }
  if (position_ != nullptr) position_->RecordSampleTimes(sample);
  if (streaming_ && !ScheduleRender(sample)) return VFW_E_SAMPLE_REJECTED;
  REFERENCE_TIME start = 0, stop = 0;
  if (SUCCEEDED(sample->GetTime(&start, &stop))) lastSampleEnd_ = stop;
  pending_ = sample;
  pending_->AddRef();
  return S_OK;
}

HRESULT K_CRendererBase::ReceiveSample(IMediaSample* sample) {
  HRESULT result = PrepareSample(sample);
  if (result == VFW_E_SAMPLE_REJECTED) {
    inReceive_ = 0;
    return S_OK;
  }
  if (FAILED(result)) return result;
  if (state_ == State_Paused) {
    BeforeRender();
    inReceive_ = 0;
    K_CAutoLock guard(lock_);
    if (state_ == State_Stopped) return S_OK;
    inReceive_ = 1;
    {
      K_CAutoLock rendererGuard(rendererLock_.Get());
      OnFirstSample(sample);
    }
    SetEvent(completeEvent_);
  }
  result = WaitUntilRenderTime();
  if (FAILED(result)) {
    inReceive_ = 0;
    return S_OK;
  }
  BeforeRender();
  inReceive_ = 0;
  K_CAutoLock guard(lock_);
  if (state_ == State_Stopped) return S_OK;
  K_CAutoLock rendererGuard(rendererLock_.Get());
  IMediaSample* pending = pending_;
  if (pending != nullptr) pending->AddRef();
  RenderPendingSample(pending);
  if (pending != nullptr) pending->Release();
  DropPendingSample();
  SignalEndOfStream();
  CancelRenderAdvise();
  return S_OK;
}

bool K_CRendererBase::HasPendingSample() {
  K_CAutoLock guard(rendererLock_.Get());
  return pending_ != nullptr;
}

IMediaSample* K_CRendererBase::GetPendingSample() {
  K_CAutoLock guard(rendererLock_.Get());
  if (pending_ != nullptr) pending_->AddRef();
  return pending_;
}

HRESULT K_CRendererBase::RenderPendingSample(IMediaSample* sample) {
  if (sample == nullptr || !streaming_) return S_FALSE;
  OnBeforeRender(sample);
  RenderSample(sample);
  OnAfterRender(sample);
  return S_OK;
}
