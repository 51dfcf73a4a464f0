// Digit-aware ordering. Digit runs are compared by exact magnitude on their significant digits, so
// runs of any length order correctly and two different strings are never equivalent merely because
// their numbers wrapped.
#include <algorithm>
#include <cstddef>

#include "kest/strings/vel_string.h"

const char16_t gSortLowChar = u'*';

namespace {

inline bool IsDigit(char16_t ch) { return ch >= u'0' && ch <= u'9'; }

// The number a digit run reads as: leading zeros, and any '-' met while the value is still zero,
// are consumed ('-' makes it negative), then the significant digits up to the first non-digit.
struct RunNumber {
  bool negative;
  const char16_t* digits;  // significant digits, no leading zeros
  int count;               // 0 means the value is zero
};

RunNumber ReadNumber(const char16_t* p) {
  bool negative = false;
  for (;; ++p) {
    if (*p == u'0') continue;
    if (*p == u'-') {
      negative = true;
      continue;
    }
    break;
  }
  const char16_t* start = p;
  while (IsDigit(*p)) ++p;
  return {negative, start, static_cast<int>(p - start)};
}

int CompareNumbers(const RunNumber& a, const RunNumber& b) {
  const int sign_a = a.count == 0 ? 0 : (a.negative ? -1 : 1);
  const int sign_b = b.count == 0 ? 0 : (b.negative ? -1 : 1);
  if (sign_a != sign_b) return sign_a < sign_b ? -1 : 1;
  if (sign_a == 0) return 0;
  int magnitude = 0;
  if (a.count != b.count) {
    magnitude = a.count < b.count ? -1 : 1;
  } else {
    for (int i = 0; i < a.count; ++i) {
      if (a.digits[i] != b.digits[i]) {
        magnitude = a.digits[i] < b.digits[i] ? -1 : 1;
        break;
      }
    }
  }
  return sign_a > 0 ? magnitude : -magnitude;
}

}  // namespace

int VelStrCmpLogicalCase(const char16_t* a, const char16_t* b) noexcept {
  if (a == nullptr) return b == nullptr ? 0 : -1;
  if (b == nullptr) return 1;
  if (*a == 0) return *b == 0 ? 0 : -1;
  if (*b == 0) return 1;
  for (;;) {
    const bool digits_a = IsDigit(*a);
    const bool digits_b = IsDigit(*b);
    if (digits_a != digits_b) return digits_a ? -1 : 1;
    const char16_t* end_a = a;
    const char16_t* end_b = b;
    while (*end_a != 0 && IsDigit(*end_a) == digits_a) ++end_a;
    while (*end_b != 0 && IsDigit(*end_b) == digits_b) ++end_b;
    const auto length_a = end_a - a;
    const auto length_b = end_b - b;
    if (!digits_a) {
      const auto common = std::min(length_a, length_b);
      for (std::ptrdiff_t i = 0; i < common; ++i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
      }
      if (length_a != length_b) return length_a < length_b ? -1 : 1;
    } else {
      if (const int by_value = CompareNumbers(ReadNumber(a), ReadNumber(b))) return by_value;
      // Equal values: the longer spelling ("007") sorts first.
      if (length_a != length_b) return length_a > length_b ? -1 : 1;
    }
    a = end_a;
    b = end_b;
    if (*a == 0) return *b == 0 ? 0 : -1;
    if (*b == 0) return 1;
  }
}

bool VelStrLessLogical(const char16_t* a, const char16_t* b) noexcept {
  if (a != nullptr && b != nullptr && *a != 0 && *b != 0 && *a != *b) {
    if (*a == gSortLowChar && a[1] != 0) return false;
    if (*b == gSortLowChar && b[1] != 0) return true;
  }
  return VelStrCmpLogicalCase(a, b) < 0;
}

bool operator<(const VelString& a, const VelString& b) noexcept {
  return VelStrLessLogical(a.GetString(), b.GetString());
}
