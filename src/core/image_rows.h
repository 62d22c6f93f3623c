// Internal: the pixel view that the transforms and filters walk: the geometry
// of one side of an operation, and a source kept apart from the bytes written.
#pragma once

#include "base/size.h"
#include "platform/allocation.h"

#include <kolvex/core/dib_base.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

namespace kolvex::detail {

// One bitmap as a driver walks it.
struct ImageRows {
  BYTE* bytes;
  LONG width;
  LONG height;  // as stored; a negative (top-down) height gives no rows
  WORD bitCount;
  std::size_t stride;  // by the DIB rule, from this bitmap's own header
  std::size_t rows;    // rows a driver may walk: the height, or 0 when negative
  std::size_t image;   // stride x rows
};

// The geometry of `dib`, or nothing when it has no header or no pixels, a
// negative width, or a geometry no buffer of the library could hold. Drivers
// refuse such a side before any pixel loop: a negative width would never end a
// loop that counts pixels down.
inline std::optional<ImageRows> ReadImage(const CRZDIBBase2& dib) {
  const tagRZBMINFOHEADER* h = dib.GetRzBmiHeader();
  BYTE* bytes = dib.GetBytes();
  if (h == nullptr || bytes == nullptr) return std::nullopt;
  const LONG rows = std::max<LONG>(h->biHeight, 0);
  const auto layout = CheckedLayout(h->biBitCount, h->biWidth, rows);
  if (!layout) return std::nullopt;
  return ImageRows{bytes,         h->biWidth,     h->biHeight,
                   h->biBitCount, layout->stride, static_cast<std::size_t>(rows),
                   layout->image};
}

inline bool SameGeometry(const ImageRows& a, const ImageRows& b) {
  return a.width == b.width && a.height == b.height && a.bitCount == b.bitCount;
}

// The source bytes a driver may read while it writes `dst` out of order: src's
// own, or, when they overlap dst's (src is the object written, or lies on the
// same attached bytes), a copy kept in `copy`. The copy's memory exception
// reaches the caller before anything is written.
inline const BYTE* SourceApartFrom(const ImageRows& dst, const ImageRows& src,
                                   std::unique_ptr<BYTE[]>& copy) {
  const auto d0 = reinterpret_cast<std::uintptr_t>(dst.bytes);
  const auto s0 = reinterpret_cast<std::uintptr_t>(src.bytes);
  if (d0 >= s0 + src.image || s0 >= d0 + dst.image) return src.bytes;
  copy.reset(NewArray<BYTE>(src.image));
  std::memcpy(copy.get(), src.bytes, src.image);
  return copy.get();
}

}  // namespace kolvex::detail
