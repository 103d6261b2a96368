// Movie handles (engine handles of type 3): one record per open movie file, decoded either by the
// engine's own Theora decoder or by a DirectShow filter graph that ends in the movie frame
// renderer. Either way one consumer receives the frames through a frame callback. The start-up,
// the window procedure and the message pump reach movies through the calls at the bottom.
#pragma once

#include <cstdint>

#include "files/color_format.h"
#include "files/file_table.h"
#include "platform/win32/win32_types.h"

struct TheoraDecoderRecord;
struct IDirectDrawSurface7;
struct DDCAPS;
struct IGraphBuilder;
struct IMediaControl;
struct IMediaSeeking;
struct IBasicAudio;
class MovieFrameRenderer;
struct MovieRecord;

constexpr int kMovieHandleCount = 100;
constexpr int kMoviePathUnits = 260;
// The duration a graph that reports none is given, in 100 ns units.
constexpr std::int64_t kMovieDefaultDuration = 166666;
// The play type bit that makes a movie loop.
constexpr int kMovieLoopBit = 2;

// Called with the movie and the value given at registration while the movie's current frame is
// the one to show (currentFrameImage); its result is ignored.
using MovieFrameCallback = int (*)(MovieRecord* movie, int value);

struct MovieRecord {
  std::int32_t checkNumber;
  std::int32_t playType;  // a SoundPlayType; bit 1 (kMovieLoopBit) loops
  std::int32_t theora;    // 1: theoraDecoder decodes it; 0: the DirectShow graph does
  TheoraDecoderRecord* theoraDecoder;
  std::int64_t clockOrigin;  // microsecond count of frame 0 while timed by the clock
  FileHandle movieFile;      // Theora only
  std::int32_t soundHandle;  // the Theora sound track, -1 when none
  IDirectDrawSurface7* overlaySurface;
  IGraphBuilder* graphBuilder;
  IMediaControl* mediaControl;
  IMediaSeeking* mediaSeeking;
  IBasicAudio* basicAudio;
  MovieFrameRenderer* renderer;  // borrowed: the graph holds it
  std::int64_t duration;         // 100 ns units
  std::int32_t temporaryCopy;    // 1 when the graph plays a temporary copy of the file
  WCHAR path[kMoviePathUnits];   // the path given to the graph
  std::int64_t stopPosition;     // 100 ns units
  std::int32_t width;
  std::int32_t height;
  std::int32_t graphFlag;
  std::int32_t resumeMark;  // 1 while the movie counts as playing, kept through a suspension
  std::int32_t stopped;     // 1 while the movie does not advance
  std::int32_t frameDelivered;
  std::int32_t overlayUsed;
  StandardImage frameImage;  // the DirectShow renderer's latest frame, 24-bit RGB top-down
  StandardImage* currentFrameImage;
  std::int32_t overlayX;
  std::int32_t overlayY;
  std::int32_t overlayScale;
  std::int32_t overlayShown;
  RECT overlaySource;
  RECT overlayDestination;
  MovieFrameCallback frameCallback;
  std::int32_t callbackValue;
};

// The handle table and its calls; every one is for the main thread.
int OpenMovie(const char* path, int* width, int* height, int mode);
int DeleteMovieHandle(int movie);
MovieRecord* GetMovieRecord(int movie);
int RefreshMovieFrame(int movie, int unused);
int SetMovieFrameCallback(int movie, MovieFrameCallback callback, int value);
int SuspendMovie(int movie, int keepMark);
int SuspendAllMovies();
int ResumeSuspendedMovies();
// Places the movie's overlay at (x, y) of the client area, magnified by `scale`, or hides it.
int UpdateMovieOverlay(int x, int y, int scale, int movie, int visible);
// Moves every overlay the graph plays with the window, at the values it was last given.
int UpdateAllMovieOverlays();
// Graphics names the surface overlays are shown over (null: the primary surface) and the
// DirectDraw capabilities whose alignments they keep; until then both are empty.
struct MovieOverlaySource {
  IDirectDrawSurface7* (*primarySurface)();
  void (*directDrawCaps)(DDCAPS* caps);
};
int SetMovieOverlaySource(const MovieOverlaySource& source);
// Hides the overlay and forgets the rectangles it was shown at.
int HideMovieOverlay(MovieRecord* movie);
// The number of open movies.
int GetMovieCount();
// Around a rebuild of the graphics device: before it, what the movies hold on the device is
// released; after it, made again, and each Theora movie hands its frame to its consumer once
// more, since the graph it fills came back empty.
int ReleaseAllMovieDeviceSurfaces();
int RestoreAllMovieDeviceSurfaces();

// The frame the movie shows now, null when it has none.
const StandardImage* GetMovieFrameImage(MovieRecord* movie);

// The DirectShow half, called by the handle table for movies whose Theora flag is 0.
// Opens the file as a graph into the record: 0, or -1 with everything it made released.
int OpenMovieWithDirectShow(MovieRecord* movie, const char* path, int* width, int* height,
                            int mode);
// A new frame to the callback, then end or loop at the stop position.
int RefreshDirectShowMovie(MovieRecord* movie);
int PauseDirectShowMovie(MovieRecord* movie);
int RunDirectShowMovie(MovieRecord* movie);
// Releases the graph, its frame buffer, the overlay and the temporary copy.
int ReleaseDirectShowMovie(MovieRecord* movie);

// Built once at start-up; shared by every Theora decoder.
int BuildYuvToRgbTables();
