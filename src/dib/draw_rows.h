// Internal: row kernels of the drawing operations.
#pragma once

#include <kolvex/platform/win32.h>

#include <cstddef>

namespace kolvex::detail {

// out[x] = the fourth byte of the x-th 32-bit pixel of `in`, for x < width.
void ExtractAlphaRow(const BYTE* in, BYTE* out, std::size_t width);

}  // namespace kolvex::detail
