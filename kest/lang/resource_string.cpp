#include "kest/lang/resource_string.h"

#include <memory>
#include <unordered_map>

#include "kest/base/module_lifetime.h"
#include "kest/context/lock_cs.h"
#include "kest/diag/dev_alerts.h"
#include "kest/diag/module_globals.h"
#include "kest/intern/cached_string.h"
#include "kest/lang/language.h"

#if !defined(_WIN32)
// The library's generated table; referring to it keeps it in a static archive's link.
extern kest::platform::StringTable kest_library_string_table;
#endif

namespace kest {
namespace {

// An entry of the cache: which string of which module, and its translated pattern.
struct StringCacheItem {
  StringCacheItem(uint16_t id_, HINSTANCE module_, const VelString& pattern_)
      : id(id_), module(module_), pattern(pattern_), text(pattern_) {}
  virtual ~StringCacheItem() = default;

  uint16_t id;
  HINSTANCE module;
  CachedString pattern;
  // The pattern's block, shared: a hit without placeholders takes it as its text with one count
  // increment, and it outlives a shutdown clear of the interned texts.
  VelString text;
};

// What the map holds for a key: the item it owns, and beside it what a hit with placeholders
// needs, so that such a hit reads no further than the map's node. The interned text's units stay
// put until the interned texts are cleared (epoch), so the hit renders straight from them, with no
// count to raise and lower on a block that is rarely in cache.
struct CacheEntry {
  StringCacheItem* item;
  const char16_t* units;
  uint64_t epoch;
};

CacheEntry EntryFor(StringCacheItem* item) noexcept {
  const uint64_t epoch = CachedStringEpoch();
  const VelString* stored = FindCachedString(item->pattern.Key());
  return {item, stored != nullptr ? stored->GetString() : nullptr, epoch};
}

struct Cache {
  CLockCS lock;
  std::unordered_map<uint64_t, CacheEntry> items KEST_GUARDED_BY(lock);
  uint32_t generation KEST_GUARDED_BY(lock) = 0;
  // Set by tear-down: nothing is cached any more.
  bool closed KEST_GUARDED_BY(lock) = false;

  Cache() {
    items.rehash(8);
    items.max_load_factor(1.0f);
  }

  // Drops every item when the language changed since the cache was last emptied; the caller
  // destroys what it gets back after the lock.
  void CheckGeneration(std::vector<StringCacheItem*>& dropped) KEST_REQUIRES(lock) {
    const uint32_t current = gLanguageGeneration.load(std::memory_order_acquire);
    if (generation == current) return;
    DropAll(dropped);
    generation = current;
  }

  void DropAll(std::vector<StringCacheItem*>& dropped) KEST_REQUIRES(lock) {
    dropped.reserve(dropped.size() + items.size());
    for (auto& [key, entry] : items) dropped.push_back(entry.item);
    items.clear();
  }
};

// Never freed: Strings built while the process exits find the lock's storage (marked destroyed)
// and a closed cache.
Cache& TheCache() {
  static Cache* const cache = new Cache;
  return *cache;
}

// Items taken out of the map under the lock; destroyed when this goes out of scope, which is after
// the lock's guard declared later has let go, also when running out of memory unwinds.
class DroppedItems : public std::vector<StringCacheItem*> {
 public:
  ~DroppedItems() {
    for (StringCacheItem* item : *this) delete item;
  }
};

// The alert's parameter lines: each placeholder alone, empty ones left out. A longer rendering is
// cut to its first 999 characters (never between the halves of a pair) rather than dropped, which
// is what the plain "more than 0 characters written" test would do with the -1 of an overflow.
void AppendParams(VelString& text, const PlaceholderValue* args, size_t count) {
  text += u"   Params:\r\n";
  char16_t rendered[1000];
  for (size_t i = 0; i < count; ++i) {
    int n = args[i].Format(rendered, 999, nullptr);
    if (n < 0 && args[i].Format(static_cast<char16_t*>(nullptr), 0, nullptr) > 999) {
      n = (rendered[998] & 0xFC00) == 0xD800 ? 998 : 999;
    }
    if (n > 0) {
      text.Append(rendered, n);
      text += u"\r\n";
    }
  }
}

void AlertMissing(uint16_t id, bool own_module, const PlaceholderValue* args, size_t count) {
  if (!IsDevMachine()) return;  // nobody would see it
  VelString text;
  text.Format(u"StringID {0:d} could not be found!  {1:s}", static_cast<int>(id),
              own_module ? u"CommonHInst was passed in" : u"CommonHInst was NOT passed in");
  AppendParams(text, args, count);
  AlertDevelopers(text);
}

void CheckOldStyle(uint16_t id, const VelString& pattern, const PlaceholderValue* args,
                   size_t count) {
  if (pattern.Find(u'%') < 0) return;
  static constexpr const char16_t* kOldStyle[] = {u"%d", u"%s", u"%u", u"%f", u"%I64"};
  for (const char16_t* spec : kOldStyle) {
    if (pattern.Find(spec) >= 0) {
      if (!IsDevMachine()) return;
      VelString text;
      text.Format(u"StringID {0} contains an old-style format specifier - {1}",
                  static_cast<int>(id), pattern);
      AppendParams(text, args, count);
      AlertDevelopers(text);
      return;
    }
  }
}

// Files `pattern` under `key` unless the language changed since it was translated (its
// generation) or the cache is closed. Displaced and evicted items go after the lock.
void Insert(uint64_t key, uint16_t id, HINSTANCE module, const VelString& pattern,
            uint32_t generation) {
  auto item = std::make_unique<StringCacheItem>(id, module, pattern);
  const CacheEntry entry = EntryFor(item.get());
  DroppedItems dropped;
  Cache& cache = TheCache();
  {
    CAcquireCS guard(cache.lock);
    if (CLockCS::StateOf(&cache.lock) != CLockCS::kLive) return;
    if (cache.closed) return;
    cache.CheckGeneration(dropped);
    if (generation == cache.generation) {
      auto [at, inserted] = cache.items.try_emplace(key, entry);
      if (!inserted) {
        dropped.push_back(at->second.item);
        at->second = entry;
      }
      item.release();
      if (cache.items.size() > kStringCacheCapacity) {
        auto victim = cache.items.begin();
        if (victim->first == key) ++victim;
        dropped.push_back(victim->second.item);
        cache.items.erase(victim);
      }
    }
  }
}

}  // namespace

HINSTANCE OwnModule() noexcept {
  if (HINSTANCE set = ghCommonHInst) return set;
  static const HINSTANCE own = platform::LibraryModule();
  return own;
}

size_t StringCacheSize() noexcept {
  Cache& cache = TheCache();
  CAcquireCS guard(cache.lock);
  return cache.items.size();
}

bool StringCacheHas(uint16_t id, HINSTANCE module) noexcept {
  Cache& cache = TheCache();
  const uint64_t key = StringCacheKey(id, module ? module : OwnModule());
  CAcquireCS guard(cache.lock);
  return cache.items.count(key) != 0;
}

namespace detail {

void StartResourceStringLock() { TheCache(); }

void StartResourceStringCache() {
#if !defined(_WIN32)
  // Keeps the library's table in a static archive's link; the table registers itself.
  static_cast<void>(*static_cast<volatile const size_t*>(&kest_library_string_table.block_count));
#endif
}

void StopResourceStringCache() noexcept {
  Cache& cache = TheCache();
  DroppedItems dropped;
  {
    CAcquireCS guard(cache.lock);
    cache.closed = true;
    try {
      cache.DropAll(dropped);
    } catch (const std::bad_alloc&) {
      // No room to list them: let the items go with the lock held instead.
      for (auto& [key, entry] : cache.items) delete entry.item;
      cache.items.clear();
    }
  }
}

void StopResourceStringLock() noexcept { std::destroy_at(&TheCache().lock); }

}  // namespace detail
}  // namespace kest

String::~String() = default;

void String::CentralFormat(uint16_t id, const PlaceholderValue* args, size_t count,
                           HINSTANCE module) {
  if (args == nullptr) count = 0;
  const HINSTANCE own = kest::OwnModule();
  if (module == nullptr) module = own;
  const uint64_t key = kest::StringCacheKey(id, module);

  VelString pattern;
  const char16_t* interned = nullptr;
  bool hit = false;
  kest::Cache& cache = kest::TheCache();
  {
    kest::DroppedItems dropped;
    {
      CAcquireCS guard(cache.lock);
      if (CLockCS::StateOf(&cache.lock) == CLockCS::kLive && !cache.closed) {
        cache.CheckGeneration(dropped);
        auto found = cache.items.find(key);
        if (found != cache.items.end()) {
          const kest::CacheEntry& entry = found->second;
          if (count == 0) {
            // Without placeholders the pattern is the text: share its block straight away.
            static_cast<VelString&>(*this) = entry.item->text;
          } else if (entry.units != nullptr && entry.epoch == kest::CachedStringEpoch()) {
            interned = entry.units;
          } else {
            pattern = entry.item->text;
          }
          hit = true;
        }
      }
    }
  }

  if (!hit) {
    uint32_t generation = 0;
    VelString loaded;
    if (loaded.LoadStringW(module, id)) {
      pattern = kest::GetTranslatedText(loaded, &generation);
    } else {
      kest::AlertMissing(id, module == own, args, count);
      // The library's own text, untranslated, stands in; it is filed under the module asked for.
      generation = gLanguageGeneration.load(std::memory_order_acquire);
      if (module == own || !pattern.LoadStringW(own, id)) {
        VelString missing;
        missing.Format(u"(???+{0:d})", static_cast<int>(id));
        *static_cast<VelString*>(this) = std::move(missing);
        return;
      }
    }
    kest::CheckOldStyle(id, pattern, args, count);
    kest::Insert(key, id, module, pattern, generation);
  }

  if (count != 0) {
    RenderList(interned != nullptr ? interned : pattern.GetString(), args, count);
  } else if (!hit) {
    static_cast<VelString&>(*this) = std::move(pattern);
  }
}
