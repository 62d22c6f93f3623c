// The tool on the real screen: the X display's, through XCB, where the library
// reaches X displays (display_x11.cpp); elsewhere both calls fail and say why
// (display_none.cpp). CMake picks the file.
#pragma once

#include <kolvex/kolvex.h>

#include <string>
#include <vector>

namespace kolvex::cli {

// Makes the display DISPLAY names the screen of `kolvex COMMAND`. Throws
// FileError when there is none.
void UseRealScreen(const char* command);

struct Picture {
  std::string name;  // for the window's title
  CRZDIB2 dib;
};

// Shows the pictures one at a time in a window on the display DISPLAY names,
// each at its natural size or scaled down to fit the screen. Space and the
// arrow keys step through them, q or Escape (or closing the window) ends.
// Throws FileError when there is no display or the connection fails, and
// Interrupted as soon as a signal arrives.
void ShowPictures(std::vector<Picture>& pictures);

}  // namespace kolvex::cli
