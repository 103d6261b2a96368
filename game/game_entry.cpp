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

namespace {

void RunMainLoop() {
  while (game.sceneNumber != SceneQuit) {
    if (ProcessWindowMessages() == -1) break;
    ClearDrawTarget();
    UpdateKeyHoldCounters();
    SceneTable[game.sceneNumber]();
    WaitForNextFrame();
    PresentFrame();
  }
}

}  // namespace

void UpdateKeyHoldCounters() {
  char states[256] = {};
  if (GetAllKeyStates(states) == -1) {
    ApplyKeyStates(nullptr);
    return;
  }
  ApplyKeyStates(states);
}

int RunGame() {
  LoadConfig();
  SetWindowTitle("mub ver1.02");
  SetWindowIconResource(101);
  SetDrawTarget(-2);
  ChangeWindowMode(game.config.windowMode);
  SetLogOutput(0);
  SetRunWhileInactive(1);
  ClearKeyHoldCounters();
  ResetFramePacing();
  if (InitializeEngine() == -1) return -1;
  InstallEngineHostCalls();
  try {
    LoadBitmapFont();
    LoadGameSounds();
    SetEffectVolume(game.config.effectVolume);
    SetMusicVolume(game.config.musicVolume);
    LoadGameAssets();
    RunMainLoop();
  } catch (error_) {
    MessageBoxA(nullptr, "読込に失敗しました", "エラー", MB_OK);
    ShutdownEngine();
    std::fputs(reinterpret_cast<const char*>(u8"mub: 読込に失敗しました\n"), stderr);
    return 1;
  }
  ShutdownEngine();
  return 0;
}
