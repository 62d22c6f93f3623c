// Kernels of mirroring: one row with its pixels in reverse order. A row kept
// in order is a plain memcpy of its pixel bytes in the driver.
//
// The vector variants read the source row forwards and write the output
// backwards, block by block: memory streams that run forwards are fetched
// ahead by the processor, and the output, being written, does not need to
// be. A block needs no more than the pixels it mirrors; a row's last block is
// stored over pixels already written (the same values again), masked
// (AVX-512), or left to the plain loop. Where a whole block's store is wider
// than its pixels (AVX2, 24 bits), the extra bytes lie below the block, where
// the next block (or the plain loop) writes afterwards.

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
void MirrorRow(const BYTE* src, BYTE* out, std::size_t pixels) {
  const BYTE* from = src + pixels * N;
  for (std::size_t x = 0; x < pixels; ++x, out += N) {
    from -= N;
    std::memcpy(out, from, N);
  }
}

void MirrorRow24(const BYTE* src, BYTE* out, std::size_t pixels) { MirrorRow<3>(src, out, pixels); }
void MirrorRow32(const BYTE* src, BYTE* out, std::size_t pixels) { MirrorRow<4>(src, out, pixels); }
void MirrorRow64(const BYTE* src, BYTE* out, std::size_t pixels) { MirrorRow<8>(src, out, pixels); }

}  // namespace

#if KOLVEX_X86
namespace {

using x86::FirstLanes64;

// An address `back` bytes before p, for masked accesses whose masked-off
// lanes may lie before the row (they are never touched).
template <class T>
T* Before(T* p, std::size_t back) {
  return reinterpret_cast<T*>(reinterpret_cast<std::uintptr_t>(p) - back);
}

// ---- SSE2: 16 bytes, reversed by whole 4- or 8-byte pixels ----

template <std::size_t N>
void MirrorRowSse2(const BYTE* src, BYTE* out, std::size_t pixels) {
  constexpr std::size_t kBlock = 16 / N;
  if (pixels < kBlock) return MirrorRow<N>(src, out, pixels);
  const auto step = [](const BYTE* from, BYTE* to) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to),
                     N == 4 ? _mm_shuffle_epi32(v, 0x1B) : _mm_shuffle_epi32(v, 0x4E));
  };
  BYTE* end = out + pixels * N;
  std::size_t x = 0;
  for (; x + kBlock <= pixels; x += kBlock) step(src + x * N, end - (x + kBlock) * N);
  // The last pixels of the source, mirrored onto the start of the output.
  if (x < pixels) step(src + (pixels - kBlock) * N, out);
}

// ---- AVX2 ----

template <std::size_t N>
KOLVEX_AVX2 inline __m256i Reverse256(__m256i v) {
  if constexpr (N == 4) {
    return _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0));
  } else {
    return _mm256_permute4x64_epi64(v, 0x1B);
  }
}

template <std::size_t N>
KOLVEX_AVX2 inline void Mirror256(const BYTE* from, BYTE* to) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(to),
                      Reverse256<N>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(from))));
}

template <std::size_t N>
KOLVEX_AVX2 void MirrorRowAvx2(const BYTE* src, BYTE* out, std::size_t pixels) {
  constexpr std::size_t kBlock = 32 / N;
  if (pixels < kBlock) return MirrorRowSse2<N>(src, out, pixels);
  BYTE* end = out + pixels * N;
  std::size_t x = 0;
  for (; x + 2 * kBlock <= pixels; x += 2 * kBlock) {
    Mirror256<N>(src + x * N, end - (x + kBlock) * N);
    Mirror256<N>(src + (x + kBlock) * N, end - (x + 2 * kBlock) * N);
  }
  for (; x + kBlock <= pixels; x += kBlock) Mirror256<N>(src + x * N, end - (x + kBlock) * N);
  if (x < pixels) Mirror256<N>(src + (pixels - kBlock) * N, out);
}

// 24 bits: 8 pixels (24 bytes) per step, from the 32 bytes that start at the
// step's pixels. Each lane reverses 4 pixels (3 dwords) with a byte shuffle;
// the two 12-byte halves are joined into the top 24 bytes of the vector,
// which is stored so that they land on the step's output.
KOLVEX_AVX2 void MirrorRow24Avx2(const BYTE* src, BYTE* out, std::size_t pixels) {
  const __m256i gather = _mm256_setr_epi32(3, 4, 5, 5, 0, 1, 2, 2);
  const __m256i reverse = _mm256_setr_epi8(9, 10, 11, 6, 7, 8, 3, 4, 5, 0, 1, 2, -1, -1, -1, -1, 9,
                                           10, 11, 6, 7, 8, 3, 4, 5, 0, 1, 2, -1, -1, -1, -1);
  const __m256i join = _mm256_setr_epi32(0, 0, 0, 1, 2, 4, 5, 6);
  BYTE* end = out + pixels * 3;
  std::size_t x = 0;
  // A step reads 32 bytes from its pixels on and writes 32 bytes ending at
  // its output's end: both stay inside the row while 11 pixels remain.
  for (; x + 11 <= pixels; x += 8) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 3 * x));
    const __m256i r = _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(v, gather), reverse);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(end - 3 * x - 32),
                        _mm256_permutevar8x32_epi32(r, join));
  }
  MirrorRow<3>(src + 3 * x, out, pixels - x);
}

KOLVEX_AVX512_SECTION_BEGIN

// ---- AVX-512: 64 bytes per step, the last steps masked ----

template <std::size_t N>
KOLVEX_AVX512 inline __m512i Reverse512(__m512i v) {
  if constexpr (N == 4) {
    return _mm512_permutexvar_epi32(
        _mm512_setr_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0), v);
  } else {
    return _mm512_permutexvar_epi64(_mm512_setr_epi64(7, 6, 5, 4, 3, 2, 1, 0), v);
  }
}

template <std::size_t N>
KOLVEX_AVX512 void MirrorRowAvx512(const BYTE* src, BYTE* out, std::size_t pixels) {
  constexpr std::size_t kBlock = 64 / N;
  BYTE* end = out + pixels * N;
  std::size_t x = 0;
  for (; x + kBlock <= pixels; x += kBlock) {
    _mm512_storeu_si512(end - (x + kBlock) * N, Reverse512<N>(_mm512_loadu_si512(src + x * N)));
  }
  if (x < pixels) {
    // The last `bytes` of the source, reversed into the top of the vector,
    // land on the first `bytes` of the output.
    const std::size_t bytes = (pixels - x) * N;
    const __m512i v = _mm512_maskz_loadu_epi8(FirstLanes64(bytes), src + x * N);
    _mm512_mask_storeu_epi8(Before(out, 64 - bytes), ~FirstLanes64(64 - bytes), Reverse512<N>(v));
  }
}

// 24 bits: 16 pixels (48 bytes) per step; each lane reverses 4 pixels and
// the four 12-byte results are joined by dwords into the low 48 bytes, which
// whole steps store as 32 + 16 bytes and the last steps masked.
template <bool kMasked>
KOLVEX_AVX512 inline void Mirror24Step512(const BYTE* from, BYTE* to, std::size_t count) {
  const __m512i gather = _mm512_setr_epi32(9, 10, 11, 11, 6, 7, 8, 8, 3, 4, 5, 5, 0, 1, 2, 2);
  const __m512i reverse =
      _mm512_broadcast_i32x4(_mm_setr_epi8(9, 10, 11, 6, 7, 8, 3, 4, 5, 0, 1, 2, -1, -1, -1, -1));
  const std::size_t bytes = count * 3;
  // Masked: the `count` pixels at `from` are the last of a virtual block of
  // 16, read and written only where they are.
  const __m512i v = kMasked ? _mm512_maskz_loadu_epi8(FirstLanes64(48) & ~FirstLanes64(48 - bytes),
                                                      Before(from, 48 - bytes))
                            : _mm512_loadu_si512(from);
  const __m512i r = _mm512_shuffle_epi8(_mm512_permutexvar_epi32(gather, v), reverse);
  const __m512i joined = _mm512_permutexvar_epi32(
      _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 15, 15, 15, 15), r);
  if constexpr (kMasked) {
    _mm512_mask_storeu_epi8(to, FirstLanes64(bytes), joined);
  } else {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm512_castsi512_si256(joined));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 32), _mm512_extracti32x4_epi32(joined, 2));
  }
}

KOLVEX_AVX512 void MirrorRow24Avx512(const BYTE* src, BYTE* out, std::size_t pixels) {
  BYTE* end = out + pixels * 3;
  std::size_t x = 0;
  // A whole step reads 16 bytes past its pixels: 6 more pixels must remain.
  for (; x + 22 <= pixels; x += 16) {
    Mirror24Step512<false>(src + 3 * x, end - 3 * (x + 16), 16);
  }
  while (x < pixels) {
    const std::size_t count = pixels - x < 16 ? pixels - x : 16;
    Mirror24Step512<true>(src + 3 * x, end - 3 * (x + count), count);
    x += count;
  }
}

KOLVEX_AVX512_SECTION_END

}  // namespace
#endif

MirrorRowFn SelectMirrorRow(WORD bitCount) {
  switch (bitCount) {
    case 24:
      return PickKernel<MirrorRowFn>(MirrorRow24, nullptr, KOLVEX_X86_KERNEL(MirrorRow24Avx2),
                                     KOLVEX_X86_KERNEL(MirrorRow24Avx512));
    case 32:
      return PickKernel<MirrorRowFn>(MirrorRow32, KOLVEX_X86_KERNEL(MirrorRowSse2<4>),
                                     KOLVEX_X86_KERNEL(MirrorRowAvx2<4>),
                                     KOLVEX_X86_KERNEL(MirrorRowAvx512<4>));
    case 64:
      return PickKernel<MirrorRowFn>(MirrorRow64, KOLVEX_X86_KERNEL(MirrorRowSse2<8>),
                                     KOLVEX_X86_KERNEL(MirrorRowAvx2<8>),
                                     KOLVEX_X86_KERNEL(MirrorRowAvx512<8>));
    default:
      return nullptr;
  }
}

}  // namespace kolvex::detail
