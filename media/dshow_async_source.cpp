// The asynchronous source filter and the memory stream under it. Requests are served in order
// when the downstream filter waits for them, on its own thread.
#include "media/dshow_async_source.h"

#include <algorithm>
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

K_CAsyncSourcePin::K_CAsyncSourcePin(K_CAsyncSourceFilter* filter, CRITICAL_SECTION* lock)
    : K_CPinBase(u"Async output", filter, lock, nullptr, u"Output", PINDIR_OUTPUT),
      source_(filter) {}

HRESULT K_CAsyncSourcePin::InnerQueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IAsyncReader) return GetInterface(static_cast<IAsyncReader*>(this), object);
  return K_CPinBase::InnerQueryInterface(riid, object);
}

HRESULT K_CAsyncSourcePin::AcceptsMediaType(const MediaTypeObject* type) {
  if (type == nullptr) return E_POINTER;
  return MatchesPartial(source_->OfferedType(), *type) ? S_OK : S_FALSE;
}

HRESULT K_CAsyncSourcePin::MediaTypeAt(int position, MediaTypeObject* type) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  return CopyMediaType(type, &source_->OfferedType());
}

HRESULT K_CAsyncSourcePin::BeginFlush() {
  K_CAutoLock guard(requestLock_.Get());
  flushing_ = true;
  return S_OK;
}

HRESULT K_CAsyncSourcePin::EndFlush() {
  K_CAutoLock guard(requestLock_.Get());
  flushing_ = false;
  return S_OK;
}

HRESULT K_CAsyncSourcePin::RequestAllocator(IMemAllocator* preferred,
                                            ALLOCATOR_PROPERTIES* properties,
                                            IMemAllocator** actual) {
  if (properties == nullptr || actual == nullptr) return E_POINTER;
  *actual = nullptr;
  ALLOCATOR_PROPERTIES request = *properties, got;
  if (request.cbAlign == 0) request.cbAlign = 1;
  if (preferred != nullptr && SUCCEEDED(preferred->SetProperties(&request, &got))) {
    preferred->AddRef();
    *actual = preferred;
    return S_OK;
  }
  IMemAllocator* own = nullptr;
  HRESULT result =
      CreateMemoryAllocatorInstance(nullptr, IID_IMemAllocator, reinterpret_cast<void**>(&own));
  if (FAILED(result)) return result;
  result = own->SetProperties(&request, &got);
  if (FAILED(result)) {
    own->Release();
    return result;
  }
  *actual = own;
  return S_OK;
}

HRESULT K_CAsyncSourcePin::ReadSample(IMediaSample* sample) {
  REFERENCE_TIME start = 0, stop = 0;
  if (FAILED(sample->GetTime(&start, &stop))) return E_INVALIDARG;
  // Sample times carry byte positions, ten million to the byte, as the pull protocol has them.
  const LONGLONG position = start / 10000000;
  const LONGLONG length = (stop - start) / 10000000;
  if (length < 0 || length > sample->GetSize()) return E_INVALIDARG;
  BYTE* buffer = nullptr;
  sample->GetPointer(&buffer);
  const HRESULT result = SyncRead(position, static_cast<LONG>(length), buffer);
  if (FAILED(result)) return result;
  LONGLONG total = source_->Stream()->GetLength(nullptr);
  const LONG got = static_cast<LONG>(std::max<LONGLONG>(0, std::min(length, total - position)));
  sample->SetActualDataLength(got);
  return got == length ? S_OK : S_FALSE;
}

HRESULT K_CAsyncSourcePin::Request(IMediaSample* sample, DWORD_PTR user) {
  if (sample == nullptr) return E_POINTER;
  K_CAutoLock guard(requestLock_.Get());
  if (flushing_) return VFW_E_WRONG_STATE;
  sample->AddRef();
  requests_.push_back({sample, user});
  return S_OK;
}

HRESULT K_CAsyncSourcePin::WaitForNext(DWORD, IMediaSample** sample, DWORD_PTR* user) {
  if (sample == nullptr || user == nullptr) return E_POINTER;
  *sample = nullptr;
  PendingRequest next;
  {
    K_CAutoLock guard(requestLock_.Get());
    if (requests_.empty()) return flushing_ ? VFW_E_WRONG_STATE : VFW_E_TIMEOUT;
    next = requests_.front();
    requests_.erase(requests_.begin());
  }
  *sample = next.sample;  // the request's reference goes to the caller
  *user = next.user;
  return ReadSample(next.sample);
}

HRESULT K_CAsyncSourcePin::SyncReadAligned(IMediaSample* sample) {
  if (sample == nullptr) return E_POINTER;
  return ReadSample(sample);
}

HRESULT K_CAsyncSourcePin::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
  if (buffer == nullptr && length > 0) return E_POINTER;
  K_CAsyncSourceStream* stream = source_->Stream();
  stream->Lock();
  HRESULT result = stream->SetPosition(position);
  DWORD read = 0;
  if (result == S_OK) result = stream->Read(buffer, static_cast<DWORD>(length), FALSE, &read);
  stream->Unlock();
  if (FAILED(result)) return result;
  return result == S_OK && read == static_cast<DWORD>(length) ? S_OK : S_FALSE;
}

HRESULT K_CAsyncSourcePin::Length(LONGLONG* total, LONGLONG* available) {
  if (total == nullptr || available == nullptr) return E_POINTER;
  *total = source_->Stream()->GetLength(available);
  return S_OK;
}

K_CAsyncSourceFilter::K_CAsyncSourceFilter(LPCWSTR name, IUnknown* outer,
                                           K_CAsyncSourceStream* stream,
                                           const MediaTypeObject* type)
    : K_CFilterBase(
          name, outer, nullptr,
          CLSID{0xC553F2C0, 0x1529, 0x11D0, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}}),
      stream_(stream),
      pin_(this, section_.Get()) {
  lock_ = section_.Get();
  ClearMediaType(&type_);
  if (type != nullptr) CopyMediaType(&type_, type);
}

K_CAsyncSourceFilter::~K_CAsyncSourceFilter() { ReleaseMediaTypeContents(&type_); }

K_CMemStream* CreateMemStream(const void* data, LONGLONG length, DWORD kilobytesPerSecond) {
  return new (std::nothrow)
      K_CMemStream(static_cast<const BYTE*>(data), length, kilobytesPerSecond);
}

K_CMemReader* CreateMemReader(K_CMemStream* stream, const MediaTypeObject* type, HRESULT* result) {
  auto* reader = new (std::nothrow) K_CAsyncSourceFilter(u"Mem Reader", nullptr, stream, type);
  if (result != nullptr) *result = reader != nullptr ? S_OK : E_OUTOFMEMORY;
  return reader;
}
