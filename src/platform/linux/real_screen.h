// Internal: the real screen behind display and window DCs, and which screen
// they reach. Not installed.
//
// Display DCs reach one of two screens: the virtual screen (an in-memory
// surface of the GDI table) or a real one, the root window of an X display.
// Everything here is called with the GDI table locked (LockTable), which is
// what makes one connection safe to share between threads: at most one call
// talks to the display at a time.
#pragma once

#include "platform/linux/gdi_internal.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kolvex::platform::detail {

// Called for each band of a rectangle: `band` is a view of the rectangle's
// rows [top, top + band.height), all of its columns. May throw std::bad_alloc.
using BandFn = std::function<void(const PixelView& band, int top)>;

// The bytes of a surface: heap memory (`shm` -1), or a System V shared memory
// segment of `size` bytes (`shm` its id), which a display on this machine
// fills and reads in place.
struct SurfaceBytes {
  BYTE* bytes = nullptr;
  int shm = -1;
  std::size_t size = 0;
  bool keep = false;   // a copy of the screen's: its segment may serve the next one
  bool stale = false;  // the bytes are a former surface's, not zero
};

// A display's screen as the transfers use it.
class RealScreen {
 public:
  RealScreen() = default;
  RealScreen(const RealScreen&) = delete;
  RealScreen& operator=(const RealScreen&) = delete;
  virtual ~RealScreen() = default;

  // The size when the display was opened.
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // True once the connection has failed; it then holds no resources and every
  // Read and Write fails.
  virtual bool Lost() const = 0;
  // Reads rectangle r (inside the screen) band by band from the top, handing
  // each to `take`. False when the display fails.
  virtual bool Read(const Box& r, const BandFn& take) = 0;
  // Puts rectangle r (inside the screen) onto the screen band by band from the
  // top; `fill` writes every pixel of each band first. False when the display
  // fails. The pixels are on the screen when it returns true.
  virtual bool Write(const Box& r, const BandFn& fill) = 0;
  // Reads rectangle r straight into rows [toY, toY + r.h) of `dst`, a
  // surface in shared memory whose rows are r.w pixels long and laid out as
  // the display lays them out. Nothing when the display cannot (and nothing
  // was read), false when it fails.
  virtual std::optional<bool> ReadInto(const Box& r, const PixelView& dst, int toY) = 0;
  // Whether the display takes surfaces in shared memory.
  virtual bool SharesMemory() const = 0;
  // Shared memory for a surface of n bytes (the display must share memory):
  // for a copy of the screen (`keep`), a segment that a former one left when
  // one fits (its bytes stale), otherwise a new segment. Null bytes when the
  // system refuses one.
  virtual SurfaceBytes Segment(std::size_t n, bool keep) = 0;
  // The segment of a surface being freed: kept for the next copy of the
  // screen when it served one, otherwise let go by both sides.
  virtual void Release(const SurfaceBytes& b) = 0;
};

// Connects to the X display `name` (null: the one DISPLAY names). Null, with
// the reason in `why`, when it cannot connect, the root window is not 24- or
// 32-bit TrueColor, or the build has no X11 support. May throw std::bad_alloc.
std::unique_ptr<RealScreen> OpenX11Screen(const char* name, std::string& why);

// ---- Which screen display DCs reach (screen_select.cpp) ----

// The real screen in use, or null (the virtual screen, or no choice yet).
RealScreen* ChosenScreen();
// The real screen, or null for the virtual screen. The first call decides:
// the virtual screen when KOLVEX_SCREEN is "virtual" or DISPLAY names no
// display that can be reached, the display DISPLAY names otherwise.
RealScreen* SelectedScreen();
// The virtual screen from now on; a real screen in use is closed.
void SelectVirtualScreen();
// A real screen is selected and its display is lost.
bool ScreenLost();

// ---- Memory of GDI surfaces (surface_memory.cpp) ----

// A new zero-filled segment of n bytes, already marked for removal (it goes
// with its last attachment, whatever happens to this process or the
// display); null bytes when the system refuses one. FreeSegment detaches it.
SurfaceBytes NewSegment(std::size_t n);
void FreeSegment(const SurfaceBytes& b);

// Bytes for a surface of n bytes, made and freed with the table locked. Large
// DIB sections (which clients keep, to grab frame after frame into) and large
// copies of the screen (CreateCompatibleBitmap of a screen DC, which captures
// make and free frame after frame) get shared memory while a display that
// takes it is the screen; a copy of the screen may get a kept segment, whose
// bytes are stale. Everything else, and whatever shared memory is refused
// for, gets zero-filled heap memory. Null bytes when memory runs out.
enum class SurfaceUse { Plain, Section, ScreenCopy };
SurfaceBytes AllocateSurfaceBytes(std::size_t n, SurfaceUse use);
void FreeSurfaceBytes(const SurfaceBytes& b);

// A transfer with the real screen at one end or both (screen_transfer.cpp):
// dst or src without a value is the screen. StretchPixels' rule throughout.
// False when the display fails. May throw std::bad_alloc.
bool RealScreenTransfer(RealScreen& screen, const std::optional<PixelView>& dst, const Extent& d,
                        const std::optional<PixelView>& src, const Extent& s);

}  // namespace kolvex::platform::detail
