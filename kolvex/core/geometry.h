// Internal: pixel-geometry arithmetic. Every size the library derives from a
// header (row stride, image bytes, buffer bytes) goes through CheckedLayout or
// CheckedSize, which answer "no" instead of overflowing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kolvex::detail {

// Bytes of the extended header, and the slack behind every buffer the library
// allocates for a header and its pixels.
inline constexpr std::size_t kHeaderBytes = 144;
inline constexpr std::size_t kSlackBytes = 32;
// Largest buffer (header + image + slack) the library will make: 31 bits.
inline constexpr std::int64_t kMaxBufferBytes = INT32_MAX;

struct Layout {
  std::size_t stride;  // bytes per stored row, a multiple of 4
  std::size_t image;   // stride x height
};

// Row stride by the DIB rule, in 64-bit signed arithmetic with division
// truncating toward zero. Unchecked: for answering accessors exactly.
constexpr std::int64_t RawStride(std::int64_t bitCount, std::int64_t width) {
  return (bitCount * width + 31) / 32 * 4;
}

// The layout of a width x height image at bitCount bits per pixel, or nothing
// when the width or height is negative or when header + image + slack would not
// fit in 31 bits. Zero sizes are valid (an empty image).
constexpr std::optional<Layout> CheckedLayout(std::int64_t bitCount, std::int64_t width,
                                              std::int64_t height) {
  if (bitCount < 0 || width < 0 || height < 0) return std::nullopt;
  // bitCount <= 65535 and width < 2^31 keep the product far inside 64 bits.
  if (bitCount > 0xFFFF || width > INT32_MAX || height > INT32_MAX) return std::nullopt;
  const std::int64_t stride = RawStride(bitCount, width);
  const std::int64_t limit = kMaxBufferBytes - static_cast<std::int64_t>(kHeaderBytes + kSlackBytes);
  if (stride > limit) return std::nullopt;
  if (height != 0 && stride > limit / height) return std::nullopt;
  return Layout{static_cast<std::size_t>(stride), static_cast<std::size_t>(stride * height)};
}

// a * b + c in size_t, or nothing on overflow.
constexpr std::optional<std::size_t> CheckedSize(std::size_t a, std::size_t b, std::size_t c = 0) {
  std::size_t product = 0;
  std::size_t sum = 0;
  if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
  if (__builtin_add_overflow(product, c, &sum)) return std::nullopt;
  return sum;
}

}  // namespace kolvex::detail
