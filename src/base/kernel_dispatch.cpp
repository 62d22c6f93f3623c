#include "base/kernel_dispatch.h"

#include <atomic>

namespace {

using kolvex::KernelLevel;

KernelLevel DetectBestLevel() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  // AVX-512 kernels use byte and word instructions (BW) and masked 128- and
  // 256-bit forms (VL) besides the foundation.
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx2")) {
    return KernelLevel::AVX512;
  }
  if (__builtin_cpu_supports("avx2")) return KernelLevel::AVX2;
  if (__builtin_cpu_supports("sse2")) return KernelLevel::SSE2;
#endif
  return KernelLevel::Plain;
}

const KernelLevel g_best = DetectBestLevel();
std::atomic<KernelLevel> g_active{g_best};

}  // namespace

namespace kolvex::detail {

KernelLevel ActiveKernelLevel() noexcept { return g_active.load(std::memory_order_relaxed); }

KernelLevel BestKernelLevel() noexcept { return g_best; }

bool SetActiveKernelLevel(KernelLevel level) noexcept {
  if (static_cast<int>(level) < 0 || static_cast<int>(level) > static_cast<int>(g_best))
    return false;
  g_active.store(level, std::memory_order_relaxed);
  return true;
}

}  // namespace kolvex::detail
