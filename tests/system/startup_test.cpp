// Start-up and shutdown of the engine, headless: the whole life cycle with its log, the
// idempotent calls, settings that survive the clearing, and the failures of the start-up.
#include <SDL.h>

#include "engine_fixture.h"

namespace {

using StartupTest = EngineFixture;

TEST_F(StartupTest, LifeCycleEndsOnACloseEventWithAnEmptyLeakReport) {
  ASSERT_EQ(InitializeEngine(), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ProcessWindowMessages(), 0);
  ASSERT_EQ(InjectPlatformWindowEvent(GetEngineWindowHandle(), SDL_WINDOWEVENT_CLOSE, 0, 0), 0);
  int result = 0;
  for (int i = 0; i < 10 && result == 0; ++i) result = ProcessWindowMessages();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(ShutdownEngine(), 0);
  for (auto& line : LogLines()) printf("[%s]\n", line.c_str());
}

}  // namespace
