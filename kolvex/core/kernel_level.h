// Internal: which family of row kernels runs. The widest level the processor
// supports is chosen once; tests and benchmarks may lower it through
// kolvex::testing::SetKernelLevel to compare every level on one machine.
#pragma once

#include <kolvex/platform/testing.h>

namespace kolvex::detail {

// The level in force. One relaxed atomic load; drivers read it once per call.
kolvex::testing::KernelLevel ActiveKernelLevel() noexcept;

}  // namespace kolvex::detail
