// The per-pixel operations of the blend modes (0 copy, 1 alpha, 2 add, 3 subtract, 4 multiply,
// 10 invert, 11 multiply blend) for every variant of the image kernels. Every step is the integer
// step the modes define, approximations included: the packed add and subtract, the half-sum and
// the 64-level mix give their exact bytes.
#pragma once

#include <cstdint>

#include "softrender/kernel_frame.h"

namespace blend {

// Channel i: 0 blue, 1 green, 2 red (bytes of a 32-bit pixel, fields of a 5:6:5 pixel).
template <int T>
inline uint32_t Channel(uint32_t color, int i) {
  if constexpr (T == 1)
    return (color >> (8 * i)) & 0xFF;
  else
    return i == 0 ? (color & 31) : i == 1 ? ((color >> 5) & 63) : ((color >> 11) & 31);
}

template <int T>
constexpr uint32_t ChannelMax(int i) {
  return T == 1 ? 255 : (i == 1 ? 63 : 31);
}

// The product shift of modes 4 and 11: 8 for bytes, the field width for 5:6:5.
template <int T>
constexpr int ChannelBits(int i) {
  return T == 1 ? 8 : (i == 1 ? 6 : 5);
}

template <int T>
inline uint32_t LoadDestination(const uint8_t* d) {
  return T == 1 ? Load32(d) : Load16(d);
}

// Stores three channels: bytes 0-2 of a 32-bit pixel (the fourth byte keeps its value), or the
// joined 5:6:5 value.
template <int T>
inline void StoreChannels(uint8_t* d, const uint32_t (&c)[3]) {
  if constexpr (T == 1) {
    d[0] = static_cast<uint8_t>(c[0]);
    d[1] = static_cast<uint8_t>(c[1]);
    d[2] = static_cast<uint8_t>(c[2]);
  } else {
    Store16(d, (c[2] << 11) | (c[1] << 5) | c[0]);
  }
}

template <int T>
inline void StoreWhole(uint8_t* d, uint32_t v) {
  if constexpr (T == 1)
    Store32(d, v);
  else
    Store16(d, v & 0xFFFF);
}

// d + floor((t - d) * w / 2^n); the dividend is never negative.
inline uint32_t WeightedStep(uint32_t d, uint32_t t, uint64_t w, int n) {
  int64_t dividend = (static_cast<int64_t>(d) << n) +
                     (static_cast<int64_t>(t) - static_cast<int64_t>(d)) * static_cast<int64_t>(w);
  return static_cast<uint32_t>(dividend >> n);
}

inline uint32_t SignedStep(const KernelContext& k, uint32_t d, uint32_t t) {
  return static_cast<uint32_t>(static_cast<int32_t>(d) +
                               k.signedRow[static_cast<int32_t>(t) - static_cast<int32_t>(d)]);
}

inline uint32_t PackedAdd32(uint32_t d, uint32_t v) {
  uint32_t t = (d & 0x00FEFEFF) + (v & 0x00FEFEFF);
  uint32_t q = t & 0x01010100;
  uint32_t m = q - (q >> 8);
  return t | m | ((d | v) & 0x00010100);
}

inline uint32_t BareAdd32(uint32_t d, uint32_t v) {
  uint32_t t = (d & 0x00FEFEFF) + (v & 0x00FEFEFF);
  uint32_t q = t & 0x01010100;
  return t | (q - (q >> 8));
}

inline uint32_t PackedAdd565(uint32_t d, uint32_t v) {
  uint32_t t = (d & 0xF7DF) + (v & 0xF7DF);
  uint32_t q = t & 0x10820;
  uint32_t m = q - (q >> 5);
  return (t | m | ((d | v) & 0x0820)) & 0xFFFF;
}

inline uint32_t BareAdd565(uint32_t d, uint32_t v) {
  uint32_t t = (d & 0xF7DF) + (v & 0xF7DF);
  uint32_t q = t & 0x10820;
  return (t | (q - (q >> 5))) & 0xFFFF;
}

// Two neighbouring 5:6:5 pixels added in one 32-bit word (left pixel in the low half).
inline uint32_t PairedAdd565(uint32_t d, uint32_t x) {
  uint64_t t = uint64_t{d & 0xF7DEF7DFu} + (x & 0xF7DEF7DFu);
  uint32_t c = static_cast<uint32_t>(t >> 32);
  uint32_t u = static_cast<uint32_t>(t);
  uint32_t y = u & 0x08210820u;
  uint32_t m = y - ((y >> 5) | (c << 27));
  return u | m;
}

inline uint32_t PackedSub32(uint32_t d, uint32_t v) {
  uint32_t r = (d | 0x01010100u) - (v & 0xFEFEFEFFu);
  uint32_t q = r & 0x01010100u;
  uint32_t m = q - (q >> 8);
  return r & m;
}

inline uint32_t PackedSub565(uint32_t d, uint32_t v) {
  uint32_t r = (d | 0x10820u) - (v & 0xF7DFu);
  uint32_t q = r & 0x10820u;
  uint32_t m = q - (q >> 5);
  return r & m & 0xFFFF;
}

inline uint32_t PairedSub565(uint32_t d, uint32_t x) {
  uint32_t minuend = d | 0x08210820u;
  uint32_t subtrahend = x & 0xF7DEF7DFu;
  uint32_t c = subtrahend > minuend ? 1 : 0;
  uint32_t u = minuend - subtrahend;
  uint32_t y = u & 0x08210820u;
  uint32_t m = (y - (y >> 5)) | (c == 0 ? 0xF8000000u : 0u);
  return u & m;
}

// The source channel modulated by the bright colour.
template <KernelConfig C>
inline uint32_t Modulated(const KernelContext& k, uint32_t s, int i) {
  if constexpr (C.bright)
    return static_cast<uint32_t>(k.brightRow[i][s]);
  else
    return s;
}

// The addend of mode 2 or subtrahend of mode 3 for one channel.
template <KernelConfig C, bool AlphaOp>
inline uint32_t AddendOf(const KernelContext& k, uint32_t s, uint32_t a, uint32_t g, int i) {
  const int32_t* P = k.productRow;
  if constexpr (C.pixelType == 1) {
    uint32_t sm = Modulated<C>(k, s, i);
    uint32_t p = static_cast<uint32_t>(k.p);
    if constexpr (!C.blend && !AlphaOp)
      return static_cast<uint32_t>(P[sm]);
    else if constexpr (!C.blend)
      return (sm * a * p) >> 16;
    else if constexpr (!AlphaOp)
      return (sm * g * p) >> 16;
    else
      return (sm * g * a * p) >> 24;
  } else {
    if constexpr (!C.blend && !AlphaOp) {
      return static_cast<uint32_t>(P[Modulated<C>(k, s, i)]);
    } else if constexpr (!C.blend) {
      // The bright colour enters after the alpha scaling here.
      uint32_t scaled = (s * a) >> 8;
      return static_cast<uint32_t>(P[Modulated<C>(k, scaled, i)]);
    } else if constexpr (!AlphaOp) {
      return static_cast<uint32_t>(P[(Modulated<C>(k, s, i) * g) >> 8]);
    } else {
      return static_cast<uint32_t>(P[(Modulated<C>(k, s, i) * a * g) >> 16]);
    }
  }
}

// Moves d toward the target t with the weighting of modes 1, 10 and 11.
template <KernelConfig C, bool AlphaOp>
inline uint32_t StepToward(const KernelContext& k, uint32_t d, uint32_t t, uint32_t a, uint32_t g) {
  uint64_t p = static_cast<uint64_t>(k.p);
  if constexpr (!C.blend && !AlphaOp) {
    if constexpr (C.pixelType == 1)
      return WeightedStep(d, t, p, 8);
    else
      return SignedStep(k, d, t);
  } else if constexpr (!C.blend) {
    return WeightedStep(d, t, uint64_t{a} * p, 16);
  } else if constexpr (!AlphaOp) {
    return WeightedStep(d, t, uint64_t{g} * p, 16);
  } else {
    return WeightedStep(d, t, uint64_t{g} * a * p, 24);
  }
}

// Applies the mode's operation to one destination pixel: the opaque operation, or with AlphaOp
// the operation that weights by the source alpha a. g is the blend-image weight.
template <KernelConfig C, bool AlphaOp>
inline void Apply(const KernelContext& k, uint8_t* dst, uint32_t color, uint32_t a, uint32_t g) {
  constexpr int T = C.pixelType;
  if constexpr (C.mode == 0) {
    if constexpr (!AlphaOp && !C.blend && !C.bright) {
      StoreWhole<T>(dst, color);
    } else {
      uint32_t D = LoadDestination<T>(dst);
      uint32_t out[3];
      for (int i = 0; i < 3; ++i) {
        uint32_t s = Modulated<C>(k, Channel<T>(color, i), i);
        uint32_t d = Channel<T>(D, i);
        if constexpr (!AlphaOp && !C.blend)
          out[i] = s;
        else if constexpr (!C.blend)
          out[i] = WeightedStep(d, s, a, 8);
        else if constexpr (!AlphaOp)
          out[i] = WeightedStep(d, s, g, 8);
        else
          out[i] = WeightedStep(d, s, uint64_t{g} * a, 16);
      }
      StoreChannels<T>(dst, out);
    }
  } else if constexpr (C.mode == 1) {
    uint32_t D = LoadDestination<T>(dst);
    if constexpr (C.special == kSpecialHalfSum) {
      if constexpr (T == 1)
        Store32(dst, ((D >> 1) & 0x7F7F7F) + ((color >> 1) & 0x7F7F7F));
      else
        Store16(dst, ((D >> 1) & 0x7BEF) + ((color >> 1) & 0x7BEF));
    } else {
      uint32_t out[3];
      for (int i = 0; i < 3; ++i) {
        uint32_t d = Channel<T>(D, i);
        if constexpr (C.special == kSpecialLerp64)
          out[i] = k.lerpBlock[Channel<T>(color, i) * 64 + d];
        else
          out[i] = StepToward<C, AlphaOp>(k, d, Modulated<C>(k, Channel<T>(color, i), i), a, g);
      }
      StoreChannels<T>(dst, out);
    }
  } else if constexpr (C.mode == 2 || C.mode == 3) {
    uint32_t D = LoadDestination<T>(dst);
    uint32_t V;
    if constexpr (C.special == kSpecialFast) {
      V = color;
    } else {
      uint32_t v[3];
      for (int i = 0; i < 3; ++i) v[i] = AddendOf<C, AlphaOp>(k, Channel<T>(color, i), a, g, i);
      V = T == 1 ? (v[0] | (v[1] << 8) | (v[2] << 16)) : ((v[2] << 11) | (v[1] << 5) | v[0]);
    }
    uint32_t result;
    if constexpr (C.mode == 2 && C.special == kSpecialFast)
      result = T == 1 ? BareAdd32(D, V) : BareAdd565(D, V);
    else if constexpr (C.mode == 2)
      result = T == 1 ? PackedAdd32(D, V) : PackedAdd565(D, V);
    else
      result = T == 1 ? PackedSub32(D, V) : PackedSub565(D, V);
    StoreWhole<T>(dst, result);
  } else if constexpr (C.mode == 4) {
    uint32_t D = LoadDestination<T>(dst);
    uint32_t out[3];
    for (int i = 0; i < 3; ++i) {
      uint32_t product = Channel<T>(D, i) * Modulated<C>(k, Channel<T>(color, i), i);
      int shift = ChannelBits<T>(i);
      if constexpr (AlphaOp) {
        product *= a;
        shift += 8;
      }
      if constexpr (C.blend) {
        product *= g;
        shift += 8;
      }
      out[i] = product >> shift;
    }
    StoreChannels<T>(dst, out);
  } else if constexpr (C.mode == 10) {
    uint32_t D = LoadDestination<T>(dst);
    uint32_t out[3];
    for (int i = 0; i < 3; ++i) {
      uint32_t t = Modulated<C>(k, ChannelMax<T>(i) - Channel<T>(color, i), i);
      out[i] = StepToward<C, AlphaOp>(k, Channel<T>(D, i), t, a, g);
    }
    StoreChannels<T>(dst, out);
  } else {
    uint32_t D = LoadDestination<T>(dst);
    uint32_t out[3];
    for (int i = 0; i < 3; ++i) {
      uint32_t d = Channel<T>(D, i);
      uint32_t s = Channel<T>(color, i);
      constexpr bool greenException =
          T == 0 && AlphaOp && C.source == kSourceAlpha && !C.blend && !C.bright;
      if (greenException && i == 1) {
        int64_t x = (s * d) / 2;
        int64_t dividend = (int64_t{d} << 21) + (x - 32 * int64_t{d}) * a * k.p;
        out[i] = static_cast<uint32_t>(dividend >> 21);
      } else {
        uint32_t m = (d * Modulated<C>(k, s, i)) >> ChannelBits<T>(i);
        out[i] = StepToward<C, AlphaOp>(k, d, m, a, g);
      }
    }
    StoreChannels<T>(dst, out);
  }
}

// One source pixel at one destination pixel, with the skips of transparency. runKind is the
// run-length path's run kind (1 opaque, 2 partly transparent); other paths pass 0.
template <KernelConfig C>
inline void DrawPixel(const KernelContext& k, const uint8_t* src, uint8_t* dst,
                      const uint8_t* blendByte, int runKind) {
  SourcePixel px = FetchSource<C>(k, src);
  uint32_t g = 0;
  if constexpr (C.blend) g = MEMIMGBlendGraphTable[*blendByte];
  if constexpr (C.path == kPathPointRuns) {
    if (C.source == kSourceAlpha && runKind == 2)
      Apply<C, true>(k, dst, px.color, px.alpha, g);
    else
      Apply<C, false>(k, dst, px.color, px.alpha, g);
  } else if constexpr (C.source != kSourceAlpha) {
    if constexpr (C.trans) {
      if (IsKeyPixel<C>(k, px.keyValue)) return;
    }
    Apply<C, false>(k, dst, px.color, 0, g);
  } else if constexpr (C.trans) {
    // Alpha 0 is skipped in every mode: it leaves the destination as it was.
    if (px.alpha == 0) return;
    if (px.alpha == 255)
      Apply<C, false>(k, dst, px.color, 255, g);
    else
      Apply<C, true>(k, dst, px.color, px.alpha, g);
  } else if constexpr (C.mode == 0 && C.path == kPathPoint && !C.bright && !C.blend) {
    // The point blit's plain copy writes alpha pixels whole, alpha byte included.
    Apply<C, false>(k, dst, px.color, px.alpha, g);
  } else {
    Apply<C, true>(k, dst, px.color, px.alpha, g);
  }
}

}  // namespace blend
