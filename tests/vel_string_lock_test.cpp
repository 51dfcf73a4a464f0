// Locked and unshared strings under every operation and under concurrent readers.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kest/format/brace_format.h"
#include "kest/strings/vel_string.h"
#include "string_test_support.h"

namespace {

using LockedStrings = StringManagerTest;

std::u16string Str(const VelString& s) { return std::u16string(s.View()); }

// Four threads copy `source` over and over while it is never changed, which the threading rule
// allows. No copy may share the locked block: one that did would free it under its owner.
void CopyConcurrently(const VelString& source, std::atomic<int>& shared) {
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        VelString copy(source);
        if (copy.GetString() == source.GetString()) shared.fetch_add(1);
        VelString assigned;
        assigned = source;
        if (assigned.GetString() == source.GetString()) shared.fetch_add(1);
      }
    });
  }
  for (std::thread& t : readers) t.join();
}

TEST_F(LockedStrings, ConcurrentCopiesNeverShareALockedBlock) {
  const int32_t live = Live();
  {
    VelString locked(u"config");
    locked.LockBuffer();
    std::atomic<int> shared{0};
    CopyConcurrently(locked, shared);
    EXPECT_EQ(shared.load(), 0);
    EXPECT_EQ(locked.GetData()->nRefs, -1) << "readers must leave the count as they found it";
    EXPECT_EQ(Str(locked), u"config");
  }
  {
    gbAllowSharedVelStrings = false;  // every string is born locked
    VelString unshared(u"settings");
    std::atomic<int> shared{0};
    CopyConcurrently(unshared, shared);
    EXPECT_EQ(shared.load(), 0);
    EXPECT_EQ(unshared.GetData()->nRefs, -1);
    EXPECT_EQ(Str(unshared), u"settings");
  }
  EXPECT_EQ(Live(), live);
}

// Every operation that may give the string a new block must leave it locked, with its text
// right and unshared by a copy made afterwards.
TEST_F(LockedStrings, TheLockOutlivesEveryWrite) {
  const VelString shared_text(u"held by two strings");
  const VelString also_shared = shared_text;
  const std::u16string long_text(300, u'L');
  struct Case {
    const char* what;
    const char16_t* start;
    std::function<void(VelString&)> write;
    std::u16string expected;
  };
  const std::vector<Case> cases = {
      {"append to empty (fork)", u"", [](VelString& s) { s += u"secret"; }, u"secret"},
      {"append (grow)", u"ab", [&](VelString& s) { s += long_text.c_str(); }, u"ab" + long_text},
      {"append char", u"", [](VelString& s) { s += u'x'; }, u"x"},
      {"set text", u"", [&](VelString& s) { s = long_text.c_str(); }, long_text},
      {"set short text", u"abcdef", [](VelString& s) { s = u"xy"; }, u"xy"},
      {"copy-assign shared", u"", [&](VelString& s) { s = shared_text; }, u"held by two strings"},
      {"move-assign own block", u"",
       [](VelString& s) {
         VelString mine(u"moved in");
         s = std::move(mine);
       },
       u"moved in"},
      {"move-assign shared block", u"",
       [&](VelString& s) {
         VelString copy = shared_text;
         s = std::move(copy);
       },
       u"held by two strings"},
      {"move-assign empty", u"abc", [](VelString& s) { s = VelString(); }, u""},
      {"insert", u"", [](VelString& s) { s.Insert(0, u"in"); }, u"in"},
      {"replace text", u"a-b-c", [](VelString& s) { s.Replace(u"-", u"--"); }, u"a--b--c"},
      {"replace char", u"a-b", [](VelString& s) { s.Replace(u'-', u'+'); }, u"a+b"},
      {"concatenate", u"", [](VelString& s) { s = VelString(u"x") + u"y"; }, u"xy"},
      {"format in place", u"0123456789abcdef", [](VelString& s) { s.Format(u"{0}-{1}", 1, 2); },
       u"1-2"},
      {"format into a new block", u"", [](VelString& s) { s.Format(u"{0}-{1}", 1, 2); }, u"1-2"},
      {"format long", u"", [&](VelString& s) { s.Format(u"{0}{0}", long_text.c_str()); },
       long_text + long_text},
      {"append format", u"", [](VelString& s) { s.AppendFormat(u"n={0}", 7); }, u"n=7"},
      {"empty", u"abc", [](VelString& s) { s.Empty(); }, u""},
      {"truncate to 0", u"abc", [](VelString& s) { s.Truncate(0); }, u""},
      {"buffer set length", u"", [](VelString& s) { s.GetBufferSetLength(0); }, u""},
      {"preallocate", u"ab", [](VelString& s) { s.Preallocate(500); }, u"ab"},
      {"trim", u"  ab  ", [](VelString& s) { s.Trim(); }, u"ab"},
      {"make upper", u"ab", [](VelString& s) { s.MakeUpper(); }, u"AB"},
  };
  for (const Case& c : cases) {
    VelString s(c.start);
    s.LockBuffer();
    c.write(s);
    EXPECT_EQ(Str(s), c.expected) << c.what;
    EXPECT_EQ(s.GetData()->nRefs, -1) << c.what;
    EXPECT_EQ(s.GetString()[s.GetLength()], 0) << c.what;
    const VelString copy = s;
    EXPECT_NE(copy.GetString(), s.GetString()) << c.what;
    s.UnlockBuffer();
    EXPECT_EQ(s.GetData()->nRefs, 1) << c.what;
  }
  EXPECT_EQ(Str(shared_text), u"held by two strings");
  EXPECT_EQ(shared_text.GetData()->nRefs, 2);
}

// With caching on, both allocation paths (a block from the thread's magazine and one from the
// heap) still honour the sharing switch and the fill bytes.
TEST_F(LockedStrings, CachedBlocksHonourTheSwitches) {
  VelStringEnableCaching();
  gbAllowSharedVelStrings = false;
  gbFillMemOnFree = 1;
  for (int round = 0; round < 3; ++round) {  // first from the heap, then from the magazine
    std::vector<VelString> strings;
    for (int i = 0; i < 20; ++i) strings.emplace_back(u"a");
    for (const VelString& s : strings) {
      ASSERT_EQ(s.GetData()->nRefs, -1) << "round " << round;
      ASSERT_EQ(s.GetString()[1], 0);
      // The rest of the block carries the fresh-block fill, not a freed block's.
      const auto* bytes = reinterpret_cast<const unsigned char*>(s.GetString() + 2);
      const size_t rest = static_cast<size_t>(s.GetAllocLength() - 1) * 2;
      ASSERT_GT(rest, 0u);
      for (size_t b = 0; b < rest; ++b) ASSERT_EQ(bytes[b], 0xFA) << "round " << round;
    }
  }
}

// A fork copies the text into a new block; the character after it must be a NUL, whatever the
// fill bytes left there.
TEST_F(LockedStrings, ForkedTextEndsWithANul) {
  for (uint32_t fill : {0u, 1u}) {
    gbFillMemOnFree = fill;
    const VelString original(u"forked text");
    std::vector<std::function<void(VelString&)>> forks = {
        [](VelString& s) { s.SetAt(0, u'F'); }, [](VelString& s) { s.LockBuffer(); },
        [](VelString& s) { s.GetBuffer(); },    [](VelString& s) { s.GetBuffer(40); },
        [](VelString& s) { s.Truncate(4); },
    };
    for (auto& fork : forks) {
      VelString s = original;
      fork(s);
      ASSERT_NE(s.GetString(), original.GetString());
      EXPECT_EQ(s.GetString()[s.GetLength()], 0) << "fill " << fill;
      s.ReleaseBuffer();
    }
  }
}

// Appending a string to itself, or part of itself, reads text that a reallocation would free (and
// fills with 0xEC).
TEST_F(LockedStrings, SelfAppendsWithFillBytes) {
  gbFillMemOnFree = 1;
  VelString s(u"abc");
  s += s;
  EXPECT_EQ(Str(s), u"abcabc");
  s.Append(s.GetString() + 1, 4);
  EXPECT_EQ(Str(s), u"abcabcbcab");
  s += s.GetString();
  EXPECT_EQ(Str(s), u"abcabcbcababcabcbcab");
  s.Insert(2, s.GetString());
  EXPECT_EQ(Str(s), u"ababcabcbcababcabcbcabcabcbcababcabcbcab");
  VelString t(u"xy");
  t.Replace(u"x", t.GetString());
  EXPECT_EQ(Str(t), u"xyy");
  VelString::Concatenate(t, t.GetString(), t.GetLength(), t.GetString(), t.GetLength());
  EXPECT_EQ(Str(t), u"xyyxyy");
}

}  // namespace
