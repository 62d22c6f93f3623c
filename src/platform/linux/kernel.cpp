// Virtual memory over mmap/mprotect/munmap, and critical sections over a
// recursive mutex.

#include "base/size.h"
#include "platform/allocation.h"
#include "platform/page_keeper.h"

#include <kolvex/platform/linux/kernel.h>

#include <sys/mman.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <new>
#include <vector>

namespace {

// The pages VirtualAlloc commits are those the page keeper counts in.
constexpr std::uintptr_t kPage = kolvex::platform::detail::kPageBytes;

std::uintptr_t PageDown(std::uintptr_t a) { return a & ~(kPage - 1); }

// One reservation: its size and which of its pages are committed. Windows
// keeps this in the kernel; mprotect alone cannot be asked for it.
struct Reservation {
  std::size_t size;
  std::vector<bool> committed;
};

struct VirtualMemory {
  std::mutex lock;
  std::map<std::uintptr_t, Reservation> reservations;  // by start address
};

VirtualMemory& Vm() {
  // Never destroyed: blocks may be released by static destructors of clients.
  static VirtualMemory* const vm = new VirtualMemory();
  return *vm;
}

using ReservationMap = std::map<std::uintptr_t, Reservation>;

// The reservation that holds address a, or end().
ReservationMap::iterator Holding(ReservationMap& map, std::uintptr_t a) {
  auto it = map.upper_bound(a);
  if (it == map.begin()) return map.end();
  --it;
  return a < it->first + it->second.size ? it : map.end();
}

// [from, to) rounded out to whole pages, if it lies inside the reservation.
bool PageRange(const ReservationMap::iterator& it, std::uintptr_t addr, std::size_t size,
               std::uintptr_t& from, std::uintptr_t& to) {
  const auto end = kolvex::detail::CheckedAdd(addr, size);
  const auto rounded = end ? kolvex::detail::CheckedAdd(*end, kPage - 1) : std::nullopt;
  if (!rounded) return false;
  from = PageDown(addr);
  to = PageDown(*rounded);
  return to <= it->first + it->second.size;
}

void MarkPages(Reservation& r, std::uintptr_t base, std::uintptr_t from, std::uintptr_t to,
               bool committed) {
  for (std::uintptr_t p = from; p < to; p += kPage) r.committed[(p - base) / kPage] = committed;
}

// Committed pages are backed at once rather than one fault at a time at
// first touch: pixels are written as soon as a block is committed, and one
// call that fills every page costs a fraction of a fault per page (a large
// fraction of a frame's time in virtual machines, where faults are dear).
// Only a speed-up: where the kernel lacks the advice (before 5.14) or cannot
// back the pages now, they are backed at first touch as before.
void Populate(void* p, std::size_t bytes) {
#if defined(MADV_POPULATE_WRITE)
  (void)madvise(p, bytes, MADV_POPULATE_WRITE);
#else
  (void)p;
  (void)bytes;
#endif
}

// A reservation of 2 MiB or more starts on a 2 MiB boundary and asks for
// transparent huge pages, so that committing it takes one fault per 2 MiB
// instead of 512 where the system offers them (the "madvise" mode). Where it
// does not, the advice is refused or ignored and the pages are small, as before.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

void* MapReservation(std::size_t bytes, int protection) {
  constexpr int kFlags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
  const auto span = kolvex::detail::CheckedAdd(bytes, kHugePage - kPage);
  if (bytes < kHugePage || !span) return mmap(nullptr, bytes, protection, kFlags, -1, 0);
  // A page-aligned mapping this much longer holds an aligned run of `bytes`;
  // what lies before and after that run goes back at once.
  auto* raw = static_cast<char*>(mmap(nullptr, *span, protection, kFlags, -1, 0));
  if (raw == MAP_FAILED) return MAP_FAILED;
  const std::size_t lead =
      (kHugePage - reinterpret_cast<std::uintptr_t>(raw) % kHugePage) % kHugePage;
  char* start = raw + lead;
  if (lead != 0) munmap(raw, lead);
  if (lead != *span - bytes) munmap(start + bytes, *span - bytes - lead);
#if defined(MADV_HUGEPAGE)
  (void)madvise(start, bytes, MADV_HUGEPAGE);
#endif
  return start;
}

LPVOID Reserve(SIZE_T size, bool commit) {
  const auto rounded = kolvex::detail::CheckedAdd(size, kPage - 1);
  if (!rounded) return nullptr;
  const std::size_t bytes = PageDown(*rounded);
  void* p = MapReservation(bytes, commit ? PROT_READ | PROT_WRITE : PROT_NONE);
  if (p == MAP_FAILED) return nullptr;
  if (commit) Populate(p, bytes);
  try {
    VirtualMemory& vm = Vm();
    std::lock_guard<std::mutex> guard(vm.lock);
    vm.reservations.emplace(reinterpret_cast<std::uintptr_t>(p),
                            Reservation{bytes, std::vector<bool>(bytes / kPage, commit)});
  } catch (const std::bad_alloc&) {
    munmap(p, bytes);
    return nullptr;
  }
  return p;
}

}  // namespace

LPVOID VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect) {
  if (dwSize == 0) return nullptr;
  const bool commit = (flAllocationType & MEM_COMMIT) != 0;
  if (commit && flProtect != PAGE_READWRITE) return nullptr;  // only read-write commits
  if (kolvex::detail::AllocationShouldFail()) return nullptr;
  if (lpAddress == nullptr) {
    if ((flAllocationType & (MEM_RESERVE | MEM_COMMIT)) == 0) return nullptr;
    return Reserve(dwSize, commit);
  }
  // Reservations at a chosen address are not offered.
  if ((flAllocationType & MEM_RESERVE) != 0 || !commit) return nullptr;

  std::uintptr_t from = 0;
  std::uintptr_t to = 0;
  {
    VirtualMemory& vm = Vm();
    std::lock_guard<std::mutex> guard(vm.lock);
    auto it = Holding(vm.reservations, reinterpret_cast<std::uintptr_t>(lpAddress));
    if (it == vm.reservations.end() ||
        !PageRange(it, reinterpret_cast<std::uintptr_t>(lpAddress), dwSize, from, to) ||
        mprotect(reinterpret_cast<void*>(from), to - from, PROT_READ | PROT_WRITE) != 0) {
      return nullptr;
    }
    MarkPages(it->second, it->first, from, to, true);
  }
  // Outside the lock: filling the pages takes time that other threads'
  // allocations need not wait for.
  Populate(reinterpret_cast<void*>(from), to - from);
  return reinterpret_cast<LPVOID>(from);
}

BOOL VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType) {
  VirtualMemory& vm = Vm();
  std::lock_guard<std::mutex> guard(vm.lock);
  const auto addr = reinterpret_cast<std::uintptr_t>(lpAddress);
  auto it = Holding(vm.reservations, addr);
  if (it == vm.reservations.end()) return FALSE;
  if (dwFreeType == MEM_RELEASE) {
    if (dwSize != 0 || addr != it->first) return FALSE;
    munmap(lpAddress, it->second.size);
    vm.reservations.erase(it);
    return TRUE;
  }
  if (dwFreeType == MEM_DECOMMIT) {
    std::uintptr_t from = it->first;
    std::uintptr_t to = it->first + it->second.size;
    if (dwSize != 0) {
      if (!PageRange(it, addr, dwSize, from, to)) return FALSE;
    } else if (addr != it->first) {
      return FALSE;
    }
    // MADV_DONTNEED drops the contents, so a later commit reads zeros again.
    void* p = reinterpret_cast<void*>(from);
    if (madvise(p, to - from, MADV_DONTNEED) != 0 || mprotect(p, to - from, PROT_NONE) != 0) {
      return FALSE;
    }
    MarkPages(it->second, it->first, from, to, false);
    return TRUE;
  }
  return FALSE;
}

SIZE_T VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, SIZE_T dwLength) {
  if (lpBuffer == nullptr || dwLength < sizeof(MEMORY_BASIC_INFORMATION)) return 0;
  const std::uintptr_t page = PageDown(reinterpret_cast<std::uintptr_t>(lpAddress));
  MEMORY_BASIC_INFORMATION info{};
  info.BaseAddress = reinterpret_cast<PVOID>(page);

  VirtualMemory& vm = Vm();
  std::lock_guard<std::mutex> guard(vm.lock);
  auto it = Holding(vm.reservations, page);
  if (it == vm.reservations.end()) {
    info.RegionSize = kPage;
    info.State = MEM_FREE;
    info.Protect = PAGE_NOACCESS;
  } else {
    const Reservation& r = it->second;
    std::size_t i = (page - it->first) / kPage;
    const bool committed = r.committed[i];
    std::size_t run = 0;
    while (i < r.committed.size() && r.committed[i] == committed) {
      ++i;
      ++run;
    }
    info.AllocationBase = reinterpret_cast<PVOID>(it->first);
    info.AllocationProtect = PAGE_NOACCESS;
    info.RegionSize = run * kPage;
    info.State = committed ? MEM_COMMIT : MEM_RESERVE;
    info.Protect = committed ? PAGE_READWRITE : 0;  // Windows reports 0 for reserved pages
    info.Type = MEM_PRIVATE;
  }
  *lpBuffer = info;
  return sizeof info;
}

// ---- Critical sections ----

namespace {

static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::opaque));
static_assert(alignof(std::recursive_mutex) <= alignof(CRITICAL_SECTION));

std::recursive_mutex& MutexOf(LPCRITICAL_SECTION cs) {
  return *std::launder(reinterpret_cast<std::recursive_mutex*>(cs->opaque));
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION cs) { new (cs->opaque) std::recursive_mutex(); }

void EnterCriticalSection(LPCRITICAL_SECTION cs) { MutexOf(cs).lock(); }

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  return MutexOf(cs).try_lock() ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) { MutexOf(cs).unlock(); }

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  using Mutex = std::recursive_mutex;
  MutexOf(cs).~Mutex();
}

// ---- Fault injection ----

// Every object of the stand-in already counts as an allocation where it is made.
void kolvex::detail::CountSystemAllocations() {}
