// Map streaming, block placement and the scroll.
#include "game/stage_map.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

#include "game/collisions.h"
#include "game/enemies.h"
#include "game/game_math.h"
#include "game/game_state.h"
#include "game/stage_objects.h"

namespace {

enum MapEntryKind : std::uint8_t { EntryBlock = 0, EntryEnemy = 1, EntryItem = 2, EntryBoss = 3 };

int ScrollColumn() { return game.scrollPosition / 32; }

void PlaceBlock(int c, std::uint8_t type, std::uint8_t width, std::uint8_t topRow) {
  // A block type without a table entry is an empty entry.
  if (type >= kBlockTypeCount) return;
  for (StageBlock& block : game.blocks) {
    if (block.type != kFreeKind) continue;
    block.column = Wrap16(c);
    block.width = width;
    block.type = type;
    block.topRow = topRow;
    block.height = Wrap16(16 - topRow);
    if ((width + c) * 32 < game.scrollPosition) block.type = kFreeKind;
    return;
  }
}

void PlaceItem(int c, std::uint8_t kind, std::uint8_t row) {
  if (kind >= kItemKindCount || c - ScrollColumn() < 0) return;
  for (GameBody& item : game.items) {
    if (item.kind != kFreeKind) continue;
    const ItemType& type = tables.items[kind];
    item = GameBody{};
    item.kind = kind;
    item.x = Wrap16((c * 32 - game.scrollPosition + 16) * 16);
    item.y = Wrap16(row * 512 + 256);
    item.left = type.box.left;
    item.right = type.box.right;
    item.top = type.box.top;
    item.bottom = type.box.bottom;
    item.extra = static_cast<std::uint16_t>(type.cellWidth);
    item.last = 0;
    if (BodiesOverlap(item, game.player.body)) FreeItem(item);
    return;
  }
}

// An enemy or boss whose placement is cancelled (it would overlap the player) neither counts as
// a boss nor takes an item.
void PlaceEnemy(int c, bool boss, std::uint8_t number, std::uint8_t row) {
  if (c - ScrollColumn() < 0) return;
  for (EnemyRecord& enemy : game.enemies) {
    if (enemy.body.kind != kFreeKind) continue;
    ClearEnemy(enemy);
    const int type = number + (boss ? kBossTypeFirst : 0);
    if (type >= kEnemyTypeCount) return;
    const EnemyType& record = tables.enemies[type];
    enemy.body.kind = static_cast<std::uint8_t>(type);
    enemy.body.last = 0;
    enemy.body.x = Wrap16((c * 32 - game.scrollPosition + (boss ? 32 : 16)) * 16);
    enemy.body.y = Wrap16(row * 512 + 256);
    enemy.body.left = record.box.left;
    enemy.body.right = record.box.right;
    enemy.body.top = record.box.top;
    enemy.body.bottom = record.box.bottom;
    enemy.body.extra = record.contactDamage;
    enemy.hp = record.hp;
    if (BodiesOverlap(enemy.body, game.player.body)) {
      ClearEnemy(enemy);
      return;
    }
    if (boss) game.bossCounter = game.bossCounter > 0 ? game.bossCounter + 1 : 1;
    for (GameBody& item : game.items) {
      if (item.kind == kFreeKind || !BodiesOverlap(item, enemy.body)) continue;
      enemy.carriedItem = item.kind;
      FreeItem(item);
      break;
    }
    return;
  }
}

void PlaceColumn(int c, const std::array<std::uint8_t, kMapColumnSize>& entries) {
  for (int e = 0; e < 4; ++e) {
    const std::uint8_t* entry = &entries[4 * e];
    switch (entry[0]) {
      case EntryBlock: PlaceBlock(c, entry[1], entry[2], entry[3]); break;
      case EntryEnemy: PlaceEnemy(c, false, entry[1], entry[2]); break;
      case EntryItem: PlaceItem(c, entry[1], entry[2]); break;
      case EntryBoss: PlaceEnemy(c, true, entry[1], entry[2]); break;
      default: break;
    }
  }
}

}  // namespace

void StreamMapColumns(int first, int last) {
  if (first != 0 && first >= game.mapLength) return;
  CullPassedBlocks();
  char path[32];
  std::snprintf(path, sizeof path, "data/map/%02d.mdt", game.stage);
  std::FILE* file = std::fopen(path, "rb");
  if (!file) ThrowLoadFailed(path);
  if (first == 0) {
    // A header cut short reads as zeros from the cut on.
    std::array<std::uint8_t, kMapHeaderSize> header{};
    [[maybe_unused]] const std::size_t read = std::fread(header.data(), 1, header.size(), file);
    game.mapLength = header[0] | (header[1] << 8);
    game.goalColumn = header[2] | (header[3] << 8);
    game.scrollSpeed = header[4];
    if (game.restartColumn == 0) {
      game.restartRow = header[5];
      game.player.body.y = Wrap16(game.restartRow * 512 + 256);
    }
  }
  last = std::min(last, game.mapLength);
  if (first < last &&
      std::fseek(file, static_cast<long>(first + 1) * kMapColumnSize, SEEK_SET) == 0) {
    for (int c = first; c < last; ++c) {
      // Bytes past the end of the file read as 0xFF: empty entries, or out-of-range values
      // that leave a cut entry unplaced.
      std::array<std::uint8_t, kMapColumnSize> entries;
      entries.fill(0xFF);
      [[maybe_unused]] const std::size_t read = std::fread(entries.data(), 1, entries.size(), file);
      PlaceColumn(c, entries);
    }
  }
  std::fclose(file);
}

void AdvanceScroll() {
  const int oldColumn = ScrollColumn();
  const std::uint8_t sum = static_cast<std::uint8_t>(game.scrollRemainder + game.scrollSpeed);
  game.scrollPosition += sum / 16;
  game.scrollRemainder = sum % 16;
  ++game.stageFrame;
  const int newColumn = ScrollColumn();
  if (newColumn == oldColumn) return;
  if (newColumn + 20 < game.mapLength)
    game.stageScore = WrapAdd(game.stageScore, game.bossCounter == 0 ? 1000 : 100);
  if (newColumn > game.mapLength) game.scrollPosition -= 32;
  const int column = ScrollColumn();
  StreamMapColumns(column + 20, column + 21);
}

void ClearStageObjects() {
  game.scrollPosition = 0;
  game.scrollRemainder = 0;
  for (StageBlock& block : game.blocks) block.type = kFreeKind;
  for (EnemyRecord& enemy : game.enemies) ClearEnemy(enemy);
  for (GameBody& item : game.items) FreeItem(item);
  for (GameBody& step : game.steps) step = GameBody{};
  for (ScorePopup& popup : game.popups) popup.timer = -1;
}

void CullPassedBlocks() {
  for (StageBlock& block : game.blocks)
    if (block.type != kFreeKind && (block.column + block.width) * 32 < game.scrollPosition)
      block.type = kFreeKind;
}

int BlockTileIndex(const StageBlock& block, int x, int y) {
  int h = x == block.column * 32 ? 0 : 1;
  if (x == (block.column + block.width - 1) * 32) h += 1;
  int v = y == block.topRow * 32 ? 0 : 1;
  if (y == 480) v += 1;
  return h * 3 + v;
}
