// The entry function's body, the main loop, key reading and frame pacing through the engine.
#include "game/game_entry.h"

#include <csignal>
#include <cstdio>
#include <filesystem>

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

namespace {

constexpr char kWindowTitle[] = "mub ver1.02";

// The engine's own log is off; without this line a failed start would end the program without a
// word. The window's class is its title, so a window of that class is another copy's.
void ReportStartFailure() {
  const char8_t* why = u8"mub: 起動できませんでした\n";
  if (IsWindowClassOpen(kWindowTitle))
    why = u8"mub: 起動できませんでした: mub はもう動いています\n";
  else if (!IsDisplayPresent())
    why = u8"mub: 起動できませんでした: ディスプレイがありません（ウインドウを作れません）\n";
  std::fputs(reinterpret_cast<const char*>(why), stderr);
}

}  // namespace

void KeepPlayingPastFileSizeLimits() { std::signal(SIGXFSZ, SIG_IGN); }

int StartGame() {
  KeepPlayingPastFileSizeLimits();
  LoadConfig();
  SetWindowTitle(kWindowTitle);
  SetWindowIconResource(101);
  ChangeWindowMode(game.config.windowMode);
  SetLogOutput(0);
  SetRunWhileInactive(1);
  ClearKeyHoldCounters();
  ResetFramePacing();
  if (InitializeEngine() == -1) {
    ReportStartFailure();
    return -1;
  }
  // The engine refuses a draw target before it runs and starts on the front screen, which its
  // timer presents again between frames; the game draws every frame whole to the back buffer.
  SetDrawTarget(DrawTargetBackBuffer);
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

// The message box says only that a load failed; standard error says what a player needs to mend
// it: the file, the folder the game was started in (where it looks for its data) and how the
// data is made.
void ReportLoadFailure() {
  ShowMessageBox("読込に失敗しました", "エラー");
  ShutdownEngine();
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::current_path(error);
  std::fprintf(stderr, reinterpret_cast<const char*>(u8"mub: 読込に失敗しました: %s\n"),
               FailedLoadPath());
  std::fprintf(stderr,
               reinterpret_cast<const char*>(
                   u8"mub: データ（data/, image/, sound/, replay/）を探したフォルダ: %s\n"),
               error ? "?" : folder.c_str());
  std::fputs(
      reinterpret_cast<const char*>(
          u8"mub: データは scripts/run が build/release/play に作ります。"
          u8"ほかのフォルダには build/release/content/mubgen content <フォルダ> で作れます\n"),
      stderr);
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
