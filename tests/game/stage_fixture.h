// A running stage on the flat fixture map, for tests that place objects by hand.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>

#include "game/play_scene.h"
#include "game_test_support.h"

namespace gametest {

class StageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteTables(DefaultTables());
    WriteMap(0, FlatMap(100, 90, 16));
    StartFreshGame();
    game.config.saveReplays = 0;
    tables.musicSound = 100;
    for (int i = 0; i < 7; ++i) tables.effectSounds[i] = 110 + i;
    StartStage(0);
    sounds.calls.clear();
  }

  static int ActiveBullets() {
    return static_cast<int>(std::count_if(game.bullets.begin(), game.bullets.end(),
                                          [](const GameBody& b) { return b.kind != kFreeKind; }));
  }
  static int ActiveShots() {
    return static_cast<int>(std::count_if(game.shots.begin(), game.shots.end(),
                                          [](const GameBody& b) { return b.kind != kFreeKind; }));
  }
  int Count(const std::string& call) const {
    return static_cast<int>(std::count(sounds.calls.begin(), sounds.calls.end(), call));
  }

  WorkingFolder folder;
  SoundLog sounds;
};

}  // namespace gametest
