// The enemy and enemy bullet pools and the enemy update.
#include "game/enemies.h"

#include <cmath>

#include "game/collisions.h"
#include "game/game_math.h"
#include "game/host_calls.h"
#include "game/stage_objects.h"

void ClearEnemy(EnemyRecord& enemy) {
  enemy.body.x = 0;
  enemy.body.y = 0;
  enemy.body.vx = 0;
  enemy.body.vy = 0;
  enemy.body.extra &= 0xFF00;
  enemy.body.kind = kFreeKind;
  enemy.body.last = 0;
  enemy.carriedItem = kNoItem;
  enemy.hits = 0;
  enemy.phase = 255;
  enemy.hp = 0;
  enemy.timer = 0;
  enemy.animation = 0;
  enemy.flash = 0;
}

const EnemyType& TypeOf(const EnemyRecord& enemy) { return tables.enemies[enemy.body.kind]; }

int SpawnEnemy(int x, int y, int type, int parameter) {
  for (int slot = 0; slot < kEnemySlots; ++slot) {
    EnemyRecord& enemy = game.enemies[slot];
    if (enemy.body.kind != kFreeKind) continue;
    ClearEnemy(enemy);
    const EnemyType& record = tables.enemies[type];
    enemy.body.x = Wrap16(x);
    enemy.body.y = Wrap16(y);
    enemy.timer = Wrap16(parameter);
    enemy.body.kind = static_cast<std::uint8_t>(type);
    enemy.body.last = 0;
    enemy.body.left = record.box.left;
    enemy.body.right = record.box.right;
    enemy.body.top = record.box.top;
    enemy.body.bottom = record.box.bottom;
    enemy.body.extra = record.contactDamage;
    enemy.hp = record.hp;
    if (BodiesOverlap(enemy.body, game.player.body)) ClearEnemy(enemy);
    return slot;
  }
  return -1;
}

bool SpawnedEnemyPlaced(int slot) { return slot >= 0 && game.enemies[slot].body.kind != kFreeKind; }

void SetVelocityAlong(GameBody& body, double theta, double speed) {
  body.vx = TruncateToInt16(std::cos(theta) * speed);
  body.vy = TruncateToInt16(std::sin(theta) * speed);
}

int WorldColumn(const GameBody& body) { return (body.x / 16 + game.scrollPosition) / 32; }

double AimAtPlayer(const EnemyRecord& enemy) { return AngleBetween(enemy.body, game.player.body); }

void FireEnemyBulletAngle(EnemyRecord& enemy, int flags, double angle) {
  for (GameBody& bullet : game.bullets) {
    if (bullet.kind != kFreeKind) continue;
    const int shotType = TypeOf(enemy).bulletType;
    // A type table naming a shot type that does not exist fires nothing.
    if (shotType >= kShotTypeCount) return;
    const ShotType& type = tables.shots[shotType];
    bullet.kind = static_cast<std::uint8_t>(shotType);
    bullet.x = enemy.body.x;
    bullet.y = enemy.body.y;
    bullet.left = type.box.left;
    bullet.right = type.box.right;
    bullet.top = type.box.top;
    bullet.bottom = type.box.bottom;
    bullet.extra = type.damage;
    bullet.last = 0;
    SetVelocityAlong(bullet, angle, type.speed);
    if (flags & 1) bullet.vx = Wrap16(bullet.vx - game.scrollSpeed);
    if (flags & 2) {
      bullet.vx = Wrap16(bullet.vx + enemy.body.vx);
      bullet.vy = Wrap16(bullet.vy + enemy.body.vy);
    }
    return;
  }
  if (hostCalls.debugOutput) hostCalls.debugOutput("生成すべき敵弾が生成できませんでした\n");
}

void FireEnemyBullet(EnemyRecord& enemy, int flags) {
  FireEnemyBulletAngle(enemy, flags, enemy.angle);
}

int MoveEnemyToward(EnemyRecord& enemy, int targetX, int targetY, int speed) {
  GameBody target;
  target.x = Wrap16(targetX);
  target.y = Wrap16(targetY);
  if (enemy.timer == -1) {
    enemy.timer = 0;
    SetVelocityAlong(enemy.body, AngleBetween(enemy.body, target), speed);
  }
  const double dx = enemy.body.x - target.x;
  const double dy = enemy.body.y - target.y;
  if (TruncateToInt32(std::sqrt(dx * dx + dy * dy)) <= speed) {
    enemy.body.vx = 0;
    enemy.body.vy = 0;
    enemy.body.x = target.x;
    enemy.body.y = target.y;
    ++enemy.phase;
    enemy.timer = -1;
    return 0;
  }
  return 1;
}

namespace {

void Drift(EnemyRecord& enemy, const EnemyType& type) {
  const int v = type.speed;
  const int s = game.scrollSpeed;
  int x = enemy.body.x;
  switch (type.flags & EnemyDriftMask) {
    case 0: x -= v; break;
    case 1: x -= v + s; break;
    case 2: x += v - s; break;
    default: x -= (v * s) / 128; break;
  }
  enemy.body.x = Wrap16(x);
}

void FallAndLand(EnemyRecord& enemy) {
  GameBody& body = enemy.body;
  body.vy = Wrap16(body.vy + 16);
  for (const StageBlock& block : game.blocks) {
    if (BodyLandsOnBlock(block, body, game.scrollPosition)) {
      body.vy = 0;
      body.y = Wrap16((block.topRow * 32 - body.bottom) * 16);
    }
  }
  for (const GameBody& step : game.steps) {
    if (BodyLandsOnStep(step, body)) {
      body.vy = 0;
      body.y = Wrap16((step.top - body.bottom) * 16 + step.y);
    }
  }
}

bool OffScreen(const GameBody& body) {
  return RightEdge(body) < -512 || TopEdge(body) > 8192 || BottomEdge(body) < -512;
}

}  // namespace

void UpdateEnemies() {
  for (EnemyRecord& enemy : game.enemies) {
    if (enemy.body.kind == kFreeKind) continue;
    EnemyBehaviourTable[enemy.body.kind](enemy);
    if (enemy.body.kind == kFreeKind) continue;
    const EnemyType& type = TypeOf(enemy);
    if (enemy.flash > 0) --enemy.flash;
    enemy.animation = AdvanceAnimation(enemy.animation, type.animationFrames, type.framesPerStep);
    Drift(enemy, type);
    enemy.body.x = Wrap16(enemy.body.x + enemy.body.vx);
    if (type.flags & EnemyGravity) FallAndLand(enemy);
    enemy.body.y = Wrap16(enemy.body.y + enemy.body.vy);
    if (OffScreen(enemy.body)) {
      if (!(type.flags & (EnemyShotProof | EnemyCompExempt))) game.streaks[StreakEnemyComp] = 0;
      if (enemy.carriedItem != kNoItem) game.streaks[StreakItemComp] = 0;
      ClearEnemy(enemy);
    }
  }
}
