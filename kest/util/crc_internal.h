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

// Folding kernels (x86 only). Inputs shorter than their minimum go to the slicing kernel.
uint32_t Crc32Pclmul(uint32_t reg, const uint8_t* p, size_t n) noexcept;
uint64_t Crc64Pclmul(uint64_t reg, const uint8_t* p, size_t n) noexcept;
uint32_t Crc32Vpclmul512(uint32_t reg, const uint8_t* p, size_t n) noexcept;
uint64_t Crc64Vpclmul512(uint64_t reg, const uint8_t* p, size_t n) noexcept;

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
// high lane holds x^64..x^127 and needs x^(8*bytes+64), the low lane x^(8*bytes). For reflected data
// a carry-less product carries one extra factor x, which the exponents give back.
// Both kernels fold as clmul(reg.lo, lo) ^ clmul(reg.hi, hi), where reg.lo is the register's low
// 64 bits after the MSB-first kernel's byte swap, or as loaded for the reflected kernel.
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
