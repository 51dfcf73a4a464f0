// Assertion reporting: ReportAssert is what the product's assertion check calls when an asserted
// condition is false.
//
// While gShowAsserts is exactly 1 and none of gbRunningAsService, gbInChromiumMsgPump and
// gbShuttingDown is set, and no other box is open (gInAssert), it shows one box at a time titled
// "ASSERT" with Abort ("Always ignore this assert"), Retry ("Break into debugger") and Ignore
// ("Continue running"), and answers false only for Retry and Cancel: the caller then breaks into
// the debugger. Assertions are known by a key, the source file's name (after its last '\' or '/')
// and the line, "Widget.cpp" line 42 being "Widget_cpp_42". Keys can be silenced for good or until
// a day ends (UTC) in the ignore file beside the executable, named after it ("App.exe" ->
// "App_exe_perm_ignores.txt"):
//
//   [Ignores]
//   Widget_cpp_42=
//   [Today]
//   Parser_cpp_7=20261208
//
// Entries of [Today] that have expired are deleted from the file when it is read; nothing else
// is ever written to it. "Always ignore" silences a key for the rest of the process, in memory.
// The file is read while the in-memory set is empty, that is until the first key is silenced.
//
// Locks: the box lock, then the ignore-set lock (both CLockCS, accounted in the thread's context);
// the ignore-set lock is never held while waiting for the box lock, and only the box lock is held
// while a box is open. Any thread.
#pragma once

#include <cstdint>

#include "kest/kest_export.h"
#include "kest/strings/vel_string.h"

// Reports a failed assertion of `text` in `function` at `file`:`line`; true to go on, false when
// the caller should break into the debugger. Null texts read as empty. Never throws: running out
// of memory answers true.
KEST_API bool ReportAssert(const char16_t* file, int line, const char16_t* text,
                           const char16_t* function) noexcept;

namespace kest {

// What became of one ReportAssert call.
enum class AssertOutcome {
  kSwitchedOff,  // gShowAsserts or a host switch said no
  kInAssert,     // another box was open, or a guard was alive
  kIgnored,      // the key was in the ignore set or file
  kAnswered,     // a box (or the presenter) answered; see `answer`
};

struct AssertCall {
  const char16_t* file;
  int line;
  const char16_t* text;
  const char16_t* function;
  const char16_t* key;  // empty when the call ended before the key was built
  AssertOutcome outcome;
  int answer;  // the box's answer for kAnswered (0 when no box could be shown), else 0
  bool result;
};

// Replaces the box, on every platform: `present(user, title, text, style)` is called where the box
// would be shown (box lock held, gInAssert raised) and returns the box's answer code. Null
// restores the box. Installed atomically; any thread.
KEST_API void SetAssertPresenter(int (*present)(void* user, const char16_t* title,
                                                const char16_t* text, uint32_t style),
                                 void* user) noexcept;

// `sink(user, call)` sees every ReportAssert call on the asserting thread, after the decision, with
// no library lock held; an assertion inside the sink returns true without reaching it again. Null
// removes it. Installed atomically; any thread.
KEST_API void SetAssertSink(void (*sink)(void* user, const AssertCall& call), void* user) noexcept;

// The assertion key of `file` and `line`.
KEST_API VelString AssertKey(const char16_t* file, int line);

// The ignore file of the executable at `executable`: the last '.' of its file name becomes '_',
// then "_perm_ignores.txt" (appended to the whole path when the name has no '.').
KEST_API VelString AssertIgnoreFilePath(const VelString& executable);

// Today as year * 10000 + month * 100 + day, in UTC, from `seconds` since 1970.
KEST_API uint32_t UtcDateNumber(int64_t seconds) noexcept;

// Test seam and shutdown: empties the in-memory ignore set.
KEST_API void ClearAssertIgnores() noexcept;

}  // namespace kest
