// String: a VelString built from a resource-string ID, up to nine placeholders and a module.
//
//   String found(IDS_FOUND, count, name, hInst);   // the module's text, translated and formatted
//
// The pattern is string `id` of `module`'s table (kest/platform/module.h; a null module is this
// library's own, ghCommonHInst), passed through GetTranslatedText and kept in a process-wide cache
// of up to 20,000 (ID, module) entries, which empties itself at the first request after each
// SetLanguage. The placeholders are rendered with the brace formatter (kest/format/brace_format.h);
// a String built without placeholders is the pattern unchanged, braces included.
//
// When the module has no such string, developers are alerted ("StringID n could not be found!")
// and the library's own table is tried, untranslated; when that fails too the text is "(???+n)",
// which is never cached, so every request alerts again. A pattern holding printf-style specifiers
// ("%d", "%s", "%u", "%f", "%I64") alerts developers each time it is loaded, and is used anyway.
// A pattern that does not match its placeholders gives the formatter's marked text and alerts; a
// rendering the engine refuses leaves the text empty.
//
// Locks: the resource-string lock (a CLockCS, accounted as eLockCritSec) is held only to look up
// and to store; loading, translation (which takes the translation lock), alerts and rendering run
// without it, so the two locks are never held together. Any thread.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "kest/format/brace_format.h"
#include "kest/kest_export.h"
#include "kest/platform/module.h"
#include "kest/strings/vel_string.h"

class KEST_API String : public VelString {
 public:
  using P = PlaceholderValue;

  String(uint16_t id, HINSTANCE module) { CentralFormat(id, nullptr, 0, module); }
  String(uint16_t id, const P& p1, HINSTANCE module) { Build(id, module, {p1}); }
  String(uint16_t id, const P& p1, const P& p2, HINSTANCE module) { Build(id, module, {p1, p2}); }
  String(uint16_t id, const P& p1, const P& p2, const P& p3, HINSTANCE module) {
    Build(id, module, {p1, p2, p3});
  }
  String(uint16_t id, const P& p1, const P& p2, const P& p3, const P& p4, HINSTANCE module) {
    Build(id, module, {p1, p2, p3, p4});
  }
  String(uint16_t id, const P& p1, const P& p2, const P& p3, const P& p4, const P& p5,
         HINSTANCE module) {
    Build(id, module, {p1, p2, p3, p4, p5});
  }
  String(uint16_t id, const P& p1, const P& p2, const P& p3, const P& p4, const P& p5, const P& p6,
         HINSTANCE module) {
    Build(id, module, {p1, p2, p3, p4, p5, p6});
  }
  String(uint16_t id, const P& p1, const P& p2, const P& p3, const P& p4, const P& p5, const P& p6,
         const P& p7, HINSTANCE module) {
    Build(id, module, {p1, p2, p3, p4, p5, p6, p7});
  }
  String(uint16_t id, const P& p1, const P& p2, const P& p3, const P& p4, const P& p5, const P& p6,
         const P& p7, const P& p8, HINSTANCE module) {
    Build(id, module, {p1, p2, p3, p4, p5, p6, p7, p8});
  }
  String(uint16_t id, const P& p1, const P& p2, const P& p3, const P& p4, const P& p5, const P& p6,
         const P& p7, const P& p8, const P& p9, HINSTANCE module) {
    Build(id, module, {p1, p2, p3, p4, p5, p6, p7, p8, p9});
  }
  String(uint16_t id, const std::vector<PlaceholderValue>& args, HINSTANCE module) {
    CentralFormat(id, args.data(), args.size(), module);
  }

  // Copies take the finished text; nothing is loaded again.
  String(const String& other) = default;
  String& operator=(const String& other) = default;
  virtual ~String();

  // Rebuilds the text for a new ID and placeholders, as the constructors build it.
  VelString& Format(uint16_t id, HINSTANCE module) {
    CentralFormat(id, nullptr, 0, module);
    return *this;
  }
  VelString& Format(uint16_t id, const P& p1, HINSTANCE module) {
    Build(id, module, {p1});
    return *this;
  }
  VelString& Format(uint16_t id, const P& p1, const P& p2, HINSTANCE module) {
    Build(id, module, {p1, p2});
    return *this;
  }
  VelString& Format(uint16_t id, const P& p1, const P& p2, const P& p3, HINSTANCE module) {
    Build(id, module, {p1, p2, p3});
    return *this;
  }
  VelString& Format(uint16_t id, const P& p1, const P& p2, const P& p3, const P& p4,
                    HINSTANCE module) {
    Build(id, module, {p1, p2, p3, p4});
    return *this;
  }
  VelString& Format(uint16_t id, const P& p1, const P& p2, const P& p3, const P& p4, const P& p5,
                    HINSTANCE module) {
    Build(id, module, {p1, p2, p3, p4, p5});
    return *this;
  }
  VelString& Format(uint16_t id, const P& p1, const P& p2, const P& p3, const P& p4, const P& p5,
                    const P& p6, HINSTANCE module) {
    Build(id, module, {p1, p2, p3, p4, p5, p6});
    return *this;
  }
  VelString& Format(uint16_t id, const P& p1, const P& p2, const P& p3, const P& p4, const P& p5,
                    const P& p6, const P& p7, HINSTANCE module) {
    Build(id, module, {p1, p2, p3, p4, p5, p6, p7});
    return *this;
  }
  VelString& Format(uint16_t id, const P& p1, const P& p2, const P& p3, const P& p4, const P& p5,
                    const P& p6, const P& p7, const P& p8, HINSTANCE module) {
    Build(id, module, {p1, p2, p3, p4, p5, p6, p7, p8});
    return *this;
  }
  VelString& Format(uint16_t id, const P& p1, const P& p2, const P& p3, const P& p4, const P& p5,
                    const P& p6, const P& p7, const P& p8, const P& p9, HINSTANCE module) {
    Build(id, module, {p1, p2, p3, p4, p5, p6, p7, p8, p9});
    return *this;
  }
  VelString& Format(uint16_t id, const std::vector<PlaceholderValue>& args, HINSTANCE module) {
    CentralFormat(id, args.data(), args.size(), module);
    return *this;
  }

 private:
  void Build(uint16_t id, HINSTANCE module, std::initializer_list<PlaceholderValue> args) {
    CentralFormat(id, args.begin(), args.size(), module);
  }
  void CentralFormat(uint16_t id, const PlaceholderValue* args, size_t count, HINSTANCE module);
};

namespace kest {

// The cache's capacity: the (ID, module) entry beyond it evicts one other.
inline constexpr size_t kStringCacheCapacity = 20000;

// The cache key of (ID, module): the ID in the top 16 bits over the handle's bits.
inline uint64_t StringCacheKey(uint16_t id, HINSTANCE module) noexcept {
  return (uint64_t{id} << 48) ^ reinterpret_cast<uintptr_t>(module);
}

// How many entries the cache holds now. Any thread; takes the resource-string lock.
KEST_API size_t StringCacheSize() noexcept;

// Whether the cache holds (ID, module), a null module meaning the library's own. Any thread;
// takes the resource-string lock.
KEST_API bool StringCacheHas(uint16_t id, HINSTANCE module) noexcept;

// The library's own module: ghCommonHInst once start-up set it, the module holding this code
// before. Any thread; no lock.
KEST_API HINSTANCE OwnModule() noexcept;

}  // namespace kest
