// Internal: rows of one operation split into bands that run at once on the
// calling thread and the helper threads (<kolvex/core/threads.h>).
//
// A driver picks its kernels, checks its images and then hands ForEachBand
// the row count and the bytes the whole operation reads and writes; each band
// gets a range of rows of its own, written by it alone, so the bytes do not
// depend on how the rows are split. Small images run as one band on the
// calling thread.
#pragma once

#include <algorithm>
#include <cstddef>

namespace kolvex::detail {

// Bytes read and written below which an operation is not split: below them,
// waking a helper costs about what it saves (bench/transforms_bench.cpp,
// BM_Split, measures it). Tests and benchmarks may change it
// (kolvex::testing::SetSplitBytes).
inline constexpr std::size_t kDefaultSplitBytes = 256 * 1024;

// Changes the split size (kolvex::testing::SetSplitBytes).
void SetSplitBytes(std::size_t bytes) noexcept;

// How many bands ForEachBand makes of `rows` rows moving `bytes` bytes, each
// band moving at least `leastBandBytes` (0: a quarter of the split size).
int BandCount(std::size_t rows, std::size_t bytes, std::size_t leastBandBytes = 0) noexcept;

// Runs task(context, band, bands) for band in [0, bands), in parallel where
// helpers can be had.
void RunBands(int bands, void (*task)(void* context, int band, int bands), void* context) noexcept;

// The first row of band `band` of `bands` over `rows` rows: bands differ by
// at most one row and cover the rows once, in order.
inline std::size_t BandStart(std::size_t rows, int band, int bands) noexcept {
  return rows / static_cast<std::size_t>(bands) * static_cast<std::size_t>(band) +
         std::min<std::size_t>(rows % static_cast<std::size_t>(bands),
                               static_cast<std::size_t>(band));
}

// Calls rowsOf(first, end) for bands [first, end) that cover [0, rows) once.
// `rowsOf` must not throw.
template <class RowsOf>
void ForEachBand(std::size_t rows, std::size_t bytes, const RowsOf& rowsOf,
                 std::size_t leastBandBytes = 0) {
  const int bands = BandCount(rows, bytes, leastBandBytes);
  if (bands <= 1) {
    rowsOf(std::size_t{0}, rows);
    return;
  }
  struct Context {
    const RowsOf* rowsOf;
    std::size_t rows;
  } context{&rowsOf, rows};
  RunBands(
      bands,
      [](void* c, int band, int count) {
        const auto& ctx = *static_cast<const Context*>(c);
        (*ctx.rowsOf)(BandStart(ctx.rows, band, count), BandStart(ctx.rows, band + 1, count));
      },
      &context);
}

// memcpy and memset, split in runs of whole cache lines where they are large.
void CopyBytes(void* dst, const void* src, std::size_t bytes) noexcept;
void FillBytes(void* dst, int value, std::size_t bytes) noexcept;

}  // namespace kolvex::detail
