// Field and frame operations of CRZDIBBase2 for interlaced video. Rows are
// moved as whole strides (padding included) and averaged byte by byte with the
// kernel of field_rows.cpp. Stored field 0 is rows 0, 2, 4...; field 1 rows 1,
// 3, 5...; which of them is the picture's even field (the one holding the top
// row) depends on the parity of the height.

#include "core/bands.h"
#include "core/image_rows.h"
#include "core/owed_zeros.h"
#include "core/own_block.h"
#include "core/whole_write.h"
#include "transforms/transform_rows.h"

#include <cstring>

using kolvex::detail::ForEachBand;
using kolvex::detail::ImageRows;

namespace {

// Both sides of a field operation, when their geometries agree.
struct FieldPair {
  ImageRows dst;
  ImageRows src;

  BYTE* To(std::size_t r) const { return dst.bytes + r * dst.stride; }
  const BYTE* From(std::size_t r) const { return src.bytes + r * src.stride; }
  // memmove: a worker called with src == this copies rows onto themselves.
  void Copy(std::size_t to, std::size_t from) const {
    std::memmove(To(to), From(from), dst.stride);
  }
};

std::optional<FieldPair> Match(const CRZDIBBase2& dst, const CRZDIBBase2& src) {
  const auto d = kolvex::detail::ReadImage(dst);
  const auto s = kolvex::detail::ReadImage(src);
  if (!d || !s || !kolvex::detail::SameGeometry(*d, *s)) return std::nullopt;
  return FieldPair{*d, *s};
}

using FieldWorker = void (CRZDIBBase2::*)(const CRZDIBBase2&);

// Whether the picture's odd (or even) field of a frame `height` rows high is
// stored field 1; bit 0 of nSwap exchanges the two.
bool IsField1(LONG height, int nSwap, bool oddField) {
  const bool evenIsField1 = ((height & 1) == 0) != ((nSwap & 1) != 0);
  return oddField ? !evenIsField1 : evenIsField1;
}

// The common steps of the four selectors: check both sides, pick the stored
// field that is the picture's odd or even field, and run its worker through
// the virtual table.
bool RunOnField(CRZDIBBase2& dst, const CRZDIBBase2& src, int nSwap, bool oddField,
                FieldWorker onField0, FieldWorker onField1) {
  const auto pair = Match(dst, src);
  if (!pair) return false;
  if (pair->dst.width == 0 || pair->dst.rows == 0) return true;
  (dst.*(IsField1(pair->dst.height, nSwap, oddField) ? onField1 : onField0))(src);
  return true;
}

// Calls onRow(r) for every row r of stored field `field` of `rows` rows, in
// bands; an operation on one row moves `rowBytes`.
template <class OnRow>
void ForEachFieldRow(std::size_t rows, std::size_t field, std::size_t rowBytes,
                     const OnRow& onRow) {
  const std::size_t count = rows > field ? (rows - field + 1) / 2 : 0;
  ForEachBand(count, count * rowBytes, [&](std::size_t first, std::size_t end) {
    for (std::size_t k = first; k < end; ++k) onRow(2 * k + field);
  });
}

// Clears the rows of stored field `field` of `image`, whole strides.
void ClearFieldRows(const ImageRows& image, std::size_t field) {
  ForEachFieldRow(image.rows, field, image.stride, [&](std::size_t r) {
    std::memset(image.bytes + r * image.stride, 0, image.stride);
  });
}

void CopyFieldRows(const CRZDIBBase2& dst, const CRZDIBBase2& src, std::size_t field) {
  const auto pair = Match(dst, src);
  if (!pair) return;
  ForEachFieldRow(pair->dst.rows, field, 2 * pair->dst.stride,
                  [&](std::size_t r) { pair->Copy(r, r); });
}

// Line doubling: a row outside the field repeats its partner in the field,
// (r with bit 0 set to `field`), or keeps the source's own row where that
// partner lies above the top.
void FrameByRepeat(const CRZDIBBase2& dst, const CRZDIBBase2& src, std::size_t field) {
  const auto pair = Match(dst, src);
  if (!pair) return;
  const std::size_t rows = pair->dst.rows;
  ForEachBand(rows, 2 * pair->dst.image, [&](std::size_t first, std::size_t end) {
    for (std::size_t r = first; r < end; ++r) {
      const std::size_t partner = (r & ~std::size_t{1}) | field;
      pair->Copy(r, partner < rows ? partner : r);
    }
  });
}

// Interpolation: a row outside the field is the rounded mean of the field rows
// below and above it; an edge row with only one of them repeats that one, and
// a single row without any (height 1, field 1) keeps the source's row.
void FrameByInterpolation(const CRZDIBBase2& dst, const CRZDIBBase2& src, std::size_t field) {
  const auto pair = Match(dst, src);
  if (!pair) return;
  const kolvex::detail::AverageRowsFn average = kolvex::detail::SelectAverageRows();
  const std::size_t rows = pair->dst.rows;
  ForEachBand(rows, 2 * pair->dst.image, [&](std::size_t first, std::size_t end) {
    for (std::size_t r = first; r < end; ++r) {
      const bool below = r >= 1;
      const bool above = r + 1 < rows;
      if ((r & 1) == field) {
        pair->Copy(r, r);
      } else if (below && above) {
        average(pair->From(r - 1), pair->From(r + 1), pair->To(r), pair->dst.stride);
      } else {
        pair->Copy(r, below ? r - 1 : (above ? r + 1 : r));
      }
    }
  });
}

}  // namespace

bool CRZDIBBase2::CopyField(const CRZDIBBase2& src, int bOdd) {
  _CopyBeforeWrite();
  // Storage of ours that still owes its zeros gets one field from src: only
  // the other field's rows and what follows the image are cleared. (Taken
  // after src is cleared, which clears it all when src is this object.)
  kolvex::detail::PayZeros(src.pData);
  kolvex::detail::OwedZeros owed(pData);
  const bool copied = bOdd != 0 ? _OddFieldToOddField(src, 0) : _EvenFieldToEvenField(src, 0);
  const auto d = kolvex::detail::ReadImage(*this);
  if (owed && copied && d && d->width != 0 && d->rows != 0) {
    ClearFieldRows(*d, IsField1(d->height, 0, bOdd != 0) ? 0 : 1);
    owed.WrittenUpTo(d->bytes + d->image);
  }
  return copied;
}

bool CRZDIBBase2::CreateInterpolatedFrame(const CRZDIBBase2& src, int bOdd, int nInterpolation) {
  if (&src == this && IsValidDIB()) {
    // Create would release the pixels about to be read.
    OwnBlockSource own(*this);
    return CreateInterpolatedFrame(own, bOdd, nInterpolation);
  }
  // The library's own selector and workers write every row of the new image.
  using Selector = bool (CRZDIBBase2::*)(const CRZDIBBase2&, int, int);
  using Worker = void (CRZDIBBase2::*)(const CRZDIBBase2&);
  const Selector selector = bOdd != 0 ? &CRZDIBBase2::_GetOddFrame : &CRZDIBBase2::_GetEvenFrame;
  const bool interpolate = nInterpolation == 1;
  const Worker onField0 = interpolate ? &CRZDIBBase2::__FrameFromField0ReverseBiInt
                                      : &CRZDIBBase2::__FrameFromField0ReverseNoInt;
  const Worker onField1 = interpolate ? &CRZDIBBase2::__FrameFromField1ReverseBiInt
                                      : &CRZDIBBase2::__FrameFromField1ReverseNoInt;
  const tagRZBMINFOHEADER* h = src.GetRzBmiHeader();
  const std::size_t whole =
      h == nullptr ? 0 : kolvex::detail::WholeRowsBytes(h->biBitCount, h->biWidth, h->biHeight);
  const kolvex::detail::WholeWrite promise(
      *this, whole,
      whole != 0 &&
          kolvex::detail::RunsOwn(
              *this, kolvex::detail::kCreate,
              static_cast<bool (CRZDIBBase2::*)(tagRZBMINFOHEADER*)>(&CRZDIBBase2::Create),
              static_cast<bool (CRZDIBBase2::*)(const CRZDIBBase2&)>(&CRZDIBBase2::Create),
              selector, onField0, onField1));
  if (!Create(src)) return false;
  if (GetRzBmiHeader() != nullptr) {
    _CopyBeforeWrite();
    GetRzBmiHeader()->dwInterlacedFlag = kolvex::kProgressiveFrame;
  }
  return promise.Kept(*this, (this->*selector)(src, 0, nInterpolation));
}

bool CRZDIBBase2::_GetOddFrame(const CRZDIBBase2& src, int nSwap, int nInterpolation) {
  if (nInterpolation == 1) {
    return RunOnField(*this, src, nSwap, true, &CRZDIBBase2::__FrameFromField0ReverseBiInt,
                      &CRZDIBBase2::__FrameFromField1ReverseBiInt);
  }
  return RunOnField(*this, src, nSwap, true, &CRZDIBBase2::__FrameFromField0ReverseNoInt,
                    &CRZDIBBase2::__FrameFromField1ReverseNoInt);
}

bool CRZDIBBase2::_GetEvenFrame(const CRZDIBBase2& src, int nSwap, int nInterpolation) {
  if (nInterpolation == 1) {
    return RunOnField(*this, src, nSwap, false, &CRZDIBBase2::__FrameFromField0ReverseBiInt,
                      &CRZDIBBase2::__FrameFromField1ReverseBiInt);
  }
  return RunOnField(*this, src, nSwap, false, &CRZDIBBase2::__FrameFromField0ReverseNoInt,
                    &CRZDIBBase2::__FrameFromField1ReverseNoInt);
}

bool CRZDIBBase2::_OddFieldToOddField(const CRZDIBBase2& src, int nSwap) {
  return RunOnField(*this, src, nSwap, true, &CRZDIBBase2::__Field0ToField0Reverse,
                    &CRZDIBBase2::__Field1ToField1Reverse);
}

bool CRZDIBBase2::_EvenFieldToEvenField(const CRZDIBBase2& src, int nSwap) {
  return RunOnField(*this, src, nSwap, false, &CRZDIBBase2::__Field0ToField0Reverse,
                    &CRZDIBBase2::__Field1ToField1Reverse);
}

void CRZDIBBase2::__Field0ToField0Reverse(const CRZDIBBase2& src) { CopyFieldRows(*this, src, 0); }

void CRZDIBBase2::__Field1ToField1Reverse(const CRZDIBBase2& src) { CopyFieldRows(*this, src, 1); }

void CRZDIBBase2::__FrameFromField0ReverseNoInt(const CRZDIBBase2& src) {
  FrameByRepeat(*this, src, 0);
}

void CRZDIBBase2::__FrameFromField1ReverseNoInt(const CRZDIBBase2& src) {
  FrameByRepeat(*this, src, 1);
}

// The interpolating workers ask once per call whether packed code may run, as
// a client class that answers the question expects; every kernel level gives
// the plain loop's bytes, so the answer changes nothing else.
void CRZDIBBase2::__FrameFromField0ReverseBiInt(const CRZDIBBase2& src) {
  static_cast<void>(_UseMMXInstructions());
  FrameByInterpolation(*this, src, 0);
}

void CRZDIBBase2::__FrameFromField1ReverseBiInt(const CRZDIBBase2& src) {
  static_cast<void>(_UseMMXInstructions());
  FrameByInterpolation(*this, src, 1);
}
