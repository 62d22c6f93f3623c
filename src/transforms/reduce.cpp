// Quarter and eighth reductions of CRZDIBBase2: the public operations reshape
// this object through Create and hand the pixels to the virtual workers, which
// walk the rows and leave each row to a kernel of reduce_rows.cpp.

#include "core/bands.h"
#include "core/image_rows.h"
#include "core/own_block.h"
#include "core/prefetch.h"
#include "core/whole_write.h"
#include "transforms/transform_rows.h"

using kolvex::detail::ReadImage;

namespace {

// Sources from this size on are taken to come from memory rather than from
// the caches (a core's second-level cache is about this size).
constexpr std::size_t kHintedSourceBytes = std::size_t{1} << 20;

// Which source rows one output row reads, as offsets from the first row of
// its group of `factor` rows, and the kernel that averages them: decided once
// per call. nField <= 0 takes every row of the group (square blocks); 1 only
// the odd stored rows (field 1) and 2 or more only the even ones (field 0).
struct RowPlan {
  kolvex::detail::ReduceRowFn kernel;
  int rows;  // 1, 2 or 4
  std::size_t offsets[4];
};

RowPlan PlanRows(WORD bitCount, LONG factor, int nField, std::size_t stride) {
  const bool oneField = nField > 0;
  RowPlan plan{kolvex::detail::SelectReduceRow(bitCount, factor, oneField),
               oneField ? factor / 2 : factor,
               {}};
  const std::size_t first = nField == 1 ? stride : 0;
  const std::size_t step = oneField ? 2 * stride : stride;
  for (int i = 0; i < plan.rows; ++i) plan.offsets[i] = first + static_cast<std::size_t>(i) * step;
  return plan;
}

// The reduction by `factor` (2 or 4) of src into dst, which must already have
// the reduced geometry, from the rows nField selects (PlanRows).
bool Reduce(const CRZDIBBase2& dst, const CRZDIBBase2& src, int nField, LONG factor) {
  const auto d = ReadImage(dst);
  const auto s = ReadImage(src);
  if (!d || !s) return false;
  if (d->width == 0 || d->height == 0 || s->width == 0 || s->height == 0) return true;
  if (d->width != s->width / factor || d->height != s->height / factor ||
      d->bitCount != s->bitCount) {
    return false;
  }
  const RowPlan plan = PlanRows(d->bitCount, factor, nField, s->stride);
  if (plan.kernel == nullptr) return false;

  // Only the covered source area is read: `factor` rows per output row, and
  // factor x width pixels of each; a last odd column or row stays unread.
  const std::size_t outPixels = static_cast<std::size_t>(d->width);
  const std::size_t groupStride = s->stride * static_cast<std::size_t>(factor);
  const std::size_t rowBytes = outPixels * static_cast<std::size_t>(factor) * (d->bitCount / 8);
  const std::size_t moved = d->rows * (plan.rows * rowBytes + d->stride);
  // Rows are read `factor` (or, for one field, 2 x factor) apart: from memory,
  // the next group's rows are hinted at while this group is reduced. A source
  // the caches hold gains nothing from the hints and pays for them.
  const bool hint = s->image >= kHintedSourceBytes;
  kolvex::detail::ForEachBand(d->rows, moved, [&](std::size_t first, std::size_t end) {
    const BYTE* group = s->bytes + first * groupStride;
    BYTE* out = d->bytes + first * d->stride;
    const BYTE* rows[4];
    for (std::size_t y = first; y < end; ++y, group += groupStride, out += d->stride) {
      if (hint && y + 1 < end) {
        for (int i = 0; i < plan.rows; ++i) {
          kolvex::detail::PrefetchBytes(group + groupStride + plan.offsets[i], rowBytes);
        }
      }
      for (int i = 0; i < plan.rows; ++i) rows[i] = group + plan.offsets[i];
      plan.kernel(rows, out, outPixels);
    }
  });
  return true;
}

// The public reductions: dst becomes a non-interlaced bitmap of src's size
// divided by `factor`, filled by `worker` (through the virtual table) from one
// field of an interlaced src or from square blocks of a progressive one.
bool CreateReduced(CRZDIBBase2& dst, const CRZDIBBase2& src, LONG factor,
                   bool (CRZDIBBase2::*worker)(const CRZDIBBase2&, int)) {
  const tagRZBMINFOHEADER* h = src.GetRzBmiHeader();
  if (h == nullptr || src.GetBytes() == nullptr) {
    dst.Delete();
    return false;
  }
  const WORD bitCount = h->biBitCount;
  const LONG width = h->biWidth / factor;
  const LONG height = h->biHeight / factor;
  const int nField = src.IsInterlaced() ? 1 : 0;
  // The library's own worker writes every pixel of the new image.
  const std::size_t whole = kolvex::detail::WholeRowsBytes(bitCount, width, height);
  const kolvex::detail::WholeWrite promise(
      dst, whole, whole != 0 && kolvex::detail::RunsOwn(dst, kolvex::detail::kCreate, worker));
  if (!dst.Create(bitCount, width, height, kolvex::kProgressiveFrame)) return false;
  if (width == 0 && height == 0) return true;
  return promise.Kept(dst, (dst.*worker)(src, nField));
}

}  // namespace

bool CRZDIBBase2::CreateQuarter(const CRZDIBBase2& src) {
  if (&src == this && IsValidDIB()) {
    // Create would release the pixels about to be read.
    OwnBlockSource own(*this);
    return CreateQuarter(own);
  }
  return CreateReduced(*this, src, 2, &CRZDIBBase2::_GetQuarterDIB);
}

bool CRZDIBBase2::CreateEighth(const CRZDIBBase2& src) {
  if (&src == this && IsValidDIB()) {
    OwnBlockSource own(*this);
    return CreateEighth(own);
  }
  return CreateReduced(*this, src, 4, &CRZDIBBase2::_GetEighthDIB);
}

bool CRZDIBBase2::_GetQuarterDIB(const CRZDIBBase2& src, int nField) {
  return Reduce(*this, src, nField, 2);
}

bool CRZDIBBase2::_GetEighthDIB(const CRZDIBBase2& src, int nField) {
  return Reduce(*this, src, nField, 4);
}
