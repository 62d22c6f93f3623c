// Row conversion between the pixel formats of GDI surfaces and 0xXXRRGGBB
// words. One call per row; the format is decided once per row. Unscaled runs
// between 24 and 32 bits have copies of their own: a word at a time (the
// reference), and 16 pixels at a time in vector registers (SSE2 shifts and
// masks; byte shuffles at the AVX2 level), the road of every capture and
// drawing of whole frames.

#include "base/bitmap_format.h"
#include "base/kernel_dispatch.h"
#include "platform/linux/gdi_internal.h"

#include <cstring>

#if KOLVEX_X86
#include <immintrin.h>
#endif

namespace kolvex::platform::detail {
namespace {

std::uint32_t Grey(unsigned level) { return level * 0x010101u; }

// The colours of every index of an indexed format: the view's table, or the
// grey ramp for DIB sections.
void IndexColours(const PixelView& v, std::uint32_t* lut) {
  const unsigned levels = 1u << v.bitCount;
  for (unsigned i = 0; i < levels; ++i) {
    if (v.colors == nullptr) {
      lut[i] = Grey(kolvex::detail::GreyLevel(i, v.bitCount));
    } else if (i < static_cast<unsigned>(v.colorCount)) {
      const RGBQUAD& q = v.colors[i];
      lut[i] = q.rgbBlue | (q.rgbGreen << 8) | (static_cast<std::uint32_t>(q.rgbRed) << 16);
    } else {
      lut[i] = 0;
    }
  }
}

// The grey index nearest to a colour, for indexed surfaces (which show the
// grey ramp); a grey level read from such a surface maps back to its index.
unsigned NearestGrey(std::uint32_t c, unsigned maxIndex) {
  const unsigned level = ((c & 0xFF) + ((c >> 8) & 0xFF) + ((c >> 16) & 0xFF) + 1) / 3;
  return (level * maxIndex + 127) / 255;
}

std::uint32_t Widen5(unsigned c) { return kolvex::detail::WidenChannel(c & 31, 5); }

std::uint32_t Load32(const BYTE* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void Store32(BYTE* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

template <std::size_t kBytesPerPixel>
void CopySame(const BYTE* from, BYTE* to, std::size_t n) {
  std::memcpy(to, from, n * kBytesPerPixel);
}

// B, G, R, X to B, G, R: four pixels as three words at a time.
void Pack32To24(const BYTE* from, BYTE* to, std::size_t n) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4, from += 16, to += 12) {
    const std::uint32_t a = Load32(from), b = Load32(from + 4), c = Load32(from + 8),
                        d = Load32(from + 12);
    Store32(to, (a & 0xFFFFFF) | b << 24);
    Store32(to + 4, (b >> 8 & 0xFFFF) | c << 16);
    Store32(to + 8, (c >> 16 & 0xFF) | d << 8);
  }
  for (; i < n; ++i, from += 4, to += 3) {
    to[0] = from[0];
    to[1] = from[1];
    to[2] = from[2];
  }
}

// B, G, R to B, G, R, 0: three words as four pixels at a time.
void Expand24To32(const BYTE* from, BYTE* to, std::size_t n) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4, from += 12, to += 16) {
    const std::uint32_t a = Load32(from), b = Load32(from + 4), c = Load32(from + 8);
    Store32(to, a & 0xFFFFFF);
    Store32(to + 4, (a >> 24 | b << 8) & 0xFFFFFF);
    Store32(to + 8, (b >> 16 | c << 16) & 0xFFFFFF);
    Store32(to + 12, c >> 8);
  }
  for (; i < n; ++i, from += 3, to += 4) Store32(to, from[0] | from[1] << 8 | from[2] << 16);
}

#if KOLVEX_X86

// Sixteen pixels a step; the rest (and rows shorter than 16) by the reference.
constexpr std::size_t kVectorPixels = 16;

__m128i Load128(const BYTE* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
void Store128(BYTE* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// 48 bytes (16 pixels of 3) from four registers that each hold 12 in their
// low bytes.
void StoreThreeQuarters(BYTE* to, __m128i a, __m128i b, __m128i c, __m128i d) {
  Store128(to, _mm_or_si128(a, _mm_slli_si128(b, 12)));
  Store128(to + 16, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
  Store128(to + 32, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
}

// Four B, G, R, X pixels to their 12 B, G, R bytes, low in the register: each
// 64-bit half packs its two pixels into 6 bytes, then the halves close up.
__m128i Pack4Sse2(__m128i x) {
  const __m128i first = _mm_set1_epi64x(0xFFFFFF);
  const __m128i second = _mm_set1_epi64x(0xFFFFFF000000);
  const __m128i halves =
      _mm_or_si128(_mm_and_si128(x, first), _mm_and_si128(_mm_srli_epi64(x, 8), second));
  return _mm_or_si128(_mm_move_epi64(halves), _mm_slli_si128(_mm_srli_si128(halves, 8), 6));
}

void Pack32To24Sse2(const BYTE* from, BYTE* to, std::size_t n) {
  std::size_t i = 0;
  for (; i + kVectorPixels <= n; i += kVectorPixels, from += 64, to += 48) {
    StoreThreeQuarters(to, Pack4Sse2(Load128(from)), Pack4Sse2(Load128(from + 16)),
                       Pack4Sse2(Load128(from + 32)), Pack4Sse2(Load128(from + 48)));
  }
  Pack32To24(from, to, n - i);
}

// Twelve B, G, R bytes, low in the register, to four pixels with a zero
// fourth byte: each 64-bit half takes two pixels and moves the second up.
__m128i Expand4Sse2(__m128i x) {
  const __m128i first = _mm_set1_epi64x(0xFFFFFF);
  const __m128i second = _mm_set1_epi64x(0xFFFFFF00000000);
  const __m128i halves = _mm_unpacklo_epi64(x, _mm_srli_si128(x, 6));
  return _mm_or_si128(_mm_and_si128(halves, first),
                      _mm_and_si128(_mm_slli_epi64(halves, 8), second));
}

void Expand24To32Sse2(const BYTE* from, BYTE* to, std::size_t n) {
  std::size_t i = 0;
  for (; i + kVectorPixels <= n; i += kVectorPixels, from += 48, to += 64) {
    const __m128i x = Load128(from), y = Load128(from + 16), z = Load128(from + 32);
    Store128(to, Expand4Sse2(x));
    Store128(to + 16, Expand4Sse2(_mm_or_si128(_mm_srli_si128(x, 12), _mm_slli_si128(y, 4))));
    Store128(to + 32, Expand4Sse2(_mm_or_si128(_mm_srli_si128(y, 8), _mm_slli_si128(z, 8))));
    Store128(to + 48, Expand4Sse2(_mm_srli_si128(z, 4)));
  }
  Expand24To32(from, to, n - i);
}

// The same with byte shuffles (SSSE3, part of every AVX2 processor).
KOLVEX_AVX2 void Pack32To24Avx2(const BYTE* from, BYTE* to, std::size_t n) {
  const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  std::size_t i = 0;
  for (; i + kVectorPixels <= n; i += kVectorPixels, from += 64, to += 48) {
    StoreThreeQuarters(
        to, _mm_shuffle_epi8(Load128(from), pack), _mm_shuffle_epi8(Load128(from + 16), pack),
        _mm_shuffle_epi8(Load128(from + 32), pack), _mm_shuffle_epi8(Load128(from + 48), pack));
  }
  Pack32To24(from, to, n - i);
}

KOLVEX_AVX2 void Expand24To32Avx2(const BYTE* from, BYTE* to, std::size_t n) {
  const __m128i expand = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  std::size_t i = 0;
  for (; i + kVectorPixels <= n; i += kVectorPixels, from += 48, to += 64) {
    const __m128i x = Load128(from), y = Load128(from + 16), z = Load128(from + 32);
    Store128(to, _mm_shuffle_epi8(x, expand));
    Store128(to + 16, _mm_shuffle_epi8(_mm_alignr_epi8(y, x, 12), expand));
    Store128(to + 32, _mm_shuffle_epi8(_mm_alignr_epi8(z, y, 8), expand));
    Store128(to + 48, _mm_shuffle_epi8(_mm_srli_si128(z, 4), expand));
  }
  Expand24To32(from, to, n - i);
}

#endif  // KOLVEX_X86

}  // namespace

RunCopy RunCopierFor(int fromBits, int toBits) {
  using kolvex::detail::PickKernel;
  if (fromBits == 32 && toBits == 32) return CopySame<4>;
  if (fromBits == 24 && toBits == 24) return CopySame<3>;
  if (fromBits == 32 && toBits == 24) {
    return PickKernel<RunCopy>(Pack32To24, KOLVEX_X86_KERNEL(Pack32To24Sse2),
                               KOLVEX_X86_KERNEL(Pack32To24Avx2), nullptr);
  }
  if (fromBits == 24 && toBits == 32) {
    return PickKernel<RunCopy>(Expand24To32, KOLVEX_X86_KERNEL(Expand24To32Sse2),
                               KOLVEX_X86_KERNEL(Expand24To32Avx2), nullptr);
  }
  return nullptr;
}

void ReadRow(const PixelView& v, int y, std::uint32_t* out) {
  const BYTE* row = v.Row(y);
  const int n = v.width;
  switch (v.bitCount) {
    case 32:
      for (int x = 0; x < n; ++x) {
        const BYTE* p = row + 4 * x;
        out[x] = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
      }
      return;
    case 24:
      for (int x = 0; x < n; ++x) {
        const BYTE* p = row + 3 * x;
        out[x] = p[0] | (p[1] << 8) | (p[2] << 16);
      }
      return;
    case 16:
      for (int x = 0; x < n; ++x) {
        const unsigned w = row[2 * x] | (row[2 * x + 1] << 8);
        out[x] = Widen5(w) | (Widen5(w >> 5) << 8) | (Widen5(w >> 10) << 16);
      }
      return;
    default:
      break;
  }
  std::uint32_t lut[256];
  IndexColours(v, lut);
  switch (v.bitCount) {
    case 8:
      for (int x = 0; x < n; ++x) out[x] = lut[row[x]];
      return;
    case 4:
      for (int x = 0; x < n; ++x) out[x] = lut[(row[x / 2] >> ((x & 1) ? 0 : 4)) & 15];
      return;
    case 1:
      for (int x = 0; x < n; ++x) out[x] = lut[(row[x / 8] >> (7 - x % 8)) & 1];
      return;
    default:
      return;
  }
}

void WriteRow(const PixelView& v, int y, const std::uint32_t* in) {
  BYTE* row = v.Row(y);
  const int n = v.width;
  switch (v.bitCount) {
    case 32:
      for (int x = 0; x < n; ++x) {
        BYTE* p = row + 4 * x;
        p[0] = static_cast<BYTE>(in[x]);
        p[1] = static_cast<BYTE>(in[x] >> 8);
        p[2] = static_cast<BYTE>(in[x] >> 16);
        p[3] = static_cast<BYTE>(in[x] >> 24);
      }
      return;
    case 24:
      for (int x = 0; x < n; ++x) {
        BYTE* p = row + 3 * x;
        p[0] = static_cast<BYTE>(in[x]);
        p[1] = static_cast<BYTE>(in[x] >> 8);
        p[2] = static_cast<BYTE>(in[x] >> 16);
      }
      return;
    case 16:
      for (int x = 0; x < n; ++x) {
        const std::uint32_t c = in[x];
        const unsigned w = ((c >> 3) & 31) | (((c >> 11) & 31) << 5) | (((c >> 19) & 31) << 10);
        row[2 * x] = static_cast<BYTE>(w);
        row[2 * x + 1] = static_cast<BYTE>(w >> 8);
      }
      return;
    case 8:
      for (int x = 0; x < n; ++x) row[x] = static_cast<BYTE>(NearestGrey(in[x], 255));
      return;
    case 4:
      for (int x = 0; x < n; ++x) {
        const int shift = (x & 1) ? 0 : 4;
        BYTE& b = row[x / 2];
        b = static_cast<BYTE>((b & ~(15 << shift)) | (NearestGrey(in[x], 15) << shift));
      }
      return;
    case 1:
      for (int x = 0; x < n; ++x) {
        const int shift = 7 - x % 8;
        BYTE& b = row[x / 8];
        b = static_cast<BYTE>((b & ~(1 << shift)) | (NearestGrey(in[x], 1) << shift));
      }
      return;
    default:
      return;
  }
}

}  // namespace kolvex::platform::detail
