// UTF-8 text as a VelString, and the raw conversions of kest/base/utf.h.
#pragma once

#include <string_view>

#include "kest/base/utf.h"
#include "kest/kest_export.h"
#include "kest/strings/vel_string.h"

namespace kest {

// The whole UTF-8 text as a VelString (malformed bytes become U+FFFD). Throws std::bad_alloc only
// when memory runs out.
KEST_API VelString Utf8ToVelString(std::string_view text);

}  // namespace kest
