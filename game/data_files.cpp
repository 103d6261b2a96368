// Configuration, save data and type tables.
#include "game/data_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine.h"
#include "game/byte_fields.h"

namespace {

constexpr const char* kConfigPath = "data/config.dat";
constexpr const char* kSavePath = "data/save.sdt";

// File order left, top, right, bottom in cell pixels; memory order left, right, top, bottom
// relative to the cell's centre.
HitBox ParseBox(const std::uint8_t* record, int centre) {
  HitBox box;
  box.left = static_cast<std::int16_t>(record[0] - centre);
  box.top = static_cast<std::int16_t>(record[1] - centre);
  box.right = static_cast<std::int16_t>(record[2] - centre);
  box.bottom = static_cast<std::int16_t>(record[3] - centre);
  return box;
}

std::uint32_t ScoreOf(std::uint8_t mantissa, std::uint8_t exponent) {
  std::uint32_t score = mantissa;
  for (int i = 0; i < exponent; ++i) score *= 10u;
  return score;
}

// Reads `count` 16-byte records; each record is zeroed before its read, so a short file gives
// zero bytes rather than stale ones.
template <typename Store>
void ReadTable(const char* path, int count, Store store) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) ThrowLoadFailed(path);
  std::uint8_t record[kTypeRecordSize];
  for (int i = 0; i < count; ++i) {
    std::fill(std::begin(record), std::end(record), 0);
    [[maybe_unused]] const std::size_t read = std::fread(record, 1, sizeof record, file);
    store(i, record);
  }
  std::fclose(file);
}

}  // namespace

GameConfig ParseConfig(std::span<const std::uint8_t> bytes) {
  GameConfig config;
  std::uint8_t* fields[kConfigFileSize] = {&config.arcadeMode,   &config.windowMode,
                                           &config.effectVolume, &config.musicVolume,
                                           &config.saveReplays,  &config.playReplays};
  for (std::size_t i = 0; i < bytes.size() && i < kConfigFileSize; ++i) *fields[i] = bytes[i];
  return config;
}

std::array<std::uint8_t, kConfigFileSize> ConfigBytes(const GameConfig& config) {
  return {config.arcadeMode,  config.windowMode,  config.effectVolume,
          config.musicVolume, config.saveReplays, config.playReplays};
}

SaveData ParseSaveData(std::span<const std::uint8_t> bytes) {
  std::array<std::uint8_t, kSaveFileSize> image{};
  for (std::size_t i = 0; i < bytes.size() && i < image.size(); ++i) image[i] = bytes[i];
  SaveData save;
  for (int i = 0; i < 10; ++i) save.highScores[i] = ReadInt32(&image[4 * i]);
  save.stagesReached = image[40];
  for (int i = 0; i < 3; ++i) save.padding[i] = image[41 + i];
  return save;
}

std::array<std::uint8_t, kSaveFileSize> SaveDataBytes(const SaveData& save) {
  std::array<std::uint8_t, kSaveFileSize> image{};
  for (int i = 0; i < 10; ++i) WriteInt32(&image[4 * i], save.highScores[i]);
  image[40] = save.stagesReached;
  for (int i = 0; i < 3; ++i) image[41 + i] = save.padding[i];
  return image;
}

long ReadFilePrefix(const char* path, std::span<std::uint8_t> buffer) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return -1;
  const std::size_t read = std::fread(buffer.data(), 1, buffer.size(), file);
  std::fclose(file);
  return static_cast<long>(read);
}

void LoadConfig() {
  std::array<std::uint8_t, kConfigFileSize> bytes{};
  const long read = ReadFilePrefix(kConfigPath, bytes);
  game.config = ParseConfig(std::span<const std::uint8_t>(bytes.data(), read > 0 ? read : 0));
}

void SaveConfig() {
  const auto bytes = ConfigBytes(game.config);
  SaveFile(kConfigPath, bytes);
}

void LoadSaveData() {
  std::array<std::uint8_t, kSaveFileSize> bytes{};
  const long read = ReadFilePrefix(kSavePath, bytes);
  game.save = ParseSaveData(std::span<const std::uint8_t>(bytes.data(), read > 0 ? read : 0));
}

void WriteSaveData() {
  const auto bytes = SaveDataBytes(game.save);
  SaveFile(kSavePath, bytes);
}

bool SaveFile(const char* path, std::span<const std::uint8_t> bytes) {
  if (WriteFileAtomically(path, bytes) == 0) return true;
  const char* reason = std::strerror(errno);
  std::fprintf(stderr, reinterpret_cast<const char*>(u8"mub: %s を保存できませんでした: %s\n"),
               path, reason);
  LogPrintf("%s を保存できませんでした: %s", path, reason);
  return false;
}

PlayerType ParsePlayerRecord(const std::uint8_t* r) {
  PlayerType type;
  type.box = ParseBox(r, 16);
  type.maxHp = r[4];
  type.walkSpeed = r[5];
  type.jumpImpulse = r[6];
  type.hoverLift = r[7];
  type.hoverRiseLimit = r[8];
  type.hoverMax = r[9];
  type.hoverCost = r[10];
  type.hoverRegeneration = r[11];
  type.animationFrames = r[12];
  type.framesPerStep = r[13];
  return type;
}

BlockType ParseBlockRecord(const std::uint8_t* r) {
  BlockType type;
  type.flags = r[0];
  return type;
}

ShotType ParseShotRecord(const std::uint8_t* r) {
  ShotType type;
  type.box = ParseBox(r, 16);
  type.damage = r[4];
  type.flags = r[5];
  type.speed = r[6];
  type.animationFrames = r[7];
  type.framesPerStep = r[8];
  return type;
}

EnemyType ParseEnemyRecord(const std::uint8_t* r, int cellSize) {
  EnemyType type;
  type.box = ParseBox(r, cellSize / 2);
  type.contactDamage = r[4];
  type.flags = r[5];
  type.hp = r[6];
  type.speed = r[7];
  type.paramA = r[8];
  type.paramB = r[9];
  type.bulletType = r[10];
  type.animationFrames = r[12];
  type.framesPerStep = r[13];
  type.score = ScoreOf(r[14], r[15]);
  type.cellWidth = cellSize;
  type.cellHeight = cellSize;
  return type;
}

ItemType ParseItemRecord(const std::uint8_t* r) {
  ItemType type;
  type.animationFrames = r[0];
  type.framesPerStep = r[1];
  return type;
}

void LoadPlayerTable() {
  ReadTable("data/player.dat", 1, [](int, const std::uint8_t* r) {
    const int graph = tables.player.graph;
    tables.player = ParsePlayerRecord(r);
    tables.player.graph = graph;
  });
}

void LoadBlockTable() {
  ReadTable("data/block.dat", kBlockTypeCount, [](int i, const std::uint8_t* r) {
    tables.blocks[i].flags = ParseBlockRecord(r).flags;
  });
}

void LoadShotTable() {
  ReadTable("data/shot.dat", kShotTypeCount, [](int i, const std::uint8_t* r) {
    const int graph = tables.shots[i].graph;
    tables.shots[i] = ParseShotRecord(r);
    tables.shots[i].graph = graph;
  });
}

void LoadEnemyTable() {
  ReadTable("data/enemy.dat", kBossTypeFirst, [](int i, const std::uint8_t* r) {
    const int graph = tables.enemies[i].graph;
    tables.enemies[i] = ParseEnemyRecord(r, 32);
    tables.enemies[i].graph = graph;
  });
}

void LoadBossTable() {
  ReadTable("data/boss.dat", kEnemyTypeCount - kBossTypeFirst, [](int i, const std::uint8_t* r) {
    EnemyType& type = tables.enemies[kBossTypeFirst + i];
    const int graph = type.graph;
    type = ParseEnemyRecord(r, 64);
    type.graph = graph;
  });
}

void LoadItemTable() {
  ReadTable("data/item.dat", kItemKindCount, [](int i, const std::uint8_t* r) {
    const int graph = tables.items[i].graph;
    tables.items[i] = ParseItemRecord(r);
    tables.items[i].graph = graph;
  });
}

void LoadTypeTables() {
  LoadPlayerTable();
  LoadBlockTable();
  LoadShotTable();
  LoadEnemyTable();
  LoadBossTable();
  LoadItemTable();
}
