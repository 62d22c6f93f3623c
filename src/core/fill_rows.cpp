// Row kernels of ClearDIB: the plain loops, and vector variants that store a
// repeating pattern of whole vectors (one per phase of the 3-byte pixel at 24
// bits) and end a run on an overlapping or masked store, never past its end.
// Long runs (a frame without row padding is one run) are written by streaming
// stores, which do not first read the lines they replace and pass by the
// caches. Stores that overlap write the same bytes twice: the pattern
// depends only on the offset in the run.

#include "core/fill_rows.h"

#include "base/kernel_dispatch.h"

#include <cstdint>
#include <cstring>

#if KOLVEX_X86
#include "core/simd_x86.h"
#endif

namespace kolvex::detail {

namespace {

void FillRow32(BYTE* row, std::size_t pixels, DWORD value) {
  const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                         static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
  for (std::size_t x = 0; x < pixels; ++x) std::memcpy(row + 4 * x, bytes, 4);
}

void FillRow24(BYTE* row, std::size_t pixels, DWORD value) {
  const BYTE b = static_cast<BYTE>(value);
  const BYTE g = static_cast<BYTE>(value >> 8);
  const BYTE r = static_cast<BYTE>(value >> 16);
  for (std::size_t x = 0; x < pixels; ++x) {
    row[3 * x] = b;
    row[3 * x + 1] = g;
    row[3 * x + 2] = r;
  }
}

}  // namespace

#if KOLVEX_X86
namespace {

// The pattern of a 24-bit run as it looks from byte offset `phase` on: q[p]
// is what a vector stored at an offset with remainder p modulo 3 must hold.
template <std::size_t N>
void Patterns24(DWORD value, BYTE (&q)[3][N]) {
  for (std::size_t phase = 0; phase < 3; ++phase) {
    for (std::size_t i = 0; i < N; ++i)
      q[phase][i] = static_cast<BYTE>(value >> (8 * ((phase + i) % 3)));
  }
}

// ---- SSE2 ----

void FillRow32Sse2(BYTE* row, std::size_t pixels, DWORD value) {
  if (pixels < 4) return FillRow32(row, pixels, value);
  const __m128i v = _mm_set1_epi32(static_cast<int>(value));
  const std::size_t bytes = 4 * pixels;
  for (std::size_t i = 0; i + 16 <= bytes; i += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), v);
  }
  // The last vector overlaps pixels already written with the same value.
  _mm_storeu_si128(reinterpret_cast<__m128i*>(row + bytes - 16), v);
}

void FillRow24Sse2(BYTE* row, std::size_t pixels, DWORD value) {
  const std::size_t bytes = 3 * pixels;
  if (bytes < 16) return FillRow24(row, pixels, value);
  BYTE q[3][16];
  Patterns24(value, q);
  __m128i p[3];
  for (std::size_t k = 0; k < 3; ++k)
    p[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q[k]));
  std::size_t i = 0;
  for (; i + 48 <= bytes; i += 48) {  // 48 bytes: the phases 0, 1, 2 in turn
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), p[0]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i + 16), p[1]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i + 32), p[2]);
  }
  for (; i + 16 <= bytes; i += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), p[i % 3]);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(row + bytes - 16), p[(bytes - 16) % 3]);
}

// ---- AVX2 ----

// The run [row, row + bytes) (at least 96 bytes) by streaming stores from
// its first 32-byte boundary on; p[k] is the pattern at offsets k modulo 3
// (at 32 bits the same vector three times).
KOLVEX_AVX2 void StreamFillAvx2(BYTE* row, std::size_t bytes, const __m256i (&p)[3]) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(row), p[0]);
  std::size_t i = (32 - (reinterpret_cast<std::uintptr_t>(row) & 31)) & 31;
  const __m256i a = p[i % 3];
  const __m256i b = p[(i + 32) % 3];
  const __m256i c = p[(i + 64) % 3];
  for (; i + 96 <= bytes; i += 96) {
    _mm256_stream_si256(reinterpret_cast<__m256i*>(row + i), a);
    _mm256_stream_si256(reinterpret_cast<__m256i*>(row + i + 32), b);
    _mm256_stream_si256(reinterpret_cast<__m256i*>(row + i + 64), c);
  }
  _mm_sfence();
  for (; i + 32 <= bytes; i += 32) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i), p[i % 3]);
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + bytes - 32), p[(bytes - 32) % 3]);
}

KOLVEX_AVX2 void FillRow32Avx2(BYTE* row, std::size_t pixels, DWORD value) {
  if (pixels < 8) return FillRow32Sse2(row, pixels, value);
  const __m256i v = _mm256_set1_epi32(static_cast<int>(value));
  const std::size_t bytes = 4 * pixels;
  if (bytes >= kLongRunBytes) {
    const __m256i p[3] = {v, v, v};
    return StreamFillAvx2(row, bytes, p);
  }
  std::size_t i = 0;
  for (; i + 128 <= bytes; i += 128) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i), v);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i + 32), v);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i + 64), v);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i + 96), v);
  }
  for (; i + 32 <= bytes; i += 32) _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i), v);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + bytes - 32), v);
}

KOLVEX_AVX2 void FillRow24Avx2(BYTE* row, std::size_t pixels, DWORD value) {
  const std::size_t bytes = 3 * pixels;
  if (bytes < 32) return FillRow24Sse2(row, pixels, value);
  BYTE q[3][32];
  Patterns24(value, q);
  __m256i p[3];
  for (std::size_t k = 0; k < 3; ++k) {
    p[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q[k]));
  }
  if (bytes >= kLongRunBytes) return StreamFillAvx2(row, bytes, p);
  std::size_t i = 0;
  for (; i + 96 <= bytes; i += 96) {  // 96 bytes: phases 0, 2, 1
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i), p[0]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i + 32), p[2]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i + 64), p[1]);
  }
  for (; i + 32 <= bytes; i += 32) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i), p[i % 3]);
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + bytes - 32), p[(bytes - 32) % 3]);
}

// ---- AVX-512: the run ends on a masked store ----

KOLVEX_AVX512 void StreamFillAvx512(BYTE* row, std::size_t bytes, const __m512i (&p)[3]) {
  _mm512_storeu_si512(row, p[0]);
  std::size_t i = (64 - (reinterpret_cast<std::uintptr_t>(row) & 63)) & 63;
  const __m512i a = p[i % 3];
  const __m512i b = p[(i + 64) % 3];
  const __m512i c = p[(i + 128) % 3];
  for (; i + 192 <= bytes; i += 192) {
    _mm512_stream_si512(reinterpret_cast<__m512i*>(row + i), a);
    _mm512_stream_si512(reinterpret_cast<__m512i*>(row + i + 64), b);
    _mm512_stream_si512(reinterpret_cast<__m512i*>(row + i + 128), c);
  }
  _mm_sfence();
  for (; i + 64 <= bytes; i += 64) _mm512_storeu_si512(row + i, p[i % 3]);
  _mm512_storeu_si512(row + bytes - 64, p[(bytes - 64) % 3]);
}

KOLVEX_AVX512 void FillRow32Avx512(BYTE* row, std::size_t pixels, DWORD value) {
  const __m512i v = _mm512_set1_epi32(static_cast<int>(value));
  const std::size_t bytes = 4 * pixels;
  if (bytes >= kLongRunBytes) {
    const __m512i p[3] = {v, v, v};
    return StreamFillAvx512(row, bytes, p);
  }
  std::size_t i = 0;
  for (; i + 256 <= bytes; i += 256) {
    _mm512_storeu_si512(row + i, v);
    _mm512_storeu_si512(row + i + 64, v);
    _mm512_storeu_si512(row + i + 128, v);
    _mm512_storeu_si512(row + i + 192, v);
  }
  for (; i + 64 <= bytes; i += 64) _mm512_storeu_si512(row + i, v);
  if (i < bytes) _mm512_mask_storeu_epi8(row + i, x86::FirstLanes64(bytes - i), v);
}

KOLVEX_AVX512 void FillRow24Avx512(BYTE* row, std::size_t pixels, DWORD value) {
  const std::size_t bytes = 3 * pixels;
  BYTE q[3][64];
  Patterns24(value, q);
  __m512i p[3];
  for (std::size_t k = 0; k < 3; ++k) p[k] = _mm512_loadu_si512(q[k]);
  if (bytes >= kLongRunBytes) return StreamFillAvx512(row, bytes, p);
  std::size_t i = 0;
  for (; i + 192 <= bytes; i += 192) {  // 192 bytes: phases 0, 1, 2
    _mm512_storeu_si512(row + i, p[0]);
    _mm512_storeu_si512(row + i + 64, p[1]);
    _mm512_storeu_si512(row + i + 128, p[2]);
  }
  for (; i + 64 <= bytes; i += 64) _mm512_storeu_si512(row + i, p[i % 3]);
  if (i < bytes) {
    _mm512_mask_storeu_epi8(row + i, x86::FirstLanes64(bytes - i), p[i % 3]);
  }
}

}  // namespace
#endif

FillRowFn SelectFillRow32() {
  return PickKernel<FillRowFn>(FillRow32, KOLVEX_X86_KERNEL(FillRow32Sse2),
                               KOLVEX_X86_KERNEL(FillRow32Avx2),
                               KOLVEX_X86_KERNEL(FillRow32Avx512));
}

FillRowFn SelectFillRow24() {
  return PickKernel<FillRowFn>(FillRow24, KOLVEX_X86_KERNEL(FillRow24Sse2),
                               KOLVEX_X86_KERNEL(FillRow24Avx2),
                               KOLVEX_X86_KERNEL(FillRow24Avx512));
}

}  // namespace kolvex::detail
