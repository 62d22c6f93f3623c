// Pixel conversions of the tool: grey bitmaps widened for the operations that
// take colour pixels only and narrowed back afterwards, and raw video frames
// (rows from the top, no padding) moved into and out of the library's
// bottom-up rows.
#pragma once

#include <kolvex/kolvex.h>

#include <cstddef>

namespace kolvex::cli {

// Row kernels over n pixels.
void GreyToBgrRow(const BYTE* in, BYTE* out, std::size_t n);
void BgrToGreyRow(const BYTE* in, BYTE* out, std::size_t n);

// `colour` becomes the 8-bit `grey` at 24 bits (each value in all three
// channels), with grey's interlaced flag. False when out of memory.
bool WidenGrey(const CRZDIB2& grey, CRZDIB2& colour);
// `grey` becomes the 8-bit image of channel 0 of the 24-bit `colour`: exact
// for a result of the operations on a widened grey image, whose three
// channels stay equal. False when out of memory.
bool NarrowToGrey(const CRZDIB2& colour, CRZDIB2& grey);

// Copies a raw frame of dib's geometry (rows of width x bytes-per-pixel bytes,
// the top row first) into dib's rows, and back.
void RawToRows(const BYTE* raw, CRZDIB2& dib);
void RowsToRaw(const CRZDIB2& dib, BYTE* raw);

}  // namespace kolvex::cli
