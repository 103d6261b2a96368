// Real key presses: the engine runs in a child process on an X server of its own (Xvfb) with
// SDL's X11 driver, xdotool presses and releases Z through the XTEST extension, and the engine's
// GetAllKeyStates must see the key go down and up again.
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/host/engine_fixture.h"
#include "xvfb_support.h"

namespace {

using KeyboardXvfbTest = EngineFixture;

// The engine's side: exit status 0 once Z was seen down and then up again within 30 seconds.
TEST_F(KeyboardXvfbTest, EngineSide) {
  const char* title = std::getenv("ENGINE_KEYBOARD_TITLE");
  if (!title) GTEST_SKIP() << "runs only as the engine side of the real key test";
  SetWindowTitle(title);
  SetRunWhileInactive(1);
  ASSERT_EQ(InitializeEngine(), 0);
  timespec start{}, now{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  bool seenDown = false, seenUp = false;
  while (!seenUp && (clock_gettime(CLOCK_MONOTONIC, &now), now.tv_sec - start.tv_sec < 30)) {
    if (ProcessWindowMessages() != 0) break;
    char states[256];
    GetAllKeyStates(states);
    if (states[0x2C]) seenDown = true;
    if (seenDown && !states[0x2C]) seenUp = true;
    Sleep(5);
  }
  ShutdownEngine();
  ExitProcess(seenUp ? 0 : 3);
}

TEST_F(KeyboardXvfbTest, RealKeyPressesReachGetAllKeyStates) {
  if (!xvfb::IsOnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_TRUE(xvfb::IsOnPath("xdotool"))
      << "xdotool is needed beside Xvfb (scripts/setup installs both)";
  pid_t server = 0;
  const std::string displayName = xvfb::StartServer(&server);
  ASSERT_FALSE(displayName.empty());
  const std::string title = "mub keyboard " + std::to_string(getpid());

  const pid_t engine = fork();
  ASSERT_GE(engine, 0);
  if (engine == 0) {
    setenv("DISPLAY", displayName.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv("ENGINE_KEYBOARD_TITLE", title.c_str(), 1);
    execl("/proc/self/exe", "system_tests", "--gtest_filter=KeyboardXvfbTest.EngineSide", nullptr);
    _exit(127);
  }

  const std::string env = "DISPLAY=" + displayName + " ";
  const std::string id = xvfb::FindWindow(displayName, title);
  ASSERT_FALSE(id.empty()) << "the window never appeared";

  // Presses until the engine has seen one whole press (the first may come before the focus).
  int status = -1;
  bool ended = false;
  for (int attempt = 0; attempt < 40 && !ended; ++attempt) {
    xvfb::RunCommand(env + "xdotool windowfocus --sync " + id + " 2>/dev/null");
    xvfb::RunCommand(env + "xdotool keydown z; sleep 0.2; " + env + "xdotool keyup z");
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
  ASSERT_TRUE(ended) << "the engine never saw Z pressed and released";
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
