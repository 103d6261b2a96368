// Fuzz target: a file through the graph's GStreamer source, which takes whatever the engine's own
// decoders leave: the file is prerolled, each stream's pin is connected to a null renderer, and
// the graph runs until the streams end or for at most a fifth of a second, then stops.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/graph_filters.h"
#include "platform/dshow/dshow.h"
#include "platform/win32/file_path.h"
#include "platform/win32/kernel.h"
#include "system/log.h"

// GStreamer and GLib keep type registrations, plugin tables and thread pools for the life of the
// process; none of it is this program's leak.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libgstreamer-1.0.so\nleak:libglib-2.0.so\nleak:libgobject-2.0.so\n"
         "leak:libgstbase-1.0.so\nleak:/gstreamer-1.0/\n";
}

namespace {

constexpr LONG kLongestRunMs = 200;

// The input's file on disk and its name as the engine spells paths, one per fuzzing process.
struct InputFile {
  std::string posix;
  std::vector<WCHAR> engine;
};

const InputFile& Input() {
  static const InputFile input = [] {
    SetLogOutput(0);
    RegisterEngineGraphFilters();
    InputFile made;
    made.posix = "/tmp/gstreamer_source_fuzz." + std::to_string(getpid()) + ".bin";
    std::atexit([] { std::remove(Input().posix.c_str()); });
    std::string enginePath;
    if (!MapPosixToEnginePath(made.posix, enginePath)) std::abort();
    made.engine.resize(enginePath.size() + 1);
    if (MultiByteToWideChar(CP_ACP, 0, enginePath.c_str(), -1, made.engine.data(),
                            static_cast<int>(made.engine.size())) == 0)
      std::abort();
    return made;
  }();
  return input;
}

// The output pins of `filter`, each with a reference.
std::vector<IPin*> OutputPins(IBaseFilter* filter) {
  std::vector<IPin*> outputs;
  IEnumPins* pins = nullptr;
  if (FAILED(filter->EnumPins(&pins))) return outputs;
  IPin* pin = nullptr;
  ULONG fetched = 0;
  while (outputs.size() < 8 && pins->Next(1, &pin, &fetched) == S_OK && fetched == 1) {
    PIN_DIRECTION direction;
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT) {
      outputs.push_back(pin);
    } else {
      pin->Release();
    }
  }
  pins->Release();
  return outputs;
}

IPin* FirstPin(IBaseFilter* filter) {
  IEnumPins* pins = nullptr;
  if (FAILED(filter->EnumPins(&pins))) return nullptr;
  IPin* pin = nullptr;
  ULONG fetched = 0;
  if (pins->Next(1, &pin, &fetched) != S_OK || fetched != 1) pin = nullptr;
  pins->Release();
  return pin;
}

void RunBriefly(IBaseFilter* source) {
  IGraphBuilder* graph = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                              reinterpret_cast<void**>(&graph))))
    return;
  std::vector<IBaseFilter*> renderers;
  if (SUCCEEDED(graph->AddFilter(source, u"Source"))) {
    for (IPin* output : OutputPins(source)) {
      IBaseFilter* renderer = nullptr;
      if (SUCCEEDED(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IBaseFilter, reinterpret_cast<void**>(&renderer)))) {
        renderers.push_back(renderer);
        IPin* input = FirstPin(renderer);
        if (input != nullptr && SUCCEEDED(graph->AddFilter(renderer, u"Null")))
          graph->Connect(output, input);
        if (input != nullptr) input->Release();
      }
      output->Release();
    }
    IMediaControl* control = nullptr;
    IMediaEvent* event = nullptr;
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&event));
    if (control != nullptr && event != nullptr && SUCCEEDED(control->Run())) {
      LONG code = 0;
      event->WaitForCompletion(kLongestRunMs, &code);
    }
    if (control != nullptr) control->Stop();
    if (event != nullptr) event->Release();
    if (control != nullptr) control->Release();
  }
  graph->Release();
  for (IBaseFilter* renderer : renderers) renderer->Release();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 18)) return 0;
  const InputFile& input = Input();
  std::FILE* out = std::fopen(input.posix.c_str(), "wb");
  if (!out) return 0;
  const bool written = std::fwrite(data, 1, size, out) == size;
  if (std::fclose(out) != 0 || !written) return 0;
  IBaseFilter* source = nullptr;
  if (FAILED(CreateGStreamerSourceFilter(input.engine.data(), &source)) || source == nullptr)
    return 0;
  RunBriefly(source);
  source->Release();
  return 0;
}
