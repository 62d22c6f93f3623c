// Plain kernels of the pixel filters: the brightness lookup and the 3 x 3
// median by a fixed selection network.

#include <kolvex/windows/filter_rows.h>

#include <algorithm>
#include <cstring>

namespace kolvex::detail {

void BuildBrightnessTable(int level, BrightnessTable& table) {
  // Folded once here so the rows need neither arithmetic nor a branch per value.
  const int offset = std::clamp(level - 128, -128, 127);
  table.offset = offset;
  for (int v = 0; v < 256; ++v) table.map[v] = static_cast<BYTE>(std::clamp(v - offset, 0, 255));
}

namespace {

template <std::size_t Mapped, std::size_t PixelBytes>
void BrightnessRow(const BrightnessTable& table, BYTE* row, std::size_t pixels) {
  for (std::size_t x = 0; x < pixels; ++x, row += PixelBytes) {
    for (std::size_t c = 0; c < Mapped; ++c) row[c] = table.map[row[c]];
  }
}

// The smaller value to lo and the larger to hi, by the sign of the difference.
// Without a branch: on noise a branch would be mispredicted half the time.
inline void Order(int& lo, int& hi) {
  const int d = hi - lo;
  const int negative = d >> 31;  // all ones when hi < lo (values are 0..255)
  lo += d & negative;
  hi -= d & negative;
}

// The fifth smallest of nine values by 12 compare-exchanges and 8 one-sided
// steps over six working values: a* is the row below, b* this row, c* the row
// above, each at pixels x - 1, x, x + 1. Values already known to lie outside
// the middle are dropped as the network goes, so six registers suffice.
inline BYTE Median9(int a0, int a1, int a2, int b0, int b1, int b2, int c0, int c1, int c2) {
  int s1 = a0, s2 = a1, s3 = a2, s4 = b0, s5 = b1, s6 = b2;
  Order(s1, s4);
  Order(s2, s5);
  Order(s3, s6);
  Order(s1, s2);
  s3 = std::max(s3, s1);
  Order(s5, s6);
  s4 = std::min(s4, s6);
  s1 = c0;
  Order(s1, s2);
  Order(s3, s4);
  Order(s1, s3);
  s5 = std::max(s5, s1);
  Order(s4, s5);
  s2 = std::min(s2, s5);
  s1 = c1;
  Order(s1, s2);
  Order(s3, s4);
  s3 = std::max(s3, s1);
  s2 = std::min(s2, s4);
  s1 = c2;
  Order(s2, s3);
  s1 = std::min(s1, s3);
  return static_cast<BYTE>(std::max(s2, s1));
}

// Every byte position of a pixel is its own channel, and its neighbours in the
// row lie B bytes to either side, so the interior is one run of bytes.
template <std::size_t B>
void MedianRow(const BYTE* prev, const BYTE* cur, const BYTE* next, BYTE* out,
               std::size_t pixels) {
  if (pixels == 0) return;
  std::memcpy(out, cur, B);
  const std::size_t last = (pixels - 1) * B;
  for (std::size_t i = B; i < last; ++i) {
    out[i] = Median9(prev[i - B], prev[i], prev[i + B], cur[i - B], cur[i], cur[i + B],
                     next[i - B], next[i], next[i + B]);
  }
  std::memcpy(out + last, cur + last, B);
}

}  // namespace

void BrightnessRow24(const BrightnessTable& table, BYTE* row, std::size_t pixels) {
  BrightnessRow<3, 3>(table, row, pixels);
}
void BrightnessRow32(const BrightnessTable& table, BYTE* row, std::size_t pixels) {
  BrightnessRow<3, 4>(table, row, pixels);
}

BrightnessRowFn SelectBrightnessRow(WORD bitCount) {
  switch (bitCount) {
    case 24:
      return BrightnessRow24;
    case 32:
      return BrightnessRow32;
    default:
      return nullptr;
  }
}

void MedianRow8(const BYTE* prev, const BYTE* cur, const BYTE* next, BYTE* out,
                std::size_t pixels) {
  MedianRow<1>(prev, cur, next, out, pixels);
}
void MedianRow24(const BYTE* prev, const BYTE* cur, const BYTE* next, BYTE* out,
                 std::size_t pixels) {
  MedianRow<3>(prev, cur, next, out, pixels);
}
void MedianRow32(const BYTE* prev, const BYTE* cur, const BYTE* next, BYTE* out,
                 std::size_t pixels) {
  MedianRow<4>(prev, cur, next, out, pixels);
}

MedianRowFn SelectMedianRow(WORD bitCount) {
  switch (bitCount) {
    case 8:
      return MedianRow8;
    case 24:
      return MedianRow24;
    case 32:
      return MedianRow32;
    default:
      return nullptr;
  }
}

}  // namespace kolvex::detail
