// CRZDIB2 and bitmap files: loading from memory and from a file (the one
// place the library reads a bitmap file, through CFile), and saving.

#include "base/bitmap_format.h"
#include "base/size.h"
#include "dib/bitmap_file_read.h"
#include "platform/allocation.h"

#include <kolvex/dib/bitmap_file.h>
#include <kolvex/dib/dib.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

// The headers are written as they lie in memory.
static_assert(std::endian::native == std::endian::little);
static_assert(sizeof(BITMAPFILEHEADER) == kolvex::detail::kFileHeaderBytes);
static_assert(offsetof(BITMAPFILEHEADER, bfSize) == kolvex::detail::kFileSizeField);
static_assert(offsetof(BITMAPFILEHEADER, bfOffBits) == kolvex::detail::kPixelOffsetField);
static_assert(sizeof(BITMAPINFOHEADER) == kolvex::detail::kInfoHeaderBytes);
static_assert(sizeof(RGBQUAD) == kolvex::detail::kColourEntryBytes);

namespace {

using kolvex::detail::kFileHeaderBytes;
using kolvex::detail::kInfoHeaderBytes;

constexpr const char* kOutOfMemory = "out of memory";
constexpr const char* kNotRegular = "not a regular file";

// Loads the bitmap file image at bytes[0, size) into dib (emptied first):
// null when loaded, otherwise why not.
const char* LoadImage(CRZDIB2& dib, const BYTE* bytes, std::size_t size) {
  dib.Delete();
  kolvex::detail::BitmapPlan plan;
  if (const char* why =
          kolvex::detail::ParseBitmap(bytes, size, kolvex::detail::BitmapSource::File, plan)) {
    return why;
  }
  // The geometry is checked: Create answers false only when memory runs out.
  if (!dib.Create(plan.bits, plan.width, plan.height, kolvex::kProgressiveFrame))
    return kOutOfMemory;
  kolvex::detail::ConvertImage(plan, bytes, dib.GetBytes());
  // A 32-bit file without an alpha mask keeps its fourth bytes, which carry
  // no alpha.
  if (plan.bits == 32 && !plan.alpha) dib.SetAlphaValid(false);
  return nullptr;
}

// The same for the rest of `file`, read into one buffer.
const char* LoadFile(CRZDIB2& dib, CFile& file) {
  dib.Delete();
  // A pipe or device has no length to read up to, and its reads may wait for
  // another program indefinitely.
  if (!file.IsRegularFile()) return kNotRegular;
  const ULONGLONG length = file.GetLength();
  const ULONGLONG position = file.GetPosition();
  const ULONGLONG size = length > position ? length - position : 0;
  if (size > kolvex::detail::kMaxFileBytes) return "not a bitmap file (too large)";
  std::unique_ptr<BYTE[]> buffer;
  try {
    buffer.reset(kolvex::detail::NewArray<BYTE>(static_cast<std::size_t>(size)));
  } catch (CMemoryException* e) {
    e->Delete();
    return kOutOfMemory;
  }
  // Fewer bytes arrive when the file shrank meanwhile; the reader judges them.
  const UINT read = file.Read(buffer.get(), static_cast<UINT>(size));
  return LoadImage(dib, buffer.get(), read);
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

}  // namespace

// ---- Loading ----

bool CRZDIB2::CreateFromMemory(const void* data, std::size_t size) {
  return LoadImage(*this, static_cast<const BYTE*>(data), size) == nullptr;
}

bool CRZDIB2::CreateFromFile(CFile& file, const char** ppszProblem) {
  const char* problem = LoadFile(*this, file);
  if (ppszProblem != nullptr) *ppszProblem = problem;
  return problem == nullptr;
}

const char* kolvex::DescribeBitmapFile(CFile& file, kolvex::BitmapFileFormat& format) {
  format = BitmapFileFormat{};
  const ULONGLONG length = file.GetLength();
  const ULONGLONG position = file.GetPosition();
  const ULONGLONG size = length > position ? length - position : 0;
  BYTE head[kolvex::kBitmapFileHeadBytes];
  const auto wanted = static_cast<UINT>(size < sizeof head ? size : sizeof head);
  const UINT read = file.Read(head, wanted);
  // A file that shrank meanwhile is judged by what it still holds.
  return DescribeBitmapFile(head, read, read < wanted ? read : size, format);
}

bool CRZDIB2::CreateFromFile(const char* path) {
  Delete();
  if (path == nullptr) return false;
  CFile file;
  if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite)) return false;
  try {
    return CreateFromFile(file);
  } catch (CException* e) {
    e->Delete();
    Delete();
    return false;
  }
}

// ---- Saving ----

bool CRZDIB2::SaveAs(CFile& file) {
  if (!IsValidDIB()) return false;
  BITMAPINFOHEADER info;
  GetBitmapInfoHeader(info);

  const auto image = FilePixelBytes(info);
  if (!image) return false;
  const std::uint64_t table = kolvex::detail::kColourEntryBytes *
                              kolvex::detail::ColourTableEntries(info.biBitCount, info.biClrUsed);
  const std::uint64_t total = kFileHeaderBytes + kInfoHeaderBytes + table + *image;
  // The file's sizes are 32-bit fields, and each write takes a 32-bit count.
  if (total > static_cast<std::uint64_t>(kolvex::detail::kMaxBufferBytes)) return false;
  info.biSizeImage = static_cast<DWORD>(*image);

  BITMAPFILEHEADER head{};
  head.bfType = kolvex::detail::kFileSignature;
  head.bfSize = static_cast<DWORD>(total);
  head.bfOffBits = static_cast<DWORD>(kFileHeaderBytes + kInfoHeaderBytes + table);

  try {
    // The colour-table area holds the grey ramp that drawing shows for the
    // indices, and zeros for any further entries.
    const std::size_t infoBytes = kInfoHeaderBytes + static_cast<std::size_t>(table);
    const std::unique_ptr<BYTE[]> infoAndTable(kolvex::detail::NewArray<BYTE>(infoBytes));
    std::memcpy(infoAndTable.get(), &info, kInfoHeaderBytes);
    kolvex::detail::FillGreyRamp(
        infoAndTable.get() + kInfoHeaderBytes,
        static_cast<std::size_t>(table) / kolvex::detail::kColourEntryBytes, info.biBitCount);

    file.Write(&head, static_cast<UINT>(kFileHeaderBytes));
    file.Write(infoAndTable.get(), static_cast<UINT>(infoBytes));
    file.Write(GetBytes(), static_cast<UINT>(*image));
    return true;
  } catch (CException* e) {
    e->Delete();
    return false;
  }
}
