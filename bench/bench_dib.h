// The bitmap class of the benchmarks: CRZDIB2, for its filters, with the
// reductions' and frames' workers (which fill a destination made beforehand)
// opened up.
#pragma once

#include <kolvex/kolvex.h>
#include <kolvex/testing.h>

class BenchDib final : public CRZDIB2 {
 public:
  BenchDib() = default;
  BenchDib(const BenchDib&) = delete;
  BenchDib& operator=(const BenchDib&) = delete;

  using CRZDIB2::_GetEighthDIB;
  using CRZDIB2::_GetEvenFrame;
  using CRZDIB2::_GetQuarterDIB;
};
