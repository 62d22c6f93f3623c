// Run-length streams (BI_RLE8, BI_RLE4): one walk over the codes that checks
// every run against the image and the input, used alone to judge a stream
// before anything is allocated and again to decode it.
//
// A stream is a sequence of 2-byte codes from the bottom row up:
//   n > 0, v       an encoded run: n pixels of index v (RLE4: the two indices
//                  in v's high and low nibble, alternating);
//   0, 0           end of line: on to the start of the next row;
//   0, 1           end of bitmap;
//   0, 2, dx, dy   delta: dx pixels right, dy rows up;
//   0, n >= 3      an absolute run: n indices follow (RLE4: two per byte),
//                  padded to an even number of bytes.
// Runs may cover the padding at the end of a row, as some programs encode
// whole padded rows; those pixels are dropped. Past the padding a run leaves
// the image.

#include "dib/bitmap_file_read.h"

#include <algorithm>
#include <cstdint>

namespace kolvex::detail {

namespace {

constexpr const char* kOutside = "invalid bitmap (run-length data outside the image)";
constexpr const char* kTruncated = "invalid bitmap (run-length data truncated)";

// Writes decoded indices into the loaded image: the values themselves at
// 8 bits (grey), their palette colours at 24.
class ImageRuns final : public RunSink {
 public:
  ImageRuns(const BitmapPlan& plan, BYTE* out) : plan_(plan), out_(out) {}

  void Repeat(LONG x, LONG y, unsigned count, BYTE a, BYTE b) override {
    for (unsigned i = 0; i < count; ++i) Put(x + static_cast<LONG>(i), y, (i & 1) != 0 ? b : a);
  }
  void Copy(LONG x, LONG y, unsigned count, const BYTE* in) override {
    const bool four = plan_.runLength == RunLength::Rle4;
    for (unsigned i = 0; i < count; ++i) {
      const BYTE index = four ? (in[i / 2] >> ((i & 1) != 0 ? 0 : 4)) & 0x0F : in[i];
      Put(x + static_cast<LONG>(i), y, index);
    }
  }

 private:
  void Put(LONG x, LONG y, BYTE index) {
    BYTE* row = out_ + static_cast<std::size_t>(y) * plan_.outStride;
    if (plan_.bits == 8) {
      row[x] = index;
    } else {
      PutColour(row + 3 * static_cast<std::size_t>(x), plan_.palette[index]);
    }
  }

  const BitmapPlan& plan_;
  BYTE* out_;
};

}  // namespace

const char* WalkRunLength(const BYTE* in, std::size_t size, RunLength kind, LONG width, LONG height,
                          RunSink* sink) {
  const bool four = kind == RunLength::Rle4;
  const int bits = four ? 4 : 8;
  // Pixels in a padded row; the layout was checked, so this fits.
  const auto padded = static_cast<LONG>((std::int64_t{bits} * width + 31) / 32 * 32 / bits);
  // Pixels of a run from x that lie inside the image.
  auto inside = [width](LONG x, unsigned count) {
    return static_cast<unsigned>(std::clamp<LONG>(width - x, 0, static_cast<LONG>(count)));
  };
  LONG x = 0;
  LONG y = 0;
  std::size_t pos = 0;
  for (;;) {
    if (size - pos < 2) {
      // The input ends without an end-of-bitmap code: whole only when every
      // row has been reached to its end.
      return y == height || (y == height - 1 && x >= width) ? nullptr : kTruncated;
    }
    const unsigned first = in[pos];
    const unsigned second = in[pos + 1];
    pos += 2;
    if (first > 0) {  // encoded run
      if (y >= height || static_cast<LONG>(first) > padded - x) return kOutside;
      const auto v = static_cast<BYTE>(second);
      if (sink != nullptr && inside(x, first) > 0) {
        sink->Repeat(x, y, inside(x, first), four ? v >> 4 : v, four ? v & 0x0F : v);
      }
      x += static_cast<LONG>(first);
      continue;
    }
    switch (second) {
      case 0:  // end of line
        if (y >= height) return kOutside;
        x = 0;
        ++y;
        break;
      case 1:  // end of bitmap
        return nullptr;
      case 2: {  // delta
        if (size - pos < 2) return kTruncated;
        const LONG dx = in[pos];
        const LONG dy = in[pos + 1];
        pos += 2;
        if (dx > padded - x || dy >= height - y) return kOutside;
        x += dx;
        y += dy;
        break;
      }
      default: {  // absolute run
        const std::size_t bytes = four ? (second + 1) / 2 : second;
        if (y >= height || static_cast<LONG>(second) > padded - x) return kOutside;
        if (size - pos < bytes) return kTruncated;
        if (sink != nullptr && inside(x, second) > 0) sink->Copy(x, y, inside(x, second), in + pos);
        x += static_cast<LONG>(second);
        // The padding byte may be missing at the very end of the input.
        pos = std::min(size, pos + bytes + (bytes & 1));
        break;
      }
    }
  }
}

void DecodeRunLength(const BitmapPlan& plan, const BYTE* in, BYTE* out) {
  // Every pixel starts as palette entry 0, which skipped pixels keep.
  const auto width = static_cast<std::size_t>(plan.width);
  for (LONG y = 0; y < plan.height; ++y) {
    BYTE* row = out + static_cast<std::size_t>(y) * plan.outStride;
    std::fill(row, row + plan.outStride, BYTE{0});
    if (plan.bits == 8) continue;
    for (std::size_t x = 0; x < width; ++x) PutColour(row + 3 * x, plan.palette[0]);
  }
  ImageRuns sink(plan, out);
  WalkRunLength(in, plan.pixelBytes, plan.runLength, plan.width, plan.height, &sink);
}

}  // namespace kolvex::detail
