// Control byte sampling and the player's update.
#include "game/player.h"

#include <algorithm>

#include "game/collisions.h"
#include "game/game_math.h"
#include "game/game_state.h"
#include "game/keys.h"
#include "game/replay.h"
#include "game/sound.h"
#include "game/stage_objects.h"

void SampleControlByte() {
  PlayerRecord& player = game.player;
  player.control = 0;
  if (game.playState != PlayRunning) return;
  const int direction = MostRecentlyPressedKey({KeyLeft, KeyRight});
  if (direction == KeyLeft) player.control |= ControlLeft;
  if (direction == KeyRight) player.control |= ControlRight;
  // A jump needs a fresh press; a hover lasts while the key is down.
  const bool jump = player.jumpState == 1 ? KeyHoldCounters[KeyZ] != 0 : KeyPressed(KeyZ);
  if (jump) player.control |= ControlJump;
  if (KeyPressed(KeyDown)) player.control |= ControlDrop;
  if (KeyHoldCounters[KeyX] % 4 == 1) player.control |= ControlFire;
  if (game.config.saveReplays) AppendControlByte(player.control);
}

namespace {

void FireShot(int y, bool doubleShot) {
  for (GameBody& shot : game.shots) {
    if (shot.kind != kFreeKind) continue;
    const ShotType& type = tables.shots[0];
    shot = game.player.body;
    shot.y = Wrap16(y);
    shot.left = type.box.left;
    shot.right = type.box.right;
    shot.top = type.box.top;
    shot.bottom = type.box.bottom;
    shot.extra = type.damage;
    shot.kind = 0;
    shot.last = 0;
    shot.vx = type.speed;
    shot.vy = 0;
    game.streaks[StreakNoShot] = 0;
    if (doubleShot)
      game.player.power = static_cast<std::int16_t>(std::max(game.player.power - 8, 0));
    return;
  }
}

void MoveSideways(PlayerRecord& player) {
  GameBody& body = player.body;
  const int s = game.scrollSpeed;
  int step = 0;
  if (player.control & ControlLeft) {
    step = -s;
    game.streaks[StreakNonStop] = 0;
  } else if (player.control & ControlRight) {
    step = 2 * tables.player.walkSpeed - s;
  }
  body.x = Wrap16(body.x + step);
  body.vx = Wrap16(step);
  // The clamps place the box's edge on the screen's edge.
  if (LeftEdge(body) < 0) {
    body.x = Wrap16(-body.left * 16);
    body.vx = 0;
  }
  if (RightEdge(body) > 10240) {
    body.x = Wrap16((640 - body.right) * 16);
    body.vx = 0;
  }
}

void JumpAndHover(PlayerRecord& player) {
  const PlayerType& type = tables.player;
  GameBody& body = player.body;
  const bool jump = player.control & ControlJump;
  switch (player.jumpState) {
    case 0:
      if (jump) body.vy = Wrap16(body.vy - type.jumpImpulse);
      player.jumpState = 2;  // the landing test below grounds it again
      break;
    case 1:
      if (jump && player.hover >= type.hoverCost) {
        body.vy = Wrap16(body.vy - type.hoverLift);
        player.hover = Wrap16(player.hover - type.hoverCost);
      } else {
        player.jumpState = 2;
      }
      break;
    case 2:
      if (jump) {
        player.jumpState = 1;
        game.streaks[StreakNoFly] = 0;
      }
      break;
    default: break;
  }
  body.vy = Wrap16(body.vy + 16);
  if (player.jumpState == 1 && body.vy < -type.hoverRiseLimit)
    body.vy = Wrap16(-type.hoverRiseLimit);
}

// Every landing is tested with the body as it was before any landing; the last one wins.
void Land(PlayerRecord& player) {
  GameBody& body = player.body;
  const bool drop = player.control & ControlDrop;
  int y = body.y;
  int v = body.vy;
  for (const StageBlock& block : game.blocks) {
    if (block.type == kFreeKind) continue;
    const bool solid = tables.blocks[block.type].flags & 1;
    if ((solid || !drop) && BodyLandsOnBlock(block, body, game.scrollPosition)) {
      y = (block.topRow * 32 - body.bottom) * 16;
      v = 0;
      player.jumpState = 0;
    }
  }
  if (!drop) {
    for (const GameBody& step : game.steps) {
      if (BodyLandsOnStep(step, body)) {
        y = (step.top - body.bottom) * 16 + step.y;
        v = 0;
        player.jumpState = 0;
      }
    }
  }
  // A player whose whole box is below the screen stops falling.
  if (Wrap16(body.top * 16 + y) > 7680) v = 0;
  body.y = Wrap16(y + v);
  body.vy = Wrap16(v);
}

}  // namespace

void UpdatePlayer() {
  PlayerRecord& player = game.player;
  const PlayerType& type = tables.player;
  if (game.playState == PlayRunning) player.hover = Wrap16(player.hover + type.hoverRegeneration);
  if (player.hover >= type.hoverMax) player.hover = type.hoverMax;
  if (player.blink > 0) --player.blink;
  MoveSideways(player);
  JumpAndHover(player);
  Land(player);
  if (player.control & ControlFire) {
    if (player.power <= 0) {
      FireShot(player.body.y, false);
    } else {
      FireShot(player.body.y - 80, true);
      FireShot(player.body.y + 80, true);
    }
    PlayEffect(EffectFire);
  } else if (player.power > 0 && game.playState == PlayRunning) {
    player.power = static_cast<std::int16_t>(std::min(player.power + 1, 1000));
  }
  if (player.barrier > 0 && game.playState == PlayRunning) --player.barrier;
  player.animation = AdvanceAnimation(player.animation, type.animationFrames, type.framesPerStep);
}
