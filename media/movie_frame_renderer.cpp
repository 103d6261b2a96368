// The movie frame renderer: accepts RGB24 video in a VIDEOINFOHEADER and copies each frame into
// a buffer of its own, flipping bottom-up rows so the buffer is always top row first.
#include "media/movie_frame_renderer.h"

#include <cstring>
#include <new>

#include "system/tracked_memory.h"

namespace {

// The frame size of a format block, or false when the block is too short or the sizes are not
// ones a frame buffer can hold.
bool ReadFrameSize(const MediaTypeObject& type, int* width, int* height, int* bottomUp,
                   int* pitch) {
  if (type.pbFormat == nullptr || type.cbFormat < sizeof(VIDEOINFOHEADER)) return false;
  VIDEOINFOHEADER header;
  std::memcpy(&header, type.pbFormat, sizeof(header));
  const LONG w = header.bmiHeader.biWidth;
  const LONG h = header.bmiHeader.biHeight;
  if (w <= 0 || h == 0 || h == INT32_MIN || w > (0x7fffffff - 3) / 3) return false;
  const long long rowBytes = (static_cast<long long>(w) * 3 + 3) & ~3LL;
  const long long rows = h < 0 ? -static_cast<long long>(h) : h;
  if (rowBytes * rows > 0x7fffffff) return false;
  *width = w;
  *height = static_cast<int>(rows);
  *bottomUp = h < 0 ? 0 : 1;
  *pitch = static_cast<int>(rowBytes);
  return true;
}

}  // namespace

MovieFrameRenderer::MovieFrameRenderer(IUnknown* outer, HRESULT* result)
    : K_CVideoRendererBase(CLSID_MovieFrameRenderer, nullptr, outer, result) {}

MovieFrameRenderer* CreateMovieRenderer(IUnknown* outer, HRESULT* result) {
  if (result != nullptr) *result = S_OK;
  return new (std::nothrow) MovieFrameRenderer(outer, result);
}

HRESULT MovieFrameRenderer::AcceptsMediaType(const MediaTypeObject* type) {
  if (type == nullptr) return E_POINTER;
  if (!(type->formattype == FORMAT_VideoInfo)) return E_INVALIDARG;
  if (!(type->majortype == MEDIATYPE_Video) || !(type->subtype == MEDIASUBTYPE_RGB24))
    return E_FAIL;
  int w, h, up, p;
  // A short format block or sizes that overflow the buffer would be read or written past.
  if (!ReadFrameSize(*type, &w, &h, &up, &p)) return E_INVALIDARG;
  return S_OK;
}

HRESULT MovieFrameRenderer::TakeMediaType(const MediaTypeObject* type) {
  int w = 0, h = 0, up = 0, p = 0;
  if (type == nullptr || !ReadFrameSize(*type, &w, &h, &up, &p)) return E_INVALIDARG;
  K_CAutoLock guard(frameLock_.Get());
  width = w;
  height = h;
  bottomUp = up;
  pitch = p;
  TrackedFree(frameBuffer);
  frameBuffer = static_cast<BYTE*>(TrackedAlloc(static_cast<std::int64_t>(p) * h));
  newFrame = 0;
  return S_OK;
}

HRESULT MovieFrameRenderer::RenderSample(IMediaSample* sample) {
  if (sample == nullptr) return E_POINTER;
  K_CAutoLock guard(frameLock_.Get());
  if (frameBuffer == nullptr) return S_OK;
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || data == nullptr) return S_OK;
  const long long bytes = static_cast<long long>(pitch) * height;
  // A sample shorter than a frame is skipped rather than read past its end.
  if (sample->GetActualDataLength() < bytes) return S_OK;
  if (bottomUp) {
    for (int row = 0; row < height; ++row)
      std::memcpy(frameBuffer + static_cast<size_t>(row) * pitch,
                  data + static_cast<size_t>(height - 1 - row) * pitch, pitch);
  } else {
    std::memcpy(frameBuffer, data, static_cast<size_t>(bytes));
  }
  InterlockedExchange(&newFrame, 1);
  return S_OK;
}
