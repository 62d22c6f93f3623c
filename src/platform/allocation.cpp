#include "platform/allocation.h"

#include <atomic>

namespace {

std::atomic<bool> g_injecting{false};
// Allocations still allowed before the injected failures begin.
std::atomic<long long> g_remaining{0};

}  // namespace

namespace kolvex::detail {

bool AllocationShouldFail() noexcept {
  if (!g_injecting.load(std::memory_order_relaxed)) return false;
  return g_remaining.fetch_sub(1, std::memory_order_relaxed) <= 0;
}

void FailAllocationsAfter(long long n) {
  CountSystemAllocations();
  g_remaining.store(n < 0 ? 0 : n, std::memory_order_relaxed);
  g_injecting.store(true, std::memory_order_relaxed);
}

void StopFailingAllocations() { g_injecting.store(false, std::memory_order_relaxed); }

}  // namespace kolvex::detail
