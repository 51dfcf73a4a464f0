#include "kest/strings/utf8.h"

#include <climits>
#include <new>

namespace kest {

VelString Utf8ToVelString(std::string_view text) {
  if (text.size() > INT_MAX) throw std::bad_alloc();
  const int length = static_cast<int>(text.size());
  const int units = Utf8ToUtf16(text.data(), length, nullptr, 0);
  VelString result;
  if (units > 0) Utf8ToUtf16(text.data(), length, result.GetBufferSetLength(units), units);
  return result;
}

}  // namespace kest
