// The pixel filters of CRZDIB2: brightness through a clamped lookup table, and
// the 3 x 3 median of another bitmap. The drivers check the images, make this
// object's data its own, walk the stored rows and leave each row to a kernel
// of filter_rows.cpp.

#include <kolvex/platform/allocation.h>
#include <kolvex/transforms/transform_support.h>
#include <kolvex/windows/dib.h>
#include <kolvex/windows/filter_rows.h>

#include <cstring>
#include <memory>

using kolvex::detail::ReadImage;

bool CRZDIB2::AdjustBrightness(int nLevel) {
  const tagRZBMINFOHEADER* h = GetRzBmiHeader();
  if (h == nullptr || GetBytes() == nullptr) return false;
  if (h->biWidth == 0 || h->biHeight == 0) return true;  // no copy for an empty image
  // Refused before the copy-before-write, which could not size a copy of an
  // image with a negative width (and no pixel loop could walk it).
  if (!ReadImage(*this)) return false;

  _CopyBeforeWrite();
  const auto d = ReadImage(*this);  // the pixels may have moved to a block of our own
  if (!d) return false;
  const kolvex::detail::BrightnessRowFn mapRow = kolvex::detail::SelectBrightnessRow(d->bitCount);
  if (mapRow == nullptr) return false;

  kolvex::detail::BrightnessTable table;
  kolvex::detail::BuildBrightnessTable(nLevel, table);
  const auto width = static_cast<std::size_t>(d->width);
  BYTE* row = d->bytes;
  for (std::size_t y = 0; y < d->rows; ++y, row += d->stride) mapRow(table, row, width);
  return true;
}

bool CRZDIB2::Median3x3(const CRZDIB2& src) {
  const tagRZBMINFOHEADER* sh = src.GetRzBmiHeader();
  const tagRZBMINFOHEADER* h = GetRzBmiHeader();
  if (sh == nullptr || src.GetBytes() == nullptr || h == nullptr || GetBytes() == nullptr) {
    return false;
  }
  if (h->biBitCount != sh->biBitCount || h->biWidth != sh->biWidth || h->biHeight != sh->biHeight) {
    return false;
  }
  if (h->biWidth == 0 || h->biHeight == 0) return true;
  if (!ReadImage(*this)) return false;  // as in AdjustBrightness

  _CopyBeforeWrite();
  // Both afresh: when src is this object, its pixels have moved with ours.
  const auto d = ReadImage(*this);
  const auto s = ReadImage(src);
  if (!d || !s) return false;
  const kolvex::detail::MedianRowFn medianRow = kolvex::detail::SelectMedianRow(d->bitCount);
  if (medianRow == nullptr) return false;

  if (d->rows == 0) {
    // A top-down (negative) height is given no rows to filter; only the first
    // stored row is taken over, as a whole stride.
    std::memmove(d->bytes, s->bytes, d->stride);
    return true;
  }

  // Each output row needs the source rows on both sides of it unchanged: when
  // src is this object, or lies on the same attached bytes, read a copy.
  std::unique_ptr<BYTE[]> copy;
  const BYTE* from = kolvex::detail::SourceApartFrom(*d, *s, copy);

  const std::size_t stride = d->stride;
  const auto width = static_cast<std::size_t>(d->width);
  BYTE* out = d->bytes;
  std::memcpy(out, from, stride);  // the first and last rows whole, padding included
  for (std::size_t y = 1; y + 1 < d->rows; ++y) {
    const BYTE* cur = from + y * stride;
    medianRow(cur - stride, cur, cur + stride, out + y * stride, width);
  }
  if (d->rows >= 2) {
    const std::size_t last = (d->rows - 1) * stride;
    std::memcpy(out + last, from + last, stride);
  }
  return true;
}
