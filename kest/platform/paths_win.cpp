#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "kest/platform/paths.h"

namespace kest::platform {
namespace detail {
extern std::atomic<const char16_t*> g_fake_executable_path;
}  // namespace detail

const char16_t kPathSeparator = u'\\';

namespace {

const wchar_t* Wide(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
const char16_t* Utf16(const wchar_t* s) { return reinterpret_cast<const char16_t*>(s); }

}  // namespace

std::u16string ExecutablePath() {
  if (const char16_t* fake = detail::g_fake_executable_path.load(std::memory_order_relaxed)) {
    return fake;
  }
  // GetModuleFileNameW cuts the path to the buffer; grow until it fits (paths reach 32767).
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size() - 1 || buffer.size() > 65536) {
      return std::u16string(Utf16(buffer.data()), n);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::u16string SystemFolder() {
  const UINT needed = GetSystemDirectoryW(nullptr, 0);
  if (needed == 0) return {};
  std::vector<wchar_t> buffer(needed + 1);
  const UINT n = GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
  if (n == 0 || n >= buffer.size()) return {};
  return std::u16string(Utf16(buffer.data()), n);
}

void ListFolder(std::u16string_view folder, std::u16string_view pattern,
                const std::function<void(std::u16string_view name, bool is_directory)>& visit) {
  std::u16string search(folder);
  if (!search.empty() && search.back() != u'\\' && search.back() != u'/') search += u'\\';
  search += pattern;
  WIN32_FIND_DATAW data = {};
  HANDLE find = FindFirstFileW(Wide(search), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    visit(std::u16string_view(Utf16(data.cFileName)),
          (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

}  // namespace kest::platform
