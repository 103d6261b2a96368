// Writes the program's resources as C++: one constant array per icon and a registration that runs
// before main, so the icon is there whatever folder the program is started from.
#include "program_resources.h"

#include <cstdio>

#include "sprite_sheets.h"
#include "type_tables.h"

namespace mubgen {

std::string ProgramResourcesSource(const Image& icon) {
  std::string id = std::to_string(kIconResourceId);
  std::string out =
      "// The program's resources, made by mubgen from content/sprites: do not edit.\n"
      "#include <cstdint>\n\n"
      "#include \"platform/win32/user.h\"\n\n"
      "namespace {\n\n"
      "constexpr std::uint32_t kIcon" +
      id + "[" + std::to_string(icon.width * icon.height) + "] = {\n";
  for (int y = 0; y < icon.height; ++y) {
    out += "   ";
    for (int x = 0; x < icon.width; ++x) {
      const Rgb& c = icon.At(x, y);
      unsigned argb =
          c == Rgb{} ? 0u : 0xFF000000u | unsigned(c.r) << 16 | unsigned(c.g) << 8 | c.b;
      char word[16];
      std::snprintf(word, sizeof word, " 0x%08X,", argb);
      out += word;
    }
    out += "\n";
  }
  out +=
      "};\n\n"
      "[[maybe_unused]] const int kIcon" +
      id + "Registered = RegisterPlatformIconResource(" + id + ", " + std::to_string(icon.width) +
      ", " + std::to_string(icon.height) + ", kIcon" + id +
      ");\n\n"
      "}  // namespace\n";
  return out;
}

std::string BuildProgramResources(const std::string& dir) {
  TypeTables types = ReadTypeTables(dir, dir);
  SpriteSheets sheets = ReadSpriteSheets(dir, dir, types);
  return ProgramResourcesSource(sheets.images.at("icon"));
}

}  // namespace mubgen
