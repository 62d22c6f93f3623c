// The tool on Windows: the screen is always the real one; the picture window
// of `show` is not there (yet).

#include "display.h"
#include "files.h"

namespace kolvex::cli {

void UseRealScreen(const char*) {}

void ShowPictures(std::vector<Picture>&) {
  throw FileError("kolvex show", "the picture window is not available on Windows");
}

}  // namespace kolvex::cli
