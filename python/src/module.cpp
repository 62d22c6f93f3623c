// The kolvex Python module: the library's bitmap for numpy users.

#include "bitmap.h"

namespace kolvex_python {
namespace {

void TranslateErrors(std::exception_ptr p) {
  try {
    if (p) std::rethrow_exception(p);
  } catch (const OsError& e) {
    py::object error =
        e.path.empty()
            ? py::reinterpret_borrow<py::object>(PyExc_OSError)(e.error, e.what())
            : py::reinterpret_borrow<py::object>(PyExc_OSError)(e.error, e.what(), py::str(e.path));
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
  }
}

}  // namespace
}  // namespace kolvex_python

PYBIND11_MODULE(_kolvex, m) {
  namespace kp = kolvex_python;
  m.doc() = "Kolvex: exact, fast bitmap operations on numpy arrays without copies.";
  pybind11::register_exception_translator(&kp::TranslateErrors);
  pybind11::class_<kp::Bitmap> cls(
      m, "Bitmap", pybind11::buffer_protocol(),
      R"doc(A device-independent bitmap: 8-bit grey, 24-bit B, G, R or 32-bit B, G, R, A
pixels in a shared, reference-counted, copy-on-write block, rows stored
bottom-up and padded to 4 bytes.

numpy.asarray(bitmap) views the pixels without a copy, rows from the top
(a negative row stride over the bottom-up rows), shape (height, width,
channels) or (height, width) at 8 bits. The view is writable when this
bitmap alone owns its block, and the bitmap is then locked while the view
lives: copy() and pickling copy instead of sharing, so no other bitmap sees
writes through the view. A view of a shared block is read-only and keeps
that block (and its pixels as they were) alive. Every view keeps its bitmap
alive.

Every pixel operation releases the GIL; each bitmap has a lock, so one
bitmap may be used from several threads. Errors: ValueError (arguments,
shapes, depths), MemoryError, OSError (files, with the path; the screen),
BufferError (views that cannot be exported).)doc");
  kp::RegisterBitmap(m, cls);
  kp::RegisterViews(m, cls);
  kp::RegisterFiles(m, cls);
  kp::RegisterScreen(m, cls);
  kp::RegisterCache(m, cls);
}
