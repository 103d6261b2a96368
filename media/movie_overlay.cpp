// A movie shown as a DirectDraw overlay: its picture placed in the client area, clipped to what
// the window may paint and to the client area, with the source cut to match and both rectangles
// kept to the alignments the hardware asks for.
#include <cstring>

#include "media/movie.h"
#include "platform/ddraw/ddraw.h"
#include "platform/win32/gdi.h"
#include "system/host_call_table.h"

namespace {

IDirectDrawSurface7* NoPrimarySurface() { return nullptr; }
void NoCaps(DDCAPS* caps) { std::memset(caps, 0, sizeof *caps); }

MovieOverlaySource overlaySource{NoPrimarySurface, NoCaps};

// Keeps the left edge inside the clipped area: moved right to the next boundary.
void AlignBoundary(RECT& rect, DWORD alignment) {
  const LONG a = static_cast<LONG>(alignment);
  rect.left = (rect.left >= 0 ? rect.left + a - 1 : rect.left) / a * a;
}

// Keeps the width inside the clipped area: cut down to a whole number of units.
void AlignSize(RECT& rect, DWORD alignment) {
  const LONG a = static_cast<LONG>(alignment);
  const LONG width = rect.right - rect.left;
  rect.right = rect.left + (width > 0 ? width / a * a : width);
}

bool IntersectInto(RECT& rect, const RECT& box) {
  rect.left = rect.left > box.left ? rect.left : box.left;
  rect.top = rect.top > box.top ? rect.top : box.top;
  rect.right = rect.right < box.right ? rect.right : box.right;
  rect.bottom = rect.bottom < box.bottom ? rect.bottom : box.bottom;
  return rect.right > rect.left && rect.bottom > rect.top;
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// The part of the window's client area the window may paint now; false when it may paint none
// of it or no single box says what it may paint.
bool GetWindowClipBox(RECT* box) {
  HWND window = hostCallTable.getWindowHandle();
  HDC dc = GetDC(window);
  if (dc == nullptr) return false;
  const int region = GetClipBox(dc, box);
  ReleaseDC(window, dc);
  return region == SIMPLEREGION;
}

}  // namespace

int SetMovieOverlaySource(const MovieOverlaySource& source) {
  overlaySource.primarySurface =
      source.primarySurface != nullptr ? source.primarySurface : NoPrimarySurface;
  overlaySource.directDrawCaps = source.directDrawCaps != nullptr ? source.directDrawCaps : NoCaps;
  return 0;
}

int HideMovieOverlay(MovieRecord* movie) {
  if (movie->overlaySurface != nullptr)
    movie->overlaySurface->UpdateOverlay(nullptr, overlaySource.primarySurface(), nullptr,
                                         DDOVER_HIDE, nullptr);
  movie->overlaySource = {};
  movie->overlayDestination = {};
  return 0;
}

int UpdateMovieOverlay(int x, int y, int scale, int handle, int visible) {
  MovieRecord* movie = GetMovieRecord(handle);
  if (movie == nullptr) return -1;
  if (movie->overlayUsed == 0 || movie->frameDelivered == 0) return 0;

  RECT source{0, 0, movie->width, movie->height};
  const RECT placed{x, y, x + movie->width * scale, y + movie->height * scale};
  RECT destination = placed;
  // A scale below 1 leaves no width, and would divide the clipped amounts by nothing.
  bool shown = visible != 0 && scale > 0 && placed.right > placed.left;
  RECT box{};
  if (shown) shown = GetWindowClipBox(&box) && IntersectInto(destination, box);
  RECT client{};
  hostCallTable.getClientScreenRect(&client);
  if (shown) {
    destination.left += client.left;
    destination.right += client.left;
    destination.top += client.top;
    destination.bottom += client.top;
    shown = IntersectInto(destination, client);
  }
  if (shown) {
    source.left += (destination.left - client.left - placed.left) / scale;
    source.top += (destination.top - client.top - placed.top) / scale;
    source.right -= (placed.right - (destination.right - client.left)) / scale;
    source.bottom -= (placed.bottom - (destination.bottom - client.top)) / scale;
    DDCAPS caps;
    overlaySource.directDrawCaps(&caps);
    if ((caps.dwCaps & DDCAPS_ALIGNBOUNDARYSRC) && caps.dwAlignBoundarySrc != 0)
      AlignBoundary(source, caps.dwAlignBoundarySrc);
    if ((caps.dwCaps & DDCAPS_ALIGNSIZESRC) && caps.dwAlignSizeSrc != 0)
      AlignSize(source, caps.dwAlignSizeSrc);
    if ((caps.dwCaps & DDCAPS_ALIGNBOUNDARYDEST) && caps.dwAlignBoundaryDest != 0)
      AlignBoundary(destination, caps.dwAlignBoundaryDest);
    if ((caps.dwCaps & DDCAPS_ALIGNSIZEDEST) && caps.dwAlignSizeDest != 0)
      AlignSize(destination, caps.dwAlignSizeDest);
    shown = source.right > source.left && destination.right > destination.left;
  }

  IDirectDrawSurface7* surface = movie->overlaySurface;
  if (!shown) {
    HideMovieOverlay(movie);
  } else {
    if (surface != nullptr &&
        (x != movie->overlayX || y != movie->overlayY || scale != movie->overlayScale ||
         visible != movie->overlayShown || !SameRect(source, movie->overlaySource) ||
         !SameRect(destination, movie->overlayDestination)))
      surface->UpdateOverlay(&source, overlaySource.primarySurface(), &destination, DDOVER_SHOW,
                             nullptr);
    movie->overlaySource = source;
    movie->overlayDestination = destination;
  }
  movie->overlayX = x;
  movie->overlayY = y;
  movie->overlayScale = scale;
  movie->overlayShown = visible;
  return 0;
}
