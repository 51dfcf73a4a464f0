// Folding CRC kernels on 128-bit carry-less multiplies (PCLMULQDQ).
//
// Built with -mpclmul -mssse3 -msse4.1; only called when the processor has them.
#include "kest/util/crc_fold128_x86.h"

namespace kest::detail {

namespace {
uint32_t Update32(uint32_t reg, const uint8_t* p, size_t n) noexcept {
  return Crc32Fold128(reg, p, n);
}
uint64_t Update64(uint64_t reg, const uint8_t* p, size_t n) noexcept {
  return Crc64Fold128(reg, p, n);
}
}  // namespace

constinit const CrcKernelFns kPclmulFns = MakeKernelFns<Update32, Update64>();

}  // namespace kest::detail
