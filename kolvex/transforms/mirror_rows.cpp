// Plain kernels of mirroring: one row with its pixels in reverse order. A row
// kept in order is a plain memcpy of its pixel bytes in the driver.

#include <kolvex/transforms/transform_rows.h>

#include <cstring>

namespace kolvex::detail {

namespace {

template <std::size_t N>
void MirrorRow(const BYTE* src, BYTE* out, std::size_t pixels) {
  const BYTE* from = src + pixels * N;
  for (std::size_t x = 0; x < pixels; ++x, out += N) {
    from -= N;
    std::memcpy(out, from, N);
  }
}

}  // namespace

void MirrorRow24(const BYTE* src, BYTE* out, std::size_t pixels) { MirrorRow<3>(src, out, pixels); }
void MirrorRow32(const BYTE* src, BYTE* out, std::size_t pixels) { MirrorRow<4>(src, out, pixels); }
void MirrorRow64(const BYTE* src, BYTE* out, std::size_t pixels) { MirrorRow<8>(src, out, pixels); }

MirrorRowFn SelectMirrorRow(WORD bitCount) {
  switch (bitCount) {
    case 24:
      return MirrorRow24;
    case 32:
      return MirrorRow32;
    case 64:
      return MirrorRow64;
    default:
      return nullptr;
  }
}

}  // namespace kolvex::detail
