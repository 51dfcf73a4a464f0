#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kest/base/utf.h"
#include "kest/platform/file.h"
#include "kest/platform/registry.h"

namespace kest::platform {
namespace {

constexpr char kRoot[] = "HKEY_LOCAL_MACHINE\\";
// Far more than a machine's configuration needs; a larger file is refused rather than read.
constexpr size_t kMaxRegistryFileBytes = 4u << 20;

std::atomic<const char*> g_test_file{nullptr};

std::string RegistryFile() {
  if (const char* test_file = g_test_file.load(std::memory_order_relaxed)) return test_file;
  const char* override_path = std::getenv("KEST_REGISTRY_FILE");
  return override_path != nullptr && *override_path != 0 ? override_path : "/etc/kest/registry.reg";
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Trim(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

// "[HKEY_LOCAL_MACHINE\key]" → lower-cased "key"; anything else → false.
bool KeyHeader(const std::string& line, std::string& key) {
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
  const std::string inner = line.substr(1, line.size() - 2);
  if (Lower(inner.substr(0, sizeof(kRoot) - 1)) != Lower(kRoot)) return false;
  key = Lower(inner.substr(sizeof(kRoot) - 1));
  return true;
}

std::vector<std::string> ReadLines() {
  std::vector<std::string> lines;
  std::string bytes;
  ReadWholeFile(ToUtf16(RegistryFile()), kMaxRegistryFileBytes, bytes);
  std::istringstream in(bytes);
  for (std::string line; std::getline(in, line);) lines.push_back(Trim(line));
  return lines;
}

}  // namespace

bool ReadMachineDword(const char16_t* key, const char16_t* name, uint32_t& value) noexcept {
  value = 0;
  try {
    const std::string path = RegistryFile();
    std::string bytes;
    // Through the reader that never waits on a FIFO or device named like the file.
    if (ReadWholeFile(ToUtf16(path), kMaxRegistryFileBytes, bytes) != FileReadStatus::kOk) {
      return false;
    }
    return ReadDwordFromRegText(bytes, key, name, value);
  } catch (...) {
    return false;  // an unreadable file is a missing key
  }
}

bool WriteMachineDwordForTesting(const char16_t* key, const char16_t* name,
                                 uint32_t value) noexcept {
  try {
    std::ostringstream text;
    for (const std::string& line : ReadLines()) text << line << "\n";
    char number[16];
    std::snprintf(number, sizeof(number), "%08x", value);
    text << "[" << kRoot << ToUtf8(key) << "]\n\"" << ToUtf8(name) << "\"=dword:" << number << "\n";
    std::ofstream out(RegistryFile(), std::ios::trunc);
    out << text.str();
    return static_cast<bool>(out);
  } catch (...) {
    return false;
  }
}

void DeleteMachineKeyForTesting(const char16_t* key) noexcept {
  try {
    const std::string want_key = Lower(ToUtf8(key));
    std::ostringstream text;
    bool in_key = false;
    for (const std::string& line : ReadLines()) {
      std::string header;
      if (KeyHeader(line, header)) in_key = header == want_key;
      if (!in_key) text << line << "\n";
    }
    std::ofstream(RegistryFile(), std::ios::trunc) << text.str();
  } catch (...) {
  }
}

void UseRegistryFileForTesting(const char* path) noexcept {
  g_test_file.store(path, std::memory_order_relaxed);
}

}  // namespace kest::platform
