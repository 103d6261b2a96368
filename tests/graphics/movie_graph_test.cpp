// A movie file loaded as a graph: the graph shows the movie's frame, in Direct3D and software
// mode, and keeps showing it through a lost device.
#include "graphics/graph_record.h"
#include "media/movie.h"
#include "media/theora_decoder.h"
#include "media/theora_fixtures.h"
#include "tests/graphics/graph_test_support.h"

namespace {

constexpr uint32_t kBackground = 0x402010;

using MovieGraphTest = GraphTest;

// The frame number in the 64 x 48 movie drawn at (x, y) of a presented frame.
int ShownFrame(const std::vector<uint32_t>& screen, int x, int y) {
  std::vector<std::uint8_t> picture(64 * 48 * 4);
  for (int row = 0; row < 48; ++row)
    for (int column = 0; column < 64; ++column) {
      const uint32_t pixel = screen[static_cast<std::size_t>(y + row) * 640 + x + column];
      picture[(row * 64 + column) * 4 + 1] = static_cast<std::uint8_t>(pixel >> 8);
    }
  return theora_fixtures::ReadFrameNumber(picture.data(), 64 * 4, 64, 48);
}

// Plays the graph's movie, as an activation does for a suspended one.
void PlayMovie(int graph) {
  MovieRecord* movie = GetMovieRecord(GetGraphRecord(graph)->movie);
  ASSERT_NE(movie, nullptr);
  movie->stopped = 1;
  movie->resumeMark = 1;
  ResumeSuspendedMovies();
}

TEST_F(MovieGraphTest, AMovieGraphShowsTheMoviesFrame) {
  for (const bool software : {false, true}) {
    SCOPED_TRACE(software);
    Start(32, kBackground, software);
    const std::string path = theora_fixtures::WriteTempFile(directory_, "movie.ogv",
                                                            theora_fixtures::MakeTheoraMovie({}));
    const int graph = LoadGraphFile(path.c_str());
    ASSERT_NE(graph, -1) << ReadLog();
    EXPECT_EQ(GetGraphRecord(graph)->width, 64);
    EXPECT_EQ(GetGraphRecord(graph)->height, 48);
    // A movie opens stopped on its first frame; frame 0 is all black blocks.
    ASSERT_EQ(ClearDrawTarget(), 0);
    ASSERT_EQ(DrawGraphAtPoint(10, 20, graph, 0), 0);
    std::vector<uint32_t> screen = PresentAndRead(software);
    ASSERT_EQ(screen.size(), 640u * 480u);
    EXPECT_EQ(screen[(20 + 8) * 640 + 10 + 8], 0x000000u);
    EXPECT_EQ(ShownFrame(screen, 10, 20), 0);

    PlayMovie(graph);
    AdvancePlatformTime(7 * 40);
    ASSERT_EQ(ClearDrawTarget(), 0);
    ASSERT_EQ(DrawGraphAtPoint(10, 20, graph, 0), 0);
    EXPECT_EQ(ShownFrame(PresentAndRead(software), 10, 20), 7);
    EXPECT_EQ(DeleteGraphHandle(graph), 0);
    EXPECT_EQ(GetMovieCount(), 0);
    ShutdownEngine();
  }
}

// The graph comes back from a lost device empty; the movie fills it again with the frame it
// stands on, and plays on from there.
TEST_F(MovieGraphTest, ALostDeviceKeepsTheMovieOnItsFrame) {
  Start(32, kBackground);
  const std::string path =
      theora_fixtures::WriteTempFile(directory_, "lost.ogv", theora_fixtures::MakeTheoraMovie({}));
  const int graph = LoadGraphFile(path.c_str());
  ASSERT_NE(graph, -1) << ReadLog();
  PlayMovie(graph);
  AdvancePlatformTime(11 * 40);
  const int movie = GetGraphRecord(graph)->movie;
  ASSERT_EQ(SuspendMovie(movie, 0), 0);
  ASSERT_EQ(ClearDrawTarget(), 0);
  ASSERT_EQ(DrawGraphAtPoint(0, 0, graph, 0), 0);
  ASSERT_EQ(ShownFrame(PresentAndRead(), 0, 0), 11);

  D3D9InjectDeviceLoss();
  ASSERT_TRUE(PostMessageA(GetEngineWindowHandle(), WM_ACTIVATE, WA_ACTIVE, 0));
  ProcessWindowMessages();
  ASSERT_EQ(D3D9GetDeviceCreationCount(), 2);
  ASSERT_EQ(ClearDrawTarget(), 0);
  ASSERT_EQ(DrawGraphAtPoint(0, 0, graph, 0), 0);
  EXPECT_EQ(ShownFrame(PresentAndRead(), 0, 0), 11);

  PlayMovie(graph);
  AdvancePlatformTime(2 * 40);
  ASSERT_EQ(ClearDrawTarget(), 0);
  ASSERT_EQ(DrawGraphAtPoint(0, 0, graph, 0), 0);
  EXPECT_EQ(ShownFrame(PresentAndRead(), 0, 0), 13);
  EXPECT_EQ(DeleteGraphHandle(graph), 0);
}

}  // namespace
