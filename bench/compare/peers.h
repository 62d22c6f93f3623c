// The peers' calls that several families use, on our bitmaps' bytes. Each
// peer is optional: its calls exist only when it was found at configure time.
#pragma once

#include "compare.h"

#if defined(KOLVEX_HAVE_LIBYUV)
#include <libyuv.h>
#include <libyuv/scale_rgb.h>
#endif
#if defined(KOLVEX_HAVE_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace compare {

// Ours and OpenCV on one thread each, or both with their default threads (as
// users call them). libyuv has no threads of its own.
void UseDefaultThreads(bool defaults);

#if defined(KOLVEX_HAVE_LIBYUV)
// libyuv's box or nearest scaling of every `rowStep`-th stored row from
// `firstRow` into all of dst.
Run LibyuvScale(libyuv::FilterMode filter, int rowStep = 1, int firstRow = 0);
#endif

#if defined(KOLVEX_HAVE_OPENCV)
// A Mat over every `rowStep`-th stored row of `dib` from `firstRow`, sharing
// its bytes.
cv::Mat View(const CRZDIB2& dib, int rowStep = 1, int firstRow = 0);

// cv::resize of the rows View() selects into all of dst.
Run OpenCvResize(int interpolation, int rowStep = 1, int firstRow = 0);
#endif

}  // namespace compare
