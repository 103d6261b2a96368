// Items, steps, shots and score popups, and the arithmetic of what they show.
#include <gtest/gtest.h>

#include "game/screen_layout.h"
#include "game/stage_objects.h"
#include "stage_fixture.h"

using namespace gametest;

namespace {

class StageObjectsTest : public StageTest {
 protected:
  GameBody& ItemAt(int slot, std::uint8_t kind) {
    GameBody& item = game.items[slot];
    item = GameBody{};
    item.kind = kind;
    item.x = 4000;
    item.y = 3000;
    item.left = item.top = -16;
    item.right = item.bottom = 16;
    return item;
  }
};

TEST_F(StageObjectsTest, HealingAtFullHpScoresInstead) {
  ItemAt(0, 0);
  CollectItem(0);
  EXPECT_EQ(game.player.hp, 64);
  EXPECT_EQ(game.stageScore, 50000);
  EXPECT_EQ(game.popups[0].value, 50000);
  EXPECT_EQ(game.streaks[StreakNoItem], 0);
  EXPECT_EQ(Count("play 110 1 1"), 1);
  game.player.hp = 54;
  ItemAt(0, 0);
  CollectItem(0);
  EXPECT_EQ(game.player.hp, 64);
  EXPECT_EQ(game.items[0].kind, kFreeKind);
}

TEST_F(StageObjectsTest, ACheckpointMovesTheRestartAndDropsTheCompStreaks) {
  game.scrollPosition = 320;
  ItemAt(0, 4);
  CollectItem(0);
  EXPECT_EQ(game.restartColumn, (4000 / 16 + 320) / 32);
  EXPECT_EQ(game.restartRow, 3000 / 16 / 32);
  EXPECT_EQ(game.lives, 4);
  EXPECT_EQ(game.streakCopy[StreakEnemyComp], 0);
  EXPECT_EQ(game.streakCopy[StreakItemComp], 0);
  EXPECT_EQ(game.streakCopy[StreakNoItem], 0);
  EXPECT_EQ(game.streakCopy[StreakNoDamage], 1);
}

TEST_F(StageObjectsTest, StepsStaySortedAndCompact) {
  tables.enemies[13].flags = EnemyLeavesStep;
  EnemyRecord brick;
  brick.body.kind = 13;
  for (int y : {3000, 1000, 3000}) {
    brick.body.y = static_cast<std::int16_t>(y);
    brick.body.x = static_cast<std::int16_t>(y == 1000 ? -250 : 5000);
    SpawnStep(brick);
  }
  EXPECT_EQ(game.steps[0].y, 1000);
  EXPECT_EQ(game.steps[1].y, 3000);
  EXPECT_EQ(game.steps[3].kind, kFreeKind);
  brick.carriedItem = 2;
  SpawnStep(brick);  // an enemy carrying an item leaves no step
  EXPECT_EQ(game.steps[3].kind, kFreeKind);
  UpdateSteps();  // the first step leaves at the left edge
  EXPECT_EQ(game.steps[0].y, 3000);
  EXPECT_EQ(game.steps[1].y, 3000);
  EXPECT_EQ(game.steps[2].kind, kFreeKind);
  EXPECT_EQ(game.steps[0].x, 5000 - 16);
}

TEST_F(StageObjectsTest, ShotsOnBlocks) {
  GameBody& bullet = game.bullets[0];
  bullet = GameBody{};
  bullet.kind = 1;  // neither passes nor bounces
  bullet.left = bullet.top = -4;
  bullet.right = bullet.bottom = 4;
  bullet.x = 4000;
  bullet.y = (384 - 5) * 16;  // 1 pixel above the ground's top with its bottom edge
  bullet.vy = 40;
  UpdateShots();
  EXPECT_EQ(bullet.kind, kFreeKind);
  bullet = GameBody{};
  bullet.kind = 1;
  bullet.left = bullet.top = -4;
  bullet.right = bullet.bottom = 4;
  bullet.x = 4000;
  bullet.y = (384 - 5) * 16;
  bullet.vx = -40;
  UpdateShots();  // moving sideways it passes over the top
  EXPECT_EQ(bullet.kind, 1);
  EXPECT_EQ(bullet.x, 4000 - 40);
  tables.shots[1].flags = ShotBounces;
  bullet.vy = 40;
  UpdateShots();
  EXPECT_EQ(bullet.vy, -40);
}

TEST_F(StageObjectsTest, PopupsShowForTwentyOneFrames) {
  SpawnPopup(1234, 1600, 1600);
  int frames = 0;
  while (game.popups[0].timer >= 0) {
    UpdatePopups();
    ++frames;
  }
  EXPECT_EQ(frames, 21);
  EXPECT_EQ(game.popups[0].x, 1600 - 21 * 16);
}

TEST(ScreenLayoutTest, PopupDigits) {
  std::array<int, 6> digits{};
  EXPECT_EQ(PopupDigits(1234567, digits), 6);
  EXPECT_EQ(digits, (std::array<int, 6>{7, 6, 5, 4, 3, 2}));
  EXPECT_EQ(PopupDigits(0, digits), 1);
  EXPECT_EQ(digits[0], 0);
  EXPECT_EQ(PopupDigits(-5000, digits), 1);  // a score that wrapped negative shows 0
  EXPECT_EQ(digits[0], 0);
}

TEST(ScreenLayoutTest, Glyphs) {
  struct Case {
    char c;
    int glyph;
  };
  for (const Case c : {Case{'0', 0}, Case{'9', 9}, Case{'A', 10}, Case{'Z', 35}, Case{'!', 36},
                       Case{'\n', 39}, Case{'x', 43}, Case{'\\', 57}, Case{'$', 58}, Case{' ', 59},
                       Case{'a', -1}, Case{'\0', -1}}) {
    SCOPED_TRACE(c.c);
    EXPECT_EQ(GlyphIndex(c.c), c.glyph);
  }
}

TEST(ScreenLayoutTest, GaugeWidths) {
  EXPECT_EQ(GaugeFillWidth(64, 64, 312), 316);
  EXPECT_EQ(GaugeFillWidth(90, 180, 232), 120);
  EXPECT_EQ(GaugeFillWidth(0, 1000, 232), 4);
  EXPECT_EQ(GaugeFillWidth(50, 0, 312), 4);  // a zero maximum draws an empty gauge
  EXPECT_LE(GaugeFillWidth(-10, 64, 312), 0);
}

}  // namespace
