// What the game's fuzz targets share: a private working folder with small type tables and a
// map for every stage, written once, and quick helpers to write a file and run the play scene.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "game/data_files.h"
#include "game/game_state.h"
#include "game/play_scene.h"

namespace gamefuzz {

inline void WriteBytes(const char* path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path, "wb");
  if (!file) std::abort();
  if (size > 0) std::fwrite(data, 1, size, file);
  std::fclose(file);
}

inline void WriteBytes(const char* path, const std::vector<std::uint8_t>& bytes) {
  WriteBytes(path, bytes.data(), bytes.size());
}

// Type tables with every field in use: enemies that fire, fall and leave steps, bosses.
inline void WriteFixtureTables() {
  std::vector<std::uint8_t> player = {6, 6, 26, 26, 64, 16, 208, 20, 16, 180, 4, 1, 4, 6, 0, 0};
  WriteBytes("data/player.dat", player);
  std::vector<std::uint8_t> blocks(64, 0);
  blocks[0] = blocks[16] = 1;
  WriteBytes("data/block.dat", blocks);
  std::vector<std::uint8_t> shots;
  const std::uint8_t shotFlags[7] = {1, 0, 1, 4, 6, 9, 1};
  for (int i = 0; i < 7; ++i) {
    const std::uint8_t record[16] = {8,
                                     12,
                                     24,
                                     20,
                                     static_cast<std::uint8_t>(i == 0 ? 1 : 8),
                                     shotFlags[i],
                                     static_cast<std::uint8_t>(i == 0 ? 160 : 40),
                                     2,
                                     3};
    shots.insert(shots.end(), record, record + 16);
  }
  WriteBytes("data/shot.dat", shots);
  std::vector<std::uint8_t> enemies;
  for (int i = 0; i < 23; ++i) {
    const std::uint8_t flags =
        static_cast<std::uint8_t>((i % 4) | (i % 3 == 0 ? 4 : 0) | (i == 6 ? 16 : 0) |
                                  (i == 13 ? 64 : 0) | (i >= 18 ? 32 : 0));
    const std::uint8_t record[16] = {
        6, 6, 26, 26, 16, flags, 4, 1, 24, 32, static_cast<std::uint8_t>(1 + i % 6), 0, 2, 6, 3, 2};
    enemies.insert(enemies.end(), record, record + 16);
  }
  WriteBytes("data/enemy.dat", enemies);
  std::vector<std::uint8_t> bosses;
  for (int i = 0; i < 4; ++i) {
    const std::uint8_t record[16] = {8, 8, 56, 56, 24, 0, 60, 0, 48, 32, 6, 0, 4, 8, 5, 4};
    bosses.insert(bosses.end(), record, record + 16);
  }
  WriteBytes("data/boss.dat", bosses);
  std::vector<std::uint8_t> items(96, 0);
  for (int i = 0; i < 6; ++i) items[16 * i] = 4, items[16 * i + 1] = 8;
  WriteBytes("data/item.dat", items);
}

// A 60-column map with ground, ledges, every enemy type, items and a boss.
inline std::vector<std::uint8_t> FixtureMap(int stage) {
  std::vector<std::uint8_t> map(16 + 60 * 16, 0xFF);
  const std::uint8_t header[16] = {60, 0, 45, 0, 16, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::copy(header, header + 16, map.begin());
  auto put = [&](int column, int entry, std::array<std::uint8_t, 4> bytes) {
    std::copy(bytes.begin(), bytes.end(), map.begin() + 16 + 16 * column + 4 * entry);
  };
  put(0, 0, {0, 0, 90, 12});
  for (int c = 6; c < 52; c += 2)
    put(c, 0,
        {1, static_cast<std::uint8_t>((c / 2 - 3) % 23), static_cast<std::uint8_t>(3 + c % 7), 0});
  for (int c = 7; c < 52; c += 5) put(c, 1, {2, static_cast<std::uint8_t>(c % 6), 10, 0});
  put(9, 2, {0, 2, 3, 9});
  put(30, 2, {3, static_cast<std::uint8_t>(stage % 4), 5, 0});
  return map;
}

// The fixture folder (made once per process with the tables and 16 maps) is the working folder
// for the guard's life; libFuzzer's own relative paths see the folder it started in.
inline std::filesystem::path fixturePath;

class FixtureFolder {
 public:
  FixtureFolder() : previous_(std::filesystem::current_path()) {
    if (fixturePath.empty()) {
      char pattern[] = "/tmp/mub-fuzz-XXXXXX";
      if (!mkdtemp(pattern)) std::abort();
      fixturePath = pattern;
      std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(fixturePath, ignored);
      });
      std::filesystem::current_path(fixturePath);
      std::filesystem::create_directories("data/map");
      std::filesystem::create_directories("replay");
      WriteFixtureTables();
      for (int stage = 0; stage < 16; ++stage) {
        char path[32];
        std::snprintf(path, sizeof path, "data/map/%02d.mdt", stage);
        WriteBytes(path, FixtureMap(stage));
      }
    }
    std::filesystem::current_path(fixturePath);
  }
  ~FixtureFolder() { std::filesystem::current_path(previous_); }
  FixtureFolder(const FixtureFolder&) = delete;
  FixtureFolder& operator=(const FixtureFolder&) = delete;

 private:
  std::filesystem::path previous_;
};

// A fresh game on the fixture tables, at the title, with replays neither saved nor played.
inline void ResetFixtureGame() {
  ResetGameState();
  tables = GameTables{};
  LoadTypeTables();
  game.config.arcadeMode = 1;
  game.config.saveReplays = 0;
}

}  // namespace gamefuzz
