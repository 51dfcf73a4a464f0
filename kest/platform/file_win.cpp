#include <windows.h>

#include <string>

#include "kest/platform/file.h"

namespace kest::platform {
namespace {

std::wstring WidePath(std::u16string_view path) {
  return std::wstring(reinterpret_cast<const wchar_t*>(path.data()), path.size());
}

}  // namespace

FileReadStatus ReadWholeFile(std::u16string_view path, size_t max_bytes, std::string& bytes) {
  bytes.clear();
  const std::wstring wide = WidePath(path);
  // A folder is no file (CreateFileW would refuse it as access denied).
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return FileReadStatus::kMissing;
  }
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
               ? FileReadStatus::kMissing
               : FileReadStatus::kUnreadable;
  }
  // A pipe or a console opened by name is no file: reading it could wait for a writer.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return FileReadStatus::kMissing;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) {
    CloseHandle(file);
    return FileReadStatus::kUnreadable;
  }
  if (static_cast<unsigned long long>(size.QuadPart) > max_bytes) {
    CloseHandle(file);
    return FileReadStatus::kTooLarge;
  }
  // Read to the end of file, which may have moved since the size was taken, never past the cap.
  std::string content(static_cast<size_t>(size.QuadPart), '\0');
  size_t done = 0;
  for (;;) {
    if (done == content.size()) {
      if (content.size() >= max_bytes) {
        char probe;
        DWORD more = 0;
        const BOOL ok = ReadFile(file, &probe, 1, &more, nullptr);
        CloseHandle(file);
        if (!ok) return FileReadStatus::kUnreadable;
        if (more > 0) return FileReadStatus::kTooLarge;
        break;
      }
      const size_t grow = content.size() < 4096 ? 4096 : content.size();
      content.resize(max_bytes - content.size() < grow ? max_bytes : content.size() + grow);
    }
    const size_t want = content.size() - done;
    DWORD got = 0;
    if (!ReadFile(file, content.data() + done,
                  want > 0x40000000 ? 0x40000000 : static_cast<DWORD>(want), &got, nullptr)) {
      CloseHandle(file);
      return FileReadStatus::kUnreadable;
    }
    if (got == 0) {
      CloseHandle(file);
      break;
    }
    done += got;
  }
  content.resize(done);
  bytes = std::move(content);
  return FileReadStatus::kOk;
}

bool FileExists(std::u16string_view path) {
  const std::wstring wide = WidePath(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::u16string FindFileIgnoringCase(std::u16string_view folder, std::u16string_view name) {
  std::u16string path(folder);
  path += name;
  return path;
}

std::u16string UserUiLocale() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  const LCID lcid = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
  const int n = LCIDToLocaleName(lcid, name, LOCALE_NAME_MAX_LENGTH, 0);
  if (n <= 1) return u"EN";
  return std::u16string(reinterpret_cast<const char16_t*>(name), static_cast<size_t>(n - 1));
}

}  // namespace kest::platform
