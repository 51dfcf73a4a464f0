// Resource strings against what a C++ developer would otherwise write: a hash map from ID to text
// and a VelString of the hit (formatted when it has placeholders), bare and under a std::mutex.
// As a host runs them: the thread slot allocated, default string settings, a new String per call,
// and each hit also with a CentralContext on the thread. The table is a generated one of 4,300
// strings, the size of the product's.
#include <benchmark/benchmark.h>

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench_main.h"
#include "bench_slot.h"
#include "kest/KestCommon.h"
#include "kest/base/string_block.h"
#include "kest/platform/tls.h"

extern kest::platform::StringTable kest_bench_table;

namespace {

constexpr uint16_t kFirstId = 1000;
constexpr int kStrings = 4300;

// The generated table's entry for `id`, found as LoadStringW finds it: the block by number, then
// the entry by skipping the ones before it.
std::u16string_view TableEntry(unsigned id) {
  const kest::platform::StringTable& table = kest_bench_table;
  const uint32_t number = id / 16 + 1;
  size_t low = 0, high = table.block_count;
  while (low < high) {
    const size_t mid = (low + high) / 2;
    if (table.blocks[mid].number < number) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  if (low == table.block_count || table.blocks[low].number != number) return {};
  const kest::platform::StringTableBlock& block = table.blocks[low];
  return kest::StringBlockEntry({table.units + block.offset, block.length}, id % 16);
}

// IDs whose patterns hold no placeholder, and IDs whose patterns hold exactly {0} and {1}.
struct Ids {
  std::vector<uint16_t> plain, two;
  std::unordered_map<uint32_t, std::u16string> map;
};

const Ids& TheIds() {
  static const Ids ids = [] {
    Ids result;
    for (int i = 0; i < kStrings; ++i) {
      const auto id = static_cast<uint16_t>(kFirstId + i);
      const std::u16string text(TableEntry(id));
      result.map.emplace(id, text);
      const bool zero = text.find(u"{0}") != std::u16string::npos;
      const bool one = text.find(u"{1}") != std::u16string::npos;
      if (!zero && !one) result.plain.push_back(id);
      if (zero && one) result.two.push_back(id);
    }
    return result;
  }();
  return ids;
}

HINSTANCE Self() { return kest::platform::ExecutableModule(); }

template <typename Body>
void WithContext(benchmark::State& state, Body body) {
  const kest::bench::SlotScope slot;
  if (state.range(0) != 0) {
    CentralContext context;
    body();
  } else {
    body();
  }
}

void StringHit(benchmark::State& state) {
  WithContext(state, [&] {
    const auto& ids = TheIds().plain;
    const HINSTANCE self = Self();
    for (uint16_t id : ids) String warm(id, self);
    size_t i = 0;
    for (auto _ : state) {
      const String text(ids[i], self);
      benchmark::DoNotOptimize(text.GetString());
      i = i + 1 == ids.size() ? 0 : i + 1;
    }
  });
}

void StringHitTwoPlaceholders(benchmark::State& state) {
  WithContext(state, [&] {
    const auto& ids = TheIds().two;
    const HINSTANCE self = Self();
    for (uint16_t id : ids) String warm(id, 1, 2, self);
    size_t i = 0;
    for (auto _ : state) {
      const String text(ids[i], 3, u"ten", self);
      benchmark::DoNotOptimize(text.GetString());
      i = i + 1 == ids.size() ? 0 : i + 1;
    }
  });
}

template <bool kLocked, bool kTwo>
void MapAnchor(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  const Ids& all = TheIds();
  const auto& ids = kTwo ? all.two : all.plain;
  std::mutex lock;
  size_t i = 0;
  for (auto _ : state) {
    const std::u16string* pattern;
    if constexpr (kLocked) {
      std::lock_guard guard(lock);
      pattern = &all.map.find(ids[i])->second;
    } else {
      pattern = &all.map.find(ids[i])->second;
    }
    VelString text;
    if constexpr (kTwo) {
      text.Format(pattern->c_str(), 3, u"ten");
    } else {
      text = VelString(*pattern);
    }
    benchmark::DoNotOptimize(text.GetString());
    i = i + 1 == ids.size() ? 0 : i + 1;
  }
}

void StringMiss(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  GetAndSetIsDevMachine(false);
  const HINSTANCE self = Self();
  uint16_t id = 60000;
  for (auto _ : state) {
    const String text(id, self);
    benchmark::DoNotOptimize(text.GetString());
    id = id == 60999 ? 60000 : id + 1;
  }
}

void LoadStringCold(benchmark::State& state) {
  const HINSTANCE self = Self();
  unsigned id = kFirstId;
  for (auto _ : state) {
    VelString text;
    benchmark::DoNotOptimize(text.LoadStringW(self, id));
    id = id + 1 == kFirstId + kStrings ? kFirstId : id + 1;
  }
}

void PlainWalk(benchmark::State& state) {
  unsigned id = kFirstId;
  for (auto _ : state) {
    const std::u16string_view entry = TableEntry(id);
    VelString text(entry.data(), static_cast<int>(entry.size()));
    benchmark::DoNotOptimize(text.GetString());
    id = id + 1 == kFirstId + kStrings ? kFirstId : id + 1;
  }
}

struct Registrar {
  Registrar() {
    benchmark::RegisterBenchmark("StringHit", StringHit)->Arg(0)->Arg(1);
    benchmark::RegisterBenchmark("StringHitTwoPlaceholders", StringHitTwoPlaceholders)
        ->Arg(0)
        ->Arg(1);
    benchmark::RegisterBenchmark("MapFind", MapAnchor<false, false>);
    benchmark::RegisterBenchmark("MutexMapFind", MapAnchor<true, false>);
    benchmark::RegisterBenchmark("MapFindFormat", MapAnchor<false, true>);
    benchmark::RegisterBenchmark("MutexMapFindFormat", MapAnchor<true, true>);
    benchmark::RegisterBenchmark("StringMiss", StringMiss);
    benchmark::RegisterBenchmark("LoadStringCold", LoadStringCold);
    benchmark::RegisterBenchmark("PlainWalk", PlainWalk);
    using kest::bench::AddRatio;
    AddRatio("String hit, no placeholders / map find + VelString", "StringHit/0", "MapFind");
    AddRatio("String hit, no placeholders / same under std::mutex", "StringHit/0", "MutexMapFind");
    AddRatio("String hit with a context / map find under std::mutex", "StringHit/1",
             "MutexMapFind");
    AddRatio("String hit, two placeholders / map find + Format", "StringHitTwoPlaceholders/0",
             "MapFindFormat");
    AddRatio("String hit, two placeholders / same under std::mutex", "StringHitTwoPlaceholders/0",
             "MutexMapFindFormat");
    AddRatio("String hit, two placeholders, context / same under std::mutex",
             "StringHitTwoPlaceholders/1", "MutexMapFindFormat");
    AddRatio("LoadStringW of a 4,300-string table / plain walk", "LoadStringCold", "PlainWalk");
    AddRatio("String of a missing ID / String hit", "StringMiss", "StringHit/0");
  }
} registrar;

}  // namespace
