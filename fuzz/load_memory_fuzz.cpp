// libFuzzer target: bitmap file images through CRZDIB2::CreateFromMemory.

#include "loader_checks.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (const char* fault = kolvex_fuzz::CheckMemoryLoad(data, size)) {
    std::fprintf(stderr, "%s\n", fault);
    std::abort();
  }
  return 0;
}
