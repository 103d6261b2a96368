// Scene handlers: the input and update steps of each scene with its drawing.
#include "game/scenes.h"

#include <cstdio>

#include "engine.h"
#include "game/bitmap_text.h"
#include "game/game_state.h"
#include "game/hud.h"
#include "game/menu_scenes.h"
#include "game/play_scene.h"
#include "game/stage_drawing.h"

namespace {

int Highlight(bool selected) { return selected ? kWhite : kGrey; }

void DrawTitle() {
  char text[32];
  if (TitleShowsHighScores()) {
    DrawBitmapText(kWhite, 16, 16, "HIGH SCORE", 2);
    for (int i = 0; i < 10; ++i) {
      std::snprintf(text, sizeof text, "%2d : %8d", i + 1, game.save.highScores[i]);
      DrawBitmapText(kWhite, 128, 80 + 40 * i, text, 2);
    }
    return;
  }
  DrawGraphAtPoint(64, 64, tables.titleGraph, 1);
  const int cursor = game.titleCursor;
  if (cursor == CursorPrompt) {
    if (game.stateTimer % 40 < 20) DrawBitmapText(kWhite, 188, 344, "PRESS SPACE", 2);
    return;
  }
  DrawBitmapText(Highlight(cursor == CursorStart || cursor < kStageCount), 188, 304, "START", 2);
  DrawBitmapText(Highlight(cursor == CursorHighScore), 188, 344, "HIGH SCORE", 2);
  DrawBitmapText(Highlight(cursor == CursorConfig), 188, 384, "CONFIG", 2);
  DrawBitmapText(Highlight(cursor == CursorExit), 188, 424, "EXIT", 2);
  if (cursor < kStageCount) {
    std::snprintf(text, sizeof text, "%d-%d", cursor / 4 + 1, cursor % 4 + 1);
    DrawBitmapText(kWhite, 452, 304, text, 2);
  }
}

void DrawSwitch(int y, bool on) {
  DrawBitmapText(Highlight(on), 128, y, "ON", 1);
  DrawBitmapText(Highlight(!on), 256, y, "OFF", 1);
}

void DrawLevels(int y, int volume) {
  char text[16];
  for (int k = 0; k <= 8; ++k) {
    std::snprintf(text, sizeof text, "%d", k);
    DrawBitmapText(Highlight(k == VolumeLevel(volume)), 128 + 32 * k, y, text, 1);
  }
}

void DrawConfig() {
  const GameConfig& config = game.config;
  const int cursor = game.configCursor;
  DrawBitmapText(kWhite, 64, 4, "CONFIG", 2);
  DrawBitmapText(Highlight(cursor == ConfigArcadeMode), 64, 64, "ARCADE MODE", 1);
  DrawSwitch(96, config.arcadeMode == 0);
  DrawBitmapText(Highlight(cursor == ConfigEffectVolume), 64, 128, "SE  VOLUME", 1);
  DrawLevels(160, config.effectVolume);
  DrawBitmapText(Highlight(cursor == ConfigMusicVolume), 64, 192, "BGM VOLUME", 1);
  DrawLevels(224, config.musicVolume);
  DrawBitmapText(Highlight(cursor == ConfigSaveReplay), 64, 256, "SAVE REPLAY", 1);
  DrawSwitch(288, config.saveReplays != 0);
  DrawBitmapText(Highlight(cursor == ConfigPlayReplay), 64, 320, "PLAY REPLAY", 1);
  DrawSwitch(352, config.playReplays != 0);
  DrawBitmapText(Highlight(cursor == ConfigOk), 512, 400, "OK", 2);
  SetDrawBrightness(255, 255, 255);
}

void DrawGameOver() {
  char text[48];
  DrawBitmapText(kWhite, 16, 16, "GAME OVER", 2);
  std::snprintf(text, sizeof text, "TOTAL SCORE: %9d", game.score);
  DrawBitmapText(kWhite, 64, 96, text, 1);
  std::snprintf(text, sizeof text, "HIGH  SCORE: %9d", game.save.highScores[0]);
  DrawBitmapText(kWhite, 64, 128, text, 1);
  if (game.finalRank < 10) {
    DrawBitmapText(kWhite, 96, 256, "RANK:", 1);
    std::snprintf(text, sizeof text, "%2d", game.finalRank + 1);
    DrawBitmapText(kWhite, 196, 244, text, 2);
  }
  DrawBitmapText(kWhite, 320, 440, "THANK YOU FOR PLAYING!", 1);
}

}  // namespace

void TitleScene() {
  TitleSceneInput();
  DrawTitle();
}

// The pause text and the stage result show the state the frame began its state step in.
void PlayScene() {
  PlaySceneUpdate();
  DrawStage();
  DrawHud();
  if (game.playState == PlayPaused) DrawBitmapText(kWhite, 260, 224, "PAUSE", 2);
  if (game.playState == PlayStageEnd) DrawStageResult();
  PlaySceneStates();
  if (game.sceneNumber == SceneReplay) DrawBitmapText(kWhite, 4, 4, "REPLAY", 1);
  PlaySceneLeave();
}

void GameOverScene() {
  GameOverSceneInput();
  DrawGameOver();
}

void ConfigScene() {
  ConfigSceneInput();
  DrawConfig();
}

const std::array<SceneHandler, 5> SceneTable = {TitleScene, PlayScene, PlayScene, GameOverScene,
                                                ConfigScene};
