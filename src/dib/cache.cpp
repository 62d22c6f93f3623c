// The shared image cache: CDIBCache, and the members of CRZDIB2 that put
// bitmaps into it, find them again and take them out.

#include "base/size.h"
#include "dib/dib_cache.h"
#include "platform/allocation.h"

#include <kolvex/base/geometry.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <memory>

namespace {

// Holds a critical section for one scope.
class CacheLock {
 public:
  explicit CacheLock(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
  ~CacheLock() { LeaveCriticalSection(&cs_); }
  CacheLock(const CacheLock&) = delete;
  CacheLock& operator=(const CacheLock&) = delete;

 private:
  CRITICAL_SECTION& cs_;
};

// The one cache, made on first use and never deleted, and the counter that
// lets exactly one thread make it without a lock.
constinit std::atomic<CDIBCache*> s_pDIBCache{nullptr};
constinit LONG s_nCreating = 0;

int ClampToInt(std::int64_t value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// A bitmap's size as the cache counts it: the DIB rule's bytes from its own
// header, in kilobytes truncated toward zero (a top-down height counts
// negative). Computed in 64 bits and saturated, since an attached bitmap's
// header may hold any values; for every image a buffer can hold, this is
// exactly the signed 32-bit result.
int SizeKB(const CRZDIB2& dib) {
  const tagRZBMINFOHEADER* h = dib.GetRzBmiHeader();
  if (h == nullptr) return 0;
  const std::int64_t stride = kolvex::RowStride(h->biBitCount, h->biWidth);
  std::int64_t bytes = 0;
  if (__builtin_mul_overflow(stride, std::int64_t{h->biHeight}, &bytes)) {
    bytes = (stride < 0) != (h->biHeight < 0) ? INT64_MIN : INT64_MAX;
  }
  return ClampToInt(bytes / 1024);
}

// The running total never goes below 0, whatever sizes come and go.
int UsedAfter(int used, std::int64_t change) {
  const std::int64_t sum = std::int64_t{used} + change;
  return sum < 0 ? 0 : ClampToInt(sum);
}

// Entries still cached when the process ends are released, so that their
// blocks (and DIB sections) do not outlive it unaccounted. The platform layer
// keeps its own state for the whole process, so the order of static
// destruction does not matter. The cache object stays, at capacity 0: anything
// cached later on is refused.
struct ReleaseEntriesAtExit {
  ReleaseEntriesAtExit() = default;
  ReleaseEntriesAtExit(const ReleaseEntriesAtExit&) = delete;
  ReleaseEntriesAtExit& operator=(const ReleaseEntriesAtExit&) = delete;
  ~ReleaseEntriesAtExit() {
    if (CDIBCache* cache = CDIBCache::Existing()) cache->SetCapacityKB(0);
  }
};

// Registered when the cache is made, not at load: a process that never uses
// the cache does no work at exit, and exit handlers registered before the
// cache existed run after the release.
void ReleaseEntriesWhenTheProcessEnds() { static ReleaseEntriesAtExit release; }

}  // namespace

// ---- CDIBCache ----

CDIBCache::CDIBCache() { InitializeCriticalSection(&cs); }

CDIBCache::~CDIBCache() {
  {
    CacheLock lock(cs);
    RemoveAll();
  }
  DeleteCriticalSection(&cs);
}

CDIBCache* CDIBCache::Existing() { return s_pDIBCache.load(std::memory_order_acquire); }

CDIBCache* CDIBCache::GetDIBCache() {
  if (CDIBCache* cache = Existing()) return cache;
  if (::InterlockedIncrement(&s_nCreating) != 1) return Existing();  // being made elsewhere

  // Another thread may have made the cache between the first look and the
  // increment, and set the counter back since: look again before making one.
  CDIBCache* cache = Existing();
  if (cache == nullptr) {
    try {
      cache = kolvex::detail::New<CDIBCache>();
    } catch (...) {
      ::InterlockedExchange(&s_nCreating, 0);  // a later call may try again
      throw;
    }
    s_pDIBCache.store(cache, std::memory_order_release);
    ReleaseEntriesWhenTheProcessEnds();
  }
  ::InterlockedExchange(&s_nCreating, 0);
  return cache;
}

bool CDIBCache::Add(const CRZDIB2& dib) {
  CacheLock lock(cs);
  if (FindAndTouch(dib)) return true;
  // The entry is made before room is made for it: running out of memory then
  // costs no other entry its place.
  std::unique_ptr<CDIBCacheEntry> entry;
  try {
    entry.reset(kolvex::detail::New<CDIBCacheEntry>());
    entry->dib = dib;  // shares the block (a locked bitmap never comes here)
  } catch (CMemoryException* e) {
    e->Delete();
    return false;
  }
  const int size = SizeKB(dib);
  MakeRoom(size);
  if (nCapacityKB == 0) return false;
  // Starting at the highest count keeps a new entry from being the next victim
  // merely because it is new.
  unsigned minUses = 0;
  FindLeastUsed(minUses, entry->nUseCount);
  AddHead(entry.release());
  nUsedKB = UsedAfter(nUsedKB, size);
  return true;
}

bool CDIBCache::Share(const CDIBCacheInfo& info, CRZDIB2& into) {
  CacheLock lock(cs);
  MakeRoom(0);
  CDIBCacheEntry* entry = FindMatch(info);
  if (entry == nullptr) return false;
  ++entry->nUseCount;
  static_cast<CRZDIBBase2&>(into) = entry->dib;  // the base assignment, through the virtual table
  return true;
}

void CDIBCache::Remove(const CRZDIB2& dib) {
  CacheLock lock(cs);
  if (CDIBCacheEntry* entry = FindMatch(dib.GetCacheInfo())) Destroy(entry);
}

void CDIBCache::WriteRecord(CDIBCacheInfo& record, const CDIBCacheInfo& info) {
  CacheLock lock(cs);
  record = info;
}

bool CDIBCache::SetCapacityKB(int nCapacity) {
  if (nCapacity < 0) return false;
  CacheLock lock(cs);
  nCapacityKB = nCapacity;
  MakeRoom(0);
  return true;
}

int CDIBCache::CapacityKB() {
  CacheLock lock(cs);
  return nCapacityKB;
}

int CDIBCache::UsedKB() {
  CacheLock lock(cs);
  return nUsedKB;
}

bool CDIBCache::FindAndTouch(const CRZDIB2& dib) {
  CDIBCacheEntry* entry = FindMatch(dib.GetCacheInfo());
  if (entry == nullptr) return false;
  ++entry->nUseCount;
  return true;
}

void CDIBCache::MakeRoom(int nNeededKB) {
  if (nCapacityKB == 0) {
    RemoveAll();
    return;
  }
  while (pHead != nullptr && std::int64_t{nUsedKB} + nNeededKB > nCapacityKB) {
    unsigned minUses = 0;
    unsigned maxUses = 0;
    CDIBCacheEntry* victim = FindLeastUsed(minUses, maxUses);
    if (victim == nullptr) break;
    Destroy(victim);
  }
}

CDIBCacheEntry* CDIBCache::FindLeastUsed(unsigned& nMin, unsigned& nMax) {
  nMin = 0;
  nMax = 0;
  if (pHead == nullptr) return nullptr;
  nMin = 0xFFFFFFFFu;
  CDIBCacheEntry* victim = nullptr;
  // Less-or-equal: of equal counts, the one nearest the tail (added earliest) wins.
  for (CDIBCacheEntry* entry = pHead; entry != nullptr; entry = entry->pNext) {
    if (entry->nUseCount <= nMin) {
      victim = entry;
      nMin = entry->nUseCount;
    }
    if (entry->nUseCount > nMax) nMax = entry->nUseCount;
  }
  return victim;
}

void CDIBCache::RemoveAll() {
  while (CDIBCacheEntry* entry = pHead) {
    Unlink(entry);
    delete entry;
  }
  nUsedKB = 0;
}

CDIBCacheEntry* CDIBCache::FindMatch(const CDIBCacheInfo& key) const {
  // EqualCacheImage compares by the entry's own nFrameMode.
  for (CDIBCacheEntry* entry = pHead; entry != nullptr; entry = entry->pNext) {
    if (entry->dib.EqualCacheImage(key)) return entry;
  }
  return nullptr;
}

void CDIBCache::AddHead(CDIBCacheEntry* entry) {
  entry->pPrev = nullptr;
  entry->pNext = pHead;
  if (pHead != nullptr) pHead->pPrev = entry;
  pHead = entry;
}

void CDIBCache::Unlink(CDIBCacheEntry* entry) {
  (entry->pPrev != nullptr ? entry->pPrev->pNext : pHead) = entry->pNext;
  if (entry->pNext != nullptr) entry->pNext->pPrev = entry->pPrev;
  entry->pPrev = entry->pNext = nullptr;
}

void CDIBCache::Destroy(CDIBCacheEntry* entry) {
  Unlink(entry);
  nUsedKB = UsedAfter(nUsedKB, -std::int64_t{SizeKB(entry->dib)});
  delete entry;  // drops the entry's reference to its block
}

// ---- CRZDIB2 ----

bool CRZDIB2::CacheThis() const {
  const tagRZBMINFOHEADER* h = GetRzBmiHeader();
  if (h == nullptr || GetBytes() == nullptr || h->biBitCount == 0 || h->biWidth == 0 ||
      h->biHeight == 0) {
    return false;
  }
  if (IsLocked()) return false;
  if (GetCacheInfo().bInfoValid == 0) return false;
  CDIBCache* cache = CDIBCache::GetDIBCache();
  if (cache == nullptr) return false;
  return cache->Add(*this);
}

void CRZDIB2::UnCacheThis() const {
  if (GetCacheInfo().bInfoValid == 0) return;
  CDIBCache* cache = CDIBCache::GetDIBCache();
  if (cache != nullptr) cache->Remove(*this);
}

bool CRZDIB2::LookupCache(const CDIBCacheInfo& info) {
  if (info.bInfoValid == 0) return false;
  CDIBCache* cache = CDIBCache::GetDIBCache();
  return cache != nullptr && cache->Share(info, *this);
}

bool CRZDIB2::SetCacheCapacityKB(int nCapacityKB) {
  if (nCapacityKB < 0) return false;
  CDIBCache* cache = nullptr;
  try {
    cache = CDIBCache::GetDIBCache();
  } catch (CMemoryException* e) {
    e->Delete();
    return false;
  }
  return cache != nullptr && cache->SetCapacityKB(nCapacityKB);
}

int CRZDIB2::GetCacheCapacityKB() {
  CDIBCache* cache = CDIBCache::Existing();
  return cache != nullptr ? cache->CapacityKB() : 0;
}

int CRZDIB2::GetCacheUsedKB() {
  CDIBCache* cache = CDIBCache::Existing();
  return cache != nullptr ? cache->UsedKB() : 0;
}
