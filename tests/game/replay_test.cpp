// Replays driven through the real play scene on fixture maps: scores reached from a header and
// control bytes, recordings made by playing, the best replay rule and refused files.
#include <gtest/gtest.h>

#include "game/data_files.h"
#include "game/keys.h"
#include "game/play_scene.h"
#include "game/replay.h"
#include "game_test_support.h"

using namespace gametest;

namespace {

class ReplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteTables(DefaultTables());
    WriteMap(0, FlatMap());
    StartFreshGame();
  }

  // Plays a stored replay to its end; returns the frames run in scene 2.
  int Play(const Bytes& replay) {
    WriteFile("replay/00.rp", replay);
    EXPECT_TRUE(StartReplayPlayback("replay/00.rp"));
    return RunPlayFrames(SceneReplay, 10000);
  }

  WorkingFolder folder;
};

TEST_F(ReplayTest, AllZeroReplayOnTheFlatMapReachesTheGoal) {
  EXPECT_EQ(Play(ReplayBytes({}, Bytes(929, 0))), 929 + 99);
  EXPECT_EQ(game.score, 1651900);  // 19 columns x 100, and the eight streak bases once
  EXPECT_EQ(game.lives, 3);
  EXPECT_EQ(game.sceneNumber, SceneTitle);
}

TEST_F(ReplayTest, TheFrameAfterTheLastByteStillRuns) {
  EXPECT_EQ(Play(ReplayBytes({}, Bytes(928, 0))), 929);
  EXPECT_EQ(game.score, 1651900);
  EXPECT_EQ(game.playState, PlayStageEnd);
}

TEST_F(ReplayTest, OneFrameTooShortDoesNotReachTheGoal) {
  EXPECT_EQ(Play(ReplayBytes({}, Bytes(927, 0))), 928);
  EXPECT_EQ(game.score, 0);
  EXPECT_EQ(game.stageScore, 1900);
  EXPECT_EQ(game.playState, PlayRunning);
}

TEST_F(ReplayTest, StreakCountersOfTheHeaderMultiplyTheBonuses) {
  ReplayHeader header;
  header.streaks.fill(3);
  Play(ReplayBytes(header, Bytes(929, 0)));
  EXPECT_EQ(game.score, 4951900);
}

TEST_F(ReplayTest, OneShotKillsAnEnemyAndEndsNoShot) {
  FixtureMap map = FlatMap();
  map.Put(12, {1, 5, 11, 0});
  WriteMap(0, map);
  Bytes controls(929, 0);
  controls[10] = ControlFire;
  Play(ReplayBytes({}, controls));
  EXPECT_EQ(game.score, 1452900);  // 1900 + 1000 for the kill + the bonuses without NO SHOT
}

TEST_F(ReplayTest, ALeftFrameEndsNonStopAndAHoverEndsNoFly) {
  Bytes controls(929, 0);
  controls[100] = ControlLeft;
  controls[200] = ControlJump;
  controls[205] = ControlJump;
  Play(ReplayBytes({}, controls));
  EXPECT_EQ(game.streaks[StreakNonStop], 0);
  EXPECT_EQ(game.streaks[StreakNoFly], 0);
  EXPECT_EQ(game.streaks[StreakNoDamage], 1);
}

TEST_F(ReplayTest, RefusedFilesLeaveTheTitle) {
  struct Case {
    const char* name;
    Bytes bytes;
  };
  ReplayHeader badStage;
  badStage.stage = 16;
  Bytes tampered = ReplayBytes({}, Bytes(10, 0));
  tampered[17] ^= 1;
  Bytes shortFile = ReplayBytes({}, {});
  shortFile.resize(31);
  const Case cases[] = {{"stage above 15", ReplayBytes(badStage, Bytes(10, 0))},
                        {"header byte changed", tampered},
                        {"shorter than its header", shortFile}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile("replay/03.rp", c.bytes);
    EXPECT_FALSE(StartReplayPlayback("replay/03.rp"));
    EXPECT_EQ(game.sceneNumber, SceneTitle);
  }
  EXPECT_FALSE(StartReplayPlayback("replay/missing.rp"));
}

TEST_F(ReplayTest, AChangedControlByteIsNotDetected) {
  Bytes replay = ReplayBytes({}, Bytes(10, 0));
  replay[35] = ControlRight;
  WriteFile("replay/00.rp", replay);
  EXPECT_TRUE(StartReplayPlayback("replay/00.rp"));
  EXPECT_EQ(game.sceneNumber, SceneReplay);
}

TEST_F(ReplayTest, AnyKeyEndsAReplay) {
  WriteFile("replay/00.rp", ReplayBytes({}, Bytes(500, 0)));
  ASSERT_TRUE(StartReplayPlayback("replay/00.rp"));
  RunPlayFrames(SceneReplay, 10);
  PressKeys({KeyC});
  RunPlaySceneFrame();
  EXPECT_EQ(game.sceneNumber, SceneTitle);
  EXPECT_EQ(game.stageFrame, 11);
}

// A scripted game on a map with enemies and an item: what the keys did in scene 1 is what the
// stored replay does in scene 2.
class RecordingTest : public ReplayTest {
 protected:
  void SetUp() override {
    ReplayTest::SetUp();
    FixtureMap map = FlatMap(60, 45, 20);
    map.Put(9, {2, 5, 11, 0});
    map.Put(14, {1, 0, 6, 0});
    map.Put(18, {1, 10, 4, 0});
    map.Put(24, {1, 22, 9, 0});
    map.Put(30, {1, 3, 11, 0});
    map.Put(33, {1, 9, 3, 0});
    map.Put(36, {0, 2, 3, 9});
    WriteMap(0, map);
  }

  static void ScriptedKeys(int frame) {
    std::vector<int> keys;
    if (frame < 30 || (frame >= 400 && frame < 420)) keys.push_back(KeyRight);
    if (frame >= 300 && frame < 310) keys.push_back(KeyLeft);
    if (frame == 40 || (frame >= 44 && frame < 70) || frame == 500) keys.push_back(KeyZ);
    if (frame >= 80 && frame < 600) keys.push_back(KeyX);
    if (frame == 520) keys.push_back(KeyDown);
    char states[256] = {};
    for (int key : keys) states[key] = 1;
    ApplyKeyStates(states);
  }

  // Plays stage 0 in scene 1 until its end; returns the state it ended in.
  std::string PlayByKeys() {
    StartStage(0);
    for (int frame = 0; frame < 5000 && game.playState != PlayStageEnd; ++frame) {
      ScriptedKeys(frame);
      RunPlaySceneFrame();
    }
    EXPECT_EQ(game.playState, PlayStageEnd);
    return DescribeStage();
  }

  std::string PlayStored() {
    PressKeys({});
    ReturnToTitle();
    EXPECT_TRUE(StartReplayPlayback("replay/00.rp"));
    while (game.sceneNumber == SceneReplay && game.playState != PlayStageEnd) RunPlaySceneFrame();
    return DescribeStage();
  }
};

TEST_F(RecordingTest, ARecordingPlaysBackToTheSameScoreAndState) {
  const std::string played = PlayByKeys();
  const std::int32_t stageScore = game.stageScore;
  const int frames = game.stageFrame;
  ASSERT_TRUE(FileExists("replay/00.rp"));
  EXPECT_FALSE(FileExists(kRecordingPath));
  const Bytes stored = ReadFile("replay/00.rp");
  ASSERT_EQ(stored.size(), static_cast<std::size_t>(32 + frames));
  const auto word = [&](int at) {
    return static_cast<std::int32_t>(stored[at] | stored[at + 1] << 8 | stored[at + 2] << 16 |
                                     static_cast<std::uint32_t>(stored[at + 3]) << 24);
  };
  EXPECT_EQ(word(24), stageScore);
  EXPECT_EQ(word(28), word(16) ^ word(20) ^ word(24));
  EXPECT_EQ(PlayStored(), played);
}

// The scripted game above ends in a game over; this one, with a barrier and fewer enemies,
// reaches the goal.
TEST_F(RecordingTest, ARecordingThatReachesTheGoalPlaysBackTheSame) {
  FixtureMap map = FlatMap(60, 45, 20);
  map.Put(6, {2, 2, 11, 0});
  map.Put(14, {1, 0, 6, 0});
  map.Put(30, {1, 3, 11, 0});
  map.Put(36, {0, 2, 3, 9});
  WriteMap(0, map);
  const std::string played = PlayByKeys();
  EXPECT_NE(game.lives, kGameOverLives);
  EXPECT_GT(game.score, 0);
  EXPECT_EQ(PlayStored(), played);
}

TEST_F(RecordingTest, PlaybackDoesNotDependOnWhatRanBefore) {
  PlayByKeys();
  const std::string fresh = PlayStored();
  // A stage full of spinning enemies turns the angles of many slots before the replay runs.
  FixtureMap spinners = FlatMap();
  for (int c = 4; c < 20; c += 2)
    spinners.Put(c, {1, c % 4 == 0 ? std::uint8_t{10} : std::uint8_t{22}, 5, 0});
  WriteMap(1, spinners);
  ReplayHeader header;
  header.stage = 1;
  WriteFile("replay/01.rp", ReplayBytes(header, Bytes(400, 0)));
  PressKeys({});
  ASSERT_TRUE(StartReplayPlayback("replay/01.rp"));
  RunPlayFrames(SceneReplay, 400);
  game.player.jumpState = 0;
  EXPECT_EQ(PlayStored(), fresh);
}

TEST_F(RecordingTest, ABestReplayIsKeptOnlyWhenBeaten) {
  ReplayHeader stored;
  stored.score = 50000000;
  const Bytes better = ReplayBytes(stored, Bytes(5, 0));
  WriteFile("replay/00.rp", better);
  PlayByKeys();
  EXPECT_EQ(ReadFile("replay/00.rp"), better);
  EXPECT_FALSE(FileExists(kRecordingPath));

  StartFreshGame();
  PlayByKeys();
  const std::int32_t score = game.stageScore;
  stored.score = score;  // equal does not replace
  const Bytes equal = ReplayBytes(stored, Bytes(5, 0));
  WriteFile("replay/00.rp", equal);
  StartFreshGame();
  PlayByKeys();
  EXPECT_EQ(ReadFile("replay/00.rp"), equal);

  stored.score = score - 1;
  WriteFile("replay/00.rp", ReplayBytes(stored, Bytes(5, 0)));
  StartFreshGame();
  PlayByKeys();
  EXPECT_EQ(ReadFile("replay/00.rp").size(), static_cast<std::size_t>(32 + game.stageFrame));
}

TEST_F(RecordingTest, WithReplaySavingOffNothingIsWrittenOrDeleted) {
  ReplayHeader header;
  header.score = 1;
  const Bytes stored = ReplayBytes(header, Bytes(50, 0));
  WriteFile("replay/00.rp", stored);
  game.config.saveReplays = 0;
  ASSERT_TRUE(StartReplayPlayback("replay/00.rp"));  // the path buffer now names the stored file
  RunPlayFrames(SceneReplay, 10);
  ReturnToTitle();
  PlayByKeys();
  EXPECT_EQ(ReadFile("replay/00.rp"), stored);
  EXPECT_FALSE(FileExists(kRecordingPath));
}

TEST_F(RecordingTest, ARecordingShorterThanItsHeaderIsNotCommitted) {
  StartStage(0);
  WriteFile(kRecordingPath, Bytes(20, 7));
  game.stageScore = 10;
  CommitStageReplay();
  EXPECT_FALSE(FileExists("replay/00.rp"));
  EXPECT_FALSE(FileExists(kRecordingPath));
}

}  // namespace
