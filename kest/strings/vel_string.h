// VelString: the library's one string type, and the logical order and hashes keyed on it.
//
// A VelString is one pointer to the UTF-16 characters of a string block (see string_manager.h), so
// it passes as a NUL-terminated const char16_t* without conversion and knows its length in constant
// time. Blocks are reference-counted and copy-on-write:
//   - Copying shares the block (an atomic increment) unless the block is locked (count < 0) or
//     belongs to another manager; then the characters are copied into a block of the copy's own.
//   - Releasing lowers the count; the last holder gives the block back to the manager.
//   - Writing first forks a shared block into one of the string's own, and reallocates when the
//     block is too small. Growth asks for 1.5 times the old capacity (at least what is needed).
//   - LockBuffer makes the block the string's own and marks it locked; UnlockBuffer makes it
//     shareable again. GetBufferSetLength/ReleaseBuffer give direct write access.
// An operation that needs a block the manager cannot give (heap exhausted, or a length above
// INT_MAX characters) throws std::bad_alloc and leaves the string unchanged.
//
// A VelString object must not be changed by two threads at once; different objects that share a
// block may be used and destroyed on any threads.
//
// Indexes and counts are characters (UTF-16 code units). Out-of-range indexes are clamped to the
// string, negative counts read as 0, and a null text pointer reads as the empty text: no operation
// reads or writes outside the string for any argument.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "kest/kest_export.h"
#include "kest/platform/module.h"
#include "kest/strings/string_manager.h"

class PlaceholderValue;

class KEST_API VelString {
 public:
  // The empty string, on the process-wide manager (gVelStringManager2, created if needed).
  VelString() noexcept;
  // The empty string on `manager` (the process-wide one when null).
  explicit VelString(IAtlStringMgr* manager) noexcept;
  VelString(const VelString& other);
  // Takes the other string's block and leaves it empty.
  VelString(VelString&& other) noexcept;
  VelString(const char16_t* text);
  VelString(const char16_t* text, int length);
  explicit VelString(std::u16string_view text);
  // Narrow text, widened by kest::platform::NarrowToUtf16 (UTF-8 on POSIX, the ANSI code page on
  // Windows).
  VelString(const char* narrow);
  VelString(char16_t ch, int repeat = 1);
  ~VelString();

  VelString& operator=(const VelString& other);
  // Takes the other string's block and leaves it empty. A locked string stays locked: it takes the
  // block only when `other` alone holds it, and otherwise copies the text into its own block,
  // which is the one case that can throw std::bad_alloc (both strings then keep their text).
  VelString& operator=(VelString&& other);
  VelString& operator=(const char16_t* text);
  VelString& operator=(std::u16string_view text);
  VelString& operator=(const char* narrow);
  VelString& operator=(char16_t ch);

  VelString& operator+=(const VelString& text);
  VelString& operator+=(const char16_t* text);
  VelString& operator+=(std::u16string_view text);
  VelString& operator+=(const char* narrow);
  VelString& operator+=(char16_t ch);

  // Replaces the text with `length` characters from `text` (which may point into this string).
  void SetString(const char16_t* text, int length);
  void Append(const char16_t* text, int length);

  int GetLength() const noexcept { return GetData()->nDataLength; }
  bool IsEmpty() const noexcept { return GetData()->nDataLength == 0; }
  int GetAllocLength() const noexcept { return GetData()->nAllocLength; }
  const char16_t* GetString() const noexcept { return m_pszData; }
  operator const char16_t*() const noexcept { return m_pszData; }
  std::u16string_view View() const noexcept {
    return std::u16string_view(m_pszData, static_cast<size_t>(GetLength()));
  }
  // The character at `index`, or 0 outside 0..length-1.
  char16_t GetAt(int index) const noexcept;
  char16_t operator[](int index) const noexcept { return GetAt(index); }
  // Changes one character; an index outside 0..length-1 changes nothing.
  void SetAt(int index, char16_t ch);

  IAtlStringMgr* GetManager() const noexcept { return GetData()->pStringMgr; }
  // The block header in front of the characters.
  CVelStringData* GetData() const noexcept {
    return reinterpret_cast<CVelStringData*>(m_pszData) - 1;
  }

  // Ordinal comparison by UTF-16 code unit: negative, 0 or positive.
  int Compare(const char16_t* text) const noexcept;
  // The same after the library's fixed simple upper-case mapping of both sides.
  int CompareNoCase(const char16_t* text) const noexcept;

  // `result` becomes the characters of a followed by those of b (either may point into result).
  static void Concatenate(VelString& result, const char16_t* a, int a_length, const char16_t* b,
                          int b_length);

  // Back to the shared empty block; a locked string keeps its own block, cut to length 0.
  void Empty() noexcept;

  // Index of the first occurrence at or after `start`, or -1. An empty `text` is found at `start`
  // when start <= length.
  int Find(const char16_t* text, int start = 0) const noexcept;
  int Find(char16_t ch, int start = 0) const noexcept;
  int ReverseFind(char16_t ch) const noexcept;
  // Index of the first character that is in `set`, or -1.
  int FindOneOf(const char16_t* set) const noexcept;

  // Inserts before `index` (clamped to 0..length); returns the new length.
  int Insert(int index, const char16_t* text);
  int Insert(int index, char16_t ch);
  // Removes up to `count` characters from `index`; returns the new length.
  int Delete(int index, int count = 1);
  // Removes every `ch`; returns how many were removed.
  int Remove(char16_t ch);

  // Up to `count` characters from `first` (clamped to the string).
  VelString Mid(int first, int count) const;
  VelString Mid(int first) const;
  VelString Left(int count) const;
  VelString Right(int count) const;

  // Replaces every non-overlapping occurrence, left to right; returns the count. An empty or null
  // `old_text` replaces nothing; a null `new_text` removes.
  int Replace(const char16_t* old_text, const char16_t* new_text);
  int Replace(char16_t old_ch, char16_t new_ch);

  // White space is Unicode's White_Space set within UTF-16 (tab to carriage return, space, U+0085,
  // U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029, U+202F, U+205F, U+3000).
  VelString& Trim();
  VelString& TrimLeft();
  VelString& TrimRight();
  VelString& Trim(char16_t ch);
  VelString& TrimLeft(char16_t ch);
  VelString& TrimRight(char16_t ch);
  // A null set trims nothing.
  VelString& Trim(const char16_t* set);
  VelString& TrimLeft(const char16_t* set);
  VelString& TrimRight(const char16_t* set);

  // Case change by the library's fixed Unicode simple case mappings (the same on every platform;
  // one code unit in, one out; surrogates unchanged).
  VelString& MakeUpper();
  VelString& MakeLower();

  // A writable buffer of at least the current length (GetBuffer) or `min_length`, NUL-terminated
  // at the current length; end with ReleaseBuffer.
  char16_t* GetBuffer();
  char16_t* GetBuffer(int min_length);
  // A writable buffer of exactly `length` characters (negative reads as 0); the length is set now.
  char16_t* GetBufferSetLength(int length);
  // Ends direct writing: the length becomes `new_length` (clamped to the capacity), or, when it is
  // -1, the position of the first NUL within the capacity.
  void ReleaseBuffer(int new_length = -1) noexcept;
  // Makes the block the string's own and locks it, so copies never share it. The lock belongs to
  // the string until UnlockBuffer: every operation that needs a new block (growth, assignment,
  // formatting) locks the new one, and Empty keeps the locked block and cuts it to length 0.
  char16_t* LockBuffer();
  // Makes a locked block shareable again.
  void UnlockBuffer() noexcept;
  // Makes sure the block holds at least `length` characters without changing the text.
  void Preallocate(int length);
  // Cuts the text to `length` characters when it is longer.
  void Truncate(int length);

  // Brace formatting (the pattern grammar is in kest/format/brace_format.h, which turns the
  // variadic forms' arguments into values: include it, or kest/KestCommon.h, to call them; without
  // it a call fails to compile, naming kest::detail::IncludeKestFormatBraceFormatH). Format
  // replaces the text, AppendFormat appends to it; any argument type PlaceholderValue takes may be
  // passed. A null pattern formats as the empty text. Faulty patterns give marked text and
  // developer alerts, never an exception; only running out of memory (a text above INT_MAX
  // characters included) throws std::bad_alloc; Format then leaves the old text or the empty text,
  // AppendFormat the old text. Both build short texts straight in the string's own block when no
  // other string shares it and neither the pattern nor an argument points into it.
  template <typename... Args>
  void Format(const char16_t* pattern, const Args&... args);
  template <typename... Args>
  void AppendFormat(const char16_t* pattern, const Args&... args);
  void Format(const char16_t* pattern, const std::vector<PlaceholderValue>& args);
  void AppendFormat(const char16_t* pattern, const std::vector<PlaceholderValue>& args);
  // The forms every other one ends in: `count` arguments at `args`.
  void FormatList(const char16_t* pattern, const PlaceholderValue* args, size_t count);
  void AppendFormatList(const char16_t* pattern, const PlaceholderValue* args, size_t count);

  // Replaces the text with the whole entry `id` of `module`'s string table (kest/platform/
  // module.h), whatever its length, and returns true. Returns false and keeps the text when the
  // entry is missing, empty or damaged, or `id` is above 65535.
  bool LoadStringW(HINSTANCE module, unsigned id);

 protected:
  // FormatList without its check for printf-style specifiers, for texts whose patterns are
  // checked once where they are loaded. The text is what the writing pass wrote; empty when the
  // engine fails.
  void RenderList(const char16_t* pattern, const PlaceholderValue* args, size_t count);

 private:
  static IAtlStringMgr* DefaultManager() noexcept;
  void CopyFrom(const VelString& other);
  void Attach(CVelStringData* data) noexcept { m_pszData = data->data(); }
  // A block of this string's own with room for `length` characters, keeping the first
  // min(current length, length) characters.
  char16_t* PrepareWrite(int length);
  void Fork(int length);
  void Grow(int length);
  void SetLength(int length) noexcept {
    GetData()->nDataLength = length;
    m_pszData[length] = 0;
  }
  // One writing pass of the brace engine straight into the string's own block, after its first
  // `keep` characters, when no other string shares the block and neither the pattern nor any
  // argument's text or format lies inside it. True when the text fits the block and is shorter
  // than limit - 10 characters: the string is then keep + that text, and the pass's reports have
  // been sent. Otherwise nothing is reported and the string keeps its first `keep` characters.
  bool FormatInPlace(const char16_t* pattern, const PlaceholderValue* args, size_t count, int keep,
                     int limit);

  char16_t* m_pszData;
};

static_assert(sizeof(VelString) == sizeof(void*), "a VelString is one pointer");

namespace kest::detail {

// The bridge from Format's arguments to the formatter's values. Complete only in
// kest/format/brace_format.h, so a Format or AppendFormat call compiled without that header stops
// on this incomplete type instead of failing later at link time.
template <typename... Args>
struct IncludeKestFormatBraceFormatH;

// Adds one holder to a block that is not locked and says whether it did. The count is raised only
// from a value that is not negative, by compare-exchange, so a locked block's count is never
// written by readers: an increment followed by a take-back would let two copiers meet at 0, and
// the second would share a block that its owner still writes. The first attempt expects the
// commonest count, 1, without reading it first: on x86 a plain read of the count just before the
// locked instruction on it costs a quarter more than the whole copy.
inline bool TryShareBlock(CVelStringData* data) noexcept {
  if (data == SharedEmptyBlock()) return true;  // shared without counting
  std::atomic_ref<int> refs(data->nRefs);
  int current = 1;
  do {
    if (refs.compare_exchange_weak(current, current + 1, std::memory_order_relaxed)) return true;
  } while (current >= 0);
  return false;
}

// The count of holders of `data` (negative when locked), read to decide whether a string may write
// its block in place. The read acquires: when another string that shared the block has just let
// it go, its release decrement must order its last reads of the characters before our writes.
inline int HolderCount(const CVelStringData* data) noexcept {
  return std::atomic_ref<int>(const_cast<int&>(data->nRefs)).load(std::memory_order_acquire);
}

}  // namespace kest::detail

// Copy and destruction are inline: a shared copy is one atomic increment and its destruction one
// atomic decrement, with no call into the library unless a block must be made or freed.
inline VelString::VelString(const VelString& other) {
  CVelStringData* source = other.GetData();
  IAtlStringMgr* manager =
      std::atomic_ref<IAtlStringMgr*>(gVelStringManager2).load(std::memory_order_acquire);
  if (manager != nullptr && source->pStringMgr == manager && kest::detail::TryShareBlock(source)) {
    m_pszData = other.m_pszData;
    return;
  }
  CopyFrom(other);
}

template <typename... Args>
void VelString::Format(const char16_t* pattern, const Args&... args) {
  kest::detail::IncludeKestFormatBraceFormatH<Args...>::Format(*this, pattern, args...);
}

template <typename... Args>
void VelString::AppendFormat(const char16_t* pattern, const Args&... args) {
  kest::detail::IncludeKestFormatBraceFormatH<Args...>::AppendFormat(*this, pattern, args...);
}

inline VelString::~VelString() {
  CVelStringData* data = GetData();
  if (data == kest::detail::SharedEmptyBlock()) return;  // never counted, never freed
  std::atomic_ref<int> refs(data->nRefs);
  // A count of 1 (or a locked block) means this string is the only holder, so the block goes
  // without a locked instruction; the acquire pairs with other holders' release decrements.
  const int current = refs.load(std::memory_order_acquire);
  if (current == 1 || current < 0 || refs.fetch_sub(1, std::memory_order_acq_rel) <= 1) {
    data->pStringMgr->Free(data);
  }
}

KEST_API VelString operator+(const VelString& a, const VelString& b);
KEST_API VelString operator+(const VelString& a, const char16_t* b);
KEST_API VelString operator+(const char16_t* a, const VelString& b);
KEST_API VelString operator+(const VelString& a, char16_t b);
KEST_API VelString operator+(char16_t a, const VelString& b);

// Ordinal equality; a null text equals the empty string.
KEST_API bool operator==(const VelString& a, const VelString& b) noexcept;
KEST_API bool operator==(const VelString& a, const char16_t* b) noexcept;

// Logical ("natural") order of two NUL-terminated strings, either of which may be null. Strings are
// walked in runs of digits ('0'-'9' only) and non-digits:
//   - null < empty < any text; two nulls or two empty strings are equal;
//   - a digit run sorts before a text run;
//   - text runs compare by code unit over their common length (case-sensitive), then the shorter
//     run first;
//   - digit runs compare by exact numeric value, however long; equal values with different lengths
//     put the longer run first ("007" before "7"). A run of zeros followed by '-' and digits reads
//     as the negative of those digits ("0-7" is -7);
//   - the string that runs out first is less.
// Returns -1, 0 or 1. Any thread; allocates nothing.
KEST_API int VelStrCmpLogicalCase(const char16_t* a, const char16_t* b) noexcept;

// The order of VelString's operator<: the logical order above, except that when both strings are
// non-empty and start with different characters, a string of two or more characters that starts
// with gSortLowChar ('*') sorts after every string that starts with anything else.
KEST_API bool VelStrLessLogical(const char16_t* a, const char16_t* b) noexcept;

KEST_API extern const char16_t gSortLowChar;

KEST_API bool operator<(const VelString& a, const VelString& b) noexcept;

// CRC-64/WE of the text's UTF-16LE bytes (length * 2, NUL excluded). The empty string hashes to 0.
struct KEST_API VelStringHash {
  uint64_t operator()(const VelString& s) const noexcept;
};

// VelStringHash of the text after the fixed simple upper-case mapping (the one MakeUpper uses).
// Allocates nothing, whatever the length.
struct KEST_API CaseInsensitiveVelStringHash {
  uint64_t operator()(const VelString& s) const noexcept;
};

// Whether the two texts are equal after the fixed simple upper-case mapping, character by
// character.
struct KEST_API CaseInsensitiveVelStringEqual {
  bool operator()(const VelString& a, const VelString& b) const noexcept;
};

namespace kest {

// The library's fixed simple case mappings of one UTF-16 code unit.
KEST_API char16_t ToUpper(char16_t ch) noexcept;
KEST_API char16_t ToLower(char16_t ch) noexcept;
// Whether `ch` is in the white-space set that Trim removes.
KEST_API bool IsWhiteSpace(char16_t ch) noexcept;

}  // namespace kest
