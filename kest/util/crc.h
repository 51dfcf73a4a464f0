// CRC-32 and CRC-64 checksums over a byte range.
//
// CRC64 is also the hash of VelString, so its exact variant decides hash values that other modules
// may keep: it must never change. Both pick the fastest kernel the processor offers on first use
// (carry-less multiply folding where available, table slicing otherwise); every kernel gives the
// same result.
#pragma once

#include <cstdint>

#include "kest/kest_export.h"

// CRC-32/ISO-HDLC, the CRC of zlib and Ethernet: reflected polynomial 0xEDB88320, initial register
// 0xFFFFFFFF, final complement. "123456789" gives 0xCBF43926. A length of 0 gives 0 without reading
// `data`, which may then be null. Any thread; takes no lock.
KEST_API uint32_t CRC32(const void* data, uint64_t length) noexcept;

// CRC-64/WE: ECMA-182 polynomial 0x42F0E1EBA9EA3693 processed most-significant bit first, initial
// register all ones, final complement. "123456789" gives 0x62EC59E3F1A4F00A. A length of 0 gives 0
// without reading `data`. Any thread; takes no lock.
KEST_API uint64_t CRC64(const void* data, uint64_t length) noexcept;

namespace kest {

// The implementations behind CRC32 and CRC64, exposed so that tests and benchmarks can compare
// them. kBytewise is the one-byte-per-step reference, kSlicing8 the portable table path; kPclmul
// folds 128 bits at a time (PCLMULQDQ), kVpclmul256 256 bits (VPCLMULQDQ with AVX2) and kVpclmul512
// 512 bits (VPCLMULQDQ with AVX-512). The widest one the processor runs is chosen at run time.
enum class CrcKernel { kBytewise, kSlicing8, kPclmul, kVpclmul512, kVpclmul256 };

KEST_API const char* CrcKernelName(CrcKernel kernel) noexcept;
// Whether this processor (and this build) can run `kernel`.
KEST_API bool CrcKernelSupported(CrcKernel kernel) noexcept;
// The kernel CRC32 and CRC64 use for long inputs.
KEST_API CrcKernel ActiveCrcKernel() noexcept;
// CRC32 / CRC64 computed by `kernel`; an unsupported kernel falls back to kSlicing8.
KEST_API uint32_t Crc32WithKernel(CrcKernel kernel, const void* data, uint64_t length) noexcept;
KEST_API uint64_t Crc64WithKernel(CrcKernel kernel, const void* data, uint64_t length) noexcept;

// Test seam: CRC32 and CRC64 choose their kernel again on their next call (after
// kest::platform::SetCpuFeaturesForTesting, say). Not while other threads compute CRCs.
KEST_API void ResetCrcDispatchForTesting() noexcept;

// Continues a CRC-32 register over more bytes: start with ~0u, feed the pieces in order, and
// complement the final register.
KEST_API uint32_t Crc32Update(uint32_t reg, const void* data, uint64_t length) noexcept;

// Continues a CRC-64/WE register over more bytes: start with ~0, feed the pieces in order, and
// complement the final register. Lets a caller hash text it produces in pieces.
KEST_API uint64_t Crc64Update(uint64_t reg, const void* data, uint64_t length) noexcept;

}  // namespace kest
