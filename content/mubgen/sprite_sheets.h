// Sprite sheets from text pixel art: palettes, cells named by what the game draws there, and
// frames derived from other cells. The sheet layouts follow the type tables.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "image.h"
#include "source_text.h"
#include "type_tables.h"

namespace mubgen {

inline constexpr int kGlyphCount = 60;
inline constexpr int kGlyphWidth = 12, kGlyphHeight = 16;
// The program's icon: the resource id the game asks for, and its size in pixels.
inline constexpr int kIconResourceId = 101;
inline constexpr int kIconSize = 32;

// The glyph order of the game's bitmap font; index 39 is the line-feed symbol.
int GlyphIndex(char c);

struct SpriteSheets {
  // "player", "shot", "enemy", "boss", "item", "nmb", "txt" (the image/ folder) and "icon" (the
  // program's own resources).
  std::map<std::string, Image> images;
};

// Reads every "*.spr" file of "<dir>/sprites" in name order and builds the seven sheets.
SpriteSheets ReadSpriteSheets(const std::string& dir, const std::string& shownDir,
                              const TypeTables& types);

// Builds the sheets from already-read sources (for tests).
SpriteSheets BuildSpriteSheets(const std::vector<SourceFile>& files, const std::string& shownDir,
                               const TypeTables& types);

}  // namespace mubgen
