// Row conversions from the bit depths a bitmap file may have to the library's
// own: palette indices and 16-bit colours become 24-bit blue, green, red.

#include <kolvex/windows/bitmap_file_read.h>

#include <cstring>

namespace kolvex::detail {

namespace {

void PutColour(BYTE* out, const RGBQUAD& c) {
  out[0] = c.rgbBlue;
  out[1] = c.rgbGreen;
  out[2] = c.rgbRed;
}

void IndexRow(const RGBQUAD* palette, const BYTE* in, BYTE* out, std::size_t width,
              unsigned bits) {
  const unsigned perByte = 8 / bits;
  const unsigned mask = (1u << bits) - 1;
  for (std::size_t x = 0; x < width; ++x) {
    const unsigned shift = 8 - bits * (1 + static_cast<unsigned>(x % perByte));
    PutColour(out + 3 * x, palette[(in[x / perByte] >> shift) & mask]);
  }
}

void Rgb16Row(const BYTE* in, BYTE* out, std::size_t width, bool green6) {
  for (std::size_t x = 0; x < width; ++x) {
    const unsigned v = in[2 * x] | static_cast<unsigned>(in[2 * x + 1]) << 8;
    out[3 * x] = WidenChannel(v & 0x1F, 5);
    if (green6) {
      out[3 * x + 1] = WidenChannel((v >> 5) & 0x3F, 6);
      out[3 * x + 2] = WidenChannel((v >> 11) & 0x1F, 5);
    } else {
      out[3 * x + 1] = WidenChannel((v >> 5) & 0x1F, 5);
      out[3 * x + 2] = WidenChannel((v >> 10) & 0x1F, 5);
    }
  }
}

}  // namespace

void ConvertRow(const BitmapPlan& plan, const BYTE* in, BYTE* out) {
  const auto width = static_cast<std::size_t>(plan.width);
  switch (plan.format) {
    case RowFormat::Copy:
      std::memcpy(out, in, plan.sourceStride);
      return;
    case RowFormat::Index1:
      IndexRow(plan.palette, in, out, width, 1);
      break;
    case RowFormat::Index4:
      IndexRow(plan.palette, in, out, width, 4);
      break;
    case RowFormat::Index8:
      IndexRow(plan.palette, in, out, width, 8);
      break;
    case RowFormat::Rgb555:
      Rgb16Row(in, out, width, false);
      break;
    case RowFormat::Rgb565:
      Rgb16Row(in, out, width, true);
      break;
  }
  // Converted rows end in zeroed padding, so loading is deterministic.
  std::memset(out + 3 * width, 0, plan.outStride - 3 * width);
}

}  // namespace kolvex::detail
