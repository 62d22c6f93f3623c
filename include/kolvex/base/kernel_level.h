// Families of row kernels, from the portable reference loops to the widest
// vector instructions. The library picks the widest one the processor
// supports; every level produces the same bytes. Tests and benchmarks choose
// one through the hooks of <kolvex/testing.h>.
#pragma once

namespace kolvex {

enum class KernelLevel { Plain = 0, SSE2 = 1, AVX2 = 2, AVX512 = 3 };

}  // namespace kolvex
