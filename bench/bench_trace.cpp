// Stack traces, heap-creation tracking and window translation against what a C++ developer would
// otherwise reach for: glibc's backtrace() and backtrace_symbols(), the bare heap creator, and the
// translation lookups the walks are made of. As a host runs them: a thread slot allocated, a new
// result per call, the library's default settings.
#include <benchmark/benchmark.h>
#include <execinfo.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_main.h"
#include "bench_slot.h"
#include "kest/KestCommon.h"
#include "kest/platform/symbols.h"

namespace {

namespace fs = std::filesystem;

// Runs `body` with `depth` more frames of its own on the stack.
template <typename Body>
[[gnu::noinline]] void AtDepth(int depth, const Body& body) {
  if (depth <= 1) {
    body();
  } else {
    AtDepth(depth - 1, body);
  }
  benchmark::ClobberMemory();  // no tail call: every level keeps its frame
}

// The stack below the benchmark body is gtest-free: main, the runner, the benchmark function. The
// argument is the frames a trace shows in all.
int ExtraFrames(int total) {
  static const int base = [] {
    void* frames[256];
    return backtrace(frames, 256);
  }();
  return total > base ? total - base : 1;
}

void WarmTrace(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  GetStackTrace();  // symbols set up and this stack's lines kept, as in a running host
  AtDepth(ExtraFrames(static_cast<int>(state.range(0))), [&] {
    for (auto _ : state) {
      VelString trace = GetStackTrace();
      benchmark::DoNotOptimize(trace.GetString());
    }
  });
}

void BacktraceSymbols(benchmark::State& state) {
  AtDepth(ExtraFrames(static_cast<int>(state.range(0))), [&] {
    for (auto _ : state) {
      void* frames[256];
      const int n = backtrace(frames, 256);
      char** names = backtrace_symbols(frames, n);
      benchmark::DoNotOptimize(names);
      std::free(names);
    }
  });
}

void Capture(benchmark::State& state) {
  AtDepth(ExtraFrames(static_cast<int>(state.range(0))), [&] {
    std::vector<kest::platform::StackFrame> frames(10001);
    size_t walked = 0;
    for (auto _ : state) {
      bool failed = false;
      walked = kest::platform::WalkOwnStack(frames.data(), frames.size(), failed);
      benchmark::DoNotOptimize(walked);
    }
    state.counters["frames"] = static_cast<double>(walked);
  });
}

void Backtrace(benchmark::State& state) {
  AtDepth(ExtraFrames(static_cast<int>(state.range(0))), [&] {
    int walked = 0;
    for (auto _ : state) {
      void* frames[256];
      walked = backtrace(frames, 256);
      benchmark::DoNotOptimize(walked);
    }
    state.counters["frames"] = walked;
  });
}

// A process's first trace: the symbol engine set up and every line looked up.
void FirstTrace(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  AtDepth(ExtraFrames(10), [&] {
    for (auto _ : state) {
      kest::ResetSymbolsForTesting();
      VelString trace = GetStackTrace();
      benchmark::DoNotOptimize(trace.GetString());
    }
  });
}

// --- heap creation ------------------------------------------------------------------------------

constexpr int kHookTraceFrames = 16;

void BareCreate(benchmark::State& state) {
  const kest::platform::HeapCreator create = kest::platform::InstallHeapCreateHook(nullptr);
  for (auto _ : state) {
    kest::platform::HeapHandle heap = create(0, 0, 0);
    benchmark::DoNotOptimize(heap);
    kest::platform::DestroyPrivateHeap(heap);
  }
}

void CreateHeap(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  // Tracking stays on for the rest of the process, so the "on" runs are registered last.
  if (state.range(0) != 0) kest::InstallHeapTrackingForTesting();
  kest::platform::HeapHandle heap = nullptr;
  for (auto _ : state) {
    heap = kest::platform::CreatePrivateHeap();
    benchmark::DoNotOptimize(heap);
    kest::platform::DestroyPrivateHeap(heap);
  }
  if (state.range(0) != 0) {
    // The frames of the trace recorded for the last heap: its lines but the header's and errors.
    const std::u16string_view text = GetHeapCreationStacks()->at(heap).View();
    int frames = -2;
    for (size_t at = 0; at < text.size(); at = text.find(u'\n', at) + 1) {
      if (text.substr(at).size() > 1 && text.substr(at + 1, 6) != u"ERROR:") ++frames;
      if (text.find(u'\n', at) == std::u16string_view::npos) break;
    }
    state.counters["frames"] = frames;
  }
}

// --- translation --------------------------------------------------------------------------------

constexpr int kEntries = 5000;
constexpr int kMenuItems = 200;
constexpr int kControls = 100;

std::u16string EnglishText(int i) {
  std::u16string text = u"Menu or control text number ";
  for (char c : std::to_string(i)) text += static_cast<char16_t>(c);
  return text;
}

struct LanguageFolder {
  LanguageFolder() {
    root = fs::temp_directory_path() / "kest_bench_trace";
    fs::create_directories(root / "Languages");
    exe = (root / "host.exe").u16string();
    kest::platform::SetExecutablePathForTesting(exe.c_str());
    std::string file = "LANG_NAME: Deutsch\nLANG_TAG: de\n";
    for (int i = 0; i < kEntries; ++i) {
      const std::string en = kest::ToUtf8(EnglishText(i));
      file += "EN:\"" + en +
              "\"\nde:\"\xC3\x9C"
              "bersetzung " +
              std::to_string(i) + "\"\n";
    }
    std::ofstream(root / "Languages" / "lang_de.txt", std::ios::binary) << file;
    SetLanguage(u"de");
  }
  ~LanguageFolder() {
    SetLanguage(nullptr);
    kest::platform::SetExecutablePathForTesting(nullptr);
    fs::remove_all(root);
  }
  fs::path root;
  std::u16string exe;
};

LanguageFolder& Folder() {
  static LanguageFolder folder;
  return folder;
}

// Each item's English text, set back before every walk so each walk translates anew.
void TranslateMenuWalk(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  Folder();
  kest::UiMenu menu;
  std::vector<std::u16string> english;
  for (int i = 0; i < kMenuItems; ++i) {
    english.push_back(EnglishText(i * 7 % kEntries));
    menu.AppendItem(english.back());
  }
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < kMenuItems; ++i)
      kest::platform::SetMenuItemText(menu.Handle(), i, english[static_cast<size_t>(i)].c_str());
    state.ResumeTiming();
    TranslateMenu(CMenu::FromHandle(menu.Handle()));
  }
}

void TranslateWindowWalk(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  Folder();
  kest::UiWindow dialog(u"#32770", EnglishText(0));
  std::vector<std::unique_ptr<kest::UiWindow>> controls;
  for (int i = 1; i < kControls; ++i)
    controls.push_back(std::make_unique<kest::UiWindow>(u"Button", EnglishText(i * 7), &dialog));
  for (auto _ : state) {
    state.PauseTiming();
    dialog.SetText(EnglishText(0));
    for (int i = 1; i < kControls; ++i)
      controls[static_cast<size_t>(i - 1)]->SetText(EnglishText(i * 7));
    state.ResumeTiming();
    TranslateWindow(dialog.Handle(), false);
  }
}

// The lookups alone: as many GetTranslatedText calls as the walk makes.
void Lookups(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  Folder();
  const int count = static_cast<int>(state.range(0));
  std::vector<std::u16string> english;
  for (int i = 0; i < count; ++i) english.push_back(EnglishText(i * 7 % kEntries));
  for (auto _ : state) {
    for (const std::u16string& text : english) {
      VelString answer = GetTranslatedText(text.c_str());
      benchmark::DoNotOptimize(answer.GetString());
    }
  }
}

struct Registrar {
  Registrar() {
    for (const int frames : {10, 50}) {
      benchmark::RegisterBenchmark("WarmTrace", WarmTrace)->Arg(frames);
      benchmark::RegisterBenchmark("BacktraceSymbols", BacktraceSymbols)->Arg(frames);
      benchmark::RegisterBenchmark("Capture", Capture)->Arg(frames);
      benchmark::RegisterBenchmark("Backtrace", Backtrace)->Arg(frames);
    }
    // The depth of the trace the heap hook takes (the creation's own frames and the walk's).
    benchmark::RegisterBenchmark("WarmTrace", WarmTrace)->Arg(kHookTraceFrames);
    benchmark::RegisterBenchmark("FirstTrace", FirstTrace)
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("TranslateMenuWalk", TranslateMenuWalk)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("TranslateWindowWalk", TranslateWindowWalk)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Lookups", Lookups)
        ->Arg(kMenuItems)
        ->Arg(kControls)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BareCreate", BareCreate);
    benchmark::RegisterBenchmark("CreateHeap", CreateHeap)->Arg(0);
    benchmark::RegisterBenchmark("CreateHeap", CreateHeap)->Arg(1)->Unit(benchmark::kMicrosecond);
    using kest::bench::AddRatio;
    using kest::bench::AddRatioToSum;
    for (const char* frames : {"10", "50"}) {
      const std::string n(frames);
      AddRatio("Warm GetStackTrace, " + n + " frames / backtrace + backtrace_symbols",
               "WarmTrace/" + n, "BacktraceSymbols/" + n);
      AddRatio("Capture alone, " + n + " frames / backtrace()", "Capture/" + n, "Backtrace/" + n);
    }
    AddRatio("First trace (symbols set up) / warm trace, 10 frames", "FirstTrace/iterations:5",
             "WarmTrace/10");
    AddRatio("Heap creation, tracking off / bare creator", "CreateHeap/0", "BareCreate");
    AddRatioToSum("Heap creation, tracking on / warm trace of its depth + bare creator",
                  "CreateHeap/1", "WarmTrace/" + std::to_string(kHookTraceFrames), "BareCreate", 1);
    AddRatio("TranslateMenu, 200 items / 200 GetTranslatedText", "TranslateMenuWalk",
             "Lookups/200");
    AddRatio("TranslateWindow, 100 controls / 100 GetTranslatedText", "TranslateWindowWalk",
             "Lookups/100");
  }
} registrar;

}  // namespace
