// Internal: the page-granular regions behind pixel storage, made by the
// system's VirtualAlloc or taken from those kept for reuse
// (<kolvex/platform/storage_reuse.h>). Not installed.
#pragma once

#include <cstddef>

namespace kolvex::platform::detail {

// The unit in which VirtualAlloc commits and the keeper compares regions.
inline constexpr std::size_t kPageBytes = 4096;

struct Pages {
  void* base = nullptr;  // null when memory ran out
  bool reused = false;   // a kept region: its committed pages hold what its last owner wrote
};

// A reservation of reserveBytes whose first commitBytes are committed
// read-write (each rounded up to whole pages; commitBytes <= reserveBytes), as
// VirtualAlloc(MEM_RESERVE) and then VirtualAlloc(MEM_COMMIT) make it, and
// counted as those two allocations by the fault injection. A fresh region
// reads as zero; a reused one is the caller's to clear where it must.
Pages AllocatePages(std::size_t reserveBytes, std::size_t commitBytes);

// Takes back the reservation that starts at base (one of AllocatePages, or any
// other of the same shape): kept when the limit allows, released otherwise.
// An address that starts no reservation is left alone.
void FreePages(void* base);

}  // namespace kolvex::platform::detail
