// Creation, reshaping, byte copies and clearing of CRZDIBBase2.

#include "core/bands.h"
#include "core/block_buffer.h"
#include "core/fill_rows.h"
#include "core/owed_zeros.h"

#include <kolvex/core/dib_base.h>

#include <cstring>

using kolvex::detail::CheckedLayout;
using kolvex::detail::ImageBytes;
using kolvex::detail::IsHeaderSize;
using kolvex::detail::kHeaderBytes;

bool CRZDIBBase2::Create(WORD wBitCount, int nWidth, int nHeight, DWORD dwInterlaced) {
  Delete();
  const auto layout = CheckedLayout(wBitCount, nWidth, nHeight);
  if (!layout) return false;
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = nWidth;
  info.biHeight = nHeight;
  info.biPlanes = 1;
  info.biBitCount = wBitCount;
  try {
    _NewBlock(info, dwInterlaced, layout->image);
    return true;
  } catch (CMemoryException* e) {
    e->Delete();
    Delete();
    return false;
  }
}

bool CRZDIBBase2::Create(tagRZBMINFOHEADER* pHeader) {
  if (pHeader == nullptr || !IsHeaderSize(pHeader->biSize)) return false;
  // The header may live in the block that the primitive is about to release.
  const tagRZBMINFOHEADER header = *pHeader;
  if (!Create(header.biBitCount, header.biWidth, header.biHeight, header.dwInterlacedFlag)) {
    return false;
  }
  std::memcpy(pData->pBmiHeader, &header, sizeof header);
  return true;
}

bool CRZDIBBase2::Create(BITMAPINFOHEADER* pbih, DWORD dwInterlaced) {
  return Create(pbih->biBitCount, pbih->biWidth, pbih->biHeight, dwInterlaced);
}

bool CRZDIBBase2::Create(const CRZDIBBase2& src) {
  tagRZBMINFOHEADER* header = src.GetRzBmiHeader();
  if (header == nullptr) return false;
  // A frame made like another is most often written whole next (Mirror,
  // CopyField): reused storage may leave its clearing to that writer.
  const kolvex::detail::ClearLater later(*this);
  return Create(header);
}

bool CRZDIBBase2::CreateOrModify(WORD wBitCount, int nWidth, int nHeight, DWORD dwInterlaced) {
  const auto layout = CheckedLayout(wBitCount, nWidth, nHeight);
  if (!layout) {
    Delete();
    return false;
  }
  CRzDibBaseData2* block = pData;
  const bool reusable = block->pBmiHeader != nullptr && block->pBytes != nullptr &&
                        block->bCreated && _RefCount(block) <= 1 &&
                        block->nAllocSize >= kHeaderBytes + layout->image;
  if (!reusable) return Create(wBitCount, nWidth, nHeight, dwInterlaced);
  tagRZBMINFOHEADER& h = *block->pBmiHeader;
  h.biWidth = nWidth;
  h.biHeight = nHeight;
  h.biBitCount = wBitCount;
  h.dwInterlacedFlag = dwInterlaced;
  return true;
}

bool CRZDIBBase2::CreateOrModify(const BITMAPINFOHEADER& bih, DWORD dwInterlaced) {
  const BITMAPINFOHEADER copy = bih;  // bih may be this bitmap's own header
  if (!CreateOrModify(copy.biBitCount, copy.biWidth, copy.biHeight, dwInterlaced)) return false;
  const DWORD size = pData->pBmiHeader->biSize;
  std::memcpy(pData->pBmiHeader, &copy, sizeof copy);
  pData->pBmiHeader->biSize = size;
  return true;
}

bool CRZDIBBase2::CreateOrModify(const tagRZBMINFOHEADER& header, DWORD dwInterlaced) {
  const tagRZBMINFOHEADER copy = header;
  if (!IsHeaderSize(copy.biSize)) {  // refused as a geometry no buffer holds is
    Delete();
    return false;
  }
  const bool ok = CreateOrModify(copy.biBitCount, copy.biWidth, copy.biHeight, dwInterlaced);
  if (ok) std::memcpy(pData->pBmiHeader, &copy, sizeof copy);
  if (pData->pBmiHeader != nullptr) {
    _CopyBeforeWrite();
    pData->pBmiHeader->dwInterlacedFlag = dwInterlaced;
  }
  return ok;
}

bool CRZDIBBase2::CreateOrModify(const CRZDIBBase2& src) {
  const tagRZBMINFOHEADER* from = src.GetRzBmiHeader();
  if (from == nullptr) return false;
  const tagRZBMINFOHEADER copy = *from;
  if (!CreateOrModify(copy.biBitCount, copy.biWidth, copy.biHeight, copy.dwInterlacedFlag)) {
    return false;
  }
  std::memcpy(pData->pBmiHeader, &copy, sizeof copy);
  return true;
}

void CRZDIBBase2::CopyDibBytes(const CRZDIBBase2& src) {
  if (!src.IsValidDIB() || !IsValidDIB()) return;
  _CopyBeforeWrite();
  kolvex::detail::PayZeros(src.pData);
  kolvex::detail::PayZeros(pData);
  const auto mine = ImageBytes(*pData->pBmiHeader);
  const auto theirs = ImageBytes(*src.pData->pBmiHeader);
  if (!mine || !theirs || *mine < *theirs) return;
  std::memmove(pData->pBytes, src.pData->pBytes, *theirs);
}

void CRZDIBBase2::ClearDIB(int nValue) {
  if (!IsValidDIB()) return;
  _CopyBeforeWrite();
  kolvex::detail::OwedZeros owed(pData);  // the image is written whole
  if (const auto image = ImageBytes(*pData->pBmiHeader)) {
    kolvex::detail::FillBytes(pData->pBytes, nValue & 0xFF, *image);
    owed.WrittenUpTo(pData->pBytes + *image);
  }
}

void CRZDIBBase2::ClearDIB(UINT dwValue) {
  if (!IsValidDIB()) return;
  _CopyBeforeWrite();
  kolvex::detail::PayZeros(pData);
  const tagRZBMINFOHEADER& h = *pData->pBmiHeader;
  const auto layout = CheckedLayout(h.biBitCount, h.biWidth, h.biHeight);
  if (!layout || h.biWidth == 0 || h.biHeight == 0) return;
  BYTE* const bytes = pData->pBytes;
  auto width = static_cast<std::size_t>(h.biWidth);
  auto rows = static_cast<std::size_t>(h.biHeight);
  const std::size_t stride = layout->stride;
  const auto fillRows = [&](kolvex::detail::FillRowFn fill, std::size_t pixelBytes) {
    if (width * pixelBytes == stride) {
      // Rows without padding are one run: one call per band, no seams between
      // rows, and bands long enough for the streaming stores of long runs.
      kolvex::detail::ForEachBand(
          width * rows, layout->image,
          [&](std::size_t first, std::size_t end) {
            fill(bytes + first * pixelBytes, end - first, dwValue);
          },
          kolvex::detail::kLongRunBytes);
      return;
    }
    kolvex::detail::ForEachBand(rows, layout->image, [&](std::size_t first, std::size_t end) {
      for (std::size_t y = first; y < end; ++y) fill(bytes + y * stride, width, dwValue);
    });
  };
  switch (h.biBitCount) {
    case 32:
      fillRows(kolvex::detail::SelectFillRow32(), 4);
      break;
    case 24:
      fillRows(kolvex::detail::SelectFillRow24(), 3);
      break;
    case 8:
      kolvex::detail::FillBytes(bytes, static_cast<int>(dwValue >> 24), layout->image);
      break;
    default:
      break;
  }
}
