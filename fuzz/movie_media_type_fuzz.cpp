// Fuzz target: the movie frame renderer's media type checks, then the frame copy with a sample
// of the fuzzed length, as a hostile upstream filter would hand them over.
//
// One renderer lives for the whole run, as a movie's does through its format changes. The sample
// comes from the memory allocator, or is a bare buffer sample of exactly the fuzzed length, so
// that a read past its end shows.
// Every input goes through the checks (AcceptsMediaType, then TakeMediaType), whatever the sizes it
// claims, except that a frame above kLargestTakenFrame is not taken: making and dropping hundreds
// of megabytes per input left the fuzzer a few inputs a second, and the size checks that guard
// that allocation are the ones AcceptsMediaType has just run.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "media/movie_frame_renderer.h"
#include "system/tracked_memory.h"

namespace {

constexpr long long kLargestTakenFrame = 64 << 10;
constexpr std::uint32_t kLargestSample = 128 << 10;

MovieFrameRenderer* Renderer() {
  static MovieFrameRenderer* renderer = [] {
    MovieFrameRenderer* made = CreateMovieRenderer(nullptr, nullptr);
    made->AsBaseFilter()->AddRef();
    return made;
  }();
  return renderer;
}

K_CMemoryAllocator* Allocator() {
  static K_CMemoryAllocator* allocator = [] {
    auto* made = new K_CMemoryAllocator(nullptr);
    made->AddRef();
    return made;
  }();
  return allocator;
}

// The frame size a format block claims, or -1 when it is too short to say.
long long ClaimedFrameBytes(const MediaTypeObject& type) {
  if (type.cbFormat < sizeof(VIDEOINFOHEADER)) return -1;
  VIDEOINFOHEADER header;
  std::memcpy(&header, type.pbFormat, sizeof(header));
  const long long width = header.bmiHeader.biWidth;
  const long long height = header.bmiHeader.biHeight;
  // Widths and heights near 2^31 make a product past 64 bits: such a frame is simply too large.
  long long bytes = 0;
  if (__builtin_mul_overflow((width * 3 + 3) & ~3LL, height < 0 ? -height : height, &bytes))
    return LLONG_MAX;
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 9) return 0;
  std::uint32_t formatSize = 0, sampleLength = 0;
  std::memcpy(&formatSize, data, 4);
  std::memcpy(&sampleLength, data + 4, 4);
  const std::uint8_t kinds = data[8];
  data += 9;
  size -= 9;
  // Mostly the one type the renderer takes; now and then another major type, subtype or format
  // type, or no format block at all, which must be refused.
  MediaTypeObject type;
  ClearMediaType(&type);
  type.majortype = (kinds & 7) == 1 ? MEDIATYPE_Audio : MEDIATYPE_Video;
  type.subtype = (kinds & 7) == 2 ? MEDIASUBTYPE_PCM : MEDIASUBTYPE_RGB24;
  type.formattype = (kinds & 7) == 3 ? FORMAT_WaveFormatEx : FORMAT_VideoInfo;
  const bool wanted = (kinds & 7) > 3;
  // The block is exactly as long as the format size claims, filled from the input.
  formatSize %= 256;
  std::unique_ptr<BYTE[]> format(new BYTE[std::max<std::uint32_t>(formatSize, 1)]());
  std::memcpy(format.get(), data, std::min<std::size_t>(size, formatSize));
  type.cbFormat = formatSize;
  type.pbFormat = (kinds & 7) == 4 ? nullptr : format.get();

  MovieFrameRenderer* renderer = Renderer();
  const HRESULT accepted = renderer->AcceptsMediaType(&type);
  const long long claimed = type.pbFormat != nullptr ? ClaimedFrameBytes(type) : -1;
  if (claimed <= kLargestTakenFrame) {
    const HRESULT taken = renderer->TakeMediaType(&type);
    // With the right type, what the check refuses is never taken, and what it accepts is.
    if (wanted && (accepted == S_OK) != (taken == S_OK)) __builtin_trap();
  }
  // A sample after the type change, taken or not: the renderer copies it in the format it holds.
  // Half the time its length is near the frame's, where the bound is.
  if ((kinds & 8) != 0) {
    const long long frame = static_cast<long long>(renderer->pitch) * renderer->height;
    sampleLength = static_cast<std::uint32_t>(
        std::max<long long>(0, frame + static_cast<std::int8_t>(sampleLength & 0xff)));
  }
  sampleLength %= kLargestSample + 1;
  if ((kinds & 0x10) != 0) {
    // A sample from the memory allocator, as a source pin hands it over, with the fuzzed count
    // and size agreed on first.
    K_CMemoryAllocator* allocator = Allocator();
    ALLOCATOR_PROPERTIES request{1 + (kinds >> 6), static_cast<LONG>(sampleLength), 1, 0}, actual;
    if (SUCCEEDED(allocator->SetProperties(&request, &actual)) && SUCCEEDED(allocator->Commit())) {
      IMediaSample* sample = nullptr;
      if (SUCCEEDED(allocator->GetBuffer(&sample, nullptr, nullptr, 0))) {
        sample->SetActualDataLength(static_cast<LONG>(sampleLength));
        renderer->RenderSample(sample);
        sample->Release();
      }
      allocator->Decommit();
    }
    return 0;
  }
  std::unique_ptr<BYTE[]> bytes(new BYTE[std::max<std::uint32_t>(sampleLength, 1)]);
  K_CBufferSample sample(nullptr, bytes.get(), static_cast<LONG>(sampleLength));
  sample.SetActualDataLength(static_cast<LONG>(sampleLength));
  renderer->RenderSample(&sample);
  return 0;
}
