#include "kest/base/case_tables.h"
#include "kest/strings/vel_string.h"

namespace kest {

char16_t ToUpper(char16_t ch) noexcept { return detail::MapUpper(ch); }

char16_t ToLower(char16_t ch) noexcept { return detail::MapLower(ch); }

bool IsWhiteSpace(char16_t ch) noexcept {
  if (ch <= 0x20) return ch == 0x20 || (ch >= 0x09 && ch <= 0x0D);
  switch (ch) {
    case 0x0085:
    case 0x00A0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return ch >= 0x2000 && ch <= 0x200A;
  }
}

}  // namespace kest
