// Internal: what the storage hooks of every bitmap class agree on about the
// buffer of a created block.
#pragma once

#include "base/size.h"

#include <kolvex/core/dib_base.h>

#include <cstddef>

namespace kolvex::detail {

// Bytes of the extended header at the start of a created buffer.
inline constexpr std::size_t kHeaderBytes = sizeof(tagRZBMINFOHEADER);
// Bytes allocated behind every buffer's header and pixels.
inline constexpr std::size_t kSlackBytes = 32;
// Every layout leaves room for both within the 31-bit bound.
static_assert(kHeaderBytes + kSlackBytes == kLayoutReserveBytes);

// The size fields a caller's header may carry: from a plain BITMAPINFOHEADER's
// 40 bytes to the whole extended header. Copies of a block read and write
// biSize header bytes, so a header outside this range is refused before it is
// stored.
constexpr bool IsHeaderSize(DWORD biSize) {
  return biSize >= sizeof(BITMAPINFOHEADER) && biSize <= kHeaderBytes;
}

}  // namespace kolvex::detail
