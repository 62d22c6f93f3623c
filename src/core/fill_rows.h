// Internal: row kernels for filling pixels. Pure functions over a run pointer
// and a pixel count; the drivers in dib_create.cpp check the image, walk rows
// (or fill an unpadded image as one run) and pick the kernel once per call.
// Every variant writes exactly the bytes of the run, never one beyond.
#pragma once

#include <kolvex/platform/win32.h>

#include <cstddef>

namespace kolvex::detail {

// Runs from this many bytes on are written by streaming stores, past the
// caches: a run that large would mostly leave them anyway.
inline constexpr std::size_t kLongRunBytes = std::size_t{1} << 20;

using FillRowFn = void (*)(BYTE* row, std::size_t pixels, DWORD value);

// The kernel for the active level that writes `value` as a little-endian
// 32-bit word into each of `pixels` pixels.
FillRowFn SelectFillRow32();
// The kernel for the active level that writes the three low bytes of `value`
// (blue, green, red) into each of `pixels` 3-byte pixels: exactly 3 x pixels
// bytes.
FillRowFn SelectFillRow24();

}  // namespace kolvex::detail
