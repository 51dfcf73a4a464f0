#include "kest/diag/stack_trace.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "kest/platform/lock.h"
#include "kest/platform/symbols.h"
#include "kest/platform/text.h"

namespace kest {
namespace {

constexpr size_t kMaxLine = 1023;
constexpr size_t kMaxFrames = 10000;
constexpr uint32_t kMaxSelfReturns = 1000;
constexpr size_t kMaxKeptAddresses = 1 << 16;

// Every symbol-engine call of the process runs under this lock: the engines are single-threaded.
// Never destroyed, so that traces made while the process exits still take turns.
platform::SpinningLock& SymbolLock() {
  static platform::SpinningLock* const lock = new platform::SpinningLock(0);
  return *lock;
}

// Process-wide, under the symbol lock: the set-up, the header it gives, and the finished lines of
// every address looked up since the modules last changed.
struct SymbolState {
  bool prepared = false;
  platform::SymbolSetup setup;
  VelString header;
  std::unordered_map<uint64_t, VelString> lines;
  uint64_t module_changes = 0;
};

SymbolState& State() {
  static SymbolState* const state = new SymbolState;
  return *state;
}

std::atomic<size_t (*)(TraceFrame*, size_t, bool&)> g_frame_source{nullptr};
std::atomic<bool> g_fail_set_up{false};

thread_local bool t_in_trace = false;

// A line in the shape every trace line has: at most kMaxLine characters, ending in a line feed.
std::string Line(const char* format, ...) {
  char small[1024];
  va_list args;
  va_start(args, format);
  const int needed = std::vsnprintf(small, sizeof(small), format, args);
  va_end(args);
  if (needed < 0) return std::string("\n");
  std::string line;
  if (static_cast<size_t>(needed) < sizeof(small)) {
    line.assign(small, static_cast<size_t>(needed));
  } else {
    line.resize(static_cast<size_t>(needed) + 1);
    va_start(args, format);
    std::vsnprintf(line.data(), line.size(), format, args);
    va_end(args);
    line.resize(static_cast<size_t>(needed));
  }
  if (line.size() > kMaxLine) {
    line.resize(platform::NarrowCharBoundary(line.data(), line.size(), kMaxLine - 1));
    line += '\n';
  }
  return line;
}

std::string ErrorLine(const char* operation, int32_t code, uint64_t address) {
  return Line("ERROR: %s, GetLastError: %" PRId32 " (Address: %016" PRIX64 ")\n",
              operation != nullptr ? operation : "", code, address);
}

std::string FrameLine(const StackWalker::FrameRecord& frame) {
  const char* name = frame.full_name[0] != 0    ? frame.full_name
                     : frame.short_name[0] != 0 ? frame.short_name
                     : frame.raw_name[0] != 0   ? frame.raw_name
                                                : "(function-name not available)";
  if (frame.source_file[0] != 0)
    return Line("%s (%" PRIu32 "): %s\n", frame.source_file, frame.line_number, name);
  return Line("%016" PRIX64 " (%s): %s: %s\n", frame.address,
              frame.module_name[0] != 0 ? frame.module_name : "(module-name not available)",
              "(filename not available)", name);
}

std::string HeaderLines(const platform::SymbolSetup& setup) {
  std::string lines;
  for (const platform::LookupError& error : setup.errors)
    lines += ErrorLine(error.operation.c_str(), error.code, error.address);
  lines += Line("SymInit: Symbol-SearchPath: '%s', symOptions: %" PRIu32 ", UserName: '%s'\n",
                setup.search_path.c_str(), setup.options, setup.user.c_str());
  if (setup.have_os) {
    lines +=
        Line("OS-Version: %" PRIu32 ".%" PRIu32 ".%" PRIu32 " (%s) 0x%" PRIx32 "-0x%" PRIx32 "\n",
             setup.os_major, setup.os_minor, setup.os_build, setup.os_text.c_str(), setup.os_suite,
             setup.os_product);
  }
  return lines;
}

// Copies at most kTextCapacity - 1 bytes, cut between characters.
void CopyField(char (&field)[StackWalker::kTextCapacity], const std::string& text) {
  const size_t n =
      platform::NarrowCharBoundary(text.data(), text.size(), StackWalker::kTextCapacity - 1);
  std::memcpy(field, text.data(), n);
  field[n] = 0;
}

// The lines of one frame: an error line per failed lookup, then the frame line.
std::string LinesOf(uint64_t address, StackWalker::FrameRecord& record) {
  platform::FrameSymbols symbols;
  platform::LookupSymbols(address, symbols);
  std::string lines;
  if (symbols.module_failed)
    lines += ErrorLine("SymGetModuleInfo64", symbols.module_error, address);
  if (symbols.symbol_failed)
    lines += ErrorLine("SymGetSymFromAddr64", symbols.symbol_error, address);
  if (symbols.has_line_lookup && symbols.line_failed)
    lines += ErrorLine("SymGetLineFromAddr64", symbols.line_error, address);
  record = StackWalker::FrameRecord();
  record.address = address;
  CopyField(record.raw_name, symbols.raw_name);
  CopyField(record.short_name, symbols.short_name);
  CopyField(record.full_name, symbols.full_name);
  record.displacement = symbols.displacement;
  record.line_number = symbols.line;
  CopyField(record.source_file, symbols.file);
  CopyField(record.module_name, symbols.module_name);
  CopyField(record.image_name, symbols.image_name);
  return lines;
}

VelString Wide(const std::string& narrow) {
  VelString text;
  text += narrow.c_str();
  return text;
}

// Frames of the own stack, or of the test's source, into `frames`: into `room` when they fit (the
// usual stack), else into `spill`, sized for the longest walk.
size_t Walk(TraceFrame* frames, size_t capacity, bool& failed) {
  failed = false;
  if (auto source = g_frame_source.load(std::memory_order_acquire))
    return source(frames, capacity, failed);
  static_assert(sizeof(TraceFrame) == sizeof(platform::StackFrame));
  return platform::WalkOwnStack(reinterpret_cast<platform::StackFrame*>(frames), capacity, failed);
}

constexpr size_t kFramesInRoom = 256;

const TraceFrame* CaptureFrames(TraceFrame (&room)[kFramesInRoom], std::vector<TraceFrame>& spill,
                                size_t& count, bool& failed) {
  count = Walk(room, kFramesInRoom, failed);
  if (count < kFramesInRoom) return room;
  spill.resize(kMaxFrames + 1);
  count = Walk(spill.data(), spill.size(), failed);
  return spill.data();
}

}  // namespace

struct StackWalkerAccess {
  static bool KeepsLines(const StackWalker& walker) { return walker.keep_lines_; }
  static void KeepLines(StackWalker& walker) { walker.keep_lines_ = true; }
};

bool InsideStackTrace() noexcept { return t_in_trace; }

void FailSymbolSetUpForTesting(bool fail) noexcept {
  g_fail_set_up.store(fail, std::memory_order_release);
}

void SetFrameSourceForTesting(size_t (*source)(TraceFrame*, size_t, bool&)) noexcept {
  g_frame_source.store(source, std::memory_order_release);
}

void ResetSymbolsForTesting() noexcept {
  platform::SpinningLock& lock = SymbolLock();
  lock.Acquire();
  SymbolState& state = State();
  platform::ReleaseSymbols();
  state.prepared = false;
  state.setup = platform::SymbolSetup();
  state.header = VelString();
  state.lines.clear();
  lock.Release();
}

}  // namespace kest

StackWalker::StackWalker(uint32_t options, const char* /*search_path*/) noexcept
    : options_(options) {}

StackWalker::~StackWalker() = default;

void StackWalker::ReportSymbolInit(const char* search_path, uint32_t options, const char* user) {
  kest::platform::SymbolSetup setup = kest::State().setup;
  setup.errors.clear();
  setup.search_path = search_path != nullptr ? search_path : "";
  setup.options = options;
  setup.user = user != nullptr ? user : "";
  const std::string lines = kest::HeaderLines(setup);
  for (size_t start = 0; start < lines.size();) {
    const size_t end = lines.find('\n', start) + 1;
    EmitLine(lines.substr(start, end - start).c_str());
    start = end;
  }
}

void StackWalker::ReportModuleLoad(const char* image, const char* module, uint64_t base,
                                   uint32_t size, uint32_t result, const char* symbol_type,
                                   const char* debug_file, uint64_t file_version) {
  // Formed as a host that emits it would see it; the trace itself leaves modules out.
  const std::string line =
      kest::Line("%s:%s (%016" PRIX64 "), size: %" PRIu32 " (result: %" PRIu32
                 "), SymType: '%s', PDB: "
                 "'%s', fileVersion: %" PRIu64 "\n",
                 image != nullptr ? image : "", module != nullptr ? module : "", base, size, result,
                 symbol_type != nullptr ? symbol_type : "", debug_file != nullptr ? debug_file : "",
                 file_version);
  static_cast<void>(line);
}

void StackWalker::ReportFrame(FrameKind /*kind*/, const FrameRecord& frame) {
  if (frame.address == 0) return;
  EmitLine(kest::FrameLine(frame).c_str());
}

void StackWalker::ReportLookupError(const char* operation, int32_t code, uint64_t address) {
  EmitLine(kest::ErrorLine(operation, code, address).c_str());
}

void StackWalker::EmitLine(const char* line) {
  if (line != nullptr) kest::platform::DebuggerOutput(line);
}

bool StackWalker::ShowCallstack() {
  using namespace kest;
  // A trace inside a trace (an allocator hook, a heap made while symbols load) would re-enter the
  // engine under its own lock.
  if (t_in_trace) return false;
  t_in_trace = true;
  platform::SpinningLock& lock = SymbolLock();
  lock.Acquire();
  SymbolState& state = State();
  const bool keep = StackWalkerAccess::KeepsLines(*this);
  auto* collected = keep ? &static_cast<VelStackWalker*>(this)->m_Text : nullptr;
  bool ready = state.prepared;
  if (!ready) {
    platform::SymbolSetup setup;
    ready = !g_fail_set_up.load(std::memory_order_acquire) && platform::PrepareSymbols(setup);
    if (ready) {
      state.prepared = true;
      state.setup = std::move(setup);
      state.header = Wide(HeaderLines(state.setup));
      state.lines.clear();
      state.module_changes = platform::ModuleChangeCount();
    }
  }
  if (!ready) {
    ReportLookupError("Error while initializing dbghelp.dll", 0, 0);
    lock.Release();
    t_in_trace = false;
    return false;
  }
  if (collected != nullptr) {
    *collected += state.header;
  } else {
    for (const platform::LookupError& error : state.setup.errors)
      ReportLookupError(error.operation.c_str(), error.code, error.address);
    ReportSymbolInit(state.setup.search_path.c_str(), state.setup.options,
                     state.setup.user.c_str());
  }
  platform::RefreshSymbols();
  if (keep) {
    const uint64_t changes = platform::ModuleChangeCount();
    if (changes != state.module_changes || state.lines.size() >= kMaxKeptAddresses) {
      state.lines.clear();
      state.module_changes = changes;
    }
  }

  TraceFrame room[kFramesInRoom];
  std::vector<TraceFrame> spill;
  size_t count = 0;
  bool walk_failed = false;
  const TraceFrame* frames = CaptureFrames(room, spill, count, walk_failed);
  std::unique_ptr<FrameRecord> record(new FrameRecord);
  uint32_t self_returns = 0;
  for (size_t i = 0; i < count; ++i) {
    const TraceFrame& frame = frames[i];
    const uint64_t address = i == 0 || frame.pc == 0 ? frame.pc : frame.pc - 1;
    if (i == kMaxFrames) {
      ReportLookupError("StackWalk64-Endless-Callstack!", 0, address);
      break;
    }
    if (frame.pc == frame.return_address) {
      if (self_returns > kMaxSelfReturns) {
        ReportLookupError("StackWalk64-Endless-Callstack!", 0, address);
        break;
      }
      ++self_returns;
    } else {
      self_returns = 0;
    }
    if (address != 0) {
      if (collected != nullptr) {
        auto kept = state.lines.find(address);
        if (kept == state.lines.end()) {
          std::string lines = LinesOf(address, *record);
          lines += FrameLine(*record);
          kept = state.lines.emplace(address, Wide(lines)).first;
        }
        *collected += kept->second;
      } else {
        platform::FrameSymbols symbols;
        const std::string errors = LinesOf(address, *record);
        for (size_t start = 0; start < errors.size();) {
          const size_t end = errors.find('\n', start) + 1;
          EmitLine(errors.substr(start, end - start).c_str());
          start = end;
        }
        const FrameKind kind = i == 0                      ? kFirstFrame
                               : frame.return_address == 0 ? kLastFrame
                                                           : kNextFrame;
        ReportFrame(kind, *record);
      }
    }
    if (frame.return_address == 0) break;
    if (i + 1 == count && walk_failed) ReportLookupError("StackWalk64", 0, frame.pc);
  }
  lock.Release();
  t_in_trace = false;
  return true;
}

VelStackWalker::VelStackWalker() noexcept = default;
VelStackWalker::~VelStackWalker() = default;

void VelStackWalker::EmitLine(const char* line) {
  if (line != nullptr) m_Text += line;
}

VelString GetStackTrace() {
  VelStackWalker walker;
  kest::StackWalkerAccess::KeepLines(walker);
  walker.ShowCallstack();
  return walker.m_Text;
}
