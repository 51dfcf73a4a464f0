// Scans over NUL-terminated UTF-16 text, sixteen bytes at a time where the processor allows.
// Internal to the library: not installed.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define KEST_TEXT_SCAN_SSE2 1
#else
#define KEST_TEXT_SCAN_SSE2 0
#endif

#if defined(__GNUC__) || defined(__clang__)
#define KEST_WHOLE_BLOCK_READS __attribute__((no_sanitize("address", "thread")))
#else
#define KEST_WHOLE_BLOCK_READS
#endif

namespace kest::detail {

// The scans read whole aligned 16-byte blocks, so they may read bytes before the text's start and
// after its NUL, but never outside the blocks that hold the text: an aligned block never crosses a
// page, so nothing unmapped is touched. Those extra bytes belong to other objects, which the
// address and thread sanitizers would report, so the scans are not instrumented; their results
// never depend on the extra bytes. They are inline because the texts they meet are mostly short
// and a call would cost as much as the scan.
#if KEST_TEXT_SCAN_SSE2
// Bit 2k (and 2k+1) of the result is set when unit k of the aligned block is NUL (or '{' too).
template <bool kBrace>
KEST_WHOLE_BLOCK_READS inline unsigned BlockHits(const char* block) noexcept {
  const __m128i units = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
  __m128i hits = _mm_cmpeq_epi16(units, _mm_setzero_si128());
  if constexpr (kBrace) hits = _mm_or_si128(hits, _mm_cmpeq_epi16(units, _mm_set1_epi16(u'{')));
  return static_cast<unsigned>(_mm_movemask_epi8(hits));
}

// The first unit at or after the 2-byte aligned `text` that BlockHits finds.
template <bool kBrace>
KEST_WHOLE_BLOCK_READS inline const char16_t* ScanBlocks(const char16_t* text) noexcept {
  const auto address = reinterpret_cast<uintptr_t>(text);
  const char* block = reinterpret_cast<const char*>(address & ~uintptr_t{15});
  unsigned hits = BlockHits<kBrace>(block) & (~0u << (address & 15));  // not before the text
  while (hits == 0) {
    block += 16;
    hits = BlockHits<kBrace>(block);
  }
  return text + (block + std::countr_zero(hits) - reinterpret_cast<const char*>(text)) / 2;
}
#endif

// Characters before the NUL of `text` (not null).
KEST_WHOLE_BLOCK_READS inline size_t Utf16Length(const char16_t* text) noexcept {
#if KEST_TEXT_SCAN_SSE2
  if ((reinterpret_cast<uintptr_t>(text) & 1) == 0) {
    return static_cast<size_t>(ScanBlocks<false>(text) - text);
  }
#endif
  const char16_t* end = text;
  while (*end != 0) ++end;
  return static_cast<size_t>(end - text);
}

// The first '{' or NUL at or after `text` (not null).
KEST_WHOLE_BLOCK_READS inline const char16_t* FindBraceOrEnd(const char16_t* text) noexcept {
#if KEST_TEXT_SCAN_SSE2
  if ((reinterpret_cast<uintptr_t>(text) & 1) == 0) return ScanBlocks<true>(text);
#endif
  while (*text != 0 && *text != u'{') ++text;
  return text;
}

// The first and the last kBytes / 2 units of a run of n >= kBytes / 2 units, as two fixed-size
// moves that compilers turn into single loads and stores (the two ranges may overlap).
template <size_t kBytes>
inline void CopyHeadAndTail(char16_t* to, const char16_t* from, size_t n) noexcept {
  constexpr size_t kUnits = kBytes / sizeof(char16_t);
  char head[kBytes], tail[kBytes];
  std::memcpy(head, from, kBytes);
  std::memcpy(tail, from + n - kUnits, kBytes);
  std::memcpy(to, head, kBytes);
  std::memcpy(to + n - kUnits, tail, kBytes);
}

// Copies n units between buffers that do not overlap. Short copies, the usual case for pattern text
// and arguments, take two moves instead of a call into the C library.
inline void CopyUnits(char16_t* to, const char16_t* from, size_t n) noexcept {
  if (n > 16) {
    std::memcpy(to, from, n * sizeof(char16_t));
  } else if (n >= 8) {
    CopyHeadAndTail<16>(to, from, n);
  } else if (n >= 4) {
    CopyHeadAndTail<8>(to, from, n);
  } else if (n >= 2) {
    CopyHeadAndTail<4>(to, from, n);
  } else if (n == 1) {
    *to = *from;
  }
}

}  // namespace kest::detail
