// Hooks for tests and benchmarks. Not meant for production code paths.
//
// Threading: the switches are process-wide and may be flipped from any thread;
// a test that uses them should not run other library work concurrently unless
// it wants that work to be affected too.
#pragma once

#include <kolvex/base/kernel_level.h>
#include <kolvex/platform/export.h>

namespace kolvex::testing {

// Makes the (n+1)-th allocation of the library counted from this call, and every
// later one, fail as if memory had run out (n = 0: the very next one fails).
// Counted are all allocations the library makes: data blocks, pixel buffers,
// virtual memory, scaling tables, cache entries, colour descriptions and
// platform objects. Failures surface as the memory exception inside the library
// and as false results at its interface.
KOLVEX_API void FailAllocationsAfter(long long n);

// Ends the fault injection started by FailAllocationsAfter().
KOLVEX_API void StopFailingAllocations();

// The kernel levels (<kolvex/base/kernel_level.h>), by their testing name too.
using KernelLevel = kolvex::KernelLevel;

// The widest level this processor supports (Plain on processors without SSE2).
KOLVEX_API KernelLevel BestKernelLevel();

// Makes the library use `level` from now on. A level above BestKernelLevel()
// is refused (false, nothing changes).
KOLVEX_API bool SetKernelLevel(KernelLevel level);

// The level in force.
KOLVEX_API KernelLevel GetKernelLevel();

// Operations that read and write fewer bytes than this run on the calling
// thread alone (<kolvex/core/threads.h>); larger ones split their rows into
// bands of at least a quarter of it. 0 splits every image of two rows or
// more; a negative value restores the library's own threshold.
KOLVEX_API void SetSplitBytes(long long bytes);

}  // namespace kolvex::testing
