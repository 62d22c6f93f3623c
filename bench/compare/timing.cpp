#include "timing.h"

#include "agreement.h"
#include "peers.h"
#include "pools.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace compare {
namespace {

std::string BaseName(Section section, const std::string& name, const Geometry& source,
                     bool threaded = false) {
  const char* prefix = threaded ? "threads/" : section == Section::AsCalled ? "as called/" : "";
  return prefix + name + "/" + source.Name();
}
std::string BaseName(const Operation& op) {
  return BaseName(op.section, op.name, op.source, op.threaded);
}
std::string OursName(const Operation& op) { return BaseName(op) + "/ours"; }
std::string PeerName(const Operation& op, const Peer& p) { return BaseName(op) + "/" + p.name; }
std::string BoundName(const Operation& op) { return BaseName(op) + "/memcpy bound"; }

// Calls step(i) for frame i = 0, 1, ... of a cycle of `count`, once per
// iteration; the bytes processed are op's reads and writes.
template <class Step>
void Cycle(benchmark::State& state, const Operation& op, std::size_t count, Step step) {
  std::size_t i = 0;
  for (auto _ : state) {
    if (!step(i)) {
      state.SkipWithError("operation failed");
      break;
    }
    benchmark::ClobberMemory();
    if (++i == count) i = 0;
  }
  const double bytes = static_cast<double>(state.iterations()) * (op.readBytes + op.writeBytes);
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// A kernel: source i into destination i, made beforehand.
void TimeKernel(benchmark::State& state, const Operation& op, const Run& run, Frames& frames) {
  Pool* targets = frames.Targets(op.target);
  if (targets == nullptr) {
    state.SkipWithError("out of memory");
    return;
  }
  Cycle(state, op, frames.sources.size(),
        [&](std::size_t i) { return run(*(*targets)[i], *frames.sources[i]); });
}

// As a client calls it: each frame into one result object, a CRZDIB2 as
// clients make them (ours makes its storage on every call; a peer's buffer is
// made here, once, and reads zero), or each frame changed in place.
void TimeAsCalled(benchmark::State& state, const Operation& op, const Run& run, bool ours,
                  Frames& frames) {
  std::unique_ptr<CRZDIB2> result;
  if (ours || op.inPlace) {
    result = std::make_unique<CRZDIB2>();
  } else {
    result = MakeFrame(op.target, false);
  }
  if (!result) {
    state.SkipWithError("out of memory");
    return;
  }
  Cycle(state, op, frames.sources.size(), [&](std::size_t i) {
    BenchDib& frame = *frames.sources[i];
    return op.inPlace ? run(frame, frame) : run(*result, frame);
  });
}

void TimeRun(benchmark::State& state, const Operation& op, const Run& run, bool ours) {
  Frames* frames = AcquireFrames(op);
  if (frames == nullptr) {
    state.SkipWithError("out of memory");
    return;
  }
  UseDefaultThreads(op.threaded);
  if (!op.threaded) CheckAgreementOnce(op, *frames->sources[0]);
  if (op.section == Section::Kernel) {
    TimeKernel(state, op, run, *frames);
  } else {
    TimeAsCalled(state, op, run, ours, *frames);
  }
}

// memcpy of read + write bytes between the buffers of pairs cycled through
// the set's bound arena.
void TimeBound(benchmark::State& state, const Operation& op) {
  const auto bytes = static_cast<std::size_t>(op.readBytes + op.writeBytes);
  const std::span<BYTE> arena = AcquireBoundArena(op);
  const std::size_t pairs = arena.size() / (2 * bytes);
  if (pairs == 0) {
    state.SkipWithError("out of memory");
    return;
  }
  std::size_t i = 0;
  for (auto _ : state) {
    std::memcpy(arena.data() + (2 * i + 1) * bytes, arena.data() + 2 * i * bytes, bytes);
    benchmark::ClobberMemory();
    if (++i == pairs) i = 0;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// ---- Tables ----

struct Column {
  const char* header;
  int width;  // negative: left-aligned
};

void PrintRow(const std::vector<Column>& columns, const std::vector<std::string>& cells) {
  std::string line;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    char cell[64];
    std::snprintf(cell, sizeof cell, "%*s ", columns[c].width, cells[c].c_str());
    line += cell;
  }
  line.erase(line.find_last_not_of(' ') + 1);
  std::printf("%s\n", line.c_str());
}

void PrintHeader(const char* title, const std::vector<Column>& columns) {
  std::vector<std::string> headers;
  for (const Column& c : columns) headers.emplace_back(c.header);
  std::printf("\n%s\n", title);
  PrintRow(columns, headers);
}

std::string Format(double value, const char* format = "%.3f") {
  if (value < 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Ratio(double ours, double other) {
  return other > 0 ? Format(ours / other, "%.2f") : "-";
}

struct FastestPeer {
  std::string name = "-";
  double ms = -1;
};

FastestPeer Fastest(const Operation& op, const SummaryReporter& times) {
  FastestPeer best;
  for (const Peer& p : op.peers) {
    const double t = times.Ms(PeerName(op, p));
    if (t >= 0 && (best.ms < 0 || t < best.ms)) best = {p.name, t};
  }
  return best;
}

void PrintKernelTable(const Operations& ops, const SummaryReporter& times) {
  const std::vector<Column> columns = {{"operation", -24}, {"frame", -14},        {"ours ms", 9},
                                       {"bound ms", 9},    {"fastest peer", -34}, {"peer ms", 9},
                                       {"/peer", 6},       {"/bound", 6},         {"", -1}};
  PrintHeader("Kernels, into destinations made beforehand (CPU ms per frame):", columns);
  for (const Operation& op : ops) {
    const double ours = times.Ms(OursName(op));
    if (op.section != Section::Kernel || ours < 0) continue;
    const double bound = times.Ms(BoundName(op));
    const FastestPeer peer = Fastest(op, times);
    const bool cached = PartlyCached(op) || (bound >= 0 && BoundPartlyCached(op));
    PrintRow(columns,
             {op.name, op.source.Name(), Format(ours), Format(bound), peer.name, Format(peer.ms),
              Ratio(ours, peer.ms), Ratio(ours, bound), cached ? "partly cached" : ""});
  }
}

// The calls on one thread beside the kernel behind each, or (threaded) with
// the default threads beside the same call on one thread.
void PrintAsCalledTable(const Operations& ops, const SummaryReporter& times, bool threaded) {
  const std::vector<Column> columns = {
      {"operation", -24},    {"frame", -14},
      {"ours ms", 9},        {threaded ? "1 thread" : "kernel ms", 9},
      {"fastest peer", -34}, {"peer ms", 9},
      {"ours/peer", 9},      {"", -1}};
  PrintHeader(threaded ? "As called with the default threads of ours and OpenCV's (wall ms per "
                         "frame; libyuv and the C library have one thread):"
                       : "As called: the public call on frames from a pool, result object reused "
                         "(CPU ms per frame):",
              columns);
  for (const Operation& op : ops) {
    const double ours = times.Ms(OursName(op));
    if (op.section != Section::AsCalled || op.threaded != threaded || ours < 0) continue;
    const std::string beside = threaded ? BaseName(Section::AsCalled, op.name, op.source) + "/ours"
                                        : BaseName(Section::Kernel, op.kernel, op.source) + "/ours";
    const double kernel = !threaded && op.kernel.empty() ? -1 : times.Ms(beside);
    const FastestPeer peer = Fastest(op, times);
    PrintRow(columns,
             {op.name, op.source.Name(), Format(ours), Format(kernel), peer.name, Format(peer.ms),
              Ratio(ours, peer.ms), PartlyCached(op) ? "partly cached" : ""});
  }
}

double MsPer(benchmark::TimeUnit unit) {
  switch (unit) {
    case benchmark::kNanosecond:
      return 1e-6;
    case benchmark::kMicrosecond:
      return 1e-3;
    case benchmark::kMillisecond:
      return 1;
    default:
      return 1e3;
  }
}

}  // namespace

std::vector<Registered> RegisterBenchmarks(const Operations& ops) {
  std::vector<Registered> all;
  const auto add = [&](std::string name, const Operation& op, bool bound, auto fn) {
    auto* b = benchmark::RegisterBenchmark(name.c_str(), fn)->Unit(benchmark::kMillisecond);
    if (op.threaded) b->UseRealTime();
    all.push_back({std::move(name), &op, bound});
  };
  for (std::size_t first = 0; first < ops.size();) {
    std::size_t end = first;
    while (end < ops.size() && ops[end].plan == ops[first].plan) ++end;
    for (std::size_t i = first; i < end; ++i) {
      const Operation& op = ops[i];
      add(OursName(op), op, false, [&op](benchmark::State& s) { TimeRun(s, op, op.ours, true); });
      for (const Peer& p : op.peers) {
        add(PeerName(op, p), op, false,
            [&op, &p](benchmark::State& s) { TimeRun(s, op, p.run, false); });
      }
    }
    for (std::size_t i = first; i < end; ++i) {
      const Operation& op = ops[i];
      if (op.section != Section::Kernel) continue;
      add(BoundName(op), op, true, [&op](benchmark::State& s) { TimeBound(s, op); });
    }
    first = end;
  }
  return all;
}

SummaryReporter::SummaryReporter()
    : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

void SummaryReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    if (run.error_occurred) continue;
    const std::string name = run.run_name.function_name;
    // Several threads work for a threaded call: its time is the wall clock's.
    const bool wall = name.rfind("threads/", 0) == 0;
    const double ms =
        (wall ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime()) * MsPer(run.time_unit);
    if (run.run_type == Run::RT_Aggregate) {
      if (run.aggregate_name == "median") medians_[name] = ms;
    } else {
      singles_[name].push_back(ms);
    }
  }
  ConsoleReporter::ReportRuns(runs);
}

double SummaryReporter::Ms(const std::string& name) const {
  if (auto it = medians_.find(name); it != medians_.end()) return it->second;
  auto it = singles_.find(name);
  if (it == singles_.end() || it->second.empty()) return -1;
  std::vector<double> v = it->second;
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

void PrintTables(const Operations& ops, const SummaryReporter& times) {
  PrintKernelTable(ops, times);
  PrintAsCalledTable(ops, times, false);
  PrintAsCalledTable(ops, times, true);
}

}  // namespace compare
