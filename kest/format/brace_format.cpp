#include "kest/format/brace_format.h"

#include <atomic>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "kest/diag/dev_alerts.h"
#include "kest/format/fast_render.h"
#include "kest/platform/text.h"
#include "kest/strings/text_scan.h"

namespace {

constexpr int kMaxSpec = 62;
constexpr int kTrackedIndexes = 40;
constexpr int kFormatStackChars = 4096;
constexpr int kAppendStackChars = 2048;
// A format longer than any spec may be: PlaceholderValue renders the default form for it. Handed
// over when a pattern's spec is too long.
constexpr char16_t kTooLongFormat[] =
    u"%xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";

// The base-language test lives above the formatter (it loads a resource string); start-up hands
// it down. Until then every build counts as the base language.
std::atomic<bool (*)()> g_base_language_test{nullptr};

bool BaseLanguage() {
  bool (*test)() = g_base_language_test.load(std::memory_order_acquire);
  return test == nullptr || test();
}

// The developer-only checks run where alerts would reach someone, in the base language.
bool DeveloperChecksOn() { return IsDevMachine() && BaseLanguage(); }

bool Contains(const char16_t* text, std::u16string_view what) {
  return text != nullptr && std::u16string_view(text).find(what) != std::u16string_view::npos;
}

// The printf format of a placeholder: "%" + spec when the pattern gives one (too long a spec gets a
// format that renders the default form), else the value's own (or none).
const char16_t* FormatFor(const PlaceholderValue& value, const char16_t* spec, int64_t spec_length,
                          char16_t (&buffer)[kMaxSpec + 2]) {
  if (spec == nullptr) return value.format();
  if (spec_length > kMaxSpec) return kTooLongFormat;
  buffer[0] = u'%';
  for (int64_t i = 0; i < spec_length; ++i) buffer[i + 1] = spec[i];
  buffer[spec_length + 1] = 0;
  return buffer;
}

// What one writing pass produces, bounded by its buffer. The count runs on past the buffer's end
// (64 bits, so no pattern can overflow it); the text stops at the end.
class Writer {
 public:
  Writer(char16_t* output, int length) : out_(output), length_(length) {}

  bool full() const { return count_ >= length_; }
  int64_t count() const { return count_; }

  void Put(char16_t ch) {
    if (count_ < length_) out_[count_] = ch;
    ++count_;
  }

  void PutRun(const char16_t* text, int64_t n) {
    if (count_ < length_) {
      const int64_t room = length_ - count_;
      kest::detail::CopyUnits(out_ + count_, text, static_cast<size_t>(n < room ? n : room));
    }
    count_ += n;
  }

  // Renders one value by its placeholder's spec (null: none) at the current position (never
  // called on a full buffer); false when it does not fit the room left. Integers and wide strings
  // in their default form and short integer and fixed-point specs, the placeholders patterns use
  // most, are written here without going through the general printf machinery.
  bool Render(const PlaceholderValue& value, const char16_t* spec, int64_t spec_length) {
    const int room = static_cast<int>(length_ - count_);
    char16_t* at = out_ + count_;
    if (spec == nullptr && value.format() == nullptr) {
      uint64_t magnitude;
      bool negative;
      if (kest::detail::DefaultDecimal(value, magnitude, negative)) {
        const int digits = kest::detail::DecimalLength(magnitude);
        if (digits + (negative ? 1 : 0) > room) return false;
        if (negative) *at++ = u'-';
        kest::detail::WriteDecimal(at, magnitude, digits);
        count_ += digits + (negative ? 1 : 0);
        return true;
      }
      if (value.type() == ePVWideString) {
        const auto* text = static_cast<const char16_t*>(value.pointer());
        if (text == nullptr) return true;  // a null string adds nothing
        const size_t n = kest::detail::Utf16Length(text);
        if (n > static_cast<size_t>(room)) return false;
        kest::detail::CopyUnits(at, text, n);
        count_ += static_cast<int64_t>(n);
        return true;
      }
    } else if (spec != nullptr && spec_length <= kest::detail::kMaxSimpleSpec) {
      const int n =
          kest::detail::RenderSimpleSpec(value, spec, static_cast<int>(spec_length), at, room);
      if (n != kest::detail::kNotSimple) {
        if (n < 0) return false;
        count_ += n;
        return true;
      }
    }
    char16_t buffer[kMaxSpec + 2];
    const int n = value.Format(at, room, FormatFor(value, spec, spec_length, buffer));
    if (n < 0) return false;
    count_ += n;
    return true;
  }

  // Ends the text with a NUL after it, or over its last position when it reached the buffer's end;
  // returns what the pass returns.
  int Finish() {
    if (full()) {
      out_[length_ - 1] = 0;
      return length_;
    }
    out_[count_] = 0;
    return static_cast<int>(count_);
  }

 private:
  char16_t* out_;
  int length_;
  int64_t count_ = 0;
};

// A measuring pass: the same walk, counting only.
class Measurer {
 public:
  bool full() const { return false; }
  int64_t count() const { return count_; }
  void Put(char16_t) { ++count_; }
  void PutRun(const char16_t*, int64_t n) { count_ += n; }

  bool Render(const PlaceholderValue& value, const char16_t* spec, int64_t spec_length) {
    if (spec == nullptr && value.format() == nullptr) {
      uint64_t magnitude;
      bool negative;
      if (kest::detail::DefaultDecimal(value, magnitude, negative)) {
        count_ += kest::detail::DecimalLength(magnitude) + (negative ? 1 : 0);
        return true;
      }
      if (value.type() == ePVWideString) {
        const auto* text = static_cast<const char16_t*>(value.pointer());
        if (text != nullptr) count_ += static_cast<int64_t>(kest::detail::Utf16Length(text));
        return true;
      }
    }
    char16_t buffer[kMaxSpec + 2];
    const int n = value.Format(static_cast<char16_t*>(nullptr), 0,
                               FormatFor(value, spec, spec_length, buffer));
    if (n < 0) return false;
    count_ += n;
    return true;
  }

  // Only a measuring pass can count past INT_MAX: more text than any buffer or string holds.
  int Finish() const { return count_ > INT_MAX ? -1 : static_cast<int>(count_); }

 private:
  int64_t count_ = 0;
};

// Reports a pass would send, held back when its caller decides afterwards whether the pass counts
// (an attempt that is thrown away must not report; the pass that replaces it reports for itself).
struct HeldReports {
  bool not_enough = false;
  int skipped = 0;
};

void SendNotEnough(const char16_t* pattern, const PlaceholderValue* args, size_t count) {
  ReportFormattingFailure(u"Not enough parameters", pattern,
                          std::vector<PlaceholderValue>(args, args + count));
}

void SendSkipped(int alerts, const char16_t* pattern, const PlaceholderValue* args, size_t count) {
  if (alerts == 0) return;
  const VelString report = kest::FormattingReport(u"Parameter skipped", pattern, args, count);
  for (int i = 0; i < alerts; ++i) AlertDevelopers(report.GetString());
}

void SendHeld(const HeldReports& held, const char16_t* pattern, const PlaceholderValue* args,
              size_t count) {
  if (held.not_enough) SendNotEnough(pattern, args, count);
  SendSkipped(held.skipped, pattern, args, count);
}

// One alert for every used index that comes after an unused one, among indexes 0..39.
int SkippedAlerts(uint64_t used) {
  if (used == 0) return 0;
  int alerts = 0;
  bool gap = false;
  for (int i = 0; i < kTrackedIndexes; ++i) {
    if ((used >> i & 1) == 0) {
      gap = true;
    } else if (gap) {
      ++alerts;
    }
  }
  return alerts;
}

// One pass of the engine over `out` (a Writer or a Measurer). Reports go out at once, or into
// `held` when it is given. Returns what BraceFormatCore returns.
template <typename Out>
int RunPass(const char16_t* pattern, Out& out, const PlaceholderValue* args, size_t count,
            HeldReports* held) {
  const bool checks = DeveloperChecksOn();
  uint64_t used = 0;  // bit i: index i was used (only with the checks on)
  uint32_t automatic = 0;
  const char16_t* p = pattern;
  while (*p != 0 && !out.full()) {
    if (*p != u'{') {
      // A run of plain text goes out in one copy, bounded by the room left.
      const char16_t* end = kest::detail::FindBraceOrEnd(p + 1);
      out.PutRun(p, end - p);
      p = end;
      continue;
    }
    const char16_t* q = p + 1;
    if (*q == u'{') {  // "{{"
      out.Put(u'{');
      p = q + 1;
      continue;
    }
    // Digits of an explicit index; saturating far above any argument count.
    const char16_t* digits = q;
    uint64_t index = 0;
    while (*q >= u'0' && *q <= u'9') {
      index = index > 0xFFFFFFFFull ? index : index * 10 + static_cast<uint64_t>(*q - u'0');
      ++q;
    }
    const bool has_index = q != digits;
    const char16_t* spec = nullptr;
    int64_t spec_length = 0;
    if (*q == u':') {
      spec = ++q;
      while (*q != 0 && *q != u'}') ++q;
      spec_length = q - spec;
    }
    if (*q == 0) break;  // an unfinished placeholder at the end is dropped
    if (*q != u'}') {
      out.Put(u'{');
      out.PutRun(digits, q - digits);
      if (*q == u'{') {
        p = q;  // '{', digits, '{': the digits are text, the second '{' opens a placeholder
      } else {
        out.Put(*q);
        p = q + 1;
      }
      continue;
    }
    p = q + 1;

    // A complete placeholder.
    const uint64_t used_index = has_index ? index : automatic;
    if (checks && used_index < kTrackedIndexes) used |= uint64_t{1} << used_index;
    if (used_index >= count) {
      if (!Contains(pattern, u"BAD_FORMAT_TEST")) {
        if (held != nullptr) {
          held->not_enough = true;
        } else {
          SendNotEnough(pattern, args, count);
        }
      }
      // The marker ends the text; like any text it is cut by the buffer's end.
      for (int i = 0; i < 3; ++i) out.Put(u'@');
      return out.Finish();
    }
    if (!out.Render(args[used_index], spec, spec_length)) return -1;
    ++automatic;
  }

  if (out.full()) return out.Finish();  // text cut at the buffer's end: no skipped check
  const int result = out.Finish();
  if (checks && BaseLanguage()) {
    const int alerts = SkippedAlerts(used);
    if (held != nullptr) {
      held->skipped = alerts;
    } else {
      SendSkipped(alerts, pattern, args, count);
    }
  }
  return result;
}

int Pass(const char16_t* pattern, char16_t* output, int length, const PlaceholderValue* args,
         size_t count, HeldReports* held) {
  if (output != nullptr && length < 1) return -1;  // no room even for the NUL
  if (args == nullptr) count = 0;
  if (pattern == nullptr || *pattern == 0) {
    if (output != nullptr) output[0] = 0;
    return 0;
  }
  if (output == nullptr) {
    Measurer measurer;
    return RunPass(pattern, measurer, args, count, held);
  }
  Writer writer(output, length);
  return RunPass(pattern, writer, args, count, held);
}

}  // namespace

int BraceFormatCore(const char16_t* pattern, char16_t* output, int length,
                    const PlaceholderValue* args, size_t count) {
  return Pass(pattern, output, length, args, count, nullptr);
}

namespace kest {

void SetBaseLanguageTest(bool (*test)()) noexcept {
  g_base_language_test.store(test, std::memory_order_release);
}

VelString FormattingReport(const char16_t* reason, const char16_t* pattern,
                           const PlaceholderValue* args, size_t count) {
  VelString text(reason);
  text += u": ";
  text += pattern;
  text += u"  Params: ";
  char16_t rendered[1000];
  for (size_t i = 0; i < count; ++i) {
    const int n = args[i].Format(rendered, 999, nullptr);
    if (n > 0) {
      text.Append(rendered, n);
      text += u", ";
    }
  }
  return text;
}

}  // namespace kest

void ReportFormattingFailure(const char16_t* reason, const char16_t* pattern,
                             std::vector<PlaceholderValue> args) {
  if (!IsDevMachine()) return;  // nobody would see it: skip building the text
  AlertDevelopers(kest::FormattingReport(reason, pattern, args.data(), args.size()).GetString());
}

void ReportFormattingFailure(const char16_t* reason, const char* pattern,
                             std::vector<PlaceholderValue> args) {
  if (!IsDevMachine()) return;
  const VelString wide(pattern);
  AlertDevelopers(
      kest::FormattingReport(reason, wide.GetString(), args.data(), args.size()).GetString());
}

VelString _StrFormat(const char16_t* pattern, std::vector<PlaceholderValue> args) {
  VelString result;
  result.FormatList(pattern, args.data(), args.size());
  return result;
}

void VelString::Format(const char16_t* pattern, const std::vector<PlaceholderValue>& args) {
  FormatList(pattern, args.data(), args.size());
}

void VelString::AppendFormat(const char16_t* pattern, const std::vector<PlaceholderValue>& args) {
  AppendFormatList(pattern, args.data(), args.size());
}

// Whether text at `text` lies inside the block whose characters start at `block` (capacity plus
// the NUL). Compared as addresses, since the pointers may belong to unrelated objects.
bool Inside(const void* text, const char16_t* block, int capacity) {
  const auto at = reinterpret_cast<uintptr_t>(text);
  const auto begin = reinterpret_cast<uintptr_t>(block);
  return at >= begin && at <= begin + sizeof(char16_t) * static_cast<uintptr_t>(capacity);
}

void VelString::FormatList(const char16_t* pattern, const PlaceholderValue* args, size_t count) {
  if (pattern == nullptr) {
    Empty();
    return;
  }
  if (args == nullptr) count = 0;
  if (IsDevMachine()) {
    static constexpr std::u16string_view kCStyle[] = {u"%u", u"%d", u"%s", u"%S", u"%I64",
                                                      u"%f", u"%0", u"%X", u"%x"};
    for (std::u16string_view spec : kCStyle) {
      if (Contains(pattern, spec)) {
        AlertDevelopers(
            kest::FormattingReport(u"Contains c-style format", pattern, args, count).GetString());
        break;
      }
    }
  }
  RenderList(pattern, args, count);
}

void VelString::RenderList(const char16_t* pattern, const PlaceholderValue* args, size_t count) {
  if (pattern == nullptr) {
    Empty();
    return;
  }
  if (args == nullptr) count = 0;
  // Fast path: one writing pass when the estimate says the text fits 4096 characters.
  const size_t pattern_length = kest::detail::Utf16Length(pattern);
  if (pattern_length < kFormatStackChars) {
    uint64_t guess = pattern_length;
    for (size_t i = 0; i < count && guess < kFormatStackChars; ++i) guess += args[i].lengthGuess();
    if (guess < kFormatStackChars) {
      // The attempt goes straight into the string's own block when it can (see FormatInPlace),
      // which saves copying the text once more; a failed one leaves the string empty and the
      // stack buffer attempt below runs (and reports) as if it had never been made.
      // (A new string has no block of its own yet: nothing to try.)
      if (GetData()->nAllocLength != 0 &&
          FormatInPlace(pattern, args, count, 0, kFormatStackChars)) {
        return;
      }
      // The buffer is not cleared: the pass writes its own NUL.
      char16_t stack[kFormatStackChars];
      const int written = BraceFormatCore(pattern, stack, kFormatStackChars, args, count);
      if (written >= 0 && written + 10 < kFormatStackChars) {
        SetString(stack, written);
        return;
      }
    }
  }
  // Slow path: measure, then write into a buffer of exactly the right size.
  const int needed = BraceFormatCore(pattern, nullptr, -1, args, count);
  // More text than any string can hold, whatever the size (needed + 1 must not overflow either).
  if (needed < 0 || needed > kest::kMaxStringChars) throw std::bad_alloc();
  if (needed + 1 <= kFormatStackChars) {
    char16_t stack[kFormatStackChars];
    const int written = BraceFormatCore(pattern, stack, needed + 1, args, count);
    SetString(stack, written < 0 ? 0 : written);
    return;
  }
  VelString result(GetManager());
  char16_t* buffer = result.GetBufferSetLength(needed + 1);
  const int written = BraceFormatCore(pattern, buffer, needed + 1, args, count);
  result.ReleaseBuffer(written < 0 ? 0 : written);
  *this = std::move(result);
}

bool VelString::FormatInPlace(const char16_t* pattern, const PlaceholderValue* args, size_t count,
                              int keep, int limit) {
  const CVelStringData* data = GetData();
  const int capacity = data->nAllocLength;
  // The empty block is never written, a shared one belongs to others too, and a pass must not
  // write over text it is reading. Any other block is worth trying: a failed attempt costs at most
  // the characters the block holds, and the block grows to the longest text formatted into it.
  if (capacity == 0) return false;
  if (kest::detail::HolderCount(data) > 1) return false;
  if (Inside(pattern, m_pszData, capacity)) return false;
  for (size_t i = 0; i < count; ++i) {
    const PlaceholderValue& value = args[i];
    const bool text = value.type() == ePVWideString || value.type() == ePVNarrowString;
    if ((text && Inside(value.pointer(), m_pszData, capacity)) ||
        (value.format() != nullptr && Inside(value.format(), m_pszData, capacity))) {
      return false;
    }
  }
  const int room = capacity - keep + 1;
  HeldReports held;
  const int written = Pass(pattern, m_pszData + keep, room, args, count, &held);
  if (written < 0 || written >= room || written + 10 >= limit) {
    SetLength(keep);  // what the attempt wrote is no text of this string's
    return false;
  }
  SetLength(keep + written);
  SendHeld(held, pattern, args, count);
  return true;
}

void VelString::AppendFormatList(const char16_t* pattern, const PlaceholderValue* args,
                                 size_t count) {
  if (pattern == nullptr) return;
  if (args == nullptr) count = 0;
  // In place first, into the free tail of the string's own block; the old text is never touched.
  if (FormatInPlace(pattern, args, count, GetLength(), kAppendStackChars)) return;
  char16_t stack[kAppendStackChars];
  const int written = BraceFormatCore(pattern, stack, kAppendStackChars, args, count);
  if (written >= 0 && written + 10 < kAppendStackChars) {
    Append(stack, written);
    return;
  }
  const int needed = BraceFormatCore(pattern, nullptr, -1, args, count);
  // More text than any string can hold: refuse before a scratch buffer of that size is made.
  if (needed < 0 || int64_t{needed} + GetLength() > kest::kMaxStringChars) throw std::bad_alloc();
  if (needed == 0) return;
  std::unique_ptr<char16_t[]> heap(new char16_t[static_cast<size_t>(needed) + 1]);
  const int n = BraceFormatCore(pattern, heap.get(), needed + 1, args, count);
  if (n > 0) Append(heap.get(), n);
}
