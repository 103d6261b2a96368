// The sample grabber: an in-place transform that hands every sample of an accepted type to a
// callback, optionally into a buffer its user owns.
#pragma once

#include <atomic>

#include "media/dshow_framework.h"
#include "media/dshow_transform.h"

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

class K_CSampleGrabber;
class K_CSampleGrabberInputPin;

// Samples that live in the grabber pin's own buffer, which the allocator never frees.
class K_CSampleGrabberAllocator final : public K_CMemoryAllocator {
 public:
  explicit K_CSampleGrabberAllocator(K_CSampleGrabberInputPin* pin);
  HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  // The pin is letting go of this allocator: no further buffers are made.
  void DetachPin();

 protected:
  HRESULT MakeBuffers() override;

 private:
  K_CSampleGrabberInputPin* pin_;
};

class K_CSampleGrabberInputPin final : public K_CInPlaceTransformInputPin {
 public:
  K_CSampleGrabberInputPin(K_CSampleGrabber* grabber, HRESULT* result);
  ~K_CSampleGrabberInputPin() override;
  HRESULT MediaTypeAt(int position, MediaTypeObject* type) override;
  HRESULT TakeMediaType(const MediaTypeObject* type) override;
  HRESULT GetAllocator(IMemAllocator** allocator) override;
  HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;

  HRESULT SetOwnBuffer(const ALLOCATOR_PROPERTIES* properties, BYTE* buffer);
  const ALLOCATOR_PROPERTIES& OwnProperties() const { return ownProperties_; }
  BYTE* OwnBuffer() const { return ownBuffer_; }
  // Whether the connection type changed since the callback last heard; asking clears it.
  BOOL TakeTypeChanged() { return typeChanged_.exchange(false) ? TRUE : FALSE; }

 private:
  K_CSampleGrabber* grabber_;
  K_CSampleGrabberAllocator* ownAllocator_ = nullptr;
  ALLOCATOR_PROPERTIES ownProperties_{};
  BYTE* ownBuffer_ = nullptr;
  std::atomic<bool> typeChanged_{false};
};

class K_CSampleGrabber final : public K_CInPlaceTransformFilter, public K_ISampleGrabberControl {
 public:
  explicit K_CSampleGrabber(IUnknown* outer);
  ~K_CSampleGrabber() override;
  K_FORWARD_IUNKNOWN_TO_OWNER
  HRESULT InnerQueryInterface(REFIID riid, void** object) override;
  HRESULT CheckInputType(const MediaTypeObject* type) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT TransformInPlace(IMediaSample* sample) override;

  HRESULT SetAcceptedType(const MediaTypeObject* type) override;
  HRESULT GetConnectionType(MediaTypeObject* type) override;
  HRESULT SetSampleCallback(SampleGrabberCallback callback, void* user) override;
  HRESULT SetOwnBuffer(ALLOCATOR_PROPERTIES* properties, BYTE* buffer) override;

  // A copy of the accepted type, made under the grabber's lock.
  HRESULT CopyAcceptedType(MediaTypeObject* type);

 protected:
  K_CInPlaceTransformInputPin* MakeInputPin(HRESULT* result) override;

 private:
  K_CCritSec grabberLock_;
  MediaTypeObject accepted_;
  SampleGrabberCallback callback_ = nullptr;
  void* user_ = nullptr;
};

K_CSampleGrabber* CreateSampleGrabber(IUnknown* outer, HRESULT* result);
