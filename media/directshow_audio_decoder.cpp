// The last sound decoder: the whole file goes through a filter graph that decodes it to PCM,
// which a sample grabber collects into one block; the result is a PCM-in-memory decoder.
#include <cstring>

#include "media/dshow_async_source.h"
#include "media/dshow_sample_grabber.h"
#include "media/graph_filters.h"
#include "media/sound_decoder.h"
#include "system/host_call_table.h"
#include "system/log.h"
#include "system/tracked_memory.h"

namespace {

constexpr std::int64_t kGrowthStep = 1048576;

// The first pin of `filter` facing `direction`, with a reference, or null.
IPin* FindFilterPin(IBaseFilter* filter, PIN_DIRECTION direction) {
  IEnumPins* pins = nullptr;
  if (filter == nullptr || FAILED(filter->EnumPins(&pins))) return nullptr;
  IPin* pin = nullptr;
  ULONG fetched = 0;
  while (pins->Next(1, &pin, &fetched) == S_OK && fetched == 1) {
    PIN_DIRECTION own;
    if (SUCCEEDED(pin->QueryDirection(&own)) && own == direction) break;
    pin->Release();
    pin = nullptr;
  }
  pins->Release();
  return pin;
}

}  // namespace

constexpr std::int64_t kLargestPcmBlock = 0x7fffffff;

std::int64_t InitialPcmCapacity(std::int64_t fileSize) {
  if (fileSize < 0 || fileSize > kLargestPcmBlock / 10) return -1;
  return fileSize * 10;
}

std::int64_t GrownPcmCapacity(std::int64_t capacity, std::int64_t needed) {
  if (capacity < 0 || needed > kLargestPcmBlock) return -1;
  if (needed <= capacity) return capacity;
  const std::int64_t steps = (needed - capacity + kGrowthStep - 1) / kGrowthStep;
  const std::int64_t grown = capacity + steps * kGrowthStep;
  return grown <= kLargestPcmBlock ? grown : -1;
}

namespace {

int CollectPcmSampleCallback(IMediaSample* sample, REFERENCE_TIME*, REFERENCE_TIME*, BOOL,
                             void* user) {
  auto* decoder = static_cast<SoundDecoderRecord*>(user);
  MemoryPcmDecoderState& memory = decoder->memoryPcm;
  if (memory.data == nullptr) return 0;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const std::int64_t length = sample->GetActualDataLength();
  if (data == nullptr || length <= 0) return 0;
  const std::int64_t capacity = GrownPcmCapacity(memory.capacity, memory.size + length);
  if (capacity != memory.capacity) {
    auto* grown = capacity >= 0
                      ? static_cast<std::uint8_t*>(TrackedAlloc(capacity, __FILE__, __LINE__))
                      : nullptr;
    if (grown != nullptr) std::memcpy(grown, memory.data, static_cast<size_t>(memory.size));
    TrackedFree(memory.data);
    memory.data = grown;
    if (grown == nullptr) return 0;
    memory.capacity = static_cast<std::int32_t>(capacity);
  }
  std::memcpy(memory.data + memory.size, data, static_cast<size_t>(length));
  memory.size += static_cast<std::int32_t>(length);
  return 0;
}

// Everything the conversion holds, released in one place whatever step it reached.
struct Conversion {
  void* image = nullptr;
  K_CMemStream* stream = nullptr;
  K_CMemReader* reader = nullptr;
  IBaseFilter* nullRenderer = nullptr;
  IGraphBuilder* graph = nullptr;
  K_CSampleGrabber* grabber = nullptr;
  IMediaFilter* mediaFilter = nullptr;
  IMediaControl* control = nullptr;
  IMediaEvent* event = nullptr;
  ~Conversion() {
    if (control != nullptr) control->Stop();
    if (event != nullptr) event->Release();
    if (control != nullptr) control->Release();
    if (mediaFilter != nullptr) mediaFilter->Release();
    // The graph ends its threads and lets its filters go before the stream they read from.
    if (graph != nullptr) graph->Release();
    if (grabber != nullptr) grabber->AsBaseFilter()->Release();
    if (nullRenderer != nullptr) nullRenderer->Release();
    if (reader != nullptr) reader->AsBaseFilter()->Release();
    delete stream;
    TrackedFree(image);
  }
};

int Refuse(SoundDecoderRecord* decoder, const char* message) {
  LogWriteText(message);
  TrackedFree(decoder->memoryPcm.data);
  decoder->memoryPcm = MemoryPcmDecoderState{};
  return -1;
}

// The graph from the memory reader through the sample grabber, rendered; the failure's message,
// or null.
const char* BuildConversionGraph(Conversion& c) {
  MediaTypeObject streamType;
  ClearMediaType(&streamType);
  streamType.majortype = MEDIATYPE_Stream;
  streamType.subtype = MEDIASUBTYPE_MPEG1Audio;
  HRESULT result = S_OK;
  c.reader = CreateMemReader(c.stream, &streamType, &result);
  if (c.reader == nullptr) return "MP3変換用 K_CMemReader の作成に失敗しました";
  c.reader->AsBaseFilter()->AddRef();
  if (FAILED(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&c.nullRenderer))))
    return "MP3変換用 NullRender の作成に失敗しました";
  if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, 3, IID_IGraphBuilder,
                              reinterpret_cast<void**>(&c.graph))))
    return "MP3変換用 IGraphBuilder の作成に失敗しました";
  c.grabber = CreateSampleGrabber(nullptr, &result);
  if (c.grabber == nullptr) return "MP3変換用 K_CSampleGrabber の作成に失敗しました";
  c.grabber->AsBaseFilter()->AddRef();
  MediaTypeObject pcmType;
  ClearMediaType(&pcmType);
  pcmType.majortype = MEDIATYPE_Audio;
  pcmType.subtype = MEDIASUBTYPE_PCM;
  if (FAILED(c.grabber->SetAcceptedType(&pcmType)))
    return "サンプルグラバフィルタのメディアタイプの設定に失敗しました";
  if (FAILED(c.graph->AddFilter(c.grabber->AsBaseFilter(), u"SampleGrabber")))
    return "サンプルグラバフィルタのグラフへの追加に失敗しました";
  if (FAILED(c.graph->AddFilter(c.reader->AsBaseFilter(), u"MemFile")))
    return "メモリファイルフィルタのグラフへの追加に失敗しました";
  if (FAILED(c.graph->Render(c.reader->PinAt(0)))) return "グラフの構築に失敗しました";
  if (FAILED(c.graph->AddFilter(c.nullRenderer, u"File Renderer")))
    return "ヌルレンダラーフィルタのグラフへの追加に失敗しました";
  return nullptr;
}

// Swaps the renderer that Render chose for the null renderer; the failure's message, or null.
const char* SwapInNullRenderer(Conversion& c) {
  IPin* upstream = nullptr;
  IEnumFilters* filters = nullptr;
  if (SUCCEEDED(c.graph->EnumFilters(&filters))) {
    IBaseFilter* filter = nullptr;
    ULONG fetched = 0;
    while (upstream == nullptr && filters->Next(1, &filter, &fetched) == S_OK && fetched == 1) {
      IPin* input = FindFilterPin(filter, PINDIR_INPUT);
      IPin* output = FindFilterPin(filter, PINDIR_OUTPUT);
      if (input != nullptr && output == nullptr && SUCCEEDED(input->ConnectedTo(&upstream))) {
        upstream->Disconnect();
        input->Disconnect();
      }
      if (input != nullptr) input->Release();
      if (output != nullptr) output->Release();
      filter->Release();
    }
    filters->Release();
  }
  IPin* nullInput = FindFilterPin(c.nullRenderer, PINDIR_INPUT);
  // With no renderer found there is nothing to connect: the swap has failed.
  const HRESULT swapped =
      upstream != nullptr && nullInput != nullptr ? c.graph->Connect(upstream, nullInput) : E_FAIL;
  if (upstream != nullptr) upstream->Release();
  if (nullInput != nullptr) nullInput->Release();
  if (FAILED(swapped)) return "既存レンダラーをNullレンダラーと交換する処理が失敗しました";
  return nullptr;
}

// The decoder's output format from the grabber's connection: PCM only.
const char* ReadPcmFormat(Conversion& c, SoundDecoderRecord* decoder) {
  MediaTypeObject connection;
  ClearMediaType(&connection);
  if (FAILED(c.grabber->GetConnectionType(&connection)))
    return "音声が含まれていないか、オーディオフォーマットの取得に失敗しました。";
  WAVEFORMATEX format{};
  const bool waveFormat = connection.formattype == FORMAT_WaveFormatEx && connection.cbFormat >= 16;
  if (waveFormat)
    std::memcpy(&format, connection.pbFormat, std::min<ULONG>(connection.cbFormat, sizeof(format)));
  ReleaseMediaTypeContents(&connection);
  if (!waveFormat) return "サポート外のストリームフォーマットです。";
  if (format.wFormatTag != WAVE_FORMAT_PCM || format.nChannels == 0)
    return "サポート外のオーディオフォーマットです。";
  WAVEFORMATEX& out = decoder->outputFormat;
  out.wFormatTag = WAVE_FORMAT_PCM;
  out.nChannels = format.nChannels;
  out.nSamplesPerSec = format.nSamplesPerSec;
  out.nBlockAlign = format.nBlockAlign;
  out.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
  out.wBitsPerSample = static_cast<WORD>(format.nBlockAlign * 8 / format.nChannels);
  out.cbSize = 0;
  return nullptr;
}

// The grabber's samples collected into the decoder's memory PCM, and the graph's controls.
const char* PrepareCollection(Conversion& c, SoundDecoderRecord* decoder, int size) {
  if (FAILED(c.grabber->SetSampleCallback(CollectPcmSampleCallback, decoder)))
    return "コールバック関数を設定できません";
  const std::int64_t capacity = InitialPcmCapacity(size);
  decoder->memoryPcm.data =
      capacity >= 0 ? static_cast<std::uint8_t*>(TrackedAlloc(capacity, __FILE__, __LINE__))
                    : nullptr;
  if (decoder->memoryPcm.data == nullptr)
    return "PCMデータを格納するメモリ領域の確保に失敗しました";
  decoder->memoryPcm.capacity = static_cast<std::int32_t>(capacity);
  decoder->memoryPcm.size = 0;

  if (FAILED(c.graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&c.mediaFilter))))
    return "IMediaFilter の取得に失敗しました";
  c.mediaFilter->SetSyncSource(nullptr);
  if (FAILED(c.graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&c.control))))
    return "IMediaControl の取得に失敗しました";
  if (FAILED(c.graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&c.event))))
    return "IMediaEvent の取得に失敗しました";
  return nullptr;
}

// Runs the graph to its end, the window's messages pumped while it runs.
const char* RunConversion(Conversion& c, SoundDecoderRecord* decoder) {
  c.control->Run();
  int quitting = hostCallTable.pumpWindowMessages();
  for (;;) {
    LONG code = 0;
    if (quitting == 0 && SUCCEEDED(c.event->WaitForCompletion(100, &code))) {
      if (code == EC_COMPLETE) break;
      // Any other end of the graph ends the conversion as an error, so the wait cannot hang.
      return "MP3変換の途中でエラーが発生しました";
    }
    if (quitting != 0) return "MP3変換の途中でソフトが終了しました";
    quitting = hostCallTable.pumpWindowMessages();
  }
  c.control->Stop();
  if (decoder->memoryPcm.data == nullptr)
    return "PCMデータを格納するメモリ領域の再確保に失敗しました";
  return nullptr;
}

}  // namespace

int OpenDirectShowAudioDecoder(SoundDecoderRecord* decoder) {
  decoder->memoryPcm = MemoryPcmDecoderState{};
  Conversion c;
  int size = 0;
  if (ReadWholeStream(&decoder->stream, &c.image, &size) != 0 || c.image == nullptr) return -1;
  RegisterEngineGraphFilters();
  c.stream = CreateMemStream(c.image, size, 0xFFFFFFFF);
  if (c.stream == nullptr) return Refuse(decoder, "MP3変換用 K_CMemStream の作成に失敗しました");
  const char* failure = BuildConversionGraph(c);
  if (failure == nullptr) failure = SwapInNullRenderer(c);
  if (failure == nullptr) failure = ReadPcmFormat(c, decoder);
  if (failure == nullptr) failure = PrepareCollection(c, decoder, size);
  if (failure == nullptr) failure = RunConversion(c, decoder);
  if (failure != nullptr) return Refuse(decoder, failure);
  decoder->kind = kSoundDecoderMemoryPcm;
  decoder->outputBufferSize = static_cast<std::int32_t>(decoder->outputFormat.nAvgBytesPerSec);
  return 0;
}
