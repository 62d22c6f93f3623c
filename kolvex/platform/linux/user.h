// Win32 USER: the desktop window and its DC on the virtual screen, screen
// metrics, rectangle helpers and the count of live GDI objects.
//
// The virtual screen is one in-memory 32-bit surface (B, G, R, X), 1920 x 1080
// and black when the process starts. GetWindowDC(GetDesktopWindow()) (or of a
// null window) and CreateDCA("DISPLAY", ...) in <gdi.h> reach it; screen
// coordinates are its pixel coordinates.
//
// Threading: every call may come from any thread (the GDI table lock guards
// the screen). Allocation: GetWindowDC makes a DC object, counted by the fault
// injection and by GetGuiResources until ReleaseDC.
#pragma once

#include <kolvex/platform/export.h>
#include <kolvex/platform/linux/gdi.h>
#include <kolvex/platform/linux/kernel.h>
#include <kolvex/platform/linux/win32_types.h>

DECLARE_HANDLE(HWND);

#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CXVIRTUALSCREEN 78
#define SM_CYVIRTUALSCREEN 79

#define GR_GDIOBJECTS 0
#define GR_USEROBJECTS 1

// The desktop window: a fixed handle, never null.
KOLVEX_API HWND GetDesktopWindow();
// A DC covering the whole virtual screen, for the desktop window or a null
// window; null for any other window. Release it with ReleaseDC.
KOLVEX_API HDC GetWindowDC(HWND hWnd);
KOLVEX_API HDC GetDC(HWND hWnd);  // the same as GetWindowDC here
// 1 when hDC was a DC of GetWindowDC/GetDC and is now released, 0 otherwise.
KOLVEX_API int ReleaseDC(HWND hWnd, HDC hDC);
// SM_CXSCREEN / SM_CYSCREEN (and the virtual-screen metrics): the size of the
// virtual screen. 0 for other indices.
KOLVEX_API int GetSystemMetrics(int nIndex);

// GR_GDIOBJECTS for GetCurrentProcess(): the number of live GDI objects (see
// <gdi.h>). 0 for other processes and for GR_USEROBJECTS.
KOLVEX_API DWORD GetGuiResources(HANDLE hProcess, DWORD uiFlags);

// Rectangles: empty when right <= left or bottom <= top; a null pointer is empty.
KOLVEX_API BOOL IsRectEmpty(const RECT* lprc);
KOLVEX_API BOOL SetRect(LPRECT lprc, int xLeft, int yTop, int xRight, int yBottom);
KOLVEX_API BOOL CopyRect(LPRECT lprcDst, const RECT* lprcSrc);
