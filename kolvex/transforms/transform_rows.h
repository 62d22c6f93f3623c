// Internal: the row kernels of the whole-image transforms, and the one place per
// family where a driver obtains them.
//
// A kernel is a pure function over row pointers and a count: it reads exactly
// the bytes its arguments describe and writes exactly the bytes of its output
// run, never a byte beyond (attached memory and DIB sections have no slack).
// Drivers (reduce.cpp, scale.cpp, mirror.cpp, fields.cpp) check the images,
// compute strides and call the Select* function of their family once per call.
// The plain kernels here define the results; any faster variant chosen by a
// Select* function must produce the same bytes.
#pragma once

#include <kolvex/platform/win32.h>

#include <cstddef>

namespace kolvex::detail {

// ---- Reduction (reduce_rows.cpp). `outPixels` pixels are written; the source
// rows are read for 2 x outPixels (quarter) or 4 x outPixels (eighth) pixels.
// Every mean rounds half up and is a shift of the byte sum.

// Mean of each 2 x 2 block of rows r0 (lower) and r1.
using QuarterBoxRowFn = void (*)(const BYTE* r0, const BYTE* r1, BYTE* out, std::size_t outPixels);
// Mean of each horizontal pair of one row (one field of an interlaced frame).
using QuarterPairRowFn = void (*)(const BYTE* r, BYTE* out, std::size_t outPixels);
// Mean of each 4 x 4 block of rows r0..r3.
using EighthBoxRowFn = void (*)(const BYTE* r0, const BYTE* r1, const BYTE* r2, const BYTE* r3,
                                BYTE* out, std::size_t outPixels);
// Mean of each 4-pixel run of two rows of the same field (r0 and r0 + 2 rows).
using EighthFieldRowFn = void (*)(const BYTE* r0, const BYTE* r2, BYTE* out,
                                  std::size_t outPixels);

void QuarterBoxRow24(const BYTE* r0, const BYTE* r1, BYTE* out, std::size_t outPixels);
void QuarterBoxRow32(const BYTE* r0, const BYTE* r1, BYTE* out, std::size_t outPixels);
void QuarterPairRow24(const BYTE* r, BYTE* out, std::size_t outPixels);
void QuarterPairRow32(const BYTE* r, BYTE* out, std::size_t outPixels);
void EighthBoxRow24(const BYTE* r0, const BYTE* r1, const BYTE* r2, const BYTE* r3, BYTE* out,
                    std::size_t outPixels);
void EighthBoxRow32(const BYTE* r0, const BYTE* r1, const BYTE* r2, const BYTE* r3, BYTE* out,
                    std::size_t outPixels);
void EighthFieldRow24(const BYTE* r0, const BYTE* r2, BYTE* out, std::size_t outPixels);
void EighthFieldRow32(const BYTE* r0, const BYTE* r2, BYTE* out, std::size_t outPixels);

struct ReduceRowKernels {
  QuarterBoxRowFn quarterBox;
  QuarterPairRowFn quarterPair;
  EighthBoxRowFn eighthBox;
  EighthFieldRowFn eighthField;
};

// The plain kernels of one pixel size.
extern const ReduceRowKernels kPlainReduceRows24;
extern const ReduceRowKernels kPlainReduceRows32;

// Kernels for a bit count, or null when the reductions do not handle it.
const ReduceRowKernels* SelectReduceRows(WORD bitCount);

// ---- Scaling (scale_rows.cpp). Writes `outPixels` pixels: pixel x is source
// pixel columnMap[x] of `srcRow`, which holds `srcPixels` pixels. Every column
// entry must name a source pixel (be below srcPixels); no byte outside those
// pixels is read.
using ScaleRowFn = void (*)(const BYTE* srcRow, std::size_t srcPixels, const LONG* columnMap,
                            BYTE* out, std::size_t outPixels);

void ScaleRow24(const BYTE* srcRow, std::size_t srcPixels, const LONG* columnMap, BYTE* out,
                std::size_t outPixels);
void ScaleRow32(const BYTE* srcRow, std::size_t srcPixels, const LONG* columnMap, BYTE* out,
                std::size_t outPixels);

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

void MirrorRow24(const BYTE* src, BYTE* out, std::size_t pixels);
void MirrorRow32(const BYTE* src, BYTE* out, std::size_t pixels);
void MirrorRow64(const BYTE* src, BYTE* out, std::size_t pixels);

// Kernel for a bit count, or null when mirroring does not handle it.
MirrorRowFn SelectMirrorRow(WORD bitCount);

// ---- Fields (field_rows.cpp). Byte i of `out` is the rounded mean
// (a[i] + b[i] + 1) / 2, for `bytes` bytes. `out` may be `a` or `b`.
using AverageRowsFn = void (*)(const BYTE* a, const BYTE* b, BYTE* out, std::size_t bytes);

void AverageRows(const BYTE* a, const BYTE* b, BYTE* out, std::size_t bytes);

AverageRowsFn SelectAverageRows();

}  // namespace kolvex::detail
