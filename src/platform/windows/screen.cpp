// The screen on Windows is the real one: there is no virtual screen to resize.

#include <kolvex/platform/screen.h>

bool kolvex::platform::IsVirtualScreen() { return false; }

bool kolvex::platform::SetVirtualScreenSize(int, int) { return false; }
