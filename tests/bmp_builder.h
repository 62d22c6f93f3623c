// Bitmap files built byte by byte, independently of the library: a test can break any one field.
#pragma once

#include <kolvex/base/geometry.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kt {

struct BmpFields {
  int32_t width = 3;
  int32_t height = 2;  // negative: top-down
  uint16_t bits = 24;
  uint32_t compression = 0;
  uint32_t infoSize = 40;
  uint32_t clrUsed = 0;
  std::vector<uint32_t> masks{};   // written after a 40-byte header, or inside a longer one
  std::vector<uint8_t> palette{};  // raw RGBQUAD bytes
  int64_t offBits = -1;            // -1: right after headers, masks and palette
  std::vector<uint8_t> pixels{};   // empty: stride x |height| bytes of a pattern
  bool signature = true;
};

// `bytes` bytes of x, lowest first.
inline void PutLittleEndian(std::vector<uint8_t>& v, size_t at, uint32_t x, int bytes = 4) {
  for (int i = 0; i < bytes; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

inline size_t BmpStride(int bits, int width) {
  return static_cast<size_t>(kolvex::RowStride(bits, width));
}

// 12 writes the core header, under 40 the classic one cut short, over 40 the masks inside it.
inline std::vector<uint8_t> MakeBmp(const BmpFields& s) {
  const size_t rows =
      static_cast<size_t>(s.height < 0 ? -static_cast<int64_t>(s.height) : s.height);
  std::vector<uint8_t> pixels = s.pixels;
  if (pixels.empty() && s.width > 0) {
    pixels.resize(BmpStride(s.bits, s.width) * rows);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 + 3);
  }
  std::vector<uint8_t> info(std::max<size_t>(s.infoSize, 40), 0);
  PutLittleEndian(info, 0, s.infoSize);
  if (s.infoSize == 12) {
    PutLittleEndian(info, 4, static_cast<uint32_t>(s.width), 2);
    PutLittleEndian(info, 6, static_cast<uint32_t>(s.height), 2);
    PutLittleEndian(info, 8, 1, 2);
    PutLittleEndian(info, 10, s.bits, 2);
  } else {
    PutLittleEndian(info, 4, static_cast<uint32_t>(s.width));
    PutLittleEndian(info, 8, static_cast<uint32_t>(s.height));
    PutLittleEndian(info, 12, 1, 2);
    PutLittleEndian(info, 14, s.bits, 2);
    PutLittleEndian(info, 16, s.compression);
    PutLittleEndian(info, 32, s.clrUsed);
  }
  for (size_t i = 0; i < s.masks.size(); ++i) {
    if (s.infoSize == 40) info.resize(40 + 4 * s.masks.size());
    PutLittleEndian(info, 40 + 4 * i, s.masks[i]);
  }
  if (s.infoSize < 40) info.resize(s.infoSize);
  const size_t headers = 14 + info.size() + s.palette.size();
  // An offset inside the headers is written as asked, the pixels still behind them.
  const size_t off = s.offBits < 0 ? headers : static_cast<size_t>(s.offBits);
  const size_t at = std::max(headers, off);
  std::vector<uint8_t> f(at + pixels.size(), 0);
  if (s.signature) {
    f[0] = 'B';
    f[1] = 'M';
  }
  PutLittleEndian(f, 2, static_cast<uint32_t>(f.size()));
  PutLittleEndian(f, 10, static_cast<uint32_t>(off));
  std::copy(info.begin(), info.end(), f.begin() + 14);
  std::copy(s.palette.begin(), s.palette.end(),
            f.begin() + 14 + static_cast<std::ptrdiff_t>(info.size()));
  std::copy(pixels.begin(), pixels.end(), f.begin() + static_cast<std::ptrdiff_t>(at));
  return f;
}

// 2^bits RGBQUAD entries; grey: entry i = level i, otherwise a colourful ramp.
inline std::vector<uint8_t> MakePalette(int entries, bool grey) {
  std::vector<uint8_t> p(4 * static_cast<size_t>(entries));
  for (int i = 0; i < entries; ++i) {
    p[4 * i] = static_cast<uint8_t>(i);
    p[4 * i + 1] = static_cast<uint8_t>(grey ? i : 255 - i);
    p[4 * i + 2] = static_cast<uint8_t>(grey ? i : i * 3);
  }
  return p;
}

}  // namespace kt
