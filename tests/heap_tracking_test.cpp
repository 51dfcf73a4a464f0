// Heap-creation tracking: the switch at load (child processes), and in this process through the
// install seam: the stored text's shape, heaps made by a capture, reused handles, and threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "kest/base/utf.h"
#include "kest/diag/heap_tracking.h"
#include "kest/diag/stack_trace.h"
#include "kest/platform/heap.h"
#include "kest/platform/registry.h"
#include "scratch_path.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

// The switch is read when the library loads, so each value is tried in a child process that
// loads it afresh: with a registry file of its own on POSIX, with Wine's registry on Windows.
TEST(HeapTrackingSwitch, OnlyOneInstallsTheHook) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
#if !defined(_WIN32)
  const std::string file = ScratchPath("kest_heap_switch_").string() + ".reg";
  setenv("KEST_REGISTRY_FILE", file.c_str(), 1);
#endif
  const struct {
    bool write;
    uint32_t value;
    int installed;
  } cases[] = {{true, 1, 1}, {true, 2, 0}, {true, 0, 0}, {false, 0, 0}};
  for (const auto& c : cases) {
    kest::platform::DeleteMachineKeyForTesting(u"software\\Quillon");
    if (c.write) {
      ASSERT_TRUE(kest::platform::WriteMachineDwordForTesting(u"software\\Quillon",
                                                              u"HookHeapCreate", c.value));
    }
    EXPECT_EXIT(std::_Exit(kest::HeapTrackingInstalled() ? 1 : 0),
                testing::ExitedWithCode(c.installed), "")
        << c.value;
  }
  kest::platform::DeleteMachineKeyForTesting(u"software\\Quillon");
#if !defined(_WIN32)
  std::remove(file.c_str());
  unsetenv("KEST_REGISTRY_FILE");
#endif
}

kest::platform::HeapHandle NewHeap() {
#if defined(_WIN32)
  return HeapCreate(0, 0, 0);
#else
  return kest::platform::CreatePrivateHeap();
#endif
}

void DropHeap(kest::platform::HeapHandle heap) {
#if defined(_WIN32)
  HeapDestroy(heap);
#else
  kest::platform::DestroyPrivateHeap(heap);
#endif
}

std::u16string StackOf(kest::platform::HeapHandle heap) {
  const std::map<void*, VelString>* stacks = GetHeapCreationStacks();
  const auto found = stacks->find(heap);
  return found == stacks->end() ? u"(none)" : std::u16string(found->second.View());
}

}  // namespace

extern "C" [[gnu::noinline]] kest::platform::HeapHandle kest_heap_maker_a() {
  kest::platform::HeapHandle heap = NewHeap();
  asm volatile("" ::: "memory");
  return heap;
}
extern "C" [[gnu::noinline]] kest::platform::HeapHandle kest_heap_maker_b() {
  kest::platform::HeapHandle heap = NewHeap();
  asm volatile("" ::: "memory");
  return heap;
}

namespace {

class HeapTracking : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { kest::InstallHeapTrackingForTesting(); }
};

// Every line indented by a tab, the text ending in a line feed and a tab, naming its creator.
TEST_F(HeapTracking, StoresTheCreatingStackIndented) {
  const kest::platform::HeapHandle heap = kest_heap_maker_a();
  ASSERT_NE(heap, nullptr);
  const std::u16string text = StackOf(heap);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.front(), u'\t');
  EXPECT_EQ(text.substr(text.size() - 2), u"\n\t");
  for (size_t at = text.find(u'\n'); at != std::u16string::npos && at + 1 < text.size();
       at = text.find(u'\n', at + 1))
    EXPECT_EQ(text[at + 1], u'\t');
  EXPECT_NE(text.find(u"\tSymInit:"), std::u16string::npos);
  EXPECT_NE(text.find(u"kest_heap_maker_a"), std::u16string::npos);
  DropHeap(heap);
}

// A heap made while a trace is under way on the same thread is recorded with an empty text.
TEST_F(HeapTracking, AHeapMadeByACaptureIsRecordedEmpty) {
  class MakesAHeap : public StackWalker {
   public:
    void EmitLine(const char*) override {
      if (heap == nullptr) heap = NewHeap();
    }
    kest::platform::HeapHandle heap = nullptr;
  } walker;
  walker.ShowCallstack();
  ASSERT_NE(walker.heap, nullptr);
  EXPECT_EQ(StackOf(walker.heap), u"");
  DropHeap(walker.heap);
}

// A handle value that comes back gets the newer stack; the copy handed out does not change.
TEST_F(HeapTracking, AReusedHandleHoldsTheLaterStack) {
  kest::platform::HeapHandle first = kest_heap_maker_a();
  const kest::platform::HeapHandle original = first;
  const std::map<void*, VelString>& kept = *GetHeapCreationStacks();
  DropHeap(first);
  kest::platform::HeapHandle second = kest_heap_maker_b();
  for (int attempt = 0; attempt < 20 && second != first; ++attempt) {
    DropHeap(second);
    first = kest_heap_maker_a();
    DropHeap(first);
    second = kest_heap_maker_b();
  }
  // This thread's copy is replaced only by its next call.
  EXPECT_NE(kept.at(original).View().find(u"kest_heap_maker_a"), std::u16string_view::npos);
  if (second != first) {
    DropHeap(second);
    GTEST_SKIP() << "the system gave no handle twice (a sanitizer holds freed memory back)";
  }
  const std::u16string text = StackOf(second);
  EXPECT_NE(text.find(u"kest_heap_maker_b"), std::u16string::npos);
  EXPECT_EQ(text.find(u"kest_heap_maker_a"), std::u16string::npos);
  DropHeap(second);
}

// Creators on several threads and readers meanwhile: every heap is recorded, each text whole.
TEST_F(HeapTracking, ConcurrentCreatorsAndReaders) {
  std::vector<std::vector<kest::platform::HeapHandle>> made(4);
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done) {
      for (const auto& [heap, text] : *GetHeapCreationStacks()) {
        const std::u16string_view units = text.View();
        torn += !units.empty() && (units.front() != u'\t' || units.back() != u'\t');
      }
    }
  });
  std::vector<std::thread> creators;
  for (int t = 0; t < 4; ++t)
    creators.emplace_back([&made, t] {
      for (int i = 0; i < 10; ++i) made[t].push_back(kest_heap_maker_a());
    });
  for (auto& creator : creators) creator.join();
  done = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
  const std::map<void*, VelString>* stacks = GetHeapCreationStacks();
  for (const auto& heaps : made) {
    for (kest::platform::HeapHandle heap : heaps) {
      EXPECT_EQ(stacks->count(heap), 1u);
      DropHeap(heap);
    }
  }
}

#if defined(_WIN32)
// A module loaded after tracking is installed has its HeapCreate import patched as it loads.
TEST_F(HeapTracking, AModuleLoadedLaterIsTracked) {
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const std::filesystem::path dll =
      std::filesystem::path(exe).parent_path() / "kest_test_module.dll";
  HMODULE module = LoadLibraryW(dll.wstring().c_str());
  ASSERT_NE(module, nullptr);
  using Make = void* (*)();
  const auto make = reinterpret_cast<Make>(
      reinterpret_cast<void*>(GetProcAddress(module, "KestTestModuleMakeHeap")));
  ASSERT_NE(make, nullptr);
  void* heap = make();
  ASSERT_NE(heap, nullptr);
  EXPECT_NE(StackOf(heap).find(u"KestTestModuleMakeHeap"), std::u16string::npos)
      << kest::ToUtf8(StackOf(heap));
  HeapDestroy(heap);
}
#endif

}  // namespace
