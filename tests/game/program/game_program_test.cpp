// The whole program in this process, headless: start-up on fixture files, the title, a game
// started by an injected Space, the end on a window close; key taps between two frames; and the
// report of a load failure.
#include <gtest/gtest.h>

#include <SDL.h>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "game/game_entry.h"
#include "game/game_test_support.h"
#include "game/keys.h"
#include "game/menu_scenes.h"
#include "graphics/draw_settings.h"
#include "host/host.h"
#include "host/window_system.h"
#include "platform/clock.h"
#include "platform/d3d9/d3d9_controls.h"
#include "platform/win32/user.h"
#include "system/tracked_memory.h"

using namespace gametest;

namespace {

// What each present of the play scene saw: the stage frame and the draw target.
struct PresentSeen {
  int stageFrame;
  int drawTarget;
};
std::vector<PresentSeen> playPresents;

void RecordPlayPresent() {
  if (game.sceneNumber == ScenePlay && game.playState == PlayRunning)
    playPresents.push_back({game.stageFrame, GetDrawSettings()->drawTarget});
}

// The player's keys, scripted by presented frame so that a slow machine only makes the run
// longer: two seconds of title, Space held a second, two seconds of play, then a window close
// (also after 900 frames in all, should the play never start).
int presentCount = 0;
void PlayTheScript() {
  RecordPlayPresent();
  HWND window = GetEngineWindowHandle();
  const int frame = ++presentCount;
  if (frame == 90) {
    InjectPlatformWindowEvent(window, SDL_WINDOWEVENT_FOCUS_GAINED, 0, 0);
    InjectPlatformKey(window, SDL_SCANCODE_SPACE, true);
  } else if (frame == 135) {
    InjectPlatformKey(window, SDL_SCANCODE_SPACE, false);
  } else if (playPresents.size() == 90 || frame == 900) {
    InjectPlatformWindowEvent(window, SDL_WINDOWEVENT_CLOSE, 0, 0);
  }
}

TEST(GameProgramTest, TitleThenSpaceStartsTheFirstStageAndAWindowCloseEnds) {
  WorkingFolder folder;
  WriteTables(DefaultTables());
  WriteMap(0, FlatMap());
  WriteFixtureBitmaps();
  ResetGameState();
  playPresents.clear();
  presentCount = 0;
  D3D9SetPresentObserver(PlayTheScript);
  // Should no frame be presented at all, the game is closed after two minutes. (A pipe, not
  // <chrono>: the engine's code page cannot take that header.)
  int ended[2];
  ASSERT_EQ(pipe(ended), 0);
  std::thread watchdog([done = ended[0]] {
    pollfd wait{done, POLLIN, 0};
    if (poll(&wait, 1, 120000) == 1) return;
    ADD_FAILURE() << "the scripted keys did not end the game within two minutes";
    InjectPlatformWindowEvent(GetEngineWindowHandle(), SDL_WINDOWEVENT_CLOSE, 0, 0);
  });
  const int status = RunGame();
  close(ended[1]);
  watchdog.join();
  close(ended[0]);
  D3D9SetPresentObserver(nullptr);
  EXPECT_EQ(status, 0);
  // Every frame is drawn on the back buffer and presented once: no timer presents the front
  // screen between frames.
  for (std::size_t i = 0; i < playPresents.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(playPresents[i].drawTarget, -2);
    if (i > 0) {
      EXPECT_EQ(playPresents[i].stageFrame, playPresents[i - 1].stageFrame + 1);
    }
  }
  EXPECT_EQ(game.sceneNumber, ScenePlay);  // arcade mode (no config file): Space starts stage 1-1
  EXPECT_EQ(game.stage, 0);
  EXPECT_GT(game.stageFrame, 0);
  EXPECT_EQ(GetTrackedBlockCount(), 0);  // an empty leak report
  EXPECT_FALSE(FileExists("data/config.dat"));
  EXPECT_TRUE(FileExists("replay/tm.rp"));
}

// Down pressed and released before the next frame looks, five times on the configuration
// screen: each tap is down in exactly one frame and moves the cursor once.
TEST(GameProgramTest, AKeyTappedBetweenTwoFramesIsSeenForExactlyOneFrame) {
  WorkingFolder folder;
  WriteTables(DefaultTables());
  WriteFixtureBitmaps();
  ResetGameState();
  ASSERT_EQ(StartGame(), 0);
  HWND window = GetEngineWindowHandle();
  game.sceneNumber = SceneConfig;
  game.configCursor = ConfigArcadeMode;
  ASSERT_TRUE(RunGameFrame());
  for (int tap = 1; tap <= 5; ++tap) {
    SCOPED_TRACE(tap);
    InjectPlatformKey(window, SDL_SCANCODE_DOWN, true);
    InjectPlatformKey(window, SDL_SCANCODE_DOWN, false);
    ASSERT_TRUE(RunGameFrame());
    EXPECT_EQ(KeyHoldCounters[KeyDown], 1);
    EXPECT_EQ(game.configCursor, tap);
    ASSERT_TRUE(RunGameFrame());
    EXPECT_EQ(KeyHoldCounters[KeyDown], 0);
    EXPECT_EQ(game.configCursor, tap);
  }
  EXPECT_EQ(game.configCursor, ConfigOk);
  ShutdownEngine();
}

TEST(GameProgramTest, ALoadFailureIsReportedAndEndsTheEngineAndASilentSoundIsNamed) {
  WorkingFolder folder;
  WriteTables(DefaultTables());
  WriteFixtureBitmaps();
  std::filesystem::remove("image/goal.bmp");
  std::filesystem::create_directory("sound");
  WriteFile("sound/e0.ogg", {'O', 'g', 'g', 'S', 0, 2, 9, 9});  // damaged: sounds load first
  ResetGameState();
  testing::internal::CaptureStderr();
  const int status = RunGame();
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 1);
  EXPECT_NE(errors.find(reinterpret_cast<const char*>(u8"エラー: 読込に失敗しました")),
            std::string::npos);  // the message box
  // What a player needs to mend it: the file, the folder the game looked in, how data is made.
  const std::string at = std::filesystem::current_path().string();
  for (const std::string& line :
       {std::string(reinterpret_cast<const char*>(u8"mub: 読込に失敗しました: image/goal.bmp\n")),
        reinterpret_cast<const char*>(u8"を探したフォルダ: ") + at + "\n",
        std::string("scripts/run"), std::string("build/release/play"), std::string("mubgen")})
    EXPECT_NE(errors.find(line), std::string::npos) << line << " in\n" << errors;
  EXPECT_NE(
      errors.find(reinterpret_cast<const char*>(u8"mub: sound/e0.ogg を読み込めませんでした")),
      std::string::npos)
      << errors;
  EXPECT_EQ(GetTrackedBlockCount(), 0);
}

}  // namespace
