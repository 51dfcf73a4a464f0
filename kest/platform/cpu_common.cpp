#include <atomic>

#include "kest/platform/cpu.h"

namespace kest::platform {
namespace {

std::atomic<const CpuFeatures*> g_features_for_testing{nullptr};

}  // namespace

const CpuFeatures& GetCpuFeatures() noexcept {
  if (const CpuFeatures* fake = g_features_for_testing.load(std::memory_order_acquire))
    return *fake;
  static const CpuFeatures features = DetectCpuFeatures();
  return features;
}

void SetCpuFeaturesForTesting(const CpuFeatures* features) noexcept {
  g_features_for_testing.store(features, std::memory_order_release);
}

}  // namespace kest::platform
