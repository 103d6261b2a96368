// The filter-graph half of a movie: a graph that ends in the movie frame renderer, opened from
// the movie's path or from a temporary copy, refreshed, looped or ended, and torn down.
#pragma once

#include <cstdint>

#include "media/movie.h"
#include "platform/dshow/dshow.h"

// OpenMovieWithDirectShow (media/movie.h) opens `path` in a new graph, from a byte-exact
// temporary copy when the graph cannot open the path itself; the calls below serve it and the
// rest of the DirectShow half there.

// Hands a new frame to `deliver` (the frame image describes it only during the call), then
// loops the movie at its stop position (when `loop`) or reports that it ended: 1 ended, else 0.
using MovieGraphFrameSink = void (*)(const StandardImage* frame, void* context);
int RefreshMovieGraph(MovieRecord* movie, bool loop, MovieGraphFrameSink deliver, void* context);
int PauseMovieGraph(MovieRecord* movie);
int RunMovieGraph(MovieRecord* movie);
// Releases the graph (which ends its threads and its renderer), then deletes the temporary copy
// and frees the frame buffer.
void DeleteMovieGraph(MovieRecord* movie);
