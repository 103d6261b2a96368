// The generated game data from the shipped sources: byte-identical runs, the exact file set,
// and every file's layout as the game reads it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "content_fixture.h"
#include "generator.h"
#include "map_compiler.h"
#include "ogg_encoder.h"
#include "source_text.h"
#include "type_tables.h"

using namespace content_test;

namespace {

std::map<std::string, std::vector<uint8_t>> ReadTree(const std::string& root) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    if (e.is_regular_file())
      files[std::filesystem::relative(e.path(), root).generic_string()] =
          ReadFileBytes(e.path().string());
  return files;
}

// Generated once for the layout tests.
const mubgen::GeneratedContent& Content() {
  static const mubgen::GeneratedContent content = mubgen::BuildContent(SourceDir());
  return content;
}

}  // namespace

TEST(GeneratedContent, TwoRunsWriteIdenticalFiles) {
  const TempFolder a("mub_content_run_a"), b("mub_content_run_b");
  std::string message;
  std::vector<std::string> warnings;
  ASSERT_EQ(mubgen::GenerateContent(SourceDir(), a.string(), message, warnings), 0) << message;
  ASSERT_EQ(mubgen::GenerateContent(SourceDir(), b.string(), message, warnings), 0) << message;
  auto first = ReadTree(a.string()), second = ReadTree(b.string());
  ASSERT_EQ(first.size(), second.size());
  for (const auto& [path, bytes] : first) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(second.count(path));
    EXPECT_TRUE(bytes == second[path]);
  }
  EXPECT_TRUE(std::filesystem::is_directory(a.string() + "/replay"));
}

TEST(GeneratedContent, ShippedSourcesGiveNoWarnings) {
  for (const std::string& w : Content().warnings) ADD_FAILURE() << w;
}

TEST(GeneratedContent, WritesExactlyTheFilesTheGameReads) {
  std::set<std::string> expected = {"data/player.dat", "data/block.dat", "data/shot.dat",
                                    "data/enemy.dat",  "data/boss.dat",  "data/item.dat"};
  for (int s = 0; s < 16; ++s) {
    char name[32];
    std::snprintf(name, sizeof name, "data/map/%02d.mdt", s);
    expected.insert(name);
  }
  for (const char* i : {"player", "block", "shot", "enemy", "boss", "item", "step", "nmb", "hgauge",
                        "jgauge", "goal", "title", "txt"})
    expected.insert(std::string("image/") + i + ".bmp");
  expected.insert("sound/b0.ogg");
  for (int e = 0; e < 7; ++e) expected.insert("sound/e" + std::to_string(e) + ".ogg");
  std::set<std::string> got;
  for (const auto& [path, bytes] : Content().files) got.insert(path);
  EXPECT_EQ(got, expected);
  for (const std::string& p : got) EXPECT_EQ(p.find("_a.bmp"), std::string::npos) << p;
}

TEST(GeneratedContent, TypeTablesHaveTheirRecordSizes) {
  const std::pair<const char*, size_t> sizes[] = {{"data/player.dat", 16}, {"data/block.dat", 64},
                                                  {"data/shot.dat", 112},  {"data/enemy.dat", 368},
                                                  {"data/boss.dat", 64},   {"data/item.dat", 96}};
  for (auto [path, size] : sizes) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Content().files.at(path).size(), size);
  }
  const auto& player = Content().files.at("data/player.dat");
  EXPECT_EQ(player[0], player[1]);  // left = top
  EXPECT_EQ(player[2], player[3]);  // right = bottom
  EXPECT_NE(player[4], 0);          // maximum HP divides the gauge width
  EXPECT_NE(player[9], 0);          // hover maximum likewise
  EXPECT_GT(player[10], player[11]);
  const auto& bosses = Content().files.at("data/boss.dat");
  for (int b = 0; b < 4; ++b) {
    SCOPED_TRACE(b);
    EXPECT_EQ(bosses[size_t(16 * b + 5)] & (3 | 4 | 8 | 16),
              0);                              // drift:screen, no gravity/shotproof/persist
    EXPECT_EQ(bosses[size_t(16 * b + 7)], 0);  // speed 0
    EXPECT_GE(bosses[size_t(16 * b + 6)], 8 * Content().files.at("data/shot.dat")[4]);
  }
  const auto& enemies = Content().files.at("data/enemy.dat");
  for (int e = 0; e < 23; ++e) {
    SCOPED_TRACE(e);
    EXPECT_GE(enemies[size_t(16 * e + 10)], 1);
    EXPECT_LE(enemies[size_t(16 * e + 10)], 6);
    EXPECT_EQ(enemies[size_t(16 * e + 11)], 0);
  }
  EXPECT_TRUE(enemies[16 * 6 + 5] & 16);   // type 6 stays to burst
  EXPECT_TRUE(enemies[16 * 13 + 5] & 64);  // bricks leave steps
}

TEST(GeneratedContent, MapsFollowTheirHeaderAndHoldOnlyValidEntries) {
  const auto& player = Content().files.at("data/player.dat");
  for (int s = 0; s < 16; ++s) {
    char name[32];
    std::snprintf(name, sizeof name, "data/map/%02d.mdt", s);
    SCOPED_TRACE(name);
    const auto& m = Content().files.at(name);
    ASSERT_GE(m.size(), 16u);
    int length = Le16(m, 0), goal = Le16(m, 2), speed = m[4];
    EXPECT_EQ(m.size(), size_t(16 + 16 * length));
    EXPECT_LE(goal, length);
    EXPECT_GE(goal, 21);
    EXPECT_GE(speed, 1);
    EXPECT_LT(speed, 2 * player[5]);
    EXPECT_LE(m[5], 14);
    for (size_t i = 6; i < 16; ++i) EXPECT_EQ(m[i], 0);
    int bosses = 0;
    for (int c = 0; c < length; ++c)
      for (int k = 0; k < 4; ++k) {
        const uint8_t* e = &m[size_t(16 + 16 * c + 4 * k)];
        if (e[0] == 0xFF) {
          EXPECT_TRUE(e[1] == 0xFF && e[2] == 0xFF && e[3] == 0xFF);
          continue;
        }
        static const int maxType[] = {3, 22, 5, 3};
        ASSERT_LE(e[0], 3);
        EXPECT_LE(e[1], maxType[e[0]]);
        if (e[0] == 0) {
          EXPECT_GE(e[2], 1);
          EXPECT_LE(e[3], 15);
        } else {
          EXPECT_LE(e[2], 14);
          EXPECT_GE(c, 4);
        }
        if (e[0] == 3) ++bosses;
      }
    EXPECT_EQ(bosses, s % 4 == 3 ? 1 : 0);
  }
}

TEST(GeneratedContent, MapsSurviveATripThroughTheirTextForm) {
  mubgen::TypeTables types = mubgen::ReadTypeTables(SourceDir(), SourceDir());
  for (int s = 0; s < 16; ++s) {
    char name[32];
    std::snprintf(name, sizeof name, "data/map/%02d.mdt", s);
    SCOPED_TRACE(name);
    const auto& bytes = Content().files.at(name);
    std::string text = mubgen::DumpMap(bytes);
    ASSERT_FALSE(text.empty());
    std::vector<std::string> warnings;
    auto again = mubgen::MapBytes(
        mubgen::CompileMap(mubgen::SourceFromString(text, "dump"), types, warnings));
    EXPECT_TRUE(again == bytes);
  }
}

TEST(GeneratedContent, BitmapsAre24BitWithTheGamesSizes) {
  struct Size {
    const char* name;
    int w, h;
  };
  const Size sizes[] = {{"player", 256, 32}, {"block", 384, 96},  {"shot", 128, 224},
                        {"enemy", 512, 736}, {"boss", 1024, 256}, {"item", 128, 192},
                        {"step", 512, 32},   {"nmb", 80, 12},     {"hgauge", 320, 64},
                        {"jgauge", 240, 72}, {"goal", 4, 480},    {"title", 512, 224},
                        {"txt", 120, 96}};
  for (const Size& s : sizes) {
    SCOPED_TRACE(s.name);
    const auto& b = Content().files.at(std::string("image/") + s.name + ".bmp");
    ASSERT_GE(b.size(), 54u);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(Le32(b, 2), b.size());
    EXPECT_EQ(Le32(b, 10), 54u);
    EXPECT_EQ(Le32(b, 14), 40u);
    EXPECT_EQ(int32_t(Le32(b, 18)), s.w);
    EXPECT_EQ(int32_t(Le32(b, 22)), s.h);  // positive: bottom-up rows
    EXPECT_EQ(Le16(b, 26), 1);
    EXPECT_EQ(Le16(b, 28), 24);
    EXPECT_EQ(Le32(b, 30), 0u);
    EXPECT_EQ(Le32(b, 46), 0u);
    size_t row = (size_t(s.w) * 3 + 3) & ~size_t(3);
    EXPECT_EQ(b.size(), 54 + row * size_t(s.h));
  }
}

namespace {

// The pixel at (x, y) counted from the top, as (r, g, b).
std::array<int, 3> Pixel(const std::vector<uint8_t>& bmp, int x, int y) {
  int w = int(Le32(bmp, 18)), h = int(Le32(bmp, 22));
  size_t row = (size_t(w) * 3 + 3) & ~size_t(3);
  size_t at = 54 + row * size_t(h - 1 - y) + size_t(x) * 3;
  return {bmp[at + 2], bmp[at + 1], bmp[at]};
}

bool IsKey(const std::array<int, 3>& p) { return p[0] == 0 && p[1] == 0 && p[2] == 0; }

}  // namespace

TEST(GeneratedContent, FontIsWhiteOnTheKeyWithAnEmptySpace) {
  const auto& txt = Content().files.at("image/txt.bmp");
  for (int g = 0; g < 60; ++g) {
    SCOPED_TRACE(g);
    int opaque = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 12; ++x) {
        auto p = Pixel(txt, 12 * (g % 10) + x, 16 * (g / 10) + y);
        if (IsKey(p)) continue;
        ++opaque;
        EXPECT_EQ(p, (std::array<int, 3>{255, 255, 255}));
        EXPECT_LT(x, 10);
      }
    if (g == 59)
      EXPECT_EQ(opaque, 0);
    else
      EXPECT_GT(opaque, 0);
  }
}

TEST(GeneratedContent, GaugeFillsLeaveTheirFirstFourColumnsTransparent) {
  struct Fill {
    const char* name;
    int top, height, barEnd;
  };
  for (Fill f :
       {Fill{"hgauge", 32, 32, 316}, Fill{"jgauge", 24, 24, 236}, Fill{"jgauge", 48, 24, 236}}) {
    SCOPED_TRACE(std::string(f.name) + " " + std::to_string(f.top));
    const auto& b = Content().files.at(std::string("image/") + f.name + ".bmp");
    for (int x = 0; x < int(Le32(b, 18)); ++x) {
      bool any = false;
      for (int y = f.top; y < f.top + f.height; ++y) any = any || !IsKey(Pixel(b, x, y));
      EXPECT_EQ(any, x >= 4 && x < f.barEnd) << "column " << x;
    }
  }
}

TEST(GeneratedContent, EverySheetCellTheGameDrawsHasPixels) {
  // Player: 2 poses x 4 frames; enemies by their frames and poses.
  const auto& player = Content().files.at("image/player.bmp");
  for (int cell = 0; cell < 8; ++cell) {
    int opaque = 0;
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) opaque += !IsKey(Pixel(player, 32 * cell + x, y));
    EXPECT_GT(opaque, 40) << "player cell " << cell;
  }
  const auto& table = Content().files.at("data/enemy.dat");
  const auto& enemies = Content().files.at("image/enemy.bmp");
  for (int t = 0; t < 23; ++t) {
    int poses = t == 10 ? 7 : t == 15 ? 6 : t == 11 ? 2 : 1;
    for (int cell = 0; cell < poses * table[size_t(16 * t + 12)]; ++cell) {
      int opaque = 0;
      for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) opaque += !IsKey(Pixel(enemies, 32 * cell + x, 32 * t + y));
      EXPECT_GT(opaque, 0) << "enemy " << t << " cell " << cell;
    }
  }
}

TEST(GeneratedContent, SoundsDecodeAsMonoVorbisWithFixedSerials) {
  for (int i = 0; i < 8; ++i) {
    std::string name = i == 0 ? "b0" : "e" + std::to_string(i - 1);
    SCOPED_TRACE(name);
    const auto& ogg = Content().files.at("sound/" + name + ".ogg");
    ASSERT_GE(ogg.size(), 28u);
    EXPECT_EQ(std::string(ogg.begin(), ogg.begin() + 4), "OggS");
    uint32_t serial = Le32(ogg, 14);
    EXPECT_EQ(serial, i == 0 ? 0x4D554210u : 0x4D554220u + uint32_t(i - 1));
    int rate = 0, channels = 0;
    std::vector<int16_t> pcm;
    ASSERT_TRUE(mubgen::DecodeOggVorbis(ogg, rate, channels, pcm));
    EXPECT_EQ(rate, 22050);
    EXPECT_EQ(channels, 1);
    double seconds = double(pcm.size()) / rate;
    int peak = 0;
    for (int16_t s : pcm) peak = std::max(peak, std::abs(int(s)));
    if (i == 0) {
      EXPECT_NEAR(seconds, 51.2, 0.01);
      EXPECT_GT(peak, 8000);
    } else {
      EXPECT_GT(seconds, 0.02);
      EXPECT_LT(seconds, 0.5);
      EXPECT_GT(peak, 6000);
      // An effect is cut off when it restarts: it starts and ends near silence.
      EXPECT_LT(std::abs(int(pcm.front())), 2000);
      EXPECT_LT(std::abs(int(pcm.back())), 2000);
    }
  }
}
