// Internal: the reader of bitmap files and bitmap resources.
//
// ParseHeaders() checks every header field it relies on against the input
// size before anything is allocated, and produces a BitmapPlan: where the
// pixel rows (or the run-length stream) are, in which order, and how each row
// becomes a row of the library's own format. It reads the headers, masks and
// colour table only, so the first kFileHeadBytes bytes of a file and its size
// are enough. ParseBitmap() adds the check of a run-length stream, which needs
// the whole input. The loaders (bitmap_file.cpp, capture.cpp) then create the
// bitmap and run ConvertImage(). No offset or size taken from the input is
// used before it has been checked. The format's facts (header kinds and
// sizes, depths, colour tables, widening) come from base/bitmap_format.h.
#pragma once

#include "base/bitmap_format.h"

#include <kolvex/platform/win32.h>

#include <cstddef>
#include <cstdint>

namespace kolvex::detail {

// What is being read. A file starts with "BM" and may carry any header kind,
// compression and depth the reader knows, with its pixels at bfOffBits. A
// resource has the classic 40-byte info header, its colour table (skipped)
// and then BI_RGB pixels, which are kept at their own bit depth.
enum class BitmapSource { File, Resource };

// How a source row becomes a row of the loaded bitmap.
enum class RowFormat {
  Copy,       // same bit depth: the row's stride bytes are copied
  Index,      // 1, 2, 4 or 8-bit palette indices to 24-bit colours
  BitFields,  // 16 or 32-bit bit fields to 24-bit colours, or 32 bits with alpha
};

// Pixels of a run-length file are a stream of codes, decoded into the image
// as a whole instead of row by row.
enum class RunLength { None, Rle8, Rle4 };

// Where a channel lies in a bit-field pixel: (pixel >> shift) & kept is the
// value of its top 8 bits at most, and `table` widens that value to 8 bits.
struct Channel {
  unsigned shift;
  unsigned kept;
  BYTE table[256];
};

struct BitmapPlan {
  BITMAPINFOHEADER info;  // the input's header fields as a classic header, biHeight positive
  const InfoHeaderKind* kind;
  DWORD headerBytes;  // size of the input's info header
  LONG width;
  LONG height;   // positive
  bool topDown;  // input rows run from the top; they are stored flipped
  WORD sourceBits;
  std::size_t sourceStride;
  std::size_t outStride;    // stride of the loaded bitmap's rows
  std::size_t pixelOffset;  // offset of the first input row (or stream byte) in the input
  std::size_t pixelBytes;   // bytes available from pixelOffset to the end of the input
  WORD bits;                // bit depth of the loaded bitmap
  bool alpha;               // 32 bits whose fourth byte is alpha (the alpha flag says valid)
  RowFormat format;
  RunLength runLength;
  DWORD tableEntries;    // colour-table entries the input holds
  DWORD masks[4];        // red, green, blue, alpha in effect at 16 and 32 bits
  Channel channels[4];   // for BitFields, in the order of masks
  RGBQUAD palette[256];  // for Index and run-length images: entries past the table repeat entry 0
};

// Checks the headers of an input of `size` bytes whose first `available`
// bytes (all of them, or at least kFileHeadBytes) are at `data`, and fills
// `plan`. Returns nullptr when the headers can be loaded, otherwise a short
// fixed reason such as "not a bitmap file (too short)".
const char* ParseHeaders(const BYTE* data, std::size_t available, std::uint64_t size,
                         BitmapSource source, BitmapPlan& plan);

// ParseHeaders over the whole input, then the run-length stream when there is
// one: null when the input can be loaded, otherwise why not.
const char* ParseBitmap(const BYTE* data, std::size_t size, BitmapSource source, BitmapPlan& plan);

// Writes a palette colour as a 24-bit pixel (blue, green, red).
inline void PutColour(BYTE* out, const RGBQUAD& c) {
  out[0] = c.rgbBlue;
  out[1] = c.rgbGreen;
  out[2] = c.rgbRed;
}

// Converts one input row into one row of the loaded bitmap (plan.width pixels;
// for Copy, plan.sourceStride bytes). `out` has room for the output stride.
void ConvertRow(const BitmapPlan& plan, const BYTE* in, BYTE* out);

// Converts the whole image of the checked input `data` into `out`, which has
// room for plan.height rows of plan.outStride bytes, stored bottom-up: the
// rows of a top-down input are flipped, a run-length stream is decoded.
void ConvertImage(const BitmapPlan& plan, const BYTE* data, BYTE* out);

// Walks the run-length stream in[0, size) of a width x height image and
// answers null when every code stays inside the image (its rows taken with
// their padding) and the stream is whole, otherwise why not; `sink` (when not
// null) sees each run's pixels inside the image as it goes
// (bitmap_file_runs.cpp).
struct RunSink {
  // `count` pixels from (x, y), y counted from the bottom row: the indices
  // `a`, `b`, `a`, ... (an encoded run).
  virtual void Repeat(LONG x, LONG y, unsigned count, BYTE a, BYTE b) = 0;
  // `count` indices packed in `in` (an absolute run), 8 or 4 bits each.
  virtual void Copy(LONG x, LONG y, unsigned count, const BYTE* in) = 0;

 protected:
  ~RunSink() = default;
};
const char* WalkRunLength(const BYTE* in, std::size_t size, RunLength kind, LONG width, LONG height,
                          RunSink* sink);

// Decodes the checked run-length stream at `in` into `out` (as ConvertImage):
// every pixel the stream skips takes palette entry 0.
void DecodeRunLength(const BitmapPlan& plan, const BYTE* in, BYTE* out);

}  // namespace kolvex::detail
