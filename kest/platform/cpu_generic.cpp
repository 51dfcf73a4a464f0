#include "kest/platform/cpu.h"

namespace kest::platform {

CpuFeatures DetectCpuFeatures() noexcept { return CpuFeatures(); }

}  // namespace kest::platform
