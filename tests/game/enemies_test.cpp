// Enemies, their bullets, the behaviours with edge cases of their own, and the bosses.
#include <gtest/gtest.h>

#include "game/collisions.h"
#include "game/enemies.h"
#include "game/game_math.h"
#include "stage_fixture.h"

using namespace gametest;

namespace {

class EnemiesTest : public StageTest {
 protected:
  void SetUp() override {
    StageTest::SetUp();
    for (EnemyRecord& enemy : game.enemies) ClearEnemy(enemy);
  }
};

TEST_F(EnemiesTest, MovingLeftAtAGivesMinusAMinusOne) {
  tables.enemies[4].paramA = 10;
  const int slot = SpawnEnemy(8000, 2000, 4, 0);
  UpdateEnemies();
  EXPECT_EQ(game.enemies[slot].body.vx, -9);
  EXPECT_EQ(game.enemies[slot].body.vy, 0);
}

TEST_F(EnemiesTest, AnEnemySpawnedOnThePlayerIsClearedButKeepsItsIndex) {
  const int slot = SpawnEnemy(game.player.body.x, game.player.body.y, 5, 0);
  EXPECT_EQ(slot, 0);
  EXPECT_FALSE(SpawnedEnemyPlaced(slot));
  EXPECT_EQ(SpawnEnemy(8000, 2000, 5, 0), 0);
  EXPECT_TRUE(SpawnedEnemyPlaced(0));
}

TEST_F(EnemiesTest, ARetaliatorAnswersThreeHitsWithSixBullets) {
  tables.enemies[6].flags = EnemyStaysDestroyed | 1;
  tables.enemies[6].hp = 10;
  const int slot = SpawnEnemy(8000, 3000, 6, 0);
  for (int i = 0; i < 3; ++i) {
    game.shots[i] = game.enemies[slot].body;
    game.shots[i].kind = 0;
    game.shots[i].extra = 1;
  }
  ResolveCollisions();
  EXPECT_EQ(game.enemies[slot].hits, 3);
  EXPECT_EQ(ActiveBullets(), 0);
  UpdateEnemies();
  EXPECT_EQ(ActiveBullets(), 6);
  game.enemies[slot].hp = 0;  // destroyed: it stays one frame for its burst
  UpdateEnemies();
  EXPECT_EQ(ActiveBullets(), 22);
  EXPECT_EQ(game.enemies[slot].body.kind, kFreeKind);
}

TEST_F(EnemiesTest, MinionsGoWhenTheBossCounterDropsToZero) {
  game.bossCounter = 1;
  const int orbiter = SpawnEnemy(8000, 2000, 8, 90);
  const int guard = SpawnEnemy(8000, 2000, 12, 0);
  const int bouncer = SpawnEnemy(8000, 2000, 18, 30);
  UpdateEnemies();
  EXPECT_TRUE(SpawnedEnemyPlaced(orbiter) && SpawnedEnemyPlaced(guard) &&
              SpawnedEnemyPlaced(bouncer));
  game.bossCounter = 0;
  UpdateEnemies();
  EXPECT_FALSE(SpawnedEnemyPlaced(orbiter));
  EXPECT_FALSE(SpawnedEnemyPlaced(bouncer));
  EXPECT_EQ(game.enemies[guard].body.kind, 4);  // the guard turns into a flyer
}

TEST_F(EnemiesTest, LeavingTheScreenEndsTheCompStreaksUnlessExempt) {
  struct Case {
    std::uint8_t flags;
    std::uint8_t carried;
    int enemyComp, itemComp;
  };
  for (const Case c : {Case{0, kNoItem, 0, 1}, Case{EnemyShotProof, kNoItem, 1, 1},
                       Case{EnemyCompExempt, 2, 1, 0}}) {
    SCOPED_TRACE(c.flags);
    game.streaks.fill(1);
    tables.enemies[5].flags = c.flags;
    const int slot = SpawnEnemy(-700, 2000, 5, 0);
    game.enemies[slot].carriedItem = c.carried;
    UpdateEnemies();
    EXPECT_FALSE(SpawnedEnemyPlaced(slot));
    EXPECT_EQ(game.streaks[StreakEnemyComp], c.enemyComp);
    EXPECT_EQ(game.streaks[StreakItemComp], c.itemComp);
  }
}

TEST_F(EnemiesTest, AFullBulletPoolDropsTheBulletWithADebuggerLine) {
  const int slot = SpawnEnemy(8000, 2000, 5, 0);
  for (GameBody& bullet : game.bullets) bullet.kind = 1;
  FireEnemyBullet(game.enemies[slot], 0);
  EXPECT_EQ(Count("debug"), 1);
}

TEST_F(EnemiesTest, BulletsTakeTheirShotTypeAndFlags) {
  const int slot = SpawnEnemy(8000, 2000, 5, 0);
  EnemyRecord& enemy = game.enemies[slot];
  enemy.body.vx = 5;
  enemy.body.vy = 7;
  FireEnemyBulletAngle(enemy, 1, kPi);
  FireEnemyBulletAngle(enemy, 2, kHalfPi);
  EXPECT_EQ(game.bullets[0].kind, 1);
  EXPECT_EQ(game.bullets[0].extra, 8);
  EXPECT_EQ(game.bullets[0].vx, -39 - 16);  // left at 40, kept in the world
  EXPECT_EQ(game.bullets[1].vx, 5);
  EXPECT_EQ(game.bullets[1].vy, 39 + 7);
  EXPECT_DOUBLE_EQ(enemy.angle, 0.0);
}

TEST_F(EnemiesTest, ABossStopsAtItsPlaceUnlessTheScrollIsStill) {
  const int slot = SpawnEnemy(10752, 3000, 23, 0);
  for (int frame = 0; frame < 200; ++frame) UpdateEnemies();
  EXPECT_EQ(game.enemies[slot].body.x, 9216);
  EXPECT_GE(game.enemies[slot].phase, 1);

  for (EnemyRecord& enemy : game.enemies) ClearEnemy(enemy);
  game.scrollSpeed = 0;
  const int still = SpawnEnemy(10752, 3000, 23, 0);
  for (int frame = 0; frame < 200; ++frame) UpdateEnemies();
  EXPECT_EQ(game.enemies[still].body.x, 10752);
  EXPECT_EQ(game.enemies[still].phase, 0);
}

TEST_F(EnemiesTest, BossTwosCounterDipClearsItsBouncers) {
  game.bossCounter = 1;
  const int slot = SpawnEnemy(9216, 3000, 25, 0);
  EnemyRecord& boss = game.enemies[slot];
  boss.phase = 1;
  boss.timer = -1;
  for (int frame = 0; frame < 40; ++frame) UpdateEnemies();
  const auto bouncers = [] {
    return std::count_if(game.enemies.begin(), game.enemies.end(),
                         [](const EnemyRecord& e) { return e.body.kind == 18; });
  };
  EXPECT_EQ(bouncers(), 5);
  boss.hp = 10;  // a quarter of its 200
  UpdateEnemies();
  EXPECT_EQ(game.bossCounter, 0);
  UpdateEnemies();
  EXPECT_EQ(bouncers(), 0);
  EXPECT_EQ(game.bossCounter, 1);
  EXPECT_EQ(boss.phase, 2);
}

TEST_F(EnemiesTest, BossThreeHealsOnceToThreeQuarters) {
  game.bossCounter = 1;
  const int slot = SpawnEnemy(9216, 3000, 26, 0);
  EnemyRecord& boss = game.enemies[slot];
  boss.phase = 1;
  boss.timer = -1;
  boss.hp = 99;
  UpdateEnemies();
  EXPECT_EQ(boss.hp, 150);
  EXPECT_EQ(boss.phase, 2);
  boss.hp = 10;
  UpdateEnemies();
  EXPECT_EQ(boss.hp, 10);
}

TEST_F(EnemiesTest, AHandedOverItemIsNotLostToACancelledSpawn) {
  game.bossCounter = 1;
  const int slot = SpawnEnemy(9216, 3000, 26, 0);
  EnemyRecord& boss = game.enemies[slot];
  boss.carriedItem = 4;
  boss.phase = 3;
  boss.body.x = 6144;
  game.player.body.x = 10496;  // the capsule's spawn point is on the player
  game.player.body.y = 5632;
  UpdateEnemies();
  EXPECT_EQ(boss.phase, 4);
  EXPECT_EQ(boss.carriedItem, 4);
}

}  // namespace
