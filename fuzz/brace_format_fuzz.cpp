// Feeds arbitrary patterns and argument lists (all twelve kinds, string pointers valid) to
// BraceFormatCore and VelString::Format, checking that nothing crashes or overruns and that the
// measuring pass equals the written length.
//
// Input layout: byte 0 = flags (bit 0: developer machine), byte 1 = argument count (mod 9), then
// for each argument 1 kind byte (values above 11 allowed) and 8 value bytes, then the rest of the
// input is split in two at its first zero pair: a UTF-16 pattern and a UTF-16 text that string
// arguments point into (narrow strings take its bytes).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "kest/KestCommon.h"
#include "kest/platform/sessions.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Setup {
  Setup() {
    // Alerts must reach nobody: no sessions, however the developer flag is set.
    static kest::platform::FakeSessions none;
    kest::platform::SetSessionsForTesting(&none);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  if (size < 2) return 0;
  GetAndSetIsDevMachine((data[0] & 1) != 0);
  const size_t count = data[1] % 9;
  size_t pos = 2;

  struct RawArg {
    uint8_t kind;
    uint64_t bits;
  };
  std::vector<RawArg> raw;
  for (size_t i = 0; i < count && pos + 9 <= size; ++i) {
    RawArg a{data[pos], 0};
    std::memcpy(&a.bits, data + pos + 1, 8);
    raw.push_back(a);
    pos += 9;
  }
  // The rest: pattern and string pool, both NUL-terminated UTF-16.
  std::vector<char16_t> units((size - pos) / 2 + 2, 0);
  for (size_t i = 0; pos + 2 * i + 1 < size; ++i) {
    units[i] = static_cast<char16_t>(data[pos + 2 * i] | (data[pos + 2 * i + 1] << 8));
  }
  const char16_t* pattern = units.data();
  size_t pattern_length = 0;
  while (pattern[pattern_length] != 0) ++pattern_length;
  const char16_t* pool = units.data() + pattern_length + 1;
  std::vector<char> narrow_pool;
  for (const char16_t* p = pool; *p != 0; ++p)
    narrow_pool.push_back(static_cast<char>(*p & 0x7F ? *p : 'x'));
  narrow_pool.push_back(0);

  std::vector<PlaceholderValue> args;
  for (const RawArg& a : raw) {
    const uint8_t kind = a.kind % 16;  // 12..15: kinds no constructor makes
    switch (kind) {
      case ePVWideString:
        args.emplace_back(a.bits & 1 ? pool : static_cast<const char16_t*>(nullptr));
        break;
      case ePVNarrowString:
        args.emplace_back(a.bits & 1 ? narrow_pool.data() : static_cast<const char*>(nullptr));
        break;
      case ePVDouble: {
        double d;
        std::memcpy(&d, &a.bits, 8);
        args.emplace_back(d);
        break;
      }
      default:
        args.emplace_back(reinterpret_cast<const void*>(static_cast<uintptr_t>(a.bits)),
                          static_cast<PlaceholderValueType>(kind));
        break;
    }
  }
  // Some arguments carry their own format: the string pool.
  if (!args.empty() && (data[0] & 2) != 0) {
    args[0] = PlaceholderValue(args[0].bits() == 0 ? 0 : 1, pool);
  }

  const int measured = BraceFormatCore(pattern, nullptr, -1, args.data(), args.size());
  if (measured >= 0 && measured < (1 << 22)) {
    std::vector<char16_t> exact(static_cast<size_t>(measured) + 1, u'#');
    const int written =
        BraceFormatCore(pattern, exact.data(), measured + 1, args.data(), args.size());
    Check(written == measured);
    Check(exact[static_cast<size_t>(measured)] == 0);
    // Buffers of every small size: never a write outside them (the sanitizer watches).
    for (int length = 1; length <= 8; ++length) {
      std::vector<char16_t> small(static_cast<size_t>(length));
      const int n = BraceFormatCore(pattern, small.data(), length, args.data(), args.size());
      Check(n == -1 || (n >= 0 && n <= length));
    }
    VelString s;
    s.Format(pattern, args);
    Check(s.GetLength() == measured);
    s.AppendFormat(pattern, args);
    Check(s.GetLength() == 2 * measured);
    // Again into the block the string now owns (formatted in place), and with the pattern itself
    // living in the target's block: the same text every time.
    const std::u16string_view expected(exact.data(), static_cast<size_t>(measured));
    s.Format(pattern, args);
    Check(s.View() == expected);
    s.Preallocate(2 * measured + 8);  // room to append in place
    s.AppendFormat(pattern, args);
    Check(s.GetLength() == 2 * measured);
    Check(s.View().substr(static_cast<size_t>(measured)) == expected);
    VelString own(pattern);
    own.Format(own.GetString(), args);
    Check(own.View() == expected);
  }
  for (const PlaceholderValue& v : args) {
    char narrow[32];
    char16_t wide[32];
    v.Format(narrow, 32, reinterpret_cast<const char*>(narrow_pool.data()));
    v.Format(wide, 32, pool);
    Check(v.Format(static_cast<char16_t*>(nullptr), 0, pool) >= 0);
  }
  return 0;
}
