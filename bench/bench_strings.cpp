// VelString and its manager against what a C++ developer would otherwise use: std::u16string,
// std::shared_ptr, malloc/free, ordinal comparison and std::hash.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bench_main.h"
#include "kest/KestCommon.h"

namespace {

std::u16string Text(int length) {
  std::u16string s(static_cast<size_t>(length), u'a');
  for (int i = 0; i < length; ++i) s[static_cast<size_t>(i)] = static_cast<char16_t>(u'a' + i % 26);
  return s;
}

void SetCaching(bool on) {
  gbStringCacheEnabled = on;
  if (on) {
    VelStringEnableCaching();
  } else {
    VelStringDisableCaching();
  }
}

// --- copies ---------------------------------------------------------------------------------

void VelStringCopyShared(benchmark::State& state) {
  const VelString source(Text(static_cast<int>(state.range(0))).c_str());
  for (auto _ : state) {
    VelString copy(source);
    benchmark::DoNotOptimize(copy.GetString());
  }
}

// The same with a block that already has a second holder, as a string handed around has.
void VelStringCopyOfShared(benchmark::State& state) {
  const VelString source(Text(static_cast<int>(state.range(0))).c_str());
  const VelString other_holder(source);
  for (auto _ : state) {
    VelString copy(source);
    benchmark::DoNotOptimize(copy.GetString());
  }
}

// Empty strings made and dropped (and copied), as every default-constructed member and local is.
// With two threads each on its own strings, the time per operation should stay that of one.
void EmptyStrings(benchmark::State& state) {
  for (auto _ : state) {
    VelString empty;
    VelString copy(empty);
    benchmark::DoNotOptimize(copy.GetString());
  }
}

void U16StringCopy(benchmark::State& state) {
  const std::u16string source = Text(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::u16string copy(source);
    benchmark::DoNotOptimize(copy.data());
  }
}

void SharedPtrCopy(benchmark::State& state) {
  const auto source = std::make_shared<std::u16string>(Text(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    std::shared_ptr<std::u16string> copy(source);
    benchmark::DoNotOptimize(copy.get());
  }
}

// --- writing: copy-on-write -------------------------------------------------------------------
// Every write first asks whether the string alone holds its block; these measure that question
// where hosts meet it.

// A string built one character at a time, each append on a block the string alone holds.
void VelStringAppendChars(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    VelString s;
    for (int i = 0; i < n; ++i) s += static_cast<char16_t>(u'a' + i % 26);
    benchmark::DoNotOptimize(s.GetString());
  }
}

void U16StringAppendChars(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::u16string s;
    for (int i = 0; i < n; ++i) s += static_cast<char16_t>(u'a' + i % 26);
    benchmark::DoNotOptimize(s.data());
  }
}

// A copy of a string that another holder keeps, then changed: the write forks the block.
void VelStringCopyThenWrite(benchmark::State& state) {
  const VelString source(Text(static_cast<int>(state.range(0))).c_str());
  for (auto _ : state) {
    VelString copy(source);
    copy.SetAt(0, u'X');
    benchmark::DoNotOptimize(copy.GetString());
  }
}

void U16StringCopyThenWrite(benchmark::State& state) {
  const std::u16string source = Text(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::u16string copy(source);
    copy[0] = u'X';
    benchmark::DoNotOptimize(copy.data());
  }
}

// --- building from text ---------------------------------------------------------------------

void VelStringFromText(benchmark::State& state) {
  SetCaching(state.range(1) != 0);
  const std::u16string text = Text(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    VelString s(text.c_str(), static_cast<int>(text.size()));
    benchmark::DoNotOptimize(s.GetString());
  }
  SetCaching(false);
}

void U16StringFromText(benchmark::State& state) {
  const std::u16string text = Text(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::u16string s(text.c_str(), text.size());
    benchmark::DoNotOptimize(s.data());
  }
}

// --- the manager ------------------------------------------------------------------------------

void ManagerAllocateFree(benchmark::State& state) {
  if (state.thread_index() == 0) SetCaching(state.range(1) != 0);
  IAtlStringMgr* manager = GetVelStringManager();
  const int chars = static_cast<int>(state.range(0));
  for (auto _ : state) {
    CVelStringData* block = manager->Allocate(chars, 2);
    benchmark::DoNotOptimize(block);
    manager->Free(block);
  }
  if (state.thread_index() == 0) SetCaching(false);
}

void MallocFree(benchmark::State& state) {
  const size_t bytes = static_cast<size_t>(state.range(0)) * 2 + 26;  // same bytes as a block
  for (auto _ : state) {
    void* p = std::malloc(bytes);
    benchmark::DoNotOptimize(p);
    std::free(p);
  }
}

// The same with eight blocks in flight, the oldest given back as each new one is made. With one
// block the figure hangs on that block's address: when its low 12 bits match a table the next call
// reads, the processor stalls the read behind the block's stores (4K aliasing), and which build
// and run hit that is chance. Eight addresses average it out, and a host holds several strings.
constexpr int kInFlight = 8;

void ManagerAllocateFreeRing(benchmark::State& state) {
  if (state.thread_index() == 0) SetCaching(state.range(1) != 0);
  IAtlStringMgr* manager = GetVelStringManager();
  const int chars = static_cast<int>(state.range(0));
  CVelStringData* ring[kInFlight];
  for (auto& block : ring) block = manager->Allocate(chars, 2);
  size_t i = 0;
  for (auto _ : state) {
    manager->Free(ring[i]);
    ring[i] = manager->Allocate(chars, 2);
    benchmark::DoNotOptimize(ring[i]);
    i = (i + 1) % kInFlight;
  }
  for (auto* block : ring) manager->Free(block);
  if (state.thread_index() == 0) SetCaching(false);
}

void MallocFreeRing(benchmark::State& state) {
  const size_t bytes = static_cast<size_t>(state.range(0)) * 2 + 26;
  void* ring[kInFlight];
  for (auto& block : ring) block = std::malloc(bytes);
  size_t i = 0;
  for (auto _ : state) {
    std::free(ring[i]);
    ring[i] = std::malloc(bytes);
    benchmark::DoNotOptimize(ring[i]);
    i = (i + 1) % kInFlight;
  }
  for (void* block : ring) std::free(block);
}

// --- ordering and hashing ---------------------------------------------------------------------

const std::vector<std::u16string>& Names() {
  static const std::vector<std::u16string> names = [] {
    std::vector<std::u16string> v;
    const char16_t* stems[] = {u"server", u"Server", u"disk", u"log-", u"v1.", u"backup_2026-"};
    for (int i = 0; i < 64; ++i) {
      const std::string digits = std::to_string(i * 37 % 1000);
      const std::u16string number(digits.begin(), digits.end());
      v.push_back(stems[i % 6] + number + ((i % 3 == 0) ? u".txt" : (i % 3 == 1 ? u"-node" : u"")));
    }
    return v;
  }();
  return names;
}

template <typename Compare>
void CompareNames(benchmark::State& state, Compare compare) {
  const auto& names = Names();
  std::vector<VelString> keys(names.begin(), names.end());
  size_t i = 0;
  for (auto _ : state) {
    const VelString& a = keys[i % keys.size()];
    const VelString& b = keys[(i * 7 + 3) % keys.size()];
    benchmark::DoNotOptimize(compare(a, b));
    ++i;
  }
}

void LogicalCompare(benchmark::State& state) {
  CompareNames(state, [](const VelString& a, const VelString& b) {
    return VelStrCmpLogicalCase(a.GetString(), b.GetString());
  });
}

void LogicalLess(benchmark::State& state) {
  CompareNames(state, [](const VelString& a, const VelString& b) { return a < b; });
}

void OrdinalCompare(benchmark::State& state) {
  CompareNames(state,
               [](const VelString& a, const VelString& b) { return a.View().compare(b.View()); });
}

void VelStringHashBench(benchmark::State& state) {
  const VelString s(Text(static_cast<int>(state.range(0))).c_str());
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.GetString());
    benchmark::DoNotOptimize(VelStringHash()(s));
  }
}

void StdHash(benchmark::State& state) {
  const std::u16string s = Text(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.data());
    benchmark::DoNotOptimize(std::hash<std::u16string_view>()(s));
  }
}

struct Registrar {
  Registrar() {
    using kest::bench::AddRatio;
    for (int n : {10, 100}) {
      const std::string a = "/" + std::to_string(n);
      benchmark::RegisterBenchmark("VelStringCopyShared", VelStringCopyShared)->Arg(n);
      benchmark::RegisterBenchmark("VelStringCopyOfShared", VelStringCopyOfShared)->Arg(n);
      benchmark::RegisterBenchmark("U16StringCopy", U16StringCopy)->Arg(n);
      benchmark::RegisterBenchmark("SharedPtrCopy", SharedPtrCopy)->Arg(n);
      benchmark::RegisterBenchmark("VelStringFromText", VelStringFromText)
          ->Args({n, 0})
          ->Args({n, 1});
      benchmark::RegisterBenchmark("U16StringFromText", U16StringFromText)->Arg(n);
      benchmark::RegisterBenchmark("VelStringAppendChars", VelStringAppendChars)->Arg(n);
      benchmark::RegisterBenchmark("U16StringAppendChars", U16StringAppendChars)->Arg(n);
      benchmark::RegisterBenchmark("VelStringCopyThenWrite", VelStringCopyThenWrite)->Arg(n);
      benchmark::RegisterBenchmark("U16StringCopyThenWrite", U16StringCopyThenWrite)->Arg(n);
      AddRatio("VelString built one char at a time / std::u16string (" + std::to_string(n) + ")",
               "VelStringAppendChars" + a, "U16StringAppendChars" + a);
      AddRatio("copy of a held string, then one char changed / std::u16string (" +
                   std::to_string(n) + ")",
               "VelStringCopyThenWrite" + a, "U16StringCopyThenWrite" + a);
      benchmark::RegisterBenchmark("VelStringHash", VelStringHashBench)->Arg(n);
      benchmark::RegisterBenchmark("StdHashU16", StdHash)->Arg(n);
      AddRatio("shared VelString copy+destroy / std::shared_ptr copy+destroy (" +
                   std::to_string(n) + ")",
               "VelStringCopyShared" + a, "SharedPtrCopy" + a);
      AddRatio(
          "copy+destroy of a block with two holders / std::shared_ptr (" + std::to_string(n) + ")",
          "VelStringCopyOfShared" + a, "SharedPtrCopy" + a);
      AddRatio("shared VelString copy / std::u16string copy (" + std::to_string(n) + " chars)",
               "VelStringCopyShared" + a, "U16StringCopy" + a);
      AddRatio("VelString from text, caching off / std::u16string (" + std::to_string(n) + ")",
               "VelStringFromText" + a + "/0", "U16StringFromText" + a);
      AddRatio("VelString from text, caching on / std::u16string (" + std::to_string(n) + ")",
               "VelStringFromText" + a + "/1", "U16StringFromText" + a);
      AddRatio("VelStringHash / std::hash<u16string_view> (" + std::to_string(n) + " chars)",
               "VelStringHash" + a, "StdHashU16" + a);
    }
    for (int n : {10, 100, 1000}) {
      for (int threads : {1, 2}) {
        const std::string t = "/threads:" + std::to_string(threads);
        const std::string a = "/" + std::to_string(n);
        benchmark::RegisterBenchmark("ManagerAllocateFree", ManagerAllocateFree)
            ->Args({n, 0})
            ->Args({n, 1})
            ->Threads(threads)
            ->UseRealTime();
        benchmark::RegisterBenchmark("MallocFree", MallocFree)
            ->Arg(n)
            ->Threads(threads)
            ->UseRealTime();
        AddRatio("Allocate+Free " + std::to_string(n) + " chars, caching on / malloc+free, " +
                     std::to_string(threads) + " thread(s)",
                 "ManagerAllocateFree" + a + "/1/real_time" + t,
                 "MallocFree" + a + "/real_time" + t);
        AddRatio("Allocate+Free " + std::to_string(n) + " chars, caching off / malloc+free, " +
                     std::to_string(threads) + " thread(s)",
                 "ManagerAllocateFree" + a + "/0/real_time" + t,
                 "MallocFree" + a + "/real_time" + t);
      }
    }
    for (int n : {10, 100}) {
      const std::string a = "/" + std::to_string(n);
      benchmark::RegisterBenchmark("ManagerAllocateFreeRing", ManagerAllocateFreeRing)
          ->Args({n, 0})
          ->Args({n, 1});
      benchmark::RegisterBenchmark("MallocFreeRing", MallocFreeRing)->Arg(n);
      for (int caching : {0, 1}) {
        AddRatio("Allocate+Free " + std::to_string(n) + " chars, 8 in flight, caching " +
                     (caching ? "on" : "off") + " / malloc+free",
                 "ManagerAllocateFreeRing" + a + "/" + std::to_string(caching),
                 "MallocFreeRing" + a);
      }
    }
    benchmark::RegisterBenchmark("EmptyStrings", EmptyStrings)->Threads(1)->UseRealTime();
    benchmark::RegisterBenchmark("EmptyStrings", EmptyStrings)->Threads(2)->UseRealTime();
    // Google Benchmark divides the 2-thread wall time by both threads' iterations: each thread's
    // own cost per operation is twice that, so the anchor is half the 1-thread time.
    kest::bench::AddRatioToSum(
        "empty strings made, copied and dropped: 2 threads / 1 thread, per thread and operation",
        "EmptyStrings/real_time/threads:2", "EmptyStrings/real_time/threads:1",
        "EmptyStrings/real_time/threads:1", -0.5);
    benchmark::RegisterBenchmark("LogicalCompare", LogicalCompare);
    benchmark::RegisterBenchmark("LogicalLess", LogicalLess);
    benchmark::RegisterBenchmark("OrdinalCompare", OrdinalCompare);
    AddRatio("VelStrCmpLogicalCase / ordinal compare (file and version names)", "LogicalCompare",
             "OrdinalCompare");
    AddRatio("operator< / ordinal compare", "LogicalLess", "OrdinalCompare");
  }
} registrar;

}  // namespace
