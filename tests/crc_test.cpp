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

TEST(Crc, CheckValues) {
  const char digits[] = "123456789";
  EXPECT_EQ(CRC32(digits, 9), 0xCBF43926u);
  EXPECT_EQ(CRC64(digits, 9), 0x62EC59E3F1A4F00Aull);
  for (CrcKernel k : kAllKernels) {
    SCOPED_TRACE(kest::CrcKernelName(k));
    EXPECT_EQ(kest::Crc32WithKernel(k, digits, 9), 0xCBF43926u);
    EXPECT_EQ(kest::Crc64WithKernel(k, digits, 9), 0x62EC59E3F1A4F00Aull);
  }
}

TEST(Crc, ZeroLengthIsZeroWithoutReading) {
  EXPECT_EQ(CRC32(nullptr, 0), 0u);
  EXPECT_EQ(CRC64(nullptr, 0), 0u);
  const char byte = 'x';
  EXPECT_EQ(CRC32(&byte, 0), 0u);
  EXPECT_EQ(CRC64(&byte, 0), 0u);
}

TEST(Crc, KnownVectors) {
  // Single bytes and a longer text, computed independently of this library's tables.
  const char a = 'a';
  EXPECT_EQ(CRC32(&a, 1), 0xE8B7BE43u);
  const char* fox = "The quick brown fox jumps over the lazy dog";
  EXPECT_EQ(CRC32(fox, std::strlen(fox)), 0x414FA339u);
  const std::vector<unsigned char> zeros(32, 0);
  EXPECT_EQ(CRC32(zeros.data(), zeros.size()), 0x190A55ADu);
}

// Every kernel agrees with the one-byte-per-step reference for every length up to 4096 and every
// start alignment, on random data.
TEST(Crc, KernelsMatchBytewiseReference) {
  std::mt19937_64 rng(20261206);
  std::vector<unsigned char> buffer(4096 + 64);
  for (auto& b : buffer) b = static_cast<unsigned char>(rng());
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
  }
}

TEST(Crc, LargeInputsAgreeAcrossKernels) {
  std::vector<unsigned char> big(1 << 20);
  std::mt19937_64 rng(7);
  for (auto& b : big) b = static_cast<unsigned char>(rng());
  const uint32_t want32 = kest::Crc32WithKernel(CrcKernel::kBytewise, big.data(), big.size());
  const uint64_t want64 = kest::Crc64WithKernel(CrcKernel::kBytewise, big.data(), big.size());
  EXPECT_EQ(CRC32(big.data(), big.size()), want32);
  EXPECT_EQ(CRC64(big.data(), big.size()), want64);
  for (CrcKernel k : kAllKernels) {
    SCOPED_TRACE(kest::CrcKernelName(k));
    EXPECT_EQ(kest::Crc32WithKernel(k, big.data(), big.size()), want32);
    EXPECT_EQ(kest::Crc64WithKernel(k, big.data(), big.size()), want64);
  }
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
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  // Asked of the processor without the library: carry-less multiply means a folding kernel.
  const bool pclmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1") &&
                      __builtin_cpu_supports("ssse3");
  EXPECT_EQ(kest::CrcKernelSupported(CrcKernel::kPclmul), pclmul);
  if (pclmul) {
    EXPECT_NE(kest::ActiveCrcKernel(), CrcKernel::kSlicing8);
  }
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

TEST(Crc, ActiveKernelIsSupported) {
  EXPECT_TRUE(kest::CrcKernelSupported(kest::ActiveCrcKernel()));
  EXPECT_TRUE(kest::CrcKernelSupported(CrcKernel::kSlicing8));
}

}  // namespace
