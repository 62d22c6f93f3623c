// `kolvex show`: bitmaps in a window on the X display. Built with XCB where the
// library has it (viewer_x11.cpp), otherwise a stub that says so.
#pragma once

#include <kolvex/kolvex.h>

#include <string>
#include <vector>

namespace kolvex::cli {

struct Picture {
  std::string name;  // for the window's title
  CRZDIB2 dib;
};

// Shows the pictures one at a time in a window on the display DISPLAY names,
// each at its natural size or scaled down to fit the screen. Space and the
// arrow keys step through them, q or Escape (or closing the window) ends.
// Throws FileError when there is no display or the connection fails.
void ShowPictures(std::vector<Picture>& pictures);

}  // namespace kolvex::cli
