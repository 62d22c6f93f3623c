// Internal: small helpers shared by the x86 vector kernels. Include only from
// a *_rows.cpp, inside `#if KOLVEX_X86`.
#pragma once

#include "base/kernel_dispatch.h"

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

// Put around a file's AVX-512 kernels (and the helpers inlined into them):
// GCC 12's AVX-512 intrinsics start from a self-initialised "undefined"
// vector (`__m512i __Y = __Y;`), which its own uninitialised-use warnings then
// flag in every kernel they are inlined into. Only those two warnings, and
// only there, are off; the rest of each file keeps them.
#if defined(__GNUC__) && !defined(__clang__)
#define KOLVEX_AVX512_SECTION_BEGIN                                                    \
  _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wuninitialized\"") \
      _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")
#define KOLVEX_AVX512_SECTION_END _Pragma("GCC diagnostic pop")
#else
#define KOLVEX_AVX512_SECTION_BEGIN
#define KOLVEX_AVX512_SECTION_END
#endif

namespace kolvex::detail::x86 {

// The first n of 64 lanes (bytes at AVX-512): masks for loads and stores that
// stop exactly at the end of a run. Masked-off bytes are neither read nor
// written, so they may lie on a page that is not mapped.
inline std::uint64_t FirstLanes64(std::size_t n) {
  return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
}
inline std::uint32_t FirstLanes32(std::size_t n) {
  return n >= 32 ? ~std::uint32_t{0} : (std::uint32_t{1} << n) - 1;
}
inline std::uint16_t FirstLanes16(std::size_t n) {
  return static_cast<std::uint16_t>(n >= 16 ? 0xFFFFu : (1u << n) - 1);
}

}  // namespace kolvex::detail::x86
