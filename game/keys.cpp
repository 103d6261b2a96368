// Key hold counters.
#include "game/keys.h"

#include <cstdint>

std::array<std::int32_t, 256> KeyHoldCounters{};

namespace {

int Counter(int key) {
  if (key < 0 || key > 255) return 0;
  return KeyHoldCounters[key];
}

}  // namespace

void ApplyKeyStates(const char* keyStates) {
  for (int key = 0; key < 256; ++key) {
    if (keyStates && keyStates[key] == 1) {
      if (KeyHoldCounters[key] < INT32_MAX) ++KeyHoldCounters[key];
    } else {
      KeyHoldCounters[key] = 0;
    }
  }
}

void ClearKeyHoldCounters() { KeyHoldCounters.fill(0); }

int MostRecentlyPressedKey(std::initializer_list<int> keys) {
  int best = -1;
  int bestCounter = 0;
  for (int key : keys) {
    const int counter = Counter(key);
    if (counter != 0 && (best == -1 || counter < bestCounter)) {
      best = key;
      bestCounter = counter;
    }
  }
  return best;
}

bool KeyPressed(int key) { return Counter(key) == 1; }

bool KeyRepeating(int key) { return Counter(key) % 10 == 1; }

bool KeyHeldFor(int key, int frames) { return Counter(key) > frames - 1; }

bool AnyKeyPressed() {
  for (int key = 0; key < 256; ++key)
    if (KeyHoldCounters[key] == 1) return true;
  return false;
}
