// Shared benchmark driver: runs every registered benchmark, then prints the ratios that the
// benchmark files declared, each computed from times measured in this one run.
#pragma once

#include <string>

namespace kest::bench {

// After the run, prints time(subject) / time(anchor) under `label`. Names are full benchmark
// names as Google Benchmark prints them. A ratio below 1 means the subject is faster.
void AddRatio(std::string label, std::string subject, std::string anchor);

// Same, but the anchor's time is the sum of several benchmarks' times.
void AddRatioToSum(std::string label, std::string subject, std::string anchor_a,
                   std::string anchor_b, double b_count);

}  // namespace kest::bench
