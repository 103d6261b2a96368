// Type tables: "[enemy 4]" sections of "name = value" lines become 16-byte records. Every value is
// range-checked and the rules the game's code silently relies on are enforced here.
#include "type_tables.h"

#include <map>

namespace mubgen {

namespace {

struct Field {
  std::vector<std::string> words;
  int line = 0;
  bool used = false;
};

struct Section {
  std::string kind;
  int index = 0;
  int line = 0;
  std::map<std::string, Field> fields;
};

const char* const kTableFiles[] = {"player", "blocks", "shots", "enemies", "bosses", "items"};
const char* const kTableKinds[] = {"player", "block", "shot", "enemy", "boss", "item"};

int RecordCount(const std::string& kind) {
  if (kind == "player") return 1;
  if (kind == "block") return kBlockTypes;
  if (kind == "shot") return kShotTypes;
  if (kind == "enemy") return kEnemyTypes;
  if (kind == "boss") return kBossTypes;
  return kItemKinds;
}

class SectionReader {
 public:
  SectionReader(const SourceFile& f, Section& s) : f_(f), s_(s) {}

  const Field& Get(const char* name) {
    auto it = s_.fields.find(name);
    if (it == s_.fields.end())
      f_.Fail(s_.line, Label() + ": the field \"" + name + "\" is missing");
    it->second.used = true;
    return it->second;
  }
  uint8_t Byte(const char* name, int min, int max) {
    const Field& fd = Get(name);
    if (fd.words.size() != 1) f_.Fail(fd.line, std::string(name) + " takes one value");
    return uint8_t(ParseInteger(f_, fd.line, fd.words[0], min, max, name));
  }
  std::array<uint8_t, 4> Box(int cell) {
    const Field& fd = Get("box");
    if (fd.words.size() != 4) f_.Fail(fd.line, "box takes four values: left top right bottom");
    std::array<uint8_t, 4> b{};
    for (int i = 0; i < 4; ++i)
      b[i] = uint8_t(ParseInteger(f_, fd.line, fd.words[i], 0, cell, "box"));
    if (b[0] >= b[2] || b[1] >= b[3])
      f_.Fail(fd.line, "box: left must be below right and top below bottom");
    return b;
  }
  int LineOf(const char* name) { return Get(name).line; }
  void CheckAllUsed() {
    for (auto& [name, fd] : s_.fields)
      if (!fd.used) f_.Fail(fd.line, Label() + ": unknown field \"" + name + "\"");
  }
  [[noreturn]] void Fail(const char* field, const std::string& message) {
    f_.Fail(Get(field).line, Label() + ": " + message);
  }
  std::string Label() const {
    return s_.kind == "player" ? "player" : s_.kind + " " + std::to_string(s_.index);
  }

 private:
  const SourceFile& f_;
  Section& s_;
};

// Flags are written by name; each name adds its value.
uint8_t ParseFlags(const SourceFile& f, const Field& fd, const std::string& kind) {
  uint8_t flags = 0;
  bool driftSeen = false;
  for (const std::string& w : fd.words) {
    if (w == "none") continue;
    int v = -1;
    if (kind == "block") {
      if (w == "solid") v = 1;
    } else if (kind == "shot") {
      if (w == "pass")
        v = kShotPass;
      else if (w == "bounce")
        v = kShotBounce;
      else if (w == "gravity")
        v = kShotGravity;
      else if (w == "edge_bounce")
        v = kShotEdgeBounce;
    } else {
      if (w.rfind("drift:", 0) == 0) {
        std::string m = w.substr(6);
        int mode = m == "screen"        ? 0
                   : m == "world_left"  ? 1
                   : m == "world_right" ? 2
                   : m == "lag"         ? 3
                                        : -1;
        if (mode < 0)
          f.Fail(fd.line,
                 "unknown drift mode \"" + m + "\" (screen, world_left, world_right, lag)");
        if (driftSeen) f.Fail(fd.line, "two drift modes");
        driftSeen = true;
        v = mode;
      } else if (w == "gravity")
        v = kFlagGravity;
      else if (w == "shotproof")
        v = kFlagShotproof;
      else if (w == "persist")
        v = kFlagPersist;
      else if (w == "comp_exempt")
        v = kFlagCompExempt;
      else if (w == "step_on_death")
        v = kFlagStepOnDeath;
    }
    if (v < 0) f.Fail(fd.line, "unknown flag \"" + w + "\"");
    if (v != 0 && (flags & v)) f.Fail(fd.line, "flag \"" + w + "\" given twice");
    flags = uint8_t(flags | v);
  }
  if ((kind == "enemy" || kind == "boss") && !driftSeen)
    f.Fail(fd.line,
           "flags must name a drift mode (drift:screen, drift:world_left, drift:world_right, "
           "drift:lag)");
  return flags;
}

// "3e2", or a plain number that can be written as mantissa (<= 255) times a power of ten.
void ParseScore(const SourceFile& f, const Field& fd, uint8_t& mantissa, uint8_t& exponent) {
  if (fd.words.size() != 1) f.Fail(fd.line, "score takes one value such as 3e2");
  const std::string& w = fd.words[0];
  int64_t m = 0, e = 0;
  size_t at = w.find('e');
  if (at != std::string::npos) {
    m = ParseInteger(f, fd.line, w.substr(0, at), 0, 255, "score mantissa");
    e = ParseInteger(f, fd.line, w.substr(at + 1), 0, 255, "score exponent");
  } else {
    m = ParseInteger(f, fd.line, w, 0, 2147483647, "score");
    while (m > 255 && m % 10 == 0) {
      m /= 10;
      ++e;
    }
    if (m > 255)
      f.Fail(fd.line, "score " + w + " cannot be written as mantissa (0-255) x 10^exponent");
  }
  // The game multiplies in unsigned 32-bit and then uses the value as signed.
  uint64_t value = uint64_t(m);
  for (int i = 0; i < e && value != 0; ++i) {
    value *= 10;
    if (value >= (uint64_t(1) << 31)) break;
  }
  if (value >= (uint64_t(1) << 31)) f.Fail(fd.line, "score " + w + " must stay below 2^31");
  mantissa = uint8_t(m);
  exponent = uint8_t(e);
}

bool IsMinion(int type) {
  return type == 8 || type == 12 || type == 18 || type == 19 || type == 20;
}

void ConvertSection(const SourceFile& f, Section& s, TypeTables& t) {
  SectionReader r(f, s);
  if (s.kind == "player") {
    PlayerTypeDef& p = t.player;
    p.box = r.Box(32);
    // The screen clamps place the player by its top/bottom offsets: keep the box square-sided.
    if (p.box[0] != p.box[1] || p.box[2] != p.box[3])
      r.Fail("box",
             "the player box needs left = top and right = bottom (the screen clamps use top and "
             "bottom)");
    p.hp = r.Byte("hp", 1, 255);
    p.walk = r.Byte("walk", 1, 255);
    p.jump = r.Byte("jump", 1, 255);
    p.hoverLift = r.Byte("hover_lift", 17, 255);
    p.hoverRiseLimit = r.Byte("hover_rise_limit", 0, 255);
    p.hoverMax = r.Byte("hover_max", 1, 255);
    p.hoverCost = r.Byte("hover_cost", 1, 255);
    p.hoverRegen = r.Byte("hover_regen", 0, 255);
    if (p.hoverCost <= p.hoverRegen)
      r.Fail("hover_cost", "hover_cost must exceed hover_regen, or hovering never ends");
    p.frames = r.Byte("frames", 1, 8);
    p.step = r.Byte("step", 1, 255);
    if (p.frames * p.step > 255)
      r.Fail("step", "frames x step must stay within 255 (8-bit counter)");
  } else if (s.kind == "block") {
    t.blocks[s.index].flags = ParseFlags(f, r.Get("flags"), "block");
  } else if (s.kind == "shot") {
    ShotTypeDef& sh = t.shots[s.index];
    sh.box = r.Box(32);
    sh.damage = r.Byte("damage", s.index == 0 ? 1 : 0, 255);
    sh.flags = ParseFlags(f, r.Get("flags"), "shot");
    sh.speed = r.Byte("speed", 1, 255);
    sh.frames = r.Byte("frames", 1, 4);
    sh.step = r.Byte("step", 1, 255);
    if (sh.frames * sh.step > 255) r.Fail("step", "frames x step must stay within 255");
    if (s.index == 0 && (sh.flags & kShotPass) == 0)
      r.Fail("flags", "the player's shot (type 0) must pass blocks");
  } else if (s.kind == "enemy" || s.kind == "boss") {
    bool boss = s.kind == "boss";
    int type = boss ? kEnemyTypes + s.index : s.index;
    EnemyTypeDef& e = t.enemies[type];
    e.box = r.Box(boss ? 64 : 32);
    e.contact = r.Byte("contact", 0, 255);
    e.flags = ParseFlags(f, r.Get("flags"), s.kind);
    e.hp = r.Byte("hp", 0, 255);
    e.speed = r.Byte("speed", 0, 255);
    e.a = r.Byte("a", 0, 255);
    e.b = r.Byte("b", 0, 255);
    e.bullet = r.Byte("bullet", 1, kShotTypes - 1);
    int poses = EnemyPoses(type);
    e.frames = r.Byte("frames", 1, uint8_t(16 / poses));
    e.step = r.Byte("step", 1, 255);
    if (e.frames * e.step > 255) r.Fail("step", "frames x step must stay within 255");
    ParseScore(f, r.Get("score"), e.mantissa, e.exponent);
    int drift = e.flags & 3;
    if (boss) {
      if (drift != 0 || e.speed != 0)
        r.Fail("flags", "a boss moves in screen positions: drift:screen with speed 0");
      if (e.flags & (kFlagGravity | kFlagShotproof | kFlagPersist))
        r.Fail("flags",
               "a boss must not have gravity, shotproof or persist (a kept boss is destroyed again "
               "by every hit)");
      if (e.hp == 0) r.Fail("hp", "a boss needs hit points");
      t.bossHpAt[s.index] = {f.path, r.LineOf("hp")};
      if (s.index > 0 && e.b == 0) r.Fail("b", "this boss moves at speed b: it must not be 0");
    } else {
      if ((e.flags & kFlagPersist) && type != 6)
        r.Fail("flags", "only type 6 may persist (a kept enemy is destroyed again by every hit)");
      if (type == 6 && !(e.flags & kFlagPersist))
        r.Fail("flags", "type 6 needs persist: its death burst runs from the kept slot");
      if (type == 13 && !(e.flags & kFlagStepOnDeath))
        r.Fail("flags", "type 13 needs step_on_death: bricks become steps");
      if (type == 13 && e.hp == 0 && !(e.flags & kFlagShotproof))
        r.Fail("hp", "type 13 needs hp of at least 1");
      if (type == 21 && !(e.flags & kFlagGravity))
        r.Fail("flags", "type 21 hops and needs gravity, or it rises off the top");
      if (IsMinion(type)) {
        if (drift != 0 || e.speed != 0)
          r.Fail("flags", "a boss minion moves in screen positions: drift:screen with speed 0");
        if (e.mantissa != 0) r.Fail("score", "a boss minion is spawned endlessly and must score 0");
      }
      if ((type == 4 || type == 7 || type == 16) && e.a < 2)
        r.Fail("a", "this type flies at a - 1: a must be at least 2");
      if (type == 16 && e.b < 2) r.Fail("b", "type 16 flies left at b - 1: b must be at least 2");
      if ((type == 12 || type == 17) && e.a == 0)
        r.Fail("a", "this type moves at speed a: a must not be 0");
      if ((type == 19 || type == 20) && e.a == 0 && e.b == 0)
        r.Fail("a", "a and b are the speeds of this type: not both 0");
      if (type == 21 && e.a < 2) r.Fail("a", "type 21 hops up at a - 1: a must be at least 2");
    }
  } else {
    ItemTypeDef& it = t.items[s.index];
    it.frames = r.Byte("frames", 1, 4);
    it.step = r.Byte("step", 1, 255);
    if (it.frames * it.step > 255) r.Fail("step", "frames x step must stay within 255");
  }
  r.CheckAllUsed();
}

void PutBox(std::vector<uint8_t>& out, const std::array<uint8_t, 4>& box) {
  out.insert(out.end(), box.begin(), box.end());
}

}  // namespace

int EnemyPoses(int type) {
  if (type == 10) return 7;
  if (type == 15) return 6;
  if (type == 11) return 2;
  return 1;
}

void ParseTypeTable(const SourceFile& f, const std::string& kind, TypeTables& tables,
                    std::vector<bool>& seen) {
  int count = RecordCount(kind);
  seen.assign(size_t(count), false);
  Section current;
  bool open = false;
  auto finish = [&]() {
    if (open) ConvertSection(f, current, tables);
    open = false;
  };
  for (const SourceLine& l : f.lines) {
    if (IsBlank(l.text)) continue;
    if (l.text[0] == '[') {
      finish();
      if (l.text.back() != ']') f.Fail(l.number, "a section header looks like [" + kind + " 0]");
      auto words = SplitWords(l.text.substr(1, l.text.size() - 2));
      if (words.empty() || words[0] != kind)
        f.Fail(l.number,
               "this file holds [" + kind + (kind == "player" ? "]" : " N]") + " sections");
      current = Section{};
      current.kind = kind;
      current.line = l.number;
      if (kind == "player") {
        if (words.size() != 1) f.Fail(l.number, "the player section is [player]");
      } else {
        if (words.size() != 2) f.Fail(l.number, "a section header looks like [" + kind + " 0]");
        current.index =
            int(ParseInteger(f, l.number, words[1], 0, count - 1, (kind + " number").c_str()));
      }
      if (seen[size_t(current.index)])
        f.Fail(l.number, "[" + l.text.substr(1, l.text.size() - 2) + "] appears twice");
      seen[size_t(current.index)] = true;
      open = true;
      continue;
    }
    if (!open) f.Fail(l.number, "a field outside a section");
    size_t eq = l.text.find('=');
    if (eq == std::string::npos) f.Fail(l.number, "expected \"name = value\"");
    auto nameWords = SplitWords(l.text.substr(0, eq));
    if (nameWords.size() != 1) f.Fail(l.number, "expected \"name = value\"");
    Field fd;
    fd.words = SplitWords(l.text.substr(eq + 1));
    fd.line = l.number;
    if (fd.words.empty()) f.Fail(l.number, "\"" + nameWords[0] + "\" has no value");
    // Flags may be joined with "|" for readability.
    if (nameWords[0] == "flags") {
      std::vector<std::string> split;
      for (auto& w : fd.words) {
        size_t start = 0;
        for (size_t i = 0; i <= w.size(); ++i)
          if (i == w.size() || w[i] == '|') {
            if (i > start) split.push_back(w.substr(start, i - start));
            start = i + 1;
          }
      }
      fd.words = split;
    }
    if (!current.fields.emplace(nameWords[0], fd).second)
      f.Fail(l.number, "\"" + nameWords[0] + "\" given twice");
  }
  finish();
  for (int i = 0; i < count; ++i)
    if (!seen[size_t(i)])
      f.Fail(0, kind == "player" ? "the [player] section is missing"
                                 : "[" + kind + " " + std::to_string(i) + "] is missing");
}

void CheckTypeTables(const TypeTables& t) {
  // A boss killed within one frame of boss 2's counter dip leaves the counter at -1.
  int need = 8 * t.shots[0].damage;
  for (int b = 0; b < kBossTypes; ++b)
    if (t.enemies[kEnemyTypes + b].hp < need)
      throw ContentError(t.bossHpAt[b].file, t.bossHpAt[b].line,
                         "boss " + std::to_string(b) +
                             ": hp must be at least 8 x the player's shot damage (" +
                             std::to_string(need) + ")");
}

TypeTables ReadTypeTables(const std::string& dir, const std::string& shownDir) {
  TypeTables t;
  for (int i = 0; i < 6; ++i) {
    std::string name = std::string("types/") + kTableFiles[i] + ".txt";
    SourceFile f = ReadSourceFile(dir + "/" + name, shownDir + "/" + name);
    std::vector<bool> seen;
    ParseTypeTable(f, kTableKinds[i], t, seen);
  }
  CheckTypeTables(t);
  return t;
}

std::vector<uint8_t> PlayerTableBytes(const TypeTables& t) {
  const PlayerTypeDef& p = t.player;
  std::vector<uint8_t> out;
  PutBox(out, p.box);
  for (uint8_t v : {p.hp, p.walk, p.jump, p.hoverLift, p.hoverRiseLimit, p.hoverMax, p.hoverCost,
                    p.hoverRegen, p.frames, p.step})
    out.push_back(v);
  out.resize(16, 0);
  return out;
}

std::vector<uint8_t> BlockTableBytes(const TypeTables& t) {
  std::vector<uint8_t> out(16 * kBlockTypes, 0);
  for (int i = 0; i < kBlockTypes; ++i) out[size_t(16 * i)] = t.blocks[i].flags;
  return out;
}

std::vector<uint8_t> ShotTableBytes(const TypeTables& t) {
  std::vector<uint8_t> out;
  for (const ShotTypeDef& s : t.shots) {
    size_t start = out.size();
    PutBox(out, s.box);
    for (uint8_t v : {s.damage, s.flags, s.speed, s.frames, s.step}) out.push_back(v);
    out.resize(start + 16, 0);
  }
  return out;
}

static void PutEnemies(std::vector<uint8_t>& out, const TypeTables& t, int first, int count) {
  for (int i = first; i < first + count; ++i) {
    const EnemyTypeDef& e = t.enemies[size_t(i)];
    PutBox(out, e.box);
    for (uint8_t v : {e.contact, e.flags, e.hp, e.speed, e.a, e.b, e.bullet, uint8_t(0), e.frames,
                      e.step, e.mantissa, e.exponent})
      out.push_back(v);
  }
}

std::vector<uint8_t> EnemyTableBytes(const TypeTables& t) {
  std::vector<uint8_t> out;
  PutEnemies(out, t, 0, kEnemyTypes);
  return out;
}

std::vector<uint8_t> BossTableBytes(const TypeTables& t) {
  std::vector<uint8_t> out;
  PutEnemies(out, t, kEnemyTypes, kBossTypes);
  return out;
}

std::vector<uint8_t> ItemTableBytes(const TypeTables& t) {
  std::vector<uint8_t> out(16 * kItemKinds, 0);
  for (int i = 0; i < kItemKinds; ++i) {
    out[size_t(16 * i)] = t.items[i].frames;
    out[size_t(16 * i + 1)] = t.items[i].step;
  }
  return out;
}

}  // namespace mubgen
