// The 128-bit folding machinery shared by the x86 CRC kernels.
//
// Four 16-byte accumulators run 64 bytes ahead of each other; each step multiplies an accumulator
// by x^(8*64) mod P (split over its two 64-bit halves) and adds the next 64 bytes. The accumulators
// are then folded into one, the last partial chunk is merged in with byte shuffles, and a Barrett
// reduction turns the 128-bit value into the CRC register. Inputs under 16 bytes use slicing.
// Each kernel file includes it and
// compiles it with its own instruction set, so the 512-bit kernel's short-input path gets the
// VEX-encoded forms. Everything here has internal linkage.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "kest/util/crc_internal.h"

namespace kest::detail {
namespace {

inline __m128i Constants(FoldConstants k) {
  return _mm_set_epi64x(static_cast<long long>(k.hi), static_cast<long long>(k.lo));
}

inline __m128i Fold(__m128i acc, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(acc, k, 0x00), _mm_clmulepi64_si128(acc, k, 0x11));
}

// Loads 16 message bytes so that bit i of the register is the coefficient of x^i (MSB-first data
// needs its bytes reversed) or of x^(127-i) (reflected data, as loaded).
struct Msb {
  static __m128i Reverse() {
    return _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  }
  static __m128i Load(const uint8_t* p) {
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), Reverse());
  }
  // Register byte j holds message byte 15-j, so the message-order windows are mirrored.
  static size_t Window(size_t t) { return 16 - t; }
  static const uint8_t* FrontTable();
  static const uint8_t* BackTable();
};

struct Reflected {
  static __m128i Load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  static size_t Window(size_t t) { return t; }
  static const uint8_t* FrontTable();
  static const uint8_t* BackTable();
};

struct FoldSet {
  FoldConstants by16, by32, by48, by64;
};

constexpr FoldSet kCrc64Folds{Crc64Fold(16), Crc64Fold(32), Crc64Fold(48), Crc64Fold(64)};
constexpr FoldSet kCrc32Folds{Crc32Fold(16), Crc32Fold(32), Crc32Fold(48), Crc32Fold(64)};

// pshufb windows: 16 bytes loaded at offset k of kShiftDown move every byte k places towards
// byte 0 and zero-fill the top; at offset k of kShiftUp they move bytes 16-k places towards byte 15
// and zero-fill the bottom. Their 0x80 entries double as blendv selectors.
alignas(32) constexpr uint8_t kShiftDown[32] = {
    0,    1,    2,    3,    4,    5,    6,    7,    8,    9,    10,   11,   12,   13,   14,   15,
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
alignas(32) constexpr uint8_t kShiftUp[32] = {
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0,    1,    2,    3,    4,    5,    6,    7,    8,    9,    10,   11,   12,   13,   14,   15};

// In message order the t bytes that leave the register go to the front chunk (kShiftUp at t) and
// the rest slide down (kShiftDown at t); the MSB-first register is byte-reversed, which swaps the
// tables and mirrors the offset.
const uint8_t* Msb::FrontTable() { return kShiftDown; }
const uint8_t* Msb::BackTable() { return kShiftUp; }
const uint8_t* Reflected::FrontTable() { return kShiftUp; }
const uint8_t* Reflected::BackTable() { return kShiftDown; }

inline __m128i LoadMask(const uint8_t* table, size_t offset) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + offset));
}

// Folds the remaining whole chunks and then the last t < 16 bytes into acc. The partial chunk is
// handled as a full one: the last 16 message bytes (re-read, they overlap folded data) supply the
// tail, acc's bytes slide t places along, and the t bytes that slide out are folded in from one
// chunk further back.
template <typename Order>
__m128i FoldTail(__m128i acc, const uint8_t* p, size_t n, FoldConstants by16) {
  const __m128i k16 = Constants(by16);
  for (; n >= 16; p += 16, n -= 16) acc = _mm_xor_si128(Fold(acc, k16), Order::Load(p));
  if (n == 0) return acc;
  const size_t w = Order::Window(n);
  const __m128i front_mask = LoadMask(Order::FrontTable(), w);
  const __m128i front = _mm_shuffle_epi8(acc, front_mask);
  const __m128i kept = _mm_shuffle_epi8(acc, LoadMask(Order::BackTable(), w));
  // Where the front mask zero-fills, the kept bytes of acc belong; elsewhere the tail's.
  const __m128i back = _mm_blendv_epi8(Order::Load(p + n - 16), kept, front_mask);
  return _mm_xor_si128(Fold(front, k16), back);
}

inline __m128i Pair(uint64_t lo, uint64_t hi) {
  return _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo));
}

// (W * x^64) mod P for a 128-bit MSB-first W: one fold of the high half, then a Barrett
// reduction. Everything stays in vector registers; the multiplies pick their halves by immediate.
inline uint64_t ReduceCrc64(__m128i w) {
  constexpr uint64_t kX128 = Crc64XPow(128);
  constexpr uint64_t kMu = PolyQuotientLow64(128, 64, kCrc64Poly);  // floor(x^128 / P) - x^64
  const __m128i k = Pair(kX128, kMu);
  // y = W.hi * (x^128 mod P) + W.lo * x^64
  const __m128i y = _mm_xor_si128(_mm_clmulepi64_si128(w, k, 0x01), _mm_slli_si128(w, 8));
  // q = y.hi + floor(y.hi * mu' / x^64), kept in the high lane
  const __m128i q = _mm_xor_si128(y, _mm_clmulepi64_si128(y, k, 0x11));
  // remainder = y.lo + low half of q * P'
  const __m128i r = _mm_xor_si128(y, _mm_clmulepi64_si128(q, Pair(kCrc64Poly, 0), 0x01));
  return static_cast<uint64_t>(_mm_cvtsi128_si64(r));
}

// The reflected CRC-32 register for a 128-bit reflected V, whose polynomial is L*x^64 + H (L in the
// low lane). A carry-less multiply of reflected lanes yields x*A*B, which the constants absorb:
//   y = L*(x^95 mod P)*x + H*x^31*x          = V*x^32, below x^96
//   z = T*(x^63 mod P)*x + U                 = y with its top 32 coefficients T folded down
//   q = floor(floor(z/x^32) * mu / x^32)     (Barrett, mu = floor(x^64 / P))
//   r = (z + q*P) mod x^32, read one bit over because the last product carries an extra x.
inline uint32_t ReduceCrc32(__m128i v) {
  constexpr uint64_t kX95 = Crc32XPowReflected(95);
  constexpr uint64_t kX31 = Crc32XPowReflected(31);
  constexpr uint64_t kX63 = Crc32XPowReflected(63);
  constexpr uint64_t kMu = Reverse64(PolyQuotientLow64(64, 32, kCrc32PolyNormal));
  constexpr uint64_t kP = Reverse64((uint64_t{1} << 32) | kCrc32PolyNormal);
  const __m128i k = Pair(kX95, kX31);
  const __m128i y =
      _mm_xor_si128(_mm_clmulepi64_si128(v, k, 0x00), _mm_clmulepi64_si128(v, k, 0x11));
  const __m128i k2 = Pair(kX63, kMu);
  const __m128i z = _mm_xor_si128(_mm_clmulepi64_si128(y, k2, 0x00), y);
  const __m128i t = _mm_slli_epi64(_mm_and_si128(z, _mm_set_epi64x(0xFFFFFFFF, 0)), 1);
  const __m128i q = _mm_clmulepi64_si128(t, k2, 0x11);
  const __m128i s = _mm_clmulepi64_si128(q, Pair(kP, 0), 0x00);
  const __m128i r = _mm_srli_epi64(_mm_xor_si128(s, _mm_srli_epi64(z, 1)), 31);
  return static_cast<uint32_t>(_mm_extract_epi32(r, 2));
}

// Folds n >= 64 bytes with four accumulators; returns the register value congruent to everything
// consumed and leaves p/n at the unconsumed rest (< 64 bytes).
template <typename Order>
__m128i FoldWide(__m128i first, const uint8_t*& p, size_t& n, const FoldSet& k) {
  __m128i a0 = _mm_xor_si128(Order::Load(p), first);
  __m128i a1 = Order::Load(p + 16);
  __m128i a2 = Order::Load(p + 32);
  __m128i a3 = Order::Load(p + 48);
  p += 64;
  n -= 64;
  const __m128i k64 = Constants(k.by64);
  for (; n >= 64; p += 64, n -= 64) {
    a0 = _mm_xor_si128(Fold(a0, k64), Order::Load(p));
    a1 = _mm_xor_si128(Fold(a1, k64), Order::Load(p + 16));
    a2 = _mm_xor_si128(Fold(a2, k64), Order::Load(p + 32));
    a3 = _mm_xor_si128(Fold(a3, k64), Order::Load(p + 48));
  }
  return _mm_xor_si128(_mm_xor_si128(Fold(a0, Constants(k.by48)), Fold(a1, Constants(k.by32))),
                       _mm_xor_si128(Fold(a2, Constants(k.by16)), a3));
}

template <typename Order>
__m128i FoldHead(__m128i first, const uint8_t*& p, size_t& n, const FoldSet& k) {
  if (n >= 64) return FoldWide<Order>(first, p, n, k);
  const __m128i acc = _mm_xor_si128(Order::Load(p), first);
  p += 16;
  n -= 16;
  return acc;
}

// The CRC registers after n more bytes, for any n: slicing below 16 bytes, folding above.
inline uint64_t Crc64Fold128(uint64_t reg, const uint8_t* p, size_t n) {
  if (n < 16) return Crc64Slicing8(reg, p, n);
  // The register lines up with the first eight message bytes: the high lane after the byte swap.
  const __m128i first = _mm_set_epi64x(static_cast<long long>(reg), 0);
  const __m128i acc = FoldHead<Msb>(first, p, n, kCrc64Folds);  // advances p and n
  return ReduceCrc64(FoldTail<Msb>(acc, p, n, kCrc64Folds.by16));
}

inline uint32_t Crc32Fold128(uint32_t reg, const uint8_t* p, size_t n) {
  if (n < 16) return Crc32Slicing8(reg, p, n);
  // Reflected: the register lines up with the first four message bytes, the low lane as loaded.
  const __m128i first = _mm_cvtsi32_si128(static_cast<int>(reg));
  const __m128i acc = FoldHead<Reflected>(first, p, n, kCrc32Folds);  // advances p and n
  return ReduceCrc32(FoldTail<Reflected>(acc, p, n, kCrc32Folds.by16));
}

}  // namespace
}  // namespace kest::detail
