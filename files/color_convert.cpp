// The pixel converter: copies a rectangle between two colour formats, trying the exact special
// cases first (palette remap, 8-bit targets, same layout, the keyed copies, the direct
// conversions of the common uploads) and the per-channel general rule last.
#include "files/color_convert.h"

#include <cstring>

namespace {

uint32_t ReadCode(const uint8_t* p, int bytes) {
  switch (bytes) {
    case 1: return p[0];
    case 2: return p[0] | (uint32_t{p[1]} << 8);
    case 3: return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16);
    default: return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
  }
}

void WriteCode(uint8_t* p, int bytes, uint32_t code) {
  p[0] = static_cast<uint8_t>(code);
  if (bytes >= 2) p[1] = static_cast<uint8_t>(code >> 8);
  if (bytes >= 3) p[2] = static_cast<uint8_t>(code >> 16);
  if (bytes >= 4) p[3] = static_cast<uint8_t>(code >> 24);
}

uint32_t PaletteARGB(const ColorFormat& f, int index) {
  const ColorPaletteEntry& e = f.palette[index];
  return (uint32_t{e.alpha} << 24) | (uint32_t{e.red} << 16) | (uint32_t{e.green} << 8) | e.blue;
}

bool HasColorMasks(const ColorFormat& f, uint32_t r, uint32_t g, uint32_t b) {
  return f.redMask == r && f.greenMask == g && f.blueMask == b;
}

bool Is565(const ColorFormat& f) {
  return f.bitDepth == 16 && HasColorMasks(f, 0xF800, 0x7E0, 0x1F);
}
bool Is555(const ColorFormat& f) {
  return f.bitDepth == 16 && HasColorMasks(f, 0x7C00, 0x3E0, 0x1F);
}
bool Is888(const ColorFormat& f, int depth) {
  return f.bitDepth == depth && HasColorMasks(f, 0xFF0000, 0xFF00, 0xFF);
}
bool IsPalette(const ColorFormat& f) { return f.bytesPerPixel == 1; }

uint32_t LowBits(int width) { return width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1u; }

// Where the rectangle is read and written; the target walks right to left when mirroring.
struct ConvertJob {
  uint8_t* target;
  int targetPitch;
  int targetBytes;
  const uint8_t* source;
  int sourcePitch;
  int sourceBytes;
  const uint8_t* alpha;
  int alphaPitch;
  int alphaBytes;
  int targetX;
  int targetY;
  int left;
  int top;
  int width;
  int height;
  bool mirror;
};

// Calls pixel(source, target, alpha, x, y) for every pixel of the rectangle, rows top to bottom.
template <typename F>
void WalkRect(const ConvertJob& job, F&& pixel) {
  intptr_t targetStep = job.mirror ? -job.targetBytes : job.targetBytes;
  for (int y = 0; y < job.height; ++y) {
    const uint8_t* s = job.source + static_cast<intptr_t>(job.top + y) * job.sourcePitch +
                       static_cast<intptr_t>(job.left) * job.sourceBytes;
    int firstColumn = job.mirror ? job.targetX + job.width - 1 : job.targetX;
    uint8_t* t = job.target + static_cast<intptr_t>(job.targetY + y) * job.targetPitch +
                 static_cast<intptr_t>(firstColumn) * job.targetBytes;
    const uint8_t* a = nullptr;
    if (job.alpha)
      a = job.alpha + static_cast<intptr_t>(job.top + y) * job.alphaPitch +
          static_cast<intptr_t>(job.left) * job.alphaBytes;
    for (int x = 0; x < job.width; ++x) {
      pixel(s, t, a, x, y);
      s += job.sourceBytes;
      t += targetStep;
      if (a) a += job.alphaBytes;
    }
  }
}

// A channel value of `width` bits brought to `targetWidth` bits; the bits a narrowing drops are
// returned for dithering. A source channel of width 0 is absent and gives 0.
uint32_t RescaleChannel(uint32_t value, int width, int targetWidth, uint32_t* dropped,
                        int* droppedWidth) {
  *dropped = 0;
  *droppedWidth = 0;
  if (width == 0) return 0;
  if (targetWidth < width) {
    int k = width - targetWidth;
    *dropped = value & LowBits(k);
    *droppedWidth = k;
    return k >= 32 ? 0 : value >> k;
  }
  if (targetWidth > width) {
    int k = targetWidth - width;
    uint64_t v = value;
    uint64_t wide = (v << k) + v * ((uint64_t{1} << k) - 1) / ((uint64_t{1} << width) - 1);
    return static_cast<uint32_t>(wide);
  }
  return value;
}

constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

struct ConvertOptions {
  bool mirror;
  bool colorKey;
  uint32_t keyColor;
  int dither;
  bool colorOff;
  bool alphaFromRed;
  bool skipKey;
  bool alphaFromImage;
};

// Palette remap between two different palettes: each index becomes the nearest target entry.
int RemapPalette(const ConvertJob& job, const ColorFormat& tf, const ColorFormat& sf) {
  uint8_t map[256];
  for (int i = 0; i < 256; ++i) {
    const ColorPaletteEntry& e = sf.palette[i];
    map[i] = static_cast<uint8_t>(ColorFormatCodeFromRGBA(&tf, e.red, e.green, e.blue, 0));
  }
  int largest = 0;
  WalkRect(job, [&](const uint8_t* s, uint8_t* t, const uint8_t*, int, int) {
    t[0] = map[s[0]];
    if (t[0] > largest) largest = t[0];
  });
  return largest;
}

// Deep source into an 8-bit target: the raw channel values choose the target code.
void ConvertDeepToEightBit(const ConvertJob& job, const ColorFormat& tf, const ColorFormat& sf) {
  WalkRect(job, [&](const uint8_t* s, uint8_t* t, const uint8_t*, int, int) {
    uint32_t code = ReadCode(s, job.sourceBytes);
    int r = static_cast<int>((code & sf.redMask) >> sf.redShift);
    int g = static_cast<int>((code & sf.greenMask) >> sf.greenShift);
    int b = static_cast<int>((code & sf.blueMask) >> sf.blueShift);
    int a = static_cast<int>((code & sf.alphaMask) >> sf.alphaShift);
    t[0] = static_cast<uint8_t>(ColorFormatCodeFromRGBA(&tf, r, g, b, a));
  });
}

// A straight copy of codes. The bits outside the channels are set as the other conversions set
// them, so that a copied 32-bit pixel of the key colour equals a key made by
// ColorFormatCodeFromRGBA whatever its source held there.
int CopyCodes(const ConvertJob& job, const ConvertOptions& o, uint32_t noneMask) {
  int bytes = job.sourceBytes;
  uint32_t key = bytes == 3   ? (o.keyColor & 0xFFFFFF)
                 : bytes == 2 ? (o.keyColor & 0xFFFF)
                 : bytes == 1 ? (o.keyColor & 0xFF)
                              : o.keyColor;
  if (bytes != 2 && bytes != 4) noneMask = 0;
  int largest = 0;
  if (!o.skipKey && !job.mirror && bytes != 1 && noneMask == 0) {
    for (int y = 0; y < job.height; ++y) {
      const uint8_t* s = job.source + static_cast<intptr_t>(job.top + y) * job.sourcePitch +
                         static_cast<intptr_t>(job.left) * bytes;
      uint8_t* t = job.target + static_cast<intptr_t>(job.targetY + y) * job.targetPitch +
                   static_cast<intptr_t>(job.targetX) * bytes;
      std::memmove(t, s, static_cast<size_t>(job.width) * bytes);
    }
    return 0;
  }
  WalkRect(job, [&](const uint8_t* s, uint8_t* t, const uint8_t*, int, int) {
    uint32_t code = ReadCode(s, bytes);
    if (o.skipKey && code == key) return;
    WriteCode(t, bytes, code | noneMask);
    if (bytes == 1 && static_cast<int>(code) > largest) largest = static_cast<int>(code);
  });
  return largest;
}

// The direct conversions of the common uploads; returns false when no row of the table fits.
bool ConvertDirect(const ConvertJob& job, const ColorFormat& tf, const ColorFormat& sf,
                   const ConvertOptions& o) {
  bool pal = IsPalette(sf);
  bool s565 = Is565(sf);
  bool s555 = Is555(sf);
  bool s24 = Is888(sf, 24);
  bool s32 = Is888(sf, 32) && sf.alphaMask == 0;
  bool t565 = Is565(tf) && tf.alphaMask == 0;
  bool t555 = Is555(tf) && tf.alphaMask == 0;
  bool t555a = Is555(tf) && tf.alphaMask == 0x8000;
  bool t32 = Is888(tf, 32) && tf.alphaMask == 0;
  bool t32a = Is888(tf, 32) && tf.alphaMask == 0xFF000000u;
  bool t24 = Is888(tf, 24);
  int sb = job.sourceBytes;
  int tb = job.targetBytes;
  auto run = [&](auto convert) {
    WalkRect(job, [&](const uint8_t* s, uint8_t* t, const uint8_t*, int, int) {
      uint32_t code = pal ? PaletteARGB(sf, s[0]) : ReadCode(s, sb);
      WriteCode(t, tb, convert(code));
    });
    return true;
  };
  auto to565 = [](uint32_t e) {
    return ((e >> 8) & 0xF800) | ((e >> 5) & 0x7E0) | ((e >> 3) & 0x1F);
  };
  auto to555 = [](uint32_t e) {
    return ((e >> 9) & 0x7C00) | ((e >> 6) & 0x3E0) | ((e >> 3) & 0x1F);
  };
  auto from565 = [](uint32_t c) {
    return ((c & 0x1F) << 3) | ((c & 0x7E0) << 5) | ((c & 0xF800) << 8);
  };
  auto from565To555 = [](uint32_t c) { return ((c & 0xFFC0) >> 1) | (c & 0x1F); };

  if (!o.colorKey) {
    if ((pal || s24) && t565) return run(to565);
    if ((pal || s24) && t555) return run([&](uint32_t e) { return to555(e) | 0x8000u; });
    if (pal && t32) return run([](uint32_t e) { return e | 0xFF000000u; });
    if (s24 && Is888(tf, 32)) return run([](uint32_t e) { return (e & 0xFFFFFFu) | 0xFF000000u; });
    if (s32 && t565)
      return run(
          [](uint32_t p) { return ((p & 0xF8) >> 3) | ((p & 0xFC00) >> 5) | ((p >> 8) & 0xF800); });
    if (s565 && t24)
      return run([](uint32_t c) {
        return (c & 0x1F) << 3 | ((c & 0x7E0) >> 3) << 8 | ((c >> 8) & 0xF8) << 16;
      });
    // The bits outside the colour channels are set as in every other conversion, so that a
    // 32-bit key made with ColorFormatCodeFromRGBA matches these pixels too.
    if (s565 && t32) return run([&](uint32_t c) { return from565(c) | tf.noneMask; });
    if (s565 && t555) return run(from565To555);
    if (s555 && Is565(tf)) return run([](uint32_t c) { return ((c & 0x7FE0) << 1) | (c & 0x3F); });
    return false;
  }
  uint32_t key = o.keyColor & 0xFFFFFF;
  uint32_t key555 = to555(key);
  if (pal && t555a)
    return run([&](uint32_t e) { return to555(e) | ((e & 0xFFFFFF) == key ? 0u : 0x8000u); });
  if (pal && t32a)
    return run([&](uint32_t e) { return (e & 0xFFFFFF) == key ? e : (e | 0xFF000000u); });
  if (s24 && t555a) return run([&](uint32_t e) { return to555(e) | (e == key ? 0u : 0x8000u); });
  if (s24 && t32a) return run([&](uint32_t e) { return e == key ? e : (e | 0xFF000000u); });
  if (s565 && t555a)
    return run(
        [&](uint32_t c) { return from565To555(c) | (from565To555(c) == key555 ? 0u : 0x8000u); });
  if (s565 && t32a)
    return run(
        [&](uint32_t c) { return from565(c) | (from565To555(c) == key555 ? 0u : 0xFF000000u); });
  return false;
}

struct ChannelConvert {
  uint32_t mask;
  int shift;
  int width;
  uint32_t targetMask;
  int targetShift;
  int targetWidth;
};

void GeneralRule(const ConvertJob& job, const ColorFormat& tf, const ColorFormat& sf,
                 const ColorFormat* af, const ConvertOptions& o) {
  const ChannelConvert channels[3] = {
      {sf.redMask, sf.redShift, sf.redWidth, tf.redMask, tf.redShift, tf.redWidth},
      {sf.greenMask, sf.greenShift, sf.greenWidth, tf.greenMask, tf.greenShift, tf.greenWidth},
      {sf.blueMask, sf.blueShift, sf.blueWidth, tf.blueMask, tf.blueShift, tf.blueWidth},
  };
  bool palette = IsPalette(sf);
  bool sourceAlpha = sf.alphaWidth != 0;
  uint32_t fullAlpha = LowBits(tf.alphaWidth);

  // The skip key as a pixel code of the source; a palette source compares its index.
  uint32_t union4 = sf.redMask | sf.greenMask | sf.blueMask | sf.alphaMask;
  uint32_t skipKey = o.keyColor & LowBits(sf.bitDepth);
  if (sf.bitDepth > 8) skipKey &= union4;

  uint32_t keyRGB[3] = {0, 0, 0};
  if (o.colorKey) {
    int kr = static_cast<int>((o.keyColor >> 16) & 0xFF);
    int kg = static_cast<int>((o.keyColor >> 8) & 0xFF);
    int kb = static_cast<int>(o.keyColor & 0xFF);
    uint32_t keyCode = ColorFormatCodeFromRGBA(&sf, kr, kg, kb, 0);
    if (palette) keyCode = PaletteARGB(sf, static_cast<int>(keyCode));
    for (int c = 0; c < 3; ++c) keyRGB[c] = (keyCode & channels[c].mask) >> channels[c].shift;
  }

  bool ditherOn = o.dither != 0 && (sf.redWidth != tf.redWidth || sf.greenWidth != tf.greenWidth ||
                                    (o.alphaFromImage && af && af->redWidth != tf.alphaWidth));
  uint32_t accumulator[4] = {0, 0, 0, 0};

  auto addDither = [&](uint32_t value, uint32_t dropped, int droppedWidth, int targetWidth,
                       int slot, int x, int y) {
    if (!ditherOn || droppedWidth == 0) return value;
    bool up;
    if (o.dither == 1) {
      uint32_t threshold =
          static_cast<uint32_t>((uint64_t{1} << droppedWidth) * kBayer[y & 3][x & 3] >> 4);
      up = dropped > threshold;
    } else {
      uint32_t droppedMask = LowBits(droppedWidth);
      accumulator[slot] += dropped;
      up = accumulator[slot] > droppedMask;
      accumulator[slot] &= droppedMask;
    }
    // A channel already at its top stays there instead of wrapping to 0.
    if (up && value < LowBits(targetWidth)) ++value;
    return value;
  };

  WalkRect(job, [&](const uint8_t* s, uint8_t* t, const uint8_t* a, int x, int y) {
    uint32_t code = palette ? PaletteARGB(sf, s[0]) : ReadCode(s, job.sourceBytes);
    if (o.skipKey) {
      uint32_t compared = palette ? s[0] : (code & union4);
      if (compared == skipKey) return;
    }
    uint32_t raw[3];
    for (int c = 0; c < 3; ++c) raw[c] = (code & channels[c].mask) >> channels[c].shift;

    uint32_t alpha = 0;
    bool alphaRescaled = false;
    uint32_t alphaSource = 0;
    int alphaSourceWidth = 0;
    if (o.colorKey) {
      bool isKey = raw[0] == keyRGB[0] && raw[1] == keyRGB[1] && raw[2] == keyRGB[2];
      alpha = isKey ? 0 : fullAlpha;
    } else if (o.alphaFromRed) {
      alpha = raw[0];
    } else if (tf.alphaMask == 0) {
      alpha = 0;
    } else if (o.alphaFromImage && af) {
      uint32_t alphaCode = IsPalette(*af) ? PaletteARGB(*af, a[0]) : ReadCode(a, job.alphaBytes);
      alphaSource = (alphaCode & af->redMask) >> af->redShift;
      alphaSourceWidth = af->redWidth;
      alphaRescaled = true;
    } else if (sourceAlpha) {
      alphaSource = (code & sf.alphaMask) >> sf.alphaShift;
      alphaSourceWidth = sf.alphaWidth;
      alphaRescaled = true;
    } else {
      alpha = fullAlpha;
    }
    if (alphaRescaled) {
      uint32_t dropped;
      int droppedWidth;
      alpha = RescaleChannel(alphaSource, alphaSourceWidth, tf.alphaWidth, &dropped, &droppedWidth);
      alpha = addDither(alpha, dropped, droppedWidth, tf.alphaWidth, 3, x, y);
    }

    uint32_t result = (alpha << tf.alphaShift) & tf.alphaMask;
    if (!o.colorOff) {
      for (int c = 0; c < 3; ++c) {
        const ChannelConvert& ch = channels[c];
        uint32_t dropped;
        int droppedWidth;
        uint32_t v = RescaleChannel(raw[c], ch.width, ch.targetWidth, &dropped, &droppedWidth);
        v = addDither(v, dropped, droppedWidth, ch.targetWidth, c, x, y);
        result |= (v << ch.targetShift) & ch.targetMask;
      }
    }
    if (job.targetBytes == 2 || job.targetBytes == 4) result |= tf.noneMask;
    WriteCode(t, job.targetBytes, result);
  });
}

}  // namespace

int ConvertPixelRect(void* targetPixels, int targetPitch, const ColorFormat* targetFormat,
                     const void* sourcePixels, int sourcePitch, const ColorFormat* sourceFormat,
                     const void* alphaPixels, int alphaPitch, const ColorFormat* alphaFormat,
                     int targetX, int targetY, const RECT* sourceRect, int mirror,
                     int colorKeyToAlpha, uint32_t keyColor, int dither, int colorOff,
                     int alphaFromRed, int skipKey, int remapPalette) {
  const ColorFormat& tf = *targetFormat;
  const ColorFormat& sf = *sourceFormat;
  bool targetAlpha = tf.alphaWidth != 0;
  bool sourceAlpha = sf.alphaWidth != 0;
  bool alphaImage = alphaPixels != nullptr && alphaFormat != nullptr;
  bool alphaInUse = targetAlpha && (alphaImage || sourceAlpha);

  ConvertOptions o{};
  o.mirror = mirror != 0;
  o.alphaFromImage = targetAlpha && alphaImage && !sourceAlpha;
  o.colorKey = colorKeyToAlpha != 0 && !alphaInUse && targetAlpha && alphaFromRed == 0;
  o.keyColor = keyColor;
  o.dither = dither;
  o.colorOff = colorOff != 0;
  o.alphaFromRed = alphaFromRed != 0;
  o.skipKey = skipKey != 0 && !o.mirror;

  int width = sourceRect->right - sourceRect->left;
  int height = sourceRect->bottom - sourceRect->top;
  if (width <= 0 || height <= 0) return -1;

  ConvertJob job{};
  job.target = static_cast<uint8_t*>(targetPixels);
  job.targetPitch = targetPitch;
  job.targetBytes = tf.bytesPerPixel;
  job.source = static_cast<const uint8_t*>(sourcePixels);
  job.sourcePitch = sourcePitch;
  job.sourceBytes = sf.bytesPerPixel;
  job.alpha = o.alphaFromImage ? static_cast<const uint8_t*>(alphaPixels) : nullptr;
  job.alphaPitch = alphaPitch;
  job.alphaBytes = alphaFormat ? alphaFormat->bytesPerPixel : 0;
  job.targetX = targetX;
  job.targetY = targetY;
  job.left = sourceRect->left;
  job.top = sourceRect->top;
  job.width = width;
  job.height = height;
  job.mirror = o.mirror;
  if (job.targetBytes < 1 || job.targetBytes > 4 || job.sourceBytes < 1 || job.sourceBytes > 4)
    return -1;

  if (remapPalette && IsPalette(sf) && IsPalette(tf) &&
      std::memcmp(sf.palette, tf.palette, 1024) != 0)
    return RemapPalette(job, tf, sf);

  if (tf.bitDepth == 8) {
    if (!o.alphaFromRed && sf.bitDepth > 8) {
      // Depths other than 16, 24 and 32 have no rule here: refused rather than skipped.
      if (sf.bitDepth != 16 && sf.bitDepth != 24 && sf.bitDepth != 32) return -1;
      ConvertDeepToEightBit(job, tf, sf);
      return 0;
    }
    if (!o.colorOff && !o.alphaFromRed && !o.skipKey) {
      if (sf.bitDepth != 8) return -1;
      return CopyCodes(job, o, 0);
    }
  }

  bool sameLayout = !o.colorKey && !o.alphaFromImage && !o.colorOff && !o.alphaFromRed &&
                    tf.bitDepth == sf.bitDepth && tf.bytesPerPixel == sf.bytesPerPixel &&
                    HasColorMasks(tf, sf.redMask, sf.greenMask, sf.blueMask) &&
                    tf.alphaMask == sf.alphaMask;
  if (sameLayout) return CopyCodes(job, o, tf.noneMask);

  if (o.skipKey) {
    bool keyedCopy = Is888(sf, 32) && sf.alphaMask == 0 && Is888(tf, 32) &&
                     tf.alphaMask == 0xFF000000u && !o.colorKey && !o.colorOff && !o.alphaFromRed &&
                     !alphaInUse;
    if (keyedCopy) {
      uint32_t key = keyColor & 0xFFFFFF;
      WalkRect(job, [&](const uint8_t* s, uint8_t* t, const uint8_t*, int, int) {
        uint32_t code = ReadCode(s, 4) & 0xFFFFFF;
        if (code != key) WriteCode(t, 4, code | 0xFF000000u);
      });
      return 0;
    }
    GeneralRule(job, tf, sf, alphaFormat, o);
    return 0;
  }

  if (o.colorKey && !o.colorOff && tf.bitDepth == sf.bitDepth &&
      tf.bytesPerPixel == sf.bytesPerPixel &&
      HasColorMasks(tf, sf.redMask, sf.greenMask, sf.blueMask)) {
    uint32_t keyCode = ColorFormatCodeFromRGBA(&tf, static_cast<int>((keyColor >> 16) & 0xFF),
                                               static_cast<int>((keyColor >> 8) & 0xFF),
                                               static_cast<int>(keyColor & 0xFF), 255);
    uint32_t outside = ~(sf.redMask | sf.greenMask | sf.blueMask);
    int bytes = job.sourceBytes;
    WalkRect(job, [&](const uint8_t* s, uint8_t* t, const uint8_t*, int, int) {
      uint32_t code = ReadCode(s, bytes);
      if (sf.bitDepth == 32) code |= outside;
      code = code == keyCode ? (code & ~tf.alphaMask) : (code | tf.alphaMask);
      WriteCode(t, bytes, code);
    });
    return 0;
  }

  if (o.dither == 0 && !o.colorOff && !o.alphaFromRed && !o.mirror && !alphaImage &&
      ConvertDirect(job, tf, sf, o))
    return 0;

  GeneralRule(job, tf, sf, alphaFormat, o);
  return 0;
}
