// Internal: the image drivers of the pixel filters. Each takes core's pixel
// view of an image, picks its row kernel (filter_rows.h) once per call and
// walks the stored rows. The CRZDIB2 members (dib/dib_filters.cpp) check the
// bitmaps and make the pixels their own before they call these.
#pragma once

#include "core/image_rows.h"

namespace kolvex::detail {

// Maps the channels of every pixel of `image` in place by a brightness level
// (BuildBrightnessTable). False, nothing written, for a depth other than 24
// or 32 bits.
bool AdjustBrightness(const ImageRows& image, int level);

// The 3 x 3 median of src into dst, which has src's geometry: the first and
// last rows and the first and last pixels of each row copied. A top-down
// (negative) height takes over the first stored row only. src may lie on
// dst's bytes: it is then read from a copy, whose memory exception reaches
// the caller before anything is written. False, nothing written, for a depth
// other than 8, 24 or 32 bits.
bool Median3x3(const ImageRows& dst, const ImageRows& src);

}  // namespace kolvex::detail
