// Map streaming, placement rules, damaged maps and the scroll.
#include <gtest/gtest.h>

#include "game/play_scene.h"
#include "game/stage_map.h"
#include "game_test_support.h"

using namespace gametest;

namespace {

class StageMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteTables(DefaultTables());
    StartFreshGame();
    game.config.saveReplays = 0;
  }

  void Start(const FixtureMap& map) {
    WriteMap(0, map);
    StartStage(0);
  }

  static int Count(const auto& pool, auto active) {
    return static_cast<int>(std::count_if(pool.begin(), pool.end(), active));
  }
  static int Enemies() {
    return Count(game.enemies, [](const EnemyRecord& e) { return e.body.kind != kFreeKind; });
  }
  static int Items() {
    return Count(game.items, [](const GameBody& b) { return b.kind != kFreeKind; });
  }
  static int Blocks() {
    return Count(game.blocks, [](const StageBlock& b) { return b.type != kFreeKind; });
  }

  WorkingFolder folder;
};

TEST_F(StageMapTest, TheStartPlacesTheFirstScreenAndTheHeader) {
  FixtureMap map = FlatMap(40, 30, 16);
  map.startRow = 9;
  map.Put(5, {1, 2, 4, 0});
  map.Put(20, {2, 1, 4, 0});
  map.Put(21, {1, 3, 4, 0});  // the column after the first screen comes later
  Start(map);
  EXPECT_EQ(game.mapLength, 40);
  EXPECT_EQ(game.goalColumn, 30);
  EXPECT_EQ(game.scrollSpeed, 16);
  EXPECT_EQ(game.restartRow, 9);
  EXPECT_EQ(game.player.body.y, 9 * 512 + 256);
  EXPECT_EQ(Enemies(), 1);
  EXPECT_EQ(Items(), 1);
  EXPECT_EQ(game.enemies[0].body.x, (5 * 32 + 16) * 16);
  for (int frame = 0; frame < 32; ++frame) AdvanceScroll();
  EXPECT_EQ(Enemies(), 2);
}

TEST_F(StageMapTest, EntriesOutsideTheTablesAreEmpty) {
  FixtureMap map = FlatMap();
  map.Put(6, {0, 4, 2, 5});  // block type 4
  map.Put(6, {2, 6, 4, 0});  // item kind 6
  map.Put(7, {3, 4, 4, 0});  // boss number 4
  map.Put(7, {9, 0, 0, 0});  // unknown kind
  Start(map);
  EXPECT_EQ(Blocks(), 1);
  EXPECT_EQ(Items(), 0);
  EXPECT_EQ(Enemies(), 0);
  EXPECT_EQ(game.bossCounter, -1);
}

TEST_F(StageMapTest, ColumnsPastTheEndOfTheFileAreEmpty) {
  FixtureMap map = FlatMap(6, 30, 16);
  map.Put(5, {1, 2, 4, 0});
  map.length = 40;  // the length field claims more columns than the file holds
  Start(map);
  EXPECT_EQ(Enemies(), 1);
  for (int frame = 0; frame < 200; ++frame) AdvanceScroll();
  EXPECT_EQ(Enemies(), 1);
}

TEST_F(StageMapTest, ACancelledPlacementNeitherCountsABossNorTakesAnItem) {
  FixtureMap map = FlatMap();
  map.startRow = 1;
  map.Put(0, {2, 1, 0, 0});  // an item in the screen's top-left corner, clear of the player
  map.Put(0, {1, 5, 1, 0});  // an enemy on the player
  map.Put(1, {3, 0, 1, 0});  // a boss on the player
  Start(map);
  EXPECT_EQ(game.bossCounter, -1);
  EXPECT_EQ(Enemies(), 0);
  EXPECT_EQ(Items(), 1);
}

TEST_F(StageMapTest, AnItemUnderANewEnemyIsCarried) {
  FixtureMap map = FlatMap();
  map.Put(8, {2, 4, 5, 0});
  map.Put(8, {1, 5, 5, 0});
  Start(map);
  EXPECT_EQ(Items(), 0);
  EXPECT_EQ(game.enemies[0].carriedItem, 4);
}

TEST_F(StageMapTest, ScrollArithmetic) {
  FixtureMap map = FlatMap(100, 90, 240);
  Start(map);
  game.scrollRemainder = 15;
  AdvanceScroll();
  EXPECT_EQ(game.scrollPosition, 15);
  EXPECT_EQ(game.scrollRemainder, 15);
  EXPECT_EQ(game.stageFrame, 1);
}

TEST_F(StageMapTest, AShortMapNeverScoresDistanceAndTheScrollStopsAtItsLength) {
  Start(FlatMap(20, 30, 240));
  for (int frame = 0; frame < 2000; ++frame) {
    AdvanceScroll();
    ASSERT_LE(game.scrollPosition / 32, 20);
  }
  EXPECT_EQ(game.stageScore, 0);
}

TEST_F(StageMapTest, BlocksLeftBehindAreCulled) {
  FixtureMap map = FlatMap(100, 90, 16);
  map.Put(2, {0, 1, 2, 8});
  Start(map);
  EXPECT_EQ(Blocks(), 2);
  for (int frame = 0; frame < 32 * 6; ++frame) AdvanceScroll();
  EXPECT_EQ(Blocks(), 1);
}

TEST_F(StageMapTest, AMissingMapFails) { EXPECT_THROW(StartStage(0), error_); }

TEST_F(StageMapTest, BlockTiles) {
  StageBlock block;
  block.column = 2;
  block.width = 3;
  block.topRow = 13;
  struct Case {
    int x, y, tile;
  };
  for (const Case c : {Case{64, 416, 0}, Case{96, 416, 3}, Case{128, 416, 6}, Case{96, 448, 4},
                       Case{128, 480, 8}}) {
    SCOPED_TRACE(c.x * 1000 + c.y);
    EXPECT_EQ(BlockTileIndex(block, c.x, c.y), c.tile);
  }
  block.width = 1;
  EXPECT_EQ(BlockTileIndex(block, 64, 416), 3);  // a one-column block uses the middle column
  block.topRow = 15;
  EXPECT_EQ(BlockTileIndex(block, 64, 480), 4);
}

}  // namespace
