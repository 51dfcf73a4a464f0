// Interned texts: CachedString is a handle of one 64-bit key that stands for a text kept once, for
// the life of the process, in one process-wide table. Modules that hold the same texts many times
// over (translation tables, resource-string caches) keep handles instead of strings: copying and
// comparing handles for equality never touches the table.
//
// Keys. A text's key is its VelStringHash (CRC-64/WE of its UTF-16LE units); the empty text gets 1,
// because 0 means "no text". When a different text already holds that key, the text takes the next
// value that is free or already holds the same text (k + 1, k + 2, ...; after UINT64_MAX comes 1,
// never 0). Texts are the same when their lengths and all their code units are equal; an embedded
// NUL is an ordinary unit.
//
// The table. Entries are added and never changed or moved, so a pointer from a handle stays valid
// until ClearCachedStringsForShutdown. Looking a key up takes no lock (readers probe an
// append-only index). Entering a new text takes the table's CLockCS through CAcquireCS, so the
// wait and the hold are accounted to the calling thread's CentralContext as eLockCritSec. The
// table is never freed at static teardown: other statics may still convert handles while the
// process exits. Only ClearCachedStringsForShutdown (BaseShuttingDown) frees its texts. The first default-constructed handle of the process reserves room for 20,000
// texts, so that start-up loading rarely grows the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "kest/kest_export.h"
#include "kest/strings/vel_string.h"

// Something that can give a text for hashing.
class KEST_API HasToString {
 public:
  virtual ~HasToString();
  virtual VelString ToStringForHash() const = 0;
};

class KEST_API CachedString : public HasToString {
 public:
  // Key 0, no text. The first one in the process reserves the table's room (see above).
  CachedString() noexcept;
  // Interns `text` (null reads as empty) and holds its key. Throws std::bad_alloc when memory
  // runs out; the table is unchanged then. Any thread.
  CachedString(const char16_t* text);
  CachedString(const VelString& text);
  explicit CachedString(std::u16string_view text);

  CachedString(const CachedString& other) noexcept : key_(other.key_) {}
  CachedString& operator=(const CachedString& other) noexcept {
    key_ = other.key_;
    return *this;
  }
  ~CachedString() override;

  uint64_t Key() const noexcept { return key_; }

  // Test seam: a handle of any key, as one made before the table was cleared would be.
  static CachedString FromKeyForTesting(uint64_t key) noexcept {
    CachedString handle(key, 0);
    return handle;
  }

  bool operator==(const CachedString& other) const noexcept { return key_ == other.key_; }

  // The stored text's units, NUL-terminated. A static "" for key 0; null for a key that is not in
  // the table (made before the table was cleared, or never handed out). Any thread; no lock.
  operator const char16_t*() const noexcept;

  // A new string holding a copy of the stored text; empty for key 0 or a key not in the table.
  // Throws std::bad_alloc when memory runs out.
  operator VelString() const;
  VelString ToStringForHash() const override;

  // The text's length in units: 0 for key 0 and for a key not in the table.
  int GetLength() const noexcept;

  // VelString::CompareNoCase of the handle's text with `text`; a key not in the table and a null
  // `text` both read as "".
  int CompareNoCase(const char16_t* text) const noexcept;

 private:
  CachedString(uint64_t key, int) noexcept : key_(key) {}
  uint64_t key_;
};

// The order of texts, so that an ordered map keyed by handles is ordered by text: equal keys are
// equivalent; key 0 comes before every other key; otherwise VelStrLessLogical of the two texts,
// where a key not in the table reads as "", and texts that order equal that way (they differ only
// after an embedded NUL) order by length, then by units. A strict weak order over any handles.
KEST_API bool operator<(const CachedString& left, const CachedString& right) noexcept;

namespace kest {

struct CachedStringStats {
  size_t entries = 0;      // texts in the table
  size_t moved_keys = 0;   // texts whose key is not their hash (another text held it)
  size_t text_units = 0;   // UTF-16 units of all texts, terminators excluded
  size_t index_slots = 0;  // slots of the current lookup index
};

// A snapshot of the table's counters. Any thread; no lock.
KEST_API CachedStringStats GetCachedStringStats() noexcept;

// Frees every entry and its text and empties the table, keeping the size of its index, for a host
// that shuts down in order. Handles made before keep their keys, which are then not in the table
// (they convert as such keys do), and texts interned afterwards are entered afresh. Threads still
// running meanwhile see either the old table or the empty one, never a torn one: the clear waits
// until no lookup is inside the old one before it frees it. Pointers they took before the clear
// (from FindCachedString or a conversion to const char16_t*) become invalid. Takes the table lock.
KEST_API void ClearCachedStringsForShutdown() noexcept;

// Counts the clears: keys kept from an earlier epoch no longer stand for their texts. Any thread.
KEST_API uint64_t CachedStringEpoch() noexcept;

// The key the table would give a text that no other text collides with: VelStringHash, with the
// empty text at 1.
KEST_API uint64_t CachedStringBaseKey(std::u16string_view text) noexcept;

// The stored text of `key`, if any; null otherwise. Valid until ClearCachedStringsForShutdown.
// Any thread; no lock.
KEST_API const VelString* FindCachedString(uint64_t key) noexcept;

// The key `text` holds in the table, or 0 when it has not been interned. Never enters anything, so
// texts that are only looked up do not stay in memory. Any thread; no lock.
KEST_API uint64_t FindCachedKey(std::u16string_view text) noexcept;

}  // namespace kest
