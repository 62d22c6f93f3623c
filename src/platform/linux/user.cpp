// USER: the desktop window, screen DCs and metrics, rectangle helpers.

#include "platform/linux/gdi_internal.h"
#include "platform/linux/real_screen.h"

#include <kolvex/platform/linux/user.h>
#include <kolvex/platform/screen.h>

using namespace kolvex::platform::detail;

namespace {

// Never dereferenced: a fixed value names the one desktop window.
HWND Desktop() { return reinterpret_cast<HWND>(std::uintptr_t{0x10010}); }

}  // namespace

HWND GetDesktopWindow() { return Desktop(); }

HDC GetWindowDC(HWND hWnd) {
  if (hWnd != nullptr && hWnd != Desktop()) return nullptr;
  return OpenWindowDc();
}

HDC GetDC(HWND hWnd) { return GetWindowDC(hWnd); }

int ReleaseDC(HWND, HDC hDC) { return ReleaseWindowDc(hDC) ? 1 : 0; }

int GetSystemMetrics(int nIndex) {
  switch (nIndex) {
    case SM_CXSCREEN:
    case SM_CXVIRTUALSCREEN:
      return ScreenWidth();
    case SM_CYSCREEN:
    case SM_CYVIRTUALSCREEN:
      return ScreenHeight();
    default:
      return 0;
  }
}

DWORD GetGuiResources(HANDLE hProcess, DWORD uiFlags) {
  if (hProcess != GetCurrentProcess() || uiFlags != GR_GDIOBJECTS) return 0;
  return LiveGdiObjects();
}

BOOL IsRectEmpty(const RECT* lprc) {
  return lprc == nullptr || lprc->right <= lprc->left || lprc->bottom <= lprc->top;
}

BOOL SetRect(LPRECT lprc, int xLeft, int yTop, int xRight, int yBottom) {
  if (lprc == nullptr) return FALSE;
  *lprc = RECT{xLeft, yTop, xRight, yBottom};
  return TRUE;
}

BOOL CopyRect(LPRECT lprcDst, const RECT* lprcSrc) {
  if (lprcDst == nullptr || lprcSrc == nullptr) return FALSE;
  *lprcDst = *lprcSrc;
  return TRUE;
}

namespace kolvex::platform {

bool IsVirtualScreen() {
  auto guard = LockTable();
  return SelectedScreen() == nullptr;
}

bool SetVirtualScreenSize(int width, int height) { return ResizeScreen(width, height); }

}  // namespace kolvex::platform
