// Reductions and scaling that keep one picture field of a frame, whatever its
// interlaced flag says.
#pragma once

#include <kolvex/kolvex.h>

namespace kolvex_python {

enum class PictureField;

bool CreateQuarterOfField(CRZDIB2& dst, const CRZDIB2& src, PictureField field);
bool CreateEighthOfField(CRZDIB2& dst, const CRZDIB2& src, PictureField field);
bool CreateScaledFromField(CRZDIB2& dst, const CRZDIB2& src, int width, int height,
                           PictureField field);

}  // namespace kolvex_python
