// Title, configuration and final results: what the keys do.
#include "game/menu_scenes.h"

#include <algorithm>
#include <cstdio>

#include "engine.h"
#include "game/data_files.h"
#include "game/game_state.h"
#include "game/keys.h"
#include "game/play_scene.h"
#include "game/replay.h"
#include "game/sound.h"

namespace {

constexpr int kHighScoreIdle = 1000;
constexpr int kAttractIdle = 1500;

void PlayStoredReplay(int stage) {
  char path[32];
  std::snprintf(path, sizeof path, "replay/%02d.rp", stage);
  StartReplayPlayback(path);
}

void OpenConfig() {
  game.sceneNumber = SceneConfig;
  game.configCursor = ConfigArcadeMode;
}

void ConfirmOnTitle() {
  std::uint8_t& cursor = game.titleCursor;
  if (cursor < kStageCount) {
    StartStage(cursor);
  } else if (cursor == CursorStart) {
    cursor = 0;
  } else if (cursor == CursorHighScore) {
    cursor = CursorHighScoreList;
  } else if (cursor == CursorConfig) {
    OpenConfig();
  } else if (cursor == CursorExit) {
    game.sceneNumber = SceneQuit;
  } else if (cursor == CursorPrompt) {
    cursor = CursorStart;
  }
  PlayEffect(EffectConfirm);
}

void TitleMenuKeys() {
  std::uint8_t& cursor = game.titleCursor;
  const int key = MostRecentlyPressedKey({KeySpace, KeyEnter, KeyZ, KeyX, KeyR});
  if (key != -1 && KeyPressed(key)) {
    if (key == KeyR) {
      if (cursor < kStageCount && game.config.playReplays) PlayStoredReplay(cursor);
    } else if (key == KeyX) {
      if (cursor < kStageCount) {
        cursor = CursorStart;
        PlayEffect(EffectCancel);
      } else if (cursor != CursorPrompt) {
        cursor = CursorPrompt;
        PlayEffect(EffectCancel);
      }
    } else {
      ConfirmOnTitle();
    }
  }
  const int arrow = MostRecentlyPressedKey({KeyLeft, KeyUp, KeyRight, KeyDown});
  if (arrow == -1 || !KeyRepeating(arrow)) return;
  if (arrow == KeyUp || arrow == KeyLeft) {
    if (arrow == KeyUp && cursor >= CursorHighScore && cursor <= CursorExit) {
      --cursor;
      PlayEffect(EffectCursor);
    }
    if (cursor >= 1 && cursor <= 15) {
      --cursor;
      PlayEffect(EffectCursor);
    }
  } else {
    if (arrow == KeyDown && cursor >= CursorStart && cursor <= CursorConfig) {
      ++cursor;
      PlayEffect(EffectCursor);
    }
    if (cursor < std::min<int>(game.save.stagesReached, 15)) {
      ++cursor;
      PlayEffect(EffectCursor);
    }
  }
}

void ArcadeTitleKeys() {
  const int key = MostRecentlyPressedKey({KeySpace, KeyEnter, KeyZ, KeyX, KeyR});
  if ((key == KeyEnter || key == KeyZ || key == KeySpace) && KeyPressed(key)) {
    StartStage(0);
    PlayEffect(EffectConfirm);
  }
  if (KeyHeldFor(KeyC, 60)) OpenConfig();
}

void ApplyVolumes() {
  SetEffectVolume(game.config.effectVolume);
  SetMusicVolume(game.config.musicVolume);
}

// Left (-1) or right (+1) on the setting under the cursor; true when it changed.
bool ChangeSetting(int direction) {
  GameConfig& config = game.config;
  switch (game.configCursor) {
    case ConfigArcadeMode: {
      const std::uint8_t from = direction < 0 ? 1 : 0;
      if (config.arcadeMode != from) return false;
      config.arcadeMode = direction < 0 ? 0 : 1;
      return true;
    }
    case ConfigSaveReplay:
    case ConfigPlayReplay: {
      std::uint8_t& setting =
          game.configCursor == ConfigSaveReplay ? config.saveReplays : config.playReplays;
      const std::uint8_t from = direction < 0 ? 0 : 1;
      if (setting != from) return false;
      setting = direction < 0 ? 1 : 0;
      return true;
    }
    case ConfigEffectVolume:
    case ConfigMusicVolume: {
      const bool effects = game.configCursor == ConfigEffectVolume;
      std::uint8_t& volume = effects ? config.effectVolume : config.musicVolume;
      const std::uint8_t stepped = direction < 0 ? VolumeStepLeft(volume) : VolumeStepRight(volume);
      if (stepped == volume) return false;
      volume = stepped;
      if (effects)
        SetEffectVolume(volume);
      else
        SetMusicVolume(volume);
      return true;
    }
    default: return false;
  }
}

}  // namespace

int VolumeLevel(int volume) { return volume == 255 ? 8 : volume / 16; }

std::uint8_t VolumeStepLeft(std::uint8_t volume) {
  if (volume < 16) return volume;
  if (volume == 255) return 112;
  return static_cast<std::uint8_t>((volume / 16 - 1) * 16);
}

std::uint8_t VolumeStepRight(std::uint8_t volume) {
  if (volume == 255) return volume;
  if (volume / 16 == 7) return 255;
  return static_cast<std::uint8_t>((volume / 16 + 1) * 16);
}

bool TitleShowsHighScores() {
  return game.stateTimer >= kHighScoreIdle || game.titleCursor == CursorHighScoreList;
}

void TitleSceneInput() {
  if (game.stateTimer >= kHighScoreIdle) {
    if (AnyKeyPressed()) game.stateTimer = 0;
  } else if (game.config.arcadeMode == 0) {
    ArcadeTitleKeys();
  } else {
    TitleMenuKeys();
  }
  if (KeyPressed(KeyEsc)) game.sceneNumber = SceneQuit;
  if (game.titleCursor != CursorPrompt) {
    game.stateTimer = 0;
  } else if (++game.stateTimer == kAttractIdle && game.config.playReplays) {
    game.stateTimer = 0;
    const int reached = game.save.stagesReached - 1;
    PlayStoredReplay(GetRandomUpTo(reached < 1 ? 0 : reached));
  }
}

void ConfigSceneInput() {
  const int arrow = MostRecentlyPressedKey({KeyLeft, KeyUp, KeyRight, KeyDown});
  if (arrow != -1 && KeyRepeating(arrow)) {
    if (arrow == KeyUp && game.configCursor > 0) {
      --game.configCursor;
      PlayEffect(EffectCursor);
    } else if (arrow == KeyDown && game.configCursor < ConfigOk) {
      ++game.configCursor;
      PlayEffect(EffectCursor);
    } else if ((arrow == KeyLeft || arrow == KeyRight) &&
               ChangeSetting(arrow == KeyLeft ? -1 : 1)) {
      PlayEffect(EffectCursor);
    }
  }
  const int key = MostRecentlyPressedKey({KeyEsc, KeySpace, KeyZ, KeyX});
  if (key == -1 || !KeyPressed(key)) return;
  if (key == KeyEsc || key == KeyX) {
    LoadConfig();
    ApplyVolumes();
    PlayEffect(EffectCancel);
    ReturnToTitle();
  } else if (game.configCursor == ConfigOk) {
    ReturnToTitle();
    SaveConfig();
    PlayEffect(EffectConfirm);
  } else {
    game.configCursor = ConfigOk;
    PlayEffect(EffectConfirm);
  }
}

void GameOverSceneInput() {
  if (!KeyPressed(KeySpace)) return;
  PlayEffect(EffectConfirm);
  StopMusic();
  ReturnToTitle();
}
