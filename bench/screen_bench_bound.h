// The floor of drawing a frame on the screen: the display's own copy of it,
// handed over already converted (bench/screen_bench.cpp).
#pragma once

#include <kolvex/kolvex.h>

#include <functional>

namespace kolvex_bench {

#if KOLVEX_BENCH_XCB
// One call puts `frame32` (32 bits, bottom-up) on the root window of the X
// display that DISPLAY names, at (0, 0), with one xcb_shm_put_image from a
// shared-memory segment into which it was converted once, beforehand, and
// waits until the server has done it. Empty when the display cannot be
// reached or offers no MIT-SHM.
std::function<bool()> PutImageBound(const CRZDIB2& frame32);
#else
inline std::function<bool()> PutImageBound(const CRZDIB2&) { return {}; }
#endif

}  // namespace kolvex_bench
