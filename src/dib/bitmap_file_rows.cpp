// Row conversions from the bit depths a bitmap file may have to the library's
// own: palette indices and bit fields become 24-bit blue, green, red, or
// 32 bits with alpha when the file has an alpha mask.

#include "dib/bitmap_file_read.h"

#include <cstring>

namespace kolvex::detail {

namespace {

void IndexRow(const RGBQUAD* palette, const BYTE* in, BYTE* out, std::size_t width, unsigned bits) {
  const unsigned perByte = 8 / bits;
  const unsigned mask = (1u << bits) - 1;
  for (std::size_t x = 0; x < width; ++x) {
    const unsigned shift = 8 - bits * (1 + static_cast<unsigned>(x % perByte));
    PutColour(out + 3 * x, palette[(in[x / perByte] >> shift) & mask]);
  }
}

BYTE Widen(const Channel& c, DWORD pixel) { return c.table[(pixel >> c.shift) & c.kept]; }

// One instance per pixel size and output, so that the loop has no branch.
template <bool kWide, bool kAlpha>
void BitFieldRow(const Channel* c, const BYTE* in, BYTE* out, std::size_t width) {
  for (std::size_t x = 0; x < width; ++x) {
    const DWORD v =
        kWide ? ReadLE32(in + 4 * x) : in[2 * x] | static_cast<DWORD>(in[2 * x + 1]) << 8;
    out[0] = Widen(c[2], v);
    out[1] = Widen(c[1], v);
    out[2] = Widen(c[0], v);
    if constexpr (kAlpha) out[3] = Widen(c[3], v);
    out += kAlpha ? 4 : 3;
  }
}

void BitFieldRow(const BitmapPlan& plan, const BYTE* in, BYTE* out, std::size_t width) {
  const bool wide = plan.sourceBits == 32;
  const bool alpha = plan.bits == 32;
  if (wide) {
    (alpha ? BitFieldRow<true, true> : BitFieldRow<true, false>)(plan.channels, in, out, width);
  } else {
    (alpha ? BitFieldRow<false, true> : BitFieldRow<false, false>)(plan.channels, in, out, width);
  }
}

}  // namespace

void ConvertRow(const BitmapPlan& plan, const BYTE* in, BYTE* out) {
  const auto width = static_cast<std::size_t>(plan.width);
  switch (plan.format) {
    case RowFormat::Copy:
      std::memcpy(out, in, plan.sourceStride);
      return;
    case RowFormat::Index:
      IndexRow(plan.palette, in, out, width, plan.sourceBits);
      break;
    case RowFormat::BitFields:
      BitFieldRow(plan, in, out, width);
      break;
  }
  // Converted rows end in zeroed padding, so loading is deterministic.
  const std::size_t used = width * (plan.bits / 8);
  std::memset(out + used, 0, plan.outStride - used);
}

void ConvertImage(const BitmapPlan& plan, const BYTE* data, BYTE* out) {
  if (plan.runLength != RunLength::None) {
    DecodeRunLength(plan, data + plan.pixelOffset, out);
    return;
  }
  const BYTE* in = data + plan.pixelOffset;
  const auto rows = static_cast<std::size_t>(plan.height);
  for (std::size_t r = 0; r < rows; ++r) {
    const std::size_t to = plan.topDown ? rows - 1 - r : r;
    ConvertRow(plan, in + r * plan.sourceStride, out + to * plan.outStride);
  }
}

}  // namespace kolvex::detail
