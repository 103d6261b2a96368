// The vector rows on SSE2, which every x86-64 processor has: four pixels at a time.
#include <emmintrin.h>

#include "softrender/vector_rows_body.h"

namespace {

struct Sse2 {
  using Type = __m128i;
  static constexpr int kLanes = 4;
  static Type Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const Type*>(p)); }
  static void Store(uint8_t* p, Type v) { _mm_storeu_si128(reinterpret_cast<Type*>(p), v); }
  static Type Zero() { return _mm_setzero_si128(); }
  static Type Set32(uint32_t v) { return _mm_set1_epi32(static_cast<int>(v)); }
  static Type Set16(short v) { return _mm_set1_epi16(v); }
  static Type And(Type a, Type b) { return _mm_and_si128(a, b); }
  static Type Or(Type a, Type b) { return _mm_or_si128(a, b); }
  static Type AndNot(Type mask, Type b) { return _mm_andnot_si128(mask, b); }
  static Type Add32(Type a, Type b) { return _mm_add_epi32(a, b); }
  static Type Sub32(Type a, Type b) { return _mm_sub_epi32(a, b); }
  static Type Srl32(Type a, int n) { return _mm_srli_epi32(a, n); }
  static Type CmpEq32(Type a, Type b) { return _mm_cmpeq_epi32(a, b); }
  static Type Add16(Type a, Type b) { return _mm_add_epi16(a, b); }
  static Type Mul16(Type a, Type b) { return _mm_mullo_epi16(a, b); }
  static Type Srl16(Type a, int n) { return _mm_srli_epi16(a, n); }
  static Type Low8(Type a, Type zero) { return _mm_unpacklo_epi8(a, zero); }
  static Type High8(Type a, Type zero) { return _mm_unpackhi_epi8(a, zero); }
  static Type Pack16(Type a, Type b) { return _mm_packus_epi16(a, b); }
  static Type DoubleLow(Type a) { return _mm_unpacklo_epi32(a, a); }
  static Type DoubleHigh(Type a) { return _mm_unpackhi_epi32(a, a); }
};

}  // namespace

const VectorRows kVectorRowsSse2 = MakeVectorRows<Sse2>();
