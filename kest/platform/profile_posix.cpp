#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "kest/base/ini_text.h"
#include "kest/base/utf.h"
#include "kest/platform/file.h"
#include "kest/platform/profile.h"

namespace kest::platform {
namespace {

// Profile files are small; anything larger is not one.
constexpr size_t kMaxProfileBytes = 16u << 20;

constinit std::mutex g_writers;
std::atomic<unsigned> g_temp_serial{0};
std::atomic<int> g_fail_stage{0};

// The failure a test asked for at `stage`, once.
bool Fails(int stage) {
  int expected = stage;
  return g_fail_stage.compare_exchange_strong(expected, 0);
}

// The file a write must replace: the target of a symbolic link, so the link stays a link.
std::string WriteTarget(const std::string& path) {
  char resolved[PATH_MAX];
  struct stat info;
  if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode) &&
      realpath(path.c_str(), resolved) != nullptr) {
    return resolved;
  }
  return path;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Replaces `path` with `bytes` whole: a temporary file beside it, the same mode, flushed, renamed.
bool ReplaceFile(const std::string& path, const std::string& bytes) {
  mode_t mode = 0644;
  struct stat info;
  if (stat(path.c_str(), &info) == 0) mode = info.st_mode & 07777;
  const std::string temp =
      path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(g_temp_serial.fetch_add(1));
  const int fd = Fails(1) ? -1 : open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return false;
  bool ok =
      fchmod(fd, mode) == 0 && !Fails(2) && WriteAll(fd, bytes) && !Fails(3) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok) ok = !Fails(4) && rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  // The rename itself reaches the disk with the folder.
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

// Holds the advisory lock on "<file>.lock" while it lives; the lock file is never replaced, so
// every writer waits on the same inode.
class FileLock {
 public:
  explicit FileLock(const std::string& path)
      : fd_(open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd_ >= 0) {
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) close(fd_);  // closing lets the lock go
  }
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Copies `text` into `buffer` of `size` units: cut to size - 1 with a NUL.
uint32_t CopyValue(std::u16string_view text, char16_t* buffer, uint32_t size) {
  const size_t n = text.size() < size - 1 ? text.size() : size - 1;
  for (size_t i = 0; i < n; ++i) buffer[i] = text[i];
  buffer[n] = 0;
  return static_cast<uint32_t>(n);
}

// Copies a list of names, each NUL-terminated, then one more NUL; a list that does not fit ends
// with its last name cut and two NULs, and size - 2 is returned. An empty list is one NUL, or two
// when what was listed is missing (`missing`), as Windows writes them.
uint32_t CopyList(const std::vector<std::u16string>& names, char16_t* buffer, uint32_t size,
                  bool missing) {
  if (size < 2) {
    buffer[0] = 0;
    return 0;
  }
  size_t at = 0;
  for (const std::u16string& name : names) {
    for (char16_t c : name) {
      if (at + 2 >= size) {
        buffer[size - 2] = 0;
        buffer[size - 1] = 0;
        return size - 2;
      }
      buffer[at++] = c;
    }
    if (at + 2 >= size) {
      buffer[size - 2] = 0;
      buffer[size - 1] = 0;
      return size - 2;
    }
    buffer[at++] = 0;
  }
  buffer[at] = 0;
  if (at == 0 && missing) buffer[1] = 0;
  return static_cast<uint32_t>(at);
}

// The file's bytes; empty, and `exists` false, when it cannot be read.
std::string ReadFileBytes(const char16_t* file, bool& exists) {
  std::string bytes;
  exists = file != nullptr && ReadWholeFile(file, kMaxProfileBytes, bytes) == FileReadStatus::kOk;
  if (!exists) bytes.clear();
  return bytes;
}

}  // namespace

uint32_t ReadProfileText(const char16_t* section, const char16_t* key, const char16_t* fallback,
                         char16_t* buffer, uint32_t size, const char16_t* file) noexcept {
  if (buffer == nullptr || size == 0) return 0;
  try {
    bool exists = false;
    const IniText ini(ReadFileBytes(file, exists));
    if (section == nullptr) return CopyList(ini.Sections(), buffer, size, false);
    if (key == nullptr) {
      // Every file has the nameless section of the lines before its first header; a file that is
      // not there has none.
      bool found = false;
      const std::vector<std::u16string> keys = ini.Keys(section, &found);
      return CopyList(keys, buffer, size, !found || !exists);
    }
    std::u16string value;
    if (ini.Find(section, key, value)) return CopyValue(value, buffer, size);
    std::u16string_view def = fallback != nullptr ? fallback : u"";
    while (!def.empty() && def.back() == u' ') def.remove_suffix(1);
    return CopyValue(def, buffer, size);
  } catch (const std::bad_alloc&) {
    buffer[0] = 0;
    return 0;
  }
}

namespace {

// Applies `edit` to the text of `file` under the writers' locks and replaces the file when the
// text changed.
template <typename Edit>
bool EditProfile(const char16_t* file, Edit edit) noexcept {
  try {
    const std::string path = WriteTarget(ToUtf8(file));
    std::lock_guard in_process(g_writers);
    const FileLock across_processes(path);
    if (!across_processes.Held()) return false;
    std::string bytes;
    const FileReadStatus status = ReadWholeFile(ToUtf16(path), kMaxProfileBytes, bytes);
    if (status != FileReadStatus::kOk && status != FileReadStatus::kMissing) return false;
    IniText ini(bytes);
    if (!edit(ini)) return true;  // nothing to change
    return ReplaceFile(path, ini.Bytes());
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

bool WriteProfileText(const char16_t* section, const char16_t* key, const char16_t* value,
                      const char16_t* file) noexcept {
  if (section == nullptr || file == nullptr || *file == 0) return false;
  return EditProfile(file, [&](IniText& ini) { return ini.Set(section, key, value); });
}

bool WriteProfileValues(const char16_t* section, const ProfileValue* values, size_t count,
                        const char16_t* file) noexcept {
  if (section == nullptr || file == nullptr || *file == 0 || (values == nullptr && count != 0)) {
    return false;
  }
  return EditProfile(file, [&](IniText& ini) {
    bool changed = false;
    for (size_t i = 0; i < count; ++i) {
      if (values[i].key != nullptr)
        changed = ini.Set(section, values[i].key, values[i].value) || changed;
    }
    return changed;
  });
}

void FailProfileReplaceForTesting(int stage) noexcept { g_fail_stage.store(stage); }

}  // namespace kest::platform
