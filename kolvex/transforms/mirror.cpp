// Mirroring of CRZDIBBase2: a copy of a bitmap of the same geometry with the
// pixels of each row, the rows, both or neither in reverse order.

#include <kolvex/platform/allocation.h>
#include <kolvex/transforms/transform_rows.h>
#include <kolvex/transforms/transform_support.h>

#include <cstdint>
#include <cstring>
#include <memory>

using kolvex::detail::ReadImage;

namespace {

bool Overlap(const BYTE* a, std::size_t aBytes, const BYTE* b, std::size_t bBytes) {
  const auto a0 = reinterpret_cast<std::uintptr_t>(a);
  const auto b0 = reinterpret_cast<std::uintptr_t>(b);
  return a0 < b0 + bBytes && b0 < a0 + aBytes;
}

}  // namespace

bool CRZDIBBase2::Mirror(int bHorizontal, int bVertical, const CRZDIBBase2& src) {
  const auto mine = ReadImage(*this);
  const auto s = ReadImage(src);
  if (!mine || !s || !kolvex::detail::SameGeometry(*mine, *s)) return false;
  if (mine->width == 0 || mine->height == 0) return true;

  _CopyBeforeWrite();
  const auto d = ReadImage(*this);  // the pixels may have moved to a block of our own
  const kolvex::detail::MirrorRowFn reverseRow = kolvex::detail::SelectMirrorRow(d->bitCount);
  if (reverseRow == nullptr) return false;
  if (d->rows == 0) return true;

  // Rows are written in increasing order while src is read in another: when
  // src is this object, or lies on the same attached bytes, read a copy. The
  // copy's memory exception reaches the caller with this object's pixels intact.
  const BYTE* from = s->bytes;
  std::unique_ptr<BYTE[]> copy;
  if (Overlap(d->bytes, d->image, s->bytes, s->image)) {
    copy.reset(kolvex::detail::NewArray<BYTE>(s->image));
    std::memcpy(copy.get(), s->bytes, s->image);
    from = copy.get();
  }

  // The source is read in increasing order, row by row, whichever way the
  // rows go: a forward stream is the one the processor fetches ahead. (The
  // order is not visible: source and destination do not overlap here.)
  const auto width = static_cast<std::size_t>(d->width);
  const std::size_t rowBytes = width * (d->bitCount / 8);
  const BYTE* row = from;
  for (std::size_t r = 0; r < d->rows; ++r, row += s->stride) {
    BYTE* out = d->bytes + (bVertical != 0 ? d->rows - 1 - r : r) * d->stride;
    if (bHorizontal != 0) {
      reverseRow(row, out, width);
    } else {
      std::memcpy(out, row, rowBytes);
    }
  }
  return true;
}
