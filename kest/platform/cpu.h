// What the processor and the operating system together let the library use.
#pragma once

namespace kest::platform {

struct CpuFeatures {
  bool pclmul = false;      // PCLMULQDQ with SSSE3 and SSE4.1
  bool vpclmul256 = false;  // VPCLMULQDQ on 256-bit registers with AVX2, enabled by the OS
  bool vpclmul512 = false;  // VPCLMULQDQ on 512-bit registers (AVX-512 F/BW/VL), enabled by the OS
};

// Read once from CPUID and XGETBV; all false on processors without those instructions.
const CpuFeatures& GetCpuFeatures() noexcept;

}  // namespace kest::platform
