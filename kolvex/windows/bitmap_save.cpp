// CRZDIB2: writing the bitmap as a bitmap file.

#include <kolvex/base/size.h>
#include <kolvex/platform/allocation.h>
#include <kolvex/windows/dib.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

// The headers are written as they lie in memory.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr std::size_t kFileHeaderBytes = sizeof(BITMAPFILEHEADER);
constexpr std::size_t kInfoHeaderBytes = sizeof(BITMAPINFOHEADER);

// Bytes of the colour table that an info header calls for.
std::uint64_t ColourTableBytes(const BITMAPINFOHEADER& h) {
  if (h.biClrUsed != 0) return 4 * std::uint64_t{h.biClrUsed};
  switch (h.biBitCount) {
    case 1:
      return 8;
    case 4:
      return 64;
    case 8:
      return 1024;
    default:
      return 0;
  }
}

// Pixel bytes of the file. Run-length images keep their own count, which must
// not reach past the rows the bitmap holds; the rest are whole rows. Nothing
// for a geometry that the library could not hold in memory.
std::optional<std::uint64_t> FilePixelBytes(const BITMAPINFOHEADER& h) {
  const auto image = kolvex::detail::ImageBytes(h);
  if (!image) return std::nullopt;
  if (h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4) {
    if (h.biSizeImage > *image) return std::nullopt;
    return h.biSizeImage;
  }
  return *image;
}

// The colour-table area: a grey ramp over the 2^bits indices of an indexed
// bitmap (the levels drawing shows), zeros for every other entry.
void FillColourTable(BYTE* table, std::size_t bytes, WORD bitCount) {
  std::memset(table, 0, bytes);
  if (bitCount != 1 && bitCount != 4 && bitCount != 8) return;
  const std::size_t levels = std::size_t{1} << bitCount;
  const std::size_t entries = std::min(levels, bytes / sizeof(RGBQUAD));
  for (std::size_t i = 0; i < entries; ++i) {
    const auto level = static_cast<BYTE>(i * 255 / (levels - 1));
    table[4 * i] = table[4 * i + 1] = table[4 * i + 2] = level;
  }
}

}  // namespace

bool CRZDIB2::SaveAs(CFile& file) {
  if (!IsValidDIB()) return false;
  BITMAPINFOHEADER info;
  GetBitmapInfoHeader(info);

  const auto image = FilePixelBytes(info);
  if (!image) return false;
  const std::uint64_t table = ColourTableBytes(info);
  const std::uint64_t total = kFileHeaderBytes + kInfoHeaderBytes + table + *image;
  // The file's sizes are 32-bit fields, and each write takes a 32-bit count.
  if (total > static_cast<std::uint64_t>(kolvex::detail::kMaxBufferBytes)) return false;
  info.biSizeImage = static_cast<DWORD>(*image);

  BITMAPFILEHEADER head{};
  head.bfType = 0x4D42;  // "BM"
  head.bfSize = static_cast<DWORD>(total);
  head.bfOffBits = static_cast<DWORD>(kFileHeaderBytes + kInfoHeaderBytes + table);

  try {
    const std::size_t infoBytes = kInfoHeaderBytes + static_cast<std::size_t>(table);
    const std::unique_ptr<BYTE[]> infoAndTable(kolvex::detail::NewArray<BYTE>(infoBytes));
    std::memcpy(infoAndTable.get(), &info, kInfoHeaderBytes);
    FillColourTable(infoAndTable.get() + kInfoHeaderBytes, static_cast<std::size_t>(table),
                    info.biBitCount);

    file.Write(&head, static_cast<UINT>(kFileHeaderBytes));
    file.Write(infoAndTable.get(), static_cast<UINT>(infoBytes));
    file.Write(GetBytes(), static_cast<UINT>(*image));
    return true;
  } catch (CException* e) {
    e->Delete();
    return false;
  }
}
