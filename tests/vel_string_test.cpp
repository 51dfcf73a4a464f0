#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "kest/strings/vel_string.h"
#include "string_test_support.h"

namespace {

using VelStringSharing = StringManagerTest;
using VelStringBuffer = StringManagerTest;
using VelStringMemory = StringManagerTest;

std::u16string Str(const VelString& s) { return std::u16string(s.View()); }

TEST_F(VelStringSharing, EmptyStringsShareTheNilBlock) {
  VelString a;
  VelString b;
  EXPECT_EQ(a.GetString(), b.GetString());
  EXPECT_EQ(a.GetData(), manager_->nil_block());
  EXPECT_TRUE(a.IsEmpty());
  EXPECT_EQ(a.GetString()[0], 0);
  EXPECT_EQ(a.GetManager(), manager_);
}

TEST_F(VelStringSharing, CopiesShareUntilOneWrites) {
  VelString a(u"shared text");
  VelString b = a;
  EXPECT_EQ(a.GetString(), b.GetString());
  EXPECT_EQ(a.GetData()->nRefs, 2);
  VelString c;
  c = b;
  EXPECT_EQ(a.GetData()->nRefs, 3);

  b.SetAt(0, u'S');  // fork: a and c keep the old block
  EXPECT_NE(a.GetString(), b.GetString());
  EXPECT_EQ(Str(a), u"shared text");
  EXPECT_EQ(Str(b), u"Shared text");
  EXPECT_EQ(a.GetData()->nRefs, 2);
  EXPECT_EQ(b.GetData()->nRefs, 1);

  c += u"!";
  EXPECT_EQ(Str(a), u"shared text");
  EXPECT_EQ(Str(c), u"shared text!");
  EXPECT_EQ(a.GetData()->nRefs, 1);
}

TEST_F(VelStringSharing, MoveTakesTheBlock) {
  VelString a(u"moving");
  const char16_t* chars = a.GetString();
  VelString b(std::move(a));
  EXPECT_EQ(b.GetString(), chars);
  EXPECT_TRUE(a.IsEmpty());  // NOLINT(bugprone-use-after-move): moved-from is defined empty
  VelString c;
  c = std::move(b);
  EXPECT_EQ(c.GetString(), chars);
  EXPECT_TRUE(b.IsEmpty());  // NOLINT(bugprone-use-after-move)
}

TEST_F(VelStringSharing, SharedBlocksDieCleanlyOnOtherThreads) {
  const int32_t live = Live();
  {
    VelString original(u"passed between threads");
    std::vector<VelString> copies(1000, original);
    std::thread a([&] {
      for (int i = 0; i < 500; ++i) copies[i] = VelString();
    });
    std::thread b([&] {
      for (int i = 500; i < 1000; ++i) copies[i].Empty();
    });
    a.join();
    b.join();
    EXPECT_EQ(original.GetData()->nRefs, 1);
  }
  EXPECT_EQ(Live(), live);
}

// A string whose block another thread read and then let go writes it in place; nothing else
// orders that thread's reads before the write but the count itself (ThreadSanitizer reports the
// write against the reads when the count is read without acquiring).
TEST_F(VelStringSharing, InPlaceWriteAfterAnotherThreadLetGoIsOrdered) {
  for (int round = 0; round < 20; ++round) {
    VelString a(u"read on another thread");
    VelString b(a);
    std::atomic<bool> dropped{false};
    std::thread reader([&] {
      int sum = 0;
      for (int i = 0; i < b.GetLength(); ++i) sum += b.GetAt(i);
      EXPECT_GT(sum, 0);
      b.Empty();
      dropped.store(true, std::memory_order_relaxed);
    });
    while (!dropped.load(std::memory_order_relaxed)) std::this_thread::yield();
    const char16_t* block = a.GetString();
    a.SetAt(0, u'R');
    EXPECT_EQ(a.GetString(), block) << "a string that alone holds its block writes in place";
    reader.join();
  }
}

TEST_F(VelStringBuffer, DirectWritingSetsTheLength) {
  VelString s;
  char16_t* p = s.GetBufferSetLength(5);
  for (int i = 0; i < 5; ++i) p[i] = static_cast<char16_t>(u'a' + i);
  EXPECT_EQ(s.GetLength(), 5);
  EXPECT_EQ(s.GetString()[5], 0);
  s.ReleaseBuffer();
  EXPECT_EQ(Str(s), u"abcde");

  p = s.GetBuffer(20);
  EXPECT_GE(s.GetAllocLength(), 20);
  p[2] = 0;
  s.ReleaseBuffer(-1);  // up to the first NUL
  EXPECT_EQ(Str(s), u"ab");
  p = s.GetBuffer();
  p[0] = u'x';
  s.ReleaseBuffer(1);
  EXPECT_EQ(Str(s), u"x");
  s.ReleaseBuffer(1000000);  // clamped to the capacity, never past it
  EXPECT_LE(s.GetLength(), s.GetAllocLength());
  EXPECT_EQ(s.GetString()[s.GetLength()], 0);

  VelString shared(u"fork me");
  VelString copy = shared;
  copy.GetBuffer()[0] = u'F';
  copy.ReleaseBuffer();
  EXPECT_EQ(Str(shared), u"fork me");
  EXPECT_EQ(Str(copy), u"Fork me");
  VelString none;
  none.GetBufferSetLength(-4);  // negative reads as 0
  EXPECT_EQ(none.GetLength(), 0);
  EXPECT_EQ(none.GetString()[0], 0);
}

// What each reading or building operation gives, one row a case.
TEST(VelStringOps, ResultsOfBuildingAndSlicing) {
  const VelString digits(u"0123456789");
  const VelString words(u"one two one");
  const VelString padded(u" \t\r\n text \u3000\u00A0");
  const std::pair<VelString, const char16_t*> cases[] = {
      {VelString(static_cast<const char16_t*>(nullptr)), u""},
      {VelString(u"abc", 2), u"ab"},
      {VelString(u"abc", -1), u""},
      {VelString(u'x', 3), u"xxx"},
      {VelString(u'x', -3), u""},
      {VelString(std::u16string_view(u"view")), u"view"},
      {VelString("plain") + VelString(" more"), u"plain more"},
      {VelString(static_cast<const char*>(nullptr)), u""},
      {u"<" + VelString(u"x") + u">", u"<x>"},
      {u'[' + VelString(u"y") + u']', u"[y]"},
      {digits.Mid(2, 3), u"234"},
      {digits.Mid(8, 10), u"89"},
      {digits.Mid(-3, 2), u"01"},
      {digits.Mid(20, 2), u""},
      {digits.Mid(3, -1), u""},
      {digits.Mid(7), u"789"},
      {digits.Left(3), u"012"},
      {digits.Left(-1), u""},
      {digits.Right(3), u"789"},
      {digits.Right(30), u"0123456789"},
      {VelString(padded).TrimLeft(), u"text \u3000\u00A0"},
      {VelString(padded).TrimRight(), u" \t\r\n text"},
      {VelString(padded).Trim(), u"text"},
      {VelString(u"   ").Trim(), u""},
      {VelString(u"xxaxx").Trim(u'x'), u"a"},
      {VelString(u"xxaxx").TrimLeft(u'x'), u"axx"},
      {VelString(u"xxaxx").TrimRight(u'x'), u"xxa"},
      {VelString(u"<>a<>").Trim(u"<>"), u"a"},
      {VelString(u"<>a<>").TrimLeft(u"<>"), u"a<>"},
      {VelString(u"<>a<>").TrimRight(u"<>"), u"<>a"},
      {VelString(u"<>a").Trim(static_cast<const char16_t*>(nullptr)), u"<>a"},
      {VelString(u"Hello, World 42").MakeUpper(), u"HELLO, WORLD 42"},
      {VelString(u"Hello, World 42").MakeLower(), u"hello, world 42"},
      // Latin-1, Greek, Cyrillic and a title-case digraph; sharp s has no one-unit upper case.
      {VelString(u"\u00E4\u00F6\u00FC\u00DF\u03B1\u0436\u01C6").MakeUpper(),
       u"\u00C4\u00D6\u00DC\u00DF\u0391\u0416\u01C4"},
      {VelString(u"\u00C4\u0391\u0416\u0130").MakeLower(), u"\u00E4\u03B1\u0436i"},
  };
  for (const auto& [result, expected] : cases) EXPECT_EQ(Str(result), expected);
  EXPECT_EQ(digits.Mid(0).GetString(), digits.GetString()) << "the whole string is shared";
  EXPECT_EQ(kest::ToUpper(u'\u00FF'), u'\u0178');
  EXPECT_EQ(kest::ToUpper(u'\xD83D'), u'\xD83D');  // surrogates pass through

  const std::pair<int, int> found[] = {
      {words.Find(u"one"), 0},
      {words.Find(u"one", 1), 8},
      {words.Find(u"three"), -1},
      {words.Find(u"one", 100), -1},
      {words.Find(u"one", -5), 0},
      {words.Find(u"", 3), 3},
      {words.Find(u"", 11), 11},
      {words.Find(u"", 12), -1},
      {words.Find(u"e", 10), 10},
      {words.Find(u"e", 11), -1},
      {words.Find(static_cast<const char16_t*>(nullptr)), 0},
      {words.Find(u'w'), 5},
      {words.Find(u'o', 1), 6},
      {words.ReverseFind(u'o'), 8},
      {words.ReverseFind(u'z'), -1},
      {words.FindOneOf(u"wx"), 5},
      {words.FindOneOf(nullptr), -1},
  };
  for (size_t i = 0; i < std::size(found); ++i) EXPECT_EQ(found[i].first, found[i].second) << i;
  // Comparisons by code unit: the sign counts.
  const std::pair<int, int> compared[] = {
      {VelString(u"abc").Compare(u"abc"), 0}, {VelString(u"abc").Compare(u"abd"), -1},
      {VelString(u"abc").Compare(u"ab"), 1},  {VelString(u"abc").Compare(nullptr), 1},
      {VelString(u"B").Compare(u"a"), -1},    {VelString(u"\xE9").Compare(u"z"), 1},
      {VelString().Compare(nullptr), 0},      {VelString(u"abc").CompareNoCase(u"ABC"), 0},
  };
  for (size_t i = 0; i < std::size(compared); ++i) {
    EXPECT_EQ((compared[i].first > 0) - (compared[i].first < 0), compared[i].second) << i;
  }
  EXPECT_TRUE(VelString(u"abc") == VelString(u"abc"));
  EXPECT_TRUE(VelString(u"abc") == u"abc");
  EXPECT_FALSE(VelString(u"abc") == u"abcd");
  VelString shared(u"UPPER");
  VelString copy = shared;
  copy.MakeUpper();  // nothing changes, so nothing forks
  EXPECT_EQ(copy.GetString(), shared.GetString());
}

TEST(VelStringOps, AssignmentAndAppendTakeTextFromAnywhere) {
  VelString s;
  s = u"text";
  s = s.GetString() + 1;  // from inside itself
  EXPECT_EQ(Str(s), u"ext");
  s = u'c';
  EXPECT_EQ(Str(s), u"c");
  s = static_cast<const char16_t*>(nullptr);
  EXPECT_TRUE(s.IsEmpty());
  s = "";
  EXPECT_TRUE(s.IsEmpty());
  s = u"ab";
  s += u'c';
  s += static_cast<const char16_t*>(nullptr);
  s += " ";
  s = s + s;
  EXPECT_EQ(Str(s), u"abc abc ");
  VelString r;
  VelString::Concatenate(r, u"left", 4, nullptr, 5);
  EXPECT_EQ(Str(r), u"left");
  VelString grow;
  std::u16string expected;
  for (int i = 0; i < 3000; ++i) {
    grow += static_cast<char16_t>(u'a' + i % 26);
    expected += static_cast<char16_t>(u'a' + i % 26);
  }
  EXPECT_EQ(Str(grow), expected);
}

TEST(VelStringOps, InsertDeleteRemove) {
  VelString s(u"ace");
  EXPECT_EQ(s.Insert(1, u"b"), 4);
  EXPECT_EQ(s.Insert(3, u'd'), 5);
  EXPECT_EQ(Str(s), u"abcde");
  EXPECT_EQ(s.Insert(-10, u"<"), 6);
  EXPECT_EQ(s.Insert(100, u">"), 7);
  EXPECT_EQ(Str(s), u"<abcde>");
  EXPECT_EQ(s.Insert(1, s.GetString()), 14);  // from itself
  EXPECT_EQ(Str(s), u"<<abcde>abcde>");
  EXPECT_EQ(s.Insert(2, nullptr), 14);
  EXPECT_EQ(s.Delete(0, 8), 6);
  EXPECT_EQ(Str(s), u"abcde>");
  EXPECT_EQ(s.Delete(4, 100), 4);
  EXPECT_EQ(s.Delete(10), 4);
  EXPECT_EQ(s.Delete(1, -2), 4);
  EXPECT_EQ(s.Delete(3), 3);
  EXPECT_EQ(Str(s), u"abc");
  EXPECT_EQ(s.GetString()[3], 0);
  // Deleting nothing writes nothing: a shared block stays shared.
  const VelString shared(u"abc");
  VelString copy = shared;
  for (int index : {3, 4}) EXPECT_EQ(copy.Delete(index), 3);
  EXPECT_EQ(copy.Delete(0, 0), 3);
  EXPECT_EQ(copy.GetString(), shared.GetString());
  VelString r(u"banana");
  EXPECT_EQ(r.Remove(u'a'), 3);
  EXPECT_EQ(Str(r), u"bnn");
  EXPECT_EQ(r.Remove(u'z'), 0);
}

TEST(VelStringOps, Replace) {
  VelString s(u"a-b-c");
  EXPECT_EQ(s.Replace(u"-", u"--"), 2);
  EXPECT_EQ(Str(s), u"a--b--c");
  EXPECT_EQ(s.Replace(u"--", nullptr), 2);
  EXPECT_EQ(Str(s), u"abc");
  EXPECT_EQ(s.Replace(u"", u"x"), 0);
  EXPECT_EQ(s.Replace(nullptr, u"x"), 0);
  EXPECT_EQ(s.Replace(u"zz", u"x"), 0);
  VelString a(u"aaaa");
  EXPECT_EQ(a.Replace(u"aa", u"b"), 2);  // non-overlapping, left to right
  EXPECT_EQ(Str(a), u"bb");
  VelString self(u"xyx");
  EXPECT_EQ(self.Replace(u"x", self.GetString()), 2);  // replacement taken from itself
  EXPECT_EQ(Str(self), u"xyxyxyx");
  VelString c(u"a.b.c");
  EXPECT_EQ(c.Replace(u'.', u'/'), 2);
  EXPECT_EQ(Str(c), u"a/b/c");
  EXPECT_EQ(c.Replace(u'/', u'/'), 0);
}

TEST(VelStringOps, OutOfRangeAccessIsDefined) {
  VelString s(u"ab");
  EXPECT_EQ(s.GetAt(0), u'a');
  EXPECT_EQ(s[1], u'b');
  EXPECT_EQ(s.GetAt(2), 0);
  EXPECT_EQ(s.GetAt(-1), 0);
  s.SetAt(5, u'x');
  s.SetAt(-1, u'x');
  EXPECT_EQ(Str(s), u"ab");
  s.Truncate(1);
  EXPECT_EQ(Str(s), u"a");
  s.Truncate(10);
  EXPECT_EQ(Str(s), u"a");
  s.Preallocate(100);
  EXPECT_GE(s.GetAllocLength(), 100);
  EXPECT_EQ(Str(s), u"a");
}

TEST_F(VelStringMemory, ImpossibleSizesThrowAndKeepTheText) {
  VelString s(u"keep me");
  const char16_t* before = s.GetString();
  EXPECT_THROW(s.GetBufferSetLength(INT_MAX), std::bad_alloc);
  EXPECT_THROW(s.Preallocate(INT_MAX - 1), std::bad_alloc);
  EXPECT_EQ(s.GetString(), before);
  EXPECT_EQ(Str(s), u"keep me");

  // Lengths whose sum leaves int range, or whose block cannot be had, are refused before any
  // character is read.
  const char16_t tiny[1] = {u'x'};
  EXPECT_THROW(s.Append(tiny, INT_MAX), std::bad_alloc);
  EXPECT_THROW(s.Append(tiny, INT_MAX - 10), std::bad_alloc);
  EXPECT_EQ(Str(s), u"keep me");
}

TEST_F(VelStringMemory, EveryBlockGoesBackToTheManager) {
  const int32_t live = Live();
  const int64_t bytes = Bytes();
  {
    VelString a(u"one");
    VelString b = a + u" two";
    b.Replace(u"o", u"0");
    b.MakeUpper();
    std::vector<VelString> many(100, b);
    many[3] += u"x";
    VelString c = many[3].Mid(1, 2);
  }
  EXPECT_EQ(Live(), live);
  EXPECT_EQ(Bytes(), bytes);
}

}  // namespace
