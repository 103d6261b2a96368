// The heads-up display and the stage result, drawn through the engine.
#include "game/hud.h"

#include <algorithm>
#include <cstdio>

#include "engine.h"
#include "game/bitmap_text.h"
#include "game/game_math.h"
#include "game/game_state.h"
#include "game/scoring.h"
#include "game/screen_layout.h"

namespace {

void DrawGauge(int x, int y, int frame, int fill, int width, int height) {
  DrawGraphAtPoint(x, y, frame, 1);
  // A negative HP on the frame of a miss gives no fill at all.
  if (width > 0) DrawGraphPart(x, y, 0, 0, width, height, fill, 1, 0);
}

}  // namespace

void DrawHud() {
  char text[64];
  const int goalX = game.goalColumn * 32 - game.scrollPosition;
  if (game.goalColumn <= game.scrollPosition / 32 + 20) {
    DrawGraphAtPoint(goalX - 2, 0, tables.goalGraph, 1);
    if (game.playState != PlayStageEnd && game.stageFrame % 20 < 10)
      DrawBitmapText(kWhite, goalX + 2, 32, "GOAL", 1);
  }
  const bool running = game.playState == PlayRunning || game.playState == PlayPaused;
  const std::int32_t current = running ? WrapAdd(game.score, game.stageScore) : game.score;
  if (game.sceneNumber == ScenePlay) {
    std::snprintf(text, sizeof text, "HI : %8d", std::max(game.save.highScores[0], current));
    DrawBitmapText(kWhite, 4, 4, text, 1);
  }
  std::snprintf(text, sizeof text, "SCORE : %8d", current);
  DrawBitmapText(kWhite, 192, 4, text, 1);
  std::snprintf(text, sizeof text, "LIFE : %2d", game.lives == kGameOverLives ? 0 : game.lives);
  DrawBitmapText(kWhite, 420, 4, text, 1);
  std::snprintf(text, sizeof text, "%d-%d", game.stage / 4 + 1, game.stage % 4 + 1);
  DrawBitmapText(kWhite, 560, 4, text, 2);
  const PlayerRecord& player = game.player;
  DrawGauge(384, 428, tables.hoverGaugeGraphs[0], tables.hoverGaugeGraphs[1],
            GaugeFillWidth(player.hover, tables.player.hoverMax, 232), 24);
  DrawGauge(384, 452, tables.hoverGaugeGraphs[0], tables.hoverGaugeGraphs[2],
            GaugeFillWidth(player.power, 1000, 232), 32);
  DrawGauge(64, 444, tables.hpGaugeGraphs[0], tables.hpGaugeGraphs[1],
            GaugeFillWidth(player.hp, tables.player.maxHp, 312), 32);
}

void DrawStageResult() {
  char text[64];
  for (int i = 0; i < 8; ++i) {
    const int counter = game.streaks[i];
    if (counter == 0) continue;
    DrawBitmapText(kWhite, 20, 96 + 16 * i, StreakBonusNames[i], 1);
    std::snprintf(text, sizeof text, "+%9d x%2d", StreakBonusBases[i], counter);
    DrawBitmapText(kWhite, 200, 96 + 16 * i, text, 1);
  }
  std::snprintf(text, sizeof text, "STAGE SCORE: %9d", game.stageScore);
  DrawBitmapText(kWhite, 320, 48, text, 1);
  DrawBitmapText(kWhite, 212, 224, game.lives == kGameOverLives ? "GAME OVER" : "  CLEAR", 2);
}
