// Folding CRC kernels on 128-bit carry-less multiplies (PCLMULQDQ).
//
// Four 16-byte accumulators run 64 bytes ahead of each other; each step multiplies an accumulator
// by x^(8*64) mod P (split over its two 64-bit halves) and adds the next 64 bytes. The accumulators
// are then folded into one, and the last 16-byte value plus the tail is finished with the slicing
// kernel starting from a zero register: the folded value is congruent to everything before the
// tail, so the slicing kernel completes the exact CRC without a Barrett reduction.
//
// Built with -mpclmul -mssse3 -msse4.1; only called when the processor has them.
#include <immintrin.h>

#include "kest/util/crc_internal.h"

namespace kest::detail {
namespace {

inline __m128i Constants(FoldConstants k) {
  return _mm_set_epi64x(static_cast<long long>(k.hi), static_cast<long long>(k.lo));
}

inline __m128i Fold(__m128i acc, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(acc, k, 0x00), _mm_clmulepi64_si128(acc, k, 0x11));
}

// Loads 16 message bytes so that bit i of the register is the coefficient of x^i: MSB-first data
// needs its bytes reversed; reflected data is already in that order (mirrored).
struct Msb {
  static __m128i Load(const uint8_t* p) {
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), reverse);
  }
  static void Store(uint8_t* p, __m128i v) {
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi8(v, reverse));
  }
};

struct Reflected {
  static __m128i Load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  static void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
};

// Folds n >= 64 bytes; returns the register value congruent to the last 16 bytes consumed and
// leaves p/n at the unconsumed tail (< 16 bytes). `first` is the initial register already placed in
// the lane that overlaps the first message bytes.
template <typename Order, typename FoldSet>
__m128i FoldAll(__m128i first, const uint8_t*& p, size_t& n, const FoldSet& k) {
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
  const __m128i k16 = Constants(k.by16);
  __m128i acc = _mm_xor_si128(_mm_xor_si128(Fold(a0, Constants(k.by48)), Fold(a1, Constants(k.by32))),
                              _mm_xor_si128(Fold(a2, k16), a3));
  for (; n >= 16; p += 16, n -= 16) acc = _mm_xor_si128(Fold(acc, k16), Order::Load(p));
  return acc;
}

// Folds 16 <= n < 64 bytes with a single accumulator.
template <typename Order, typename FoldSet>
__m128i FoldShort(__m128i first, const uint8_t*& p, size_t& n, const FoldSet& k) {
  __m128i acc = _mm_xor_si128(Order::Load(p), first);
  p += 16;
  n -= 16;
  const __m128i k16 = Constants(k.by16);
  for (; n >= 16; p += 16, n -= 16) acc = _mm_xor_si128(Fold(acc, k16), Order::Load(p));
  return acc;
}

struct FoldSet {
  FoldConstants by16, by32, by48, by64;
};

constexpr FoldSet kCrc64Folds{Crc64Fold(16), Crc64Fold(32), Crc64Fold(48), Crc64Fold(64)};
constexpr FoldSet kCrc32Folds{Crc32Fold(16), Crc32Fold(32), Crc32Fold(48), Crc32Fold(64)};

constexpr size_t kMinFold = 32;

}  // namespace

uint64_t Crc64Pclmul(uint64_t reg, const uint8_t* p, size_t n) noexcept {
  if (n < kMinFold) return Crc64Slicing8(reg, p, n);
  // The register lines up with the first eight message bytes, the high lane after the byte swap.
  const __m128i first = _mm_set_epi64x(static_cast<long long>(reg), 0);
  const __m128i acc = n >= 64 ? FoldAll<Msb>(first, p, n, kCrc64Folds)
                              : FoldShort<Msb>(first, p, n, kCrc64Folds);
  alignas(16) uint8_t folded[16];
  Msb::Store(folded, acc);
  return Crc64Slicing8(Crc64Slicing8(0, folded, 16), p, n);
}

uint32_t Crc32Pclmul(uint32_t reg, const uint8_t* p, size_t n) noexcept {
  if (n < kMinFold) return Crc32Slicing8(reg, p, n);
  // Reflected: the register lines up with the first four message bytes, the low lane as loaded.
  const __m128i first = _mm_cvtsi32_si128(static_cast<int>(reg));
  const __m128i acc = n >= 64 ? FoldAll<Reflected>(first, p, n, kCrc32Folds)
                              : FoldShort<Reflected>(first, p, n, kCrc32Folds);
  alignas(16) uint8_t folded[16];
  Reflected::Store(folded, acc);
  return Crc32Slicing8(Crc32Slicing8(0, folded, 16), p, n);
}

}  // namespace kest::detail
