// Key hold counters and the three ways the scenes read them.
#include <gtest/gtest.h>

#include "game/game_state.h"
#include "game/keys.h"
#include "game_test_support.h"

using namespace gametest;

namespace {

class KeysTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetGameState(); }
};

TEST_F(KeysTest, AKeyCountsTheFramesItIsDown) {
  for (int frame = 1; frame <= 3; ++frame) {
    PressKeys({KeyZ});
    EXPECT_EQ(KeyHoldCounters[KeyZ], frame);
  }
  PressKeys({});
  EXPECT_EQ(KeyHoldCounters[KeyZ], 0);
}

TEST_F(KeysTest, OnlyAStateOfExactlyOneIsDown) {
  char states[256] = {};
  states[KeyZ] = static_cast<char>(0x80);
  states[KeyX] = 1;
  ApplyKeyStates(states);
  EXPECT_EQ(KeyHoldCounters[KeyZ], 0);
  EXPECT_EQ(KeyHoldCounters[KeyX], 1);
  ApplyKeyStates(nullptr);
  EXPECT_EQ(KeyHoldCounters[KeyX], 0);
}

TEST_F(KeysTest, PressedRepeatingAndHeld) {
  std::vector<int> pressed, repeating, held;
  for (int frame = 1; frame <= 25; ++frame) {
    PressKeys({KeySpace});
    if (KeyPressed(KeySpace)) pressed.push_back(frame);
    if (KeyRepeating(KeySpace)) repeating.push_back(frame);
    if (KeyHeldFor(KeySpace, 20)) held.push_back(frame);
  }
  EXPECT_EQ(pressed, std::vector<int>({1}));
  EXPECT_EQ(repeating, std::vector<int>({1, 11, 21}));
  EXPECT_EQ(held.front(), 20);
  EXPECT_EQ(held.size(), 6u);
}

TEST_F(KeysTest, AKeyHeldFromBeforeIsNotPressed) {
  PressKeys({KeyEsc});
  PressKeys({KeyEsc});
  EXPECT_FALSE(KeyPressed(KeyEsc));
  EXPECT_FALSE(AnyKeyPressed());
}

TEST_F(KeysTest, MostRecentlyPressedKey) {
  EXPECT_EQ(MostRecentlyPressedKey({KeyLeft, KeyRight}), -1);
  PressKeys({KeyLeft});
  PressKeys({KeyLeft, KeyRight});
  EXPECT_EQ(MostRecentlyPressedKey({KeyLeft, KeyRight}), KeyRight);
  PressKeys({KeyLeft});
  EXPECT_EQ(MostRecentlyPressedKey({KeyLeft, KeyRight}), KeyLeft);
  PressKeys({});
  PressKeys({KeyLeft, KeyRight});
  EXPECT_EQ(MostRecentlyPressedKey({KeyRight, KeyLeft}),
            KeyRight);  // a tie goes to the first listed
  EXPECT_EQ(MostRecentlyPressedKey({KeyLeft, KeyRight}), KeyLeft);
}

}  // namespace
