// The pixel filters of CRZDIB2: the members check the bitmaps, make this
// object's data its own and hand core's pixel view to the drivers of
// kolvex/filters/.

#include "core/image_rows.h"
#include "filters/filter_drivers.h"

#include <kolvex/dib/dib.h>

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
  return d && kolvex::detail::AdjustBrightness(*d, nLevel);
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
  return d && s && kolvex::detail::Median3x3(*d, *s);
}
