// Internal: what the GDI, USER and DrawDib stand-ins share. Not installed.
#pragma once

#include <kolvex/platform/linux/gdi.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>

namespace kolvex::platform::detail {

// A surface as the transfers see it: rows of pixels of one format.
struct PixelView {
  BYTE* bits = nullptr;
  int width = 0;
  int height = 0;  // rows, always positive
  int bitCount = 32;
  std::ptrdiff_t stride = 0;
  bool topDown = true;              // row 0 in memory is the top row
  const RGBQUAD* colors = nullptr;  // colour table at <= 8 bits; null: the grey ramp
  int colorCount = 0;
  int shm = -1;  // the System V segment that starts at `bits`, or -1

  BYTE* Row(int y) const {  // y counted from the top
    return bits + static_cast<std::ptrdiff_t>(topDown ? y : height - 1 - y) * stride;
  }
};

// Row conversion to and from 0xXXRRGGBB words, one whole row at a time.
void ReadRow(const PixelView& view, int y, std::uint32_t* out);
void WriteRow(const PixelView& view, int y, const std::uint32_t* in);

// Copies n pixels from one row to another without scaling: the same bytes as
// ReadRow followed by WriteRow. Null for a pair of formats without one
// (only 24 and 32 bits have them).
using RunCopy = void (*)(const BYTE* from, BYTE* to, std::size_t n);
RunCopy RunCopierFor(int fromBits, int toBits);

// A GDI rectangle: origin and signed extents, in top-down pixel coordinates.
struct Extent {
  std::int64_t x, y, w, h;
};

// The sampling, mirroring and clipping rule shared by every transfer. May throw
// std::bad_alloc (row buffers).
void StretchPixels(const PixelView& dst, const Extent& d, const PixelView& src, const Extent& s);

// A view of a caller's DIB, or nothing for a format the layer does not read.
std::optional<PixelView> DibView(const BITMAPINFO* bmi, const void* bits);

// A rectangle of a surface: origin and a positive size.
struct Box {
  int x, y, w, h;
};
// What StretchPixels would touch of each surface, clipped to both: every
// destination pixel of `dst` is written and every source pixel it reads lies
// in `src`. Nothing when the transfer draws nothing. May throw std::bad_alloc.
struct Touched {
  Box dst, src;
};
std::optional<Touched> TouchedBoxes(int dstWidth, int dstHeight, const Extent& d, int srcWidth,
                                    int srcHeight, const Extent& s);

// With the table locked: the one road of every transfer. Draws extent s of the
// source (the surface of srcDc, or the caller's DIB `dib` when it is given)
// into extent d of dstDc, reaching the real screen where a screen DC stands
// for it. False for an invalid DC, when memory runs out or the display fails.
bool Transfer(HDC dstDc, const Extent& d, HDC srcDc, const PixelView* dib, const Extent& s);

// ---- The object table (gdi_objects.cpp) ----

// Every access to the table below holds this lock.
std::unique_lock<std::mutex> LockTable();
// With the table locked: the surface a live DC draws on, or nothing. A
// surface made on memory that a former one left (a copy of the screen) reads
// as zero: its bytes are cleared first, unless `stale` is given. Then they are
// handed over as they are, *stale set, and the caller writes every byte or
// clears them (ClearSurface) before anything else can read them.
std::optional<PixelView> SurfaceOfDc(HDC hdc, bool* stale = nullptr);
// With the table locked: the surface of a live bitmap, or nothing.
std::optional<PixelView> SurfaceOfBitmap(HBITMAP hbm);
// Sets every byte of a surface's rows to zero.
void ClearSurface(const PixelView& v);
bool IsLiveDc(HDC hdc);
// With the table locked: a live display or window DC (one on the screen).
bool IsScreenDc(HDC hdc);

// Screen DCs of GetWindowDC / ReleaseDC, and DrawDib handles (not GDI objects:
// not counted). Each locks the table itself.
HDC OpenWindowDc();
bool ReleaseWindowDc(HDC hdc);
HANDLE OpenDrawDib();
bool CloseDrawDib(HANDLE h);
bool IsDrawDib(HANDLE h);  // table locked by the caller

int ScreenWidth();
int ScreenHeight();
bool ResizeScreen(int width, int height);
DWORD LiveGdiObjects();

}  // namespace kolvex::platform::detail
