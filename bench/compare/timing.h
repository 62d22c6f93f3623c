// Timing and tables of bench/compare. Every run (ours, each peer's and, for
// kernels, the memcpy of the bytes read plus the bytes written, the bound) is
// one Google Benchmark, timed in CPU time per frame on one thread, which a
// busy machine disturbs less than wall time; the calls with the default
// threads, which spread over several, on the wall clock. After the run a
// table per section (and one for the threaded calls) gives the medians of
// repeated runs (or single runs).
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
// (the runs of its operations, then the bounds of its kernels) so that each
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

// The kernel table (ours, the bound, the fastest peer, our ratios to both)
// and the table "as called" (ours, the kernel behind it, the fastest peer, our
// ratio to it). Figures from pools smaller than the cache are marked.
void PrintTables(const Operations& ops, const SummaryReporter& times);

}  // namespace compare
