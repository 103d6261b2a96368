// Items, steps, shots and score popups.
#include "game/stage_objects.h"

#include "game/collisions.h"
#include "game/game_math.h"
#include "game/sound.h"

std::uint8_t AdvanceAnimation(std::uint8_t counter, int frames, int framesPerStep) {
  int period = frames * framesPerStep;
  if (period == 0) period = 1;
  return static_cast<std::uint8_t>((counter + 1) % period);
}

void FreeShot(GameBody& shot) {
  shot.x = 0;
  shot.y = 0;
  shot.vx = 0;
  shot.vy = 0;
  shot.extra = 0;
  shot.kind = kFreeKind;
  shot.last = 0;
}

void FreeItem(GameBody& item) { item.kind = kFreeKind; }

void DropItem(std::uint8_t kind, const GameBody& at) {
  if (kind == kNoItem || kind >= kItemKindCount) return;
  for (GameBody& item : game.items) {
    if (item.kind != kFreeKind) continue;
    const ItemType& type = tables.items[kind];
    item = GameBody{};
    item.x = at.x;
    item.y = at.y;
    item.left = type.box.left;
    item.right = type.box.right;
    item.top = type.box.top;
    item.bottom = type.box.bottom;
    item.extra = static_cast<std::uint16_t>(type.cellWidth);
    item.kind = kind;
    item.last = 0;
    return;
  }
}

namespace {

void TakeCheckpoint(const GameBody& item) {
  game.restartColumn = Wrap16((item.x / 16 + game.scrollPosition) / 32);
  game.restartRow = static_cast<std::uint8_t>((item.y / 16) / 32);
  game.streakCopy = game.streaks;
  game.streakCopy[StreakEnemyComp] = 0;
  game.streakCopy[StreakItemComp] = 0;
}

}  // namespace

void CollectItem(int slot) {
  GameBody& item = game.items[slot];
  game.streaks[StreakNoItem] = 0;
  PlayEffect(EffectItem);
  PlayerRecord& player = game.player;
  const int maxHp = tables.player.maxHp;
  switch (item.kind) {
    case 0:
      if (player.hp == maxHp) {
        game.stageScore = WrapAdd(game.stageScore, 50000);
        SpawnPopup(50000, item.x, item.y);
      } else {
        player.hp = Wrap16(player.hp + 16 > maxHp ? maxHp : player.hp + 16);
      }
      break;
    case 1: player.power = 1000; break;
    case 2: player.barrier = 500; break;
    case 3: TakeCheckpoint(item); break;
    case 4:
      ++game.lives;
      TakeCheckpoint(item);
      break;
    case 5:
      game.stageScore = WrapAdd(game.stageScore, 100000);
      SpawnPopup(100000, item.x, item.y);
      break;
    default: break;
  }
  FreeItem(item);
}

void UpdateItems() {
  for (GameBody& item : game.items) {
    if (item.kind == kFreeKind) continue;
    const ItemType& type = tables.items[item.kind];
    item.last = AdvanceAnimation(item.last, type.animationFrames, type.framesPerStep);
    item.x = Wrap16(item.x - game.scrollSpeed);
    if (RightEdge(item) < -512 || TopEdge(item) > 8192 || BottomEdge(item) < -512) {
      game.streaks[StreakItemComp] = 0;
      FreeItem(item);
    }
  }
}

void SpawnStep(const EnemyRecord& enemy) {
  if (enemy.carriedItem != kNoItem || !(tables.enemies[enemy.body.kind].flags & EnemyLeavesStep))
    return;
  int free = 0;
  while (free < kStepSlots && game.steps[free].kind != kFreeKind) ++free;
  if (free == kStepSlots) return;
  int at = 0;
  while (at < free && game.steps[at].y < enemy.body.y) ++at;
  for (int i = free; i > at; --i) game.steps[i] = game.steps[i - 1];
  GameBody step;
  step.x = enemy.body.x;
  step.y = enemy.body.y;
  step.vx = enemy.body.vx;
  step.vy = enemy.body.vy;
  step.left = -16;
  step.right = 16;
  step.top = -16;
  step.bottom = 16;
  step.kind = 0;
  game.steps[at] = step;
}

void UpdateSteps() {
  int removed = 0;
  for (int i = 0; i < kStepSlots;) {
    if (removed > 0) {
      if (i + removed < kStepSlots)
        game.steps[i] = game.steps[i + removed];
      else
        game.steps[i] = GameBody{};
    }
    GameBody& step = game.steps[i];
    if (step.kind != kFreeKind) {
      step.x = Wrap16(step.x - game.scrollSpeed);
      if (RightEdge(step) < 0) {
        step = GameBody{};
        ++removed;
        continue;  // the slot takes the next step and is handled again
      }
    }
    ++i;
  }
}

namespace {

// Returns false when the shot was freed.
bool MeetBlocksAndSteps(GameBody& shot, std::uint8_t flags) {
  for (const StageBlock& block : game.blocks) {
    if (!BodyLandsOnBlock(block, shot, game.scrollPosition)) continue;
    if (!(flags & ShotBounces)) {
      FreeShot(shot);
      return false;
    }
    shot.vy = Wrap16(-shot.vy);
    break;
  }
  for (const GameBody& step : game.steps) {
    if (!BodyLandsOnStep(step, shot)) continue;
    if (!(flags & ShotBounces)) {
      FreeShot(shot);
      return false;
    }
    shot.vy = Wrap16(-shot.vy);
    break;
  }
  return true;
}

void UpdateShot(GameBody& shot) {
  if (shot.kind == kFreeKind) return;
  if (shot.kind >= kShotTypeCount) {
    FreeShot(shot);
    return;
  }
  const ShotType& type = tables.shots[shot.kind];
  shot.last = AdvanceAnimation(shot.last, type.animationFrames, type.framesPerStep);
  if (type.flags & ShotGravity) shot.vy = Wrap16(shot.vy + 8);
  if (!(type.flags & ShotPassesBlocks) && !MeetBlocksAndSteps(shot, type.flags)) return;
  if ((type.flags & ShotBouncesOffEdges) && (BottomEdge(shot) > 7680 || TopEdge(shot) < 0))
    shot.vy = Wrap16(-shot.vy);
  shot.x = Wrap16(shot.x + shot.vx);
  shot.y = Wrap16(shot.y + shot.vy);
  if (LeftEdge(shot) > 10752 || RightEdge(shot) < -512 || TopEdge(shot) > 8192 ||
      BottomEdge(shot) < -512)
    FreeShot(shot);
}

}  // namespace

void UpdateShots() {
  for (GameBody& shot : game.shots) UpdateShot(shot);
  for (GameBody& bullet : game.bullets) UpdateShot(bullet);
}

void SpawnPopup(std::int32_t value, int x, int y) {
  for (ScorePopup& popup : game.popups) {
    if (popup.timer != -1) continue;
    popup.x = Wrap16(x);
    popup.y = Wrap16(y);
    popup.timer = 20;
    popup.value = value;
    return;
  }
}

void UpdatePopups() {
  for (ScorePopup& popup : game.popups) {
    if (popup.timer < 0) continue;
    popup.x = Wrap16(popup.x - game.scrollSpeed);
    --popup.timer;
  }
}
