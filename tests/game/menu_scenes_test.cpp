// The title, configuration and final results scenes on injected keys, and the play scene's
// pause and leave keys.
#include <gtest/gtest.h>

#include "game/data_files.h"
#include "game/menu_scenes.h"
#include "game/play_scene.h"
#include "game/replay.h"
#include "game/sound.h"
#include "game_test_support.h"

using namespace gametest;

namespace {

class MenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteTables(DefaultTables());
    WriteMap(0, FlatMap());
    StartFreshGame();
    tables.musicSound = 100;
    for (int i = 0; i < 7; ++i) tables.effectSounds[i] = 110 + i;
    game.config.saveReplays = 0;
  }

  // One title frame with the keys down.
  void Title(std::initializer_list<int> keys) {
    PressKeys(keys);
    TitleSceneInput();
  }
  void Config(std::initializer_list<int> keys) {
    PressKeys(keys);
    ConfigSceneInput();
  }
  bool Played(int effect) const {
    const std::string call = "play " + std::to_string(110 + effect) + " 1 1";
    return std::find(sounds.calls.begin(), sounds.calls.end(), call) != sounds.calls.end();
  }

  WorkingFolder folder;
  SoundLog sounds;
};

TEST_F(MenuTest, PromptStartStageSelectAndBack) {
  Title({KeySpace});
  EXPECT_EQ(game.titleCursor, CursorStart);
  EXPECT_TRUE(Played(EffectConfirm));
  Title({KeySpace});  // still held: not pressed again
  EXPECT_EQ(game.titleCursor, CursorStart);
  Title({});
  Title({KeyZ});
  EXPECT_EQ(game.titleCursor, 0);
  Title({KeyX});
  EXPECT_EQ(game.titleCursor, CursorStart);
  Title({});
  Title({KeyX});
  EXPECT_EQ(game.titleCursor, CursorPrompt);
  EXPECT_TRUE(Played(EffectCancel));
}

TEST_F(MenuTest, MenuMovesOnRepeatingArrows) {
  game.titleCursor = CursorStart;
  std::vector<int> cursors;
  for (int frame = 1; frame <= 12; ++frame) {
    Title({KeyDown});
    cursors.push_back(game.titleCursor);
  }
  // Frame 1 moves, frames 2-10 do not, frame 11 moves again (then EXIT is the end).
  EXPECT_EQ(cursors[0], CursorHighScore);
  EXPECT_EQ(cursors[9], CursorHighScore);
  EXPECT_EQ(cursors[10], CursorConfig);
  Title({});
  Title({KeyUp});
  EXPECT_EQ(game.titleCursor, CursorHighScore);
}

TEST_F(MenuTest, StageSelectIsBoundByStagesReached) {
  WriteMap(1, FlatMap());
  game.titleCursor = 0;
  Title({KeyRight});
  EXPECT_EQ(game.titleCursor, 0);  // no save file: only stage 1-1
  game.save.stagesReached = 2;
  for (int frame = 0; frame < 40; ++frame) Title({KeyRight});
  EXPECT_EQ(game.titleCursor, 2);
  Title({});
  Title({KeyLeft});
  EXPECT_EQ(game.titleCursor, 1);
  Title({});
  Title({KeyEnter});
  EXPECT_EQ(game.sceneNumber, ScenePlay);
  EXPECT_EQ(game.stage, 1);
}

TEST_F(MenuTest, EscAndExitEndTheProgram) {
  Title({KeyEsc});
  EXPECT_EQ(game.sceneNumber, SceneQuit);
  StartFreshGame(0);
  Title({KeyEsc});
  EXPECT_EQ(game.sceneNumber, SceneQuit);
  StartFreshGame();
  game.titleCursor = CursorExit;
  Title({KeySpace});
  EXPECT_EQ(game.sceneNumber, SceneQuit);
}

TEST_F(MenuTest, ArcadeModeStartsOnSpaceAndOpensTheConfigAfterSixtyFramesOfC) {
  StartFreshGame(0);
  Title({KeyDown});
  EXPECT_EQ(game.titleCursor, CursorPrompt);
  for (int frame = 1; frame < 60; ++frame) Title({KeyC});
  EXPECT_EQ(game.sceneNumber, SceneTitle);
  Title({KeyC});
  EXPECT_EQ(game.sceneNumber, SceneConfig);
  StartFreshGame(0);
  Title({KeySpace});
  EXPECT_EQ(game.sceneNumber, ScenePlay);
  EXPECT_EQ(game.stage, 0);
}

TEST_F(MenuTest, IdleTitleShowsTheHighScoresThenPlaysAReplay) {
  WriteFile("replay/00.rp", ReplayBytes({}, Bytes(100, 0)));
  for (int frame = 0; frame < 1000; ++frame) Title({});
  EXPECT_TRUE(TitleShowsHighScores());
  Title({KeyR});
  EXPECT_FALSE(TitleShowsHighScores());
  for (int frame = 0; frame < 1498; ++frame) Title({});
  EXPECT_EQ(game.sceneNumber, SceneTitle);
  Title({});
  EXPECT_EQ(game.sceneNumber, SceneReplay);
}

TEST_F(MenuTest, RPlaysTheSelectedStagesReplay) {
  WriteFile("replay/00.rp", ReplayBytes({}, Bytes(100, 0)));
  game.titleCursor = 0;
  game.config.playReplays = 0;
  Title({KeyR});
  EXPECT_EQ(game.sceneNumber, SceneTitle);
  game.config.playReplays = 1;
  Title({});
  Title({KeyR});
  EXPECT_EQ(game.sceneNumber, SceneReplay);
}

TEST_F(MenuTest, VolumeLevels) {
  EXPECT_EQ(VolumeLevel(120), 7);
  EXPECT_EQ(VolumeLevel(255), 8);
  EXPECT_EQ(VolumeLevel(0), 0);
  EXPECT_EQ(VolumeStepRight(120), 255);
  EXPECT_EQ(VolumeStepRight(112), 255);
  EXPECT_EQ(VolumeStepRight(16), 32);
  EXPECT_EQ(VolumeStepRight(255), 255);
  EXPECT_EQ(VolumeStepLeft(255), 112);
  EXPECT_EQ(VolumeStepLeft(20), 0);
  EXPECT_EQ(VolumeStepLeft(0), 0);
}

TEST_F(MenuTest, ConfigVolumeStepsApplyAtOnceAndCancelRestoresTheFile) {
  WriteFile("data/config.dat", {1, 1, 255, 120, 1, 1});
  LoadConfig();
  game.sceneNumber = SceneConfig;
  game.configCursor = ConfigMusicVolume;
  Config({KeyRight});
  EXPECT_EQ(game.config.musicVolume, 255);
  EXPECT_EQ(sounds.calls.front(), "volume 255 100");
  sounds.calls.clear();
  Config({});
  Config({KeyRight});  // already 255: nothing changes and nothing sounds
  EXPECT_TRUE(sounds.calls.empty());
  game.configCursor = ConfigEffectVolume;
  Config({});
  Config({KeyLeft});
  EXPECT_EQ(game.config.effectVolume, 112);
  EXPECT_EQ(std::count(sounds.calls.begin(), sounds.calls.end(), "volume 112 113"), 1);
  Config({});
  Config({KeyX});
  EXPECT_EQ(game.config.effectVolume, 255);
  EXPECT_EQ(game.config.musicVolume, 120);
  EXPECT_EQ(sounds.calls[sounds.calls.size() - 3], "volume 120 100");
  EXPECT_EQ(game.sceneNumber, SceneTitle);
}

TEST_F(MenuTest, ConfigOkSavesWithTheWindowByteUnchanged) {
  WriteFile("data/config.dat", {1, 7, 255, 255, 1, 1});
  LoadConfig();
  game.sceneNumber = SceneConfig;
  Config({KeyLeft});  // arcade mode on
  Config({});
  Config({KeyZ});  // the cursor jumps to OK
  EXPECT_EQ(game.configCursor, ConfigOk);
  EXPECT_EQ(ReadFile("data/config.dat"), (Bytes{1, 7, 255, 255, 1, 1}));
  Config({});
  Config({KeySpace});
  EXPECT_EQ(ReadFile("data/config.dat"), (Bytes{0, 7, 255, 255, 1, 1}));
  EXPECT_EQ(game.sceneNumber, SceneTitle);
}

TEST_F(MenuTest, FinalResultsLeaveOnSpace) {
  game.sceneNumber = SceneFinalResults;
  PressKeys({KeyZ});
  GameOverSceneInput();
  EXPECT_EQ(game.sceneNumber, SceneFinalResults);
  PressKeys({KeySpace});
  GameOverSceneInput();
  EXPECT_EQ(game.sceneNumber, SceneTitle);
  EXPECT_TRUE(Played(EffectConfirm));
}

TEST_F(MenuTest, SpacePausesOnlyWithArcadeModeOff) {
  StartStage(0);
  PressKeys({KeySpace});
  RunPlaySceneFrame();
  EXPECT_EQ(game.playState, PlayPaused);
  EXPECT_EQ(game.musicIndex, kNoMusic);
  const int frame = game.stageFrame;
  for (int i = 0; i < 5; ++i) {
    PressKeys({});
    RunPlaySceneFrame();
  }
  EXPECT_EQ(game.stageFrame, frame);  // nothing moves while paused
  PressKeys({KeySpace});
  RunPlaySceneFrame();
  EXPECT_EQ(game.playState, PlayRunning);
  EXPECT_EQ(sounds.calls.back(), "play 100 3 0");  // the music carries on

  game.config.arcadeMode = 0;
  PressKeys({});
  RunPlaySceneFrame();
  PressKeys({KeySpace});
  RunPlaySceneFrame();
  EXPECT_EQ(game.playState, PlayRunning);
  PressKeys({KeyEsc});
  RunPlaySceneFrame();
  EXPECT_EQ(game.sceneNumber, SceneTitle);
}

}  // namespace
