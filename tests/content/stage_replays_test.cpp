// Every stage's clearing replay (content/replays), installed by the generator as the stage's
// stored replay and played through the game's own replay path on the generated data, reaches
// what content/replays/results.txt says: a stage change that moves a result is a reviewed change
// of that table. A generator run never replaces a replay the player already has.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "content_fixture.h"
#include "game/data_files.h"
#include "game/game_state.h"
#include "game/keys.h"
#include "game/menu_scenes.h"
#include "game/play_scene.h"
#include "game/replay.h"
#include "generator.h"
#include "replay_compiler.h"
#include "source_text.h"
#include "type_tables.h"

using namespace content_test;

namespace {

struct Expected {
  int stage = 0;
  bool goal = false;
  int frames = 0;
  int score = 0;
};

std::vector<Expected> ReadResults() {
  std::vector<Expected> out;
  mubgen::SourceFile f =
      mubgen::ReadSourceFile(SourceDir() + "/replays/results.txt", "results.txt");
  for (const auto& line : f.lines) {
    auto w = mubgen::SplitWords(line.text);
    if (w.empty()) continue;
    Expected e;
    e.stage = std::stoi(w.at(0));
    e.goal = w.at(1) == "goal";
    e.frames = std::stoi(w.at(2));
    e.score = std::stoi(w.at(3));
    out.push_back(e);
  }
  return out;
}

class InFolder {
 public:
  explicit InFolder(const std::string& path) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~InFolder() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

struct Played {
  bool started = false;
  bool goal = false;
  int frames = 0;
  int score = 0;
  int stageScore = 0;
};

// Plays the replay scene to its end from the first frame StartReplayPlayback set up.
void PlayToTheTitle(Played& p) {
  while (p.started && game.sceneNumber == SceneReplay && p.frames < 100000) {
    RunPlaySceneFrame();
    ++p.frames;
  }
  p.goal = game.playState == PlayStageEnd && game.lives != kGameOverLives;
  p.score = game.score;
  p.stageScore = game.stageScore;
}

void StartAtTheTitle() {
  ResetGameState();
  tables = GameTables{};
  LoadTypeTables();
  LoadConfig();
  LoadSaveData();
  game.musicIndex = kNoMusic;
  ReturnToTitle();
}

Played PlayStoredReplay(const char* path) {
  StartAtTheTitle();
  Played p;
  p.started = StartReplayPlayback(path);
  PlayToTheTitle(p);
  return p;
}

std::string MakeNewFolder(const TempFolder& dir) {
  std::string message;
  std::vector<std::string> warnings;
  EXPECT_EQ(mubgen::GenerateContent(SourceDir(), dir.string(), message, warnings), 0) << message;
  return dir.string();
}

}  // namespace

TEST(StageReplays, TheTableListsEveryStageOnce) {
  auto results = ReadResults();
  ASSERT_EQ(results.size(), 16u);
  for (int s = 0; s < 16; ++s) EXPECT_EQ(results[size_t(s)].stage, s);
}

TEST(StageReplays, EachStageIsClearedAsTheTableSays) {
  const TempFolder dir("mub_content_stage_replays");
  MakeNewFolder(dir);
  // One process plays them all in a row: a stage attempt must not depend on what ran before.
  InFolder in(dir.string());
  for (const Expected& e : ReadResults()) {
    SCOPED_TRACE("stage " + std::to_string(e.stage));
    char path[32];
    std::snprintf(path, sizeof path, "replay/%02d.rp", e.stage);
    Played p = PlayStoredReplay(path);
    ASSERT_TRUE(p.started) << "a new folder holds no replay of the stage";
    EXPECT_EQ(game.stage, e.stage);
    EXPECT_EQ(p.goal, e.goal);
    EXPECT_EQ(p.frames, e.frames);
    EXPECT_EQ(p.score, e.score);
    // Stored with the stage score it makes, as a player's clear is: only a better run replaces it.
    std::uint8_t header[kReplayHeaderSize] = {};
    std::FILE* file = std::fopen(path, "rb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fread(header, 1, sizeof header, file), sizeof header);
    std::fclose(file);
    const int stored = int(std::uint32_t(header[24]) | std::uint32_t(header[25]) << 8 |
                           std::uint32_t(header[26]) << 16 | std::uint32_t(header[27]) << 24);
    EXPECT_EQ(stored, p.stageScore);
    EXPECT_GT(stored, 0);
  }
}

// On a new folder's title, as a player meets it: R on stage 1-1 of the menu title, and the
// attract replay of the default (arcade) title after 1500 idle frames.
TEST(StageReplays, ANewFoldersTitlePlaysStageOneOneToItsRecordedScore) {
  struct Case {
    const char* name;
    std::uint8_t arcadeMode;
    bool pressR;
  };
  constexpr Case kCases[] = {{"R on the menu title", 1, true}, {"attract replay", 0, false}};
  const Expected stageOne = ReadResults().at(0);
  const TempFolder dir("mub_content_title_replay");
  MakeNewFolder(dir);
  InFolder in(dir.string());
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    StartAtTheTitle();
    game.config.arcadeMode = c.arcadeMode;
    if (c.pressR) game.titleCursor = 0;  // START chosen: the stage select at 1-1
    char keys[256] = {};
    keys[KeyR] = c.pressR ? 1 : 0;
    int titleFrames = 0;
    while (game.sceneNumber == SceneTitle && titleFrames < 2000) {
      ApplyKeyStates(keys);
      TitleSceneInput();
      keys[KeyR] = 0;
      ++titleFrames;
    }
    EXPECT_EQ(titleFrames, c.pressR ? 1 : 1500);
    ASSERT_EQ(game.sceneNumber, SceneReplay);
    ASSERT_EQ(game.stage, 0);
    ApplyKeyStates(keys);
    Played p;
    p.started = true;
    PlayToTheTitle(p);
    EXPECT_EQ(game.sceneNumber, SceneTitle);
    EXPECT_EQ(p.frames, stageOne.frames);
    EXPECT_EQ(p.score, stageOne.score);
  }
}

// A player's replays (one earned, one cut short) survive a generator run over their folder byte
// for byte, a second run as well; the stages without one get the content's.
TEST(StageReplays, AGeneratorRunNeverReplacesAPlayersReplay) {
  const TempFolder dir("mub_content_players_replays");
  const std::string folder = dir.string();
  std::filesystem::create_directories(folder + "/replay");
  const std::pair<const char*, std::string> players[] = {
      {"/replay/00.rp", std::string("player's own replay\0\x01\xff", 22)}, {"/replay/15.rp", ""}};
  for (const auto& [name, bytes] : players) WriteFileText(folder + name, bytes);
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    MakeNewFolder(dir);
    for (const auto& [name, bytes] : players) EXPECT_EQ(ReadFileText(folder + name), bytes) << name;
  }
  mubgen::TypeTables types = mubgen::ReadTypeTables(SourceDir(), SourceDir());
  for (int stage : {1, 14}) {
    char name[64];
    std::snprintf(name, sizeof name, "/replays/stage%02d.rpt", stage);
    const auto content =
        mubgen::CompileReplay(mubgen::ReadSourceFile(SourceDir() + name, name), types);
    std::snprintf(name, sizeof name, "/replay/%02d.rp", stage);
    EXPECT_TRUE(ReadFileBytes(folder + name) == content) << name;
  }
}

// On a new folder a failed attempt that scores something (a game over at 800 points) keeps the
// shipped replay; a clear that scores more than it made takes its place.
TEST(StageReplays, OnlyABetterRunReplacesAShippedReplay) {
  const TempFolder dir("mub_content_shipped_replay");
  MakeNewFolder(dir);
  InFolder in(dir.string());
  const std::vector<uint8_t> shipped = ReadFileBytes("replay/00.rp");
  const int shippedScore = int(std::uint32_t(shipped.at(24)) | std::uint32_t(shipped[25]) << 8 |
                               std::uint32_t(shipped[26]) << 16 | std::uint32_t(shipped[27]) << 24);
  const std::string recording(kReplayHeaderSize + 10, '\0');
  for (const int stageScore : {800, shippedScore, shippedScore + 1}) {
    SCOPED_TRACE(stageScore);
    StartAtTheTitle();
    game.config.saveReplays = 1;
    game.stage = 0;
    game.stageScore = stageScore;
    WriteFileText(kRecordingPath, recording);
    CommitStageReplay();
    EXPECT_EQ(ReadFileBytes("replay/00.rp") == shipped, stageScore <= shippedScore);
  }
}
