#include <dlfcn.h>
#include <link.h>
#include <sys/auxv.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "kest/base/utf.h"
#include "kest/platform/module.h"

namespace kest::platform {
namespace {

// Generated tables register from module constructors, before any static object of the process
// could ask; the list and its lock need no construction of their own and survive every
// destructor. Writers (module loads and unloads) take the lock and publish a new snapshot of
// (module, table) pairs; readers take no lock, and touch a table's memory only for the module they
// ask about, which must be loaded while they read it anyway. Old snapshots are never freed (a
// reader may still walk one) but stay reachable through `older`.
struct Snapshot {
  std::vector<std::pair<HINSTANCE, const StringTable*>> tables;
  const Snapshot* older;
};

constinit std::mutex g_tables_lock;
constinit StringTable* g_tables = nullptr;
constinit std::atomic<const Snapshot*> g_snapshot{nullptr};

// Under g_tables_lock. Out of memory leaves the previous snapshot in place.
void Publish() noexcept {
  try {
    auto* next = new Snapshot{{}, g_snapshot.load(std::memory_order_relaxed)};
    for (const StringTable* table = g_tables; table != nullptr; table = table->next)
      next->tables.emplace_back(table->module, table);
    g_snapshot.store(next, std::memory_order_release);
  } catch (const std::bad_alloc&) {
  }
}

HINSTANCE Handle(const void* base) { return static_cast<HINSTANCE>(const_cast<void*>(base)); }

HINSTANCE LoadModuleNarrow(const std::string& path) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  link_map* map = nullptr;
  if (library == nullptr || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr)
    return nullptr;
  // The dynamic section lies inside the module, so the module that holds it is this one.
  Dl_info info;
  return dladdr(map->l_ld, &info) ? Handle(info.dli_fbase) : nullptr;
}

}  // namespace

HINSTANCE ModuleOfAddress(const void* address) noexcept {
  Dl_info info;
  if (address == nullptr || dladdr(address, &info) == 0) return nullptr;
  return Handle(info.dli_fbase);
}

HINSTANCE ExecutableModule() noexcept {
  // The executable's program headers lie in its first mapped page, beside its ELF header.
  return ModuleOfAddress(reinterpret_cast<const void*>(getauxval(AT_PHDR)));
}

HINSTANCE LibraryModule() noexcept {
  static const char anchor = 0;
  return ModuleOfAddress(&anchor);
}

std::span<const char16_t> StringBlock(HINSTANCE module, uint32_t number) noexcept {
  const Snapshot* snapshot = g_snapshot.load(std::memory_order_acquire);
  if (module == nullptr || snapshot == nullptr) return {};
  for (const auto& [owner, table] : snapshot->tables) {
    if (owner != module) continue;
    const StringTableBlock* end = table->blocks + table->block_count;
    const StringTableBlock* found = std::lower_bound(
        table->blocks, end, number,
        [](const StringTableBlock& block, uint32_t n) { return block.number < n; });
    if (found != end && found->number == number)
      return {table->units + found->offset, found->length};
  }
  return {};
}

std::vector<uint32_t> StringBlockNumbers(HINSTANCE module) {
  std::vector<uint32_t> numbers;
  if (module == nullptr) return numbers;
  std::lock_guard guard(g_tables_lock);
  for (const StringTable* table = g_tables; table != nullptr; table = table->next) {
    if (table->module != module) continue;
    for (size_t i = 0; i < table->block_count; ++i) numbers.push_back(table->blocks[i].number);
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

HINSTANCE LoadModuleFile(const std::u16string& path) { return LoadModuleNarrow(ToUtf8(path)); }

void RegisterStringTable(StringTable& table) noexcept {
  table.module = ModuleOfAddress(&table);
  std::lock_guard guard(g_tables_lock);
  StringTable** tail = &g_tables;
  while (*tail != nullptr) tail = &(*tail)->next;
  table.next = nullptr;
  *tail = &table;
  Publish();
}

void UnregisterStringTable(StringTable& table) noexcept {
  std::lock_guard guard(g_tables_lock);
  for (StringTable** at = &g_tables; *at != nullptr; at = &(*at)->next) {
    if (*at == &table) {
      *at = table.next;
      break;
    }
  }
  Publish();
}

namespace {

// Name "Kest", type 1, two 32-bit words.
std::optional<uint64_t> VersionNote(const unsigned char* note, size_t size) {
  size_t at = 0;
  while (size - at >= 12) {
    uint32_t name_size, desc_size, type;
    std::memcpy(&name_size, note + at, 4);
    std::memcpy(&desc_size, note + at + 4, 4);
    std::memcpy(&type, note + at + 8, 4);
    at += 12;
    const size_t name_room = (size_t{name_size} + 3) & ~size_t{3};
    const size_t desc_room = (size_t{desc_size} + 3) & ~size_t{3};
    if (name_room > size - at || desc_room > size - at - name_room) return std::nullopt;
    const unsigned char* name = note + at;
    const unsigned char* desc = name + name_room;
    at += name_room + desc_room;
    if (type == 1 && name_size == 5 && std::memcmp(name, "Kest", 5) == 0) {
      if (desc_size < 8) return std::nullopt;
      uint32_t ms, ls;
      std::memcpy(&ms, desc, 4);
      std::memcpy(&ls, desc + 4, 4);
      return (uint64_t{ms} << 32) | ls;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<uint64_t> ExecutableFileVersion() {
  std::optional<uint64_t> version;
  // The first object dl_iterate_phdr reports is the executable.
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* out) -> int {
        auto& found = *static_cast<std::optional<uint64_t>*>(out);
        for (int i = 0; i < info->dlpi_phnum && !found; ++i) {
          const ElfW(Phdr)& segment = info->dlpi_phdr[i];
          if (segment.p_type != PT_NOTE) continue;
          found =
              VersionNote(reinterpret_cast<const unsigned char*>(info->dlpi_addr + segment.p_vaddr),
                          segment.p_memsz);
        }
        return 1;
      },
      &version);
  return version;
}

}  // namespace kest::platform
