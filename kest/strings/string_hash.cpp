#include "kest/base/case_tables.h"
#include "kest/strings/vel_string.h"
#include "kest/util/crc.h"

uint64_t VelStringHash::operator()(const VelString& s) const noexcept {
  // UTF-16 code units are stored little-endian on every platform the library targets, so the
  // characters in memory are already the bytes that are hashed.
  return CRC64(s.GetString(), static_cast<uint64_t>(s.GetLength()) * 2);
}

uint64_t CaseInsensitiveVelStringHash::operator()(const VelString& s) const noexcept {
  const int length = s.GetLength();
  if (length == 0) return 0;
  // Upper-case and hash in stack-sized pieces: the CRC register carries across pieces, so the
  // result equals the CRC of the whole upper-cased text with no heap use at any length.
  constexpr int kChunk = 512;
  char16_t chunk[kChunk];
  const char16_t* text = s.GetString();
  uint64_t reg = ~0ull;
  for (int done = 0; done < length;) {
    const int n = length - done < kChunk ? length - done : kChunk;
    for (int i = 0; i < n; ++i) chunk[i] = kest::detail::MapUpper(text[done + i]);
    reg = kest::Crc64Update(reg, chunk, static_cast<uint64_t>(n) * 2);
    done += n;
  }
  return ~reg;
}

bool CaseInsensitiveVelStringEqual::operator()(const VelString& a,
                                               const VelString& b) const noexcept {
  const int length = a.GetLength();
  if (length != b.GetLength()) return false;
  const char16_t* pa = a.GetString();
  const char16_t* pb = b.GetString();
  if (pa == pb) return true;
  for (int i = 0; i < length; ++i) {
    if (pa[i] != pb[i] && kest::detail::MapUpper(pa[i]) != kest::detail::MapUpper(pb[i])) {
      return false;
    }
  }
  return true;
}
