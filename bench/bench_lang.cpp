// Interned texts and translation against the hash maps a C++ developer would otherwise use, as a
// host runs them: the thread slot allocated, default string settings, a new result per call.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench_main.h"
#include "bench_slot.h"
#include "kest/KestCommon.h"
#include "kest/platform/tls.h"

namespace {

namespace fs = std::filesystem;

// 37-character texts that differ early and late, as resource texts do.
std::vector<std::u16string> Texts(int count, const char16_t* stem) {
  std::vector<std::u16string> texts;
  for (int i = 0; i < count; ++i) {
    std::u16string text = u"T" + std::u16string(stem);
    const std::string digits = std::to_string(i);
    text += std::u16string(digits.begin(), digits.end());
    while (text.size() < 37) text += static_cast<char16_t>(u'a' + text.size() % 26);
    texts.push_back(text.substr(0, 37));
  }
  return texts;
}

constexpr int kInterned = 20000;

const std::vector<std::u16string>& InternedTexts() {
  static const std::vector<std::u16string> texts = [] {
    auto t = Texts(kInterned, u"ext ");
    for (const auto& text : t) CachedString{std::u16string_view(text)};
    return t;
  }();
  return texts;
}

void InternExisting(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  const auto& texts = InternedTexts();
  size_t i = 0;
  for (auto _ : state) {
    const CachedString handle{std::u16string_view(texts[i])};
    benchmark::DoNotOptimize(handle.Key());
    i = i + 1 == texts.size() ? 0 : i + 1;
  }
}

void UnorderedMapFindU16(benchmark::State& state) {
  const auto& texts = InternedTexts();
  std::unordered_map<std::u16string, int> map;
  for (size_t n = 0; n < texts.size(); ++n) map.emplace(texts[n], static_cast<int>(n));
  size_t i = 0;
  for (auto _ : state) {
    auto found = map.find(texts[i]);
    benchmark::DoNotOptimize(found->second);
    i = i + 1 == texts.size() ? 0 : i + 1;
  }
}

void HandleToPointer(benchmark::State& state) {
  const auto& texts = InternedTexts();
  std::vector<CachedString> handles;
  for (const auto& text : texts) handles.emplace_back(std::u16string_view(text));
  size_t i = 0;
  for (auto _ : state) {
    const char16_t* text = handles[i];
    benchmark::DoNotOptimize(text);
    i = i + 1 == handles.size() ? 0 : i + 1;
  }
}

void UnorderedMapFindKey(benchmark::State& state) {
  const auto& texts = InternedTexts();
  std::unordered_map<uint64_t, const char16_t*> map;
  std::vector<uint64_t> keys;
  for (const auto& text : texts) {
    const CachedString handle{std::u16string_view(text)};
    map.emplace(handle.Key(), text.c_str());
    keys.push_back(handle.Key());
  }
  size_t i = 0;
  for (auto _ : state) {
    auto found = map.find(keys[i]);
    benchmark::DoNotOptimize(found->second);
    i = i + 1 == keys.size() ? 0 : i + 1;
  }
}

// --- translation ------------------------------------------------------------------------------

constexpr int kEntries = 5000;

struct LanguageFolder {
  LanguageFolder() {
    root = fs::temp_directory_path() / "kest_bench_lang";
    fs::create_directories(root / "Languages");
    exe = (root / "host.exe").u16string();
    kest::platform::SetExecutablePathForTesting(exe.c_str());
    english = Texts(kEntries, u"ranslate ");
    std::string file = "LANG_NAME: Deutsch\nLANG_TAG: de\n";
    for (int i = 0; i < kEntries; ++i) {
      const std::string en = kest::ToUtf8(english[static_cast<size_t>(i)]);
      // A third ASCII, a third accented, a third CJK, about 100 bytes per entry.
      const char* kinds[] = {"Ubersetzung Nummer ",
                             "\xC3\x9C"
                             "bers\xC3\xA4tzung f\xC3\xBCr ",
                             "\xE7\xBF\xBB\xE8\xAF\x91\xE6\x96\x87\xE6\x9C\xAC "};
      const std::string de = std::string(kinds[i % 3]) + std::to_string(i) + " " + en.substr(0, 12);
      file += "EN:\"" + en + "\"\nde:\"" + de + "\"\n";
      const VelString wide = kest::Utf8ToVelString(de);
      translations.emplace_back(wide.GetString(), static_cast<size_t>(wide.GetLength()));
    }
    while (file.size() < 500 * 1024)
      file += "# padding line kept for size, ignored by the parser\n";
    bytes = file;
    std::ofstream(root / "Languages" / "lang_de.txt", std::ios::binary) << file;
  }
  ~LanguageFolder() {
    kest::platform::SetExecutablePathForTesting(nullptr);
    fs::remove_all(root);
  }
  fs::path root;
  std::u16string exe;
  std::vector<std::u16string> english, translations;
  std::string bytes;
};

LanguageFolder& Folder() {
  static LanguageFolder folder;
  return folder;
}

// The first load of the process, which interns every text (one iteration: only a fresh process
// has it).
void SetLanguageFirstLoad(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  Folder();
  for (auto _ : state) SetLanguage(u"de");
}

void SetLanguageRepeated(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  Folder();
  for (auto _ : state) SetLanguage(u"de");
}

void ReadAndDecode(benchmark::State& state) {
  const auto& folder = Folder();
  const std::u16string path = (folder.root / "Languages" / "lang_de.txt").u16string();
  for (auto _ : state) {
    std::ifstream in(fs::path(path), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::u16string text(bytes.size(), u'\0');
    text.resize(static_cast<size_t>(kest::Utf8ToUtf16(bytes.data(), static_cast<int>(bytes.size()),
                                                      text.data(), static_cast<int>(text.size()))));
    benchmark::DoNotOptimize(text.data());
  }
}

// The texts looked up: the file's English texts (hits) or as many others (misses).
const std::vector<std::u16string>& Asked(const LanguageFolder& folder, bool hit) {
  static const std::vector<std::u16string> misses = Texts(kEntries, u"not in the file ");
  return hit ? folder.english : misses;
}

void Translate(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  auto& folder = Folder();
  SetLanguage(u"de");
  const auto& asked = Asked(folder, state.range(0) != 0);
  size_t i = 0;
  for (auto _ : state) {
    VelString answer = GetTranslatedText(asked[i].c_str());
    benchmark::DoNotOptimize(answer.GetString());
    i = i + 1 == asked.size() ? 0 : i + 1;
  }
}

void UnorderedMapTranslate(benchmark::State& state) {
  auto& folder = Folder();
  std::unordered_map<std::u16string, std::u16string> map;
  for (int n = 0; n < kEntries; ++n)
    map.emplace(folder.english[static_cast<size_t>(n)],
                folder.translations[static_cast<size_t>(n)]);
  const auto& asked = Asked(folder, state.range(0) != 0);
  size_t i = 0;
  for (auto _ : state) {
    auto found = map.find(asked[i]);
    std::u16string answer = found != map.end() ? found->second : asked[i];
    benchmark::DoNotOptimize(answer.data());
    i = i + 1 == asked.size() ? 0 : i + 1;
  }
}

struct Registrar {
  Registrar() {
    benchmark::RegisterBenchmark("SetLanguageFirstLoad", SetLanguageFirstLoad)
        ->Iterations(1)
        ->Repetitions(1)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("SetLanguageRepeated", SetLanguageRepeated)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("ReadAndDecode", ReadAndDecode)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("InternExisting", InternExisting);
    benchmark::RegisterBenchmark("UnorderedMapFindU16", UnorderedMapFindU16);
    benchmark::RegisterBenchmark("HandleToPointer", HandleToPointer);
    benchmark::RegisterBenchmark("UnorderedMapFindKey", UnorderedMapFindKey);
    benchmark::RegisterBenchmark("Translate", Translate)->Arg(1)->Arg(0);
    benchmark::RegisterBenchmark("UnorderedMapTranslate", UnorderedMapTranslate)->Arg(1)->Arg(0);
    using kest::bench::AddRatio;
    AddRatio("Intern an existing 37-char text / unordered_map<u16string,int>::find",
             "InternExisting", "UnorderedMapFindU16");
    AddRatio("CachedString to pointer / unordered_map<uint64_t,...> hit", "HandleToPointer",
             "UnorderedMapFindKey");
    AddRatio("GetTranslatedText hit / unordered_map find + copy", "Translate/1",
             "UnorderedMapTranslate/1");
    AddRatio("GetTranslatedText miss / unordered_map find + copy", "Translate/0",
             "UnorderedMapTranslate/0");
    AddRatio("SetLanguage 500 KB, repeated / read + Utf8ToUtf16", "SetLanguageRepeated",
             "ReadAndDecode");
    AddRatio("SetLanguage 500 KB, first load / read + Utf8ToUtf16",
             "SetLanguageFirstLoad/iterations:1/repeats:1", "ReadAndDecode");
  }
} registrar;

}  // namespace
