// Real typing: the engine runs in a child process on an X server of its own (Xvfb) with SDL's X11
// driver, xdotool types ASCII text into its window, and the engine's character buffer must hold
// it, byte for byte.
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "engine_fixture.h"
#include "host/text_input.h"
#include "xvfb_support.h"

namespace {

using TextInputXvfbTest = EngineFixture;

constexpr char kTyped[] = "Hello mub 42";

// The engine's side: exit status 0 once the buffer has held the typed text within 30 seconds.
TEST_F(TextInputXvfbTest, EngineSide) {
  const char* title = std::getenv("ENGINE_TYPING_TITLE");
  if (!title) GTEST_SKIP() << "runs only as the engine side of the real typing test";
  SetWindowTitle(title);
  SetRunWhileInactive(1);
  ASSERT_EQ(InitializeEngine(), 0);
  timespec start{}, now{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  std::string typed;
  while (typed.find(kTyped) == std::string::npos &&
         (clock_gettime(CLOCK_MONOTONIC, &now), now.tv_sec - start.tv_sec < 30)) {
    if (ProcessWindowMessages() != 0) break;
    char c[2];
    while (int n = TakeTypedCharacter(c, 1)) typed.append(c, static_cast<std::size_t>(n));
    Sleep(5);
  }
  ShutdownEngine();
  ExitProcess(typed.find(kTyped) != std::string::npos ? 0 : 3);
}

TEST_F(TextInputXvfbTest, TypedTextReachesTheCharacterBuffer) {
  if (!xvfb::IsOnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_TRUE(xvfb::IsOnPath("xdotool"))
      << "xdotool is needed beside Xvfb (scripts/setup installs both)";
  pid_t server = 0;
  const std::string displayName = xvfb::StartServer(&server);
  ASSERT_FALSE(displayName.empty());
  const std::string title = "mub typing " + std::to_string(getpid());

  const pid_t engine = fork();
  ASSERT_GE(engine, 0);
  if (engine == 0) {
    setenv("DISPLAY", displayName.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv("ENGINE_TYPING_TITLE", title.c_str(), 1);
    execl("/proc/self/exe", "host_tests", "--gtest_filter=TextInputXvfbTest.EngineSide", nullptr);
    _exit(127);
  }

  const std::string env = "DISPLAY=" + displayName + " ";
  const std::string id = xvfb::FindWindow(displayName, title);
  ASSERT_FALSE(id.empty()) << "the window never appeared";

  // Types until the engine has seen the whole text once (the first attempt may come before the
  // focus); each attempt waits up to half a second for the engine to finish.
  int status = -1;
  bool ended = false;
  for (int attempt = 0; attempt < 40 && !ended; ++attempt) {
    xvfb::RunCommand(env + "xdotool windowfocus --sync " + id + " 2>/dev/null");
    xvfb::RunCommand(env + "xdotool type --delay 20 '" + kTyped + "' 2>/dev/null");
    for (int wait = 0; wait < 10 && !ended; ++wait) {
      usleep(50000);
      ended = waitpid(engine, &status, WNOHANG) == engine;
    }
  }
  if (!ended) {
    kill(engine, SIGKILL);
    waitpid(engine, &status, 0);
  }
  xvfb::StopServer(server);
  ASSERT_TRUE(ended) << "the engine's buffer never held the typed text";
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
