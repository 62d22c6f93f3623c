// The reader of bitmap files and resources: every check before a byte is
// allocated, then the whole image converted row by row. Also the public
// kolvex::BitmapFileProblem, which is the reader's answer alone.

#include <kolvex/base/size.h>
#include <kolvex/windows/bitmap_file.h>
#include <kolvex/windows/bitmap_file_read.h>

#include <climits>
#include <cstdint>
#include <cstring>

namespace kolvex::detail {

namespace {

constexpr const char* kTooShort = "not a bitmap file (too short)";

// Picks the row format of a bit-field bitmap from its masks, or reports why not.
const char* FormatFromMasks(WORD bits, DWORD red, DWORD green, DWORD blue, DWORD alpha,
                            RowFormat& format) {
  if (bits == 16 && red == 0x7C00 && green == 0x03E0 && blue == 0x001F) {
    format = RowFormat::Rgb555;
    return nullptr;
  }
  if (bits == 16 && red == 0xF800 && green == 0x07E0 && blue == 0x001F) {
    format = RowFormat::Rgb565;
    return nullptr;
  }
  if (bits == 32 && red == 0x00FF0000 && green == 0x0000FF00 && blue == 0x000000FF &&
      (alpha == 0 || alpha == 0xFF000000)) {
    format = RowFormat::Copy;
    return nullptr;
  }
  return "unsupported bitmap (bit-field masks)";
}

// The row format of a bit-field file, from masks inside the info header or
// right behind a classic one (whose bytes `maskBytes` then counts).
const char* ReadMasks(const BYTE* data, std::size_t size, const InfoHeaderKind& kind, WORD bits,
                      std::size_t& maskBytes, RowFormat& format) {
  const BYTE* masks = data + kFileHeaderBytes + kInfoHeaderBytes;
  if (!kind.masksInside) {
    maskBytes = kColourMaskBytes;
    if (kFileHeaderBytes + kInfoHeaderBytes + maskBytes > size) return kTooShort;
  }
  const DWORD alpha = kind.alphaMask ? ReadLE32(masks + kColourMaskBytes) : 0;
  return FormatFromMasks(bits, ReadLE32(masks), ReadLE32(masks + 4), ReadLE32(masks + 8), alpha,
                         format);
}

// Whether an 8-bit table is the grey ramp: its entries then describe the
// bitmap's own single-channel values.
bool IsGreyRamp(const RGBQUAD* table, std::size_t entries) {
  for (std::size_t i = 0; i < entries; ++i) {
    const BYTE level = GreyLevel(static_cast<unsigned>(i), 8);
    if (table[i].rgbBlue != level || table[i].rgbGreen != level || table[i].rgbRed != level) {
      return false;
    }
  }
  return true;
}

}  // namespace

const char* ParseBitmap(const BYTE* data, std::size_t size, BitmapSource source,
                        BitmapPlan& plan) {
  std::memset(&plan, 0, sizeof plan);
  const bool file = source == BitmapSource::File;
  if (data == nullptr || size < kFileHeaderBytes + kInfoHeaderBytes) return kTooShort;
  if (file && (data[0] != (kFileSignature & 0xFF) || data[1] != kFileSignature >> 8)) {
    return "not a bitmap file (no BM signature)";
  }

  // A resource carries the classic header only.
  const DWORD infoSize = ReadLE32(data + kFileHeaderBytes);
  const InfoHeaderKind* kind = FindInfoHeaderKind(infoSize);
  if (kind == nullptr || (!file && infoSize != kInfoHeaderBytes)) {
    return "unsupported bitmap (info header size)";
  }
  if (kFileHeaderBytes + infoSize > size) return kTooShort;

  BITMAPINFOHEADER info;
  static_assert(sizeof info == kInfoHeaderBytes);
  std::memcpy(&info, data + kFileHeaderBytes, sizeof info);
  if (info.biWidth <= 0) return "invalid bitmap (width not positive)";
  if (info.biHeight == 0 || info.biHeight == INT32_MIN) return "invalid bitmap (height)";
  const WORD bits = info.biBitCount;
  if (!IsDibBitCount(bits)) return "unsupported bitmap (bit count)";

  // Row format by compression. A resource keeps its pixels at their own
  // depth; a file's indexed and 16-bit rows become 24-bit colours.
  RowFormat format = RowFormat::Copy;
  std::size_t maskBytes = 0;
  switch (info.biCompression) {
    case BI_RGB:
      if (file && bits == 16) {
        format = RowFormat::Rgb555;
      } else if (file && IsIndexedBitCount(bits)) {
        format = bits == 1 ? RowFormat::Index1 : bits == 4 ? RowFormat::Index4 : RowFormat::Index8;
      }
      break;
    case BI_BITFIELDS:
      if (file && (bits == 16 || bits == 32)) {
        if (const char* why = ReadMasks(data, size, *kind, bits, maskBytes, format)) return why;
        break;
      }
      [[fallthrough]];
    default:
      return "unsupported bitmap (compression)";
  }

  const std::uint64_t tableEntries = ColourTableEntries(bits, info.biClrUsed);
  const std::uint64_t tableOffset = kFileHeaderBytes + infoSize + maskBytes;
  const std::uint64_t tableEnd = tableOffset + kColourEntryBytes * tableEntries;

  std::uint64_t pixelOffset = tableEnd;
  bool tableAbsent = false;
  if (file) {
    pixelOffset = ReadLE32(data + kPixelOffsetField);
    // An 8-bit file may leave its table out entirely: its bytes are grey levels.
    tableAbsent = bits == 8 && pixelOffset == tableOffset;
    if (pixelOffset < tableEnd && !tableAbsent) return "invalid bitmap (pixel offset inside headers)";
  }
  if (pixelOffset > size) return "invalid bitmap (truncated pixel data)";

  const LONG height = info.biHeight < 0 ? -info.biHeight : info.biHeight;
  const auto in = CheckedLayout(bits, info.biWidth, height);
  if (!in) return "unsupported bitmap (too large)";
  if (in->image > size - pixelOffset) return "invalid bitmap (truncated pixel data)";

  if (format == RowFormat::Index8 || format == RowFormat::Index4 || format == RowFormat::Index1) {
    const std::uint64_t indices = std::uint64_t{1} << bits;
    const auto usable =
        static_cast<std::size_t>(tableAbsent ? 0 : tableEntries < indices ? tableEntries : indices);
    std::memcpy(plan.palette, data + tableOffset, usable * sizeof(RGBQUAD));
    if (format == RowFormat::Index8 && (tableAbsent || IsGreyRamp(plan.palette, usable))) {
      format = RowFormat::Copy;
    }
  }

  plan.bits = format == RowFormat::Copy ? bits : 24;
  plan.height = height;
  const auto out = CheckedLayout(plan.bits, info.biWidth, height);
  if (!out) return "unsupported bitmap (too large)";

  plan.info = info;
  plan.info.biSize = kInfoHeaderBytes;
  plan.info.biHeight = plan.height;
  plan.width = info.biWidth;
  plan.topDown = info.biHeight < 0;
  plan.sourceBits = bits;
  plan.sourceStride = in->stride;
  plan.outStride = out->stride;
  plan.pixelOffset = static_cast<std::size_t>(pixelOffset);
  plan.pixelBytes = size - plan.pixelOffset;
  plan.format = format;
  return nullptr;
}

void ConvertImage(const BitmapPlan& plan, const BYTE* data, BYTE* out) {
  const BYTE* in = data + plan.pixelOffset;
  const auto rows = static_cast<std::size_t>(plan.height);
  for (std::size_t r = 0; r < rows; ++r) {
    const std::size_t to = plan.topDown ? rows - 1 - r : r;
    ConvertRow(plan, in + r * plan.sourceStride, out + to * plan.outStride);
  }
}

}  // namespace kolvex::detail

namespace kolvex {

const char* BitmapFileProblem(const void* data, std::size_t size) {
  detail::BitmapPlan plan;
  return detail::ParseBitmap(static_cast<const BYTE*>(data), size, detail::BitmapSource::File,
                             plan);
}

}  // namespace kolvex
