// Movies as the start-up, the window procedure and the message pump call them.
#pragma once

int BuildYuvToRgbTables();
int SuspendAllMovies();
int ResumeSuspendedMovies();
int UpdateAllMovieOverlays();
