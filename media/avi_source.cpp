// The uncompressed AVI source: the RIFF parser, and a filter whose output pin streams the frames
// from a thread of its own and answers seeking in media time.
#include "media/avi_source.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "media/dshow_framework.h"
#include "platform/dshow/media_time_seeking.h"
#include "system/little_endian.h"

namespace {

bool IsTag(const std::uint8_t* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

struct AviParse {
  AviReadAt read;
  void* context;
  std::uint64_t fileSize;
  AviMovieIndex* index;
  int videoStream = -1;
  int streamCount = 0;
  std::uint32_t scale = 0, rate = 0, microsecondsPerFrame = 0;
  bool haveFormat = false;
  std::uint32_t frameBytes = 0;
};

bool ParseChunks(AviParse& parse, std::uint64_t begin, std::uint64_t end, int depth);

// The largest frame taken (4096 x 4096 at 32 bits, as for images): the graph's sample buffers are
// sized from the format before any frame has shown that the file holds that much.
constexpr std::uint64_t kAviFrameBytesMax = 0x4000000;

bool ParseStreamHeader(AviParse& parse, std::uint64_t at, std::uint32_t size) {
  std::uint8_t header[36];
  if (size < sizeof(header) || !parse.read(parse.context, at, header, sizeof(header))) return false;
  if (IsTag(header, "vids") && parse.videoStream < 0) {
    parse.videoStream = parse.streamCount;
    parse.scale = ReadLittle32(header + 20);
    parse.rate = ReadLittle32(header + 24);
  }
  ++parse.streamCount;
  return true;
}

bool ParseStreamFormat(AviParse& parse, std::uint64_t at, std::uint32_t size) {
  if (parse.videoStream != parse.streamCount - 1 || parse.haveFormat) return true;
  std::uint8_t bitmap[40];
  if (size < sizeof(bitmap) || !parse.read(parse.context, at, bitmap, sizeof(bitmap))) return false;
  const std::int32_t width = static_cast<std::int32_t>(ReadLittle32(bitmap + 4));
  const std::int32_t height = static_cast<std::int32_t>(ReadLittle32(bitmap + 8));
  if (ReadLittle16(bitmap + 14) != 24 || ReadLittle32(bitmap + 16) != 0) return false;
  if (width <= 0 || width > 16384 || height == 0 || height < -16384 || height > 16384) return false;
  const std::int32_t pitch = (width * 3 + 3) & ~3;
  const std::uint64_t frameBytes =
      std::uint64_t{static_cast<std::uint32_t>(pitch)} * (height < 0 ? -height : height);
  if (frameBytes > kAviFrameBytesMax) return false;
  parse.index->width = width;
  parse.index->height = height;
  parse.index->pitch = pitch;
  parse.frameBytes = static_cast<std::uint32_t>(frameBytes);
  parse.haveFormat = true;
  return true;
}

bool ParseChunks(AviParse& parse, std::uint64_t begin, std::uint64_t end, int depth) {
  if (depth > 4) return false;
  std::uint64_t at = begin;
  while (at + 8 <= end) {
    std::uint8_t head[12];
    if (!parse.read(parse.context, at, head, 8)) return false;
    const std::uint32_t size = ReadLittle32(head + 4);
    const std::uint64_t data = at + 8;
    if (data + size > end) return false;
    if (IsTag(head, "LIST")) {
      if (size < 4 || !parse.read(parse.context, data, head + 8, 4)) return false;
      if (!ParseChunks(parse, data + 4, data + size, depth + 1)) return false;
    } else if (IsTag(head, "avih")) {
      std::uint8_t main[4];
      if (size >= 4 && parse.read(parse.context, data, main, 4))
        parse.microsecondsPerFrame = ReadLittle32(main);
    } else if (IsTag(head, "strh")) {
      if (!ParseStreamHeader(parse, data, size)) return false;
    } else if (IsTag(head, "strf")) {
      if (!ParseStreamFormat(parse, data, size)) return false;
    } else if (parse.haveFormat && head[0] == '0' + parse.videoStream / 10 &&
               head[1] == '0' + parse.videoStream % 10 && head[2] == 'd' &&
               (head[3] == 'b' || head[3] == 'c')) {
      if (size < parse.frameBytes) return false;
      parse.index->frameOffsets.push_back(data);
    }
    at = data + size + (size & 1);
  }
  return true;
}

}  // namespace

int ParseAviMovieIndex(AviReadAt read, void* context, std::uint64_t fileSize,
                       AviMovieIndex* index) {
  if (read == nullptr || index == nullptr) return -1;
  *index = AviMovieIndex{};
  std::uint8_t riff[12];
  if (fileSize < 12 || !read(context, 0, riff, 12)) return -1;
  if (!IsTag(riff, "RIFF") || !IsTag(riff + 8, "AVI ")) return -1;
  const std::uint64_t end =
      std::min<std::uint64_t>(fileSize, 8 + std::uint64_t{ReadLittle32(riff + 4)});
  AviParse parse{read, context, fileSize, index};
  if (!ParseChunks(parse, 12, end, 0) || !parse.haveFormat) {
    *index = AviMovieIndex{};
    return -1;
  }
  if (parse.scale > 0 && parse.rate > 0) {
    index->frameDuration = static_cast<std::int64_t>(10000000ULL * parse.scale / parse.rate);
  } else {
    index->frameDuration = static_cast<std::int64_t>(parse.microsecondsPerFrame) * 10;
  }
  if (index->frameDuration <= 0) {
    *index = AviMovieIndex{};
    return -1;
  }
  return 0;
}

namespace {

class AviSourceFilter;

bool ReadFromFile(void* context, std::uint64_t offset, void* buffer, std::uint32_t size) {
  HANDLE file = static_cast<HANDLE>(context);
  LONG high = static_cast<LONG>(offset >> 32);
  SetLastError(0);
  if (SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFF), &high, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER &&
      GetLastError() != 0)
    return false;
  DWORD read = 0;
  return ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

// The output pin streams the frames and answers seeking for the graph's renderers.
class AviOutputPin final : public K_COutputPinBase, public MediaTimeSeeking {
 public:
  AviOutputPin(AviSourceFilter* filter, CRITICAL_SECTION* lock);
  ~AviOutputPin() override {
    StopStreaming();
    ReleaseMediaTypeContents(&offered_);
  }
  HRESULT QueryInterface(REFIID riid, void** object) override {
    return K_COutputPinBase::QueryInterface(riid, object);
  }
  ULONG AddRef() override { return K_COutputPinBase::AddRef(); }
  ULONG Release() override { return K_COutputPinBase::Release(); }
  HRESULT InnerQueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), object);
    return K_COutputPinBase::InnerQueryInterface(riid, object);
  }
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override {
    if (type == nullptr) return E_POINTER;
    return MediaTypesEqual(*type, type_) || MediaTypesEqual(*type, offered_) ? S_OK : S_FALSE;
  }
  HRESULT MediaTypeAt(int position, MediaTypeObject* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    return CopyMediaType(type, &offered_);
  }
  HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT PinActive() override;
  HRESULT PinInactive() override {
    StopStreaming();
    return K_COutputPinBase::PinInactive();
  }

  // Seeking in media time: the positions belong to the filter.
  HRESULT GetDuration(LONGLONG* d) override;
  HRESULT GetStopPosition(LONGLONG* s) override;
  HRESULT GetCurrentPosition(LONGLONG* c) override;
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                       DWORD stopFlags) override;

  MediaTypeObject offered_;

 private:
  void StopStreaming();
  void Stream();

  AviSourceFilter* source_;
  std::thread thread_;
  std::mutex positionLock_;
  LONGLONG start_ = 0;
  LONGLONG stop_ = -1;
  LONGLONG current_ = 0;
  bool quit_ = false;
};

class AviSourceFilter final : public K_CFilterBase {
 public:
  AviSourceFilter(HANDLE file, AviMovieIndex index)
      : K_CFilterBase(u"AVI Source", nullptr, section_.Get(), GUID_NULL),
        file_(file),
        index_(std::move(index)) {
    pin_ = new (std::nothrow) AviOutputPin(this, section_.Get());
  }
  ~AviSourceFilter() override {
    delete pin_;
    CloseHandle(file_);
  }
  int PinCount() override { return pin_ != nullptr ? 1 : 0; }
  K_CPinBase* PinAt(int index) override { return index == 0 ? pin_ : nullptr; }
  const AviMovieIndex& Index() const { return index_; }
  LONGLONG Duration() const {
    return index_.frameDuration * static_cast<LONGLONG>(index_.frameOffsets.size());
  }
  // Reads frame `n` into `buffer`; false when the file gives fewer bytes.
  bool ReadFrame(size_t n, BYTE* buffer, DWORD bytes) {
    std::lock_guard guard(fileLock_);
    return ReadFromFile(file_, index_.frameOffsets[n], buffer, bytes);
  }

 private:
  K_CCritSec section_;
  std::mutex fileLock_;
  HANDLE file_;
  AviMovieIndex index_;
  AviOutputPin* pin_ = nullptr;
};

AviOutputPin::AviOutputPin(AviSourceFilter* filter, CRITICAL_SECTION* lock)
    : K_COutputPinBase(u"AVI Output", filter, lock, nullptr, u"Output"), source_(filter) {
  const AviMovieIndex& index = filter->Index();
  VIDEOINFOHEADER header{};
  header.AvgTimePerFrame = index.frameDuration;
  header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  header.bmiHeader.biWidth = index.width;
  header.bmiHeader.biHeight = index.height;
  header.bmiHeader.biPlanes = 1;
  header.bmiHeader.biBitCount = 24;
  header.bmiHeader.biSizeImage =
      static_cast<DWORD>(index.pitch) *
      static_cast<DWORD>(index.height < 0 ? -index.height : index.height);
  ClearMediaType(&offered_);
  offered_.majortype = MEDIATYPE_Video;
  offered_.subtype = MEDIASUBTYPE_RGB24;
  offered_.formattype = FORMAT_VideoInfo;
  offered_.lSampleSize = header.bmiHeader.biSizeImage;
  offered_.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(header)));
  if (offered_.pbFormat != nullptr) {
    std::memcpy(offered_.pbFormat, &header, sizeof(header));
    offered_.cbFormat = sizeof(header);
  }
}

HRESULT AviOutputPin::SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  request->cBuffers = std::max<LONG>(request->cBuffers, 2);
  request->cbBuffer = std::max<LONG>(request->cbBuffer, static_cast<LONG>(offered_.lSampleSize));
  ALLOCATOR_PROPERTIES actual;
  const HRESULT result = allocator->SetProperties(request, &actual);
  if (FAILED(result)) return result;
  return actual.cbBuffer >= static_cast<LONG>(offered_.lSampleSize) ? S_OK : E_FAIL;
}

HRESULT AviOutputPin::PinActive() {
  const HRESULT result = K_COutputPinBase::PinActive();
  if (FAILED(result)) return result;
  StopStreaming();
  quit_ = false;
  thread_ = std::thread([this] { Stream(); });
  return S_OK;
}

void AviOutputPin::StopStreaming() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard guard(positionLock_);
    quit_ = true;
  }
  // A thread waiting for a buffer wakes with the decommit.
  if (allocator_ != nullptr) allocator_->Decommit();
  thread_.join();
}

void AviOutputPin::Stream() {
  const AviMovieIndex& index = source_->Index();
  LONGLONG start, stop;
  {
    std::lock_guard guard(positionLock_);
    start = start_;
    stop = stop_ < 0 ? source_->Duration() : stop_;
  }
  PassNewSegment(start, stop, 1.0);
  const size_t count = index.frameOffsets.size();
  size_t frame = static_cast<size_t>(start / index.frameDuration);
  bool discontinuity = true;
  for (; frame < count; ++frame) {
    const LONGLONG frameStart = static_cast<LONGLONG>(frame) * index.frameDuration;
    if (frameStart >= stop) break;
    {
      std::lock_guard guard(positionLock_);
      if (quit_) return;
      current_ = frameStart;
    }
    IMediaSample* sample = nullptr;
    if (FAILED(TakeDeliveryBuffer(&sample, nullptr, nullptr, 0)) || sample == nullptr) return;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const DWORD bytes = static_cast<DWORD>(offered_.lSampleSize);
    if (!source_->ReadFrame(frame, data, bytes)) {
      sample->Release();
      break;
    }
    sample->SetActualDataLength(static_cast<LONG>(bytes));
    REFERENCE_TIME sampleStart = frameStart - start;
    REFERENCE_TIME sampleStop = sampleStart + index.frameDuration;
    sample->SetTime(&sampleStart, &sampleStop);
    LONGLONG mediaStart = frameStart, mediaStop = frameStart + index.frameDuration;
    sample->SetMediaTime(&mediaStart, &mediaStop);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(discontinuity ? TRUE : FALSE);
    discontinuity = false;
    const HRESULT delivered = DeliverSample(sample);
    sample->Release();
    if (delivered != S_OK) return;
  }
  {
    std::lock_guard guard(positionLock_);
    if (quit_) return;
    current_ = stop;
  }
  PassEndOfStream();
}

HRESULT AviOutputPin::GetDuration(LONGLONG* d) { return Answer(d, source_->Duration()); }

HRESULT AviOutputPin::GetStopPosition(LONGLONG* s) {
  if (s == nullptr) return E_POINTER;
  std::lock_guard guard(positionLock_);
  *s = stop_ < 0 ? source_->Duration() : stop_;
  return S_OK;
}

HRESULT AviOutputPin::GetCurrentPosition(LONGLONG* c) {
  if (c == nullptr) return E_POINTER;
  std::lock_guard guard(positionLock_);
  *c = current_;
  return S_OK;
}

HRESULT AviOutputPin::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                   DWORD stopFlags) {
  // The graph stops the filters around a seek, so the next streaming run starts here.
  std::lock_guard guard(positionLock_);
  if (current != nullptr && (currentFlags & 3) == AM_SEEKING_AbsolutePositioning)
    start_ = current_ = std::clamp<LONGLONG>(*current, 0, source_->Duration());
  if (stop != nullptr && (stopFlags & 3) == AM_SEEKING_AbsolutePositioning)
    stop_ = std::clamp<LONGLONG>(*stop, 0, source_->Duration());
  return S_OK;
}

}  // namespace

HRESULT CreateAviSourceFilter(LPCWSTR path, IBaseFilter** filter) {
  if (filter == nullptr) return E_POINTER;
  *filter = nullptr;
  HANDLE file =
      CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return VFW_E_NOT_FOUND;
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  AviMovieIndex index;
  if (ParseAviMovieIndex(ReadFromFile, file, (std::uint64_t{high} << 32) | low, &index) != 0) {
    CloseHandle(file);
    return VFW_E_UNSUPPORTED_STREAM;
  }
  auto* source = new (std::nothrow) AviSourceFilter(file, std::move(index));
  if (source == nullptr) {
    CloseHandle(file);
    return E_OUTOFMEMORY;
  }
  if (source->PinCount() == 0) {
    delete source;
    return E_OUTOFMEMORY;
  }
  *filter = source->AsBaseFilter();
  (*filter)->AddRef();
  return S_OK;
}
