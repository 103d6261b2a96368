// A movie through the filter graph, drawn by the engine in a real window under Xvfb: the
// screenshot of the window shows the movie's colour where the engine drew it. The engine runs in
// a child process with SDL's X11 driver; this process takes the screenshots.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine.h"
#include "graphics/graph_record.h"
#include "host/window_system.h"
#include "media/movie.h"
#include "platform/win32/file_path.h"
#include "system/log.h"
#include "tests/media/avi_fixture.h"
#include "tests/xvfb_support.h"

namespace {

constexpr int kColour = 0x30C090;  // the movie's every pixel
constexpr int kLeft = 200, kTop = 150;

// The engine's side: opens an uncompressed AVI as a graph, plays it and draws it every frame
// until it is ended.
TEST(MovieWindowXvfbTest, EngineSide) {
  const char* title = std::getenv("ENGINE_MOVIE_WINDOW_TITLE");
  const char* folder = std::getenv("ENGINE_MOVIE_WINDOW_FOLDER");
  if (!title || !folder) GTEST_SKIP() << "runs only as the engine side of the movie window test";
  avi_fixture::Options options;
  options.width = 64;
  options.height = 48;
  options.frames = 4;
  options.rate = 2;
  options.solid = kColour;
  const std::string posixPath = std::string(folder) + "/movie.avi";
  std::ofstream(posixPath, std::ios::binary) << avi_fixture::MakeAvi(options);
  std::string path;
  ASSERT_TRUE(MapPosixToEnginePath(posixPath, path));
  SetWindowTitle(title);
  SetLogOutput(0);
  SetRunWhileInactive(1);
  ChangeWindowMode(1);
  SetEngineSubsystemSwitches(0, 0, 1, 0);
  ASSERT_EQ(InitializeEngine(), 0);
  const int graph = LoadGraphFile(path.c_str());
  ASSERT_NE(graph, -1);
  // Nothing in this program starts a movie: it is marked as suspended while playing.
  MovieRecord* movie = GetMovieRecord(GetGraphRecord(graph)->movie);
  ASSERT_NE(movie, nullptr);
  movie->stopped = 1;
  movie->resumeMark = 1;
  ResumeSuspendedMovies();
  timespec start{}, now{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (clock_gettime(CLOCK_MONOTONIC, &now), now.tv_sec - start.tv_sec < 30) {
    if (ProcessWindowMessages() != 0) break;
    ClearDrawTarget();
    DrawGraphAtPoint(kLeft, kTop, graph, 0);
    PresentFrame();
    Sleep(20);
  }
  DeleteGraphHandle(graph);
  ShutdownEngine();
  ExitProcess(0);
}

TEST(MovieWindowXvfbTest, TheMovieShowsInARealWindow) {
  if (!xvfb::IsOnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_TRUE(xvfb::IsOnPath("import")) << "ImageMagick's import is needed (scripts/setup)";
  ASSERT_TRUE(xvfb::IsOnPath("xdotool")) << "xdotool is needed (scripts/setup)";
  char pattern[] = "/tmp/movie_windowXXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  pid_t server = 0;
  const std::string display = xvfb::StartServer(&server);
  ASSERT_FALSE(display.empty());
  const std::string title = "mub movie window " + std::to_string(getpid());
  const pid_t engine = fork();
  ASSERT_GE(engine, 0);
  if (engine == 0) {
    setenv("DISPLAY", display.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv("ENGINE_MOVIE_WINDOW_TITLE", title.c_str(), 1);
    setenv("ENGINE_MOVIE_WINDOW_FOLDER", pattern, 1);
    execl("/proc/self/exe", "graphics_tests", "--gtest_filter=MovieWindowXvfbTest.EngineSide",
          nullptr);
    _exit(127);
  }
  const std::string id = xvfb::FindWindow(display, title);
  // The screenshot of the movie's place as plain PPM text, retried until the movie shows (at
  // most 60 tries a quarter of a second apart).
  int matching = 0;
  for (int attempt = 0; attempt < 60 && !id.empty() && matching < 64 * 48; ++attempt) {
    usleep(250000);
    const std::string ppm = xvfb::RunCommand(
        "DISPLAY=" + display + " import -window " + id + " -crop 64x48+" + std::to_string(kLeft) +
        "+" + std::to_string(kTop) + " -depth 8 -compress none ppm:- 2>/dev/null");
    int width = 0, height = 0, maximum = 0, consumed = 0;
    if (std::sscanf(ppm.c_str(), "P3 %d %d %d%n", &width, &height, &maximum, &consumed) != 3)
      continue;
    const char* p = ppm.c_str() + consumed;
    matching = 0;
    for (int i = 0; i < width * height; ++i) {
      int r = 0, g = 0, b = 0, n = 0;
      if (std::sscanf(p, "%d %d %d%n", &r, &g, &b, &n) != 3) break;
      p += n;
      matching += r == (kColour >> 16) && g == ((kColour >> 8) & 0xFF) && b == (kColour & 0xFF);
    }
  }
  kill(engine, SIGTERM);
  int status = 0;
  waitpid(engine, &status, 0);
  xvfb::StopServer(server);
  std::filesystem::remove_all(pattern);
  ASSERT_FALSE(id.empty()) << "the window never appeared";
  EXPECT_EQ(matching, 64 * 48) << "every pixel of the movie's place shows its colour";
}

}  // namespace
