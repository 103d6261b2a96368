// The movie handle table: open (the Theora decoder first, then a graph), refresh and timing of
// Theora movies, suspend and resume, delete. The DirectShow half lives beside it.
#include <array>

#include "media/media.h"
#include "media/movie.h"
#include "media/sound_decoder.h"
#include "media/sound_system.h"
#include "media/theora_decoder.h"
#include "platform/ddraw/ddraw.h"
#include "system/engine_handle.h"
#include "system/log.h"
#include "system/system_info.h"
#include "system/tracked_memory.h"

namespace {

struct MovieTableState {
  std::array<MovieRecord*, kMovieHandleCount> slots;
  EngineHandleKind kind = MakeEngineHandleKind(kMovieHandle);
};

MovieTableState movies;

// Every decoder but Ogg Vorbis is skipped while a movie's sound track loads.
constexpr int kMovieSoundDecoderMask = -5;

std::int64_t MovieClockNow() { return static_cast<std::int64_t>(GetMicrosecondCount(0)); }

// Loads the Vorbis track of a Theora movie as a stream sound from the same file, with the three
// switches that steer the load put back in the reverse order of setting them.
int LoadMovieSoundTrack(const char* path) {
  const int loadType = GetSoundLoadType();
  SetSoundLoadType(kLoadStreamFromFile);
  SetMovieSoundSwitch(1);
  const int mask = GetSoundDecoderDisableMask();
  SetSoundDecoderDisableMask(kMovieSoundDecoderMask);
  const int sound = LoadSoundDataFile(path, 1, -1);
  SetSoundDecoderDisableMask(mask);
  SetMovieSoundSwitch(0);
  SetSoundLoadType(loadType);
  return sound;
}

int OpenTheoraMovie(MovieRecord* movie, const char* path, int* width, int* height) {
  movie->movieFile = fileFunctionTable.open(path, 0, 1, 0);
  // A file the table cannot open is left to the graph, which opens by path.
  if (movie->movieFile == 0) return -1;
  movie->theoraDecoder = OpenTheoraDecoder(&fileFunctionTable, movie->movieFile, kMovieFrameStock);
  if (movie->theoraDecoder == nullptr) {
    fileFunctionTable.close(movie->movieFile);
    movie->movieFile = 0;
    return -1;
  }
  movie->soundHandle = LoadMovieSoundTrack(path);
  TheoraMovieInfo info{};
  GetTheoraMovieInfo(movie->theoraDecoder, &info);
  movie->width = info.width;
  movie->height = info.height;
  if (width != nullptr) *width = info.width;
  if (height != nullptr) *height = info.height;
  movie->theora = 1;
  movie->currentFrameImage = GetTheoraFrameImage(movie->theoraDecoder);
  movie->overlayUsed = 0;
  return 0;
}

int FindMovieSlot(int handle) {
  MovieRecord* record = FindEngineHandleRecord(handle, movies.kind, movies.slots.data(),
                                               [](const MovieRecord& m) { return m.checkNumber; });
  return record == nullptr ? -1 : GetEngineHandleSlot(handle);
}

// 1 once the sound track of a playing movie has run out: its stream stopped and rewound itself,
// so its play time is 0 again, which would take the movie back to its first frame. A track
// stopped by a suspension stays started, and one never played belongs to a stopped movie.
int HasSoundTrackEnded(int sound) {
  EnterSoundLock();
  const SoundRecord* record = GetSoundRecord(sound);
  const int ended = record != nullptr && record->kind == kStreamSound && record->started == 0;
  LeaveSoundLock();
  return ended;
}

// The frame a playing Theora movie should show now.
int GetWantedTheoraFrame(const MovieRecord* movie, const TheoraMovieInfo& info, int trackEnded) {
  const std::int64_t count = info.frameCount;
  std::int64_t frame = 0;
  if (trackEnded) {
    frame = count - 1;
  } else if (movie->soundHandle != -1) {
    // The play time in milliseconds, widened before it is scaled so that long tracks do not
    // overflow into negative frames.
    const std::int64_t time = GetSoundDataPlayTime(movie->soundHandle);
    frame = static_cast<std::int64_t>(static_cast<double>(time * 1000) * info.framesPerSecond /
                                      1000000.0);
    if (frame >= count) frame = count - 1;
  } else {
    const std::int64_t elapsed = MovieClockNow() - movie->clockOrigin;
    frame =
        static_cast<std::int64_t>(static_cast<double>(elapsed) * info.framesPerSecond / 1000000.0);
    if (frame >= count) frame = (movie->playType & kMovieLoopBit) ? frame % count : count - 1;
  }
  return static_cast<int>(frame < 0 ? 0 : frame);
}

int RefreshTheoraMovie(MovieRecord* movie) {
  TheoraMovieInfo info{};
  GetTheoraMovieInfo(movie->theoraDecoder, &info);
  if (movie->stopped == 0 && info.frameCount > 0) {
    // A movie timed by a track that has run out ends on its last frame, as one timed by the
    // clock does.
    const int trackEnded = movie->soundHandle != -1 && HasSoundTrackEnded(movie->soundHandle);
    const int wanted = GetWantedTheoraFrame(movie, info, trackEnded);
    const int current = GetTheoraCurrentFrame(movie->theoraDecoder);
    if (wanted != current) {
      AdvanceTheoraFrame(movie->theoraDecoder,
                         wanted > current ? wanted - current : info.frameCount - current + wanted);
    } else if (wanted == info.frameCount - 1 && (movie->playType & kMovieLoopBit) == 0 &&
               (movie->soundHandle == -1 || trackEnded)) {
      movie->resumeMark = 0;
      movie->stopped = 1;
    }
  }
  if (movie->frameCallback != nullptr) {
    movie->frameCallback(movie, movie->callbackValue);
    movie->frameDelivered = 1;
  }
  return 0;
}

}  // namespace

int OpenMovie(const char* path, int* width, int* height, int mode) {
  int slot = -1;
  for (int i = 0; i < kMovieHandleCount; ++i) {
    if (movies.slots[i] == nullptr) {
      slot = i;
      break;
    }
  }
  if (slot == -1 || path == nullptr) return -1;
  auto* movie =
      static_cast<MovieRecord*>(TrackedAllocZeroed(sizeof(MovieRecord), __FILE__, __LINE__));
  if (movie == nullptr) {
    LogWriteText("メモリの確保に失敗しました in OpenMovie");
    return -1;
  }
  movie->soundHandle = -1;
  movie->graphFlag = 0;
  if (OpenTheoraMovie(movie, path, width, height) != 0) {
    movie->temporaryCopy = 0;
    movies.slots[slot] = movie;
    if (OpenMovieWithDirectShow(movie, path, width, height, mode) != 0) {
      TrackedFree(movie);
      movies.slots[slot] = nullptr;
      LogWriteText("ムービーファイルオープン処理時にエラーが発生しました");
      return -1;
    }
    movie->currentFrameImage = &movie->frameImage;
  }
  movie->stopped = 1;
  movie->resumeMark = 0;
  movie->playType = 1;
  movies.slots[slot] = movie;
  return IssueEngineHandle(movies.kind, slot, &movie->checkNumber);
}

MovieRecord* GetMovieRecord(int handle) {
  const int slot = FindMovieSlot(handle);
  return slot == -1 ? nullptr : movies.slots[slot];
}

int GetMovieCount() { return movies.kind.liveCount; }

int DeleteMovieHandle(int handle) {
  const int slot = FindMovieSlot(handle);
  if (slot == -1) return -1;
  MovieRecord* movie = movies.slots[slot];
  if (movie->theora) {
    CloseTheoraDecoder(movie->theoraDecoder);
    movie->theoraDecoder = nullptr;
    fileFunctionTable.close(movie->movieFile);
    movie->movieFile = 0;
    if (movie->soundHandle != -1) DeleteSoundData(movie->soundHandle);
    movie->soundHandle = -1;
  }
  if (movie->overlaySurface != nullptr) {
    if (movie->overlayUsed) HideMovieOverlay(movie);
    movie->overlaySurface->Release();
    movie->overlaySurface = nullptr;
  }
  if (!movie->theora) ReleaseDirectShowMovie(movie);
  TrackedFree(movie);
  movies.slots[slot] = nullptr;
  RetireEngineHandle(movies.kind);
  return 0;
}

int RefreshMovieFrame(int handle, int) {
  MovieRecord* movie = GetMovieRecord(handle);
  if (movie == nullptr) return -1;
  if (movie->theora) return RefreshTheoraMovie(movie);
  return RefreshDirectShowMovie(movie);
}

int SetMovieFrameCallback(int handle, MovieFrameCallback callback, int value) {
  MovieRecord* movie = GetMovieRecord(handle);
  if (movie == nullptr) return -1;
  movie->frameCallback = callback;
  movie->callbackValue = value;
  return 0;
}

int SuspendMovie(int handle, int keepMark) {
  MovieRecord* movie = GetMovieRecord(handle);
  if (movie == nullptr) return -1;
  if (movie->stopped == 1) return 0;
  if (movie->theora) {
    if (movie->soundHandle != -1) StopSoundData(movie->soundHandle);
    RefreshTheoraMovie(movie);
  } else {
    PauseDirectShowMovie(movie);
  }
  movie->stopped = 1;
  if (keepMark == 0) movie->resumeMark = 0;
  return 0;
}

int SuspendAllMovies() {
  for (int slot = 0; slot < kMovieHandleCount; ++slot) {
    const MovieRecord* movie = movies.slots[slot];
    if (movie == nullptr) continue;
    SuspendMovie(MakeEngineHandle(kMovieHandle, movie->checkNumber, slot), 1);
  }
  return 0;
}

int ResumeSuspendedMovies() {
  for (MovieRecord* movie : movies.slots) {
    if (movie == nullptr || movie->stopped != 1 || movie->resumeMark != 1) continue;
    const int playType = movie->playType == 0 ? 1 : movie->playType;
    if (movie->theora) {
      TheoraMovieInfo info{};
      GetTheoraMovieInfo(movie->theoraDecoder, &info);
      const int current = GetTheoraCurrentFrame(movie->theoraDecoder);
      movie->clockOrigin =
          MovieClockNow() - static_cast<std::int64_t>(1000000.0 / info.framesPerSecond * current);
      if (movie->soundHandle != -1) PlaySoundData(movie->soundHandle, playType, 0);
    } else {
      RunDirectShowMovie(movie);
    }
    movie->stopped = 0;
    movie->playType = playType;
    movie->resumeMark = 1;
  }
  return 0;
}

int UpdateAllMovieOverlays() {
  for (int slot = 0; slot < kMovieHandleCount; ++slot) {
    const MovieRecord* movie = movies.slots[slot];
    if (movie == nullptr || movie->theora || movie->overlayUsed == 0) continue;
    UpdateMovieOverlay(movie->overlayX, movie->overlayY, movie->overlayScale,
                       MakeEngineHandle(kMovieHandle, movie->checkNumber, slot),
                       movie->overlayShown);
  }
  return 0;
}

const StandardImage* GetMovieFrameImage(MovieRecord* movie) {
  if (movie == nullptr || movie->currentFrameImage == nullptr) return nullptr;
  if (movie->currentFrameImage->pixels == nullptr) return nullptr;
  return movie->currentFrameImage;
}

int ReleaseAllMovieDeviceSurfaces() {
  for (MovieRecord* movie : movies.slots)
    if (movie != nullptr && movie->theora) ReleaseTheoraYuvSurface(movie->theoraDecoder);
  return 0;
}

int RestoreAllMovieDeviceSurfaces() {
  for (MovieRecord* movie : movies.slots) {
    if (movie == nullptr || !movie->theora) continue;
    CreateTheoraYuvSurface(movie->theoraDecoder);
    movie->theoraDecoder->surfaceCurrent = 0;
    movie->frameDelivered = 0;
  }
  return 0;
}
