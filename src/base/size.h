// Internal: checked size arithmetic and the row-layout rule of device-
// independent bitmaps, for every layer. Every size derived from a header or a
// caller's count (row stride, image bytes, buffer and page extents) goes
// through these, which answer "no" instead of overflowing.
#pragma once

#include <kolvex/base/geometry.h>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kolvex::detail {

// Largest buffer any layer makes for an image (31 bits), and the room every
// layout leaves beside its image within that bound: the largest header a
// buffer carries before its pixels and the slack behind them. Both are the
// public geometry's (<kolvex/base/geometry.h>), which clients check against.
inline constexpr std::int64_t kMaxBufferBytes = kolvex::kMaxBitmapBytes;
inline constexpr std::size_t kLayoutReserveBytes = kolvex::kBitmapOverheadBytes;

// a + b, or nothing on overflow.
constexpr std::optional<std::size_t> CheckedAdd(std::size_t a, std::size_t b) {
  std::size_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
  return sum;
}

// a * b + c, or nothing on overflow.
constexpr std::optional<std::size_t> CheckedSize(std::size_t a, std::size_t b, std::size_t c = 0) {
  std::size_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
  return CheckedAdd(product, c);
}

struct Layout {
  std::size_t stride;  // bytes per stored row, a multiple of 4
  std::size_t image;   // stride x height
};

// The layout of a width x height image at bitCount bits per pixel, or nothing
// when the width or height is negative or when the image and the reserve
// would not fit in 31 bits. Zero sizes are valid (an empty image).
constexpr std::optional<Layout> CheckedLayout(std::int64_t bitCount, std::int64_t width,
                                              std::int64_t height) {
  if (!kolvex::BitmapFits(bitCount, width, height)) return std::nullopt;
  const std::int64_t stride = kolvex::RowStride(bitCount, width);
  return Layout{static_cast<std::size_t>(stride), static_cast<std::size_t>(stride * height)};
}

// Image bytes of a bitmap header (any type with biBitCount, biWidth and
// biHeight), or nothing when its geometry is negative or too large to be a
// buffer of the library's.
template <class Header>
constexpr std::optional<std::size_t> ImageBytes(const Header& h) {
  const auto layout = CheckedLayout(h.biBitCount, h.biWidth, h.biHeight);
  if (!layout) return std::nullopt;
  return layout->image;
}

}  // namespace kolvex::detail
