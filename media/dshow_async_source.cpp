// The asynchronous source filter, its I/O queue and the memory stream under it. Requests are
// read in order on the queue's worker thread; the synchronous reads on the caller's.
#include "media/dshow_async_source.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/winmm/winmm.h"

K_CMemStream::K_CMemStream(const BYTE* data, LONGLONG length, DWORD kilobytesPerSecond)
    : data_(data),
      length_(length),
      kilobytesPerSecond_(kilobytesPerSecond),
      startTime_(timeGetTime()) {}

HRESULT K_CMemStream::SetPosition(LONGLONG position) {
  if (position < 0 || position > length_) return S_FALSE;
  position_ = position;
  return S_OK;
}

HRESULT K_CMemStream::Read(BYTE* buffer, DWORD bytes, BOOL, DWORD* read) {
  K_CAutoLock guard(lock_.Get());
  const LONGLONG left = length_ - position_;
  const DWORD count = static_cast<DWORD>(std::max<LONGLONG>(0, std::min<LONGLONG>(bytes, left)));
  if (kilobytesPerSecond_ != 0xFFFFFFFF && kilobytesPerSecond_ != 0) {
    const DWORD due = static_cast<DWORD>((position_ + count) / kilobytesPerSecond_);
    const DWORD passed = timeGetTime() - startTime_;
    if (passed < due) Sleep(due - passed);
  }
  std::memcpy(buffer, data_ + position_, count);
  position_ += count;
  if (read != nullptr) *read = count;
  return S_OK;
}

LONGLONG K_CMemStream::GetLength(LONGLONG* available) {
  if (available != nullptr) {
    if (kilobytesPerSecond_ == 0xFFFFFFFF) {
      *available = length_;
    } else {
      const LONGLONG arrived =
          static_cast<LONGLONG>(timeGetTime() - startTime_) * kilobytesPerSecond_;
      *available = std::min(length_, arrived);
    }
  }
  return length_;
}

namespace {

// Sample times carry byte positions, ten million to the byte, as the pull protocol has them.
constexpr LONGLONG kTimePerByte = 10000000;
// A stream's read that crossed a break in its data: the bytes stand, the sample is marked.
constexpr HRESULT kReadDiscontinuity = 0x00040000;

HRESULT ResultOfLastError() {
  const DWORD code = GetLastError();
  return code == ERROR_SUCCESS ? E_FAIL : static_cast<HRESULT>(0x80070000u | (code & 0xFFFFu));
}

}  // namespace

K_CAsyncIoRequest::K_CAsyncIoRequest(K_CAsyncSourceStream* stream, LONGLONG position, LONG length,
                                     BOOL aligned, BYTE* buffer, IMediaSample* sample,
                                     DWORD_PTR user)
    : stream_(stream),
      position_(position),
      length_(length),
      aligned_(aligned),
      buffer_(buffer),
      sample_(sample),
      user_(user) {}

HRESULT K_CAsyncIoRequest::Complete() {
  stream_->Lock();
  HRESULT result = stream_->SetPosition(position_);
  DWORD read = 0;
  // A position the stream refuses reads nothing, rather than the bytes at its old position.
  if (result == S_OK) result = stream_->Read(buffer_, static_cast<DWORD>(length_), aligned_, &read);
  stream_->Unlock();
  if (result == kReadDiscontinuity) {
    if (sample_ != nullptr) sample_->SetDiscontinuity(TRUE);
    result = S_OK;
  }
  // A stream never gets to say it read more than the buffer holds.
  read = std::min(read, static_cast<DWORD>(length_));
  if (FAILED(result)) {
    length_ = 0;
  } else if (read < static_cast<DWORD>(length_)) {
    length_ = static_cast<LONG>(read);
    result = S_FALSE;
  }
  result_ = result;
  return result;
}

K_CAsyncIoQueue::K_CAsyncIoQueue(K_CAsyncSourceStream* stream)
    : stream_(stream),
      workEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      doneEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      allDoneEvent_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      stopEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

K_CAsyncIoQueue::~K_CAsyncIoQueue() {
  BeginFlush();
  StopWorker();
  while (doneList_.First() != nullptr)
    ReleaseRequest(static_cast<K_CAsyncIoRequest*>(doneList_.Remove(doneList_.First())));
  for (HANDLE event : {workEvent_, doneEvent_, allDoneEvent_, stopEvent_})
    if (event != nullptr) CloseHandle(event);
}

LONG K_CAsyncIoQueue::Alignment() {
  const DWORD alignment = stream_->GetAlignment();
  return alignment == 0 || alignment > 0x7FFFFFFF ? 1 : static_cast<LONG>(alignment);
}

HRESULT K_CAsyncIoQueue::Length(LONGLONG* total, LONGLONG* available) {
  if (total == nullptr || available == nullptr) return E_POINTER;
  *total = stream_->GetLength(available);
  return S_OK;
}

void K_CAsyncIoQueue::ReleaseRequest(K_CAsyncIoRequest* request) {
  if (request->Sample() != nullptr) request->Sample()->Release();
  delete request;
}

void K_CAsyncIoQueue::PutDone(K_CAsyncIoRequest* request) {
  if (doneList_.AddTail(request) == nullptr) {
    ReleaseRequest(request);
    return;
  }
  SetEvent(doneEvent_);
}

HRESULT K_CAsyncIoQueue::Request(LONGLONG position, LONG length, BOOL aligned, BYTE* buffer,
                                 IMediaSample* sample, DWORD_PTR user) {
  if (position < 0 || length < 0) return E_INVALIDARG;
  if (buffer == nullptr && length > 0) return E_POINTER;
  if (aligned && (!IsAligned(position) || !IsAligned(length) ||
                  !IsAligned(static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(buffer)))))
    return VFW_E_BADALIGN;
  auto* request = new (std::nothrow)
      K_CAsyncIoRequest(stream_, position, length, aligned, buffer, sample, user);
  if (request == nullptr) return E_OUTOFMEMORY;
  if (sample != nullptr) sample->AddRef();
  {
    K_CAutoLock guard(listLock_.Get());
    const HRESULT refused = flushing_
                                ? VFW_E_WRONG_STATE
                                : (workList_.AddTail(request) == nullptr ? E_OUTOFMEMORY : S_OK);
    if (refused != S_OK) {
      ReleaseRequest(request);
      return refused;
    }
    SetEvent(workEvent_);
  }
  const HRESULT started = StartWorker();
  if (FAILED(started)) {
    // Nobody would ever read it: take it back, unless a worker already did.
    K_CAutoLock guard(listLock_.Get());
    if (K_CNodeList::Node* node = workList_.Find(request); node != nullptr) {
      workList_.Remove(node);
      ReleaseRequest(request);
    }
  }
  return started;
}

HRESULT K_CAsyncIoQueue::StartWorker() {
  K_CAutoLock guard(workLock_.Get());
  if (thread_ != nullptr) return S_OK;
  if (workEvent_ == nullptr || doneEvent_ == nullptr || allDoneEvent_ == nullptr ||
      stopEvent_ == nullptr)
    return E_OUTOFMEMORY;
  thread_ = CreateThread(nullptr, 0, AsyncIoThreadStart, this, 0, nullptr);
  return thread_ != nullptr ? S_OK : ResultOfLastError();
}

void K_CAsyncIoQueue::StopWorker() {
  K_CAutoLock guard(workLock_.Get());
  if (thread_ == nullptr) return;
  SetEvent(stopEvent_);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  thread_ = nullptr;
  ResetEvent(stopEvent_);
}

DWORD K_CAsyncIoQueue::AsyncIoThreadStart(LPVOID queue) {
  return static_cast<K_CAsyncIoQueue*>(queue)->AsyncIoThreadLoop();
}

DWORD K_CAsyncIoQueue::AsyncIoThreadLoop() {
  // Work comes before stop, so a stop lets the worker read what was already asked of it.
  const HANDLE events[2] = {workEvent_, stopEvent_};
  for (;;) {
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) return 0;
    ServeWork();
  }
}

void K_CAsyncIoQueue::ServeWork() {
  for (;;) {
    K_CAsyncIoRequest* request = nullptr;
    {
      K_CAutoLock guard(listLock_.Get());
      request = static_cast<K_CAsyncIoRequest*>(workList_.Remove(workList_.First()));
      if (request == nullptr) {
        ResetEvent(workEvent_);
        return;
      }
      ++inProgress_;
    }
    request->Complete();
    K_CAutoLock guard(listLock_.Get());
    PutDone(request);
    if (--inProgress_ == 0 && flushWaiting_) SetEvent(allDoneEvent_);
  }
}

HRESULT K_CAsyncIoQueue::WaitForNext(DWORD milliseconds, LONG* actual, IMediaSample** sample,
                                     DWORD_PTR* user) {
  *actual = 0;
  *sample = nullptr;
  *user = 0;
  for (;;) {
    if (doneEvent_ == nullptr || WaitForSingleObject(doneEvent_, milliseconds) != WAIT_OBJECT_0)
      return VFW_E_TIMEOUT;
    K_CAsyncIoRequest* request = nullptr;
    {
      K_CAutoLock guard(listLock_.Get());
      request = static_cast<K_CAsyncIoRequest*>(doneList_.Remove(doneList_.First()));
      // While a flush is under way and no longer waits for reads, every waiter is let through.
      const bool flushReleased = flushing_ && !flushWaiting_;
      if (doneList_.First() == nullptr && !flushReleased) ResetEvent(doneEvent_);
      if (request == nullptr) {
        if (flushReleased) return VFW_E_WRONG_STATE;
        continue;
      }
    }
    HRESULT result = request->Result();
    if (result == S_FALSE) {
      const bool endsAtEnd = request->Position() + request->Length() == stream_->GetLength(nullptr);
      result = endsAtEnd ? S_OK : E_FAIL;
    }
    *actual = request->Length();
    *sample = request->Sample();
    *user = request->User();
    ReleaseRequest(request);
    return result;
  }
}

HRESULT K_CAsyncIoQueue::SyncReadAligned(LONGLONG position, LONG length, BYTE* buffer, LONG* actual,
                                         IMediaSample* sample) {
  *actual = 0;
  if (position < 0 || length < 0) return E_INVALIDARG;
  if (buffer == nullptr && length > 0) return E_POINTER;
  if (!IsAligned(position) || !IsAligned(length) ||
      !IsAligned(static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(buffer))))
    return VFW_E_BADALIGN;
  K_CAsyncIoRequest request(stream_, position, length, TRUE, buffer, sample, 0);
  const HRESULT result = request.Complete();
  *actual = request.Length();
  return result;
}

HRESULT K_CAsyncIoQueue::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
  if (position < 0 || length < 0) return E_INVALIDARG;
  if (buffer == nullptr && length > 0) return E_POINTER;
  const BOOL aligned = IsAligned(position) && IsAligned(length) &&
                       IsAligned(static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(buffer)));
  K_CAsyncIoRequest request(stream_, position, length, aligned, buffer, nullptr, 0);
  return request.Complete();
}

HRESULT K_CAsyncIoQueue::BeginFlush() {
  {
    K_CAutoLock guard(listLock_.Get());
    flushing_ = true;
    while (workList_.First() != nullptr)
      PutDone(static_cast<K_CAsyncIoRequest*>(workList_.Remove(workList_.First())));
    if (inProgress_ == 0) {
      SetEvent(doneEvent_);
      return S_OK;
    }
    flushWaiting_ = true;
  }
  // The reads under way land in the done list before the flush is over.
  if (allDoneEvent_ != nullptr) WaitForSingleObject(allDoneEvent_, INFINITE);
  K_CAutoLock guard(listLock_.Get());
  flushWaiting_ = false;
  SetEvent(doneEvent_);
  return S_OK;
}

HRESULT K_CAsyncIoQueue::EndFlush() {
  K_CAutoLock guard(listLock_.Get());
  flushing_ = false;
  if (doneList_.First() != nullptr) {
    SetEvent(doneEvent_);
  } else {
    ResetEvent(doneEvent_);
  }
  return S_OK;
}

K_CAsyncSourcePin::K_CAsyncSourcePin(K_CAsyncSourceFilter* filter, CRITICAL_SECTION* lock,
                                     K_CAsyncIoQueue* queue)
    : K_CPinBase(u"Async output", filter, lock, nullptr, u"Output", PINDIR_OUTPUT),
      source_(filter),
      queue_(queue) {}

HRESULT K_CAsyncSourcePin::InnerQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IAsyncReader) {
    queriedForReader_ = true;
    return GetInterface(static_cast<IAsyncReader*>(this), object);
  }
  return K_CPinBase::InnerQueryInterface(riid, object);
}

HRESULT K_CAsyncSourcePin::AcceptsMediaType(const MediaTypeObject* type) {
  if (type == nullptr) return E_POINTER;
  const MediaTypeObject& offered = source_->OfferedType();
  const bool subtype = offered.subtype == GUID_NULL || type->subtype == offered.subtype;
  return type->majortype == offered.majortype && subtype ? S_OK : S_FALSE;
}

HRESULT K_CAsyncSourcePin::MediaTypeAt(int position, MediaTypeObject* type) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  if (source_->OfferedType().majortype == GUID_NULL) return E_UNEXPECTED;
  return CopyMediaType(type, &source_->OfferedType());
}

// A peer that never asks for IAsyncReader could not pull a byte: the connection is refused.
HRESULT K_CAsyncSourcePin::CheckPeer(IPin* pin) {
  queriedForReader_ = false;
  return K_CPinBase::CheckPeer(pin);
}

HRESULT K_CAsyncSourcePin::BreakPeer() {
  queriedForReader_ = false;
  return K_CPinBase::BreakPeer();
}

HRESULT K_CAsyncSourcePin::CompletePeer(IPin* pin) {
  if (!queriedForReader_) return E_FAIL;
  return K_CPinBase::CompletePeer(pin);
}

HRESULT K_CAsyncSourcePin::BeginFlush() { return queue_->BeginFlush(); }

HRESULT K_CAsyncSourcePin::EndFlush() { return queue_->EndFlush(); }

HRESULT K_CAsyncSourcePin::RequestAllocator(IMemAllocator* preferred,
                                            ALLOCATOR_PROPERTIES* properties,
                                            IMemAllocator** actual) {
  if (properties == nullptr || actual == nullptr) return E_POINTER;
  *actual = nullptr;
  const LONG alignment = queue_->Alignment();
  const auto suitable = [alignment](LONG align) { return align > 0 && align % alignment == 0; };
  ALLOCATOR_PROPERTIES request = *properties, got{};
  if (!suitable(request.cbAlign)) request.cbAlign = alignment;
  if (preferred != nullptr && SUCCEEDED(preferred->SetProperties(&request, &got)) &&
      suitable(got.cbAlign)) {
    preferred->AddRef();
    *actual = preferred;
    return S_OK;
  }
  IMemAllocator* own = nullptr;
  HRESULT result =
      CreateMemoryAllocatorInstance(nullptr, IID_IMemAllocator, reinterpret_cast<void**>(&own));
  if (FAILED(result)) return result;
  result = own->SetProperties(&request, &got);
  if (SUCCEEDED(result) && !suitable(got.cbAlign)) result = VFW_E_BADALIGN;
  if (FAILED(result)) {
    own->Release();
    return result;
  }
  *actual = own;
  return S_OK;
}

// The byte range a sample asks for. A range past the end of the stream is cut at the end,
// rounded up to the stream's alignment, and the sample's stop time with it.
HRESULT K_CAsyncSourcePin::SampleRange(IMediaSample* sample, LONGLONG* position, LONG* length,
                                       bool* cut) {
  *cut = false;
  REFERENCE_TIME start = 0, stop = 0;
  if (FAILED(sample->GetTime(&start, &stop)) || start < 0 || stop < start) return E_INVALIDARG;
  *position = start / kTimePerByte;
  LONGLONG end = stop / kTimePerByte;
  const LONGLONG alignment = queue_->Alignment();
  const LONGLONG total = source_->Stream()->GetLength(nullptr);
  const LONGLONG alignedEnd =
      (std::max<LONGLONG>(total, 0) + alignment - 1) / alignment * alignment;
  if (end > alignedEnd) {
    end = std::max(alignedEnd, *position);
    stop = end * kTimePerByte;
    sample->SetTime(&start, &stop);
    *cut = true;
  }
  // The read goes into the sample's buffer: never more than it holds.
  if (end - *position > sample->GetSize()) return E_INVALIDARG;
  *length = static_cast<LONG>(end - *position);
  return S_OK;
}

HRESULT K_CAsyncSourcePin::Request(IMediaSample* sample, DWORD_PTR user) {
  if (sample == nullptr) return E_POINTER;
  REFERENCE_TIME start = 0, stop = 0;
  sample->GetTime(&start, &stop);
  LONGLONG position = 0;
  LONG length = 0;
  bool cut = false;
  HRESULT result = SampleRange(sample, &position, &length, &cut);
  BYTE* buffer = nullptr;
  if (SUCCEEDED(result)) sample->GetPointer(&buffer);
  if (SUCCEEDED(result)) result = queue_->Request(position, length, TRUE, buffer, sample, user);
  if (FAILED(result)) {
    // A request not taken leaves the sample as the caller gave it.
    if (cut) sample->SetTime(&start, &stop);
    return result;
  }
  return cut ? S_FALSE : S_OK;
}

HRESULT K_CAsyncSourcePin::WaitForNext(DWORD milliseconds, IMediaSample** sample, DWORD_PTR* user) {
  if (sample == nullptr || user == nullptr) return E_POINTER;
  LONG actual = 0;
  const HRESULT result = queue_->WaitForNext(milliseconds, &actual, sample, user);
  if (*sample != nullptr) (*sample)->SetActualDataLength(actual);
  return result;
}

HRESULT K_CAsyncSourcePin::SyncReadAligned(IMediaSample* sample) {
  if (sample == nullptr) return E_POINTER;
  LONGLONG position = 0;
  LONG length = 0;
  bool cut = false;
  HRESULT result = SampleRange(sample, &position, &length, &cut);
  if (FAILED(result)) return result;
  BYTE* buffer = nullptr;
  sample->GetPointer(&buffer);
  LONG actual = 0;
  result = queue_->SyncReadAligned(position, length, buffer, &actual, sample);
  sample->SetActualDataLength(actual);
  return result == S_OK && cut ? S_FALSE : result;
}

HRESULT K_CAsyncSourcePin::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
  return queue_->SyncRead(position, length, buffer);
}

HRESULT K_CAsyncSourcePin::Length(LONGLONG* total, LONGLONG* available) {
  return queue_->Length(total, available);
}

K_CAsyncSourceFilter::K_CAsyncSourceFilter(LPCWSTR name, IUnknown* outer,
                                           K_CAsyncSourceStream* stream,
                                           const MediaTypeObject* type)
    : K_CFilterBase(
          name, outer, nullptr,
          CLSID{0xC553F2C0, 0x1529, 0x11D0, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}}),
      stream_(stream),
      queue_(stream),
      pin_(this, section_.Get(), &queue_) {
  lock_ = section_.Get();
  ClearMediaType(&type_);
  if (type != nullptr) CopyMediaType(&type_, type);
}

K_CAsyncSourceFilter::~K_CAsyncSourceFilter() { ReleaseMediaTypeContents(&type_); }

HRESULT K_CAsyncSourceFilter::Stop() {
  const HRESULT result = K_CFilterBase::Stop();
  queue_.StopWorker();
  return result;
}

K_CMemStream* CreateMemStream(const void* data, LONGLONG length, DWORD kilobytesPerSecond) {
  return new (std::nothrow)
      K_CMemStream(static_cast<const BYTE*>(data), length, kilobytesPerSecond);
}

K_CMemReader* CreateMemReader(K_CMemStream* stream, const MediaTypeObject* type, HRESULT* result) {
  auto* reader = new (std::nothrow) K_CAsyncSourceFilter(u"Mem Reader", nullptr, stream, type);
  if (result != nullptr) *result = reader != nullptr ? S_OK : E_OUTOFMEMORY;
  return reader;
}
