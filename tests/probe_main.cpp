// A helper process for the module tests: an executable without a file version.
//   kest_probe version   prints what "$VER$" becomes in "[$VER$]" (UTF-8)
//   kest_probe exit      four threads build resource strings while the main thread calls exit(3)
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "kest/KestCommon.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "version") == 0) {
    const char16_t* constant = nullptr;
    CheckAndAssignConstantValue(u"[$VER$] [ $VER$ ]", constant, false);
    std::printf("%s\n", kest::ToUtf8(constant).c_str());
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "exit") == 0) {
    std::atomic<int> built{0};
    for (int t = 0; t < 4; ++t) {
      std::thread([&built, t] {
        for (int i = 0;; ++i) {
          const String text(static_cast<uint16_t>(i % 2 ? IDS_CANT_CONNECT : IDS_BASE_LANGUAGE), i,
                            t, nullptr);
          const String missing(static_cast<uint16_t>(9000 + i % 50), nullptr);
          built.fetch_add(text.GetLength() > 0 && missing.GetLength() > 0 ? 1 : 0);
        }
      }).detach();
    }
    while (built.load() < 1000) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::exit(3);
  }
  std::fprintf(stderr, "usage: kest_probe version|exit\n");
  return 2;
}
