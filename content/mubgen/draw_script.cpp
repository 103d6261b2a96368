// Drawing scripts: "canvas NAME W H" starts a picture; fill, rect, hline, vline, pixel, gradient,
// dither, noise, circle, ring, copy and text draw on it with integer arithmetic only; "repeat N DX
// DY"
// ... "end" repeats a block with an offset. Colours are named ("colour sky 3060C0") or RRGGBB;
// "clear" is the transparent key.
#include "draw_script.h"

#include <algorithm>
#include <filesystem>

#include "sprite_sheets.h"

namespace mubgen {

namespace {

struct Command {
  std::vector<std::string> w;
  int line = 0;
  std::vector<Command> body;  // for repeat
};

struct Required {
  const char* name;
  int w, h;
};
constexpr Required kCanvases[] = {{"block", 384, 96},  {"step", 512, 32}, {"hgauge", 320, 64},
                                  {"jgauge", 240, 72}, {"goal", 4, 480},  {"title", 512, 224}};

class Painter {
 public:
  Painter(const Image& font, std::string shownDir) : font_(font), shownDir_(std::move(shownDir)) {}

  void RunFile(const SourceFile& f) {
    size_t i = 0;
    std::vector<Command> top = Parse(f, i, 0);
    for (const Command& c : top) Run(f, c, 0, 0);
  }

  std::map<std::string, Image> Finish() {
    for (const Required& r : kCanvases)
      if (!canvases_.count(r.name))
        throw ContentError(shownDir_ + "/draw", 0,
                           std::string("the canvas \"") + r.name + "\" is not drawn");
    CheckGaugeFill("hgauge", 32, 64, 4, 316);
    CheckGaugeFill("jgauge", 24, 72, 4, 236);
    return std::move(canvases_);
  }

 private:
  std::vector<Command> Parse(const SourceFile& f, size_t& i, int openLine) {
    std::vector<Command> out;
    while (i < f.lines.size()) {
      const SourceLine& l = f.lines[i++];
      if (IsBlank(l.text)) continue;
      Command c{SplitWords(l.text), l.number, {}};
      if (c.w[0] == "end") {
        if (openLine == 0) f.Fail(l.number, "\"end\" without \"repeat\"");
        return out;
      }
      if (c.w[0] == "repeat") c.body = Parse(f, i, l.number);
      out.push_back(std::move(c));
    }
    if (openLine != 0) f.Fail(openLine, "\"repeat\" without \"end\"");
    return out;
  }

  // Returns the colour; transparent is the key (0, 0, 0).
  Rgb Colour(const SourceFile& f, int line, const std::string& word) {
    if (word == "clear") return Rgb{};
    auto it = colours_.find(word);
    if (it != colours_.end()) return it->second;
    if (word.size() == 6 && word.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos)
      return ParseColour(f, line, word, false);
    f.Fail(line, "unknown colour \"" + word + "\"");
  }

  int Int(const SourceFile& f, const Command& c, size_t k) {
    if (k >= c.w.size()) f.Fail(c.line, "\"" + c.w[0] + "\" needs more values");
    return int(ParseInteger(f, c.line, c.w[k], -4096, 4096, c.w[0].c_str()));
  }

  void Args(const SourceFile& f, const Command& c, size_t n, const char* form) {
    if (c.w.size() != n) f.Fail(c.line, std::string("expected \"") + form + "\"");
  }

  Image& Canvas(const SourceFile& f, int line) {
    if (current_.empty()) f.Fail(line, "no canvas (\"canvas NAME W H\")");
    return canvases_[current_];
  }

  void Run(const SourceFile& f, const Command& c, int ox, int oy) {
    const std::string& op = c.w[0];
    if (op == "canvas") {
      Args(f, c, 4, "canvas NAME W H");
      const Required* r = std::find_if(std::begin(kCanvases), std::end(kCanvases),
                                       [&](const Required& q) { return c.w[1] == q.name; });
      if (r == std::end(kCanvases))
        f.Fail(c.line,
               "unknown canvas \"" + c.w[1] + "\" (block, step, hgauge, jgauge, goal, title)");
      int w = Int(f, c, 2), h = Int(f, c, 3);
      if (w != r->w || h != r->h)
        f.Fail(c.line, "the game reads \"" + c.w[1] + "\" as " + std::to_string(r->w) + "x" +
                           std::to_string(r->h));
      if (canvases_.count(c.w[1])) f.Fail(c.line, "canvas \"" + c.w[1] + "\" drawn twice");
      canvases_[c.w[1]] = Image(w, h);
      current_ = c.w[1];
      return;
    }
    if (op == "colour") {
      Args(f, c, 3, "colour NAME RRGGBB");
      if (c.w[1] == "clear") f.Fail(c.line, "\"clear\" is the transparent key");
      colours_[c.w[1]] = ParseColour(f, c.line, c.w[2], false);
      return;
    }
    if (op == "repeat") {
      Args(f, c, 4, "repeat N DX DY");
      int n = Int(f, c, 1), dx = Int(f, c, 2), dy = Int(f, c, 3);
      if (n < 0 || n > 1024) f.Fail(c.line, "repeat count 0-1024");
      for (int k = 0; k < n; ++k)
        for (const Command& b : c.body) Run(f, b, ox + k * dx, oy + k * dy);
      return;
    }
    Image& img = Canvas(f, c.line);
    if (op == "fill" || op == "rect") {
      Args(f, c, 6, "fill|rect X Y W H COLOUR");
      int x = Int(f, c, 1) + ox, y = Int(f, c, 2) + oy, w = Int(f, c, 3), h = Int(f, c, 4);
      Rgb col = Colour(f, c.line, c.w[5]);
      for (int yy = y; yy < y + h; ++yy)
        for (int xx = x; xx < x + w; ++xx)
          if (op == "fill" || yy == y || yy == y + h - 1 || xx == x || xx == x + w - 1)
            img.Put(xx, yy, col);
    } else if (op == "hline" || op == "vline") {
      Args(f, c, 5, "hline X Y W COLOUR / vline X Y H COLOUR");
      int x = Int(f, c, 1) + ox, y = Int(f, c, 2) + oy, n = Int(f, c, 3);
      Rgb col = Colour(f, c.line, c.w[4]);
      for (int k = 0; k < n; ++k)
        img.Put(op == "hline" ? x + k : x, op == "hline" ? y : y + k, col);
    } else if (op == "pixel") {
      Args(f, c, 4, "pixel X Y COLOUR");
      img.Put(Int(f, c, 1) + ox, Int(f, c, 2) + oy, Colour(f, c.line, c.w[3]));
    } else if (op == "gradient") {
      Args(f, c, 8, "gradient v|h X Y W H FROM TO");
      bool vertical = c.w[1] == "v";
      if (!vertical && c.w[1] != "h") f.Fail(c.line, "gradient direction is v or h");
      int x = Int(f, c, 2) + ox, y = Int(f, c, 3) + oy, w = Int(f, c, 4), h = Int(f, c, 5);
      Rgb a = Colour(f, c.line, c.w[6]), b = Colour(f, c.line, c.w[7]);
      int span = std::max(1, (vertical ? h : w) - 1);
      for (int yy = 0; yy < h; ++yy)
        for (int xx = 0; xx < w; ++xx) {
          int t = vertical ? yy : xx;
          auto mix = [&](int p, int q) {
            return uint8_t((p * (span - t) + q * t + span / 2) / span);
          };
          Rgb m{mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
          if (m == Rgb{}) m = Rgb{1, 1, 1};
          img.Put(x + xx, y + yy, m);
        }
    } else if (op == "dither") {
      Args(f, c, 7, "dither X Y W H C1 C2");
      int x = Int(f, c, 1) + ox, y = Int(f, c, 2) + oy, w = Int(f, c, 3), h = Int(f, c, 4);
      Rgb a = Colour(f, c.line, c.w[5]), b = Colour(f, c.line, c.w[6]);
      for (int yy = 0; yy < h; ++yy)
        for (int xx = 0; xx < w; ++xx) img.Put(x + xx, y + yy, ((xx + yy) & 1) ? b : a);
    } else if (op == "noise") {
      Args(f, c, 8, "noise X Y W H COLOUR PERCENT SEED");
      int x = Int(f, c, 1) + ox, y = Int(f, c, 2) + oy, w = Int(f, c, 3), h = Int(f, c, 4);
      Rgb col = Colour(f, c.line, c.w[5]);
      int pct = Int(f, c, 6);
      uint32_t s = uint32_t(Int(f, c, 7)) * 2654435761u + 1u;
      for (int yy = 0; yy < h; ++yy)
        for (int xx = 0; xx < w; ++xx) {
          s ^= s << 13;
          s ^= s >> 17;
          s ^= s << 5;
          if (int(s % 100) < pct) img.Put(x + xx, y + yy, col);
        }
    } else if (op == "circle" || op == "ring") {
      Args(f, c, 5, "circle|ring CX CY R COLOUR");
      int cx = Int(f, c, 1) + ox, cy = Int(f, c, 2) + oy, r = Int(f, c, 3);
      Rgb col = Colour(f, c.line, c.w[4]);
      for (int yy = cy - r; yy <= cy + r; ++yy)
        for (int xx = cx - r; xx <= cx + r; ++xx) {
          int d = (xx - cx) * (xx - cx) + (yy - cy) * (yy - cy);
          bool in = d <= r * r + r;
          bool edge = in && d > (r - 1) * (r - 1) + (r - 1);
          if (op == "circle" ? in : edge) img.Put(xx, yy, col);
        }
    } else if (op == "copy") {
      Args(f, c, 7, "copy SX SY W H DX DY");
      int sx = Int(f, c, 1) + ox, sy = Int(f, c, 2) + oy, w = Int(f, c, 3), h = Int(f, c, 4);
      int dx = Int(f, c, 5) + ox, dy = Int(f, c, 6) + oy;
      Image src = img;
      for (int yy = 0; yy < h; ++yy)
        for (int xx = 0; xx < w; ++xx)
          if (src.Inside(sx + xx, sy + yy)) img.Put(dx + xx, dy + yy, src.At(sx + xx, sy + yy));
    } else if (op == "text") {
      Text(f, c, img, ox, oy);
    } else {
      f.Fail(c.line, "unknown command \"" + op + "\"");
    }
  }

  // text X Y SCALE COLOUR "STRING" [gradient TO] [outline COLOUR N] [shadow COLOUR DX DY]
  void Text(const SourceFile& f, const Command& c, Image& img, int ox, int oy) {
    if (c.w.size() < 6)
      f.Fail(c.line, "expected \"text X Y SCALE COLOUR \\\"STRING\\\" [options]\"");
    int x = Int(f, c, 1) + ox, y = Int(f, c, 2) + oy, scale = Int(f, c, 3);
    if (scale < 1 || scale > 32) f.Fail(c.line, "text scale 1-32");
    Rgb col = Colour(f, c.line, c.w[4]);
    std::string s = c.w[5];
    if (s.size() < 2 || s.front() != '"' || s.back() != '"')
      f.Fail(c.line, "the text is written in double quotes");
    s = s.substr(1, s.size() - 2);
    Rgb to = col, outline{}, shadow{};
    int outlineWidth = 0, sdx = 0, sdy = 0;
    bool hasShadow = false;
    for (size_t k = 6; k < c.w.size();) {
      if (c.w[k] == "gradient" && k + 1 < c.w.size()) {
        to = Colour(f, c.line, c.w[k + 1]);
        k += 2;
      } else if (c.w[k] == "outline" && k + 2 < c.w.size()) {
        outline = Colour(f, c.line, c.w[k + 1]);
        outlineWidth = Int(f, c, k + 2);
        k += 3;
      } else if (c.w[k] == "shadow" && k + 3 < c.w.size()) {
        shadow = Colour(f, c.line, c.w[k + 1]);
        sdx = Int(f, c, k + 2);
        sdy = Int(f, c, k + 3);
        hasShadow = true;
        k += 4;
      } else {
        f.Fail(c.line, "unknown text option \"" + c.w[k] +
                           "\" (gradient TO, outline COLOUR N, shadow COLOUR DX DY)");
      }
    }
    int w = int(s.size()) * kGlyphWidth * scale, h = kGlyphHeight * scale;
    std::vector<uint8_t> mask(size_t(w) * size_t(h), 0);
    for (size_t n = 0; n < s.size(); ++n) {
      int g = GlyphIndex(s[n]);
      if (g < 0) f.Fail(c.line, std::string("\"") + s[n] + "\" is not in the font");
      int gx = kGlyphWidth * (g % 10), gy = kGlyphHeight * (g / 10);
      for (int yy = 0; yy < h; ++yy)
        for (int xx = 0; xx < kGlyphWidth * scale; ++xx)
          if (!(font_.At(gx + xx / scale, gy + yy / scale) == Rgb{}))
            mask[size_t(yy) * size_t(w) + size_t(int(n) * kGlyphWidth * scale + xx)] = 1;
    }
    auto on = [&](int xx, int yy) {
      return xx >= 0 && yy >= 0 && xx < w && yy < h && mask[size_t(yy) * size_t(w) + size_t(xx)];
    };
    if (hasShadow)
      for (int yy = 0; yy < h; ++yy)
        for (int xx = 0; xx < w; ++xx)
          if (on(xx, yy)) img.Put(x + xx + sdx, y + yy + sdy, shadow);
    if (outlineWidth > 0)
      for (int yy = -outlineWidth; yy < h + outlineWidth; ++yy)
        for (int xx = -outlineWidth; xx < w + outlineWidth; ++xx) {
          bool near = false;
          for (int dy = -outlineWidth; dy <= outlineWidth && !near; ++dy)
            for (int dx = -outlineWidth; dx <= outlineWidth && !near; ++dx)
              near = on(xx + dx, yy + dy);
          if (near) img.Put(x + xx, y + yy, outline);
        }
    int span = std::max(1, h - 1);
    for (int yy = 0; yy < h; ++yy)
      for (int xx = 0; xx < w; ++xx)
        if (on(xx, yy)) {
          auto mix = [&](int p, int q) {
            return uint8_t((p * (span - yy) + q * yy + span / 2) / span);
          };
          Rgb m{mix(col.r, to.r), mix(col.g, to.g), mix(col.b, to.b)};
          if (m == Rgb{}) m = Rgb{1, 1, 1};
          img.Put(x + xx, y + yy, m);
        }
  }

  // A gauge fill is drawn from its left with a width of value x bar / maximum + 4: its first
  // four columns and those past the bar stay transparent, and every bar column shows.
  void CheckGaugeFill(const char* name, int top, int bottom, int barStart, int barEnd) {
    const Image& img = canvases_[name];
    for (int x = 0; x < img.width; ++x) {
      bool any = false;
      for (int y = top; y < bottom; ++y) any = any || !(img.At(x, y) == Rgb{});
      bool inBar = x >= barStart && x < barEnd;
      if (any && !inBar)
        throw ContentError(
            shownDir_ + "/draw", 0,
            std::string(name) + ": the fills must be transparent in column " + std::to_string(x));
      if (!inBar) continue;
      for (int piece = top; piece < bottom; piece += top) {
        bool shown = false;
        for (int y = piece; y < piece + top; ++y) shown = shown || !(img.At(x, y) == Rgb{});
        if (!shown)
          throw ContentError(
              shownDir_ + "/draw", 0,
              std::string(name) + ": fill column " + std::to_string(x) + " is empty");
      }
    }
  }

  const Image& font_;
  std::string shownDir_;
  std::map<std::string, Rgb> colours_;
  std::map<std::string, Image> canvases_;
  std::string current_;
};

}  // namespace

std::map<std::string, Image> RunDrawScripts(const std::vector<SourceFile>& files,
                                            const std::string& shownDir, const Image& font) {
  Painter p(font, shownDir);
  for (const SourceFile& f : files) p.RunFile(f);
  return p.Finish();
}

std::map<std::string, Image> ReadDrawScripts(const std::string& dir, const std::string& shownDir,
                                             const Image& font) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir + "/draw", ec))
    if (entry.path().extension() == ".drw") names.push_back(entry.path().filename().string());
  if (ec) throw ContentError(shownDir + "/draw", 0, "cannot be read");
  std::sort(names.begin(), names.end());
  std::vector<SourceFile> files;
  for (const std::string& n : names)
    files.push_back(ReadSourceFile(dir + "/draw/" + n, shownDir + "/draw/" + n));
  return RunDrawScripts(files, shownDir, font);
}

}  // namespace mubgen
