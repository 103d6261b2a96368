// The span paths' run shading: runs and small rectangles of exactly stepped texels shaded four
// pixels at a time with SSE2 (16-bit texels widened eight at a time), a glyph's edge and text in
// one pass, with every pixel the one the per-pixel path would write.
#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "platform/d3d9/d3d9_internal.h"
#include "platform/d3d9/d3d9_pixels.h"
#include "platform/d3d9/d3d9_span_path.h"

namespace {

SpanBlend ClassifyBlend(const PixelPipeline& p) {
  if (!p.blend) return SpanBlend::None;
  if (p.blendOp != D3DBLENDOP_ADD) return SpanBlend::Other;
  bool alphaSource = p.sourceBlend == D3DBLEND_SRCALPHA;
  if (p.sourceBlend == D3DBLEND_BOTHSRCALPHA ||
      (alphaSource && p.destBlend == D3DBLEND_INVSRCALPHA))
    return SpanBlend::Alpha;
  if (alphaSource && p.destBlend == D3DBLEND_ONE) return SpanBlend::Add;
  return SpanBlend::Other;
}

// The alpha test as a range of alphas.
void SetAlphaRange(const PixelPipeline& p, RunShading* s) {
  int low = 0, high = 255;
  bool inverted = false;
  const int ref = p.alphaRef;
  if (p.alphaTest) {
    switch (p.alphaFunc) {
      case D3DCMP_NEVER: low = 1, high = 0; break;
      case D3DCMP_LESS: high = ref - 1; break;
      case D3DCMP_EQUAL: low = high = ref; break;
      case D3DCMP_LESSEQUAL: high = ref; break;
      case D3DCMP_GREATER: low = ref + 1; break;
      case D3DCMP_NOTEQUAL: low = high = ref, inverted = true; break;
      case D3DCMP_GREATEREQUAL: low = ref; break;
      default: break;
    }
  }
  s->passLow = low;
  s->passHigh = high;
  s->passInverted = inverted;
}

// round(x * m / 255) in each 16-bit lane, x and m at most 255: MultiplyChannel's steps, which
// stay below 2^16.
inline __m128i MultiplyLanes(__m128i x, __m128i m) {
  const __m128i t = _mm_add_epi16(_mm_mullo_epi16(x, m), _mm_set1_epi16(128));
  return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
}

// (v + 127) / 255 in each 16-bit lane for v up to 255 x 255, as (v + 128 + (v + 128) / 256) / 256.
inline __m128i Divide255Lanes(__m128i v) {
  const __m128i t = _mm_add_epi16(v, _mm_set1_epi16(128));
  return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
}

// Each pixel's alpha lane copied to its colour lanes (two pixels of four 16-bit lanes).
inline __m128i SpreadAlpha(__m128i x) {
  return _mm_shufflehi_epi16(_mm_shufflelo_epi16(x, 0xFF), 0xFF);
}

// Two pixels (unpacked to 16-bit lanes) through the colour operation: times the multiplier
// (255 leaves a channel as it is), the alpha lanes then replaced where keepAlpha is 0.
template <bool Multiply>
inline __m128i ColourTwo(__m128i t, __m128i multiplier, __m128i keepAlpha, __m128i diffuseAlpha) {
  if constexpr (Multiply) t = MultiplyLanes(t, multiplier);
  return _mm_or_si128(_mm_and_si128(t, keepAlpha), diffuseAlpha);
}

// Two coloured pixels over their two destination pixels.
template <SpanBlend Blend>
inline __m128i BlendTwo(__m128i c, __m128i d) {
  if constexpr (Blend == SpanBlend::None) {
    return c;
  } else {
    const __m128i a = SpreadAlpha(c);
    const __m128i product = _mm_mullo_epi16(c, a);
    if constexpr (Blend == SpanBlend::Alpha) {
      const __m128i keep = _mm_sub_epi16(_mm_set1_epi16(255), a);
      return Divide255Lanes(_mm_add_epi16(product, _mm_mullo_epi16(d, keep)));
    } else {
      // (x + d * 255 + 127) / 255 is d + (x + 127) / 255; the byte packing saturates the sum.
      return _mm_add_epi16(Divide255Lanes(product), d);
    }
  }
}

// Four pixels at a time in the arithmetic of the scalar loop below, with the run's constants
// worked out once. A second layer (a run drawn over the first in another diffuse colour, in the
// same pipeline) keeps only the constants its colour changes, so that two layers stay in
// registers.
// Simple: the alpha test passes every alpha from a lowest one on (or there is none), a single
// comparison. OwnAlpha: the texels come with the alpha the format gives them (16-bit texels,
// widened), so none is forced.
template <bool Multiply, SpanBlend Blend, bool Simple = false, bool OwnAlpha = false>
class FourPixelShader {
 public:
  [[gnu::always_inline]] FourPixelShader(const RunShading& s, bool modulate,
                                         const RunShading* second = nullptr)
      : forceTexture_(_mm_set1_epi32(static_cast<int>(s.forceTextureAlpha))),
        forceTarget_(_mm_set1_epi32(static_cast<int>(s.forceTargetAlpha))),
        below_(_mm_set1_epi32(s.passLow - 1)),
        above_(_mm_set1_epi32(s.passHigh + 1)),
        inverted_(_mm_set1_epi32(s.passInverted ? -1 : 0)),
        fromDiffuse_(s.alphaSource == 2) {
    const auto lane = [](int v) { return static_cast<short>(v); };
    const short ma = lane(s.alphaSource == 1 ? s.da : 255);
    const short mr = lane(modulate ? s.dr : 255), mg = lane(modulate ? s.dg : 255),
                mb = lane(modulate ? s.db : 255);
    multiplier_ = _mm_setr_epi16(mb, mg, mr, ma, mb, mg, mr, ma);
    keepAlpha_ = fromDiffuse_ ? _mm_setr_epi16(-1, -1, -1, 0, -1, -1, -1, 0) : _mm_set1_epi16(-1);
    SetLayer(s, modulate, &diffuseAlpha_[0], &colourMask_[0]);
    SetLayer(second ? *second : s, modulate, &diffuseAlpha_[1], &colourMask_[1]);
  }

  // Four texels (0xAARRGGBB) shaded over the four destination pixels `old`, in the colour of
  // layer 0 or 1: the pixels to store.
  template <int Layer = 0>
  [[gnu::always_inline]] __m128i Shade(__m128i texels, __m128i old) const {
    const __m128i zero = _mm_setzero_si128();
    const __m128i t =
        _mm_and_si128(OwnAlpha ? texels : _mm_or_si128(texels, forceTexture_), colourMask_[Layer]);
    __m128i cl = zero, ch = zero, coloured = t;
    if (Multiply || fromDiffuse_ || Blend != SpanBlend::None) {
      const __m128i diffuseAlpha = diffuseAlpha_[Layer];
      cl = ColourTwo<Multiply>(_mm_unpacklo_epi8(t, zero), multiplier_, keepAlpha_, diffuseAlpha);
      ch = ColourTwo<Multiply>(_mm_unpackhi_epi8(t, zero), multiplier_, keepAlpha_, diffuseAlpha);
      coloured = _mm_packus_epi16(cl, ch);
    }
    // The alpha test reads the alpha before blending.
    const __m128i alpha = _mm_srli_epi32(coloured, 24);
    const __m128i pass = Simple ? _mm_cmpgt_epi32(alpha, below_)
                                : _mm_xor_si128(_mm_and_si128(_mm_cmpgt_epi32(alpha, below_),
                                                              _mm_cmplt_epi32(alpha, above_)),
                                                inverted_);
    __m128i result = coloured;
    if constexpr (Blend != SpanBlend::None) {
      const __m128i d = _mm_or_si128(old, forceTarget_);
      result = _mm_packus_epi16(BlendTwo<Blend>(cl, _mm_unpacklo_epi8(d, zero)),
                                BlendTwo<Blend>(ch, _mm_unpackhi_epi8(d, zero)));
    }
    result = _mm_or_si128(result, forceTarget_);
    return _mm_or_si128(_mm_and_si128(pass, result), _mm_andnot_si128(pass, old));
  }
  __m128i operator()(__m128i texels, __m128i old) const { return Shade<0>(texels, old); }

 private:
  // Times a black diffuse colour (a text's edge) each colour channel is 0: masked, not
  // multiplied. (A layer that multiplies shares the first layer's multiplier: two layers never
  // multiply.)
  [[gnu::always_inline]] void SetLayer(const RunShading& s, bool modulate, __m128i* diffuseAlpha,
                                       __m128i* colourMask) {
    const short da = static_cast<short>(fromDiffuse_ ? s.da : 0);
    *diffuseAlpha = _mm_setr_epi16(0, 0, 0, da, 0, 0, 0, da);
    const bool black = modulate && (s.dr | s.dg | s.db) == 0;
    *colourMask = _mm_set1_epi32(black ? static_cast<int>(0xFF000000u) : -1);
  }

  __m128i forceTexture_, forceTarget_, below_, above_, inverted_;
  __m128i multiplier_, keepAlpha_, diffuseAlpha_[2], colourMask_[2];
  bool fromDiffuse_;
};

// The first count / 4 * 4 pixels of a run of consecutive texels, four at a time; returns how
// many it drew.
template <bool Multiply, SpanBlend Blend>
std::int64_t ShadeFours(const RunShading& s, bool modulate, const std::uint32_t* texel,
                        std::uint32_t* out, std::int64_t count) {
  const FourPixelShader<Multiply, Blend> shade(s, modulate);
  std::int64_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(texel + i));
    auto* o = reinterpret_cast<__m128i*>(out + i);
    _mm_storeu_si128(o, shade(t, _mm_loadu_si128(o)));
  }
  return i;
}

// Whether the alpha test passes every alpha from a lowest one on (or there is none).
bool SimpleAlphaTest(const RunShading& s) { return !s.passInverted && s.passHigh >= 255; }

// How a run's colour operation treats its texels: a white diffuse colour (a text's usual one)
// multiplies nothing, and a black one is a mask (FourPixelShader applies it), so that each
// channel stays or is 0.
enum class Colouring { AsTheyAre, Black, Multiplies };
inline Colouring RunColouring(const RunShading& s, bool modulate) {
  if (s.alphaSource == 1 && s.da != 255) return Colouring::Multiplies;
  if (!modulate || (s.dr & s.dg & s.db) == 255) return Colouring::AsTheyAre;
  return (s.dr | s.dg | s.db) == 0 ? Colouring::Black : Colouring::Multiplies;
}

bool RunMultiplies(const RunShading& s, bool modulate) {
  return RunColouring(s, modulate) == Colouring::Multiplies;
}

// The run's pixels in the arithmetic of the per-pixel path, specialised on the colour operation
// and the blend so that the loop holds neither a switch nor a division.
template <bool Modulate, SpanBlend Blend>
void ShadeRun(const RunShading& s, const std::uint32_t* texel, std::ptrdiff_t texelStep,
              std::uint32_t* out, std::int64_t count, bool padded) {
  std::int64_t i = 0;
  if (texelStep == 1) {
    const bool multiply = RunMultiplies(s, Modulate);
    i = multiply ? ShadeFours<true, Blend>(s, Modulate, texel, out, count)
                 : ShadeFours<false, Blend>(s, Modulate, texel, out, count);
    texel += i;
    if (padded && i < count) {
      // The last one to three pixels as four, on copies of their destination pixels.
      std::uint32_t last[4] = {};
      const std::size_t bytes = static_cast<std::size_t>(count - i) * 4;
      std::memcpy(last, out + i, bytes);
      if (multiply)
        ShadeFours<true, Blend>(s, Modulate, texel, last, 4);
      else
        ShadeFours<false, Blend>(s, Modulate, texel, last, 4);
      std::memcpy(out + i, last, bytes);
      return;
    }
  }
  for (; i < count; ++i, texel += texelStep) {
    const std::uint32_t t = *texel | s.forceTextureAlpha;
    int r = (t >> 16) & 0xFF, g = (t >> 8) & 0xFF, b = t & 0xFF, a = static_cast<int>(t >> 24);
    if constexpr (Modulate) {
      r = MultiplyChannel(r, s.dr);
      g = MultiplyChannel(g, s.dg);
      b = MultiplyChannel(b, s.db);
    }
    if (s.alphaSource == 1) a = MultiplyChannel(a, s.da);
    if (s.alphaSource == 2) a = s.da;
    if ((a >= s.passLow && a <= s.passHigh) == s.passInverted) continue;
    if constexpr (Blend != SpanBlend::None) {
      const std::uint32_t d = out[i] | s.forceTargetAlpha;
      const int dr = (d >> 16) & 0xFF, dg = (d >> 8) & 0xFF, db = d & 0xFF,
                da = static_cast<int>(d >> 24);
      const int keep = Blend == SpanBlend::Alpha ? 255 - a : 255;
      r = Div255Rounded(r * a + dr * keep);
      g = Div255Rounded(g * a + dg * keep);
      b = Div255Rounded(b * a + db * keep);
      a = Div255Rounded(a * a + da * keep);
    }
    out[i] = (static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(r) << 16 |
              static_cast<std::uint32_t>(g) << 8 | static_cast<std::uint32_t>(b)) |
             s.forceTargetAlpha;
  }
}

ShadeRunFunction PickShadeRun(bool modulate, SpanBlend blend) {
  switch (blend) {
    case SpanBlend::None:
      return modulate ? ShadeRun<true, SpanBlend::None> : ShadeRun<false, SpanBlend::None>;
    case SpanBlend::Alpha:
      return modulate ? ShadeRun<true, SpanBlend::Alpha> : ShadeRun<false, SpanBlend::Alpha>;
    case SpanBlend::Add:
      return modulate ? ShadeRun<true, SpanBlend::Add> : ShadeRun<false, SpanBlend::Add>;
    default: return nullptr;
  }
}

// Eight consecutive 16-bit texels widened as Widen16 widens them, a channel per 16-bit lane:
// the first four pixels in *low, the last four in *high.
template <D3DFORMAT Format>
[[gnu::always_inline]] inline void WidenEightLanes(const std::uint8_t* texel, __m128i* lowPixels,
                                                   __m128i* highPixels) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(texel));
  const auto field = [&v](int mask) {
    return _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(mask)));
  };
  const auto times = [](__m128i x, int m) {
    return _mm_mullo_epi16(x, _mm_set1_epi16(static_cast<short>(m)));
  };
  const auto timesHigh = [](__m128i x, int m) {
    return _mm_mulhi_epu16(x, _mm_set1_epi16(static_cast<short>(m)));
  };
  const __m128i highByte = _mm_set1_epi16(static_cast<short>(0xFF00));
  // Each channel c of n bits to 8 as Widen16 does, by a product whose floor it is: five bits
  // (c << 3 | c >> 2) are floor(33c / 4), six (c << 2 | c >> 4) floor(65c / 16), four c * 17.
  // Each pixel's low lane takes blue and green (<< 8), its high lane red and alpha (<< 8).
  __m128i low, high;
  if constexpr (Format == D3DFMT_R5G6B5) {
    low = _mm_or_si128(_mm_srli_epi16(times(field(0x001F), 33), 2),
                       _mm_slli_epi16(timesHigh(field(0x07E0), 8320), 8));
    high = _mm_or_si128(timesHigh(field(0xF800), 264), highByte);
  } else if constexpr (Format == D3DFMT_A4R4G4B4) {
    const __m128i a = field(0xF000);
    low = _mm_or_si128(times(field(0x000F), 17), times(field(0x00F0), 272));
    high = _mm_or_si128(timesHigh(field(0x0F00), 4352), _mm_or_si128(a, _mm_srli_epi16(a, 4)));
  } else {
    low = _mm_or_si128(_mm_srli_epi16(times(field(0x001F), 33), 2),
                       _mm_and_si128(times(field(0x03E0), 66), highByte));
    const __m128i a =
        Format == D3DFMT_X1R5G5B5 ? highByte : _mm_and_si128(_mm_srai_epi16(v, 15), highByte);
    high = _mm_or_si128(timesHigh(field(0x7C00), 528), a);
  }
  *lowPixels = _mm_unpacklo_epi16(low, high);
  *highPixels = _mm_unpackhi_epi16(low, high);
}

template <D3DFORMAT Format>
inline void WidenEight(const std::uint8_t* texel, std::uint32_t* out) {
  __m128i low, high;
  WidenEightLanes<Format>(texel, &low, &high);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), low);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), high);
}

// 16-bit texels `step` texels apart as 0xAARRGGBB, widened as ReadPixel widens them. Consecutive
// texels go eight at a time, the last eight reaching past `count` (into `out`'s room for eight
// more) while the texture's memory, which ends at `end`, holds them: glyph rows are short.
template <D3DFORMAT Format>
void WidenTexels(const std::uint8_t* texel, std::ptrdiff_t step, std::uint32_t* out,
                 std::int64_t count, const std::uint8_t* end) {
  std::int64_t i = 0;
  if (step == 1)
    for (; i < count && (i + 8 <= count || end - texel >= 16); i += 8, texel += 16)
      WidenEight<Format>(texel, out + i);
  const std::ptrdiff_t bytes = step * 2;
  for (; i < count; ++i, texel += bytes)
    out[i] = Widen16(Format, static_cast<unsigned>(texel[0] | texel[1] << 8));
}

// n pixels copied in registers, up to eight without a loop (the compiler makes a loop a library
// call, which costs more than a glyph's short row): two copies of four or two that overlap.
inline void CopyPixels(const std::uint32_t* from, std::uint32_t* to, int n) {
  const auto four = [](const std::uint32_t* f, std::uint32_t* t) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(t),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(f)));
  };
  const auto two = [](const std::uint32_t* f, std::uint32_t* t) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(t),
                     _mm_loadl_epi64(reinterpret_cast<const __m128i*>(f)));
  };
  if (n > 8) {
    std::memcpy(to, from, static_cast<std::size_t>(n) * 4);
  } else if (n >= 4) {
    four(from, to);
    four(from + n - 4, to + n - 4);
  } else if (n >= 2) {
    two(from, to);
    two(from + n - 2, to + n - 2);
  } else if (n == 1) {
    *to = *from;
  }
}

// The first n of four pixels stored from `out` on, and nothing past them.
[[gnu::always_inline]] inline void StoreFour(__m128i pixels, std::uint32_t* out, int n) {
  if (n >= 4) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), pixels);
  } else if (n == 3) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), pixels);
    out[2] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(pixels, 8)));
  } else if (n == 2) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), pixels);
  } else {
    out[0] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(pixels));
  }
}

// The n destination pixels from `out` on, up to four, with zeros past them: nothing past the
// rectangle's row is read.
[[gnu::always_inline]] inline __m128i LoadFour(const std::uint32_t* out, int n) {
  if (n >= 4) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
  if (n == 1) return _mm_cvtsi32_si128(static_cast<int>(out[0]));
  const __m128i two = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(out));
  return n == 2 ? two : _mm_unpacklo_epi64(two, _mm_cvtsi32_si128(static_cast<int>(out[2])));
}

// Rectangles of consecutive texels (one, or two drawn one over the other) shaded row by row
// where they lie, each row's texels fetched four or eight at a time: the texture's memory holds
// the fetches past each row's last texel (RowFetchesInside), and only the row's own destination
// pixels are read and written. Two layers shade in registers, the second over the first's result.
template <D3DFORMAT Format, bool Multiply, SpanBlend Blend, int Layers, bool Simple>
void ShadeLayeredRows(const RunShading& s, const RunShading& s2, bool modulate,
                      const std::uint8_t* texel, const std::uint8_t* texel2,
                      std::ptrdiff_t rowBytes, std::uint32_t* out, std::ptrdiff_t outPitch,
                      int columns, int rows) {
  const FourPixelShader<Multiply, Blend, Simple, Format != D3DFMT_A8R8G8B8> shade(s, modulate, &s2);
  const auto layers = [&](__m128i t, __m128i t2, __m128i old) {
    const __m128i first = shade.template Shade<0>(t, old);
    if constexpr (Layers == 1) return first;
    return shade.template Shade<1>(t2, first);
  };
  const auto full = [&](__m128i t, __m128i t2, std::uint32_t* o) {
    auto* pixels = reinterpret_cast<__m128i*>(o);
    _mm_storeu_si128(pixels, layers(t, t2, _mm_loadu_si128(pixels)));
  };
  const auto part = [&](__m128i t, __m128i t2, std::uint32_t* o, int n) {
    const __m128i result = layers(t, t2, LoadFour(o, n));
    StoreFour(result, o, n);
  };
  for (int row = 0; row < rows; ++row, texel += rowBytes, texel2 += rowBytes, out += outPitch) {
    int c = 0;
    if constexpr (Format == D3DFMT_A8R8G8B8) {
      const auto* t = reinterpret_cast<const __m128i*>(texel);
      const auto* t2 = reinterpret_cast<const __m128i*>(texel2);
      const auto load = [](const __m128i* at) {
        return Layers == 1 ? _mm_setzero_si128() : _mm_loadu_si128(at);
      };
      for (; c + 4 <= columns; c += 4) full(_mm_loadu_si128(t + c / 4), load(t2 + c / 4), out + c);
      if (c < columns) part(_mm_loadu_si128(t + c / 4), load(t2 + c / 4), out + c, columns - c);
    } else {
      __m128i low, high, low2 = _mm_setzero_si128(), high2 = _mm_setzero_si128();
      const auto widen = [&](int at) {
        WidenEightLanes<Format>(texel + at * 2, &low, &high);
        if constexpr (Layers == 2) WidenEightLanes<Format>(texel2 + at * 2, &low2, &high2);
      };
      for (; c + 8 <= columns; c += 8) {
        widen(c);
        full(low, low2, out + c);
        full(high, high2, out + c + 4);
      }
      if (c < columns) {
        widen(c);
        const int n = columns - c;
        if (n >= 4)
          full(low, low2, out + c);
        else
          part(low, low2, out + c, n);
        if (n > 4) part(high, high2, out + c + 4, n - 4);
      }
    }
  }
}

template <D3DFORMAT Format, bool Multiply, SpanBlend Blend, bool Simple>
void ShadeRectangleRows(const RunShading& s, bool modulate, const std::uint8_t* texel,
                        std::ptrdiff_t rowBytes, std::uint32_t* out, std::ptrdiff_t outPitch,
                        int columns, int rows) {
  ShadeLayeredRows<Format, Multiply, Blend, 1, Simple>(s, s, modulate, texel, texel, rowBytes, out,
                                                       outPitch, columns, rows);
}

template <D3DFORMAT Format, SpanBlend Blend, bool Simple>
void ShadeRectanglePairRows(const RunShading& first, const RunShading& second, bool modulate,
                            const std::uint8_t* firstTexel, const std::uint8_t* secondTexel,
                            std::ptrdiff_t rowBytes, std::uint32_t* out, std::ptrdiff_t outPitch,
                            int columns, int rows) {
  ShadeLayeredRows<Format, false, Blend, 2, Simple>(
      first, second, modulate, firstTexel, secondTexel, rowBytes, out, outPitch, columns, rows);
}

// Glyph pairs on one-bit alpha (A1R5G5B5) with no blending, where the alpha test passes exactly
// the texels whose alpha bit is set: each layer either keeps the pixel or writes its texel (a
// layer that multiplies nothing) or opaque black (a black edge), whose alpha is 255 either way.
// The pass masks come straight from the alpha bits and a black layer is never widened. A row is
// shaded in groups of four, the last ending at the row's end: where it overlaps the one before,
// both work out the same pixels from the same destination pixels, so storing both is exact.
template <bool Black, int Columns>
struct OneBitLayer {
  static constexpr int Eights = Columns > 8 ? 2 : 1;
  // The row's pixels' values, four to a register, and a black layer's pass masks (a widened
  // texel's alpha, 255 or 0, is its own).
  __m128i value[2 * Eights], pass[2 * Eights];
  [[gnu::always_inline]] explicit OneBitLayer(const std::uint8_t* texel) {
    for (int e = 0; e < Eights; ++e) {
      const std::uint8_t* eight = texel + 16 * e;
      if constexpr (Black) {
        const __m128i bits =
            _mm_srai_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(eight)), 15);
        pass[2 * e] = _mm_unpacklo_epi16(bits, bits);
        pass[2 * e + 1] = _mm_unpackhi_epi16(bits, bits);
      } else {
        WidenEightLanes<D3DFMT_A1R5G5B5>(eight, &value[2 * e], &value[2 * e + 1]);
      }
    }
  }
  // Pixels First to First + 3.
  template <int First>
  [[gnu::always_inline]] static __m128i Four(const __m128i* fours) {
    constexpr int At = First / 4, Shift = 4 * (First % 4);
    if constexpr (Shift == 0) return fours[At];
    return _mm_or_si128(_mm_srli_si128(fours[At], Shift),
                        _mm_slli_si128(fours[At + 1], 16 - Shift));
  }
  // Four pixels from First on, this layer over `old`.
  template <int First>
  [[gnu::always_inline]] __m128i Over(__m128i old) const {
    const __m128i black = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i v = Black ? black : Four<First>(value);
    const __m128i p = Black ? Four<First>(pass) : _mm_srai_epi32(v, 31);
    return _mm_or_si128(_mm_and_si128(p, v), _mm_andnot_si128(p, old));
  }
};

// Where a row's groups of four start: every fourth pixel, then the last four (all of a row of
// fewer, which is loaded and stored short).
template <int Columns>
constexpr std::array<int, 5> GroupStarts = [] {
  std::array<int, 5> starts{};
  int n = 0;
  for (int g = 0; g + 4 <= Columns; g += 4) starts[n++] = g;
  if (Columns % 4 != 0 && Columns > 4) starts[n++] = Columns - 4;
  if (Columns < 4) ++n;
  starts[4] = n;
  return starts;
}();

template <bool FirstBlack, bool SecondBlack, int Columns>
void ShadeOneBitPairRows(const std::uint8_t* texel, const std::uint8_t* texel2,
                         std::ptrdiff_t rowBytes, std::uint32_t* out, std::ptrdiff_t outPitch,
                         int rows) {
  constexpr std::array<int, 5> Starts = GroupStarts<Columns>;
  constexpr int Short = Columns < 4 ? Columns : 4;
  for (int row = 0; row < rows; ++row, texel += rowBytes, texel2 += rowBytes, out += outPitch) {
    const OneBitLayer<FirstBlack, Columns> first(texel);
    const OneBitLayer<SecondBlack, Columns> second(texel2);
    // Every group's destination pixels are read before any is written.
    [&]<std::size_t... G>(std::index_sequence<G...>) {
      const __m128i old[] = {LoadFour(out + Starts[G], Short)...};
      (StoreFour(second.template Over<Starts[G]>(first.template Over<Starts[G]>(old[G])),
                 out + Starts[G], Short),
       ...);
    }
    (std::make_index_sequence<Starts[4]>{});
  }
}

using OneBitPairFunction = void (*)(const std::uint8_t*, const std::uint8_t*, std::ptrdiff_t,
                                    std::uint32_t*, std::ptrdiff_t, int);
constexpr int OneBitPairColumns = 16;

template <bool FirstBlack, bool SecondBlack, std::size_t... C>
constexpr std::array<OneBitPairFunction, OneBitPairColumns> OneBitPairsByColumns(
    std::index_sequence<C...>) {
  return {ShadeOneBitPairRows<FirstBlack, SecondBlack, static_cast<int>(C) + 1>...};
}

// By the first layer's blackness, then the second's, then the columns less one.
constexpr std::array<std::array<OneBitPairFunction, OneBitPairColumns>, 4> OneBitPairs = {
    OneBitPairsByColumns<false, false>(std::make_index_sequence<OneBitPairColumns>{}),
    OneBitPairsByColumns<true, false>(std::make_index_sequence<OneBitPairColumns>{}),
    OneBitPairsByColumns<false, true>(std::make_index_sequence<OneBitPairColumns>{}),
    OneBitPairsByColumns<true, true>(std::make_index_sequence<OneBitPairColumns>{})};

template <D3DFORMAT Format, SpanBlend Blend>
void PickRectangleShading(SpanPath* span) {
  span->shadeRectangle[0][0] = ShadeRectangleRows<Format, false, Blend, false>;
  span->shadeRectangle[0][1] = ShadeRectangleRows<Format, true, Blend, false>;
  span->shadeRectangle[1][0] = ShadeRectangleRows<Format, false, Blend, true>;
  span->shadeRectangle[1][1] = ShadeRectangleRows<Format, true, Blend, true>;
  span->shadeRectanglePair[0] = ShadeRectanglePairRows<Format, Blend, false>;
  span->shadeRectanglePair[1] = ShadeRectanglePairRows<Format, Blend, true>;
}

template <SpanBlend Blend>
void PickRectangleShading(D3DFORMAT format, SpanPath* span) {
  switch (format) {
    case D3DFMT_R5G6B5: PickRectangleShading<D3DFMT_R5G6B5, Blend>(span); break;
    case D3DFMT_X1R5G5B5: PickRectangleShading<D3DFMT_X1R5G5B5, Blend>(span); break;
    case D3DFMT_A1R5G5B5: PickRectangleShading<D3DFMT_A1R5G5B5, Blend>(span); break;
    case D3DFMT_A4R4G4B4: PickRectangleShading<D3DFMT_A4R4G4B4, Blend>(span); break;
    // X8R8G8B8 differs only in the alpha the shading forces.
    default: PickRectangleShading<D3DFMT_A8R8G8B8, Blend>(span); break;
  }
}

// Whether each row's fetches (eight 16-bit texels or four 32-bit ones at a time) from `texel` on
// stay inside the texture's memory: those of the row that lies last in memory, the first when
// the rows run upwards (a quad turned upside down).
inline bool RowFetchesInside(const CpuSurface& level, int texelBytes, const std::uint8_t* texel,
                             std::ptrdiff_t rowBytes, int columns, int rows) {
  constexpr std::ptrdiff_t fetch = 16;
  const std::ptrdiff_t lastFetch = (columns - 1) / (fetch / texelBytes) * fetch;
  const std::uint8_t* end = level.Row(0) + level.bits.size();
  return end - (texel + std::max<std::ptrdiff_t>((rows - 1) * rowBytes, 0) + lastFetch) >= fetch;
}

// `rows` rows of `columns` texels each widened one after the other into `out`, which has room
// for eight more: a row's widening past its end is overwritten by the next row's.
template <D3DFORMAT Format>
void WidenRows(const std::uint8_t* texel, std::ptrdiff_t step, std::ptrdiff_t rowBytes,
               std::uint32_t* out, int columns, int rows, const std::uint8_t* end) {
  // A glyph's rows are one widening of eight each, when the texture's memory holds the eight of
  // the first row and of the last.
  const std::uint8_t* lastRow = texel + (rows - 1) * rowBytes;
  if (step == 1 && columns <= 8 && end - texel >= 16 && end - lastRow >= 16) {
    for (int row = 0; row < rows; ++row, texel += rowBytes, out += columns)
      WidenEight<Format>(texel, out);
    return;
  }
  for (int row = 0; row < rows; ++row, texel += rowBytes, out += columns)
    WidenTexels<Format>(texel, step, out, columns, end);
}

}  // namespace

// `count` pixels from the texel at `texel`, `step` texels apart, through the span's shading: a
// 32-bit texture's texels are read where they are, a 16-bit one's widened a piece at a time.
void ShadeTexels(const SpanPath& span, const std::uint8_t* texel, std::ptrdiff_t step,
                 std::uint32_t* out, std::int64_t count) {
  if (span.f.texelBytes == 4) {
    span.shade(span.shading, reinterpret_cast<const std::uint32_t*>(texel), step, out, count,
               false);
    return;
  }
  constexpr std::int64_t Piece = 256;
  std::uint32_t wide[Piece + 8];  // room for the texels widened past the piece's last
  const CpuSurface& level = *span.f.level;
  const std::uint8_t* end = level.Row(0) + level.bits.size();
  while (count > 0) {
    const std::int64_t n = count < Piece ? count : Piece;
    switch (level.format) {
      case D3DFMT_R5G6B5: WidenTexels<D3DFMT_R5G6B5>(texel, step, wide, n, end); break;
      case D3DFMT_X1R5G5B5: WidenTexels<D3DFMT_X1R5G5B5>(texel, step, wide, n, end); break;
      case D3DFMT_A1R5G5B5: WidenTexels<D3DFMT_A1R5G5B5>(texel, step, wide, n, end); break;
      default: WidenTexels<D3DFMT_A4R4G4B4>(texel, step, wide, n, end); break;
    }
    wide[n] = wide[n + 1] = wide[n + 2] = 0;  // set, whatever the widening reached
    span.shade(span.shading, wide, 1, out, n, true);
    texel += n * step * 2;
    out += n;
    count -= n;
  }
}

bool SetUpRunShading(const PixelPipeline& p, SpanPath* span) {
  const FastTexturePath& f = span->f;
  span->blend = ClassifyBlend(p);
  span->shade = PickShadeRun(f.modulateColor, span->blend);
  span->shadeRectangle[0][0] = span->shadeRectangle[0][1] = nullptr;
  span->shadeRectangle[1][0] = span->shadeRectangle[1][1] = nullptr;
  span->shadeRectanglePair[0] = span->shadeRectanglePair[1] = nullptr;
  switch (span->blend) {
    case SpanBlend::None: PickRectangleShading<SpanBlend::None>(f.level->format, span); break;
    case SpanBlend::Alpha: PickRectangleShading<SpanBlend::Alpha>(f.level->format, span); break;
    case SpanBlend::Add: PickRectangleShading<SpanBlend::Add>(f.level->format, span); break;
    default: break;
  }
  RunShading& s = span->shading;
  s.alphaSource = f.alphaSource;
  SetAlphaRange(p, &s);
  s.forceTextureAlpha = f.textureHasAlpha ? 0 : 0xFF000000u;
  s.forceTargetAlpha = f.targetHasAlpha ? 0 : 0xFF000000u;
  // The alpha, the texel's own (0 or 255), passes exactly when its bit is set.
  span->oneBitPairs = f.level->format == D3DFMT_A1R5G5B5 && span->blend == SpanBlend::None &&
                      SimpleAlphaTest(s) && s.passLow >= 1 && s.passLow <= 255 &&
                      s.alphaSource != 2;
  return span->shade != nullptr;
}

void ShadeTexelRectangle(const SpanPath& span, const std::uint8_t* texel, std::ptrdiff_t step,
                         std::ptrdiff_t rowBytes, std::uint32_t* out, std::ptrdiff_t outPitch,
                         int columns, int rows) {
  constexpr int Gathered = 256;
  const int count = columns * rows;
  if (count > Gathered) {
    for (int row = 0; row < rows; ++row, texel += rowBytes, out += outPitch)
      ShadeTexels(span, texel, step, out, columns);
    return;
  }
  // A glyph's few short rows of consecutive texels, shaded where they lie.
  const CpuSurface& level = *span.f.level;
  if (step == 1 && span.shadeRectangle[0][0] &&
      RowFetchesInside(level, span.f.texelBytes, texel, rowBytes, columns, rows)) {
    const bool multiply = RunMultiplies(span.shading, span.f.modulateColor);
    span.shadeRectangle[SimpleAlphaTest(span.shading)][multiply](
        span.shading, span.f.modulateColor, texel, rowBytes, out, outPitch, columns, rows);
    return;
  }
  // Texels stepped or mirrored, or fetches that would pass the texture's end: the texels and
  // destination pixels gathered into one run, shaded in one call and written back.
  std::uint32_t texels[Gathered + 8], pixels[Gathered];
  if (span.f.texelBytes == 4) {
    for (int row = 0, k = 0; row < rows; ++row, texel += rowBytes) {
      const auto* t = reinterpret_cast<const std::uint32_t*>(texel);
      for (int c = 0; c < columns; ++c, ++k) texels[k] = t[c * step];
    }
  } else {
    const std::uint8_t* end = level.Row(0) + level.bits.size();
    switch (level.format) {
      case D3DFMT_R5G6B5:
        WidenRows<D3DFMT_R5G6B5>(texel, step, rowBytes, texels, columns, rows, end);
        break;
      case D3DFMT_X1R5G5B5:
        WidenRows<D3DFMT_X1R5G5B5>(texel, step, rowBytes, texels, columns, rows, end);
        break;
      case D3DFMT_A1R5G5B5:
        WidenRows<D3DFMT_A1R5G5B5>(texel, step, rowBytes, texels, columns, rows, end);
        break;
      default: WidenRows<D3DFMT_A4R4G4B4>(texel, step, rowBytes, texels, columns, rows, end); break;
    }
  }
  texels[count] = texels[count + 1] = texels[count + 2] = 0;
  std::uint32_t* target = out;
  for (int row = 0; row < rows; ++row, target += outPitch)
    CopyPixels(target, pixels + row * columns, columns);
  span.shade(span.shading, texels, 1, pixels, count, true);
  target = out;
  for (int row = 0; row < rows; ++row, target += outPitch)
    CopyPixels(pixels + row * columns, target, columns);
}

namespace {

// A pair whose layers take the general layered pass.
[[gnu::noinline]] bool ShadeLayeredPair(const SpanPath& span, const RunShading& first,
                                        const RunShading& second, const std::uint8_t* firstTexel,
                                        const std::uint8_t* secondTexel, std::ptrdiff_t rowBytes,
                                        std::uint32_t* out, std::ptrdiff_t outPitch, int columns,
                                        int rows) {
  const bool modulate = span.f.modulateColor;
  const CpuSurface& level = *span.f.level;
  if (!span.shadeRectanglePair[0] || RunMultiplies(first, modulate) ||
      RunMultiplies(second, modulate) ||
      !RowFetchesInside(level, span.f.texelBytes, firstTexel, rowBytes, columns, rows) ||
      !RowFetchesInside(level, span.f.texelBytes, secondTexel, rowBytes, columns, rows))
    return false;
  span.shadeRectanglePair[SimpleAlphaTest(first)](first, second, modulate, firstTexel, secondTexel,
                                                  rowBytes, out, outPitch, columns, rows);
  return true;
}

}  // namespace

bool ShadeTexelRectanglePair(const SpanPath& span, const RunShading& first,
                             const RunShading& second, const std::uint8_t* firstTexel,
                             const std::uint8_t* secondTexel, std::ptrdiff_t rowBytes,
                             std::uint32_t* out, std::ptrdiff_t outPitch, int columns, int rows) {
  if (span.oneBitPairs && columns <= OneBitPairColumns) {
    const bool modulate = span.f.modulateColor;
    const CpuSurface& level = *span.f.level;
    const Colouring a = RunColouring(first, modulate), b = RunColouring(second, modulate);
    if (a != Colouring::Multiplies && b != Colouring::Multiplies &&
        RowFetchesInside(level, 2, firstTexel, rowBytes, columns, rows) &&
        RowFetchesInside(level, 2, secondTexel, rowBytes, columns, rows)) {
      OneBitPairs[(a == Colouring::Black) | (b == Colouring::Black) << 1][columns - 1](
          firstTexel, secondTexel, rowBytes, out, outPitch, rows);
      return true;
    }
  }
  return ShadeLayeredPair(span, first, second, firstTexel, secondTexel, rowBytes, out, outPitch,
                          columns, rows);
}
