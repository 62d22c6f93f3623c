// Raw video frames as video tools write and read them, rows from the top and
// no padding: packed pixels (bgr24, bgra, gray) copied into and out of the
// library's bottom-up rows, and 4:2:0 YUV (yuv420p, nv12) converted to and
// from 24-bit BGR rows.
#pragma once

#include <kolvex/kolvex.h>

#include <cstddef>
#include <string>

namespace kolvex::cli {

enum class RawLayout {
  kPacked,         // width x bytes-per-pixel bytes a row
  kPlanar420,      // yuv420p: the Y plane, then the U plane, then the V plane
  kSemiPlanar420,  // nv12: the Y plane, then U and V interleaved (U first)
};

struct RawFormat {
  const char* name;  // as --format takes it
  WORD bits;         // of the bitmap a frame becomes
  RawLayout layout;
};

// The format `name` names. Throws UsageError for an unknown name, and for a
// YUV form in a build without libyuv.
RawFormat FindRawFormat(const std::string& name);

// The format `name` names as the form of the results of frames read as
// `input`: one whose frames are bitmaps of the same depth (bgr24, yuv420p
// and nv12 are all 24-bit colour). Throws UsageError.
RawFormat FindOutputFormat(const RawFormat& input, const std::string& name);

// Bytes of one frame of width x height pixels. A 4:2:0 frame holds
// width x height luma samples and two chroma samples for each 2 x 2 block,
// the last column or row of blocks cut in half when the width or height is
// odd: 2 x ceil(width / 2) x ceil(height / 2) bytes of chroma.
std::size_t RawFrameBytes(const RawFormat& format, int width, int height);

// Fills `dib` (of the format's depth and the frame's size) from one raw
// frame, and writes `dib` (of the format's depth) as one raw frame of its
// size into `raw`, which holds RawFrameBytes of it.
void ReadRawFrame(const RawFormat& format, const BYTE* raw, CRZDIB2& dib);
void WriteRawFrame(const RawFormat& format, const CRZDIB2& dib, BYTE* raw);

}  // namespace kolvex::cli
