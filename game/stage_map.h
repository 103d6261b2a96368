// Stage maps ("data/map/%02d.mdt") and the auto-scroll: the map is read column by column as the
// screen reaches it, placing blocks, enemies, items and bosses into their pools.
#pragma once

constexpr int kMapHeaderSize = 16;
constexpr int kMapColumnSize = 16;

// Places the columns from `first` up to the smaller of `last` and the map's length; with
// `first` 0 it also reads the header. Throws LoadFailed when the map cannot be opened.
void StreamMapColumns(int first, int last);
void AdvanceScroll();
// Scroll back to 0 and every block, enemy, item, step and popup freed.
void ClearStageObjects();
void CullPassedBlocks();

struct StageBlock;
// The tile (h x 3 + v) of a block drawn at tile column x and tile row y, in world pixels:
// h 0 at the left edge, 2 at the last column (1 for a one-column block), else 1; v 0 at the top
// row, 2 at y 480, else 1.
int BlockTileIndex(const StageBlock& block, int x, int y);
