// Internal: the bitmap format, in one place for every layer. What depths a
// device-independent bitmap has, how big its colour table is, the grey ramp
// that stands for a table the library does not keep, how narrow channels
// widen to 8 bits, and how a bitmap file lays out its headers. The file
// reader and writer (windows/bitmap_file*.cpp), drawing and the GDI stand-in
// take each of these facts from here.
//
// Extending the reader: a new info header kind is a row of kInfoHeaderKinds;
// a new compression is a case of the reader's compression switch
// (bitmap_file_read.cpp) with a RowFormat of its own; new masks are decided
// in its FormatFromMasks and widened by WidenChannel.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kolvex::detail {

// ---- Pixels ----

// The bit depths of a device-independent bitmap that files, resources and
// GDI surfaces may have.
constexpr bool IsDibBitCount(unsigned bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The depths whose pixels are colour-table indices.
constexpr bool IsIndexedBitCount(unsigned bits) { return bits <= 8 && IsDibBitCount(bits); }

// Entries of the colour table an info header calls for: biClrUsed when set,
// otherwise a full table for an indexed depth and none for the others.
constexpr std::uint64_t ColourTableEntries(unsigned bits, std::uint32_t clrUsed) {
  if (clrUsed != 0) return clrUsed;
  return IsIndexedBitCount(bits) ? std::uint64_t{1} << bits : 0;
}

// Bytes of one colour-table entry (blue, green, red, reserved).
inline constexpr std::size_t kColourEntryBytes = 4;

// The grey ramp: the colour of index i of an indexed depth when the library
// supplies the table itself (8-bit bitmaps carry none of their own), level
// i x 255 / (2^bits - 1). At 8 bits, index i is level i.
constexpr std::uint8_t GreyLevel(unsigned index, unsigned bits) {
  return static_cast<std::uint8_t>(index * 255 / ((1u << bits) - 1));
}

// Writes `entries` colour-table entries at `table`: the grey ramp for the
// 2^bits indices of an indexed depth, zero for every other entry.
inline void FillGreyRamp(std::uint8_t* table, std::size_t entries, unsigned bits) {
  const std::size_t levels = IsIndexedBitCount(bits) ? std::size_t{1} << bits : 0;
  for (std::size_t i = 0; i < entries; ++i, table += kColourEntryBytes) {
    const std::uint8_t level = i < levels ? GreyLevel(static_cast<unsigned>(i), bits) : 0;
    table[0] = table[1] = table[2] = level;
    table[3] = 0;
  }
}

// A channel of `bits` (1..8) bits widened to 8 by repeating its bits from the
// top, so that 0 stays 0 and the maximum becomes 255 (5 bits: v << 3 | v >> 2).
constexpr std::uint8_t WidenChannel(unsigned value, unsigned bits) {
  unsigned out = 0;
  for (int shift = 8 - static_cast<int>(bits); shift > -static_cast<int>(bits);
       shift -= static_cast<int>(bits)) {
    out |= shift >= 0 ? value << shift : value >> -shift;
  }
  return static_cast<std::uint8_t>(out);
}

// ---- Files ----
// A bitmap file is a file header, an info header (whose first 4 bytes give its
// size), for some headers the colour masks, the colour table, and the pixels
// at the offset the file header names. Every field is little-endian.

inline constexpr std::size_t kFileHeaderBytes = 14;
inline constexpr std::uint16_t kFileSignature = 0x4D42;  // "BM"
inline constexpr std::size_t kFileSizeField = 2;         // bfSize: bytes of the file
inline constexpr std::size_t kPixelOffsetField = 10;     // bfOffBits: where the pixels start

// The classic info header (BITMAPINFOHEADER), the only kind the library
// writes and the only kind a bitmap resource carries.
inline constexpr std::size_t kInfoHeaderBytes = 40;
// Red, green and blue masks of a bit-field bitmap, 4 bytes each.
inline constexpr std::size_t kColourMaskBytes = 12;

// The info header kinds a file may carry, by size. A bit-field file with the
// classic header keeps its masks right behind it; the later kinds hold them
// inside, from byte 40 on, the alpha mask as well from 56 bytes up.
struct InfoHeaderKind {
  std::uint32_t bytes;
  bool masksInside;
  bool alphaMask;
};
inline constexpr InfoHeaderKind kInfoHeaderKinds[] = {
    {40, false, false},   // BITMAPINFOHEADER
    {52, true, false},    // with the colour masks
    {56, true, true},     // with the alpha mask too
    {108, true, true},    // BITMAPV4HEADER
    {124, true, true},    // BITMAPV5HEADER
};

// The kind of an info header of `bytes` bytes, or null for a size no file
// the library reads has.
constexpr const InfoHeaderKind* FindInfoHeaderKind(std::uint32_t bytes) {
  for (const InfoHeaderKind& kind : kInfoHeaderKinds) {
    if (kind.bytes == bytes) return &kind;
  }
  return nullptr;
}

// Larger files cannot hold an image the library would load.
inline constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 31;

// A little-endian field of a file.
constexpr std::uint32_t ReadLE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace kolvex::detail
