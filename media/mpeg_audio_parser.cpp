// The graph's MPEG-audio parser over libmpg123: it pulls the whole stream from the source's
// IAsyncReader when connected, decodes it to 16-bit PCM, and streams that from its output pin.
#include <mpg123.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "media/dshow_framework.h"
#include "media/dshow_renderer.h"
#include "media/graph_filters.h"
#include "platform/acm/mpeg_audio.h"

namespace {

constexpr LONGLONG kLargestStream = 256 << 20;
constexpr LONG kChunkBytes = 16384;

// Decodes MPEG audio to interleaved 16-bit PCM at the stream's own rate and channel count.
bool DecodeMpegAudio(const std::vector<BYTE>& data, std::vector<BYTE>* pcm, WAVEFORMATEX* format) {
  StartMpg123();
  mpg123_handle* handle = mpg123_new(nullptr, nullptr);
  if (handle == nullptr) return false;
  mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  bool ok = mpg123_open_feed(handle) == MPG123_OK &&
            mpg123_feed(handle, data.data(), data.size()) == MPG123_OK;
  long rate = 0;
  int channels = 0, encoding = 0;
  std::vector<unsigned char> block(65536);
  while (ok) {
    size_t done = 0;
    const int result = mpg123_read(handle, block.data(), block.size(), &done);
    if (result == MPG123_NEW_FORMAT) {
      mpg123_getformat(handle, &rate, &channels, &encoding);
      if (encoding != MPG123_ENC_SIGNED_16) ok = false;
    }
    pcm->insert(pcm->end(), block.begin(), block.begin() + static_cast<long>(done));
    if (result == MPG123_DONE || result == MPG123_NEED_MORE) break;
    if (result != MPG123_OK && result != MPG123_NEW_FORMAT) ok = false;
  }
  mpg123_delete(handle);
  if (!ok || rate <= 0 || channels <= 0) return false;
  format->wFormatTag = WAVE_FORMAT_PCM;
  format->nChannels = static_cast<WORD>(channels);
  format->nSamplesPerSec = static_cast<DWORD>(rate);
  format->wBitsPerSample = 16;
  format->nBlockAlign = static_cast<WORD>(channels * 2);
  format->nAvgBytesPerSec = format->nSamplesPerSec * format->nBlockAlign;
  format->cbSize = 0;
  return true;
}

class MpegAudioParser;

class ParserInputPin final : public K_CPinBase {
 public:
  ParserInputPin(MpegAudioParser* parser, CRITICAL_SECTION* lock);
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override {
    if (type == nullptr) return E_POINTER;
    return type->majortype == MEDIATYPE_Stream && type->subtype == MEDIASUBTYPE_MPEG1Audio
               ? S_OK
               : S_FALSE;
  }
  HRESULT CompletePeer(IPin* pin) override;

 private:
  MpegAudioParser* parser_;
};

class ParserOutputPin final : public K_COutputPinBase {
 public:
  ParserOutputPin(MpegAudioParser* parser, CRITICAL_SECTION* lock);
  ~ParserOutputPin() override { StopStreaming(); }
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override;
  HRESULT MediaTypeAt(int position, MediaTypeObject* type) override;
  HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = std::max<LONG>(request->cBuffers, 4);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, kChunkBytes);
    ALLOCATOR_PROPERTIES actual;
    return allocator->SetProperties(request, &actual);
  }
  HRESULT PinActive() override {
    const HRESULT result = K_COutputPinBase::PinActive();
    if (FAILED(result)) return result;
    StopStreaming();
    quit_ = false;
    thread_ = std::thread([this] { Stream(); });
    return S_OK;
  }
  HRESULT PinInactive() override {
    StopStreaming();
    return K_COutputPinBase::PinInactive();
  }

 private:
  void StopStreaming() {
    if (!thread_.joinable()) return;
    quit_ = true;
    if (allocator_ != nullptr) allocator_->Decommit();
    thread_.join();
  }
  void Stream();
  MpegAudioParser* parser_;
  std::thread thread_;
  std::atomic<bool> quit_{false};
};

class MpegAudioParser final : public K_CFilterBase {
 public:
  MpegAudioParser()
      : K_CFilterBase(u"MPEG Audio Parser", nullptr, nullptr, GUID_NULL),
        input_(this, section_.Get()),
        output_(this, section_.Get()) {
    lock_ = section_.Get();
  }
  int PinCount() override { return 2; }
  K_CPinBase* PinAt(int index) override {
    return index == 0   ? static_cast<K_CPinBase*>(&input_)
           : index == 1 ? static_cast<K_CPinBase*>(&output_)
                        : nullptr;
  }
  std::vector<BYTE> pcm;
  WAVEFORMATEX format{};

 private:
  K_CCritSec section_;
  ParserInputPin input_;
  ParserOutputPin output_;
};

ParserInputPin::ParserInputPin(MpegAudioParser* parser, CRITICAL_SECTION* lock)
    : K_CPinBase(u"Parser input", parser, lock, nullptr, u"Input", PINDIR_INPUT), parser_(parser) {}

HRESULT ParserInputPin::CompletePeer(IPin* pin) {
  IAsyncReader* reader = nullptr;
  if (FAILED(pin->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&reader))))
    return E_NOINTERFACE;
  LONGLONG total = 0, available = 0;
  HRESULT result = reader->Length(&total, &available);
  std::vector<BYTE> data;
  if (SUCCEEDED(result) && (total <= 0 || total > kLargestStream)) result = E_FAIL;
  if (SUCCEEDED(result)) {
    data.resize(static_cast<size_t>(total));
    result = reader->SyncRead(0, static_cast<LONG>(total), data.data());
  }
  reader->Release();
  if (result != S_OK) return FAILED(result) ? result : E_FAIL;
  parser_->pcm.clear();
  // A stream no frame of which decodes is no MPEG audio: the connection is refused.
  return DecodeMpegAudio(data, &parser_->pcm, &parser_->format) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

ParserOutputPin::ParserOutputPin(MpegAudioParser* parser, CRITICAL_SECTION* lock)
    : K_COutputPinBase(u"Parser output", parser, lock, nullptr, u"Output"), parser_(parser) {}

HRESULT ParserOutputPin::MediaTypeAt(int position, MediaTypeObject* type) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0 || parser_->format.nChannels == 0) return VFW_S_NO_MORE_ITEMS;
  ClearMediaType(type);
  type->majortype = MEDIATYPE_Audio;
  type->subtype = MEDIASUBTYPE_PCM;
  type->formattype = FORMAT_WaveFormatEx;
  type->lSampleSize = parser_->format.nBlockAlign;
  type->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
  if (type->pbFormat == nullptr) return E_OUTOFMEMORY;
  std::memcpy(type->pbFormat, &parser_->format, sizeof(WAVEFORMATEX));
  type->cbFormat = sizeof(WAVEFORMATEX);
  return S_OK;
}

HRESULT ParserOutputPin::AcceptsMediaType(const MediaTypeObject* type) {
  if (type == nullptr) return E_POINTER;
  MediaTypeObject own;
  ClearMediaType(&own);
  if (MediaTypeAt(0, &own) != S_OK) return S_FALSE;
  const bool same = MediaTypesEqual(own, *type);
  ReleaseMediaTypeContents(&own);
  return same ? S_OK : S_FALSE;
}

void ParserOutputPin::Stream() {
  const std::vector<BYTE>& pcm = parser_->pcm;
  const LONGLONG rate = std::max<DWORD>(parser_->format.nAvgBytesPerSec, 1);
  for (size_t at = 0; at < pcm.size() && !quit_;) {
    IMediaSample* sample = nullptr;
    if (FAILED(TakeDeliveryBuffer(&sample, nullptr, nullptr, 0)) || sample == nullptr) return;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const size_t bytes = std::min<size_t>(pcm.size() - at, static_cast<size_t>(sample->GetSize()));
    std::memcpy(data, pcm.data() + at, bytes);
    sample->SetActualDataLength(static_cast<LONG>(bytes));
    REFERENCE_TIME start = static_cast<LONGLONG>(at) * 10000000 / rate;
    REFERENCE_TIME stop = static_cast<LONGLONG>(at + bytes) * 10000000 / rate;
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(TRUE);
    const HRESULT delivered = DeliverSample(sample);
    sample->Release();
    if (delivered != S_OK) return;
    at += bytes;
  }
  if (!quit_) PassEndOfStream();
}

}  // namespace

HRESULT CreateMpegAudioParser(const AM_MEDIA_TYPE* type, IBaseFilter** filter) {
  if (type == nullptr || filter == nullptr) return E_POINTER;
  *filter = nullptr;
  if (!(type->majortype == MEDIATYPE_Stream) || !(type->subtype == MEDIASUBTYPE_MPEG1Audio))
    return VFW_E_TYPE_NOT_ACCEPTED;
  auto* parser = new (std::nothrow) MpegAudioParser;
  if (parser == nullptr) return E_OUTOFMEMORY;
  *filter = parser->AsBaseFilter();
  (*filter)->AddRef();
  return S_OK;
}
