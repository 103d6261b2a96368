// The small pools that complete a stage: items, steps (platforms left by destroyed enemies),
// shots (the player's and the enemies' bullets, which move by the same rules) and score popups.
#pragma once

#include <cstdint>

#include "game/game_state.h"

// (counter + 1) modulo (frames x frames per step), or modulo 1 when that product is 0.
std::uint8_t AdvanceAnimation(std::uint8_t counter, int frames, int framesPerStep);

void FreeShot(GameBody& shot);
void FreeItem(GameBody& item);

void DropItem(std::uint8_t kind, const GameBody& at);
void CollectItem(int slot);
void UpdateItems();

// Places a step where the enemy was, when it carries no item and its type leaves one.
void SpawnStep(const EnemyRecord& enemy);
void UpdateSteps();

void UpdateShots();

void SpawnPopup(std::int32_t value, int x, int y);
void UpdatePopups();
