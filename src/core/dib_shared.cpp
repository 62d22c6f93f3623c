// Sharing, copy-on-write, attach/lock and the base storage hooks of CRZDIBBase2.

#include "core/bands.h"
#include "core/block_buffer.h"
#include "core/owed_zeros.h"
#include "core/whole_write.h"
#include "platform/allocation.h"

#include <kolvex/core/dib_base.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

using kolvex::detail::CheckedAdd;
using kolvex::detail::ImageBytes;

// constinit keeps the empty block out of any dynamic initialisation, and const
// puts it in read-only memory.
constinit const CRzDibBaseData2 CRZDIBBase2::_dibDataNil{-1, false, 0, nullptr, nullptr};

// ---- Construction ----

CRZDIBBase2::CRZDIBBase2()
    : pData(const_cast<CRzDibBaseData2*>(&_dibDataNil)), pColumnMap(nullptr), pRowMap(nullptr) {}

CRZDIBBase2::CRZDIBBase2(const CRZDIBBase2& src) : CRZDIBBase2() { operator=(src); }

CRZDIBBase2::CRZDIBBase2(tagRZBMINFOHEADER* pHeader) : CRZDIBBase2() {
  if (pHeader != nullptr) Create(pHeader);
}

CRZDIBBase2::CRZDIBBase2(tagRZBMINFOHEADER* pHeader, BYTE* pBits) : CRZDIBBase2() {
  if (pHeader != nullptr && pBits != nullptr) Attach(pHeader, pBits);
}

// ---- Release ----

void CRZDIBBase2::Delete() {
  CRzDibBaseData2* block = pData;
  if (block == nullptr || _IsNil(block)) return;
  if (_InterlockedDecrement(&block->nRefs) <= 0) {
    _IDelete();  // last owner, or the single owner of a locked block
  } else {
    _ISetDataNil();
  }
}

void CRZDIBBase2::Detach() { Delete(); }

void CRZDIBBase2::_ReleaseBlock(CRzDibBaseData2* pBlock) {
  // Delete() and the hooks work on pData; point it at the block to release for
  // the length of the call and put the current block back afterwards.
  CRzDibBaseData2* current = pData;
  pData = pBlock;
  Delete();
  pData = current;
}

// ---- Attach ----

bool CRZDIBBase2::Attach(tagRZBMINFOHEADER* pHeader, BYTE* pBits) {
  // Read before Delete(), which may release the memory the header lies in.
  const bool sized = pHeader == nullptr || kolvex::detail::IsHeaderSize(pHeader->biSize);
  Delete();
  if (!sized) return false;
  try {
    _NewBlock();
    pData->pBmiHeader = pHeader;
    pData->pBytes = pBits;
    return true;
  } catch (CMemoryException* e) {
    e->Delete();
    Delete();
    return false;
  }
}

// ---- Assignment ----

const CRZDIBBase2& CRZDIBBase2::operator=(const CRZDIBBase2& src) {
  const CRzDibBaseData2* from = src.pData;
  if (from->pBmiHeader == nullptr || from->pBytes == nullptr) {
    Delete();
    return *this;
  }
  if (pData->pBmiHeader == from->pBmiHeader) return *this;
  if ((IsLocked() && !_IsNil(pData)) || src.IsLocked()) {
    AssignCopy(src);
    return *this;
  }
  kolvex::detail::PayZeros(from);  // a block that owes zeros is never shared
  Delete();
  pData = src.pData;
  _InterlockedIncrement(&pData->nRefs);
  return *this;
}

const CRZDIBBase2& CRZDIBBase2::AssignCopy(const CRZDIBBase2& src) {
  const CRzDibBaseData2* from = src.pData;
  if (from->pBmiHeader == nullptr || from->pBytes == nullptr || &src == this) return *this;
  kolvex::detail::PayZeros(from);
  _AllocBeforeWrite(src);
  kolvex::detail::PayZeros(pData);  // a buffer kept may owe zeros beyond the copy
  // src still owns its block here, whatever _AllocBeforeWrite released. memmove:
  // an attached source may overlap storage this object already writes to.
  const auto image = ImageBytes(*from->pBmiHeader);
  std::memmove(pData->pBmiHeader, from->pBmiHeader, from->pBmiHeader->biSize);
  if (image) std::memmove(pData->pBytes, from->pBytes, *image);
  return *this;
}

// ---- Locking ----

bool CRZDIBBase2::IsLocked() const { return _RefCount(pData) < 0; }

tagRZBMINFOHEADER* CRZDIBBase2::LockDIB() {
  _CopyBeforeWrite();
  if (_IsNil(pData)) return nullptr;
  pData->nRefs = -1;
  return GetRzBmiHeader();
}

void CRZDIBBase2::UnlockDIB() {
  // Only a locked block is touched: forcing the count to 1 on a shared block
  // would let one owner free it under the others.
  if (!_IsNil(pData) && _RefCount(pData) < 0) pData->nRefs = 1;
}

// ---- The block factory ----

void CRZDIBBase2::_NewBlock() {
  _IAllocData();
  pData->nRefs = 1;
  pData->bCreated = false;  // no buffer of its own yet, whatever a client's hook left
}

void CRZDIBBase2::_NewBlock(UINT nHeaderBytes, std::size_t nImageBytes) {
  _NewBlock();
  const auto total = CheckedAdd(nHeaderBytes, nImageBytes);
  if (!total || *total > static_cast<std::size_t>(kolvex::detail::kMaxBufferBytes) -
                             kolvex::detail::kSlackBytes) {
    AfxThrowMemoryException();
  }
  // A header shorter than the extended one is still read and written as a
  // whole tagRZBMINFOHEADER (its flag words, 144-byte copies), so the buffer
  // holds one even when few pixel bytes follow the short header.
  _IAllocDibData(static_cast<UINT>(std::max(*total, kolvex::detail::kHeaderBytes)));
  pData->pBytes = reinterpret_cast<BYTE*>(pData->pBmiHeader) + nHeaderBytes;
}

void CRZDIBBase2::_NewBlock(const BITMAPINFOHEADER& info, DWORD dwInterlaced,
                            std::size_t nImageBytes) {
  _NewBlock(static_cast<UINT>(kolvex::detail::kHeaderBytes), nImageBytes);
  tagRZBMINFOHEADER& h = *pData->pBmiHeader;
  std::memset(&h, 0, sizeof h);
  std::memcpy(&h, &info, sizeof info);
  h.biSize = sizeof h;
  h.dwInterlacedFlag = dwInterlaced;
}

// ---- Base storage hooks ----

void CRZDIBBase2::_ISetDataNil() { pData = const_cast<CRzDibBaseData2*>(&_dibDataNil); }

void CRZDIBBase2::_IAllocData() { pData = kolvex::detail::New<CRzDibBaseData2>(CRzDibBaseData2{}); }

void CRZDIBBase2::_IFreeData() {
  if (pData != nullptr && !_IsNil(pData)) delete pData;
  _ISetDataNil();
}

void CRZDIBBase2::_IAllocDibData(UINT nSize) {
  const auto bytes = CheckedAdd(nSize, kolvex::detail::kSlackBytes);
  if (!bytes) AfxThrowMemoryException();
  pData->pBmiHeader = reinterpret_cast<tagRZBMINFOHEADER*>(kolvex::detail::NewArray<BYTE>(*bytes));
  pData->bCreated = true;
  pData->nAllocSize = nSize;
}

void CRZDIBBase2::_IFreeDibData() {
  if (pData->pBmiHeader != nullptr) {
    delete[] reinterpret_cast<BYTE*>(pData->pBmiHeader);
    pData->pBmiHeader = nullptr;
  }
}

LONG CRZDIBBase2::_InterlockedIncrement(LONG* pCount) { return ++*pCount; }

LONG CRZDIBBase2::_InterlockedDecrement(LONG* pCount) { return --*pCount; }

void CRZDIBBase2::_IDelete() {
  // A created buffer is freed even when no pixel pointer was set on it (a
  // creation that failed half-way), so that nothing leaks.
  if (pData->pBmiHeader != nullptr && pData->bCreated) _IFreeDibData();
  _IFreeData();
}

bool CRZDIBBase2::_CopyBeforeWrite() {
  CRzDibBaseData2* old = pData;
  if (_RefCount(old) <= 1) return false;  // sole owner, locked, or the empty block

  // The copy is made while this object still holds its reference to the old
  // block, and the reference is dropped only afterwards: with atomic counts
  // another owner may release the old block at any moment, and it must not be
  // freed while it is being read.
  try {
    if (old->pBmiHeader == nullptr) {
      _NewBlock();
    } else {
      const tagRZBMINFOHEADER& h = *old->pBmiHeader;
      // A geometry no buffer can hold asks for more than any buffer, which the
      // factory refuses once the new block is made.
      const std::size_t image = ImageBytes(h).value_or(SIZE_MAX);
      // Header and pixels are copied whole into the new buffer.
      const auto bytes = CheckedAdd(h.biSize, image);
      const kolvex::detail::WholeWrite promise(*this, bytes.value_or(0),
                                               bytes && old->pBytes != nullptr);
      _NewBlock(h.biSize, image);
      std::memcpy(pData->pBmiHeader, old->pBmiHeader, h.biSize);
      if (old->pBytes != nullptr) kolvex::detail::CopyBytes(pData->pBytes, old->pBytes, image);
    }
  } catch (...) {
    if (pData == old) {
      // No new block was made: give up the old reference, so the object ends
      // empty as if Delete() had run first.
      Delete();
    } else {
      // The object keeps the new block without header or pixels.
      _ReleaseBlock(old);
    }
    throw;
  }
  _ReleaseBlock(old);
  return true;
}

bool CRZDIBBase2::_AllocBeforeWrite(const CRZDIBBase2& src) {
  const CRzDibBaseData2* cur = pData;
  const tagRZBMINFOHEADER* from = src.pData->pBmiHeader;
  if (_RefCount(cur) <= 1 && cur->pBmiHeader != nullptr && cur->pBytes != nullptr &&
      cur->bCreated && from != nullptr) {
    const auto mine = ImageBytes(*cur->pBmiHeader);
    const auto theirs = ImageBytes(*from);
    if (mine && theirs && *mine >= *theirs) return false;
  }
  Delete();
  if (from == nullptr) {
    _NewBlock();
  } else {
    _NewBlock(from->biSize, ImageBytes(*from).value_or(SIZE_MAX));  // as in _CopyBeforeWrite
  }
  return true;
}

bool CRZDIBBase2::_UseMMXInstructions() { return false; }
