// Scores: the stage score gathered while a stage runs, banked at a miss (a tenth, in
// thousands), at the goal (all of it with the eight streak bonuses) and at a game over (all of
// it); and the ten-entry high-score table.
#pragma once

#include <array>
#include <cstdint>

extern const std::array<const char*, 8> StreakBonusNames;
extern const std::array<std::int32_t, 8> StreakBonusBases;

// Once per running frame after the collisions: a miss, or else the goal.
void CheckMissAndGoal();
// When the game goes to the final results: the score's place in the high-score table.
void RecordFinalScore();
