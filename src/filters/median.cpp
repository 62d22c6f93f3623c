// The 3 x 3 median driver: border rows copied whole, every row between them
// left to a kernel with its two neighbours.

#include "core/bands.h"
#include "filters/filter_drivers.h"
#include "filters/filter_rows.h"

#include <cstring>
#include <memory>

namespace kolvex::detail {

bool Median3x3(const ImageRows& dst, const ImageRows& src) {
  const MedianRowFn medianRow = SelectMedianRow(dst.bitCount);
  if (medianRow == nullptr) return false;

  if (dst.rows == 0) {
    // A top-down (negative) height is given no rows to filter; only the first
    // stored row is taken over, as a whole stride.
    std::memmove(dst.bytes, src.bytes, dst.stride);
    return true;
  }

  // Each output row needs the source rows on both sides of it unchanged: when
  // src lies on dst's bytes, read a copy.
  std::unique_ptr<BYTE[]> copy;
  const BYTE* from = SourceApartFrom(dst, src, copy);

  const std::size_t stride = dst.stride;
  const auto width = static_cast<std::size_t>(dst.width);
  BYTE* out = dst.bytes;
  std::memcpy(out, from, stride);  // the first and last rows whole, padding included
  const std::size_t inner = dst.rows > 2 ? dst.rows - 2 : 0;
  ForEachBand(inner, 2 * inner * stride, [&](std::size_t first, std::size_t end) {
    for (std::size_t y = first + 1; y < end + 1; ++y) {
      const BYTE* cur = from + y * stride;
      medianRow(cur - stride, cur, cur + stride, out + y * stride, width);
    }
  });
  if (dst.rows >= 2) {
    const std::size_t last = (dst.rows - 1) * stride;
    std::memcpy(out + last, from + last, stride);
  }
  return true;
}

}  // namespace kolvex::detail
