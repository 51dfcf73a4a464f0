#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "kest/base/utf.h"
#include "kest/platform/file.h"
#include "kest/platform/paths.h"

namespace kest::platform {
namespace {

// A locale name as a tag: "pt_BR.UTF-8@euro" -> "pt-BR"; empty for C and POSIX.
std::string LocaleTag(std::string_view locale) {
  const size_t cut = locale.find_first_of(".@");
  std::string tag(locale.substr(0, cut));
  if (tag == "C" || tag == "POSIX") return {};
  for (char& c : tag) {
    if (c == '_') c = '-';
  }
  return tag;
}

const char* NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != 0 ? value : nullptr;
}

}  // namespace

FileReadStatus ReadWholeFile(std::u16string_view path, size_t max_bytes, std::string& bytes) {
  bytes.clear();
  const std::string narrow = ToUtf8(path);
  // Opening a FIFO for reading waits for a writer, and a device may do anything on open:
  // O_NONBLOCK makes the open return at once, and the type test below refuses all but regular
  // files (on which O_NONBLOCK changes nothing).
  const int fd = open(narrow.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    return errno == ENOENT || errno == ENOTDIR ? FileReadStatus::kMissing
                                               : FileReadStatus::kUnreadable;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    close(fd);
    return FileReadStatus::kUnreadable;
  }
  if (!S_ISREG(info.st_mode)) {
    close(fd);
    return FileReadStatus::kMissing;
  }
  if (static_cast<uint64_t>(info.st_size) > max_bytes) {
    close(fd);
    return FileReadStatus::kTooLarge;
  }
  // The file may grow while it is read: read to its end, but never past the cap.
  std::string content(static_cast<size_t>(info.st_size), '\0');
  size_t done = 0;
  for (;;) {
    if (done == content.size()) {
      if (content.size() >= max_bytes) {
        char probe;
        const ssize_t more = read(fd, &probe, 1);
        close(fd);
        if (more > 0) return FileReadStatus::kTooLarge;
        if (more < 0) return FileReadStatus::kUnreadable;
        break;
      }
      const size_t grow = content.size() < 4096 ? 4096 : content.size();
      content.resize(max_bytes - content.size() < grow ? max_bytes : content.size() + grow);
    }
    const ssize_t n = read(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return FileReadStatus::kUnreadable;
    }
    if (n == 0) {
      close(fd);
      break;
    }
    done += static_cast<size_t>(n);
  }
  content.resize(done);
  bytes = std::move(content);
  return FileReadStatus::kOk;
}

bool FileExists(std::u16string_view path) {
  const std::string narrow = ToUtf8(path);
  struct stat info;
  return stat(narrow.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::u16string FindFileIgnoringCase(std::u16string_view folder, std::u16string_view name) {
  std::u16string exact(folder);
  exact += name;
  if (FileExists(exact)) return exact;
  // A pattern without wildcards matches exactly the names equal to it ignoring case; a name
  // holding '*' or '?' is not looked for this way.
  if (name.find_first_of(u"*?") != std::u16string_view::npos) return exact;
  std::u16string found;
  ListFolder(folder, name, [&](std::u16string_view entry, bool is_directory) {
    if (found.empty() && !is_directory) {
      std::u16string path(folder);
      path += entry;
      if (FileExists(path)) found = std::move(path);
    }
  });
  return found.empty() ? exact : found;
}

std::u16string UserUiLocale() {
  const char* locale = NonEmptyEnv("LC_ALL");
  if (locale == nullptr) locale = NonEmptyEnv("LC_MESSAGES");
  if (locale == nullptr) locale = NonEmptyEnv("LANG");
  const std::string tag = locale != nullptr ? LocaleTag(locale) : std::string();
  if (tag.empty()) return u"EN";  // C, POSIX or unset: LANGUAGE does not count either
  if (const char* language = NonEmptyEnv("LANGUAGE")) {
    const std::string_view list(language);
    const std::string first = LocaleTag(list.substr(0, list.find(':')));
    if (!first.empty()) return ToUtf16(first);
  }
  return ToUtf16(tag);
}

}  // namespace kest::platform
