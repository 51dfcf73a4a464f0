// kestc: the library's command-line companion. It links against the shared library exactly as a
// host module does, so every subcommand is also a check that the exported interface works.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "kest/KestCommon.h"
#include "kest/lang/lang_check.h"
#include "kest/lang/lang_file.h"
#include "kest/platform/clock.h"
#include "kest/platform/file.h"
#include "kest/platform/sessions.h"

#if defined(_WIN32)
#include <windows.h>
// io.h after windows.h, as the rest of the library includes them.
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

struct Command {
  const char* name;
  const char* usage;
  const char* summary;
  int (*run)(int argc, char** argv);
};

std::string Narrow(const VelString& s) { return kest::ToUtf8(s.View()); }

// Writes a user's text whole, NUL bytes included, and a newline. Write errors show at the end of
// main, where standard output is flushed and checked.
void WriteLine(const VelString& text) {
  const std::string bytes = Narrow(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fputc('\n', stdout);
}

// Streams one file (or standard input for "-") through `update`; false when it cannot be read.
template <typename Reg, typename Update>
bool ChecksumStream(std::FILE* in, Reg& reg, uint64_t& bytes, Update update) {
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    const size_t n = std::fread(buffer.data(), 1, buffer.size(), in);
    if (n == 0) break;
    reg = update(reg, buffer.data(), n);
    bytes += n;
  }
  return !std::ferror(in);
}

template <typename Reg, typename Update>
int RunChecksum(int argc, char** argv, const char* format, Update update) {
  static const char* const kStdin[] = {"-"};
  const char* const* files = argc > 0 ? argv : kStdin;
  const int count = argc > 0 ? argc : 1;
  int status = 0;
  for (int i = 0; i < count; ++i) {
    const char* name = files[i];
    const bool is_stdin = std::strcmp(name, "-") == 0;
    std::FILE* in = is_stdin ? stdin : std::fopen(name, "rb");
    if (in == nullptr) {
      std::fprintf(stderr, "kestc: %s: cannot open\n", name);
      status = 1;
      continue;
    }
    Reg reg = static_cast<Reg>(~Reg{0});
    uint64_t bytes = 0;
    const bool ok = ChecksumStream(in, reg, bytes, update);
    if (!is_stdin) std::fclose(in);
    if (!ok) {
      std::fprintf(stderr, "kestc: %s: read error\n", name);
      status = 1;
      continue;
    }
    // An empty input checksums to 0, as CRC32 and CRC64 define it.
    const Reg crc = bytes == 0 ? Reg{0} : static_cast<Reg>(~reg);
    std::printf(format, crc, bytes);
    std::printf(is_stdin ? "\n" : " %s\n", name);
  }
  return status;
}

int RunCrc32(int argc, char** argv) {
  return RunChecksum<uint32_t>(
      argc, argv, "%08" PRIx32 " %" PRIu64,
      [](uint32_t reg, const void* p, size_t n) { return kest::Crc32Update(reg, p, n); });
}

int RunCrc64(int argc, char** argv) {
  return RunChecksum<uint64_t>(
      argc, argv, "%016" PRIx64 " %" PRIu64,
      [](uint64_t reg, const void* p, size_t n) { return kest::Crc64Update(reg, p, n); });
}

// Splits the input into lines (LF, with a CR before it dropped); false when it cannot be read.
bool ReadLines(std::FILE* in, std::vector<VelString>& lines) {
  std::string all;
  char chunk[1 << 14];
  for (size_t n; (n = std::fread(chunk, 1, sizeof(chunk), in)) > 0;) all.append(chunk, n);
  if (std::ferror(in)) return false;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    size_t stop = end;
    if (stop > start && all[stop - 1] == '\r') --stop;
    lines.push_back(kest::Utf8ToVelString(std::string_view(all).substr(start, stop - start)));
    start = end + 1;
  }
  return true;
}

int RunSort(int argc, char** argv) {
  bool reverse = false;
  bool unique = false;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "-r") == 0) {
      reverse = true;
    } else if (std::strcmp(argv[i], "-u") == 0) {
      unique = true;
    } else {
      std::fprintf(stderr, "kestc sort: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  std::vector<VelString> lines;
  if (!ReadLines(stdin, lines)) {
    std::fprintf(stderr, "kestc sort: cannot read standard input: %s\n", std::strerror(errno));
    return 1;
  }
  // The logical order reads each line as a C string, so lines that differ only after a NUL, or
  // not at all in its eyes, are told apart by their whole text: the shorter first, then by code
  // unit. Only identical lines are duplicates.
  std::sort(lines.begin(), lines.end(), [](const VelString& a, const VelString& b) {
    if (a < b) return true;
    if (b < a) return false;
    if (a.GetLength() != b.GetLength()) return a.GetLength() < b.GetLength();
    return a.View() < b.View();
  });
  if (unique) {
    lines.erase(
        std::unique(lines.begin(), lines.end(),
                    [](const VelString& a, const VelString& b) { return a.View() == b.View(); }),
        lines.end());
  }
  if (reverse) std::reverse(lines.begin(), lines.end());
  for (const VelString& line : lines) WriteLine(line);
  return 0;
}

std::string Escaped(const VelString& text);

void Heading(const char* title) { std::printf("\n== %s ==\n", title); }

int RunDemo(int, char**) {
  std::printf("KestCommon %s: a tour on built-in sample data\n", "demo");

  Heading("VelString: one pointer, shared blocks, copy on write");
  VelString host(u"db-server-07");
  VelString copy = host;
  std::printf("  host = \"%s\"; copy = host\n", Narrow(host).c_str());
  std::printf("  same characters? %s   block reference count: %d\n",
              host.GetString() == copy.GetString() ? "yes" : "no", host.GetData()->nRefs);
  copy += u".corp";
  copy.MakeUpper();
  std::printf("  after copy += \".corp\" and MakeUpper: host = \"%s\", copy = \"%s\"\n",
              Narrow(host).c_str(), Narrow(copy).c_str());
  VelString line(u"  cpu=93%;  disk=12%  ");
  line.Trim();
  line.Replace(u";  ", u", ");
  std::printf("  Trim + Replace: \"%s\"  Find(\"disk\") = %d\n", Narrow(line).c_str(),
              line.Find(u"disk"));

  Heading("Logical order (operator<), against plain code-unit order");
  const char16_t* samples[] = {u"server10", u"server9",    u"server1",     u"Server2",
                               u"*Other",   u"v1.10.2",    u"v1.9.12",     u"007 agent",
                               u"7 agent",  u"disk2-log1", u"disk10-log2", u"disk2-log10"};
  std::vector<VelString> logical(std::begin(samples), std::end(samples));
  std::vector<VelString> ordinal = logical;
  std::sort(logical.begin(), logical.end());
  std::sort(ordinal.begin(), ordinal.end(),
            [](const VelString& a, const VelString& b) { return a.Compare(b) < 0; });
  std::printf("  %-14s %s\n", "logical", "ordinal");
  for (size_t i = 0; i < logical.size(); ++i) {
    std::printf("  %-14s %s\n", Narrow(logical[i]).c_str(), Narrow(ordinal[i]).c_str());
  }

  Heading("Hashes (CRC-64 of the UTF-16 text)");
  const VelString a(u"Agent-Alpha"), b(u"AGENT-alpha");
  std::printf("  VelStringHash(\"%s\")                = %016" PRIx64 "\n", Narrow(a).c_str(),
              VelStringHash()(a));
  std::printf("  VelStringHash(\"%s\")                = %016" PRIx64 "\n", Narrow(b).c_str(),
              VelStringHash()(b));
  std::printf("  CaseInsensitiveVelStringHash, both   = %016" PRIx64 " / %016" PRIx64 "\n",
              CaseInsensitiveVelStringHash()(a), CaseInsensitiveVelStringHash()(b));
  std::printf("  CaseInsensitiveVelStringEqual        = %s\n",
              CaseInsensitiveVelStringEqual()(a, b) ? "true" : "false");

  Heading("Brace formatting");
  {
    VelString text;
    text.Format(u"{0} answered {1} of {2} checks in {3:.1f} ms (code {4:04X})", host, 97, 100, 12.5,
                0xBEEFu);
    std::printf("  %s\n", Narrow(text).c_str());
    text.Format(u"{1} {} and {{literal}} braces", u"first", u"second");
    std::printf("  %s\n", Narrow(text).c_str());
    text.Format(u"a value is missing: {3} BAD_FORMAT_TEST", 1);
    std::printf("  %s\n", Narrow(text).c_str());
    text.AppendFormat(u" | appended {0:+d}", 42);
    std::printf("  %s\n", Narrow(text).c_str());
  }

  Heading("Checksums");
  const char digits[] = "123456789";
  std::printf("  CRC32(\"123456789\") = %08" PRIx32 "  CRC64(\"123456789\") = %016" PRIx64 "\n",
              CRC32(digits, 9), CRC64(digits, 9));
  std::printf("  kernel for long inputs: %s\n", kest::CrcKernelName(kest::ActiveCrcKernel()));

  Heading("A request, accounted in its CentralContext");
  {
    gCentralCtxTLSIndex = kest::platform::AllocateThreadSlot();  // what a host does once
    CentralContext request;
    request.SetRequestType(eWebPage);
    static CLockCS table_lock;
    const int64_t start = TimerStart();
    for (int i = 0; i < 3; ++i) {
      CAcquireCS guard(table_lock);  // waits and holds land in the thread's context
      request.StartDatabaseRequest();
      request.FinishedDatabaseRequest();
    }
    request.RecordVantorCall(u"inventory-svc", 12);
    request.RecordVantorCall(u"inventory-svc", 30);
    request.WritingToLog(false);
    std::printf("  locks taken %u, held now %u, database requests %u, log lines %u\n",
                request.m_nLocksTaken, CONTEXT_GET_NUM_LOCKS_HELD(), request.m_nDBRequests,
                request.m_nLogLines);
    for (const auto& [name, stats] : request.NamedCalls()) {
      std::printf("  named call %s: %u calls, %u ms\n", Narrow(name).c_str(), stats.count,
                  stats.total_ms);
    }
    std::printf("  the whole thing took %u hundredths of a millisecond\n", TimerEnd100thms(start));
  }
  kest::platform::FreeThreadSlot(gCentralCtxTLSIndex);
  gCentralCtxTLSIndex = 0;

  Heading("String manager");
  void* heap = nullptr;
  int64_t bytes = 0;
  int32_t blocks = 0, live = 0;
  VelStringGetStringHeapInfo(heap, bytes, blocks, live);
  std::printf("  at start:            %8" PRId64 " bytes in %6d heap blocks, %6d live strings\n",
              bytes, blocks, live);
  VelStringEnableCaching();
  {
    std::vector<VelString> many;
    for (int i = 0; i < 10000; ++i) many.emplace_back(u"sample text for the caches");
    VelStringGetStringHeapInfo(heap, bytes, blocks, live);
    std::printf("  10,000 strings held: %8" PRId64 " bytes in %6d heap blocks, %6d live strings\n",
                bytes, blocks, live);
  }
  VelStringGetStringHeapInfo(heap, bytes, blocks, live);
  std::printf("  released to caches:  %8" PRId64 " bytes in %6d heap blocks, %6d live strings\n",
              bytes, blocks, live);
  VelStringReleaseCachedMemory(true);
  VelStringGetStringHeapInfo(heap, bytes, blocks, live);
  std::printf("  caches emptied:      %8" PRId64 " bytes in %6d heap blocks, %6d live strings\n",
              bytes, blocks, live);

  Heading("Interned texts");
  {
    const CachedString first(u"Disk space is low"), second(VelString(u"Disk space is low"));
    const char16_t* first_text = first;
    const char16_t* second_text = second;
    std::printf("  two handles of one text: key %016" PRIx64 " twice, one stored copy: %s\n",
                first.Key(), first == second && first_text == second_text ? "yes" : "no");
    std::printf("  handles order by text: item2 < item10 is %s\n",
                CachedString(u"item2") < CachedString(u"item10") ? "true" : "false");
  }

  Heading("A language file, as SetLanguage and kestc lang check read it");
  {
    const std::string sample =
        "LANG_NAME: Deutsch\nLANG_TAG: de\n"
        "EN:\"{0} of {1} disks\"\nde:\"{0} von {1} Datentr\xC3\xA4gern\"\n"
        "de*:\"Speicher knapp\"\nEN:\"Disk space is low\"\n"
        "EN:\"Saved in \"\"C:\\\\Temp\"\"\"\nde:\"Gespeichert in \"\"C:\\\\Temp\"\"\"\n"
        "EN:\"{0} files\"\nde:\"Dateien\"\n";
    const kest::DecodedLanguageFile file = kest::DecodeLanguageFile(sample);
    kest::ParsedLanguageFile parsed;
    kest::ParseLanguageEntries(file.text, u"de", parsed);
    for (const auto& pair : parsed.pairs) {
      std::printf(
          "  line %d: %s  ->  %s%s\n", pair.english_line, Narrow(VelString(pair.english)).c_str(),
          Narrow(VelString(pair.translation)).c_str(), pair.machine ? "  (by machine)" : "");
    }
    std::printf("  machine-made share: %.1f%%\n",
                kest::MachineTranslatedPercent(parsed.machine_lines, parsed.english_lines));
    for (const kest::LangFinding& finding : kest::CheckLanguageFile(file, u"de"))
      std::printf("  check, line %d: %s\n", finding.line, kest::ToUtf8(finding.message).c_str());
  }

  Heading("Resource strings: a module's table by ID, translated, cached, formatted");
  std::printf("  ghCommonHInst = %p, CANT_CONNECT_KEYWORD = \"%s\" (fixed at load)\n",
              static_cast<void*>(ghCommonHInst), Narrow(VelString(CANT_CONNECT_KEYWORD)).c_str());
  std::printf("  String(IDS_BASE_LANGUAGE, nullptr)  = \"%s\"\n",
              Narrow(String(IDS_BASE_LANGUAGE, nullptr)).c_str());
  std::printf("  String(4711, nullptr)               = \"%s\"  (missing: marked, never cached)\n",
              Narrow(String(4711, nullptr)).c_str());
  std::printf("  cache entries: %zu; IsEnglishBuild() = %s\n", kest::StringCacheSize(),
              IsEnglishBuild() ? "true" : "false");
  const char16_t* constant = nullptr;
  CheckAndAssignConstantValue(u"  Server: down\\n\t", constant, true);
  std::printf("  CheckAndAssignConstantValue(\"  Server: down\\\\n\\t\", clean-up) = \"%s\"\n",
              Escaped(VelString(constant)).c_str());

  Heading("A slow request's performance line");
  {
    gCentralCtxTLSIndex = kest::platform::AllocateThreadSlot();
    CentralContext request;
    request.SetRequestType(eWebPage);
    request.m_tRequestStart = TimerAdd(TimerStart(), -4520);  // began 4.52 s ago
    request.m_nHTTPReadMS = 812;
    request.m_nClientWaitMS = 20;
    request.m_nDBRequests = 3;
    request.m_nDBMS = 2500;
    request.m_NamedCalls[VelString(u"GetData")] = {80, 300};
    std::printf("  ShouldLog() = %s\n  %s\n  %s\n", request.ShouldLog() ? "true" : "false",
                Narrow(request.GetPerfLog()).c_str(),
                Narrow(kest::PerfLogKeyValue(request)).c_str());
  }
  kest::platform::FreeThreadSlot(gCentralCtxTLSIndex);
  gCentralCtxTLSIndex = 0;

  Heading("Assertions: one box per place, then silence");
  {
    // A presenter stands in for the box here and answers "Always ignore this assert".
    kest::SetAssertPresenter(
        [](void*, const char16_t* title, const char16_t* text, uint32_t) {
          std::printf("  [%s] %s\n", Narrow(VelString(title)).c_str(),
                      Escaped(VelString(text)).substr(0, 60).c_str());
          return kest::platform::kIdAbort;
        },
        nullptr);
    kest::SetAssertSink(
        [](void*, const kest::AssertCall& call) {
          static const char* const kOutcomes[] = {"switched off", "another box open", "ignored",
                                                  "answered"};
          std::printf(
              "  %s:%d -> %s%s\n", Narrow(VelString(call.file)).c_str(), call.line,
              kOutcomes[static_cast<int>(call.outcome)],
              call.key[0] != 0 ? (" (key " + Narrow(VelString(call.key)) + ")").c_str() : "");
        },
        nullptr);
    gShowAsserts = 1;
    ReportAssert(u"src/Grid.cpp", 120, u"row < rows", u"Grid::Draw");
    ReportAssert(u"src/Grid.cpp", 120, u"row < rows", u"Grid::Draw");
    gShowAsserts = 0;
    ReportAssert(u"src/Grid.cpp", 121, u"col < cols", u"Grid::Draw");
    kest::SetAssertPresenter(nullptr, nullptr);
    kest::SetAssertSink(nullptr, nullptr);
  }

  Heading("Named colours and their dark defaults (lightness mirrored, hue kept)");
  for (const eColorID id : {eColor_UNVISITED_LINK, eColor_BLUE_BUTTON, eColor_DIALOG_BG,
                            eColor_EDITABLE_FIELD_BG, eColor_RED_BOLD}) {
    const uint32_t light = kest::LightDefaultColor(id);
    std::printf("  %-22s light %s  dark %s\n", kest::ToUtf8(kest::ColorKeyName(id)).c_str(),
                Narrow(kest::ColorText(light)).c_str(),
                Narrow(kest::ColorText(kest::DarkDefaultColor(light))).c_str());
  }
  std::printf("  (kestc colors resolves them all from Colors.ini, which it fills in)\n");
  return 0;
}

// Lists the files in the application folder (the folder of kestc itself) that match PATTERN.
int RunLs(int argc, char** argv) {
  if (argc != 1) {
    std::fprintf(stderr, "usage: kestc ls PATTERN\n");
    return 2;
  }
  const VelString pattern = kest::Utf8ToVelString(argv[0]);
  for (const VelString& path : GetFilesInAppFolder(pattern.GetString())) WriteLine(path);
  return 0;
}

// The tag a language file is checked for: --tag, else "lang_<tag>.txt" in its name, else its
// "LANG_TAG:" header.
std::u16string TagOfFile(const std::string& path, const std::u16string& given,
                         const kest::DecodedLanguageFile& file) {
  if (!given.empty()) return given;
  const size_t slash = path.find_last_of("/\\");
  const VelString name =
      kest::Utf8ToVelString(slash == std::string::npos ? path : path.substr(slash + 1));
  const int length = name.GetLength();
  if (length > 9 && name.Left(5).CompareNoCase(u"lang_") == 0 &&
      name.Right(4).CompareNoCase(u".txt") == 0) {
    const VelString tag = name.Mid(5, length - 9);
    return std::u16string(tag.GetString(), tag.GetLength());
  }
  return kest::ScanLanguageHeader(file.text).tag;
}

// Checks language files as SetLanguage reads them: status 0 when clean, 1 with findings, 2 on a
// usage error or a file that cannot be read.
int RunLangCheck(int argc, char** argv) {
  std::u16string tag;
  int first = 0;
  if (argc >= 1 && std::strcmp(argv[0], "--tag") == 0) {
    if (argc < 2 || argv[1][0] == 0) {
      std::fprintf(stderr, "usage: kestc lang check [--tag TAG] FILE...\n");
      return 2;
    }
    const VelString wide = kest::Utf8ToVelString(argv[1]);
    tag.assign(wide.GetString(), wide.GetLength());
    first = 2;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: kestc lang check [--tag TAG] FILE...\n");
    return 2;
  }
  int status = 0;
  for (int i = first; i < argc; ++i) {
    const std::string path = argv[i];
    const VelString wide_path = kest::Utf8ToVelString(path);
    std::string bytes;
    if (kest::platform::ReadWholeFile(
            std::u16string_view(wide_path.GetString(), wide_path.GetLength()),
            kest::kMaxLanguageFileBytes, bytes) != kest::platform::FileReadStatus::kOk) {
      std::fprintf(stderr, "kestc: cannot read %s (missing, unreadable or over 32 MiB)\n",
                   path.c_str());
      status = 2;
      continue;
    }
    const kest::DecodedLanguageFile file = kest::DecodeLanguageFile(bytes);
    const std::u16string file_tag = TagOfFile(path, tag, file);
    if (file_tag.empty()) {
      std::fprintf(stderr, "kestc: %s: no tag in its name or header; give --tag\n", path.c_str());
      status = 2;
      continue;
    }
    for (const kest::LangFinding& finding : kest::CheckLanguageFile(file, file_tag)) {
      std::printf("%s:%d: %s\n", path.c_str(), finding.line, kest::ToUtf8(finding.message).c_str());
      if (status == 0) status = 1;
    }
  }
  return status;
}

// The languages installed beside kestc, one "tag<TAB>name" line each, in the list's order.
int RunLangList(int argc, char**) {
  if (argc != 0) {
    std::fprintf(stderr, "usage: kestc lang list\n");
    return 2;
  }
  for (const auto& [name, tag] : GetLanguageList()) WriteLine(tag + u"\t" + name);
  return 0;
}

int RunLangFromTable(int argc, char** argv, bool pseudo);

int RunLang(int argc, char** argv) {
  if (argc >= 1 && std::strcmp(argv[0], "check") == 0) return RunLangCheck(argc - 1, argv + 1);
  if (argc >= 1 && std::strcmp(argv[0], "list") == 0) return RunLangList(argc - 1, argv + 1);
  if (argc >= 1 && std::strcmp(argv[0], "template") == 0)
    return RunLangFromTable(argc - 1, argv + 1, false);
  if (argc >= 1 && std::strcmp(argv[0], "pseudo") == 0)
    return RunLangFromTable(argc - 1, argv + 1, true);
  std::fprintf(stderr,
               "usage: kestc lang check [--tag TAG] FILE... | list | template [--module FILE] | "
               "pseudo TAG [--module FILE]\n");
  return 2;
}

int RunPaths(int, char**) {
  std::printf("application folder  %s\n", Narrow(GetPathInAppFolder(u"")).c_str());
  std::printf("system folder file  %s\n", Narrow(GetFilePathInSystem32(u"KERNEL32.DLL")).c_str());
  return 0;
}

// Turns "kind:text" into a value; false for an unknown kind. Strings point into `keep`.
bool ParseArgument(const char* arg, std::vector<VelString>& keep, std::vector<std::string>& narrow,
                   std::vector<PlaceholderValue>& out) {
  const char* colon = std::strchr(arg, ':');
  if (colon == nullptr || colon - arg != 1) return false;
  const char* text = colon + 1;
  switch (arg[0]) {
    case 'i':
      out.emplace_back(static_cast<int>(std::strtol(text, nullptr, 0)));
      return true;
    case 'u':
      out.emplace_back(static_cast<unsigned>(std::strtoul(text, nullptr, 0)));
      return true;
    case 'l':
      out.emplace_back(static_cast<long long>(std::strtoll(text, nullptr, 0)));
      return true;
    case 'q':
      out.emplace_back(static_cast<unsigned long long>(std::strtoull(text, nullptr, 0)));
      return true;
    case 'x':
      out.emplace_back(static_cast<unsigned char>(std::strtoul(text, nullptr, 0)));
      return true;
    case 'f':
      out.emplace_back(std::strtod(text, nullptr));
      return true;
    case 'c':
      out.emplace_back(static_cast<char16_t>(kest::Utf8ToVelString(text)[0]));
      return true;
    case 'p':
      out.emplace_back(
          reinterpret_cast<const void*>(static_cast<uintptr_t>(std::strtoull(text, nullptr, 0))));
      return true;
    case 's':
      keep.push_back(kest::Utf8ToVelString(text));
      out.emplace_back(keep.back());
      return true;
    case 'n':
      narrow.emplace_back(text);
      out.emplace_back(narrow.back().c_str());
      return true;
    default:
      return false;
  }
}

void PrintAlert(const char16_t* message) {
  std::fprintf(stderr, "DEV ALERT: %s\n", kest::ToUtf8(message).c_str());
}

// Acts as a developer machine when `dev` is set, with every alert printed to standard error (not
// only the first in 900 seconds) and none sent to any session; otherwise as an ordinary machine,
// where nothing alerts.
void AlertsToStderr(bool dev) {
  static kest::platform::FakeSessions nobody;
  kest::platform::SetSessionsForTesting(&nobody);
  kest::SetAlertHookForTesting(dev ? PrintAlert : nullptr);
  GetAndSetIsDevMachine(dev);
}

// Renders a pattern with typed arguments. With --dev the tool acts as a developer machine and
// prints the alerts the formatter raises to standard error instead of sending them.
int RunFormat(int argc, char** argv) {
  bool dev = false;
  if (argc > 0 && std::strcmp(argv[0], "--dev") == 0) {
    dev = true;
    --argc;
    ++argv;
  }
  if (argc < 1) {
    std::fprintf(stderr,
                 "usage: kestc format [--dev] PATTERN [KIND:VALUE...]\n"
                 "kinds: i int, u unsigned, l int64, q uint64, x byte, f double, c char,\n"
                 "       p pointer, s wide string, n narrow string\n");
    return 2;
  }
  AlertsToStderr(dev);
  std::vector<VelString> keep;
  std::vector<std::string> narrow;
  keep.reserve(static_cast<size_t>(argc));
  narrow.reserve(static_cast<size_t>(argc));
  std::vector<PlaceholderValue> args;
  for (int i = 1; i < argc; ++i) {
    if (!ParseArgument(argv[i], keep, narrow, args)) {
      std::fprintf(stderr, "kestc format: cannot read argument \"%s\"\n", argv[i]);
      return 2;
    }
  }
  VelString result;
  result.Format(kest::Utf8ToVelString(argv[0]).GetString(), args);
  WriteLine(result);
  return 0;
}

// The options the resource commands share. Returns false (after a message) on a bad option.
struct ResourceOptions {
  HINSTANCE module = nullptr;  // null: the library's own
  const char* lang = nullptr;
  bool dev = false;
  bool check = false;
  bool clean = false;
  std::vector<const char*> rest;
};

bool ReadResourceOptions(int argc, char** argv, const char* usage, ResourceOptions& options) {
  for (int i = 0; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--module") == 0 && has_value) {
      const VelString path = kest::Utf8ToVelString(argv[++i]);
      options.module = kest::platform::LoadModuleFile(std::u16string(path.View()));
      if (options.module == nullptr) {
        std::fprintf(stderr, "kestc: cannot load module \"%s\"\n", argv[i]);
        return false;
      }
    } else if (std::strcmp(argv[i], "--lang") == 0 && has_value) {
      options.lang = argv[++i];
    } else if (std::strcmp(argv[i], "--dev") == 0) {
      options.dev = true;
    } else if (std::strcmp(argv[i], "--check") == 0) {
      options.check = true;
    } else if (std::strcmp(argv[i], "--clean") == 0) {
      options.clean = true;
    } else if (argv[i][0] == '-' && argv[i][1] == '-') {
      std::fprintf(stderr, "usage: %s\n", usage);
      return false;
    } else {
      options.rest.push_back(argv[i]);
    }
  }
  AlertsToStderr(options.dev);
  if (options.lang != nullptr) SetLanguage(kest::Utf8ToVelString(options.lang));
  if (options.module == nullptr) options.module = ghCommonHInst;
  return true;
}

// Every string of a module's table, in ID order: (ID, text as stored).
std::vector<std::pair<unsigned, VelString>> TableStrings(HINSTANCE module) {
  std::vector<std::pair<unsigned, VelString>> strings;
  for (uint32_t block : kest::platform::StringBlockNumbers(module)) {
    for (unsigned index = 0; index < 16; ++index) {
      const unsigned id = (block - 1) * 16 + index;
      VelString text;
      if (text.LoadStringW(module, id)) strings.emplace_back(id, text);
    }
  }
  return strings;
}

// A text with its control characters and backslashes shown as escapes, on one line.
std::string Escaped(const VelString& text) {
  VelString shown;
  for (int i = 0; i < text.GetLength(); ++i) {
    const char16_t c = text[i];
    if (c == u'\\') {
      shown += u"\\\\";
    } else if (c == u'\n') {
      shown += u"\\n";
    } else if (c == u'\r') {
      shown += u"\\r";
    } else if (c == u'\t') {
      shown += u"\\t";
    } else if (c < 0x20) {
      VelString code;
      code.Format(u"\\x{0:02X}", static_cast<unsigned>(c));
      shown += code;
    } else {
      shown += c;
    }
  }
  return Narrow(shown);
}

// What --check flags in a pattern: printf-style specifiers (String alerts about them) and braces
// that open no placeholder or close none.
std::vector<std::string> PatternFindings(const VelString& text) {
  std::vector<std::string> findings;
  for (const char16_t* spec : {u"%d", u"%s", u"%u", u"%f", u"%I64"}) {
    if (text.Find(spec) >= 0) findings.push_back("old-style specifier " + Narrow(VelString(spec)));
  }
  bool open = false;
  for (int i = 0; i < text.GetLength(); ++i) {
    const char16_t c = text[i];
    if (!open && c == u'{' && i + 1 < text.GetLength() && text[i + 1] == u'{') {
      ++i;
    } else if (c == u'{') {
      if (open) findings.push_back("'{' inside a placeholder");
      open = true;
    } else if (c == u'}') {
      if (!open) findings.push_back("'}' closes no placeholder");
      open = false;
    }
  }
  if (open) findings.push_back("placeholder not closed");
  return findings;
}

// kestc string ID [ARG...]: one resource string, translated and formatted as String builds it.
int RunString(int argc, char** argv) {
  const char* usage = "kestc string ID [KIND:VALUE...] [--lang TAG] [--module FILE] [--dev]";
  ResourceOptions options;
  if (!ReadResourceOptions(argc, argv, usage, options)) return 2;
  char* end = nullptr;
  const unsigned long id = options.rest.empty() ? 0 : std::strtoul(options.rest[0], &end, 0);
  if (options.rest.empty() || *end != 0 || id > 0xFFFF) {
    std::fprintf(stderr, "usage: %s\n", usage);
    return 2;
  }
  std::vector<VelString> keep;
  std::vector<std::string> narrow;
  keep.reserve(options.rest.size());
  narrow.reserve(options.rest.size());
  std::vector<PlaceholderValue> args;
  for (size_t i = 1; i < options.rest.size(); ++i) {
    if (!ParseArgument(options.rest[i], keep, narrow, args)) {
      std::fprintf(stderr, "kestc string: cannot read argument \"%s\"\n", options.rest[i]);
      return 2;
    }
  }
  WriteLine(String(static_cast<uint16_t>(id), args, options.module));
  return 0;
}

// kestc resources: every ID and text of a table; --check flags suspicious patterns (status 1).
int RunResources(int argc, char** argv) {
  const char* usage = "kestc resources [--module FILE] [--lang TAG] [--check]";
  ResourceOptions options;
  if (!ReadResourceOptions(argc, argv, usage, options)) return 2;
  if (!options.rest.empty()) {
    std::fprintf(stderr, "usage: %s\n", usage);
    return 2;
  }
  int found = 0;
  for (const auto& [id, stored] : TableStrings(options.module)) {
    const VelString text = GetTranslatedText(stored);
    std::printf("%u\t%s\n", id, Escaped(text).c_str());
    if (options.check) {
      for (const std::string& finding : PatternFindings(text)) {
        std::printf("%u: %s\n", id, finding.c_str());
        ++found;
      }
    }
  }
  return found == 0 ? 0 : 1;
}

// A value as a language file writes it: quoted, a quote doubled, CR, LF, tab and backslash as
// escapes.
std::string LanguageValue(const VelString& text) {
  VelString value(u"\"");
  for (int i = 0; i < text.GetLength(); ++i) {
    const char16_t c = text[i];
    if (c == u'"') {
      value += u"\"\"";
    } else if (c == u'\\') {
      value += u"\\\\";
    } else if (c == u'\r') {
      value += u"\\r";
    } else if (c == u'\n') {
      value += u"\\n";
    } else if (c == u'\t') {
      value += u"\\t";
    } else {
      value += c;
    }
  }
  value += u'"';
  return Narrow(value);
}

// A pseudo-translation: letters accented, about 30% longer, placeholders and "{{" kept, in
// brackets, so truncated and untranslated text stands out in a running interface.
VelString Pseudo(const VelString& text) {
  static constexpr std::u16string_view kPlain = u"aceinouyACEINOUY";
  static constexpr std::u16string_view kAccented =
      u"\u00e5\u00e7\u00e9\u00ee\u00f1\u00f6\u00fc\u00fd\u00c5\u00c7\u00c9\u00ce\u00d1\u00d6\u00dc"
      u"\u00dd";
  VelString out(u"[");
  int letters = 0;
  for (int i = 0; i < text.GetLength(); ++i) {
    const char16_t c = text[i];
    if (c == u'{') {  // a placeholder or "{{" goes through untouched
      const int close = text[i + 1] == u'{' ? i + 1 : text.Find(u'}', i);
      const int last = close < 0 ? text.GetLength() - 1 : close;
      out += VelString(text.GetString() + i, last - i + 1);
      i = last;
      continue;
    }
    const size_t at = kPlain.find(c);
    out += at == std::u16string_view::npos ? c : kAccented[at];
    ++letters;
  }
  for (int pad = (letters * 3 + 9) / 10; pad > 0; --pad) out += u'~';
  out += u']';
  return out;
}

// kestc lang template / pseudo: language-file skeletons from a module's table.
int RunLangFromTable(int argc, char** argv, bool pseudo) {
  const char* usage =
      pseudo ? "kestc lang pseudo TAG [--module FILE]" : "kestc lang template [--module FILE]";
  ResourceOptions options;
  if (!ReadResourceOptions(argc, argv, usage, options)) return 2;
  if (options.rest.size() != (pseudo ? 1u : 0u) ||
      (pseudo && !kest::IsLoadableLanguageTag(kest::Utf8ToVelString(options.rest[0]).View()))) {
    std::fprintf(stderr, "usage: %s (TAG: %s)\n", usage,
                 Narrow(VelString(kest::kLoadableTagRule)).c_str());
    return 2;
  }
  const char* tag = pseudo ? options.rest[0] : "xx";
  std::printf("LANG_NAME: %s\nLANG_TAG: %s\n", pseudo ? "Pseudo" : "New language", tag);
  for (const auto& [id, text] : TableStrings(options.module)) {
    std::printf("EN:%s\n", LanguageValue(text).c_str());
    if (pseudo) std::printf("%s:%s\n", tag, LanguageValue(Pseudo(text)).c_str());
  }
  return 0;
}

// kestc const [--clean] TEXT: the constant CheckAndAssignConstantValue makes of TEXT.
int RunConst(int argc, char** argv) {
  ResourceOptions options;
  if (!ReadResourceOptions(argc, argv, "kestc const [--clean] TEXT", options)) return 2;
  if (options.rest.size() != 1) {
    std::fprintf(stderr, "usage: kestc const [--clean] TEXT\n");
    return 2;
  }
  const char16_t* constant = nullptr;
  CheckAndAssignConstantValue(kest::Utf8ToVelString(options.rest[0]), constant, options.clean);
  WriteLine(VelString(constant));
  return 0;
}

// kestc perfline [--kv] [FIELD=VALUE...]: a request's selection and performance line, by default
// those of a slow web page.
int RunPerfline(int argc, char** argv) {
  const char* usage =
      "usage: kestc perfline [--kv] [FIELD=VALUE...]\n"
      "fields: type (0-3), elapsed, http_read, client_wait, timed_out, external, log_lines,\n"
      "        slow_lines, db_requests, db_ms, locks, critsec_wait, critsec_hold, srw_wait,\n"
      "        srw_hold, hlock_wait, hlock_hold (numbers); call=NAME:COUNT:MS (repeatable)\n";
  CentralContext context;
  bool kv = false;
  uint32_t elapsed = 4520;
  // The worked example: a web page, 812 ms reading (20 of them waiting for the client), 4520 ms
  // more, 8 log lines (1 slow), 3 database requests of 2500 ms, 12 locks waiting 40 and holding
  // 15 ms, and 80 calls of GetData taking 300 ms.
  context.SetRequestType(eWebPage);
  context.m_nHTTPReadMS = 812;
  context.m_nClientWaitMS = 20;
  context.m_nLogLines = 8;
  context.m_nSlowLogLines = 1;
  context.m_nDBRequests = 3;
  context.m_nDBMS = 2500;
  context.m_nLocksTaken = 12;
  context.m_nCritSecWaitMS = 40;
  context.m_nCritSecHoldMS = 15;
  context.m_NamedCalls[VelString(u"GetData")] = {80, 300};
  bool calls_given = false;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--kv") == 0) {
      kv = true;
      continue;
    }
    const char* equals = std::strchr(argv[i], '=');
    if (equals == nullptr) {
      std::fprintf(stderr, "%s", usage);
      return 2;
    }
    const std::string field(argv[i], static_cast<size_t>(equals - argv[i]));
    const char* value = equals + 1;
    if (field == "call") {
      // NAME may hold ':'; COUNT and MS are the last two fields.
      const std::string text(value);
      const size_t ms_at = text.rfind(':');
      const size_t count_at =
          ms_at == std::string::npos || ms_at == 0 ? std::string::npos : text.rfind(':', ms_at - 1);
      if (count_at == std::string::npos) {
        std::fprintf(stderr, "%s", usage);
        return 2;
      }
      if (!calls_given) context.m_NamedCalls.clear();
      calls_given = true;
      context.m_NamedCalls[kest::Utf8ToVelString(text.substr(0, count_at).c_str())] = {
          static_cast<uint32_t>(std::strtoul(value + count_at + 1, nullptr, 0)),
          static_cast<uint32_t>(std::strtoul(value + ms_at + 1, nullptr, 0))};
      continue;
    }
    char* end = nullptr;
    const long long number = std::strtoll(value, &end, 0);
    if (*value == 0 || *end != 0) {
      std::fprintf(stderr, "kestc perfline: %s is not a number\n", argv[i]);
      return 2;
    }
    const auto u32 = static_cast<uint32_t>(number);
    if (field == "type") {
      context.SetRequestType(static_cast<eTrackedRequestType>(u32));
    } else if (field == "elapsed") {
      elapsed = u32;
    } else if (field == "http_read") {
      context.m_nHTTPReadMS = u32;
    } else if (field == "client_wait") {
      context.m_nClientWaitMS = u32;
    } else if (field == "timed_out") {
      context.m_bHTTPTimedOut = number != 0;
    } else if (field == "external") {
      context.m_dwExternalFlags = u32;
    } else if (field == "log_lines") {
      context.m_nLogLines = u32;
    } else if (field == "slow_lines") {
      context.m_nSlowLogLines = u32;
    } else if (field == "db_requests") {
      context.m_nDBRequests = u32;
    } else if (field == "db_ms") {
      context.m_nDBMS = number;
    } else if (field == "locks") {
      context.m_nLocksTaken = u32;
    } else if (field == "critsec_wait") {
      context.m_nCritSecWaitMS = number;
    } else if (field == "critsec_hold") {
      context.m_nCritSecHoldMS = number;
    } else if (field == "srw_wait") {
      context.m_nSRWWaitMS = number;
    } else if (field == "srw_hold") {
      context.m_nSRWHoldMS = number;
    } else if (field == "hlock_wait") {
      context.m_nHLockWaitMS = number;
    } else if (field == "hlock_hold") {
      context.m_nHLockHoldMS = number;
    } else {
      std::fprintf(stderr, "%s", usage);
      return 2;
    }
  }
  // The request timer, started `elapsed` milliseconds ago on a clock that stands still, so the
  // line is the same on every run.
  static kest::platform::FakeClock frozen;
  frozen.counter = [] { return int64_t{1} << 40; };
  frozen.frequency = [] { return int64_t{10000000}; };
  kest::platform::SetClockForTesting(&frozen);
  context.m_tRequestStart = TimerAdd(TimerStart(), -static_cast<int64_t>(elapsed));
  std::printf("ShouldLog: %s\n", context.ShouldLog() ? "true" : "false");
  WriteLine(kv ? kest::PerfLogKeyValue(context) : context.GetPerfLog());
  return 0;
}

// kestc ini get|list|set|dump: profile files as the library reads and writes them.
int RunIni(int argc, char** argv) {
  const char* usage =
      "usage: kestc ini get FILE SECTION KEY [DEFAULT] | list FILE [SECTION] | "
      "set FILE SECTION KEY [VALUE] | dump FILE\n";
  auto wide = [](const char* text) { return std::u16string(kest::Utf8ToVelString(text).View()); };
  if (argc < 2) {
    std::fprintf(stderr, "%s", usage);
    return 2;
  }
  const std::string command = argv[0];
  const std::u16string file = wide(argv[1]);
  auto value = [&](const char16_t* section, const char16_t* key, const char16_t* fallback) {
    std::vector<char16_t> buffer(65536);
    const uint32_t n =
        kest::platform::ReadProfileText(section, key, fallback, buffer.data(), 65536, file.c_str());
    return VelString(std::u16string_view(buffer.data(), n));
  };
  auto names = [&](const char16_t* section) {
    return kest::platform::ReadProfileNames(section, file.c_str());
  };
  if (command == "get" && (argc == 4 || argc == 5)) {
    const std::u16string section = wide(argv[2]), key = wide(argv[3]);
    const std::u16string fallback = argc == 5 ? wide(argv[4]) : std::u16string();
    WriteLine(value(section.c_str(), key.c_str(), fallback.c_str()));
    return 0;
  }
  if (command == "list" && (argc == 2 || argc == 3)) {
    const std::u16string section = argc == 3 ? wide(argv[2]) : std::u16string();
    for (const auto& name : names(argc == 3 ? section.c_str() : nullptr))
      WriteLine(VelString(name));
    return 0;
  }
  if (command == "set" && (argc == 4 || argc == 5)) {
    const std::u16string section = wide(argv[2]), key = wide(argv[3]);
    const std::u16string text = argc == 5 ? wide(argv[4]) : std::u16string();
    if (kest::platform::WriteProfileText(section.c_str(), key.c_str(),
                                         argc == 5 ? text.c_str() : nullptr, file.c_str())) {
      return 0;
    }
    std::fprintf(stderr, "kestc ini: cannot write %s\n", argv[1]);
    return 1;
  }
  if (command == "dump" && argc == 2) {
    // The nameless section of the lines before the first header comes first, without a header.
    for (const auto& key : names(u""))
      WriteLine(VelString(key) + u"=" + value(u"", key.c_str(), u""));
    for (const auto& section : names(nullptr)) {
      WriteLine(u"[" + VelString(section) + u"]");
      for (const auto& key : names(section.c_str()))
        WriteLine(VelString(key) + u"=" + value(section.c_str(), key.c_str(), u""));
    }
    return 0;
  }
  std::fprintf(stderr, "%s", usage);
  return 2;
}

// kestc assert FILE LINE TEXT: one assertion report with boxes switched on, and its answer.
int RunAssert(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kestc assert FILE LINE TEXT\n");
    return 2;
  }
  gShowAsserts = 1;
  const VelString file = kest::Utf8ToVelString(argv[0]);
  const VelString text = kest::Utf8ToVelString(argv[2]);
  const int line = static_cast<int>(std::strtol(argv[1], nullptr, 10));
  std::printf("key %s\n", Narrow(kest::AssertKey(file, line)).c_str());
  const bool go_on = ReportAssert(file, line, text, u"kestc");
  std::printf("%s\n", go_on ? "continue" : "break into the debugger");
  return 0;
}

// kestc ignores [EXE]: the ignore file of an executable (kestc's own by default) and its entries.
int RunIgnores(int argc, char** argv) {
  if (argc > 1) {
    std::fprintf(stderr, "usage: kestc ignores [EXE]\n");
    return 2;
  }
  const VelString exe =
      argc == 1 ? kest::Utf8ToVelString(argv[0]) : VelString(kest::platform::ExecutablePath());
  const VelString path = kest::AssertIgnoreFilePath(exe);
  const std::u16string file(path.View());
  std::printf("%s\n", Narrow(path).c_str());
  const uint32_t today = kest::UtcDateNumber(kest::platform::WallClockSeconds());
  for (const char16_t* section : {u"Ignores", u"Today"}) {
    for (const std::u16string& key : kest::platform::ReadProfileNames(section, file.c_str())) {
      char16_t value[100];
      const uint32_t m =
          kest::platform::ReadProfileText(section, key.c_str(), u"", value, 100, file.c_str());
      const std::string until = kest::ToUtf8(std::u16string_view(value, m));
      const bool expired = section[0] == u'T' && std::strtoul(until.c_str(), nullptr, 10) < today;
      std::printf("%s\t%s%s%s\n", kest::ToUtf8(section).c_str(), kest::ToUtf8(key).c_str(),
                  section[0] == u'T' ? (" until " + until).c_str() : "",
                  expired ? "  (expired)" : "");
    }
  }
  return 0;
}

// Whether colour swatches may be drawn: standard output is a terminal and NO_COLOR is unset.
bool SwatchesWanted() {
  const char* no_color = std::getenv("NO_COLOR");
  if (no_color != nullptr && no_color[0] != 0) return false;
#if defined(_WIN32)
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(fileno(stdout)) != 0;
#endif
}

// kestc stack [--repeat N]: this program's own stack trace, then how long the first trace (which
// sets the symbols up) and the warm ones took.
int RunStack(int argc, char** argv) {
  int repeat = 100;
  if (argc == 2 && std::strcmp(argv[0], "--repeat") == 0 && std::atoi(argv[1]) > 0) {
    repeat = std::atoi(argv[1]);
  } else if (argc != 0) {
    std::fprintf(stderr, "usage: kestc stack [--repeat N]\n");
    return 2;
  }
  using Clock = std::chrono::steady_clock;
  const auto first_start = Clock::now();
  const VelString trace = GetStackTrace();
  const double first_ms =
      std::chrono::duration<double, std::milli>(Clock::now() - first_start).count();
  std::fputs(Narrow(trace).c_str(), stdout);
  const auto warm_start = Clock::now();
  for (int i = 0; i < repeat; ++i) GetStackTrace();
  const double warm_us =
      std::chrono::duration<double, std::micro>(Clock::now() - warm_start).count() / repeat;
  std::printf("first trace: %.1f ms; warm trace: %.1f us (mean of %d)\n", first_ms, warm_us,
              repeat);
  return 0;
}

// kestc heaps: makes one heap and lists every heap recorded with its creating stack. Tracking is
// switched on at load by HKEY_LOCAL_MACHINE "software\Quillon" "HookHeapCreate" = 1 (on POSIX in
// the registry file, KEST_REGISTRY_FILE or /etc/kest/registry.reg).
int RunHeaps(int argc, char**) {
  if (argc != 0) {
    std::fprintf(stderr, "usage: kestc heaps\n");
    return 2;
  }
  if (!kest::HeapTrackingInstalled()) {
    std::printf(
        "heap-creation tracking is off (HookHeapCreate = 1 under HKEY_LOCAL_MACHINE "
        "software\\Quillon turns it on at load)\n");
  }
  kest::platform::HeapHandle heap = kest::platform::CreatePrivateHeap();
  const std::map<void*, VelString>* stacks = GetHeapCreationStacks();
  for (const auto& [handle, stack] : *stacks) {
    std::printf("heap %p%s:\n%s\n", handle, handle == heap ? " (made by kestc heaps)" : "",
                stack.IsEmpty() ? "\t(made while another stack was taken)" : Narrow(stack).c_str());
  }
  std::printf("%zu heap(s) recorded\n", stacks->size());
  kest::platform::DestroyPrivateHeap(heap);
  return 0;
}

// A sample dialog and menu for kestc menu: real ones on Windows, the UiWindow tree on POSIX.
#if defined(_WIN32)
struct SampleUi {
  SampleUi() {
    dialog = CreateWindowExW(0, L"Static", L"Settings", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr,
                             nullptr, nullptr);
    for (const auto& [kind, text] : kControls)
      CreateWindowExW(0, kind, text, WS_CHILD, 0, 0, 80, 20, dialog, nullptr, nullptr, nullptr);
    menu = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, 1, L"&Open\tCtrl+O");
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING, 2, L"E&xit");
    AppendMenuW(menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(file), L"&File");
    AppendMenuW(menu, MF_STRING, 3, L"&Help");
  }
  ~SampleUi() {
    DestroyMenu(menu);
    DestroyWindow(dialog);
  }
  static constexpr std::pair<const wchar_t*, const wchar_t*> kControls[] = {
      {L"Button", L"OK"}, {L"Button", L"Cancel"}, {L"Static", L"Name:"}, {L"Edit", L"Name:"}};
  HWND dialog = nullptr;
  HMENU menu = nullptr;
};
#else
struct SampleUi {
  SampleUi() {
    file.AppendItem(u"&Open\tCtrl+O");
    file.AppendSeparator();
    file.AppendItem(u"E&xit");
    bar.AppendItem(u"&File", &file);
    bar.AppendItem(u"&Help");
    dialog_handle = dialog.Handle();
    menu = bar.Handle();
  }
  kest::UiWindow dialog{u"#32770", u"Settings"};
  kest::UiWindow ok{u"Button", u"OK", &dialog}, cancel{u"Button", u"Cancel", &dialog};
  kest::UiWindow label{u"Static", u"Name:", &dialog}, edit{u"Edit", u"Name:", &dialog};
  kest::UiMenu file, bar;
  HWND dialog_handle = nullptr;
  HMENU menu = nullptr;
};
#endif

std::string ClassOf(HWND window) {
  char16_t name[kest::platform::kWindowTextBuffer];
  return kest::ToUtf8(std::u16string_view(name, kest::platform::WindowClassName(window, name)));
}

void PrintSample(HWND dialog, HMENU menu) {
  std::printf("  window \"%s\"\n", kest::ToUtf8(kest::platform::WholeWindowText(dialog)).c_str());
  kest::platform::CurrentWindowSystem().for_each_descendant(
      dialog,
      [](HWND child, void*) {
        std::printf("    %-7s \"%s\"\n", ClassOf(child).c_str(),
                    kest::ToUtf8(kest::platform::WholeWindowText(child)).c_str());
      },
      nullptr);
  const auto print_menu = [](HMENU m, const char* indent, auto& self) -> void {
    for (int i = 0; i < kest::platform::MenuItemCount(m); ++i) {
      const std::string text = kest::ToUtf8(kest::platform::MenuItemText(m, i));
      std::printf("%s\"%s\"\n", indent,
                  text.empty() ? "----" : Escaped(VelString(kest::ToUtf16(text))).c_str());
      if (HMENU popup = kest::platform::SubMenuAt(m, i)) self(popup, "      ", self);
    }
  };
  std::printf("  menu\n");
  print_menu(menu, "    ", print_menu);
}

// kestc menu [TAG]: a sample dialog and menu before and after translation into TAG, whose
// language file lies in the Languages folder beside kestc.
int RunMenu(int argc, char** argv) {
  if (argc > 1) {
    std::fprintf(stderr, "usage: kestc menu [TAG]\n");
    return 2;
  }
  SetLanguage(argc == 1 ? kest::ToUtf16(argv[0]).c_str() : nullptr);
  SampleUi sample;
#if defined(_WIN32)
  HWND dialog = sample.dialog;
  if (dialog == nullptr) {
    std::fprintf(stderr, "kestc: no window could be made (no display?)\n");
    return 1;
  }
#else
  HWND dialog = sample.dialog_handle;
#endif
  std::printf("before (language %s):\n", Narrow(GetLangTag()).c_str());
  PrintSample(dialog, sample.menu);
  TranslateWindow(dialog, false);
  TranslateMenu(CMenu::FromHandle(sample.menu));
  std::printf("after:\n");
  PrintSample(dialog, sample.menu);
  return 0;
}

// kestc colors [--dark] [--system]: every colour as this program resolves it, from Colors.ini
// beside kestc (which it fills in, as any host would).
int RunColors(int argc, char** argv) {
  bool dark = false;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--dark") == 0) {
      dark = true;
    } else if (std::strcmp(argv[i], "--system") == 0) {
      dark = kest::SystemPrefersDarkMode();
    } else {
      std::fprintf(stderr, "usage: kestc colors [--dark] [--system]\n");
      return 2;
    }
  }
  SetDarkMode(dark);
  const bool swatches = SwatchesWanted();
  std::printf("# %s mode, from %s\n", UsingDarkMode() ? "dark" : "light",
              Narrow(kest::ColorsFilePath()).c_str());
  for (int32_t id = 0; id < kest::kColorCount; ++id) {
    const uint32_t color = BaseGetAppColor(static_cast<eColorID>(id));
    std::printf("%2d  %-28s %s", id, kest::ToUtf8(kest::ColorKeyName(id)).c_str(),
                Narrow(kest::ColorText(color)).c_str());
    if (swatches) {
      std::printf("  \x1b[48;2;%u;%u;%um      \x1b[0m", color & 0xFF, (color >> 8) & 0xFF,
                  (color >> 16) & 0xFF);
    }
    std::printf("\n");
  }
  return 0;
}

int RunHelp(int, char**);

const Command kCommands[] = {
    {"demo", "kestc demo", "a short tour of what the library does, on built-in sample data",
     RunDemo},
    {"crc32", "kestc crc32 [FILE...]", "CRC-32 (zlib's), byte count and name of each file",
     RunCrc32},
    {"crc64", "kestc crc64 [FILE...]", "CRC-64/WE (VelString's hash), byte count and name",
     RunCrc64},
    {"sort", "kestc sort [-r] [-u]", "sorts standard input's UTF-8 lines in logical order",
     RunSort},
    {"format", "kestc format PATTERN ARG...",
     "renders a brace pattern with typed arguments (i:5 s:text)", RunFormat},
    {"ls", "kestc ls PATTERN", "files beside kestc matching PATTERN (* and ?)", RunLs},
    {"lang", "kestc lang check|list|template|pseudo",
     "checks language files, lists languages, or writes a template or pseudo-translation", RunLang},
    {"string", "kestc string ID [ARG...]",
     "a resource string, translated (--lang) and formatted; --module FILE, --dev", RunString},
    {"resources", "kestc resources",
     "every ID and text of a string table; --module FILE, --lang TAG, --check", RunResources},
    {"perfline", "kestc perfline [--kv] [F=V...]",
     "ShouldLog and the performance line of a request (default: a slow web page)", RunPerfline},
    {"ini", "kestc ini get|list|set|dump", "profile files as the library reads and writes them",
     RunIni},
    {"assert", "kestc assert FILE LINE TEXT",
     "one assertion report (the box, or standard error on POSIX) and its answer", RunAssert},
    {"ignores", "kestc ignores [EXE]", "an executable's assertion ignore file and its entries",
     RunIgnores},
    {"colors", "kestc colors [--dark] [--system]",
     "every named colour as resolved from Colors.ini beside kestc (filled in as needed)",
     RunColors},
    {"const", "kestc const [--clean] TEXT",
     "the process constant a text makes (\"$VER$\" is kestc's version)", RunConst},
    {"paths", "kestc paths", "the application folder and a system-folder path", RunPaths},
    {"stack", "kestc stack [--repeat N]", "kestc's own stack trace, and first and warm times",
     RunStack},
    {"heaps", "kestc heaps", "the heaps recorded with their creating stacks (when switched on)",
     RunHeaps},
    {"menu", "kestc menu [TAG]", "a sample dialog and menu before and after translation", RunMenu},
    {"help", "kestc help", "this list", RunHelp},
};

int RunHelp(int, char**) {
  std::printf("usage: kestc COMMAND [ARGS]\n\n");
  for (const Command& c : kCommands) std::printf("  %-26s %s\n", c.usage, c.summary);
  std::printf("\nWith no FILE, or FILE \"-\", the checksum commands read standard input.\n");
  return 0;
}

// Output that could not be written is a failure like any other: a full disk or a closed pipe must
// not end in status 0.
int FinishOutput(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "kestc: cannot write standard output: %s\n", std::strerror(errno));
    std::fclose(stdout);
    return status == 0 ? 1 : status;
  }
  if (std::fclose(stdout) != 0) {
    std::fprintf(stderr, "kestc: cannot write standard output: %s\n", std::strerror(errno));
    return status == 0 ? 1 : status;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    RunHelp(0, nullptr);
    return FinishOutput(2);
  }
  for (const Command& c : kCommands) {
    if (std::strcmp(argv[1], c.name) == 0) return FinishOutput(c.run(argc - 2, argv + 2));
  }
  std::fprintf(stderr, "kestc: unknown command \"%s\" (try kestc help)\n", argv[1]);
  return 2;
}
