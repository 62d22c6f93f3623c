// Internal: a hint to start fetching memory that a driver will read next.
// Hardware prefetchers follow a forward stream within a row but cannot know
// which row a driver moves to next when it skips rows (one field, or the rows
// a reduction leaves out); a driver that does hints at them a row ahead.
#pragma once

#include <cstddef>

namespace kolvex::detail {

// Hints at the cache lines of [p, p + bytes). A hint never faults and never
// changes a byte; it only costs one instruction per 64 bytes.
inline void PrefetchBytes(const void* p, std::size_t bytes) {
  const auto* b = static_cast<const char*>(p);
  for (std::size_t i = 0; i < bytes; i += 64) __builtin_prefetch(b + i);
}

}  // namespace kolvex::detail
