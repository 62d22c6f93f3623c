// Internal: the process-wide image cache behind CRZDIB2::CacheThis,
// UnCacheThis and LookupCache.
//
// An entry is one more owner of a cached bitmap's data block: it holds a
// CRZDIB2 that shares the block (and with it the block's cache record), so the
// pixels stay alive after every client bitmap has let go of them, and the
// client's copy-before-write keeps them unchanged when the client writes.
//
// Entries are found by their record: walking from the newest entry to the
// oldest, the first whose record matches the key, by the frame-independent
// comparison when the entry's own nFrameMode is 1 and by the full one
// otherwise. Sizes are counted in whole kilobytes; when an entry would not fit
// the capacity, the least-used entries go first, ties going to the earliest.
//
// Locking. One re-entrant critical section, private to the cache, guards
// everything here, and the records of cached blocks, which entries are matched
// by: CRZDIB2::SetCacheInfo writes a record through WriteRecord once the cache
// exists. Every public member holds it from its first step to its last, which
// includes destroying evicted entries (releasing their blocks) and, for Share,
// taking the caller's share of the found block: once the lock is left, an
// eviction on another thread may destroy the entry.
#pragma once

#include <kolvex/dib/dib.h>
#include <kolvex/platform/win32.h>

// One entry: a bitmap sharing the cached block, and the hits counted on it.
// Linked into its cache's list, newest at the head.
struct CDIBCacheEntry {
  unsigned int nUseCount = 0;
  CRZDIB2 dib;
  CDIBCacheEntry* pNext = nullptr;  // towards older entries
  CDIBCacheEntry* pPrev = nullptr;  // towards newer entries
};

class CDIBCache {
 public:
  CDIBCache();
  // Empties the cache; the library itself never destroys its one cache.
  virtual ~CDIBCache();
  CDIBCache(const CDIBCache&) = delete;
  CDIBCache& operator=(const CDIBCache&) = delete;

  // The cache, made on first use with capacity 0. Null while another thread is
  // making it. A memory exception while making it reaches the caller, and a
  // later call tries again.
  static CDIBCache* GetDIBCache();
  // The cache if it has been made, else null; never makes it.
  static CDIBCache* Existing();

  // A matching entry counts a hit and answers true; otherwise a new entry
  // that shares dib's block is made, then room for it. False at capacity 0,
  // or when the entry cannot be made (the memory exception is caught), which
  // leaves every other entry in place.
  bool Add(const CRZDIB2& dib);
  // Trims the cache to its capacity, then makes `into` share the block of the
  // first entry matching info (through the base assignment, so a locked `into`
  // gets a copy) and counts a hit. False, `into` unchanged, on a miss.
  bool Share(const CDIBCacheInfo& info, CRZDIB2& into);
  // Destroys the first entry that matches dib's record, if any.
  void Remove(const CRZDIB2& dib);
  // Copies info over a block's record under the lock: lookups on other
  // threads read the records of cached blocks under it.
  void WriteRecord(CDIBCacheInfo& record, const CDIBCacheInfo& info);
  // A negative capacity is refused (false); otherwise it is stored and the
  // cache trimmed to it (emptied at 0).
  bool SetCapacityKB(int nCapacityKB);
  int CapacityKB();
  int UsedKB();

 private:
  // The caller holds cs for all of these.
  // Counts a hit on the first entry matching dib's record.
  bool FindAndTouch(const CRZDIB2& dib);
  // Evicts until nNeededKB more would fit; empties the cache at capacity 0.
  void MakeRoom(int nNeededKB);
  // The eviction victim (the last entry with the smallest use count, null
  // when empty), and the smallest and largest use counts.
  CDIBCacheEntry* FindLeastUsed(unsigned& nMin, unsigned& nMax);
  // Destroys every entry; nothing is counted afterwards.
  void RemoveAll();
  CDIBCacheEntry* FindMatch(const CDIBCacheInfo& key) const;
  void AddHead(CDIBCacheEntry* entry);
  void Unlink(CDIBCacheEntry* entry);
  // Unlinks and destroys one entry and takes its size off nUsedKB.
  void Destroy(CDIBCacheEntry* entry);

  CRITICAL_SECTION cs;
  int nUsedKB = 0;
  int nCapacityKB = 0;
  CDIBCacheEntry* pHead = nullptr;  // newest; the list runs to the oldest
};
