// Environment variables changed for one test and put back when it ends (POSIX only: Windows tests
// read the user's settings instead).
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class ScopedEnv {
 public:
  ScopedEnv() = default;
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) Put(it->first.c_str(), it->second);
  }

  // Sets `name` to `value`, or unsets it for null; the value before the first Set comes back.
  void Set(const char* name, const char* value) {
    bool seen = false;
    for (const auto& [saved, old] : saved_) seen = seen || saved == name;
    if (!seen) {
      const char* old = std::getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    Put(name, value ? std::optional<std::string>(value) : std::nullopt);
  }

 private:
  static void Put(const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};
