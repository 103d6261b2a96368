// Movies as the start-up, the window procedure and the message pump call them.
#pragma once

int BuildYuvToRgbTables();
int SuspendAllMovies();
int ResumeSuspendedMovies();
int UpdateAllMovieOverlays();

struct MovieRecord;
struct StandardImage;
// Called with the movie and the value given at registration while the movie's current frame is
// the one to show; its result is ignored.
using MovieFrameCallback = int (*)(MovieRecord* movie, int value);

// Graphics opens a movie when an image file does not decode, and shows its frames in a graph.
int OpenMovie(const char* path, int* width, int* height, int mode);
int DeleteMovieHandle(int movie);
int RefreshMovieFrame(int movie, int unused);
int SetMovieFrameCallback(int movie, MovieFrameCallback callback, int value);
// The frame the movie shows now, null when it has none.
const StandardImage* GetMovieFrameImage(MovieRecord* movie);
