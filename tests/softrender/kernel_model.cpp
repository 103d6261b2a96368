// The reference model of the software kernels: one destination pixel at a time, each blend mode
// written from its per-channel description with plain divisions.
#include "tests/softrender/kernel_model.h"

#include <algorithm>
#include <cstring>

namespace model {

int P(int i, int j) { return i * j / 255; }

int S(int i, int k) {
  return i * k / 255;  // truncates toward zero
}

int L(int w, int x, int y) { return (x * w + y * (63 - w)) / 63; }

int BlendWeight(const Settings& s, int byte) {
  int r = s.blendBorderRange;
  int shift = 256 - (s.blendBorderParam * (65536 / (r + 1) + 256)) / 256;
  return std::clamp(byte * 256 / (r + 1) + shift, 0, 255);
}

std::vector<uint8_t> Bytes(const MEMIMG& image) {
  const MEMIMGBody* b = image.body;
  return std::vector<uint8_t>(b->pixels, b->pixels + static_cast<size_t>(b->pitch) * b->height);
}

namespace {

int64_t FloorDiv(int64_t x, int64_t d) {
  int64_t q = x / d;
  return (x % d != 0 && x < 0) ? q - 1 : q;
}

// d moved toward t by the fraction w / 2^n, rounded toward minus infinity.
int Step(int d, int t, int64_t w, int n) {
  return static_cast<int>(d + FloorDiv((t - d) * w, int64_t{1} << n));
}

struct Pixel {
  int c[3];        // blue, green, red (bytes or 5:6:5 fields)
  uint32_t whole;  // the 4 bytes of a 32-bit pixel or entry, or the 5:6:5 value
  int a;
  uint32_t keyValue;
};

struct Context {
  Settings s;
  int type;
  bool palette;
  bool alpha;
  bool blend;
  bool bright;
  bool trans;
  Path path;
  uint32_t key;
  int mode;  // after the entry rules
};

int Max(int type, int i) { return type == 1 ? 255 : (i == 1 ? 63 : 31); }

int Bits(int type, int i) { return type == 1 ? 8 : (i == 1 ? 6 : 5); }

void Split(int type, uint32_t v, int* c) {
  if (type == 1) {
    c[0] = v & 0xFF;
    c[1] = (v >> 8) & 0xFF;
    c[2] = (v >> 16) & 0xFF;
  } else {
    c[0] = v & 31;
    c[1] = (v >> 5) & 63;
    c[2] = (v >> 11) & 31;
  }
}

uint32_t Read(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint32_t{p[i]} << (8 * i);
  return v;
}

void Write(uint8_t* p, int bytes, uint32_t v) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

Pixel ReadSource(const MEMIMG& source, int x, int y) {
  const MEMIMGBody* b = source.body;
  int bytes = b->format->bytesPerPixel;
  const uint8_t* p = source.pixels + y * b->pitch + x * bytes;
  Pixel px{};
  if (b->paletteFlag) {
    px.keyValue = p[0];
    px.whole = Read(b->palette + p[0] * (b->pixelType == 1 ? 4 : 2), b->pixelType == 1 ? 4 : 2);
    px.a = 255;
  } else {
    px.whole = Read(p, b->pixelType == 1 ? 4 : 2);
    px.keyValue = px.whole;
    px.a = b->pixelType == 1 ? p[3] : p[2];
  }
  Split(b->pixelType, px.whole, px.c);
  return px;
}

int DestBytes(int type) { return type == 1 ? 4 : 2; }

void StoreChannels(int type, uint8_t* d, const int* c) {
  if (type == 1) {
    d[0] = static_cast<uint8_t>(c[0]);
    d[1] = static_cast<uint8_t>(c[1]);
    d[2] = static_cast<uint8_t>(c[2]);
  } else {
    Write(d, 2, static_cast<uint32_t>(c[2] << 11 | c[1] << 5 | c[0]));
  }
}

int BrightByte(const Context& x, int i) { return (x.s.bright >> (8 * i)) & 0xFF; }

int Modulate(const Context& x, int v, int i) { return x.bright ? P(BrightByte(x, i), v) : v; }

// Packed add, channel by channel; `bare` drops the OR of the lowest bits. Returns the carry out
// of red.
bool Add(int type, const int* d, const int* v, bool bare, int* out) {
  if (type == 1) {
    int sb = d[0] + v[0];
    bool ob = sb > 255;
    out[0] = std::min(sb, 255);
    int eg = (d[1] & 0xFE) + (v[1] & 0xFE);
    bool og = eg > 255;
    bool lg = bare ? ob : (ob || (d[1] & 1) || (v[1] & 1));
    out[1] = og ? 255 : eg + lg;
    int er = (d[2] & 0xFE) + (v[2] & 0xFE);
    bool orr = er > 255;
    bool lr = bare ? og : (og || (d[2] & 1) || (v[2] & 1));
    out[2] = orr ? 255 : er + lr;
    return orr;
  }
  int sb = d[0] + v[0];
  bool ob = sb > 31;
  out[0] = std::min(sb, 31);
  int eg = (d[1] & 0x3E) + (v[1] & 0x3E);
  bool og = eg > 63;
  bool lg = bare ? ob : (ob || (d[1] & 1) || (v[1] & 1));
  out[1] = og ? 62 + lg : eg + lg;
  int er = (d[2] & 0x1E) + (v[2] & 0x1E);
  bool orr = er > 31;
  bool lr = bare ? og : (og || (d[2] & 1) || (v[2] & 1));
  out[2] = orr ? 31 : er + lr;
  return orr;
}

// Packed subtract, channel by channel. Returns whether red did not go negative.
bool Subtract(int type, const int* d, const int* v, int* out) {
  out[0] = std::max(d[0] - v[0], 0);
  bool okB = v[0] <= d[0];
  int hg = (d[1] >> 1) - (v[1] >> 1);
  bool okG = hg >= 0;
  out[1] = okG ? 2 * hg + (type == 1 && okB ? 1 : 0) : 0;
  int hr = (d[2] >> 1) - (v[2] >> 1);
  bool okR = hr >= 0;
  out[2] = okR ? 2 * hr + (okG ? 1 : 0) : 0;
  return okR;
}

bool KeyPatternLoop(const Context& x) {
  return x.path == Path::PointClipped && !x.blend && !x.bright && x.trans &&
         (x.mode == 0 || (x.mode == 1 && (x.type == 0 || x.s.p == 128)) ||
          ((x.mode == 2 || x.mode == 3) && x.s.p == 255));
}

bool IsKey(const Context& x, const Pixel& px) {
  if (x.type == 1 && !x.palette) return px.keyValue == x.key;
  if (KeyPatternLoop(x)) return px.keyValue == (x.key & (x.palette ? 0xFFu : 0xFFFFu));
  if (x.path == Path::Stretched && x.mode == 0 && !x.blend && !x.bright && !x.palette)
    return px.keyValue == (x.key & 0xFFFF);
  return px.keyValue == x.key;
}

bool PointSpecialLeaf(const Context& x) {
  return x.path == Path::PointClipped && !x.blend && !x.bright && !x.alpha;
}

// The weighted step of modes 1, 10 and 11 toward t.
int Toward(const Context& x, int d, int t, bool alphaOp, int a, int g) {
  int p = x.s.p;
  if (!x.blend && !alphaOp) return x.type == 1 ? Step(d, t, p, 8) : d + S(p, t - d);
  if (!x.blend) return Step(d, t, int64_t{a} * p, 16);
  if (!alphaOp) return Step(d, t, int64_t{g} * p, 16);
  return Step(d, t, int64_t{g} * a * p, 24);
}

int Addend(const Context& x, int s, int i, bool alphaOp, int a, int g) {
  int p = x.s.p;
  if (x.type == 1) {
    int sm = Modulate(x, s, i);
    if (!x.blend && !alphaOp) return P(p, sm);
    if (!x.blend) return static_cast<int>(int64_t{sm} * a * p / 65536);
    if (!alphaOp) return static_cast<int>(int64_t{sm} * g * p / 65536);
    return static_cast<int>(int64_t{sm} * g * a * p / 16777216);
  }
  if (!x.blend && !alphaOp) return P(p, Modulate(x, s, i));
  if (!x.blend) return P(p, Modulate(x, s * a / 256, i));
  if (!alphaOp) return P(p, Modulate(x, s, i) * g / 256);
  return P(p, static_cast<int>(int64_t{Modulate(x, s, i)} * a * g / 65536));
}

void Operate(const Context& x, const Pixel& px, int g, uint8_t* dst, bool alphaOp) {
  int a = px.a;
  int type = x.type;
  int d[3];
  uint32_t D = Read(dst, DestBytes(type));
  Split(type, D, d);
  int out[3];
  switch (x.mode) {
    case 0:
      if (!alphaOp && !x.blend && !x.bright) {
        Write(dst, DestBytes(type), px.whole);
        return;
      }
      for (int i = 0; i < 3; ++i) {
        int s = Modulate(x, px.c[i], i);
        if (!alphaOp && !x.blend)
          out[i] = s;
        else if (!x.blend)
          out[i] = Step(d[i], s, a, 8);
        else if (!alphaOp)
          out[i] = Step(d[i], s, g, 8);
        else
          out[i] = Step(d[i], s, int64_t{g} * a, 16);
      }
      StoreChannels(type, dst, out);
      return;
    case 1:
      if (PointSpecialLeaf(x) && x.s.p == 128) {
        for (int i = 0; i < 3; ++i) out[i] = (px.c[i] >> 1) + (d[i] >> 1);
        StoreChannels(type, dst, out);
        if (type == 1) dst[3] = 0;
        return;
      }
      for (int i = 0; i < 3; ++i) {
        if (PointSpecialLeaf(x) && type == 0)
          out[i] = L(x.s.p / 4, px.c[i], d[i]);
        else
          out[i] = Toward(x, d[i], Modulate(x, px.c[i], i), alphaOp, a, g);
      }
      StoreChannels(type, dst, out);
      return;
    case 2:
    case 3: {
      int v[3];
      bool fast = PointSpecialLeaf(x) && x.s.p == 255;
      for (int i = 0; i < 3; ++i) v[i] = fast ? px.c[i] : Addend(x, px.c[i], i, alphaOp, a, g);
      bool fourth = false;
      if (x.mode == 2)
        fourth = Add(type, d, v, fast, out);
      else
        Subtract(type, d, v, out);
      StoreChannels(type, dst, out);
      if (type == 1) dst[3] = fourth ? 1 : 0;
      return;
    }
    case 4:
      for (int i = 0; i < 3; ++i) {
        uint64_t product = uint64_t(d[i]) * Modulate(x, px.c[i], i);
        int shift = Bits(type, i);
        if (alphaOp) {
          product *= a;
          shift += 8;
        }
        if (x.blend) {
          product *= g;
          shift += 8;
        }
        out[i] = static_cast<int>(product >> shift);
      }
      StoreChannels(type, dst, out);
      return;
    case 10:
      for (int i = 0; i < 3; ++i)
        out[i] = Toward(x, d[i], Modulate(x, Max(type, i) - px.c[i], i), alphaOp, a, g);
      StoreChannels(type, dst, out);
      return;
    default:
      for (int i = 0; i < 3; ++i) {
        if (type == 0 && i == 1 && alphaOp && x.alpha && !x.blend && !x.bright) {
          int64_t dividend =
              (int64_t{d[1]} << 21) + (px.c[1] * d[1] / 2 - 32 * int64_t{d[1]}) * a * x.s.p;
          out[i] = static_cast<int>(FloorDiv(dividend, 1 << 21));
          continue;
        }
        int m = d[i] * Modulate(x, px.c[i], i) >> Bits(type, i);
        out[i] = Toward(x, d[i], m, alphaOp, a, g);
      }
      StoreChannels(type, dst, out);
      return;
  }
}

// One source pixel onto one destination pixel with the skips of transparency.
void DrawOne(const Context& x, const Pixel& px, int g, uint8_t* dst, int runKind) {
  if (x.path == Path::PointRuns) {
    if (runKind == 0) return;
    Operate(x, px, g, dst, x.alpha && runKind == 2);
    return;
  }
  if (!x.alpha) {
    if (x.trans && IsKey(x, px)) return;
    Operate(x, px, g, dst, false);
    return;
  }
  if (x.trans) {
    if (px.a == 0) return;
    Operate(x, px, g, dst, px.a != 255);
    return;
  }
  bool pointCopy = x.mode == 0 && x.path == Path::PointClipped && !x.bright && !x.blend;
  Operate(x, px, g, dst, !pointCopy);
}

int RunKind(const Context& x, const Pixel& px) {
  if (x.alpha) return px.a == 0 ? 0 : px.a == 255 ? 1 : 2;
  return px.keyValue == x.key ? 0 : 1;
}

// Entry rules; false when nothing is drawn.
bool Enter(Context* x) {
  x->mode = x->s.mode;
  if (x->mode == 1 && x->s.p == 255) x->mode = 0;
  if ((x->mode == 1 || x->mode == 2) && x->s.p == 0) return false;
  if (x->mode == 3 && x->s.p == 0 && !x->palette) return false;
  return true;
}

Context MakeContext(const MEMIMG& source, int trans, const MEMIMG* blend, const Settings& s,
                    Path path) {
  Context x{};
  x.s = s;
  x.type = source.body->pixelType;
  x.palette = source.body->paletteFlag == 1;
  x.alpha = !x.palette && source.body->alphaFlag == 1;
  x.blend = blend != nullptr;
  x.bright = (s.bright & 0xFFFFFF) != 0xFFFFFF;
  x.trans = trans != 0;
  x.path = path;
  x.key = source.body->transparentColor;
  return x;
}

int WeightAt(const Context& x, const MEMIMG* blend, int sx, int sy) {
  if (!blend) return 0;
  return BlendWeight(x.s, blend->pixels[sy * blend->body->pitch + sx]);
}

uint8_t* DestPixel(std::vector<uint8_t>& out, const MEMIMG& destination, int x, int y) {
  return out.data() + (destination.pixels - destination.body->pixels) +
         y * destination.body->pitch + x * DestBytes(destination.body->pixelType);
}

// A pair of 16-bit pixels of the add and subtract fast cases.
void DrawPair(const Context& x, const Pixel& p0, const Pixel& p1, uint8_t* d0, uint8_t* d1) {
  int a[3], b[3], left[3], right[3];
  Split(0, Read(d0, 2), a);
  Split(0, Read(d1, 2), b);
  if (x.mode == 2) {
    bool carry = Add(0, a, p0.c, true, left);
    // The right pixel's blue adds its even parts and takes the left pixel's red carry as its
    // lowest bit; its green and red follow the bare add.
    int eb = (b[0] & 0x1E) + (p1.c[0] & 0x1E);
    bool ob = eb > 31;
    right[0] = ob ? 31 : eb + (carry ? 1 : 0);
    int eg = (b[1] & 0x3E) + (p1.c[1] & 0x3E);
    bool og = eg > 63;
    right[1] = og ? 62 + ob : eg + ob;
    int er = (b[2] & 0x1E) + (p1.c[2] & 0x1E);
    right[2] = er > 31 ? 31 : er + og;
  } else {
    bool okR = Subtract(0, a, p0.c, left);
    Subtract(0, b, p1.c, right);
    int hb = (b[0] >> 1) - (p1.c[0] >> 1);
    right[0] = hb >= 0 ? 2 * hb + (okR ? 1 : 0) : 0;
  }
  StoreChannels(0, d0, left);
  StoreChannels(0, d1, right);
}

}  // namespace

std::vector<uint8_t> PointBlit(const MEMIMG& destination, const MEMIMG& source, int x, int y,
                               int trans, const MEMIMG* blend, const Settings& s, bool runs) {
  std::vector<uint8_t> out = Bytes(destination);
  Context c = MakeContext(source, trans, blend, s, runs ? Path::PointRuns : Path::PointClipped);
  if (!Enter(&c)) return out;
  int left = std::max(x, static_cast<int>(s.area.left));
  int top = std::max(y, static_cast<int>(s.area.top));
  int right = std::min(x + source.width, static_cast<int>(s.area.right));
  int bottom = std::min(y + source.height, static_cast<int>(s.area.bottom));
  bool pairs = c.type == 0 && PointSpecialLeaf(c) && (c.mode == 2 || c.mode == 3) && s.p == 255;
  for (int dy = top; dy < bottom; ++dy) {
    for (int dx = left; dx < right; ++dx) {
      Pixel px = ReadSource(source, dx - x, dy - y);
      int g = WeightAt(c, blend, dx - x, dy - y);
      if (pairs && (dx - left) % 2 == 0 && dx + 1 < right) {
        Pixel next = ReadSource(source, dx + 1 - x, dy - y);
        bool both = !c.trans || (!IsKey(c, px) && !IsKey(c, next));
        if (both) {
          DrawPair(c, px, next, DestPixel(out, destination, dx, dy),
                   DestPixel(out, destination, dx + 1, dy));
          ++dx;
          continue;
        }
      }
      DrawOne(c, px, g, DestPixel(out, destination, dx, dy), runs ? RunKind(c, px) : 0);
    }
  }
  return out;
}

std::vector<uint8_t> StretchedBlit(const MEMIMG& destination, const MEMIMG& source,
                                   const int32_t* rect, int trans, const MEMIMG* blend,
                                   const Settings& s) {
  bool mirrorX = rect[2] < rect[0];
  bool mirrorY = rect[3] < rect[1];
  int left = std::min(rect[0], rect[2]), right = std::max(rect[0], rect[2]);
  int top = std::min(rect[1], rect[3]), bottom = std::max(rect[1], rect[3]);
  int w = right - left, h = bottom - top;
  if (w == 0 || h == 0) return Bytes(destination);
  if (w == source.width && h == source.height && !mirrorX && !mirrorY)
    return PointBlit(destination, source, left, top, trans, blend, s, false);
  std::vector<uint8_t> out = Bytes(destination);
  Context c = MakeContext(source, trans, blend, s, Path::Stretched);
  if (!Enter(&c)) return out;
  int64_t ratioX = int64_t{w} * 65536 / source.width;
  int64_t ratioY = int64_t{h} * 65536 / source.height;
  for (int dy = std::max(top, static_cast<int>(s.area.top));
       dy < std::min(bottom, static_cast<int>(s.area.bottom)); ++dy) {
    int sy = static_cast<int>((dy - top) * int64_t{65536} / ratioY);
    if (mirrorY) sy = source.height - 1 - sy;
    for (int dx = std::max(left, static_cast<int>(s.area.left));
         dx < std::min(right, static_cast<int>(s.area.right)); ++dx) {
      int sx = static_cast<int>((dx - left) * int64_t{65536} / ratioX);
      if (mirrorX) sx = source.width - 1 - sx;
      DrawOne(c, ReadSource(source, sx, sy), WeightAt(c, blend, sx, sy),
              DestPixel(out, destination, dx, dy), 0);
    }
  }
  return out;
}

std::vector<uint8_t> TexturedPixels(const MEMIMG& destination, const MEMIMG& source,
                                    const std::vector<bool>& covered, int originX, int originY,
                                    int trans, const MEMIMG* blend, const Settings& s) {
  std::vector<uint8_t> out = Bytes(destination);
  Context c = MakeContext(source, trans, blend, s, Path::Triangle);
  if (!Enter(&c)) return out;
  for (int y = 0; y < destination.height; ++y)
    for (int x = 0; x < destination.width; ++x) {
      int sx = x - originX, sy = y - originY;
      if (!covered[y * destination.width + x] || sx < 0 || sy < 0 || sx >= source.width ||
          sy >= source.height)
        continue;
      DrawOne(c, ReadSource(source, sx, sy), WeightAt(c, blend, sx, sy),
              DestPixel(out, destination, x, y), 0);
    }
  return out;
}

std::vector<uint8_t> Untextured(const MEMIMG& destination, const std::vector<bool>& covered,
                                uint32_t color, const Settings& s) {
  std::vector<uint8_t> out = Bytes(destination);
  Context c{};
  c.s = s;
  c.type = destination.body->pixelType;
  c.path = Path::Triangle;
  if (!Enter(&c)) return out;
  // The colour is modulated by the bright colour in every case, the fourth byte kept.
  Pixel px{};
  if (c.type == 0) color &= 0xFFFF;
  Split(c.type, color, px.c);
  for (int i = 0; i < 3; ++i) px.c[i] = P(static_cast<int>((s.bright >> (8 * i)) & 0xFF), px.c[i]);
  px.whole = c.type == 1 ? ((color & 0xFF000000u) | uint32_t(px.c[2]) << 16 |
                            uint32_t(px.c[1]) << 8 | uint32_t(px.c[0]))
                         : uint32_t(px.c[2] << 11 | px.c[1] << 5 | px.c[0]);
  for (int y = 0; y < destination.height; ++y)
    for (int x = 0; x < destination.width; ++x)
      if (covered[y * destination.width + x])
        Operate(c, px, 0, DestPixel(out, destination, x, y), false);
  return out;
}

std::vector<uint8_t> Fill(const MEMIMG& destination, const int32_t* rect, uint32_t color,
                          const Settings& s) {
  std::vector<uint8_t> out = Bytes(destination);
  int type = destination.body->pixelType;
  int mode = s.mode;
  int p = s.p;
  if (mode == 1 && p == 255) mode = 0;
  if ((mode == 1 || mode == 2 || mode == 3) && p == 0) return out;
  int left = 0, top = 0, right = destination.width, bottom = destination.height;
  if (rect) {
    left = std::min(rect[0], rect[2]);
    right = std::max(rect[0], rect[2]);
    top = std::min(rect[1], rect[3]);
    bottom = std::max(rect[1], rect[3]);
  }
  left = std::max(left, static_cast<int>(s.area.left));
  top = std::max(top, static_cast<int>(s.area.top));
  right = std::min(right, static_cast<int>(s.area.right));
  bottom = std::min(bottom, static_cast<int>(s.area.bottom));
  int c[3];
  if (type == 0) color &= 0xFFFF;
  Split(type, color, c);
  if ((s.bright & 0xFFFFFF) != 0xFFFFFF) {
    for (int i = 0; i < 3; ++i) c[i] = c[i] * static_cast<int>((s.bright >> (8 * i)) & 0xFF) >> 8;
    color =
        type == 1
            ? ((color & 0xFF000000u) | uint32_t(c[2]) << 16 | uint32_t(c[1]) << 8 | uint32_t(c[0]))
            : uint32_t(c[2] << 11 | c[1] << 5 | c[0]);
  }
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) {
      uint8_t* dst = DestPixel(out, destination, x, y);
      int d[3], o[3], k[3];
      Split(type, Read(dst, DestBytes(type)), d);
      for (int i = 0; i < 3; ++i) k[i] = P(p, c[i]);
      switch (mode) {
        case 0: Write(dst, DestBytes(type), color); continue;
        case 1:
          for (int i = 0; i < 3; ++i)
            o[i] = type == 1 ? Step(d[i], c[i], p, 8) : d[i] + S(p, c[i] - d[i]);
          break;
        case 2: {
          bool carry = Add(type, d, k, false, o);
          StoreChannels(type, dst, o);
          if (type == 1) dst[3] = carry;
          continue;
        }
        case 3:
          Subtract(type, d, k, o);
          StoreChannels(type, dst, o);
          if (type == 1) dst[3] = 0;
          continue;
        case 4:
          for (int i = 0; i < 3; ++i) o[i] = d[i] * c[i] >> Bits(type, i);
          break;
        case 10:
          for (int i = 0; i < 3; ++i) {
            int t = Max(type, i) - c[i];
            o[i] = type == 1 ? Step(d[i], t, p, 8) : d[i] + S(p, t - d[i]);
          }
          break;
        default:
          for (int i = 0; i < 3; ++i) {
            int m = d[i] * c[i] >> Bits(type, i);
            o[i] = type == 1 ? Step(d[i], m, p, 8) : d[i] + S(p, m - d[i]);
          }
          break;
      }
      StoreChannels(type, dst, o);
    }
  return out;
}

}  // namespace model
