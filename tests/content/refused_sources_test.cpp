// Broken sources are refused with a message that names the file and the line, and nothing is
// written then.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "content_fixture.h"
#include "generator.h"
#include "replay_compiler.h"
#include "source_text.h"
#include "type_tables.h"

using namespace content_test;

namespace {

struct Breakage {
  const char* file;  // relative to the source folder
  const char* find;  // first occurrence is replaced; nullptr deletes the file
  const char* replace;
  int line;  // expected line: > 0 exact, 0 none (file-level), -1 the line where `find` starts,
             // -100 - R the line of map grid row R
  const char* shownFile;  // file named by the message, when it differs from `file`
  const char* message;    // part of the message
};

const Breakage kBreakages[] = {
    {"types/player.txt", "hover_cost       = 4", "hover_cost       = 1", -1, nullptr,
     "hover_cost must exceed hover_regen"},
    {"types/player.txt", "box              = 6 6 26 26", "box              = 6 5 26 26", -1,
     nullptr, "left = top"},
    {"types/player.txt", "hp               = 64", "hp               = 0", -1, nullptr,
     "hp 0 is out of range 1..255"},
    {"types/player.txt", "walk             = 16", "walk             = 16\nspeed = 3", -2, nullptr,
     "unknown field \"speed\""},
    {"types/enemies.txt", "flags   = drift:world_left persist", "flags   = drift:world_left", -1,
     nullptr, "type 6 needs persist"},
    {"types/enemies.txt", "bullet  = 2", "bullet  = 0", -1, nullptr,
     "bullet 0 is out of range 1..6"},
    {"types/enemies.txt", "score   = 3e3", "score   = 255e8", -1, nullptr, "below 2^31"},
    {"types/enemies.txt", "flags   = drift:world_left", "flags   = drift:sideways", -1, nullptr,
     "unknown drift mode"},
    {"types/bosses.txt", "flags   = drift:screen", "flags   = drift:screen persist", -1, nullptr,
     "must not have gravity, shotproof or persist"},
    {"types/bosses.txt", "hp      = 200", "hp      = 7", -1, nullptr,
     "at least 8 x the player's shot damage"},
    {"types/shots.txt", "frames = 4", "frames = 5", -1, nullptr, "frames 5 is out of range 1..4"},
    {"types/items.txt", "[item 5]", "[item 4]", -1, nullptr, "appears twice"},
    {"maps/00.map", "speed     12", "speed     32", -1, nullptr, "2 x the player's walk speed"},
    {"maps/00.map", "goal      98", "goal      120", 0, nullptr, "beyond the length"},
    {"maps/00.map", "goal      98", "goal      98\ncarry 50 5 1", -2, nullptr,
     "no enemy or boss at column 50, row 5"},
    {"maps/00.map", "......====", "......####", -1, nullptr, "floating block"},
    {"maps/00.map", "....c....", "....m....", -1, nullptr, "boss minion"},
    {"maps/00.map", "grid\n....", "grid\n..f.", -2, nullptr, "no enemies or items in columns 0-3"},
    {"maps/00.map", "grid\n.", "grid\n", -2, nullptr, "grid row 0 has 99 columns"},
    {"maps/00.map", "grid\n.", "grid\nQ", -2, nullptr, "unknown grid character \"Q\""},
    {"maps/15.map", nullptr, nullptr, 0, nullptr, "cannot be read"},
    {"sprites/70-icon.spr", "cell icon 101", "cell icon 102", -1, nullptr,
     "asks for icon 101 only"},
    {"sprites/70-icon.spr", nullptr, nullptr, 0, "sprites", "no art for icon 101"},
    {"maps/04.map", "@", "%", -112, nullptr, "falls through this raised block"},  // every "@"
    {"sprites/10-player.spr", "kkk.kkk", "kkkZkkk", -1, nullptr,
     "\"Z\" is not in palette \"main\""},
    {"sprites/00-palettes.spr", "k 181820", "k 000000", -1, nullptr, "transparent colour key"},
    {"sprites/60-font.spr", ".XXX.. ..X...", ".XXX.X ..X...", 0, "sprites",
     "last two pixel columns"},
    {"sprites/30-enemies.spr", "cell enemy 22 frame 1 = enemy 22 frame 0 map w c", "", 0, "sprites",
     "no art for enemy 22 pose 0 frame 1"},
    {"sprites/30-enemies.spr", "cell enemy 19 frame 1 =", "cell enemy 19 frame 2 =", -1, nullptr,
     "frame 2 is never drawn"},
    {"draw/hud.drw", "gradient v 4 36 312 24", "gradient v 0 36 316 24", 0, "draw",
     "transparent in column 0"},
    {"draw/title.drw", "canvas title 512 224", "canvas title 512 240", -1, nullptr,
     "the game reads \"title\" as 512x224"},
    {"draw/title.drw", "colour ink      181820", "colour ink      zz1820", -1, nullptr,
     "is not RRGGBB"},
    {"sounds/effects.snd", "effect 6", "effect 5", -1, nullptr, "effect 5 defined twice"},
    {"sounds/music.snd", "song A B", "song A Q", -1, nullptr, "unknown pattern \"Q\""},
    {"sounds/music.snd", "G#5 - - -", "H5 - - -", -1, nullptr, "\"H5\" is not a note"},
    {"sounds/music.snd", "pattern A       # A minor, F\n  lead  A4 - C5",
     "pattern A       # A minor, F\n  lead  A4 C5", -1, nullptr, "voice \"lead\" has 31 steps"},
    {"replays/stage03.rpt", nullptr, nullptr, 0, nullptr, "cannot be read"},
    {"replays/stage02.rpt", "replay stage 2", "replay stage 5", -1, nullptr,
     "holds stage 5, not 2"},
};

int LineOf(const std::string& text, size_t at) {
  return 1 + int(std::count(text.begin(), text.begin() + long(at), '\n'));
}

}  // namespace

TEST(RefusedSources, EachBreakageIsRefusedWithFileAndLine) {
  for (const Breakage& b : kBreakages) {
    SCOPED_TRACE(std::string(b.file) + ": " + (b.find ? b.find : "(deleted)"));
    const TempFolder dir("mub_content_refused");
    CopySources(dir.string());
    std::string path = dir.string() + "/" + b.file;
    int expectedLine = b.line;
    if (b.find) {
      std::string text = ReadFileText(path);
      size_t at = text.find(b.find);
      ASSERT_NE(at, std::string::npos) << "the fixture text is no longer in the source";
      if (b.line <= -100)
        expectedLine = LineOf(text, text.find("\ngrid\n")) + 2 + (-b.line - 100);
      else if (b.line < 0)
        expectedLine = LineOf(text, at) + (-b.line - 1);
      // A one-character find replaces every occurrence.
      do {
        text.replace(at, std::strlen(b.find), b.replace);
        at = std::strlen(b.find) == 1 ? text.find(b.find, at + std::strlen(b.replace))
                                      : std::string::npos;
      } while (at != std::string::npos);
      WriteFileText(path, text);
    } else {
      std::filesystem::remove(path);
    }
    std::string shown = dir.string() + "/" + (b.shownFile ? b.shownFile : b.file);
    try {
      mubgen::BuildContent(dir.string());
      ADD_FAILURE() << "not refused";
    } catch (const mubgen::ContentError& e) {
      EXPECT_EQ(e.file, shown);
      EXPECT_EQ(e.line, expectedLine);
      EXPECT_NE(std::string(e.what()).find(b.message), std::string::npos) << e.what();
      std::string prefix =
          shown + (expectedLine > 0 ? ":" + std::to_string(expectedLine) + ": " : ": ");
      EXPECT_EQ(std::string(e.what()).rfind(prefix, 0), 0u) << e.what();
    }
  }
}

TEST(RefusedSources, NothingIsWrittenForARefusedSource) {
  const TempFolder dir("mub_content_refused_nothing");
  CopySources(dir.string() + "/src");
  std::string path = dir.string() + "/src/types/player.txt";
  std::string text = ReadFileText(path);
  text.replace(text.find("hp               = 64"), 21, "hp               = 999");
  WriteFileText(path, text);
  std::string message;
  std::vector<std::string> warnings;
  EXPECT_EQ(
      mubgen::GenerateContent(dir.string() + "/src", dir.string() + "/out", message, warnings), -1);
  EXPECT_NE(message.find("types/player.txt:"), std::string::npos) << message;
  EXPECT_NE(message.find("hp 999 is out of range 1..255"), std::string::npos) << message;
  EXPECT_FALSE(std::filesystem::exists(dir.string() + "/out"));
}

TEST(TextReplays, CompileToTheHeaderWithItsCheckWord) {
  mubgen::TypeTables types = mubgen::ReadTypeTables(SourceDir(), SourceDir());
  auto bytes = mubgen::CompileReplay(
      mubgen::SourceFromString("replay stage 0\nlives 3\nstreaks 1 1 1 1 1 1 1 1\n"
                               "hp max\nhover max\nbarrier 0\npower 0\n"
                               "score 1651900\ncontrols\n  2 - 1 RJ 1 F\n",
                               "r.rpt"),
      types);
  ASSERT_EQ(bytes.size(), 36u);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[1], 3);
  for (int i = 2; i < 8; ++i) EXPECT_EQ(bytes[size_t(i)], 0);
  for (int i = 8; i < 16; ++i) EXPECT_EQ(bytes[size_t(i)], 1);
  EXPECT_EQ(Le16(bytes, 16), 64);
  EXPECT_EQ(Le16(bytes, 18), 180);
  EXPECT_EQ(Le32(bytes, 24), 1651900u);
  EXPECT_EQ(Le32(bytes, 28), 0x00AD34FCu);
  EXPECT_EQ(bytes[32], 0);
  EXPECT_EQ(bytes[33], 0);
  EXPECT_EQ(bytes[34], 2 | 8);
  EXPECT_EQ(bytes[35], 16);
  EXPECT_EQ(
      mubgen::DumpReplay(bytes),
      "replay stage 0\nlives 3\nstreaks 1 1 1 1 1 1 1 1\nhp 64\nhover 180\nbarrier 0\npower 0\n"
      "score 1651900\ncontrols\n  2 - 1 RJ 1 F\n");
}

TEST(TextReplays, BrokenReplaysAreRefusedWithTheirLine) {
  mubgen::TypeTables types = mubgen::ReadTypeTables(SourceDir(), SourceDir());
  const std::pair<const char*, const char*> cases[] = {
      {"replay stage 16\n", "r.rpt:1: stage 16 is out of range 0..15"},
      {"replay stage 0\nlives 3\nstreaks 1 1 1 1 1 1 1 1\nhp 65\n",
       "r.rpt:4: hp 65 is out of range 1..64"},
      {"replay stage 0\nlives 3\nstreaks 1 1\n", "r.rpt:3: streaks takes eight counters"},
      {"replay stage 0\ncontrols\n  5 RX\n",
       "r.rpt:3: \"X\" is not a button (L R D J F, or - for none)"},
      {"replay stage 0\nlives 3\n", "r.rpt: \"streaks\" is missing"},
  };
  for (auto [text, message] : cases) {
    SCOPED_TRACE(text);
    try {
      mubgen::CompileReplay(mubgen::SourceFromString(text, "r.rpt"), types);
      ADD_FAILURE() << "not refused";
    } catch (const mubgen::ContentError& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
  }
}
