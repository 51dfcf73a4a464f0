#include "kest/assertion/report_assert.h"

#include <atomic>
#include <climits>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "kest/assertion/assert_locks.h"
#include "kest/base/callback_slot.h"
#include "kest/base/host_switch.h"
#include "kest/base/module_lifetime.h"
#include "kest/context/lock_cs.h"
#include "kest/diag/module_globals.h"
#include "kest/format/brace_format.h"
#include "kest/platform/clock.h"
#include "kest/platform/paths.h"
#include "kest/platform/profile.h"
#include "kest/platform/thread.h"
#include "kest/platform/ui.h"

namespace kest {
namespace {

constexpr uint32_t kBoxStyle = 0x250032;
constexpr uint32_t kValueBuffer = 100;

// The ignore set. Two keys are the same key when neither orders before the other in VelString's
// logical order, which happens only for equal texts, so the set is kept by text: an ignored
// assertion is found by one hash rather than by logical compares.
using IgnoreKeys = std::unordered_set<VelString, VelStringHash>;

// Guarded by the ignore-set lock; never freed, so a report during exit finds it (empty).
IgnoreKeys& IgnoreSet() {
  static auto* const set = new IgnoreKeys;
  return *set;
}

constinit CallbackSlot<int (*)(void*, const char16_t*, const char16_t*, uint32_t)> g_presenter;
constinit CallbackSlot<void (*)(void*, const AssertCall&)> g_sink;
thread_local bool t_in_sink = false;

int32_t InAssert() noexcept {
  // gInAssert is volatile (hosts declare it so); the built-in reads a volatile object as it is.
  return __atomic_load_n(&gInAssert, __ATOMIC_ACQUIRE);
}

// _wtoi: leading blanks, an optional sign, digits; anything else ends the number (none: 0).
int32_t ToInt(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > INT32_MAX) value = int64_t{INT32_MAX} + 1;
  }
  value = negative ? -value : value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// Under the ignore-set lock, while the set is empty.
void LoadIgnoreFile() KEST_REQUIRES(detail::AssertIgnoreLock()) {
  const uint32_t today = UtcDateNumber(platform::WallClockSeconds());
  const VelString path = AssertIgnoreFilePath(VelString(platform::ExecutablePath()));
  const std::u16string file(path.View());
  IgnoreKeys& set = IgnoreSet();
  for (const std::u16string& name : platform::ReadProfileNames(u"Ignores", file.c_str()))
    set.insert(VelString(name));
  for (const std::u16string& name : platform::ReadProfileNames(u"Today", file.c_str())) {
    char16_t value[kValueBuffer];
    const uint32_t n =
        platform::ReadProfileText(u"Today", name.c_str(), u"", value, kValueBuffer, file.c_str());
    const auto until = static_cast<uint32_t>(ToInt(std::u16string_view(value, n)));
    if (until < today) {
      // Expired (or not a date): out of the file. A file that cannot be written keeps the entry,
      // which still does not silence.
      platform::WriteProfileText(u"Today", name.c_str(), nullptr, file.c_str());
    } else {
      set.insert(VelString(name));
    }
  }
}

bool Ignored(const VelString& key, bool load) {
  CAcquireCS guard(detail::AssertIgnoreLock());
  IgnoreKeys& set = IgnoreSet();
  if (load && set.empty()) LoadIgnoreFile();
  return set.count(key) != 0;
}

// Hands the call to the sink, once per thread at a time.
bool Finish(AssertCall call) noexcept {
  const auto* sink = g_sink.Current();
  if (sink != nullptr && !t_in_sink) {
    t_in_sink = true;
    try {
      sink->fn(sink->user, call);
    } catch (...) {
    }
    t_in_sink = false;
  }
  return call.result;
}

int ShowBox(const VelString& text) {
  const auto* presenter = g_presenter.Current();
  if (presenter != nullptr) return presenter->fn(presenter->user, u"ASSERT", text, kBoxStyle);
  return platform::ShowMessageBox(u"ASSERT", text, kBoxStyle);
}

}  // namespace

VelString AssertKey(const char16_t* file, int line) {
  const std::u16string_view path = file ? std::u16string_view(file) : std::u16string_view();
  const size_t slash = path.find_last_of(u"\\/");
  const std::u16string_view name =
      slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  // The text "{0:s}_{1:d}" renders, every '.' then made '_', written directly: every assertion
  // that reaches the ignore set builds it.
  char16_t digits[12];
  size_t n = 0;
  uint32_t magnitude = line < 0 ? 0u - static_cast<uint32_t>(line) : static_cast<uint32_t>(line);
  do {
    digits[n++] = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (line < 0) digits[n++] = u'-';
  if (name.size() > static_cast<size_t>(INT_MAX) - sizeof digits) throw std::bad_alloc();
  const int length = static_cast<int>(name.size() + 1 + n);
  VelString key;
  char16_t* out = key.GetBufferSetLength(length);
  for (const char16_t c : name) *out++ = c == u'.' ? u'_' : c;
  *out++ = u'_';
  while (n != 0) *out++ = digits[--n];
  key.ReleaseBuffer(length);
  return key;
}

VelString AssertIgnoreFilePath(const VelString& executable) {
  const std::u16string_view path = executable.View();
  const size_t name_start =
      path.find_last_of(u"\\/") == std::u16string_view::npos ? 0 : path.find_last_of(u"\\/") + 1;
  const size_t dot = path.rfind(u'.');
  VelString result(path);
  if (dot != std::u16string_view::npos && dot >= name_start) {
    char16_t* units = result.GetBuffer();
    units[dot] = u'_';
    result.ReleaseBuffer(static_cast<int>(path.size()));
  }
  result += u"_perm_ignores.txt";
  return result;
}

uint32_t UtcDateNumber(int64_t seconds) noexcept {
  // Days to civil date (proleptic Gregorian), exact for any day.
  int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  return static_cast<uint32_t>(year * 10000 + month * 100 + day);
}

void ClearAssertIgnores() noexcept {
  CAcquireCS guard(detail::AssertIgnoreLock());
  IgnoreSet().clear();
}

namespace detail {
void StartAssertIgnoreSet() { IgnoreSet(); }
void StopAssertIgnoreSet() noexcept { ClearAssertIgnores(); }
}  // namespace detail

void SetAssertPresenter(int (*present)(void*, const char16_t*, const char16_t*, uint32_t),
                        void* user) noexcept {
  g_presenter.Install(present, user);
}

void SetAssertSink(void (*sink)(void*, const AssertCall&), void* user) noexcept {
  g_sink.Install(sink, user);
}

// The answer's effect and the result the caller acts on; called with the box lock held.
bool ActOnAnswer(int answer, const VelString& key) {
  switch (answer) {
    case platform::kIdAbort: {
      CAcquireCS guard(detail::AssertIgnoreLock());
      IgnoreSet().insert(key);
      return true;
    }
    case platform::kIdRetry:
    case platform::kIdCancel:
      return false;
    default:
      return true;
  }
}

}  // namespace kest

namespace kest {
namespace {

[[gnu::noinline]] bool ReportSwitchedOn(const char16_t* file, int line, const char16_t* text,
                                        const char16_t* function) noexcept;

}  // namespace
}  // namespace kest

bool ReportAssert(const char16_t* file, int line, const char16_t* text,
                  const char16_t* function) noexcept {
  using kest::detail::ReadHostSwitch;
  if (ReadHostSwitch(gShowAsserts) == 1 && !ReadHostSwitch(gbRunningAsService) &&
      !ReadHostSwitch(gbInChromiumMsgPump) && !ReadHostSwitch(gbShuttingDown)) {
    return kest::ReportSwitchedOn(file, line, text, function);
  }
  // Switched off: what every assertion of a production host costs, so nothing more than the sink.
  if (kest::g_sink.Current() == nullptr) return true;
  return kest::Finish({file != nullptr ? file : u"", line, text != nullptr ? text : u"",
                       function != nullptr ? function : u"", u"", kest::AssertOutcome::kSwitchedOff,
                       0, true});
}

namespace kest {
namespace {

bool ReportSwitchedOn(const char16_t* file, int line, const char16_t* text,
                      const char16_t* function) noexcept {
  if (file == nullptr) file = u"";
  if (text == nullptr) text = u"";
  if (function == nullptr) function = u"";
  AssertCall call{file, line, text, function, u"", AssertOutcome::kAnswered, 0, true};
  if (t_in_sink) return true;  // an assertion raised by the sink itself
  if (kest::InAssert() != 0) {
    call.outcome = AssertOutcome::kInAssert;
    return kest::Finish(call);
  }
  try {
    const VelString key = kest::AssertKey(file, line);
    call.key = key;
    if (kest::Ignored(key, true)) {
      call.outcome = AssertOutcome::kIgnored;
      return kest::Finish(call);
    }
    const VelString exe(kest::platform::ExecutablePath());
    VelString box(text);
    box.AppendFormat(
        u"\r\n\r\nFunc: {3}\r\nFile: {0:s}\r\nLine: {1:u}\r\nApp: {2:s}\r\nTID: {4}\r\n\r\n", file,
        static_cast<unsigned>(line), exe, function, kest::platform::CurrentThreadId());
    box +=
        u"Ignore = Continue running\r\nRetry = Break into debugger\r\nAbort = Always ignore this "
        u"assert";
    {
      CAcquireCS box_guard(kest::detail::AssertBoxLock());
      // A box shown meanwhile may have silenced this key.
      if (kest::Ignored(key, false)) {
        call.outcome = AssertOutcome::kIgnored;
      } else {
        {
          const CLockLogException in_assert;  // gInAssert raised while the box is open
          call.answer = kest::ShowBox(box);
        }
        call.outcome = AssertOutcome::kAnswered;
        // The answer is acted on before the box lock goes: a thread waiting for the box must
        // find an "Always ignore" key in the set when it re-checks.
        call.result = kest::ActOnAnswer(call.answer, key);
      }
    }
    return kest::Finish(call);  // no library lock held
  } catch (...) {
    // Out of memory, or a presenter that threw: carry on.
    call.result = true;
    return kest::Finish(call);
  }
}

}  // namespace
}  // namespace kest
