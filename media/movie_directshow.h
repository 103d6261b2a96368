// The filter-graph half of a movie: a graph that ends in the movie frame renderer, opened from
// the movie's path or from a temporary copy, refreshed, looped or ended, and torn down.
#pragma once

#include <cstdint>

#include "files/color_format.h"
#include "platform/dshow/dshow.h"

class MovieFrameRenderer;

// What a movie played through a filter graph keeps.
struct MovieGraphState {
  IGraphBuilder* graphBuilder;
  IMediaControl* mediaControl;
  IMediaSeeking* mediaSeeking;
  IBasicAudio* basicAudio;
  MovieFrameRenderer* renderer;  // borrowed: the graph holds it
  std::int64_t duration;         // 100 ns; 166666 when the graph reports 0
  std::int32_t temporaryCopy;    // 1 when the graph plays a temporary copy of the file
  WCHAR path[260];               // the path given to the graph
  std::int64_t stopPosition;
  std::int32_t frameDelivered;
  StandardImage frameImage;  // describes the renderer's latest frame during the callback
};

// Opens `path` in a new graph (from a byte-exact temporary copy when the graph cannot open the
// path itself). 0, or -1 with the reason in the log and nothing left behind.
int OpenMovieWithDirectShow(MovieGraphState* movie, const char* path, int* width, int* height,
                            int mode);
// Hands a new frame to `deliver` (the frame image describes it only during the call), then
// loops the movie at its stop position (when `loop`) or reports that it ended: 1 ended, else 0.
using MovieGraphFrameSink = void (*)(const StandardImage* frame, void* context);
int RefreshMovieGraph(MovieGraphState* movie, bool loop, MovieGraphFrameSink deliver,
                      void* context);
int PauseMovieGraph(MovieGraphState* movie);
int RunMovieGraph(MovieGraphState* movie);
// Releases the graph (which ends its threads and its renderer), then deletes the temporary copy
// and frees the frame buffer.
void DeleteMovieGraph(MovieGraphState* movie);
