// Internal: which family of row kernels runs (kolvex::KernelLevel). The
// widest level the processor supports is chosen once; tests and benchmarks
// may lower it through kolvex::testing::SetKernelLevel to compare every level
// on one machine.
//
// How a family offers faster kernels: its *_rows.cpp keeps the plain kernels
// (the reference, and the only ones on processors other than x86-64) and,
// beside them, variants for SSE2 (the x86-64 baseline, no attribute needed),
// AVX2 (functions marked KOLVEX_AVX2) and AVX-512 (KOLVEX_AVX512). Its Select*
// function hands the driver PickKernel(plain, sse2, avx2, avx512) once per
// call; a level without a variant of its own (nullptr) falls back to the next
// lower one. The attributes widen the instruction set of the marked functions
// only, so no wider instruction can reach a processor that lacks it.
#pragma once

#include <kolvex/base/kernel_level.h>

#if defined(__x86_64__)
#define KOLVEX_X86 1
// Functions compiled for the AVX2 and AVX-512 levels. Helpers they call that
// use wider intrinsics need the same attribute.
#define KOLVEX_AVX2 __attribute__((target("avx2")))
#define KOLVEX_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vl")))
// The x86 variant of a kernel, or nullptr on other processors.
#define KOLVEX_X86_KERNEL(fn) (fn)
#else
#define KOLVEX_X86 0
#define KOLVEX_X86_KERNEL(fn) nullptr
#endif

namespace kolvex::detail {

// The level in force. One relaxed atomic load; drivers read it once per call.
kolvex::KernelLevel ActiveKernelLevel() noexcept;
// The widest level this processor supports, and the choice of a level at or
// below it (false, nothing changed, for any other): kolvex::testing's hooks.
kolvex::KernelLevel BestKernelLevel() noexcept;
bool SetActiveKernelLevel(kolvex::KernelLevel level) noexcept;

// The variant for the active level: the widest non-null one at or below it.
// `Kernel` is a function pointer or a pointer to a table of them.
template <class Kernel>
Kernel PickKernel(Kernel plain, Kernel sse2, Kernel avx2, Kernel avx512) noexcept {
  using kolvex::KernelLevel;
  switch (ActiveKernelLevel()) {
    case KernelLevel::AVX512:
      if (avx512 != nullptr) return avx512;
      [[fallthrough]];
    case KernelLevel::AVX2:
      if (avx2 != nullptr) return avx2;
      [[fallthrough]];
    case KernelLevel::SSE2:
      if (sse2 != nullptr) return sse2;
      [[fallthrough]];
    default:
      return plain;
  }
}

}  // namespace kolvex::detail
