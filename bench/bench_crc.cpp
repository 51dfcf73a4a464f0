// CRC32 and CRC64 against zlib, ISA-L and a plain read of the same bytes, plus the library's own
// portable kernels, at the sizes that matter: short keys, records, pages and large buffers.
#include <benchmark/benchmark.h>
#include <isa-l.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_main.h"
#include "kest/util/crc.h"

// ISA-L's own CRC-32 kernel for processors with AVX but not AVX-512 (128-bit folds), which its
// dispatcher runs there; exported by the library, not declared in its headers. Its CRC-64
// counterpart on such processors is crc64_ecma_norm_by8, which the headers declare.
extern "C" uint32_t crc32_gzip_refl_by8_02(uint32_t init_crc, const unsigned char* buf,
                                           uint64_t len);

namespace {

const std::vector<unsigned char>& Data() {
  static const std::vector<unsigned char> data = [] {
    std::vector<unsigned char> d((1 << 20) + 64);
    std::mt19937_64 rng(1);
    for (auto& b : d) b = static_cast<unsigned char>(rng());
    return d;
  }();
  return data;
}

template <typename Fn>
void Run(benchmark::State& state, Fn fn) {
  const size_t n = static_cast<size_t>(state.range(0));
  const unsigned char* p = Data().data();
  for (auto _ : state) {
    benchmark::DoNotOptimize(p);
    auto crc = fn(p, n);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

// The floor: reading every 8-byte word once.
uint64_t ReadAll(const unsigned char* p, size_t n) {
  uint64_t acc = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t v;
    std::memcpy(&v, p + i, 8);
    acc ^= v;
  }
  for (; i < n; ++i) acc ^= p[i];
  return acc;
}

void CheckAnchorsAgree() {
  const auto& d = Data();
  for (size_t n : {size_t{20}, size_t{200}, size_t{4096}, size_t{1} << 20}) {
    const uint32_t ours32 = CRC32(d.data(), n);
    const uint64_t ours64 = CRC64(d.data(), n);
    if (ours32 != crc32(0, d.data(), static_cast<uInt>(n)) ||
        ours32 != crc32_gzip_refl(0, d.data(), n) || ours64 != crc64_ecma_norm(0, d.data(), n) ||
        ours32 != crc32_gzip_refl_by8_02(0, d.data(), n) ||
        ours64 != crc64_ecma_norm_by8(0, d.data(), n)) {
      std::fprintf(stderr, "anchors disagree with the library at %zu bytes\n", n);
      std::exit(1);
    }
  }
}

const int64_t kSizes[] = {20, 200, 4096, 1 << 20};

std::string Name(const char* fn, const char* impl, int64_t size) {
  return std::string(fn) + "/" + impl + "/" + std::to_string(size);
}

struct Registrar {
  Registrar() {
    CheckAnchorsAgree();
    for (int64_t size : kSizes) {
      benchmark::RegisterBenchmark(Name("CRC32", "kest", size).c_str(), [](benchmark::State& s) {
        Run(s, [](const unsigned char* p, size_t n) { return CRC32(p, n); });
      })->Arg(size);
      benchmark::RegisterBenchmark(Name("CRC32", "slicing8", size).c_str(), [](benchmark::State&
                                                                                   s) {
        Run(s, [](const unsigned char* p, size_t n) {
          return kest::Crc32WithKernel(kest::CrcKernel::kSlicing8, p, n);
        });
      })->Arg(size);
      benchmark::RegisterBenchmark(Name("CRC32", "pclmul", size).c_str(), [](benchmark::State& s) {
        Run(s, [](const unsigned char* p, size_t n) {
          return kest::Crc32WithKernel(kest::CrcKernel::kPclmul, p, n);
        });
      })->Arg(size);
      // The 256-bit kernel is what most current cores run (no AVX-512); measured on its own
      // whenever the processor has it, whatever the dispatch chose here. A forced kernel pays for
      // choosing it on every call (about 3 ns), which only short inputs notice: CRC32 and CRC64
      // use the kernel chosen once.
      if (kest::CrcKernelSupported(kest::CrcKernel::kVpclmul256)) {
        benchmark::RegisterBenchmark(Name("CRC32", "vpclmul256", size).c_str(), [](benchmark::State&
                                                                                       s) {
          Run(s, [](const unsigned char* p, size_t n) {
            return kest::Crc32WithKernel(kest::CrcKernel::kVpclmul256, p, n);
          });
        })->Arg(size);
        benchmark::RegisterBenchmark(Name("CRC64", "vpclmul256", size).c_str(), [](benchmark::State&
                                                                                       s) {
          Run(s, [](const unsigned char* p, size_t n) {
            return kest::Crc64WithKernel(kest::CrcKernel::kVpclmul256, p, n);
          });
        })->Arg(size);
      }
      benchmark::RegisterBenchmark(Name("CRC32", "zlib", size).c_str(), [](benchmark::State& s) {
        Run(s, [](const unsigned char* p, size_t n) { return crc32(0, p, static_cast<uInt>(n)); });
      })->Arg(size);
      benchmark::RegisterBenchmark(Name("CRC32", "isal", size).c_str(), [](benchmark::State& s) {
        Run(s, [](const unsigned char* p, size_t n) { return crc32_gzip_refl(0, p, n); });
      })->Arg(size);
      benchmark::RegisterBenchmark(Name("CRC64", "kest", size).c_str(), [](benchmark::State& s) {
        Run(s, [](const unsigned char* p, size_t n) { return CRC64(p, n); });
      })->Arg(size);
      benchmark::RegisterBenchmark(Name("CRC64", "slicing8", size).c_str(), [](benchmark::State&
                                                                                   s) {
        Run(s, [](const unsigned char* p, size_t n) {
          return kest::Crc64WithKernel(kest::CrcKernel::kSlicing8, p, n);
        });
      })->Arg(size);
      benchmark::RegisterBenchmark(Name("CRC64", "pclmul", size).c_str(), [](benchmark::State& s) {
        Run(s, [](const unsigned char* p, size_t n) {
          return kest::Crc64WithKernel(kest::CrcKernel::kPclmul, p, n);
        });
      })->Arg(size);
      benchmark::RegisterBenchmark(Name("CRC64", "isal", size).c_str(), [](benchmark::State& s) {
        Run(s, [](const unsigned char* p, size_t n) { return crc64_ecma_norm(0, p, n); });
      })->Arg(size);
      // What ISA-L runs on a processor without AVX-512, measured here whatever it dispatches to.
      benchmark::RegisterBenchmark(Name("CRC32", "isal128", size).c_str(), [](benchmark::State& s) {
        Run(s, [](const unsigned char* p, size_t n) { return crc32_gzip_refl_by8_02(0, p, n); });
      })->Arg(size);
      benchmark::RegisterBenchmark(Name("CRC64", "isal128", size).c_str(), [](benchmark::State& s) {
        Run(s, [](const unsigned char* p, size_t n) { return crc64_ecma_norm_by8(0, p, n); });
      })->Arg(size);
      benchmark::RegisterBenchmark(Name("Read", "memory", size).c_str(), [](benchmark::State& s) {
        Run(s, ReadAll);
      })->Arg(size);

      // Google Benchmark appends the argument to the name: "CRC32/kest/20/20".
      auto full = [size](const char* fn, const char* impl) {
        return Name(fn, impl, size) + "/" + std::to_string(size);
      };
      const std::string sz = std::to_string(size) + " B";
      using kest::bench::AddRatio;
      AddRatio("CRC32 " + sz + ": library / ISA-L", full("CRC32", "kest"), full("CRC32", "isal"));
      AddRatio("CRC32 " + sz + ": library / zlib", full("CRC32", "kest"), full("CRC32", "zlib"));
      AddRatio("CRC64 " + sz + ": library / ISA-L", full("CRC64", "kest"), full("CRC64", "isal"));
      AddRatio("CRC32 " + sz + ": library / memory read", full("CRC32", "kest"),
               full("Read", "memory"));
      if (kest::CrcKernelSupported(kest::CrcKernel::kVpclmul256)) {
        AddRatio("CRC32 " + sz + ": 256-bit vpclmul / ISA-L", full("CRC32", "vpclmul256"),
                 full("CRC32", "isal"));
        AddRatio("CRC64 " + sz + ": 256-bit vpclmul / ISA-L", full("CRC64", "vpclmul256"),
                 full("CRC64", "isal"));
        // Where 256 bits is the widest a core has (AVX2 with VPCLMULQDQ, no AVX-512) the library
        // runs this kernel and ISA-L its 128-bit one; both measured on this machine.
        AddRatio("CRC32 " + sz + ": 256-bit vpclmul / ISA-L without AVX-512",
                 full("CRC32", "vpclmul256"), full("CRC32", "isal128"));
        AddRatio("CRC64 " + sz + ": 256-bit vpclmul / ISA-L without AVX-512",
                 full("CRC64", "vpclmul256"), full("CRC64", "isal128"));
        // What the 256-bit kernel gains over the library's own 128-bit kernel.
        AddRatio("CRC32 " + sz + ": 256-bit vpclmul / 128-bit pclmul", full("CRC32", "vpclmul256"),
                 full("CRC32", "pclmul"));
        AddRatio("CRC64 " + sz + ": 256-bit vpclmul / 128-bit pclmul", full("CRC64", "vpclmul256"),
                 full("CRC64", "pclmul"));
      }
      AddRatio("CRC32 " + sz + ": 128-bit pclmul / slicing-by-8", full("CRC32", "pclmul"),
               full("CRC32", "slicing8"));
      AddRatio("CRC64 " + sz + ": 128-bit pclmul / slicing-by-8", full("CRC64", "pclmul"),
               full("CRC64", "slicing8"));
    }
  }
} registrar;

}  // namespace
