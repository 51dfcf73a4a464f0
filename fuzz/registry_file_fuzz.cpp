// Fuzz target for the .reg file reader: any bytes, in any encoding, must parse without a crash or a
// read outside the input, and the answer must not depend on where the bytes happen to live. A
// section for any other key, appended with values of every name, must not change the answer: a
// bracketed line always ends the key before it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "kest/platform/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that a read one byte past the end lands outside the allocation.
  std::unique_ptr<char[]> copy(new char[size == 0 ? 1 : size]);
  if (size != 0) std::memcpy(copy.get(), data, size);
  const std::string_view bytes(copy.get(), size);
  static const char16_t* const kKeys[] = {u"software\\Quillon", u"", u"a"};
  static const char16_t* const kNames[] = {u"zDebugBroadcast", u"", u"x\"y"};
  static const char* const kOtherSections[] = {
      "\n[HKEY_CURRENT_USER\\software\\Quillon]\n", "\n[-HKEY_LOCAL_MACHINE\\software\\Quillon]\n",
      "\n[HKEY_LOCAL_MACHINE\\software\\Quillon\\Sub]\n", "\n[]\n"};
  for (const char16_t* key : kKeys) {
    for (const char16_t* name : kNames) {
      uint32_t value = 0xDEADBEEF;
      const bool found = kest::platform::ReadDwordFromRegText(bytes, key, name, value);
      // A missing key never yields a value.
      if (!found && value != 0) std::abort();
      uint32_t again = 1;
      if (kest::platform::ReadDwordFromRegText(bytes, key, name, again) != found ||
          again != value) {
        std::abort();
      }
      // Appended bytes would be read as UTF-16 after a UTF-16 byte-order mark.
      if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) continue;
      for (const char* other : kOtherSections) {
        std::string longer(bytes);
        longer += other;
        for (const char* value_name : {"zDebugBroadcast", "", "x\\\"y"}) {
          longer += "\"" + std::string(value_name) + "\"=dword:0000abcd\n";
        }
        uint32_t after = 2;
        if (kest::platform::ReadDwordFromRegText(longer, key, name, after) != found ||
            after != value) {
          std::abort();
        }
      }
    }
  }
  return 0;
}
