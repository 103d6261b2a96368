// The configuration, save data and type-table files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "game/data_files.h"
#include "game/game_entry.h"
#include "game_test_support.h"
#include "write_failures.h"

using namespace gametest;

namespace {

class DataFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetGameState(); }
  WorkingFolder folder;
};

TEST_F(DataFilesTest, AMissingConfigGivesTheDefaultsAndIsNotCreated) {
  game.config.arcadeMode = 7;
  LoadConfig();
  EXPECT_EQ(ConfigBytes(game.config), (std::array<std::uint8_t, 6>{0, 1, 255, 255, 1, 1}));
  EXPECT_FALSE(FileExists("data/config.dat"));
}

TEST_F(DataFilesTest, AShortConfigKeepsTheDefaultsOfTheBytesItLacks) {
  WriteFile("data/config.dat", {1, 0});
  LoadConfig();
  EXPECT_EQ(ConfigBytes(game.config), (std::array<std::uint8_t, 6>{1, 0, 255, 255, 1, 1}));
}

TEST_F(DataFilesTest, ConfigRoundTrip) {
  WriteFile("data/config.dat", {1, 0, 120, 16, 0, 1});
  LoadConfig();
  EXPECT_EQ(game.config.musicVolume, 16);
  SaveConfig();
  EXPECT_EQ(ReadFile("data/config.dat"), (Bytes{1, 0, 120, 16, 0, 1}));
  for (const auto& entry : std::filesystem::directory_iterator("data"))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos);
}

TEST_F(DataFilesTest, SaveDataRoundTripKeepsThePadding) {
  Bytes image(44, 0);
  image[0] = 0x40;  // 0x00000140 = 320... little-endian
  image[1] = 0x01;
  image[36] = 0xFF;  // the tenth score is negative
  image[37] = 0xFF;
  image[38] = 0xFF;
  image[39] = 0xFF;
  image[40] = 5;
  image[41] = 0xAB;
  image[43] = 0xCD;
  WriteFile("data/save.sdt", image);
  LoadSaveData();
  EXPECT_EQ(game.save.highScores[0], 320);
  EXPECT_EQ(game.save.highScores[9], -1);
  EXPECT_EQ(game.save.stagesReached, 5);
  WriteSaveData();
  EXPECT_EQ(ReadFile("data/save.sdt"), image);
}

TEST_F(DataFilesTest, NoSaveFileGivesZeros) {
  game.save.highScores[3] = 77;
  game.save.stagesReached = 9;
  LoadSaveData();
  EXPECT_EQ(game.save.highScores, (std::array<std::int32_t, 10>{}));
  EXPECT_EQ(game.save.stagesReached, 0);
  EXPECT_FALSE(FileExists("data/save.sdt"));
}

// A full disk: the previous file stays, the player is told on standard error, and the game's
// data in memory is kept for the next save.
TEST_F(DataFilesTest, AFailedSaveKeepsThePreviousFileAndSaysSo) {
  const Bytes previous(44, 3);
  WriteFile("data/save.sdt", previous);
  game.save.highScores[0] = 999;
  writefail::StderrPipe stderrPipe;
  {
    writefail::FileSizeLimit full(10);
    WriteSaveData();
  }
  const std::string said = stderrPipe.Take();
  EXPECT_EQ(ReadFile("data/save.sdt"), previous);
  EXPECT_NE(said.find("data/save.sdt"), std::string::npos) << said;
  EXPECT_NE(said.find("File too large"), std::string::npos) << said;
  EXPECT_EQ(game.save.highScores[0], 999);
  WriteSaveData();
  EXPECT_EQ(ReadFile("data/save.sdt")[0], 0xE7);
  EXPECT_EQ(ReadFile("data/save.sdt")[1], 0x03);
}

// Under a file-size limit the configuration save fails like any other write: the player is
// told, no temporary file stays, and the game goes on (in a child, whose signal handling and
// limit are its own; the default handling of the limit's signal would end it mid-write).
TEST_F(DataFilesTest, ASaveUnderAFileSizeLimitIsReportedAndTheGameGoesOn) {
  WriteFile("data/config.dat", {0, 1, 255, 255, 1, 1});
  game.config.musicVolume = 16;
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(60);  // the parent's wait is bounded by this
    dup2(out[1], 2);
    std::signal(SIGXFSZ, SIG_DFL);
    KeepPlayingPastFileSizeLimits();
    const rlimit limit{3, 3};
    setrlimit(RLIMIT_FSIZE, &limit);
    SaveConfig();
    std::fputs("played on\n", stderr);
    _exit(0);
  }
  close(out[1]);
  std::string said;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) said.append(buffer, n);
  close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << ": " << said;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(said.find("data/config.dat"), std::string::npos) << said;
  EXPECT_NE(said.find("File too large"), std::string::npos) << said;
  EXPECT_NE(said.find("played on"), std::string::npos) << said;
  EXPECT_EQ(ReadFile("data/config.dat"), (Bytes{0, 1, 255, 255, 1, 1}));
  for (const auto& entry : std::filesystem::directory_iterator("data"))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos);
}

// Saves killed part way leave temporaries in data/ and replay/; the next save of that file
// removes them.
TEST_F(DataFilesTest, TheNextSaveRemovesStaleTemporaries) {
  WriteFile("data/save.sdt.tmpQ1w2E3", {1});
  WriteFile("replay/03.rp.tmpR4t5Y6", {});
  WriteSaveData();
  EXPECT_FALSE(FileExists("data/save.sdt.tmpQ1w2E3"));
  EXPECT_TRUE(SaveFile("replay/03.rp", Bytes{9}));
  EXPECT_FALSE(FileExists("replay/03.rp.tmpR4t5Y6"));
  EXPECT_EQ(ReadFile("replay/03.rp"), Bytes{9});
}

TEST_F(DataFilesTest, TypeRecordsAreConverted) {
  const std::uint8_t player[16] = {6, 7, 26, 27, 64, 16, 208, 20, 16, 180, 4, 1, 4, 6, 0, 0};
  const PlayerType p = ParsePlayerRecord(player);
  EXPECT_EQ(p.box.left, -10);
  EXPECT_EQ(p.box.top, -9);
  EXPECT_EQ(p.box.right, 10);
  EXPECT_EQ(p.box.bottom, 11);
  EXPECT_EQ(p.hoverMax, 180);
  EXPECT_EQ(p.framesPerStep, 6);

  const std::uint8_t boss[16] = {8, 9, 56, 57, 24, 0, 200, 0, 48, 32, 6, 0, 4, 8, 5, 4};
  const EnemyType b = ParseEnemyRecord(boss, 64);
  EXPECT_EQ(b.box.left, -24);
  EXPECT_EQ(b.box.top, -23);
  EXPECT_EQ(b.box.right, 24);
  EXPECT_EQ(b.box.bottom, 25);
  EXPECT_EQ(b.cellWidth, 64);
  EXPECT_EQ(b.score, 50000u);

  struct ScoreCase {
    std::uint8_t mantissa, exponent;
    std::uint32_t score;
  };
  for (const ScoreCase c :
       {ScoreCase{5, 3, 5000}, ScoreCase{0, 9, 0}, ScoreCase{7, 0, 7}, ScoreCase{1, 6, 1000000}}) {
    std::uint8_t record[16] = {};
    record[14] = c.mantissa;
    record[15] = c.exponent;
    EXPECT_EQ(ParseEnemyRecord(record, 32).score, c.score);
  }
}

TEST_F(DataFilesTest, TypeTablesLoadAndAMissingOneFails) {
  WriteTables(DefaultTables());
  LoadTypeTables();
  EXPECT_EQ(tables.player.maxHp, 64);
  EXPECT_EQ(tables.shots[0].speed, 160);
  EXPECT_EQ(tables.enemies[5].score, 1000u);
  EXPECT_EQ(tables.enemies[23].hp, 200);
  EXPECT_EQ(tables.blocks[0].flags, 1);
  EXPECT_EQ(tables.items[3].animationFrames, 4);
  std::filesystem::remove("data/boss.dat");
  EXPECT_THROW(LoadTypeTables(), error_);
}

TEST_F(DataFilesTest, AShortTypeTableReadsZeros) {
  WriteFile("data/shot.dat", Bytes(20, 9));
  LoadShotTable();
  EXPECT_EQ(tables.shots[0].speed, 9);
  EXPECT_EQ(tables.shots[1].box.left, 9 - 16);
  EXPECT_EQ(tables.shots[1].speed, 0);
  EXPECT_EQ(tables.shots[6].damage, 0);
}

}  // namespace
