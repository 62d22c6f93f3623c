// Header accessors, geometry and flag setters of CRZDIBBase2.

#include "base/size.h"
#include "core/owed_zeros.h"

#include <kolvex/base/geometry.h>
#include <kolvex/core/dib_base.h>

#include <cstring>

using kolvex::RowStride;

namespace {

constexpr DWORD kAlphaInvalid = 1;
constexpr DWORD kAlphaPremultiplied = 2;

}  // namespace

bool CRZDIBBase2::IsValidDIB() const {
  return pData->pBmiHeader != nullptr && pData->pBytes != nullptr;
}

// The pointers into a block reach its pixels (which lie behind the header):
// storage that still owes its zeros is cleared before one is handed out.
tagRZBMINFOHEADER* CRZDIBBase2::GetRzBmiHeader() const {
  kolvex::detail::PayZeros(pData);
  return pData->pBmiHeader;
}

BITMAPINFOHEADER* CRZDIBBase2::GetBitmapInfoHeader() const {
  kolvex::detail::PayZeros(pData);
  return reinterpret_cast<BITMAPINFOHEADER*>(pData->pBmiHeader);
}

void CRZDIBBase2::GetRzBmiHeader(tagRZBMINFOHEADER& out) const {
  if (pData->pBmiHeader != nullptr) {
    std::memcpy(&out, pData->pBmiHeader, sizeof out);
  } else {
    std::memset(&out, 0, sizeof out);
  }
}

void CRZDIBBase2::GetBitmapInfoHeader(BITMAPINFOHEADER& out) const {
  if (pData->pBmiHeader != nullptr) {
    std::memcpy(&out, pData->pBmiHeader, sizeof out);
    out.biSize = sizeof out;
  } else {
    std::memset(&out, 0, sizeof out);
  }
}

UINT CRZDIBBase2::GetRzBmiSize() const {
  return pData->pBmiHeader != nullptr ? pData->pBmiHeader->biSize : 0;
}

BYTE* CRZDIBBase2::GetBytes() const {
  kolvex::detail::PayZeros(pData);
  return pData->pBytes;
}

UINT CRZDIBBase2::GetInterlacedFlag() const {
  return pData->pBmiHeader != nullptr ? pData->pBmiHeader->dwInterlacedFlag : 0;
}

bool CRZDIBBase2::IsNonInterlaced() const { return (GetInterlacedFlag() & 1) != 0; }

bool CRZDIBBase2::IsInterlaced() const { return !IsNonInterlaced(); }

UINT CRZDIBBase2::GetAlphaFlag() const {
  return pData->pBmiHeader != nullptr ? pData->pBmiHeader->dwAlphaFlag : 0;
}

bool CRZDIBBase2::IsAlphaInvalid() const { return (GetAlphaFlag() & kAlphaInvalid) != 0; }

bool CRZDIBBase2::IsAlphaPremultiplied() const {
  return (GetAlphaFlag() & kAlphaPremultiplied) != 0;
}

bool CRZDIBBase2::IsDIBEmpty() const {
  const tagRZBMINFOHEADER* h = pData->pBmiHeader;
  return pData->pBytes == nullptr || h == nullptr || h->biBitCount == 0 || h->biWidth == 0 ||
         h->biHeight == 0;
}

bool CRZDIBBase2::IsAttached() const { return IsValidDIB() && !pData->bCreated; }

bool CRZDIBBase2::IsCreated() const { return IsValidDIB() && pData->bCreated; }

// The geometry answers follow the 32-bit DIB formulas exactly for every header
// the library makes; for absurd attached headers they wrap instead of
// overflowing (the products are formed in 64 bits).
WORD CRZDIBBase2::DIBBitCount() const { return pData->pBmiHeader->biBitCount; }

int CRZDIBBase2::DIBWidth() const { return pData->pBmiHeader->biWidth; }

int CRZDIBBase2::DIBHeight() const { return pData->pBmiHeader->biHeight; }

int CRZDIBBase2::DIBBytesPerLine() const {
  const tagRZBMINFOHEADER& h = *pData->pBmiHeader;
  return static_cast<int>(RowStride(h.biBitCount, h.biWidth));
}

int CRZDIBBase2::DIBSize() const {
  const tagRZBMINFOHEADER& h = *pData->pBmiHeader;
  return static_cast<int>(static_cast<std::uint64_t>(RowStride(h.biBitCount, h.biWidth)) *
                          static_cast<std::uint64_t>(static_cast<std::int64_t>(h.biHeight)));
}

int CRZDIBBase2::DIBBytesPerPixel() const { return pData->pBmiHeader->biBitCount / 8; }

bool CRZDIBBase2::DIBsEqual(const CRZDIBBase2& other) const {
  const tagRZBMINFOHEADER& a = *pData->pBmiHeader;
  const tagRZBMINFOHEADER& b = *other.pData->pBmiHeader;
  return a.biWidth == b.biWidth && a.biHeight == b.biHeight && a.biBitCount == b.biBitCount;
}

void CRZDIBBase2::SetInterlacedFlag(DWORD dwFlag) {
  if (pData->pBmiHeader == nullptr) return;
  _CopyBeforeWrite();
  pData->pBmiHeader->dwInterlacedFlag = dwFlag;
}

void CRZDIBBase2::ncbwSetAlphaFlag(DWORD dwFlag) {
  if (pData->pBmiHeader == nullptr) return;
  pData->pBmiHeader->dwAlphaFlag = dwFlag;
}

void CRZDIBBase2::SetAlphaValid(bool bValid) {
  if (pData->pBmiHeader == nullptr) return;
  if (bValid) {
    pData->pBmiHeader->dwAlphaFlag &= ~kAlphaInvalid;
  } else {
    _CopyBeforeWrite();
    pData->pBmiHeader->dwAlphaFlag |= kAlphaInvalid;
  }
}

void CRZDIBBase2::SetAlphaPremultiplied(bool bPremultiplied) {
  if (pData->pBmiHeader == nullptr) return;
  if (bPremultiplied) {
    pData->pBmiHeader->dwAlphaFlag =
        (pData->pBmiHeader->dwAlphaFlag | kAlphaPremultiplied) & ~kAlphaInvalid;
  } else {
    _CopyBeforeWrite();
    pData->pBmiHeader->dwAlphaFlag &= ~kAlphaPremultiplied;
  }
}
