#include "kest/app/app_paths.h"

#include <atomic>

#include "kest/context/lock_cs.h"
#include "kest/platform/paths.h"

namespace {

// Filled once under the fill lock; readers that see the flag set (acquire) read it without the
// lock, since it never changes afterwards.
VelString* g_app_folder = nullptr;
std::atomic<bool> g_app_folder_known{false};

CLockCS& FillLock() {
  static CLockCS lock;
  return lock;
}

const VelString& AppFolder() {
  if (!g_app_folder_known.load(std::memory_order_acquire)) {
    CAcquireCS guard(FillLock());
    if (!g_app_folder_known.load(std::memory_order_relaxed)) {
      VelString path(kest::platform::ExecutablePath());
      const int cut = path.ReverseFind(kest::platform::kPathSeparator);
      if (cut >= 0) path.Truncate(cut + 1);
      // Kept for the life of the process (never freed: code running at exit may still ask).
      VelString* folder = new VelString(std::move(path));
      delete g_app_folder;
      g_app_folder = folder;
      g_app_folder_known.store(true, std::memory_order_release);
    }
  }
  return *g_app_folder;
}

// Where a pattern's folder part ends: after its last separator ('/' also counts on Windows).
int FolderPartLength(const VelString& pattern) {
  for (int i = pattern.GetLength() - 1; i >= 0; --i) {
    if (pattern[i] == kest::platform::kPathSeparator || pattern[i] == u'/') return i + 1;
  }
  return 0;
}

}  // namespace

VelString GetPathInAppFolder(const char16_t* name) {
  return AppFolder() + (name != nullptr ? name : u"");
}

std::vector<VelString> GetFilesInAppFolder(const char16_t* pattern) {
  std::vector<VelString> files;
  if (pattern == nullptr || *pattern == 0) return files;
  const VelString whole(pattern);
  const int folder_length = FolderPartLength(whole);
  const VelString folder = AppFolder() + whole.Left(folder_length);
  const VelString name_pattern = whole.Mid(folder_length);
  if (name_pattern.IsEmpty()) return files;
  kest::platform::ListFolder(folder.View(), name_pattern.View(),
                             [&](std::u16string_view name, bool is_directory) {
                               if (is_directory || name.empty() || name[0] == u'.') return;
                               VelString path = folder;
                               path += name;
                               files.push_back(std::move(path));
                             });
  return files;
}

VelString GetFilePathInSystem32(const char16_t* name) {
  VelString path(kest::platform::SystemFolder());
  path += kest::platform::kPathSeparator;
  path += name;
  return path;
}

namespace kest {

void ResetAppFolderForTesting() noexcept {
  g_app_folder_known.store(false, std::memory_order_release);
}

}  // namespace kest
