// Kernels of the field operations: the rounded byte mean of two rows.
// (a + b + 1) >> 1 per byte is exactly what the packed unsigned average
// instruction computes, so every vector level is one instruction per vector.
// `out` may be `a` or `b`: each vector is read before it is written and no
// store covers bytes a later load still needs, so the tails are masked
// (AVX-512) or left to the plain word loop, never overlapping.

#include "base/kernel_dispatch.h"
#include "transforms/transform_rows.h"

#include <cstdint>
#include <cstring>

#if KOLVEX_X86
#include "core/simd_x86.h"
#endif

namespace kolvex::detail {

namespace {

// (a + b + 1) / 2 as (a / 2) + (b / 2) + ((a | b) & 1): at most 127 + 127 + 1,
// so no byte carries into its neighbour and four bytes share one word.
constexpr std::uint32_t kLow7 = 0x7F7F7F7Fu;
constexpr std::uint32_t kLowBit = 0x01010101u;

inline BYTE AverageByte(unsigned a, unsigned b) {
  return static_cast<BYTE>((a >> 1) + (b >> 1) + ((a | b) & 1u));
}

void AverageRows(const BYTE* a, const BYTE* b, BYTE* out, std::size_t bytes) {
  std::size_t i = 0;
  for (; i + 4 <= bytes; i += 4) {
    std::uint32_t wa;
    std::uint32_t wb;
    std::memcpy(&wa, a + i, 4);
    std::memcpy(&wb, b + i, 4);
    const std::uint32_t mean = ((wa >> 1) & kLow7) + ((wb >> 1) & kLow7) + ((wa | wb) & kLowBit);
    std::memcpy(out + i, &mean, 4);
  }
  for (; i < bytes; ++i) out[i] = AverageByte(a[i], b[i]);
}

}  // namespace

#if KOLVEX_X86
namespace {

void AverageRowsSse2(const BYTE* a, const BYTE* b, BYTE* out, std::size_t bytes) {
  std::size_t i = 0;
  for (; i + 16 <= bytes; i += 16) {
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_avg_epu8(va, vb));
  }
  AverageRows(a + i, b + i, out + i, bytes - i);
}

KOLVEX_AVX2 void AverageRowsAvx2(const BYTE* a, const BYTE* b, BYTE* out, std::size_t bytes) {
  std::size_t i = 0;
  for (; i + 64 <= bytes; i += 64) {
    const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
    const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i + 32));
    const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
    const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i + 32));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_avg_epu8(a0, b0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + 32), _mm256_avg_epu8(a1, b1));
  }
  AverageRowsSse2(a + i, b + i, out + i, bytes - i);
}

KOLVEX_AVX512 void AverageRowsAvx512(const BYTE* a, const BYTE* b, BYTE* out, std::size_t bytes) {
  std::size_t i = 0;
  for (; i + 128 <= bytes; i += 128) {
    const __m512i a0 = _mm512_loadu_si512(a + i);
    const __m512i a1 = _mm512_loadu_si512(a + i + 64);
    const __m512i b0 = _mm512_loadu_si512(b + i);
    const __m512i b1 = _mm512_loadu_si512(b + i + 64);
    _mm512_storeu_si512(out + i, _mm512_avg_epu8(a0, b0));
    _mm512_storeu_si512(out + i + 64, _mm512_avg_epu8(a1, b1));
  }
  for (; i < bytes; i += 64) {
    const __mmask64 m = x86::FirstLanes64(bytes - i);
    const __m512i va = _mm512_maskz_loadu_epi8(m, a + i);
    const __m512i vb = _mm512_maskz_loadu_epi8(m, b + i);
    _mm512_mask_storeu_epi8(out + i, m, _mm512_avg_epu8(va, vb));
  }
}

}  // namespace
#endif

AverageRowsFn SelectAverageRows() {
  return PickKernel<AverageRowsFn>(AverageRows, KOLVEX_X86_KERNEL(AverageRowsSse2),
                                   KOLVEX_X86_KERNEL(AverageRowsAvx2),
                                   KOLVEX_X86_KERNEL(AverageRowsAvx512));
}

}  // namespace kolvex::detail
