#!/usr/bin/env python3
"""Plants known faults in the library one at a time and checks that the test suite catches each.

A fault is a small edit that a real mistake would make (an off-by-one, a dropped lock, a relaxed
read that must acquire). Each is applied to a clean tree, the preset's tests and kestc are rebuilt,
and the preset's tests run; the fault is caught when any test fails. The tree is restored after
every fault, also when the run is interrupted. Builds go to build/plant-<preset>, configured from
the preset without -Werror: a warning (an unused variable, clang's lock analysis) must not stand
in for a test.

    tools/plant_faults.py                 every fault (native ones with the ci preset, threaded
                                          ones with tsan)
    tools/plant_faults.py NAME...         only these
    tools/plant_faults.py --list

Faults are tied to today's code: one whose text is no longer found exactly once is reported as
"stale", and one that no longer compiles as "unbuildable"; both count as failures of this tool,
so the list is kept up to date with the code. A run
takes about a minute per fault. Not part of CI.
"""
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Fault:
    def __init__(self, name, path, old, new, preset="ci", tests=None):
        self.name, self.path, self.old, self.new = name, path, old, new
        self.preset, self.tests = preset, tests


# The suites that cover resource strings, start-up and process constants.
RESOURCE_TESTS = "ResourceStrings|StringTables|StringBlocks|ModuleStartUp|BaseLanguage|ProcessConstants|Kestc"

FAULTS = [
    # Files, languages and the registry.
    Fault("fifo-open-blocks", "kest/platform/file_posix.cpp",
          "O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY", "O_RDONLY | O_CLOEXEC | O_NOCTTY"),
    Fault("registry-other-section-keeps-key", "kest/platform/reg_text.cpp",
          "in_key = local_machine && EqualIgnoringAsciiCase(header, want_key);",
          "if (local_machine) in_key = EqualIgnoringAsciiCase(header, want_key);"),
    Fault("generation-read-apart", "kest/lang/language.cpp",
          "const Published::Snapshot snapshot = state.published.Load();\n"
          "  if (snapshot.tag == 0 || state.torn_down.load(std::memory_order_relaxed)) {\n"
          "    if (generation) *generation = snapshot.generation;",
          "if (!state.Translating()) {\n"
          "    if (generation) *generation = state.published.Load().generation;"),
    Fault("translation-skips-epoch-check", "kest/lang/language.cpp",
          "if (key == 0 || state.epoch != CachedStringEpoch()) return CopyOf(text);",
          "if (key == 0) return CopyOf(text);"),
    Fault("list-offers-unloadable-tags", "kest/lang/language.cpp",
          "if (!header.complete || !kest::IsLoadableLanguageTag(header.tag)) continue;",
          "if (!header.complete) continue;"),
    Fault("checker-misses-unloadable-tag", "kest/lang/lang_check.cpp",
          "if (!tag.empty() && !IsLoadableLanguageTag(tag)) {",
          "if (false) {"),
    Fault("checker-quote-splits-pair", "kest/lang/lang_check.cpp",
          "    --shown;\n", "\n"),
    Fault("checker-one-finding-per-unit", "kest/lang/lang_check.cpp",
          "if (line != last_bad)", "if (line >= last_bad)"),
    Fault("checker-marker-from-two-past", "kest/lang/lang_check.cpp",
          "(index >= values ?", "(index > values ?"),
    Fault("checker-lone-quote-is-quoted", "kest/lang/lang_check.cpp",
          "return raw.size() >= 2 && raw.front() == u'\"'", "return raw.size() >= 1 && raw.front() == u'\"'"),
    Fault("checker-explicit-index-keeps-counter", "kest/lang/lang_check.cpp",
          "    scan.placeholders.push_back(std::move(placeholder));\n    ++automatic;",
          "    scan.placeholders.push_back(std::move(placeholder));\n    if (!has_index) ++automatic;"),
    Fault("utf16-pair-ending-dfff-refused", "kest/lang/lang_file.cpp",
          "if (next >= 0xDC00 && next <= 0xDFFF) {", "if (next >= 0xDC00 && next < 0xDFFF) {"),
    Fault("utf8-nul-not-suspect", "kest/lang/lang_file.cpp",
          "[](char16_t c) { return c == 0 || c == kReplacement; });",
          "[](char16_t c) { return c == kReplacement; });"),
    Fault("en-tag-loads-a-file", "kest/lang/lang_file.cpp",
          "if (tag.size() == 2 && (tag[0] | 0x20) == u'e' && (tag[1] | 0x20) == u'n') return false;",
          ""),
    # Resource strings, start-up and process constants.
    Fault("block-walk-trusts-count", "kest/base/string_block.h",
          "    if (count > block.size() - at) return {};\n", "", tests=RESOURCE_TESTS),
    Fault("cache-key-drops-module", "kest/lang/resource_string.h",
          "return (uint64_t{id} << 48) ^ reinterpret_cast<uintptr_t>(module);",
          "return (uint64_t{id} << 48) ^ (0 * reinterpret_cast<uintptr_t>(module));", tests=RESOURCE_TESTS),
    Fault("missing-alert-passed-in-inverted", "kest/lang/resource_string.cpp",
          "kest::AlertMissing(id, module == own, args, count);",
          "kest::AlertMissing(id, module != own, args, count);", tests=RESOURCE_TESTS),
    Fault("missing-id-cached", "kest/lang/resource_string.cpp",
          "        *static_cast<VelString*>(this) = std::move(missing);\n        return;",
          "        kest::Insert(key, id, module, missing, generation);\n"
          "        *static_cast<VelString*>(this) = std::move(missing);\n        return;", tests=RESOURCE_TESTS),
    Fault("fallback-translated", "kest/lang/resource_string.cpp",
          "if (module == own || !pattern.LoadStringW(own, id)) {",
          "if (module == own || !pattern.LoadStringW(own, id) ||\n"
          "          (pattern = GetTranslatedText(pattern), false)) {", tests=RESOURCE_TESTS),
    Fault("cache-never-evicts", "kest/lang/resource_string.cpp",
          "if (cache.items.size() > kStringCacheCapacity) {", "if (false) {", tests=RESOURCE_TESTS),
    Fault("cache-ignores-generation", "kest/lang/resource_string.cpp",
          "    if (generation == current) return;\n", "    return;\n", tests=RESOURCE_TESTS),
    Fault("insert-ignores-translation-generation", "kest/lang/resource_string.cpp",
          "if (generation == cache.generation) {", "if (true) {", tests=RESOURCE_TESTS),
    Fault("long-param-dropped", "kest/lang/resource_string.cpp",
          "if (n < 0 && args[i].Format(static_cast<char16_t*>(nullptr), 0, nullptr) > 999) {",
          "if (false) {", tests=RESOURCE_TESTS),
    Fault("english-answer-kept-only-when-english", "kest/lang/process_constants.cpp",
          "compare_exchange_strong(expected, english ? 1 : 0)",
          "compare_exchange_strong(expected, english ? 1 : kest::kUnknown)", tests=RESOURCE_TESTS),
    Fault("constant-escapes-before-trim", "kest/lang/process_constants.cpp",
          "      copy.Trim(u\" \\r\\n\\t\");\n      copy.Replace(u\"\\\\r\", u\"\\r\");\n"
          "      copy.Replace(u\"\\\\n\", u\"\\n\");\n      copy.Replace(u\"\\\\t\", u\"\\t\");",
          "      copy.Replace(u\"\\\\r\", u\"\\r\");\n      copy.Replace(u\"\\\\n\", u\"\\n\");\n"
          "      copy.Replace(u\"\\\\t\", u\"\\t\");\n      copy.Trim(u\" \\r\\n\\t\");", tests=RESOURCE_TESTS),
    Fault("base-language-not-registered", "kest/module/kest_common_app.cpp",
          "    SetBaseLanguageTest(&IsEnglishBuild);\n", "", tests=RESOURCE_TESTS),
    # The performance line.
    Fault("web-page-limit-inclusive", "kest/context/perf_log.cpp",
          "return e > int64_t{limit};", "return e >= int64_t{limit};",
          tests="PerfLog"),
    Fault("outside-request-kept", "kest/context/perf_log.cpp",
          "        m_bShouldLog = false;  // a request that went outside", "        // a request that went outside",
          tests="PerfLog"),
    Fault("should-log-reads-clock-first", "kest/context/perf_log.cpp",
          "  if (m_bHTTPTimedOut) return false;\n",
          "  if (m_bHTTPTimedOut) return false;\n  static_cast<void>(TimerEnd(m_tRequestStart, 1));\n",
          tests="PerfLog"),
    Fault("busy-call-at-75", "kest/context/perf_log.cpp",
          "return stats.count > kBusyCallCount ||", "return stats.count >= kBusyCallCount ||",
          tests="PerfLog"),
    Fault("client-wait-wraps", "kest/context/perf_log.cpp",
          "const int64_t e = int64_t{TimerEnd(m_tRequestStart, 1)} + m_nHTTPReadMS - m_nClientWaitMS;",
          "const int64_t e = static_cast<uint32_t>(TimerEnd(m_tRequestStart, 1) + m_nHTTPReadMS - m_nClientWaitMS);",
          tests="PerfLog"),
    Fault("kv-name-unescaped", "kest/context/perf_log.cpp",
          "    if (c == u'\"' || c == u'\\\\') {", "    if (c == u'\"') {", tests="PerfLog"),
    # Profile files.
    Fault("profile-temp-left-behind", "kest/platform/profile_posix.cpp",
          "    unlink(temp.c_str());\n", "", tests="Profile"),
    Fault("profile-writers-unserialised", "kest/platform/profile_posix.cpp",
          "    std::lock_guard in_process(g_writers);\n    const FileLock across_processes(path);\n"
          "    if (!across_processes.Held()) return false;\n", "", tests="Profile"),
    Fault("profile-mode-not-kept", "kest/platform/profile_posix.cpp",
          "  if (stat(path.c_str(), &info) == 0) mode = info.st_mode & 07777;\n", "",
          tests="Profile"),
    Fault("profile-lists-deduplicated", "kest/base/ini_text.cpp",
          "    names.push_back(parsed.name);\n  }\n  return names;\n}\n\nstd::vector",
          "    bool seen = false;\n    for (const auto& n : names) seen = seen || IniNamesEqual(n, parsed.name);\n"
          "    if (!seen) names.push_back(parsed.name);\n  }\n  return names;\n}\n\nstd::vector",
          tests="Profile"),
    Fault("ini-no-nameless-section", "kest/base/ini_text.cpp",
          "    if (section.empty()) return {kNoHeader, 0, i};\n", "", tests="Profile|IniCorpus"),
    Fault("ini-delete-first-section-only", "kest/base/ini_text.cpp",
          "         range = FindSection(section, range.end)) {",
          "         range = FindSection(u\"\\u0001\", range.end)) {", tests="Profile|IniCorpus"),
    Fault("ini-odd-utf16-tail", "kest/base/ini_text.cpp",
          "  if (utf16 && line.raw.size() % 2 != 0) {", "  if (false) {", tests="Fuzz"),
    # Assertion reporting.
    Fault("assert-recheck-skipped", "kest/assertion/report_assert.cpp",
          "if (kest::Ignored(key, false)) {", "if (false) {", tests="Assert"),
    Fault("assert-show-asserts-nonzero", "kest/assertion/report_assert.cpp",
          "ReadHostSwitch(gShowAsserts) == 1", "ReadHostSwitch(gShowAsserts) != 0", tests="Assert"),
    Fault("assert-today-expires-today", "kest/assertion/report_assert.cpp",
          "if (until < today) {", "if (until <= today) {", tests="Assert"),
    Fault("assert-key-backslash-only", "kest/assertion/report_assert.cpp",
          "const size_t slash = path.find_last_of(u\"\\\\/\");",
          "const size_t slash = path.find_last_of(u\"\\\\\");", tests="Assert"),
    Fault("assert-key-unsigned", "kest/assertion/report_assert.cpp",
          "  if (line < 0) digits[n++] = u'-';\n", "", tests="Assert"),
    Fault("assert-sink-reentered", "kest/assertion/report_assert.cpp",
          "  if (t_in_sink) return true;  // an assertion raised by the sink itself\n", "",
          tests="Assert"),
    # Colours.
    Fault("color-dark-inverts", "kest/theme/app_colors.cpp",
          "const int turn = 255 - std::max({r, g, b}) - std::min({r, g, b});",
          "const int turn = 0;", tests="Color"),
    Fault("color-flip-keeps-cache", "kest/theme/app_colors.cpp",
          "    CAcquireCS guard(kest::detail::ColorLock());\n    kest::Cache().Clear();\n", "",
          tests="Color"),
    Fault("color-bad-low-digit", "kest/theme/app_colors.cpp",
          "  return 255;\n}", "  return 15;\n}", tests="Color"),
    Fault("color-fill-skipped", "kest/theme/app_colors.cpp",
          "g_first_use_done.exchange(true, std::memory_order_acq_rel)) FillColorsFile();",
          "g_first_use_done.exchange(true, std::memory_order_acq_rel)) {}", tests="Color"),
    Fault("color-bad-id-indexes", "kest/theme/app_colors.cpp",
          "  if (id < 0 || id >= kest::kColorCount) return", "  if (id < 0) return", tests="Color"),
    Fault("color-repaint-no-ancestors", "kest/theme/app_colors.cpp",
          "    window = windows.parent != nullptr ? windows.parent(window) : nullptr;",
          "    window = nullptr;", tests="Color"),
    Fault("color-modes-share-row", "kest/theme/app_colors.cpp",
          "    if (m == eColorModeLight) return &light;", "    if (m != eColorModeDark) return &light;",
          tests="Color"),
    # Interned texts.
    Fault("clear-keeps-epoch", "kest/intern/cached_string.cpp",
          "  table.epoch.fetch_add(1, std::memory_order_release);\n", ""),
    Fault("interned-order-by-bytes", "kest/intern/cached_string.cpp",
          "  return x.View() < y.View();",
          "  return std::memcmp(x.GetString(), y.GetString(), x.GetLength() * 2) < 0;"),
    # Strings.
    Fault("cow-relaxed-count", "kest/strings/vel_string.h",
          "data->nRefs)).load(std::memory_order_acquire);", "data->nRefs)).load(std::memory_order_relaxed);",
          preset="tsan", tests="VelString"),
    Fault("delete-at-end-forks", "kest/strings/vel_string.cpp",
          "if (count <= 0 || index >= length) return length;",
          "if (count <= 0 || index > length) return length;"),
    Fault("ended-thread-heap-uncounted", "kest/strings/string_manager.cpp",
          "    } else {\n      AtomicAdd<int64_t>(byte_total_, static_cast<int64_t>(size));\n"
          "      AtomicAdd<int32_t>(heap_block_count_, 1);\n    }",
          "    }"),
    Fault("spill-without-class-lock", "kest/strings/string_manager.cpp",
          "  if (!to_heap) {\n    kest::detail::CacheGuard guard(cache);",
          "  if (!to_heap) {",
          preset="tsan", tests="Manager"),
    Fault("logical-order-shorter-spelling-first", "kest/strings/logical_order.cpp",
          "if (length_a != length_b) return length_a > length_b ? -1 : 1;",
          "if (length_a != length_b) return length_a < length_b ? -1 : 1;"),
    Fault("lone-star-sorts-low", "kest/strings/logical_order.cpp",
          "if (*a == gSortLowChar && a[1] != 0) return false;",
          "if (*a == gSortLowChar) return false;"),
    Fault("round-size-not-clamped", "kest/strings/string_manager.cpp",
          "if (round > 256) {", "if (round > 1000) {"),
    Fault("utf8-overlong-accepted", "kest/base/utf.cpp",
          "extra = 2, value = lead & 0x0F, min = 0x800;", "extra = 2, value = lead & 0x0F, min = 0;"),
    # Formatting, alerts and accounting.
    Fault("brace-automatic-index-skips-explicit", "kest/format/brace_format.cpp",
          "    ++automatic;", "    if (!has_index) ++automatic;"),
    Fault("alert-throttle-899-seconds", "kest/diag/dev_alerts.cpp",
          "if (last + kAlertIntervalSec >= now) return false;",
          "if (last + kAlertIntervalSec > now) return false;"),
    Fault("lock-stack-tenth-slot-counted", "kest/context/lock_accounting.h",
          "if (i + 1 < CentralContext::kLockSlots) c.m_nLocksHeld", "c.m_nLocksHeld"),
    # Locks and thread slots.
    Fault("inline-release-frees-any-depth", "kest/platform/fast_lock.h",
          "if (s.recursion == 1 && s.spinners", "if (s.recursion >= 1 && s.spinners"),
    Fault("reentrant-try-uncounted", "kest/platform/word_lock.h",
          "    if (s.owner.load(std::memory_order_relaxed) == me) {\n      ++s.recursion;\n      return true;",
          "    if (s.owner.load(std::memory_order_relaxed) == me) {\n      return true;"),
    Fault("freed-fast-slot-writable", "kest/platform/tls_posix.cpp",
          "    if ((generation & 1) == 0) return false;\n    t_fast_slots", "    t_fast_slots"),
    Fault("fast-slot-bound-off-by-one", "kest/platform/fast_thread.h",
          "return index - 1 < kFastThreadSlots;", "return index - 1 <= kFastThreadSlots;"),
    # CRC dispatch.
    Fault("crc-prefers-256-bit", "kest/util/crc.cpp",
          "  if (CrcKernelSupported(CrcKernel::kVpclmul512)) return CrcKernel::kVpclmul512;\n"
          "  if (CrcKernelSupported(CrcKernel::kVpclmul256)) return CrcKernel::kVpclmul256;",
          "  if (CrcKernelSupported(CrcKernel::kVpclmul256)) return CrcKernel::kVpclmul256;\n"
          "  if (CrcKernelSupported(CrcKernel::kVpclmul512)) return CrcKernel::kVpclmul512;"),
    # Traces, heaps, exit, shutdown and window translation.
    Fault("trace-lines-not-cut", "kest/diag/stack_trace.cpp",
          "if (line.size() > kMaxLine) {", "if (false) {", tests="StackTrace"),
    Fault("trace-endless-guard-late", "kest/diag/stack_trace.cpp",
          "if (self_returns > kMaxSelfReturns) {", "if (self_returns > 2 * kMaxSelfReturns) {",
          tests="StackTrace"),
    Fault("trace-nested-walks", "kest/diag/stack_trace.cpp",
          "if (t_in_trace) return false;", "if (false) return false;", tests="StackTrace"),
    Fault("trace-modules-not-refreshed", "kest/diag/stack_trace.cpp",
          "  platform::RefreshSymbols();\n", "", tests="StackTrace"),
    Fault("heap-lines-not-indented", "kest/diag/heap_tracking.cpp",
          "    text += u'\\t';\n", "", tests="HeapTracking"),
    Fault("exit-runs-clean-up", "kest/platform/process_posix.cpp",
          "_exit(PosixExitStatus(code));", "__builtin_exit(PosixExitStatus(code));",
          tests="ProcessExit"),
    Fault("exit-code-low-byte-only", "kest/platform/process_posix.cpp",
          "_exit(PosixExitStatus(code));", "_exit(static_cast<int>(code & 0xFF));",
          tests="ProcessExit"),
    Fault("shutdown-keeps-ignores", "kest/module/shutdown.cpp",
          "  kest::ClearAssertIgnores();\n", "", tests="Asserts"),
    Fault("clear-frees-under-readers", "kest/intern/cached_string.cpp",
          "  WaitForReaders(table);\n", "", preset="asan", tests="CachedString"),
    Fault("menu-popups-past-ten", "kest/lang/window_translation.cpp",
          "constexpr int kPopupPositions = 10;", "constexpr int kPopupPositions = 11;",
          tests="Translation"),
    Fault("window-originals-kept", "kest/lang/window_translation.cpp",
          "  originals.texts.clear();\n", "", tests="Translation"),
    # kestc.
    Fault("sort-longer-line-first", "tools/kestc.cpp",
          "return a.GetLength() < b.GetLength();", "return a.GetLength() > b.GetLength();"),
    Fault("lang-check-status-2-lost", "tools/kestc.cpp",
          "      if (status == 0) status = 1;", "      status = 1;"),
]


def run(cmd, timeout):
    try:
        return subprocess.run(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def build_dir(preset):
    return os.path.join(ROOT, "build", "plant-" + preset)


def build(preset):
    if not os.path.exists(os.path.join(build_dir(preset), "CMakeCache.txt")):
        configured = run(["cmake", "--preset", preset, "-B", build_dir(preset), "-DKEST_WERROR=OFF",
                          "-DKEST_BUILD_BENCHMARKS=OFF"], 600)
        if configured != 0:
            return configured
    return run(["cmake", "--build", build_dir(preset), "--target", "kest_tests", "kestc"], 3600)


def plant(fault):
    path = os.path.join(ROOT, fault.path)
    original = open(path).read()
    if original.count(fault.old) != 1:
        return "stale"
    try:
        open(path, "w").write(original.replace(fault.old, fault.new))
        if build(fault.preset) != 0:
            return "unbuildable"  # a fault the compiler refuses proves nothing about the tests
        cmd = ["ctest", "--test-dir", build_dir(fault.preset), "-j2", "--timeout", "120",
               "-E", "^(Package|Layers|Headers)\\."]
        if fault.tests:
            cmd += ["-R", fault.tests]
        result = run(cmd, 3600)
        return "missed" if result == 0 else "caught"
    finally:
        open(path, "w").write(original)


def main(argv):
    if argv[1:] == ["--list"]:
        for fault in FAULTS:
            print(f"{fault.name:42} {fault.path} ({fault.preset})")
        return 0
    chosen = [f for f in FAULTS if len(argv) < 2 or f.name in argv[1:]]
    results = []
    for fault in chosen:
        start = time.time()
        outcome = plant(fault)
        results.append((fault.name, outcome))
        print(f"{fault.name:42} {outcome:24} {time.time() - start:5.0f} s", flush=True)
    # Leave the builds matching the tree.
    for preset in sorted({f.preset for f in chosen}):
        build(preset)
    caught = sum(1 for _, outcome in results if outcome == "caught")
    print(f"{caught} of {len(results)} faults caught")
    return 0 if caught == len(results) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
