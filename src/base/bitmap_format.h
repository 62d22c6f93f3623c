// Internal: the bitmap format, in one place for every layer. What depths a
// device-independent bitmap has, how big its colour table is, the grey ramp
// that stands for a table the library does not keep, how narrow channels
// widen to 8 bits, and how a bitmap file lays out its headers. The file
// reader and writer (dib/bitmap_file*.cpp), drawing and the GDI stand-in
// take each of these facts from here.
//
// Extending the reader: a new info header kind is a row of kInfoHeaderKinds;
// a new compression is a case of the reader's compression switch
// (bitmap_file_read.cpp) with a RowFormat of its own; masks are checked in its
// FormatFromMasks and widened by WidenChannel.
#pragma once

#include "base/size.h"

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace kolvex::detail {

// ---- Pixels ----

// The bit depths of a device-independent bitmap that files, resources and
// GDI surfaces may have.
constexpr bool IsDibBitCount(unsigned bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The depths whose pixels are colour-table indices.
constexpr bool IsIndexedBitCount(unsigned bits) { return bits <= 8 && IsDibBitCount(bits); }

// The depths a bitmap file may have: those of a device-independent bitmap
// and 2-bit palette indices, which only files use (GDI surfaces have none).
constexpr bool IsFileBitCount(unsigned bits) { return IsDibBitCount(bits) || bits == 2; }

// Entries of the colour table an info header calls for: biClrUsed when set,
// otherwise a full table for an indexed depth and none for the others.
constexpr std::uint64_t ColourTableEntries(unsigned bits, std::uint32_t clrUsed) {
  if (clrUsed != 0) return clrUsed;
  return IsIndexedBitCount(bits) ? std::uint64_t{1} << bits : 0;
}

// The same when reading a file, whose 2-bit images index a table of 4 (the
// writer's rule above knows no 2-bit table).
constexpr std::uint64_t FileColourTableEntries(unsigned bits, std::uint32_t clrUsed) {
  return bits == 2 && clrUsed == 0 ? 4 : ColourTableEntries(bits, clrUsed);
}

// Bytes of one colour-table entry (blue, green, red, reserved); the core
// header's entries have no reserved byte.
inline constexpr std::size_t kColourEntryBytes = 4;
inline constexpr std::size_t kCoreColourEntryBytes = 3;

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

// The one widening rule of the library: a channel of `bits` (0..8) bits
// becomes 8 bits by repeating its bits from the top, so that 0 stays 0 and
// the maximum becomes 255 (5 bits: v << 3 | v >> 2); a channel of no bits
// reads 0. A channel wider than 8 bits keeps its top 8 (10 bits: v >> 2),
// the same rule cut short. Within 1 of round(v x 255 / (2^bits - 1)) for
// every width.
constexpr std::uint8_t WidenChannel(unsigned value, unsigned bits) {
  if (bits == 0) return 0;
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
// Red, green and blue masks of a bit-field bitmap, 4 bytes each, and the
// alpha mask behind them.
inline constexpr std::size_t kColourMaskBytes = 12;
inline constexpr std::size_t kAlphaMaskBytes = 4;

// Compression codes. BI_RGB, BI_RLE8, BI_RLE4 and BI_BITFIELDS come with the
// platform's names; OS/2 2.x headers give 3 and 4 meanings of their own.
inline constexpr std::uint32_t kCompressionJpeg = 4;
inline constexpr std::uint32_t kCompressionPng = 5;
inline constexpr std::uint32_t kCompressionAlphaBitFields = 6;
inline constexpr std::uint32_t kCompressionOs2Huffman = 3;
inline constexpr std::uint32_t kCompressionOs2Rle24 = 4;

// The name of a compression code of a Windows header, or null.
constexpr const char* CompressionName(std::uint32_t code) {
  constexpr const char* kNames[] = {"BI_RGB",  "BI_RLE8", "BI_RLE4",          "BI_BITFIELDS",
                                    "BI_JPEG", "BI_PNG",  "BI_ALPHABITFIELDS"};
  return code < std::size(kNames) ? kNames[code] : nullptr;
}

// The version-5 info header (BITMAPV5HEADER), the largest kind, which the
// library writes for 32-bit pixels with alpha: the classic fields, then the
// red, green, blue and alpha masks from byte 40 on, the colour space at byte
// 56 and the rendering intent at byte 108.
inline constexpr std::uint32_t kV5InfoHeaderBytes = 124;
inline constexpr std::size_t kV5ColourSpaceField = 56;
inline constexpr std::size_t kV5IntentField = 108;
inline constexpr std::uint32_t kColourSpaceSrgb = 0x73524742;  // 'sRGB'
inline constexpr std::uint32_t kIntentImages = 4;              // LCS_GM_IMAGES
// The red, green, blue and alpha masks of the library's own 32-bit pixels
// with alpha: bytes B, G, R, A.
inline constexpr std::uint32_t kBgraMasks[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};

// The info header kinds a file may carry, by size. The core header (OS/2 1.x
// and Windows 2.x) has 16-bit width and height, no compression and 3-byte
// colour-table entries. An OS/2 2.x header is the classic header's fields
// cut after any whole field, up to 64 bytes with fields of its own (ignored).
// A bit-field file with the classic header keeps its masks right behind it;
// the later Windows kinds hold them inside, from byte 40 on, the alpha mask as
// well from 56 bytes up.
enum class HeaderFamily { Core, Os2, Windows };
struct InfoHeaderKind {
  std::uint32_t bytes;
  const char* name;
  HeaderFamily family;
  bool masksInside;
  bool alphaMask;
};
inline constexpr InfoHeaderKind kInfoHeaderKinds[] = {
    {12, "BITMAPCOREHEADER", HeaderFamily::Core, false, false},
    {40, "BITMAPINFOHEADER", HeaderFamily::Windows, false, false},
    {52, "BITMAPV2INFOHEADER", HeaderFamily::Windows, true, false},
    {56, "BITMAPV3INFOHEADER", HeaderFamily::Windows, true, true},
    {108, "BITMAPV4HEADER", HeaderFamily::Windows, true, true},
    {kV5InfoHeaderBytes, "BITMAPV5HEADER", HeaderFamily::Windows, true, true},
};
inline constexpr InfoHeaderKind kOs2InfoHeader = {0, "OS/2 2.x", HeaderFamily::Os2, false, false};
inline constexpr std::uint32_t kMinOs2HeaderBytes = 16;  // up to the bit count
inline constexpr std::uint32_t kMaxOs2HeaderBytes = 64;
inline constexpr std::uint32_t kMaxInfoHeaderBytes = kV5InfoHeaderBytes;

// Whether an OS/2 2.x header of `bytes` ends on a field boundary: 4-byte
// fields up to 40, 2-byte ones up to 48, 4-byte ones again up to 64.
constexpr bool IsOs2HeaderSize(std::uint32_t bytes) {
  if (bytes < kMinOs2HeaderBytes || bytes > kMaxOs2HeaderBytes) return false;
  return bytes % 4 == 0 || (bytes > 40 && bytes < 48 && bytes % 2 == 0);
}

// The kind of an info header of `bytes` bytes, or null for a size no file
// the library reads has. The Windows sizes 40, 52 and 56 are Windows kinds.
constexpr const InfoHeaderKind* FindInfoHeaderKind(std::uint32_t bytes) {
  for (const InfoHeaderKind& kind : kInfoHeaderKinds) {
    if (kind.bytes == bytes) return &kind;
  }
  return IsOs2HeaderSize(bytes) ? &kOs2InfoHeader : nullptr;
}

// A file's headers, masks and the part of its colour table that an image
// uses (at most 256 entries) lie within its first kFileHeadBytes bytes.
inline constexpr std::size_t kFileHeadBytes = kFileHeaderBytes + kMaxInfoHeaderBytes +
                                              kColourMaskBytes + kAlphaMaskBytes +
                                              256 * kColourEntryBytes;

// A run-length image may be at most this many times larger, as loaded, than
// its file, plus the allowance. The densest stream that codes every pixel
// (runs of 255 pixels in 2 bytes) loads 383 bytes per byte, so only a stream
// that skips most of its image by deltas or an early end comes near; a few
// bytes promising a huge image are refused before anything is allocated.
inline constexpr std::uint64_t kRunLengthExpansion = 1024;
inline constexpr std::uint64_t kRunLengthAllowance = std::uint64_t{1} << 20;

// A file is read into one buffer, and written with 32-bit counts: no file the
// library loads or writes is larger than its largest buffer.
inline constexpr std::uint64_t kMaxFileBytes = kMaxBufferBytes;

// Little-endian fields of a file.
constexpr std::uint16_t ReadLE16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
constexpr std::uint32_t ReadLE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
constexpr void WriteLE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace kolvex::detail
