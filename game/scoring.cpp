// Miss and goal, streak bonuses and the high-score table.
#include "game/scoring.h"

#include "game/collisions.h"
#include "game/data_files.h"
#include "game/enemies.h"
#include "game/game_math.h"
#include "game/game_state.h"
#include "game/replay.h"
#include "game/sound.h"

const std::array<const char*, 8> StreakBonusNames = {
    "ENEMY COMP", "ITEM COMP", "NO DAMAGE", "NO ITEM", "NO FLY", "NON STOP", "NO SHOT", "NO MISS"};
const std::array<std::int32_t, 8> StreakBonusBases = {200000, 50000,  500000, 150000,
                                                      250000, 200000, 200000, 100000};

namespace {

void Miss() {
  game.streakCopy[StreakNoMiss] = 0;
  game.stateTimer = 0;
  if (game.lives == 0) {
    game.lives = kGameOverLives;
    game.playState = PlayStageEnd;
    game.streaks.fill(0);
    game.score = WrapAdd(game.score, game.stageScore);
  } else {
    --game.lives;
    game.score = WrapAdd(game.score, (game.stageScore / 1000) * 100);
    game.playState = PlayMissed;
  }
  StopMusic();
}

void Goal() {
  bool itemLost = false;
  for (EnemyRecord& enemy : game.enemies) {
    if (enemy.body.kind != kFreeKind && !(TypeOf(enemy).flags & (EnemyShotProof | EnemyCompExempt)))
      game.streaks[StreakEnemyComp] = 0;
    if (enemy.carriedItem != kNoItem) itemLost = true;
    ClearEnemy(enemy);
  }
  for (const GameBody& item : game.items)
    if (item.kind != kFreeKind) itemLost = true;
  if (itemLost) game.streaks[StreakItemComp] = 0;
  game.score = WrapAdd(game.score, game.stageScore);
  for (int i = 0; i < 8; ++i) {
    const int counter = game.streaks[i];
    if (counter == 0) continue;
    game.stageScore = WrapAdd(game.stageScore, StreakBonusBases[i]);
    game.score = WrapAdd(game.score, static_cast<std::int64_t>(counter) * StreakBonusBases[i]);
  }
  if (game.bossCounter == 0) ++game.lives;
  game.stateTimer = 0;
  game.playState = PlayStageEnd;
  StopMusic();
}

}  // namespace

void CheckMissAndGoal() {
  const GameBody& body = game.player.body;
  if (game.player.hp <= 0 || BottomEdge(body) > 7680)
    Miss();
  else if (static_cast<std::int64_t>(game.scrollPosition) * 16 + body.x >
           static_cast<std::int64_t>(game.goalColumn) * 512)
    Goal();
  if (game.playState == PlayStageEnd && game.sceneNumber == ScenePlay) {
    CommitStageReplay();
    if (game.save.stagesReached < game.stage + 1) {
      game.save.stagesReached = static_cast<std::uint8_t>(game.stage + 1);
      WriteSaveData();
    }
  }
}

void RecordFinalScore() {
  CommitStageReplay();
  if (game.save.stagesReached < game.stage + 1)
    game.save.stagesReached = static_cast<std::uint8_t>(game.stage + 1);
  auto& table = game.save.highScores;
  int rank = 0;
  while (rank < 10 && table[rank] > game.score) ++rank;
  game.finalRank = rank;
  if (rank == 10) return;
  for (int i = 9; i > rank; --i) table[i] = table[i - 1];
  table[rank] = game.score;
  WriteSaveData();
}
