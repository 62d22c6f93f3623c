// The reader of bitmap files and resources: every check before a byte is
// allocated, then the whole image converted row by row or decoded from its
// run-length stream. Also the public kolvex::BitmapFileProblem and
// kolvex::DescribeBitmapFile, which are the reader's answers alone.

#include "dib/bitmap_file_read.h"

#include "base/size.h"

#include <kolvex/dib/bitmap_file.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>

namespace kolvex::detail {

namespace {

constexpr const char* kTooShort = "not a bitmap file (too short)";
constexpr const char* kBadMasks = "invalid bitmap (bit-field masks)";

constexpr DWORD kMasks555[4] = {0x7C00, 0x03E0, 0x001F, 0};
constexpr DWORD kMasks888[4] = {kBgraMasks[0], kBgraMasks[1], kBgraMasks[2], 0};

// The info header as a classic one: a core header's 16-bit fields widened, the
// fields an OS/2 2.x header leaves out zero.
const char* ReadInfoHeader(const BYTE* data, std::size_t available, BitmapSource source,
                           BitmapPlan& plan) {
  if (available < kFileHeaderBytes + 4) return kTooShort;
  const DWORD bytes = ReadLE32(data + kFileHeaderBytes);
  const InfoHeaderKind* kind = FindInfoHeaderKind(bytes);
  if (kind == nullptr || (source == BitmapSource::Resource && bytes != kInfoHeaderBytes)) {
    return "unsupported bitmap (info header size)";
  }
  if (kFileHeaderBytes + bytes > available) return kTooShort;
  const BYTE* h = data + kFileHeaderBytes;
  BITMAPINFOHEADER& info = plan.info;
  std::memset(&info, 0, sizeof info);
  if (kind->family == HeaderFamily::Core) {
    info.biWidth = ReadLE16(h + 4);
    info.biHeight = ReadLE16(h + 6);
    info.biPlanes = ReadLE16(h + 8);
    info.biBitCount = ReadLE16(h + 10);
  } else {
    std::memcpy(&info, h, std::min<std::size_t>(bytes, sizeof info));
  }
  info.biSize = kInfoHeaderBytes;
  plan.kind = kind;
  plan.headerBytes = bytes;
  return nullptr;
}

bool IsContiguous(DWORD mask) {
  if (mask == 0) return true;
  mask >>= std::countr_zero(mask);
  return (mask & (mask + 1)) == 0;
}

// A channel keeps the top 8 bits of its mask at most and widens them by the
// library's one rule (WidenChannel).
void SetChannel(DWORD mask, Channel& channel) {
  const auto width = static_cast<unsigned>(std::popcount(mask));
  const unsigned bits = std::min(width, 8u);
  channel.shift = mask == 0 ? 0 : static_cast<unsigned>(std::countr_zero(mask)) + width - bits;
  channel.kept = (1u << bits) - 1;
  for (unsigned v = 0; v <= channel.kept; ++v) channel.table[v] = WidenChannel(v, bits);
}

// Checks the masks of a bit-field bitmap (each contiguous, inside the pixel,
// none overlapping another, some colour among them) and picks its row format:
// the library's own layout is copied, anything else widened channel by
// channel. An alpha mask makes the result 32 bits with alpha.
const char* FormatFromMasks(BitmapPlan& plan) {
  const DWORD inside = plan.sourceBits == 16 ? 0xFFFF : 0xFFFFFFFF;
  DWORD seen = 0;
  for (const DWORD mask : plan.masks) {
    if (!IsContiguous(mask) || (mask & ~inside) != 0 || (mask & seen) != 0) return kBadMasks;
    seen |= mask;
  }
  if ((plan.masks[0] | plan.masks[1] | plan.masks[2]) == 0) return kBadMasks;
  plan.alpha = plan.masks[3] != 0;
  if (plan.sourceBits == 32 && std::equal(plan.masks, plan.masks + 4, kBgraMasks)) {
    plan.format = RowFormat::Copy;
    return nullptr;
  }
  plan.format = RowFormat::BitFields;
  for (int c = 0; c < 4; ++c) SetChannel(plan.masks[c], plan.channels[c]);
  return nullptr;
}

// The masks of a bit-field file: inside the later Windows headers, right
// behind a classic one (whose bytes `maskBytes` then counts).
const char* ReadMasks(const BYTE* data, std::size_t available, DWORD compression, BitmapPlan& plan,
                      std::size_t& maskBytes) {
  const BYTE* at = data + kFileHeaderBytes + kInfoHeaderBytes;
  std::size_t count = plan.kind->alphaMask ? 4 : 3;
  if (!plan.kind->masksInside) {
    count = compression == kCompressionAlphaBitFields ? 4 : 3;
    maskBytes = 4 * count;
    if (kFileHeaderBytes + kInfoHeaderBytes + maskBytes > available) return kTooShort;
  }
  for (std::size_t i = 0; i < count; ++i) plan.masks[i] = ReadLE32(at + 4 * i);
  return FormatFromMasks(plan);
}

// The row format of a file by its compression and depth.
const char* ChooseFormat(const BYTE* data, std::size_t available, BitmapPlan& plan,
                         std::size_t& maskBytes) {
  const WORD bits = plan.sourceBits;
  const DWORD compression = plan.info.biCompression;
  if (plan.kind->family == HeaderFamily::Os2 && compression == kCompressionOs2Huffman) {
    return "unsupported bitmap (OS/2 Huffman compression)";
  }
  if (plan.kind->family == HeaderFamily::Os2 && compression == kCompressionOs2Rle24) {
    return "unsupported bitmap (OS/2 RLE24 compression)";
  }
  switch (compression) {
    case BI_RGB:
      if (bits == 16) {
        std::copy(kMasks555, kMasks555 + 4, plan.masks);
        return FormatFromMasks(plan);
      }
      if (bits == 32) std::copy(kMasks888, kMasks888 + 4, plan.masks);
      plan.format = bits <= 8 ? RowFormat::Index : RowFormat::Copy;
      return nullptr;
    case BI_RLE8:
    case BI_RLE4:
      if (bits != (compression == BI_RLE8 ? 8 : 4)) {
        return "invalid bitmap (compression and bit count disagree)";
      }
      if (plan.topDown) return "invalid bitmap (top-down run-length image)";
      plan.runLength = compression == BI_RLE8 ? RunLength::Rle8 : RunLength::Rle4;
      plan.format = RowFormat::Index;
      return nullptr;
    case BI_BITFIELDS:
    case kCompressionAlphaBitFields:
      if (bits != 16 && bits != 32) return "invalid bitmap (bit fields need 16 or 32 bits)";
      return ReadMasks(data, available, compression, plan, maskBytes);
    case kCompressionJpeg:
      return "unsupported bitmap (embedded JPEG)";
    case kCompressionPng:
      return "unsupported bitmap (embedded PNG)";
    default:
      return "unsupported bitmap (compression)";
  }
}

// Whether an 8-bit table is the whole grey ramp: its entries then describe
// the bitmap's own single-channel values.
bool IsGreyRamp(const RGBQUAD* table, std::size_t entries) {
  if (entries != 256) return false;
  for (std::size_t i = 0; i < entries; ++i) {
    const BYTE level = GreyLevel(static_cast<unsigned>(i), 8);
    if (table[i].rgbBlue != level || table[i].rgbGreen != level || table[i].rgbRed != level) {
      return false;
    }
  }
  return true;
}

// The palette of an indexed file: the table's entries for the indices the
// depth has, and entry 0 for indices past a shorter table.
void ReadPalette(const BYTE* table, std::size_t entries, std::size_t entryBytes, BitmapPlan& plan) {
  const std::size_t indices = std::size_t{1} << plan.sourceBits;
  const std::size_t usable = std::min(entries, indices);
  for (std::size_t i = 0; i < usable; ++i, table += entryBytes) {
    plan.palette[i] = RGBQUAD{table[0], table[1], table[2], 0};
  }
  std::fill(plan.palette + usable, plan.palette + indices, plan.palette[0]);
}

}  // namespace

const char* ParseHeaders(const BYTE* data, std::size_t available, std::uint64_t size,
                         BitmapSource source, BitmapPlan& plan) {
  std::memset(&plan, 0, sizeof plan);
  const bool file = source == BitmapSource::File;
  available = static_cast<std::size_t>(std::min<std::uint64_t>(available, size));
  if (data == nullptr) return kTooShort;
  if (file &&
      (available < 2 || data[0] != (kFileSignature & 0xFF) || data[1] != kFileSignature >> 8)) {
    return available < 2 ? kTooShort : "not a bitmap file (no BM signature)";
  }
  if (const char* why = ReadInfoHeader(data, available, source, plan)) return why;

  const BITMAPINFOHEADER& info = plan.info;
  if (info.biWidth <= 0) return "invalid bitmap (width not positive)";
  if (info.biHeight == 0 || info.biHeight == INT32_MIN) return "invalid bitmap (height)";
  if (file && info.biPlanes != 1) return "invalid bitmap (planes)";
  const WORD bits = info.biBitCount;
  plan.sourceBits = bits;
  plan.topDown = info.biHeight < 0;
  if (file && bits == 64) return "unsupported bitmap (64 bits per pixel)";
  if (file ? !IsFileBitCount(bits) : !IsDibBitCount(bits)) return "unsupported bitmap (bit count)";

  // Row format by compression. A resource keeps its BI_RGB pixels at their
  // own depth; a file's indexed, 16-bit and bit-field rows are converted.
  std::size_t maskBytes = 0;
  plan.format = RowFormat::Copy;
  if (!file) {
    if (info.biCompression != BI_RGB) return "unsupported bitmap (compression)";
  } else if (const char* why = ChooseFormat(data, available, plan, maskBytes)) {
    return why;
  }

  // The colour table lies between the headers and the pixels. A core header
  // has no count of its own: its table ends at the pixels, if they come first.
  const bool core = plan.kind->family == HeaderFamily::Core;
  const std::size_t entryBytes = core ? kCoreColourEntryBytes : kColourEntryBytes;
  const std::uint64_t tableOffset = kFileHeaderBytes + plan.headerBytes + maskBytes;
  std::uint64_t entries = file ? FileColourTableEntries(bits, info.biClrUsed)
                               : ColourTableEntries(bits, info.biClrUsed);
  std::uint64_t pixelOffset = tableOffset + entryBytes * entries;
  if (file) {
    pixelOffset = ReadLE32(data + kPixelOffsetField);
    if (core && pixelOffset >= tableOffset) {
      entries = std::min(entries, (pixelOffset - tableOffset) / entryBytes);
    }
    // An 8-bit file may leave its table out entirely: its bytes are grey levels.
    if (bits == 8 && pixelOffset == tableOffset) entries = 0;
    if (pixelOffset < tableOffset + entryBytes * entries) {
      return "invalid bitmap (pixel offset inside headers)";
    }
    if (plan.format == RowFormat::Index && entries == 0 && bits != 8) {
      return "invalid bitmap (no colour table)";
    }
  }
  if (pixelOffset > size) return "invalid bitmap (truncated pixel data)";

  const LONG height = plan.topDown ? -info.biHeight : info.biHeight;
  const auto in = CheckedLayout(bits, info.biWidth, height);
  if (!in) return "unsupported bitmap (too large)";
  if (plan.runLength == RunLength::None && in->image > size - pixelOffset) {
    return "invalid bitmap (truncated pixel data)";
  }

  if (plan.format == RowFormat::Index) {
    const std::size_t usable = static_cast<std::size_t>(std::min<std::uint64_t>(entries, 256));
    if (tableOffset + entryBytes * usable > available) return kTooShort;
    ReadPalette(data + tableOffset, usable, entryBytes, plan);
    if (bits == 8 && (entries == 0 || IsGreyRamp(plan.palette, usable)))
      plan.format = RowFormat::Copy;
  }

  plan.bits = plan.format == RowFormat::Copy ? bits : plan.alpha ? 32 : 24;
  const auto out = CheckedLayout(plan.bits, info.biWidth, height);
  if (!out) return "unsupported bitmap (too large)";
  if (plan.runLength != RunLength::None &&
      out->image > kRunLengthExpansion * size + kRunLengthAllowance) {
    return "unsupported bitmap (run-length image too large for its file)";
  }

  plan.info.biHeight = height;
  plan.width = info.biWidth;
  plan.height = height;
  plan.sourceStride = in->stride;
  plan.outStride = out->stride;
  plan.pixelOffset = static_cast<std::size_t>(pixelOffset);
  plan.pixelBytes = static_cast<std::size_t>(size - pixelOffset);
  plan.tableEntries = static_cast<DWORD>(entries);
  return nullptr;
}

const char* ParseBitmap(const BYTE* data, std::size_t size, BitmapSource source, BitmapPlan& plan) {
  if (const char* why = ParseHeaders(data, size, size, source, plan)) return why;
  if (plan.runLength == RunLength::None) return nullptr;
  return WalkRunLength(data + plan.pixelOffset, plan.pixelBytes, plan.runLength, plan.width,
                       plan.height, nullptr);
}

}  // namespace kolvex::detail

namespace kolvex {

const char* BitmapFileProblem(const void* data, std::size_t size) {
  detail::BitmapPlan plan;
  return detail::ParseBitmap(static_cast<const BYTE*>(data), size, detail::BitmapSource::File,
                             plan);
}

static_assert(kBitmapFileHeadBytes >= detail::kFileHeadBytes);

const char* DescribeBitmapFile(const void* head, std::size_t headBytes, std::uint64_t fileBytes,
                               BitmapFileFormat& format) {
  format = BitmapFileFormat{};
  if (fileBytes > detail::kMaxFileBytes) return "not a bitmap file (too large)";
  detail::BitmapPlan plan;
  if (const char* why = detail::ParseHeaders(static_cast<const BYTE*>(head), headBytes, fileBytes,
                                             detail::BitmapSource::File, plan)) {
    return why;
  }
  format.headerBytes = plan.headerBytes;
  format.headerKind = plan.kind->name;
  format.width = plan.width;
  format.height = plan.height;
  format.topDown = plan.topDown;
  format.bitCount = plan.sourceBits;
  format.compression = plan.info.biCompression;
  format.compressionName = detail::CompressionName(plan.info.biCompression);
  format.redMask = plan.masks[0];
  format.greenMask = plan.masks[1];
  format.blueMask = plan.masks[2];
  format.alphaMask = plan.masks[3];
  format.paletteEntries = plan.tableEntries;
  format.pixelOffset = static_cast<std::uint32_t>(plan.pixelOffset);
  format.loadedBitCount = plan.bits;
  format.loadedAlpha = plan.alpha;
  format.loadedBytes =
      static_cast<std::uint32_t>(plan.outStride * static_cast<std::size_t>(plan.height));
  return nullptr;
}

}  // namespace kolvex
