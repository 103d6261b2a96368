// The random numbers against an independent MT19937 with the same 69069 seeding fill.
#include "system/random.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace {

// A seed sequence whose words are the 69069 fill, so std::mt19937 starts from the same state.
struct Fill69069 {
  using result_type = std::uint32_t;
  std::uint32_t seed;
  template <class It>
  void generate(It first, It last) {
    std::uint32_t s = seed;
    for (; first != last; ++first) {
      std::uint32_t word = s & 0xFFFF0000u;
      s = 69069u * s + 1u;
      word |= s >> 16;
      s = 69069u * s + 1u;
      *first = word;
    }
  }
};

TEST(Random, MatchesTheReferenceForSeveralSeedsOverManyRefills) {
  for (std::uint32_t seed : {0u, 1u, 4357u, 12345u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(seed);
    Fill69069 fill{seed};
    std::mt19937 reference(fill);
    SeedRandomGenerator(seed);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(NextRandomWord(), reference()) << "output " << i;
  }
}

TEST(Random, Seed4357GivesTheKnownFirstOutputs) {
  SeedRandomGenerator(4357);
  EXPECT_EQ(NextRandomWord(), 2867219139u);
  EXPECT_EQ(NextRandomWord(), 1585203162u);
  EXPECT_EQ(NextRandomWord(), 3113124129u);
  EXPECT_EQ(NextRandomWord(), 2953900839u);
  EXPECT_EQ(NextRandomWord(), 2463794868u);
  for (int i = 5; i < 624; ++i) NextRandomWord();
  EXPECT_EQ(NextRandomWord(), 1044672925u);
}

TEST(Random, UnseededFirstUseSeedsWith4357Once) {
  // In a fresh process, so that no other test has seeded the generator.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(NextRandomWord() == 2867219139u && NextRandomWord() == 1585203162u ? 0 : 1),
              ::testing::ExitedWithCode(0), "");
}

TEST(Random, GetRandomUpToStaysInRangeAndReachesEveryValue) {
  SeedRandomGenerator(4357);
  EXPECT_EQ(GetRandomUpTo(15), 10);  // floor(2867219139 * 16 / 2^32)
  bool seen[4] = {};
  for (int i = 0; i < 1000; ++i) {
    const int value = GetRandomUpTo(3);
    ASSERT_GE(value, 0);
    ASSERT_LE(value, 3);
    seen[value] = true;
    ASSERT_EQ(GetRandomUpTo(0), 0);
    ASSERT_EQ(GetRandomUpTo(-1), 0);
    ASSERT_EQ(GetRandomUpTo(-100), 0);
    const int wide = GetRandomUpTo(2147483647);
    ASSERT_GE(wide, 0);
  }
  for (bool s : seen) EXPECT_TRUE(s);
}

TEST(Random, TheSameSeedGivesTheSameSequence) {
  SeedRandomGenerator(987654);
  std::uint32_t first[10];
  for (auto& word : first) word = NextRandomWord();
  SeedRandomGenerator(987654);
  for (auto word : first) EXPECT_EQ(NextRandomWord(), word);
}

}  // namespace
