// The in-place transform filter (each sample passes through, changed where it lies) and the
// sample grabber built on it, which hands every sample of an accepted type to a callback.
#pragma once

#include "media/dshow_framework.h"

class K_CInPlaceTransformFilter;

class K_CInPlaceTransformInputPin final : public K_CInputPinBase {
 public:
  K_CInPlaceTransformInputPin(K_CInPlaceTransformFilter* filter, CRITICAL_SECTION* lock);
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

 private:
  K_CInPlaceTransformFilter* transform_;
};

class K_CInPlaceTransformOutputPin final : public K_COutputPinBase {
 public:
  K_CInPlaceTransformOutputPin(K_CInPlaceTransformFilter* filter, CRITICAL_SECTION* lock);
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override;
  HRESULT MediaTypeAt(int position, MediaTypeObject* type) override;
  HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

 private:
  K_CInPlaceTransformFilter* transform_;
};

class K_CInPlaceTransformFilter : public K_CFilterBase {
 public:
  K_CInPlaceTransformFilter(LPCWSTR name, IUnknown* outer, REFCLSID clsid);
  int PinCount() override { return 2; }
  K_CPinBase* PinAt(int index) override;
  virtual HRESULT AcceptsInput(const MediaTypeObject* type) = 0;
  virtual HRESULT TransformInPlace(IMediaSample* sample) = 0;
  K_CInPlaceTransformInputPin* Input() { return &input_; }
  K_CInPlaceTransformOutputPin* Output() { return &output_; }

 protected:
  K_CCritSec section_;
  K_CCritSec receiveLock_;
  K_CInPlaceTransformInputPin input_;
  K_CInPlaceTransformOutputPin output_;
};

constexpr IID IID_K_ISampleGrabberControl = {
    0x6B652FFF, 0x11FE, 0x4FCE, {0x92, 0xAD, 0x02, 0x66, 0xB5, 0xD7, 0xC7, 0x8F}};
using SampleGrabberCallback = int (*)(IMediaSample* sample, REFERENCE_TIME* start,
                                      REFERENCE_TIME* stop, BOOL typeChanged, void* user);

struct K_ISampleGrabberControl : IUnknown {
  virtual HRESULT SetAcceptedType(const MediaTypeObject* type) = 0;
  virtual HRESULT GetConnectionType(MediaTypeObject* type) = 0;
  virtual HRESULT SetSampleCallback(SampleGrabberCallback callback, void* user) = 0;
  virtual HRESULT SetOwnBuffer(ALLOCATOR_PROPERTIES* properties, BYTE* buffer) = 0;
};

class K_CSampleGrabber final : public K_CInPlaceTransformFilter, public K_ISampleGrabberControl {
 public:
  explicit K_CSampleGrabber(IUnknown* outer);
  ~K_CSampleGrabber() override;
  K_FORWARD_IUNKNOWN_TO_OWNER
  HRESULT InnerQueryInterface(REFIID riid, void** object) override;
  HRESULT AcceptsInput(const MediaTypeObject* type) override;
  HRESULT TransformInPlace(IMediaSample* sample) override;
  HRESULT SetAcceptedType(const MediaTypeObject* type) override;
  HRESULT GetConnectionType(MediaTypeObject* type) override;
  HRESULT SetSampleCallback(SampleGrabberCallback callback, void* user) override;
  HRESULT SetOwnBuffer(ALLOCATOR_PROPERTIES* properties, BYTE* buffer) override;

 private:
  K_CCritSec grabberLock_;
  MediaTypeObject accepted_;
  SampleGrabberCallback callback_ = nullptr;
  void* user_ = nullptr;
};

K_CSampleGrabber* CreateSampleGrabber(IUnknown* outer, HRESULT* result);
