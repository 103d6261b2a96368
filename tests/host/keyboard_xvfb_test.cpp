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
  const xvfb::InputRun run = xvfb::RunEngineSideWithInput(
      "KeyboardXvfbTest.EngineSide", "ENGINE_KEYBOARD_TITLE",
      "mub keyboard " + std::to_string(getpid()), [](const std::string& env) {
        return env + "xdotool keydown z; sleep 0.2; " + env + "xdotool keyup z";
      });
  ASSERT_TRUE(run.windowSeen) << "the window never appeared";
  ASSERT_TRUE(run.ended) << "the engine never saw Z pressed and released";
  EXPECT_TRUE(WIFEXITED(run.status));
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
}

}  // namespace
