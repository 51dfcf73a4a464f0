#include <windows.h>
// dbghelp.h and tlhelp32.h need windows.h first.
#include <dbghelp.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstring>
#include <string>

#include "kest/platform/symbols.h"

namespace kest::platform {
namespace {

// The entry points the engine uses, bound by name from whichever dbghelp.dll was found.
struct DbgHelp {
  HMODULE module = nullptr;
  decltype(&SymInitialize) initialize = nullptr;
  decltype(&SymCleanup) cleanup = nullptr;
  decltype(&StackWalk64) stack_walk = nullptr;
  decltype(&SymGetOptions) get_options = nullptr;
  decltype(&SymSetOptions) set_options = nullptr;
  decltype(&SymFunctionTableAccess64) function_table = nullptr;
  decltype(&SymGetLineFromAddr64) get_line = nullptr;  // optional
  decltype(&SymGetModuleBase64) module_base = nullptr;
  decltype(&SymGetModuleInfo64) module_info = nullptr;
  decltype(&SymGetSymFromAddr64) symbol = nullptr;
  decltype(&UnDecorateSymbolName) undecorate = nullptr;
  decltype(&SymLoadModule64) load_module = nullptr;
  decltype(&SymGetSearchPath) search_path = nullptr;  // optional
};

DbgHelp g_help;
HANDLE g_process = nullptr;
uint64_t g_loaded_changes = 0;  // our own duplicate, so a host's use of dbghelp cannot clash

template <typename F>
bool Bind(HMODULE module, const char* name, F& out) {
  out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return out != nullptr;
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

HMODULE LoadDbgHelp() {
  wchar_t exe[4096];
  const DWORD n = GetModuleFileNameW(nullptr, exe, 4096);
  const bool local = n > 0 && n < 4096 && Exists(std::wstring(exe, n) + L".local");
  if (!local) {
    wchar_t folder[4096];
    const DWORD m = GetEnvironmentVariableW(L"ProgramFiles", folder, 4096);
    if (m > 0 && m < 4096) {
      for (const wchar_t* tail : {L"\\Debugging Tools for Windows (x64)\\dbghelp.dll",
                                  L"\\Debugging Tools for Windows\\dbghelp.dll",
                                  L"\\Debugging Tools for Windows 64-Bit\\dbghelp.dll"}) {
        const std::wstring path = std::wstring(folder, m) + tail;
        if (!Exists(path)) continue;
        if (HMODULE module = LoadLibraryW(path.c_str())) return module;
      }
    }
  }
  return LoadLibraryW(L"dbghelp.dll");
}

bool BindAll(HMODULE module, DbgHelp& help) {
  help.module = module;
  const bool required = Bind(module, "SymInitialize", help.initialize) &&
                        Bind(module, "SymCleanup", help.cleanup) &&
                        Bind(module, "StackWalk64", help.stack_walk) &&
                        Bind(module, "SymGetOptions", help.get_options) &&
                        Bind(module, "SymSetOptions", help.set_options) &&
                        Bind(module, "SymFunctionTableAccess64", help.function_table) &&
                        Bind(module, "SymGetModuleBase64", help.module_base) &&
                        Bind(module, "SymGetModuleInfo64", help.module_info) &&
                        Bind(module, "SymGetSymFromAddr64", help.symbol) &&
                        Bind(module, "UnDecorateSymbolName", help.undecorate) &&
                        Bind(module, "SymLoadModule64", help.load_module);
  Bind(module, "SymGetLineFromAddr64", help.get_line);
  Bind(module, "SymGetSearchPath", help.search_path);
  return required;
}

// Every module of the process into the engine: tool help first, the process-status interface
// when that yields nothing.
void LoadModules(SymbolSetup& setup) {
  int loaded = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
  if (snapshot != INVALID_HANDLE_VALUE) {
    MODULEENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry)) {
      g_help.load_module(g_process, nullptr, entry.szExePath, entry.szModule,
                         reinterpret_cast<DWORD64>(entry.modBaseAddr), entry.modBaseSize);
      ++loaded;
    }
    CloseHandle(snapshot);
  }
  if (loaded > 0) return;
  HMODULE modules[1012];
  DWORD needed = 0;
  if (!EnumProcessModules(GetCurrentProcess(), modules, sizeof(modules), &needed)) return;
  if (needed > sizeof(modules)) return;  // more than 1012 modules: none on this path
  for (DWORD i = 0; i < needed / sizeof(HMODULE); ++i) {
    char image[8096], name[8096];
    MODULEINFO info{};
    if (!GetModuleInformation(GetCurrentProcess(), modules[i], &info, sizeof(info))) continue;
    GetModuleFileNameExA(GetCurrentProcess(), modules[i], image, sizeof(image));
    GetModuleBaseNameA(GetCurrentProcess(), modules[i], name, sizeof(name));
    if (g_help.load_module(g_process, nullptr, image, name,
                           reinterpret_cast<DWORD64>(info.lpBaseOfDll), info.SizeOfImage) == 0) {
      setup.errors.push_back({"LoadModule", static_cast<int32_t>(GetLastError()), 0});
    }
  }
}

std::atomic<uint64_t> g_module_changes{0};

VOID CALLBACK OnDllNotification(ULONG, const void*, void*) {
  g_module_changes.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

bool PrepareSymbols(SymbolSetup& setup) {
  if (g_process != nullptr) return true;
  ModuleChangeCount();  // start counting before the modules are listed
  HMODULE module = LoadDbgHelp();
  if (module == nullptr) return false;
  DbgHelp help;
  if (!BindAll(module, help)) {
    FreeLibrary(module);
    return false;
  }
  g_help = help;
  HANDLE process = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &process, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  g_process = process != nullptr ? process : GetCurrentProcess();
  if (!g_help.initialize(g_process, nullptr, FALSE))
    setup.errors.push_back({"SymInitialize", static_cast<int32_t>(GetLastError()), 0});
  setup.options = g_help.set_options(g_help.get_options() | 0x210);
  char path[1024] = {};
  if (g_help.search_path != nullptr && !g_help.search_path(g_process, path, sizeof(path)))
    setup.errors.push_back({"SymGetSearchPath", static_cast<int32_t>(GetLastError()), 0});
  setup.search_path = path;
  char user[1024] = {};
  DWORD user_size = sizeof(user);
  if (GetUserNameA(user, &user_size)) setup.user = user;
  OSVERSIONINFOEXA version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version))) {
    setup.have_os = true;
    setup.os_major = version.dwMajorVersion;
    setup.os_minor = version.dwMinorVersion;
    setup.os_build = version.dwBuildNumber;
    setup.os_text = version.szCSDVersion;
    setup.os_suite = version.wSuiteMask;
    setup.os_product = version.wProductType;
  }
  g_loaded_changes = ModuleChangeCount();
  LoadModules(setup);
  return true;
}

void RefreshSymbols() {
  if (g_process == nullptr) return;
  const uint64_t changes = ModuleChangeCount();
  if (changes == g_loaded_changes) return;
  g_loaded_changes = changes;
  // Loading a module the engine holds already changes nothing; new ones join.
  SymbolSetup ignored;
  LoadModules(ignored);
}

void ReleaseSymbols() noexcept {
  if (g_process == nullptr) return;
  g_help.cleanup(g_process);
  if (g_process != GetCurrentProcess()) CloseHandle(g_process);
  FreeLibrary(g_help.module);
  g_help = DbgHelp();
  g_process = nullptr;
}

size_t WalkOwnStack(StackFrame* frames, size_t capacity, bool& failed) noexcept {
  failed = false;
  if (g_process == nullptr || capacity == 0) return 0;
  CONTEXT context{};
  context.ContextFlags = CONTEXT_FULL;
  RtlCaptureContext(&context);
  STACKFRAME64 frame{};
  frame.AddrPC.Offset = context.Rip;
  frame.AddrPC.Mode = AddrModeFlat;
  frame.AddrStack.Offset = context.Rsp;
  frame.AddrStack.Mode = AddrModeFlat;
  frame.AddrFrame.Offset = context.Rbp;
  frame.AddrFrame.Mode = AddrModeFlat;
  size_t count = 0;
  while (count < capacity) {
    if (!g_help.stack_walk(IMAGE_FILE_MACHINE_AMD64, g_process, GetCurrentThread(), &frame,
                           &context, nullptr, g_help.function_table, g_help.module_base, nullptr)) {
      failed = count > 0 && frames[count - 1].return_address != 0;
      break;
    }
    frames[count++] = StackFrame{frame.AddrPC.Offset, frame.AddrReturn.Offset};
    if (frame.AddrReturn.Offset == 0) break;
  }
  return count;
}

void LookupSymbols(uint64_t address, FrameSymbols& out) {
  out = FrameSymbols();
  out.has_line_lookup = g_help.get_line != nullptr;
  if (g_process == nullptr) return;
  IMAGEHLP_MODULE64 module{};
  module.SizeOfStruct = sizeof(module);
  if (g_help.module_info(g_process, address, &module)) {
    out.module_name = module.ModuleName;
    out.image_name = module.LoadedImageName;
  } else {
    out.module_failed = true;
    out.module_error = static_cast<int32_t>(GetLastError());
  }
  alignas(IMAGEHLP_SYMBOL64) char storage[sizeof(IMAGEHLP_SYMBOL64) + 1024];
  auto* symbol = reinterpret_cast<IMAGEHLP_SYMBOL64*>(storage);
  std::memset(storage, 0, sizeof(storage));
  symbol->SizeOfStruct = sizeof(IMAGEHLP_SYMBOL64);
  symbol->MaxNameLength = 1024;
  DWORD64 displacement = 0;
  if (g_help.symbol(g_process, address, &displacement, symbol)) {
    out.raw_name = symbol->Name;
    out.displacement = displacement;
    char name[1024];
    if (g_help.undecorate(symbol->Name, name, sizeof(name), UNDNAME_NAME_ONLY))
      out.short_name = name;
    if (g_help.undecorate(symbol->Name, name, sizeof(name), UNDNAME_COMPLETE)) out.full_name = name;
    // The undecorator knows only Microsoft's names and hands GCC's back as they were.
    if (const std::string full = DemangledName(symbol->Name); !full.empty()) {
      out.full_name = full;
      out.short_name = NameWithoutParameters(full);
    }
  } else {
    out.symbol_failed = true;
    out.symbol_error = static_cast<int32_t>(GetLastError());
  }
  if (g_help.get_line != nullptr) {
    IMAGEHLP_LINE64 line{};
    line.SizeOfStruct = sizeof(line);
    DWORD offset = 0;
    if (g_help.get_line(g_process, address, &offset, &line)) {
      out.line = line.LineNumber;
      out.file = line.FileName != nullptr ? line.FileName : "";
    } else {
      out.line_failed = true;
      out.line_error = static_cast<int32_t>(GetLastError());
    }
  }
}

void DebuggerOutput(const char* line) noexcept {
  if (line != nullptr) OutputDebugStringA(line);
}

uint64_t ModuleChangeCount() noexcept {
  // Registered once, never removed: the count must go on while the process lives.
  static const bool registered = [] {
    using Register = LONG(NTAPI*)(ULONG, void*, void*, void**);
    const auto do_register = reinterpret_cast<Register>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "LdrRegisterDllNotification")));
    void* cookie = nullptr;
    return do_register != nullptr &&
           do_register(0, reinterpret_cast<void*>(&OnDllNotification), nullptr, &cookie) == 0;
  }();
  static_cast<void>(registered);
  return g_module_changes.load(std::memory_order_relaxed);
}

}  // namespace kest::platform
