// The graph's source for the movie files GStreamer decodes: a filter with an output pin per
// decoded stream (24-bit RGB video, top row first, and 16-bit PCM), each streamed to its
// downstream pin from a thread of its own while the filter is paused or running, and seeking in
// media time for the renderers.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/dshow/dshow.h"
#include "platform/dshow/gstreamer_pipeline.h"
#include "platform/dshow/media_time_seeking.h"
#include "platform/win32/file_path.h"
#include "platform/win32/kernel.h"

namespace {

constexpr LONGLONG kUnitsPerSecond = 10000000;

void FreeTypeBlock(AM_MEDIA_TYPE* type) {
  if (type->pbFormat != nullptr) CoTaskMemFree(type->pbFormat);
  type->pbFormat = nullptr;
  type->cbFormat = 0;
}

HRESULT CopyType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE& source) {
  *target = source;
  target->pUnk = nullptr;
  target->pbFormat = nullptr;
  target->cbFormat = 0;
  if (source.cbFormat == 0) return S_OK;
  target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source.cbFormat));
  if (target->pbFormat == nullptr) return E_OUTOFMEMORY;
  std::memcpy(target->pbFormat, source.pbFormat, source.cbFormat);
  target->cbFormat = source.cbFormat;
  return S_OK;
}

// A type a caller names matches when what it names is ours; GUID_NULL names anything.
bool Matches(const AM_MEDIA_TYPE& ours, const AM_MEDIA_TYPE& asked) {
  const auto fits = [](const GUID& mine, const GUID& theirs) {
    return theirs == GUID_NULL || theirs == mine;
  };
  return fits(ours.majortype, asked.majortype) && fits(ours.subtype, asked.subtype) &&
         fits(ours.formattype, asked.formattype);
}

class TypeEnumerator final : public PlatformComObject<IEnumMediaTypes> {
 public:
  explicit TypeEnumerator(const AM_MEDIA_TYPE& type) { CopyType(&type_, type); }
  ~TypeEnumerator() override { FreeTypeBlock(&type_); }
  HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
    if (types == nullptr) return E_POINTER;
    ULONG given = 0;
    if (count > 0 && position_ == 0) {
      auto* copy = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
      if (copy == nullptr) return E_OUTOFMEMORY;
      if (FAILED(CopyType(copy, type_))) {
        CoTaskMemFree(copy);
        return E_OUTOFMEMORY;
      }
      types[given++] = copy;
      position_ = 1;
    }
    if (fetched != nullptr) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    position_ = std::min<ULONG>(1, position_ + count);
    return count == 0 || (position_ == 1 && count == 1) ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumMediaTypes** copy) override {
    if (copy == nullptr) return E_POINTER;
    auto* clone = new (std::nothrow) TypeEnumerator(type_);
    if (clone == nullptr) return E_OUTOFMEMORY;
    clone->position_ = position_;
    *copy = clone;
    return S_OK;
  }

 protected:
  bool Offers(REFIID riid) const override { return riid == IID_IEnumMediaTypes; }

 private:
  AM_MEDIA_TYPE type_{};
  ULONG position_ = 0;
};

class PinEnumerator final : public PlatformComObject<IEnumPins> {
 public:
  explicit PinEnumerator(std::vector<IPin*> pins) : pins_(std::move(pins)) {
    for (IPin* pin : pins_) pin->AddRef();
  }
  ~PinEnumerator() override {
    for (IPin* pin : pins_) pin->Release();
  }
  HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (pins == nullptr) return E_POINTER;
    ULONG given = 0;
    while (given < count && position_ < pins_.size()) {
      pins[given] = pins_[position_++];
      pins[given++]->AddRef();
    }
    if (fetched != nullptr) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    position_ = std::min<size_t>(pins_.size(), position_ + count);
    return position_ < pins_.size() ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumPins** copy) override {
    if (copy == nullptr) return E_POINTER;
    auto* clone = new (std::nothrow) PinEnumerator(pins_);
    if (clone == nullptr) return E_OUTOFMEMORY;
    clone->position_ = position_;
    *copy = clone;
    return S_OK;
  }

 protected:
  bool Offers(REFIID riid) const override { return riid == IID_IEnumPins; }

 private:
  std::vector<IPin*> pins_;
  size_t position_ = 0;
};

class GstSourceFilter;

class GstOutputPin final : public IPin, public MediaTimeSeeking {
 public:
  GstOutputPin(GstSourceFilter* filter, int stream, const GstMovieStream& info);
  ~GstOutputPin() {
    StopStreaming();
    DropConnection();
    FreeTypeBlock(&type_);
  }

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPin) {
      *object = static_cast<IPin*>(this);
    } else if (riid == IID_IMediaSeeking) {
      *object = static_cast<IMediaSeeking*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  // A pin lives as long as its filter.
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
  HRESULT ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  HRESULT Disconnect() override;
  HRESULT ConnectedTo(IPin** pin) override {
    if (pin == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    *pin = connected_;
    if (connected_ == nullptr) return VFW_E_NOT_CONNECTED;
    connected_->AddRef();
    return S_OK;
  }
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override {
    if (type == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    if (connected_ == nullptr) {
      *type = AM_MEDIA_TYPE{};
      return VFW_E_NOT_CONNECTED;
    }
    return CopyType(type, type_);
  }
  HRESULT QueryPinInfo(PIN_INFO* info) override;
  HRESULT QueryDirection(PIN_DIRECTION* direction) override {
    if (direction == nullptr) return E_POINTER;
    *direction = PINDIR_OUTPUT;
    return S_OK;
  }
  HRESULT QueryId(LPWSTR* id) override {
    if (id == nullptr) return E_POINTER;
    const size_t bytes = (name_.size() + 1) * sizeof(WCHAR);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (*id == nullptr) return E_OUTOFMEMORY;
    std::memcpy(*id, name_.c_str(), bytes);
    return S_OK;
  }
  HRESULT QueryAccept(const AM_MEDIA_TYPE* type) override {
    if (type == nullptr) return E_POINTER;
    return Matches(type_, *type) ? S_OK : S_FALSE;
  }
  HRESULT EnumMediaTypes(IEnumMediaTypes** types) override {
    if (types == nullptr) return E_POINTER;
    *types = new (std::nothrow) TypeEnumerator(type_);
    return *types != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  HRESULT EndOfStream() override { return E_UNEXPECTED; }
  HRESULT BeginFlush() override { return E_UNEXPECTED; }
  HRESULT EndFlush() override { return E_UNEXPECTED; }
  HRESULT NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  // Seeking in media time: the positions belong to the filter.
  HRESULT GetDuration(LONGLONG* d) override;
  HRESULT GetStopPosition(LONGLONG* s) override;
  HRESULT GetCurrentPosition(LONGLONG* c) override;
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                       DWORD stopFlags) override;

  bool IsConnected() {
    std::lock_guard guard(lock_);
    return connected_ != nullptr;
  }
  const std::u16string& Name() const { return name_; }
  void StartStreaming();
  void StopStreaming();

 private:
  void DropConnection();
  void Stream();
  // Delivers one decoded piece, cut into as many samples as the allocator's buffers need.
  bool Deliver(const GstMoviePiece& piece, bool* discontinuity);

  GstSourceFilter* filter_;
  int stream_;
  bool video_;
  int pitch_ = 0;
  DWORD bytesPerSecond_ = 0;
  DWORD blockAlign_ = 1;
  LONGLONG frameDuration_ = 0;
  std::u16string name_;
  AM_MEDIA_TYPE type_{};
  std::mutex lock_;
  IPin* connected_ = nullptr;
  IMemInputPin* input_ = nullptr;
  IMemAllocator* allocator_ = nullptr;
  std::thread thread_;
  std::atomic<bool> quit_{false};
};

class GstSourceFilter final : public PlatformComObject<IBaseFilter> {
 public:
  explicit GstSourceFilter(std::unique_ptr<GstMoviePipeline> pipeline)
      : pipeline_(std::move(pipeline)) {
    const auto& streams = pipeline_->Streams();
    // Video first, as the graph renders pins in order.
    for (int pass = 0; pass < 2; ++pass)
      for (size_t i = 0; i < streams.size(); ++i)
        if (streams[i].video == (pass == 0) && (!streams[i].video || streams[i].width > 0))
          pins_.push_back(new GstOutputPin(this, static_cast<int>(i), streams[i]));
  }
  ~GstSourceFilter() {
    for (GstOutputPin* pin : pins_) delete pin;
    if (clock_ != nullptr) clock_->Release();
  }
  bool HasPins() const { return !pins_.empty(); }

  bool Offers(REFIID riid) const override {
    return riid == IID_IPersist || riid == IID_IMediaFilter || riid == IID_IBaseFilter;
  }

  HRESULT GetClassID(CLSID* classId) override {
    if (classId == nullptr) return E_POINTER;
    *classId = GUID_NULL;
    return S_OK;
  }
  HRESULT Stop() override {
    std::lock_guard guard(stateLock_);
    if (state_ == State_Stopped) return S_OK;
    for (GstOutputPin* pin : pins_) pin->StopStreaming();
    pipeline_->SetFlowing(false);
    state_ = State_Stopped;
    return S_OK;
  }
  HRESULT Pause() override {
    std::lock_guard guard(stateLock_);
    if (state_ == State_Stopped) {
      // The pipeline decodes only as far ahead as its sinks hold; the pins' threads pace it.
      if (!pipeline_->SetFlowing(true)) return E_FAIL;
      for (GstOutputPin* pin : pins_)
        if (pin->IsConnected()) pin->StartStreaming();
    }
    state_ = State_Paused;
    return S_OK;
  }
  HRESULT Run(REFERENCE_TIME) override {
    std::lock_guard guard(stateLock_);
    if (state_ == State_Stopped) {
      const HRESULT paused = Pause();
      if (FAILED(paused)) return paused;
    }
    state_ = State_Running;
    return S_OK;
  }
  HRESULT GetState(DWORD, FILTER_STATE* state) override {
    if (state == nullptr) return E_POINTER;
    *state = state_;
    return S_OK;
  }
  HRESULT SetSyncSource(IReferenceClock* clock) override {
    std::lock_guard guard(stateLock_);
    if (clock != nullptr) clock->AddRef();
    if (clock_ != nullptr) clock_->Release();
    clock_ = clock;
    return S_OK;
  }
  HRESULT GetSyncSource(IReferenceClock** clock) override {
    if (clock == nullptr) return E_POINTER;
    std::lock_guard guard(stateLock_);
    *clock = clock_;
    if (clock_ != nullptr) clock_->AddRef();
    return S_OK;
  }
  HRESULT EnumPins(IEnumPins** pins) override {
    if (pins == nullptr) return E_POINTER;
    *pins = new (std::nothrow) PinEnumerator(std::vector<IPin*>(pins_.begin(), pins_.end()));
    return *pins != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT FindPin(LPCWSTR id, IPin** pin) override {
    if (id == nullptr || pin == nullptr) return E_POINTER;
    *pin = nullptr;
    for (GstOutputPin* candidate : pins_) {
      if (candidate->Name() == id) {
        *pin = candidate;
        candidate->AddRef();
        return S_OK;
      }
    }
    return VFW_E_NOT_FOUND;
  }
  HRESULT QueryFilterInfo(FILTER_INFO* info) override {
    if (info == nullptr) return E_POINTER;
    std::lock_guard guard(stateLock_);
    const size_t length = std::min<size_t>(name_.size(), 127);
    std::memcpy(info->achName, name_.data(), length * sizeof(WCHAR));
    info->achName[length] = 0;
    info->pGraph = graph_;
    if (graph_ != nullptr) graph_->AddRef();
    return S_OK;
  }
  // The graph holds the filter, so the filter does not hold the graph.
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
    std::lock_guard guard(stateLock_);
    graph_ = graph;
    name_ = name != nullptr ? name : u"";
    return S_OK;
  }
  HRESULT QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  bool IsStopped() const { return state_ == State_Stopped; }
  GstMoviePipeline* Pipeline() { return pipeline_.get(); }

  // Positions in 100 ns units.
  LONGLONG Duration() const { return pipeline_->Duration() / 100; }
  LONGLONG Start() {
    std::lock_guard guard(positionLock_);
    return start_;
  }
  LONGLONG StopPosition() {
    std::lock_guard guard(positionLock_);
    return stop_ < 0 ? Duration() : stop_;
  }
  LONGLONG Current() {
    std::lock_guard guard(positionLock_);
    return current_;
  }
  void SetCurrent(LONGLONG position) {
    std::lock_guard guard(positionLock_);
    current_ = position;
  }
  HRESULT Seek(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
    std::lock_guard state(stateLock_);
    // The graph stops its filters around a seek; the next run streams from the new place.
    if (state_ != State_Stopped) return VFW_E_WRONG_STATE;
    LONGLONG start, end;
    {
      std::lock_guard guard(positionLock_);
      const LONGLONG duration = Duration() > 0 ? Duration() : 0x7FFFFFFFFFFFFFFF / 100;
      if (current != nullptr && (currentFlags & 3) == AM_SEEKING_AbsolutePositioning)
        start_ = current_ = std::clamp<LONGLONG>(*current, 0, duration);
      if (stop != nullptr && (stopFlags & 3) == AM_SEEKING_AbsolutePositioning)
        stop_ = std::clamp<LONGLONG>(*stop, 0, duration);
      start = start_;
      end = stop_;
    }
    return pipeline_->Seek(start * 100, end < 0 ? -1 : end * 100) ? S_OK : E_FAIL;
  }

 private:
  std::unique_ptr<GstMoviePipeline> pipeline_;
  std::vector<GstOutputPin*> pins_;
  std::recursive_mutex stateLock_;
  std::atomic<FILTER_STATE> state_{State_Stopped};
  IReferenceClock* clock_ = nullptr;
  IFilterGraph* graph_ = nullptr;
  std::u16string name_;
  std::mutex positionLock_;
  LONGLONG start_ = 0;
  LONGLONG stop_ = -1;
  LONGLONG current_ = 0;
};

GstOutputPin::GstOutputPin(GstSourceFilter* filter, int stream, const GstMovieStream& info)
    : filter_(filter), stream_(stream), video_(info.video) {
  if (video_) {
    name_ = u"Video";
    pitch_ = (info.width * 3 + 3) & ~3;
    frameDuration_ = info.frameDuration / 100;
    VIDEOINFOHEADER header{};
    header.AvgTimePerFrame = frameDuration_;
    header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    header.bmiHeader.biWidth = info.width;
    header.bmiHeader.biHeight = -info.height;  // top row first, as GStreamer lays frames out
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 24;
    header.bmiHeader.biSizeImage = static_cast<DWORD>(pitch_) * static_cast<DWORD>(info.height);
    type_.majortype = MEDIATYPE_Video;
    type_.subtype = MEDIASUBTYPE_RGB24;
    type_.formattype = FORMAT_VideoInfo;
    type_.bFixedSizeSamples = TRUE;
    type_.lSampleSize = header.bmiHeader.biSizeImage;
    type_.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(header)));
    if (type_.pbFormat != nullptr) {
      std::memcpy(type_.pbFormat, &header, sizeof(header));
      type_.cbFormat = sizeof(header);
    }
  } else {
    name_ = u"Audio";
    blockAlign_ = static_cast<DWORD>(info.channels) * 2;
    bytesPerSecond_ = static_cast<DWORD>(info.rate) * blockAlign_;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(info.channels);
    format.nSamplesPerSec = static_cast<DWORD>(info.rate);
    format.nAvgBytesPerSec = bytesPerSecond_;
    format.nBlockAlign = static_cast<WORD>(blockAlign_);
    format.wBitsPerSample = 16;
    type_.majortype = MEDIATYPE_Audio;
    type_.subtype = MEDIASUBTYPE_PCM;
    type_.formattype = FORMAT_WaveFormatEx;
    type_.bFixedSizeSamples = TRUE;
    type_.lSampleSize = blockAlign_;
    type_.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(format)));
    if (type_.pbFormat != nullptr) {
      std::memcpy(type_.pbFormat, &format, sizeof(format));
      type_.cbFormat = sizeof(format);
    }
  }
}

ULONG GstOutputPin::AddRef() { return filter_->AddRef(); }
ULONG GstOutputPin::Release() { return filter_->Release(); }

HRESULT GstOutputPin::Connect(IPin* receiver, const AM_MEDIA_TYPE* type) {
  if (receiver == nullptr) return E_POINTER;
  if (type_.pbFormat == nullptr) return E_OUTOFMEMORY;
  std::lock_guard guard(lock_);
  if (connected_ != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
  if (type != nullptr && !Matches(type_, *type)) return VFW_E_TYPE_NOT_ACCEPTED;
  PIN_DIRECTION direction = PINDIR_OUTPUT;
  if (FAILED(receiver->QueryDirection(&direction)) || direction != PINDIR_INPUT)
    return VFW_E_INVALID_DIRECTION;
  HRESULT result = receiver->ReceiveConnection(this, &type_);
  if (FAILED(result)) return result;
  IMemInputPin* input = nullptr;
  IMemAllocator* allocator = nullptr;
  result = receiver->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
  if (SUCCEEDED(result) && FAILED(input->GetAllocator(&allocator)))
    result = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IMemAllocator, reinterpret_cast<void**>(&allocator));
  if (SUCCEEDED(result)) {
    // Video: a frame a buffer. Audio: a quarter of a second, cut where a piece is longer.
    const LONG bytes = video_ ? static_cast<LONG>(type_.lSampleSize)
                              : static_cast<LONG>(std::max<DWORD>(
                                    bytesPerSecond_ / 4 / blockAlign_ * blockAlign_, blockAlign_));
    ALLOCATOR_PROPERTIES request{3, bytes, 1, 0}, actual{};
    result = allocator->SetProperties(&request, &actual);
    if (SUCCEEDED(result) && actual.cbBuffer < bytes) result = VFW_E_SIZENOTSET;
  }
  if (SUCCEEDED(result)) result = input->NotifyAllocator(allocator, FALSE);
  if (FAILED(result)) {
    if (allocator != nullptr) allocator->Release();
    if (input != nullptr) input->Release();
    receiver->Disconnect();
    return result;
  }
  connected_ = receiver;
  connected_->AddRef();
  input_ = input;
  allocator_ = allocator;
  return S_OK;
}

void GstOutputPin::DropConnection() {
  std::lock_guard guard(lock_);
  if (allocator_ != nullptr) allocator_->Release();
  if (input_ != nullptr) input_->Release();
  if (connected_ != nullptr) connected_->Release();
  allocator_ = nullptr;
  input_ = nullptr;
  connected_ = nullptr;
}

HRESULT GstOutputPin::Disconnect() {
  if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
  if (!IsConnected()) return S_FALSE;
  DropConnection();
  return S_OK;
}

HRESULT GstOutputPin::QueryPinInfo(PIN_INFO* info) {
  if (info == nullptr) return E_POINTER;
  info->pFilter = filter_;
  filter_->AddRef();
  info->dir = PINDIR_OUTPUT;
  const size_t length = std::min<size_t>(name_.size(), 127);
  std::memcpy(info->achName, name_.data(), length * sizeof(WCHAR));
  info->achName[length] = 0;
  return S_OK;
}

HRESULT GstOutputPin::GetDuration(LONGLONG* d) { return Answer(d, filter_->Duration()); }
HRESULT GstOutputPin::GetStopPosition(LONGLONG* s) { return Answer(s, filter_->StopPosition()); }
HRESULT GstOutputPin::GetCurrentPosition(LONGLONG* c) { return Answer(c, filter_->Current()); }
HRESULT GstOutputPin::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                   DWORD stopFlags) {
  return filter_->Seek(current, currentFlags, stop, stopFlags);
}

void GstOutputPin::StartStreaming() {
  StopStreaming();
  if (allocator_ == nullptr || FAILED(allocator_->Commit())) return;
  quit_ = false;
  thread_ = std::thread([this] { Stream(); });
}

void GstOutputPin::StopStreaming() {
  if (!thread_.joinable()) return;
  quit_ = true;
  // A thread waiting for a buffer wakes with the decommit.
  if (allocator_ != nullptr) allocator_->Decommit();
  thread_.join();
}

bool GstOutputPin::Deliver(const GstMoviePiece& piece, bool* discontinuity) {
  const LONGLONG pieceStart = piece.runningTime / 100;
  LONGLONG pieceLength = piece.duration / 100;
  if (video_ && pieceLength <= 0) pieceLength = frameDuration_ > 0 ? frameDuration_ : 1;
  size_t at = 0;
  while (at < piece.bytes.size()) {
    IMediaSample* sample = nullptr;
    if (FAILED(allocator_->GetBuffer(&sample, nullptr, nullptr, 0)) || sample == nullptr)
      return false;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    size_t bytes =
        std::min<size_t>(piece.bytes.size() - at, static_cast<size_t>(sample->GetSize()));
    if (!video_) bytes = bytes / blockAlign_ * blockAlign_;
    if (data == nullptr || bytes == 0) {
      sample->Release();
      return false;
    }
    std::memcpy(data, piece.bytes.data() + at, bytes);
    sample->SetActualDataLength(static_cast<LONG>(bytes));
    REFERENCE_TIME start = pieceStart, stop = pieceStart + pieceLength;
    if (!video_) {
      start = pieceStart + static_cast<LONGLONG>(at) * kUnitsPerSecond / bytesPerSecond_;
      stop = pieceStart + static_cast<LONGLONG>(at + bytes) * kUnitsPerSecond / bytesPerSecond_;
    }
    sample->SetTime(&start, &stop);
    LONGLONG mediaStart = piece.position / 100 + (start - pieceStart);
    LONGLONG mediaStop = mediaStart + (stop - start);
    sample->SetMediaTime(&mediaStart, &mediaStop);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(*discontinuity ? TRUE : FALSE);
    *discontinuity = false;
    const HRESULT received = input_->Receive(sample);
    sample->Release();
    if (received != S_OK) return false;
    at += bytes;
  }
  return true;
}

void GstOutputPin::Stream() {
  connected_->NewSegment(filter_->Start(), filter_->StopPosition(), 1.0);
  bool discontinuity = true;
  GstMoviePiece piece;
  for (;;) {
    if (quit_) return;
    const int pulled = filter_->Pipeline()->Pull(stream_, &piece, 50, pitch_);
    if (pulled < 0) break;
    if (pulled == 0 || piece.bytes.empty()) continue;
    if (video_) filter_->SetCurrent(piece.position / 100);
    if (!Deliver(piece, &discontinuity)) return;
  }
  if (quit_) return;
  if (video_) filter_->SetCurrent(filter_->StopPosition());
  connected_->EndOfStream();
}

}  // namespace

HRESULT CreateGStreamerSourceFilter(LPCWSTR path, IBaseFilter** filter) {
  if (path == nullptr || filter == nullptr) return E_POINTER;
  *filter = nullptr;
  char narrow[MAX_PATH * 2];
  std::string posixPath;
  if (WideCharToMultiByte(CP_ACP, 0, path, -1, narrow, sizeof(narrow), nullptr, nullptr) == 0 ||
      !ResolveEnginePath(narrow, posixPath))
    return VFW_E_NOT_FOUND;
  std::unique_ptr<GstMoviePipeline> pipeline = GstMoviePipeline::Open(posixPath);
  if (pipeline == nullptr) return VFW_E_UNSUPPORTED_STREAM;
  auto* source = new (std::nothrow) GstSourceFilter(std::move(pipeline));
  if (source == nullptr) return E_OUTOFMEMORY;
  if (!source->HasPins()) {
    source->Release();
    return VFW_E_UNSUPPORTED_STREAM;
  }
  *filter = source;
  return S_OK;
}
