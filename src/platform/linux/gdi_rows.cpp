// Row conversion between the pixel formats of GDI surfaces and 0xXXRRGGBB
// words. One call per row; the format is decided once per row. Unscaled runs
// between 24 and 32 bits have copies of their own, a word at a time.

#include "base/bitmap_format.h"
#include "platform/linux/gdi_internal.h"

#include <cstring>

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

}  // namespace

RunCopy RunCopierFor(int fromBits, int toBits) {
  if (fromBits == 32 && toBits == 32) return CopySame<4>;
  if (fromBits == 24 && toBits == 24) return CopySame<3>;
  if (fromBits == 32 && toBits == 24) return Pack32To24;
  if (fromBits == 24 && toBits == 32) return Expand24To32;
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
