// Fuzz target: the movie frame renderer's media type checks, then the frame copy with a sample
// of the fuzzed length, as a hostile upstream filter would hand them over.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "media/movie_frame_renderer.h"
#include "system/tracked_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  std::uint32_t formatSize = 0, sampleLength = 0;
  std::memcpy(&formatSize, data, 4);
  std::memcpy(&sampleLength, data + 4, 4);
  data += 8;
  size -= 8;
  MediaTypeObject type;
  ClearMediaType(&type);
  type.majortype = MEDIATYPE_Video;
  type.subtype = MEDIASUBTYPE_RGB24;
  type.formattype = FORMAT_VideoInfo;
  // The block is as long as the format size claims, filled from the input.
  formatSize %= 256;
  type.cbFormat = formatSize;
  type.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(formatSize));
  std::memset(type.pbFormat, 0, formatSize);
  std::memcpy(type.pbFormat, data, std::min<std::size_t>(size, formatSize));
  MovieFrameRenderer* renderer = CreateMovieRenderer(nullptr, nullptr);
  renderer->AsBaseFilter()->AddRef();
  if (renderer->AcceptsMediaType(&type) == S_OK && renderer->TakeMediaType(&type) == S_OK) {
    K_CMemoryAllocator* allocator = new K_CMemoryAllocator(nullptr);
    allocator->AddRef();
    ALLOCATOR_PROPERTIES request{1, static_cast<LONG>(sampleLength % (1 << 20)) + 1, 1, 0}, actual;
    if (SUCCEEDED(allocator->SetProperties(&request, &actual)) && SUCCEEDED(allocator->Commit())) {
      IMediaSample* sample = nullptr;
      if (SUCCEEDED(allocator->GetBuffer(&sample, nullptr, nullptr, 0))) {
        sample->SetActualDataLength(request.cbBuffer);
        renderer->RenderSample(sample);
        sample->Release();
      }
      allocator->Decommit();
    }
    allocator->Release();
  }
  BYTE* buffer = renderer->frameBuffer;
  renderer->AsBaseFilter()->Release();
  TrackedFree(buffer);
  ReleaseMediaTypeContents(&type);
  return 0;
}
