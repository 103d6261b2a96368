// Movie overlays are not built: a movie draws only through its graph.
#include "media/movie.h"

int UpdateMovieOverlay(int, int, int, int, int) { return 0; }
int UpdateAllMovieOverlays() { return 0; }
