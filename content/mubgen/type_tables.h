// The six type tables: parsed from named-field text, checked against what the game relies on,
// written as 16-byte records.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "source_text.h"

namespace mubgen {

inline constexpr int kEnemyTypes = 23;
inline constexpr int kBossTypes = 4;
inline constexpr int kShotTypes = 7;
inline constexpr int kItemKinds = 6;
inline constexpr int kBlockTypes = 4;

// Box bytes are in file order: left, top, right, bottom (cell pixels).
struct PlayerTypeDef {
  std::array<uint8_t, 4> box{};
  uint8_t hp = 0, walk = 0, jump = 0, hoverLift = 0, hoverRiseLimit = 0, hoverMax = 0;
  uint8_t hoverCost = 0, hoverRegen = 0, frames = 0, step = 0;
};

struct BlockTypeDef {
  uint8_t flags = 0;  // bit 0 solid
};

struct ShotTypeDef {
  std::array<uint8_t, 4> box{};
  uint8_t damage = 0, flags = 0, speed = 0, frames = 0, step = 0;
};

struct EnemyTypeDef {
  std::array<uint8_t, 4> box{};
  uint8_t contact = 0, flags = 0, hp = 0, speed = 0, a = 0, b = 0, bullet = 0;
  uint8_t frames = 0, step = 0, mantissa = 0, exponent = 0;
};

struct ItemTypeDef {
  uint8_t frames = 0, step = 0;
};

struct TypeTables {
  PlayerTypeDef player;
  std::array<BlockTypeDef, kBlockTypes> blocks{};
  std::array<ShotTypeDef, kShotTypes> shots{};
  std::array<EnemyTypeDef, kEnemyTypes + kBossTypes> enemies{};  // 23 enemies, then the bosses
  std::array<ItemTypeDef, kItemKinds> items{};
  // Where the values of the cross-table rules were written, for messages.
  struct Where {
    std::string file;
    int line = 0;
  };
  std::array<Where, kBossTypes> bossHpAt{};
};

// Enemy flag values.
inline constexpr uint8_t kFlagGravity = 4, kFlagShotproof = 8, kFlagPersist = 16,
                         kFlagCompExempt = 32, kFlagStepOnDeath = 64;
// Shot flag values.
inline constexpr uint8_t kShotPass = 1, kShotBounce = 2, kShotGravity = 4, kShotEdgeBounce = 8;

// Poses an enemy type is drawn with (rows of frames in its sheet row).
int EnemyPoses(int type);

// Parses the six files of "<dir>/types/" and checks every record and the cross-table rules.
// shownDir prefixes the file names in messages.
TypeTables ReadTypeTables(const std::string& dir, const std::string& shownDir);

// Parses one table file's text (for tests); kind is "player", "block", "shot", "enemy", "boss"
// or "item"; the result is merged into tables.
void ParseTypeTable(const SourceFile& f, const std::string& kind, TypeTables& tables,
                    std::vector<bool>& seen);
void CheckTypeTables(const TypeTables& tables);

std::vector<uint8_t> PlayerTableBytes(const TypeTables& t);
std::vector<uint8_t> BlockTableBytes(const TypeTables& t);
std::vector<uint8_t> ShotTableBytes(const TypeTables& t);
std::vector<uint8_t> EnemyTableBytes(const TypeTables& t);
std::vector<uint8_t> BossTableBytes(const TypeTables& t);
std::vector<uint8_t> ItemTableBytes(const TypeTables& t);

}  // namespace mubgen
