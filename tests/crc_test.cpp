#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "kest/platform/cpu.h"
#include "kest/util/crc.h"

namespace {

using kest::CrcKernel;

constexpr CrcKernel kAllKernels[] = {CrcKernel::kBytewise, CrcKernel::kSlicing8, CrcKernel::kPclmul,
                                     CrcKernel::kVpclmul256, CrcKernel::kVpclmul512};

// Check values and vectors computed independently of this library's tables, by every kernel; a
// length of 0 is 0 without reading the data.
TEST(Crc, KnownVectorsByEveryKernel) {
  const std::vector<unsigned char> zeros(32, 0);
  const char* fox = "The quick brown fox jumps over the lazy dog";
  struct Case {
    const void* data;
    size_t size;
    uint32_t crc32;
    uint64_t crc64;  // 0: not checked
  };
  const Case cases[] = {{"123456789", 9, 0xCBF43926u, 0x62EC59E3F1A4F00Aull},
                        {"a", 1, 0xE8B7BE43u, 0},
                        {fox, std::strlen(fox), 0x414FA339u, 0},
                        {zeros.data(), zeros.size(), 0x190A55ADu, 0},
                        {nullptr, 0, 0, 0},
                        {"x", 0, 0, 0}};
  for (const Case& c : cases) {
    const bool crc64 = c.crc64 != 0 || c.size == 0;
    EXPECT_EQ(CRC32(c.data, c.size), c.crc32) << c.size;
    EXPECT_EQ(crc64 ? CRC64(c.data, c.size) : 0, c.crc64) << c.size;
    for (CrcKernel k : kAllKernels) {
      if (!kest::CrcKernelSupported(k)) continue;
      EXPECT_EQ(kest::Crc32WithKernel(k, c.data, c.size), c.crc32) << kest::CrcKernelName(k);
      EXPECT_EQ(crc64 ? kest::Crc64WithKernel(k, c.data, c.size) : 0, c.crc64);
    }
  }
}

// Every kernel agrees with the one-byte-per-step reference for every length up to 4096 and every
// start alignment, on random data, and on 1 MiB.
TEST(Crc, KernelsMatchBytewiseReference) {
  std::mt19937_64 rng(20261206);
  std::vector<unsigned char> buffer(1 << 20);
  for (auto& b : buffer) b = static_cast<unsigned char>(rng());
  const uint32_t whole32 =
      kest::Crc32WithKernel(CrcKernel::kBytewise, buffer.data(), buffer.size());
  const uint64_t whole64 =
      kest::Crc64WithKernel(CrcKernel::kBytewise, buffer.data(), buffer.size());
  for (CrcKernel k : kAllKernels) {
    if (!kest::CrcKernelSupported(k)) continue;
    SCOPED_TRACE(kest::CrcKernelName(k));
    for (size_t align = 0; align < 16; ++align) {
      const unsigned char* p = buffer.data() + align;
      for (size_t len = 0; len <= 4096; len += (align == 0 ? 1 : 7)) {
        ASSERT_EQ(kest::Crc32WithKernel(k, p, len),
                  kest::Crc32WithKernel(CrcKernel::kBytewise, p, len))
            << "len " << len << " align " << align;
        ASSERT_EQ(kest::Crc64WithKernel(k, p, len),
                  kest::Crc64WithKernel(CrcKernel::kBytewise, p, len))
            << "len " << len << " align " << align;
      }
    }
    EXPECT_EQ(kest::Crc32WithKernel(k, buffer.data(), buffer.size()), whole32);
    EXPECT_EQ(kest::Crc64WithKernel(k, buffer.data(), buffer.size()), whole64);
  }
  EXPECT_EQ(CRC64(buffer.data(), buffer.size()), whole64);
}

TEST(Crc, UpdateInPiecesEqualsWhole) {
  std::vector<unsigned char> data(3000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 31 + 7);
  const uint64_t whole = CRC64(data.data(), data.size());
  for (size_t cut : {size_t{0}, size_t{1}, size_t{15}, size_t{300}, size_t{2999}}) {
    uint64_t reg = kest::Crc64Update(~0ull, data.data(), cut);
    reg = kest::Crc64Update(reg, data.data() + cut, data.size() - cut);
    EXPECT_EQ(~reg, whole) << "cut at " << cut;
  }
}

// The dispatch must choose the widest kernel the processor runs: a silent fall-back to the
// portable path still computes right, so only this notices it.
TEST(Crc, DispatchPicksTheBestKernelTheCpuRuns) {
  CrcKernel best = CrcKernel::kSlicing8;
  for (CrcKernel k : {CrcKernel::kPclmul, CrcKernel::kVpclmul256, CrcKernel::kVpclmul512}) {
    if (kest::CrcKernelSupported(k)) best = k;
  }
  EXPECT_EQ(kest::ActiveCrcKernel(), best);
  EXPECT_TRUE(kest::CrcKernelSupported(CrcKernel::kSlicing8));
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  // Asked of the processor without the library: carry-less multiply means a folding kernel.
  const bool pclmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1") &&
                      __builtin_cpu_supports("ssse3");
  EXPECT_EQ(kest::CrcKernelSupported(CrcKernel::kPclmul), pclmul);
#endif
}

// The choice for every processor the library meets, not only this one's: the widest kernel that
// both the features and this build allow. Which kernels the build has is read under a fake that
// offers everything; no kernel runs under a fake.
TEST(Crc, DispatchChoosesForEachFeatureSet) {
  using kest::platform::CpuFeatures;
  const CpuFeatures everything{true, true, true};
  kest::platform::SetCpuFeaturesForTesting(&everything);
  const bool built512 = kest::CrcKernelSupported(CrcKernel::kVpclmul512);
  const bool built_x86 = kest::CrcKernelSupported(CrcKernel::kPclmul);
  struct Case {
    CpuFeatures features;
    CrcKernel expected;
  };
  const CrcKernel x86_or_portable = built_x86 ? CrcKernel::kPclmul : CrcKernel::kSlicing8;
  const CrcKernel wide_or_portable = built_x86 ? CrcKernel::kVpclmul256 : CrcKernel::kSlicing8;
  const Case cases[] = {
      {{true, true, true}, built512 ? CrcKernel::kVpclmul512 : wide_or_portable},
      {{true, false, true}, built512 ? CrcKernel::kVpclmul512 : x86_or_portable},
      {{true, true, false}, wide_or_portable},
      {{true, false, false}, x86_or_portable},
      {{false, false, false}, CrcKernel::kSlicing8},
  };
  for (const Case& c : cases) {
    kest::platform::SetCpuFeaturesForTesting(&c.features);
    kest::ResetCrcDispatchForTesting();
    EXPECT_EQ(kest::ActiveCrcKernel(), c.expected)
        << c.features.pclmul << c.features.vpclmul256 << c.features.vpclmul512;
  }
  kest::platform::SetCpuFeaturesForTesting(nullptr);
  kest::ResetCrcDispatchForTesting();
  EXPECT_EQ(CRC32("123456789", 9), 0xCBF43926u);
}

}  // namespace
