// Bitmap files beyond CRZDIB2's own loading and saving: checking and
// describing a file before loading it, finding where each file of a stream
// ends, and saving 32-bit pixels with their alpha.
#pragma once

#include <kolvex/dib/dib.h>
#include <kolvex/platform/export.h>
#include <kolvex/platform/mfc.h>

#include <cstddef>
#include <cstdint>

namespace kolvex {

// Why the bitmap file image in data[0, size) cannot be loaded by
// CRZDIB2::CreateFromMemory, as a short phrase such as
// "not a bitmap file (too short)" or "unsupported bitmap (compression)"; null
// when it can be loaded. The phrase is a static string owned by the library.
// Reads nothing outside the given bytes; thread-safe.
KOLVEX_API const char* BitmapFileProblem(const void* data, std::size_t size);

// A bitmap file's own format, and what CRZDIB2::CreateFromFile makes of it,
// as its headers tell. The strings are static and owned by the library.
struct BitmapFileFormat {
  std::uint32_t headerBytes = 0;  // size of the info header: 12, 16 to 64, 108 or 124
  // "BITMAPCOREHEADER" (12 bytes), "OS/2 2.x" (16 to 64 bytes but 40, 52 and
  // 56), "BITMAPINFOHEADER" (40), "BITMAPV2INFOHEADER" (52),
  // "BITMAPV3INFOHEADER" (56), "BITMAPV4HEADER" (108), "BITMAPV5HEADER" (124).
  const char* headerKind = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;        // positive; topDown gives the row order
  bool topDown = false;           // rows stored from the top (a negative height)
  std::uint16_t bitCount = 0;     // 1, 2, 4, 8, 16, 24 or 32
  std::uint32_t compression = 0;  // the header's code: 0, 1, 2, 3 or 6
  // "BI_RGB", "BI_RLE8", "BI_RLE4", "BI_BITFIELDS" or "BI_ALPHABITFIELDS".
  const char* compressionName = nullptr;
  // At 16 and 32 bits, the masks the pixels are read by (for BI_RGB the
  // 5-5-5 or 8-8-8 ones, with no alpha); 0 at other depths.
  std::uint32_t redMask = 0, greenMask = 0, blueMask = 0, alphaMask = 0;
  std::uint32_t paletteEntries = 0;  // colour-table entries the file holds
  std::uint32_t pixelOffset = 0;     // where the pixel rows or run-length codes start
  // What loading makes of it: 8 (grey values: an 8-bit file without a colour
  // table or with the grey ramp), 32 (a file with an alpha mask, or 32-bit
  // BI_RGB) or 24 (every other file: colours applied), in loadedBytes pixel
  // bytes. loadedAlpha: the fourth byte is the file's alpha and the loaded
  // bitmap's alpha flag says valid.
  std::uint16_t loadedBitCount = 0;
  bool loadedAlpha = false;
  std::uint32_t loadedBytes = 0;
};

// The first bytes of a file that hold every header, the bit-field masks and
// the part of the colour table that DescribeBitmapFile reads.
inline constexpr std::size_t kBitmapFileHeadBytes = 1178;

// Describes the bitmap file whose first headBytes bytes are at `head` (all of
// it, or at least kBitmapFileHeadBytes) and which is fileBytes long. Reads
// only head[0, min(headBytes, fileBytes)); the pixels are not looked at.
// Null and `format` filled when the headers are ones CRZDIB2::CreateFromFile
// accepts, and it then loads the file unless the pixel data itself is bad (a
// run-length stream that leaves the image or ends early, rows cut short by a
// file that shrank); otherwise the phrase BitmapFileProblem would give for
// the headers, and `format` reads as default-constructed. Thread-safe.
KOLVEX_API const char* DescribeBitmapFile(const void* head, std::size_t headBytes,
                                          std::uint64_t fileBytes, BitmapFileFormat& format);

// The same for `file` from its current position: reads at most
// kBitmapFileHeadBytes bytes with file.Read (the position moves past them)
// and takes the size from file.GetLength(). A failing read throws its
// CFileException* to the caller, with `format` reading as default.
KOLVEX_API const char* DescribeBitmapFile(CFile& file, BitmapFileFormat& format);

// ---- Streams of files ----

// Bytes of the file header that starts every bitmap file: "BM", the file's
// length, and where its pixels start.
inline constexpr std::size_t kBitmapFileHeaderBytes = 14;

// The length that the file header at head[0, kBitmapFileHeaderBytes) gives
// its file, for reading bitmap files one after another from a stream, where
// it tells where the next one starts. 0 when the bytes are no bitmap file
// header: no "BM", or a length that cannot hold the smallest info header or
// is beyond kMaxBitmapBytes (<kolvex/base/geometry.h>). The length is the
// file's word for it: check it against what the stream holds before
// allocating it, and read the file in bounded pieces where the stream cannot
// tell. Reads 14 bytes; thread-safe.
KOLVEX_API std::uint32_t DeclaredBitmapFileBytes(const void* head);

// ---- Saving with alpha ----

// Writes `dib` as a bitmap file at the current position of `file`, as
// CRZDIB2::SaveAs does but keeping alpha: a 32-bit bitmap gets a version-5
// info header (BITMAPV5HEADER, sRGB) with BI_BITFIELDS masks that name bytes
// 0, 1, 2 and 3 of each pixel blue, green, red and alpha, as other programs
// read RGBA files, whatever the bitmap's alpha flag says. A bitmap of any other
// depth has no alpha to keep: it is written exactly as SaveAs writes it
// (40-byte header, grey ramp for 1 to 8 bits), without calling that virtual
// member. Rows go out bottom-up as stored, with their padding.
// Failure, as SaveAs: false, nothing written, for a bitmap without a header
// or pixels, for a file that would exceed kMaxBitmapBytes, and when out of
// memory (at depths other than 32); false when a write of `file` throws a
// framework exception (it is deleted; what was written stays). Reads the bitmap only: several
// threads may save one bitmap, or its sharers, at once.
KOLVEX_API bool SaveWithAlpha(const CRZDIB2& dib, CFile& file);

}  // namespace kolvex
