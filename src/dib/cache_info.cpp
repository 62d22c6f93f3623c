// Comparisons of cache key records.

#include "dib/dib_cache.h"

#include <kolvex/dib/dib.h>

namespace {

// The fields both comparisons cover, in their order; nFrame is compared by the
// caller first when it takes part.
bool EqualKeys(const CDIBCacheInfo& a, const CDIBCacheInfo& b) {
  return a.nFlags == b.nFlags && a.dwKey1 == b.dwKey1 && a.nFrameMode == b.nFrameMode &&
         a.dwKey2 == b.dwKey2 && a.dwKey3 == b.dwKey3 && a.dwKey4 == b.dwKey4 &&
         a.rzHeader.biWidth == b.rzHeader.biWidth && a.rzHeader.biHeight == b.rzHeader.biHeight &&
         a.rzHeader.biBitCount == b.rzHeader.biBitCount &&
         a.rzHeader.dwInterlacedFlag == b.rzHeader.dwInterlacedFlag;
}

}  // namespace

bool CDIBCacheInfo::EqualInfo(const CDIBCacheInfo& other) const {
  if (bInfoValid == 0 || other.bInfoValid == 0) return false;
  return nFrame == other.nFrame && EqualKeys(*this, other);
}

bool CDIBCacheInfo::EqualImage(const CDIBCacheInfo& other) const {
  if (bInfoValid == 0 || other.bInfoValid == 0) return false;
  return EqualKeys(*this, other);
}

// ---- The record of a CRZDIB2's block ----

namespace {

// What an empty bitmap reads: its block is the base-sized empty block, which
// has no record of its own.
constinit const CDIBCacheInfo kEmptyRecord{};

}  // namespace

const CDIBCacheInfo& CRZDIB2::GetCacheInfo() const {
  if (_IsNil(CRZDIBBase2::_IGetData())) return kEmptyRecord;
  return _IGetData()->cacheInfo;
}

void CRZDIB2::SetCacheInfo(const CDIBCacheInfo& info) {
  if (_IsNil(CRZDIBBase2::_IGetData())) return;
  CDIBCacheInfo& record = _IGetData()->cacheInfo;
  // Without a cache no entry can hold the block; with one, an entry may, and
  // lookups read its record under the cache's lock.
  if (CDIBCache* cache = CDIBCache::Existing()) {
    cache->WriteRecord(record, info);
  } else {
    record = info;
  }
}

bool CRZDIB2::EqualCacheInfo(const CDIBCacheInfo& info) const {
  return GetCacheInfo().EqualInfo(info);
}

bool CRZDIB2::EqualCacheImage(const CDIBCacheInfo& info) const {
  const CDIBCacheInfo& mine = GetCacheInfo();
  return mine.nFrameMode == 1 ? mine.EqualImage(info) : mine.EqualInfo(info);
}

unsigned int CRZDIB2::GetCacheInfoFlags() const { return GetCacheInfo().nFlags; }

unsigned int CRZDIB2::GetCacheInfoFrame() const { return GetCacheInfo().nFrame; }
