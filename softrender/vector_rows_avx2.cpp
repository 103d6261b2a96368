// The vector rows on AVX2: eight pixels at a time. This file alone is built for AVX2, and its
// table is used only where the processor reports AVX2.
#include <immintrin.h>

#include "softrender/vector_rows_body.h"

namespace {

struct Avx2 {
  using Type = __m256i;
  static constexpr int kLanes = 8;
  static Type Load(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const Type*>(p));
  }
  static void Store(uint8_t* p, Type v) { _mm256_storeu_si256(reinterpret_cast<Type*>(p), v); }
  static Type Zero() { return _mm256_setzero_si256(); }
  static Type Set32(uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
  static Type Set16(short v) { return _mm256_set1_epi16(v); }
  static Type And(Type a, Type b) { return _mm256_and_si256(a, b); }
  static Type Or(Type a, Type b) { return _mm256_or_si256(a, b); }
  static Type AndNot(Type mask, Type b) { return _mm256_andnot_si256(mask, b); }
  static Type Add32(Type a, Type b) { return _mm256_add_epi32(a, b); }
  static Type Sub32(Type a, Type b) { return _mm256_sub_epi32(a, b); }
  static Type Srl32(Type a, int n) { return _mm256_srli_epi32(a, n); }
  static Type CmpEq32(Type a, Type b) { return _mm256_cmpeq_epi32(a, b); }
  static Type Add16(Type a, Type b) { return _mm256_add_epi16(a, b); }
  static Type Mul16(Type a, Type b) { return _mm256_mullo_epi16(a, b); }
  static Type Srl16(Type a, int n) { return _mm256_srli_epi16(a, n); }
  // Unpacking and packing both work within 128-bit halves, so they undo each other.
  static Type Low8(Type a, Type zero) { return _mm256_unpacklo_epi8(a, zero); }
  static Type High8(Type a, Type zero) { return _mm256_unpackhi_epi8(a, zero); }
  static Type Pack16(Type a, Type b) { return _mm256_packus_epi16(a, b); }
  static Type DoubleLow(Type a) {
    return _mm256_permutevar8x32_epi32(a, _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3));
  }
  static Type DoubleHigh(Type a) {
    return _mm256_permutevar8x32_epi32(a, _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7));
  }
};

}  // namespace

const VectorRows kVectorRowsAvx2 = MakeVectorRows<Avx2>();
