// Replay text: "replay stage N", "lives", "streaks" (eight counters), "hp", "hover" ("max" takes
// the player type's value), "barrier", "power", "score", then "controls" followed by pairs of a
// frame count and the held buttons (L R D J F, "-" for none).
#include "replay_compiler.h"

namespace mubgen {

namespace {

uint32_t Word(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}

void PutWord16(std::vector<uint8_t>& b, size_t at, int v) {
  b[at] = uint8_t(v & 0xFF);
  b[at + 1] = uint8_t((v >> 8) & 0xFF);
}

const char kButtons[] = "LRDJF";

}  // namespace

uint32_t ReplayCheckWord(const std::vector<uint8_t>& b) {
  return Word(b, 16) ^ Word(b, 20) ^ Word(b, 24);
}

std::vector<uint8_t> CompileReplay(const SourceFile& f, const TypeTables& types) {
  std::vector<uint8_t> out(32, 0);
  bool seen[8] = {};
  const char* names[] = {"replay", "lives", "streaks", "hp", "hover", "barrier", "power", "score"};
  bool controls = false;
  for (const SourceLine& l : f.lines) {
    if (IsBlank(l.text)) continue;
    auto w = SplitWords(l.text);
    if (controls) {
      if (w.size() % 2 != 0) f.Fail(l.number, "controls are pairs: COUNT BUTTONS");
      for (size_t k = 0; k < w.size(); k += 2) {
        int64_t n = ParseInteger(f, l.number, w[k], 1, 1000000, "frame count");
        uint8_t bits = 0;
        if (w[k + 1] != "-")
          for (char c : w[k + 1]) {
            const char* p = std::char_traits<char>::find(kButtons, 5, c);
            if (!p)
              f.Fail(l.number,
                     std::string("\"") + c + "\" is not a button (L R D J F, or - for none)");
            bits = uint8_t(bits | (1 << (p - kButtons)));
          }
        out.insert(out.end(), size_t(n), bits);
      }
      continue;
    }
    int which = -1;
    for (int i = 0; i < 8; ++i)
      if (w[0] == names[i]) which = i;
    if (w[0] == "controls") {
      controls = true;
      continue;
    }
    if (which < 0) f.Fail(l.number, "unknown statement \"" + w[0] + "\"");
    if (seen[which]) f.Fail(l.number, "\"" + w[0] + "\" given twice");
    seen[which] = true;
    switch (which) {
      case 0:
        if (w.size() != 3 || w[1] != "stage") f.Fail(l.number, "expected \"replay stage N\"");
        out[0] = uint8_t(ParseInteger(f, l.number, w[2], 0, 15, "stage"));
        break;
      case 1:
        if (w.size() != 2) f.Fail(l.number, "expected \"lives N\"");
        out[1] = uint8_t(ParseInteger(f, l.number, w[1], 0, 99, "lives"));
        break;
      case 2:
        if (w.size() != 9) f.Fail(l.number, "streaks takes eight counters");
        for (int i = 0; i < 8; ++i)
          out[size_t(8 + i)] =
              uint8_t(ParseInteger(f, l.number, w[size_t(1 + i)], 0, 255, "streak"));
        break;
      case 3:
      case 4: {
        if (w.size() != 2)
          f.Fail(l.number, std::string("expected \"") + names[which] + " N\" or \"max\"");
        int max = which == 3 ? types.player.hp : types.player.hoverMax;
        int v = w[1] == "max"
                    ? max
                    : int(ParseInteger(f, l.number, w[1], which == 3 ? 1 : 0, max, names[which]));
        PutWord16(out, which == 3 ? 16 : 18, v);
        break;
      }
      case 5:
      case 6: {
        if (w.size() != 2) f.Fail(l.number, std::string("expected \"") + names[which] + " N\"");
        int v = int(ParseInteger(f, l.number, w[1], 0, which == 5 ? 32767 : 1000, names[which]));
        PutWord16(out, which == 5 ? 20 : 22, v);
        break;
      }
      case 7: {
        if (w.size() != 2) f.Fail(l.number, "expected \"score N\"");
        uint32_t v = uint32_t(ParseInteger(f, l.number, w[1], 0, 2147483647, "score"));
        for (int i = 0; i < 4; ++i) out[size_t(24 + i)] = uint8_t(v >> (8 * i));
        break;
      }
    }
  }
  for (int i = 0; i < 8; ++i)
    if (!seen[i]) f.Fail(0, std::string("\"") + names[i] + "\" is missing");
  if (!controls) f.Fail(0, "\"controls\" is missing");
  uint32_t check = ReplayCheckWord(out);
  for (int i = 0; i < 4; ++i) out[size_t(28 + i)] = uint8_t(check >> (8 * i));
  return out;
}

std::string DumpReplay(const std::vector<uint8_t>& b) {
  if (b.size() < 32) return {};
  auto i16 = [&](size_t at) { return int(int16_t(uint16_t(b[at] | b[at + 1] << 8))); };
  std::string s =
      "replay stage " + std::to_string(b[0]) + "\nlives " + std::to_string(b[1]) + "\nstreaks";
  for (int i = 0; i < 8; ++i) s.append(1, ' ').append(std::to_string(b[size_t(8 + i)]));
  s += "\nhp " + std::to_string(i16(16)) + "\nhover " + std::to_string(i16(18)) + "\nbarrier " +
       std::to_string(i16(20)) + "\npower " + std::to_string(i16(22)) + "\nscore " +
       std::to_string(int32_t(Word(b, 24))) + "\ncontrols\n";
  size_t k = 32;
  int onLine = 0;
  while (k < b.size()) {
    size_t run = 1;
    while (k + run < b.size() && b[k + run] == b[k]) ++run;
    std::string buttons;
    for (int bit = 0; bit < 5; ++bit)
      if (b[k] & (1 << bit)) buttons += kButtons[bit];
    if (buttons.empty()) buttons.push_back('-');
    s += (onLine == 0 ? "  " : " ") + std::to_string(run) + " " + buttons;
    if (++onLine == 8) {
      s += "\n";
      onLine = 0;
    }
    k += run;
  }
  if (onLine) s += "\n";
  return s;
}

}  // namespace mubgen
