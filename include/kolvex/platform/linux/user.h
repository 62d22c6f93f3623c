// Win32 USER: the desktop window and its DC on the screen, screen metrics,
// rectangle helpers and the count of live GDI objects.
//
// The screen. GetWindowDC(GetDesktopWindow()) (or of a null window) and
// CreateDCA("DISPLAY", ...) in <gdi.h> reach one of two screens; screen
// coordinates are its pixel coordinates, and every transfer is clipped to it.
//   - A real screen: the root window of an X display (builds with XCB; the
//     configure step says whether this one has it). Capture reads what the
//     display shows; drawing puts pixels on the root window, over any windows
//     on it. Unless told otherwise, the first use of the screen connects to the
//     display DISPLAY names. Shared-memory images carry the pixels when the
//     display is on this machine and offers them, image requests otherwise.
//     The root window must be 24- or 32-bit TrueColor. If the connection is
//     lost, every call on a DC of the screen fails (ReleaseDC and DeleteDC
//     still release it), new screen DCs are refused and the metrics read 0,
//     until another screen is selected.
//   - The virtual screen: one in-memory 32-bit surface (B, G, R, X), 1920 x
//     1080 and black when the process starts. It serves when KOLVEX_SCREEN is
//     "virtual", when no display can be reached, and after
//     SetVirtualScreenSize.
//
// Threading: every call may come from any thread (the GDI table lock guards
// the screen, and one connection to the display serves every thread).
// Allocation: GetWindowDC makes a DC object, counted by the fault injection
// and by GetGuiResources until ReleaseDC.
#pragma once

#include <kolvex/platform/export.h>
#include <kolvex/platform/linux/gdi.h>
#include <kolvex/platform/linux/kernel.h>
#include <kolvex/platform/linux/win32_types.h>

#include <string>

DECLARE_HANDLE(HWND);

#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CXVIRTUALSCREEN 78
#define SM_CYVIRTUALSCREEN 79

#define GR_GDIOBJECTS 0
#define GR_USEROBJECTS 1

// The desktop window: a fixed handle, never null.
KOLVEX_API HWND GetDesktopWindow();
// A DC covering the whole screen, for the desktop window or a null window;
// null for any other window, and while a real screen's display is lost.
// Release it with ReleaseDC.
KOLVEX_API HDC GetWindowDC(HWND hWnd);
KOLVEX_API HDC GetDC(HWND hWnd);  // the same as GetWindowDC here
// 1 when hDC was a DC of GetWindowDC/GetDC and is now released, 0 otherwise.
KOLVEX_API int ReleaseDC(HWND hWnd, HDC hDC);
// SM_CXSCREEN / SM_CYSCREEN (and the virtual-screen metrics): the size of the
// screen (of a real one, as when its display was opened; 0 once it is lost).
// 0 for other indices.
KOLVEX_API int GetSystemMetrics(int nIndex);

// GR_GDIOBJECTS for GetCurrentProcess(): the number of live GDI objects (see
// <gdi.h>). 0 for other processes and for GR_USEROBJECTS.
KOLVEX_API DWORD GetGuiResources(HANDLE hProcess, DWORD uiFlags);

// Rectangles: empty when right <= left or bottom <= top; a null pointer is empty.
KOLVEX_API BOOL IsRectEmpty(const RECT* lprc);
KOLVEX_API BOOL SetRect(LPRECT lprc, int xLeft, int yTop, int xRight, int yBottom);
KOLVEX_API BOOL CopyRect(LPRECT lprcDst, const RECT* lprcSrc);

namespace kolvex::platform {

// (SetVirtualScreenSize, in <kolvex/platform/screen.h>, makes the virtual
// screen the screen again.)

// Makes the root window of X display `name` (null: the one DISPLAY names) the
// screen, closing a display in use. False, with the reason in *why when given,
// when it cannot connect, the root window is not 24- or 32-bit TrueColor, or
// the build has no X11 support; the screen is then as it was. DCs on the screen
// reach the new one from the next call.
KOLVEX_API bool UseDisplay(const char* name, std::string* why = nullptr);

}  // namespace kolvex::platform
