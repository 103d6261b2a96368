// The game's own data files, read and written with the C runtime's buffered file functions:
// "data/config.dat" (6 bytes), "data/save.sdt" (44 bytes) and the six type tables of 16-byte
// records. Byte layouts are little-endian and handled field by field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "game/game_state.h"

constexpr int kTypeRecordSize = 16;
constexpr int kConfigFileSize = 6;
constexpr int kSaveFileSize = 44;

// Defaults first, then as many bytes as the file holds; a missing file is not created.
void LoadConfig();
void SaveConfig();
// Zeros first, then as many bytes as the file holds.
void LoadSaveData();
void WriteSaveData();

GameConfig ParseConfig(std::span<const std::uint8_t> bytes);
std::array<std::uint8_t, kConfigFileSize> ConfigBytes(const GameConfig& config);
SaveData ParseSaveData(std::span<const std::uint8_t> bytes);
std::array<std::uint8_t, kSaveFileSize> SaveDataBytes(const SaveData& save);

// One record of each type table (the graph handles and cell sizes are set by the loader).
PlayerType ParsePlayerRecord(const std::uint8_t* record);
BlockType ParseBlockRecord(const std::uint8_t* record);
ShotType ParseShotRecord(const std::uint8_t* record);
EnemyType ParseEnemyRecord(const std::uint8_t* record, int cellSize);
ItemType ParseItemRecord(const std::uint8_t* record);

// Each reads its file into `tables` and throws LoadFailed when the file cannot be opened. Bytes a
// short file does not hold read as zero.
void LoadPlayerTable();
void LoadBlockTable();
void LoadShotTable();
void LoadEnemyTable();
void LoadBossTable();
void LoadItemTable();
void LoadTypeTables();

// Replaces the file whole (see WriteFileAtomically); when that fails the previous file stays, the
// failure goes to standard error and the engine's log, and the game plays on. False on failure.
bool SaveFile(const char* path, std::span<const std::uint8_t> bytes);

// Reads up to `buffer.size()` bytes from the start of a file; -1 when it cannot be opened.
long ReadFilePrefix(const char* path, std::span<std::uint8_t> buffer);
