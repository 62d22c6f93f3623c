// 4:2:0 YUV frames to and from 24-bit BGR rows, with libyuv (yuv_libyuv.cpp);
// in a build without it (yuv_none.cpp) YuvMissing says so and the conversions
// are never reached. CMake picks the file.
//
// The matrix is BT.601 at limited range (Y in 16..235, U and V in 16..240),
// as ffmpeg assumes for video without colour tags:
//   Y = 16 + ( 65.481 R + 128.553 G +  24.966 B) / 255
//   U = 128 + (-37.797 R -  74.203 G + 112.0   B) / 255
//   V = 128 + (112.0   R -  93.786 G -  18.214 B) / 255
// Chroma sample (i, j) belongs to the pixels (2i..2i+1, 2j..2j+1); where the
// width or height is odd the last block column or row holds one pixel column
// or row, as if the last were repeated. Reading, each pixel takes its block's
// chroma as it stands (no interpolation); writing, a block's chroma is made
// from its pixels' mean.
#pragma once

#include "raw_frames.h"

#include <kolvex/kolvex.h>

namespace kolvex::cli {

// Null when the tool converts YUV; otherwise why not.
const char* YuvMissing();

// Done once before frames are converted on several threads.
void PrepareYuv();

// `raw` (planar or semi-planar) into the 24-bit `dib` of the frame's size,
// and the 24-bit `dib` into `raw`.
void YuvToRows(RawLayout layout, const BYTE* raw, CRZDIB2& dib);
void RowsToYuv(RawLayout layout, const CRZDIB2& dib, BYTE* raw);

}  // namespace kolvex::cli
