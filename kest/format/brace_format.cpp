#include "kest/format/brace_format.h"

#include <cstring>
#include <memory>
#include <string_view>

#include "kest/diag/dev_alerts.h"
#include "kest/platform/text.h"

namespace {

constexpr int kMaxSpec = 62;
constexpr int kTrackedIndexes = 40;
constexpr int kFormatStackChars = 4096;
constexpr int kAppendStackChars = 2048;
// A format longer than any spec may be: PlaceholderValue renders the default form for it. Handed
// over when a pattern's spec is too long.
constexpr char16_t kTooLongFormat[] =
    u"%xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";

// The developer-only checks run where alerts would reach someone. The base-language test joins
// this once languages exist; until then every build counts as the base language.
bool DeveloperChecksOn() { return IsDevMachine(); }

bool Contains(const char16_t* text, std::u16string_view what) {
  return text != nullptr && std::u16string_view(text).find(what) != std::u16string_view::npos;
}

class Pass {
 public:
  Pass(char16_t* output, int length) : out_(output), length_(output ? length : -1) {}

  bool writing() const { return out_ != nullptr; }
  int count() const { return count_; }
  bool full() const { return writing() && count_ >= length_; }

  void Put(char16_t ch) {
    if (writing() && count_ < length_) out_[count_] = ch;
    ++count_;
  }

  void PutRun(const char16_t* text, int n) {
    if (writing() && count_ < length_) {
      const int room = length_ - count_;
      std::memcpy(out_ + count_, text, sizeof(char16_t) * static_cast<size_t>(n < room ? n : room));
    }
    count_ += n;
  }

  // Renders one value at the current position; false when it does not fit.
  bool Render(const PlaceholderValue& value, const char16_t* format) {
    if (!writing()) {
      const int n = value.Format(static_cast<char16_t*>(nullptr), 0, format);
      if (n < 0) return false;
      count_ += n;
      return true;
    }
    const int room = count_ < length_ ? length_ - count_ : 0;
    const int n = value.Format(out_ + (count_ < length_ ? count_ : length_), room, format);
    if (n < 0) return false;
    count_ += n;
    return true;
  }

  char16_t* out_;
  int length_;
  int count_ = 0;
};

void SkippedParameterAlerts(const bool (&used)[kTrackedIndexes], const char16_t* pattern,
                            const PlaceholderValue* args, size_t count) {
  bool any = false;
  for (bool u : used) any = any || u;
  if (!any) return;
  bool gap = false;
  for (int i = 0; i < kTrackedIndexes; ++i) {
    if (!used[i]) {
      gap = true;
    } else if (gap) {
      AlertDevelopers(
          kest::FormattingReport(u"Parameter skipped", pattern, args, count).GetString());
    }
  }
}

}  // namespace

int BraceFormatCore(const char16_t* pattern, char16_t* output, int length,
                    const PlaceholderValue* args, size_t count) {
  if (output != nullptr && length < 1) return -1;  // no room even for the NUL
  if (args == nullptr) count = 0;
  const bool checks = DeveloperChecksOn();
  bool used[kTrackedIndexes] = {};
  Pass pass(output, length);
  if (pattern == nullptr || *pattern == 0) {
    if (pass.writing()) output[0] = 0;
    return 0;
  }

  uint32_t automatic = 0;
  const char16_t* p = pattern;
  while (*p != 0 && !pass.full()) {
    if (*p != u'{') {
      // A run of plain text goes out in one copy, bounded by the room left.
      const char16_t* end = p + 1;
      while (*end != 0 && *end != u'{') ++end;
      pass.PutRun(p, static_cast<int>(end - p));
      p = end;
      continue;
    }
    const char16_t* q = p + 1;
    if (*q == u'{') {  // "{{"
      pass.Put(u'{');
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
    int spec_length = 0;
    if (*q == u':') {
      spec = ++q;
      while (*q != 0 && *q != u'}') ++q;
      spec_length = static_cast<int>(q - spec);
    }
    if (*q == 0) break;  // an unfinished placeholder at the end is dropped
    if (*q != u'}') {
      pass.Put(u'{');
      pass.PutRun(digits, static_cast<int>(q - digits));
      if (*q == u'{') {
        p = q;  // '{', digits, '{': the digits are text, the second '{' opens a placeholder
      } else {
        pass.Put(*q);
        p = q + 1;
      }
      continue;
    }
    p = q + 1;

    // A complete placeholder.
    const uint64_t used_index = has_index ? index : automatic;
    if (checks && used_index < kTrackedIndexes) used[used_index] = true;
    if (used_index >= count) {
      if (!Contains(pattern, u"BAD_FORMAT_TEST")) {
        ReportFormattingFailure(u"Not enough parameters", pattern,
                                std::vector<PlaceholderValue>(args, args + count));
      }
      if (pass.writing()) {
        for (int i = 0; i < 3; ++i) {
          if (pass.count_ + i < length) output[pass.count_ + i] = u'@';
        }
        // As everywhere, a writing pass never reports more than its buffer holds: marked text
        // cut by the buffer end ends in a NUL at the last position and reports `length`.
        if (pass.count_ + 3 >= length) {
          output[length - 1] = 0;
          return length;
        }
        output[pass.count_ + 3] = 0;
      }
      return pass.count_ + 3;
    }
    char16_t format[kMaxSpec + 2];
    const char16_t* chosen = nullptr;
    if (spec != nullptr) {
      if (spec_length > kMaxSpec) {
        chosen = kTooLongFormat;
      } else {
        format[0] = u'%';
        std::memcpy(format + 1, spec, sizeof(char16_t) * static_cast<size_t>(spec_length));
        format[spec_length + 1] = 0;
        chosen = format;
      }
    }
    if (!pass.Render(args[used_index], chosen)) return -1;
    ++automatic;
  }

  if (pass.writing()) {
    if (pass.count_ < length) {
      output[pass.count_] = 0;
    } else {
      output[length - 1] = 0;
      return length;
    }
  }
  if (checks) SkippedParameterAlerts(used, pattern, args, count);
  return pass.count_;
}

namespace kest {

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

void VelString::FormatList(const char16_t* pattern, const PlaceholderValue* args, size_t count) {
  if (pattern == nullptr) {
    Empty();
    return;
  }
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
  // Fast path: one writing pass into a stack buffer when the estimate says the text fits. The
  // buffer is not cleared: the pass writes its own NUL.
  char16_t stack[kFormatStackChars];
  const size_t pattern_length = std::char_traits<char16_t>::length(pattern);
  if (pattern_length < kFormatStackChars) {
    uint64_t guess = pattern_length;
    for (size_t i = 0; i < count && guess < kFormatStackChars; ++i) guess += args[i].lengthGuess();
    if (guess < kFormatStackChars) {
      const int written = BraceFormatCore(pattern, stack, kFormatStackChars, args, count);
      if (written >= 0 && written + 10 < kFormatStackChars) {
        SetString(stack, written);
        return;
      }
    }
  }
  // Slow path: measure, then write into a buffer of exactly the right size.
  const int needed = BraceFormatCore(pattern, nullptr, -1, args, count);
  if (needed < 0) {
    Empty();
    return;
  }
  if (needed + 1 <= kFormatStackChars) {
    const int written = BraceFormatCore(pattern, stack, needed + 1, args, count);
    SetString(stack, written < 0 ? 0 : written);
    return;
  }
  VelString result;
  char16_t* buffer = result.GetBufferSetLength(needed + 1);
  const int written = BraceFormatCore(pattern, buffer, needed + 1, args, count);
  result.ReleaseBuffer(written < 0 ? 0 : written);
  *this = std::move(result);
}

void VelString::AppendFormatList(const char16_t* pattern, const PlaceholderValue* args,
                                 size_t count) {
  if (pattern == nullptr) return;
  char16_t stack[kAppendStackChars];
  const int written = BraceFormatCore(pattern, stack, kAppendStackChars, args, count);
  if (written >= 0 && written + 10 < kAppendStackChars) {
    Append(stack, written);
    return;
  }
  const int needed = BraceFormatCore(pattern, nullptr, -1, args, count);
  if (needed <= 0) return;
  std::unique_ptr<char16_t[]> heap(new char16_t[static_cast<size_t>(needed) + 1]);
  const int n = BraceFormatCore(pattern, heap.get(), needed + 1, args, count);
  if (n > 0) Append(heap.get(), n);
}
