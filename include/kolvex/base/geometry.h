// The pixel geometry of the library's bitmaps, for clients that lay out rows
// themselves or check a size before they ask for a bitmap: the row stride, and
// the largest bitmap, buffer and bitmap file the library makes or reads.
// Everything here is constexpr arithmetic: no state, safe on any thread.
#pragma once

#include <cstdint>

namespace kolvex {

// Bytes of one stored row of `width` pixels at `bitCount` bits per pixel:
// rows are padded to whole 32-bit words. In 64-bit signed arithmetic with
// division truncating toward zero, as the header accessors answer; exact for
// every bit count of 0 to 65535 and width of 32 bits.
constexpr std::int64_t RowStride(std::int64_t bitCount, std::int64_t width) {
  return (bitCount * width + 31) / 32 * 4;
}

// No bitmap buffer, image or bitmap file that the library makes, loads or
// writes is larger: 2^31 - 1 bytes, so that every size fits the signed 32-bit
// fields of headers and files.
inline constexpr std::int64_t kMaxBitmapBytes = 0x7FFFFFFF;

// What every created bitmap holds beside its rows within that bound: the
// extended header (tagRZBMINFOHEADER, 144 bytes) before the pixels and the 32
// spare bytes behind them.
inline constexpr std::int64_t kBitmapOverheadBytes = 176;

// Whether the library can hold a bitmap of `width` x `height` pixels at
// `bitCount` bits: none of them negative, a bit count within 16 bits, and rows
// plus overhead within kMaxBitmapBytes. CRZDIBBase2::Create refuses every
// other geometry; this one it makes when memory allows. Zero sizes fit (an
// empty image).
constexpr bool BitmapFits(std::int64_t bitCount, std::int64_t width, std::int64_t height) {
  if (bitCount < 0 || width < 0 || height < 0) return false;
  // bitCount <= 65535 and width < 2^31 keep the product far inside 64 bits.
  if (bitCount > 0xFFFF || width > INT32_MAX || height > INT32_MAX) return false;
  const std::int64_t stride = RowStride(bitCount, width);
  const std::int64_t limit = kMaxBitmapBytes - kBitmapOverheadBytes;
  return stride <= limit && (height == 0 || stride <= limit / height);
}

}  // namespace kolvex
