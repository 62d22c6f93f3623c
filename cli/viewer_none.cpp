// `kolvex show` in a build without XCB.

#include "files.h"
#include "viewer.h"

namespace kolvex::cli {

void ShowPictures(std::vector<Picture>&) {
  throw FileError("kolvex show", "this build has no X11 support (the XCB development files were missing)");
}

}  // namespace kolvex::cli
