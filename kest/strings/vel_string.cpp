#include "kest/strings/vel_string.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <new>

#include "kest/base/string_block.h"
#include "kest/platform/text.h"
#include "kest/strings/text_scan.h"

namespace {

constexpr int kCharSize = 2;

inline int TextLength(const char16_t* text) noexcept {
  if (text == nullptr) return 0;
  return static_cast<int>(kest::detail::Utf16Length(text));
}

// Lengths are int throughout the block header; a sum that does not fit is a block nobody can have.
inline int CheckedSum(int64_t a, int64_t b) {
  const int64_t sum = a + b;
  if (sum > INT_MAX) throw std::bad_alloc();
  return static_cast<int>(sum);
}

inline void ReleaseBlock(CVelStringData* data) noexcept {
  if (data == kest::detail::SharedEmptyBlock()) return;  // never counted, never freed
  std::atomic_ref<int> refs(data->nRefs);
  // A count of 1 (or a locked block) means this string is the only holder: nobody else can raise
  // the count, so the block can go without a locked instruction. The acquire pairs with the
  // release of the other holders' decrements.
  const int current = refs.load(std::memory_order_acquire);
  if (current == 1 || current < 0 || refs.fetch_sub(1, std::memory_order_acq_rel) <= 1) {
    data->pStringMgr->Free(data);
  }
}

inline int RefCount(const CVelStringData* data) noexcept { return kest::detail::HolderCount(data); }

// The empty block of `manager`: the process manager's shared one without counting, any other
// manager's through its counted GetNilString.
inline CVelStringData* EmptyBlockOf(IAtlStringMgr* manager) noexcept {
  CVelStringData* shared = kest::detail::SharedEmptyBlock();
  if (shared != nullptr && shared->pStringMgr == manager) return shared;
  return manager->GetNilString();
}

inline CVelStringData* AllocateOrThrow(IAtlStringMgr* manager, int length) {
  CVelStringData* data = manager->Allocate(length, kCharSize);
  if (data == nullptr) throw std::bad_alloc();
  return data;
}

inline void CopyChars(char16_t* to, const char16_t* from, int count) noexcept {
  if (count > 0) std::memmove(to, from, static_cast<size_t>(count) * kCharSize);
}

}  // namespace

IAtlStringMgr* VelString::DefaultManager() noexcept {
  if (IAtlStringMgr* manager =
          std::atomic_ref<IAtlStringMgr*>(gVelStringManager2).load(std::memory_order_acquire)) {
    return manager;
  }
  return GetVelStringManager();
}

VelString::VelString() noexcept { Attach(EmptyBlockOf(DefaultManager())); }

VelString::VelString(IAtlStringMgr* manager) noexcept {
  Attach(EmptyBlockOf(manager != nullptr ? manager : DefaultManager()));
}

void VelString::CopyFrom(const VelString& other) {
  CVelStringData* source = other.GetData();
  IAtlStringMgr* manager = DefaultManager();
  if (source->pStringMgr == manager && kest::detail::TryShareBlock(source)) {
    Attach(source);
    return;
  }
  const int length = source->nDataLength;
  CVelStringData* data = AllocateOrThrow(manager, length);
  CopyChars(data->data(), source->data(), length);
  data->nDataLength = length;
  data->data()[length] = 0;
  Attach(data);
}

VelString::VelString(VelString&& other) noexcept : m_pszData(other.m_pszData) {
  other.Attach(EmptyBlockOf(GetManager()));
}

VelString::VelString(const char16_t* text) : VelString(text, TextLength(text)) {}

VelString::VelString(std::u16string_view text) {
  if (text.size() > INT_MAX) throw std::bad_alloc();
  Attach(EmptyBlockOf(DefaultManager()));
  SetString(text.data(), static_cast<int>(text.size()));
}

VelString::VelString(const char16_t* text, int length) {
  IAtlStringMgr* manager = DefaultManager();
  if (text == nullptr || length <= 0) {
    Attach(EmptyBlockOf(manager));
    return;
  }
  CVelStringData* data = AllocateOrThrow(manager, length);
  CopyChars(data->data(), text, length);
  data->nDataLength = length;
  data->data()[length] = 0;
  Attach(data);
}

VelString::VelString(const char* narrow) : VelString() { *this = narrow; }

VelString::VelString(char16_t ch, int repeat) : VelString() {
  if (repeat <= 0) return;
  char16_t* buffer = PrepareWrite(repeat);
  std::fill_n(buffer, repeat, ch);
  SetLength(repeat);
}

VelString& VelString::operator=(const VelString& other) {
  if (other.m_pszData == m_pszData) return *this;
  CVelStringData* source = other.GetData();
  CVelStringData* mine = GetData();
  // A locked string keeps its own block and takes a copy of the characters.
  if (RefCount(mine) >= 0 && source->pStringMgr == mine->pStringMgr &&
      kest::detail::TryShareBlock(source)) {
    ReleaseBlock(mine);
    Attach(source);
  } else {
    SetString(source->data(), source->nDataLength);
  }
  return *this;
}

VelString& VelString::operator=(VelString&& other) {
  if (this == &other) return *this;
  CVelStringData* mine = GetData();
  if (RefCount(mine) < 0) {
    // A locked string stays locked. It may take the other block only when `other` alone holds it
    // (the lock then moves onto that block); a shared or empty text is copied into its own.
    CVelStringData* theirs = other.GetData();
    const int refs = RefCount(theirs);
    const bool alone = refs == 1 || refs < 0;
    if (!alone || theirs->nAllocLength == 0 || theirs->pStringMgr != mine->pStringMgr) {
      SetString(theirs->data(), theirs->nDataLength);
      return *this;
    }
    theirs->nRefs = -1;
  }
  m_pszData = other.m_pszData;
  other.Attach(EmptyBlockOf(mine->pStringMgr));
  ReleaseBlock(mine);
  return *this;
}

VelString& VelString::operator=(const char16_t* text) {
  SetString(text, TextLength(text));
  return *this;
}

VelString& VelString::operator=(std::u16string_view text) {
  if (text.size() > INT_MAX) throw std::bad_alloc();
  SetString(text.data(), static_cast<int>(text.size()));
  return *this;
}

VelString& VelString::operator=(const char* narrow) {
  const int bytes =
      narrow == nullptr ? 0 : static_cast<int>(std::min<size_t>(strlen(narrow), INT_MAX));
  const int units = kest::platform::NarrowToUtf16(narrow, bytes, nullptr, 0);
  if (units == 0) {
    Empty();
    return *this;
  }
  VelString widened;
  char16_t* buffer = widened.GetBufferSetLength(units);
  kest::platform::NarrowToUtf16(narrow, bytes, buffer, units);
  return *this = std::move(widened);
}

VelString& VelString::operator=(char16_t ch) {
  SetString(&ch, 1);
  return *this;
}

VelString& VelString::operator+=(const VelString& text) {
  Append(text.m_pszData, text.GetLength());
  return *this;
}

VelString& VelString::operator+=(const char16_t* text) {
  Append(text, TextLength(text));
  return *this;
}

VelString& VelString::operator+=(std::u16string_view text) {
  if (text.size() > INT_MAX) throw std::bad_alloc();
  Append(text.data(), static_cast<int>(text.size()));
  return *this;
}

VelString& VelString::operator+=(const char* narrow) {
  if (narrow != nullptr && *narrow != 0) *this += VelString(narrow);
  return *this;
}

VelString& VelString::operator+=(char16_t ch) {
  Append(&ch, 1);
  return *this;
}

bool VelString::LoadStringW(HINSTANCE module, unsigned id) {
  if (id > 0xFFFF) return false;
  const std::u16string_view entry =
      kest::StringBlockEntry(kest::platform::StringBlock(module, id / 16 + 1), id % 16);
  if (entry.empty()) return false;
  SetString(entry.data(), static_cast<int>(entry.size()));
  return true;
}

void VelString::SetString(const char16_t* text, int length) {
  if (text == nullptr || length <= 0) {
    Empty();
    return;
  }
  CVelStringData* old = GetData();
  const int refs = RefCount(old);
  if ((refs == 1 || refs < 0) && old->nAllocLength >= length) {
    // Our own block is big enough; memmove copes with text that lies inside it.
    CopyChars(m_pszData, text, length);
    SetLength(length);
    return;
  }
  // Copy from the source before the old block can go: the source may live in it.
  CVelStringData* data = AllocateOrThrow(old->pStringMgr, length);
  CopyChars(data->data(), text, length);
  data->nDataLength = length;
  data->data()[length] = 0;
  // A locked string stays locked: it was promised that copies never share it.
  if (refs < 0) data->nRefs = -1;
  ReleaseBlock(old);
  Attach(data);
}

void VelString::Append(const char16_t* text, int length) {
  if (text == nullptr || length <= 0) return;
  const int old_length = GetLength();
  const int new_length = CheckedSum(old_length, length);
  CVelStringData* data = GetData();
  const bool aliases = text >= m_pszData && text < m_pszData + data->nAllocLength + 1;
  if (aliases) {
    // The source is our own text; a reallocation would free it under us.
    const int offset = static_cast<int>(text - m_pszData);
    char16_t* buffer = PrepareWrite(new_length);
    CopyChars(buffer + old_length, buffer + offset, length);
  } else {
    char16_t* buffer = PrepareWrite(new_length);
    CopyChars(buffer + old_length, text, length);
  }
  SetLength(new_length);
}

char16_t VelString::GetAt(int index) const noexcept {
  if (index < 0 || index >= GetLength()) return 0;
  return m_pszData[index];
}

void VelString::SetAt(int index, char16_t ch) {
  const int length = GetLength();
  if (index < 0 || index >= length) return;
  PrepareWrite(length)[index] = ch;
}

int VelString::Compare(const char16_t* text) const noexcept {
  static const char16_t kEmpty[1] = {0};
  const char16_t* a = m_pszData;
  const char16_t* b = text != nullptr ? text : kEmpty;
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

int VelString::CompareNoCase(const char16_t* text) const noexcept {
  static const char16_t kEmpty[1] = {0};
  const char16_t* a = m_pszData;
  const char16_t* b = text != nullptr ? text : kEmpty;
  for (;; ++a, ++b) {
    const char16_t ua = kest::ToUpper(*a);
    const char16_t ub = kest::ToUpper(*b);
    if (ua != ub) return ua < ub ? -1 : 1;
    if (ua == 0) return 0;
  }
}

void VelString::Concatenate(VelString& result, const char16_t* a, int a_length, const char16_t* b,
                            int b_length) {
  if (a == nullptr) a_length = 0;
  if (b == nullptr) b_length = 0;
  a_length = std::max(a_length, 0);
  b_length = std::max(b_length, 0);
  const int length = CheckedSum(a_length, b_length);
  // Build apart from `result`: a and b may point into it.
  VelString joined(result.GetManager());
  if (length > 0) {
    char16_t* buffer = joined.PrepareWrite(length);
    CopyChars(buffer, a, a_length);
    CopyChars(buffer + a_length, b, b_length);
    joined.SetLength(length);
  }
  result = std::move(joined);
}

void VelString::Empty() noexcept {
  CVelStringData* old = GetData();
  if (RefCount(old) < 0) {
    // A locked block stays the string's own until UnlockBuffer; it is only cut.
    SetLength(0);
    return;
  }
  if (old->nDataLength == 0 && old->nAllocLength == 0) return;  // already the nil block
  IAtlStringMgr* manager = old->pStringMgr;
  Attach(EmptyBlockOf(manager));
  ReleaseBlock(old);
}

int VelString::Find(const char16_t* text, int start) const noexcept {
  const int length = GetLength();
  if (start < 0) start = 0;
  if (start > length) return -1;
  const int text_length = TextLength(text);
  if (text_length == 0) return start;
  const std::u16string_view haystack(m_pszData, static_cast<size_t>(length));
  const size_t at = haystack.find(std::u16string_view(text, static_cast<size_t>(text_length)),
                                  static_cast<size_t>(start));
  return at == std::u16string_view::npos ? -1 : static_cast<int>(at);
}

int VelString::Find(char16_t ch, int start) const noexcept {
  const int length = GetLength();
  if (start < 0) start = 0;
  for (int i = start; i < length; ++i) {
    if (m_pszData[i] == ch) return i;
  }
  return -1;
}

int VelString::ReverseFind(char16_t ch) const noexcept {
  for (int i = GetLength() - 1; i >= 0; --i) {
    if (m_pszData[i] == ch) return i;
  }
  return -1;
}

int VelString::FindOneOf(const char16_t* set) const noexcept {
  if (set == nullptr) return -1;
  const std::u16string_view chars(set);
  const int length = GetLength();
  for (int i = 0; i < length; ++i) {
    if (chars.find(m_pszData[i]) != std::u16string_view::npos) return i;
  }
  return -1;
}

int VelString::Insert(int index, const char16_t* text) {
  const int length = GetLength();
  const int count = TextLength(text);
  if (count == 0) return length;
  index = std::clamp(index, 0, length);
  const int new_length = CheckedSum(length, count);
  // Copy the inserted text first: it may be part of this string.
  VelString inserted(text, count);
  char16_t* buffer = PrepareWrite(new_length);
  CopyChars(buffer + index + count, buffer + index, length - index);
  CopyChars(buffer + index, inserted.m_pszData, count);
  SetLength(new_length);
  return new_length;
}

int VelString::Insert(int index, char16_t ch) {
  const char16_t text[2] = {ch, 0};
  if (ch == 0) return GetLength();
  return Insert(index, text);
}

int VelString::Delete(int index, int count) {
  const int length = GetLength();
  if (index < 0) index = 0;
  if (count <= 0 || index >= length) return length;
  count = std::min(count, length - index);
  char16_t* buffer = PrepareWrite(length);
  CopyChars(buffer + index, buffer + index + count, length - index - count);
  SetLength(length - count);
  return length - count;
}

int VelString::Remove(char16_t ch) {
  const int length = GetLength();
  if (Find(ch) < 0) return 0;
  char16_t* buffer = PrepareWrite(length);
  int kept = 0;
  for (int i = 0; i < length; ++i) {
    if (buffer[i] != ch) buffer[kept++] = buffer[i];
  }
  SetLength(kept);
  return length - kept;
}

VelString VelString::Mid(int first, int count) const {
  const int length = GetLength();
  if (first < 0) first = 0;
  if (first >= length || count <= 0) return VelString(GetManager());
  count = std::min(count, length - first);
  if (first == 0 && count == length) return *this;
  return VelString(m_pszData + first, count);
}

VelString VelString::Mid(int first) const { return Mid(first, INT_MAX); }
VelString VelString::Left(int count) const { return Mid(0, count); }
VelString VelString::Right(int count) const {
  const int length = GetLength();
  count = std::clamp(count, 0, length);
  return Mid(length - count, count);
}

int VelString::Replace(const char16_t* old_text, const char16_t* new_text) {
  const int old_length = TextLength(old_text);
  if (old_length == 0) return 0;
  const std::u16string_view from(old_text, static_cast<size_t>(old_length));
  const std::u16string_view to(new_text != nullptr ? new_text : u"");
  const std::u16string_view text = View();
  int count = 0;
  for (size_t at = text.find(from); at != text.npos; at = text.find(from, at + from.size())) {
    ++count;
  }
  if (count == 0) return 0;
  const int64_t new_length = static_cast<int64_t>(text.size()) +
                             static_cast<int64_t>(count) * (int64_t(to.size()) - old_length);
  if (new_length > INT_MAX) throw std::bad_alloc();
  // Build the result apart: the old and new texts may point into this string.
  VelString result(GetManager());
  char16_t* out = result.PrepareWrite(static_cast<int>(new_length));
  size_t done = 0;
  for (size_t at = text.find(from); at != text.npos; at = text.find(from, at + from.size())) {
    CopyChars(out, text.data() + done, static_cast<int>(at - done));
    out += at - done;
    CopyChars(out, to.data(), static_cast<int>(to.size()));
    out += to.size();
    done = at + from.size();
  }
  CopyChars(out, text.data() + done, static_cast<int>(text.size() - done));
  result.SetLength(static_cast<int>(new_length));
  *this = std::move(result);
  return count;
}

int VelString::Replace(char16_t old_ch, char16_t new_ch) {
  if (old_ch == new_ch) return 0;
  int first = Find(old_ch);
  if (first < 0) return 0;
  const int length = GetLength();
  char16_t* buffer = PrepareWrite(length);
  int count = 0;
  for (int i = first; i < length; ++i) {
    if (buffer[i] == old_ch) {
      buffer[i] = new_ch;
      ++count;
    }
  }
  // Writing a NUL into the text shortens it, as a C string would read it.
  if (new_ch == 0) SetLength(first);
  return count;
}

namespace {

template <typename Pred>
void TrimWith(VelString& s, bool left, bool right, Pred remove) {
  const char16_t* text = s.GetString();
  int begin = 0;
  int end = s.GetLength();
  if (right) {
    while (end > 0 && remove(text[end - 1])) --end;
  }
  if (left) {
    while (begin < end && remove(text[begin])) ++begin;
  }
  if (begin == 0 && end == s.GetLength()) return;
  if (begin == end) {
    s.Empty();
    return;
  }
  s.SetString(text + begin, end - begin);
}

bool InSet(const char16_t* set, char16_t ch) {
  for (; *set != 0; ++set) {
    if (*set == ch) return true;
  }
  return false;
}

}  // namespace

VelString& VelString::Trim() {
  TrimWith(*this, true, true, kest::IsWhiteSpace);
  return *this;
}
VelString& VelString::TrimLeft() {
  TrimWith(*this, true, false, kest::IsWhiteSpace);
  return *this;
}
VelString& VelString::TrimRight() {
  TrimWith(*this, false, true, kest::IsWhiteSpace);
  return *this;
}
VelString& VelString::Trim(char16_t ch) {
  TrimWith(*this, true, true, [ch](char16_t c) { return c == ch; });
  return *this;
}
VelString& VelString::TrimLeft(char16_t ch) {
  TrimWith(*this, true, false, [ch](char16_t c) { return c == ch; });
  return *this;
}
VelString& VelString::TrimRight(char16_t ch) {
  TrimWith(*this, false, true, [ch](char16_t c) { return c == ch; });
  return *this;
}
VelString& VelString::Trim(const char16_t* set) {
  if (set != nullptr) TrimWith(*this, true, true, [set](char16_t c) { return InSet(set, c); });
  return *this;
}
VelString& VelString::TrimLeft(const char16_t* set) {
  if (set != nullptr) TrimWith(*this, true, false, [set](char16_t c) { return InSet(set, c); });
  return *this;
}
VelString& VelString::TrimRight(const char16_t* set) {
  if (set != nullptr) TrimWith(*this, false, true, [set](char16_t c) { return InSet(set, c); });
  return *this;
}

VelString& VelString::MakeUpper() {
  const int length = GetLength();
  int i = 0;
  while (i < length && kest::ToUpper(m_pszData[i]) == m_pszData[i]) ++i;
  if (i == length) return *this;  // nothing to change: no fork
  char16_t* buffer = PrepareWrite(length);
  for (; i < length; ++i) buffer[i] = kest::ToUpper(buffer[i]);
  return *this;
}

VelString& VelString::MakeLower() {
  const int length = GetLength();
  int i = 0;
  while (i < length && kest::ToLower(m_pszData[i]) == m_pszData[i]) ++i;
  if (i == length) return *this;
  char16_t* buffer = PrepareWrite(length);
  for (; i < length; ++i) buffer[i] = kest::ToLower(buffer[i]);
  return *this;
}

char16_t* VelString::GetBuffer() { return PrepareWrite(GetLength()); }

char16_t* VelString::GetBuffer(int min_length) {
  return PrepareWrite(std::max(min_length, GetLength()));
}

char16_t* VelString::GetBufferSetLength(int length) {
  length = std::max(length, 0);
  char16_t* buffer = PrepareWrite(length);
  SetLength(length);
  return buffer;
}

void VelString::ReleaseBuffer(int new_length) noexcept {
  CVelStringData* data = GetData();
  if (data->nAllocLength == 0) return;  // the shared empty block is never written
  const int capacity = data->nAllocLength;
  if (new_length < 0) {
    new_length = 0;
    while (new_length < capacity && m_pszData[new_length] != 0) ++new_length;
  }
  SetLength(std::min(new_length, capacity));
}

char16_t* VelString::LockBuffer() {
  char16_t* buffer = PrepareWrite(GetLength());
  GetData()->nRefs = -1;
  return buffer;
}

void VelString::UnlockBuffer() noexcept {
  CVelStringData* data = GetData();
  if (RefCount(data) < 0) data->nRefs = 1;
}

void VelString::Preallocate(int length) {
  if (length > GetAllocLength() || RefCount(GetData()) > 1) {
    PrepareWrite(std::max(length, GetLength()));
  }
}

void VelString::Truncate(int length) {
  if (length < 0) length = 0;
  if (length >= GetLength()) return;
  if (length == 0) {
    Empty();
    return;
  }
  PrepareWrite(length);
  SetLength(length);
}

char16_t* VelString::PrepareWrite(int length) {
  CVelStringData* data = GetData();
  if (RefCount(data) > 1 || data->nAllocLength == 0) {
    Fork(length);
  } else if (data->nAllocLength < length) {
    Grow(length);
  }
  return m_pszData;
}

void VelString::Fork(int length) {
  CVelStringData* old = GetData();
  // A locked block is forked only when it has no room at all (capacity 0); the lock goes along.
  const bool locked = RefCount(old) < 0;
  CVelStringData* data = AllocateOrThrow(old->pStringMgr, length);
  const int keep = std::min(old->nDataLength, length);
  CopyChars(data->data(), old->data(), keep);
  data->nDataLength = keep;
  data->data()[keep] = 0;
  if (locked) data->nRefs = -1;
  ReleaseBlock(old);
  Attach(data);
}

void VelString::Grow(int length) {
  CVelStringData* old = GetData();
  // Half again the old capacity keeps repeated appends linear; small strings jump straight to a
  // size class the caches handle.
  int64_t wanted = std::max<int64_t>(length, old->nAllocLength + old->nAllocLength / 2);
  if (wanted > INT_MAX) wanted = length;
  const bool locked = RefCount(old) < 0;
  CVelStringData* data = old->pStringMgr->Reallocate(old, static_cast<int>(wanted), kCharSize);
  if (data == nullptr && wanted > length) {
    data = old->pStringMgr->Reallocate(old, length, kCharSize);
  }
  if (data == nullptr) throw std::bad_alloc();
  if (locked) data->nRefs = -1;
  Attach(data);
}

VelString operator+(const VelString& a, const VelString& b) {
  VelString result(a.GetManager());
  VelString::Concatenate(result, a.GetString(), a.GetLength(), b.GetString(), b.GetLength());
  return result;
}

VelString operator+(const VelString& a, const char16_t* b) {
  VelString result(a.GetManager());
  VelString::Concatenate(result, a.GetString(), a.GetLength(), b, TextLength(b));
  return result;
}

VelString operator+(const char16_t* a, const VelString& b) {
  VelString result(b.GetManager());
  VelString::Concatenate(result, a, TextLength(a), b.GetString(), b.GetLength());
  return result;
}

VelString operator+(const VelString& a, char16_t b) {
  VelString result(a.GetManager());
  VelString::Concatenate(result, a.GetString(), a.GetLength(), &b, 1);
  return result;
}

VelString operator+(char16_t a, const VelString& b) {
  VelString result(b.GetManager());
  VelString::Concatenate(result, &a, 1, b.GetString(), b.GetLength());
  return result;
}

bool operator==(const VelString& a, const VelString& b) noexcept {
  return a.GetString() == b.GetString() || a.View() == b.View();
}

bool operator==(const VelString& a, const char16_t* b) noexcept { return a.Compare(b) == 0; }
