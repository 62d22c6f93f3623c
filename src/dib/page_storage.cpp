// CRZDIB2 storage: page-granular blocks, atomic counts, the DIB section and
// its teardown, construction and assignment.

#include "core/bands.h"
#include "core/block_buffer.h"
#include "core/owed_zeros.h"
#include "core/whole_write.h"
#include "dib/platform_description.h"
#include "platform/allocation.h"
#include "platform/page_keeper.h"

#include <kolvex/dib/dib.h>
#include <kolvex/platform/win32.h>

#include <cstring>
#include <typeinfo>

namespace {

using kolvex::detail::kHeaderBytes;
using kolvex::platform::detail::kPageBytes;

// Smaller buffers are cleared at once: their clearing costs less than keeping
// count of it.
constexpr std::size_t kClearLaterBytes = 64 * 1024;

// The MMX probe: this build has no MMX code paths, so it always answers 0.
int ProbeMMX() { return 0; }

}  // namespace

// ---- Construction and assignment ----
//
// Every constructor starts from the base's empty object and does its work in
// the body, where this class's hooks are already in force.

CRZDIB2::CRZDIB2() = default;

CRZDIB2::CRZDIB2(const CRZDIB2& src) : CRZDIBBase2() { CRZDIBBase2::operator=(src); }

CRZDIB2::CRZDIB2(tagRZBMINFOHEADER* pHeader) : CRZDIBBase2() {
  if (pHeader != nullptr) Create(pHeader);
}

CRZDIB2::CRZDIB2(tagRZBMINFOHEADER* pHeader, BYTE* pBits) : CRZDIBBase2() {
  if (pHeader != nullptr && pBits != nullptr) Attach(pHeader, pBits);
}

CRZDIB2::~CRZDIB2() { Delete(); }

CRZDIB2& CRZDIB2::operator=(const CRZDIB2& src) {
  CRZDIBBase2::operator=(src);
  return *this;
}

const CRZDIB2& CRZDIB2::AssignCopy(const CRZDIB2& src) {
  CRZDIBBase2::AssignCopy(src);
  SetCacheInfo(src.GetCacheInfo());
  return *this;
}

// ---- DIB section ----

bool CRZDIB2::CreateDIBSection(BITMAPINFOHEADER* pbih, DWORD dwInterlaced) {
  // The header may lie in the storage that Delete() is about to release.
  const BITMAPINFOHEADER format = *pbih;
  Delete();
  try {
    _NewBlock(format, dwInterlaced, 0);  // the pixels will be the section's
    CRzDibData2* block = _IGetData();
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(block->pBmiHeader);

    {
      CDC temporary;
      if (!temporary.Attach(::CreateCompatibleDC(nullptr))) AfxThrowMemoryException();
      // GDI reads a plain BITMAPINFOHEADER, and any colour table behind its
      // 40 bytes: a private copy of both.
      kolvex::detail::PlatformDescription description(*header);
      block->hDIBSection =
          ::CreateDIBSection(temporary.GetSafeHdc(), description.Info(), DIB_RGB_COLORS,
                             reinterpret_cast<void**>(&block->pBytes), nullptr, 0);
      temporary.DeleteDC();
    }
    if (block->hDIBSection == nullptr) AfxThrowMemoryException();

    block->pDIBSectionDC = kolvex::detail::New<CDC>();
    if (!block->pDIBSectionDC->Attach(::CreateCompatibleDC(nullptr))) AfxThrowMemoryException();
    block->hOldBitmap = static_cast<HBITMAP>(
        ::SelectObject(block->pDIBSectionDC->GetSafeHdc(), block->hDIBSection));
    return true;
  } catch (CMemoryException* e) {
    e->Delete();
    // Marked created so that the release frees the header storage even when
    // no pixels were set; _IDelete tears down whatever GDI objects exist.
    if (!_IsNil(CRZDIBBase2::_IGetData())) _IGetData()->bCreated = true;
    Delete();
    return false;
  }
}

bool CRZDIB2::IsDIBSection() const {
  if (_IsNil(CRZDIBBase2::_IGetData())) return false;
  const CRzDibData2* block = _IGetData();
  return block->pBmiHeader != nullptr && block->pBytes != nullptr && block->hDIBSection != nullptr;
}

HBITMAP CRZDIB2::GetDIBSection() const {
  return _IsNil(CRZDIBBase2::_IGetData()) ? nullptr : _IGetData()->hDIBSection;
}

CDC* CRZDIB2::GetDIBSectionDC() const {
  return _IsNil(CRZDIBBase2::_IGetData()) ? nullptr : _IGetData()->pDIBSectionDC;
}

HBITMAP CRZDIB2::GetOldBitmap() const {
  return _IsNil(CRZDIBBase2::_IGetData()) ? nullptr : _IGetData()->hOldBitmap;
}

// ---- Storage hooks ----

void CRZDIB2::_IAllocData() { pData = kolvex::detail::New<CRzDibData2>(); }

void CRZDIB2::_IFreeData() {
  if (pData != nullptr && !_IsNil(pData)) delete _IGetData();
  _ISetDataNil();
}

void CRZDIB2::_IAllocDibData(UINT nSize) {
  // Commit the header, pixels and slack (m bytes) at the start of a reservation
  // of floor(m / 4096) + 1 pages. Commits are whole pages, so the reservation
  // ends in an uncommitted page only when m is a whole number of pages;
  // otherwise its last page is the one the buffer ends in, committed to its
  // end, and an access past the buffer within that page does not fault.
  const auto committed = kolvex::detail::CheckedAdd(nSize, kolvex::detail::kSlackBytes);
  const auto reserved = committed
                            ? kolvex::detail::CheckedSize(*committed / kPageBytes + 1, kPageBytes)
                            : std::nullopt;
  if (!reserved) AfxThrowMemoryException();
  // A region kept for reuse still holds its last owner's bytes: every
  // committed byte that fresh pages would read as zero is cleared, except
  // those that the maker of this buffer promised to write itself, and, for a
  // plain CRZDIB2 made like another frame (core/owed_zeros.h), the pixels and
  // what follows them, which its next writer or reader clears. (Plain stores:
  // streaming ones measured no faster here, and the maker writes the same
  // lines right after.)
  const bool written = kolvex::detail::TakeWholeWrite(*this, nSize);
  const bool later = kolvex::detail::MayClearLater(*this) && typeid(*this) == typeid(CRZDIB2) &&
                     nSize >= kClearLaterBytes;
  const auto pages = kolvex::platform::detail::AllocatePages(*reserved, *committed);
  if (pages.base == nullptr) AfxThrowMemoryException();
  if (pages.reused) {
    auto* base = static_cast<BYTE*>(pages.base);
    std::size_t to = (*committed + kPageBytes - 1) / kPageBytes * kPageBytes;
    if (!written && later && kolvex::detail::OweZeros(pData, base + kHeaderBytes, base + to)) {
      to = kHeaderBytes;
    }
    const std::size_t from = written ? nSize : 0;
    kolvex::detail::FillBytes(base + from, 0, to - from);
  }
  pData->pBmiHeader = static_cast<tagRZBMINFOHEADER*>(pages.base);
  pData->bCreated = true;
  pData->nAllocSize = nSize;
}

void CRZDIB2::_IFreeDibData() {
  kolvex::detail::ForgetZeros(pData);
  if (pData->pBmiHeader != nullptr) {
    kolvex::platform::detail::FreePages(pData->pBmiHeader);
    pData->pBmiHeader = nullptr;
  }
}

LONG CRZDIB2::_InterlockedIncrement(LONG* pCount) { return ::InterlockedIncrement(pCount); }

LONG CRZDIB2::_InterlockedDecrement(LONG* pCount) { return ::InterlockedDecrement(pCount); }

void CRZDIB2::_IDelete() {
  CRzDibData2* block = _IGetData();
  if (!_IsNil(pData) && block->pBmiHeader != nullptr && block->pBytes != nullptr &&
      block->hDIBSection != nullptr) {
    // Fixed order: the displaced bitmap goes back before its DC is deleted, and
    // the DC goes before the section, which GDI will not delete while selected.
    try {
      if (block->pDIBSectionDC != nullptr) {
        ::SelectObject(block->pDIBSectionDC->GetSafeHdc(), block->hOldBitmap);
        delete block->pDIBSectionDC;  // deletes the memory DC it wraps
      }
      ::DeleteObject(block->hDIBSection);
    } catch (...) {
      // Teardown never fails the release: the header and block go regardless.
    }
  }
  CRZDIBBase2::_IDelete();
}

bool CRZDIB2::_CopyBeforeWrite() {
  CRzDibData2* old = _IGetData();
  if (_IsNil(pData) || _RefCount(old) <= 1) return CRZDIBBase2::_CopyBeforeWrite();
  // An extra reference keeps the old block, and its cache record, alive until
  // the record is copied, even if every other owner lets go meanwhile.
  _InterlockedIncrement(&old->nRefs);
  bool copied = false;
  try {
    copied = CRZDIBBase2::_CopyBeforeWrite();
    CRzDibData2* fresh = _IGetData();
    if (copied && fresh->pBmiHeader != nullptr && fresh->pBytes != nullptr) {
      fresh->cacheInfo = old->cacheInfo;
    }
  } catch (...) {
    _ReleaseBlock(old);
    throw;
  }
  _ReleaseBlock(old);
  return copied;
}

bool CRZDIB2::_AllocBeforeWrite(const CRZDIBBase2& src) {
  return CRZDIBBase2::_AllocBeforeWrite(src);
}

bool CRZDIB2::_UseMMXInstructions() { return ProbeMMX() != 0; }
