// Checking bitmap files before loading them.
#pragma once

#include <kolvex/platform/export.h>

#include <cstddef>

namespace kolvex {

// Why the bitmap file image in data[0, size) cannot be loaded by
// CRZDIB2::CreateFromMemory, as a short phrase such as
// "not a bitmap file (too short)" or "unsupported bitmap (compression)"; null
// when it can be loaded. The phrase is a static string owned by the library.
// Reads nothing outside the given bytes; thread-safe.
KOLVEX_API const char* BitmapFileProblem(const void* data, std::size_t size);

}  // namespace kolvex
