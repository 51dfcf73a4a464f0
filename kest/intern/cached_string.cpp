#include "kest/intern/cached_string.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

#include "kest/base/module_lifetime.h"
#include "kest/context/lock_cs.h"
#include "kest/util/crc.h"

HasToString::~HasToString() = default;

namespace kest {
namespace {

struct Entry {
  uint64_t key;
  VelString text;
};

// One slot of the lookup index. A writer stores the entry and then publishes the key with release
// order; a reader that sees the key with acquire order therefore sees the entry. Key 0 marks an
// empty slot, since no entry ever holds key 0.
struct Slot {
  std::atomic<uint64_t> key{0};
  std::atomic<Entry*> entry{nullptr};
};

// Open addressing with linear probing, at most three quarters full, so a probe always ends at an
// empty slot. Growing builds a bigger index and publishes it; readers still probing the old one
// find every entry that existed when they started, and the old index is kept (on the `older`
// chain) until the table is cleared, when no reader can be inside it any more (see ReadGuard).
struct Index {
  explicit Index(size_t size) : mask(size - 1), slots(new Slot[size]) {}
  size_t Size() const { return mask + 1; }
  size_t mask;
  std::unique_ptr<Slot[]> slots;
  Index* older = nullptr;
};

constexpr size_t kFirstIndexSize = 16;
constexpr size_t kReservedEntries = 20000;

// Readers that may be probing an index or reading an entry, spread over cache lines so that
// threads rarely count on the same one. Only a clear waits for them.
struct alignas(64) ReaderStripe {
  std::atomic<uint32_t> readers{0};
};
constexpr size_t kReaderStripes = 16;

struct Table {
  CLockCS lock;
  ReaderStripe stripes[kReaderStripes];
  std::atomic<Index*> index{new Index(kFirstIndexSize)};
  std::atomic<bool> reserved{false};
  std::atomic<size_t> entries{0};
  std::atomic<size_t> moved_keys{0};
  std::atomic<size_t> text_units{0};
  std::atomic<uint64_t> epoch{0};
};

// Never destroyed: statics that outlive this translation unit's may still convert handles.
Table& TheTable() {
  static Table* const table = new Table;
  return *table;
}

// Marks the calling thread as a reader for its lifetime, so that a clear frees nothing it may
// still touch. The count goes up before the index is loaded (both sequentially consistent), and
// the clear publishes its new index before it reads the counts: a reader the clear does not see
// counted therefore loads the new index.
class ReadGuard {
 public:
  ReadGuard() noexcept : stripe_(TheTable().stripes[StripeOfThisStack()]) {
    stripe_.readers.fetch_add(1, std::memory_order_seq_cst);
  }
  ~ReadGuard() { stripe_.readers.fetch_sub(1, std::memory_order_release); }
  ReadGuard(const ReadGuard&) = delete;
  ReadGuard& operator=(const ReadGuard&) = delete;

 private:
  // Threads' stacks lie far apart, so the stack address spreads them without a thread-local.
  static size_t StripeOfThisStack() noexcept {
    const char here = 0;
    return (reinterpret_cast<uintptr_t>(&here) >> 16) % kReaderStripes;
  }
  ReaderStripe& stripe_;
};

void WaitForReaders(Table& table) noexcept {
  for (ReaderStripe& stripe : table.stripes) {
    while (stripe.readers.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
  }
}

}  // namespace

namespace detail {
void StartCachedStrings() { TheTable(); }
}  // namespace detail

namespace {

// The keys are CRC values, which a caller can steer into runs (CRC is affine), so spread them
// before they pick a slot.
inline size_t SlotOf(uint64_t key, size_t mask) {
  key ^= key >> 31;
  key *= 0x7fb5d329728ea185ULL;
  key ^= key >> 27;
  key *= 0x81dadef4bc2dd44dULL;
  key ^= key >> 33;
  return static_cast<size_t>(key) & mask;
}

inline uint64_t NextKey(uint64_t key) { return key == UINT64_MAX ? 1 : key + 1; }

const Entry* FindIn(const Index* index, uint64_t key) noexcept {
  for (size_t i = SlotOf(key, index->mask);; i = (i + 1) & index->mask) {
    const uint64_t held = index->slots[i].key.load(std::memory_order_acquire);
    if (held == key) return index->slots[i].entry.load(std::memory_order_relaxed);
    if (held == 0) return nullptr;
  }
}

// Inside a ReadGuard: the entry stays valid while the guard lives.
const Entry* Find(uint64_t key) noexcept {
  return FindIn(TheTable().index.load(std::memory_order_seq_cst), key);
}

bool SameText(const VelString& stored, std::u16string_view text) noexcept {
  return static_cast<size_t>(stored.GetLength()) == text.size() &&
         (text.empty() ||
          std::memcmp(stored.GetString(), text.data(), text.size() * sizeof(char16_t)) == 0);
}

// Walks the key chain of `text` from its base key. Returns the key that holds the text, or 0 with
// `free_key` set to the first key of the chain that nobody holds.
uint64_t WalkChain(std::u16string_view text, uint64_t* free_key) noexcept {
  ReadGuard reading;
  for (uint64_t key = CachedStringBaseKey(text);; key = NextKey(key)) {
    const Entry* entry = Find(key);
    if (entry == nullptr) {
      if (free_key) *free_key = key;
      return 0;
    }
    if (SameText(entry->text, text)) return key;
  }
}

void PutIn(Index* index, Entry* entry) noexcept {
  size_t i = SlotOf(entry->key, index->mask);
  while (index->slots[i].key.load(std::memory_order_relaxed) != 0) i = (i + 1) & index->mask;
  index->slots[i].entry.store(entry, std::memory_order_relaxed);
  index->slots[i].key.store(entry->key, std::memory_order_release);
}

bool Fits(size_t entries, size_t size) { return entries * 4 <= size * 3; }

// Makes the index hold at least `entries` entries. Called with the table lock held.
void EnsureRoom(Table& table, size_t entries) {
  Index* current = table.index.load(std::memory_order_relaxed);
  if (Fits(entries, current->Size())) return;
  size_t size = current->Size() * 2;
  while (!Fits(entries, size)) size *= 2;
  auto grown = std::make_unique<Index>(size);
  for (size_t i = 0; i < current->Size(); ++i) {
    if (current->slots[i].key.load(std::memory_order_relaxed) != 0)
      PutIn(grown.get(), current->slots[i].entry.load(std::memory_order_relaxed));
  }
  grown->older = current;
  table.index.store(grown.release(), std::memory_order_release);
}

uint64_t Intern(std::u16string_view text) {
  if (uint64_t key = WalkChain(text, nullptr)) return key;
  Table& table = TheTable();
  CAcquireCS guard(table.lock);
  uint64_t key = 0;
  // Another thread may have entered the text, or taken its free key, since the walk above.
  if (uint64_t held = WalkChain(text, &key)) return held;
  auto entry = std::make_unique<Entry>();
  entry->key = key;
  entry->text = VelString(text);
  EnsureRoom(table, table.entries.load(std::memory_order_relaxed) + 1);
  PutIn(table.index.load(std::memory_order_relaxed), entry.release());
  table.entries.fetch_add(1, std::memory_order_relaxed);
  table.text_units.fetch_add(text.size(), std::memory_order_relaxed);
  if (key != CachedStringBaseKey(text)) table.moved_keys.fetch_add(1, std::memory_order_relaxed);
  return key;
}

void ReserveOnce() noexcept {
  Table& table = TheTable();
  if (table.reserved.load(std::memory_order_acquire)) return;
  CAcquireCS guard(table.lock);
  if (table.reserved.load(std::memory_order_relaxed)) return;
  try {
    EnsureRoom(table, kReservedEntries);
    table.reserved.store(true, std::memory_order_release);
  } catch (const std::bad_alloc&) {
    // Without the room the table still works; it grows as texts come in.
  }
}

}  // namespace

uint64_t CachedStringBaseKey(std::u16string_view text) noexcept {
  const uint64_t hash = CRC64(text.data(), text.size() * sizeof(char16_t));
  return hash == 0 ? 1 : hash;
}

const VelString* FindCachedString(uint64_t key) noexcept {
  if (key == 0) return nullptr;
  ReadGuard reading;
  const Entry* entry = Find(key);
  return entry ? &entry->text : nullptr;
}

uint64_t FindCachedKey(std::u16string_view text) noexcept { return WalkChain(text, nullptr); }

CachedStringStats GetCachedStringStats() noexcept {
  Table& table = TheTable();
  CachedStringStats stats;
  stats.entries = table.entries.load(std::memory_order_relaxed);
  stats.moved_keys = table.moved_keys.load(std::memory_order_relaxed);
  stats.text_units = table.text_units.load(std::memory_order_relaxed);
  ReadGuard reading;
  stats.index_slots = table.index.load(std::memory_order_seq_cst)->Size();
  return stats;
}

void ClearCachedStringsForShutdown() noexcept {
  Table& table = TheTable();
  CAcquireCS guard(table.lock);
  if (table.entries.load(std::memory_order_relaxed) == 0) return;  // nothing to free
  Index* current = table.index.load(std::memory_order_relaxed);
  // As many slots as before: a host that clears at the end of its life should not pay for growing
  // the index again if it goes on interning.
  Index* fresh = new (std::nothrow) Index(current->Size());
  if (fresh == nullptr) return;  // keep everything rather than leave no index at all
  table.index.store(fresh, std::memory_order_seq_cst);
  table.epoch.fetch_add(1, std::memory_order_release);
  WaitForReaders(table);
  for (size_t i = 0; i < current->Size(); ++i) {
    if (current->slots[i].key.load(std::memory_order_relaxed) != 0)
      delete current->slots[i].entry.load(std::memory_order_relaxed);
  }
  for (Index* index = current; index != nullptr;) {
    Index* older = index->older;
    delete index;
    index = older;
  }
  table.entries.store(0, std::memory_order_relaxed);
  table.moved_keys.store(0, std::memory_order_relaxed);
  table.text_units.store(0, std::memory_order_relaxed);
}

uint64_t CachedStringEpoch() noexcept { return TheTable().epoch.load(std::memory_order_acquire); }

}  // namespace kest

CachedString::CachedString() noexcept : key_(0) { kest::ReserveOnce(); }

CachedString::CachedString(const char16_t* text)
    : key_(kest::Intern(text ? std::u16string_view(text) : std::u16string_view())) {}

CachedString::CachedString(const VelString& text)
    : key_(kest::Intern(std::u16string_view(text.GetString(), text.GetLength()))) {}

CachedString::CachedString(std::u16string_view text) : key_(kest::Intern(text)) {}

CachedString::~CachedString() = default;

CachedString::operator const char16_t*() const noexcept {
  if (key_ == 0) return u"";
  const VelString* text = kest::FindCachedString(key_);
  return text ? text->GetString() : nullptr;
}

CachedString::operator VelString() const {
  kest::ReadGuard reading;
  const VelString* text = kest::FindCachedString(key_);
  return text ? VelString(text->GetString(), text->GetLength()) : VelString();
}

VelString CachedString::ToStringForHash() const { return static_cast<VelString>(*this); }

int CachedString::GetLength() const noexcept {
  kest::ReadGuard reading;
  const VelString* text = kest::FindCachedString(key_);
  return text ? text->GetLength() : 0;
}

int CachedString::CompareNoCase(const char16_t* text) const noexcept {
  kest::ReadGuard reading;
  const VelString* mine = kest::FindCachedString(key_);
  const VelString empty;
  return (mine ? *mine : empty).CompareNoCase(text ? text : u"");
}

bool operator<(const CachedString& left, const CachedString& right) noexcept {
  if (left.Key() == right.Key()) return false;
  if (left.Key() == 0) return true;
  if (right.Key() == 0) return false;
  kest::ReadGuard reading;
  const VelString* a = kest::FindCachedString(left.Key());
  const VelString* b = kest::FindCachedString(right.Key());
  const VelString empty;
  const VelString& x = a ? *a : empty;
  const VelString& y = b ? *b : empty;
  if (VelStrLessLogical(x, y)) return true;
  if (VelStrLessLogical(y, x)) return false;
  // The logical order reads up to the first NUL; texts that differ only after one are still
  // different keys, so order them by length and units to keep equivalence equal to identity.
  // By units, as kestc sort does: bytes would put U+0100 (00 01) before U+00FF (FF 00).
  if (x.GetLength() != y.GetLength()) return x.GetLength() < y.GetLength();
  return x.View() < y.View();
}
