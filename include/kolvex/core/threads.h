// Threads of one operation. An operation on a large frame (the reductions,
// scaling, mirroring, the field and frame operations, the fills, the copy
// before a write, the filters, and the clearing of reused storage) splits its
// rows into bands and runs them at once on the calling thread and on helper
// threads of the library, as OpenCV's parallel_for_ does, so that one call uses
// the machine's cores. Frames below about 256 KiB of pixels read and written
// are not split: handing out their bands would cost more than it saves. The
// bytes are the same at every thread count.
//
// The helpers are shared by the whole process and made on first use: threads
// of the library's own on Linux (they take no signal, are joined when the
// process exits or the library is unloaded, and a child made by fork() makes
// its own), the system's thread pool on Windows. Nothing needs to be shut down.
//
// Threading: both calls may be made from any thread at any time; a change
// applies to the operations that start after it. Operations running on
// several client threads at once share the helpers: where all are busy, a
// call runs its remaining bands on its own thread.
//
// Failure: none is reported. Where helpers cannot be had (threads that fail to
// start, memory running out, the fault injection of <kolvex/testing.h>), the
// calling thread does all the work.
#pragma once

#include <kolvex/platform/export.h>

namespace kolvex {

// How many threads one operation may use, the calling thread included: 0 (the
// default) the processors this process may run on, 1 the calling thread only
// (for callers that already run one frame per thread), n at most n. Negative
// values act as 0; counts above 256 as 256.
KOLVEX_API void SetThreads(int nThreads);

// The number of threads in force: the count set, or the processors this
// process may run on when none is set.
KOLVEX_API int GetThreads();

}  // namespace kolvex
