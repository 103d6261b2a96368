// Fixtures for the game's tests.
#include "game_test_support.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "game/data_files.h"
#include "game/host_calls.h"
#include "game/keys.h"
#include "game/play_scene.h"

namespace gametest {

WorkingFolder::WorkingFolder() : TempFolder("mub-test", kEnter) {
  std::filesystem::create_directories(path() / "data" / "map");
  std::filesystem::create_directories(path() / "replay");
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

FixtureTables DefaultTables() {
  FixtureTables t{};
  t.player = {6, 6, 26, 26, 64, 16, 208, 20, 16, 180, 4, 1, 4, 6, 0, 0};
  t.blocks[0][0] = 1;
  t.blocks[1][0] = 1;
  t.shots[0] = {8, 12, 24, 20, 1, 1, 160, 2, 3};
  for (int i = 1; i < 7; ++i) t.shots[i] = {12, 12, 20, 20, 8, 0, 40, 2, 4};
  for (auto& enemy : t.enemies) enemy = {6, 6, 26, 26, 16, 1, 4, 0, 24, 32, 1, 0, 2, 6, 1, 2};
  t.enemies[5] = {6, 6, 26, 26, 0, 1, 1, 0, 0, 0, 1, 0, 2, 8, 1, 3};
  for (auto& boss : t.bosses) boss = {8, 8, 56, 56, 24, 0, 200, 0, 48, 32, 6, 0, 4, 8, 5, 4};
  for (auto& item : t.items) item = {4, 8};
  return t;
}

namespace {

void WriteRecords(const std::string& path, const Record* records, std::size_t count) {
  Bytes bytes;
  for (std::size_t i = 0; i < count; ++i)
    bytes.insert(bytes.end(), records[i].begin(), records[i].end());
  WriteFile(path, bytes);
}

void Put16(Bytes& bytes, std::size_t at, int value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(Bytes& bytes, std::size_t at, std::int32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[at + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * i));
}

std::int32_t Get32(const Bytes& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
  return static_cast<std::int32_t>(v);
}

}  // namespace

void WriteTables(const FixtureTables& t) {
  WriteRecords("data/player.dat", &t.player, 1);
  WriteRecords("data/block.dat", t.blocks.data(), t.blocks.size());
  WriteRecords("data/shot.dat", t.shots.data(), t.shots.size());
  WriteRecords("data/enemy.dat", t.enemies.data(), t.enemies.size());
  WriteRecords("data/boss.dat", t.bosses.data(), t.bosses.size());
  WriteRecords("data/item.dat", t.items.data(), t.items.size());
}

void FixtureMap::Put(int column, MapEntry entry) {
  for (MapEntry& slot : columns.at(column)) {
    if (slot.kind == 0xFF) {
      slot = entry;
      return;
    }
  }
}

FixtureMap FlatMap(int length, int goal, int speed) {
  FixtureMap map;
  map.length = length;
  map.goal = goal;
  map.speed = speed;
  map.columns.resize(length);
  for (auto& column : map.columns) column.fill({0xFF, 0xFF, 0xFF, 0xFF});
  map.Put(0, {0, 0, 61, 12});
  return map;
}

void WriteMap(int stage, const FixtureMap& map) {
  Bytes bytes(16, 0);
  Put16(bytes, 0, map.length);
  Put16(bytes, 2, map.goal);
  bytes[4] = static_cast<std::uint8_t>(map.speed);
  bytes[5] = static_cast<std::uint8_t>(map.startRow);
  for (const auto& column : map.columns)
    for (const MapEntry& entry : column)
      bytes.insert(bytes.end(), {entry.kind, entry.p1, entry.p2, entry.p3});
  char path[32];
  std::snprintf(path, sizeof path, "data/map/%02d.mdt", stage);
  WriteFile(path, bytes);
}

Bytes ReplayBytes(const ReplayHeader& header, const Bytes& controls) {
  Bytes bytes(32, 0);
  bytes[0] = header.stage;
  bytes[1] = header.lives;
  for (int i = 0; i < 8; ++i) bytes[8 + i] = header.streaks[i];
  Put16(bytes, 16, header.hp);
  Put16(bytes, 18, header.hover);
  Put16(bytes, 20, header.barrier);
  Put16(bytes, 22, header.power);
  Put32(bytes, 24, header.score);
  Put32(bytes, 28, Get32(bytes, 16) ^ Get32(bytes, 20) ^ Get32(bytes, 24));
  bytes.insert(bytes.end(), controls.begin(), controls.end());
  return bytes;
}

void WritePatternBitmap(const std::string& path, int width, int height,
                        std::uint32_t (*colour)(int x, int y)) {
  const int rowBytes = (width * 3 + 3) & ~3;
  const int pixelBytes = rowBytes * height;
  Bytes bytes(54, 0);
  bytes[0] = 'B';
  bytes[1] = 'M';
  Put32(bytes, 2, 54 + pixelBytes);
  Put32(bytes, 10, 54);
  Put32(bytes, 14, 40);
  Put32(bytes, 18, width);
  Put32(bytes, 22, height);
  Put16(bytes, 26, 1);
  Put16(bytes, 28, 24);
  Put32(bytes, 34, pixelBytes);
  for (int row = height - 1; row >= 0; --row) {  // bottom-up
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = colour(x, row);
      bytes.insert(bytes.end(), {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8),
                                 static_cast<std::uint8_t>(c >> 16)});
    }
    bytes.insert(bytes.end(), static_cast<std::size_t>(rowBytes - width * 3), 0);
  }
  WriteFile(path, bytes);
}

namespace {
std::uint32_t fillColour = 0;
}

void WriteBitmap(const std::string& path, int width, int height, std::uint8_t red,
                 std::uint8_t green, std::uint8_t blue) {
  fillColour =
      static_cast<std::uint32_t>(red) << 16 | static_cast<std::uint32_t>(green) << 8 | blue;
  WritePatternBitmap(path, width, height, [](int, int) { return fillColour; });
}

void WriteFixtureBitmaps() {
  std::filesystem::create_directories("image");
  struct Sheet {
    const char* path;
    int width, height;
  };
  const Sheet sheets[] = {
      {"image/txt.bmp", 120, 160},   {"image/player.bmp", 256, 32}, {"image/block.bmp", 384, 96},
      {"image/shot.bmp", 128, 224},  {"image/enemy.bmp", 512, 736}, {"image/boss.bmp", 1024, 256},
      {"image/step.bmp", 512, 32},   {"image/item.bmp", 128, 192},  {"image/nmb.bmp", 80, 12},
      {"image/hgauge.bmp", 320, 64}, {"image/jgauge.bmp", 240, 72}, {"image/goal.bmp", 8, 480},
      {"image/title.bmp", 512, 256}};
  for (const Sheet& sheet : sheets)
    WriteBitmap(sheet.path, sheet.width, sheet.height, 200, 180, 40);
}

void StartFreshGame(std::uint8_t arcadeMode) {
  ResetGameState();
  tables = GameTables{};
  LoadTypeTables();
  game.config.arcadeMode = arcadeMode;
  game.musicIndex = kNoMusic;
  ReturnToTitle();
}

void PressKeys(std::initializer_list<int> keys) {
  char states[256] = {};
  for (int key : keys) states[key] = 1;
  ApplyKeyStates(states);
}

int RunPlayFrames(int scene, int limit) {
  int frames = 0;
  while (game.sceneNumber == scene && frames < limit) {
    RunPlaySceneFrame();
    ++frames;
  }
  return frames;
}

namespace {

SoundLog* activeLog = nullptr;

int RecordPlay(int sound, int type, int top) {
  activeLog->calls.push_back("play " + std::to_string(sound) + " " + std::to_string(type) + " " +
                             std::to_string(top));
  return 0;
}
int RecordStop(int sound) {
  activeLog->calls.push_back("stop " + std::to_string(sound));
  return 0;
}
int RecordVolume(int volume, int sound) {
  activeLog->calls.push_back("volume " + std::to_string(volume) + " " + std::to_string(sound));
  return 0;
}
void RecordDebug(const char*) { activeLog->calls.push_back("debug"); }

}  // namespace

SoundLog::SoundLog() {
  activeLog = this;
  hostCalls = HostCalls{RecordPlay, RecordStop, RecordVolume, RecordDebug};
}

SoundLog::~SoundLog() {
  hostCalls = HostCalls{};
  activeLog = nullptr;
}

std::string DescribeStage() {
  std::ostringstream out;
  const PlayerRecord& p = game.player;
  out << "score " << game.score << " stage " << game.stageScore << " lives " << int(game.lives)
      << " frame " << game.stageFrame << " scroll " << game.scrollPosition << " player " << p.body.x
      << "," << p.body.y << "," << p.body.vx << "," << p.body.vy << " jump " << p.jumpState
      << " hp " << p.hp << " hover " << p.hover << " power " << p.power << " barrier " << p.barrier
      << " streaks";
  for (int c : game.streaks) out << " " << c;
  for (const EnemyRecord& e : game.enemies)
    if (e.body.kind != kFreeKind)
      out << " enemy " << int(e.body.kind) << "@" << e.body.x << "," << e.body.y;
  int bullets = 0;
  for (const GameBody& b : game.bullets) bullets += b.kind != kFreeKind;
  out << " bullets " << bullets;
  return out.str();
}

}  // namespace gametest
