// Tables, fold constants and kernels shared by the CRC implementations. Every kernel takes and
// returns the raw register (not complemented), so kernels can hand work to each other.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kest::detail {

inline constexpr uint32_t kCrc32PolyReflected = 0xEDB88320u;
inline constexpr uint32_t kCrc32PolyNormal = 0x04C11DB7u;
inline constexpr uint64_t kCrc64Poly = 0x42F0E1EBA9EA3693ull;

struct CrcTables {
  uint32_t crc32[8][256];  // crc32[k][i]: byte i followed by k zero bytes, reflected
  uint64_t crc64[8][256];  // crc64[k][i]: byte i followed by k zero bytes, MSB first
};
extern const CrcTables kCrcTables;

uint32_t Crc32Bytewise(uint32_t reg, const uint8_t* p, size_t n) noexcept;
uint32_t Crc32Slicing8(uint32_t reg, const uint8_t* p, size_t n) noexcept;
uint64_t Crc64Bytewise(uint64_t reg, const uint8_t* p, size_t n) noexcept;
uint64_t Crc64Slicing8(uint64_t reg, const uint8_t* p, size_t n) noexcept;

// One implementation: register updates for streaming, and whole-buffer entry points (initial
// register, final complement, 0 for an empty range) that CRC32/CRC64 jump to directly.
struct CrcKernelFns {
  uint32_t (*update32)(uint32_t reg, const uint8_t* p, size_t n) noexcept;
  uint64_t (*update64)(uint64_t reg, const uint8_t* p, size_t n) noexcept;
  uint32_t (*crc32)(const void* data, uint64_t length) noexcept;
  uint64_t (*crc64)(const void* data, uint64_t length) noexcept;
};

template <uint32_t (*Update32)(uint32_t, const uint8_t*, size_t) noexcept,
          uint64_t (*Update64)(uint64_t, const uint8_t*, size_t) noexcept>
constexpr CrcKernelFns MakeKernelFns() {
  return {Update32, Update64,
          [](const void* data, uint64_t length) noexcept -> uint32_t {
            if (length == 0) return 0;
            return ~Update32(~0u, static_cast<const uint8_t*>(data), static_cast<size_t>(length));
          },
          [](const void* data, uint64_t length) noexcept -> uint64_t {
            if (length == 0) return 0;
            return ~Update64(~0ull, static_cast<const uint8_t*>(data), static_cast<size_t>(length));
          }};
}

extern const CrcKernelFns kBytewiseFns;
extern const CrcKernelFns kSlicing8Fns;
// Folding kernels (x86 only); short inputs inside them go to slicing.
extern const CrcKernelFns kPclmulFns;
extern const CrcKernelFns kVpclmul512Fns;
extern const CrcKernelFns kVpclmul256Fns;

// x^e mod P for CRC-64/WE's polynomial, in normal (MSB-first) bit order.
constexpr uint64_t Crc64XPow(unsigned e) {
  uint64_t r = 1;
  for (unsigned i = 0; i < e; ++i) r = (r << 1) ^ ((r >> 63) ? kCrc64Poly : 0);
  return r;
}

constexpr uint64_t Reverse64(uint64_t v) {
  uint64_t r = 0;
  for (int i = 0; i < 64; ++i) r |= ((v >> i) & 1) << (63 - i);
  return r;
}

// x^e mod P for CRC-32's polynomial, placed in a 64-bit lane in reflected order (the coefficient of
// x^k at bit 63-k), which is how a carry-less multiply sees reflected data.
constexpr uint64_t Crc32XPowReflected(unsigned e) {
  uint32_t r = 1;
  for (unsigned i = 0; i < e; ++i) r = (r << 1) ^ ((r >> 31) ? kCrc32PolyNormal : 0);
  return Reverse64(r);
}

// Multipliers that move a 128-bit chunk `bytes` further along the message. For MSB-first data the
// high lane holds x^64..x^127 and needs x^(8*bytes+64), the low lane x^(8*bytes). For reflected
// data a carry-less product carries one extra factor x, which the exponents give back. Both kernels
// fold as clmul(reg.lo, lo) ^ clmul(reg.hi, hi), where reg.lo is the register's low 64 bits after
// the MSB-first kernel's byte swap, or as loaded for the reflected kernel.
struct FoldConstants {
  uint64_t lo;
  uint64_t hi;
};
constexpr FoldConstants Crc64Fold(unsigned bytes) {
  return {Crc64XPow(8 * bytes), Crc64XPow(8 * bytes + 64)};
}
constexpr FoldConstants Crc32Fold(unsigned bytes) {
  return {Crc32XPowReflected(8 * bytes + 63), Crc32XPowReflected(8 * bytes - 1)};
}

}  // namespace kest::detail

namespace kest::detail {

// floor(x^n / P) for P = x^degree + low (degree <= 64), low 64 bits of the quotient. Long division
// over explicit coefficient arrays, evaluated at compile time.
constexpr uint64_t PolyQuotientLow64(unsigned n, unsigned degree, uint64_t low) {
  bool bits[200] = {};
  bits[n] = true;
  uint64_t quotient = 0;
  for (unsigned i = n + 1; i-- > degree;) {
    if (!bits[i]) continue;
    if (i - degree < 64) quotient |= uint64_t{1} << (i - degree);
    bits[i] = false;
    for (unsigned k = 0; k < degree; ++k) {
      if ((low >> k) & 1) bits[i - degree + k] = !bits[i - degree + k];
    }
  }
  return quotient;
}

// x^e mod P for CRC-32's polynomial in normal bit order.
constexpr uint64_t Crc32XPowNormal(unsigned e) {
  uint32_t r = 1;
  for (unsigned i = 0; i < e; ++i) r = (r << 1) ^ ((r >> 31) ? kCrc32PolyNormal : 0);
  return r;
}

}  // namespace kest::detail
