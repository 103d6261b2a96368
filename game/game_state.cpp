// The game's global blocks.
#include "game/game_state.h"

#include "game/host_calls.h"

GameTables tables;
GameState game;
HostCalls hostCalls;

void ResetGameState() { game = GameState{}; }
