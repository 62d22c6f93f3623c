// Mirroring of CRZDIBBase2: a copy of a bitmap of the same geometry with the
// pixels of each row, the rows, both or neither in reverse order.

#include "core/bands.h"
#include "core/image_rows.h"
#include "core/owed_zeros.h"
#include "platform/allocation.h"
#include "transforms/transform_rows.h"

#include <cstring>
#include <memory>

using kolvex::detail::ReadImage;

bool CRZDIBBase2::Mirror(int bHorizontal, int bVertical, const CRZDIBBase2& src) {
  const auto s = ReadImage(src);
  // Storage of ours that still owes its zeros is written here: only the row
  // padding and what follows the image are cleared. (Taken after src is read,
  // which clears it all when src is this object.)
  kolvex::detail::OwedZeros owed(pData);
  const auto mine = ReadImage(*this);
  if (!mine || !s || !kolvex::detail::SameGeometry(*mine, *s)) return false;
  if (mine->width == 0 || mine->height == 0) return true;

  _CopyBeforeWrite();
  const auto d = ReadImage(*this);  // the pixels may have moved to a block of our own
  const kolvex::detail::MirrorRowFn reverseRow = kolvex::detail::SelectMirrorRow(d->bitCount);
  if (reverseRow == nullptr) return false;
  if (d->rows == 0) return true;

  // Pixels are written in another order than they are read: when src is this
  // object, or lies on the same attached bytes, read a copy.
  std::unique_ptr<BYTE[]> copy;
  const BYTE* from = kolvex::detail::SourceApartFrom(*d, *s, copy);

  // The source is read in increasing order, row by row, whichever way the
  // rows go: a forward stream is the one the processor fetches ahead. (The
  // order is not visible: source and destination do not overlap here.)
  const auto width = static_cast<std::size_t>(d->width);
  const std::size_t rowBytes = width * (d->bitCount / 8);
  const std::size_t padding = owed ? d->stride - rowBytes : 0;
  kolvex::detail::ForEachBand(
      d->rows, 2 * d->rows * rowBytes, [&](std::size_t first, std::size_t end) {
        const BYTE* row = from + first * s->stride;
        for (std::size_t r = first; r < end; ++r, row += s->stride) {
          BYTE* out = d->bytes + (bVertical != 0 ? d->rows - 1 - r : r) * d->stride;
          if (bHorizontal != 0) {
            reverseRow(row, out, width);
          } else {
            std::memcpy(out, row, rowBytes);
          }
          if (padding != 0) std::memset(out + rowBytes, 0, padding);
        }
      });
  owed.WrittenUpTo(d->bytes + d->image);
  return true;
}
