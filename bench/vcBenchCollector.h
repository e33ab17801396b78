// A console reporter that also keeps each benchmark's real and CPU time per iteration (the
// last run of each name), for the summary and RESULT lines a benchmark prints after its runs.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class vcBenchCollector : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> t, cpu;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (!r.error_occurred) {
        t[r.benchmark_name()] = r.GetAdjustedRealTime();
        cpu[r.benchmark_name()] = r.GetAdjustedCPUTime();
      }
    ConsoleReporter::ReportRuns(runs);
  }
};
