// Generation order: type tables first (maps and sheets depend on them), then maps, sprite sheets
// (the font among them), drawing scripts (which write text with that font) and sounds.
#include "generator.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "draw_script.h"
#include "image.h"
#include "map_compiler.h"
#include "ogg_encoder.h"
#include "replay_compiler.h"
#include "source_text.h"
#include "sprite_sheets.h"
#include "synth.h"
#include "system/atomic_file.h"
#include "type_tables.h"

namespace mubgen {

namespace {

constexpr int kStages = 16;

std::string TwoDigits(int n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", n);
  return buf;
}

// replays/stageNN.rpt is stage NN's replay: the game plays "replay/NN.rp" for stage NN and trusts
// the stage number inside, so a file that names another stage is refused.
std::vector<uint8_t> CompileStageReplay(const std::string& dir, int stage,
                                        const TypeTables& types) {
  const std::string name = "replays/stage" + TwoDigits(stage) + ".rpt";
  SourceFile f = ReadSourceFile(dir + "/" + name, dir + "/" + name);
  std::vector<uint8_t> bytes = CompileReplay(f, types);
  if (bytes[0] != stage) {
    int line = 0;
    for (const SourceLine& l : f.lines) {
      const std::vector<std::string> words = SplitWords(l.text);
      if (!words.empty() && words[0] == "replay") {
        line = l.number;
        break;
      }
    }
    f.Fail(line, "holds stage " + std::to_string(bytes[0]) + ", not " + std::to_string(stage));
  }
  return bytes;
}

}  // namespace

GeneratedContent BuildContent(const std::string& dir) {
  GeneratedContent out;
  auto& files = out.files;
  TypeTables types = ReadTypeTables(dir, dir);
  files["data/player.dat"] = PlayerTableBytes(types);
  files["data/block.dat"] = BlockTableBytes(types);
  files["data/shot.dat"] = ShotTableBytes(types);
  files["data/enemy.dat"] = EnemyTableBytes(types);
  files["data/boss.dat"] = BossTableBytes(types);
  files["data/item.dat"] = ItemTableBytes(types);

  for (int s = 0; s < kStages; ++s) {
    std::string name = "maps/" + TwoDigits(s) + ".map";
    SourceFile f = ReadSourceFile(dir + "/" + name, dir + "/" + name);
    StageMap map = CompileMap(f, types, out.warnings);
    files["data/map/" + TwoDigits(s) + ".mdt"] = MapBytes(map);
  }

  SpriteSheets sheets = ReadSpriteSheets(dir, dir, types);
  for (const auto& [name, image] : sheets.images)
    if (name != "icon") files["image/" + name + ".bmp"] = BmpBytes(image);
  auto drawn = ReadDrawScripts(dir, dir, sheets.images.at("txt"));
  for (const auto& [name, image] : drawn) files["image/" + name + ".bmp"] = BmpBytes(image);

  auto sounds = ReadSounds(dir, dir);
  for (const auto& [name, pcm] : sounds) {
    // Fixed serials: "MUB" and the sound's index, never a random or time-based number.
    int serial = 0x4D554200 + (name[0] == 'b' ? 0x10 : 0x20) + (name[1] - '0');
    std::vector<uint8_t> ogg = EncodeOggVorbis(pcm, serial);
    int rate = 0, channels = 0;
    std::vector<int16_t> decoded;
    if (ogg.empty() || !DecodeOggVorbis(ogg, rate, channels, decoded) || rate != pcm.rate ||
        channels != 1 || decoded.size() != pcm.samples.size())
      throw ContentError(dir + "/sounds", 0,
                         "sound " + name + " did not survive Ogg Vorbis encoding");
    files["sound/" + name + ".ogg"] = std::move(ogg);
  }

  for (int s = 0; s < kStages; ++s)
    out.replays["replay/" + TwoDigits(s) + ".rp"] = CompileStageReplay(dir, s, types);
  return out;
}

int GenerateContent(const std::string& sourceDir, const std::string& outputDir,
                    std::string& message, std::vector<std::string>& warnings) {
  GeneratedContent content;
  try {
    content = BuildContent(sourceDir);
  } catch (const ContentError& e) {
    message = e.what();
    return -1;
  }
  warnings = content.warnings;
  namespace fs = std::filesystem;
  std::error_code ec;
  for (const char* sub : {"data/map", "image", "sound", "replay"}) {
    fs::create_directories(fs::path(outputDir) / sub, ec);
    if (ec) {
      message = outputDir + "/" + sub + ": cannot be created: " + ec.message();
      return -1;
    }
  }
  for (const auto& [path, bytes] : content.files) {
    std::string full = outputDir + "/" + path;
    if (WriteFileAtomically(full.c_str(), bytes) != 0) {
      message = full + ": cannot be written: " + std::strerror(errno);
      return -1;
    }
  }
  for (const auto& [path, bytes] : content.replays) {
    std::string full = outputDir + "/" + path;
    // Anything at the name (a replay the player earned, even an unreadable one) stays as it is.
    if (fs::symlink_status(full, ec).type() != fs::file_type::not_found) continue;
    if (WriteFileAtomically(full.c_str(), bytes) != 0) {
      message = full + ": cannot be written: " + std::strerror(errno);
      return -1;
    }
  }
  return 0;
}

}  // namespace mubgen
