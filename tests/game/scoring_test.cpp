// Misses, goals, the extra life and the high-score table.
#include <gtest/gtest.h>

#include "game/data_files.h"
#include "game/play_scene.h"
#include "game/scoring.h"
#include "game_test_support.h"

using namespace gametest;

namespace {

class ScoringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteTables(DefaultTables());
    WriteMap(0, FlatMap());
    StartFreshGame();
    game.config.saveReplays = 0;
    StartStage(0);
  }
  WorkingFolder folder;
};

TEST_F(ScoringTest, AMissBanksATenthInThousands) {
  struct Case {
    std::int32_t stageScore, banked;
  };
  for (const Case c : {Case{12345, 1200}, Case{999, 0}, Case{1000, 100}}) {
    SCOPED_TRACE(c.stageScore);
    game.score = 0;
    game.lives = 2;
    game.playState = PlayRunning;
    game.stageScore = c.stageScore;
    game.player.hp = 0;
    CheckMissAndGoal();
    EXPECT_EQ(game.score, c.banked);
    EXPECT_EQ(game.lives, 1);
    EXPECT_EQ(game.playState, PlayMissed);
    EXPECT_EQ(game.streakCopy[StreakNoMiss], 0);
  }
}

TEST_F(ScoringTest, AMissWithNoLivesLeftIsAGameOverThatBanksEverything) {
  game.lives = 0;
  game.stageScore = 12345;
  game.player.body.y = 7680;  // the bottom edge is below the screen
  CheckMissAndGoal();
  EXPECT_EQ(game.lives, kGameOverLives);
  EXPECT_EQ(game.score, 12345);
  EXPECT_EQ(game.streaks, (std::array<std::uint8_t, 8>{}));
  EXPECT_EQ(game.playState, PlayStageEnd);
}

TEST_F(ScoringTest, TheExtraLifeNeedsEveryBossDestroyed) {
  struct Case {
    int bossCounter, lives;
  };
  for (const Case c : {Case{-1, 3}, Case{1, 3}, Case{0, 4}}) {
    SCOPED_TRACE(c.bossCounter);
    game.lives = 3;
    game.playState = PlayRunning;
    game.bossCounter = c.bossCounter;
    game.scrollPosition = 30 * 32;
    CheckMissAndGoal();
    EXPECT_EQ(game.playState, PlayStageEnd);
    EXPECT_EQ(game.lives, c.lives);
  }
}

TEST_F(ScoringTest, EnemiesAndItemsLeftAtTheGoalEndTheCompStreaks) {
  game.enemies[3].body.kind = 2;
  game.enemies[3].carriedItem = 1;
  game.scrollPosition = 30 * 32;
  CheckMissAndGoal();
  EXPECT_EQ(game.streaks[StreakEnemyComp], 0);
  EXPECT_EQ(game.streaks[StreakItemComp], 0);
  EXPECT_EQ(game.enemies[3].body.kind, kFreeKind);
  EXPECT_EQ(game.stageScore, 1650000 - 250000);
}

TEST_F(ScoringTest, AGoalRaisesStagesReachedAndSaves) {
  game.scrollPosition = 30 * 32;
  CheckMissAndGoal();
  EXPECT_EQ(game.save.stagesReached, 1);
  EXPECT_EQ(ReadFile("data/save.sdt").at(40), 1);
}

TEST_F(ScoringTest, FinalScoreInsertion) {
  const std::array<std::int32_t, 10> table{900, 800, 700, 600, 500, 400, 300, 200, 100, 50};
  game.save.highScores = table;
  game.score = 700;  // equal to the third: the new third
  RecordFinalScore();
  EXPECT_EQ(game.finalRank, 2);
  EXPECT_EQ(game.save.highScores,
            (std::array<std::int32_t, 10>{900, 800, 700, 700, 600, 500, 400, 300, 200, 100}));
  EXPECT_EQ(ReadFile("data/save.sdt").size(), 44u);
  LoadSaveData();
  EXPECT_EQ(game.save.highScores[3], 700);
}

TEST_F(ScoringTest, AScoreBelowTheTableWritesNothing) {
  game.save.highScores.fill(100);
  game.score = 99;
  RecordFinalScore();
  EXPECT_EQ(game.finalRank, 10);
  EXPECT_FALSE(FileExists("data/save.sdt"));
}

TEST_F(ScoringTest, NoDamageKeptThroughThreeStagesPaysOneTwoThreeTimes) {
  for (int stage = 1; stage <= 3; ++stage) WriteMap(stage, FlatMap());
  std::vector<std::int32_t> paid;
  for (int stage = 0; stage < 3; ++stage) {
    const std::int32_t before = game.score;
    RunPlayFrames(ScenePlay, 929);
    ASSERT_EQ(game.playState, PlayStageEnd);
    paid.push_back(game.score - before - 1900);
    PressKeys({KeySpace});
    RunPlaySceneFrame();
    PressKeys({});
  }
  EXPECT_EQ(paid, (std::vector<std::int32_t>{1650000, 3300000, 4950000}));
  EXPECT_EQ(game.stage, 3);
  EXPECT_EQ(game.streaks[StreakNoDamage], 4);
}

}  // namespace
