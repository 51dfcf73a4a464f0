#include "kest/lang/language.h"

#include <memory>
#include <vector>

#include "kest/base/module_lifetime.h"
#include "kest/context/lock_cs.h"
#include "kest/diag/dev_alerts.h"
#include "kest/format/brace_format.h"
#include "kest/intern/cached_string.h"
#include "kest/lang/lang_check.h"
#include "kest/lang/lang_file.h"
#include "kest/platform/file.h"
#include "kest/platform/paths.h"

std::atomic<uint32_t> gLanguageGeneration{0};
std::atomic<bool> gbLanguageSet{false};

namespace kest {
namespace {

// The published view of the loaded language, read without the lock. The tag (at most 5 ASCII
// units) packs into one word, one byte per unit; a sequence count lets readers take tag, share and
// generation as one consistent snapshot.
class Published {
 public:
  void Store(std::u16string_view tag, double percent, uint32_t generation) noexcept {
    uint64_t packed = 0;
    for (size_t i = 0; i < tag.size() && i < 5; ++i)
      packed |= static_cast<uint64_t>(tag[i] & 0xFF) << (8 * i);
    const uint32_t seq = seq_.load(std::memory_order_relaxed);
    seq_.store(seq + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    tag_.store(packed, std::memory_order_relaxed);
    percent_.store(percent, std::memory_order_relaxed);
    gLanguageGeneration.store(generation, std::memory_order_relaxed);
    seq_.store(seq + 2, std::memory_order_release);
  }

  struct Snapshot {
    uint64_t tag;
    double percent;
    uint32_t generation;
  };

  Snapshot Load() const noexcept {
    for (;;) {
      const uint32_t before = seq_.load(std::memory_order_acquire);
      Snapshot snapshot{tag_.load(std::memory_order_relaxed),
                        percent_.load(std::memory_order_relaxed),
                        gLanguageGeneration.load(std::memory_order_relaxed)};
      std::atomic_thread_fence(std::memory_order_acquire);
      if ((before & 1) == 0 && seq_.load(std::memory_order_relaxed) == before) return snapshot;
    }
  }

  bool Translating() const noexcept { return tag_.load(std::memory_order_acquire) != 0; }

  static VelString TagText(uint64_t packed) {
    char16_t units[6] = {};
    for (int i = 0; i < 5; ++i) units[i] = static_cast<char16_t>((packed >> (8 * i)) & 0xFF);
    return VelString(units);
  }

 private:
  std::atomic<uint32_t> seq_{0};
  std::atomic<uint64_t> tag_{0};
  std::atomic<double> percent_{0.0};
};

// English -> translation, both interned. An interned key stands for exactly one text, so a key
// match is a text match. Open addressing with linear probing, at most half full; the stored text
// pointer saves a second probe of the interned table on every hit, and stays valid until the
// interned texts are cleared (lookups check the epoch first).
class TranslationTable {
 public:
  struct Slot {
    CachedString english, translation;
    const VelString* text = nullptr;
  };

  void Clear() {
    slots_.clear();
    count_ = 0;
  }

  void Reserve(size_t entries) {
    size_t size = 16;
    while (size < entries * 2) size *= 2;
    if (size > slots_.size()) Rehash(size);
  }

  void Put(const CachedString& english, const CachedString& translation) {
    if ((count_ + 1) * 2 > slots_.size()) Rehash(slots_.empty() ? 16 : slots_.size() * 2);
    Slot& slot = Probe(english.Key());
    if (slot.english.Key() == 0) ++count_;
    slot.english = english;
    slot.translation = translation;
    slot.text = FindCachedString(translation.Key());
  }

  const Slot* Find(uint64_t english_key) const {
    if (slots_.empty()) return nullptr;
    const Slot& slot = const_cast<TranslationTable*>(this)->Probe(english_key);
    return slot.english.Key() == 0 ? nullptr : &slot;
  }

  template <typename Visit>
  void ForEach(Visit visit) const {
    for (const Slot& slot : slots_)
      if (slot.english.Key() != 0) visit(slot);
  }

 private:
  Slot& Probe(uint64_t key) {
    const size_t mask = slots_.size() - 1;
    // Keys are CRC values, which a file can line up in runs; spread them first.
    uint64_t h = key * 0x9E3779B97F4A7C15ull;
    for (size_t i = static_cast<size_t>(h >> 40) & mask;; i = (i + 1) & mask) {
      const uint64_t held = slots_[i].english.Key();
      if (held == key || held == 0) return slots_[i];
    }
  }

  void Rehash(size_t size) {
    std::vector<Slot> old(size);
    old.swap(slots_);
    for (Slot& slot : old)
      if (slot.english.Key() != 0) Probe(slot.english.Key()) = slot;
  }

  std::vector<Slot> slots_;
  size_t count_ = 0;
};

struct State {
  CLockCS lock;
  TranslationTable translations KEST_GUARDED_BY(lock);
  // The interned-text epoch the keys belong to; after a shutdown clear they mean nothing.
  uint64_t epoch KEST_GUARDED_BY(lock) = 0;
  Published published;
  // 0 unknown, 1 absent, 2 present.
  std::atomic<int> page_mod{0};
  // Set when this library's statics are destroyed; lookups then answer the text itself.
  std::atomic<bool> torn_down{false};

  bool Translating() const noexcept {
    return published.Translating() && !torn_down.load(std::memory_order_relaxed);
  }
};

// Never destroyed, so modules that translate while the process exits find a live lock.
State& TheState() {
  static State* const state = new State;
  return *state;
}

// How many levels of the translation lock the calling thread holds.
thread_local int t_translation_lock_depth = 0;

// The translation lock through CAcquireCS, counted for HoldsTranslationLock.
class KEST_SCOPED_CAPABILITY TranslationGuard {
 public:
  explicit TranslationGuard(CLockCS& lock) KEST_ACQUIRE(lock) : guard_(lock) {
    ++t_translation_lock_depth;
  }
  ~TranslationGuard() KEST_RELEASE() { --t_translation_lock_depth; }

 private:
  CAcquireCS guard_;
};

bool PageModPresent() {
  State& state = TheState();
  int known = state.page_mod.load(std::memory_order_acquire);
  if (known == 0) {
    std::u16string folder = platform::ExecutablePath();
    const size_t separator = folder.rfind(platform::kPathSeparator);
    folder.erase(separator == std::u16string::npos ? 0 : separator + 1);
    known = platform::FileExists(platform::FindFileIgnoringCase(folder, u"PageMod.dll")) ? 2 : 1;
    state.page_mod.store(known, std::memory_order_release);
  }
  return known == 2;
}

bool IsZhTw(std::u16string_view tag) {
  return tag.size() == 5 && VelString(tag).CompareNoCase(u"zh-tw") == 0;
}

struct LoadedFile {
  std::u16string path;
  platform::FileReadStatus status = platform::FileReadStatus::kMissing;
  DecodedLanguageFile decoded;
};

LoadedFile ReadLanguageFile(std::u16string_view file_name) {
  LoadedFile file;
  const VelString folder = GetLangDirectory();
  file.path = platform::FindFileIgnoringCase(folder.View(), file_name);
  std::string bytes;
  file.status = platform::ReadWholeFile(file.path, kMaxLanguageFileBytes, bytes);
  if (file.status == platform::FileReadStatus::kOk) file.decoded = DecodeLanguageFile(bytes);
  return file;
}

VelString CopyOf(const char16_t* text) { return VelString(text ? text : u""); }

}  // namespace

bool IsTranslating() noexcept { return TheState().Translating(); }

bool HoldsTranslationLock() noexcept { return t_translation_lock_depth > 0; }

namespace detail {

void StartTranslationMap() { TheState(); }
void StartTranslationLock() {}

void StopTranslationLock() noexcept {
  State& state = TheState();
  {
    TranslationGuard guard(state.lock);
    state.torn_down.store(true, std::memory_order_relaxed);
    state.translations.Clear();
  }
  std::destroy_at(&state.lock);
}

void StopTranslationMap() noexcept {}

}  // namespace detail

VelString GetTranslatedText(const char16_t* text, uint32_t* generation) {
  State& state = TheState();
  // One snapshot decides both the answer and its generation: read apart, a load finishing between
  // the two reads would file the English text under the new language's generation.
  const Published::Snapshot snapshot = state.published.Load();
  if (snapshot.tag == 0 || state.torn_down.load(std::memory_order_relaxed)) {
    if (generation) *generation = snapshot.generation;
    return CopyOf(text);
  }
  TranslationGuard guard(state.lock);
  // Under the lock nothing is published, so the generation read here is the table's; the key is
  // found under it too, since a load that holds it may be entering this very text.
  const uint64_t key = FindCachedKey(text ? std::u16string_view(text) : std::u16string_view());
  if (generation) *generation = gLanguageGeneration.load(std::memory_order_relaxed);
  if (key == 0 || state.epoch != CachedStringEpoch()) return CopyOf(text);
  const TranslationTable::Slot* found = state.translations.Find(key);
  // Sharing the stored block costs one count increment instead of a copy of the text.
  return found && found->text ? *found->text : CopyOf(text);
}

VelString PreferredLanguageTag() {
  const std::u16string locale = platform::UserUiLocale();
  const VelString wanted(locale);
  const VelString language(std::u16string_view(locale).substr(0, locale.find(u'-')));
  const auto list = GetLanguageList();
  for (const auto& [name, tag] : list)
    if (tag.CompareNoCase(wanted) == 0) return tag;
  for (const auto& [name, tag] : list)
    if (tag.CompareNoCase(language) == 0) return tag;
  return VelString(u"EN");
}

void ResetLanguageFolderForTesting() noexcept {
  TheState().page_mod.store(0, std::memory_order_release);
}

}  // namespace kest

using kest::TheState;

void SetLanguage(const char16_t* tag_text) {
  kest::State& state = TheState();
  const std::u16string_view tag = tag_text ? std::u16string_view(tag_text) : std::u16string_view();
  kest::LoadedFile file;
  VelString alert;
  {
    kest::TranslationGuard guard(state.lock);
    // After tear-down the lock guards nothing: the process stays English.
    if (state.torn_down.load(std::memory_order_relaxed)) return;
    state.translations.Clear();
    const uint32_t generation = gLanguageGeneration.load(std::memory_order_relaxed) + 1;
    bool english =
        !kest::IsLoadableLanguageTag(tag) || (kest::IsZhTw(tag) && !kest::PageModPresent());
    double percent = 0.0;
    // Out of memory anywhere in the load leaves English: half a language is worse.
    try {
      if (!english) {
        file = kest::ReadLanguageFile(u"lang_" + std::u16string(tag) + u".txt");
        if (file.status == kest::platform::FileReadStatus::kTooLarge) {
          alert = VelString(u"Language file is larger than 32 MiB and was not loaded: ") +
                  VelString(file.path);
        }
        english = file.status != kest::platform::FileReadStatus::kOk || file.decoded.text.empty();
      }
      if (!english) {
        class Load : public kest::LanguageEntrySink {
         public:
          explicit Load(kest::TranslationTable& table) : table_(table) {}
          void Pair(const kest::LanguagePairView& pair) override {
            table_.Put(CachedString(pair.english), CachedString(pair.translation));
          }

         private:
          kest::TranslationTable& table_;
        } load(state.translations);
        // Two lines per entry at least: a fair first size for the table.
        state.translations.Reserve(file.decoded.text.size() / 64);
        const kest::LanguageLineCounts counts =
            kest::ScanLanguageEntries(file.decoded.text, tag, load);
        percent = kest::MachineTranslatedPercent(counts.machine_lines, counts.english_lines);
      }
    } catch (const std::bad_alloc&) {
      state.translations.Clear();
      file.status = kest::platform::FileReadStatus::kUnreadable;
      english = true;
      percent = 0.0;
    }
    state.epoch = kest::CachedStringEpoch();
    state.published.Store(english ? std::u16string_view() : tag, percent, generation);
    gbLanguageSet.store(true, std::memory_order_release);
  }
  if (!alert.IsEmpty()) AlertDevelopers(alert);
  if (file.status == kest::platform::FileReadStatus::kOk && !file.decoded.text.empty() &&
      IsDevMachine()) {
    const auto findings = kest::CheckLanguageFile(file.decoded, tag);
    if (!findings.empty()) {
      VelString summary;
      summary.Format(u"Language file {0} has {1} problem(s); the first, line {2}: {3}",
                     VelString(file.path), static_cast<int>(findings.size()), findings[0].line,
                     VelString(findings[0].message));
      AlertDevelopers(summary);
    }
  }
}

VelString GetLangTag() {
  const uint64_t packed = TheState().published.Load().tag;
  return packed == 0 ? VelString(u"EN") : kest::Published::TagText(packed);
}

double GetMachineTranslatedPercent() noexcept { return TheState().published.Load().percent; }

VelString GetTranslatedText(const char16_t* text) { return kest::GetTranslatedText(text, nullptr); }

VelString DBGGetEnglishFromTranslatedText(const char16_t* text) {
  kest::State& state = TheState();
  if (!state.Translating()) return kest::CopyOf(text);
  kest::TranslationGuard guard(state.lock);
  if (state.epoch != kest::CachedStringEpoch()) return kest::CopyOf(text);
  const uint64_t key =
      kest::FindCachedKey(text ? std::u16string_view(text) : std::u16string_view());
  if (key == 0) return kest::CopyOf(text);
  // The least English text in the logical order, as a walk of an ordered map would find first.
  const CachedString* best = nullptr;
  state.translations.ForEach([&](const kest::TranslationTable::Slot& slot) {
    if (slot.translation.Key() == key && (best == nullptr || slot.english < *best))
      best = &slot.english;
  });
  return best ? static_cast<VelString>(*best) : kest::CopyOf(text);
}

std::map<VelString, VelString> GetLanguageList() {
  std::map<VelString, VelString> list;
  list[VelString(u"English")] = VelString(u"EN");
  const VelString folder = GetLangDirectory();
  std::vector<std::u16string> names;
  kest::platform::ListFolder(folder.View(), u"lang_*.txt",
                             [&](std::u16string_view name, bool is_directory) {
                               if (!is_directory) names.emplace_back(name);
                             });
  for (const auto& name : names) {
    std::u16string path(folder.View());
    path += name;
    std::string bytes;
    if (kest::platform::ReadWholeFile(path, kest::kMaxLanguageFileBytes, bytes) !=
        kest::platform::FileReadStatus::kOk)
      continue;
    const kest::LanguageHeader header =
        kest::ScanLanguageHeader(kest::DecodeLanguageFile(bytes).text);
    if (!header.complete || !kest::IsLoadableLanguageTag(header.tag)) continue;
    if (kest::IsZhTw(header.tag) && !kest::PageModPresent()) continue;
    // Offer only what SetLanguage loads: the header may name another language's file.
    const std::u16string file_of_tag = u"lang_" + header.tag + u".txt";
    if (!kest::platform::FileExists(
            kest::platform::FindFileIgnoringCase(folder.View(), file_of_tag)))
      continue;
    list[VelString(header.name)] = VelString(header.tag);
  }
  return list;
}

VelString GetLangDirectory() {
  std::u16string path = kest::platform::ExecutablePath();
  const size_t slash = path.rfind(kest::platform::kPathSeparator);
  path.erase(slash == std::u16string::npos ? 0 : slash + 1);
  path += u"Languages";
  path += kest::platform::kPathSeparator;
  return VelString(path);
}
