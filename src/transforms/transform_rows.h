// Internal: the row kernels of the whole-image transforms, and the one place per
// family where a driver obtains them.
//
// A kernel is a pure function over row pointers and a count: it reads exactly
// the bytes its arguments describe and writes exactly the bytes of its output
// run, never a byte beyond (attached memory and DIB sections have no slack).
// Drivers (reduce.cpp, scale.cpp, mirror.cpp, fields.cpp) check the images,
// compute strides and call the Select* function of their family once per call.
// The plain kernel of each family (in its *_rows.cpp) defines the results;
// any faster variant chosen by a Select* function must produce the same bytes.
#pragma once

#include <kolvex/platform/win32.h>

#include <cstddef>

namespace kolvex::detail {

// ---- Reduction (reduce_rows.cpp). A kernel averages `rows` source rows over
// runs of `factor` pixels: output pixel x is the mean of pixels factor x ..
// factor x + factor - 1 of every row, channel by channel. `outPixels` pixels
// are written; factor x outPixels pixels of each row are read. Every mean
// rounds half up and is a shift of the byte sum.
using ReduceRowFn = void (*)(const BYTE* const* rows, BYTE* out, std::size_t outPixels);

// The kernel of the quarter (factor 2) or eighth (factor 4) reduction, over
// square blocks (`factor` rows) or over one field (factor / 2 rows, every
// other source row), or null when the reductions do not handle the bit count.
ReduceRowFn SelectReduceRow(WORD bitCount, int factor, bool oneField);

// ---- Scaling (scale_rows.cpp). Writes `outPixels` pixels: pixel x is source
// pixel columnMap[x] of `srcRow`, which holds `srcPixels` pixels. Every column
// entry must name a source pixel (be below srcPixels); no byte outside those
// pixels is read.
using ScaleRowFn = void (*)(const BYTE* srcRow, std::size_t srcPixels, const LONG* columnMap,
                            BYTE* out, std::size_t outPixels);

// Kernel for a bit count, or null when scaling does not handle it.
ScaleRowFn SelectScaleRow(WORD bitCount);

// Fills entries[0..count) by the integer centre walk from `count` destination
// cells onto `sourceCount` source cells: entry i is floor((2i + 1) S / 2D), the
// source cell holding the centre of destination cell i (a centre on a boundary
// takes the later cell). No division per entry. Count <= 0 writes nothing; a
// source count <= 0 names cell 0 throughout.
void CentreWalk(LONG* entries, int count, int sourceCount);

// ---- Mirroring (mirror_rows.cpp). Writes `pixels` pixels: pixel x is source
// pixel pixels - 1 - x. Source and output must not overlap.
using MirrorRowFn = void (*)(const BYTE* src, BYTE* out, std::size_t pixels);

// Kernel for a bit count, or null when mirroring does not handle it.
MirrorRowFn SelectMirrorRow(WORD bitCount);

// ---- Fields (field_rows.cpp). Byte i of `out` is the rounded mean
// (a[i] + b[i] + 1) / 2, for `bytes` bytes. `out` may be `a` or `b`.
using AverageRowsFn = void (*)(const BYTE* a, const BYTE* b, BYTE* out, std::size_t bytes);

AverageRowsFn SelectAverageRows();

}  // namespace kolvex::detail
