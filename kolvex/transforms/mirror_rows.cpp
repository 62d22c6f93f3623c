// Kernels of mirroring: one row with its pixels in reverse order. A row kept
// in order is a plain memcpy of its pixel bytes in the driver.
//
// The vector variants reverse whole blocks of pixels taken from the end of the
// source row; a block needs no more than the pixels it mirrors, and a row's
// last block is either stored over pixels already written (the same values
// again), masked (AVX-512), or left to the plain loop.

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
void MirrorRow(const BYTE* src, BYTE* out, std::size_t pixels) {
  const BYTE* from = src + pixels * N;
  for (std::size_t x = 0; x < pixels; ++x, out += N) {
    from -= N;
    std::memcpy(out, from, N);
  }
}

}  // namespace

void MirrorRow24(const BYTE* src, BYTE* out, std::size_t pixels) { MirrorRow<3>(src, out, pixels); }
void MirrorRow32(const BYTE* src, BYTE* out, std::size_t pixels) { MirrorRow<4>(src, out, pixels); }
void MirrorRow64(const BYTE* src, BYTE* out, std::size_t pixels) { MirrorRow<8>(src, out, pixels); }

#if KOLVEX_X86
namespace {

using x86::FirstLanes64;

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
  const BYTE* end = src + pixels * N;
  std::size_t x = 0;
  for (; x + kBlock <= pixels; x += kBlock) step(end - (x + kBlock) * N, out + x * N);
  // The first pixels of the source, mirrored onto the end of the output.
  if (x < pixels) step(src, out + (pixels - kBlock) * N);
}

// ---- AVX2 ----

template <std::size_t N>
KOLVEX_AVX2 __m256i Reverse256(__m256i v) {
  if constexpr (N == 4) {
    return _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0));
  } else {
    return _mm256_permute4x64_epi64(v, 0x1B);
  }
}

template <std::size_t N>
KOLVEX_AVX2 void MirrorRowAvx2(const BYTE* src, BYTE* out, std::size_t pixels) {
  constexpr std::size_t kBlock = 32 / N;
  if (pixels < kBlock) return MirrorRowSse2<N>(src, out, pixels);
  const BYTE* end = src + pixels * N;
  std::size_t x = 0;
  for (; x + 2 * kBlock <= pixels; x += 2 * kBlock) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(end - (x + kBlock) * N));
    const __m256i b =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(end - (x + 2 * kBlock) * N));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x * N), Reverse256<N>(a));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + (x + kBlock) * N), Reverse256<N>(b));
  }
  for (; x + kBlock <= pixels; x += kBlock) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(end - (x + kBlock) * N));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x * N), Reverse256<N>(a));
  }
  if (x < pixels) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + (pixels - kBlock) * N), Reverse256<N>(a));
  }
}

// 24 bits: 8 pixels per step. The 32 bytes that end at the block's end hold
// them in dwords 2..7; each lane takes 4 pixels (3 dwords), reverses them with
// a byte shuffle, and the two 12-byte halves are joined.
KOLVEX_AVX2 void MirrorRow24Avx2(const BYTE* src, BYTE* out, std::size_t pixels) {
  const __m256i gather = _mm256_setr_epi32(5, 6, 7, 7, 2, 3, 4, 4);
  const __m256i reverse = _mm256_setr_epi8(9, 10, 11, 6, 7, 8, 3, 4, 5, 0, 1, 2, -1, -1, -1, -1,
                                           9, 10, 11, 6, 7, 8, 3, 4, 5, 0, 1, 2, -1, -1, -1, -1);
  const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
  const BYTE* end = src + pixels * 3;
  std::size_t x = 0;
  // A step reads the 32 bytes before its block's end and writes 32 bytes from
  // its start (the last 8 are rewritten by the next step).
  for (; 3 * x + 32 <= 3 * pixels; x += 8) {
    const __m256i v =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(end - x * 3 - 32));
    const __m256i r = _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(v, gather), reverse);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x * 3),
                        _mm256_permutevar8x32_epi32(r, join));
  }
  MirrorRow<3>(src, out + x * 3, pixels - x);
}

// ---- AVX-512: 64 bytes per step, the last step masked ----

template <std::size_t N>
KOLVEX_AVX512 inline __m512i Reverse512(__m512i v) {
  if constexpr (N == 4) {
    return _mm512_permutexvar_epi32(
        _mm512_setr_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0), v);
  } else {
    return _mm512_permutexvar_epi64(_mm512_setr_epi64(7, 6, 5, 4, 3, 2, 1, 0), v);
  }
}

// The `count` (1..64/N) pixels that end at `end`, reversed into `out`. Only
// their bytes are read and written.
template <std::size_t N>
KOLVEX_AVX512 void MirrorBlock512(const BYTE* end, BYTE* out, std::size_t count) {
  const std::size_t bytes = count * N;
  // The load starts 64 bytes before `end`; lanes before the block are masked
  // off and never touched, so the address may lie before the row.
  const auto* from = reinterpret_cast<const BYTE*>(reinterpret_cast<std::uintptr_t>(end) - 64);
  const __m512i v = _mm512_maskz_loadu_epi8(~FirstLanes64(64 - bytes), from);
  _mm512_mask_storeu_epi8(out, FirstLanes64(bytes), Reverse512<N>(v));
}

template <std::size_t N>
KOLVEX_AVX512 void MirrorRowAvx512(const BYTE* src, BYTE* out, std::size_t pixels) {
  constexpr std::size_t kBlock = 64 / N;
  const BYTE* end = src + pixels * N;
  std::size_t x = 0;
  for (; x + kBlock <= pixels; x += kBlock) {
    _mm512_storeu_si512(out + x * N, Reverse512<N>(_mm512_loadu_si512(end - (x + kBlock) * N)));
  }
  if (x < pixels) MirrorBlock512<N>(src + (pixels - x) * N, out + x * N, pixels - x);
}

// 24 bits: 16 pixels (48 bytes) per step; each lane reverses 4 pixels and
// the four 12-byte results are joined by dwords. Whole steps load the 64
// bytes that end at their block and store 64 bytes from its start (the last
// 16 are rewritten by the next step); the last steps mask both to the block.
template <bool kMasked>
KOLVEX_AVX512 inline void Mirror24Step512(const BYTE* end, BYTE* out, std::size_t count) {
  const __m512i gather = _mm512_setr_epi32(13, 14, 15, 15, 10, 11, 12, 12, 7, 8, 9, 9, 4, 5, 6, 6);
  const __m512i reverse = _mm512_broadcast_i32x4(
      _mm_setr_epi8(9, 10, 11, 6, 7, 8, 3, 4, 5, 0, 1, 2, -1, -1, -1, -1));
  const __m512i join = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 15, 15, 15, 15);
  const std::size_t bytes = count * 3;
  // Lanes before the block are masked off and never touched, so the address
  // may lie before the row.
  const auto* from = reinterpret_cast<const BYTE*>(reinterpret_cast<std::uintptr_t>(end) - 64);
  const __m512i v = kMasked ? _mm512_maskz_loadu_epi8(~FirstLanes64(64 - bytes), from)
                            : _mm512_loadu_si512(from);
  const __m512i r = _mm512_permutexvar_epi32(
      join, _mm512_shuffle_epi8(_mm512_permutexvar_epi32(gather, v), reverse));
  if (kMasked) {
    _mm512_mask_storeu_epi8(out, FirstLanes64(bytes), r);
  } else {
    _mm512_storeu_si512(out, r);
  }
}

KOLVEX_AVX512 void MirrorRow24Avx512(const BYTE* src, BYTE* out, std::size_t pixels) {
  const BYTE* end = src + pixels * 3;
  std::size_t x = 0;
  for (; 3 * x + 64 <= 3 * pixels; x += 16) Mirror24Step512<false>(end - 3 * x, out + 3 * x, 16);
  for (; x < pixels; x += 16) {
    Mirror24Step512<true>(end - 3 * x, out + 3 * x, pixels - x < 16 ? pixels - x : 16);
  }
}

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
