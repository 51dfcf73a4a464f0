// Stack traces: the header, frame order with files and lines, the line forms and their limits, the
// walk's guards, nesting and threads.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "kest/base/utf.h"
#include "kest/diag/stack_trace.h"
#include "kest/platform/symbols.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

std::string Utf8(const VelString& text) { return kest::ToUtf8(text.View()); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size() - 1;
    lines.push_back(text.substr(start, end - start + 1));
    start = end + 1;
  }
  return lines;
}

size_t LineWith(const std::vector<std::string>& lines, const char* text) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].find(text) != std::string::npos) return i;
  return lines.size();
}

// Collects what the base forms, line by line, in the narrow text it forms.
class Collecting : public StackWalker {
 public:
  void EmitLine(const char* line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

}  // namespace

// Unmangled names, so that a trace shows them the same on every platform.
extern "C" {
[[gnu::noinline]] void kest_probe_inner(std::string* trace) {
  *trace = Utf8(GetStackTrace());
  asm volatile("" ::: "memory");  // keeps the call from becoming a tail call
}
[[gnu::noinline]] void kest_probe_outer(std::string* trace) {
  kest_probe_inner(trace);
  asm volatile("" ::: "memory");
}
}

namespace {
std::string ProbeTrace() {
  std::string trace;
  kest_probe_outer(&trace);
  return trace;
}
}  // namespace

namespace {

// Each trace has its own header; frames come innermost first, with this file and a line.
TEST(StackTrace, HeaderInEveryTraceAndFramesInnermostFirst) {
  kest::ResetSymbolsForTesting();
  for (int call = 0; call < 2; ++call) {
    const std::vector<std::string> lines = Lines(ProbeTrace());
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("SymInit: Symbol-SearchPath: '", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("OS-Version: ", 0), 0u) << lines[1];
    for (const std::string& line : lines) EXPECT_EQ(line.back(), '\n');
    const size_t inner = LineWith(lines, "kest_probe_inner"),
                 outer = LineWith(lines, "kest_probe_outer"),
                 trace = LineWith(lines, "GetStackTrace");
    ASSERT_LT(outer, lines.size());
    EXPECT_LT(trace, inner);
    EXPECT_EQ(inner + 1, outer) << "no frame between them is skipped";
    EXPECT_NE(lines[inner].find("stack_trace_test.cpp ("), std::string::npos) << lines[inner];
    EXPECT_EQ(lines[inner].find("ERROR"), std::string::npos);
  }
}

// Without a usable symbol engine a trace is one error line and nothing else; the next trace tries
// the set-up again.
TEST(StackTrace, AFailedSetUpIsOneLineAndIsTriedAgain) {
  kest::ResetSymbolsForTesting();
  kest::FailSymbolSetUpForTesting(true);
  EXPECT_EQ(Utf8(GetStackTrace()),
            "ERROR: Error while initializing dbghelp.dll, GetLastError: 0 (Address: "
            "0000000000000000)\n");
  kest::FailSymbolSetUpForTesting(false);
  EXPECT_EQ(Lines(ProbeTrace())[0].rfind("SymInit:", 0), 0u);
}

TEST(StackTrace, LineForms) {
  const auto record = [](uint64_t address, const char* file, uint32_t line, const char* module,
                         const char* raw, const char* short_name, const char* full) {
    StackWalker::FrameRecord r;
    r.address = address;
    std::strcpy(r.source_file, file);
    r.line_number = line;
    std::strcpy(r.module_name, module);
    std::strcpy(r.raw_name, raw);
    std::strcpy(r.short_name, short_name);
    std::strcpy(r.full_name, full);
    return r;
  };
  const struct {
    StackWalker::FrameRecord frame;
    const char* expected;
  } cases[] = {
      {record(0x1234, "a.cpp", 12, "m", "_Z1fi", "f", "f(int)"), "a.cpp (12): f(int)\n"},
      {record(0x1234, "a.cpp", 12, "m", "_Z1fi", "f", ""), "a.cpp (12): f\n"},
      {record(0xDEADBEEF, "", 0, "mod", "raw_f", "", ""),
       "00000000DEADBEEF (mod): (filename not available): raw_f\n"},
      {record(0xABCDEF0123456789, "", 0, "", "", "", ""),
       "ABCDEF0123456789 ((module-name not available)): (filename not available): "
       "(function-name not available)\n"},
      {record(0, "a.cpp", 1, "m", "f", "f", "f"), ""},
  };
  for (const auto& c : cases) {
    Collecting walker;
    walker.ReportFrame(StackWalker::kNextFrame, c.frame);
    std::string all;
    for (const std::string& line : walker.lines) all += line;
    EXPECT_EQ(all, c.expected);
  }
  Collecting walker;
  walker.ReportLookupError("SymGetModuleInfo64", -5, 0x1234);
  ASSERT_EQ(walker.lines.size(), 1u);
  EXPECT_EQ(walker.lines[0],
            "ERROR: SymGetModuleInfo64, GetLastError: -5 (Address: 0000000000001234)\n");
}

// A line over 1,023 characters keeps 1,022 and its line feed, cut between characters; the
// collected text is widened from the system's narrow text.
TEST(StackTrace, LongLinesAreCutAndNarrowTextIsWidened) {
#if defined(_WIN32)
  const char* wide_char = "";  // the ANSI code page differs between systems
#else
  const char* wide_char = "\xC3\x9C";  // U+00DC in UTF-8
#endif
  // "f.cpp (7): " is 11 bytes, so a name of n bytes makes a line of n + 12.
  const struct {
    size_t name_length;
    size_t wide_at;  // where a two-byte character sits in the name, if anywhere
    size_t expected_length;
  } cases[] = {{10, 0, 22},       {1000, 0, 1012},
               {1011, 0, 1023},   {1012, 0, 1023},
               {1023, 0, 1023},   {1023, 1010, std::strlen(wide_char) == 2 ? 1022u : 1023u},
               {1023, 1009, 1023}};
  for (const auto& c : cases) {
    StackWalker::FrameRecord frame;
    frame.address = 1;
    std::strcpy(frame.source_file, "f.cpp");
    frame.line_number = 7;
    std::string name(c.name_length, 'n');
    if (c.wide_at != 0) name.replace(c.wide_at, std::strlen(wide_char), wide_char);
    std::strcpy(frame.full_name, name.c_str());
    Collecting walker;
    walker.ReportFrame(StackWalker::kNextFrame, frame);
    ASSERT_EQ(walker.lines.size(), 1u);
    EXPECT_EQ(walker.lines[0].size(), c.expected_length) << c.name_length << " " << c.wide_at;
    EXPECT_EQ(walker.lines[0].back(), '\n');
  }
#if !defined(_WIN32)
  VelStackWalker walker;
  walker.EmitLine("dir/\xC3\x9C.cpp (3): f\n");
  EXPECT_EQ(std::u16string(walker.m_Text.View()), u"dir/\u00DC.cpp (3): f\n");
#endif
}

std::vector<kest::TraceFrame> g_frames;
bool g_walk_fails = false;

size_t ScriptedFrames(kest::TraceFrame* frames, size_t capacity, bool& failed) {
  const size_t n = std::min(capacity, g_frames.size());
  std::copy(g_frames.begin(), g_frames.begin() + static_cast<ptrdiff_t>(n), frames);
  failed = g_walk_fails;
  return n;
}

// Stacks that return to themselves, that never end, and whose walk fails, stop with an error line.
TEST(StackTrace, TheWalkEndsOnEndlessAndBrokenStacks) {
  const auto self_returning = [](size_t n) {
    std::vector<kest::TraceFrame> frames(n, kest::TraceFrame{0x40, 0x40});
    return frames;
  };
  const auto endless = [](size_t n) {
    std::vector<kest::TraceFrame> frames;
    for (size_t i = 0; i < n; ++i) frames.push_back({0x1000 + 16 * i, 0x1010 + 16 * i});
    return frames;
  };
  const struct {
    std::vector<kest::TraceFrame> frames;
    bool fails;
    size_t frame_lines;
    const char* last_error;
  } cases[] = {
      {self_returning(5000), false, 1001, "StackWalk64-Endless-Callstack!"},
      {endless(12000), false, 10000, "StackWalk64-Endless-Callstack!"},
      {endless(3), true, 3, "StackWalk64, GetLastError: 0 (Address: 0000000000001020)"},
      {{{0x1000, 0x1010}, {0x1010, 0}}, false, 2, nullptr},
  };
  kest::SetFrameSourceForTesting(ScriptedFrames);
  for (const auto& c : cases) {
    g_frames = c.frames;
    g_walk_fails = c.fails;
    const std::vector<std::string> lines = Lines(Utf8(GetStackTrace()));
    size_t frame_lines = 0;
    for (const std::string& line : lines)
      frame_lines += line.find("(filename not") != std::string::npos;
    EXPECT_EQ(frame_lines, c.frame_lines);
    if (c.last_error != nullptr) {
      EXPECT_NE(lines.back().find(c.last_error), std::string::npos) << lines.back();
    } else {
      EXPECT_EQ(lines.back().find("ERROR"), std::string::npos) << lines.back();
    }
  }
  kest::SetFrameSourceForTesting(nullptr);
}

// A module loaded after the symbols were set up shows its functions: the engine learns of it.
TEST(StackTrace, AModuleLoadedLaterIsKnown) {
  ASSERT_FALSE(GetStackTrace().IsEmpty());
  using Trace = void (*)(VelString*);
#if defined(_WIN32)
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  HMODULE module = LoadLibraryW(
      (std::filesystem::path(exe).parent_path() / "kest_test_module.dll").wstring().c_str());
  ASSERT_NE(module, nullptr);
  const auto trace = reinterpret_cast<Trace>(
      reinterpret_cast<void*>(GetProcAddress(module, "KestTestModuleTrace")));
#else
  void* module = dlopen(
      (std::filesystem::canonical("/proc/self/exe").parent_path() / "kest_test_module.so").c_str(),
      RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  const auto trace = reinterpret_cast<Trace>(dlsym(module, "KestTestModuleTrace"));
#endif
  ASSERT_NE(trace, nullptr);
  VelString text;
  trace(&text);
  const std::vector<std::string> lines = Lines(Utf8(text));
  const size_t at = LineWith(lines, "KestTestModuleTrace");
  ASSERT_LT(at, lines.size()) << Utf8(text);
  EXPECT_NE(lines[at].find("test_module.cpp ("), std::string::npos) << lines[at];
#if defined(_WIN32)
  FreeLibrary(module);
#else
  dlclose(module);
#endif
}

// A trace asked for inside a trace (an allocator hook would) is empty and does not deadlock.
TEST(StackTrace, ATraceInsideATraceIsEmpty) {
  class Nesting : public StackWalker {
   public:
    void EmitLine(const char*) override {
      if (!asked) inner = GetStackTrace();
      asked = true;
    }
    bool asked = false;
    VelString inner = VelString(u"not asked");
  } walker;
  EXPECT_TRUE(walker.ShowCallstack());
  EXPECT_TRUE(walker.asked);
  EXPECT_TRUE(walker.inner.IsEmpty());
  EXPECT_FALSE(GetStackTrace().IsEmpty()) << "the thread can trace again afterwards";
}

TEST(StackTrace, ThreadsTakeTurns) {
  std::vector<std::thread> threads;
  std::vector<int> good(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&good, t] {
      for (int i = 0; i < 10; ++i) {
        const std::vector<std::string> lines = Lines(ProbeTrace());
        good[t] += lines.size() > 3 && LineWith(lines, "kest_probe_outer") < lines.size() &&
                   lines[0].rfind("SymInit:", 0) == 0;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(good[t], 10) << t;
}

TEST(StackTrace, NamesLoseTheirParameters) {
  const struct {
    const char* full;
    const char* expected;
  } cases[] = {
      {"f(int)", "f"},
      {"ns::C::g(char const*) const", "ns::C::g"},
      {"(anonymous namespace)::h(std::vector<int, std::allocator<int> >&)",
       "(anonymous namespace)::h"},
      {"S::operator()(int) &&", "S::operator()"},
      {"main", "main"},
      {"int v<(1)>", "int v<(1)>"},
  };
  for (const auto& c : cases) EXPECT_EQ(kest::platform::NameWithoutParameters(c.full), c.expected);
  EXPECT_EQ(kest::platform::DemangledName("_ZN2ns1fEi"), "ns::f(int)");
  EXPECT_EQ(kest::platform::DemangledName("main"), "");
}

}  // namespace
