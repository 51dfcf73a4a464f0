// What a serving host does once per process before any request: a thread slot allocated and
// published in gCentralCtxTLSIndex. Benchmarks hold one for their run, so the library takes the
// path a host really runs.
#pragma once

#include <cstdint>

#include "kest/context/central_context.h"
#include "kest/platform/tls.h"

namespace kest::bench {

struct SlotScope {
  SlotScope() : slot(platform::AllocateThreadSlot()) { gCentralCtxTLSIndex = slot; }
  ~SlotScope() {
    gCentralCtxTLSIndex = 0;
    platform::FreeThreadSlot(slot);
  }
  SlotScope(const SlotScope&) = delete;
  SlotScope& operator=(const SlotScope&) = delete;
  uint32_t slot;
};

}  // namespace kest::bench
