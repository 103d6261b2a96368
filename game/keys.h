// The game's view of the keyboard: a hold counter per key (0 while up, n after n frames down)
// and the three ways the scenes read it.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>

// Indexed by DirectInput key code: 0 while the key is up, n after n consecutive frames down.
extern std::array<std::int32_t, 256> KeyHoldCounters;

// One frame of key states (256 bytes by DirectInput key code): a key whose byte is exactly 1
// counts one more frame, every other key goes back to 0.
void ApplyKeyStates(const char* keyStates);
void ClearKeyHoldCounters();

// The listed key that went down most recently (the smallest non-zero counter, the first listed
// on a tie), or -1 when none of them is down.
int MostRecentlyPressedKey(std::initializer_list<int> keys);

bool KeyPressed(int key);              // counter 1
bool KeyRepeating(int key);            // counter 1, 11, 21, ...
bool KeyHeldFor(int key, int frames);  // counter above frames - 1
bool AnyKeyPressed();
