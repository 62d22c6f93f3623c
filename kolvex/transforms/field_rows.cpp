// Plain kernel of the field operations: the rounded byte mean of two rows.

#include <kolvex/transforms/transform_rows.h>

#include <cstdint>
#include <cstring>

namespace kolvex::detail {

namespace {

// (a + b + 1) / 2 as (a / 2) + (b / 2) + ((a | b) & 1): at most 127 + 127 + 1,
// so no byte carries into its neighbour and four bytes share one word.
constexpr std::uint32_t kLow7 = 0x7F7F7F7Fu;
constexpr std::uint32_t kLowBit = 0x01010101u;

inline BYTE AverageByte(unsigned a, unsigned b) {
  return static_cast<BYTE>((a >> 1) + (b >> 1) + ((a | b) & 1u));
}

}  // namespace

void AverageRows(const BYTE* a, const BYTE* b, BYTE* out, std::size_t bytes) {
  std::size_t i = 0;
  for (; i + 4 <= bytes; i += 4) {
    std::uint32_t wa;
    std::uint32_t wb;
    std::memcpy(&wa, a + i, 4);
    std::memcpy(&wb, b + i, 4);
    const std::uint32_t mean = ((wa >> 1) & kLow7) + ((wb >> 1) & kLow7) + ((wa | wb) & kLowBit);
    std::memcpy(out + i, &mean, 4);
  }
  for (; i < bytes; ++i) out[i] = AverageByte(a[i], b[i]);
}

AverageRowsFn SelectAverageRows() { return AverageRows; }

}  // namespace kolvex::detail
