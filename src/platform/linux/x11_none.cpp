// Builds without the XCB development files: the virtual screen only.

#include "platform/linux/real_screen.h"

namespace kolvex::platform::detail {

std::unique_ptr<RealScreen> OpenX11Screen(const char*, std::string& why) {
  why = "this build of the library has no X11 support (it was built without XCB)";
  return nullptr;
}

}  // namespace kolvex::platform::detail
