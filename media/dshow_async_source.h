// The asynchronous source: a filter whose one output pin lets the filter downstream pull bytes
// from a stream (IAsyncReader), and the memory stream and reader the sound side feeds a file
// image to the graph with.
#pragma once

#include <atomic>

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

// One read: where, how much, into which buffer, and for which sample and caller's value.
class K_CAsyncIoRequest {
 public:
  K_CAsyncIoRequest(K_CAsyncSourceStream* stream, LONGLONG position, LONG length, BOOL aligned,
                    BYTE* buffer, IMediaSample* sample, DWORD_PTR user);
  // Reads under the stream's lock; the result stays with the request.
  HRESULT Complete();
  HRESULT Result() const { return result_; }
  LONGLONG Position() const { return position_; }
  LONG Length() const { return length_; }
  IMediaSample* Sample() const { return sample_; }
  DWORD_PTR User() const { return user_; }

 private:
  K_CAsyncSourceStream* stream_;
  LONGLONG position_;
  LONG length_;
  BOOL aligned_;
  BYTE* buffer_;
  IMediaSample* sample_;
  DWORD_PTR user_;
  HRESULT result_ = VFW_E_TIMEOUT;
};

// The reads a downstream filter asked for, served in order by a worker thread of the queue's
// own. A queued request holds a reference on its sample; WaitForNext drops it and hands back the
// pointer the caller still holds its own reference on.
class K_CAsyncIoQueue {
 public:
  explicit K_CAsyncIoQueue(K_CAsyncSourceStream* stream);
  ~K_CAsyncIoQueue();
  K_CAsyncIoQueue(const K_CAsyncIoQueue&) = delete;
  K_CAsyncIoQueue& operator=(const K_CAsyncIoQueue&) = delete;

  HRESULT Request(LONGLONG position, LONG length, BOOL aligned, BYTE* buffer, IMediaSample* sample,
                  DWORD_PTR user);
  HRESULT WaitForNext(DWORD milliseconds, LONG* actual, IMediaSample** sample, DWORD_PTR* user);
  HRESULT SyncReadAligned(LONGLONG position, LONG length, BYTE* buffer, LONG* actual,
                          IMediaSample* sample);
  HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer);
  HRESULT Length(LONGLONG* total, LONGLONG* available);
  LONG Alignment();
  bool IsAligned(LONGLONG value) { return value % Alignment() == 0; }
  HRESULT BeginFlush();
  HRESULT EndFlush();
  // Lets the worker finish the reads already asked for, then ends it; the next request starts
  // another.
  void StopWorker();

 private:
  static DWORD AsyncIoThreadStart(LPVOID queue);
  DWORD AsyncIoThreadLoop();
  void ServeWork();
  HRESULT StartWorker();
  void PutDone(K_CAsyncIoRequest* request);
  void ReleaseRequest(K_CAsyncIoRequest* request);

  K_CCritSec listLock_;
  // Held while the worker thread is started or ended, never by the worker itself.
  K_CCritSec workLock_;
  K_CAsyncSourceStream* stream_;
  bool flushing_ = false;
  K_CNodeList workList_;
  K_CNodeList doneList_;
  HANDLE workEvent_;
  HANDLE doneEvent_;
  HANDLE allDoneEvent_;
  HANDLE stopEvent_;
  LONG inProgress_ = 0;
  bool flushWaiting_ = false;
  HANDLE thread_ = nullptr;
};

class K_CAsyncSourceFilter;

class K_CAsyncSourcePin final : public K_CPinBase, public IAsyncReader {
 public:
  K_CAsyncSourcePin(K_CAsyncSourceFilter* filter, CRITICAL_SECTION* lock, K_CAsyncIoQueue* queue);
  HRESULT QueryInterface(REFIID riid, void** object) override {
    return K_CPinBase::QueryInterface(riid, object);
  }
  ULONG AddRef() override { return K_CPinBase::AddRef(); }
  ULONG Release() override { return K_CPinBase::Release(); }
  HRESULT InnerQueryInterface(REFIID riid, void** object) override;
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override;
  HRESULT MediaTypeAt(int position, MediaTypeObject* type) override;
  HRESULT CheckPeer(IPin* pin) override;
  HRESULT BreakPeer() override;
  HRESULT CompletePeer(IPin* pin) override;
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
  HRESULT SampleRange(IMediaSample* sample, LONGLONG* position, LONG* length, bool* cut);
  K_CAsyncSourceFilter* source_;
  K_CAsyncIoQueue* queue_;
  std::atomic<bool> queriedForReader_{false};
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
  // Stopping also ends the I/O queue's worker once it has read what was asked of it.
  HRESULT Stop() override;

 private:
  K_CCritSec section_;
  K_CAsyncSourceStream* stream_;
  MediaTypeObject type_;
  K_CAsyncIoQueue queue_;
  K_CAsyncSourcePin pin_;
};

using K_CMemReader = K_CAsyncSourceFilter;

K_CMemStream* CreateMemStream(const void* data, LONGLONG length, DWORD kilobytesPerSecond);
K_CMemReader* CreateMemReader(K_CMemStream* stream, const MediaTypeObject* type, HRESULT* result);
