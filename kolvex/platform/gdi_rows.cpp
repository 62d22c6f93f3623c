// Row conversion between the pixel formats of GDI surfaces and 0xXXRRGGBB
// words. One call per row; the format is decided once per row. Unscaled runs
// between 24 and 32 bits have copies of their own, with AVX2 variants that
// read and write exactly the run's bytes.

#include <kolvex/core/kernel_level.h>
#include <kolvex/platform/gdi_internal.h>

#include <cstring>

#if KOLVEX_X86
#include <kolvex/core/simd_x86.h>
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
      lut[i] = Grey(i * 255 / (levels - 1));
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

unsigned Expand5(unsigned c) { return (c << 3) | (c >> 2); }

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

// Eight pixels a step: each 128-bit lane drops its pixels' fourth bytes, then
// the two lanes' 12 bytes close up.
KOLVEX_AVX2 void Pack32To24Avx2(const BYTE* from, BYTE* to, std::size_t n) {
  const __m256i drop = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                        0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i close = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8, from += 32, to += 24) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
    const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, drop), close);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm256_castsi256_si128(packed));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to + 16), _mm256_extracti128_si256(packed, 1));
  }
  Pack32To24(from, to, n - i);
}

// Eight pixels a step from two 16-byte loads 12 bytes apart, each spread to
// four pixels with a zero fourth byte. The second load reaches 4 bytes past
// the eight pixels, so the steps stop 10 pixels before the end of the run.
KOLVEX_AVX2 void Expand24To32Avx2(const BYTE* from, BYTE* to, std::size_t n) {
  const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                          0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  std::size_t i = 0;
  for (; i + 10 <= n; i += 8, from += 24, to += 32) {
    const __m256i v = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(from + 12),
                                          reinterpret_cast<const __m128i*>(from));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm256_shuffle_epi8(v, spread));
  }
  Expand24To32(from, to, n - i);
}

#endif

}  // namespace

RunCopy RunCopierFor(int fromBits, int toBits) {
  using kolvex::detail::PickKernel;
  if (fromBits == 32 && toBits == 32) return CopySame<4>;
  if (fromBits == 24 && toBits == 24) return CopySame<3>;
  if (fromBits == 32 && toBits == 24) {
    return PickKernel<RunCopy>(Pack32To24, nullptr, KOLVEX_X86_KERNEL(Pack32To24Avx2), nullptr);
  }
  if (fromBits == 24 && toBits == 32) {
    return PickKernel<RunCopy>(Expand24To32, nullptr, KOLVEX_X86_KERNEL(Expand24To32Avx2), nullptr);
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
        out[x] = Expand5(w & 31) | (Expand5((w >> 5) & 31) << 8) | (Expand5((w >> 10) & 31) << 16);
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
