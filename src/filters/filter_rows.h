// Internal: the row kernels of the pixel filters, and the one place per family
// where a driver (brightness.cpp, median.cpp) obtains them.
//
// A kernel is a pure function over row pointers and a pixel count: it reads
// exactly the bytes its arguments describe and writes exactly the pixel bytes
// of its output row, never the row's padding and never a byte beyond (attached
// memory and DIB sections have no slack). A driver walks core's view of the
// images and calls the Select* function of its family once per call. The
// plain kernel of each family (in its *_rows.cpp) defines the results; any
// faster variant chosen by a Select* function must produce the same bytes.
#pragma once

#include <kolvex/platform/win32.h>

#include <cstddef>

namespace kolvex::detail {

// ---- Brightness. Each channel byte v becomes map[v]; at 32 bits the fourth
// byte of every pixel (alpha or reserved) is left as it is.

// The lookup of one call, with the offset it was built from, so that a variant
// may compute the same bytes arithmetically: map[v] is v - offset held to
// 0..255, that is a saturating subtraction (offset > 0) or addition (< 0).
struct BrightnessTable {
  BYTE map[256];
  int offset;  // -128..127
};

// The table of a brightness level: offset = (level held to 0..255) - 128, so
// every level below 0 acts as 0 and every level above 255 as 255.
// Level 128 is the identity; higher levels darken, lower ones brighten.
void BuildBrightnessTable(int level, BrightnessTable& table);

// Maps the channels of `pixels` pixels of `row` in place.
using BrightnessRowFn = void (*)(const BrightnessTable& table, BYTE* row, std::size_t pixels);

// Kernel for a bit count, or null when the brightness filter does not handle it.
BrightnessRowFn SelectBrightnessRow(WORD bitCount);

// ---- 3 x 3 median. Writes `pixels` pixels of `out`, the row between `prev`
// (the stored row below) and `next` (the stored row above): pixels 0 and
// pixels - 1 are copied from `cur`, and every pixel between them takes, per
// channel byte, the median of that byte in the 3 x 3 neighbourhood of the three
// source rows. `out` must not overlap the source rows.
using MedianRowFn = void (*)(const BYTE* prev, const BYTE* cur, const BYTE* next, BYTE* out,
                             std::size_t pixels);

// Kernel for a bit count, or null when the median does not handle it.
MedianRowFn SelectMedianRow(WORD bitCount);

}  // namespace kolvex::detail
