// Library identity. Loading libkolvex sets up no state of its own: the empty
// data block is static and every process-wide object is made on first use.
#pragma once

#include <kolvex/platform/export.h>

namespace kolvex {

// The library's version as "major.minor.patch". Thread-safe; never null.
KOLVEX_API const char* LibraryVersion();

}  // namespace kolvex
