// A movie shown as an overlay: where its picture lands on the screen for a table of places, scales,
// clip boxes and hardware alignments, read back from the overlay surface's calls; when the overlay
// is left alone; the pump's pass over the graph's movies; and the hide at delete.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/movie.h"
#include "media/theora_fixtures.h"
#include "platform/ddraw/ddraw.h"
#include "platform/win32/gdi.h"
#include "platform/win32/user.h"
#include "system/host_call_table.h"
#include "system/log_fixture.h"
#include "system/tracked_memory.h"

namespace {

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

// What the host would report: the window and where its client area lies on the screen.
HWND testWindow = nullptr;
RECT clientOnScreen{};
DDCAPS testCaps{};

HWND TestWindow() { return testWindow; }
int TestClientScreenRect(RECT* rect) {
  *rect = clientOnScreen;
  return 0;
}
void TestCaps(DDCAPS* caps) { *caps = testCaps; }

bool Same(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Text(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

class MovieOverlayTest : public LogFixture {
 protected:
  void SetUp() override {
    LogFixture::SetUp();
    BuildYuvToRgbTables();
    blocksBefore = GetTrackedBlockCount();
    savedHost = hostCallTable;
    WNDCLASSEXA c{};
    c.cbSize = sizeof c;
    c.lpfnWndProc = PlainProc;
    c.lpszClassName = "MovieOverlayTestClass";
    RegisterClassExA(&c);
    testWindow = CreateWindowExA(0, "MovieOverlayTestClass", "overlay", WS_POPUP | WS_VISIBLE, 100,
                                 50, 160, 120, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(testWindow, nullptr);
    clientOnScreen = {100, 50, 260, 170};
    testCaps = {};
    hostCallTable.getWindowHandle = TestWindow;
    hostCallTable.getClientScreenRect = TestClientScreenRect;
    SetMovieOverlaySource({nullptr, TestCaps});

    const std::string path = theora_fixtures::WriteTempFile(directory_, "overlay.ogv",
                                                            theora_fixtures::MakeTheoraMovie({}));
    movie = OpenMovie(path.c_str(), nullptr, nullptr, 0);
    ASSERT_NE(movie, -1);
    record = GetMovieRecord(movie);
    surface = CreateDirectDrawOverlaySurface();
    // The movie holds a reference of its own, as it would to a surface it made.
    surface->AddRef();
    record->overlaySurface = surface;
    record->overlayUsed = 1;
    record->frameDelivered = 1;
  }
  void TearDown() override {
    if (movie != -1) {
      EXPECT_EQ(DeleteMovieHandle(movie), 0);
    }
    if (surface != nullptr) {
      EXPECT_EQ(surface->Release(), 0u);
    }
    SetMovieOverlaySource({nullptr, nullptr});
    hostCallTable = savedHost;
    if (testWindow != nullptr) DestroyWindow(testWindow);
    testWindow = nullptr;
    UnregisterClassA("MovieOverlayTestClass", nullptr);
    EXPECT_EQ(GetTrackedBlockCount(), blocksBefore) << "leaked blocks";
    LogFixture::TearDown();
  }
  std::size_t CallCount() const { return GetDirectDrawOverlayCalls(surface).size(); }
  DirectDrawOverlayCall LastCall() const { return GetDirectDrawOverlayCalls(surface).back(); }

  HostCallTable savedHost{};
  int blocksBefore = 0;
  int movie = -1;
  MovieRecord* record = nullptr;
  IDirectDrawSurface7* surface = nullptr;
};

struct Alignments {
  DWORD flags, boundarySource, sizeSource, boundaryDestination, sizeDestination;
};

constexpr DWORD kAllAlignments =
    DDCAPS_ALIGNBOUNDARYSRC | DDCAPS_ALIGNSIZESRC | DDCAPS_ALIGNBOUNDARYDEST | DDCAPS_ALIGNSIZEDEST;

// The movie is 64 x 48; the client area is 160 x 120 at (100, 50) on the screen.
TEST_F(MovieOverlayTest, PlacesClipsAndAlignsThePicture) {
  const struct {
    const char* name;
    int x, y, scale, visible;
    int clientWidth, clientHeight;
    Alignments alignments;
    bool shown;
    RECT source, destination;
  } cases[] = {
      {"inside", 10, 20, 1, 1, 160, 120, {}, true, {0, 0, 64, 48}, {110, 70, 174, 118}},
      {"doubled, cut at the top left",
       -8,
       -4,
       2,
       1,
       160,
       120,
       {},
       true,
       {4, 2, 64, 48},
       {100, 50, 220, 142}},
      {"cut at the bottom right",
       150,
       100,
       1,
       1,
       160,
       120,
       {},
       true,
       {0, 0, 10, 20},
       {250, 150, 260, 170}},
      {"tripled, cuts rounded down",
       -5,
       0,
       3,
       1,
       160,
       120,
       {},
       true,
       {1, 0, 55, 40},
       {100, 50, 260, 170}},
      {"aligned",
       -8,
       -4,
       2,
       1,
       160,
       120,
       {kAllAlignments, 8, 16, 8, 16},
       true,
       {8, 2, 56, 48},
       {104, 50, 216, 142}},
      {"alignments without their flags",
       -8,
       -4,
       2,
       1,
       160,
       120,
       {0, 8, 16, 8, 16},
       true,
       {4, 2, 64, 48},
       {100, 50, 220, 142}},
      {"flags without alignments",
       -8,
       -4,
       2,
       1,
       160,
       120,
       {kAllAlignments, 0, 0, 0, 0},
       true,
       {4, 2, 64, 48},
       {100, 50, 220, 142}},
      {"aligned to no width",
       150,
       100,
       1,
       1,
       160,
       120,
       {DDCAPS_ALIGNSIZESRC, 0, 16, 0, 0},
       false,
       {},
       {}},
      {"outside the window", 200, 0, 1, 1, 160, 120, {}, false, {}, {}},
      {"not visible", 10, 20, 1, 0, 160, 120, {}, false, {}, {}},
      {"scale 0", 10, 20, 0, 1, 160, 120, {}, false, {}, {}},
      {"negative scale", 10, 20, -1, 1, 160, 120, {}, false, {}, {}},
      {"a window that paints nothing", 10, 20, 1, 1, 0, 0, {}, false, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Hidden first, so that every case makes its own call.
    ASSERT_EQ(UpdateMovieOverlay(0, 0, 1, movie, 0), 0);
    ASSERT_TRUE(MoveWindow(testWindow, 100, 50, c.clientWidth, c.clientHeight, FALSE));
    clientOnScreen = {100, 50, 100 + c.clientWidth, 50 + c.clientHeight};
    testCaps = {};
    testCaps.dwCaps = c.alignments.flags;
    testCaps.dwAlignBoundarySrc = c.alignments.boundarySource;
    testCaps.dwAlignSizeSrc = c.alignments.sizeSource;
    testCaps.dwAlignBoundaryDest = c.alignments.boundaryDestination;
    testCaps.dwAlignSizeDest = c.alignments.sizeDestination;

    const std::size_t before = CallCount();
    EXPECT_EQ(UpdateMovieOverlay(c.x, c.y, c.scale, movie, c.visible), 0);
    ASSERT_EQ(CallCount(), before + 1);
    const DirectDrawOverlayCall call = LastCall();
    EXPECT_EQ(call.result, DD_OK);
    EXPECT_EQ(call.destinationSurface, nullptr) << "over the primary surface";
    EXPECT_EQ(IsDirectDrawOverlayShown(surface), c.shown ? 1 : 0);
    if (c.shown) {
      EXPECT_EQ(call.flags, DDOVER_SHOW);
      EXPECT_TRUE(Same(call.source, c.source)) << Text(call.source);
      EXPECT_TRUE(Same(call.destination, c.destination)) << Text(call.destination);
    } else {
      EXPECT_EQ(call.flags, DDOVER_HIDE);
    }
    EXPECT_TRUE(Same(record->overlaySource, c.source)) << Text(record->overlaySource);
    EXPECT_TRUE(Same(record->overlayDestination, c.destination))
        << Text(record->overlayDestination);
  }
}

TEST_F(MovieOverlayTest, LeftAloneUntilUsedAndShownAndMovedOnlyWhenSomethingChanged) {
  EXPECT_EQ(UpdateMovieOverlay(10, 20, 1, movie ^ (1 << 16), 1), -1);
  record->overlayUsed = 0;
  EXPECT_EQ(UpdateMovieOverlay(10, 20, 1, movie, 1), 0);
  record->overlayUsed = 1;
  record->frameDelivered = 0;
  EXPECT_EQ(UpdateMovieOverlay(10, 20, 1, movie, 1), 0);
  EXPECT_EQ(CallCount(), 0u) << "no frame to show yet";
  record->frameDelivered = 1;

  EXPECT_EQ(UpdateMovieOverlay(10, 20, 1, movie, 1), 0);
  EXPECT_EQ(UpdateMovieOverlay(10, 20, 1, movie, 1), 0);
  ASSERT_EQ(CallCount(), 1u) << "the same place again makes no call";

  // The pump moves overlays of the movies the graph plays, at their last values; the window
  // moved on the screen, so the picture follows it.
  clientOnScreen = {300, 200, 460, 320};
  UpdateAllMovieOverlays();
  EXPECT_EQ(CallCount(), 1u) << "a Theora movie is not the graph's";
  record->theora = 0;
  UpdateAllMovieOverlays();
  record->theora = 1;
  ASSERT_EQ(CallCount(), 2u);
  EXPECT_EQ(LastCall().flags, DDOVER_SHOW);
  EXPECT_TRUE(Same(LastCall().destination, RECT{310, 220, 374, 268}))
      << Text(LastCall().destination);

  // Deleting the movie hides its overlay and lets the surface go.
  EXPECT_EQ(DeleteMovieHandle(movie), 0);
  movie = -1;
  ASSERT_EQ(CallCount(), 3u);
  EXPECT_EQ(LastCall().flags, DDOVER_HIDE);
  EXPECT_EQ(IsDirectDrawOverlayShown(surface), 0);
}

}  // namespace
