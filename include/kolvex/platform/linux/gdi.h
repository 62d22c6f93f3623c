// Win32 GDI, in memory: device contexts, bitmaps, DIB sections and the
// transfers between them.
//
// Objects. Handles are opaque keys into one table of live objects (a slot and
// a generation), never pointers: a deleted handle, a handle of the wrong kind
// or a forged value makes a call fail (null / 0 / FALSE) and never crash.
// Handles stay invalid after deletion even when their slot is reused.
//   - A memory DC (CreateCompatibleDC) starts with the stock 1x1 bitmap
//     selected, as in GDI; SelectObject answers the displaced bitmap. A bitmap
//     can be selected into one DC at a time (the stock bitmap into any number),
//     and DeleteObject refuses a bitmap that is still selected.
//   - Display DCs (CreateDCA("DISPLAY", ...), GetWindowDC in <user.h>) draw on
//     the screen (<user.h>: the virtual screen or an X display's); no bitmap
//     can be selected into them.
//   - Device bitmaps (CreateCompatibleBitmap) are 32 bits per pixel (B, G, R,
//     X), whatever the DC; they start black.
//   - DIB sections keep their bits, zero-filled, at one address for their whole
//     life; formats: BI_RGB at 1, 4, 8, 16 (5-5-5), 24 and 32 bits. Sections of
//     8 bits or fewer read as a grey ramp (index i of n levels is i*255/(n-1))
//     whatever colour table follows the header; writes into them store the
//     nearest grey level.
//   - DIBs handed in by pointer (StretchDIBits, DrawDibDraw) use the colour
//     table that follows their header at 8 bits or fewer.
// GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS) in <user.h> counts the
// live DCs (memory, display and window DCs) and bitmaps (device bitmaps and
// DIB sections). The stock bitmap and the virtual screen itself are not
// objects of the count.
//
// Transfers: SRCCOPY only (any other raster operation fails). A source pixel is
// chosen for every destination pixel by nearest pixel centres: entry i of an
// extent of D pixels reads pixel floor((2i+1)*S/(2D)) of the source extent of
// S pixels (ties go to the later pixel); this holds in every stretch mode (the
// mode is recorded and reported, only COLORONCOLOR sampling is modelled). A
// negative extent runs from its origin towards smaller coordinates, so extents
// of opposite signs mirror. Pixels outside either surface are skipped; a zero
// extent draws nothing. The fourth byte travels between 32-bit surfaces and
// reads as 0 from other formats.
//
// Allocation: CreateCompatibleDC, CreateDCA, CreateCompatibleBitmap and
// CreateDIBSection count as allocations for the fault injection and answer null
// when it says so.
//
// Threading: one lock guards the table and every transfer, so any call may come
// from any thread. The bits of a DIB section are the caller's to synchronise.
#pragma once

#include <kolvex/platform/export.h>
#include <kolvex/platform/linux/kernel.h>
#include <kolvex/platform/linux/win32_types.h>

DECLARE_HANDLE(HDC);
DECLARE_HANDLE(HBITMAP);
DECLARE_HANDLE(HPALETTE);
using HGDIOBJ = void*;  // any GDI object; HBITMAP converts to it implicitly

struct _devicemodeA;  // printer settings: not modelled, pass null
using DEVMODEA = _devicemodeA;

#define SRCCOPY 0x00CC0020

#define BLACKONWHITE 1
#define WHITEONBLACK 2
#define COLORONCOLOR 3
#define HALFTONE 4
#define STRETCH_ANDSCANS BLACKONWHITE
#define STRETCH_ORSCANS WHITEONBLACK
#define STRETCH_DELETESCANS COLORONCOLOR
#define STRETCH_HALFTONE HALFTONE

#define DIB_RGB_COLORS 0
#define DIB_PAL_COLORS 1

#define OBJ_BITMAP 7

struct BITMAP {
  LONG bmType;  // 0
  LONG bmWidth;
  LONG bmHeight;      // always positive
  LONG bmWidthBytes;  // bytes per row
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;  // the bits of a DIB section; null for device bitmaps
};
using LPBITMAP = BITMAP*;

struct DIBSECTION {
  BITMAP dsBm;
  BITMAPINFOHEADER dsBmih;  // as the section was made (biSize 40, biSizeImage filled in)
  DWORD dsBitfields[3];
  HANDLE dshSection;
  DWORD dsOffset;
};

// ---- Device contexts ----

// A memory DC with the stock bitmap selected. hdc null or a live DC; null on failure.
KOLVEX_API HDC CreateCompatibleDC(HDC hdc);
// pszDriver "DISPLAY" (any case): a DC on the screen (null while a real screen's
// display is lost). Anything else: null.
KOLVEX_API HDC CreateDCA(LPCSTR pszDriver, LPCSTR pszDevice, LPCSTR pszPort, const DEVMODEA* pdm);
// Deletes a memory or display DC; a bitmap selected into it is deselected, not
// deleted. FALSE for window DCs (ReleaseDC them) and invalid handles.
KOLVEX_API BOOL DeleteDC(HDC hdc);
// Selects a bitmap into a memory DC; answers the bitmap it displaced, or null
// (and changes nothing) for an invalid DC or bitmap, a display DC, or a bitmap
// already selected into another DC.
KOLVEX_API HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h);
// The bitmap selected into a memory DC (type OBJ_BITMAP); null otherwise.
KOLVEX_API HGDIOBJ GetCurrentObject(HDC hdc, UINT type);
// The colour table of the DIB section selected into a memory DC (the grey
// ramp, at 8 bits or fewer): entries [iStart, iStart + cEntries) of it, clipped
// to its size, into prgbq. Answers the entries copied; 0 for any other DC.
KOLVEX_API UINT GetDIBColorTable(HDC hdc, UINT iStart, UINT cEntries, RGBQUAD* prgbq);
// Answers the previous mode, 0 for an invalid DC or a mode outside 1..4.
KOLVEX_API int SetStretchBltMode(HDC hdc, int mode);
KOLVEX_API int GetStretchBltMode(HDC hdc);

// ---- Bitmaps ----

// A cx x cy device bitmap (32 bits, black). Zero size: the stock 1x1 bitmap.
// Null for an invalid DC, a negative size or more than 2^31 bytes.
KOLVEX_API HBITMAP CreateCompatibleBitmap(HDC hdc, int cx, int cy);
// A DIB section of pbmi's format (negative height: top-down rows). hdc may be
// null. usage must be DIB_RGB_COLORS and hSection null. Fails with null (and
// *ppvBits null) for width <= 0, height 0, an unsupported format or more than
// 2^31 bytes of bits.
KOLVEX_API HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits,
                                    HANDLE hSection, DWORD offset);
// Deletes a bitmap that is not selected into any DC. TRUE for the stock bitmap
// (which stays); FALSE for DCs, selected bitmaps and invalid handles.
KOLVEX_API BOOL DeleteObject(HGDIOBJ h);
// Bitmaps only. pv null: answers the size of the structure (BITMAP, or
// DIBSECTION for a DIB section). Otherwise writes a DIBSECTION when c allows,
// else a BITMAP, at most c bytes of it (at least the fields before bmBits), and
// answers the bytes written; 0 on failure.
KOLVEX_API int GetObjectA(HANDLE h, int c, LPVOID pv);

// ---- Transfers ----

KOLVEX_API BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1,
                       DWORD rop);
KOLVEX_API BOOL StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc,
                           int xSrc, int ySrc, int wSrc, int hSrc, DWORD rop);
// Draws part of a DIB held by the caller. As in GDI, the source rectangle of a
// bottom-up DIB is measured from its lower-left corner (of a top-down DIB from
// its upper-left corner). Answers |SrcHeight| on success (so 0 for a zero
// source height), 0 on failure.
KOLVEX_API int StretchDIBits(HDC hdc, int xDest, int yDest, int DestWidth, int DestHeight, int xSrc,
                             int ySrc, int SrcWidth, int SrcHeight, const VOID* lpBits,
                             const BITMAPINFO* lpbmi, UINT iUsage, DWORD rop);
// Copies scan lines [start, start + cLines) of a bitmap into a 24- or 32-bit
// BI_RGB DIB described by lpbmi (negative height: top-down); the DIB's rows
// and columns line up with the bitmap's from the top-left corner, and parts
// outside the bitmap are left as they are. lpvBits null: fills lpbmi's header
// with the bitmap's own format and answers nonzero. Otherwise answers the
// number of scan lines copied, 0 on failure.
KOLVEX_API int GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits,
                         LPBITMAPINFO lpbmi, UINT usage);
