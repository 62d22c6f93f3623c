// The kernel-level switch that tests and benchmarks use to compare kernels.

#include "test_support.h"

namespace {

using kolvex::testing::KernelLevel;

TEST(KernelLevel, DefaultsToTheBestAndRefusesWhatTheProcessorLacks) {
  const KernelLevel best = kolvex::testing::BestKernelLevel();
  EXPECT_EQ(kolvex::testing::GetKernelLevel(), best);
  for (int l = 0; l <= static_cast<int>(KernelLevel::AVX512); ++l) {
    const auto level = static_cast<KernelLevel>(l);
    EXPECT_EQ(kolvex::testing::SetKernelLevel(level), l <= static_cast<int>(best));
    EXPECT_EQ(kolvex::testing::GetKernelLevel(), l <= static_cast<int>(best) ? level : best);
    kolvex::testing::SetKernelLevel(best);
  }
  EXPECT_FALSE(kolvex::testing::SetKernelLevel(static_cast<KernelLevel>(7)));
  EXPECT_EQ(kolvex::testing::GetKernelLevel(), best);
#if defined(__x86_64__)
  EXPECT_GE(static_cast<int>(best), static_cast<int>(KernelLevel::SSE2));  // the x86-64 baseline
#endif
}

}  // namespace
