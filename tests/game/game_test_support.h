// Fixtures for the game's tests: a temporary working folder with data/, data/map/ and replay/,
// tiny type tables and maps written byte by byte, replay files, injected keys and a recorder
// of the sound calls.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "game/game_state.h"
#include "temp_folder.h"

namespace gametest {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder with data/map and replay, the working folder for its life.
class WorkingFolder : public TempFolder {
 public:
  WorkingFolder();
};

void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// Type tables: a 16-byte record per entry.
using Record = std::array<std::uint8_t, 16>;
struct FixtureTables {
  Record player;
  std::array<Record, 4> blocks;
  std::array<Record, 7> shots;
  std::array<Record, 23> enemies;
  std::array<Record, 4> bosses;
  std::array<Record, 6> items;
};
// Box 6,6,26,26; HP 64, walk 16, jump 208, hover lift 20, rise limit 16, hover 180, cost 4,
// regeneration 1; block 0 and 1 solid; shot 0 box 8,12,24,20 damage 1 passing blocks at 160;
// enemy 5 passive and fixed in the world, HP 1, score 1000; the other enemies HP 4, score 100.
FixtureTables DefaultTables();
void WriteTables(const FixtureTables& tables);

// A map: header and four entries per column (empty entries are FF).
struct MapEntry {
  std::uint8_t kind, p1, p2, p3;
};
struct FixtureMap {
  int length = 40;
  int goal = 30;
  int speed = 16;
  int startRow = 11;
  std::vector<std::array<MapEntry, 4>> columns;  // `length` columns
  void Put(int column, MapEntry entry);
};
FixtureMap FlatMap(int length = 40, int goal = 30, int speed = 16);
void WriteMap(int stage, const FixtureMap& map);

struct ReplayHeader {
  std::uint8_t stage = 0;
  std::uint8_t lives = 3;
  std::array<std::uint8_t, 8> streaks{1, 1, 1, 1, 1, 1, 1, 1};
  std::int16_t hp = 64;
  std::int16_t hover = 180;
  std::int16_t barrier = 0;
  std::int16_t power = 0;
  std::int32_t score = 0;
};
// Header with its check word, then the control bytes.
Bytes ReplayBytes(const ReplayHeader& header, const Bytes& controls);

// A 24-bit bitmap of one colour, and every bitmap the game loads at its least sizes.
void WriteBitmap(const std::string& path, int width, int height, std::uint8_t red,
                 std::uint8_t green, std::uint8_t blue);
void WriteFixtureBitmaps();
// A 24-bit bitmap whose pixel (x, y), counted from the top, has the colour 0xRRGGBB of `colour`.
void WritePatternBitmap(const std::string& path, int width, int height,
                        std::uint32_t (*colour)(int x, int y));

// Resets the game's state, writes nothing, loads the type tables of the working folder and
// sets the configuration (arcade mode off unless asked).
void StartFreshGame(std::uint8_t arcadeMode = 1);

// One frame of key states: the listed keys down, every other key up.
void PressKeys(std::initializer_list<int> keys);

// Runs play scene frames while the scene stays `scene`, at most `limit` frames; returns the count.
int RunPlayFrames(int scene, int limit);

// Every sound call the simulation made, as "play <sound> <type> <top>", "stop <sound>" and
// "volume <volume> <sound>", plus debugger lines as "debug".
struct SoundLog {
  SoundLog();
  ~SoundLog();
  std::vector<std::string> calls;
};

// The state that a stage attempt ends in, for comparing two runs.
std::string DescribeStage();

}  // namespace gametest
