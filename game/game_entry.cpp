// The entry function's body, the main loop, key reading and frame pacing through the engine.
#include "game/game_entry.h"

#include <cstdio>

#include "engine.h"
#include "game/assets.h"
#include "game/data_files.h"
#include "game/frame_pacing.h"
#include "game/game_state.h"
#include "game/keys.h"
#include "game/scenes.h"
#include "game/sound.h"

void UpdateKeyHoldCounters() {
  char states[256] = {};
  if (GetAllKeyStates(states) == -1) {
    ApplyKeyStates(nullptr);
    return;
  }
  ApplyKeyStates(states);
}

bool RunGameFrame() {
  if (game.sceneNumber == SceneQuit || ProcessWindowMessages() == -1) return false;
  ClearDrawTarget();
  UpdateKeyHoldCounters();
  SceneTable[game.sceneNumber]();
  WaitForNextFrame();
  PresentFrame();
  return true;
}

int StartGame() {
  LoadConfig();
  SetWindowTitle("mub ver1.02");
  SetWindowIconResource(101);
  ChangeWindowMode(game.config.windowMode);
  SetLogOutput(0);
  SetRunWhileInactive(1);
  ClearKeyHoldCounters();
  ResetFramePacing();
  if (InitializeEngine() == -1) return -1;
  // The engine refuses a draw target before it runs and starts on the front screen, which its
  // timer presents again between frames; the game draws every frame whole to the back buffer.
  SetDrawTarget(-2);
  InstallEngineHostCalls();
  try {
    LoadBitmapFont();
    LoadGameSounds();
    SetEffectVolume(game.config.effectVolume);
    SetMusicVolume(game.config.musicVolume);
    LoadGameAssets();
  } catch (error_) {
    ReportLoadFailure();
    return 1;
  }
  return 0;
}

void ReportLoadFailure() {
  MessageBoxA(nullptr, "読込に失敗しました", "エラー", MB_OK);
  ShutdownEngine();
  std::fputs(reinterpret_cast<const char*>(u8"mub: 読込に失敗しました\n"), stderr);
}

int RunGame() {
  if (int status = StartGame(); status != 0) return status;
  try {
    while (RunGameFrame()) {
    }
  } catch (error_) {
    ReportLoadFailure();
    return 1;
  }
  ShutdownEngine();
  return 0;
}
