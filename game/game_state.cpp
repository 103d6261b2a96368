// The game's global blocks.
#include "game/game_state.h"

#include <cstdio>

#include "game/host_calls.h"
#include "game/keys.h"

GameTables tables;
GameState game;
HostCalls hostCalls;

namespace {

char failedLoadPath[64];

}  // namespace

void ResetGameState() {
  game = GameState{};
  ClearKeyHoldCounters();
}

void ThrowLoadFailed(const char* path) {
  std::snprintf(failedLoadPath, sizeof failedLoadPath, "%s", path);
  throw LoadFailed;
}

const char* FailedLoadPath() { return failedLoadPath; }
