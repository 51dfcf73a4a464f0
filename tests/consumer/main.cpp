// Uses the installed headers and library the way a host module does: at least one call into every
// installed header, and the address of every other function they declare, so a declaration the
// library does not export fails to link here. Exits non-zero on any surprise.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "kest/KestCommon.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::printf("consumer: unexpected result: %s\n", what);
    ++failures;
  }
}

// Referenced so that the linker must find each of them in the library.
template <typename... Fns>
void Linked(Fns... fns) {
  const void* volatile sink = nullptr;
  ([&] { sink = reinterpret_cast<const void*>(fns); }(), ...);
}

}  // namespace

int main() {
  // kest/base
  char16_t wide[8] = {};
  Check(kest::Utf8ToUtf16("abc", 3, wide, 8) == 3 && kest::ToUtf8(u"\u00e9") == "\xC3\xA9", "utf");
  char narrow[8] = {};
  Check(kest::Utf16ToUtf8(u"ab", 2, narrow, 8) == 2, "utf16 to utf8");
  Check(kest::MatchesWildcard(u"*.TXT", u"notes.txt"), "wildcard");

  // kest/platform
  Check(kest::platform::CounterFrequency() > 0 && kest::platform::ReadCounter() > 0, "counter");
  uint64_t unbiased = 0;
  kest::platform::UnbiasedTime100ns(unbiased);
  std::tm local{};
  Check(kest::platform::LocalTime(kest::platform::WallClockSeconds(), local), "local time");
  (void)kest::platform::TickCount();
  Linked(&kest::platform::SetClockForTesting);
  void* heap = kest::platform::CreatePrivateHeap();
  void* block = kest::platform::HeapAllocate(heap, 64);
  Check(block != nullptr && kest::platform::HeapRelease(heap, block), "private heap");
  kest::platform::DestroyPrivateHeap(heap);
  Linked(&kest::platform::RefuseHeapReleaseForTesting);
  kest::platform::SpinningLock spin;
  spin.Acquire();
  Check(spin.TryAcquire(), "re-entrant spinning lock");
  spin.Release();
  spin.Release();
  Check(!kest::platform::ExecutablePath().empty(), "executable path");
  Check(!kest::platform::SystemFolder().empty(), "system folder");
  int entries = 0;
  kest::platform::ListFolder(u".", u"*", [&](std::u16string_view, bool) { ++entries; });
  Check(entries > 0, "folder listing");
  kest::platform::SetExecutablePathForTesting(nullptr);
  uint32_t dword = 0;
  Check(kest::platform::ReadDwordFromRegText("[HKEY_LOCAL_MACHINE\\k]\n\"v\"=dword:2a\n", u"k",
                                             u"v", dword) &&
            dword == 42,
        "registry text");
  Linked(&kest::platform::ReadMachineDword, &kest::platform::WriteMachineDwordForTesting,
         &kest::platform::DeleteMachineKeyForTesting, &kest::platform::UseRegistryFileForTesting);
  Check(kest::platform::kPathSeparator == u'/' || kest::platform::kPathSeparator == u'\\',
        "separator");
  Check(kest::platform::NarrowToUtf16("x", 1, wide, 8) == 1 &&
            kest::platform::Utf16ToNarrow(u"x", 1, narrow, 8) == 1,
        "narrow text");
  Check(kest::platform::CurrentThreadId() != 0, "thread id");
  kest::platform::SleepMs(0);
  const uint32_t slot = kest::platform::AllocateThreadSlot();
  kest::platform::SetThreadSlotValue(slot, &failures);
  Check(kest::platform::ThreadSlotValue(slot) == &failures, "thread slot");
  kest::platform::FreeThreadSlot(slot);
#if !defined(_WIN32)
  const uint32_t tls = TlsAlloc();
  Check(TlsSetValue(tls, &failures) != 0 && TlsGetValue(tls) == &failures && TlsFree(tls) != 0,
        "TLS contract");
#endif

  // kest/util
  Check(CRC32("123456789", 9) == 0xCBF43926u && CRC64("123456789", 9) == 0x62EC59E3F1A4F00Aull,
        "check values");
  Check(kest::Crc32Update(~0u, "1", 1) != 0 && kest::Crc64Update(~0ull, "1", 1) != 0, "updates");
  Check(kest::CrcKernelSupported(kest::ActiveCrcKernel()) &&
            std::strlen(kest::CrcKernelName(kest::ActiveCrcKernel())) > 0,
        "crc kernel");
  Linked(&kest::Crc32WithKernel, &kest::Crc64WithKernel);
  const int64_t start = TimerStart();
  (void)TimerEnd(start, 1);
  (void)TimerEnd100thms(start);
  (void)TimerDeltaMS(start, TimerAdd(start, 5), 1);
  (void)GetUBNowSec();
  Check(kest::ProcessStartTime() != 0, "process start");
  Linked(&kest::ResetTimerRatesForTesting);

  // kest/strings
  VelString name(u"server10");
  VelString copy = name;
  copy += u"-east";
  Check(name == u"server10" && copy == u"server10-east", "copy on write");
  Check(VelString(u"server9") < name && VelStrCmpLogicalCase(u"a2", u"a10") < 0 &&
            VelStrLessLogical(u"a", u"b"),
        "logical order");
  Check(CaseInsensitiveVelStringHash()(VelString(u"Abc")) ==
                CaseInsensitiveVelStringHash()(VelString(u"aBC")) &&
            CaseInsensitiveVelStringEqual()(VelString(u"a"), VelString(u"A")) &&
            VelStringHash()(VelString()) == 0,
        "hashes");
  Check(kest::Utf8ToVelString("x") == u"x", "utf8 string");
  Check(kest::ToUpper(u'a') == u'A' && kest::ToLower(u'A') == u'a' && kest::IsWhiteSpace(u' '),
        "case");
  void* string_heap = nullptr;
  int64_t bytes = 0;
  int32_t blocks = 0, live = 0;
  VelStringGetStringHeapInfo(string_heap, bytes, blocks, live);
  Check(gVelStringManager2 != nullptr && live > 0, "string manager");
  kest::StringCacheClassInfo info{};
  Check(kest::GetStringCacheClassInfo(0, info), "cache info");
  Linked(&VelStringEnableCaching, &VelStringDisableCaching, &VelStringIsCaching,
         &VelStringReleaseCachedMemory, &GetVelStringManager, &kest::GetKeptHeapBlocks);

  // kest/diag and kest/format
  GetAndSetIsDevMachine(false);
  Check(!IsDevMachine(), "developer machine override");
  AlertDevelopers(u"not sent: not a developer machine");
  Check(!kest::LocalTimeText(0).IsEmpty(), "local time text");
  Linked(&kest::ResetDevAlertsForTesting, &kest::SetAlertHookForTesting);
  VelString formatted;
  formatted.Format(u"{0} of {1:5d}", u"disk", 42);
  formatted.AppendFormat(u" ({0:.1f}%)", 97.5);
  Check(formatted == u"disk of    42 (97.5%)", "brace format");
  char16_t out[16];
  const PlaceholderValue value(7);
  Check(BraceFormatCore(u"[{0}]", out, 16, &value, 1) == 3 && value.Format(out, 16, nullptr) == 1,
        "brace core");
  Check(_StrFormat(u"{0}", {PlaceholderValue(1)}) == u"1", "_StrFormat");
  Linked(static_cast<void (*)(const char16_t*, const char16_t*, std::vector<PlaceholderValue>)>(
             &ReportFormattingFailure),
         &kest::FormattingReport);

  // kest/context and kest/app
  gCentralCtxTLSIndex = kest::platform::AllocateThreadSlot();
  {
    CentralContext request;
    CLockCS lock;
    {
      CAcquireCS guard(lock);
      Check(CONTEXT_GET_NUM_LOCKS_HELD() == 1 && lock.OwnerThread() != 0, "accounted lock");
    }
    request.RecordVantorCall(u"svc", 3);
    Check(!CONTEXT_IN_SQLCMD() && request.m_nLocksTaken == 1, "request context");
    CLockLogException quiet;
    Check(gInAssert > 0, "log exception");
  }
  kest::platform::FreeThreadSlot(gCentralCtxTLSIndex);
  gCentralCtxTLSIndex = 0;
  volatile int64_t counter = 0;
  VelInterlockedExchangeAdd64(&counter, 2);
  Check(counter == 2 && !WasRecentlyStoppedInDebugger(), "lock services");
  Linked(&LockDebugDetectorProc, &kest::DebugDetectorStepForTesting);
  Check(!GetPathInAppFolder(u"x").IsEmpty() && !GetFilePathInSystem32(u"x").IsEmpty(),
        "application paths");
  (void)GetFilesInAppFolder(u"*");
  Linked(&kest::ResetAppFolderForTesting);

  {
    const CachedString a(u"item2"), b(VelString(u"item10")), none;
    const char16_t* text = a;
    const VelString copy = b;
    Check(a == CachedString(std::u16string_view(u"item2")) && a < b && none < a &&
              text[0] == u'i' && copy == VelString(u"item10") && a.CompareNoCase(u"ITEM2") == 0 &&
              a.GetLength() == 5 && kest::FindCachedKey(u"item2") == a.Key() &&
              kest::FindCachedString(a.Key()) && kest::CachedStringBaseKey(u"") == 1 &&
              kest::GetCachedStringStats().entries >= 2 && !a.ToStringForHash().IsEmpty() &&
              CachedString::FromKeyForTesting(a.Key()) == a,
          "cached strings");
    Linked(&kest::ClearCachedStringsForShutdown);
  }

  {
    SetLanguage(u"EN");
    uint32_t generation = 0;
    Check(GetLangTag() == VelString(u"EN") && GetMachineTranslatedPercent() == 0.0 &&
              GetTranslatedText(u"Yes") == VelString(u"Yes") &&
              kest::GetTranslatedText(u"Yes", &generation) == VelString(u"Yes") &&
              generation == gLanguageGeneration.load() && gbLanguageSet.load() &&
              !kest::IsTranslating() &&
              DBGGetEnglishFromTranslatedText(u"Ja") == VelString(u"Ja") &&
              !GetLangDirectory().IsEmpty() && !GetLanguageList().empty() &&
              !kest::PreferredLanguageTag().IsEmpty(),
          "languages");
    Linked(&kest::ResetLanguageFolderForTesting);
  }

  // Resource strings and start-up
  Check(gbLoadedKestCommon && ghCommonHInst == kest::OwnModule() && CANT_CONNECT_KEYWORD &&
            VelString(CANT_CONNECT_KEYWORD) == VelString(u"CAN'T CONNECT:"),
        "start-up");
  Check(String(IDS_CANT_CONNECT, nullptr) == VelString(u"CAN'T CONNECT:") && IsEnglishBuild() &&
            kest::StringCacheHas(IDS_CANT_CONNECT, nullptr) && kest::StringCacheSize() > 0 &&
            kest::TheKestCommonApp() != nullptr,
        "library strings");
  VelString entry;
  Check(entry.LoadStringW(kest::platform::LibraryModule(), IDS_BASE_LANGUAGE) ||
            entry.LoadStringW(ghCommonHInst, IDS_BASE_LANGUAGE),
        "LoadStringW");
  Check(kest::platform::ExecutableModule() != nullptr, "executable module");
#if defined(KEST_CONSUMER_TABLE)
  const HINSTANCE self = kest::platform::ModuleOfAddress(reinterpret_cast<const void*>(&Check));
  Check(
      String(7001, 3, self) == VelString(u"3 hosts") && self == kest::platform::ExecutableModule(),
      "host string");
  const char16_t* version = nullptr;
  CheckAndAssignConstantValue(u"v$VER$", version, false);
  Check(VelString(version) == VelString(u"v1.2.3.4"), "host version");
#endif
  Linked(
      &kest::ResetEnglishBuildForTesting, &kest::ResetFileVersionForTesting,
      &kest::platform::StringBlock, &kest::platform::ExecutableFileVersion,
      &kest::platform::RegisterStringTable, &kest::platform::UnregisterStringTable,
      static_cast<void (*)(const char16_t*, const char16_t**, bool)>(&CheckAndAssignConstantValue),
      &kest::SetBaseLanguageTest);

  if (failures != 0) return 1;
  std::puts("consumer: package works");
  return 0;
}
