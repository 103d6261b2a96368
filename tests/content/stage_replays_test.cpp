// Every stage's clearing replay (content/replays), played through the game's own replay path on
// the generated data, reaches what content/replays/results.txt says: a stage change that moves a
// result is a reviewed change of that table.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "content_fixture.h"
#include "game/data_files.h"
#include "game/game_state.h"
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
};

Played PlayStoredReplay(const char* path) {
  ResetGameState();
  tables = GameTables{};
  LoadTypeTables();
  game.musicIndex = kNoMusic;
  ReturnToTitle();
  Played p;
  p.started = StartReplayPlayback(path);
  while (p.started && game.sceneNumber == SceneReplay && p.frames < 100000) {
    RunPlaySceneFrame();
    ++p.frames;
  }
  p.goal = game.playState == PlayStageEnd && game.lives != kGameOverLives;
  p.score = game.score;
  return p;
}

}  // namespace

TEST(StageReplays, TheTableListsEveryStageOnce) {
  auto results = ReadResults();
  ASSERT_EQ(results.size(), 16u);
  for (int s = 0; s < 16; ++s) EXPECT_EQ(results[size_t(s)].stage, s);
}

TEST(StageReplays, EachStageIsClearedAsTheTableSays) {
  const TempFolder dir("mub_content_stage_replays");
  std::string message;
  std::vector<std::string> warnings;
  ASSERT_EQ(mubgen::GenerateContent(SourceDir(), dir.string(), message, warnings), 0) << message;
  mubgen::TypeTables types = mubgen::ReadTypeTables(SourceDir(), SourceDir());
  auto results = ReadResults();
  for (const Expected& e : results) {
    char name[64];
    std::snprintf(name, sizeof name, "/replays/stage%02d.rpt", e.stage);
    auto bytes = mubgen::CompileReplay(mubgen::ReadSourceFile(SourceDir() + name, name), types);
    ASSERT_EQ(bytes[0], e.stage);
    std::snprintf(name, sizeof name, "/replay/%02d.rp", e.stage);
    std::ofstream(dir.string() + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  // One process plays them all in a row: a stage attempt must not depend on what ran before.
  InFolder in(dir.string());
  for (const Expected& e : results) {
    SCOPED_TRACE("stage " + std::to_string(e.stage));
    char path[32];
    std::snprintf(path, sizeof path, "replay/%02d.rp", e.stage);
    Played p = PlayStoredReplay(path);
    ASSERT_TRUE(p.started);
    EXPECT_EQ(p.goal, e.goal);
    EXPECT_EQ(p.frames, e.frames);
    EXPECT_EQ(p.score, e.score);
  }
}
