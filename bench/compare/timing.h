// Timing and table of bench/compare. Every run (ours, each peer's and the
// memcpy of the bytes read plus the bytes written, the bound) is
// one Google Benchmark, timed in CPU time per frame on one thread, which a
// busy machine disturbs less than wall time. After the run a table gives the
// medians of repeated runs (or single runs).
#pragma once

#include "compare.h"

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace compare {

struct Registered {
  std::string name;
  const Operation* op;
  bool bound;  // the memcpy bound of op
};

// Registers every run of `ops`, which must outlive the benchmarks, set by set
// (the runs of its operations, then their bounds) so that each
// set's pools are made once in a run in order.
std::vector<Registered> RegisterBenchmarks(const Operations& ops);

// The console output (coloured on a terminal), and milliseconds per frame by
// benchmark name.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter();
  void ReportRuns(const std::vector<Run>& runs) override;

  // Milliseconds per call, or a negative value when not measured.
  double Ms(const std::string& name) const;

 private:
  std::map<std::string, double> medians_;
  std::map<std::string, std::vector<double>> singles_;
};

// Per operation: ours, the bound, the fastest peer, our ratios to both.
// Figures from pools smaller than the cache are marked.
void PrintTables(const Operations& ops, const SummaryReporter& times);

}  // namespace compare
