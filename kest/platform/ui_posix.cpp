#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kest/base/ini_text.h"
#include "kest/base/utf.h"
#include "kest/platform/file.h"
#include "kest/platform/ui.h"

namespace kest::platform {
namespace {

struct Button {
  char letter;
  const char* name;
  int answer;
};

// The buttons of MessageBoxW's styles 0 to 6.
const Button* ButtonsOf(uint32_t style, int& count) {
  static const Button kOk[] = {{'o', "OK", kIdOk}};
  static const Button kOkCancel[] = {{'o', "OK", kIdOk}, {'c', "Cancel", kIdCancel}};
  static const Button kAbortRetryIgnore[] = {
      {'a', "Abort", kIdAbort}, {'r', "Retry", kIdRetry}, {'i', "Ignore", kIdIgnore}};
  static const Button kYesNoCancel[] = {
      {'y', "Yes", kIdYes}, {'n', "No", kIdNo}, {'c', "Cancel", kIdCancel}};
  static const Button kYesNo[] = {{'y', "Yes", kIdYes}, {'n', "No", kIdNo}};
  static const Button kRetryCancel[] = {{'r', "Retry", kIdRetry}, {'c', "Cancel", kIdCancel}};
  static const Button kCancelTryContinue[] = {
      {'c', "Cancel", kIdCancel}, {'t', "Try again", kIdTryAgain}, {'o', "cOntinue", kIdContinue}};
  switch (style & 0xF) {
    case 1:
      count = 2;
      return kOkCancel;
    case 2:
      count = 3;
      return kAbortRetryIgnore;
    case 3:
      count = 3;
      return kYesNoCancel;
    case 4:
      count = 2;
      return kYesNo;
    case 5:
      count = 2;
      return kRetryCancel;
    case 6:
      count = 3;
      return kCancelTryContinue;
    default:
      count = 1;
      return kOk;
  }
}

void WriteSome(int fd, const std::string& text) {
  // One attempt: whatever the descriptor takes now.
  const ssize_t ignored = write(fd, text.data(), text.size());
  static_cast<void>(ignored);
}

int AskOnTerminal(const std::string& message, uint32_t style) {
  const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return 0;
  int count = 0;
  const Button* buttons = ButtonsOf(style, count);
  std::string prompt = message + "\n";
  for (int i = 0; i < count; ++i) {
    prompt += i == 0 ? "[" : ", [";
    prompt += buttons[i].letter;
    prompt += "] ";
    prompt += buttons[i].name;
  }
  prompt += "? (60 s) ";
  WriteSome(tty, prompt);
  int answer = 0;
  pollfd wait{tty, POLLIN, 0};
  char line[64];
  if (poll(&wait, 1, 60000) == 1) {
    const ssize_t n = read(tty, line, sizeof line);
    for (ssize_t i = 0; i < n && answer == 0; ++i) {
      const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i])));
      for (int b = 0; b < count; ++b)
        if (buttons[b].letter == c) answer = buttons[b].answer;
    }
  }
  close(tty);
  return answer;
}

bool IsTrue(std::u16string_view value) {
  return value == u"1" || value == u"true" || value == u"TRUE" || value == u"True";
}

}  // namespace

namespace detail {

int ShowSystemMessageBox(const char16_t* title, const char16_t* text, uint32_t style) {
  const std::string message = ToUtf8(title) + ": " + ToUtf8(text);
  const char* tty = std::getenv("KEST_ASSERT_TTY");
  if (tty != nullptr && std::strcmp(tty, "1") == 0) return AskOnTerminal(message, style);
  pollfd out{STDERR_FILENO, POLLOUT, 0};
  if (poll(&out, 1, 0) == 1 && (out.revents & POLLOUT) != 0)
    WriteSome(STDERR_FILENO, message + "\n");
  return 0;
}

void ForEachUiDescendant(HWND window, void (*each)(HWND, void*), void* user);
HWND UiParent(HWND window);

// No foreground window and nothing to repaint; the tree is the UiWindow objects'.
extern const WindowSystem kSystemWindows = {
    [] { return HWND{}; }, [] { return HWND{}; }, ForEachUiDescendant, UiParent, [](HWND) {},
};

}  // namespace detail

uint32_t SystemColor(int index) noexcept {
  switch (index) {
    case 2:
      return 0xD1B499;  // #99B4D1
    case 9:
      return 0x000000;  // #000000
    case 13:
      return 0xD77800;  // #0078D7
    case 14:
      return 0xFFFFFF;  // #FFFFFF
    default:
      return 0;
  }
}

bool UserPrefersDark() {
  if (const char* scheme = std::getenv("KEST_COLOR_SCHEME")) {
    std::string value(scheme);
    for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (value == "dark") return true;
    if (value == "light") return false;
  }
  std::string folder;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != 0) {
    folder = config;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0) {
    folder = std::string(home) + "/.config";
  } else {
    return false;
  }
  std::string bytes;
  if (ReadWholeFile(ToUtf16(folder + "/gtk-3.0/settings.ini"), 1 << 20, bytes) !=
      FileReadStatus::kOk) {
    return false;
  }
  std::u16string value;
  return IniText(bytes).Find(u"Settings", u"gtk-application-prefer-dark-theme", value) &&
         IsTrue(value);
}

}  // namespace kest::platform
