#include "kest/util/crc.h"

#include <atomic>
#include <bit>
#include <cstring>

#include "kest/platform/cpu.h"
#include "kest/util/crc_internal.h"

namespace kest::detail {
namespace {

constexpr CrcTables BuildTables() {
  CrcTables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ ((c & 1) ? kCrc32PolyReflected : 0);
    t.crc32[0][i] = c;
    uint64_t d = static_cast<uint64_t>(i) << 56;
    for (int k = 0; k < 8; ++k) d = (d << 1) ^ ((d >> 63) ? kCrc64Poly : 0);
    t.crc64[0][i] = d;
  }
  for (int k = 1; k < 8; ++k) {
    for (int i = 0; i < 256; ++i) {
      const uint32_t c = t.crc32[k - 1][i];
      t.crc32[k][i] = (c >> 8) ^ t.crc32[0][c & 0xFF];
      const uint64_t d = t.crc64[k - 1][i];
      t.crc64[k][i] = (d << 8) ^ t.crc64[0][d >> 56];
    }
  }
  return t;
}

inline uint64_t LoadLe64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

}  // namespace

constexpr CrcTables kCrcTables = BuildTables();
static_assert(kCrcTables.crc64[0][1] == kCrc64Poly);
static_assert(kCrcTables.crc64[0][128] == 0xF6FAE5C07D3274CDull);

uint32_t Crc32Bytewise(uint32_t reg, const uint8_t* p, size_t n) noexcept {
  for (size_t i = 0; i < n; ++i) reg = (reg >> 8) ^ kCrcTables.crc32[0][(reg ^ p[i]) & 0xFF];
  return reg;
}

uint64_t Crc64Bytewise(uint64_t reg, const uint8_t* p, size_t n) noexcept {
  for (size_t i = 0; i < n; ++i) reg = (reg << 8) ^ kCrcTables.crc64[0][(reg >> 56) ^ p[i]];
  return reg;
}

uint32_t Crc32Slicing8(uint32_t reg, const uint8_t* p, size_t n) noexcept {
  const auto& t = kCrcTables.crc32;
  for (; n >= 8; p += 8, n -= 8) {
    const uint64_t v = LoadLe64(p) ^ reg;
    reg = t[7][v & 0xFF] ^ t[6][(v >> 8) & 0xFF] ^ t[5][(v >> 16) & 0xFF] ^ t[4][(v >> 24) & 0xFF] ^
          t[3][(v >> 32) & 0xFF] ^ t[2][(v >> 40) & 0xFF] ^ t[1][(v >> 48) & 0xFF] ^ t[0][v >> 56];
  }
  return Crc32Bytewise(reg, p, n);
}

uint64_t Crc64Slicing8(uint64_t reg, const uint8_t* p, size_t n) noexcept {
  const auto& t = kCrcTables.crc64;
  for (; n >= 8; p += 8, n -= 8) {
    // MSB-first: the byte at the lowest address meets the register's top byte.
    const uint64_t v = __builtin_bswap64(LoadLe64(p)) ^ reg;
    reg = t[7][v >> 56] ^ t[6][(v >> 48) & 0xFF] ^ t[5][(v >> 40) & 0xFF] ^ t[4][(v >> 32) & 0xFF] ^
          t[3][(v >> 24) & 0xFF] ^ t[2][(v >> 16) & 0xFF] ^ t[1][(v >> 8) & 0xFF] ^ t[0][v & 0xFF];
  }
  return Crc64Bytewise(reg, p, n);
}

constinit const CrcKernelFns kBytewiseFns = MakeKernelFns<Crc32Bytewise, Crc64Bytewise>();
constinit const CrcKernelFns kSlicing8Fns = MakeKernelFns<Crc32Slicing8, Crc64Slicing8>();

}  // namespace kest::detail

namespace kest {
namespace {

using detail::CrcKernelFns;

// The functions of `kernel`, or null when this build has none.
const CrcKernelFns* BuiltKernel(CrcKernel kernel) {
  switch (kernel) {
    case CrcKernel::kBytewise:
      return &detail::kBytewiseFns;
    case CrcKernel::kSlicing8:
      return &detail::kSlicing8Fns;
#if KEST_HAVE_X86_CRC
    case CrcKernel::kPclmul:
      return &detail::kPclmulFns;
    case CrcKernel::kVpclmul256:
      return &detail::kVpclmul256Fns;
#endif
#if KEST_HAVE_X86_CRC512
    case CrcKernel::kVpclmul512:
      return &detail::kVpclmul512Fns;
#endif
    default:
      return nullptr;
  }
}

// The functions of `kernel` when the processor runs it, else the portable ones.
const CrcKernelFns& KernelFor(CrcKernel kernel) {
  return CrcKernelSupported(kernel) ? *BuiltKernel(kernel) : detail::kSlicing8Fns;
}

CrcKernel BestKernel() {
  if (CrcKernelSupported(CrcKernel::kVpclmul512)) return CrcKernel::kVpclmul512;
  if (CrcKernelSupported(CrcKernel::kVpclmul256)) return CrcKernel::kVpclmul256;
  if (CrcKernelSupported(CrcKernel::kPclmul)) return CrcKernel::kPclmul;
  return CrcKernel::kSlicing8;
}

// Until the first call the active kernel is a resolver that picks the best one, installs it and
// forwards; afterwards every call costs one relaxed load and a jump. Racing first calls install the
// same pointer.
const CrcKernelFns* Resolve() noexcept;
uint32_t ResolveUpdate32(uint32_t reg, const uint8_t* p, size_t n) noexcept {
  return Resolve()->update32(reg, p, n);
}
uint64_t ResolveUpdate64(uint64_t reg, const uint8_t* p, size_t n) noexcept {
  return Resolve()->update64(reg, p, n);
}
constinit const CrcKernelFns kResolverFns =
    detail::MakeKernelFns<ResolveUpdate32, ResolveUpdate64>();
constinit std::atomic<const CrcKernelFns*> g_kernel{&kResolverFns};

const CrcKernelFns* Resolve() noexcept {
  const CrcKernelFns* best = &KernelFor(BestKernel());
  g_kernel.store(best, std::memory_order_relaxed);
  return best;
}

inline const CrcKernelFns& Active() { return *g_kernel.load(std::memory_order_relaxed); }

}  // namespace

const char* CrcKernelName(CrcKernel kernel) noexcept {
  switch (kernel) {
    case CrcKernel::kBytewise:
      return "bytewise";
    case CrcKernel::kSlicing8:
      return "slicing-by-8";
    case CrcKernel::kPclmul:
      return "pclmul";
    case CrcKernel::kVpclmul512:
      return "vpclmul-512";
    case CrcKernel::kVpclmul256:
      return "vpclmul-256";
  }
  return "unknown";
}

bool CrcKernelSupported(CrcKernel kernel) noexcept {
  if (BuiltKernel(kernel) == nullptr) return false;
  const platform::CpuFeatures& cpu = platform::GetCpuFeatures();
  switch (kernel) {
    case CrcKernel::kPclmul:
      return cpu.pclmul;
    case CrcKernel::kVpclmul512:
      return cpu.vpclmul512;
    case CrcKernel::kVpclmul256:
      return cpu.vpclmul256;
    default:
      return true;
  }
}

CrcKernel ActiveCrcKernel() noexcept {
  // Read back from what the dispatch installed, so a wrong choice shows here. Compared with each
  // build's own functions: through KernelFor an unsupported kernel would read as the portable one.
  const CrcKernelFns* active = Resolve();
  for (CrcKernel k :
       {CrcKernel::kVpclmul512, CrcKernel::kVpclmul256, CrcKernel::kPclmul, CrcKernel::kSlicing8}) {
    if (active == BuiltKernel(k)) return k;
  }
  return CrcKernel::kBytewise;
}

void ResetCrcDispatchForTesting() noexcept {
  g_kernel.store(&kResolverFns, std::memory_order_relaxed);
}

uint32_t Crc32WithKernel(CrcKernel kernel, const void* data, uint64_t length) noexcept {
  return KernelFor(kernel).crc32(data, length);
}

uint64_t Crc64WithKernel(CrcKernel kernel, const void* data, uint64_t length) noexcept {
  return KernelFor(kernel).crc64(data, length);
}

uint32_t Crc32Update(uint32_t reg, const void* data, uint64_t length) noexcept {
  if (length == 0) return reg;
  return Active().update32(reg, static_cast<const uint8_t*>(data), length);
}

uint64_t Crc64Update(uint64_t reg, const void* data, uint64_t length) noexcept {
  if (length == 0) return reg;
  return Active().update64(reg, static_cast<const uint8_t*>(data), length);
}

}  // namespace kest

uint32_t CRC32(const void* data, uint64_t length) noexcept {
  return kest::Active().crc32(data, length);
}

uint64_t CRC64(const void* data, uint64_t length) noexcept {
  return kest::Active().crc64(data, length);
}
