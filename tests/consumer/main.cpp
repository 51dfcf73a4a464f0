// Uses the installed headers and library the way a host module does; exits non-zero on any
// surprise so the package test fails loudly.
#include <cstdio>

#include "kest/KestCommon.h"

int main() {
  VelString name(u"server10");
  VelString copy = name;
  copy += u"-east";
  const bool shared_then_forked = name == u"server10" && copy == u"server10-east";
  const bool ordered = VelString(u"server9") < name;
  const bool checksum =
      CRC32("123456789", 9) == 0xCBF43926u && CRC64("123456789", 9) == 0x62EC59E3F1A4F00Aull;
  const bool hashed = CaseInsensitiveVelStringHash()(VelString(u"Abc")) ==
                      CaseInsensitiveVelStringHash()(VelString(u"aBC"));
  if (!(shared_then_forked && ordered && checksum && hashed && gVelStringManager2 != nullptr)) {
    std::puts("consumer: unexpected result");
    return 1;
  }
  std::puts("consumer: package works");
  return 0;
}
