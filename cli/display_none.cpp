// The tool in a build without XCB: no real screen.

#include "display.h"
#include "files.h"

namespace kolvex::cli {
namespace {

constexpr const char* kNoX11 = "this build has no X11 support (it was built without XCB)";

}  // namespace

void UseRealScreen(const char* command) {
  throw FileError(std::string("kolvex ") + command, kNoX11);
}

void ShowPictures(std::vector<Picture>&) { throw FileError("kolvex show", kNoX11); }

}  // namespace kolvex::cli
