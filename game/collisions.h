// Body geometry (overlap, landing on blocks and steps, the angle between two bodies) and the
// once-per-frame collision pass of the play scene.
#pragma once

#include <cstdint>

#include "game/game_state.h"

// Box edges in 1/16 pixel, with 16-bit wrap-around.
std::int16_t LeftEdge(const GameBody& body);
std::int16_t RightEdge(const GameBody& body);
std::int16_t TopEdge(const GameBody& body);
std::int16_t BottomEdge(const GameBody& body);

// Strict: touching boxes do not overlap.
bool BodiesOverlap(const GameBody& a, const GameBody& b);
// The body's bottom edge crosses the block's top during this frame's move (whole pixels).
bool BodyLandsOnBlock(const StageBlock& block, const GameBody& body, std::int32_t scrollPosition);
// The same against a step, in 1/16 pixel.
bool BodyLandsOnStep(const GameBody& step, const GameBody& body);
// Direction from a's centre to b's in radians, y downwards, in [0, 2 pi); 0 when they coincide.
double AngleBetween(const GameBody& a, const GameBody& b);

// Player shots against enemies, enemies and enemy bullets against the player, items against
// the player.
void ResolveCollisions();
