// Median kernels: the 3 x 3 median by a fixed selection network (the plain
// kernel, which defines the results), and vector variants that compute the
// same bytes.
//
// Every channel byte is the median of nine bytes, the three source rows' bytes
// at -B, 0 and +B (B bytes a pixel), for a whole vector of bytes at once. Each
// column of three is sorted; the median of the nine is then the median of the
// largest low, the middle middle and the smallest high. SSE2 and AVX2 load the
// columns at -B, 0 and +B of each vector of output bytes (all inside the three
// source rows while the vector is inside the row's interior); the output never
// overlaps the sources, so a row's last vector may overlap the one before it.
// AVX-512 sorts each column once and shifts the sorted vectors in registers,
// masking the vectors at the row's ends.

#include "base/kernel_dispatch.h"
#include "filters/filter_rows.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if KOLVEX_X86
#include "core/simd_x86.h"
#endif

namespace kolvex::detail {

namespace {

// The smaller value to lo and the larger to hi, by the sign of the difference.
// Without a branch: on noise a branch would be mispredicted half the time.
inline void Order(int& lo, int& hi) {
  const int d = hi - lo;
  const int negative = d >> 31;  // all ones when hi < lo (values are 0..255)
  lo += d & negative;
  hi -= d & negative;
}

// The fifth smallest of nine values by 12 compare-exchanges and 8 one-sided
// steps over six working values: a* is the row below, b* this row, c* the row
// above, each at pixels x - 1, x, x + 1. Values already known to lie outside
// the middle are dropped as the network goes, so six registers suffice.
inline BYTE Median9(int a0, int a1, int a2, int b0, int b1, int b2, int c0, int c1, int c2) {
  int s1 = a0, s2 = a1, s3 = a2, s4 = b0, s5 = b1, s6 = b2;
  Order(s1, s4);
  Order(s2, s5);
  Order(s3, s6);
  Order(s1, s2);
  s3 = std::max(s3, s1);
  Order(s5, s6);
  s4 = std::min(s4, s6);
  s1 = c0;
  Order(s1, s2);
  Order(s3, s4);
  Order(s1, s3);
  s5 = std::max(s5, s1);
  Order(s4, s5);
  s2 = std::min(s2, s5);
  s1 = c1;
  Order(s1, s2);
  Order(s3, s4);
  s3 = std::max(s3, s1);
  s2 = std::min(s2, s4);
  s1 = c2;
  Order(s2, s3);
  s1 = std::min(s1, s3);
  return static_cast<BYTE>(std::max(s2, s1));
}

// Every byte position of a pixel is its own channel, and its neighbours in the
// row lie B bytes to either side, so the interior is one run of bytes.
template <std::size_t B>
void MedianRow(const BYTE* prev, const BYTE* cur, const BYTE* next, BYTE* out, std::size_t pixels) {
  if (pixels == 0) return;
  std::memcpy(out, cur, B);
  const std::size_t last = (pixels - 1) * B;
  for (std::size_t i = B; i < last; ++i) {
    out[i] = Median9(prev[i - B], prev[i], prev[i + B], cur[i - B], cur[i], cur[i + B], next[i - B],
                     next[i], next[i + B]);
  }
  std::memcpy(out + last, cur + last, B);
}

void MedianRow8(const BYTE* prev, const BYTE* cur, const BYTE* next, BYTE* out,
                std::size_t pixels) {
  MedianRow<1>(prev, cur, next, out, pixels);
}
void MedianRow24(const BYTE* prev, const BYTE* cur, const BYTE* next, BYTE* out,
                 std::size_t pixels) {
  MedianRow<3>(prev, cur, next, out, pixels);
}
void MedianRow32(const BYTE* prev, const BYTE* cur, const BYTE* next, BYTE* out,
                 std::size_t pixels) {
  MedianRow<4>(prev, cur, next, out, pixels);
}

}  // namespace

#if KOLVEX_X86
namespace {

using x86::FirstLanes64;

// For each vector width: the three values of a column of source bytes (rows
// prev, cur, next) in order, a column sorted, and the median of nine per byte
// lane from the sorted columns at -B, 0 and +B: the median of the largest
// low, the middle middle and the smallest high. Defined through a macro
// because each width needs its own target attribute, which a template cannot
// take from its type.
#define KOLVEX_DEFINE_MEDIAN_STEPS(Attr, V, Column, Min, Max)                        \
  struct Column {                                                                    \
    V lo;                                                                            \
    V mid;                                                                           \
    V hi;                                                                            \
  };                                                                                 \
  Attr inline Column SortColumn(V a, V b, V c) {                                     \
    const V lo = Min(a, b);                                                          \
    const V hi = Max(a, b);                                                          \
    const V m = Min(hi, c);                                                          \
    return {Min(lo, m), Max(lo, m), Max(hi, c)};                                     \
  }                                                                                  \
  Attr inline V MedianOfColumns(const Column& l, const Column& x, const Column& r) { \
    const V lo = Max(Max(l.lo, x.lo), r.lo);                                         \
    const V hi = Min(Min(l.hi, x.hi), r.hi);                                         \
    const V mid = Max(Min(l.mid, x.mid), Min(Max(l.mid, x.mid), r.mid));             \
    return Max(Min(lo, mid), Min(Max(lo, mid), hi));                                 \
  }

KOLVEX_DEFINE_MEDIAN_STEPS(, __m128i, Column128, _mm_min_epu8, _mm_max_epu8)
KOLVEX_DEFINE_MEDIAN_STEPS(KOLVEX_AVX2, __m256i, Column256, _mm256_min_epu8, _mm256_max_epu8)
KOLVEX_DEFINE_MEDIAN_STEPS(KOLVEX_AVX512, __m512i, Column512, _mm512_min_epu8, _mm512_max_epu8)
#undef KOLVEX_DEFINE_MEDIAN_STEPS

inline __m128i Load128(const BYTE* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
KOLVEX_AVX2 inline __m256i Load256(const BYTE* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The output bytes [i, i + 16) (or 32) of a row: each column loaded and sorted.
template <std::size_t B>
inline __m128i MedianAt128(const BYTE* p, const BYTE* c, const BYTE* n, std::size_t i) {
  const auto column = [&](std::size_t at) {
    return SortColumn(Load128(p + at), Load128(c + at), Load128(n + at));
  };
  return MedianOfColumns(column(i - B), column(i), column(i + B));
}
template <std::size_t B>
KOLVEX_AVX2 inline __m256i MedianAt256(const BYTE* p, const BYTE* c, const BYTE* n, std::size_t i) {
  return MedianOfColumns(SortColumn(Load256(p + i - B), Load256(c + i - B), Load256(n + i - B)),
                         SortColumn(Load256(p + i), Load256(c + i), Load256(n + i)),
                         SortColumn(Load256(p + i + B), Load256(c + i + B), Load256(n + i + B)));
}

// The copied edge pixels of a row of at least 2 pixels; `end` is where the
// last one starts, (pixels - 1) x B.
template <std::size_t B>
inline void CopyEdges(const BYTE* cur, BYTE* out, std::size_t end) {
  std::memcpy(out, cur, B);
  std::memcpy(out + end, cur + end, B);
}

template <std::size_t B>
void MedianSse2(const BYTE* prev, const BYTE* cur, const BYTE* next, BYTE* out,
                std::size_t pixels) {
  if (pixels < 2 || (pixels - 2) * B < 16) return MedianRow<B>(prev, cur, next, out, pixels);
  const std::size_t end = (pixels - 1) * B;  // the interior is [B, end)
  CopyEdges<B>(cur, out, end);
  for (std::size_t i = B; i + 16 < end; i += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), MedianAt128<B>(prev, cur, next, i));
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + end - 16),
                   MedianAt128<B>(prev, cur, next, end - 16));
}

template <std::size_t B>
KOLVEX_AVX2 void MedianAvx2(const BYTE* prev, const BYTE* cur, const BYTE* next, BYTE* out,
                            std::size_t pixels) {
  if (pixels < 2 || (pixels - 2) * B < 32) return MedianSse2<B>(prev, cur, next, out, pixels);
  const std::size_t end = (pixels - 1) * B;
  CopyEdges<B>(cur, out, end);
  for (std::size_t i = B; i + 32 < end; i += 32) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), MedianAt256<B>(prev, cur, next, i));
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + end - 32),
                      MedianAt256<B>(prev, cur, next, end - 32));
}

KOLVEX_AVX512_SECTION_BEGIN

// AVX-512: each source byte's column is sorted once, in whole vectors that
// start on the source row's 64-byte boundaries; the columns at -B and +B come
// from neighbouring sorted vectors by in-register shifts. That takes a third
// of the loads and fewer operations, and every load is aligned when the rows
// are: 64-byte loads at -B and +B would straddle two cache lines each, which
// measured twice as slow on frames streamed from memory. Vectors that reach
// past either end of a row are masked to it.

// Bytes [from, from + 64) of a row of `bytes` bytes (`from` may be negative),
// those outside the row neither read nor relied upon.
template <bool kMasked>
KOLVEX_AVX512 inline __m512i LoadSpan(const BYTE* row, std::ptrdiff_t from, std::size_t bytes) {
  const BYTE* p = reinterpret_cast<const BYTE*>(reinterpret_cast<std::uintptr_t>(row) + from);
  if constexpr (!kMasked) {
    return _mm512_loadu_si512(p);
  } else {
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(bytes);
    const std::uint64_t skip = from < 0 ? FirstLanes64(static_cast<std::size_t>(-from)) : 0;
    const std::uint64_t keep = from < n ? FirstLanes64(static_cast<std::size_t>(n - from)) : 0;
    return _mm512_maskz_loadu_epi8(keep & ~skip, p);
  }
}

template <bool kMasked>
KOLVEX_AVX512 inline Column512 SortColumns(const BYTE* p, const BYTE* c, const BYTE* n,
                                           std::ptrdiff_t from, std::size_t bytes) {
  return SortColumn(LoadSpan<kMasked>(p, from, bytes), LoadSpan<kMasked>(c, from, bytes),
                    LoadSpan<kMasked>(n, from, bytes));
}

// Lane t of the result is lane t - B (Left) or t + B (Right) of the 128-byte
// run `a` then `b`, with b's lanes numbered from 64.
template <std::size_t B>
KOLVEX_AVX512 inline __m512i Left(__m512i a, __m512i b) {
  if constexpr (B == 4) {
    return _mm512_alignr_epi32(b, a, 15);
  } else {
    // Per 128-bit lane: the lane below it (a's top lane below b's first).
    return _mm512_alignr_epi8(b, _mm512_alignr_epi64(b, a, 6), 16 - B);
  }
}
template <std::size_t B>
KOLVEX_AVX512 inline __m512i Right(__m512i a, __m512i b) {
  if constexpr (B == 4) {
    return _mm512_alignr_epi32(b, a, 1);
  } else {
    // Per 128-bit lane: the lane above it (b's first above a's top).
    return _mm512_alignr_epi8(_mm512_alignr_epi64(b, a, 2), a, B);
  }
}

// The medians of the bytes of `at`, from the sorted columns before, at and after it.
template <std::size_t B>
KOLVEX_AVX512 inline __m512i MedianOfBlocks(const Column512& before, const Column512& at,
                                            const Column512& after) {
  return MedianOfColumns(
      Column512{Left<B>(before.lo, at.lo), Left<B>(before.mid, at.mid), Left<B>(before.hi, at.hi)},
      at,
      Column512{Right<B>(at.lo, after.lo), Right<B>(at.mid, after.mid), Right<B>(at.hi, after.hi)});
}

template <std::size_t B>
KOLVEX_AVX512 void MedianAvx512(const BYTE* prev, const BYTE* cur, const BYTE* next, BYTE* out,
                                std::size_t pixels) {
  if (pixels < 3) return MedianRow<B>(prev, cur, next, out, pixels);
  const std::size_t bytes = pixels * B;
  const auto end = static_cast<std::ptrdiff_t>((pixels - 1) * B);  // the interior is [B, end)
  CopyEdges<B>(cur, out, static_cast<std::size_t>(end));
  // The first vector: the one of cur's 64-byte blocks that holds byte B.
  std::ptrdiff_t i = static_cast<std::ptrdiff_t>(B) -
                     static_cast<std::ptrdiff_t>(reinterpret_cast<std::uintptr_t>(cur + B) & 63);
  Column512 before = SortColumns<true>(prev, cur, next, i - 64, bytes);
  Column512 at = SortColumns<true>(prev, cur, next, i, bytes);
  const auto storeMasked = [&](std::ptrdiff_t from, __m512i v) KOLVEX_AVX512 {
    const std::uint64_t skip = from < static_cast<std::ptrdiff_t>(B)
                                   ? FirstLanes64(static_cast<std::size_t>(B - from))
                                   : 0;
    const std::uint64_t keep = FirstLanes64(static_cast<std::size_t>(end - from));
    _mm512_mask_storeu_epi8(reinterpret_cast<BYTE*>(reinterpret_cast<std::uintptr_t>(out) + from),
                            keep & ~skip, v);
  };
  // The first vector may start before the interior.
  if (i < static_cast<std::ptrdiff_t>(B)) {
    const Column512 after = SortColumns<true>(prev, cur, next, i + 64, bytes);
    storeMasked(i, MedianOfBlocks<B>(before, at, after));
    before = at;
    at = after;
    i += 64;
  }
  // Whole vectors while the next block of columns lies inside the row.
  for (; i + 64 <= end && i + 128 <= static_cast<std::ptrdiff_t>(bytes); i += 64) {
    const Column512 after = SortColumns<false>(prev, cur, next, i + 64, bytes);
    _mm512_storeu_si512(out + i, MedianOfBlocks<B>(before, at, after));
    before = at;
    at = after;
  }
  for (; i < end; i += 64) {
    const Column512 after = SortColumns<true>(prev, cur, next, i + 64, bytes);
    storeMasked(i, MedianOfBlocks<B>(before, at, after));
    before = at;
    at = after;
  }
}

KOLVEX_AVX512_SECTION_END

}  // namespace
#endif

MedianRowFn SelectMedianRow(WORD bitCount) {
  switch (bitCount) {
    case 8:
      return PickKernel<MedianRowFn>(MedianRow8, KOLVEX_X86_KERNEL(MedianSse2<1>),
                                     KOLVEX_X86_KERNEL(MedianAvx2<1>),
                                     KOLVEX_X86_KERNEL(MedianAvx512<1>));
    case 24:
      return PickKernel<MedianRowFn>(MedianRow24, KOLVEX_X86_KERNEL(MedianSse2<3>),
                                     KOLVEX_X86_KERNEL(MedianAvx2<3>),
                                     KOLVEX_X86_KERNEL(MedianAvx512<3>));
    case 32:
      return PickKernel<MedianRowFn>(MedianRow32, KOLVEX_X86_KERNEL(MedianSse2<4>),
                                     KOLVEX_X86_KERNEL(MedianAvx2<4>),
                                     KOLVEX_X86_KERNEL(MedianAvx512<4>));
    default:
      return nullptr;
  }
}

}  // namespace kolvex::detail
