// Internal: the reader of bitmap files and bitmap resources.
//
// ParseBitmap() checks every field it relies on against the input size before
// anything is allocated, and produces a BitmapPlan: where the pixel rows are,
// in which order, and how each row becomes a row of the library's own format.
// The loaders (bitmap_file.cpp, capture.cpp) then create the bitmap and run
// ConvertImage(), one ConvertRow() per row. No offset or size taken from the
// input is used before it has been checked. The format's facts (header kinds
// and sizes, depths, colour tables) come from base/bitmap_format.h.
#pragma once

#include <kolvex/base/bitmap_format.h>
#include <kolvex/platform/win32.h>

#include <cstddef>

namespace kolvex::detail {

// What is being read. A file starts with "BM", may carry the longer Windows
// info headers and bit fields, and has its pixels at bfOffBits. A resource has
// the classic 40-byte info header, its colour table (skipped) and then the
// pixels, which are kept at their own bit depth.
enum class BitmapSource { File, Resource };

// How a source row becomes a row of the loaded bitmap.
enum class RowFormat {
  Copy,       // same bit depth: the row's stride bytes are copied
  Index1,     // 1-bit palette indices to 24-bit colours
  Index4,     // 4-bit palette indices to 24-bit colours
  Index8,     // 8-bit palette indices to 24-bit colours
  Rgb555,     // 16-bit 5-5-5 to 24-bit
  Rgb565,     // 16-bit 5-6-5 to 24-bit
};

struct BitmapPlan {
  BITMAPINFOHEADER info;   // the input's first 40 header bytes, biHeight made positive
  LONG width;
  LONG height;             // positive
  bool topDown;            // input rows run from the top; they are stored flipped
  WORD sourceBits;
  std::size_t sourceStride;
  std::size_t outStride;   // stride of the loaded bitmap's rows
  std::size_t pixelOffset; // offset of the first input row in the input
  std::size_t pixelBytes;  // bytes available from pixelOffset to the end of the input
  WORD bits;               // bit depth of the loaded bitmap
  RowFormat format;
  RGBQUAD palette[256];    // for the Index formats; entries past the table are black
};

// Checks `data` and fills `plan`. Returns nullptr when the input can be
// loaded, otherwise a short fixed reason such as "not a bitmap file (too short)".
const char* ParseBitmap(const BYTE* data, std::size_t size, BitmapSource source,
                        BitmapPlan& plan);

// Converts one input row into one row of the loaded bitmap (plan.width pixels;
// for Copy, plan.sourceStride bytes). `out` has room for the output stride.
void ConvertRow(const BitmapPlan& plan, const BYTE* in, BYTE* out);

// Converts the whole image of the checked input `data` into `out`, which has
// room for plan.height rows of plan.outStride bytes, stored bottom-up: the
// rows of a top-down input are flipped.
void ConvertImage(const BitmapPlan& plan, const BYTE* data, BYTE* out);

}  // namespace kolvex::detail
