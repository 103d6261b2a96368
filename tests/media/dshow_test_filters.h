// Small filters and pins made on the framework for the framework's tests, and a graph stand-in
// that records the events filters send it.
#pragma once

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "media/dshow_framework.h"

namespace dshow_test {

inline MediaTypeObject MakeType(const GUID& major, const GUID& sub, const GUID& format,
                                std::vector<BYTE> block = {}) {
  MediaTypeObject type;
  ClearMediaType(&type);
  type.majortype = major;
  type.subtype = sub;
  type.formattype = format;
  if (!block.empty()) {
    type.cbFormat = static_cast<ULONG>(block.size());
    type.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(block.size()));
    std::copy(block.begin(), block.end(), type.pbFormat);
  }
  return type;
}

// A record of what pins were told, shared by the pins of one test.
using CallLog = std::vector<std::string>;

class TestFilter;

class TestOutputPin : public K_COutputPinBase {
 public:
  TestOutputPin(TestFilter* filter, CRITICAL_SECTION* lock, const char16_t* name, CallLog* log);
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override {
    if (type == nullptr) return E_POINTER;
    for (const auto& offered : offered_)
      if (MediaTypesEqual(offered, *type)) return S_OK;
    return acceptAny ? S_OK : S_FALSE;
  }
  HRESULT MediaTypeAt(int position, MediaTypeObject* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position >= static_cast<int>(offered_.size())) return S_FALSE;
    return CopyMediaType(type, &offered_[position]);
  }
  HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    if (refuseSizing) return E_FAIL;
    request->cBuffers = bufferCount;
    request->cbBuffer = bufferSize;
    ALLOCATOR_PROPERTIES actual;
    return allocator->SetProperties(request, &actual);
  }
  HRESULT PinActive() override {
    log_->push_back(std::string(nameUtf8_) + " active");
    return K_COutputPinBase::PinActive();
  }
  HRESULT PinRun(REFERENCE_TIME) override {
    log_->push_back(std::string(nameUtf8_) + " run");
    return S_OK;
  }
  HRESULT PinInactive() override {
    log_->push_back(std::string(nameUtf8_) + " inactive");
    return K_COutputPinBase::PinInactive();
  }
  void Offer(const MediaTypeObject& type) {
    offered_.push_back(type);
    IncrementTypeVersion();
  }
  ~TestOutputPin() override {
    for (auto& type : offered_) ReleaseMediaTypeContents(&type);
  }

  // Uses an allocator of its own even when the input pin offers one.
  HRESULT ChooseAllocator(IMemInputPin* input, IMemAllocator** chosen) override {
    if (!insistOnOwnAllocator) return K_COutputPinBase::ChooseAllocator(input, chosen);
    IMemAllocator* own = nullptr;
    HRESULT result = MakeAllocator(&own);
    if (FAILED(result)) return result;
    ALLOCATOR_PROPERTIES request{0, 0, 1, 0};
    result = SizeBuffers(own, &request);
    if (SUCCEEDED(result)) result = input->NotifyAllocator(own, FALSE);
    if (FAILED(result)) {
      own->Release();
      return result;
    }
    if (*chosen != nullptr) (*chosen)->Release();
    *chosen = own;
    return S_OK;
  }

  bool acceptAny = false;
  bool refuseSizing = false;
  bool insistOnOwnAllocator = false;
  LONG bufferCount = 2;
  LONG bufferSize = 1024;

 private:
  std::vector<MediaTypeObject> offered_;
  std::string nameUtf8_;
  CallLog* log_;
};

class TestInputPin : public K_CInputPinBase {
 public:
  TestInputPin(TestFilter* filter, CRITICAL_SECTION* lock, const char16_t* name, CallLog* log);
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override {
    if (type == nullptr) return E_POINTER;
    log_->push_back("accepts? " + SubtypeName(type->subtype));
    return type->subtype == accepted ? S_OK : S_FALSE;
  }
  HRESULT MediaTypeAt(int position, MediaTypeObject* type) override {
    if (position >= static_cast<int>(offered.size())) return S_FALSE;
    return CopyMediaType(type, &offered[position]);
  }
  HRESULT Receive(IMediaSample* sample) override {
    const HRESULT result = K_CInputPinBase::Receive(sample);
    if (result == S_OK) ++received;
    return result;
  }
  HRESULT PinActive() override {
    log_->push_back(std::string(nameUtf8_) + " active");
    return S_OK;
  }
  HRESULT PinRun(REFERENCE_TIME) override {
    log_->push_back(std::string(nameUtf8_) + " run");
    return S_OK;
  }
  ~TestInputPin() override {
    for (auto& type : offered) ReleaseMediaTypeContents(&type);
  }
  static std::string SubtypeName(const GUID& g) { return std::to_string(g.Data1); }

  GUID accepted = GUID_NULL;
  std::vector<MediaTypeObject> offered;
  int received = 0;

 private:
  std::string nameUtf8_;
  CallLog* log_;
};

class TestFilter : public K_CFilterBase {
 public:
  explicit TestFilter(const char16_t* name = u"Test")
      : K_CFilterBase(name, nullptr, section_.Get(), GUID_NULL) {}
  ~TestFilter() override {
    for (K_CPinBase* pin : pins_) delete pin;
  }
  int PinCount() override { return static_cast<int>(pins_.size()); }
  K_CPinBase* PinAt(int index) override {
    return index >= 0 && index < PinCount() ? pins_[index] : nullptr;
  }
  TestOutputPin* AddOutput(const char16_t* name, CallLog* log) {
    auto* pin = new TestOutputPin(this, section_.Get(), name, log);
    pins_.push_back(pin);
    IncrementPinVersion();
    return pin;
  }
  TestInputPin* AddInput(const char16_t* name, CallLog* log) {
    auto* pin = new TestInputPin(this, section_.Get(), name, log);
    pins_.push_back(pin);
    IncrementPinVersion();
    return pin;
  }
  void AddPin(K_CPinBase* pin) {
    pins_.push_back(pin);
    IncrementPinVersion();
  }
  // Filters begin with no reference: a test holds one for as long as it uses the filter.
  static TestFilter* Make(const char16_t* name = u"Test") {
    auto* filter = new TestFilter(name);
    filter->AsBaseFilter()->AddRef();
    return filter;
  }

 private:
  K_CCritSec section_;
  std::vector<K_CPinBase*> pins_;
};

inline std::string Narrow(const char16_t* name) {
  std::string text;
  for (; *name != 0; ++name) text += static_cast<char>(*name);
  return text;
}

inline TestOutputPin::TestOutputPin(TestFilter* filter, CRITICAL_SECTION* lock,
                                    const char16_t* name, CallLog* log)
    : K_COutputPinBase(u"out", filter, lock, nullptr, name), nameUtf8_(Narrow(name)), log_(log) {}

inline TestInputPin::TestInputPin(TestFilter* filter, CRITICAL_SECTION* lock, const char16_t* name,
                                  CallLog* log)
    : K_CInputPinBase(u"in", filter, lock, nullptr, name), nameUtf8_(Narrow(name)), log_(log) {}

// Stands in for the graph a filter joins: answers IMediaEventSink and records each Notify.
class EventRecorder final : public IFilterGraph, public IMediaEventSink {
 public:
  struct Event {
    LONG code;
    LONG_PTR first;
    LONG_PTR second;
  };
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IMediaEventSink) {
      *object = static_cast<IMediaEventSink*>(this);
      return S_OK;
    }
    if (riid == IID_IFilterGraph || riid == IID_IUnknown) {
      *object = static_cast<IFilterGraph*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT Notify(LONG code, LONG_PTR first, LONG_PTR second) override {
    K_CAutoLock guard(lock_.Get());
    events.push_back({code, first, second});
    return S_OK;
  }
  std::vector<Event> Snapshot() {
    K_CAutoLock guard(lock_.Get());
    return events;
  }
  HRESULT AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
  HRESULT EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
  HRESULT FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
  HRESULT ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  // As the system graph does it: both ends let go, then the output connects again.
  HRESULT Reconnect(IPin* pin) override {
    IPin* peer = nullptr;
    if (pin == nullptr || FAILED(pin->ConnectedTo(&peer)) || peer == nullptr)
      return VFW_E_NOT_CONNECTED;
    PIN_DIRECTION direction;
    pin->QueryDirection(&direction);
    IPin* out = direction == PINDIR_OUTPUT ? pin : peer;
    IPin* in = out == pin ? peer : pin;
    out->Disconnect();
    in->Disconnect();
    ++reconnects;
    const HRESULT result = out->Connect(in, nullptr);
    peer->Release();
    return result;
  }
  HRESULT Disconnect(IPin*) override { return E_NOTIMPL; }
  HRESULT SetDefaultSyncSource() override { return E_NOTIMPL; }

  std::vector<Event> events;
  int reconnects = 0;

 private:
  K_CCritSec lock_;
};

// The system graph with a few calls bent, made in its place by CoCreateInstance while a test
// holds a GraphDetour: it can refuse a filter by name (with or without a look at it first),
// render nothing, and counts the Connect calls it passes on.
class DetouredGraph final : public IGraphBuilder {
 public:
  struct Bends {
    std::u16string refuseFilter;      // AddFilter of this name fails
    bool lookBeforeRefusing = false;  // takes and drops a reference to the filter first
    bool renderNothing = false;       // Render succeeds and connects nothing
    int connectCalls = 0;
    int nullPinConnects = 0;
  };
  static Bends bends;

  static HRESULT Create(IUnknown* outer, REFIID riid, void** object) {
    IGraphBuilder* inner = nullptr;
    const HRESULT made =
        CreateFilterGraphInstance(outer, IID_IGraphBuilder, reinterpret_cast<void**>(&inner));
    if (FAILED(made)) return made;
    auto* graph = new DetouredGraph(inner);
    const HRESULT result = graph->QueryInterface(riid, object);
    graph->Release();
    return result;
  }
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IGraphBuilder || riid == IID_IFilterGraph) {
      AddRef();
      *object = static_cast<IGraphBuilder*>(this);
      return S_OK;
    }
    return inner_->QueryInterface(riid, object);
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override {
    if (name != nullptr && bends.refuseFilter == name) {
      if (bends.lookBeforeRefusing) {
        filter->AddRef();
        FILTER_STATE state;
        filter->GetState(0, &state);
        filter->Release();
      }
      return E_FAIL;
    }
    return inner_->AddFilter(filter, name);
  }
  HRESULT RemoveFilter(IBaseFilter* filter) override { return inner_->RemoveFilter(filter); }
  HRESULT EnumFilters(IEnumFilters** filters) override { return inner_->EnumFilters(filters); }
  HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override {
    return inner_->FindFilterByName(name, filter);
  }
  HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) override {
    return inner_->ConnectDirect(out, in, type);
  }
  HRESULT Reconnect(IPin* pin) override { return inner_->Reconnect(pin); }
  HRESULT Disconnect(IPin* pin) override { return inner_->Disconnect(pin); }
  HRESULT SetDefaultSyncSource() override { return inner_->SetDefaultSyncSource(); }
  HRESULT Connect(IPin* out, IPin* in) override {
    ++bends.connectCalls;
    if (out == nullptr || in == nullptr) ++bends.nullPinConnects;
    return inner_->Connect(out, in);
  }
  HRESULT Render(IPin* out) override { return bends.renderNothing ? S_OK : inner_->Render(out); }
  HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) override {
    return inner_->RenderFile(file, playList);
  }

 private:
  explicit DetouredGraph(IGraphBuilder* inner) : inner_(inner) {}
  ~DetouredGraph() { inner_->Release(); }
  IGraphBuilder* inner_;
  std::atomic<ULONG> references_{1};
};
inline DetouredGraph::Bends DetouredGraph::bends;

// Makes CoCreateInstance hand out detoured graphs for the scope of a block.
struct GraphDetour {
  GraphDetour() {
    DetouredGraph::bends = {};
    RegisterPlatformComClass(CLSID_FilterGraph, DetouredGraph::Create);
  }
  ~GraphDetour() { RegisterPlatformComClass(CLSID_FilterGraph, CreateFilterGraphInstance); }
  GraphDetour(const GraphDetour&) = delete;
  GraphDetour& operator=(const GraphDetour&) = delete;
};

// Seeking for a test pin to answer with: every call is unimplemented until a test overrides it.
class StubSeeking : public IMediaSeeking {
 public:
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetCapabilities(DWORD*) override { return E_NOTIMPL; }
  HRESULT CheckCapabilities(DWORD*) override { return E_NOTIMPL; }
  HRESULT IsFormatSupported(const GUID*) override { return E_NOTIMPL; }
  HRESULT QueryPreferredFormat(GUID*) override { return E_NOTIMPL; }
  HRESULT GetTimeFormat(GUID*) override { return E_NOTIMPL; }
  HRESULT IsUsingTimeFormat(const GUID*) override { return E_NOTIMPL; }
  HRESULT SetTimeFormat(const GUID*) override { return E_NOTIMPL; }
  HRESULT GetDuration(LONGLONG*) override { return E_NOTIMPL; }
  HRESULT GetStopPosition(LONGLONG*) override { return E_NOTIMPL; }
  HRESULT GetCurrentPosition(LONGLONG*) override { return E_NOTIMPL; }
  HRESULT ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) override {
    return E_NOTIMPL;
  }
  HRESULT SetPositions(LONGLONG*, DWORD, LONGLONG*, DWORD) override { return E_NOTIMPL; }
  HRESULT GetPositions(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  HRESULT GetAvailable(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  HRESULT SetRate(double) override { return E_NOTIMPL; }
  HRESULT GetRate(double*) override { return E_NOTIMPL; }
  HRESULT GetPreroll(LONGLONG*) override { return E_NOTIMPL; }
};

// An output pin that answers IMediaSeeking with a seeking object of the test's own.
template <typename Seeking>
class SeekingTestOutputPin final : public TestOutputPin {
 public:
  using TestOutputPin::TestOutputPin;
  HRESULT InnerQueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IMediaSeeking) {
      *object = static_cast<IMediaSeeking*>(&seeking);
      return S_OK;
    }
    return TestOutputPin::InnerQueryInterface(riid, object);
  }
  Seeking seeking;
};

}  // namespace dshow_test
