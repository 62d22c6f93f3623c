// The screen: capture into bitmaps (reusing one bitmap's DIB section frame
// after frame), drawing bitmaps onto it, choosing the display.

#include "bitmap.h"

#include <pybind11/stl.h>

#include <cerrno>
#include <memory>
#include <mutex>

namespace kolvex_python {

namespace {

// The screen's DC for the length of one transfer.
class ScreenDc {
 public:
  ScreenDc() : dc_(::GetDC(nullptr)) {
    if (dc_ == nullptr) throw OsError(EIO, "the screen cannot be reached");
  }
  ~ScreenDc() { ::ReleaseDC(nullptr, dc_); }
  ScreenDc(const ScreenDc&) = delete;
  ScreenDc& operator=(const ScreenDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// Makes dib a bottom-up DIB section of width x height at `bits`.
void NewSection(Dib& dib, int width, int height, int bits) {
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = static_cast<WORD>(bits);
  info.biCompression = BI_RGB;
  if (!dib.CreateDIBSection(&info, kolvex::kProgressiveFrame)) throw std::bad_alloc();
}

// The screen area at (x, y) into dib's DIB section, which has the area's size.
void Grab(Dib& dib, int x, int y) {
  ScreenDc screen;
  if (!::BitBlt(dib.GetDIBSectionDC()->GetSafeHdc(), 0, 0, dib.DIBWidth(), dib.DIBHeight(),
                screen.get(), x, y, SRCCOPY)) {
    throw OsError(EIO, "the screen could not be captured");
  }
}

// A 32-bit frame through one DIB section kept between calls: making a section
// costs the display a new shared segment each time (about 15 frames a second
// at 1080p), a grab into a kept one and a copy of its bytes far less. The
// section lives as long as the process (never destroyed: it may outlive the
// display's connection at exit); one size at a time, under a lock.
void FreshThroughKeptSection(Dib& dib, int x, int y, int width, int height) {
  static std::mutex lock;
  static Dib* const kept = new Dib;
  std::lock_guard<std::mutex> hold(lock);
  if (!kept->IsDIBSection() || kept->DIBWidth() != width || kept->DIBHeight() != height) {
    NewSection(*kept, width, height, 32);
  }
  Grab(*kept, x, y);
  if (!dib.Create(32, width, height, kolvex::kProgressiveFrame)) throw std::bad_alloc();
  dib.CopyDibBytes(*kept);
}

// A new frame of the screen area at (x, y) in dib. At 24 bits the library's
// capture: its copy of the screen stays in memory the display fills between
// calls, and one pass converts it. At 32 bits a grab into a kept DIB section,
// copied. A DIB section of its own for an area whose far edge is beyond the
// coordinate range (then all off the screen).
void Fresh(Dib& dib, int x, int y, int width, int height, int bits) {
  RECT area{x, y, 0, 0};
  if (!__builtin_add_overflow(x, width, &area.right) &&
      !__builtin_add_overflow(y, height, &area.bottom)) {
    if (bits == 32) return FreshThroughKeptSection(dib, x, y, width, height);
    if (!dib.CreateFromDesktop(&area)) throw OsError(EIO, "the screen could not be captured");
    return;
  }
  NewSection(dib, width, height, bits);
  Grab(dib, x, y);
}

void CheckArea(int width, int height) {
  if (width <= 0 || height <= 0) {
    throw py::value_error("capture: the area " + std::to_string(width) + " x " +
                          std::to_string(height) + " is empty");
  }
}

std::unique_ptr<Bitmap> CaptureNew(int x, int y, int width, int height, int bits) {
  CheckArea(width, height);
  if (bits != 24 && bits != 32) {
    throw py::value_error("capture: bits must be 24 or 32, not " + std::to_string(bits));
  }
  RequireGeometry(bits, width, height);
  auto out = std::make_unique<Bitmap>();
  py::gil_scoped_release nogil;
  Library([&] { Fresh(out->dib, x, y, width, height, bits); });
  return out;
}

// Into an existing bitmap of the area's size: its own DIB section is written
// in place; a bitmap whose writable view lives (locked) keeps its block and
// receives a copy of the grab; any other gets a new DIB section (sharers and
// read-only views keep the old pixels).
void CaptureInto(Bitmap& out, int x, int y, int width, int height) {
  CheckArea(width, height);
  Locked(out, [&] {
    Dib& dib = out.dib;
    RequireDepth(dib, "capture into", {24, 32});
    if (dib.DIBWidth() != width || dib.DIBHeight() != height) {
      throw py::value_error("capture: out is " + Describe(dib) + ", the area " +
                            std::to_string(width) + " x " + std::to_string(height));
    }
    const bool own = dib.IsLocked() || Owners(dib) == 1;
    if (own && dib.IsDIBSection()) return Grab(dib, x, y);
    if (dib.IsLocked()) {
      Dib grab;
      Fresh(grab, x, y, width, height, dib.DIBBitCount());
      dib.CopyDibBytes(grab);
      return;
    }
    NewSection(dib, width, height, dib.DIBBitCount());
    Grab(dib, x, y);
  });
}

void Draw(Bitmap& self, int x, int y, int width, int height) {
  if (width < 0 || height < 0) throw py::value_error("draw: negative size");
  Locked(self, [&] {
    RequireDepth(self.dib, "draw", {8, 24, 32});
    if (!self.dib.DrawToDesktop(x, y, x + width, y + height)) {
      throw OsError(EIO, "the bitmap could not be drawn on the screen");
    }
  });
}

}  // namespace

void RegisterScreen(py::module_& m, py::class_<Bitmap>& cls) {
  m.def(
      "capture",
      [](int x, int y, int width, int height, Bitmap* out, int bits) -> py::object {
        if (out == nullptr) return py::cast(CaptureNew(x, y, width, height, bits));
        CaptureInto(*out, x, y, width, height);
        return py::none();
      },
      py::arg("x"), py::arg("y"), py::arg("width"), py::arg("height"), py::arg("out") = nullptr,
      py::arg("bits") = 24,
      R"doc(Captures the screen area at (x, y), width x height pixels, as a bitmap.

Without out: a new bitmap, 24 bits (the library's capture, which keeps its
copy of the screen between calls: the fast way to get a new array per
frame) or 32 with bits=32 (grabbed into a DIB section the module keeps
between calls, then copied). With out, a bitmap of the area's
size and 24 or 32 bits, the frame goes into it and None is returned: into
its own DIB section in place (the fastest way to grab frame after frame),
into its locked block through a copy while a writable view lives (the view
sees the new frame), otherwise into a new DIB section, which later captures
then fill in place (sharers and read-only views keep the old pixels). Parts of the area off the screen are black in a
new bitmap and unchanged in out.

The screen is the X display's root window (DISPLAY, or use_display()), or
the in-memory virtual screen. The GIL is released. ValueError for an empty
area or an out of another size; OSError when the screen cannot be read.)doc");
  m.def(
      "screen_size",
      []() {
        py::gil_scoped_release nogil;
        return std::make_pair(::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
      },
      "(width, height) of the screen capture() reads and draw() paints (0, 0 once "
      "a display is lost).");
  m.def(
      "use_display",
      [](std::optional<std::string> name) {
        std::string why;
        bool used = false;
        {
          py::gil_scoped_release nogil;
          used = kolvex::platform::UseDisplay(name ? name->c_str() : nullptr, &why);
        }
        if (!used) throw OsError(EIO, why);
      },
      py::arg("name") = py::none(),
      R"doc(Makes the root window of X display name (None: the one DISPLAY names) the
screen. OSError with the reason when it cannot connect, the root window is
not 24- or 32-bit TrueColor, or the build has no X11 support.)doc");
  m.def(
      "use_virtual_screen",
      [](int width, int height) {
        if (!kolvex::platform::SetVirtualScreenSize(width, height)) {
          throw py::value_error("no virtual screen of " + std::to_string(width) + " x " +
                                std::to_string(height));
        }
      },
      py::arg("width") = 1920, py::arg("height") = 1080,
      R"doc(Makes the in-memory virtual screen (black, width x height) the screen,
closing a display in use. ValueError for sizes <= 0 or too large.)doc");
  m.def("screen_is_virtual", &kolvex::platform::IsVirtualScreen,
        "True when the screen is the in-memory virtual one.");

  cls.def("draw", &Draw, py::arg("x"), py::arg("y"), py::arg("width") = 0, py::arg("height") = 0,
          R"doc(Draws the bitmap onto the screen at (x, y), stretched (nearest pixel) to
width x height, or at its natural size when either is 0. 8-bit bitmaps show
as grey levels. The GIL is released. OSError when the screen cannot be
drawn on.)doc");
}

}  // namespace kolvex_python
