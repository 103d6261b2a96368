// The asynchronous source: a filter whose one output pin lets the filter downstream pull bytes
// from a stream (IAsyncReader), and the memory stream and reader the sound side feeds a file
// image to the graph with.
#pragma once

#include <vector>

#include "media/dshow_framework.h"

class K_CAsyncSourceStream {
 public:
  virtual ~K_CAsyncSourceStream() = default;
  virtual HRESULT SetPosition(LONGLONG position) = 0;
  virtual HRESULT Read(BYTE* buffer, DWORD bytes, BOOL aligned, DWORD* read) = 0;
  virtual LONGLONG GetLength(LONGLONG* available) = 0;
  virtual DWORD GetAlignment() = 0;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
};

class K_CMemStream final : public K_CAsyncSourceStream {
 public:
  K_CMemStream(const BYTE* data, LONGLONG length, DWORD kilobytesPerSecond);
  HRESULT SetPosition(LONGLONG position) override;
  HRESULT Read(BYTE* buffer, DWORD bytes, BOOL aligned, DWORD* read) override;
  LONGLONG GetLength(LONGLONG* available) override;
  DWORD GetAlignment() override { return 1; }
  void Lock() override { EnterCriticalSection(lock_.Get()); }
  void Unlock() override { LeaveCriticalSection(lock_.Get()); }

 private:
  K_CCritSec lock_;
  const BYTE* data_;
  LONGLONG length_;
  LONGLONG position_ = 0;
  DWORD kilobytesPerSecond_;
  DWORD startTime_;
};

class K_CAsyncSourceFilter;

class K_CAsyncSourcePin final : public K_CPinBase, public IAsyncReader {
 public:
  K_CAsyncSourcePin(K_CAsyncSourceFilter* filter, CRITICAL_SECTION* lock);
  HRESULT QueryInterface(REFIID riid, void** object) override {
    return K_CPinBase::QueryInterface(riid, object);
  }
  ULONG AddRef() override { return K_CPinBase::AddRef(); }
  ULONG Release() override { return K_CPinBase::Release(); }
  HRESULT InnerQueryInterface(REFIID riid, void** object) override;
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override;
  HRESULT MediaTypeAt(int position, MediaTypeObject* type) override;
  HRESULT EndOfStream() override { return E_UNEXPECTED; }
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;

  HRESULT RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* properties,
                           IMemAllocator** actual) override;
  HRESULT Request(IMediaSample* sample, DWORD_PTR user) override;
  HRESULT WaitForNext(DWORD milliseconds, IMediaSample** sample, DWORD_PTR* user) override;
  HRESULT SyncReadAligned(IMediaSample* sample) override;
  HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
  HRESULT Length(LONGLONG* total, LONGLONG* available) override;

 private:
  struct PendingRequest {
    IMediaSample* sample;
    DWORD_PTR user;
  };
  HRESULT ReadSample(IMediaSample* sample);
  K_CAsyncSourceFilter* source_;
  K_CCritSec requestLock_;
  std::vector<PendingRequest> requests_;
  bool flushing_ = false;
};

class K_CAsyncSourceFilter : public K_CFilterBase {
 public:
  K_CAsyncSourceFilter(LPCWSTR name, IUnknown* outer, K_CAsyncSourceStream* stream,
                       const MediaTypeObject* type);
  ~K_CAsyncSourceFilter() override;
  int PinCount() override { return 1; }
  K_CPinBase* PinAt(int index) override { return index == 0 ? &pin_ : nullptr; }
  K_CAsyncSourceStream* Stream() { return stream_; }
  const MediaTypeObject& OfferedType() const { return type_; }

 private:
  K_CCritSec section_;
  K_CAsyncSourceStream* stream_;
  MediaTypeObject type_;
  K_CAsyncSourcePin pin_;
};

using K_CMemReader = K_CAsyncSourceFilter;

K_CMemStream* CreateMemStream(const void* data, LONGLONG length, DWORD kilobytesPerSecond);
K_CMemReader* CreateMemReader(K_CMemStream* stream, const MediaTypeObject* type, HRESULT* result);
