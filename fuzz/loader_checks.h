// Properties every input must satisfy when it goes through the bitmap loaders,
// shared by the fuzz targets and by the test that replays their corpus. Each
// check answers null when the input behaved, or what went wrong.
#pragma once

#include <kolvex/kolvex.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace kolvex_fuzz {

// CRZDIB2 with its data block in view.
class InspectDib : public CRZDIB2 {
 public:
  const CRzDibData2* Block() const { return _IGetData(); }
};

inline bool SameImage(const CRZDIB2& a, const CRZDIB2& b) {
  return a.DIBBitCount() == b.DIBBitCount() && a.DIBWidth() == b.DIBWidth() &&
         a.DIBHeight() == b.DIBHeight() &&
         std::memcmp(a.GetBytes(), b.GetBytes(), static_cast<std::size_t>(a.DIBSize())) == 0;
}

// CreateFromMemory accepts exactly what BitmapFileProblem accepts, and what
// DescribeBitmapFile accepts from the headers alone unless a run-length
// stream is bad; what it loads is what the description says, a sane
// progressive bitmap that SaveAs writes and CreateFromMemory reads back
// unchanged.
inline const char* CheckMemoryLoad(const std::uint8_t* data, std::size_t size,
                                   bool* accepted = nullptr) {
  InspectDib dib;
  const bool loaded = dib.CreateFromMemory(data, size);
  if (accepted != nullptr) *accepted = loaded;
  if (loaded != (kolvex::BitmapFileProblem(data, size) == nullptr)) {
    return "loader and BitmapFileProblem disagree";
  }
  kolvex::BitmapFileFormat format;
  const std::size_t head =
      size < kolvex::kBitmapFileHeadBytes ? size : kolvex::kBitmapFileHeadBytes;
  const bool described = kolvex::DescribeBitmapFile(data, head, size, format) == nullptr;
  const bool runLength = format.compression == 1 || format.compression == 2;
  if (described != loaded && !(described && runLength)) {
    return "loader and DescribeBitmapFile disagree";
  }
  if (!loaded) return dib.IsValidDIB() ? "a refused file left a bitmap" : nullptr;
  const tagRZBMINFOHEADER& h = *dib.GetRzBmiHeader();
  if (h.biSize != 144 || h.biWidth <= 0 || h.biHeight <= 0 || h.dwInterlacedFlag != 1 ||
      (h.biBitCount != 8 && h.biBitCount != 24 && h.biBitCount != 32)) {
    return "loaded header out of range";
  }
  if (format.width != h.biWidth || format.height != h.biHeight ||
      format.loadedBitCount != h.biBitCount ||
      format.loadedBytes != static_cast<std::uint32_t>(dib.DIBSize()) ||
      format.loadedAlpha != (h.biBitCount == 32 && !dib.IsAlphaInvalid())) {
    return "the description differs from the loaded bitmap";
  }
  if (static_cast<std::size_t>(dib.DIBSize()) + 144 > dib.Block()->nAllocSize) {
    return "image larger than its buffer";
  }
  CMemFile file;
  if (!dib.SaveAs(file)) return "SaveAs failed on a loaded bitmap";
  const auto length = static_cast<std::size_t>(file.GetLength());
  BYTE* saved = file.Detach();
  CRZDIB2 again;
  const bool reloaded = again.CreateFromMemory(saved, length);
  const bool same = reloaded && SameImage(dib, again);
  std::free(saved);
  return same ? nullptr : "SaveAs then CreateFromMemory changed the image";
}

// The input as resource 101 of type 8000 of the module that
// CreateFromResource(101, nullptr) searches, registered there for its life by
// a `Registration(data, size)`: a loaded resource holds every byte behind the
// colour table (the image rows bottom-up), in a buffer of exactly 144 more
// bytes, and its header says progressive with a positive height.
template <class Registration>
const char* CheckResourceLoad(const std::uint8_t* data, std::size_t size,
                              bool* accepted = nullptr) {
  if (accepted != nullptr) *accepted = false;
  if (size > UINT32_MAX) return nullptr;
  InspectDib dib;
  bool loaded = false;
  {
    const Registration registered(data, size);
    loaded = dib.CreateFromResource(101u, nullptr);
  }
  if (accepted != nullptr) *accepted = loaded;
  if (!loaded) return dib.IsValidDIB() ? "a refused resource left a bitmap" : nullptr;

  const tagRZBMINFOHEADER& h = *dib.GetRzBmiHeader();
  if (h.biSize != 144 || h.biWidth <= 0 || h.biHeight <= 0 || h.dwInterlacedFlag != 1 ||
      h.dwAlphaFlag != 0) {
    return "loaded header out of range";
  }
  const std::size_t pixels = dib.Block()->nAllocSize - 144;
  const auto image = static_cast<std::size_t>(dib.DIBSize());
  if (pixels > size || image > pixels) return "pixel buffer does not match the resource";
  const BYTE* in = data + (size - pixels);
  const BYTE* out = dib.GetBytes();
  // A top-down resource had its rows flipped; the bytes behind the image stay.
  const bool topDown = static_cast<std::int32_t>(data[22] | data[23] << 8 | data[24] << 16 |
                                                 static_cast<std::uint32_t>(data[25]) << 24) < 0;
  const auto stride = static_cast<std::size_t>(dib.DIBBytesPerLine());
  const auto rows = static_cast<std::size_t>(h.biHeight);
  for (std::size_t r = 0; r < rows; ++r) {
    const std::size_t from = topDown ? rows - 1 - r : r;
    if (std::memcmp(out + r * stride, in + from * stride, stride) != 0) {
      return "pixel rows differ from the resource";
    }
  }
  if (std::memcmp(out + image, in + image, pixels - image) != 0) {
    return "bytes behind the image differ from the resource";
  }
  return nullptr;
}

}  // namespace kolvex_fuzz
