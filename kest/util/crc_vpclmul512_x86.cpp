// Folding CRC kernels on 512-bit carry-less multiplies (VPCLMULQDQ with AVX-512).
//
// Four 64-byte accumulators (sixteen 128-bit lanes) run 256 bytes ahead of each other, so one step
// folds 256 bytes with eight multiplies that keep the multiplier ports busy. The accumulators then
// collapse lane by lane into one 128-bit value and the 128-bit machinery finishes the job; inputs
// below 256 bytes take the 128-bit path, compiled here with the VEX encodings.
//
// Built with AVX-512 F/BW/VL and VPCLMULQDQ enabled; only called when the processor and the OS
// support them.
#include <immintrin.h>

#include "kest/util/crc_fold128_x86.h"

namespace kest::detail {
namespace {

inline __m512i Constants512(FoldConstants k) {
  return _mm512_broadcast_i32x4(
      _mm_set_epi64x(static_cast<long long>(k.hi), static_cast<long long>(k.lo)));
}

// fold(acc) ^ data, three-way xor in one instruction.
inline __m512i FoldXor(__m512i acc, __m512i k, __m512i data) {
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(acc, k, 0x00),
                                   _mm512_clmulepi64_epi128(acc, k, 0x11), data, 0x96);
}

inline __m128i Fold128(__m128i acc, FoldConstants k) { return Fold(acc, Constants(k)); }

struct Msb512 {
  static __m512i Load(const uint8_t* p) {
    const __m512i reverse =
        _mm512_broadcast_i32x4(_mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    return _mm512_shuffle_epi8(_mm512_loadu_si512(p), reverse);
  }
};

struct Reflected512 {
  static __m512i Load(const uint8_t* p) { return _mm512_loadu_si512(p); }
};

struct FoldSet512 {
  FoldConstants by16, by32, by48, by64, by128, by192, by256;
};

constexpr FoldSet512 kCrc64Folds512{Crc64Fold(16),  Crc64Fold(32),  Crc64Fold(48), Crc64Fold(64),
                                    Crc64Fold(128), Crc64Fold(192), Crc64Fold(256)};
constexpr FoldSet512 kCrc32Folds512{Crc32Fold(16),  Crc32Fold(32),  Crc32Fold(48), Crc32Fold(64),
                                    Crc32Fold(128), Crc32Fold(192), Crc32Fold(256)};

// Folds the message down to one 128-bit value congruent to everything consumed and leaves p/n at
// an unconsumed tail shorter than 64 bytes. Requires n >= 256. The result is in register order.
template <typename Order>
__m128i FoldAll(__m512i first, const uint8_t*& p, size_t& n, const FoldSet512& k) {
  __m512i a0 = _mm512_xor_si512(Order::Load(p), first);
  __m512i a1 = Order::Load(p + 64);
  __m512i a2 = Order::Load(p + 128);
  __m512i a3 = Order::Load(p + 192);
  p += 256;
  n -= 256;
  const __m512i k256 = Constants512(k.by256);
  for (; n >= 256; p += 256, n -= 256) {
    a0 = FoldXor(a0, k256, Order::Load(p));
    a1 = FoldXor(a1, k256, Order::Load(p + 64));
    a2 = FoldXor(a2, k256, Order::Load(p + 128));
    a3 = FoldXor(a3, k256, Order::Load(p + 192));
  }
  __m512i acc = FoldXor(a0, Constants512(k.by192), a3);
  acc = FoldXor(a1, Constants512(k.by128), acc);
  const __m512i k64 = Constants512(k.by64);
  acc = FoldXor(a2, k64, acc);
  for (; n >= 64; p += 64, n -= 64) acc = FoldXor(acc, k64, Order::Load(p));
  // Lane 0 holds the lowest addresses: it moves 48 bytes ahead to meet lane 3.
  __m128i x = _mm_xor_si128(Fold128(_mm512_extracti32x4_epi32(acc, 0), k.by48),
                            Fold128(_mm512_extracti32x4_epi32(acc, 1), k.by32));
  x = _mm_xor_si128(x, Fold128(_mm512_extracti32x4_epi32(acc, 2), k.by16));
  return _mm_xor_si128(x, _mm512_extracti32x4_epi32(acc, 3));
}

constexpr size_t kMinWide = 256;

uint64_t Update64(uint64_t reg, const uint8_t* p, size_t n) noexcept {
  if (n < kMinWide) return Crc64Fold128(reg, p, n);
  const __m512i first = _mm512_zextsi128_si512(_mm_set_epi64x(static_cast<long long>(reg), 0));
  const __m128i acc = FoldAll<Msb512>(first, p, n, kCrc64Folds512);  // advances p and n
  return ReduceCrc64(FoldTail<Msb>(acc, p, n, kCrc64Folds.by16));
}

uint32_t Update32(uint32_t reg, const uint8_t* p, size_t n) noexcept {
  if (n < kMinWide) return Crc32Fold128(reg, p, n);
  const __m512i first = _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(reg)));
  const __m128i acc = FoldAll<Reflected512>(first, p, n, kCrc32Folds512);  // advances p and n
  return ReduceCrc32(FoldTail<Reflected>(acc, p, n, kCrc32Folds.by16));
}

}  // namespace

constinit const CrcKernelFns kVpclmul512Fns = MakeKernelFns<Update32, Update64>();

}  // namespace kest::detail
