#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench_main.h"

namespace kest::bench {
namespace {

struct Ratio {
  std::string label;
  std::string subject;
  std::string anchor_a;
  std::string anchor_b;
  double b_count;
};

std::vector<Ratio>& Ratios() {
  static std::vector<Ratio> ratios;
  return ratios;
}

// Keeps the console output and remembers each benchmark's time per iteration (nanoseconds).
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const double ns = run.GetAdjustedRealTime() *
                        benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                        benchmark::GetTimeUnitMultiplier(run.time_unit);
      // With --benchmark_repetitions the median stands for the benchmark; otherwise its one run.
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") medians_[run.run_name.str()] = ns;
      } else {
        times_[run.benchmark_name()] = ns;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  bool Find(const std::string& name, double& ns) const {
    for (const auto* table : {&medians_, &times_}) {
      auto it = table->find(name);
      if (it != table->end()) {
        ns = it->second;
        return true;
      }
    }
    return false;
  }

 private:
  std::map<std::string, double> times_;
  std::map<std::string, double> medians_;
};

}  // namespace

void AddRatio(std::string label, std::string subject, std::string anchor) {
  Ratios().push_back({std::move(label), std::move(subject), std::move(anchor), "", 0});
}

void AddRatioToSum(std::string label, std::string subject, std::string anchor_a,
                   std::string anchor_b, double b_count) {
  Ratios().push_back(
      {std::move(label), std::move(subject), std::move(anchor_a), std::move(anchor_b), b_count});
}

}  // namespace kest::bench

int main(int argc, char** argv) {
  // Host processes are multi-threaded. Starting one thread first makes the anchors (shared_ptr's
  // reference counts, the C runtime's allocator) take the code paths they take in a real host,
  // instead of the single-threaded shortcuts some runtimes use until a second thread appears.
  std::thread([] {}).join();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  kest::bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nRatios (subject time / anchor time, this run; below 1.00 = subject faster)\n");
  for (const auto& r : kest::bench::Ratios()) {
    double s = 0, a = 0, b = 0;
    if (!reporter.Find(r.subject, s) || !reporter.Find(r.anchor_a, a) ||
        (!r.anchor_b.empty() && !reporter.Find(r.anchor_b, b))) {
      continue;  // filtered out of this run
    }
    const double anchor = a + r.b_count * b;
    std::printf("  %-62s %6.2fx\n", r.label.c_str(), s / anchor);
  }
  benchmark::Shutdown();
  return 0;
}
