// Fuzz target for the string order and the case-insensitive hash, as properties over three texts
// made from the input: the logical order and operator< are strict weak orders, and
// case-insensitive equality agrees with CompareNoCase and implies equal hashes; only equal texts
// are equivalent.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kest/strings/vel_string.h"

namespace {

void Require(bool ok) {
  if (!ok) std::abort();
}

int Sign(int v) { return (v > 0) - (v < 0); }

// Splits the input at 0xFF bytes into up to three texts. Bytes are mapped onto a small alphabet
// that makes digit runs, the '-' rule, '*' and case pairs likely, plus a few non-ASCII case pairs.
std::u16string Text(const uint8_t*& p, const uint8_t* end) {
  static const char16_t kAlphabet[] =
      u"0123456789-*aAbBkKsSiI \u017F\u212A\u0131\u0130\u03C2"
      u"\u03C3\u03A3\u00DF\u1E9E\u00E9\u00C9.\U0001F600_zZ";
  constexpr size_t kSize = sizeof(kAlphabet) / sizeof(kAlphabet[0]) - 1;
  std::u16string text;
  while (p < end && *p != 0xFF && text.size() < 64) text += kAlphabet[*p++ % kSize];
  if (p < end) ++p;
  return text;
}

void CheckStrictWeakOrder(bool (*less)(const VelString&, const VelString&), const VelString& a,
                          const VelString& b, const VelString& c) {
  Require(!less(a, a));
  if (less(a, b)) Require(!less(b, a));
  if (less(a, b) && less(b, c)) Require(less(a, c));
  const auto equivalent = [&](const VelString& x, const VelString& y) {
    return !less(x, y) && !less(y, x);
  };
  if (equivalent(a, b) && equivalent(b, c)) Require(equivalent(a, c));
}

bool LogicalLess(const VelString& x, const VelString& y) { return VelStrCmpLogicalCase(x, y) < 0; }
bool OperatorLess(const VelString& x, const VelString& y) { return x < y; }

void CheckPair(const VelString& a, const VelString& b) {
  Require(Sign(VelStrCmpLogicalCase(a, b)) == -Sign(VelStrCmpLogicalCase(b, a)));
  // Only equal texts are equivalent (the assertion ignore set keeps its keys by text).
  Require((VelStrCmpLogicalCase(a, b) == 0) == (a == b));
  Require((!(a < b) && !(b < a)) == (a == b));
  const bool equal = CaseInsensitiveVelStringEqual()(a, b);
  Require(equal == (a.CompareNoCase(b) == 0));
  Require(Sign(a.CompareNoCase(b)) == -Sign(b.CompareNoCase(a)));
  if (equal) Require(CaseInsensitiveVelStringHash()(a) == CaseInsensitiveVelStringHash()(b));
  if (a == b) Require(VelStringHash()(a) == VelStringHash()(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* p = data;
  const uint8_t* end = data + size;
  const VelString a(Text(p, end));
  const VelString b(Text(p, end));
  const VelString c(Text(p, end));
  const VelString* texts[] = {&a, &b, &c};
  for (const VelString* x : texts) {
    for (const VelString* y : texts) {
      CheckPair(*x, *y);
      for (const VelString* z : texts) {
        CheckStrictWeakOrder(LogicalLess, *x, *y, *z);
        CheckStrictWeakOrder(OperatorLess, *x, *y, *z);
      }
    }
  }
  return 0;
}
