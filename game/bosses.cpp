// The four bosses (enemy types 23-26): each enters from the right at the scroll speed, stops at
// a fixed screen position, cycles through attack phases that spawn minions and fire patterns, and
// escapes upwards once the screen has carried it past the goal column.
#include <cmath>

#include "game/enemies.h"
#include "game/game_math.h"

namespace {

bool FirstFrame(EnemyRecord& e) {
  if (e.phase != 255) return false;
  e.phase = 0;
  return true;
}

void Stop(EnemyRecord& e) {
  e.body.vx = 0;
  e.body.vy = 0;
}

void Fire(EnemyRecord& e) { FireEnemyBullet(e, 0); }
void FireAt(EnemyRecord& e, double angle) { FireEnemyBulletAngle(e, 0, angle); }

void EnterAtScrollSpeed(EnemyRecord& e) { SetVelocityAlong(e.body, kPi, game.scrollSpeed); }

// Stops at x when this frame's move would reach it; true when it stopped.
bool ArriveAt(EnemyRecord& e, int x) {
  if (e.body.x + e.body.vx > x) return false;
  e.body.x = Wrap16(x);
  Stop(e);
  return true;
}

bool PastGoal(const EnemyRecord& e) { return WorldColumn(e.body) > game.goalColumn; }

// A boss still fighting (phase up to `lastPhase`) when the scroll has carried it past the goal
// column turns to its escape phase, which starts by setting its escape course.
void EscapeWhenPastGoal(EnemyRecord& e, int lastPhase, int escapePhase) {
  if (e.phase <= lastPhase && PastGoal(e)) {
    e.phase = static_cast<decltype(e.phase)>(escapePhase);
    e.timer = -1;
  }
}

void Escape(EnemyRecord& e) {
  if (e.timer != -1) return;
  SetVelocityAlong(e.body, kThreeHalfPi, TypeOf(e).paramA);
  e.timer = 0;
}

// A spawned enemy takes over the boss's carried item, when it is really there.
void HandOverItem(EnemyRecord& boss, int slot) {
  if (!SpawnedEnemyPlaced(slot)) return;
  game.enemies[slot].carriedItem = boss.carriedItem;
  boss.carriedItem = kNoItem;
}

void FirePair(EnemyRecord& e) {
  Fire(e);
  e.angle += kPi;
  Fire(e);
  e.angle += kPi;
  e.angle -= kTwoPi;
}

void BossZeroAttack(EnemyRecord& e) {
  ++e.timer;
  if (e.timer == 0) e.angle = kFifteenSixteenthsPi;
  if (e.timer < 40) {
    FirePair(e);
    e.angle += kEighthPi;
  } else if (e.timer >= 120 && e.timer < 160) {
    FirePair(e);
    e.angle -= kEighthPi;
  }
  if (e.timer >= 240) {
    ++e.phase;
    e.timer = -1;
  }
}

// Bosses 0 and 2 come in the same way: along 15/16 pi at the scroll speed, and on reaching x 9216
// they turn to their attack (phase 1, timer -1), which starts on the next frame. True while they
// are still coming in.
bool ComeInSlanted(EnemyRecord& e) {
  if (FirstFrame(e)) {
    e.angle = kFifteenSixteenthsPi;
    EnterAtScrollSpeed(e);
  }
  if (e.phase != 0) return false;
  if (ArriveAt(e, 9216)) {
    e.phase = 1;
    e.timer = -1;
  }
  return true;
}

}  // namespace

void BossBehaviour0(EnemyRecord& e) {
  // Phase 0, the entry, has no case of its own: the frame it ends on does nothing more.
  switch (ComeInSlanted(e) ? 0 : e.phase) {
    case 1:
      if (e.timer < 128 && e.timer % 16 == 0) SpawnEnemy(e.body.x, e.body.y, 12, 0);
      BossZeroAttack(e);
      break;
    case 2:
    case 3: BossZeroAttack(e); break;
    case 4: e.phase = 1; break;
    case 5: Escape(e); break;
    default: break;
  }
  EscapeWhenPastGoal(e, 4, 5);
}

void BossBehaviour1(EnemyRecord& e) {
  if (FirstFrame(e)) {
    e.angle = kPi;
    EnterAtScrollSpeed(e);
  }
  switch (e.phase) {
    case 0:
      if (ArriveAt(e, 9728)) e.phase = 1;
      break;
    case 1: {
      e.timer = static_cast<std::int16_t>(e.timer % 80);
      const int t = e.timer;
      if (t < 30) {
        const int k = game.player.body.y <= e.body.y ? 1 : 0;
        SetVelocityAlong(e.body, (2 * k + 1) * kPi * 0.5, TypeOf(e).paramB);
      } else if (t == 30) {
        Stop(e);
      }
      if (t >= 50 && t % 2 == 0) Fire(e);
      if (e.hp <= TypeOf(e).hp / 2 && t % 40 == 0) SpawnEnemy(e.body.x, e.body.y, 17, 0);
      ++e.timer;
      break;
    }
    case 2: Escape(e); break;
    default: break;
  }
  EscapeWhenPastGoal(e, 1, 2);
}

void BossBehaviour2(EnemyRecord& e) {
  // Phase 0, the entry, has no case of its own: the frame it ends on does nothing more.
  switch (ComeInSlanted(e) ? 0 : e.phase) {
    case 1:
      ++e.timer;
      if (e.timer % 8 == 4) SpawnEnemy(e.body.x, e.body.y, 18, e.timer);
      e.timer = static_cast<std::int16_t>(e.timer % 256);
      // Lowering the boss counter for one frame clears every bouncing minion.
      if (e.hp <= TypeOf(e).hp / 4) {
        --game.bossCounter;
        e.phase = 2;
        e.timer = -1;
      }
      break;
    case 2:
      if (e.timer == -1) {
        ++game.bossCounter;
        e.timer = 0;
        SetVelocityAlong(e.body, kThreeHalfPi, TypeOf(e).paramB);
      }
      if (e.body.y + e.body.vy <= 1536) {
        e.body.y = 1536;
        Stop(e);
        e.phase = 3;
        e.timer = -1;
      }
      break;
    case 3: {
      if (e.timer == -1) {
        for (int degrees = 0; degrees <= 300; degrees += 60)
          SpawnEnemy(e.body.x, e.body.y, 8, degrees);
        HandOverItem(e, SpawnEnemy(e.body.x, e.body.y, 4, 0));
      }
      const int t = e.timer;
      if (t >= 0 && t < 256 && t % 64 == 0) SpawnEnemy(10496, (10 - t / 64) * 512, 13, 0);
      if (t % 256 > 192 && t % 16 == 0)
        for (int i = 0; i < 12; ++i) FireAt(e, i * kPi / 6);
      e.timer = static_cast<std::int16_t>((t + 1) % 512);
      break;
    }
    case 5: Escape(e); break;
    default: break;
  }
  EscapeWhenPastGoal(e, 4, 5);
}

void BossBehaviour3(EnemyRecord& e) {
  if (FirstFrame(e)) EnterAtScrollSpeed(e);
  const EnemyType& type = TypeOf(e);
  switch (e.phase) {
    case 0:
      if (ArriveAt(e, 9216)) {
        e.phase = 1;
        e.timer = -1;
      }
      break;
    case 1: {
      ++e.timer;
      if (e.timer % 4 == 0) SpawnEnemy(e.body.x, e.body.y, 19, e.timer * 6);
      e.timer = static_cast<std::int16_t>(e.timer % 240);
      const int t = e.timer;
      if (t % 60 < 30 && t % 8 == 0)
        for (int i = 0; i < 4; ++i) FireAt(e, (t / 60) * kPi * 0.125 + i * kHalfPi);
      if (t % 60 == 0) SpawnEnemy(10496, 4608, 13, 1);
      if (e.hp < type.hp / 2) {
        e.hp = static_cast<std::int16_t>(type.hp * 3 / 4);
        e.phase = 2;
        e.timer = -1;
      }
      break;
    }
    case 2:
      EnterAtScrollSpeed(e);
      e.phase = 3;
      break;
    case 3:
      if (ArriveAt(e, 6144)) {
        e.phase = 4;
        e.timer = -1;
        HandOverItem(e, SpawnEnemy(10496, 5632, 14, 0));
      }
      break;
    case 4:
    case 6: {
      const int t = e.timer;
      if (t % 64 == 0)
        for (int k = 0; k <= 270; k += 90) SpawnEnemy(e.body.x, e.body.y, 20, t * 30 / 64 + k);
      if (e.hp <= type.hp / 4 && t % 64 == 60)
        for (int i = 0; i < 12; ++i) FireAt(e, i * kPi / 6);
      if (++e.timer >= 192) {
        ++e.phase;
        e.timer = -1;
      }
      break;
    }
    case 5: MoveEnemyToward(e, 6144, 4096, type.paramB); break;
    case 7: MoveEnemyToward(e, 6144, 2048, type.paramB); break;
    case 8: e.phase = 4; break;
    case 10: Escape(e); break;
    default: break;
  }
  EscapeWhenPastGoal(e, 10, 10);
}
