// The stage's objects drawn through the engine.
#include "game/stage_drawing.h"

#include <array>

#include "engine.h"
#include "game/game_state.h"
#include "game/screen_layout.h"
#include "game/stage_map.h"

namespace {

int FrameOf(std::uint8_t animation, int framesPerStep) {
  return framesPerStep == 0 ? 0 : animation / framesPerStep;
}

void DrawCell(const GameBody& body, int cellX, int cellWidth, int cellHeight, int graph) {
  DrawGraphPart(body.x / 16 - cellWidth / 2, body.y / 16 - cellHeight / 2, cellX, 0, cellWidth,
                cellHeight, graph, 1, 0);
}

void DrawShot(const GameBody& shot) {
  if (shot.kind >= kShotTypeCount) return;
  const ShotType& type = tables.shots[shot.kind];
  DrawCell(shot, type.cellWidth * FrameOf(shot.last, type.framesPerStep), type.cellWidth,
           type.cellHeight, type.graph);
}

}  // namespace

void DrawBlocks() {
  const int scroll = game.scrollPosition;
  for (int row = 0; row < 16; ++row) {
    for (const StageBlock& block : game.blocks) {
      if (block.type == kFreeKind || block.topRow != row) continue;
      const BlockType& type = tables.blocks[block.type];
      for (int x = block.column * 32; x < (block.column + block.width) * 32; x += 32) {
        if (x + 32 < scroll) continue;
        if (x > scroll + 640) break;
        for (int y = block.topRow * 32; y < 512; y += 32)
          DrawGraphAtPoint(x - scroll, y, type.tiles[BlockTileIndex(block, x, y)], 1);
      }
    }
  }
}

void DrawSteps() {
  const int graph = tables.stepGraphs[game.stage % kStageCount];
  for (const GameBody& step : game.steps)
    if (step.kind != kFreeKind) DrawGraphAtPoint(step.x / 16 - 16, step.y / 16 - 16, graph, 1);
}

void DrawItems() {
  for (const GameBody& item : game.items) {
    if (item.kind >= kItemKindCount) continue;
    const ItemType& type = tables.items[item.kind];
    DrawCell(item, type.cellWidth * FrameOf(item.last, type.framesPerStep), type.cellWidth,
             type.cellHeight, type.graph);
  }
}

void DrawEnemies() {
  for (int pass = 0; pass < 2; ++pass) {
    for (const EnemyRecord& enemy : game.enemies) {
      if (enemy.body.kind == kFreeKind || (enemy.body.kind >= kBossTypeFirst) != (pass == 1))
        continue;
      const EnemyType& type = tables.enemies[enemy.body.kind];
      if (!(type.flags & EnemyShotProof) && enemy.flash % 2 != 0) continue;
      const int cell =
          type.animationFrames * enemy.body.last + FrameOf(enemy.animation, type.framesPerStep);
      DrawCell(enemy.body, cell * type.cellWidth, type.cellWidth, type.cellHeight, type.graph);
    }
  }
}

void DrawShots() {
  for (const GameBody& shot : game.shots)
    if (shot.kind != kFreeKind) DrawShot(shot);
  for (const GameBody& bullet : game.bullets)
    if (bullet.kind != kFreeKind) DrawShot(bullet);
}

void DrawPlayer() {
  const PlayerRecord& player = game.player;
  if (player.blink % 2 != 0) return;
  const PlayerType& type = tables.player;
  // The barrier pose blinks during the barrier's last 100 frames.
  const int pose = (player.barrier >= 100 || player.barrier % 10 >= 5) ? 1 : 0;
  const int cell = type.animationFrames * pose + FrameOf(player.animation, type.framesPerStep);
  DrawCell(player.body, cell * type.cellWidth, type.cellWidth, type.cellHeight, type.graph);
}

void DrawPopups() {
  for (const ScorePopup& popup : game.popups) {
    if (popup.timer < 0) continue;
    std::array<int, 6> digits{};
    const int count = PopupDigits(popup.value, digits);
    for (int i = 0; i < count; ++i)
      DrawGraphAtPoint(popup.x / 16 + 24 - 8 * i, popup.y / 16, tables.digitGraphs[digits[i]], 1);
  }
}

void DrawStage() {
  DrawBlocks();
  DrawSteps();
  DrawItems();
  DrawEnemies();
  DrawShots();
  DrawPlayer();
  DrawPopups();
}
