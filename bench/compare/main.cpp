// Our whole-image operations beside the nearest operations of libyuv and
// OpenCV (when they were found at configure time) and beside the memory bound,
// in one run and on the same frames: 1920x1080 and 3840x2160, 24 and 32 bits
// (and 8 for the median, the one operation here that takes 8-bit images),
// each family cycled from pools larger than the last-level cache where the
// ceiling on pool memory allows (pools.h), so that every operation pays for
// its memory traffic as on a stream of video frames.
//
// Two sections (compare.h): the kernels into destinations made beforehand,
// and the public calls as clients make them, those on one thread and again
// with the default threads of ours and OpenCV's. Scaling includes its per-call
// tables, brightness its table (the peers' tables are made once, beforehand).
// When an operation's benchmarks first run, each peer's bytes are compared
// with ours; the lines come after the run, before the tables.
//
//   compare [--level=plain|sse2|avx2|avx512] [--hot] [--cache-mib=N]
//           [Google Benchmark flags]
//
// --level runs our operations at a lower kernel level; --hot uses one frame
// instead of a pool (frames that fit stay cached: the cost of the arithmetic
// alone, not the memory traffic); --cache-mib (or KOLVEX_BENCH_CACHE_MIB)
// takes the last-level cache to be N MiB, whatever the processor reports.

#include "agreement.h"
#include "pools.h"
#include "timing.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

namespace compare {
namespace {

struct Family {
  void (*add)(Operations&, const Geometry&);
  bool grey;  // also on 8-bit frames
};

constexpr Family kFamilies[] = {{AddReductions, false}, {AddScaling, false}, {AddMirroring, false},
                                {AddFields, false},     {AddFills, false},   {AddFilters, true}};

// Family by family, frame size by frame size: each family at one frame size
// is one set of pools.
Operations AllOperations() {
  Operations ops;
  for (const Family& family : kFamilies) {
    std::vector<int> depths = {24, 32};
    if (family.grey) depths.insert(depths.begin(), 8);
    for (int bits : depths) {
      for (auto [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) {
        const std::size_t first = ops.size();
        family.add(ops, {w, h, bits});
        // Each call again with the default threads, on the same pools.
        for (std::size_t i = first, end = ops.size(); i < end; ++i) {
          if (ops[i].section != Section::AsCalled) continue;
          ops.push_back(ops[i]);
          ops.back().threaded = true;
        }
        PlanPools(ops, first);
      }
    }
  }
  return ops;
}

struct Options {
  bool hot = false;
  std::size_t cacheMiB = 0;  // 0: as the processor reports it
};

bool ParseMiB(const char* text, std::size_t& out) {
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0' || v == 0 || v > (1ull << 30)) return false;
  out = static_cast<std::size_t>(v);
  return true;
}

const char* LevelName(kolvex::testing::KernelLevel level) {
  static const char* const kNames[] = {"plain", "sse2", "avx2", "avx512"};
  return kNames[static_cast<int>(level)];
}

// Takes our flags out of argv, leaving Google Benchmark's.
bool ApplyOwnFlags(int& argc, char** argv, Options& options) {
  using kolvex::testing::KernelLevel;
  if (const char* env = std::getenv("KOLVEX_BENCH_CACHE_MIB");
      env != nullptr && !ParseMiB(env, options.cacheMiB)) {
    std::fprintf(stderr, "KOLVEX_BENCH_CACHE_MIB: not a size in MiB: %s\n", env);
    return false;
  }
  int out = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--hot") {
      options.hot = true;
    } else if (arg.rfind("--cache-mib=", 0) == 0) {
      if (!ParseMiB(arg.c_str() + 12, options.cacheMiB)) {
        std::fprintf(stderr, "not a size in MiB: %s\n", arg.c_str());
        return false;
      }
    } else if (arg.rfind("--level=", 0) == 0) {
      int level = 0;
      while (level < 4 && arg.substr(8) != LevelName(static_cast<KernelLevel>(level))) ++level;
      if (level == 4 || !kolvex::testing::SetKernelLevel(static_cast<KernelLevel>(level))) {
        std::fprintf(stderr, "unknown or unsupported level: %s\n", arg.c_str());
        return false;
      }
    } else {
      argv[out++] = argv[i];
    }
  }
  argc = out;
  return true;
}

// Google Benchmark's filter as it applies it: an extended regular expression
// searched for in the name; a leading '-' selects the names it does not match.
class Filter {
 public:
  Filter() : text_(benchmark::GetBenchmarkFilter()) {
    negative_ = !text_.empty() && text_[0] == '-';
    const bool all = text_.empty() || text_ == "all";
    regex_ =
        std::regex(all ? std::string(".") : text_.substr(negative_ ? 1 : 0), std::regex::extended);
  }
  bool Selects(const std::string& name) const {
    return std::regex_search(name, regex_) != negative_;
  }

 private:
  std::string text_;
  bool negative_;
  std::regex regex_;
};

// The first line: what runs, on which memory, and whether the ceiling keeps
// pools below the cache (those figures are then partly cached).
void PrintFirstLine(const std::vector<Registered>& benchmarks) {
  const MemoryLimits& limits = Limits();
  const Filter filter;
  std::size_t selected = 0;
  std::size_t cached = 0;
  for (const Registered& b : benchmarks) {
    if (!filter.Selects(b.name)) continue;
    ++selected;
    if (b.bound ? BoundPartlyCached(*b.op) : PartlyCached(*b.op)) ++cached;
  }
  std::printf(
      "compare: kernel level %s; libyuv %s; OpenCV %s; last-level cache %zu MiB (%s); "
      "pool ceiling %zu MiB; ",
      LevelName(kolvex::testing::GetKernelLevel()),
#if defined(KOLVEX_HAVE_LIBYUV)
      "yes",
#else
      "not found",
#endif
#if defined(KOLVEX_HAVE_OPENCV)
      "yes",
#else
      "not found",
#endif
      limits.cacheBytes >> 20, limits.cacheForced ? "forced" : "reported",
      limits.ceilingBytes >> 20);
  if (limits.hot) {
    std::printf("one frame per pool, hot\n");
  } else if (cached == 0) {
    std::printf("frames cycled from pools larger than the cache\n");
  } else {
    std::printf(
        "the ceiling keeps pools below the cache: %zu of %zu benchmarks are partly "
        "cached (their rows are marked so)\n",
        cached, selected);
  }
}

}  // namespace
}  // namespace compare

int main(int argc, char** argv) {
  using namespace compare;
  Options options;
  if (!ApplyOwnFlags(argc, argv, options)) return 2;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  SetMemoryLimits(options.cacheMiB << 20, options.hot);
  static const Operations ops = AllOperations();
  PrintFirstLine(RegisterBenchmarks(ops));
  std::fflush(stdout);

  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  ReleasePools();

  std::printf("\nAgreement with our bytes:\n");
  for (const std::string& line : AgreementLines(ops)) std::printf("  %s\n", line.c_str());
  PrintTables(ops, reporter);
  std::printf("\npeak resident memory %zu MiB (pool ceiling %zu MiB)\n", PeakResidentBytes() >> 20,
              Limits().ceilingBytes >> 20);
  benchmark::Shutdown();
  return 0;
}
