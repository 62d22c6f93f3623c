// Row kernels of the quarter and eighth reductions. Each byte position of a
// pixel is an independent unsigned channel; sums stay in 32 bits (at most
// 16 x 255 + 8), so every mean is one shift and needs no clamping.
//
// The vector variants compute the same sums exactly, in 16-bit lanes: a byte
// shuffle puts the bytes of one channel of neighbouring pixels side by side,
// a multiply-add by ones sums each pair, the rows are added, and (for the
// eighth) a second multiply-add sums the pairs into 32 bits. Then the same
// rounding shift, and a pack back to bytes. 24-bit rows are read as 12-byte
// groups (4 pixels) placed one per 128-bit lane. A row's last pixels go to
// the plain loop (SSE2, AVX2) or to masked loads and stores (AVX-512), so no
// byte outside the covered pixels is read and none past the output written.

#include "base/kernel_dispatch.h"
#include "transforms/transform_rows.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#if KOLVEX_X86
#include "core/simd_x86.h"
#endif

namespace kolvex::detail {

namespace {

// A mean of `count` bytes is (sum + count / 2) >> log2(count): a quarter's
// 2 x rows bytes, an eighth's 4 x rows.
constexpr int MeanShift(int count) { return count == 1 ? 0 : 1 + MeanShift(count / 2); }

// kFactor pixels of one channel of a row, N bytes apart, summed.
template <std::size_t N, std::size_t... K>
unsigned RunSum(const BYTE* p, std::index_sequence<K...>) {
  return (0u + ... + p[K * N]);
}

// Means over runs of kFactor pixels of the rows `in...`, for `pixels` output
// pixels. The rows are separate arguments and every sum a fold, so the code
// is straight-line and the pointers stay in registers: the compiler then
// vectorises across pixels as it does hand-written sums.
template <std::size_t N, int kFactor, class... Row>
void ReduceRun(BYTE* out, std::size_t pixels, Row... in) {
  constexpr int kShift = MeanShift(kFactor * static_cast<int>(sizeof...(Row)));
  for (std::size_t x = 0; x < pixels; ++x, out += N) {
    for (std::size_t c = 0; c < N; ++c) {
      const unsigned sum = (0u + ... + RunSum<N>(in + c, std::make_index_sequence<kFactor>()));
      out[c] = static_cast<BYTE>((sum + (1u << (kShift - 1))) >> kShift);
    }
    ((in += kFactor * N), ...);
  }
}

// The plain loop, and every variant's tail: output pixels [from, to), each
// the mean of kFactor pixels of each of the kRows rows, channel by channel.
template <std::size_t N, int kFactor, int kRows>
void ReducePixels(const BYTE* const* rows, BYTE* out, std::size_t from, std::size_t to) {
  if (from >= to) return;
  [&]<std::size_t... R>(std::index_sequence<R...>) {
    ReduceRun<N, kFactor>(out + N * from, to - from, (rows[R] + kFactor * N * from)...);
  }
  (std::make_index_sequence<kRows>());
}

template <std::size_t N, int kFactor, int kRows>
void ReducePlain(const BYTE* const* rows, BYTE* out, std::size_t outPixels) {
  ReducePixels<N, kFactor, kRows>(rows, out, 0, outPixels);
}

// One level's kernels for one pixel size, by factor and by whether one field
// (half the rows) is averaged.
struct ReduceKernels {
  ReduceRowFn quarterBox;
  ReduceRowFn quarterField;
  ReduceRowFn eighthBox;
  ReduceRowFn eighthField;
};

template <std::size_t N>
constexpr ReduceKernels kPlainReduce{ReducePlain<N, 2, 2>, ReducePlain<N, 2, 1>,
                                     ReducePlain<N, 4, 4>, ReducePlain<N, 4, 2>};

}  // namespace

#if KOLVEX_X86
namespace {

using x86::FirstLanes64;

// The output pixels before the first row's next kAlign-byte boundary, where
// whole pixels reach it, or 0: a vector load that spans two cache lines costs
// two, and pixels lie 144 bytes (16 modulo 64) behind the start of a buffer,
// so the vector steps start there and the pixels before go to the tail code.
template <std::size_t kInPerOut, std::size_t kAlign>
inline std::size_t AlignedStart(const BYTE* row, std::size_t outPixels) {
  const std::size_t before = (0 - reinterpret_cast<std::uintptr_t>(row)) % kAlign;
  return before % kInPerOut == 0 ? std::min(before / kInPerOut, outPixels) : 0;
}

// ---- SSE2: bytes widened to 16 bits by unpacking with zero. 24-bit pixels
// are first spread to 4 bytes each (4 per vector) with whole-register shifts,
// as SSE2 has no byte shuffle, and the results packed back the same way ----

// Pixels of N bytes, 4 per 16-byte vector in the 32-bit layout. At 24 bits
// the load reads 16 bytes for the 12 it uses.
template <std::size_t N>
inline __m128i LoadFour(const BYTE* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  if constexpr (N == 4) {
    return v;
  } else {
    // Pixels 0, 1 stay in the low 8 bytes, pixels 2, 3 move to the high 8;
    // then in each half the second pixel moves up one byte.
    const __m128i low = _mm_set_epi32(0, 0, -1, -1);
    const __m128i halves =
        _mm_or_si128(_mm_and_si128(v, low), _mm_andnot_si128(low, _mm_slli_si128(v, 2)));
    const __m128i first = _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF);
    const __m128i second = _mm_slli_epi64(first, 32);
    return _mm_or_si128(_mm_and_si128(halves, first),
                        _mm_and_si128(_mm_slli_epi64(halves, 8), second));
  }
}

// Stores 4 pixels held in the 32-bit layout (the 4th bytes zero) as N bytes each.
template <std::size_t N>
inline void StoreFour(BYTE* out, __m128i v) {
  if constexpr (N == 4) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
  } else {
    const __m128i first = _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF);
    const __m128i halves =
        _mm_or_si128(_mm_and_si128(v, first), _mm_srli_epi64(_mm_andnot_si128(first, v), 8));
    const __m128i low = _mm_set_epi32(0, 0, -1, -1);
    const __m128i packed =
        _mm_or_si128(_mm_and_si128(halves, low), _mm_srli_si128(_mm_andnot_si128(low, halves), 2));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
    const auto last = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(packed, 8)));
    std::memcpy(out + 8, &last, 4);
  }
}

// A 24-bit step reads 4 bytes past its last pixel; whole steps stop early
// enough for that to stay inside the covered source bytes.
template <std::size_t N>
constexpr std::size_t kLoadOvershoot = N == 4 ? 0 : 4;

template <std::size_t N, int kRows>
void QuarterSse2(const BYTE* const* rows, BYTE* out, std::size_t outPixels) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i half = _mm_set1_epi16(1 << (MeanShift(2 * kRows) - 1));
  std::size_t x = 0;
  for (; 2 * N * (x + 4) + kLoadOvershoot<N> <= 2 * N * outPixels; x += 4) {
    __m128i lo0 = zero, hi0 = zero, lo1 = zero, hi1 = zero;
    for (int r = 0; r < kRows; ++r) {  // 8 source pixels per row
      const __m128i a = LoadFour<N>(rows[r] + 2 * N * x);
      const __m128i b = LoadFour<N>(rows[r] + 2 * N * x + 4 * N);
      lo0 = _mm_add_epi16(lo0, _mm_unpacklo_epi8(a, zero));
      hi0 = _mm_add_epi16(hi0, _mm_unpackhi_epi8(a, zero));
      lo1 = _mm_add_epi16(lo1, _mm_unpacklo_epi8(b, zero));
      hi1 = _mm_add_epi16(hi1, _mm_unpackhi_epi8(b, zero));
    }
    // Pixels 0 + 1 and 2 + 3 of each vector: the low and high halves added.
    __m128i s0 = _mm_add_epi16(_mm_unpacklo_epi64(lo0, hi0), _mm_unpackhi_epi64(lo0, hi0));
    __m128i s1 = _mm_add_epi16(_mm_unpacklo_epi64(lo1, hi1), _mm_unpackhi_epi64(lo1, hi1));
    s0 = _mm_srli_epi16(_mm_add_epi16(s0, half), MeanShift(2 * kRows));
    s1 = _mm_srli_epi16(_mm_add_epi16(s1, half), MeanShift(2 * kRows));
    StoreFour<N>(out + N * x, _mm_packus_epi16(s0, s1));
  }
  ReducePixels<N, 2, kRows>(rows, out, x, outPixels);
}

template <std::size_t N, int kRows>
void EighthSse2(const BYTE* const* rows, BYTE* out, std::size_t outPixels) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i half = _mm_set1_epi16(1 << (MeanShift(4 * kRows) - 1));
  std::size_t x = 0;
  for (; 4 * N * (x + 4) + kLoadOvershoot<N> <= 4 * N * outPixels; x += 4) {
    __m128i t[4] = {zero, zero, zero, zero};
    for (int r = 0; r < kRows; ++r) {  // 16 source pixels per row
      for (std::size_t k = 0; k < 4; ++k) {
        const __m128i v = LoadFour<N>(rows[r] + 4 * N * (x + k));
        t[k] = _mm_add_epi16(t[k],
                             _mm_add_epi16(_mm_unpacklo_epi8(v, zero), _mm_unpackhi_epi8(v, zero)));
      }
    }
    // t[k] holds pixels 0 + 2 and 1 + 3 of output pixel k: add the halves.
    __m128i w0 = _mm_add_epi16(_mm_unpacklo_epi64(t[0], t[1]), _mm_unpackhi_epi64(t[0], t[1]));
    __m128i w1 = _mm_add_epi16(_mm_unpacklo_epi64(t[2], t[3]), _mm_unpackhi_epi64(t[2], t[3]));
    w0 = _mm_srli_epi16(_mm_add_epi16(w0, half), MeanShift(4 * kRows));
    w1 = _mm_srli_epi16(_mm_add_epi16(w1, half), MeanShift(4 * kRows));
    StoreFour<N>(out + N * x, _mm_packus_epi16(w0, w1));
  }
  ReducePixels<N, 4, kRows>(rows, out, x, outPixels);
}

// ---- 32-bit quarters from packed averages. The unsigned average
// instruction rounds half up, (a + b + 1) >> 1, and two levels of it round
// twice. With p = avg(a, b), q = avg(c, d) and their roundings e = (a ^ b) & 1,
// f = (c ^ d) & 1 (a + b = 2p - e, c + d = 2q - f), the exact
// (a + b + c + d + 2) >> 2 = (2p + 2q + 2 - e - f) >> 2 is avg(p, q), less one
// exactly when p + q is odd and e or f is set: avg(p, q) - ((p ^ q) & (e | f) & 1).
// The two rows are averaged first (a, b and c, d are vertical pairs), then the
// even and odd pixels are split apart and averaged with the correction; one
// field needs the horizontal average only. ----

// Per vector, 32-bit pixels 0 and 2 (kPick 0x88) or 1 and 3 (0xDD) of a, then of b.
template <int kPick>
inline __m128i Split128(__m128i a, __m128i b) {
  return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), kPick));
}

template <int kRows>
void Quarter32Sse2(const BYTE* const* rows, BYTE* out, std::size_t outPixels) {
  const __m128i ones = _mm_set1_epi8(1);
  std::size_t x = 0;
  for (; x + 4 <= outPixels; x += 4) {  // 8 source pixels per row
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[0] + 8 * x));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[0] + 8 * x + 16));
    __m128i lostA = _mm_setzero_si128();
    __m128i lostB = lostA;
    if constexpr (kRows == 2) {
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[1] + 8 * x));
      const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[1] + 8 * x + 16));
      lostA = _mm_xor_si128(a, c);
      lostB = _mm_xor_si128(b, d);
      a = _mm_avg_epu8(a, c);
      b = _mm_avg_epu8(b, d);
    }
    const __m128i even = Split128<0x88>(a, b);
    const __m128i odd = Split128<0xDD>(a, b);
    __m128i mean = _mm_avg_epu8(even, odd);
    if constexpr (kRows == 2) {
      const __m128i lost = _mm_or_si128(Split128<0x88>(lostA, lostB), Split128<0xDD>(lostA, lostB));
      mean = _mm_sub_epi8(mean, _mm_and_si128(_mm_and_si128(_mm_xor_si128(even, odd), lost), ones));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x), mean);
  }
  ReducePixels<4, 2, kRows>(rows, out, x, outPixels);
}

// ---- AVX2 ----

KOLVEX_AVX2 inline __m256i Load2x128(const BYTE* lo, const BYTE* hi) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lo))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi)), 1);
}

KOLVEX_AVX2 inline __m256i Load256(const BYTE* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Per lane, 32-bit pixels 0 and 2 (kPick 0x88) or 1 and 3 (0xDD) of a, then of b.
template <int kPick>
KOLVEX_AVX2 inline __m256i Split256(__m256i a, __m256i b) {
  return _mm256_castps_si256(
      _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), kPick));
}

// Per lane, channel c of pixels 0, 1 and then 2, 3 side by side.
KOLVEX_AVX2 inline __m256i QuadShuffle32() {
  return _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15,  //
                          0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
}
// The same for 4 pixels of 3 bytes in a lane's first 12 bytes.
KOLVEX_AVX2 inline __m256i PairShuffle24() {
  return _mm256_setr_epi8(0, 3, 1, 4, 2, 5, 6, 9, 7, 10, 8, 11, -1, -1, -1, -1,  //
                          0, 3, 1, 4, 2, 5, 6, 9, 7, 10, 8, 11, -1, -1, -1, -1);
}
KOLVEX_AVX2 inline __m256i QuadShuffle24() {
  return _mm256_setr_epi8(0, 3, 6, 9, 1, 4, 7, 10, 2, 5, 8, 11, -1, -1, -1, -1,  //
                          0, 3, 6, 9, 1, 4, 7, 10, 2, 5, 8, 11, -1, -1, -1, -1);
}

// 16-bit sums of the byte pairs that `shuffle` puts side by side.
KOLVEX_AVX2 inline __m256i PairSums(__m256i v, __m256i shuffle) {
  return _mm256_maddubs_epi16(_mm256_shuffle_epi8(v, shuffle), _mm256_set1_epi8(1));
}

// Four 32-bit pixels (4 x [c0 c1 c2 c3] sums, lanes 0 and 1 of each of m0..m3
// holding output pixels 2k and 2k + 1) rounded into 8 output pixels in order.
template <int kShift>
KOLVEX_AVX2 inline __m256i PackEighth(__m256i m0, __m256i m1, __m256i m2, __m256i m3) {
  const __m256i half = _mm256_set1_epi16(1 << (kShift - 1));
  const __m256i p0 = _mm256_srli_epi16(_mm256_add_epi16(_mm256_packs_epi32(m0, m1), half), kShift);
  const __m256i p1 = _mm256_srli_epi16(_mm256_add_epi16(_mm256_packs_epi32(m2, m3), half), kShift);
  return _mm256_permutevar8x32_epi32(_mm256_packus_epi16(p0, p1),
                                     _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

// Stores the first 12 bytes of each lane (4 pixels of 3 bytes): 24 bytes.
KOLVEX_AVX2 inline void Store24x2(BYTE* out, __m256i v) {
  const __m256i joined = _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(joined));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(joined, 1));
}

// Packs each lane's 32-bit pixels [c0 c1 c2 0] to 3 bytes (12 per lane).
KOLVEX_AVX2 inline __m256i Drop4thBytes(__m256i v) {
  return _mm256_shuffle_epi8(
      v, _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5, 6,
                          8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
}

// 32 bits: as Quarter32Sse2, 8 output pixels per step. A lane of the split
// holds output pixels 2k, 2k + 1 and 4 + 2k, 5 + 2k; one permute orders them.
template <int kRows>
KOLVEX_AVX2 void Quarter32Avx2(const BYTE* const* rows, BYTE* out, std::size_t outPixels) {
  const __m256i ones = _mm256_set1_epi8(1);
  std::size_t x = AlignedStart<8, 32>(rows[0], outPixels);
  ReducePixels<4, 2, kRows>(rows, out, 0, x);
  for (; x + 8 <= outPixels; x += 8) {  // 16 source pixels per row
    __m256i a = Load256(rows[0] + 8 * x);
    __m256i b = Load256(rows[0] + 8 * x + 32);
    __m256i lostA = _mm256_setzero_si256();
    __m256i lostB = lostA;
    if constexpr (kRows == 2) {
      const __m256i c = Load256(rows[1] + 8 * x);
      const __m256i d = Load256(rows[1] + 8 * x + 32);
      lostA = _mm256_xor_si256(a, c);
      lostB = _mm256_xor_si256(b, d);
      a = _mm256_avg_epu8(a, c);
      b = _mm256_avg_epu8(b, d);
    }
    const __m256i even = Split256<0x88>(a, b);
    const __m256i odd = Split256<0xDD>(a, b);
    __m256i mean = _mm256_avg_epu8(even, odd);
    if constexpr (kRows == 2) {
      const __m256i lost =
          _mm256_or_si256(Split256<0x88>(lostA, lostB), Split256<0xDD>(lostA, lostB));
      mean = _mm256_sub_epi8(
          mean, _mm256_and_si256(_mm256_and_si256(_mm256_xor_si256(even, odd), lost), ones));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x),
                        _mm256_permute4x64_epi64(mean, 0xD8));
  }
  ReducePixels<4, 2, kRows>(rows, out, x, outPixels);
}

template <int kRows>
KOLVEX_AVX2 void Eighth32Avx2(const BYTE* const* rows, BYTE* out, std::size_t outPixels) {
  const __m256i quad = QuadShuffle32();
  const __m256i ones = _mm256_set1_epi16(1);
  std::size_t x = AlignedStart<16, 32>(rows[0], outPixels);
  ReducePixels<4, 4, kRows>(rows, out, 0, x);
  for (; x + 8 <= outPixels; x += 8) {  // 32 source pixels per row
    __m256i m[4];
    for (int k = 0; k < 4; ++k) {
      __m256i s = PairSums(Load256(rows[0] + 16 * x + 32 * k), quad);
      for (int r = 1; r < kRows; ++r) {
        s = _mm256_add_epi16(s, PairSums(Load256(rows[r] + 16 * x + 32 * k), quad));
      }
      m[k] = _mm256_madd_epi16(s, ones);  // lane j: [c0 c1 c2 c3] of output pixel 2k + j
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x),
                        PackEighth<MeanShift(4 * kRows)>(m[0], m[1], m[2], m[3]));
  }
  ReducePixels<4, 4, kRows>(rows, out, x, outPixels);
}

template <int kRows>
KOLVEX_AVX2 void Quarter24Avx2(const BYTE* const* rows, BYTE* out, std::size_t outPixels) {
  constexpr int kShift = MeanShift(2 * kRows);
  const __m256i half = _mm256_set1_epi16(1 << (kShift - 1));
  const __m256i pair = PairShuffle24();
  const __m256i compact = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1,
                                           0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1);
  std::size_t x = 0;
  // 16 source pixels (48 bytes) per row; the last 16-byte load reaches 4 bytes
  // further, which must still be covered pixels.
  for (; 6 * (x + 8) + 4 <= 6 * outPixels; x += 8) {
    __m256i a = half;  // lanes: output pixels 0, 1 | 4, 5
    __m256i b = half;  // lanes: output pixels 2, 3 | 6, 7
    for (int r = 0; r < kRows; ++r) {
      const BYTE* p = rows[r] + 6 * x;
      a = _mm256_add_epi16(a, PairSums(Load2x128(p, p + 24), pair));
      b = _mm256_add_epi16(b, PairSums(Load2x128(p + 12, p + 36), pair));
    }
    const __m256i packed =
        _mm256_packus_epi16(_mm256_srli_epi16(a, kShift), _mm256_srli_epi16(b, kShift));
    Store24x2(out + 3 * x, _mm256_shuffle_epi8(packed, compact));
  }
  ReducePixels<3, 2, kRows>(rows, out, x, outPixels);
}

template <int kRows>
KOLVEX_AVX2 void Eighth24Avx2(const BYTE* const* rows, BYTE* out, std::size_t outPixels) {
  const __m256i quad = QuadShuffle24();
  const __m256i ones = _mm256_set1_epi16(1);
  std::size_t x = 0;
  // 32 source pixels (96 bytes) per row; 4 bytes of reach past the last group.
  for (; 12 * (x + 8) + 4 <= 12 * outPixels; x += 8) {
    __m256i m[4];
    for (int k = 0; k < 4; ++k) {
      __m256i s = _mm256_setzero_si256();
      for (int r = 0; r < kRows; ++r) {
        const BYTE* p = rows[r] + 12 * x + 24 * k;
        s = _mm256_add_epi16(s, PairSums(Load2x128(p, p + 12), quad));
      }
      m[k] = _mm256_madd_epi16(s, ones);  // lane j: [c0 c1 c2 0] of output pixel 2k + j
    }
    Store24x2(out + 3 * x, Drop4thBytes(PackEighth<MeanShift(4 * kRows)>(m[0], m[1], m[2], m[3])));
  }
  ReducePixels<3, 4, kRows>(rows, out, x, outPixels);
}

KOLVEX_AVX512_SECTION_BEGIN

// ---- AVX-512: 16 output pixels per step. Whole steps load unmasked; the
// last step of a row masks every load and store to the bytes of the pixels
// it covers ----

KOLVEX_AVX512 inline __m512i PairSums512(__m512i v, __m512i shuffle) {
  return _mm512_maddubs_epi16(_mm512_shuffle_epi8(v, shuffle), _mm512_set1_epi8(1));
}

// Bytes [from, from + 64) of a run of `bytes` bytes; masked, the part beyond
// the run reads as zero and is never touched.
template <bool kMasked>
KOLVEX_AVX512 inline __m512i LoadPart(const BYTE* p, std::size_t from, std::size_t bytes) {
  if constexpr (kMasked) {
    return _mm512_maskz_loadu_epi8(FirstLanes64(bytes > from ? bytes - from : 0), p + from);
  } else {
    return _mm512_loadu_si512(p + from);
  }
}

// 48 bytes (16 pixels of 3 bytes) from `from` on, 12 bytes in each lane.
// Unmasked, 64 bytes are read.
template <bool kMasked>
KOLVEX_AVX512 inline __m512i Load24Part(const BYTE* p, std::size_t from, std::size_t bytes) {
  __m512i v;
  if constexpr (kMasked) {
    const std::size_t n = bytes > from ? bytes - from : 0;
    v = _mm512_maskz_loadu_epi8(FirstLanes64(n < 48 ? n : 48), p + from);
  } else {
    v = _mm512_loadu_si512(p + from);
  }
  return _mm512_permutexvar_epi32(
      _mm512_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6, 6, 7, 8, 9, 9, 10, 11, 12), v);
}

// Output of a step. Masked, exactly `bytes` bytes; whole, all 64 bytes of the
// vector: at 24 bits the 16 beyond the step's 48 are rewritten by the next
// step, and the last whole step is chosen so that they stay inside the row
// (a masked store costs several times a plain one on some processors).
template <bool kMasked>
KOLVEX_AVX512 inline void StoreOut(BYTE* out, std::size_t bytes, __m512i v) {
  if constexpr (kMasked) {
    _mm512_mask_storeu_epi8(out, FirstLanes64(bytes), v);
  } else {
    _mm512_storeu_si512(out, v);
  }
}

template <int kShift>
KOLVEX_AVX512 inline __m512i PackEighth512(__m512i m0, __m512i m1, __m512i m2, __m512i m3) {
  const __m512i half = _mm512_set1_epi16(1 << (kShift - 1));
  const __m512i p0 = _mm512_srli_epi16(_mm512_add_epi16(_mm512_packs_epi32(m0, m1), half), kShift);
  const __m512i p1 = _mm512_srli_epi16(_mm512_add_epi16(_mm512_packs_epi32(m2, m3), half), kShift);
  // Lane j holds output pixels j, 4 + j, 8 + j, 12 + j.
  return _mm512_permutexvar_epi32(
      _mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15),
      _mm512_packus_epi16(p0, p1));
}

// Per lane, 32-bit pixels 0 and 2 (kPick 0x88) or 1 and 3 (0xDD) of a, then of b.
template <int kPick>
KOLVEX_AVX512 inline __m512i Split512(__m512i a, __m512i b) {
  return _mm512_castps_si512(
      _mm512_shuffle_ps(_mm512_castsi512_ps(a), _mm512_castsi512_ps(b), kPick));
}

// One step: `count` (1..16) output pixels from x on, as Quarter32Sse2. Lane k
// of the split holds output pixels 2k, 2k + 1 and 8 + 2k, 9 + 2k.
template <int kRows, bool kMasked>
KOLVEX_AVX512 inline void Quarter32Step512(const BYTE* const* rows, std::size_t x,
                                           std::size_t count, BYTE* out) {
  const std::size_t bytes = 8 * count;
  __m512i a = LoadPart<kMasked>(rows[0] + 8 * x, 0, bytes);
  __m512i b = LoadPart<kMasked>(rows[0] + 8 * x, 64, bytes);
  __m512i lostA = _mm512_setzero_si512();
  __m512i lostB = lostA;
  if constexpr (kRows == 2) {
    const __m512i c = LoadPart<kMasked>(rows[1] + 8 * x, 0, bytes);
    const __m512i d = LoadPart<kMasked>(rows[1] + 8 * x, 64, bytes);
    lostA = _mm512_xor_si512(a, c);
    lostB = _mm512_xor_si512(b, d);
    a = _mm512_avg_epu8(a, c);
    b = _mm512_avg_epu8(b, d);
  }
  const __m512i even = Split512<0x88>(a, b);
  const __m512i odd = Split512<0xDD>(a, b);
  __m512i mean = _mm512_avg_epu8(even, odd);
  if constexpr (kRows == 2) {
    const __m512i lost =
        _mm512_or_si512(Split512<0x88>(lostA, lostB), Split512<0xDD>(lostA, lostB));
    mean = _mm512_sub_epi8(
        mean,
        _mm512_and_si512(_mm512_and_si512(_mm512_xor_si512(even, odd), lost), _mm512_set1_epi8(1)));
  }
  StoreOut<kMasked>(out + 4 * x, 4 * count,
                    _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7), mean));
}

template <int kRows, bool kMasked>
KOLVEX_AVX512 inline void Eighth32Step512(const BYTE* const* rows, std::size_t x, std::size_t count,
                                          BYTE* out) {
  const __m512i quad =
      _mm512_broadcast_i32x4(_mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
  const std::size_t bytes = 16 * count;
  __m512i m[4];
  for (int k = 0; k < 4; ++k) {
    __m512i s = PairSums512(LoadPart<kMasked>(rows[0] + 16 * x, 64 * k, bytes), quad);
    for (int r = 1; r < kRows; ++r) {
      s = _mm512_add_epi16(s,
                           PairSums512(LoadPart<kMasked>(rows[r] + 16 * x, 64 * k, bytes), quad));
    }
    m[k] = _mm512_madd_epi16(s, _mm512_set1_epi16(1));  // lane j: output pixel 4k + j
  }
  StoreOut<kMasked>(out + 4 * x, 4 * count,
                    PackEighth512<MeanShift(4 * kRows)>(m[0], m[1], m[2], m[3]));
}

template <int kRows, bool kMasked>
KOLVEX_AVX512 inline void Quarter24Step512(const BYTE* const* rows, std::size_t x,
                                           std::size_t count, BYTE* out) {
  constexpr int kShift = MeanShift(2 * kRows);
  const __m512i pair =
      _mm512_broadcast_i32x4(_mm_setr_epi8(0, 3, 1, 4, 2, 5, 6, 9, 7, 10, 8, 11, -1, -1, -1, -1));
  // After the pack, lane k holds output pixels 2k, 2k + 1 in words 0..2 and
  // 8 + 2k, 9 + 2k in words 4..6; gather those 3-word pairs in order.
  static constexpr short kOrder[32] = {0,  1,  2,  8,  9,  10, 16, 17, 18, 24, 25,
                                       26, 4,  5,  6,  12, 13, 14, 20, 21, 22, 28,
                                       29, 30, 31, 31, 31, 31, 31, 31, 31, 31};
  const std::size_t bytes = 6 * count;
  __m512i a = _mm512_set1_epi16(1 << (kShift - 1));
  __m512i b = a;
  for (int r = 0; r < kRows; ++r) {
    const BYTE* p = rows[r] + 6 * x;
    a = _mm512_add_epi16(a, PairSums512(Load24Part<kMasked>(p, 0, bytes), pair));
    b = _mm512_add_epi16(b, PairSums512(Load24Part<kMasked>(p, 48, bytes), pair));
  }
  const __m512i packed =
      _mm512_packus_epi16(_mm512_srli_epi16(a, kShift), _mm512_srli_epi16(b, kShift));
  StoreOut<kMasked>(out + 3 * x, 3 * count,
                    _mm512_permutexvar_epi16(_mm512_loadu_si512(kOrder), packed));
}

template <int kRows, bool kMasked>
KOLVEX_AVX512 inline void Eighth24Step512(const BYTE* const* rows, std::size_t x, std::size_t count,
                                          BYTE* out) {
  const __m512i quad =
      _mm512_broadcast_i32x4(_mm_setr_epi8(0, 3, 6, 9, 1, 4, 7, 10, 2, 5, 8, 11, -1, -1, -1, -1));
  const __m512i drop =
      _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
  const __m512i join = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 15, 15, 15, 15);
  const std::size_t bytes = 12 * count;
  __m512i m[4];
  for (int k = 0; k < 4; ++k) {
    __m512i s = PairSums512(Load24Part<kMasked>(rows[0] + 12 * x, 48 * k, bytes), quad);
    for (int r = 1; r < kRows; ++r) {
      s = _mm512_add_epi16(s,
                           PairSums512(Load24Part<kMasked>(rows[r] + 12 * x, 48 * k, bytes), quad));
    }
    m[k] = _mm512_madd_epi16(s, _mm512_set1_epi16(1));  // lane j: [c0 c1 c2 0] of pixel 4k + j
  }
  const __m512i pixels = PackEighth512<MeanShift(4 * kRows)>(m[0], m[1], m[2], m[3]);
  StoreOut<kMasked>(out + 3 * x, 3 * count,
                    _mm512_permutexvar_epi32(join, _mm512_shuffle_epi8(pixels, drop)));
}

// Whole steps while their unmasked loads and stores stay inside the row
// (kInPerOut: source bytes per output pixel; kOvershoot: how far the last
// load reaches past the step's source bytes, and the store past its output,
// counted in source bytes), then masked steps for the rest; a first masked
// step takes the pixels before the first aligned load (AlignedStart).
template <void (*Whole)(const BYTE* const*, std::size_t, std::size_t, BYTE*),
          void (*Masked)(const BYTE* const*, std::size_t, std::size_t, BYTE*),
          std::size_t kInPerOut, std::size_t kOvershoot>
KOLVEX_AVX512 void Steps512(const BYTE* const* rows, BYTE* out, std::size_t outPixels) {
  std::size_t x = AlignedStart<kInPerOut, 64>(rows[0], outPixels);
  if (x > 0) Masked(rows, 0, x, out);
  for (; kInPerOut * (x + 16) + kOvershoot <= kInPerOut * outPixels; x += 16) {
    Whole(rows, x, 16, out);
  }
  for (; x < outPixels; x += 16) Masked(rows, x, outPixels - x < 16 ? outPixels - x : 16, out);
}

template <int kRows>
KOLVEX_AVX512 void Quarter32Avx512(const BYTE* const* rows, BYTE* out, std::size_t outPixels) {
  Steps512<Quarter32Step512<kRows, false>, Quarter32Step512<kRows, true>, 8, 0>(rows, out,
                                                                                outPixels);
}
template <int kRows>
KOLVEX_AVX512 void Eighth32Avx512(const BYTE* const* rows, BYTE* out, std::size_t outPixels) {
  Steps512<Eighth32Step512<kRows, false>, Eighth32Step512<kRows, true>, 16, 0>(rows, out,
                                                                               outPixels);
}
template <int kRows>
KOLVEX_AVX512 void Quarter24Avx512(const BYTE* const* rows, BYTE* out, std::size_t outPixels) {
  // Loads reach 16 bytes past a step; the store 16 output bytes (32 source).
  Steps512<Quarter24Step512<kRows, false>, Quarter24Step512<kRows, true>, 6, 32>(rows, out,
                                                                                 outPixels);
}
template <int kRows>
KOLVEX_AVX512 void Eighth24Avx512(const BYTE* const* rows, BYTE* out, std::size_t outPixels) {
  // Loads reach 16 bytes past a step; the store 16 output bytes (64 source).
  Steps512<Eighth24Step512<kRows, false>, Eighth24Step512<kRows, true>, 12, 64>(rows, out,
                                                                                outPixels);
}

KOLVEX_AVX512_SECTION_END

// ---- The kernels of each level ----

constexpr ReduceKernels kSse2Reduce24{QuarterSse2<3, 2>, QuarterSse2<3, 1>, EighthSse2<3, 4>,
                                      EighthSse2<3, 2>};
constexpr ReduceKernels kSse2Reduce32{Quarter32Sse2<2>, Quarter32Sse2<1>, EighthSse2<4, 4>,
                                      EighthSse2<4, 2>};
constexpr ReduceKernels kAvx2Reduce24{Quarter24Avx2<2>, Quarter24Avx2<1>, Eighth24Avx2<4>,
                                      Eighth24Avx2<2>};
constexpr ReduceKernels kAvx2Reduce32{Quarter32Avx2<2>, Quarter32Avx2<1>, Eighth32Avx2<4>,
                                      Eighth32Avx2<2>};
constexpr ReduceKernels kAvx512Reduce24{Quarter24Avx512<2>, Quarter24Avx512<1>, Eighth24Avx512<4>,
                                        Eighth24Avx512<2>};
constexpr ReduceKernels kAvx512Reduce32{Quarter32Avx512<2>, Quarter32Avx512<1>, Eighth32Avx512<4>,
                                        Eighth32Avx512<2>};

}  // namespace
#endif

ReduceRowFn SelectReduceRow(WORD bitCount, int factor, bool oneField) {
  const ReduceKernels* kernels = nullptr;
  switch (bitCount) {
    case 24:
      kernels = PickKernel<const ReduceKernels*>(
          &kPlainReduce<3>, KOLVEX_X86_KERNEL(&kSse2Reduce24), KOLVEX_X86_KERNEL(&kAvx2Reduce24),
          KOLVEX_X86_KERNEL(&kAvx512Reduce24));
      break;
    case 32:
      kernels = PickKernel<const ReduceKernels*>(
          &kPlainReduce<4>, KOLVEX_X86_KERNEL(&kSse2Reduce32), KOLVEX_X86_KERNEL(&kAvx2Reduce32),
          KOLVEX_X86_KERNEL(&kAvx512Reduce32));
      break;
    default:
      return nullptr;
  }
  if (factor == 2) return oneField ? kernels->quarterField : kernels->quarterBox;
  return oneField ? kernels->eighthField : kernels->eighthBox;
}

}  // namespace kolvex::detail
