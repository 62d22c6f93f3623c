// The screen behind the desktop calls (GetWindowDC(GetDesktopWindow()),
// CreateDCA("DISPLAY", ...), GetSystemMetrics(SM_CXSCREEN / SM_CYSCREEN)).
//
// On Linux it is the stand-in's: the virtual screen (one in-memory 32-bit
// surface per process, 1920 x 1080 and black at start) or an X display's
// (<kolvex/platform/linux/user.h>). On Windows it is the real screen, and there
// is no virtual screen to resize.
//
// Threading: any thread; a resize is seen by every later call.
#pragma once

#include <kolvex/platform/export.h>

namespace kolvex::platform {

// True when the desktop calls reach this process's virtual screen, false when
// they reach a real screen (always on Windows).
KOLVEX_API bool IsVirtualScreen();

// Resizes the virtual screen, clears it to black and makes it the screen
// (closing a display in use): true when done. False (and no change) for a
// size <= 0 or one that does not fit in memory, and always on Windows, whose
// screen is the real one. For tests and demos; a DC on the screen follows the
// new size.
KOLVEX_API bool SetVirtualScreenSize(int width, int height);

}  // namespace kolvex::platform
