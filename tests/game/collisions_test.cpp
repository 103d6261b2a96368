// Body geometry, the one double-to-integer conversion and the collision pass.
#include <gtest/gtest.h>

#include <cmath>

#include "game/collisions.h"
#include "game/enemies.h"
#include "game/game_math.h"
#include "stage_fixture.h"

using namespace gametest;

namespace {

GameBody Box(int x, int y, int half) {
  GameBody body;
  body.x = static_cast<std::int16_t>(x);
  body.y = static_cast<std::int16_t>(y);
  body.left = body.top = static_cast<std::int16_t>(-half);
  body.right = body.bottom = static_cast<std::int16_t>(half);
  body.kind = 0;
  return body;
}

TEST(GeometryTest, TouchingBoxesDoNotOverlap) {
  EXPECT_FALSE(BodiesOverlap(Box(0, 0, 10), Box(320, 0, 10)));
  EXPECT_TRUE(BodiesOverlap(Box(0, 0, 10), Box(319, 0, 10)));
  EXPECT_FALSE(BodiesOverlap(Box(0, 0, 10), Box(0, 320, 10)));
  EXPECT_TRUE(BodiesOverlap(Box(0, 0, 10), Box(0, 0, 1)));
}

TEST(GeometryTest, LandingNeedsAFallThatCrossesTheTop) {
  StageBlock block;
  block.column = 0;
  block.width = 4;
  block.topRow = 10;  // top at 320 pixels
  block.type = 0;
  GameBody body = Box(800, (320 - 10) * 16, 10);   // bottom edge exactly on the top
  EXPECT_FALSE(BodyLandsOnBlock(block, body, 0));  // at rest
  body.vy = 16;
  EXPECT_TRUE(BodyLandsOnBlock(block, body, 0));
  body.y -= 32;  // 2 pixels above: a 1-pixel fall does not reach the top
  EXPECT_FALSE(BodyLandsOnBlock(block, body, 0));
  body.y += 32;
  EXPECT_FALSE(BodyLandsOnBlock(block, body, 200));  // the block has scrolled away
  block.type = kFreeKind;
  EXPECT_FALSE(BodyLandsOnBlock(block, body, 0));
}

TEST(GeometryTest, AnglesPointFromAToB) {
  const GameBody a = Box(1000, 1000, 1);
  struct Case {
    int x, y;
    double angle;
  };
  // Below a's centre the angle is acos(e); level with or above it, the single-precision 2 pi
  // minus acos(e).
  for (const Case c : {Case{2000, 1000, kTwoPi}, Case{1000, 2000, std::acos(0.0)},
                       Case{0, 1000, kTwoPi - std::acos(-1.0)},
                       Case{1000, 0, kTwoPi - std::acos(0.0)}, Case{1000, 1000, 0.0}}) {
    SCOPED_TRACE(c.x * 10000 + c.y);
    EXPECT_DOUBLE_EQ(AngleBetween(a, Box(c.x, c.y, 1)), c.angle);
  }
}

TEST(GeometryTest, FarApartBodiesGiveAnAngleNotNaN) {
  // The distance wraps in 16 bits, which used to push the cosine out of range.
  const double angle = AngleBetween(Box(-30000, -30000, 1), Box(30000, 30000, 1));
  EXPECT_TRUE(std::isfinite(angle));
  EXPECT_GE(angle, 0.0);
  EXPECT_LE(angle, kTwoPi);
}

TEST(GeometryTest, DoubleToIntegerConversionIsDefinedEverywhere) {
  EXPECT_EQ(TruncateToInt32(-3.7), -3);
  EXPECT_EQ(TruncateToInt32(3.99), 3);
  EXPECT_EQ(TruncateToInt32(std::nan("")), INT32_MIN);
  EXPECT_EQ(TruncateToInt32(1e10), INT32_MIN);
  EXPECT_EQ(TruncateToInt32(-1e10), INT32_MIN);
  EXPECT_EQ(TruncateToInt32(2147483647.5), 2147483647);
  EXPECT_EQ(TruncateToInt16(70000.0), 4464);
  EXPECT_EQ(TruncateToInt16(std::nan("")), 0);
}

class CollisionTest : public StageTest {
 protected:
  void SetUp() override {
    StageTest::SetUp();
    for (EnemyRecord& enemy : game.enemies) ClearEnemy(enemy);
  }
  GameBody& BulletOnPlayer(int slot) {
    GameBody& bullet = game.bullets[slot];
    bullet = game.player.body;
    bullet.kind = 1;
    bullet.extra = 8;
    return bullet;
  }
};

TEST_F(CollisionTest, ABarrierOfThreeAbsorbsThreeBullets) {
  game.player.barrier = 3;
  for (int i = 0; i < 4; ++i) BulletOnPlayer(i);
  ResolveCollisions();
  EXPECT_EQ(game.player.barrier, 0);
  EXPECT_EQ(game.player.hp, 64 - 8);
  EXPECT_EQ(game.player.blink, 10);
  EXPECT_EQ(game.streaks[StreakNoDamage], 0);
  EXPECT_EQ(ActiveBullets(), 0);
  EXPECT_EQ(Count("play 112 1 1"), 1);
}

TEST_F(CollisionTest, AKillIsNotShared) {
  tables.enemies[5].hp = 1;
  const int slot = SpawnEnemy(8000, 3000, 5, 0);
  for (int i = 0; i < 2; ++i) {
    game.shots[i] = game.enemies[slot].body;
    game.shots[i].kind = 0;
    game.shots[i].extra = 1;
  }
  ResolveCollisions();
  EXPECT_FALSE(SpawnedEnemyPlaced(slot));
  EXPECT_EQ(ActiveShots(), 1);
  EXPECT_EQ(game.stageScore, 1000);
  EXPECT_EQ(game.popups[0].value, 1000);
  EXPECT_EQ(Count("play 113 1 1"), 1);
}

TEST_F(CollisionTest, ADestroyedEnemyThatStaysStillHurts) {
  tables.enemies[5].flags = EnemyStaysDestroyed | 1;
  tables.enemies[5].contactDamage = 5;
  const int slot = SpawnEnemy(8000, 3000, 5, 0);
  game.enemies[slot].hp = 0;
  game.enemies[slot].body.x = game.player.body.x;
  game.enemies[slot].body.y = game.player.body.y;
  ResolveCollisions();
  EXPECT_EQ(game.player.hp, 59);
  EXPECT_FALSE(SpawnedEnemyPlaced(slot));  // an ordinary enemy is removed by the contact
}

TEST_F(CollisionTest, ABossHurtsAgainOnlyAfterItsFlash) {
  game.bossCounter = 1;
  const int slot = SpawnEnemy(8000, 3000, 23, 0);
  EnemyRecord& boss = game.enemies[slot];
  boss.body.x = game.player.body.x;
  boss.body.y = game.player.body.y;
  ResolveCollisions();
  EXPECT_EQ(game.player.hp, 64 - 24);
  EXPECT_EQ(boss.flash, 4);
  ResolveCollisions();
  EXPECT_EQ(game.player.hp, 64 - 24);
  boss.flash = 0;
  ResolveCollisions();
  EXPECT_EQ(game.player.hp, 64 - 48);
  game.player.barrier = 1;
  boss.flash = 0;
  ResolveCollisions();
  EXPECT_EQ(game.player.hp, 64 - 48);
}

TEST_F(CollisionTest, KillingABossLowersTheCounterAndDropsItsItem) {
  game.bossCounter = 1;
  const int slot = SpawnEnemy(8000, 3000, 23, 0);
  game.enemies[slot].hp = 1;
  game.enemies[slot].carriedItem = 5;
  game.shots[0] = game.enemies[slot].body;
  game.shots[0].kind = 0;
  game.shots[0].extra = 1;
  ResolveCollisions();
  EXPECT_EQ(game.bossCounter, 0);
  EXPECT_EQ(game.items[0].kind, 5);
  EXPECT_EQ(game.items[0].x, 8000);
  EXPECT_EQ(game.stageScore, 50000);
}

}  // namespace
