// Movies through the filter graph: open by path or by a temporary copy, refresh, loop and end,
// and teardown in an order that leaves no file, buffer or thread behind.
#include "media/movie_directshow.h"

#include <cstring>
#include <string>

#include "files/file_table.h"
#include "files/win32_file.h"
#include "media/avi_source.h"
#include "media/movie_frame_renderer.h"
#include "system/log.h"
#include "system/text_helpers.h"
#include "system/tracked_memory.h"

namespace {

constexpr std::int64_t kCopyChunk = 1048576;

template <class Interface>
void ReleaseAndClear(Interface*& pointer) {
  if (pointer != nullptr) pointer->Release();
  pointer = nullptr;
}

void ReleaseGraph(MovieRecord* movie) {
  ReleaseAndClear(movie->basicAudio);
  ReleaseAndClear(movie->mediaSeeking);
  ReleaseAndClear(movie->mediaControl);
  // The graph goes last: releasing it stops its threads and ends the renderer.
  ReleaseAndClear(movie->graphBuilder);
  movie->renderer = nullptr;
}

void DeleteTemporaryCopy(MovieRecord* movie) {
  if (movie->temporaryCopy == 0) return;
  DeleteFileW(movie->path);
  movie->temporaryCopy = 0;
}

// Copies the file through the file table into a new temporary file whose path goes to the
// movie. A short read or write fails the copy and deletes it.
bool CopyToTemporaryFile(MovieRecord* movie, const char* path) {
  const FileHandle source = fileFunctionTable.open(path, 0, 1, 0);
  if (source == 0) return false;
  fileFunctionTable.seek(source, 0, 2);
  const std::int64_t size = fileFunctionTable.tell(source);
  fileFunctionTable.seek(source, 0, 0);
  auto* buffer = static_cast<char*>(TrackedAlloc(kCopyChunk));
  char tempPath[kFilePathBufferSize];
  HANDLE target = buffer != nullptr && size >= 0 ? OpenNewTempFile(tempPath) : nullptr;
  bool copied =
      target != nullptr && MultiByteToWideChar(932, 0, tempPath, -1, movie->path, 260) > 0;
  if (copied) movie->temporaryCopy = 1;
  for (std::int64_t written = 0; copied && written < size;) {
    const std::size_t chunk = static_cast<std::size_t>(std::min(kCopyChunk, size - written));
    const std::size_t got = fileFunctionTable.read(buffer, 1, chunk, source);
    DWORD put = 0;
    copied = got == chunk && WriteFile(target, buffer, static_cast<DWORD>(chunk), &put, nullptr) &&
             put == chunk;
    written += static_cast<std::int64_t>(chunk);
  }
  if (target != nullptr) CloseHandle(target);
  fileFunctionTable.close(source);
  TrackedFree(buffer);
  if (!copied && target != nullptr) DeleteFileA(tempPath);
  if (!copied) movie->temporaryCopy = 0;
  return copied;
}

bool RendererConnected(MovieFrameRenderer* renderer) {
  return renderer != nullptr && renderer->InputPin() != nullptr &&
         renderer->InputPin()->IsConnected();
}

int FailOpen(MovieRecord* movie, const std::string& message) {
  DeleteMovieGraph(movie);
  LogWriteText(message.c_str());
  return -1;
}

}  // namespace

void DeleteMovieGraph(MovieRecord* movie) {
  BYTE* frameBuffer = movie->renderer != nullptr ? movie->renderer->frameBuffer : nullptr;
  ReleaseGraph(movie);
  // After the graph: it may still hold the copy open until it is gone.
  DeleteTemporaryCopy(movie);
  TrackedFree(frameBuffer);
  movie->frameImage.pixels = nullptr;
}

int OpenMovieWithDirectShow(MovieRecord* movie, const char* path, int* width, int* height, int) {
  if (movie == nullptr || path == nullptr) return -1;
  movie->frameImage.pixels = nullptr;
  movie->frameDelivered = 0;
  RegisterEngineGraphFilters();
  if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr,
                              CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IGraphBuilder,
                              reinterpret_cast<void**>(&movie->graphBuilder))))
    return FailOpen(movie, "CLSID_FilterGraph の作成に失敗しました");
  HRESULT created = S_OK;
  MovieFrameRenderer* renderer = CreateMovieRenderer(nullptr, &created);
  if (renderer == nullptr) return FailOpen(movie, "Could not add renderer filter to graph!");
  // Our reference keeps the renderer alive should the graph refuse it.
  renderer->AsBaseFilter()->AddRef();
  const HRESULT added = movie->graphBuilder->AddFilter(renderer->AsBaseFilter(), u"MovieRenderer");
  renderer->AsBaseFilter()->Release();
  if (FAILED(added)) return FailOpen(movie, "Could not add renderer filter to graph!");
  movie->renderer = renderer;
  if (FAILED(movie->graphBuilder->QueryInterface(IID_IBasicAudio,
                                                 reinterpret_cast<void**>(&movie->basicAudio))))
    return FailOpen(movie, "BasicAudio インターフェースの取得に失敗しました");
  if (FAILED(movie->graphBuilder->QueryInterface(IID_IMediaControl,
                                                 reinterpret_cast<void**>(&movie->mediaControl))))
    return FailOpen(movie, "IID_IMediaControlインターフェイスの取得に失敗しました");
  if (FAILED(movie->graphBuilder->QueryInterface(IID_IMediaSeeking,
                                                 reinterpret_cast<void**>(&movie->mediaSeeking))))
    return FailOpen(movie, "IID_IMediaSeekingインターフェイスの取得に失敗しました");

  const std::string cannotOpen = std::string("ファイル:") + path + " が開けませんでした";
  const int codePage = GetCodePageNumber() > 0 ? GetCodePageNumber() : static_cast<int>(CP_ACP);
  // A path longer than the field is refused rather than cut and rendered.
  if (MultiByteToWideChar(static_cast<UINT>(codePage), 0, path, -1, movie->path, 260) == 0)
    return FailOpen(movie, cannotOpen);
  HRESULT rendered = movie->graphBuilder->RenderFile(movie->path, nullptr);
  if (FAILED(rendered)) {
    if (movie->temporaryCopy != 0 || !CopyToTemporaryFile(movie, path))
      return FailOpen(movie, cannotOpen);
    rendered = movie->graphBuilder->RenderFile(movie->path, nullptr);
    if (FAILED(rendered)) return FailOpen(movie, cannotOpen);
  }
  // A file whose video did not reach the renderer is no movie, whatever else played.
  if (!RendererConnected(movie->renderer)) return FailOpen(movie, cannotOpen);

  LONGLONG value = 0;
  movie->duration = SUCCEEDED(movie->mediaSeeking->GetDuration(&value)) && value != 0
                        ? value
                        : kMovieDefaultDuration;
  value = 0;
  movie->mediaSeeking->GetStopPosition(&value);
  movie->stopPosition = value;
  if (width != nullptr) *width = movie->renderer->width;
  if (height != nullptr) *height = movie->renderer->height;
  return 0;
}

int RefreshMovieGraph(MovieRecord* movie, bool loop, MovieGraphFrameSink deliver, void* context) {
  MovieFrameRenderer* renderer = movie->renderer;
  if (renderer != nullptr && InterlockedExchange(&renderer->newFrame, 0) != 0 &&
      deliver != nullptr) {
    // The frame lock keeps a format change from freeing the buffer while it is shown.
    K_CAutoLock guard(renderer->FrameLock());
    if (renderer->frameBuffer != nullptr) {
      movie->frameImage.width = renderer->width;
      movie->frameImage.height = renderer->height;
      movie->frameImage.pitch = renderer->pitch;
      movie->frameImage.pixels = renderer->frameBuffer;
      movie->frameImage.mipLevelCount = 0;
      MakeRGB24ColorFormat(&movie->frameImage.format);
      deliver(&movie->frameImage, context);
      movie->frameImage.pixels = nullptr;
    }
  }
  if (movie->mediaSeeking == nullptr || movie->mediaControl == nullptr) return 0;
  LONGLONG current = 0;
  if (FAILED(movie->mediaSeeking->GetCurrentPosition(&current))) return 0;
  if (current < movie->stopPosition) return 0;
  if (!loop) return 1;
  LONGLONG start = 0;
  movie->mediaSeeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr,
                                    AM_SEEKING_NoPositioning);
  movie->mediaControl->Run();
  return 0;
}

int PauseMovieGraph(MovieRecord* movie) {
  if (movie->mediaControl == nullptr) return 0;
  return SUCCEEDED(movie->mediaControl->Pause()) ? 0 : -1;
}

int RunMovieGraph(MovieRecord* movie) {
  if (movie->mediaControl == nullptr) return 0;
  return SUCCEEDED(movie->mediaControl->Run()) ? 0 : -1;
}

namespace {
void ShowFrame(const StandardImage*, void* context) {
  auto* movie = static_cast<MovieRecord*>(context);
  movie->currentFrameImage = &movie->frameImage;
  movie->frameCallback(movie, movie->callbackValue);
}
}  // namespace

int RefreshDirectShowMovie(MovieRecord* movie) {
  const bool loop = (movie->playType & kMovieLoopBit) != 0;
  // A frame that arrives while no callback is registered is dropped.
  if (RefreshMovieGraph(movie, loop, movie->frameCallback != nullptr ? ShowFrame : nullptr,
                        movie) == 1) {
    movie->resumeMark = 0;
    movie->stopped = 1;
  }
  return 0;
}

int PauseDirectShowMovie(MovieRecord* movie) { return PauseMovieGraph(movie); }

int RunDirectShowMovie(MovieRecord* movie) { return RunMovieGraph(movie); }

int ReleaseDirectShowMovie(MovieRecord* movie) {
  DeleteMovieGraph(movie);
  return 0;
}
