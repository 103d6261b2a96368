// MT19937 with the 1998 reference code's 69069 seeding fill.
#include "system/random.h"

#include <array>

namespace {

constexpr int kStateWords = 624;
constexpr int kShift = 397;

struct RandomState {
  std::array<std::uint32_t, kStateWords + 1> state{};
  std::array<std::uint32_t, kStateWords> output{};
  int index = 0;
  bool seeded = false;
};

RandomState random;

}  // namespace

void SeedRandomGenerator(std::uint32_t seed) {
  for (int i = 0; i < kStateWords; ++i) {
    std::uint32_t word = seed & 0xFFFF0000u;
    seed = 69069u * seed + 1u;
    word |= seed >> 16;
    seed = 69069u * seed + 1u;
    random.state[i] = word;
  }
  random.seeded = true;
  RefillRandomState();
}

void RefillRandomState() {
  auto& s = random.state;
  // The last step pairs word 623 with the new word 0, as the reference code does.
  for (int k = 0; k < kStateWords; ++k) {
    if (k == kStateWords - 1) s[kStateWords] = s[0];
    const std::uint32_t next = s[k + 1];
    const std::uint32_t y = (s[k] & 0x80000000u) | (next & 0x7FFFFFFFu);
    s[k] = s[(k + kShift) % kStateWords] ^ (y >> 1) ^ ((next & 1u) ? 0x9908B0DFu : 0u);
  }
  for (int k = 0; k < kStateWords; ++k) {
    std::uint32_t y = s[k];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    random.output[k] = y;
  }
  random.index = 0;
}

std::uint32_t NextRandomWord() {
  if (!random.seeded || random.index >= kStateWords) {
    if (!random.seeded)
      SeedRandomGenerator(4357);  // seeding refills: no second twist
    else
      RefillRandomState();
  }
  return random.output[random.index++];
}

int GetRandomUpTo(int n) {
  if (n < 0) return 0;
  const std::uint64_t w = NextRandomWord();
  const std::uint64_t range = static_cast<std::uint64_t>(n) + 1;
  return static_cast<int>((w * range) >> 32);
}
