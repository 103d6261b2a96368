// Map compiler. Grid legend: "." empty; "#" block 0, "%" block 1, "=" block 2, "~" block 3, and "&"
// block 0, "@" block 1 for a block standing on one of its own kind; "a"-"w" enemy types 0-22;
// "W" "X" "Y" "Z" bosses 0-3; "0"-"5" item kinds.
// A block reaches down to row 15 in the game, so solid blocks are written down to row 14 or onto
// another block; the drop-through ledges ("=", "~") have an open body and are one row thick.
// Blocks have no sides: a raised solid block must stand on ground, or a player walking into it
// at the ground's level falls through it.
#include "map_compiler.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace mubgen {

namespace {

constexpr int kMaxWidth = 255;
constexpr int kViewColumns = 21;  // columns 0-20 of the screen, the last one partly visible

int BlockType(char c) {
  switch (c) {
    case '#':
    case '&': return 0;
    case '%':
    case '@': return 1;
    case '=': return 2;
    case '~': return 3;
    default: return -1;
  }
}

bool IsLedge(int type) { return type == 2 || type == 3; }

struct Block {
  int column = 0, width = 0, type = 0, top = 0;
};

struct Object {
  int column = 0, row = 0;
  uint8_t kind = 0;  // 1 enemy, 2 item, 3 boss
  uint8_t p1 = 0;
  int line = 0;
};

struct RawEntry {
  int column = 0;
  MapEntry entry;
  int line = 0;
};

const char kEnemyLetters[] = "abcdefghijklmnopqrstuvw";
const char kBossLetters[] = "WXYZ";

// What a map's source says: its directives, its grid rows (with their line numbers), its
// carried items and its raw entries.
struct MapSource {
  int speed = -1, startRow = -1, length = -1, goal = -1;
  int speedLine = 0, gridLine = 0;
  std::vector<std::string> grid;
  std::vector<int> gridLines;
  std::vector<Object> carries;  // carried items: column, row, kind
  std::vector<RawEntry> raws;
};

// The blocks and objects the grid holds.
struct MapLayout {
  std::vector<Block> blocks;
  std::vector<Object> objects;
};

MapSource ReadMapSource(const SourceFile& f) {
  MapSource s;
  size_t i = 0;
  while (i < f.lines.size()) {
    const SourceLine& l = f.lines[i++];
    if (IsBlank(l.text)) continue;
    auto w = SplitWords(l.text);
    auto need = [&](size_t n, const char* form) {
      if (w.size() != n) f.Fail(l.number, std::string("expected \"") + form + "\"");
    };
    if (w[0] == "title") {
      continue;
    } else if (w[0] == "speed") {
      need(2, "speed N");
      s.speed = int(ParseInteger(f, l.number, w[1], 1, 240, "speed"));
      s.speedLine = l.number;
    } else if (w[0] == "start_row") {
      need(2, "start_row N");
      s.startRow = int(ParseInteger(f, l.number, w[1], 0, kMapRows - 1, "start_row"));
    } else if (w[0] == "length") {
      need(2, "length N");
      s.length = int(ParseInteger(f, l.number, w[1], 21, 4000, "length"));
    } else if (w[0] == "goal") {
      need(2, "goal N");
      s.goal = int(ParseInteger(f, l.number, w[1], 21, 65535, "goal"));
    } else if (w[0] == "carry") {
      need(4, "carry COLUMN ROW ITEM");
      Object o;
      o.column = int(ParseInteger(f, l.number, w[1], 0, 65535, "carry column"));
      o.row = int(ParseInteger(f, l.number, w[2], 0, kMapRows - 1, "carry row"));
      o.kind = 2;
      o.p1 = uint8_t(ParseInteger(f, l.number, w[3], 0, kItemKinds - 1, "item kind"));
      o.line = l.number;
      s.carries.push_back(o);
    } else if (w[0] == "entry") {
      need(6, "entry COLUMN KIND P1 P2 P3");
      RawEntry r;
      r.column = int(ParseInteger(f, l.number, w[1], 0, 65535, "entry column"));
      r.entry.kind = uint8_t(ParseInteger(f, l.number, w[2], 0, 3, "entry kind"));
      static const int maxP1[] = {kBlockTypes - 1, kEnemyTypes - 1, kItemKinds - 1, kBossTypes - 1};
      r.entry.p1 = uint8_t(ParseInteger(f, l.number, w[3], 0, maxP1[r.entry.kind], "entry p1"));
      r.entry.p2 = uint8_t(ParseInteger(f, l.number, w[4], 0, 255, "entry p2"));
      r.entry.p3 = uint8_t(ParseInteger(f, l.number, w[5], 0, 255, "entry p3"));
      if (r.entry.kind == 0 && (r.entry.p2 == 0 || r.entry.p3 > 15))
        f.Fail(l.number, "a block entry needs a width of 1-255 and a top row of 0-15");
      if (r.entry.kind != 0 && r.entry.p2 > kMapRows - 1)
        f.Fail(l.number, "entry row must be 0-14");
      r.line = l.number;
      s.raws.push_back(r);
    } else if (w[0] == "grid") {
      need(1, "grid");
      if (!s.grid.empty()) f.Fail(l.number, "a second grid");
      s.gridLine = l.number;
      // The grid rows are read raw: "#" is a block there, not a comment.
      for (int r = 0; r < kMapRows; ++r) {
        if (i >= f.lines.size()) f.Fail(l.number, "the grid needs 15 rows");
        const SourceLine& g = f.lines[i++];
        std::string row = g.raw;
        while (!row.empty() && (row.back() == ' ' || row.back() == '\t' || row.back() == '\r'))
          row.pop_back();
        s.grid.push_back(row);
        s.gridLines.push_back(g.number);
      }
    } else {
      f.Fail(l.number, "unknown directive \"" + w[0] + "\"");
    }
  }
  return s;
}

// Every directive and grid row is there, and the stage can be played forward.
void CheckMapSource(const SourceFile& f, const TypeTables& types, const MapSource& s) {
  const int speed = s.speed, length = s.length, goal = s.goal;
  if (speed < 0) f.Fail(0, "the speed directive is missing");
  if (s.startRow < 0) f.Fail(0, "the start_row directive is missing");
  if (length < 0) f.Fail(0, "the length directive is missing");
  if (goal < 0) f.Fail(0, "the goal directive is missing");
  if (s.grid.empty()) f.Fail(0, "the grid is missing");
  if (goal > length)
    f.Fail(0, "goal " + std::to_string(goal) + " lies beyond the length " + std::to_string(length));
  // Moving right, the player advances on the screen by 2 x walk - speed.
  if (2 * types.player.walk <= speed)
    f.Fail(s.speedLine,
           "speed " + std::to_string(speed) + " is not below 2 x the player's walk speed (" +
               std::to_string(2 * types.player.walk) + "): the player could never move forward");

  for (int r = 0; r < kMapRows; ++r) {
    if (int(s.grid[size_t(r)].size()) != length)
      f.Fail(s.gridLines[size_t(r)], "grid row " + std::to_string(r) + " has " +
                                         std::to_string(s.grid[size_t(r)].size()) +
                                         " columns; the length is " + std::to_string(length));
  }
}

// Blocks: vertical runs per column, merged with the same run in the column before; the other
// characters are enemies, bosses and items.
void FindBlocksAndObjects(const SourceFile& f, const MapSource& s, MapLayout* layout) {
  const std::vector<std::string>& grid = s.grid;
  const std::vector<int>& gridLines = s.gridLines;
  std::vector<Block>& blocks = layout->blocks;
  std::vector<Object>& objects = layout->objects;
  std::map<std::pair<int, int>, size_t>
      openRuns;  // (type, top) -> block index, from the previous column
  for (int c = 0; c < s.length; ++c) {
    std::map<std::pair<int, int>, size_t> runs;
    int r = 0;
    while (r < kMapRows) {
      char ch = grid[size_t(r)][size_t(c)];
      int line = gridLines[size_t(r)];
      int type = BlockType(ch);
      if (type >= 0) {
        int top = r;
        while (r < kMapRows && grid[size_t(r)][size_t(c)] == ch) ++r;
        if (IsLedge(type) && r - top != 1)
          f.Fail(line, "column " + std::to_string(c) + ": a drop-through ledge \"" +
                           std::string(1, ch) + "\" is one row thick");
        if (!IsLedge(type) && r < kMapRows && BlockType(grid[size_t(r)][size_t(c)]) < 0)
          f.Fail(gridLines[size_t(r - 1)], "column " + std::to_string(c) + ": floating block \"" +
                                               std::string(1, ch) +
                                               "\" (a solid block reaches the bottom or stands on "
                                               "a block; use a ledge, bricks or steps)");
        auto key = std::make_pair(type, top);
        auto prev = openRuns.find(key);
        if (prev != openRuns.end() && blocks[prev->second].width < kMaxWidth) {
          blocks[prev->second].width++;
          runs[key] = prev->second;
        } else {
          blocks.push_back(Block{c, 1, type, top});
          runs[key] = blocks.size() - 1;
        }
        continue;
      }
      if (ch != '.') {
        Object o;
        o.column = c;
        o.row = r;
        o.line = line;
        if (const char* e = std::strchr(kEnemyLetters, ch); e && ch) {
          o.kind = 1;
          o.p1 = uint8_t(e - kEnemyLetters);
          if (o.p1 == 8 || o.p1 == 12 || o.p1 == 18 || o.p1 == 19 || o.p1 == 20)
            f.Fail(line, "column " + std::to_string(c) + ": enemy \"" + std::string(1, ch) +
                             "\" is a boss minion and is never placed in a map");
        } else if (const char* b = std::strchr(kBossLetters, ch); b && ch) {
          o.kind = 3;
          o.p1 = uint8_t(b - kBossLetters);
        } else if (ch >= '0' && ch <= '5') {
          o.kind = 2;
          o.p1 = uint8_t(ch - '0');
        } else {
          f.Fail(line, "column " + std::to_string(c) + ": unknown grid character \"" +
                           std::string(1, ch) + "\"");
        }
        objects.push_back(o);
      }
      ++r;
    }
    openRuns = std::move(runs);
  }
}

// The screen stops with column length at its left edge: the blocks of the last column go on
// under the last screen.
void ExtendLastColumnBlocks(std::vector<Block>& blocks, int length) {
  for (size_t b = 0; b < blocks.size(); ++b) {
    Block& bl = blocks[b];
    if (bl.column + bl.width != length) continue;
    int total = bl.width + kViewColumns;
    if (total <= kMaxWidth) {
      bl.width = total;
    } else {
      int firstPart = total - (kMaxWidth - kViewColumns);
      Block rest{bl.column + firstPart, total - firstPart, bl.type, bl.top};
      bl.width = firstPart;
      blocks.push_back(rest);
    }
  }
}

// Walking from one column into the next at its surface level must find a top at or below it.
void CheckSurfaces(const SourceFile& f, const MapSource& s, const std::vector<Block>& blocks) {
  const int length = s.length;
  const std::vector<int>& gridLines = s.gridLines;
  auto surface = [&](int c) {
    int top = 99;
    for (const Block& b : blocks)
      if (b.column <= c && c < b.column + b.width) top = std::min(top, b.top);
    return top;
  };
  for (int c = 1; c < length; ++c)
    for (auto [from, to] : {std::pair{c - 1, c}, std::pair{c, c - 1}}) {
      int level = surface(from);
      if (level == 99) continue;
      bool catches = false, raisedSolid = false;
      for (const Block& b : blocks) {
        if (b.column > to || to >= b.column + b.width) continue;
        if (b.top >= level) catches = true;
        if (b.top < level && !IsLedge(b.type)) raisedSolid = true;
      }
      if (raisedSolid && !catches)
        f.Fail(gridLines[size_t(std::min(level, kMapRows - 1))],
               "column " + std::to_string(to) + ": walking in from column " + std::to_string(from) +
                   " at row " + std::to_string(level) +
                   " falls through this raised block (stand it on ground: \"&\" or \"@\" over "
                   "\"#\" or \"%\")");
    }
}

// Carried items go into the same cell as an enemy or boss.
void AddCarriedItems(const SourceFile& f, const MapSource& s, std::vector<Object>& objects) {
  const std::vector<Object>& carries = s.carries;
  for (const Object& c : carries) {
    auto it = std::find_if(objects.begin(), objects.end(), [&](const Object& o) {
      return o.column == c.column && o.row == c.row && (o.kind == 1 || o.kind == 3);
    });
    if (it == objects.end())
      f.Fail(c.line, "carry: no enemy or boss at column " + std::to_string(c.column) + ", row " +
                         std::to_string(c.row));
    for (const Object& o : carries)
      if (&o != &c && o.column == c.column && o.row == c.row)
        f.Fail(c.line, "carry: that enemy already carries an item");
    objects.push_back(c);
  }
}

// Placement rules.
void CheckPlacement(const SourceFile& f, const MapSource& s, const MapLayout& layout) {
  const int length = s.length, startRow = s.startRow;
  const std::vector<Block>& blocks = layout.blocks;
  const std::vector<Object>& objects = layout.objects;
  int bosses = 0;
  for (const Object& o : objects) {
    if (o.column < 4)
      f.Fail(o.line,
             "column " + std::to_string(o.column) +
                 ": no enemies or items in columns 0-3 (they would meet the player at the start)");
    if (o.column >= length)
      f.Fail(o.line, "carry: column " + std::to_string(o.column) + " is beyond the length");
    if (o.kind == 3) {
      ++bosses;
      if (bosses > 1) f.Fail(o.line, "one boss per stage");
      if (o.p1 == 0 && o.row != 5)
        f.Fail(o.line, "boss 0 belongs in row 5: its minions circle the point 176 pixels down");
    }
    if (o.kind == 2 && (o.p1 == 3 || o.p1 == 4)) {
      // The restart puts the player one column right of the checkpoint, in its row.
      bool ground = false;
      for (const Block& b : blocks)
        if (b.column <= o.column + 1 && o.column + 1 < b.column + b.width && b.top > o.row)
          ground = true;
      if (!ground)
        f.Fail(o.line, "column " + std::to_string(o.column) +
                           ": a checkpoint needs ground below its row in the next column");
    }
  }
  // A boss's 64-pixel body would take any item overlapping it as its carried item.
  for (const Object& b : objects) {
    if (b.kind != 3) continue;
    for (const Object& it : objects) {
      if (it.kind != 2) continue;
      // A carried item shares the boss's cell (the grid itself holds one thing per cell).
      bool carried = it.column == b.column && it.row == b.row;
      if (carried) continue;
      if (it.column >= b.column - 1 && it.column <= b.column + 2 && it.row >= b.row - 2 &&
          it.row <= b.row + 2)
        f.Fail(it.line, "an item next to the boss would be taken as the boss's carried item");
    }
  }
  {
    bool ground = false;
    for (const Block& b : blocks)
      if (b.column <= 1 && 1 < b.column + b.width && b.top > startRow) ground = true;
    if (!ground)
      f.Fail(s.gridLine, "column 1 needs ground below the start row " + std::to_string(startRow));
  }
  for (const RawEntry& r : s.raws)
    if (r.column >= length)
      f.Fail(r.line, "entry: column " + std::to_string(r.column) + " is beyond the length");
}

// Columns: blocks, then items, then enemies and bosses, each group from the top row down.
void WriteColumns(const SourceFile& f, const MapSource& s, MapLayout& layout, StageMap* out) {
  StageMap& map = *out;
  const int length = s.length;
  const std::vector<int>& gridLines = s.gridLines;
  std::vector<Block>& blocks = layout.blocks;
  std::vector<Object>& objects = layout.objects;
  map.length = length;
  map.goal = s.goal;
  map.speed = s.speed;
  map.startRow = s.startRow;
  map.columns.assign(size_t(length), {});
  std::vector<int> used(size_t(length), 0);
  auto put = [&](int column, MapEntry e, int line) {
    if (used[size_t(column)] == 4)
      f.Fail(line,
             "column " + std::to_string(column) + " holds more than 4 blocks, enemies and items");
    map.columns[size_t(column)][size_t(used[size_t(column)]++)] = e;
  };
  std::stable_sort(blocks.begin(), blocks.end(), [](const Block& a, const Block& b) {
    return a.column != b.column ? a.column < b.column : a.top < b.top;
  });
  for (const Block& b : blocks)
    put(b.column, MapEntry{0, uint8_t(b.type), uint8_t(b.width), uint8_t(b.top)},
        gridLines[size_t(std::min(b.top, kMapRows - 1))]);
  std::stable_sort(objects.begin(), objects.end(), [](const Object& a, const Object& b) {
    auto rank = [](const Object& o) { return o.kind == 2 ? 0 : 1; };
    if (a.column != b.column) return a.column < b.column;
    if (a.row != b.row) return a.row < b.row;
    return rank(a) < rank(b);
  });
  // Items of a column first (a carried item must be placed before its carrier).
  for (int pass = 0; pass < 2; ++pass)
    for (const Object& o : objects)
      if ((o.kind == 2) == (pass == 0))
        put(o.column, MapEntry{o.kind, o.p1, uint8_t(o.row), 0}, o.line);
  for (const RawEntry& r : s.raws) put(r.column, r.entry, r.line);
}

// Live blocks: placed when their column comes into view, freed when their right end leaves.
void CheckLiveBlocks(const SourceFile& f, const MapSource& s, const std::vector<Block>& blocks) {
  for (int column = 0; column <= s.length; ++column) {
    int live = 0;
    for (const Block& b : blocks)
      if (b.column <= column + 20 && b.column + b.width >= column) ++live;
    if (live > 32)
      f.Fail(s.gridLine, "around column " + std::to_string(column) +
                             " more than 32 blocks are on the screen at once; merge or simplify");
  }
}

// Pool headroom, the boss fight's length and pit widths: fairness hints.
void WarnUnfairPlaces(const SourceFile& f, const MapSource& source, const MapLayout& layout,
                      std::vector<std::string>& warnings) {
  const int length = source.length, goal = source.goal, speed = source.speed;
  const std::vector<Block>& blocks = layout.blocks;
  const std::vector<Object>& objects = layout.objects;
  for (int s = 0; s + kViewColumns <= length; ++s) {
    int items = 0, enemies = 0;
    for (const Object& o : objects) {
      if (o.column < s || o.column >= s + kViewColumns) continue;
      if (o.kind == 2)
        ++items;
      else
        ++enemies;
    }
    if (items > 16 || enemies > 48) {
      warnings.push_back(f.path + ": around column " + std::to_string(s) +
                         " more than 16 items or 48 enemies at once");
      break;
    }
  }
  // A boss fights from coming into view until the screen carries it past the goal.
  for (const Object& o : objects)
    if (o.kind == 3) {
      int frames = 32 * (goal - o.column + 3) * 16 / speed;
      if (frames < 45 * 45)
        warnings.push_back(f.path + ": the boss fight lasts about " + std::to_string(frames / 45) +
                           " seconds; give it at least 45 (move the boss left or the goal right)");
    }
  int pit = 0;
  for (int c = 0; c <= length; ++c) {
    bool hasBlock = false;
    if (c < length)
      for (const Block& b : blocks)
        if (b.column <= c && c < b.column + b.width) hasBlock = true;
    if (c < length && !hasBlock) {
      ++pit;
      continue;
    }
    if (pit > 5) {
      bool bricks = std::any_of(objects.begin(), objects.end(), [&](const Object& o) {
        return o.kind == 1 && o.p1 == 13 && o.column >= c - pit - 2 && o.column < c;
      });
      if (!bricks)
        warnings.push_back(f.path + ": columns " + std::to_string(c - pit) + "-" +
                           std::to_string(c - 1) + ": a pit wider than 5 columns without bricks");
    }
    pit = 0;
  }
}

}  // namespace

StageMap CompileMap(const SourceFile& f, const TypeTables& types,
                    std::vector<std::string>& warnings) {
  const MapSource source = ReadMapSource(f);
  CheckMapSource(f, types, source);
  MapLayout layout;
  FindBlocksAndObjects(f, source, &layout);
  ExtendLastColumnBlocks(layout.blocks, source.length);
  CheckSurfaces(f, source, layout.blocks);
  AddCarriedItems(f, source, layout.objects);
  CheckPlacement(f, source, layout);
  StageMap map;
  WriteColumns(f, source, layout, &map);
  CheckLiveBlocks(f, source, layout.blocks);
  WarnUnfairPlaces(f, source, layout, warnings);
  return map;
}

std::vector<uint8_t> MapBytes(const StageMap& map) {
  std::vector<uint8_t> out(16, 0);
  out[0] = uint8_t(map.length & 0xFF);
  out[1] = uint8_t(map.length >> 8);
  out[2] = uint8_t(map.goal & 0xFF);
  out[3] = uint8_t(map.goal >> 8);
  out[4] = uint8_t(map.speed);
  out[5] = uint8_t(map.startRow);
  for (const auto& column : map.columns)
    for (const MapEntry& e : column) {
      out.push_back(e.kind);
      out.push_back(e.p1);
      out.push_back(e.p2);
      out.push_back(e.p3);
    }
  return out;
}

std::string DumpMap(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 16) return {};
  int length = bytes[0] | bytes[1] << 8;
  int goal = bytes[2] | bytes[3] << 8;
  if (bytes.size() < size_t(16 + 16 * length)) return {};
  std::vector<std::string> grid(kMapRows, std::string(size_t(length), '.'));
  std::string extra;
  struct Drawn {
    int column, width, type, top;
  };
  std::vector<Drawn> blocks;
  for (int c = 0; c < length; ++c)
    for (int k = 0; k < 4; ++k) {
      const uint8_t* e = &bytes[size_t(16 + 16 * c + 4 * k)];
      if (e[0] == 0 && e[1] < 4 && e[3] < 16) blocks.push_back({c, e[2], e[1], e[3]});
    }
  std::stable_sort(blocks.begin(), blocks.end(),
                   [](const Drawn& a, const Drawn& b) { return a.top < b.top; });
  const char blockChars[] = "#%=~";
  std::vector<std::vector<int>> owner(kMapRows, std::vector<int>(size_t(length), -1));
  for (size_t n = 0; n < blocks.size(); ++n) {
    const Drawn& b = blocks[n];
    for (int c = b.column; c < b.column + b.width && c < length; ++c)
      for (int r = b.top; r < kMapRows; ++r) {
        if (r > b.top && IsLedge(b.type)) break;
        grid[size_t(r)][size_t(c)] = blockChars[b.type];
        owner[size_t(r)][size_t(c)] = int(n);
      }
  }
  // A solid block that ends on another block of its type is written with the second character.
  for (int c = 0; c < length; ++c)
    for (int r = 0; r + 1 < kMapRows; ++r) {
      int a = owner[size_t(r)][size_t(c)], b = owner[size_t(r + 1)][size_t(c)];
      if (a < 0 || b < 0 || a == b || blocks[size_t(a)].type != blocks[size_t(b)].type) continue;
      for (int k = r; k >= 0 && owner[size_t(k)][size_t(c)] == a; --k)
        grid[size_t(k)][size_t(c)] = blocks[size_t(a)].type == 0 ? '&' : '@';
    }
  for (int c = 0; c < length; ++c) {
    int pendingItem = -1, pendingRow = -1;
    for (int k = 0; k < 4; ++k) {
      const uint8_t* e = &bytes[size_t(16 + 16 * c + 4 * k)];
      if (e[0] > 3 || e[0] == 0) continue;
      if (e[2] >= kMapRows || (e[0] == 1 && e[1] >= kEnemyTypes) ||
          (e[0] == 2 && e[1] >= kItemKinds) || (e[0] == 3 && e[1] >= kBossTypes)) {
        extra += "entry " + std::to_string(c) + " " + std::to_string(e[0]) + " " +
                 std::to_string(e[1]) + " " + std::to_string(e[2]) + " " + std::to_string(e[3]) +
                 "\n";
        continue;
      }
      char& cell = grid[e[2]][size_t(c)];
      if (e[0] == 2) {
        if (cell != '.') {
          extra += "entry " + std::to_string(c) + " 2 " + std::to_string(e[1]) + " " +
                   std::to_string(e[2]) + " 0\n";
          continue;
        }
        cell = char('0' + e[1]);
        pendingItem = e[1];
        pendingRow = e[2];
      } else {
        if (pendingItem >= 0 && pendingRow == e[2]) {
          extra += "carry " + std::to_string(c) + " " + std::to_string(e[2]) + " " +
                   std::to_string(pendingItem) + "\n";
          cell = '.';
          pendingItem = -1;
        }
        cell = e[0] == 1 ? kEnemyLetters[e[1]] : kBossLetters[e[1]];
      }
    }
  }
  std::string out = "speed " + std::to_string(bytes[4]) + "\nstart_row " +
                    std::to_string(bytes[5]) + "\nlength " + std::to_string(length) + "\ngoal " +
                    std::to_string(goal) + "\n" + extra + "grid\n";
  for (const std::string& row : grid) out += row + "\n";
  return out;
}

}  // namespace mubgen
