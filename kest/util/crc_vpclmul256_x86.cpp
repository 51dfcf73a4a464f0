// Folding CRC kernels on 256-bit carry-less multiplies (VPCLMULQDQ with AVX2): what current
// desktop and server cores without AVX-512 offer.
//
// Eight 32-byte accumulators (sixteen 128-bit lanes) run 256 bytes ahead of each other, so one step
// folds 256 bytes with sixteen multiplies, enough independent work to cover the multiplier's
// latency. The accumulators then fold into one, 32 bytes at a time, its two lanes into one 128-bit
// value, and the 128-bit machinery finishes the job. Inputs below 256 bytes take the 128-bit path
// (compiled here with the VEX encodings), so short inputs cost what they did.
//
// Built with AVX2 and VPCLMULQDQ enabled; only called when the processor and the OS support them.
#include <immintrin.h>

#include "kest/util/crc_fold128_x86.h"

namespace kest::detail {
namespace {

inline __m256i Constants256(FoldConstants k) {
  return _mm256_broadcastsi128_si256(
      _mm_set_epi64x(static_cast<long long>(k.hi), static_cast<long long>(k.lo)));
}

inline __m256i FoldXor(__m256i acc, __m256i k, __m256i data) {
  return _mm256_xor_si256(_mm256_xor_si256(_mm256_clmulepi64_epi128(acc, k, 0x00),
                                           _mm256_clmulepi64_epi128(acc, k, 0x11)),
                          data);
}

inline __m128i Fold128(__m128i acc, FoldConstants k) { return Fold(acc, Constants(k)); }

struct Msb256 {
  static __m256i Load(const uint8_t* p) {
    const __m256i reverse = _mm256_broadcastsi128_si256(
        _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    return _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), reverse);
  }
};

struct Reflected256 {
  // LDDQU rather than a plain unaligned load: GCC reads eight plain loads into an array as a block
  // copy and moves it through the stack in 16-byte halves, which the 32-byte reads of the fold
  // then wait on. LDDQU is a plain unaligned load on every core with AVX2.
  static __m256i Load(const uint8_t* p) {
    return _mm256_lddqu_si256(reinterpret_cast<const __m256i*>(p));
  }
};

struct FoldSet256 {
  FoldConstants by16, by32, by256;
};

constexpr FoldSet256 kCrc64Folds256{Crc64Fold(16), Crc64Fold(32), Crc64Fold(256)};
constexpr FoldSet256 kCrc32Folds256{Crc32Fold(16), Crc32Fold(32), Crc32Fold(256)};

// Folds the message down to one 128-bit value congruent to everything consumed and leaves p/n at
// an unconsumed tail shorter than 32 bytes. Requires n >= 256. The result is in register order.
template <typename Order>
__m128i FoldAll(__m256i first, const uint8_t*& p, size_t& n, const FoldSet256& k) {
  __m256i a[8];
  for (int i = 0; i < 8; ++i) a[i] = Order::Load(p + 32 * i);
  a[0] = _mm256_xor_si256(a[0], first);
  p += 256;
  n -= 256;
  const __m256i k256 = Constants256(k.by256);
  for (; n >= 256; p += 256, n -= 256) {
    for (int i = 0; i < 8; ++i) a[i] = FoldXor(a[i], k256, Order::Load(p + 32 * i));
  }
  // Each accumulator moves 32 bytes ahead to meet the next one.
  const __m256i k32 = Constants256(k.by32);
  __m256i acc = a[0];
  for (int i = 1; i < 8; ++i) acc = FoldXor(acc, k32, a[i]);
  for (; n >= 32; p += 32, n -= 32) acc = FoldXor(acc, k32, Order::Load(p));
  // Lane 0 holds the lower addresses: it moves 16 bytes ahead to meet lane 1.
  return _mm_xor_si128(Fold128(_mm256_castsi256_si128(acc), k.by16),
                       _mm256_extracti128_si256(acc, 1));
}

constexpr size_t kMinWide = 256;

uint64_t Update64(uint64_t reg, const uint8_t* p, size_t n) noexcept {
  if (n < kMinWide) return Crc64Fold128(reg, p, n);
  const __m256i first = _mm256_zextsi128_si256(_mm_set_epi64x(static_cast<long long>(reg), 0));
  const __m128i acc = FoldAll<Msb256>(first, p, n, kCrc64Folds256);  // advances p and n
  return ReduceCrc64(FoldTail<Msb>(acc, p, n, kCrc64Folds.by16));
}

uint32_t Update32(uint32_t reg, const uint8_t* p, size_t n) noexcept {
  if (n < kMinWide) return Crc32Fold128(reg, p, n);
  const __m256i first = _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(reg)));
  const __m128i acc = FoldAll<Reflected256>(first, p, n, kCrc32Folds256);  // advances p and n
  return ReduceCrc32(FoldTail<Reflected>(acc, p, n, kCrc32Folds.by16));
}

}  // namespace

constinit const CrcKernelFns kVpclmul256Fns = MakeKernelFns<Update32, Update64>();

}  // namespace kest::detail
