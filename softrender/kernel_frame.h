// What the software kernels share: the compile-time description of one pixel loop (pixel type,
// source kind, blend mode, the four variant axes, the kernel path and the parameter sub-case),
// the values prepared once per call, the source fetch and key test, and the dispatch that turns
// the call's runtime choices into exactly one instantiated loop.
#pragma once

#include <cstdint>
#include <type_traits>

#include "files/memimg.h"
#include "softrender/software_kernels.h"
#include "system/math.h"

enum KernelPath : int {
  kPathPoint = 0,      // point blit, clipped path
  kPathPointRuns = 1,  // point blit, run-length path
  kPathStretched = 2,
  kPathTriangle = 3,
};

enum SourceKind : int {
  kSourcePalette = 0,
  kSourceDirect = 1,  // direct pixels without alpha channel
  kSourceAlpha = 2,   // direct pixels with alpha channel
};

// Parameter sub-cases of the point blit's leaves without blend image, bright or source alpha.
enum KernelSpecial : int {
  kSpecialNone = 0,
  kSpecialHalfSum = 1,  // mode 1, p = 128
  kSpecialLerp64 = 2,   // mode 1, 16-bit, other p
  kSpecialFast = 3,     // modes 2 and 3, p = 255
};

struct KernelConfig {
  int pixelType;  // 0: 16-bit 5:6:5, 1: 32-bit
  int source;     // SourceKind
  int mode;       // 0, 1, 2, 3, 4, 10, 11
  bool blend;     // a blend image is given
  bool bright;    // the draw brightness modulates the source
  bool trans;     // transparency flag on
  int path;       // KernelPath
  int special;    // KernelSpecial
};

// Values chosen once per call.
struct KernelContext {
  const int32_t* productRow;    // P(p, .)
  const int32_t* signedRow;     // S(p, .), centred on 0
  const int32_t* brightRow[3];  // P(b, .) for the blue, green and red bright bytes
  const uint8_t* lerpBlock;     // L(p / 4, x, y) at [x * 64 + y]
  const uint8_t* palette;       // source palette entries (4 or 2 bytes each)
  uint32_t key;                 // source transparent colour
  int p;                        // blend parameter, 0-255
};

inline bool IsBrightOn(uint32_t bright) { return (bright & 0xFFFFFF) != 0xFFFFFF; }

// Reads the blend settings once; the source may be null (fill, untextured triangle).
inline KernelContext MakeKernelContext(const KernelDrawSettings* settings, const MEMIMG* source) {
  KernelContext k{};
  int p = settings->blendParam < 0 ? 0 : settings->blendParam > 255 ? 255 : settings->blendParam;
  k.p = p;
  k.productRow = MEMIMGProductTable[p];
  k.signedRow = MEMIMGSignedProductRow(p);
  uint32_t bright = settings->brightness;
  k.brightRow[0] = MEMIMGProductTable[bright & 0xFF];
  k.brightRow[1] = MEMIMGProductTable[(bright >> 8) & 0xFF];
  k.brightRow[2] = MEMIMGProductTable[(bright >> 16) & 0xFF];
  k.lerpBlock = &MEMIMGLerp64Table[p >> 2][0][0];
  if (source) {
    k.palette = source->body->palette;
    k.key = source->body->transparentColor;
  }
  return k;
}

inline uint32_t Load16(const uint8_t* p) { return p[0] | (uint32_t{p[1]} << 8); }

inline uint32_t Load32(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

inline void Store16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void Store32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// One source pixel: its colour value (5:6:5 or the 4 bytes of a 32-bit pixel or entry), its alpha
// and the value that the key test compares (the index for a palette source).
struct SourcePixel {
  uint32_t color;
  uint32_t alpha;
  uint32_t keyValue;
};

template <KernelConfig C>
inline SourcePixel FetchSource(const KernelContext& k, const uint8_t* s) {
  SourcePixel px{0, 255, 0};
  if constexpr (C.source == kSourcePalette) {
    px.keyValue = s[0];
    px.color = C.pixelType == 1 ? Load32(k.palette + 4 * s[0]) : Load16(k.palette + 2 * s[0]);
  } else if constexpr (C.pixelType == 1) {
    px.color = Load32(s);
    px.keyValue = px.color;
    px.alpha = s[3];
  } else {
    px.color = Load16(s);
    px.keyValue = px.color;
    // Only 16-bit images with alpha carry a third byte per pixel.
    if constexpr (C.source == kSourceAlpha) px.alpha = s[2];
  }
  return px;
}

// How much of the key a loop compares (sources without alpha, transparency on).
enum KeyCompare : int {
  kKeyWhole = 0,           // the zero-extended value against the whole key
  kKeyLowBits = 1,         // the key pattern loops: the index against the key's low byte, a
                           // 16-bit pixel against its low 16 bits
  kKeyStretchedLow16 = 2,  // the stretched copy loops: a 16-bit pixel against the low 16 bits
};

constexpr KeyCompare KeyCompareOf(KernelConfig c) {
  if (c.source == kSourceAlpha || !c.trans || c.blend || c.bright) return kKeyWhole;
  if (c.path == kPathPoint &&
      (c.mode == 0 || (c.mode == 1 && (c.pixelType == 0 || c.special == kSpecialHalfSum)) ||
       c.special == kSpecialFast))
    return kKeyLowBits;
  if (c.path == kPathStretched && c.mode == 0) return kKeyStretchedLow16;
  return kKeyWhole;
}

template <KernelConfig C>
inline bool IsKeyPixel(const KernelContext& k, uint32_t keyValue) {
  constexpr KeyCompare compare = KeyCompareOf(C);
  if constexpr (compare == kKeyLowBits && C.source == kSourcePalette)
    return keyValue == (k.key & 0xFF);
  else if constexpr (compare != kKeyWhole && C.source == kSourceDirect && C.pixelType == 0)
    return keyValue == (k.key & 0xFFFF);
  else
    return keyValue == k.key;
}

// Calls f with std::integral_constant<int, V> for the V in Vs equal to value (nothing otherwise).
template <int... Vs, class F>
inline void WithInt(int value, F&& f) {
  ((value == Vs ? (f(std::integral_constant<int, Vs>{}), true) : false) || ...);
}

template <class F>
inline void WithBool(bool value, F&& f) {
  if (value)
    f(std::true_type{});
  else
    f(std::false_type{});
}

// The runtime choices of one call.
struct KernelSelection {
  int pixelType;
  int source;
  int mode;
  bool blend;
  bool bright;
  bool trans;
  int special;
};

constexpr bool HasSpecials(KernelConfig c) {
  return c.path == kPathPoint && !c.blend && !c.bright && c.source != kSourceAlpha &&
         (c.mode == 1 || c.mode == 2 || c.mode == 3);
}

constexpr bool IsValidSpecial(KernelConfig c) {
  switch (c.special) {
    case kSpecialNone: return true;
    case kSpecialHalfSum: return c.mode == 1;
    case kSpecialLerp64: return c.mode == 1 && c.pixelType == 0;
    default: return c.mode == 2 || c.mode == 3;
  }
}

// Picks the variant axes (blend image, brightness, transparency, parameter sub-case) under a fixed
// pixel type, source kind and blend mode.
template <int Path, int PixelType, int Source, int Mode, class Run>
inline void DispatchKernelVariants(const KernelSelection& s, Run& run) {
  WithBool(s.blend, [&](auto blend) {
    WithBool(s.bright, [&](auto bright) {
      WithBool(Path == kPathPointRuns || s.trans, [&](auto trans) {
        constexpr KernelConfig base{PixelType,    Source,      Mode, blend.value,
                                    bright.value, trans.value, Path, kSpecialNone};
        if constexpr (Path == kPathPointRuns && !trans.value) {
          return;
        } else if constexpr (HasSpecials(base)) {
          WithInt<0, 1, 2, 3>(s.special, [&](auto special) {
            constexpr KernelConfig c{PixelType,    Source,      Mode, blend.value,
                                     bright.value, trans.value, Path, special.value};
            if constexpr (IsValidSpecial(c)) run.template operator()<c>();
          });
        } else {
          run.template operator()<base>();
        }
      });
    });
  });
}

// Runs run.template operator()<C>() for the one configuration that the selection names.
template <int Path, class Run>
inline void DispatchImageKernel(const KernelSelection& s, Run&& run) {
  WithInt<0, 1>(s.pixelType, [&](auto t) {
    WithInt<0, 1, 2>(s.source, [&](auto src) {
      WithInt<0, 1, 2, 3, 4, 10, 11>(s.mode, [&](auto mode) {
        DispatchKernelVariants<Path, t.value, src.value, mode.value>(s, run);
      });
    });
  });
}

// The blend image must cover the source it is read with.
inline bool BlendImageCovers(const MEMIMG* blendImage, const MEMIMG* source) {
  return blendImage == nullptr ||
         (IsMEMIMGValid(blendImage) && blendImage->width >= source->width &&
          blendImage->height >= source->height);
}

inline bool IsDrawingMode(int mode) { return (mode >= 0 && mode <= 4) || mode == 10 || mode == 11; }

// The source kind of an image: palette, direct, or direct with alpha channel.
inline int SourceKindOf(const MEMIMG* source) {
  if (source->body->paletteFlag == 1) return kSourcePalette;
  return source->body->alphaFlag == 1 ? kSourceAlpha : kSourceDirect;
}

// The checks every kernel call makes before it draws: settings given, valid images of one pixel
// type that the kernels draw, a destination without palette or alpha channel, a drawing mode,
// and a blend image that covers the source. The source is null for fills and untextured
// triangles.
inline bool AcceptsKernelCall(const MEMIMG* destination, const MEMIMG* source,
                              const MEMIMG* blendImage, const KernelDrawSettings* settings) {
  if (!settings || !IsMEMIMGValid(destination) || (source && !IsMEMIMGValid(source))) return false;
  const MEMIMGBody* db = destination->body;
  if (source && source->body->pixelType != db->pixelType) return false;
  if (db->paletteFlag == 1 || db->alphaFlag == 1) return false;
  if (db->pixelType != MEMIMG_PIXEL_RGB565 && db->pixelType != MEMIMG_PIXEL_XRGB8) return false;
  if (!IsDrawingMode(settings->blendMode)) return false;
  return !source || BlendImageCovers(blendImage, source);
}

// The call's context and kernel choice (no parameter sub-case yet). A full-strength alpha blend
// is a copy; false when the blend parameter leaves the destination as it is.
inline bool PrepareKernelCall(const MEMIMG* destination, const MEMIMG* source,
                              const MEMIMG* blendImage, int transparencyFlag,
                              const KernelDrawSettings* settings, KernelContext* k,
                              KernelSelection* s) {
  *k = MakeKernelContext(settings, source);
  KernelSelection c{};
  c.pixelType = destination->body->pixelType;
  c.source = source ? SourceKindOf(source) : kSourceDirect;
  c.mode = settings->blendMode;
  if (c.mode == 1 && k->p == 255) c.mode = 0;
  if ((c.mode == 1 || c.mode == 2) && k->p == 0) return false;
  if (c.mode == 3 && k->p == 0 && c.source != kSourcePalette) return false;
  c.blend = blendImage != nullptr;
  c.bright = IsBrightOn(settings->brightness);
  c.trans = transparencyFlag != 0;
  c.special = kSpecialNone;
  *s = c;
  return true;
}

// Cuts r to the draw area; false when nothing of it is left.
inline bool ClipToDrawArea(RECT* r, const KernelDrawSettings* settings) {
  ClipRectToRect(r, &settings->drawArea);
  return r->right > r->left && r->bottom > r->top;
}
