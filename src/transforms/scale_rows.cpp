// Kernels of nearest-neighbour scaling: the centre walk that builds an index
// table, and the row copy through the column table.
//
// The vector variants copy a block of output pixels (8 at AVX2, 16 at
// AVX-512) from a window of the source row that starts at the block's first
// column: two vectors loaded whole, from which a cross-lane permute picks each
// pixel by its column relative to the window. A 24-bit pixel is picked as the
// 32-bit word (two 16-bit words at AVX-512) that holds its 3 bytes, shifted
// into place, and the words are packed back to 3 bytes. That serves every
// enlargement and reductions down to about half size; a block whose columns
// spread wider than the window, or whose window would reach past the row,
// goes to the plain loop. Gathers would be simpler but are slower than the
// plain loop on current processors. No byte outside the row is read.

#include "base/kernel_dispatch.h"
#include "transforms/transform_rows.h"

#include <cstdint>
#include <cstring>

#if KOLVEX_X86
#include "core/simd_x86.h"
#endif

namespace kolvex::detail {

namespace {

template <std::size_t N>
void ScaleRow(const BYTE* srcRow, const LONG* columnMap, BYTE* out, std::size_t outPixels) {
  for (std::size_t x = 0; x < outPixels; ++x, out += N) {
    std::memcpy(out, srcRow + static_cast<std::size_t>(columnMap[x]) * N, N);
  }
}

void ScaleRow24(const BYTE* srcRow, std::size_t /*srcPixels*/, const LONG* columnMap, BYTE* out,
                std::size_t outPixels) {
  ScaleRow<3>(srcRow, columnMap, out, outPixels);
}

void ScaleRow32(const BYTE* srcRow, std::size_t /*srcPixels*/, const LONG* columnMap, BYTE* out,
                std::size_t outPixels) {
  ScaleRow<4>(srcRow, columnMap, out, outPixels);
}

}  // namespace

#if KOLVEX_X86
namespace {

using x86::FirstLanes16;
using x86::FirstLanes64;

// ---- AVX2: 8 output pixels from a window of 64 source bytes ----

// All eight lanes of `rel` below `limit`, taken as unsigned.
KOLVEX_AVX2 inline bool AllBelow(__m256i rel, int limit) {
  const __m256i top = _mm256_set1_epi32(limit - 1);
  return _mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_max_epu32(rel, top), top)) == -1;
}

// Dword `index` (0..15) of the 64-byte window lo:hi, in each lane.
KOLVEX_AVX2 inline __m256i PickDword(__m256i lo, __m256i hi, __m256i index) {
  return _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, index),
                            _mm256_permutevar8x32_epi32(hi, index),
                            _mm256_cmpgt_epi32(index, _mm256_set1_epi32(7)));
}

KOLVEX_AVX2 void ScaleRow32Avx2(const BYTE* srcRow, std::size_t srcPixels, const LONG* columnMap,
                                BYTE* out, std::size_t outPixels) {
  std::size_t x = 0;
  for (; x + 8 <= outPixels; x += 8) {
    const auto base = static_cast<std::size_t>(columnMap[x]);
    const __m256i rel =
        _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(columnMap + x)),
                         _mm256_set1_epi32(static_cast<int>(base)));
    if (base + 16 <= srcPixels && AllBelow(rel, 16)) {
      const BYTE* window = srcRow + 4 * base;
      const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window));
      const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window + 32));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x), PickDword(lo, hi, rel));
    } else {
      ScaleRow<4>(srcRow, columnMap + x, out + 4 * x, 8);
    }
  }
  ScaleRow<4>(srcRow, columnMap + x, out + 4 * x, outPixels - x);
}

KOLVEX_AVX2 void ScaleRow24Avx2(const BYTE* srcRow, std::size_t srcPixels, const LONG* columnMap,
                                BYTE* out, std::size_t outPixels) {
  const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0,
                                        1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
  std::size_t x = 0;
  for (; x + 8 <= outPixels; x += 8) {
    const auto base = static_cast<std::size_t>(columnMap[x]);
    const __m256i rel =
        _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(columnMap + x)),
                         _mm256_set1_epi32(static_cast<int>(base)));
    // A pixel 3 rel bytes into the window lies in dwords d and d + 1 (<= 15).
    if (3 * base + 64 <= 3 * srcPixels && AllBelow(rel, 20)) {
      const BYTE* window = srcRow + 3 * base;
      const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window));
      const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window + 32));
      const __m256i at = _mm256_add_epi32(rel, _mm256_add_epi32(rel, rel));  // byte offset
      const __m256i d = _mm256_srli_epi32(at, 2);
      const __m256i shift = _mm256_slli_epi32(_mm256_and_si256(at, _mm256_set1_epi32(3)), 3);
      const __m256i first = PickDword(lo, hi, d);
      const __m256i second = PickDword(lo, hi, _mm256_add_epi32(d, _mm256_set1_epi32(1)));
      // A shift by 32 gives 0: a pixel that starts its dword needs no second.
      const __m256i pixels = _mm256_or_si256(
          _mm256_srlv_epi32(first, shift),
          _mm256_sllv_epi32(second, _mm256_sub_epi32(_mm256_set1_epi32(32), shift)));
      const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(pixels, pack), join);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), _mm256_castsi256_si128(packed));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * x + 16),
                       _mm256_extracti128_si256(packed, 1));
    } else {
      ScaleRow<3>(srcRow, columnMap + x, out + 3 * x, 8);
    }
  }
  ScaleRow<3>(srcRow, columnMap + x, out + 3 * x, outPixels - x);
}

KOLVEX_AVX512_SECTION_BEGIN

// ---- AVX-512: 16 output pixels from a window of 128 source bytes; the
// window and the last block are masked to the row and to the output ----

// The column entries x .. x + count - 1 relative to entry x (lanes beyond
// `count` read as 0).
KOLVEX_AVX512 inline __m512i Relative(const LONG* columnMap, std::size_t x, std::size_t count) {
  const __m512i base = _mm512_set1_epi32(columnMap[x]);
  const __m512i entries = count == 16
                              ? _mm512_loadu_si512(columnMap + x)
                              : _mm512_mask_loadu_epi32(base, FirstLanes16(count), columnMap + x);
  return _mm512_sub_epi32(entries, base);
}

// The 128 bytes from `window` on, of which `available` belong to the row:
// bytes past the row read as zero and are never touched.
KOLVEX_AVX512 inline void LoadWindow(const BYTE* window, std::size_t available, __m512i* lo,
                                     __m512i* hi) {
  if (available >= 128) {
    *lo = _mm512_loadu_si512(window);
    *hi = _mm512_loadu_si512(window + 64);
  } else {
    *lo = _mm512_maskz_loadu_epi8(FirstLanes64(available), window);
    *hi = _mm512_maskz_loadu_epi8(FirstLanes64(available > 64 ? available - 64 : 0), window + 64);
  }
}

KOLVEX_AVX512 void ScaleRow32Avx512(const BYTE* srcRow, std::size_t srcPixels,
                                    const LONG* columnMap, BYTE* out, std::size_t outPixels) {
  for (std::size_t x = 0; x < outPixels; x += 16) {
    const std::size_t count = outPixels - x < 16 ? outPixels - x : 16;
    const auto base = static_cast<std::size_t>(columnMap[x]);
    const __m512i rel = Relative(columnMap, x, count);
    if (_mm512_cmplt_epu32_mask(rel, _mm512_set1_epi32(32)) != 0xFFFF) {
      ScaleRow<4>(srcRow, columnMap + x, out + 4 * x, count);
      continue;
    }
    __m512i lo, hi;
    LoadWindow(srcRow + 4 * base, 4 * (srcPixels - base), &lo, &hi);
    const __m512i pixels = _mm512_permutex2var_epi32(lo, rel, hi);
    if (count == 16) {
      _mm512_storeu_si512(out + 4 * x, pixels);
    } else {
      _mm512_mask_storeu_epi32(out + 4 * x, FirstLanes16(count), pixels);
    }
  }
}

KOLVEX_AVX512 void ScaleRow24Avx512(const BYTE* srcRow, std::size_t srcPixels,
                                    const LONG* columnMap, BYTE* out, std::size_t outPixels) {
  const __m512i pack =
      _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
  const __m512i join = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 15, 15, 15, 15);
  for (std::size_t x = 0; x < outPixels; x += 16) {
    const std::size_t count = outPixels - x < 16 ? outPixels - x : 16;
    const auto base = static_cast<std::size_t>(columnMap[x]);
    const __m512i rel = Relative(columnMap, x, count);
    // Pixel rel sits in the 16-bit words w = 3 rel / 2 and w + 1 (<= 63).
    if (_mm512_cmplt_epu32_mask(rel, _mm512_set1_epi32(42)) != 0xFFFF) {
      ScaleRow<3>(srcRow, columnMap + x, out + 3 * x, count);
      continue;
    }
    __m512i lo, hi;
    LoadWindow(srcRow + 3 * base, 3 * (srcPixels - base), &lo, &hi);
    const __m512i at = _mm512_add_epi32(rel, _mm512_add_epi32(rel, rel));  // byte offset
    const __m512i word = _mm512_srli_epi32(at, 1);
    const __m512i words =  // low half: word w, high half: word w + 1
        _mm512_or_si512(word, _mm512_slli_epi32(_mm512_add_epi32(word, _mm512_set1_epi32(1)), 16));
    // An odd offset starts in the middle of word w: drop its first byte.
    const __m512i shift = _mm512_slli_epi32(_mm512_and_si512(at, _mm512_set1_epi32(1)), 3);
    const __m512i pixels = _mm512_srlv_epi32(_mm512_permutex2var_epi16(lo, words, hi), shift);
    const __m512i packed = _mm512_permutexvar_epi32(join, _mm512_shuffle_epi8(pixels, pack));
    if (3 * x + 64 <= 3 * outPixels) {
      // The 16 bytes past the block are rewritten by the next block.
      _mm512_storeu_si512(out + 3 * x, packed);
    } else {
      _mm512_mask_storeu_epi8(out + 3 * x, FirstLanes64(3 * count), packed);
    }
  }
}

KOLVEX_AVX512_SECTION_END

}  // namespace
#endif

ScaleRowFn SelectScaleRow(WORD bitCount) {
  switch (bitCount) {
    case 24:
      // SSE2 has no cross-lane permute: the plain loop serves that level.
      return PickKernel<ScaleRowFn>(ScaleRow24, nullptr, KOLVEX_X86_KERNEL(ScaleRow24Avx2),
                                    KOLVEX_X86_KERNEL(ScaleRow24Avx512));
    case 32:
      // SSE2: the plain loop is already one 4-byte move per pixel.
      return PickKernel<ScaleRowFn>(ScaleRow32, nullptr, KOLVEX_X86_KERNEL(ScaleRow32Avx2),
                                    KOLVEX_X86_KERNEL(ScaleRow32Avx512));
    default:
      return nullptr;
  }
}

void CentreWalk(LONG* entries, int count, int sourceCount) {
  // `remainder` and `distance` carry, scaled to integers, how far the next
  // destination centre and the next source boundary lie ahead; whichever is
  // nearer is passed. 64 bits, so that no pair of sizes overflows them.
  std::int64_t remainder = count;
  std::int64_t distance = sourceCount / 2;
  const LONG last = sourceCount - 1;
  LONG j = 0;
  int i = 0;
  while (i < count) {
    if (remainder > distance) {
      entries[i++] = j;
      remainder -= distance;
      distance = sourceCount;
    } else {
      distance -= remainder;
      remainder = count;
      if (j < last) ++j;
    }
  }
}

}  // namespace kolvex::detail
