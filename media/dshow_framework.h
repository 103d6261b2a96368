// The engine's filter framework: the counted COM object base, media types, the node list and the
// enumerators, the allocator and its samples, and the base filter and pins every filter of the
// engine is written on.
#pragma once

#include <atomic>

#include "platform/dshow/dshow.h"
#include "platform/win32/kernel.h"

using MediaTypeObject = AM_MEDIA_TYPE;

// Holds a critical section for the scope of a block.
class K_CAutoLock {
 public:
  explicit K_CAutoLock(CRITICAL_SECTION* lock) : lock_(lock) { EnterCriticalSection(lock_); }
  ~K_CAutoLock() { LeaveCriticalSection(lock_); }
  K_CAutoLock(const K_CAutoLock&) = delete;
  K_CAutoLock& operator=(const K_CAutoLock&) = delete;

 private:
  CRITICAL_SECTION* lock_;
};

// A critical section that lives and dies with its owner.
class K_CCritSec {
 public:
  K_CCritSec() { InitializeCriticalSection(&section_); }
  ~K_CCritSec() { DeleteCriticalSection(&section_); }
  K_CCritSec(const K_CCritSec&) = delete;
  K_CCritSec& operator=(const K_CCritSec&) = delete;
  CRITICAL_SECTION* Get() { return &section_; }

 private:
  CRITICAL_SECTION section_;
};

class K_CCountedObject {
 public:
  K_CCountedObject();
  virtual ~K_CCountedObject();
  K_CCountedObject(const K_CCountedObject&) = delete;
  K_CCountedObject& operator=(const K_CCountedObject&) = delete;
};
// Framework objects alive now: tests use it to see that a graph left nothing behind.
LONG LiveFrameworkObjectCount();
// "OleAut32.dll", loaded on first use and kept until the last framework object is gone; null
// (with the last error set) when it cannot be loaded.
HMODULE FrameworkOleAut32();

// The reference-counted object base. When aggregated, every interface but the inner IUnknown
// forwards to the outer object; otherwise to the object's own inner IUnknown.
class K_CComBase : public K_CCountedObject {
 public:
  explicit K_CComBase(IUnknown* outer);
  virtual HRESULT InnerQueryInterface(REFIID riid, void** object);
  virtual ULONG InnerAddRef();
  virtual ULONG InnerRelease();
  IUnknown* Owner() const { return owner_; }
  // The non-delegating IUnknown that an aggregating outer object holds.
  IUnknown* InnerUnknown() { return &inner_; }

 protected:
  LONG volatile references_ = 0;

 private:
  struct Inner final : IUnknown {
    K_CComBase* self = nullptr;
    HRESULT QueryInterface(REFIID riid, void** object) override {
      return self->InnerQueryInterface(riid, object);
    }
    ULONG AddRef() override { return self->InnerAddRef(); }
    ULONG Release() override { return self->InnerRelease(); }
  };
  Inner inner_;
  IUnknown* owner_;
};

// The IUnknown of an interface a K_CComBase class implements: everything goes to the owner.
#define K_FORWARD_IUNKNOWN_TO_OWNER                             \
  HRESULT QueryInterface(REFIID riid, void** object) override { \
    return Owner()->QueryInterface(riid, object);               \
  }                                                             \
  ULONG AddRef() override { return Owner()->AddRef(); }         \
  ULONG Release() override { return Owner()->Release(); }

// Hands out an interface: adds a reference and stores it. Null out: E_POINTER.
HRESULT GetInterface(IUnknown* unknown, void** object);
// A task-memory copy of a UTF-16 string for the caller to free.
HRESULT CopyStringToTaskMemory(LPCWSTR source, LPWSTR* copy);
// A heap copy of a UTF-16 string (null for null), and the string helpers of the framework.
WCHAR* DuplicateWideString(LPCWSTR source);
size_t WideStringLength(LPCWSTR text);
int CompareWideStrings(LPCWSTR a, LPCWSTR b);
// Copies at most `capacity` - 1 characters and always ends the copy with a NUL.
void CopyWideStringCut(WCHAR* target, size_t capacity, LPCWSTR source);

// Media type operations.
void ClearMediaType(MediaTypeObject* type);
void ReleaseMediaTypeContents(MediaTypeObject* type);
HRESULT CopyMediaType(MediaTypeObject* target, const MediaTypeObject* source);
HRESULT AssignMediaType(MediaTypeObject* target, const MediaTypeObject* source);
MediaTypeObject* CreateMediaTypeCopy(const MediaTypeObject* source);
void DeleteMediaType(MediaTypeObject* type);
bool MediaTypesEqual(const MediaTypeObject& a, const MediaTypeObject& b);
bool IsPartiallySpecified(const MediaTypeObject& type);
bool MatchesPartial(const MediaTypeObject& type, const MediaTypeObject& partial);

class K_CNodeList {
 public:
  struct Node {
    Node* previous;
    Node* next;
    void* object;
  };
  K_CNodeList() = default;
  ~K_CNodeList();
  K_CNodeList(const K_CNodeList&) = delete;
  K_CNodeList& operator=(const K_CNodeList&) = delete;
  Node* AddTail(void* object);
  void* Remove(Node* node);
  Node* Find(const void* object) const;
  void RemoveAll();
  Node* First() const { return first_; }
  int Count() const { return count_; }
  int SpareCount() const { return spareCount_; }

 private:
  Node* first_ = nullptr;
  Node* last_ = nullptr;
  int count_ = 0;
  Node* spare_ = nullptr;
  int spareCount_ = 0;
};

class K_CBufferSample;
class K_CFilterBase;
class K_CPinBase;

class K_CPinEnumerator final : public IEnumPins {
 public:
  K_CPinEnumerator(K_CFilterBase* filter, const K_CPinEnumerator* copyFrom);
  ~K_CPinEnumerator() override;
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) override;
  HRESULT Skip(ULONG count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumPins** copy) override;

 private:
  int position_ = 0;
  int pinCount_ = 0;
  K_CFilterBase* filter_;
  int version_ = 0;
  LONG volatile references_ = 1;
  K_CNodeList handedOut_;
};

class K_CMediaTypeEnumerator final : public IEnumMediaTypes {
 public:
  K_CMediaTypeEnumerator(K_CPinBase* pin, const K_CMediaTypeEnumerator* copyFrom);
  ~K_CMediaTypeEnumerator() override;
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  HRESULT Skip(ULONG count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumMediaTypes** copy) override;

 private:
  int position_ = 0;
  K_CPinBase* pin_;
  int version_ = 0;
  LONG volatile references_ = 1;
};

// The allocator base: properties, commit and decommit, and the free list of samples.
class K_CAllocatorBase : public K_CComBase, public IMemAllocatorCallbackTemp {
 public:
  K_CAllocatorBase(IUnknown* outer, bool makeSemaphore, bool offerReleaseCallback);
  ~K_CAllocatorBase() override;
  K_FORWARD_IUNKNOWN_TO_OWNER
  HRESULT InnerQueryInterface(REFIID riid, void** object) override;
  HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  HRESULT GetProperties(ALLOCATOR_PROPERTIES* properties) override;
  HRESULT Commit() override;
  HRESULT Decommit() override;
  HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                    DWORD flags) override;
  HRESULT ReleaseBuffer(IMediaSample* sample) override;
  HRESULT SetNotify(IMemAllocatorNotifyCallbackTemp* notify) override;
  HRESULT GetFreeCount(LONG* free) override;

 protected:
  virtual void FreeBuffers() = 0;
  virtual HRESULT MakeBuffers();
  void PushFree(K_CBufferSample* sample);
  K_CBufferSample* PopFree();

  K_CCritSec lock_;
  K_CBufferSample* freeList_ = nullptr;
  int freeCount_ = 0;
  bool releaseCallback_;
  HANDLE semaphore_ = nullptr;
  LONG waiting_ = 0;
  LONG count_ = 0;
  LONG allocated_ = 0;
  LONG size_ = 0;
  LONG alignment_ = 0;
  LONG prefix_ = 0;
  bool changed_ = false;
  bool committed_ = false;
  bool decommitInProgress_ = false;
  IMemAllocatorNotifyCallbackTemp* notify_ = nullptr;
};

// All buffers in one block of memory, kept after a decommit until the properties change.
class K_CMemoryAllocator : public K_CAllocatorBase {
 public:
  explicit K_CMemoryAllocator(IUnknown* outer);
  ~K_CMemoryAllocator() override;

 protected:
  void FreeBuffers() override {}
  HRESULT MakeBuffers() override;
  // count_ samples of size_ bytes in the memory at base, one stride apart, each after the prefix.
  HRESULT MakeSamplesIn(BYTE* base, size_t stride);
  void FreeBlock();

  BYTE* block_ = nullptr;
  size_t blockSize_ = 0;
};
// The system memory allocator's class: a K_CMemoryAllocator.
HRESULT CreateMemoryAllocatorInstance(IUnknown* outer, REFIID riid, void** object);

class K_CBufferSample final : public IMediaSample2 {
 public:
  K_CBufferSample(K_CAllocatorBase* allocator, BYTE* buffer, LONG size);
  ~K_CBufferSample() override;
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetPointer(BYTE** buffer) override;
  LONG GetSize() override;
  HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
  HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
  HRESULT IsSyncPoint() override;
  HRESULT SetSyncPoint(BOOL value) override;
  HRESULT IsPreroll() override;
  HRESULT SetPreroll(BOOL value) override;
  LONG GetActualDataLength() override;
  HRESULT SetActualDataLength(LONG length) override;
  HRESULT GetMediaType(AM_MEDIA_TYPE** type) override;
  HRESULT SetMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT IsDiscontinuity() override;
  HRESULT SetDiscontinuity(BOOL value) override;
  HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) override;
  HRESULT SetMediaTime(LONGLONG* start, LONGLONG* end) override;
  HRESULT GetProperties(DWORD size, BYTE* properties) override;
  HRESULT SetProperties(DWORD size, const BYTE* properties) override;

  static constexpr DWORD kMediaTimesValid = 0x20;
  DWORD flags = 0;
  DWORD typeSpecificFlags = 0;
  BYTE* buffer;
  LONG actualLength = 0;
  LONG bufferSize;
  K_CAllocatorBase* allocator;
  K_CBufferSample* next = nullptr;
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  LONGLONG mediaStart = 0;
  LONG mediaLength = 0;
  MediaTypeObject* mediaType = nullptr;
  DWORD streamId = 0;
  LONG volatile references = 0;

 private:
  HRESULT SetFlag(DWORD flag, BOOL value);
};

// The base filter: state machine, clock, graph links and pins.
class K_CFilterBase : public K_CComBase, public IBaseFilter, public IAMovieSetup {
 public:
  K_CFilterBase(LPCWSTR name, IUnknown* outer, CRITICAL_SECTION* lock, REFCLSID clsid);
  ~K_CFilterBase() override;
  K_FORWARD_IUNKNOWN_TO_OWNER
  HRESULT InnerQueryInterface(REFIID riid, void** object) override;
  virtual HRESULT GetStreamTime(REFERENCE_TIME* time);
  virtual int PinVersion() { return pinVersion_; }
  virtual int PinCount() = 0;
  virtual K_CPinBase* PinAt(int index) = 0;
  virtual const void* SetupData() { return nullptr; }

  HRESULT GetClassID(CLSID* classId) override;
  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) override;
  HRESULT SetSyncSource(IReferenceClock* clock) override;
  HRESULT GetSyncSource(IReferenceClock** clock) override;
  HRESULT EnumPins(IEnumPins** pins) override;
  HRESULT FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT QueryVendorInfo(LPWSTR* vendorInfo) override;
  HRESULT Register() override;
  HRESULT Unregister() override;

  HRESULT ReconnectPin(IPin* pin, const AM_MEDIA_TYPE* type);
  HRESULT PostFilterEvent(LONG code, LONG_PTR first, LONG_PTR second);
  void IncrementPinVersion() { InterlockedIncrement(&pinVersion_); }
  bool IsStopped() const { return state_ == State_Stopped; }
  FILTER_STATE State() const { return state_; }
  CRITICAL_SECTION* Lock() const { return lock_; }
  IBaseFilter* AsBaseFilter() { return this; }
  IFilterGraph* Graph() const { return graph_; }

 protected:
  // Read by streaming threads without the filter lock.
  std::atomic<FILTER_STATE> state_{State_Stopped};
  IReferenceClock* clock_ = nullptr;
  REFERENCE_TIME start_ = 0;
  CLSID clsid_;
  CRITICAL_SECTION* lock_;
  WCHAR* name_ = nullptr;
  IFilterGraph* graph_ = nullptr;
  IMediaEventSink* sink_ = nullptr;
  LONG volatile pinVersion_ = 1;
};

class K_CPinBase : public K_CComBase, public IPin, public IQualityControl {
 public:
  K_CPinBase(LPCWSTR objectName, K_CFilterBase* filter, CRITICAL_SECTION* lock, HRESULT* result,
             LPCWSTR pinName, PIN_DIRECTION direction);
  ~K_CPinBase() override;
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT InnerQueryInterface(REFIID riid, void** object) override;
  ULONG InnerAddRef() override;
  ULONG InnerRelease() override;

  virtual int TypeVersion() { return typeVersion_; }
  virtual HRESULT PinActive() { return S_OK; }
  virtual HRESULT PinInactive();
  virtual HRESULT PinRun(REFERENCE_TIME) { return S_OK; }
  virtual HRESULT AcceptsMediaType(const MediaTypeObject* type) = 0;
  virtual HRESULT TakeMediaType(const MediaTypeObject* type);
  virtual HRESULT CheckPeer(IPin* pin);
  virtual HRESULT BreakPeer() { return S_OK; }
  virtual HRESULT CompletePeer(IPin*) { return S_OK; }
  virtual HRESULT MediaTypeAt(int position, MediaTypeObject* type);
  virtual HRESULT DropConnection();

  HRESULT Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
  HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT Disconnect() override;
  HRESULT ConnectedTo(IPin** pin) override;
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT QueryPinInfo(PIN_INFO* info) override;
  HRESULT QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT QueryId(LPWSTR* id) override;
  HRESULT QueryAccept(const AM_MEDIA_TYPE* type) override;
  HRESULT EnumMediaTypes(IEnumMediaTypes** types) override;
  HRESULT QueryInternalConnections(IPin** pins, ULONG* count) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  HRESULT Notify(IBaseFilter* self, Quality quality) override;
  HRESULT SetSink(IQualityControl* sink) override;

  bool IsConnected() const { return connected_ != nullptr; }
  IPin* Connected() const { return connected_; }
  PIN_DIRECTION Direction() const { return direction_; }
  LPCWSTR Name() const { return name_; }
  const MediaTypeObject& ConnectionType() const { return type_; }
  K_CFilterBase* Filter() const { return filter_; }
  void SetTryOwnTypesFirst(bool value) { tryOwnTypesFirst_ = value; }
  void IncrementTypeVersion() { InterlockedIncrement(&typeVersion_); }

 protected:
  HRESULT AgreeMediaType(IPin* receiver, const MediaTypeObject* type);
  HRESULT TryTypes(IPin* receiver, const MediaTypeObject* partial, IEnumMediaTypes* types);
  HRESULT AttemptConnection(IPin* receiver, const MediaTypeObject* type);

  WCHAR* name_ = nullptr;
  IPin* connected_ = nullptr;
  PIN_DIRECTION direction_;
  CRITICAL_SECTION* lock_;
  bool runtimeError_ = false;
  bool canReconnectWhenActive_ = false;
  bool tryOwnTypesFirst_ = false;
  K_CFilterBase* filter_;
  IQualityControl* qualitySink_ = nullptr;
  LONG volatile typeVersion_ = 1;
  MediaTypeObject type_;
  REFERENCE_TIME segmentStart_ = 0;
  REFERENCE_TIME segmentStop_ = 0x7FFFFFFFFFFFFFFF;
  double rate_ = 1.0;
};

class K_CInputPinBase : public K_CPinBase, public IMemInputPin {
 public:
  K_CInputPinBase(LPCWSTR objectName, K_CFilterBase* filter, CRITICAL_SECTION* lock,
                  HRESULT* result, LPCWSTR pinName);
  ~K_CInputPinBase() override;
  HRESULT QueryInterface(REFIID riid, void** object) override {
    return K_CPinBase::QueryInterface(riid, object);
  }
  ULONG AddRef() override { return K_CPinBase::AddRef(); }
  ULONG Release() override { return K_CPinBase::Release(); }
  HRESULT InnerQueryInterface(REFIID riid, void** object) override;

  virtual HRESULT CheckStreaming();
  HRESULT PinInactive() override;
  HRESULT BreakPeer() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;

  HRESULT GetAllocator(IMemAllocator** allocator) override;
  HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* done) override;
  HRESULT ReceiveCanBlock() override;

  bool IsFlushing() const { return flushing_; }
  IMemAllocator* Allocator() const { return allocator_; }
  const AM_SAMPLE2_PROPERTIES& SampleProperties() const { return properties_; }

 protected:
  IMemAllocator* allocator_ = nullptr;
  bool readOnly_ = false;
  bool flushing_ = false;
  AM_SAMPLE2_PROPERTIES properties_{};
};

class K_COutputPinBase : public K_CPinBase {
 public:
  K_COutputPinBase(LPCWSTR objectName, K_CFilterBase* filter, CRITICAL_SECTION* lock,
                   HRESULT* result, LPCWSTR pinName);
  ~K_COutputPinBase() override;

  HRESULT CheckPeer(IPin* pin) override;
  HRESULT CompletePeer(IPin* pin) override;
  HRESULT BreakPeer() override;
  HRESULT PinActive() override;
  HRESULT PinInactive() override;
  HRESULT EndOfStream() override { return E_UNEXPECTED; }
  HRESULT BeginFlush() override { return E_UNEXPECTED; }
  HRESULT EndFlush() override { return E_UNEXPECTED; }

  virtual HRESULT ChooseAllocator(IMemInputPin* input, IMemAllocator** chosen);
  virtual HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
  virtual HRESULT TakeDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start,
                                     REFERENCE_TIME* stop, DWORD flags);
  virtual HRESULT DeliverSample(IMediaSample* sample);
  virtual HRESULT MakeAllocator(IMemAllocator** allocator);
  virtual HRESULT PassEndOfStream();
  virtual HRESULT PassBeginFlush();
  virtual HRESULT PassEndFlush();
  virtual HRESULT PassNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  IMemAllocator* Allocator() const { return allocator_; }

 protected:
  IMemAllocator* allocator_ = nullptr;
  IMemInputPin* input_ = nullptr;
};
