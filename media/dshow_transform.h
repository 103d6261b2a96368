// The transform filters. The two-buffer transform turns every media sample that reaches the input
// pin into a new sample from the output pin's allocator; the in-place transform, built on it,
// changes each sample where it lies and passes the upstream allocator through to downstream.
#pragma once

#include <atomic>

#include "media/dshow_framework.h"

class K_CTwoBufferTransformFilter;

class K_CTwoBufferTransformInputPin : public K_CInputPinBase {
 public:
  K_CTwoBufferTransformInputPin(LPCWSTR objectName, K_CTwoBufferTransformFilter* filter,
                                HRESULT* result, LPCWSTR pinName);
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override;
  HRESULT TakeMediaType(const MediaTypeObject* type) override;
  HRESULT CheckPeer(IPin* pin) override;
  HRESULT BreakPeer() override;
  HRESULT CompletePeer(IPin* pin) override;
  HRESULT CheckStreaming() override;

  HRESULT QueryId(LPWSTR* id) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  REFERENCE_TIME SegmentStart() const { return segmentStart_; }

 protected:
  K_CTwoBufferTransformFilter* transform_;
};

class K_CTwoBufferTransformOutputPin : public K_COutputPinBase {
 public:
  K_CTwoBufferTransformOutputPin(LPCWSTR objectName, K_CTwoBufferTransformFilter* filter,
                                 HRESULT* result, LPCWSTR pinName);
  ~K_CTwoBufferTransformOutputPin() override;
  HRESULT InnerQueryInterface(REFIID riid, void** object) override;
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override;
  HRESULT TakeMediaType(const MediaTypeObject* type) override;
  HRESULT MediaTypeAt(int position, MediaTypeObject* type) override;
  HRESULT CheckPeer(IPin* pin) override;
  HRESULT BreakPeer() override;
  HRESULT CompletePeer(IPin* pin) override;
  HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

  HRESULT QueryId(LPWSTR* id) override;
  HRESULT Notify(IBaseFilter* self, Quality quality) override;

 protected:
  // Made on the first query for a position interface: the system's seeking pass-through,
  // aggregated into this pin and looking upstream through the filter's input pin.
  HRESULT CreatePositionPassThrough();

  K_CTwoBufferTransformFilter* transform_;
  IUnknown* position_ = nullptr;
};

class K_CTwoBufferTransformFilter : public K_CFilterBase {
 public:
  K_CTwoBufferTransformFilter(LPCWSTR name, IUnknown* outer, REFCLSID clsid);
  ~K_CTwoBufferTransformFilter() override;

  int PinCount() override { return 2; }
  K_CPinBase* PinAt(int index) override;

  virtual HRESULT Transform(IMediaSample* in, IMediaSample* out) = 0;
  virtual HRESULT CheckInputType(const MediaTypeObject* type) = 0;
  virtual HRESULT CheckTransform(const MediaTypeObject* in, const MediaTypeObject* out) = 0;
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
  virtual HRESULT GetMediaType(int position, MediaTypeObject* type) = 0;
  virtual HRESULT StartStreaming() { return S_OK; }
  virtual HRESULT StopStreaming() { return S_OK; }
  // S_FALSE passes the notification on upstream.
  virtual HRESULT AlterQuality(Quality) { return S_FALSE; }
  virtual HRESULT SetMediaType(PIN_DIRECTION, const MediaTypeObject*) { return S_OK; }
  virtual HRESULT CheckConnect(PIN_DIRECTION, IPin*) { return S_OK; }
  virtual HRESULT BreakConnect(PIN_DIRECTION) { return S_OK; }
  virtual HRESULT CompleteConnect(PIN_DIRECTION, IPin*) { return S_OK; }
  virtual HRESULT Receive(IMediaSample* sample);
  virtual HRESULT EndOfStream();
  virtual HRESULT BeginFlush();
  virtual HRESULT EndFlush();
  virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  HRESULT FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT Stop() override;
  HRESULT Pause() override;

  K_CTwoBufferTransformInputPin* Input() const { return input_; }
  K_CTwoBufferTransformOutputPin* Output() const { return output_; }
  CRITICAL_SECTION* ReceiveLock() { return receiveLock_.Get(); }

 protected:
  // A derived filter makes pins of its own kinds; both or neither.
  virtual K_CTwoBufferTransformInputPin* MakeInputPin(HRESULT* result);
  virtual K_CTwoBufferTransformOutputPin* MakeOutputPin(HRESULT* result);
  // An output sample from the output pin's allocator carrying the input sample's properties.
  HRESULT InitializeOutputSample(IMediaSample* in, IMediaSample** out);
  // Passes on what a transform made of a sample: delivered, skipped or failed.
  HRESULT DeliverTransformed(HRESULT transformed, IMediaSample* sample);

  K_CCritSec filterLock_;
  K_CCritSec receiveLock_;
  K_CTwoBufferTransformInputPin* input_ = nullptr;
  K_CTwoBufferTransformOutputPin* output_ = nullptr;
  bool sampleSkipped_ = false;
  bool qualityChanged_ = false;
  bool endOfStreamSent_ = false;
};

class K_CInPlaceTransformFilter;

class K_CInPlaceTransformInputPin : public K_CTwoBufferTransformInputPin {
 public:
  K_CInPlaceTransformInputPin(LPCWSTR objectName, K_CInPlaceTransformFilter* filter,
                              HRESULT* result, LPCWSTR pinName);
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override;
  HRESULT MediaTypeAt(int position, MediaTypeObject* type) override;

  HRESULT GetAllocator(IMemAllocator** allocator) override;
  HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;

  bool ReadOnly() const { return readOnly_; }

 protected:
  K_CInPlaceTransformFilter* inPlace_;
};

class K_CInPlaceTransformOutputPin : public K_CTwoBufferTransformOutputPin {
 public:
  K_CInPlaceTransformOutputPin(LPCWSTR objectName, K_CInPlaceTransformFilter* filter,
                               HRESULT* result, LPCWSTR pinName);
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override;
  HRESULT MediaTypeAt(int position, MediaTypeObject* type) override;
  HRESULT Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;

  // The downstream input while connected, else null.
  IMemInputPin* Downstream() const { return IsConnected() ? input_ : nullptr; }
  // Records the allocator the downstream pin now uses.
  void UseAllocator(IMemAllocator* allocator);
  // A writable allocator for downstream at least as large as `like`: the downstream pin's own,
  // else a new one; E_FAIL when neither grants enough.
  HRESULT ProvideWritableAllocator(IMemAllocator* like, IMemAllocator** made);

 protected:
  K_CInPlaceTransformFilter* inPlace_;
};

class K_CInPlaceTransformFilter : public K_CTwoBufferTransformFilter {
 public:
  K_CInPlaceTransformFilter(LPCWSTR name, IUnknown* outer, REFCLSID clsid, bool modifiesData);

  HRESULT Transform(IMediaSample*, IMediaSample*) override { return E_UNEXPECTED; }
  HRESULT CheckTransform(const MediaTypeObject*, const MediaTypeObject*) override { return S_OK; }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT GetMediaType(int, MediaTypeObject*) override { return E_UNEXPECTED; }
  HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* pin) override;
  // Reconnects the input after the output connected, outside the output pin's lock.
  HRESULT RunPendingReconnection();
  HRESULT Receive(IMediaSample* sample) override;
  virtual HRESULT TransformInPlace(IMediaSample* sample) = 0;

  bool ModifiesData() const { return modifiesData_; }
  K_CInPlaceTransformInputPin* InPlaceInput() const {
    return static_cast<K_CInPlaceTransformInputPin*>(input_);
  }
  K_CInPlaceTransformOutputPin* InPlaceOutput() const {
    return static_cast<K_CInPlaceTransformOutputPin*>(output_);
  }
  // True while upstream and downstream hold different allocators, so that samples are copied.
  bool UsesTwoAllocators() const;

 protected:
  K_CInPlaceTransformInputPin* MakeInputPin(HRESULT* result) override;
  K_CInPlaceTransformOutputPin* MakeOutputPin(HRESULT* result) override;
  // A sample from the output pin's allocator holding `source`'s data and properties.
  HRESULT CopySample(IMediaSample* source, IMediaSample** copy);

  bool modifiesData_;
  // Set while a reconnection started here runs, so that its own completion starts no other.
  std::atomic<bool> reconnecting_{false};
  // The output connected while the input was: the input is to be reconnected.
  std::atomic<bool> pendingReconnection_{false};
};
