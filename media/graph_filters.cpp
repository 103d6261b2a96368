// The engine's filters joined to the filter graph once: the system classes made of the framework
// (memory allocator, null renderer, seeking pass-through, WAV writer) and the source and decoder
// factories the graph asks when it renders a file.
#include "media/graph_filters.h"

#include <mutex>
#include <new>

#include "media/dshow_framework.h"
#include "media/dshow_renderer.h"
#include "media/dshow_seeking_passthru.h"
#include "media/dshow_wave_writer.h"

namespace {

// The system's null renderer: it takes every type and shows nothing.
class NullRenderer final : public K_CRendererBase {
 public:
  NullRenderer() : K_CRendererBase(CLSID_NullRenderer, u"Null Renderer", nullptr, nullptr) {}
  HRESULT RenderSample(IMediaSample*) override { return S_OK; }
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override {
    return type == nullptr ? E_POINTER : S_OK;
  }
};

HRESULT CreateNullRendererInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  auto* renderer = new (std::nothrow) NullRenderer;
  if (renderer == nullptr) return E_OUTOFMEMORY;
  renderer->InnerAddRef();
  const HRESULT result = renderer->InnerQueryInterface(riid, object);
  renderer->InnerRelease();
  return result;
}

}  // namespace

void RegisterEngineGraphFilters() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterPlatformComClass(CLSID_MemoryAllocator, CreateMemoryAllocatorInstance);
    RegisterPlatformComClass(CLSID_NullRenderer, CreateNullRendererInstance);
    RegisterSeekingPassThruClass();
    // Nothing of the engine makes a WAV writer; its entry is there for whoever asks by class.
    RegisterPlatformComClass(*kWaveWriterFactoryEntry.clsid, kWaveWriterFactoryEntry.create);
    RegisterGraphSourceFactory(CreateAviSourceFilter);
    // Whatever the uncompressed AVI source leaves, GStreamer may decode.
    RegisterGraphSourceFactory(CreateGStreamerSourceFilter);
    RegisterGraphDecoderFactory(CreateMpegAudioParser);
    RegisterGraphDecoderFactory(CreateDefaultAudioRenderer);
  });
}
