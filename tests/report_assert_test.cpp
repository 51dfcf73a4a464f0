// Assertion reporting: switches, keys, the box, its answers, the ignore file, re-entry and threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fake_clock.h"
#include "kest/KestCommon.h"
#include "scratch_path.h"

namespace {

namespace fs = std::filesystem;

std::string Utf8(const char16_t* s) { return kest::ToUtf8(s ? s : u""); }

int64_t g_now = 0;

// 2026-12-08 12:00 UTC.
constexpr int64_t kToday = 1796731200;

class Asserts : public FakeClockTest {
 protected:
  static inline std::atomic<int> answer{0};
  static inline std::atomic<int> boxes{0};
  static inline std::vector<std::u16string> texts;
  static inline std::vector<kest::AssertCall> calls;
  static inline std::vector<std::u16string> keys;

  static int Present(void*, const char16_t* title, const char16_t* text, uint32_t style) {
    EXPECT_EQ(Utf8(title), "ASSERT");
    EXPECT_EQ(style, 0x250032u);
    ++boxes;
    texts.emplace_back(text);
    return answer.load();
  }
  static void Sink(void*, const kest::AssertCall& call) {
    calls.push_back(call);
    keys.emplace_back(call.key);
  }

  void SetUp() override {
    FakeClockTest::SetUp();
    fake_.wall_seconds = [] { return g_now; };
    g_now = kToday;
    root_ = ScratchPath("kest_assert_");
    fs::remove_all(root_);
    fs::create_directories(root_);
    exe_ = (root_ / "App.exe").u16string();
    kest::platform::SetExecutablePathForTesting(exe_.c_str());
    kest::ClearAssertIgnores();
    answer = kest::platform::kIdIgnore;
    boxes = 0;
    texts.clear();
    calls.clear();
    keys.clear();
    kest::SetAssertPresenter(Present, nullptr);
    kest::SetAssertSink(Sink, nullptr);
    gShowAsserts = 1;
  }
  void TearDown() override {
    gShowAsserts = 0;
    kest::SetAssertPresenter(nullptr, nullptr);
    kest::SetAssertSink(nullptr, nullptr);
    kest::ClearAssertIgnores();
    kest::platform::SetExecutablePathForTesting(nullptr);
    fs::remove_all(root_);
    FakeClockTest::TearDown();
  }

  fs::path IgnoreFile() const { return root_ / "App_exe_perm_ignores.txt"; }
  std::string IgnoreFileText() const {
    std::ifstream in(IgnoreFile(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path root_;
  std::u16string exe_;
};

TEST(AssertKeys, KeysAndIgnoreFilesAreNamedAfterTheSourceAndExecutable) {
  const struct {
    const char16_t* file;
    int line;
    const char* key;
  } keys[] = {
      {u"C:\\src\\Widget.cpp", 42, "Widget_cpp_42"},
      {u"D:\\other\\Widget.cpp", 42, "Widget_cpp_42"},
      {u"src/a.b/Widget.cpp", 42, "Widget_cpp_42"},
      {u"Widget.cpp", 42, "Widget_cpp_42"},
      {u"a.b.c", 7, "a_b_c_7"},
      {u"dir\\", 3, "_3"},
      {nullptr, -1, "_-1"},
      {u"x.h", 0, "x_h_0"},
      {u"x", INT_MIN, "x_-2147483648"},
      {u"x", INT_MAX, "x_2147483647"},
  };
  for (const auto& k : keys)
    EXPECT_EQ(kest::ToUtf8(kest::AssertKey(k.file, k.line).View()), k.key) << Utf8(k.file);
  // The key is what the brace pattern "{0:s}_{1:d}" renders, dots made underscores.
  for (const int line : {1, 9, 10, 99, 100, 65535, -9, -10, 123456789}) {
    VelString expected;
    expected.Format(u"{0:s}_{1:d}", u"Grid.View.cpp", line);
    expected.Replace(u'.', u'_');
    EXPECT_EQ(kest::AssertKey(u"src/Grid.View.cpp", line), expected) << line;
  }
  const struct {
    const char16_t* exe;
    const char* file;
  } files[] = {
      {u"/opt/App.exe", "/opt/App_exe_perm_ignores.txt"},
      {u"/opt/app.d/server", "/opt/app.d/server_perm_ignores.txt"},
      {u"C:\\a.b\\App", "C:\\a.b\\App_perm_ignores.txt"},
      {u"C:\\bin\\App.x.exe", "C:\\bin\\App.x_exe_perm_ignores.txt"},
  };
  for (const auto& f : files)
    EXPECT_EQ(kest::ToUtf8(kest::AssertIgnoreFilePath(VelString(f.exe)).View()), f.file);
  const struct {
    int64_t seconds;
    uint32_t date;
  } dates[] = {{0, 19700101}, {kToday, 20261208}, {951782400, 20000229}, {-1, 19691231}};
  for (const auto& d : dates) EXPECT_EQ(kest::UtcDateNumber(d.seconds), d.date) << d.seconds;
}

// Every switch silences without a box; gShowAsserts must be exactly 1.
TEST_F(Asserts, SwitchesSilence) {
  struct Case {
    uint32_t show;
    bool service, chromium, shutting_down;
  } const cases[] = {{0, false, false, false},
                     {2, false, false, false},
                     {1, true, false, false},
                     {1, false, true, false},
                     {1, false, false, true}};
  for (const Case& c : cases) {
    gShowAsserts = c.show;
    gbRunningAsService = c.service;
    gbInChromiumMsgPump = c.chromium;
    gbShuttingDown = c.shutting_down;
    EXPECT_TRUE(ReportAssert(u"a.cpp", 1, u"x", u"f"));
  }
  gShowAsserts = 1;
  gbRunningAsService = gbInChromiumMsgPump = gbShuttingDown = false;
  EXPECT_EQ(boxes.load(), 0);
  ASSERT_EQ(calls.size(), 5u);
  for (const auto& call : calls) EXPECT_EQ(call.outcome, kest::AssertOutcome::kSwitchedOff);
}

// The box's text, and what each answer does.
TEST_F(Asserts, AnswersDecide) {
  EXPECT_TRUE(ReportAssert(u"C:\\src\\Widget.cpp", 42, u"x != y", u"Run"));
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(kest::ToUtf8(texts[0]),
            "x != y\r\n\r\nFunc: Run\r\nFile: C:\\src\\Widget.cpp\r\nLine: 42\r\nApp: " +
                kest::ToUtf8(exe_) +
                "\r\nTID: " + std::to_string(kest::platform::CurrentThreadId()) +
                "\r\n\r\nIgnore = Continue running\r\nRetry = Break into debugger\r\nAbort = "
                "Always ignore this assert");
  const struct {
    int answer;
    bool result;
    bool silenced_after;
  } cases[] = {{kest::platform::kIdRetry, false, false},
               {kest::platform::kIdCancel, false, false},
               {kest::platform::kIdIgnore, true, false},
               {0, true, false},
               {7, true, false},
               {kest::platform::kIdAbort, true, true}};
  int line = 100;
  for (const auto& c : cases) {
    answer = c.answer;
    boxes = 0;
    EXPECT_EQ(ReportAssert(u"w.cpp", ++line, u"t", u"f"), c.result) << c.answer;
    ReportAssert(u"w.cpp", line, u"t", u"f");
    EXPECT_EQ(boxes.load(), c.silenced_after ? 1 : 2) << c.answer;
  }
  EXPECT_FALSE(fs::exists(IgnoreFile())) << "always ignore is kept in memory only";
}

// The ignore file: [Ignores] for good, [Today] through its date, expired and junk entries deleted.
TEST_F(Asserts, TheIgnoreFileSilencesAndLosesExpiredEntries) {
  std::ofstream(IgnoreFile(), std::ios::binary)
      << "[Ignores]\r\nA_cpp_1=\r\n[Today]\r\nB_cpp_2=20261208\r\nC_cpp_3=20261207\r\n"
         "D_cpp_4=soon\r\nE_cpp_5=20301231\r\n";
  const struct {
    const char16_t* file;
    int line;
    bool silenced;
  } cases[] = {{u"A.cpp", 1, true},  {u"B.cpp", 2, true}, {u"C.cpp", 3, false},
               {u"D.cpp", 4, false}, {u"E.cpp", 5, true}, {u"F.cpp", 6, false}};
  for (const auto& c : cases) {
    boxes = 0;
    EXPECT_TRUE(ReportAssert(c.file, c.line, u"t", u"f"));
    EXPECT_EQ(boxes.load(), c.silenced ? 0 : 1) << Utf8(c.file);
  }
  EXPECT_EQ(IgnoreFileText(),
            "[Ignores]\r\nA_cpp_1=\r\n[Today]\r\nB_cpp_2=20261208\r\nE_cpp_5=20301231\r\n");
  g_now = kToday + 86400;  // tomorrow: B has expired, but the set is loaded and is not read again
  EXPECT_TRUE(ReportAssert(u"B.cpp", 2, u"t", u"f"));
  EXPECT_EQ(boxes.load(), 1);
}

// Shutting down empties the ignore set: the next report reads the file again, and an ignore kept
// only in memory is gone.
TEST_F(Asserts, ShutdownEmptiesTheIgnoresAndTheFileIsReadAgain) {
  std::ofstream(IgnoreFile(), std::ios::binary) << "[Ignores]\r\nA_cpp_1=\r\n";
  answer = kest::platform::kIdAbort;  // always ignore, in memory
  EXPECT_TRUE(ReportAssert(u"M.cpp", 1, u"t", u"f"));
  boxes = 0;
  for (const char16_t* file : {u"A.cpp", u"M.cpp"}) EXPECT_TRUE(ReportAssert(file, 1, u"t", u"f"));
  EXPECT_EQ(boxes.load(), 0);
  std::ofstream(IgnoreFile(), std::ios::binary) << "[Ignores]\r\nB_cpp_1=\r\n";
  BaseShuttingDown();
  answer = kest::platform::kIdIgnore;
  const struct {
    const char16_t* file;
    int boxes;
  } after[] = {{u"A.cpp", 1}, {u"M.cpp", 1}, {u"B.cpp", 0}};
  for (const auto& c : after) {
    boxes = 0;
    EXPECT_TRUE(ReportAssert(c.file, 1, u"t", u"f"));
    EXPECT_EQ(boxes.load(), c.boxes) << Utf8(c.file);
  }
}

// A report inside the box (any thread) or under a guard returns true at once; one inside the sink
// does not reach the sink again; a throwing presenter leaves gInAssert and the locks as they were.
TEST_F(Asserts, ReentryReturnsAtOnce) {
  kest::SetAssertPresenter(
      [](void*, const char16_t*, const char16_t*, uint32_t) {
        EXPECT_TRUE(ReportAssert(u"inner.cpp", 1, u"t", u"f"));
        bool other = false;
        std::thread([&] { other = ReportAssert(u"other.cpp", 1, u"t", u"f"); }).join();
        EXPECT_TRUE(other);
        return kest::platform::kIdIgnore;
      },
      nullptr);
  EXPECT_TRUE(ReportAssert(u"outer.cpp", 1, u"t", u"f"));
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].outcome, kest::AssertOutcome::kInAssert);
  EXPECT_EQ(calls[2].outcome, kest::AssertOutcome::kAnswered);
  {
    const CLockLogException guard;
    EXPECT_TRUE(ReportAssert(u"guarded.cpp", 1, u"t", u"f"));
  }
  calls.clear();
  kest::SetAssertSink(
      [](void*, const kest::AssertCall& call) {
        calls.push_back(call);
        EXPECT_TRUE(ReportAssert(u"in_sink.cpp", 1, u"t", u"f"));
      },
      nullptr);
  kest::SetAssertPresenter(Present, nullptr);
  EXPECT_TRUE(ReportAssert(u"x.cpp", 1, u"t", u"f"));
  EXPECT_EQ(calls.size(), 1u) << "the sink's own assertion did not reach it";
  kest::SetAssertPresenter(
      [](void*, const char16_t*, const char16_t*, uint32_t) -> int { throw 1; }, nullptr);
  EXPECT_TRUE(ReportAssert(u"throws.cpp", 1, u"t", u"f"));
  EXPECT_EQ(gInAssert, 0);
  kest::SetAssertPresenter(Present, nullptr);
  boxes = 0;
  EXPECT_TRUE(ReportAssert(u"after.cpp", 1, u"t", u"f"));
  EXPECT_EQ(boxes.load(), 1) << "the box lock was released";
}

// Eight threads assert at one place: one box, and its "Always ignore" silences the threads that
// were already waiting for the box lock (they re-check once they hold it).
TEST_F(Asserts, OneBoxAtATime) {
  static std::atomic<bool> release{false};
  kest::SetAssertPresenter(
      [](void*, const char16_t*, const char16_t*, uint32_t) {
        // An open box turns away every new report (gInAssert); lowered while this box waits, the
        // other threads get past that check and queue for the box lock, as threads that asserted
        // an instant before the box opened would.
        __atomic_fetch_sub(&gInAssert, 1, __ATOMIC_SEQ_CST);
        ++boxes;
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        __atomic_fetch_add(&gInAssert, 1, __ATOMIC_SEQ_CST);
        return kest::platform::kIdAbort;
      },
      nullptr);
  kest::SetAssertSink(nullptr, nullptr);
  release = false;
  std::vector<std::thread> threads;
  std::atomic<int> done{0}, entered{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      ++entered;
      EXPECT_TRUE(ReportAssert(u"same.cpp", 9, u"t", u"f"));
      ++done;
    });
  }
  while (boxes.load() == 0 || entered.load() < 8)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  release = true;
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(boxes.load(), 1);
  EXPECT_EQ(done.load(), 8);
  EXPECT_EQ(gInAssert, 0);
}

}  // namespace
