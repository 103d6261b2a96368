// Geometry of bodies and the collision pass.
#include "game/collisions.h"

#include <algorithm>
#include <cmath>

#include "game/enemies.h"
#include "game/game_math.h"
#include "game/sound.h"
#include "game/stage_objects.h"

std::int16_t LeftEdge(const GameBody& body) { return Wrap16(body.x + body.left * 16); }
std::int16_t RightEdge(const GameBody& body) { return Wrap16(body.x + body.right * 16); }
std::int16_t TopEdge(const GameBody& body) { return Wrap16(body.y + body.top * 16); }
std::int16_t BottomEdge(const GameBody& body) { return Wrap16(body.y + body.bottom * 16); }

bool BodiesOverlap(const GameBody& a, const GameBody& b) {
  return LeftEdge(a) < RightEdge(b) && LeftEdge(b) < RightEdge(a) && TopEdge(a) < BottomEdge(b) &&
         TopEdge(b) < BottomEdge(a);
}

bool BodyLandsOnBlock(const StageBlock& block, const GameBody& body, std::int32_t scrollPosition) {
  if (block.type == kFreeKind || body.vy <= 0) return false;
  const int top = block.topRow * 32;
  return LeftEdge(body) / 16 < (block.column + block.width) * 32 - scrollPosition &&
         RightEdge(body) / 16 > block.column * 32 - scrollPosition &&
         BottomEdge(body) / 16 <= top && Wrap16(BottomEdge(body) + body.vy) / 16 > top;
}

bool BodyLandsOnStep(const GameBody& step, const GameBody& body) {
  if (step.kind == kFreeKind || body.vy <= 0) return false;
  return LeftEdge(body) < RightEdge(step) && RightEdge(body) > LeftEdge(step) &&
         BottomEdge(body) <= TopEdge(step) && Wrap16(BottomEdge(body) + body.vy) > TopEdge(step);
}

double AngleBetween(const GameBody& a, const GameBody& b) {
  const double dx = a.x - b.x;
  const double dy = a.y - b.y;
  const std::int16_t distance = TruncateToInt16(std::sqrt(dx * dx + dy * dy));
  if (distance == 0) return 0.0;
  // A distance that wrapped in 16 bits can push the cosine out of range.
  const double cosine = std::clamp(static_cast<double>(b.x - a.x) / distance, -1.0, 1.0);
  return b.y > a.y ? std::acos(cosine) : kTwoPi - std::acos(cosine);
}

namespace {

void HurtPlayer(int damage) {
  game.player.hp = Wrap16(game.player.hp - damage);
  game.streaks[StreakNoDamage] = 0;
  game.player.blink = 10;
  PlayEffect(EffectDamage);
}

void DestroyEnemy(EnemyRecord& enemy) {
  const EnemyType& type = tables.enemies[enemy.body.kind];
  if (enemy.body.kind >= kBossTypeFirst) --game.bossCounter;
  SpawnStep(enemy);
  game.stageScore = WrapAdd(game.stageScore, type.score);
  DropItem(enemy.carriedItem, enemy.body);
  if (type.score != 0)
    SpawnPopup(static_cast<std::int32_t>(type.score), enemy.body.x, enemy.body.y);
  if (!(type.flags & EnemyStaysDestroyed)) ClearEnemy(enemy);
  PlayEffect(EffectEnemyDestroyed);
}

void ShotsAgainstEnemies() {
  for (EnemyRecord& enemy : game.enemies) {
    if (enemy.body.kind == kFreeKind) continue;
    for (GameBody& shot : game.shots) {
      if (shot.kind == kFreeKind || !BodiesOverlap(enemy.body, shot)) continue;
      const EnemyType& type = tables.enemies[enemy.body.kind];
      ++enemy.hits;
      if (!(type.flags & EnemyShotProof)) {
        enemy.hp = Wrap16(enemy.hp - shot.extra);
        enemy.flash = (enemy.flash & 1) ? 9 : 10;  // the blink keeps its phase
      }
      FreeShot(shot);
      if (enemy.hp > 0) continue;
      DestroyEnemy(enemy);
      break;
    }
  }
}

void EnemiesAgainstPlayer() {
  if (game.player.barrier > 0) return;
  for (EnemyRecord& enemy : game.enemies) {
    if (enemy.body.kind == kFreeKind || !BodiesOverlap(enemy.body, game.player.body)) continue;
    const std::uint8_t flags = tables.enemies[enemy.body.kind].flags;
    const bool ordinary = !(flags & EnemyShotProof) && enemy.body.kind < kBossTypeFirst;
    if (ordinary || enemy.flash == 0) HurtPlayer(enemy.body.extra);
    if (ordinary) {
      if (!(flags & EnemyCompExempt)) game.streaks[StreakEnemyComp] = 0;
      ClearEnemy(enemy);
    } else {
      enemy.flash = 4;
    }
  }
}

void BulletsAgainstPlayer() {
  for (GameBody& bullet : game.bullets) {
    if (bullet.kind == kFreeKind || !BodiesOverlap(bullet, game.player.body)) continue;
    if (game.player.barrier > 0)
      --game.player.barrier;
    else
      HurtPlayer(bullet.extra);
    FreeShot(bullet);
  }
}

void ItemsAgainstPlayer() {
  for (int slot = 0; slot < kItemSlots; ++slot) {
    if (game.items[slot].kind == kFreeKind || !BodiesOverlap(game.items[slot], game.player.body))
      continue;
    CollectItem(slot);
  }
}

}  // namespace

void ResolveCollisions() {
  ShotsAgainstEnemies();
  EnemiesAgainstPlayer();
  BulletsAgainstPlayer();
  ItemsAgainstPlayer();
}
