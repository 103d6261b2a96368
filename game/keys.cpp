// Key hold counters.
#include "game/keys.h"

#include "game/game_state.h"

namespace {

int Counter(int key) {
  if (key < 0 || key > 255) return 0;
  return game.keyHoldCounters[key];
}

}  // namespace

void ApplyKeyStates(const char* keyStates) {
  for (int key = 0; key < 256; ++key) {
    if (keyStates && keyStates[key] == 1) {
      if (game.keyHoldCounters[key] < INT32_MAX) ++game.keyHoldCounters[key];
    } else {
      game.keyHoldCounters[key] = 0;
    }
  }
}

void ClearKeyHoldCounters() { game.keyHoldCounters.fill(0); }

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
    if (game.keyHoldCounters[key] == 1) return true;
  return false;
}
