// Shared by the string tests: puts the manager's switches back and empties its caches around each
// test, so tests see exact sizes and counters whatever ran before them.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "kest/strings/string_manager.h"

class StringManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_ = static_cast<CVelStringMgr*>(GetVelStringManager());
    Reset();
  }
  void TearDown() override { Reset(); }

  static void Reset() {
    gbStringCacheEnabled = false;
    VelStringDisableCaching();
    VelStringReleaseCachedMemory(true);
    gStringRoundSize = 0;
    gbFillMemOnFree = 0;
    gbAllowSharedVelStrings = true;
    gpHandleHeapFreeException = nullptr;
  }

  int64_t Bytes() const { return manager_->byte_total(); }
  int32_t Blocks() const { return manager_->heap_block_count(); }
  int32_t Live() const { return manager_->live_string_count(); }

  // Blocks cached for class `index`: on its stack plus in this thread's magazine.
  static uint32_t CachedIn(int index) {
    kest::StringCacheClassInfo info{};
    kest::GetStringCacheClassInfo(index, info);
    return info.count + info.thread_count;
  }
  static uint32_t OnStack(int index) {
    kest::StringCacheClassInfo info{};
    kest::GetStringCacheClassInfo(index, info);
    return info.count;
  }

  // Allocates `count` blocks of `chars` characters, then frees them all.
  void Cycle(int count, int chars) {
    std::vector<CVelStringData*> made;
    for (int i = 0; i < count; ++i) made.push_back(manager_->Allocate(chars, 2));
    for (CVelStringData* b : made) manager_->Free(b);
  }

  CVelStringMgr* manager_ = nullptr;
};
