// The thread count of one operation, and its bands.

#include "core/bands.h"
#include "platform/worker_pool.h"

#include <kolvex/core/threads.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

constexpr int kMostThreads = 256;
// Bands per thread: a helper that starts late, or a core that other work
// slows, leaves bands that the others take.
constexpr std::size_t kBandsPerThread = 4;
constexpr std::size_t kLineBytes = 64;

std::atomic<int> g_threads{0};  // 0: one per processor
std::atomic<std::size_t> g_splitBytes{kolvex::detail::kDefaultSplitBytes};

}  // namespace

namespace kolvex {

void SetThreads(int nThreads) {
  g_threads.store(std::clamp(nThreads, 0, kMostThreads), std::memory_order_relaxed);
}

int GetThreads() {
  const int set = g_threads.load(std::memory_order_relaxed);
  return set > 0 ? set : kolvex::platform::detail::ProcessorCount();
}

}  // namespace kolvex

namespace kolvex::detail {

void SetSplitBytes(std::size_t bytes) noexcept {
  g_splitBytes.store(bytes, std::memory_order_relaxed);
}

int BandCount(std::size_t rows, std::size_t bytes, std::size_t leastBandBytes) noexcept {
  const std::size_t split = g_splitBytes.load(std::memory_order_relaxed);
  if (rows < 2 || bytes < split) return 1;
  const auto threads = static_cast<std::size_t>(GetThreads());
  if (threads <= 1) return 1;
  if (leastBandBytes == 0) leastBandBytes = std::max<std::size_t>(1, split / 4);
  return static_cast<int>(std::max<std::size_t>(
      1, std::min({rows, bytes / leastBandBytes, threads * kBandsPerThread})));
}

void RunBands(int bands, void (*task)(void*, int, int), void* context) noexcept {
  struct Bands {
    void (*task)(void*, int, int);
    void* context;
    int count;
  } all{task, context, bands};
  const int helpers = std::min(bands, GetThreads()) - 1;
  kolvex::platform::detail::RunTasks(
      bands, helpers,
      [](void* c, int band) {
        const auto& b = *static_cast<const Bands*>(c);
        b.task(b.context, band, b.count);
      },
      &all);
}

// Runs of whole cache lines, one per band; the last band takes the tail.
template <class Run>
void ForEachRun(std::size_t bytes, std::size_t moved, const Run& run) {
  const std::size_t lines = bytes / kLineBytes;
  ForEachBand(lines, moved, [&](std::size_t first, std::size_t end) {
    run(first * kLineBytes, end == lines ? bytes : end * kLineBytes);
  });
}

void CopyBytes(void* dst, const void* src, std::size_t bytes) noexcept {
  ForEachRun(bytes, 2 * bytes, [&](std::size_t from, std::size_t to) {
    std::memcpy(static_cast<char*>(dst) + from, static_cast<const char*>(src) + from, to - from);
  });
}

void FillBytes(void* dst, int value, std::size_t bytes) noexcept {
  ForEachRun(bytes, bytes, [&](std::size_t from, std::size_t to) {
    std::memset(static_cast<char*>(dst) + from, value, to - from);
  });
}

}  // namespace kolvex::detail
