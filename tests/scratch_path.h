// A path in the temporary folder for the running test alone: CTest runs tests in parallel
// processes, and two builds' suites may run at once, so the name holds the test's name and the
// process id.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#if defined(_WIN32)
#include <process.h>
#define KEST_TEST_PID _getpid()
#else
#include <unistd.h>
#define KEST_TEST_PID getpid()
#endif

inline std::filesystem::path ScratchPath(const char* prefix) {
  return std::filesystem::temp_directory_path() /
         (prefix + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
          "_" + std::to_string(KEST_TEST_PID));
}
