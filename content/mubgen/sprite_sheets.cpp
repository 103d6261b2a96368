// Pixel-art sources: "palette", "use", "art", "cell", "glyphs" and "digits" statements. A cell
// names its place ("enemy 4 pose 0 frame 1"); its position in the sheet follows from the type
// tables, so art and tables cannot drift apart. Derived cells ("cell A = B shift 0 1") keep the
// text small.
#include "sprite_sheets.h"

#include <algorithm>
#include <filesystem>
#include <set>

namespace mubgen {

namespace {

const char kGlyphOrder[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ!?_\n:+-x/%*#=.[]()<>^\\$ ";

struct Palette {
  std::map<char, Rgb> colours;
};

struct Art {
  int w = 0, h = 0, scale = 1;
  std::vector<std::string> rows;
  std::string palette;
};

struct Dest {
  std::string sheet;
  int x = 0, y = 0, w = 0, h = 0;
  std::string label;
};

bool IsDestKeyword(const std::string& w) {
  return w == "player" || w == "shot" || w == "enemy" || w == "boss" || w == "item" ||
         w == "digit" || w == "glyph" || w == "icon";
}

int GlyphFromName(const std::string& name) {
  if (name == "linefeed") return 39;
  if (name == "backslash") return 57;
  if (name == "space") return 59;
  if (name == "hash") return 47;
  if (name.size() == 1) return GlyphIndex(name[0]);
  return -1;
}

class Builder {
 public:
  Builder(const TypeTables& t, std::string shownDir) : t_(t), shownDir_(std::move(shownDir)) {
    images_["player"] = Image(64 * t.player.frames, 32);
    images_["shot"] = Image(128, 32 * kShotTypes);
    images_["enemy"] = Image(512, 32 * kEnemyTypes);
    images_["boss"] = Image(1024, 64 * kBossTypes);
    images_["item"] = Image(128, 32 * kItemKinds);
    images_["nmb"] = Image(80, 12);
    images_["txt"] = Image(120, 96);
    images_["icon"] = Image(kIconSize, kIconSize);
  }

  void ReadFile(const SourceFile& f) {
    size_t i = 0;
    while (i < f.lines.size()) {
      const SourceLine& l = f.lines[i++];
      if (IsBlank(l.text)) continue;
      auto w = SplitWords(l.text);
      if (w[0] == "palette") {
        if (w.size() != 2 && !(w.size() == 4 && w[2] == "from"))
          f.Fail(l.number, "expected \"palette NAME\" or \"palette NAME from BASE\"");
        Palette p;
        if (w.size() == 4) {
          auto base = palettes_.find(w[3]);
          if (base == palettes_.end()) f.Fail(l.number, "unknown palette \"" + w[3] + "\"");
          p = base->second;
        }
        // Colour lines follow: "k 181818".
        while (i < f.lines.size()) {
          const SourceLine& c = f.lines[i];
          if (IsBlank(c.text)) {
            ++i;
            continue;
          }
          auto cw = SplitWords(c.text);
          if (cw.size() != 2 || cw[0].size() != 1 || cw[1].size() != 6) break;
          char key = cw[0][0];
          if (key == '.' || key == '\'' || key == '|' || key == '=')
            f.Fail(c.number,
                   std::string("\"") + key + "\" cannot name a colour (\".\" is transparent)");
          p.colours[key] = ParseColour(f, c.number, cw[1], false);
          ++i;
        }
        if (!palettes_.emplace(w[1], p).second)
          f.Fail(l.number, "palette \"" + w[1] + "\" defined twice");
      } else if (w[0] == "use") {
        if (w.size() != 2) f.Fail(l.number, "expected \"use PALETTE\"");
        if (!palettes_.count(w[1])) f.Fail(l.number, "unknown palette \"" + w[1] + "\"");
        current_ = w[1];
      } else if (w[0] == "art") {
        if (current_.empty()) f.Fail(l.number, "no palette in use (\"use NAME\")");
        if (w.size() != 3 && !(w.size() == 5 && w[3] == "scale"))
          f.Fail(l.number, "expected \"art NAME WxH [scale N]\"");
        if (IsDestKeyword(w[1]))
          f.Fail(l.number, "\"" + w[1] + "\" names a sheet cell; choose another art name");
        size_t x = w[2].find('x');
        if (x == std::string::npos) f.Fail(l.number, "size is written WxH, e.g. 16x16");
        Art a;
        a.w = int(ParseInteger(f, l.number, w[2].substr(0, x), 1, 1024, "art width"));
        a.h = int(ParseInteger(f, l.number, w[2].substr(x + 1), 1, 1024, "art height"));
        a.scale = w.size() == 5 ? int(ParseInteger(f, l.number, w[4], 1, 16, "scale")) : 2;
        ReadRows(f, i, l.number, a, 1);
        if (!arts_.emplace(w[1], a).second) f.Fail(l.number, "art \"" + w[1] + "\" defined twice");
      } else if (w[0] == "cell" || w[0] == "glyphs" || w[0] == "digits") {
        ReadCell(f, i, l, w);
      } else {
        f.Fail(l.number, "unknown statement \"" + w[0] + "\"");
      }
    }
  }

  void Finish() {
    auto need = [&](const std::string& label) {
      if (!placed_.count(label))
        throw ContentError(shownDir_ + "/sprites", 0, "no art for " + label);
    };
    for (int p = 0; p < 2; ++p)
      for (int fr = 0; fr < t_.player.frames; ++fr)
        need("player pose " + std::to_string(p) + " frame " + std::to_string(fr));
    for (int s = 0; s < kShotTypes; ++s)
      for (int fr = 0; fr < t_.shots[s].frames; ++fr)
        need("shot " + std::to_string(s) + " frame " + std::to_string(fr));
    for (int e = 0; e < kEnemyTypes; ++e)
      for (int p = 0; p < EnemyPoses(e); ++p)
        for (int fr = 0; fr < t_.enemies[e].frames; ++fr)
          need("enemy " + std::to_string(e) + " pose " + std::to_string(p) + " frame " +
               std::to_string(fr));
    for (int b = 0; b < kBossTypes; ++b)
      for (int fr = 0; fr < t_.enemies[kEnemyTypes + b].frames; ++fr)
        need("boss " + std::to_string(b) + " frame " + std::to_string(fr));
    for (int k = 0; k < kItemKinds; ++k)
      for (int fr = 0; fr < t_.items[k].frames; ++fr)
        need("item " + std::to_string(k) + " frame " + std::to_string(fr));
    for (int d = 0; d < 10; ++d) need("digit " + std::to_string(d));
    for (int g = 0; g < kGlyphCount - 1; ++g) need("glyph " + std::to_string(g));
    need("icon " + std::to_string(kIconResourceId));
    // Text is drawn with the brightness as its colour: glyphs are pure white on the key.
    const Image& txt = images_["txt"];
    for (int y = 0; y < txt.height; ++y)
      for (int x = 0; x < txt.width; ++x) {
        const Rgb& c = txt.At(x, y);
        if (c == Rgb{}) continue;
        int g = (y / kGlyphHeight) * 10 + x / kGlyphWidth;
        if (!(c == Rgb{255, 255, 255}))
          throw ContentError(shownDir_ + "/sprites", 0,
                             "glyph " + std::to_string(g) + " must be pure white (FFFFFF)");
        if (g == 59) throw ContentError(shownDir_ + "/sprites", 0, "the space glyph must be empty");
        if (x % kGlyphWidth >= 10)
          throw ContentError(shownDir_ + "/sprites", 0,
                             "glyph " + std::to_string(g) +
                                 " uses its last two pixel columns; keep a gap between letters");
      }
  }

  std::map<std::string, Image> TakeImages() { return std::move(images_); }

 private:
  // Reads art rows after a header: `count` pieces side by side, separated by one space.
  void ReadRows(const SourceFile& f, size_t& i, int headerLine, Art& a, int count) {
    int rowLength = a.w * count + (count - 1);
    for (int r = 0; r < a.h; ++r) {
      if (i >= f.lines.size()) f.Fail(headerLine, "the art needs " + std::to_string(a.h) + " rows");
      const SourceLine& l = f.lines[i++];
      std::string row = l.text;
      size_t start = row.find_first_not_of(" \t");
      row = start == std::string::npos ? std::string() : row.substr(start);
      if (int(row.size()) != rowLength)
        f.Fail(l.number, "art row " + std::to_string(r) + " has " + std::to_string(row.size()) +
                             " characters; expected " + std::to_string(rowLength));
      const std::string& pal = a.palette.empty() ? current_ : a.palette;
      for (int j = 0; j < rowLength; ++j) {
        char c = row[size_t(j)];
        bool separator = (j + 1) % (a.w + 1) == 0;
        if (separator && c != ' ') f.Fail(l.number, "pieces in a row are separated by one space");
        if (!separator && c != '.' && !palettes_.at(pal).colours.count(c))
          f.Fail(l.number, std::string("\"") + c + "\" is not in palette \"" + pal + "\"");
      }
      a.rows.push_back(row);
    }
    if (a.palette.empty()) a.palette = current_;
  }

  int Number(const SourceFile& f, int line, const std::vector<std::string>& w, size_t& k, int max,
             const char* what) {
    if (k >= w.size()) f.Fail(line, std::string("expected ") + what);
    return int(ParseInteger(f, line, w[k++], 0, max, what));
  }

  void Expect(const SourceFile& f, int line, const std::vector<std::string>& w, size_t& k,
              const char* word) {
    if (k >= w.size() || w[k] != word) f.Fail(line, std::string("expected \"") + word + "\"");
    ++k;
  }

  // Parses a cell name at w[k] and says where it goes.
  Dest ParseDest(const SourceFile& f, int line, const std::vector<std::string>& w, size_t& k) {
    if (k >= w.size()) f.Fail(line, "expected a cell name");
    std::string kind = w[k++];
    Dest d;
    auto frameOf = [&](int frames, const std::string& what) {
      Expect(f, line, w, k, "frame");
      int fr = Number(f, line, w, k, 255, "frame");
      if (fr >= frames)
        f.Fail(line, what + " has " + std::to_string(frames) + " frame(s) in its table: frame " +
                         std::to_string(fr) + " is never drawn");
      return fr;
    };
    if (kind == "player") {
      int pose = 0;
      if (k < w.size() && w[k] == "pose") {
        ++k;
        pose = Number(f, line, w, k, 1, "pose (0 normal, 1 barrier)");
      }
      int fr = frameOf(t_.player.frames, "the player");
      d = {"player", 32 * (t_.player.frames * pose + fr),
           0,        32,
           32,       "player pose " + std::to_string(pose) + " frame " + std::to_string(fr)};
    } else if (kind == "shot") {
      int s = Number(f, line, w, k, kShotTypes - 1, "shot type");
      int fr = frameOf(t_.shots[s].frames, "shot " + std::to_string(s));
      d = {"shot", 32 * fr, 32 * s,
           32,     32,      "shot " + std::to_string(s) + " frame " + std::to_string(fr)};
    } else if (kind == "enemy") {
      int e = Number(f, line, w, k, kEnemyTypes - 1, "enemy type");
      int pose = 0;
      if (k < w.size() && w[k] == "pose") {
        ++k;
        pose = Number(f, line, w, k, 255, "pose");
        if (pose >= EnemyPoses(e))
          f.Fail(line, "enemy " + std::to_string(e) + " is drawn with " +
                           std::to_string(EnemyPoses(e)) + " pose(s)");
      }
      int fr = frameOf(t_.enemies[e].frames, "enemy " + std::to_string(e));
      d = {"enemy",
           32 * (t_.enemies[e].frames * pose + fr),
           32 * e,
           32,
           32,
           "enemy " + std::to_string(e) + " pose " + std::to_string(pose) + " frame " +
               std::to_string(fr)};
    } else if (kind == "boss") {
      int b = Number(f, line, w, k, kBossTypes - 1, "boss number");
      int fr = frameOf(t_.enemies[kEnemyTypes + b].frames, "boss " + std::to_string(b));
      d = {"boss", 64 * fr, 64 * b,
           64,     64,      "boss " + std::to_string(b) + " frame " + std::to_string(fr)};
    } else if (kind == "item") {
      int it = Number(f, line, w, k, kItemKinds - 1, "item kind");
      int fr = frameOf(t_.items[it].frames, "item " + std::to_string(it));
      d = {"item", 32 * fr, 32 * it,
           32,     32,      "item " + std::to_string(it) + " frame " + std::to_string(fr)};
    } else if (kind == "digit") {
      int v = Number(f, line, w, k, 9, "digit");
      d = {"nmb", 8 * v, 0, 8, 12, "digit " + std::to_string(v)};
    } else if (kind == "glyph") {
      if (k >= w.size()) f.Fail(line, "expected a glyph");
      int g = GlyphFromName(w[k]);
      if (g < 0)
        f.Fail(line,
               "\"" + w[k] + "\" is not in the font (names: linefeed, backslash, space, hash)");
      ++k;
      d = {"txt",       kGlyphWidth * (g % 10), kGlyphHeight * (g / 10),
           kGlyphWidth, kGlyphHeight,           "glyph " + std::to_string(g)};
    } else if (kind == "icon") {
      int id = Number(f, line, w, k, 65535, "icon resource id");
      if (id != kIconResourceId)
        f.Fail(line, "the program asks for icon " + std::to_string(kIconResourceId) +
                         " only: icon " + std::to_string(id) + " is never shown");
      d = {"icon", 0, 0, kIconSize, kIconSize, "icon " + std::to_string(id)};
    } else {
      f.Fail(line, "unknown cell \"" + kind + "\"");
    }
    return d;
  }

  Art Derive(const SourceFile& f, int line, const std::vector<std::string>& w, size_t k) {
    if (k >= w.size()) f.Fail(line, "expected a source after \"=\"");
    Art a;
    if (IsDestKeyword(w[k])) {
      Dest src = ParseDest(f, line, w, k);
      auto it = arts_.find(src.label);
      if (it == arts_.end()) f.Fail(line, src.label + " is not drawn yet");
      a = it->second;
    } else {
      auto it = arts_.find(w[k]);
      if (it == arts_.end()) f.Fail(line, "unknown art \"" + w[k] + "\"");
      a = it->second;
      ++k;
    }
    auto charArg = [&](const char* op) {
      if (k >= w.size() || w[k].size() != 1)
        f.Fail(line, std::string(op) + " takes a palette character");
      return w[k++][0];
    };
    while (k < w.size()) {
      std::string op = w[k++];
      std::vector<std::string> g = a.rows;
      if (op == "shift") {
        int dx = int(ParseInteger(f, line, k < w.size() ? w[k] : "", -a.w, a.w, "shift dx"));
        ++k;
        int dy = int(ParseInteger(f, line, k < w.size() ? w[k] : "", -a.h, a.h, "shift dy"));
        ++k;
        for (int y = 0; y < a.h; ++y)
          for (int x = 0; x < a.w; ++x) {
            int sx = x - dx, sy = y - dy;
            g[size_t(y)][size_t(x)] =
                (sx >= 0 && sy >= 0 && sx < a.w && sy < a.h) ? a.rows[size_t(sy)][size_t(sx)] : '.';
          }
      } else if (op == "fliph") {
        for (auto& row : g) std::reverse(row.begin(), row.end());
      } else if (op == "flipv") {
        std::reverse(g.begin(), g.end());
      } else if (op == "rot90") {
        if (a.w != a.h) f.Fail(line, "rot90 needs square art");
        for (int y = 0; y < a.h; ++y)
          for (int x = 0; x < a.w; ++x)
            g[size_t(y)][size_t(x)] = a.rows[size_t(a.h - 1 - x)][size_t(y)];
      } else if (op == "map" || op == "swap") {
        char from = charArg(op.c_str()), to = charArg(op.c_str());
        for (auto& row : g)
          for (char& c : row) {
            if (c == from)
              c = to;
            else if (op == "swap" && c == to)
              c = from;
          }
      } else if (op == "fill") {
        char to = charArg("fill");
        for (auto& row : g)
          for (char& c : row)
            if (c != '.') c = to;
      } else if (op == "outline") {
        char to = charArg("outline");
        for (int y = 0; y < a.h; ++y)
          for (int x = 0; x < a.w; ++x) {
            if (a.rows[size_t(y)][size_t(x)] != '.') continue;
            bool near = false;
            for (auto [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
              int sx = x + dx, sy = y + dy;
              if (sx >= 0 && sy >= 0 && sx < a.w && sy < a.h &&
                  a.rows[size_t(sy)][size_t(sx)] != '.')
                near = true;
            }
            if (near) g[size_t(y)][size_t(x)] = to;
          }
      } else if (op == "mask") {
        int r = int(ParseInteger(f, line, k < w.size() ? w[k] : "", 0, 1024, "mask radius"));
        ++k;
        for (int y = 0; y < a.h; ++y)
          for (int x = 0; x < a.w; ++x) {
            int dx = 2 * x + 1 - a.w, dy = 2 * y + 1 - a.h;
            if (dx * dx + dy * dy > 4 * r * r) g[size_t(y)][size_t(x)] = '.';
          }
      } else if (op == "overlay") {
        if (k >= w.size()) f.Fail(line, "overlay takes an art name");
        auto it = arts_.find(w[k]);
        if (it == arts_.end()) f.Fail(line, "unknown art \"" + w[k] + "\"");
        ++k;
        const Art& o = it->second;
        if (o.w != a.w || o.h != a.h) f.Fail(line, "overlay: the sizes differ");
        if (o.palette != a.palette) f.Fail(line, "overlay: the art uses another palette");
        for (int y = 0; y < a.h; ++y)
          for (int x = 0; x < a.w; ++x)
            if (o.rows[size_t(y)][size_t(x)] != '.')
              g[size_t(y)][size_t(x)] = o.rows[size_t(y)][size_t(x)];
      } else if (op == "palette") {
        if (k >= w.size() || !palettes_.count(w[k])) f.Fail(line, "palette: unknown palette");
        a.palette = w[k++];
      } else {
        f.Fail(line, "unknown operation \"" + op +
                         "\" (shift, fliph, flipv, rot90, map, swap, fill, outline, mask, overlay, "
                         "palette)");
      }
      a.rows = g;
    }
    for (const auto& row : a.rows)
      for (char c : row)
        if (c != '.' && !palettes_.at(a.palette).colours.count(c))
          f.Fail(line, std::string("\"") + c + "\" is not in palette \"" + a.palette + "\"");
    return a;
  }

  void Place(const SourceFile& f, int line, const Dest& d, const Art& a) {
    if (a.w * a.scale != d.w || a.h * a.scale != d.h)
      f.Fail(line, d.label + " is " + std::to_string(d.w) + "x" + std::to_string(d.h) +
                       " pixels; the art gives " + std::to_string(a.w * a.scale) + "x" +
                       std::to_string(a.h * a.scale));
    if (!placed_.insert(d.label).second) f.Fail(line, d.label + " is drawn twice");
    arts_[d.label] = a;
    const Palette& p = palettes_.at(a.palette);
    Image& img = images_[d.sheet];
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x) {
        char c = a.rows[size_t(y / a.scale)][size_t(x / a.scale)];
        img.At(d.x + x, d.y + y) = c == '.' ? Rgb{} : p.colours.at(c);
      }
  }

  void ReadCell(const SourceFile& f, size_t& i, const SourceLine& l, std::vector<std::string> w) {
    if (current_.empty()) f.Fail(l.number, "no palette in use (\"use NAME\")");
    int scale = 2;
    bool list = w[0] == "glyphs" || w[0] == "digits";
    auto eq = list ? w.end() : std::find(w.begin(), w.end(), "=");
    if (eq == w.end() && w.size() >= 3 && w[w.size() - 2] == "scale") {
      scale = int(ParseInteger(f, l.number, w.back(), 1, 16, "scale"));
      w.resize(w.size() - 2);
    }
    std::vector<Dest> dests;
    if (list) {
      for (size_t k = 1; k < w.size(); ++k) {
        std::vector<std::string> one = {w[0] == "glyphs" ? "glyph" : "digit", w[k]};
        size_t p = 0;
        dests.push_back(ParseDest(f, l.number, one, p));
      }
      if (dests.empty()) f.Fail(l.number, "no cells named");
    } else if (eq != w.end()) {
      size_t k = 1;
      Dest d = ParseDest(f, l.number, w, k);
      if (w.begin() + long(k) != eq) f.Fail(l.number, "one cell before \"=\"");
      Art a = Derive(f, l.number, w, k + 1);
      Place(f, l.number, d, a);
      return;
    } else {
      size_t k = 1;
      while (true) {
        dests.push_back(ParseDest(f, l.number, w, k));
        if (k == w.size()) break;
        if (w[k] != "|")
          f.Fail(l.number, "unexpected \"" + w[k] + "\" (cells are separated by \"|\")");
        ++k;
      }
    }
    Art all;
    all.scale = scale;
    all.w = dests[0].w / scale;
    all.h = dests[0].h / scale;
    if (all.w * scale != dests[0].w || all.h * scale != dests[0].h)
      f.Fail(l.number, "scale " + std::to_string(scale) + " does not divide the cell size");
    for (const Dest& d : dests)
      if (d.w != dests[0].w || d.h != dests[0].h)
        f.Fail(l.number, "cells drawn side by side must have one size");
    ReadRows(f, i, l.number, all, int(dests.size()));
    for (size_t n = 0; n < dests.size(); ++n) {
      Art one = all;
      one.rows.clear();
      for (const auto& row : all.rows)
        one.rows.push_back(row.substr(n * size_t(all.w + 1), size_t(all.w)));
      Place(f, l.number, dests[n], one);
    }
  }

  const TypeTables& t_;
  std::string shownDir_;
  std::map<std::string, Palette> palettes_;
  std::map<std::string, Art> arts_;
  std::map<std::string, Image> images_;
  std::set<std::string> placed_;
  std::string current_;
};

}  // namespace

int GlyphIndex(char c) {
  for (int i = 0; i < kGlyphCount; ++i)
    if (kGlyphOrder[i] == c) return i;
  return -1;
}

SpriteSheets BuildSpriteSheets(const std::vector<SourceFile>& files, const std::string& shownDir,
                               const TypeTables& types) {
  Builder b(types, shownDir);
  for (const SourceFile& f : files) b.ReadFile(f);
  b.Finish();
  SpriteSheets s;
  s.images = b.TakeImages();
  return s;
}

SpriteSheets ReadSpriteSheets(const std::string& dir, const std::string& shownDir,
                              const TypeTables& types) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir + "/sprites", ec))
    if (entry.path().extension() == ".spr") names.push_back(entry.path().filename().string());
  if (ec) throw ContentError(shownDir + "/sprites", 0, "cannot be read");
  std::sort(names.begin(), names.end());
  std::vector<SourceFile> files;
  for (const std::string& n : names)
    files.push_back(ReadSourceFile(dir + "/sprites/" + n, shownDir + "/sprites/" + n));
  return BuildSpriteSheets(files, shownDir, types);
}

}  // namespace mubgen
