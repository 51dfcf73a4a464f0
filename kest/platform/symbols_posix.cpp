#include <elfutils/libdw.h>
#include <elfutils/libdwfl.h>
#include <link.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <unwind.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "kest/platform/symbols.h"

namespace kest::platform {
namespace {

// libdw's own default, where it looks for separate debug files (beside the file, in .debug, and
// under /usr/lib/debug by build-id or path).
constexpr const char* kDebugInfoPath = ":.debug:/usr/lib/debug";
// The options word a trace reports: what the Windows engine runs with (deferred loads, line
// numbers, failing silently).
constexpr uint32_t kOptions = 0x212;

char* g_debuginfo_path = nullptr;
const Dwfl_Callbacks kCallbacks = {dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo, nullptr,
                                   &g_debuginfo_path};

Dwfl* g_dwfl = nullptr;
uint64_t g_reported_changes = 0;

bool ReportModules(Dwfl* dwfl) {
  dwfl_report_begin(dwfl);
  const int failed = dwfl_linux_proc_report(dwfl, getpid());
  return dwfl_report_end(dwfl, nullptr, nullptr) == 0 && failed == 0;
}

std::string EffectiveUser() {
  char buffer[1024];
  passwd entry{}, *found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr)
    return found->pw_name;
  return std::to_string(geteuid());
}

void FillOs(SymbolSetup& setup) {
  utsname names{};
  if (uname(&names) != 0) return;
  unsigned major = 0, minor = 0, patch = 0;
  std::sscanf(names.release, "%u.%u.%u", &major, &minor, &patch);
  setup.have_os = true;
  setup.os_major = major;
  setup.os_minor = minor;
  setup.os_build = patch;
  setup.os_text = names.release;
}

struct Walk {
  StackFrame* frames;
  size_t capacity;
  size_t count;
};

_Unwind_Reason_Code EachFrame(_Unwind_Context* context, void* user) {
  auto* walk = static_cast<Walk*>(user);
  const uint64_t pc = _Unwind_GetIP(context);
  if (walk->count > 0) walk->frames[walk->count - 1].return_address = pc;
  if (pc == 0) return _URC_END_OF_STACK;
  if (walk->count == walk->capacity) return _URC_END_OF_STACK;
  walk->frames[walk->count++] = StackFrame{pc, 0};
  return _URC_NO_REASON;
}

std::string BaseName(const char* path) {
  if (path == nullptr) return std::string();
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

// The line of `address` from the compile unit whose ranges hold it. libdw finds the unit through
// .debug_aranges, which clang does not emit by default; this walks the units instead.
Dwarf_Line* LineFromUnits(Dwfl_Module* module, Dwarf_Addr address) {
  Dwarf_Addr bias = 0;
  for (Dwarf_Die* unit = dwfl_module_nextcu(module, nullptr, &bias); unit != nullptr;
       unit = dwfl_module_nextcu(module, unit, &bias)) {
    const Dwarf_Addr at = address - bias;
    Dwarf_Addr base = 0, start = 0, end = 0;
    for (ptrdiff_t offset = 0; (offset = dwarf_ranges(unit, offset, &base, &start, &end)) > 0;) {
      if (at >= start && at < end) return dwarf_getsrc_die(unit, at);
    }
  }
  return nullptr;
}

}  // namespace

bool PrepareSymbols(SymbolSetup& setup) {
  if (g_dwfl != nullptr) return true;
  Dwfl* dwfl = dwfl_begin(&kCallbacks);
  if (dwfl == nullptr) return false;
  const uint64_t changes = ModuleChangeCount();
  if (!ReportModules(dwfl)) {
    dwfl_end(dwfl);
    return false;
  }
  g_dwfl = dwfl;
  g_reported_changes = changes;
  setup.search_path = kDebugInfoPath;
  setup.options = kOptions;
  setup.user = EffectiveUser();
  FillOs(setup);
  return true;
}

void RefreshSymbols() {
  if (g_dwfl == nullptr) return;
  const uint64_t changes = ModuleChangeCount();
  if (changes == g_reported_changes) return;
  // A library came or went since the modules were reported: report them again (libdw keeps what
  // it read of the modules that are still there).
  ReportModules(g_dwfl);
  g_reported_changes = changes;
}

void ReleaseSymbols() noexcept {
  if (g_dwfl != nullptr) dwfl_end(g_dwfl);
  g_dwfl = nullptr;
}

size_t WalkOwnStack(StackFrame* frames, size_t capacity, bool& failed) noexcept {
  Walk walk{frames, capacity, 0};
  const _Unwind_Reason_Code end = _Unwind_Backtrace(EachFrame, &walk);
  failed = end != _URC_END_OF_STACK && end != _URC_NO_REASON;
  return walk.count;
}

void LookupSymbols(uint64_t address, FrameSymbols& out) {
  out = FrameSymbols();
  if (g_dwfl == nullptr) {
    out.module_failed = out.symbol_failed = out.line_failed = true;
    return;
  }
  Dwfl_Module* module = dwfl_addrmodule(g_dwfl, address);
  if (module == nullptr) {
    out.module_failed = out.symbol_failed = out.line_failed = true;
    out.module_error = out.symbol_error = out.line_error = dwfl_errno();
    return;
  }
  const char* main_file = nullptr;
  const char* name =
      dwfl_module_info(module, nullptr, nullptr, nullptr, nullptr, nullptr, &main_file, nullptr);
  out.image_name = main_file != nullptr ? main_file : (name != nullptr ? name : "");
  out.module_name = BaseName(name);
  GElf_Off offset = 0;
  GElf_Sym symbol{};
  const char* raw =
      dwfl_module_addrinfo(module, address, &offset, &symbol, nullptr, nullptr, nullptr);
  if (raw == nullptr) {
    out.symbol_failed = true;
    out.symbol_error = dwfl_errno();
  } else {
    out.raw_name = raw;
    out.displacement = offset;
    out.full_name = DemangledName(raw);
    out.short_name = out.full_name.empty() ? std::string() : NameWithoutParameters(out.full_name);
  }
  int line_number = 0;
  const char* file = nullptr;
  if (Dwfl_Line* line = dwfl_module_getsrc(module, address)) {
    file = dwfl_lineinfo(line, nullptr, &line_number, nullptr, nullptr, nullptr);
  } else {
    out.line_error = dwfl_errno();
    if (Dwarf_Line* unit_line = LineFromUnits(module, address)) {
      file = dwarf_linesrc(unit_line, nullptr, nullptr);
      dwarf_lineno(unit_line, &line_number);
    }
  }
  if (file == nullptr) {
    out.line_failed = true;
    if (out.line_error == 0) out.line_error = dwfl_errno();
  } else {
    out.line_error = 0;
    out.file = file;
    out.line = static_cast<uint32_t>(line_number);
  }
}

void DebuggerOutput(const char*) noexcept {}

uint64_t ModuleChangeCount() noexcept {
  uint64_t changes = 0;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t size, void* user) {
        if (size >= offsetof(dl_phdr_info, dlpi_subs) + sizeof(info->dlpi_subs))
          *static_cast<uint64_t*>(user) = info->dlpi_adds + info->dlpi_subs;
        return 1;  // the counts are the same in every entry: the first is enough
      },
      &changes);
  return changes;
}

}  // namespace kest::platform
