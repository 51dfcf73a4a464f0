// Stack traces: the calling thread's call stack as text, innermost frame first.
//
// A trace starts with two header lines about the symbol set-up and the system,
//   SymInit: Symbol-SearchPath: '<path>', symOptions: <n>, UserName: '<user>'
//   OS-Version: <major>.<minor>.<build> (<text>) 0x<suite>-0x<product>
// then has one line per frame, "<file> (<line>): <function>" where the frame has line
// information and "<address> (<module>): (filename not available): <function>" otherwise, each
// preceded by an "ERROR: <operation>, GetLastError: <code> (Address: <address>)" line for every
// lookup of it that failed. Addresses are 16 upper-case hexadecimal digits. The first frame is the
// walk's own; every later frame shows its return address minus 1, inside the calling instruction.
// Every line ends in a line feed and is at most 1,023 characters: a longer one keeps its first
// 1,022 (cut between characters) and its line feed. A walk stops after 10,000 frames, or after
// more than 1,000 frames in a row that return to themselves, with the error line
// "StackWalk64-Endless-Callstack!".
//
// Symbols are set up once per process and kept; the lines of every address looked up are kept too,
// until a module is loaded or unloaded. All symbol work of the process runs under one symbol lock,
// never destroyed, so traces from several threads (and during exit) take turns.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kest/kest_export.h"
#include "kest/strings/vel_string.h"

namespace kest {
struct StackWalkerAccess;
}  // namespace kest

// The walker: forms the lines of a trace and hands each to EmitLine. A host derives from it to
// take the parts of a trace in another shape.
class KEST_API StackWalker {
 public:
  enum FrameKind { kFirstFrame, kNextFrame, kLastFrame };
  static constexpr size_t kTextCapacity = 1024;  // each text field: at most 1,023 and a NUL

  struct FrameRecord {
    uint64_t address = 0;
    char raw_name[kTextCapacity] = {};    // as the symbol engine returns it
    char short_name[kTextCapacity] = {};  // undecorated, the name only
    char full_name[kTextCapacity] = {};   // undecorated completely
    uint64_t displacement = 0;            // bytes into the symbol
    uint32_t line_number = 0;
    char source_file[kTextCapacity] = {};
    char module_name[kTextCapacity] = {};
    char image_name[kTextCapacity] = {};
  };

  // `options` and `search_path` are kept for hosts that read them; the process-wide symbol
  // set-up is the same for every walker.
  explicit StackWalker(uint32_t options = 4, const char* search_path = nullptr) noexcept;
  StackWalker(const StackWalker&) = delete;
  StackWalker& operator=(const StackWalker&) = delete;

  // In slot order.
  virtual ~StackWalker();
  // Emits the "SymInit:" line, then the "OS-Version:" line when the system's version is known.
  virtual void ReportSymbolInit(const char* search_path, uint32_t options, const char* user);
  // Forms a module's line and does not emit it (kept for hosts that do).
  virtual void ReportModuleLoad(const char* image, const char* module, uint64_t base, uint32_t size,
                                uint32_t result, const char* symbol_type, const char* debug_file,
                                uint64_t file_version);
  // Emits the frame's line; a record with address 0 emits nothing.
  virtual void ReportFrame(FrameKind kind, const FrameRecord& frame);
  // Emits "ERROR: <operation>, GetLastError: <code> (Address: <address>)".
  virtual void ReportLookupError(const char* operation, int32_t code, uint64_t address);
  // Receives each finished line (narrow text: the ANSI code page on Windows, UTF-8 on POSIX).
  // Windows: OutputDebugStringA; POSIX: nothing.
  virtual void EmitLine(const char* line);

  // Walks the calling thread and reports what it finds through the operations above. False when
  // the symbols could not be set up (only the set-up's error line was emitted), or when another
  // walk is under way on this thread (nothing was emitted).
  bool ShowCallstack();

 protected:
  uint32_t options_;

 private:
  friend struct kest::StackWalkerAccess;
  bool keep_lines_ = false;  // GetStackTrace's own walker: lines are reused from the cache
};

// A walker that collects the trace as text.
class KEST_API VelStackWalker : public StackWalker {
 public:
  VelStackWalker() noexcept;
  ~VelStackWalker() override;
  void EmitLine(const char* line) override;

  VelString m_Text;
};

// The calling thread's trace. Empty when called on a thread that is already inside a trace (from
// an allocator hook, or a heap made while symbols load). Any thread.
KEST_API VelString GetStackTrace();

namespace kest {

// A frame as a walk yields it: its instruction pointer and the address it returns to.
struct TraceFrame {
  uint64_t pc = 0;
  uint64_t return_address = 0;
};

// Test seam: while set, `source` stands in for the walk of the own stack. It fills at most
// `capacity` frames, returns their number, and sets `failed` when the next frame could not be
// found. Null restores the real walk.
KEST_API void SetFrameSourceForTesting(size_t (*source)(TraceFrame* frames, size_t capacity,
                                                        bool& failed)) noexcept;

// Whether the calling thread is inside a trace now (a heap made while symbols load, say).
KEST_API bool InsideStackTrace() noexcept;

// Test seam: forgets the symbol set-up, the header and every kept line, so the next trace is a
// process's first.
KEST_API void ResetSymbolsForTesting() noexcept;

// Test seam: while true, setting the symbols up fails as it does without a usable dbghelp.dll or
// libdw, so a trace is the initialisation-error line alone.
KEST_API void FailSymbolSetUpForTesting(bool fail) noexcept;

}  // namespace kest
