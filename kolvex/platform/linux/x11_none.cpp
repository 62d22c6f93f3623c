// Builds without the XCB development files: the virtual screen only.

#include <kolvex/platform/linux/screen.h>

namespace kolvex::platform::detail {

std::unique_ptr<RealScreen> OpenX11Screen(const char*, std::string& why) {
  why = "this build of the library has no X11 support (it was built without XCB)";
  return nullptr;
}

}  // namespace kolvex::platform::detail
