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
  const xvfb::InputRun run = xvfb::RunEngineSideWithInput(
      "TextInputXvfbTest.EngineSide", "ENGINE_TYPING_TITLE",
      "mub typing " + std::to_string(getpid()), [](const std::string& env) {
        return env + "xdotool type --delay 20 '" + kTyped + "' 2>/dev/null";
      });
  ASSERT_TRUE(run.windowSeen) << "the window never appeared";
  ASSERT_TRUE(run.ended) << "the engine's buffer never held the typed text";
  EXPECT_TRUE(WIFEXITED(run.status));
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
}

}  // namespace
