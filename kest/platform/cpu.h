// What the processor and the operating system together let the library use.
#pragma once

#include "kest/kest_export.h"

namespace kest::platform {

struct CpuFeatures {
  bool pclmul = false;      // PCLMULQDQ with SSSE3 and SSE4.1
  bool vpclmul256 = false;  // VPCLMULQDQ on 256-bit registers with AVX2, enabled by the OS
  bool vpclmul512 = false;  // VPCLMULQDQ on 512-bit registers (AVX-512 F/BW/VL), enabled by the OS
};

// What the library relies on: the features read once from CPUID and XGETBV (all false on
// processors without those instructions, and off x86), or the test seam's set. Any thread.
const CpuFeatures& GetCpuFeatures() noexcept;

// The processor's own answer, read on every call (cpu_x86.cpp, cpu_generic.cpp).
CpuFeatures DetectCpuFeatures() noexcept;

// Test seam: GetCpuFeatures answers `*features` (kept by pointer) until called with null, so a
// choice made from the features can be tested for processors this machine is not. Code chosen this
// way must not run on a processor without the features.
KEST_API void SetCpuFeaturesForTesting(const CpuFeatures* features) noexcept;

}  // namespace kest::platform
