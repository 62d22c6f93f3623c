#include <kolvex/windows/bmp_format.h>

#include <kolvex/base/size.h>

#include <climits>
#include <cstdint>
#include <cstring>

namespace kolvex::detail {

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kInfoHeaderBytes = 40;

DWORD Read32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 |
         static_cast<DWORD>(p[2]) << 16 | static_cast<DWORD>(p[3]) << 24;
}

bool KnownInfoHeaderSize(DWORD size) {
  // The classic header and the later Windows extensions of it.
  return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

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

// An 8-bit table whose entry i is the grey level i describes the bitmap's own
// single-channel values.
bool IsGreyRamp(const RGBQUAD* table, std::size_t entries) {
  for (std::size_t i = 0; i < entries; ++i) {
    if (table[i].rgbBlue != i || table[i].rgbGreen != i || table[i].rgbRed != i) return false;
  }
  return true;
}

}  // namespace

const char* ParseBitmap(const BYTE* data, std::size_t size, BitmapSource source,
                        BitmapPlan& plan) {
  std::memset(&plan, 0, sizeof plan);
  const bool file = source == BitmapSource::File;
  if (data == nullptr || size < kFileHeaderBytes + kInfoHeaderBytes) {
    return "not a bitmap file (too short)";
  }
  if (file && (data[0] != 'B' || data[1] != 'M')) return "not a bitmap file (no BM signature)";

  const DWORD infoSize = Read32(data + kFileHeaderBytes);
  if (file ? !KnownInfoHeaderSize(infoSize) : infoSize != kInfoHeaderBytes) {
    return "unsupported bitmap (info header size)";
  }
  if (kFileHeaderBytes + infoSize > size) return "not a bitmap file (too short)";

  BITMAPINFOHEADER info;
  std::memcpy(&info, data + kFileHeaderBytes, sizeof info);
  if (info.biWidth <= 0) return "invalid bitmap (width not positive)";
  if (info.biHeight == 0 || info.biHeight == INT32_MIN) return "invalid bitmap (height)";
  const WORD bits = info.biBitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    return "unsupported bitmap (bit count)";
  }

  // Row format and, for bit fields, where the masks are.
  RowFormat format = RowFormat::Copy;
  std::size_t maskBytes = 0;
  if (info.biCompression == BI_BITFIELDS && file && (bits == 16 || bits == 32)) {
    const BYTE* masks = data + kFileHeaderBytes + kInfoHeaderBytes;
    if (infoSize == kInfoHeaderBytes) {
      maskBytes = 12;  // the three masks follow the classic header
      if (kFileHeaderBytes + kInfoHeaderBytes + maskBytes > size) {
        return "not a bitmap file (too short)";
      }
    }
    const DWORD alpha = infoSize >= 56 ? Read32(masks + 12) : 0;
    if (const char* why = FormatFromMasks(bits, Read32(masks), Read32(masks + 4),
                                          Read32(masks + 8), alpha, format)) {
      return why;
    }
  } else if (info.biCompression != BI_RGB) {
    return "unsupported bitmap (compression)";
  } else if (file && bits == 16) {
    format = RowFormat::Rgb555;
  } else if (file && bits <= 8) {
    format = bits == 1 ? RowFormat::Index1 : bits == 4 ? RowFormat::Index4 : RowFormat::Index8;
  }

  // The colour table: biClrUsed entries, or a full table below 16 bits.
  const std::uint64_t tableEntries =
      info.biClrUsed != 0 ? info.biClrUsed : bits <= 8 ? (1u << bits) : 0;
  const std::uint64_t tableOffset = kFileHeaderBytes + infoSize + maskBytes;
  const std::uint64_t tableEnd = tableOffset + 4 * tableEntries;

  std::uint64_t pixelOffset = tableEnd;
  bool tableAbsent = false;
  if (file) {
    pixelOffset = Read32(data + 10);
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
    const std::uint64_t indices = 1u << bits;
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
