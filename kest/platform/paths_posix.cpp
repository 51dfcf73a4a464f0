#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include "kest/base/utf.h"
#include "kest/base/wildcard.h"
#include "kest/platform/paths.h"

namespace kest::platform {
namespace detail {
extern std::atomic<const char16_t*> g_fake_executable_path;
}  // namespace detail

const char16_t kPathSeparator = u'/';

std::u16string ExecutablePath() {
  if (const char16_t* fake = detail::g_fake_executable_path.load(std::memory_order_relaxed)) {
    return fake;
  }
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) {
      return ToUtf16(std::string_view(buffer.data(), static_cast<size_t>(n)));
    }
    buffer.resize(buffer.size() * 2);  // cut to the buffer: try a bigger one
  }
}

std::u16string SystemFolder() { return u"/usr/lib"; }

void ListFolder(std::u16string_view folder, std::u16string_view pattern,
                const std::function<void(std::u16string_view name, bool is_directory)>& visit) {
  const std::string path = ToUtf8(folder);
  const std::u16string wanted(pattern);  // NUL-terminated for the matcher
  DIR* dir = opendir(path.empty() ? "." : path.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    const std::u16string name = ToUtf16(entry->d_name);
    if (!MatchesWildcard(wanted.c_str(), name.c_str())) continue;
    bool is_directory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      // The entry type is not known without a look (or it is a link): ask for what it points to.
      struct stat info;
      const std::string full =
          path + (path.empty() || path.back() == '/' ? "" : "/") + entry->d_name;
      is_directory = stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    visit(name, is_directory);
  }
  closedir(dir);
}

}  // namespace kest::platform
