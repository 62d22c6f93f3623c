// The smallest concrete bitmap class, for the benchmarks: the base class
// cannot be instantiated, and the reductions' and frames' workers (which fill
// a destination made beforehand) are protected.
#pragma once

#include <kolvex/kolvex.h>

class BenchDib final : public CRZDIBBase2 {
 public:
  BenchDib() = default;
  ~BenchDib() { Delete(); }
  BenchDib(const BenchDib&) = delete;
  BenchDib& operator=(const BenchDib&) = delete;

  using CRZDIBBase2::_GetEighthDIB;
  using CRZDIBBase2::_GetEvenFrame;
  using CRZDIBBase2::_GetQuarterDIB;
};
