// The pixel filters of CRZDIB2 on 1920x1080 frames (the median at 8, 24 and
// 32 bits, brightness at 24 and 32, the depths it handles), with
// a memcpy of the same bytes as the baseline, and lookups in the shared image
// cache (hits and misses) with 1, 100 and 1000 entries. Bytes processed per
// filter call are the image's bytes (stride x height), so the figures compare
// directly with the memcpy line of the same depth.

#include "frames.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

using kolvex_bench::Frame;
using kolvex_bench::FrameOf;

bool MakeNoise(CRZDIB2& dib, const Frame& f) {
  return kolvex_bench::MakeNoise(dib, f, kolvex::kProgressiveFrame);
}

void BM_Memcpy(benchmark::State& state) { kolvex_bench::MemcpyBaseline(state); }

// In place on an unshared bitmap, so no call copies the block first. The level
// alternates so that the values keep moving instead of settling at a clamp.
void BM_AdjustBrightness(benchmark::State& state) {
  CRZDIB2 dib;
  if (!MakeNoise(dib, FrameOf(state))) {
    state.SkipWithError("out of memory");
    return;
  }
  int level = 100;
  for (auto _ : state) {
    if (!dib.AdjustBrightness(level)) {
      state.SkipWithError("refused");
      break;
    }
    level = 256 - level;
    benchmark::DoNotOptimize(dib.GetBytes());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * dib.DIBSize());
}

void BM_Median3x3(benchmark::State& state) {
  const Frame f = FrameOf(state);
  CRZDIB2 src;
  CRZDIB2 dst;
  if (!MakeNoise(src, f) || !dst.Create(f.bits, f.width, f.height, 1)) {
    state.SkipWithError("out of memory");
    return;
  }
  for (auto _ : state) {
    if (!dst.Median3x3(src)) {
      state.SkipWithError("refused");
      break;
    }
    benchmark::DoNotOptimize(dst.GetBytes());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * src.DIBSize());
}

void Frames(benchmark::internal::Benchmark* b) {
  b->ArgNames({"w", "h", "bits"});
  for (WORD bits : {8, 24, 32}) b->Args({1920, 1080, bits});
}

// The brightness filter handles 24 and 32 bits only.
void ColourFrames(benchmark::internal::Benchmark* b) {
  b->ArgNames({"w", "h", "bits"});
  for (WORD bits : {24, 32}) b->Args({1920, 1080, bits});
}

// ---- Cache lookups ----

CDIBCacheInfo Key(int i) {
  CDIBCacheInfo info{};
  info.bInfoValid = 1;
  info.dwKey1 = static_cast<DWORD>(i);
  return info;
}

// `entries` small pictures cached under keys 0..entries-1; emptied again (and
// the capacity set back to 0) when it goes.
class FilledCache {
 public:
  explicit FilledCache(int entries) : pictures_(static_cast<std::size_t>(entries)) {
    ok_ = CRZDIB2::SetCacheCapacityKB(1 << 20);
    for (int i = 0; ok_ && i < entries; ++i) {
      CRZDIB2& pic = pictures_[static_cast<std::size_t>(i)];
      ok_ = pic.Create(32, 16, 16, 1);
      if (ok_) {
        pic.SetCacheInfo(Key(i));
        ok_ = pic.CacheThis();
      }
    }
  }
  ~FilledCache() { CRZDIB2::SetCacheCapacityKB(0); }
  FilledCache(const FilledCache&) = delete;
  FilledCache& operator=(const FilledCache&) = delete;
  bool ok() const { return ok_; }

 private:
  std::vector<CRZDIB2> pictures_;
  bool ok_ = false;
};

// A hit names another entry each time (a stride prime to the count visits all
// of them), so every lookup walks part of the list and takes a share of a new
// block; a miss compares the key with every entry.
void Lookups(benchmark::State& state, bool hits) {
  const int entries = static_cast<int>(state.range(0));
  FilledCache cache(entries);
  if (!cache.ok()) {
    state.SkipWithError("could not fill the cache");
    return;
  }
  CRZDIB2 client;
  int i = 0;
  for (auto _ : state) {
    if (client.LookupCache(Key(hits ? i : -1)) != hits) {
      state.SkipWithError(hits ? "missed" : "hit");
      break;
    }
    i = (i + 7919) % entries;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_LookupHit(benchmark::State& state) { Lookups(state, true); }
void BM_LookupMiss(benchmark::State& state) { Lookups(state, false); }

}  // namespace

BENCHMARK(BM_Memcpy)->Apply(Frames);
BENCHMARK(BM_AdjustBrightness)->Apply(ColourFrames);
BENCHMARK(BM_Median3x3)->Apply(Frames);
BENCHMARK(BM_LookupHit)->ArgName("entries")->Arg(1)->Arg(100)->Arg(1000);
BENCHMARK(BM_LookupMiss)->ArgName("entries")->Arg(1)->Arg(100)->Arg(1000);

BENCHMARK_MAIN();
