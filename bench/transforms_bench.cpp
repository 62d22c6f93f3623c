// Whole-image transforms on video-sized frames (1920x1080 and 720x576, 24 and
// 32 bits), timed through the public operations as clients call them, with a
// memcpy of the same bytes as the baseline. Bytes processed per call are the
// source image's bytes (stride x height) for every operation, so the figures
// compare directly with the memcpy line of the same frame size and depth.
// Operations that make their result create it on every call, as a client's
// call does, so their times include faulting in the fresh pages of the
// result's page-granular storage; bench/compare times the pixel work alone,
// on destinations made beforehand.

#include "bench_dib.h"
#include "frames.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <functional>

namespace {

using kolvex_bench::Frame;
using kolvex_bench::FrameOf;

// Times `op(dst, src)`; a false answer stops the benchmark with an error.
void Run(benchmark::State& state, const std::function<bool(BenchDib&, const BenchDib&)>& op,
         bool preparedDestination) {
  const Frame f = FrameOf(state);
  BenchDib src;
  BenchDib dst;
  // Interlaced frames: the reductions average within a field, as for video.
  if (!kolvex_bench::MakeNoise(src, f, kolvex::kInterlacedFrame) ||
      (preparedDestination && !dst.Create(f.bits, f.width, f.height, kolvex::kInterlacedFrame))) {
    state.SkipWithError("out of memory");
    return;
  }
  for (auto _ : state) {
    if (!op(dst, src)) {
      state.SkipWithError("operation failed");
      break;
    }
    benchmark::DoNotOptimize(dst.GetBytes());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * src.DIBSize());
}

void BM_Memcpy(benchmark::State& state) { kolvex_bench::MemcpyBaseline(state); }

void BM_Quarter(benchmark::State& state) {
  Run(
      state, [](BenchDib& d, const BenchDib& s) { return d.CreateQuarter(s); }, false);
}

void BM_Eighth(benchmark::State& state) {
  Run(
      state, [](BenchDib& d, const BenchDib& s) { return d.CreateEighth(s); }, false);
}

// 1920x1080 to 1280x720 and 2560x1440; other frames by the same ratios.
void BM_ScaleDown(benchmark::State& state) {
  Run(
      state,
      [](BenchDib& d, const BenchDib& s) {
        return d.CreateScaled(s, s.DIBWidth() * 2 / 3, s.DIBHeight() * 2 / 3);
      },
      false);
}

void BM_ScaleUp(benchmark::State& state) {
  Run(
      state,
      [](BenchDib& d, const BenchDib& s) {
        return d.CreateScaled(s, s.DIBWidth() * 4 / 3, s.DIBHeight() * 4 / 3);
      },
      false);
}

void BM_MirrorHorizontal(benchmark::State& state) {
  Run(
      state, [](BenchDib& d, const BenchDib& s) { return d.Mirror(1, 0, s); }, true);
}

void BM_MirrorVertical(benchmark::State& state) {
  Run(
      state, [](BenchDib& d, const BenchDib& s) { return d.Mirror(0, 1, s); }, true);
}

void BM_CopyField(benchmark::State& state) {
  Run(
      state, [](BenchDib& d, const BenchDib& s) { return d.CopyField(s, 1); }, true);
}

void BM_InterpolatedFrame(benchmark::State& state) {
  Run(
      state, [](BenchDib& d, const BenchDib& s) { return d.CreateInterpolatedFrame(s, 1, 1); },
      false);
}

// Where splitting pays: a horizontal mirror and a quarter of a 32-bit frame
// of `bytes` (a square one, 4-pixel multiples) into a destination made
// beforehand, every size split (SetSplitBytes(0)) into bands for `threads`
// threads, on the wall clock. The size where two threads first beat one is the
// library's threshold (core/bands.h); the frames stay in the cache.
void BM_Split(benchmark::State& state) {
  const auto side = static_cast<int>(std::sqrt(static_cast<double>(state.range(0)) / 4)) / 4 * 4;
  const bool quarter = state.range(2) != 0;
  BenchDib src;
  BenchDib dst;
  if (!kolvex_bench::MakeNoise(src, {side, side, 32}, 1) ||
      !dst.Create(32, quarter ? side / 2 : side, quarter ? side / 2 : side, 1)) {
    state.SkipWithError("out of memory");
    return;
  }
  kolvex::testing::SetSplitBytes(0);
  kolvex::SetThreads(static_cast<int>(state.range(1)));
  for (auto _ : state) {
    if (!(quarter ? dst._GetQuarterDIB(src, 0) : dst.Mirror(1, 0, src))) {
      state.SkipWithError("operation failed");
      break;
    }
    benchmark::ClobberMemory();
  }
  kolvex::SetThreads(0);
  kolvex::testing::SetSplitBytes(-1);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * src.DIBSize());
}

void Frames(benchmark::internal::Benchmark* b) {
  b->ArgNames({"w", "h", "bits"});
  for (WORD bits : {24, 32}) {
    b->Args({1920, 1080, bits});
    b->Args({720, 576, bits});
  }
}

}  // namespace

BENCHMARK(BM_Memcpy)->Apply(Frames);
BENCHMARK(BM_Quarter)->Apply(Frames);
BENCHMARK(BM_Eighth)->Apply(Frames);
BENCHMARK(BM_ScaleDown)->Apply(Frames);
BENCHMARK(BM_ScaleUp)->Apply(Frames);
BENCHMARK(BM_MirrorHorizontal)->Apply(Frames);
BENCHMARK(BM_MirrorVertical)->Apply(Frames);
BENCHMARK(BM_CopyField)->Apply(Frames);
BENCHMARK(BM_InterpolatedFrame)->Apply(Frames);
BENCHMARK(BM_Split)
    ->ArgNames({"bytes", "threads", "quarter"})
    ->ArgsProduct({benchmark::CreateRange(16 << 10, 4 << 20, 2), {1, 2}, {0, 1}})
    ->UseRealTime();

BENCHMARK_MAIN();
