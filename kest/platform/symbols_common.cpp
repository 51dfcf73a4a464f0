#include <cxxabi.h>

#include <cstdlib>
#include <cstring>

#include "kest/platform/symbols.h"

namespace kest::platform {

std::string DemangledName(const char* raw) {
  if (raw == nullptr || std::strncmp(raw, "_Z", 2) != 0) return std::string();
  int status = 0;
  char* name = abi::__cxa_demangle(raw, nullptr, nullptr, &status);
  std::string result = status == 0 && name != nullptr ? name : "";
  std::free(name);
  return result;
}

std::string NameWithoutParameters(const std::string& full) {
  // Drop what follows the parameter list ("const", "&&", "noexcept"), then the list itself,
  // matched from its closing parenthesis so that "(anonymous namespace)" and "operator()" earlier
  // in the name stay.
  size_t end = full.size();
  while (end > 0 && full[end - 1] != ')') {
    const char c = full[end - 1];
    if (c == '>' || c == ']' || c == '}') return full;  // no parameter list at the end
    --end;
  }
  if (end == 0) return full;
  int depth = 0;
  for (size_t i = end; i-- > 0;) {
    if (full[i] == ')') {
      ++depth;
    } else if (full[i] == '(' && --depth == 0) {
      return full.substr(0, i);
    }
  }
  return full;
}

}  // namespace kest::platform
