// The play scene's frame and the stage lifecycle.
#include "game/play_scene.h"

#include "game/collisions.h"
#include "game/enemies.h"
#include "game/game_math.h"
#include "game/game_state.h"
#include "game/keys.h"
#include "game/player.h"
#include "game/replay.h"
#include "game/scoring.h"
#include "game/sound.h"
#include "game/stage_map.h"
#include "game/stage_objects.h"

void ReturnToTitle() {
  StopMusic();
  game.sceneNumber = SceneTitle;
  game.stateTimer = 0;
  game.titleCursor = 255;
}

namespace {

void FillPlayerGauges() {
  game.player.hover = tables.player.hoverMax;
  game.player.hp = tables.player.maxHp;
  game.player.power = 0;
  game.player.barrier = 0;
}

void AdvanceToNextStage() {
  StartMusicFromTop();
  ++game.stage;
  game.playState = PlayRunning;
  for (std::uint8_t& counter : game.streaks) ++counter;
  game.streakCopy = game.streaks;
  game.restartColumn = 0;
  game.restartRow = 10;
  game.stageFrame = 0;
  ResetStageRun();
  StartReplayRecording();
}

void EndGame() {
  if (game.lives != kGameOverLives) game.score = WrapAdd(game.score, game.lives * 1000000);
  game.sceneNumber = SceneFinalResults;
  RecordFinalScore();
  PlayEffect(EffectConfirm);
}

}  // namespace

void StartStage(int stage) {
  StartMusicFromTop();
  game.playState = PlayRunning;
  const PlayerType& type = tables.player;
  game.player.body.left = type.box.left;
  game.player.body.right = type.box.right;
  game.player.body.top = type.box.top;
  game.player.body.bottom = type.box.bottom;
  game.streaks.fill(1);
  game.streakCopy.fill(1);
  game.stage = static_cast<std::uint8_t>(stage);
  game.sceneNumber = ScenePlay;
  game.score = 0;
  game.lives = 3;
  game.stageFrame = 0;
  game.restartColumn = 0;
  game.restartRow = 10;
  FillPlayerGauges();
  ResetStageRun();
  StartReplayRecording();
}

// The enemy angles and the jump state are reset too, so that a stage attempt depends only on
// its start state and its control bytes, whatever ran before it.
void ResetStageRun() {
  game.bossCounter = -1;
  game.stageScore = 0;
  ClearStageObjects();
  game.scrollPosition = game.restartColumn * 32;
  PlayerRecord& player = game.player;
  player.body.x = 512;
  player.body.y = Wrap16(game.restartRow * 512 + 256);
  player.body.vy = 0;
  player.blink = 0;
  player.animation = 0;
  player.jumpState = 2;
  for (GameBody& shot : game.shots) FreeShot(shot);
  for (GameBody& bullet : game.bullets) FreeShot(bullet);
  for (EnemyRecord& enemy : game.enemies) {
    ClearEnemy(enemy);
    enemy.angle = 0.0;
  }
  StreamMapColumns(0, game.restartColumn + 21);
}

void PlaySceneUpdate() {
  if (game.sceneNumber == ScenePlay)
    SampleControlByte();
  else
    ReadReplayControlByte();
  UpdatePlayWorld();
}

void UpdatePlayWorld() {
  if (game.playState == PlayRunning ||
      (game.playState == PlayStageEnd && game.lives != kGameOverLives)) {
    UpdatePlayer();
    UpdateEnemies();
    UpdateShots();
    AdvanceScroll();
    UpdateSteps();
    UpdateItems();
    UpdatePopups();
  }
  if (game.playState == PlayRunning) {
    ResolveCollisions();
    CheckMissAndGoal();
  }
}

void PlaySceneStates() {
  switch (game.playState) {
    case PlayRunning:
      if (KeyPressed(KeySpace) && game.config.arcadeMode == 1) {
        StopMusic();
        game.playState = PlayPaused;
      }
      break;
    case PlayPaused:
      if (KeyPressed(KeySpace)) {
        ResumeMusic();
        game.playState = PlayRunning;
      }
      break;
    case PlayMissed:
      if (++game.stateTimer == 20) {
        StartMusicFromTop();
        FillPlayerGauges();
        game.playState = PlayRunning;
        game.streaks = game.streakCopy;
        ResetStageRun();
      }
      break;
    case PlayStageEnd:
      ++game.stateTimer;
      if (game.sceneNumber == ScenePlay && KeyPressed(KeySpace)) {
        if (game.stage + 1 < kStageCount && game.lives != kGameOverLives)
          AdvanceToNextStage();
        else
          EndGame();
      }
      if (game.sceneNumber == SceneReplay && game.stateTimer >= 100) ReturnToTitle();
      break;
    default: break;
  }
}

void PlaySceneLeave() {
  if (game.sceneNumber == SceneReplay && AnyKeyPressed()) ReturnToTitle();
  if (KeyPressed(KeyEsc)) ReturnToTitle();
}

void RunPlaySceneFrame() {
  PlaySceneUpdate();
  PlaySceneStates();
  PlaySceneLeave();
}
