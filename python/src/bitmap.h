// The Python Bitmap: a CRZDIB2 with a lock of its own, and the helpers every
// family of the module uses to reach it (the lock and the GIL, the library's
// exceptions turned into Python's, argument checks with their reasons).
#pragma once

#include <kolvex/kolvex.h>

#include <pybind11/pybind11.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace kolvex_python {

namespace py = pybind11;

// The module's bitmaps are plain CRZDIB2 objects, not a class of its own:
// the library leaves the clearing of reused storage to the next writer only
// for its own class (a subclass could reach the pixels where no accessor
// sees them), and results made in a loop would pay for that clearing.
using Dib = CRZDIB2;

// The owners of dib's block: -1 while locked (private to the object), 0 for
// the empty block. Read through member pointers taken in a derived class,
// which any object of the base class may be called with.
LONG Owners(const Dib& dib);
// One Python Bitmap. Every use of `dib` holds `mutex`, taken with the GIL
// released (or by try_lock while holding it), and no holder of the mutex waits
// for the GIL before releasing it, so the two locks never deadlock.
struct Bitmap {
  Dib dib;
  std::mutex mutex;
  int writableViews = 0;  // live writable views; the block is locked while > 0
};

// A file or screen failure: OSError(errno, message, path) in Python (the
// errno picks the subclass: FileNotFoundError, PermissionError...).
struct OsError : std::runtime_error {
  OsError(int error, const std::string& message, std::string path = {})
      : std::runtime_error(message), error(error), path(std::move(path)) {}
  int error;
  std::string path;
};

// Runs f, turning the library's exceptions (thrown by pointer) into C++ ones
// that the module's translators make Python exceptions of.
template <class F>
decltype(auto) Library(F&& f) {
  try {
    return f();
  } catch (CMemoryException* e) {
    e->Delete();
    throw std::bad_alloc();
  } catch (CFileException* e) {
    const int error = e->m_lOsError > 0 ? static_cast<int>(e->m_lOsError) : EIO;
    e->Delete();
    throw OsError(error, "file error");
  } catch (CException* e) {
    e->Delete();
    throw std::runtime_error("the library failed");
  }
}

// Runs f on one bitmap with the GIL released and its lock held.
template <class F>
decltype(auto) Locked(Bitmap& b, F&& f) {
  py::gil_scoped_release nogil;
  std::lock_guard<std::mutex> hold(b.mutex);
  return Library(std::forward<F>(f));
}

// The same on two bitmaps (possibly one object twice).
template <class F>
decltype(auto) Locked(Bitmap& a, Bitmap& b, F&& f) {
  py::gil_scoped_release nogil;
  if (&a == &b) {
    std::lock_guard<std::mutex> hold(a.mutex);
    return Library(std::forward<F>(f));
  }
  std::scoped_lock hold(a.mutex, b.mutex);
  return Library(std::forward<F>(f));
}

// Takes the bitmap's lock from code that holds the GIL (properties, buffer
// slots): at once when it is free, otherwise with the GIL released while
// waiting, so that a pixel operation on another thread can finish.
std::unique_lock<std::mutex> LockHoldingGil(Bitmap& b);

// ---- Argument checks; each throws ValueError with the reason. ----

// The bitmap has a header and pixels.
void RequirePixels(const CRZDIB2& dib, const char* operation);
// Its bit count is one of `bits`.
void RequireDepth(const CRZDIB2& dib, const char* operation, std::initializer_list<int> bits);
// width x height at `bits` fits the library's limits (header, image and slack
// in 31 bits; no negative side).
void RequireGeometry(int bits, std::int64_t width, std::int64_t height);
// "W x H, B bits", for messages.
std::string Describe(const CRZDIB2& dib);
// The fourth byte of each pixel is alpha: 32 bits and the alpha flag says
// valid. Such a bitmap is saved with its alpha, as the kolvex tool does.
bool HasAlpha(const CRZDIB2& dib);

// The field an operation keeps: None (the library's own rule), "even", "odd"
// or a kolvex.Field.
std::optional<kolvex::Field> ParseField(const py::object& field);

// The families, each registering its part of the module.
void RegisterBitmap(py::module_& m, py::class_<Bitmap>& cls);
void RegisterViews(py::module_& m, py::class_<Bitmap>& cls);
void RegisterFiles(py::module_& m, py::class_<Bitmap>& cls);
void RegisterScreen(py::module_& m, py::class_<Bitmap>& cls);
void RegisterCache(py::module_& m, py::class_<Bitmap>& cls);

}  // namespace kolvex_python
