#include <cpuid.h>

#include <cstdint>

#include "kest/platform/cpu.h"

namespace kest::platform {
namespace {

uint64_t ReadXcr0() {
  uint32_t lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (static_cast<uint64_t>(hi) << 32) | lo;
}

}  // namespace

CpuFeatures DetectCpuFeatures() noexcept {
  CpuFeatures f;
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
  const bool ssse3 = c & (1u << 9);
  const bool sse41 = c & (1u << 19);
  const bool pclmul = c & (1u << 1);
  const bool osxsave = c & (1u << 27);
  f.pclmul = pclmul && ssse3 && sse41;
  if (!osxsave || !__get_cpuid_count(7, 0, &a, &b, &c, &d)) return f;
  const bool avx2 = b & (1u << 5);
  const bool avx512f = b & (1u << 16);
  const bool avx512bw = b & (1u << 30);
  const bool avx512vl = b & (1u << 31);
  const bool vpclmul = c & (1u << 10);
  // XMM and YMM state (and for AVX-512 also opmask and both halves of ZMM) saved by the OS.
  const uint64_t xcr0 = ReadXcr0();
  const bool os_ymm = (xcr0 & 0x06) == 0x06;
  const bool os_zmm = (xcr0 & 0xE6) == 0xE6;
  f.vpclmul256 = f.pclmul && avx2 && vpclmul && os_ymm;
  f.vpclmul512 = f.pclmul && avx512f && avx512bw && avx512vl && vpclmul && os_zmm;
  return f;
}

}  // namespace kest::platform
