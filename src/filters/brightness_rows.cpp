// Brightness kernels: the lookup of each channel byte (the plain kernel,
// which defines the results), and vector variants that compute the same bytes.
//
// v - offset held to 0..255 is a saturating addition of -offset or a
// saturating subtraction of offset, so the vector variants need no table. At
// 32 bits both amounts are zero in every fourth byte, so alpha is stored back
// as it was loaded. Working in place, a row's last partial vector must not
// overlap bytes already mapped (they would be mapped twice): it is loaded and
// mapped before the rest of the row and stored after it (SSE2, AVX2), or
// masked (AVX-512).

#include "base/kernel_dispatch.h"
#include "filters/filter_rows.h"

#include <algorithm>
#include <cstdint>

#if KOLVEX_X86
#include "core/simd_x86.h"
#endif

namespace kolvex::detail {

void BuildBrightnessTable(int level, BrightnessTable& table) {
  // Folded once here so the rows need neither arithmetic nor a branch per value.
  // The level is held to 0..255 before the subtraction, which therefore cannot
  // overflow whatever the caller passes.
  const int offset = std::clamp(level, 0, 255) - 128;
  table.offset = offset;
  for (int v = 0; v < 256; ++v) table.map[v] = static_cast<BYTE>(std::clamp(v - offset, 0, 255));
}

namespace {

template <std::size_t Mapped, std::size_t PixelBytes>
void BrightnessRow(const BrightnessTable& table, BYTE* row, std::size_t pixels) {
  for (std::size_t x = 0; x < pixels; ++x, row += PixelBytes) {
    for (std::size_t c = 0; c < Mapped; ++c) row[c] = table.map[row[c]];
  }
}

void BrightnessRow24(const BrightnessTable& table, BYTE* row, std::size_t pixels) {
  BrightnessRow<3, 3>(table, row, pixels);
}
void BrightnessRow32(const BrightnessTable& table, BYTE* row, std::size_t pixels) {
  BrightnessRow<3, 4>(table, row, pixels);
}

}  // namespace

#if KOLVEX_X86
namespace {

using x86::FirstLanes64;

// The saturating amounts of a table, as the 32-bit pattern of a pixel:
// map[v] = (v + up) - down, each step held to 0..255; at most one of them is
// nonzero. At 32 bits the fourth byte of each pattern is zero.
struct Steps {
  int up;
  int down;
};

template <std::size_t PixelBytes>
Steps StepsOf(const BrightnessTable& table) {
  const unsigned spread = PixelBytes == 4 ? 0x010101u : 0x01010101u;
  return {static_cast<int>(static_cast<unsigned>(std::max(-table.offset, 0)) * spread),
          static_cast<int>(static_cast<unsigned>(std::max(table.offset, 0)) * spread)};
}

// Vectors start at multiples of their width from the row's start, which at
// 32 bits is a multiple of 4 (the last vector too: the row's bytes are), so
// the pattern stays on the pixels; at 24 bits every byte takes the same amounts.

template <std::size_t PixelBytes>
void BrightnessSse2(const BrightnessTable& table, BYTE* row, std::size_t pixels) {
  const std::size_t bytes = pixels * PixelBytes;
  if (bytes < 16) return BrightnessRow<3, PixelBytes>(table, row, pixels);
  const Steps s = StepsOf<PixelBytes>(table);
  const __m128i up = _mm_set1_epi32(s.up);
  const __m128i down = _mm_set1_epi32(s.down);
  const auto map = [up, down](const BYTE* p) {
    return _mm_subs_epu8(_mm_adds_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), up),
                         down);
  };
  const __m128i last = map(row + bytes - 16);
  for (std::size_t i = 0; i + 16 < bytes; i += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), map(row + i));
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(row + bytes - 16), last);
}

KOLVEX_AVX2 inline __m256i Map256(const BYTE* p, __m256i up, __m256i down) {
  return _mm256_subs_epu8(
      _mm256_adds_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), up), down);
}

template <std::size_t PixelBytes>
KOLVEX_AVX2 void BrightnessAvx2(const BrightnessTable& table, BYTE* row, std::size_t pixels) {
  const std::size_t bytes = pixels * PixelBytes;
  if (bytes < 32) return BrightnessSse2<PixelBytes>(table, row, pixels);
  const Steps s = StepsOf<PixelBytes>(table);
  const __m256i up = _mm256_set1_epi32(s.up);
  const __m256i down = _mm256_set1_epi32(s.down);
  const __m256i last = Map256(row + bytes - 32, up, down);
  std::size_t i = 0;
  for (; i + 64 < bytes; i += 64) {
    const __m256i a = Map256(row + i, up, down);
    const __m256i b = Map256(row + i + 32, up, down);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i), a);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i + 32), b);
  }
  if (i + 32 < bytes) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i), Map256(row + i, up, down));
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + bytes - 32), last);
}

template <std::size_t PixelBytes>
KOLVEX_AVX512 void BrightnessAvx512(const BrightnessTable& table, BYTE* row, std::size_t pixels) {
  const std::size_t bytes = pixels * PixelBytes;
  const Steps s = StepsOf<PixelBytes>(table);
  const __m512i up = _mm512_set1_epi32(s.up);
  const __m512i down = _mm512_set1_epi32(s.down);
  std::size_t i = 0;
  for (; i + 128 <= bytes; i += 128) {
    const __m512i a = _mm512_subs_epu8(_mm512_adds_epu8(_mm512_loadu_si512(row + i), up), down);
    const __m512i b =
        _mm512_subs_epu8(_mm512_adds_epu8(_mm512_loadu_si512(row + i + 64), up), down);
    _mm512_storeu_si512(row + i, a);
    _mm512_storeu_si512(row + i + 64, b);
  }
  for (; i < bytes; i += 64) {
    const __mmask64 m = FirstLanes64(bytes - i);
    const __m512i v = _mm512_maskz_loadu_epi8(m, row + i);
    _mm512_mask_storeu_epi8(row + i, m, _mm512_subs_epu8(_mm512_adds_epu8(v, up), down));
  }
}

}  // namespace
#endif

BrightnessRowFn SelectBrightnessRow(WORD bitCount) {
  switch (bitCount) {
    case 24:
      return PickKernel<BrightnessRowFn>(BrightnessRow24, KOLVEX_X86_KERNEL(BrightnessSse2<3>),
                                         KOLVEX_X86_KERNEL(BrightnessAvx2<3>),
                                         KOLVEX_X86_KERNEL(BrightnessAvx512<3>));
    case 32:
      return PickKernel<BrightnessRowFn>(BrightnessRow32, KOLVEX_X86_KERNEL(BrightnessSse2<4>),
                                         KOLVEX_X86_KERNEL(BrightnessAvx2<4>),
                                         KOLVEX_X86_KERNEL(BrightnessAvx512<4>));
    default:
      return nullptr;
  }
}

}  // namespace kolvex::detail
