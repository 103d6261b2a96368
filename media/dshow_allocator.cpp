// The allocator protocol (properties, commit, decommit deferred while samples are out, blocking
// and non-blocking GetBuffer), the one-block memory allocator and the media sample.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#include "media/dshow_framework.h"
#include "platform/win32/sysinfo.h"

K_CAllocatorBase::K_CAllocatorBase(IUnknown* outer, bool makeSemaphore, bool offerReleaseCallback)
    : K_CComBase(outer), releaseCallback_(offerReleaseCallback) {
  if (makeSemaphore) semaphore_ = CreateSemaphoreA(nullptr, 0, 0x7fffffff, nullptr);
}

K_CAllocatorBase::~K_CAllocatorBase() {
  if (semaphore_ != nullptr) CloseHandle(semaphore_);
  if (notify_ != nullptr) notify_->Release();
}

HRESULT K_CAllocatorBase::InnerQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IMemAllocator || (releaseCallback_ && riid == IID_IMemAllocatorCallbackTemp))
    return GetInterface(static_cast<IMemAllocatorCallbackTemp*>(this), object);
  return K_CComBase::InnerQueryInterface(riid, object);
}

HRESULT K_CAllocatorBase::SetProperties(ALLOCATOR_PROPERTIES* request,
                                        ALLOCATOR_PROPERTIES* actual) {
  if (actual == nullptr || request == nullptr) return E_POINTER;
  std::memset(actual, 0, sizeof(*actual));
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const LONG alignment = request->cbAlign;
  if (alignment <= 0 || (info.dwAllocationGranularity & static_cast<DWORD>(alignment - 1)) != 0)
    return VFW_E_BADALIGN;
  K_CAutoLock guard(lock_.Get());
  if (committed_) return VFW_E_ALREADY_COMMITTED;
  if (allocated_ != freeCount_) return VFW_E_BUFFERS_OUTSTANDING;
  const long long prefixed = static_cast<long long>(request->cbPrefix) + request->cbBuffer;
  const long long padded = (prefixed + alignment - 1) / alignment * alignment;
  const long long size = padded - request->cbPrefix;
  if (request->cbPrefix < 0 || size > 0x7fffffff) return E_INVALIDARG;
  count_ = request->cBuffers;
  size_ = static_cast<LONG>(size);
  alignment_ = alignment;
  prefix_ = request->cbPrefix;
  changed_ = true;
  *actual = {count_, size_, alignment_, prefix_};
  return S_OK;
}

HRESULT K_CAllocatorBase::GetProperties(ALLOCATOR_PROPERTIES* properties) {
  if (properties == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_.Get());
  *properties = {count_, size_, alignment_, prefix_};
  return S_OK;
}

HRESULT K_CAllocatorBase::MakeBuffers() {
  if (count_ <= 0 || size_ <= 0 || alignment_ <= 0) return VFW_E_SIZENOTSET;
  return S_OK;
}

HRESULT K_CAllocatorBase::Commit() {
  K_CAutoLock guard(lock_.Get());
  if (committed_) return S_OK;
  committed_ = true;
  if (decommitInProgress_) {
    decommitInProgress_ = false;
    return S_OK;
  }
  const HRESULT result = MakeBuffers();
  if (FAILED(result)) {
    committed_ = false;
    return result;
  }
  // The commit keeps the allocator alive while samples are in flight.
  AddRef();
  return S_OK;
}

HRESULT K_CAllocatorBase::Decommit() {
  bool dropReference = false;
  {
    K_CAutoLock guard(lock_.Get());
    if (!committed_ && !decommitInProgress_) return S_OK;
    if (committed_) {
      committed_ = false;
      if (allocated_ != freeCount_) {
        decommitInProgress_ = true;
      } else {
        FreeBuffers();
        dropReference = true;
      }
    }
    if (waiting_ > 0 && semaphore_ != nullptr) ReleaseSemaphore(semaphore_, waiting_, nullptr);
    waiting_ = 0;
  }
  if (dropReference) Release();
  return S_OK;
}

HRESULT K_CAllocatorBase::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*,
                                    DWORD flags) {
  if (sample == nullptr) return E_POINTER;
  *sample = nullptr;
  for (;;) {
    {
      K_CAutoLock guard(lock_.Get());
      if (!committed_) return VFW_E_NOT_COMMITTED;
      K_CBufferSample* free = PopFree();
      if (free != nullptr) {
        free->references = 1;
        *sample = free;
        return S_OK;
      }
      if ((flags & AM_GBF_NOWAIT) != 0 || semaphore_ == nullptr) return VFW_E_TIMEOUT;
      ++waiting_;
    }
    WaitForSingleObject(semaphore_, INFINITE);
  }
}

HRESULT K_CAllocatorBase::ReleaseBuffer(IMediaSample* sample) {
  if (sample == nullptr) return E_POINTER;
  bool dropReference = false;
  IMemAllocatorNotifyCallbackTemp* notify = nullptr;
  {
    K_CAutoLock guard(lock_.Get());
    PushFree(static_cast<K_CBufferSample*>(sample));
    if (waiting_ > 0 && semaphore_ != nullptr) ReleaseSemaphore(semaphore_, waiting_, nullptr);
    waiting_ = 0;
    if (decommitInProgress_ && freeCount_ == allocated_) {
      FreeBuffers();
      decommitInProgress_ = false;
      dropReference = true;
    }
    notify = notify_;
    if (notify != nullptr) notify->AddRef();
  }
  if (notify != nullptr) {
    notify->NotifyRelease();
    notify->Release();
  }
  if (dropReference) Release();
  return S_OK;
}

HRESULT K_CAllocatorBase::SetNotify(IMemAllocatorNotifyCallbackTemp* notify) {
  K_CAutoLock guard(lock_.Get());
  if (notify != nullptr) notify->AddRef();
  if (notify_ != nullptr) notify_->Release();
  notify_ = notify;
  return S_OK;
}

HRESULT K_CAllocatorBase::GetFreeCount(LONG* free) {
  if (free == nullptr) return E_POINTER;
  K_CAutoLock guard(lock_.Get());
  *free = count_ - (allocated_ - freeCount_);
  return S_OK;
}

void K_CAllocatorBase::PushFree(K_CBufferSample* sample) {
  sample->next = freeList_;
  freeList_ = sample;
  ++freeCount_;
}

K_CBufferSample* K_CAllocatorBase::PopFree() {
  K_CBufferSample* sample = freeList_;
  if (sample != nullptr) {
    freeList_ = sample->next;
    sample->next = nullptr;
    --freeCount_;
  }
  return sample;
}

K_CMemoryAllocator::K_CMemoryAllocator(IUnknown* outer) : K_CAllocatorBase(outer, true, true) {}

K_CMemoryAllocator::~K_CMemoryAllocator() {
  Decommit();
  FreeBlock();
}

void K_CMemoryAllocator::FreeBlock() {
  while (K_CBufferSample* sample = PopFree()) delete sample;
  allocated_ = 0;
  if (block_ != nullptr) VirtualFree(block_, 0, MEM_RELEASE);
  block_ = nullptr;
  blockSize_ = 0;
}

HRESULT K_CMemoryAllocator::MakeBuffers() {
  const HRESULT check = K_CAllocatorBase::MakeBuffers();
  if (FAILED(check)) return check;
  if (!changed_ && block_ != nullptr) return S_OK;
  FreeBlock();
  size_t stride = static_cast<size_t>(prefix_) + static_cast<size_t>(size_);
  if (alignment_ > 1)
    stride = (stride + static_cast<size_t>(alignment_) - 1) / alignment_ * alignment_;
  // A peer asking for a huge count or size gets no block rather than a small one.
  if (stride == 0 || static_cast<size_t>(count_) > SIZE_MAX / 2 / stride) return E_OUTOFMEMORY;
  const size_t bytes = stride * static_cast<size_t>(count_);
  block_ = static_cast<BYTE*>(VirtualAlloc(nullptr, bytes, MEM_COMMIT, PAGE_READWRITE));
  if (block_ == nullptr) return E_OUTOFMEMORY;
  blockSize_ = bytes;
  return MakeSamplesIn(block_, stride);
}

HRESULT K_CMemoryAllocator::MakeSamplesIn(BYTE* base, size_t stride) {
  for (LONG i = 0; i < count_; ++i) {
    auto* sample = new (std::nothrow) K_CBufferSample(this, base + stride * i + prefix_, size_);
    if (sample == nullptr) {
      FreeBlock();
      return E_OUTOFMEMORY;
    }
    PushFree(sample);
    ++allocated_;
  }
  changed_ = false;
  return S_OK;
}

HRESULT CreateMemoryAllocatorInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr && !(riid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  auto* allocator = new (std::nothrow) K_CMemoryAllocator(outer);
  if (allocator == nullptr) return E_OUTOFMEMORY;
  allocator->InnerAddRef();
  const HRESULT result = allocator->InnerQueryInterface(riid, object);
  allocator->InnerRelease();
  return result;
}

K_CBufferSample::K_CBufferSample(K_CAllocatorBase* owner, BYTE* data, LONG size)
    : buffer(data), bufferSize(size), allocator(owner) {}

K_CBufferSample::~K_CBufferSample() { DeleteMediaType(mediaType); }

HRESULT K_CBufferSample::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IMediaSample || riid == IID_IMediaSample2)
    return GetInterface(static_cast<IMediaSample2*>(this), object);
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG K_CBufferSample::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references)); }

ULONG K_CBufferSample::Release() {
  const LONG count = InterlockedDecrement(&references);
  if (count > 0) return static_cast<ULONG>(count);
  if ((flags & AM_SAMPLE_TYPECHANGED) != 0) SetMediaType(nullptr);
  flags = 0;
  typeSpecificFlags = 0;
  streamId = 0;
  allocator->ReleaseBuffer(this);
  return 0;
}

HRESULT K_CBufferSample::GetPointer(BYTE** data) {
  if (data == nullptr) return E_POINTER;
  *data = buffer;
  return S_OK;
}

LONG K_CBufferSample::GetSize() { return bufferSize; }

HRESULT K_CBufferSample::GetTime(REFERENCE_TIME* startOut, REFERENCE_TIME* stopOut) {
  if (startOut == nullptr || stopOut == nullptr) return E_POINTER;
  if ((flags & AM_SAMPLE_STOPVALID) != 0) {
    *startOut = start;
    *stopOut = stop;
    return S_OK;
  }
  if ((flags & AM_SAMPLE_TIMEVALID) != 0) {
    *startOut = start;
    *stopOut = start + 1;
    return VFW_S_NO_STOP_TIME;
  }
  return VFW_E_SAMPLE_TIME_NOT_SET;
}

HRESULT K_CBufferSample::SetTime(REFERENCE_TIME* startIn, REFERENCE_TIME* stopIn) {
  if (startIn == nullptr) {
    flags &= ~(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
    return S_OK;
  }
  start = *startIn;
  if (stopIn != nullptr) {
    stop = *stopIn;
    flags |= AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
  } else {
    flags = (flags | AM_SAMPLE_TIMEVALID) & ~AM_SAMPLE_STOPVALID;
  }
  return S_OK;
}

HRESULT K_CBufferSample::SetFlag(DWORD flag, BOOL value) {
  flags = value ? flags | flag : flags & ~flag;
  return S_OK;
}

HRESULT K_CBufferSample::IsSyncPoint() { return (flags & AM_SAMPLE_SPLICEPOINT) ? S_OK : S_FALSE; }
HRESULT K_CBufferSample::SetSyncPoint(BOOL value) { return SetFlag(AM_SAMPLE_SPLICEPOINT, value); }
HRESULT K_CBufferSample::IsPreroll() { return (flags & AM_SAMPLE_PREROLL) ? S_OK : S_FALSE; }
HRESULT K_CBufferSample::SetPreroll(BOOL value) { return SetFlag(AM_SAMPLE_PREROLL, value); }
HRESULT K_CBufferSample::IsDiscontinuity() {
  return (flags & AM_SAMPLE_DATADISCONTINUITY) ? S_OK : S_FALSE;
}
HRESULT K_CBufferSample::SetDiscontinuity(BOOL value) {
  return SetFlag(AM_SAMPLE_DATADISCONTINUITY, value);
}

LONG K_CBufferSample::GetActualDataLength() { return actualLength; }

HRESULT K_CBufferSample::SetActualDataLength(LONG length) {
  if (length > bufferSize || length < 0) return VFW_E_BUFFER_OVERFLOW;
  actualLength = length;
  return S_OK;
}

HRESULT K_CBufferSample::GetMediaType(AM_MEDIA_TYPE** type) {
  if (type == nullptr) return E_POINTER;
  *type = nullptr;
  if ((flags & AM_SAMPLE_TYPECHANGED) == 0 || mediaType == nullptr) return S_FALSE;
  *type = CreateMediaTypeCopy(mediaType);
  return *type != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT K_CBufferSample::SetMediaType(AM_MEDIA_TYPE* type) {
  DeleteMediaType(mediaType);
  mediaType = nullptr;
  if (type == nullptr) {
    flags &= ~AM_SAMPLE_TYPECHANGED;
    return S_OK;
  }
  mediaType = CreateMediaTypeCopy(type);
  if (mediaType == nullptr) {
    flags &= ~AM_SAMPLE_TYPECHANGED;
    return E_OUTOFMEMORY;
  }
  flags |= AM_SAMPLE_TYPECHANGED;
  return S_OK;
}

HRESULT K_CBufferSample::GetMediaTime(LONGLONG* startOut, LONGLONG* endOut) {
  if (startOut == nullptr || endOut == nullptr) return E_POINTER;
  if ((flags & kMediaTimesValid) == 0) return VFW_E_MEDIA_TIME_NOT_SET;
  *startOut = mediaStart;
  *endOut = mediaStart + mediaLength;
  return S_OK;
}

HRESULT K_CBufferSample::SetMediaTime(LONGLONG* startIn, LONGLONG* endIn) {
  if (startIn == nullptr || endIn == nullptr) {
    flags &= ~kMediaTimesValid;
    return S_OK;
  }
  mediaStart = *startIn;
  mediaLength = static_cast<LONG>(*endIn - *startIn);
  flags |= kMediaTimesValid;
  return S_OK;
}

HRESULT K_CBufferSample::GetProperties(DWORD size, BYTE* properties) {
  if (size == 0) return S_OK;
  if (properties == nullptr) return E_POINTER;
  AM_SAMPLE2_PROPERTIES record{};
  record.cbData = std::min<DWORD>(size, sizeof(record));
  record.dwTypeSpecificFlags = typeSpecificFlags;
  record.dwSampleFlags = flags & ~kMediaTimesValid;
  record.lActual = actualLength;
  record.tStart = start;
  record.tStop = stop;
  record.dwStreamId = streamId;
  record.pMediaType = (flags & AM_SAMPLE_TYPECHANGED) != 0 ? mediaType : nullptr;
  record.pbBuffer = buffer;
  record.cbBuffer = bufferSize;
  std::memcpy(properties, &record, record.cbData);
  return S_OK;
}

HRESULT K_CBufferSample::SetProperties(DWORD size, const BYTE* properties) {
  if (size <= 3) return S_OK;
  if (properties == nullptr) return E_POINTER;
  AM_SAMPLE2_PROPERTIES record{};
  DWORD ownSize = 0;
  std::memcpy(&ownSize, properties, sizeof(ownSize));
  if (ownSize > sizeof(record) || size > sizeof(record)) return E_INVALIDARG;
  const DWORD present = std::min(ownSize, size);
  std::memcpy(&record, properties, present);
  auto has = [present](size_t offset, size_t bytes) { return offset + bytes <= present; };
  const bool hasFlags = has(offsetof(AM_SAMPLE2_PROPERTIES, dwSampleFlags), 4);
  const bool hasActual = has(offsetof(AM_SAMPLE2_PROPERTIES, lActual), 4);
  const bool hasStop = has(offsetof(AM_SAMPLE2_PROPERTIES, tStop), 8);
  const bool hasType = has(offsetof(AM_SAMPLE2_PROPERTIES, pMediaType), sizeof(void*));
  const bool hasBuffer = has(offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer), sizeof(void*));
  const bool hasBufferSize = has(offsetof(AM_SAMPLE2_PROPERTIES, cbBuffer), 4);
  if (hasFlags) {
    if ((record.dwSampleFlags & ~0x1DFu) != 0) return E_INVALIDARG;
    if ((record.dwSampleFlags & AM_SAMPLE_TIMEVALID) != 0 && (flags & AM_SAMPLE_TIMEVALID) == 0 &&
        !hasStop)
      return E_INVALIDARG;
  }
  MediaTypeObject* newType = nullptr;
  const bool typeGiven = hasFlags && hasType && (record.dwSampleFlags & AM_SAMPLE_TYPECHANGED);
  if (typeGiven) {
    if (record.pMediaType == nullptr) return E_POINTER;
    newType = CreateMediaTypeCopy(record.pMediaType);
    if (newType == nullptr) return E_OUTOFMEMORY;
  }
  const LONG newActual = hasActual ? record.lActual : actualLength;
  const bool badBuffer = hasBuffer && record.pbBuffer != nullptr && record.pbBuffer != buffer;
  const bool badSize = hasBufferSize && ((record.cbBuffer != 0 && record.cbBuffer != bufferSize) ||
                                         bufferSize < newActual);
  if (badBuffer || badSize || newActual < 0) {
    DeleteMediaType(newType);
    return E_INVALIDARG;
  }
  if (has(offsetof(AM_SAMPLE2_PROPERTIES, dwTypeSpecificFlags), 4))
    typeSpecificFlags = record.dwTypeSpecificFlags;
  if (hasFlags) flags = (record.dwSampleFlags & ~kMediaTimesValid) | (flags & kMediaTimesValid);
  if (hasActual) actualLength = record.lActual;
  if (has(offsetof(AM_SAMPLE2_PROPERTIES, tStart), 8)) start = record.tStart;
  if (hasStop) stop = record.tStop;
  if (has(offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId), 4)) streamId = record.dwStreamId;
  if (typeGiven) {
    DeleteMediaType(mediaType);
    mediaType = newType;
  }
  flags = mediaType != nullptr ? flags | AM_SAMPLE_TYPECHANGED : flags & ~AM_SAMPLE_TYPECHANGED;
  return S_OK;
}
