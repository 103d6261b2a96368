// The vector rows written once over a vector type: V gives the lanes and operations of SSE2 or
// AVX2, and each source file that includes this header builds one table with its own compiler
// options. Everything here has internal linkage, so the two builds never meet.
#pragma once

#include <cstdint>
#include <cstring>

#include "softrender/vector_rows.h"

namespace {

template <class V>
using Vec = typename V::Type;

template <class V>
inline Vec<V> Select(Vec<V> mask, Vec<V> a, Vec<V> b) {
  return V::Or(V::And(mask, a), V::AndNot(mask, b));
}

// Keeps the destination where the source pixel is the key.
template <class V>
inline Vec<V> KeepKeyed(bool keyed, Vec<V> key, Vec<V> s, Vec<V> result, Vec<V> d) {
  return keyed ? Select<V>(V::CmpEq32(s, key), d, result) : result;
}

template <class V>
struct AlphaOp {
  Vec<V> p16, q16, colour, key;
  bool keyed;
  AlphaOp(int p, bool k, uint32_t keyValue)
      : p16(V::Set16(static_cast<short>(p))),
        q16(V::Set16(static_cast<short>(256 - p))),
        colour(V::Set32(0x00FFFFFF)),
        key(V::Set32(keyValue)),
        keyed(k) {}
  // d * (256 - p) + s * p is at most 255 * 256: one 16-bit lane holds it.
  Vec<V> Half(Vec<V> d, Vec<V> s) const {
    return V::Srl16(V::Add16(V::Mul16(d, q16), V::Mul16(s, p16)), 8);
  }
  Vec<V> operator()(Vec<V> d, Vec<V> s) const {
    const Vec<V> zero = V::Zero();
    const Vec<V> mixed = V::Pack16(Half(V::Low8(d, zero), V::Low8(s, zero)),
                                   Half(V::High8(d, zero), V::High8(s, zero)));
    return KeepKeyed<V>(keyed, key, s, Select<V>(colour, mixed, d), d);
  }
};

template <class V>
struct HalfSumOp {
  Vec<V> mask, key;
  bool keyed;
  HalfSumOp(bool k, uint32_t keyValue)
      : mask(V::Set32(0x7F7F7F)), key(V::Set32(keyValue)), keyed(k) {}
  Vec<V> operator()(Vec<V> d, Vec<V> s) const {
    const Vec<V> sum = V::Add32(V::And(V::Srl32(d, 1), mask), V::And(V::Srl32(s, 1), mask));
    return KeepKeyed<V>(keyed, key, s, sum, d);
  }
};

template <class V>
struct AddOp {
  Vec<V> mask, carries, key;
  bool keyed;
  AddOp(bool k, uint32_t keyValue)
      : mask(V::Set32(0x00FEFEFF)),
        carries(V::Set32(0x01010100)),
        key(V::Set32(keyValue)),
        keyed(k) {}
  Vec<V> operator()(Vec<V> d, Vec<V> s) const {
    const Vec<V> t = V::Add32(V::And(d, mask), V::And(s, mask));
    const Vec<V> q = V::And(t, carries);
    return KeepKeyed<V>(keyed, key, s, V::Or(t, V::Sub32(q, V::Srl32(q, 8))), d);
  }
};

// A whole row under op: full vectors, then the rest through a vector of copies.
template <class V, class Op>
void Row(uint8_t* d, const uint8_t* s, int count, const Op& op) {
  constexpr int n = V::kLanes;
  int i = 0;
  for (; i + n <= count; i += n) V::Store(d + 4 * i, op(V::Load(d + 4 * i), V::Load(s + 4 * i)));
  if (i == count) return;
  uint8_t dt[4 * n] = {}, st[4 * n] = {};
  const size_t rest = static_cast<size_t>(count - i) * 4;
  std::memcpy(dt, d + 4 * i, rest);
  std::memcpy(st, s + 4 * i, rest);
  V::Store(dt, op(V::Load(dt), V::Load(st)));
  std::memcpy(d + 4 * i, dt, rest);
}

template <class V>
void AlphaRow(uint8_t* d, const uint8_t* s, int count, int p, bool keyed, uint32_t key) {
  Row<V>(d, s, count, AlphaOp<V>(p, keyed, key));
}

template <class V>
void HalfSumRow(uint8_t* d, const uint8_t* s, int count, bool keyed, uint32_t key) {
  Row<V>(d, s, count, HalfSumOp<V>(keyed, key));
}

template <class V>
void AddRow(uint8_t* d, const uint8_t* s, int count, bool keyed, uint32_t key) {
  Row<V>(d, s, count, AddOp<V>(keyed, key));
}

// Each source vector gives two destination vectors.
template <class V>
void DoubledRow(uint8_t* d, const uint8_t* s, int count, bool keyed, uint32_t key) {
  constexpr int n = V::kLanes;
  const Vec<V> k = V::Set32(key);
  auto put = [&](uint8_t* to, Vec<V> pixels) {
    V::Store(to, keyed ? Select<V>(V::CmpEq32(pixels, k), V::Load(to), pixels) : pixels);
  };
  int i = 0;
  for (; i + 2 * n <= count; i += 2 * n) {
    const Vec<V> x = V::Load(s + 2 * i);
    put(d + 4 * i, V::DoubleLow(x));
    put(d + 4 * (i + n), V::DoubleHigh(x));
  }
  if (i == count) return;
  uint8_t dt[8 * n] = {}, st[4 * n] = {};
  const size_t rest = static_cast<size_t>(count - i) * 4;
  std::memcpy(dt, d + 4 * i, rest);
  std::memcpy(st, s + 2 * i, static_cast<size_t>(count - i + 1) / 2 * 4);
  const Vec<V> x = V::Load(st);
  put(dt, V::DoubleLow(x));
  put(dt + 4 * n, V::DoubleHigh(x));
  std::memcpy(d + 4 * i, dt, rest);
}

template <class V>
constexpr VectorRows MakeVectorRows() {
  return VectorRows{AlphaRow<V>, HalfSumRow<V>, AddRow<V>, DoubledRow<V>};
}

}  // namespace
