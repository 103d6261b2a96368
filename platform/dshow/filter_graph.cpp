// The filter graph manager: holds filters, connects their pins directly or through filters made
// by the registered factories, runs them in order (renderers first), passes seeking to the
// renderers and collects their events into the completion the application waits for.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/dshow/dshow.h"

namespace {

std::mutex factoryLock;
struct FactoryLists {
  std::vector<GraphSourceFactory> sources;
  std::vector<GraphDecoderFactory> decoders;
};

FactoryLists& Factories() {
  // Never destroyed: a program may end the engine from a static destructor or an exit handler.
  static auto* lists = new FactoryLists;
  return *lists;
}

template <class Factory>
int AddFactory(std::vector<Factory>& list, Factory factory) {
  if (factory == nullptr) return -1;
  std::lock_guard guard(factoryLock);
  if (std::find(list.begin(), list.end(), factory) == list.end()) list.push_back(factory);
  return 0;
}

template <class Factory>
std::vector<Factory> Snapshot(const std::vector<Factory>& list) {
  std::lock_guard guard(factoryLock);
  return list;
}

// The pins of a filter, each with a reference.
std::vector<IPin*> PinsOf(IBaseFilter* filter) {
  std::vector<IPin*> pins;
  IEnumPins* pinEnum = nullptr;
  if (FAILED(filter->EnumPins(&pinEnum)) || pinEnum == nullptr) return pins;
  IPin* pin = nullptr;
  ULONG fetched = 0;
  while (pinEnum->Next(1, &pin, &fetched) == S_OK && fetched == 1) pins.push_back(pin);
  pinEnum->Release();
  return pins;
}

void ReleaseAll(std::vector<IPin*>& pins) {
  for (IPin* pin : pins) pin->Release();
  pins.clear();
}

PIN_DIRECTION DirectionOf(IPin* pin) {
  PIN_DIRECTION direction = PINDIR_INPUT;
  pin->QueryDirection(&direction);
  return direction;
}

bool IsConnected(IPin* pin) {
  IPin* peer = nullptr;
  if (FAILED(pin->ConnectedTo(&peer)) || peer == nullptr) return false;
  peer->Release();
  return true;
}

IBaseFilter* FilterOf(IPin* pin) {
  PIN_INFO info{};
  if (FAILED(pin->QueryPinInfo(&info))) return nullptr;
  return info.pFilter;  // with a reference
}

// A renderer is a filter with input pins and no output pins.
bool IsRenderer(IBaseFilter* filter) {
  auto pins = PinsOf(filter);
  bool inputs = false, outputs = false;
  for (IPin* pin : pins) (DirectionOf(pin) == PINDIR_INPUT ? inputs : outputs) = true;
  ReleaseAll(pins);
  return inputs && !outputs;
}

bool IsTerminalEvent(LONG code) {
  return code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT;
}

class FilterGraph;

class FilterEnumerator final : public PlatformComObject<IEnumFilters> {
 public:
  explicit FilterEnumerator(std::vector<IBaseFilter*> filters) : filters_(std::move(filters)) {
    for (IBaseFilter* filter : filters_) filter->AddRef();
  }
  ~FilterEnumerator() override {
    for (IBaseFilter* filter : filters_) filter->Release();
  }
  HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) override {
    if (filters == nullptr) return E_POINTER;
    ULONG given = 0;
    while (given < count && position_ < filters_.size()) {
      filters[given] = filters_[position_++];
      filters[given++]->AddRef();
    }
    if (fetched != nullptr) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    position_ = std::min<size_t>(filters_.size(), position_ + count);
    return position_ < filters_.size() ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumFilters** copy) override {
    if (copy == nullptr) return E_POINTER;
    auto* clone = new (std::nothrow) FilterEnumerator(filters_);
    if (clone == nullptr) return E_OUTOFMEMORY;
    clone->position_ = position_;
    *copy = clone;
    return S_OK;
  }

 protected:
  bool Offers(REFIID riid) const override { return riid == IID_IEnumFilters; }

 private:
  std::vector<IBaseFilter*> filters_;
  size_t position_ = 0;
};

class FilterGraph final : public IGraphBuilder,
                          public IMediaControl,
                          public IMediaSeeking,
                          public IMediaFilter,
                          public IMediaEvent,
                          public IMediaEventSink,
                          public IBasicAudio {
 public:
  FilterGraph() { eventReady_ = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~FilterGraph() override {
    // Teardown is synchronous: streaming threads end with the stop, then every filter goes.
    Stop();
    std::vector<Member> members;
    {
      std::lock_guard guard(lock_);
      members = members_;
    }
    for (const Member& member : members) {
      auto pins = PinsOf(member.filter);
      for (IPin* pin : pins) pin->Disconnect();
      ReleaseAll(pins);
    }
    for (const Member& member : members) {
      member.filter->JoinFilterGraph(nullptr, nullptr);
      member.filter->Release();
    }
    if (clock_ != nullptr) clock_->Release();
    CloseHandle(eventReady_);
  }

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    void* answer = nullptr;
    if (riid == IID_IUnknown || riid == IID_IGraphBuilder || riid == IID_IFilterGraph)
      answer = static_cast<IGraphBuilder*>(this);
    else if (riid == IID_IMediaControl)
      answer = static_cast<IMediaControl*>(this);
    else if (riid == IID_IMediaSeeking)
      answer = static_cast<IMediaSeeking*>(this);
    else if (riid == IID_IMediaFilter)
      answer = static_cast<IMediaFilter*>(this);
    else if (riid == IID_IMediaEvent)
      answer = static_cast<IMediaEvent*>(this);
    else if (riid == IID_IMediaEventSink)
      answer = static_cast<IMediaEventSink*>(this);
    else if (riid == IID_IBasicAudio)
      answer = static_cast<IBasicAudio*>(this);
    *object = answer;
    if (answer == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // IFilterGraph
  HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override {
    if (filter == nullptr) return E_POINTER;
    std::u16string unique = name != nullptr ? name : u"";
    {
      std::lock_guard guard(lock_);
      for (const Member& member : members_)
        if (member.filter == filter) return E_INVALIDARG;
      for (int n = 2; NameTaken(unique); ++n) {
        // A second filter of the same name is told apart by a number.
        const std::string number = std::to_string(n);
        unique = std::u16string(name != nullptr ? name : u"") + u" " +
                 std::u16string(number.begin(), number.end());
      }
      filter->AddRef();
      members_.push_back({filter, unique});
    }
    const HRESULT joined = filter->JoinFilterGraph(this, unique.c_str());
    if (FAILED(joined)) {
      RemoveFilter(filter);
      return joined;
    }
    filter->SetSyncSource(noClock_ ? nullptr : clock_);
    return S_OK;
  }
  HRESULT RemoveFilter(IBaseFilter* filter) override {
    {
      std::lock_guard guard(lock_);
      auto it = std::find_if(members_.begin(), members_.end(),
                             [filter](const Member& m) { return m.filter == filter; });
      if (it == members_.end()) return VFW_E_NOT_FOUND;
      members_.erase(it);
    }
    auto pins = PinsOf(filter);
    for (IPin* pin : pins) {
      IPin* peer = nullptr;
      if (SUCCEEDED(pin->ConnectedTo(&peer)) && peer != nullptr) {
        peer->Disconnect();
        peer->Release();
      }
      pin->Disconnect();
    }
    ReleaseAll(pins);
    filter->JoinFilterGraph(nullptr, nullptr);
    filter->Release();
    return S_OK;
  }
  HRESULT EnumFilters(IEnumFilters** filters) override {
    if (filters == nullptr) return E_POINTER;
    *filters = new (std::nothrow) FilterEnumerator(Filters());
    return *filters != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override {
    if (filter == nullptr || name == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    for (const Member& member : members_) {
      if (member.name == name) {
        *filter = member.filter;
        member.filter->AddRef();
        return S_OK;
      }
    }
    *filter = nullptr;
    return VFW_E_NOT_FOUND;
  }
  HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) override {
    if (out == nullptr || in == nullptr) return E_POINTER;
    return out->Connect(in, type);
  }
  HRESULT Reconnect(IPin* pin) override {
    if (pin == nullptr) return E_POINTER;
    IPin* peer = nullptr;
    if (FAILED(pin->ConnectedTo(&peer)) || peer == nullptr) return VFW_E_NOT_CONNECTED;
    IPin* out = DirectionOf(pin) == PINDIR_OUTPUT ? pin : peer;
    IPin* in = out == pin ? peer : pin;
    out->Disconnect();
    in->Disconnect();
    const HRESULT result = out->Connect(in, nullptr);
    peer->Release();
    return result;
  }
  HRESULT Disconnect(IPin* pin) override {
    if (pin == nullptr) return E_POINTER;
    return pin->Disconnect();
  }
  HRESULT SetDefaultSyncSource() override {
    IReferenceClock* clock = nullptr;
    const HRESULT result =
        CreateSystemClockInstance(nullptr, IID_IReferenceClock, reinterpret_cast<void**>(&clock));
    if (FAILED(result)) return result;
    noClock_ = false;
    const HRESULT set = SetSyncSource(clock);
    clock->Release();
    return set;
  }

  // IGraphBuilder
  HRESULT Connect(IPin* out, IPin* in) override {
    if (out == nullptr || in == nullptr) return E_POINTER;
    HRESULT result = out->Connect(in, nullptr);
    if (SUCCEEDED(result)) return result;
    // Through one filter a decoder factory makes for one of the output's types.
    return ThroughDecoder(out, [in](IPin* decoded) { return decoded->Connect(in, nullptr); });
  }
  HRESULT Render(IPin* out) override {
    if (out == nullptr) return E_POINTER;
    if (IsConnected(out)) return VFW_E_ALREADY_CONNECTED;
    return RenderPin(out, 0) ? S_OK : VFW_E_CANNOT_RENDER;
  }
  HRESULT RenderFile(LPCWSTR file, LPCWSTR) override {
    if (file == nullptr) return E_POINTER;
    for (GraphSourceFactory factory : Snapshot(Factories().sources)) {
      IBaseFilter* source = nullptr;
      if (FAILED(factory(file, &source)) || source == nullptr) continue;
      HRESULT result = AddFilter(source, file);
      source->Release();
      if (FAILED(result)) return result;
      auto pins = PinsOf(source);
      int outputs = 0, rendered = 0;
      for (IPin* pin : pins) {
        if (DirectionOf(pin) != PINDIR_OUTPUT) continue;
        ++outputs;
        if (RenderPin(pin, 0)) ++rendered;
      }
      ReleaseAll(pins);
      if (rendered == 0) {
        RemoveFilter(source);
        return VFW_E_CANNOT_RENDER;
      }
      return rendered == outputs ? S_OK : VFW_S_PARTIAL_RENDER;
    }
    return VFW_E_UNSUPPORTED_STREAM;
  }

  // IMediaControl and IMediaFilter
  HRESULT Run() override { return RunAt(-1); }
  HRESULT Run(REFERENCE_TIME start) override { return RunAt(start); }
  HRESULT Pause() override {
    std::lock_guard guard(stateLock_);
    return PauseLocked();
  }
  HRESULT Stop() override {
    std::lock_guard guard(stateLock_);
    if (state_ == State_Stopped) return S_OK;
    HRESULT first = S_OK;
    for (IBaseFilter* filter : InStateOrder()) {
      const HRESULT result = filter->Stop();
      if (FAILED(result) && SUCCEEDED(first)) first = result;
      filter->Release();
    }
    state_ = State_Stopped;
    return first;
  }
  HRESULT GetState(LONG milliseconds, OAFilterState* state) override {
    FILTER_STATE filterState;
    const HRESULT result = GetState(static_cast<DWORD>(milliseconds), &filterState);
    if (state != nullptr) *state = filterState;
    return result;
  }
  HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) override {
    if (state == nullptr) return E_POINTER;
    HRESULT result = S_OK;
    for (IBaseFilter* filter : Filters()) {
      FILTER_STATE ignored;
      if (filter->GetState(milliseconds, &ignored) == VFW_S_STATE_INTERMEDIATE)
        result = VFW_S_STATE_INTERMEDIATE;
    }
    *state = state_;
    return result;
  }
  HRESULT GetClassID(CLSID* classId) override {
    if (classId == nullptr) return E_POINTER;
    *classId = CLSID_FilterGraph;
    return S_OK;
  }
  HRESULT SetSyncSource(IReferenceClock* clock) override {
    if (clock != nullptr) clock->AddRef();
    if (clock_ != nullptr) clock_->Release();
    clock_ = clock;
    noClock_ = clock == nullptr;
    for (IBaseFilter* filter : Filters()) filter->SetSyncSource(clock);
    return S_OK;
  }
  HRESULT GetSyncSource(IReferenceClock** clock) override {
    if (clock == nullptr) return E_POINTER;
    *clock = clock_;
    if (clock_ != nullptr) clock_->AddRef();
    return S_OK;
  }

  // IMediaEventSink and IMediaEvent
  HRESULT Notify(LONG code, LONG_PTR first, LONG_PTR second) override {
    std::lock_guard guard(eventLock_);
    if (code == EC_COMPLETE) {
      // The application hears of completion once every renderer has completed.
      auto* filter = reinterpret_cast<IBaseFilter*>(second);
      if (std::find(completed_.begin(), completed_.end(), filter) == completed_.end())
        completed_.push_back(filter);
      if (static_cast<int>(completed_.size()) < renderersAtRun_) return S_OK;
      second = 0;
    }
    if (code == EC_WINDOW_DESTROYED) return S_OK;
    events_.push_back({code, first, second});
    SetEvent(eventReady_);
    return S_OK;
  }
  HRESULT GetEvent(LONG* code, LONG_PTR* first, LONG_PTR* second, LONG milliseconds) override {
    if (code == nullptr || first == nullptr || second == nullptr) return E_POINTER;
    if (WaitForSingleObject(eventReady_, static_cast<DWORD>(milliseconds)) != WAIT_OBJECT_0)
      return E_ABORT;
    std::lock_guard guard(eventLock_);
    if (events_.empty()) return E_ABORT;
    *code = events_.front().code;
    *first = events_.front().first;
    *second = events_.front().second;
    events_.erase(events_.begin());
    if (events_.empty()) ResetEvent(eventReady_);
    return S_OK;
  }
  HRESULT WaitForCompletion(LONG milliseconds, LONG* code) override {
    if (code == nullptr) return E_POINTER;
    *code = 0;
    const DWORD started = GetTickCount();
    for (;;) {
      {
        std::lock_guard guard(eventLock_);
        // Any terminal event ends the wait, not only completion.
        for (auto it = events_.begin(); it != events_.end(); ++it) {
          if (!IsTerminalEvent(it->code)) continue;
          *code = it->code;
          events_.erase(it);
          if (events_.empty()) ResetEvent(eventReady_);
          return S_OK;
        }
        ResetEvent(eventReady_);
      }
      const DWORD spent = GetTickCount() - started;
      if (milliseconds >= 0 && spent >= static_cast<DWORD>(milliseconds)) return E_ABORT;
      const DWORD left = milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds) - spent;
      WaitForSingleObject(eventReady_, left);
    }
  }
  HRESULT FreeEventParams(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }

  // IMediaSeeking: positions come from the renderers, which ask their sources.
  HRESULT GetCapabilities(DWORD* c) override {
    return FromRenderer([&](IMediaSeeking* s) { return s->GetCapabilities(c); });
  }
  HRESULT CheckCapabilities(DWORD* c) override {
    return FromRenderer([&](IMediaSeeking* s) { return s->CheckCapabilities(c); });
  }
  HRESULT IsFormatSupported(const GUID* f) override {
    return FromRenderer([&](IMediaSeeking* s) { return s->IsFormatSupported(f); });
  }
  HRESULT QueryPreferredFormat(GUID* f) override {
    return FromRenderer([&](IMediaSeeking* s) { return s->QueryPreferredFormat(f); });
  }
  HRESULT GetTimeFormat(GUID* f) override {
    return FromRenderer([&](IMediaSeeking* s) { return s->GetTimeFormat(f); });
  }
  HRESULT IsUsingTimeFormat(const GUID* f) override {
    return FromRenderer([&](IMediaSeeking* s) { return s->IsUsingTimeFormat(f); });
  }
  HRESULT SetTimeFormat(const GUID* f) override {
    return FromRenderer([&](IMediaSeeking* s) { return s->SetTimeFormat(f); });
  }
  HRESULT GetDuration(LONGLONG* d) override {
    return FromRenderer([&](IMediaSeeking* s) { return s->GetDuration(d); });
  }
  HRESULT GetStopPosition(LONGLONG* p) override {
    return FromRenderer([&](IMediaSeeking* s) { return s->GetStopPosition(p); });
  }
  HRESULT GetCurrentPosition(LONGLONG* p) override {
    return FromRenderer([&](IMediaSeeking* s) { return s->GetCurrentPosition(p); });
  }
  HRESULT ConvertTimeFormat(LONGLONG* t, const GUID* tf, LONGLONG v, const GUID* sf) override {
    return FromRenderer([&](IMediaSeeking* s) { return s->ConvertTimeFormat(t, tf, v, sf); });
  }
  HRESULT GetPositions(LONGLONG* c, LONGLONG* p) override {
    return FromRenderer([&](IMediaSeeking* s) { return s->GetPositions(c, p); });
  }
  HRESULT GetAvailable(LONGLONG* e, LONGLONG* l) override {
    return FromRenderer([&](IMediaSeeking* s) { return s->GetAvailable(e, l); });
  }
  HRESULT SetRate(double r) override {
    return FromRenderer([&](IMediaSeeking* s) { return s->SetRate(r); });
  }
  HRESULT GetRate(double* r) override {
    return FromRenderer([&](IMediaSeeking* s) { return s->GetRate(r); });
  }
  HRESULT GetPreroll(LONGLONG* p) override {
    return FromRenderer([&](IMediaSeeking* s) { return s->GetPreroll(p); });
  }
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                       DWORD stopFlags) override {
    // Seeking restarts delivery from the new place: the graph stops, the sources move, and the
    // graph returns to its state with the stream time begun again.
    std::lock_guard guard(stateLock_);
    const FILTER_STATE was = state_;
    for (IBaseFilter* filter : InStateOrder()) {
      filter->Stop();
      filter->Release();
    }
    state_ = State_Stopped;
    const HRESULT result = FromRenderer(
        [&](IMediaSeeking* s) { return s->SetPositions(current, currentFlags, stop, stopFlags); });
    if (was == State_Paused) PauseLocked();
    if (was == State_Running) RunLocked(-1);
    return result;
  }

  // IBasicAudio
  HRESULT put_Volume(LONG) override { return E_NOTIMPL; }
  HRESULT get_Volume(LONG*) override { return E_NOTIMPL; }

 private:
  struct Member {
    IBaseFilter* filter;
    std::u16string name;
  };
  struct Event {
    LONG code;
    LONG_PTR first, second;
  };

  bool NameTaken(const std::u16string& name) const {
    for (const Member& member : members_)
      if (member.name == name) return true;
    return false;
  }

  // The members without references: valid while the graph holds them.
  std::vector<IBaseFilter*> Filters() {
    std::lock_guard guard(lock_);
    std::vector<IBaseFilter*> filters;
    for (const Member& member : members_) filters.push_back(member.filter);
    return filters;
  }

  // Filters with a reference each, downstream ones first: a filter comes after every filter its
  // output pins feed, found by asking the pins.
  std::vector<IBaseFilter*> InStateOrder() {
    std::vector<IBaseFilter*> filters = Filters();
    std::vector<int> depth(filters.size(), 0);
    for (size_t round = 0; round < filters.size(); ++round) {
      for (size_t i = 0; i < filters.size(); ++i) {
        auto pins = PinsOf(filters[i]);
        for (IPin* pin : pins) {
          IPin* peer = nullptr;
          if (DirectionOf(pin) != PINDIR_OUTPUT || FAILED(pin->ConnectedTo(&peer)) ||
              peer == nullptr)
            continue;
          IBaseFilter* downstream = FilterOf(peer);
          peer->Release();
          for (size_t j = 0; j < filters.size(); ++j)
            if (filters[j] == downstream) depth[i] = std::max(depth[i], depth[j] + 1);
          if (downstream != nullptr) downstream->Release();
        }
        ReleaseAll(pins);
      }
    }
    std::vector<size_t> order(filters.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return depth[a] < depth[b]; });
    std::vector<IBaseFilter*> sorted;
    for (size_t i : order) {
      filters[i]->AddRef();
      sorted.push_back(filters[i]);
    }
    return sorted;
  }

  HRESULT PauseLocked() {
    if (state_ == State_Stopped && clock_ == nullptr && !noClock_) SetDefaultSyncSource();
    if (state_ == State_Running && clock_ != nullptr) clock_->GetTime(&pausedAt_);
    HRESULT result = S_OK;
    for (IBaseFilter* filter : InStateOrder()) {
      const HRESULT paused = filter->Pause();
      if (FAILED(paused) && SUCCEEDED(result)) result = paused;
      filter->Release();
    }
    state_ = State_Paused;
    return result;
  }

  HRESULT RunAt(REFERENCE_TIME start) {
    std::lock_guard guard(stateLock_);
    return RunLocked(start);
  }

  HRESULT RunLocked(REFERENCE_TIME start) {
    if (state_ == State_Running) return S_OK;
    const FILTER_STATE was = state_;
    if (was == State_Stopped) {
      std::lock_guard events(eventLock_);
      completed_.clear();
      renderersAtRun_ = 0;
      for (IBaseFilter* filter : Filters())
        if (IsRenderer(filter)) ++renderersAtRun_;
    }
    if (was == State_Stopped) {
      const HRESULT paused = PauseLocked();
      if (FAILED(paused)) return paused;
    }
    REFERENCE_TIME now = 0;
    if (clock_ != nullptr) clock_->GetTime(&now);
    if (start < 0) {
      // Resuming keeps the stream time where the pause left it.
      start = was == State_Stopped || clock_ == nullptr ? now : start_ + (now - pausedAt_);
    }
    start_ = start;
    HRESULT result = S_OK;
    for (IBaseFilter* filter : InStateOrder()) {
      const HRESULT ran = filter->Run(start);
      if (FAILED(ran) && SUCCEEDED(result)) result = ran;
      filter->Release();
    }
    state_ = State_Running;
    return result;
  }

  template <class Call>
  HRESULT FromRenderer(Call call) {
    HRESULT result = E_NOTIMPL;
    for (IBaseFilter* filter : Filters()) {
      if (!IsRenderer(filter)) continue;
      IMediaSeeking* seeking = nullptr;
      if (FAILED(filter->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking))))
        continue;
      result = call(seeking);
      seeking->Release();
      if (SUCCEEDED(result)) return result;
    }
    return result;
  }

  // Connects `out` through a filter a decoder factory makes; `onward` then takes the new
  // filter's output pins one by one until one succeeds. False when nothing fit.
  template <class Onward>
  HRESULT ThroughDecoder(IPin* out, Onward onward) {
    IEnumMediaTypes* types = nullptr;
    if (FAILED(out->EnumMediaTypes(&types)) || types == nullptr) return VFW_E_CANNOT_RENDER;
    std::vector<AM_MEDIA_TYPE*> offered;
    AM_MEDIA_TYPE* type = nullptr;
    ULONG fetched = 0;
    while (types->Next(1, &type, &fetched) == S_OK && fetched == 1) offered.push_back(type);
    types->Release();
    HRESULT result = VFW_E_CANNOT_RENDER;
    for (AM_MEDIA_TYPE* candidate : offered) {
      for (GraphDecoderFactory factory : Snapshot(Factories().decoders)) {
        if (SUCCEEDED(result)) break;
        IBaseFilter* decoder = nullptr;
        if (FAILED(factory(candidate, &decoder)) || decoder == nullptr) continue;
        if (FAILED(AddFilter(decoder, u"Decoder"))) {
          decoder->Release();
          continue;
        }
        decoder->Release();
        auto pins = PinsOf(decoder);
        bool connected = false;
        for (IPin* pin : pins)
          if (!connected && DirectionOf(pin) == PINDIR_INPUT)
            connected = SUCCEEDED(out->Connect(pin, candidate));
        bool onwardDone = connected && !HasOutput(pins);
        for (IPin* pin : pins)
          if (connected && !onwardDone && DirectionOf(pin) == PINDIR_OUTPUT)
            onwardDone = SUCCEEDED(onward(pin));
        ReleaseAll(pins);
        if (connected && onwardDone) {
          result = S_OK;
        } else {
          RemoveFilter(decoder);
        }
      }
    }
    for (AM_MEDIA_TYPE* candidate : offered) {
      if (candidate->pbFormat != nullptr) CoTaskMemFree(candidate->pbFormat);
      if (candidate->pUnk != nullptr) candidate->pUnk->Release();
      CoTaskMemFree(candidate);
    }
    return result;
  }

  static bool HasOutput(const std::vector<IPin*>& pins) {
    for (IPin* pin : pins)
      if (DirectionOf(pin) == PINDIR_OUTPUT) return true;
    return false;
  }

  // Renders one output pin: into a free input pin of a filter already in the graph first, then
  // through filters the decoder factories make. Every output of a filter reached is rendered on.
  bool RenderPin(IPin* out, int depth) {
    if (depth > 8) return false;
    IBaseFilter* own = FilterOf(out);
    for (IBaseFilter* filter : Filters()) {
      if (filter == own) continue;
      auto pins = PinsOf(filter);
      bool connected = false;
      for (IPin* pin : pins) {
        if (connected || DirectionOf(pin) != PINDIR_INPUT || IsConnected(pin)) continue;
        connected = SUCCEEDED(out->Connect(pin, nullptr));
      }
      if (connected) RenderOutputs(pins, depth);
      ReleaseAll(pins);
      if (connected) {
        if (own != nullptr) own->Release();
        return true;
      }
    }
    if (own != nullptr) own->Release();
    return SUCCEEDED(ThroughDecoder(out, [this, depth](IPin* pin) {
      return RenderPin(pin, depth + 1) ? S_OK : VFW_E_CANNOT_RENDER;
    }));
  }

  void RenderOutputs(const std::vector<IPin*>& pins, int depth) {
    for (IPin* pin : pins)
      if (DirectionOf(pin) == PINDIR_OUTPUT && !IsConnected(pin)) RenderPin(pin, depth + 1);
  }

  std::atomic<ULONG> references_{1};
  std::mutex lock_;
  std::vector<Member> members_;
  std::recursive_mutex stateLock_;
  FILTER_STATE state_ = State_Stopped;
  IReferenceClock* clock_ = nullptr;
  bool noClock_ = false;
  REFERENCE_TIME start_ = 0;
  REFERENCE_TIME pausedAt_ = 0;
  std::mutex eventLock_;
  std::vector<Event> events_;
  std::vector<IBaseFilter*> completed_;
  int renderersAtRun_ = 0;
  HANDLE eventReady_ = nullptr;
};

}  // namespace

int RegisterGraphSourceFactory(GraphSourceFactory factory) {
  return AddFactory(Factories().sources, factory);
}

int RegisterGraphDecoderFactory(GraphDecoderFactory factory) {
  return AddFactory(Factories().decoders, factory);
}

HRESULT CreateFilterGraphInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  auto* graph = new (std::nothrow) FilterGraph;
  if (graph == nullptr) return E_OUTOFMEMORY;
  const HRESULT result = graph->QueryInterface(riid, object);
  graph->Release();
  return result;
}
