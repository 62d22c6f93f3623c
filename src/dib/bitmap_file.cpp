// CRZDIB2 and bitmap files: loading from memory and from a file (the one
// place the library reads a bitmap file, through CFile), the length a stream's
// file header declares, and saving, in the library's form or with alpha.

#include "base/bitmap_format.h"
#include "base/size.h"
#include "dib/bitmap_file_read.h"
#include "platform/allocation.h"
#include "platform/page_keeper.h"

#include <kolvex/dib/bitmap_file.h>
#include <kolvex/dib/dib.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
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
  // The file's bytes go into pages of the kind pixel storage is made of, kept
  // for reuse: loading frame after frame then reads into pages already
  // mapped. (A heap buffer of this size is a fresh mapping on every load
  // where the C library is told to give memory back early, as Dask's workers
  // are: each page then faults, several times the load itself.)
  struct FilePages {
    void* base;
    ~FilePages() { kolvex::platform::detail::FreePages(base); }
  };
  // An empty file still gets a page: the reader then says what it lacks.
  const std::size_t bytes = size == 0 ? 1 : static_cast<std::size_t>(size);
  const FilePages pages{kolvex::platform::detail::AllocatePages(bytes, bytes).base};
  if (pages.base == nullptr) return kOutOfMemory;
  auto* buffer = static_cast<BYTE*>(pages.base);
  // Fewer bytes arrive when the file shrank meanwhile; the reader judges them.
  const UINT read = file.Read(buffer, static_cast<UINT>(size));
  return LoadImage(dib, buffer, read);
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

namespace {

// The file header of a file of `total` bytes whose pixels start at `offset`.
BITMAPFILEHEADER FileHeader(std::uint64_t total, std::uint64_t offset) {
  BITMAPFILEHEADER head{};
  head.bfType = kolvex::detail::kFileSignature;
  head.bfSize = static_cast<DWORD>(total);
  head.bfOffBits = static_cast<DWORD>(offset);
  return head;
}

// Whether a file of `total` bytes can be written: its sizes are 32-bit
// fields, and each write takes a 32-bit count.
bool Writable(std::uint64_t total) { return total <= kolvex::detail::kMaxFileBytes; }

struct Part {
  const void* data;
  std::size_t bytes;  // below 2^31: the file's size is checked first
};

// Writes the parts in order: false, the framework's exception deleted, when a
// write throws (what was written stays).
bool WriteParts(CFile& file, std::initializer_list<Part> parts) {
  try {
    for (const Part& part : parts) file.Write(part.data, static_cast<UINT>(part.bytes));
    return true;
  } catch (CException* e) {
    e->Delete();
    return false;
  }
}

// The library's own form: the 40-byte header, a colour-table area for the
// indexed depths, the rows as stored. SaveAs, and SaveWithAlpha at depths
// without alpha.
bool SaveClassic(const CRZDIB2& dib, CFile& file) {
  if (!dib.IsValidDIB()) return false;
  BITMAPINFOHEADER info;
  dib.GetBitmapInfoHeader(info);

  const auto image = FilePixelBytes(info);
  if (!image) return false;
  const std::uint64_t table = kolvex::detail::kColourEntryBytes *
                              kolvex::detail::ColourTableEntries(info.biBitCount, info.biClrUsed);
  const std::uint64_t offset = kFileHeaderBytes + kInfoHeaderBytes + table;
  if (!Writable(offset + *image)) return false;
  info.biSizeImage = static_cast<DWORD>(*image);
  const BITMAPFILEHEADER head = FileHeader(offset + *image, offset);

  // The colour-table area holds the grey ramp that drawing shows for the
  // indices, and zeros for any further entries.
  const std::size_t infoBytes = kInfoHeaderBytes + static_cast<std::size_t>(table);
  std::unique_ptr<BYTE[]> infoAndTable;
  try {
    infoAndTable.reset(kolvex::detail::NewArray<BYTE>(infoBytes));
  } catch (CMemoryException* e) {
    e->Delete();
    return false;
  }
  std::memcpy(infoAndTable.get(), &info, kInfoHeaderBytes);
  kolvex::detail::FillGreyRamp(infoAndTable.get() + kInfoHeaderBytes,
                               static_cast<std::size_t>(table) / kolvex::detail::kColourEntryBytes,
                               info.biBitCount);
  return WriteParts(
      file, {{&head, kFileHeaderBytes}, {infoAndTable.get(), infoBytes}, {dib.GetBytes(), *image}});
}

}  // namespace

bool CRZDIB2::SaveAs(CFile& file) { return SaveClassic(*this, file); }

bool kolvex::SaveWithAlpha(const CRZDIB2& dib, CFile& file) {
  using namespace kolvex::detail;
  if (!dib.IsValidDIB() || dib.DIBBitCount() != 32) return SaveClassic(dib, file);
  const auto image = ImageBytes(*dib.GetBitmapInfoHeader());
  if (!image) return false;
  const std::uint64_t offset = kFileHeaderBytes + kV5InfoHeaderBytes;
  if (!Writable(offset + *image)) return false;
  const BITMAPFILEHEADER head = FileHeader(offset + *image, offset);

  // Only the fields that describe the pixels: no resolution, no table.
  BYTE info[kV5InfoHeaderBytes] = {};
  BITMAPINFOHEADER classic{};
  classic.biSize = kV5InfoHeaderBytes;
  classic.biWidth = dib.DIBWidth();
  classic.biHeight = dib.DIBHeight();
  classic.biPlanes = 1;
  classic.biBitCount = 32;
  classic.biCompression = BI_BITFIELDS;
  classic.biSizeImage = static_cast<DWORD>(*image);
  std::memcpy(info, &classic, sizeof classic);
  for (std::size_t i = 0; i < std::size(kBgraMasks); ++i) {
    WriteLE32(info + kInfoHeaderBytes + 4 * i, kBgraMasks[i]);
  }
  WriteLE32(info + kV5ColourSpaceField, kColourSpaceSrgb);
  WriteLE32(info + kV5IntentField, kIntentImages);
  return WriteParts(file,
                    {{&head, kFileHeaderBytes}, {info, sizeof info}, {dib.GetBytes(), *image}});
}

std::uint32_t kolvex::DeclaredBitmapFileBytes(const void* head) {
  using namespace kolvex::detail;
  const auto* bytes = static_cast<const BYTE*>(head);
  const std::uint32_t length = ReadLE32(bytes + kFileSizeField);
  const bool isBitmap = ReadLE16(bytes) == kFileSignature;
  // The smallest info header is the core header.
  const bool holds = length >= kFileHeaderBytes + kInfoHeaderKinds[0].bytes;
  return isBitmap && holds && length <= kMaxFileBytes ? length : 0;
}
