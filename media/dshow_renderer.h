// The renderer bases: one input pin, one pending sample shown at its time on the reference clock,
// end of stream reported to the graph; and the video policy that draws, waits or drops frames.
#pragma once

#include "media/dshow_framework.h"

class K_CRendererBase;
class K_CRendererPassThru;

// Waits for the handle while answering the messages other threads send to this thread's windows,
// so that a thread which has to send one before it can signal the handle does not block the
// waiter until its time runs out. WAIT_OBJECT_0 or WAIT_TIMEOUT.
DWORD WaitDispatchingMessages(HANDLE handle, DWORD milliseconds);

class K_CRendererPin : public K_CInputPinBase {
 public:
  K_CRendererPin(K_CRendererBase* renderer, HRESULT* result);
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT QueryId(LPWSTR* id) override;
  HRESULT BreakPeer() override;
  HRESULT CompletePeer(IPin* pin) override;
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override;
  HRESULT TakeMediaType(const MediaTypeObject* type) override;
  HRESULT PinActive() override;
  HRESULT PinInactive() override;
  // The streaming check and a media type change carried by the sample.
  HRESULT CheckReceive(IMediaSample* sample);
  bool errorReported = false;

 private:
  K_CRendererBase* renderer_;
};

class K_CRendererBase : public K_CFilterBase {
 public:
  K_CRendererBase(REFCLSID clsid, LPCWSTR name, IUnknown* outer, HRESULT* result);
  ~K_CRendererBase() override;
  HRESULT InnerQueryInterface(REFIID riid, void** object) override;
  int PinCount() override { return 1; }
  K_CPinBase* PinAt(int index) override;

  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) override;

  virtual HRESULT GetPositionObject(REFIID riid, void** object);
  virtual void SetSourceMayWait(bool mayWait);
  virtual HRESULT WaitUntilRenderTime();
  virtual HRESULT FinishStateChange(FILTER_STATE oldState);
  virtual void OnFirstSample(IMediaSample*) {}
  virtual void OnBeforeRender(IMediaSample*) {}
  virtual void OnAfterRender(IMediaSample*) {}
  virtual HRESULT OnStreamingBegin() { return S_OK; }
  virtual HRESULT OnStreamingEnd() { return S_OK; }
  virtual void OnWaitBegin() {}
  virtual void OnWaitFinish() {}
  virtual void BeforeRender() {}
  virtual bool ScheduleRender(IMediaSample* sample);
  virtual HRESULT ReadSampleTimes(IMediaSample* sample, REFERENCE_TIME* start,
                                  REFERENCE_TIME* stop);
  virtual HRESULT DecideDrawNow(IMediaSample*, REFERENCE_TIME*, REFERENCE_TIME*) { return S_FALSE; }
  virtual HRESULT SignalEndOfStream();
  virtual void ClearEndOfStream();
  virtual HRESULT MarkEndOfStream();
  virtual HRESULT CancelRenderAdvise();
  virtual void DropPendingSample();
  virtual HRESULT OnActive() { return S_OK; }
  virtual HRESULT OnInactive();
  virtual HRESULT BeginStreaming();
  virtual HRESULT EndStreaming();
  virtual HRESULT OnBeginFlush();
  virtual HRESULT OnEndFlush();
  virtual HRESULT OnDisconnect();
  virtual HRESULT TakeMediaType(const MediaTypeObject*) { return S_OK; }
  virtual HRESULT OnConnected();
  virtual HRESULT PrepareSample(IMediaSample* sample);
  virtual HRESULT ReceiveSample(IMediaSample* sample);
  virtual bool HasPendingSample();
  virtual IMediaSample* GetPendingSample();
  virtual HRESULT RenderPendingSample(IMediaSample* sample);
  virtual HRESULT RenderSample(IMediaSample* sample) = 0;
  virtual HRESULT AcceptsMediaType(const MediaTypeObject* type) = 0;

  K_CRendererPin* InputPin() { return static_cast<K_CRendererPin*>(PinAt(0)); }
  bool IsStreaming() const { return streaming_; }
  bool EndOfStreamSent() const { return endOfStreamSent_; }
  bool IsAborted() const { return aborted_; }
  void SetAborted() { aborted_ = true; }
  CRITICAL_SECTION* RendererLock() { return rendererLock_.Get(); }

 protected:
  static void CALLBACK EndOfStreamTimerCallback(UINT id, UINT, DWORD_PTR user, DWORD_PTR,
                                                DWORD_PTR);
  void EndOfStreamTimerFired(UINT id);
  // Starts the one-shot end-of-stream timer; false when none could be started.
  bool StartEndOfStreamTimer(UINT milliseconds, UINT resolution);
  void KillEndOfStreamTimer();
  // For destructors: no callback runs or is pending afterwards.
  void EndEndOfStreamTimer();
  static constexpr UINT kEndOfStreamTimerStarting = ~0u;

  K_CRendererPassThru* position_ = nullptr;
  HANDLE renderEvent_;
  HANDLE sourceWaitEvent_;
  HANDLE completeEvent_;
  std::atomic<bool> aborted_{false};
  std::atomic<bool> streaming_{false};
  DWORD_PTR adviseCookie_ = 0;
  IMediaSample* pending_ = nullptr;
  bool endOfStream_ = false;
  bool endOfStreamSent_ = false;
  K_CRendererPin* pin_ = nullptr;
  K_CCritSec interfaceLock_;
  K_CCritSec rendererLock_;
  IQualityControl* qualitySink_ = nullptr;
  std::atomic<LONG> inReceive_{0};
  REFERENCE_TIME lastSampleEnd_ = 0;
  std::atomic<UINT> endOfStreamTimer_{0};
  K_CCritSec creationLock_;
};

class K_CVideoRendererBase : public K_CRendererBase, public IQualityControl, public IQualProp {
 public:
  K_CVideoRendererBase(REFCLSID clsid, LPCWSTR name, IUnknown* outer, HRESULT* result);
  HRESULT QueryInterface(REFIID riid, void** object) override {
    return Owner()->QueryInterface(riid, object);
  }
  ULONG AddRef() override { return Owner()->AddRef(); }
  ULONG Release() override { return Owner()->Release(); }
  HRESULT InnerQueryInterface(REFIID riid, void** object) override;
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;

  void OnBeforeRender(IMediaSample* sample) override;
  void OnAfterRender(IMediaSample* sample) override;
  HRESULT OnStreamingBegin() override;
  HRESULT OnStreamingEnd() override;
  bool ScheduleRender(IMediaSample* sample) override;
  HRESULT DecideDrawNow(IMediaSample* sample, REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
  HRESULT OnDisconnect() override;
  virtual void RecordLateness(REFERENCE_TIME lateness, REFERENCE_TIME frameTime);
  // For a renderer that draws without RenderSample: the statistics as if it had.
  virtual void OnRenderedDirectly(IMediaSample* sample);
  virtual void ResetTimingStats();
  virtual HRESULT SendQualityMessage(REFERENCE_TIME lateness, REFERENCE_TIME streamTime);

  HRESULT Notify(IBaseFilter* sender, Quality quality) override;
  HRESULT SetSink(IQualityControl* sink) override;

  HRESULT get_FramesDroppedInRenderer(int* frames) override;
  HRESULT get_FramesDrawn(int* frames) override;
  HRESULT get_AvgFrameRate(int* rate) override;
  HRESULT get_Jitter(int* jitter) override;
  HRESULT get_AvgSyncOffset(int* offset) override;
  HRESULT get_DevSyncOffset(int* deviation) override;

  // The timing statistics, open to the tests of the draw policy.
  struct TimingStats {
    int lateRun = 0;
    bool supplierHandlesQuality = false;
    REFERENCE_TIME throttle = 0;
    REFERENCE_TIME averageRenderTime = 0;
    REFERENCE_TIME lastRenderTime = 0;
    DWORD renderStartMs = 0;
    REFERENCE_TIME earliness = 0;
    REFERENCE_TIME waitAverage = 0;
    REFERENCE_TIME frameEstimate = -1;
    REFERENCE_TIME lastFrameLength = 0;
    REFERENCE_TIME adjustedStart = 0;
    int framesDropped = 0;
    int framesDrawn = 0;
    LONGLONG latenessSum = 0, latenessSquareSum = 0;
    LONGLONG frameTimeSquareSum = 0, frameTimeSum = 0;
    REFERENCE_TIME lastDrawTime = -1000;
    REFERENCE_TIME pendingLateness = 0, pendingFrameTime = 0;
    DWORD streamingMs = 0;
  };
  TimingStats stats;

 protected:
  // After each render: the sleep that the source's quality notices asked for.
  void SleepForThrottle();
};
