#include <kolvex/module/module.h>

#ifndef KOLVEX_VERSION_STRING
#error "KOLVEX_VERSION_STRING is set by the build"
#endif

namespace kolvex {

const char* LibraryVersion() { return KOLVEX_VERSION_STRING; }

}  // namespace kolvex
