// The brace formatter against {fmt} (into std::u16string, std::string and a stack buffer) and the C
// runtime's snprintf/swprintf with the equivalent printf patterns.
#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <fmt/xchar.h>

#include <cstdio>
#include <cwchar>
#include <iterator>
#include <string>

#include "bench_main.h"
#include "kest/KestCommon.h"

namespace {

const VelString kName(u"db-server-07.example");
const std::u16string kNameU16 = u"db-server-07.example";
const std::string kNameNarrow = "db-server-07.example";
const std::wstring kNameWide = L"db-server-07.example";

// --- three integers -------------------------------------------------------------------------
void KestInts(benchmark::State& state) {
  VelString s;
  for (auto _ : state) {
    s.Format(u"{0} + {1} = {2}", 1, 2, 3);
    benchmark::DoNotOptimize(s.GetString());
  }
}
// A new string every time: the text is built in the stack buffer and copied into a new block,
// from the manager's per-thread caches (as in hosts that switch string caching on) or, with
// caching off, from the heap.
void KestIntsNewString(benchmark::State& state) {
  const bool caching = state.range(0) != 0;
  gbStringCacheEnabled = caching;
  if (caching) VelStringEnableCaching();
  for (auto _ : state) {
    VelString s;
    s.Format(u"{0} + {1} = {2}", 1, 2, 3);
    benchmark::DoNotOptimize(s.GetString());
  }
  gbStringCacheEnabled = false;
  VelStringDisableCaching();
}
void FmtIntsU16(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(fmt::format(u"{} + {} = {}", 1, 2, 3));
}
void FmtIntsNarrow(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(fmt::format("{} + {} = {}", 1, 2, 3));
}
void SwprintfInts(benchmark::State& state) {
  wchar_t buffer[64];
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::swprintf(buffer, 64, L"%d + %d = %d", 1, 2, 3));
    benchmark::ClobberMemory();
  }
}

// --- a string argument ----------------------------------------------------------------------
void KestString(benchmark::State& state) {
  VelString s;
  for (auto _ : state) {
    s.Format(u"Host {0} is down", kName);
    benchmark::DoNotOptimize(s.GetString());
  }
}
void FmtStringU16(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(fmt::format(u"Host {} is down", kNameU16));
}
void FmtStringNarrow(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(fmt::format("Host {} is down", kNameNarrow));
}
void SwprintfString(benchmark::State& state) {
  wchar_t buffer[64];
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::swprintf(buffer, 64, L"Host %ls is down", kNameWide.c_str()));
    benchmark::ClobberMemory();
  }
}

// --- a byte in hex --------------------------------------------------------------------------
void KestByte(benchmark::State& state) {
  VelString s;
  unsigned char byte = 10;
  for (auto _ : state) {
    benchmark::DoNotOptimize(byte);
    s.Format(u"{0:02X}", byte);
    benchmark::DoNotOptimize(s.GetString());
  }
}
void FmtByteU16(benchmark::State& state) {
  unsigned char byte = 10;
  for (auto _ : state) {
    benchmark::DoNotOptimize(byte);
    benchmark::DoNotOptimize(fmt::format(u"{:02X}", byte));
  }
}
void SwprintfByte(benchmark::State& state) {
  wchar_t buffer[16];
  unsigned char byte = 10;
  for (auto _ : state) {
    benchmark::DoNotOptimize(byte);
    benchmark::DoNotOptimize(std::swprintf(buffer, 16, L"%02X", byte));
    benchmark::ClobberMemory();
  }
}

// --- a double --------------------------------------------------------------------------------
// Results are checked instead of handed to DoNotOptimize(double), which Debian's Google Benchmark
// mishandles with g++.
void KestDouble(benchmark::State& state) {
  VelString s;
  double value = 3.14159265;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&value);
    s.Format(u"{0:.3f}", value);
    benchmark::DoNotOptimize(s.GetString());
  }
  if (s != VelString(u"3.142")) state.SkipWithError("wrong text");
}
void FmtDoubleU16(benchmark::State& state) {
  double value = 3.14159265;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&value);
    benchmark::DoNotOptimize(fmt::format(u"{:.3f}", value));
  }
}
void SnprintfDouble(benchmark::State& state) {
  char buffer[32];
  double value = 3.14159265;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&value);
    benchmark::DoNotOptimize(std::snprintf(buffer, 32, "%.3f", value));
    benchmark::ClobberMemory();
  }
}

// --- a 60-character pattern with five mixed arguments ----------------------------------------
void KestMixed(benchmark::State& state) {
  VelString s;
  for (auto _ : state) {
    s.Format(u"Server {0} answered {1} of {2} checks in {3:.1f} ms (code {4:X})", kName, 97, 100,
             12.5, 0xBEEFu);
    benchmark::DoNotOptimize(s.GetString());
  }
}
void FmtMixedU16(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        fmt::format(u"Server {} answered {} of {} checks in {:.1f} ms (code {:X})", kNameU16, 97,
                    100, 12.5, 0xBEEFu));
  }
}
void SwprintfMixed(benchmark::State& state) {
  wchar_t buffer[128];
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        std::swprintf(buffer, 128, L"Server %ls answered %d of %d checks in %.1f ms (code %X)",
                      kNameWide.c_str(), 97, 100, 12.5, 0xBEEFu));
    benchmark::ClobberMemory();
  }
}

// --- building 10 KB with AppendFormat -------------------------------------------------------
void KestAppendLoop(benchmark::State& state) {
  for (auto _ : state) {
    VelString s;
    for (int i = 0; s.GetLength() < 10240; ++i) s.AppendFormat(u"item {0}; ", i);
    benchmark::DoNotOptimize(s.GetString());
  }
}
void FmtAppendLoopU16(benchmark::State& state) {
  for (auto _ : state) {
    std::u16string s;
    for (int i = 0; s.size() < 10240; ++i) fmt::format_to(std::back_inserter(s), u"item {}; ", i);
    benchmark::DoNotOptimize(s.data());
  }
}

// --- the engine alone into a stack buffer ---------------------------------------------------
void KestCore(benchmark::State& state) {
  char16_t buffer[256];
  const PlaceholderValue args[] = {PlaceholderValue(1), PlaceholderValue(2), PlaceholderValue(3)};
  for (auto _ : state) {
    benchmark::DoNotOptimize(BraceFormatCore(u"{0} + {1} = {2}", buffer, 256, args, 3));
    benchmark::ClobberMemory();
  }
}
void FmtFormatToN(benchmark::State& state) {
  char16_t buffer[256];
  for (auto _ : state) {
    benchmark::DoNotOptimize(fmt::format_to_n(buffer, 255, u"{} + {} = {}", 1, 2, 3).size);
    benchmark::ClobberMemory();
  }
}

struct Registrar {
  Registrar() {
    const std::pair<const char*, void (*)(benchmark::State&)> all[] = {
        {"KestInts", KestInts},
        {"FmtIntsU16", FmtIntsU16},
        {"FmtIntsNarrow", FmtIntsNarrow},
        {"SwprintfInts", SwprintfInts},
        {"KestString", KestString},
        {"FmtStringU16", FmtStringU16},
        {"FmtStringNarrow", FmtStringNarrow},
        {"SwprintfString", SwprintfString},
        {"KestByte", KestByte},
        {"FmtByteU16", FmtByteU16},
        {"SwprintfByte", SwprintfByte},
        {"KestDouble", KestDouble},
        {"FmtDoubleU16", FmtDoubleU16},
        {"SnprintfDouble", SnprintfDouble},
        {"KestMixed", KestMixed},
        {"FmtMixedU16", FmtMixedU16},
        {"SwprintfMixed", SwprintfMixed},
        {"KestAppendLoop", KestAppendLoop},
        {"FmtAppendLoopU16", FmtAppendLoopU16},
        {"KestCore", KestCore},
        {"FmtFormatToN", FmtFormatToN},
    };
    for (const auto& [name, fn] : all) benchmark::RegisterBenchmark(name, fn);
    benchmark::RegisterBenchmark("KestIntsNewString", KestIntsNewString)->Arg(0)->Arg(1);
    using kest::bench::AddRatio;
    AddRatio("Format 3 ints / fmt::format u16string", "KestInts", "FmtIntsU16");
    AddRatio("Format 3 ints / fmt::format string", "KestInts", "FmtIntsNarrow");
    AddRatio("Format 3 ints, new string, caching on / fmt::format u16string", "KestIntsNewString/1",
             "FmtIntsU16");
    AddRatio("Format 3 ints, new string, caching off / fmt::format u16string",
             "KestIntsNewString/0", "FmtIntsU16");
    AddRatio("Format 3 ints / swprintf", "KestInts", "SwprintfInts");
    AddRatio("Format string arg / fmt::format u16string", "KestString", "FmtStringU16");
    AddRatio("Format string arg / fmt::format string", "KestString", "FmtStringNarrow");
    AddRatio("Format string arg / swprintf", "KestString", "SwprintfString");
    AddRatio("Format {0:02X} byte / fmt::format u16string", "KestByte", "FmtByteU16");
    AddRatio("Format {0:02X} byte / swprintf", "KestByte", "SwprintfByte");
    AddRatio("Format {0:.3f} double / fmt::format u16string", "KestDouble", "FmtDoubleU16");
    AddRatio("Format {0:.3f} double / snprintf", "KestDouble", "SnprintfDouble");
    AddRatio("Format 60-char pattern, 5 args / fmt::format u16string", "KestMixed", "FmtMixedU16");
    AddRatio("Format 60-char pattern, 5 args / swprintf", "KestMixed", "SwprintfMixed");
    AddRatio("AppendFormat 10 KB / fmt::format_to u16string", "KestAppendLoop", "FmtAppendLoopU16");
    AddRatio("BraceFormatCore / fmt::format_to_n", "KestCore", "FmtFormatToN");
  }
} registrar;

}  // namespace
