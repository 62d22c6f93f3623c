// DrawDib over the GDI stand-in's stretch.

#include "platform/linux/gdi_internal.h"

#include <kolvex/platform/linux/drawdib.h>

using namespace kolvex::platform::detail;

HDRAWDIB DrawDibOpen() { return OpenDrawDib(); }

BOOL DrawDibClose(HDRAWDIB hdd) { return CloseDrawDib(hdd) ? TRUE : FALSE; }

BOOL DrawDibDraw(HDRAWDIB hdd, HDC hdc, int xDst, int yDst, int dxDst, int dyDst,
                 LPBITMAPINFOHEADER lpbi, LPVOID lpBits, int xSrc, int ySrc, int dxSrc, int dySrc,
                 UINT) {
  const auto src = DibView(reinterpret_cast<const BITMAPINFO*>(lpbi), lpBits);
  if (!src) return FALSE;
  if (dxDst == -1) dxDst = src->width;
  if (dyDst == -1) dyDst = src->height;
  auto guard = LockTable();
  if (!IsDrawDib(hdd)) return FALSE;
  return Transfer(hdc, {xDst, yDst, dxDst, dyDst}, nullptr, &*src, {xSrc, ySrc, dxSrc, dySrc});
}
