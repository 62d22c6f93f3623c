// libFuzzer target: bitmap resources of type 8000 through
// CRZDIB2::CreateFromResource.

#include "loader_checks.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (const char* fault = kolvex_fuzz::CheckResourceLoad(data, size)) {
    std::fprintf(stderr, "%s\n", fault);
    std::abort();
  }
  return 0;
}
