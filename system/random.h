// The engine's random numbers: MT19937, seeded from the millisecond clock at every engine start.
#pragma once

#include <cstdint>

void SeedRandomGenerator(std::uint32_t seed);
std::uint32_t NextRandomWord();
void RefillRandomState();
int GetRandomUpTo(int n);
