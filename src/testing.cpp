// The hooks of <kolvex/testing.h>, over the internal switches of the layers
// that hold them. Kept above every layer, beside the header it implements, so
// that no layer includes a header above its own.

#include "base/kernel_dispatch.h"
#include "core/bands.h"
#include "platform/allocation.h"

#include <kolvex/testing.h>

namespace kolvex::testing {

void FailAllocationsAfter(long long n) { kolvex::detail::FailAllocationsAfter(n); }

void StopFailingAllocations() { kolvex::detail::StopFailingAllocations(); }

KernelLevel BestKernelLevel() { return kolvex::detail::BestKernelLevel(); }

bool SetKernelLevel(KernelLevel level) { return kolvex::detail::SetActiveKernelLevel(level); }

KernelLevel GetKernelLevel() { return kolvex::detail::ActiveKernelLevel(); }

void SetSplitBytes(long long bytes) {
  kolvex::detail::SetSplitBytes(bytes < 0 ? kolvex::detail::kDefaultSplitBytes
                                          : static_cast<std::size_t>(bytes));
}

}  // namespace kolvex::testing
