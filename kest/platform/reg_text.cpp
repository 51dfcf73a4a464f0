#include <cstdint>
#include <string>
#include <string_view>

#include "kest/base/utf.h"
#include "kest/platform/registry.h"

namespace kest::platform {
namespace {

constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE\\";

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

// The file as UTF-8: a UTF-16LE export (byte-order mark FF FE, as the Windows registry editor
// writes it) is converted, a UTF-8 byte-order mark is dropped, anything else is taken as it is.
std::string AsUtf8(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::u16string units((bytes.size() - 2) / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) {
      units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                       static_cast<unsigned char>(bytes[3 + 2 * i]) << 8);
    }
    return ToUtf8(units);
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return std::string(bytes);
}

// Whether `line` is a section header ("[...]"), which ends the key before it whatever it names;
// `key` is then the path under HKEY_LOCAL_MACHINE it opens, or empty with `local_machine` false
// for any other root and for a deletion ("[-HKEY_LOCAL_MACHINE\...]").
bool SectionHeader(std::string_view line, std::string_view& key, bool& local_machine) {
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
  const std::string_view inner = line.substr(1, line.size() - 2);
  local_machine = EqualIgnoringAsciiCase(inner.substr(0, kRoot.size()), kRoot);
  key = local_machine ? inner.substr(kRoot.size()) : std::string_view();
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "\"name\"=dword:0000001f" → the name (its \\ and \" escapes decoded) and the value. The value is
// 1 to 8 hexadecimal digits and nothing else, as the format writes it: no sign, no prefix, no
// blank inside, no trailing text.
bool DwordValue(std::string_view line, std::string& name, uint32_t& value) {
  if (line.empty() || line.front() != '"') return false;
  name.clear();
  size_t i = 1;
  for (;; ++i) {
    if (i >= line.size()) return false;
    if (line[i] == '"') break;
    if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == '"')) ++i;
    name.push_back(line[i]);
  }
  const std::string_view rest = line.substr(i + 1);
  constexpr std::string_view kDword = "=dword:";
  if (!EqualIgnoringAsciiCase(rest.substr(0, kDword.size()), kDword)) return false;
  const std::string_view digits = rest.substr(kDword.size());
  if (digits.empty() || digits.size() > 8) return false;
  uint32_t parsed = 0;
  for (char c : digits) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    parsed = parsed << 4 | static_cast<uint32_t>(digit);
  }
  value = parsed;
  return true;
}

}  // namespace

bool ReadDwordFromRegText(std::string_view bytes, const char16_t* key, const char16_t* name,
                          uint32_t& value) noexcept {
  value = 0;
  try {
    const std::string want_key = ToUtf8(key != nullptr ? key : u"");
    const std::string want_name = ToUtf8(name != nullptr ? name : u"");
    const std::string text = AsUtf8(bytes);
    bool key_found = false;
    bool in_key = false;
    std::string value_name;
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string_view line = Trim(std::string_view(text).substr(start, end - start));
      start = end + 1;
      std::string_view header;
      bool local_machine = false;
      if (SectionHeader(line, header, local_machine)) {
        in_key = local_machine && EqualIgnoringAsciiCase(header, want_key);
        key_found = key_found || in_key;
        continue;
      }
      uint32_t number = 0;
      if (in_key && DwordValue(line, value_name, number) &&
          EqualIgnoringAsciiCase(value_name, want_name)) {
        value = number;
      }
    }
    return key_found;
  } catch (...) {
    value = 0;
    return false;  // out of memory: as if the key were missing
  }
}

}  // namespace kest::platform
