// libFuzzer target: bitmap resources of type 8000 through
// CRZDIB2::CreateFromResource.

#include "loader_checks.h"

#include <cstdio>

namespace {

// The input in the stand-in's resource table for the life of the object.
struct AddedResource {
  AddedResource(const std::uint8_t* data, std::size_t size) {
    if (!kolvex::platform::AddResource(nullptr, MAKEINTRESOURCE(101), MAKEINTRESOURCE(8000), data,
                                       static_cast<DWORD>(size))) {
      std::fprintf(stderr, "AddResource failed\n");
      std::abort();
    }
  }
  ~AddedResource() {
    kolvex::platform::RemoveResource(nullptr, MAKEINTRESOURCE(101), MAKEINTRESOURCE(8000));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (const char* fault = kolvex_fuzz::CheckResourceLoad<AddedResource>(data, size)) {
    std::fprintf(stderr, "%s\n", fault);
    std::abort();
  }
  return 0;
}
