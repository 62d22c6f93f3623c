// Video for Windows DrawDib: draws a caller's DIB onto a DC.
//
// A DrawDib handle is not a GDI object (GetGuiResources does not count it); it
// is one allocation for the fault injection. DrawDibDraw is a COLORONCOLOR
// stretch of the source rectangle onto the destination rectangle by the
// sampling, mirroring and clipping rules of <gdi.h>; the source rectangle is
// measured from the picture's upper-left corner whatever the row order, and
// indexed DIBs use the colour table that follows their header.
//
// Threading: any thread; drawing takes the GDI table lock.
#pragma once

#include <kolvex/platform/export.h>
#include <kolvex/platform/linux/gdi.h>
#include <kolvex/platform/linux/kernel.h>

using HDRAWDIB = HANDLE;

// Null when the fault injection refuses it.
KOLVEX_API HDRAWDIB DrawDibOpen();
// FALSE for an invalid handle.
KOLVEX_API BOOL DrawDibClose(HDRAWDIB hdd);
// dxDst or dyDst of -1 stand for the bitmap's width or height. wFlags are
// accepted and ignored. FALSE for an invalid handle or DC, a missing or
// unsupported DIB; TRUE otherwise (a zero extent draws nothing).
KOLVEX_API BOOL DrawDibDraw(HDRAWDIB hdd, HDC hdc, int xDst, int yDst, int dxDst, int dyDst,
                            LPBITMAPINFOHEADER lpbi, LPVOID lpBits, int xSrc, int ySrc, int dxSrc,
                            int dySrc, UINT wFlags);
