// Kernels of nearest-neighbour scaling: the centre walk that builds an index
// table, and the row copy through the column table.
//
// The vector variants fetch pixels with gathers driven straight by the column
// table. A 24-bit pixel is gathered as the 32-bit word at its first byte, or,
// for the last pixel of the source row (whose word would reach one byte past
// the row), as the word that ends with it, shifted down a byte; the words are
// then packed back to 3 bytes. No byte outside the row's pixels is read.

#include <kolvex/transforms/transform_rows.h>

#include <kolvex/core/kernel_level.h>

#include <cstdint>
#include <cstring>

#if KOLVEX_X86
#include <kolvex/core/simd_x86.h>
#endif

namespace kolvex::detail {

namespace {

template <std::size_t N>
void ScaleRow(const BYTE* srcRow, const LONG* columnMap, BYTE* out, std::size_t outPixels) {
  for (std::size_t x = 0; x < outPixels; ++x, out += N) {
    std::memcpy(out, srcRow + static_cast<std::size_t>(columnMap[x]) * N, N);
  }
}

}  // namespace

void ScaleRow24(const BYTE* srcRow, std::size_t /*srcPixels*/, const LONG* columnMap, BYTE* out,
                std::size_t outPixels) {
  ScaleRow<3>(srcRow, columnMap, out, outPixels);
}

void ScaleRow32(const BYTE* srcRow, std::size_t /*srcPixels*/, const LONG* columnMap, BYTE* out,
                std::size_t outPixels) {
  ScaleRow<4>(srcRow, columnMap, out, outPixels);
}

#if KOLVEX_X86
namespace {

using x86::FirstLanes16;
using x86::FirstLanes64;

// ---- SSE2 level, 24 bits: one 4-byte move per pixel instead of three bytes.
// Each store also writes the first byte of the next pixel, which that pixel's
// own store replaces; the last pixel is copied exactly.
void ScaleRow24Words(const BYTE* srcRow, std::size_t srcPixels, const LONG* columnMap, BYTE* out,
                     std::size_t outPixels) {
  if (srcPixels < 2 || outPixels < 2) return ScaleRow<3>(srcRow, columnMap, out, outPixels);
  const std::size_t last = srcPixels - 1;
  for (std::size_t x = 0; x + 1 < outPixels; ++x) {
    const auto c = static_cast<std::size_t>(columnMap[x]);
    const std::size_t back = c == last ? 1 : 0;  // the last pixel's word ends with it
    std::uint32_t word;
    std::memcpy(&word, srcRow + 3 * c - back, 4);
    word >>= 8 * back;
    std::memcpy(out + 3 * x, &word, 4);
  }
  ScaleRow<3>(srcRow, columnMap + outPixels - 1, out + 3 * (outPixels - 1), 1);
}

// ---- AVX2 ----

KOLVEX_AVX2 void ScaleRow32Avx2(const BYTE* srcRow, std::size_t /*srcPixels*/,
                                const LONG* columnMap, BYTE* out, std::size_t outPixels) {
  const auto* base = reinterpret_cast<const int*>(srcRow);
  std::size_t x = 0;
  for (; x + 16 <= outPixels; x += 16) {
    const __m256i i0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(columnMap + x));
    const __m256i i1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(columnMap + x + 8));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x), _mm256_i32gather_epi32(base, i0, 4));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x + 32),
                        _mm256_i32gather_epi32(base, i1, 4));
  }
  for (; x + 8 <= outPixels; x += 8) {
    const __m256i i0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(columnMap + x));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x), _mm256_i32gather_epi32(base, i0, 4));
  }
  ScaleRow<4>(srcRow, columnMap + x, out + 4 * x, outPixels - x);
}

// Byte offsets of the words that hold the pixels `index` of a 24-bit row, and
// the shifts that bring each pixel to the low 3 bytes of its word.
KOLVEX_AVX2 inline __m256i Offsets24(__m256i index, __m256i last, __m256i* shift) {
  const __m256i atLast = _mm256_cmpeq_epi32(index, last);  // -1 where index is the last pixel
  *shift = _mm256_and_si256(atLast, _mm256_set1_epi32(8));
  return _mm256_add_epi32(_mm256_add_epi32(index, _mm256_add_epi32(index, index)), atLast);
}

KOLVEX_AVX2 void ScaleRow24Avx2(const BYTE* srcRow, std::size_t srcPixels, const LONG* columnMap,
                                BYTE* out, std::size_t outPixels) {
  if (srcPixels < 2) return ScaleRow<3>(srcRow, columnMap, out, outPixels);
  const auto* base = reinterpret_cast<const int*>(srcRow);
  const __m256i last = _mm256_set1_epi32(static_cast<int>(srcPixels - 1));
  const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                        0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
  std::size_t x = 0;
  for (; x + 8 <= outPixels; x += 8) {
    __m256i shift;
    const __m256i offsets = Offsets24(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(columnMap + x)), last, &shift);
    const __m256i words = _mm256_srlv_epi32(_mm256_i32gather_epi32(base, offsets, 1), shift);
    const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, pack), join);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), _mm256_castsi256_si128(packed));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * x + 16),
                     _mm256_extracti128_si256(packed, 1));
  }
  ScaleRow<3>(srcRow, columnMap + x, out + 3 * x, outPixels - x);
}

// ---- AVX-512: the row ends on a masked gather and store ----

KOLVEX_AVX512 void ScaleRow32Avx512(const BYTE* srcRow, std::size_t /*srcPixels*/,
                                    const LONG* columnMap, BYTE* out, std::size_t outPixels) {
  std::size_t x = 0;
  for (; x + 16 <= outPixels; x += 16) {
    const __m512i index = _mm512_loadu_si512(columnMap + x);
    _mm512_storeu_si512(out + 4 * x, _mm512_i32gather_epi32(index, srcRow, 4));
  }
  if (x < outPixels) {
    const __mmask16 m = FirstLanes16(outPixels - x);
    const __m512i index = _mm512_maskz_loadu_epi32(m, columnMap + x);
    const __m512i words = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), m, index, srcRow, 4);
    _mm512_mask_storeu_epi32(out + 4 * x, m, words);
  }
}

KOLVEX_AVX512 void ScaleRow24Avx512(const BYTE* srcRow, std::size_t srcPixels,
                                    const LONG* columnMap, BYTE* out, std::size_t outPixels) {
  if (srcPixels < 2) return ScaleRow<3>(srcRow, columnMap, out, outPixels);
  const __m512i last = _mm512_set1_epi32(static_cast<int>(srcPixels - 1));
  const __m512i pack = _mm512_broadcast_i32x4(
      _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
  const __m512i join = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 15, 15, 15, 15);
  for (std::size_t x = 0; x < outPixels; x += 16) {
    const std::size_t count = outPixels - x < 16 ? outPixels - x : 16;
    const __mmask16 m = FirstLanes16(count);
    const __m512i index = _mm512_maskz_loadu_epi32(m, columnMap + x);
    const __mmask16 atLast = _mm512_cmpeq_epi32_mask(index, last);
    const __m512i times3 = _mm512_add_epi32(index, _mm512_add_epi32(index, index));
    const __m512i offsets = _mm512_mask_sub_epi32(times3, atLast, times3, _mm512_set1_epi32(1));
    const __m512i gathered =
        _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), m, offsets, srcRow, 1);
    const __m512i words = _mm512_mask_srli_epi32(gathered, atLast, gathered, 8);
    const __m512i packed = _mm512_permutexvar_epi32(join, _mm512_shuffle_epi8(words, pack));
    _mm512_mask_storeu_epi8(out + 3 * x, FirstLanes64(3 * count), packed);
  }
}

}  // namespace
#endif

ScaleRowFn SelectScaleRow(WORD bitCount) {
  switch (bitCount) {
    case 24:
      return PickKernel<ScaleRowFn>(ScaleRow24, KOLVEX_X86_KERNEL(ScaleRow24Words),
                                    KOLVEX_X86_KERNEL(ScaleRow24Avx2),
                                    KOLVEX_X86_KERNEL(ScaleRow24Avx512));
    case 32:
      // The plain loop is already one 4-byte move per pixel: SSE2 has no gather.
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
