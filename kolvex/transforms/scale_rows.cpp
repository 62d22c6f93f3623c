// Plain kernels of nearest-neighbour scaling: the centre walk that builds an
// index table, and the row copy through the column table.

#include <kolvex/transforms/transform_rows.h>

#include <cstdint>
#include <cstring>

namespace kolvex::detail {

namespace {

template <std::size_t N>
void ScaleRow(const BYTE* srcRow, const LONG* columnMap, BYTE* out, std::size_t outPixels) {
  for (std::size_t x = 0; x < outPixels; ++x, out += N) {
    std::memcpy(out, srcRow + static_cast<std::size_t>(columnMap[x]) * N, N);
  }
}

}  // namespace

void ScaleRow24(const BYTE* srcRow, const LONG* columnMap, BYTE* out, std::size_t outPixels) {
  ScaleRow<3>(srcRow, columnMap, out, outPixels);
}

void ScaleRow32(const BYTE* srcRow, const LONG* columnMap, BYTE* out, std::size_t outPixels) {
  ScaleRow<4>(srcRow, columnMap, out, outPixels);
}

ScaleRowFn SelectScaleRow(WORD bitCount) {
  switch (bitCount) {
    case 24:
      return ScaleRow24;
    case 32:
      return ScaleRow32;
    default:
      return nullptr;
  }
}

void CentreWalk(LONG* entries, int count, int sourceCount) {
  // `remainder` and `distance` carry, scaled to integers, how far the next
  // destination centre and the next source boundary lie ahead; whichever is
  // nearer is passed. 64 bits, so that no pair of sizes overflows them.
  std::int64_t remainder = count;
  std::int64_t distance = sourceCount / 2;
  const LONG last = sourceCount - 1;
  LONG j = 0;
  int i = 0;
  while (i < count) {
    if (remainder > distance) {
      entries[i++] = j;
      remainder -= distance;
      distance = sourceCount;
    } else {
      distance -= remainder;
      remainder = count;
      if (j < last) ++j;
    }
  }
}

}  // namespace kolvex::detail
