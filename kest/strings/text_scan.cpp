// The vector scans read whole aligned 16-byte blocks, so they may read bytes before the text's
// start and after its NUL, but never outside the blocks that hold the text: an aligned block never
// crosses a page, so nothing unmapped is touched. Those extra bytes belong to other objects, which
// the address and thread sanitizers would report, so the scans are not instrumented; their results
// never depend on the extra bytes.
#include "kest/strings/text_scan.h"

#include <bit>
#include <cstdint>

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
namespace {

#if KEST_TEXT_SCAN_SSE2
// Bit 2k (and 2k+1) of the result is set when unit k of the aligned block `block` is one of the
// looked-for units.
template <bool kBrace>
KEST_WHOLE_BLOCK_READS inline unsigned Hits(const char* block) {
  const __m128i units = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
  __m128i hits = _mm_cmpeq_epi16(units, _mm_setzero_si128());
  if constexpr (kBrace) hits = _mm_or_si128(hits, _mm_cmpeq_epi16(units, _mm_set1_epi16(u'{')));
  return static_cast<unsigned>(_mm_movemask_epi8(hits));
}

// The first unit at or after `text` that Hits finds. `text` is 2-byte aligned.
template <bool kBrace>
KEST_WHOLE_BLOCK_READS const char16_t* Scan(const char16_t* text) {
  const auto address = reinterpret_cast<uintptr_t>(text);
  const char* block = reinterpret_cast<const char*>(address & ~uintptr_t{15});
  unsigned hits = Hits<kBrace>(block) & (~0u << (address & 15));  // not before the text
  while (hits == 0) {
    block += 16;
    hits = Hits<kBrace>(block);
  }
  const char* found = block + std::countr_zero(hits);
  return text + (found - reinterpret_cast<const char*>(text)) / 2;
}
#endif

}  // namespace

KEST_WHOLE_BLOCK_READS size_t Utf16Length(const char16_t* text) noexcept {
#if KEST_TEXT_SCAN_SSE2
  if ((reinterpret_cast<uintptr_t>(text) & 1) == 0) {
    return static_cast<size_t>(Scan<false>(text) - text);
  }
#endif
  const char16_t* end = text;
  while (*end != 0) ++end;
  return static_cast<size_t>(end - text);
}

KEST_WHOLE_BLOCK_READS const char16_t* FindBraceOrEnd(const char16_t* text) noexcept {
#if KEST_TEXT_SCAN_SSE2
  if ((reinterpret_cast<uintptr_t>(text) & 1) == 0) return Scan<true>(text);
#endif
  while (*text != 0 && *text != u'{') ++text;
  return text;
}

}  // namespace kest::detail
