// Internal: what the storage hooks of every bitmap class agree on about the
// buffer of a created block.
#pragma once

#include <kolvex/base/size.h>
#include <kolvex/core/dib_base.h>

#include <cstddef>

namespace kolvex::detail {

// Bytes of the extended header at the start of a created buffer.
inline constexpr std::size_t kHeaderBytes = sizeof(tagRZBMINFOHEADER);
// Bytes allocated behind every buffer's header and pixels.
inline constexpr std::size_t kSlackBytes = 32;
// Every layout leaves room for both within the 31-bit bound.
static_assert(kHeaderBytes + kSlackBytes == kLayoutReserveBytes);

}  // namespace kolvex::detail
