// Builds bitmap files byte by byte, independently of the library, for loader
// tests: every field is set explicitly so a test can break exactly one.
#pragma once

#include <cstdint>
#include <algorithm>
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

inline void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = static_cast<uint8_t>(x);
  v[at + 1] = static_cast<uint8_t>(x >> 8);
}
inline void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

inline size_t BmpStride(int bits, int width) { return static_cast<size_t>((bits * width + 31) / 32 * 4); }

inline std::vector<uint8_t> MakeBmp(const BmpFields& s) {
  const size_t rows = static_cast<size_t>(s.height < 0 ? -static_cast<int64_t>(s.height) : s.height);
  std::vector<uint8_t> pixels = s.pixels;
  if (pixels.empty() && s.width > 0) {
    pixels.resize(BmpStride(s.bits, s.width) * rows);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 + 3);
  }
  const size_t outsideMasks = s.infoSize == 40 ? 4 * s.masks.size() : 0;
  const size_t headers = 14 + s.infoSize + outsideMasks + s.palette.size();
  // An offset inside the headers is written as asked, with the pixels still
  // behind the headers, so that only the offset is wrong.
  const size_t off = s.offBits < 0 ? headers : static_cast<size_t>(s.offBits);
  const size_t at = std::max(headers, off);
  std::vector<uint8_t> f(std::max<size_t>(at + pixels.size(), 54 + outsideMasks), 0);
  if (s.signature) {
    f[0] = 'B';
    f[1] = 'M';
  }
  Put32(f, 2, static_cast<uint32_t>(f.size()));
  Put32(f, 10, static_cast<uint32_t>(off));
  Put32(f, 14, s.infoSize);
  Put32(f, 18, static_cast<uint32_t>(s.width));
  Put32(f, 22, static_cast<uint32_t>(s.height));
  Put16(f, 26, 1);
  Put16(f, 28, s.bits);
  Put32(f, 30, s.compression);
  Put32(f, 46, s.clrUsed);
  for (size_t i = 0; i < s.masks.size(); ++i) Put32(f, 54 + 4 * i, s.masks[i]);
  if (!s.palette.empty()) {
    std::memcpy(f.data() + 14 + s.infoSize + outsideMasks, s.palette.data(), s.palette.size());
  }
  if (!pixels.empty()) std::memcpy(f.data() + at, pixels.data(), pixels.size());
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
