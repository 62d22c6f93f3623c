// Reused pixel storage. The page-granular regions that bitmaps release (header
// and pixels of every CRZDIB2 that is not attached memory or a DIB section's
// bits) are kept, process-wide, and handed to the next request of the same
// reserved and committed size instead of fresh pages from the system: a
// stream of same-size frames then maps nothing new and takes no page fault.
// Nothing else changes: a region handed out reads as zero wherever fresh
// pages would, VirtualQuery reports the extents asked for, and the fault
// injection of <kolvex/testing.h> fails these requests as it fails
// VirtualAlloc.
//
// What is kept is bounded by a limit in kilobytes of committed memory, a few
// regions of any one size and a few dozen in all; the least recently released
// go first. Everything kept is given back to the system at process exit, and
// when a fresh region cannot be had.
//
// Threading: any thread; the limit applies to every later release.
#pragma once

#include <kolvex/platform/export.h>

namespace kolvex::platform {

// Keeps at most limitKB kilobytes of released storage (131072, 128 MiB, until
// set); what is kept beyond a lower limit is released at once. 0 (or less)
// turns reuse off and releases everything kept.
KOLVEX_API void SetStorageReuseLimitKB(int limitKB);

// The limit in force, in kilobytes.
KOLVEX_API int GetStorageReuseLimitKB();

// Kilobytes of committed memory kept now; never above the limit.
KOLVEX_API int GetStorageReuseKeptKB();

}  // namespace kolvex::platform
