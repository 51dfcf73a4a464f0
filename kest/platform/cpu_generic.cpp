#include "kest/platform/cpu.h"

namespace kest::platform {

const CpuFeatures& GetCpuFeatures() noexcept {
  static const CpuFeatures none;
  return none;
}

}  // namespace kest::platform
