// Stage maps: an ASCII grid with header directives becomes "data/map/NN.mdt" (a 16-byte header,
// then four 4-byte entries per column), after the checks that keep a stage loadable and fair.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "source_text.h"
#include "type_tables.h"

namespace mubgen {

inline constexpr int kMapRows = 15;  // rows 0-14 are on the screen

struct MapEntry {
  uint8_t kind = 0xFF, p1 = 0xFF, p2 = 0xFF, p3 = 0xFF;
};

struct StageMap {
  int length = 0;
  int goal = 0;
  int speed = 0;
  int startRow = 0;
  std::vector<std::array<MapEntry, 4>> columns;  // length columns
};

// Compiles one map source. Warnings (fairness hints that do not break the game) are appended.
StageMap CompileMap(const SourceFile& f, const TypeTables& types,
                    std::vector<std::string>& warnings);

std::vector<uint8_t> MapBytes(const StageMap& map);

// Turns a compiled map back into map source text (for review); a file that is not a map gives
// an empty string.
std::string DumpMap(const std::vector<uint8_t>& bytes);

}  // namespace mubgen
