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
  bool topDown = true;               // row 0 in memory is the top row
  const RGBQUAD* colors = nullptr;   // colour table at <= 8 bits; null: the grey ramp
  int colorCount = 0;

  BYTE* Row(int y) const {  // y counted from the top
    return bits + static_cast<std::ptrdiff_t>(topDown ? y : height - 1 - y) * stride;
  }
};

// Row conversion to and from 0xXXRRGGBB words, one whole row at a time.
void ReadRow(const PixelView& view, int y, std::uint32_t* out);
void WriteRow(const PixelView& view, int y, const std::uint32_t* in);

// A GDI rectangle: origin and signed extents, in top-down pixel coordinates.
struct Extent {
  std::int64_t x, y, w, h;
};

// The sampling, mirroring and clipping rule shared by every transfer. May throw
// std::bad_alloc (row buffers).
void StretchPixels(const PixelView& dst, const Extent& d, const PixelView& src, const Extent& s);

// A view of a caller's DIB, or nothing for a format the layer does not read.
std::optional<PixelView> DibView(const BITMAPINFO* bmi, const void* bits);

// ---- The screen ----

// What display and window DCs draw on. The virtual screen keeps its pixels in
// memory. A real screen (a display server) keeps a copy of them as its view
// and moves pixels between that copy and the display around each transfer:
// Fetch before a transfer reads an area of the screen, Publish after one wrote
// it. Areas are the transfer's own extents (signed, unclipped). Every call is
// made with the table locked.
class Screen {
 public:
  virtual ~Screen() = default;
  virtual bool IsVirtual() const = 0;
  // A 32-bit surface (B, G, R, X), rows from the top, at one address for the
  // screen's life: Fetch and Publish move pixels in and out of it.
  virtual PixelView View() const = 0;
  virtual void Fetch(const Extent& area) = 0;
  virtual void Publish(const Extent& area) = 0;
};

// ---- The object table (gdi_objects.cpp) ----

// Every access to the table below holds this lock.
std::unique_lock<std::mutex> LockTable();
// With the table locked: the surface a live DC draws on, or nothing.
std::optional<PixelView> SurfaceOfDc(HDC hdc);
// With the table locked: the screen that a live display or window DC draws
// on; null for memory DCs and anything else.
Screen* ScreenOfDc(HDC hdc);
// With the table locked: the surface of a live bitmap, or nothing.
std::optional<PixelView> SurfaceOfBitmap(HBITMAP hbm);
bool IsLiveDc(HDC hdc);

// Screen DCs of GetWindowDC / ReleaseDC, and DrawDib handles (not GDI objects:
// not counted). Each locks the table itself.
HDC OpenWindowDc();
bool ReleaseWindowDc(HDC hdc);
HANDLE OpenDrawDib();
bool CloseDrawDib(HANDLE h);
bool IsDrawDib(HANDLE h);  // table locked by the caller

// Each locks the table itself.
int ScreenWidth();
int ScreenHeight();
bool ScreenIsVirtual();
// Makes a virtual screen of this size, black, the screen.
bool ResizeScreen(int width, int height);
DWORD LiveGdiObjects();

}  // namespace kolvex::platform::detail
