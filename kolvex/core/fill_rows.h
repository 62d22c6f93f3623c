// Internal: row kernels for filling pixels. Pure functions over a row pointer
// and a pixel count; the drivers in dib_create.cpp check the image and walk rows.
#pragma once

#include <kolvex/platform/win32_types.h>

#include <cstddef>

namespace kolvex::detail {

// Writes `value` as a little-endian 32-bit word into each of `pixels` pixels.
void FillRow32(BYTE* row, std::size_t pixels, DWORD value);

// Writes the three low bytes of `value` (blue, green, red) into each of
// `pixels` 3-byte pixels. Writes exactly 3 x pixels bytes.
void FillRow24(BYTE* row, std::size_t pixels, DWORD value);

}  // namespace kolvex::detail
