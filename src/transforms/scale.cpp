// Nearest-neighbour scaling of CRZDIBBase2. Scale(src, w, h) builds the two
// index tables (_InitScaling), copies through them (_DoScaling) and frees them
// (_DeleteScaling) within the one call; the row copies are kernels of
// scale_rows.cpp.

#include "core/bands.h"
#include "core/image_rows.h"
#include "core/own_block.h"
#include "core/prefetch.h"
#include "core/whole_write.h"
#include "platform/allocation.h"
#include "transforms/transform_rows.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

using kolvex::detail::ReadImage;

bool CRZDIBBase2::CreateScaled(const CRZDIBBase2& src, int nWidth, int nHeight,
                               DWORD dwInterlaced) {
  if (&src == this && IsValidDIB()) {
    // Create would release the pixels about to be read.
    OwnBlockSource own(*this);
    return CreateScaled(own, nWidth, nHeight, dwInterlaced);
  }
  const tagRZBMINFOHEADER* h = src.GetRzBmiHeader();
  if (h == nullptr || src.GetBytes() == nullptr) return false;
  // The library's own scaling writes every pixel of the new image, or fails
  // and the image goes.
  const std::size_t whole = kolvex::detail::WholeRowsBytes(h->biBitCount, nWidth, nHeight);
  const kolvex::detail::WholeWrite promise(
      *this, whole,
      whole != 0 &&
          kolvex::detail::RunsOwn(
              *this, kolvex::detail::kCreate,
              static_cast<bool (CRZDIBBase2::*)(const CRZDIBBase2&, int, int)>(&CRZDIBBase2::Scale),
              &CRZDIBBase2::_DoScaling));
  if (!Create(h->biBitCount, nWidth, nHeight, dwInterlaced)) return false;
  if (!Scale(src, nWidth, nHeight)) {
    Delete();
    return false;
  }
  return true;
}

bool CRZDIBBase2::CreateScaled(const CRZDIBBase2& src, int nWidth, int nHeight) {
  return CreateScaled(src, nWidth, nHeight, src.GetInterlacedFlag());
}

bool CRZDIBBase2::Scale(const CRZDIBBase2& src, int nWidth, int nHeight) {
  const auto s = ReadImage(src);
  const auto d = ReadImage(*this);
  if (!s || !d) return false;
  // This object must already be the target: a smaller one would be overrun.
  if (d->width != nWidth || d->height != nHeight || d->bitCount != s->bitCount) return false;

  if (s->width == nWidth && s->height == nHeight) {
    _CopyBeforeWrite();
    // memmove: src may be this object or lie on the same attached bytes.
    std::memmove(GetBytes(), s->bytes, s->image);
    return true;
  }
  // An empty target is complete as it is; a negative (top-down) height has no
  // rows to write.
  if (nWidth == 0 || nHeight <= 0) return true;

  _CopyBeforeWrite();
  const int rowMode = IsNonInterlaced() && src.IsInterlaced() ? 0 : -1;
  if (!_InitScaling(nWidth, nHeight, s->width, s->height, rowMode)) return false;
  bool ok = false;
  try {
    ok = _DoScaling(src);
  } catch (...) {
    _DeleteScaling();  // the tables never outlive the call
    throw;
  }
  _DeleteScaling();
  return ok;
}

bool CRZDIBBase2::Scale(int nWidth, int nHeight) {
  if (!IsValidDIB()) return false;
  if (DIBWidth() == nWidth && DIBHeight() == nHeight) return true;
  // The new block is made by this object's own hooks, from its old block lent
  // as the source; on failure the old block comes back untouched.
  OwnBlockSource own(*this);
  try {
    if (CreateScaled(own, nWidth, nHeight)) return true;
  } catch (...) {
    own.Restore();
    throw;
  }
  own.Restore();
  return false;
}

bool CRZDIBBase2::_InitScaling(int nDstWidth, int nDstHeight, int nSrcWidth, int nSrcHeight,
                               int nRowMode) {
  _DeleteScaling();
  try {
    pColumnMap = kolvex::detail::NewArray<LONG>(static_cast<std::size_t>(std::max(nDstWidth, 0)));
    pRowMap = kolvex::detail::NewArray<LONG>(static_cast<std::size_t>(std::max(nDstHeight, 0)));
  } catch (CMemoryException* e) {
    e->Delete();
    _DeleteScaling();
    return false;
  }
  kolvex::detail::CentreWalk(pColumnMap, nDstWidth, nSrcWidth);
  kolvex::detail::CentreWalk(pRowMap, nDstHeight, nSrcHeight);
  if (nRowMode >= 0) {
    // One field only: 0 keeps the odd stored rows (held at the last row), a
    // positive mode the even ones.
    const std::int64_t lastRow = static_cast<std::int64_t>(nSrcHeight) - 1;
    for (int y = 0; y < nDstHeight; ++y) {
      const std::int64_t even = pRowMap[y] & ~LONG{1};
      pRowMap[y] = static_cast<LONG>(nRowMode == 0 ? std::min(even + 1, lastRow) : even);
    }
  }
  return true;
}

void CRZDIBBase2::_DeleteScaling() {
  delete[] pColumnMap;
  delete[] pRowMap;
  pColumnMap = nullptr;
  pRowMap = nullptr;
}

bool CRZDIBBase2::_DoScaling(const CRZDIBBase2& src) {
  const auto d = ReadImage(*this);
  const auto s = ReadImage(src);
  if (!d || !s || d->bitCount != s->bitCount) return false;
  const kolvex::detail::ScaleRowFn scaleRow = kolvex::detail::SelectScaleRow(d->bitCount);
  if (scaleRow == nullptr) return false;
  const auto width = static_cast<std::size_t>(d->width);
  if (width == 0 || d->rows == 0) return true;
  if (pColumnMap == nullptr || pRowMap == nullptr) return false;
  // The kernel trusts the column table; check it once here, so that no table
  // (a zero-width source names column 0 throughout) sends it outside a row.
  const auto srcWidth = static_cast<DWORD>(s->width);
  for (std::size_t x = 0; x < width; ++x) {
    if (static_cast<DWORD>(pColumnMap[x]) >= srcWidth) return false;
  }
  const auto srcPixels = static_cast<std::size_t>(s->width);
  const std::size_t rowBytes = width * (d->bitCount / 8);
  // A row entry outside the source stops the rows there; those before it are
  // written.
  std::size_t rows = 0;
  while (rows < d->rows && static_cast<DWORD>(pRowMap[rows]) < s->rows) ++rows;
  const LONG* rowMap = pRowMap;
  const LONG* columnMap = pColumnMap;
  kolvex::detail::ForEachBand(rows, 2 * rows * rowBytes, [&](std::size_t first, std::size_t end) {
    BYTE* out = d->bytes + first * d->stride;
    for (std::size_t y = first; y < end; ++y, out += d->stride) {
      const auto r = static_cast<std::size_t>(rowMap[y]);
      if (y > first && rowMap[y] == rowMap[y - 1]) {
        // Enlarging repeats source rows: the row just made is the same bytes.
        std::memcpy(out, out - d->stride, rowBytes);
        continue;
      }
      // The rows a reduction leaves out break the forward stream that hardware
      // prefetchers follow: hint at the next source row while this one is made.
      if (y + 1 < end && rowMap[y + 1] != rowMap[y]) {
        kolvex::detail::PrefetchBytes(
            s->bytes + static_cast<std::size_t>(rowMap[y + 1]) * s->stride,
            srcPixels * (s->bitCount / 8));
      }
      scaleRow(s->bytes + r * s->stride, srcPixels, columnMap, out, width);
    }
  });
  return rows == d->rows;
}
