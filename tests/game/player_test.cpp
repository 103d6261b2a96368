// The control byte and the player's physics, firing and drawing state.
#include <gtest/gtest.h>

#include "game/player.h"
#include "game/stage_objects.h"
#include "stage_fixture.h"

using namespace gametest;

namespace {

class PlayerTest : public StageTest {
 protected:
  std::uint8_t Sample(std::initializer_list<int> keys) {
    PressKeys(keys);
    SampleControlByte();
    return game.player.control;
  }
  // Lets the player fall onto the ground.
  void Settle() {
    for (int frame = 0; frame < 30; ++frame) {
      game.player.control = 0;
      UpdatePlayer();
    }
  }
};

TEST_F(PlayerTest, ControlBytes) {
  EXPECT_EQ(Sample({KeyLeft}), ControlLeft);
  EXPECT_EQ(Sample({KeyLeft, KeyRight}), ControlRight);  // the more recent of the two
  EXPECT_EQ(Sample({KeyDown}), ControlDrop);
  EXPECT_EQ(Sample({KeyDown}), 0);
  game.player.jumpState = 0;
  EXPECT_EQ(Sample({KeyZ}), ControlJump);
  EXPECT_EQ(Sample({KeyZ}), 0);  // a jump needs a fresh press
  game.player.jumpState = 1;
  EXPECT_EQ(Sample({KeyZ}), ControlJump);  // a hover lasts while the key is down
  std::vector<int> fired;
  for (int frame = 1; frame <= 10; ++frame)
    if (Sample({KeyX}) & ControlFire) fired.push_back(frame);
  EXPECT_EQ(fired, (std::vector<int>{1, 5, 9}));
  game.playState = PlayPaused;
  EXPECT_EQ(Sample({KeyRight, KeyX}), 0);
}

TEST_F(PlayerTest, RecordingAppendsOneBytePerRunningFrame) {
  game.config.saveReplays = 1;
  StartStage(0);
  Sample({KeyRight});
  Sample({KeyRight, KeyZ});
  game.playState = PlayMissed;
  Sample({KeyRight});
  const Bytes recording = ReadFile("replay/tm.rp");
  ASSERT_EQ(recording.size(), 34u);
  EXPECT_EQ(recording[32], ControlRight);
  EXPECT_EQ(recording[33], ControlRight | ControlJump);
}

TEST_F(PlayerTest, WithoutKeysThePlayerStaysOnTheScreenAndLeftHoldsItInTheWorld) {
  Settle();
  const int x = game.player.body.x;
  UpdatePlayer();
  EXPECT_EQ(game.player.body.x, x);
  game.player.body.x = 3200;
  game.player.control = ControlLeft;
  UpdatePlayer();
  EXPECT_EQ(game.player.body.x, 3200 - 16);
  EXPECT_EQ(game.streaks[StreakNonStop], 0);
  game.player.control = ControlRight;
  UpdatePlayer();
  EXPECT_EQ(game.player.body.x, 3200 - 16 + 16);
}

TEST_F(PlayerTest, TheScreenEdgesHoldTheBoxsOwnEdges) {
  game.player.body.left = -4;
  game.player.body.right = 12;
  game.player.body.top = -10;
  game.player.body.bottom = 10;
  game.player.body.x = 40;
  game.player.control = ControlLeft;
  UpdatePlayer();
  EXPECT_EQ(game.player.body.x, 4 * 16);
  game.player.body.x = 10200;
  game.player.control = ControlRight;
  UpdatePlayer();
  EXPECT_EQ(game.player.body.x, (640 - 12) * 16);
}

TEST_F(PlayerTest, JumpThenHoverWithAnEmptyGauge) {
  Settle();
  EXPECT_EQ(game.player.jumpState, 0);
  const int ground = game.player.body.y;
  game.player.control = ControlJump;
  UpdatePlayer();
  EXPECT_EQ(game.player.jumpState, 2);
  EXPECT_EQ(game.player.body.vy, -208 + 16);
  EXPECT_LT(game.player.body.y, ground);
  game.player.hover = 0;
  UpdatePlayer();  // a second press in the air starts a hover, even with an empty gauge
  EXPECT_EQ(game.player.jumpState, 1);
  EXPECT_EQ(game.streaks[StreakNoFly], 0);
  game.player.hover = 0;
  UpdatePlayer();
  EXPECT_EQ(game.player.jumpState, 2);
}

TEST_F(PlayerTest, DownDropsThroughStepsButNotSolidBlocks) {
  Settle();
  const int ground = game.player.body.y;
  game.player.control = ControlDrop;
  UpdatePlayer();
  EXPECT_EQ(game.player.body.y, ground);  // the ground is solid
  EnemyRecord brick;
  brick.body.x = game.player.body.x;
  brick.body.y = static_cast<std::int16_t>(ground - 2000);
  brick.body.kind = 13;
  tables.enemies[13].flags = EnemyLeavesStep;
  SpawnStep(brick);
  game.player.body.y = static_cast<std::int16_t>(brick.body.y - 16 * 16 - 10 * 16);
  game.player.body.vy = 0;
  game.player.control = 0;
  UpdatePlayer();
  EXPECT_EQ(game.player.jumpState, 0);
  const int onStep = game.player.body.y;
  game.player.control = ControlDrop;
  UpdatePlayer();
  EXPECT_GT(game.player.body.y, onStep);
}

TEST_F(PlayerTest, FiringSoundsEvenWhenEverySlotIsBusy) {
  for (GameBody& shot : game.shots) shot.kind = 0;
  game.player.control = ControlFire;
  UpdatePlayer();
  EXPECT_EQ(Count("play 111 1 1"), 1);
  EXPECT_EQ(game.streaks[StreakNoShot], 1);
}

TEST_F(PlayerTest, DoubleShotsSpendThePowerGauge) {
  game.player.power = 1000;
  game.player.control = ControlFire;
  const int y = game.player.body.y;
  UpdatePlayer();
  const int movedY = game.player.body.y;
  ASSERT_EQ(ActiveShots(), 2);
  EXPECT_EQ(game.shots[0].y, movedY - 80);
  EXPECT_EQ(game.shots[1].y, movedY + 80);
  EXPECT_EQ(game.shots[0].vx, 160);
  EXPECT_EQ(game.player.power, 1000 - 16);
  EXPECT_NE(y, 0);
  game.player.control = 0;
  UpdatePlayer();
  EXPECT_EQ(game.player.power, 1000 - 15);
}

}  // namespace
