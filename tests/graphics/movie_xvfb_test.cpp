// A movie graph in a real window (Xvfb on a display of its own): the engine runs in a child
// process with SDL's X11 driver, plays a movie to a frame and draws it every pass; this process
// takes screenshots of the window until the picture in it reads as that frame.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "graphics/graph_record.h"
#include "media/movie.h"
#include "media/theora_fixtures.h"
#include "platform/win32/kernel.h"
#include "temp_folder.h"
#include "tests/graphics/graphics_engine_fixture.h"
#include "xvfb_support.h"

namespace {

constexpr int kFrame = 7;
constexpr int kX = 100;
constexpr int kY = 80;

using MovieXvfbTest = GraphicsEngineTest;

// The engine's side, run in the child: the movie stands on frame 7 at (100, 80) of the client
// area, drawn and presented on every pass until the file named by MOVIE_XVFB_DONE appears (at
// most 60 seconds). Exit status 0 when it drew until then.
TEST_F(MovieXvfbTest, EngineSide) {
  const char* title = std::getenv("MOVIE_XVFB_TITLE");
  const char* done = std::getenv("MOVIE_XVFB_DONE");
  if (title == nullptr || done == nullptr) GTEST_SKIP() << "runs only as the engine side";
  SetWindowTitle(title);
  SetRunWhileInactive(1);
  ASSERT_EQ(InitializeEngine(), 0) << ReadLog();
  const std::string path =
      theora_fixtures::WriteTempFile(directory_, "xvfb.ogv", theora_fixtures::MakeTheoraMovie({}));
  const int graph = LoadGraphFile(path.c_str());
  ASSERT_NE(graph, -1) << ReadLog();
  const int movie = GetGraphRecord(graph)->movie;
  MovieRecord* record = GetMovieRecord(movie);
  ASSERT_NE(record, nullptr);
  record->stopped = 1;
  record->resumeMark = 1;
  ResumeSuspendedMovies();
  AdvancePlatformTime(kFrame * 40);
  ASSERT_EQ(RefreshMovieFrame(movie, 0), 0);
  ASSERT_EQ(SuspendMovie(movie, 0), 0);
  timespec start{}, now{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  bool finished = false;
  while (!finished && (clock_gettime(CLOCK_MONOTONIC, &now), now.tv_sec - start.tv_sec < 60)) {
    if (ProcessWindowMessages() != 0) break;
    ClearDrawTarget();
    DrawGraphAtPoint(kX, kY, graph, 0);
    PresentFrame();
    usleep(20000);
    finished = access(done, F_OK) == 0;
  }
  DeleteGraphHandle(graph);
  ShutdownEngine();
  std::filesystem::remove_all(directory_);
  ExitProcess(finished ? 0 : 3);
}

// The frame number read from a 640 x 480 RGB screenshot of the client area.
int ShownFrame(const std::vector<std::uint8_t>& shot) {
  std::vector<std::uint8_t> picture(64 * 48 * 4);
  for (int row = 0; row < 48; ++row)
    for (int column = 0; column < 64; ++column)
      picture[static_cast<std::size_t>(row * 64 + column) * 4 + 1] =
          shot[(static_cast<std::size_t>(kY + row) * 640 + kX + column) * 3 + 1];
  return theora_fixtures::ReadFrameNumber(picture.data(), 64 * 4, 64, 48);
}

TEST(MovieXvfb, AMovieGraphInARealWindowShowsItsFrame) {
  if (std::getenv("MOVIE_XVFB_TITLE") != nullptr) GTEST_SKIP() << "the engine side";
  if (!xvfb::IsOnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_TRUE(xvfb::IsOnPath("xdotool") && xvfb::IsOnPath("import"))
      << "xdotool and ImageMagick's import are needed beside Xvfb (scripts/setup installs them)";
  pid_t server = 0;
  const std::string displayName = xvfb::StartServer(&server);
  ASSERT_FALSE(displayName.empty());
  const std::string title = "movie xvfb " + std::to_string(getpid());
  const TempFolder scratch("movie-xvfb");
  const std::string done = scratch.string() + "/done";
  const std::string shotPath = scratch.string() + "/shot.rgb";

  const pid_t engine = fork();
  ASSERT_GE(engine, 0);
  if (engine == 0) {
    setenv("DISPLAY", displayName.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv("MOVIE_XVFB_TITLE", title.c_str(), 1);
    setenv("MOVIE_XVFB_DONE", done.c_str(), 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);  // the X11 and D-Bus libraries keep their own
    execl("/proc/self/exe", "graphics_tests", "--gtest_filter=MovieXvfbTest.EngineSide", nullptr);
    _exit(127);
  }

  const std::string env = "DISPLAY=" + displayName + " ";
  const std::string id = xvfb::FindWindow(displayName, title);
  EXPECT_FALSE(id.empty()) << "the window never appeared";
  int shown = -1;
  std::size_t shotSize = 0;
  // Up to 100 screenshots, the window's first frames may not be there yet.
  for (int attempt = 0; !id.empty() && attempt < 100 && shown != kFrame; ++attempt) {
    xvfb::RunCommand(env + "import -window " + id + " -depth 8 rgb:" + shotPath + " 2>/dev/null");
    std::ifstream file(shotPath, std::ios::binary);
    const std::vector<std::uint8_t> shot((std::istreambuf_iterator<char>(file)),
                                         std::istreambuf_iterator<char>());
    shotSize = shot.size();
    if (shot.size() == 640u * 480u * 3u) shown = ShownFrame(shot);
    if (shown != kFrame) usleep(100000);
  }
  EXPECT_EQ(shown, kFrame) << "last screenshot of " << shotSize << " bytes";

  std::ofstream(done).put('1');
  int status = -1;
  bool ended = false;
  for (int wait = 0; wait < 600 && !ended; ++wait) {
    ended = waitpid(engine, &status, WNOHANG) == engine;
    if (!ended) usleep(100000);
  }
  if (!ended) {
    kill(engine, SIGKILL);
    waitpid(engine, nullptr, 0);
  }
  EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "the engine side did not end by itself";
  xvfb::StopServer(server);
}

}  // namespace
