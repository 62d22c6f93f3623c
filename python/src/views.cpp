// The pixels as numpy sees them: bitmaps made from arrays (one copy), views of
// a bitmap's bytes through the buffer protocol (no copy), and pickling.
//
// A view shows rows top-down over the library's bottom-up rows: it starts at
// the last stored row and steps back one stride per row. A writable view is
// exported only from a block the bitmap owns alone, and the bitmap stays
// locked (LockDIB) while one lives, so sharing turns into copying and no other
// bitmap sees writes through it. A read-only view holds a share of the block,
// so the pixels it shows stay alive and unchanged whatever the bitmap does:
// every write through the library first gives a shared block's writer a copy.

#include "bitmap.h"

#include <pybind11/numpy.h>

#include <cstring>
#include <memory>

namespace kolvex_python {

namespace {

// What one exported view holds until it is released.
struct ViewState {
  Bitmap* bitmap = nullptr;  // kept alive by the view's reference (Py_buffer.obj)
  bool writable = false;
  Dib pin;  // a read-only view's share of the block
  Py_ssize_t shape[3] = {};
  Py_ssize_t strides[3] = {};
};

int Refuse(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  return -1;
}

int GetBuffer(PyObject* self, Py_buffer* view, int flags) {
  view->obj = nullptr;
  Bitmap* b = nullptr;
  try {
    b = py::handle(self).cast<Bitmap*>();
  } catch (const std::exception&) {
    return Refuse(PyExc_BufferError, "not a kolvex.Bitmap");
  }
  if ((flags & PyBUF_STRIDES) != PyBUF_STRIDES) {
    return Refuse(PyExc_BufferError,
                  "a bitmap's rows are stored bottom-up: its pixels are exported with "
                  "strides only (numpy.asarray(bitmap); numpy.array(bitmap) copies)doc");
  }
  auto state = std::make_unique<ViewState>();
  state->bitmap = b;
  const BYTE* top = nullptr;
  std::string problem;
  bool noMemory = false;
  int ndim = 0;
  {
    auto hold = LockHoldingGil(*b);
    Dib& dib = b->dib;
    const int bits = dib.IsValidDIB() ? dib.DIBBitCount() : 0;
    if (!dib.IsValidDIB() || dib.GetBytes() == nullptr) {
      problem = "the bitmap has no pixels";
    } else if (bits != 8 && bits != 24 && bits != 32) {
      problem = "only 8-, 24- and 32-bit pixels are exported, not " + std::to_string(bits);
    } else if (dib.DIBHeight() < 0) {
      problem = "a top-down bitmap is not exported";
    } else {
      // Writable when this bitmap alone owns the block, or when the consumer
      // asks to write: the lock first gives a shared block's owner a copy.
      const bool writable =
          b->writableViews > 0 || Owners(dib) == 1 || (flags & PyBUF_WRITABLE) != 0;
      try {
        if (writable) {
          if (b->writableViews == 0) dib.LockDIB();
          ++b->writableViews;
        } else {
          state->pin = dib;
        }
        state->writable = writable;
      } catch (CMemoryException* e) {
        e->Delete();
        noMemory = true;
      }
      const int h = dib.DIBHeight();
      const int w = dib.DIBWidth();
      const Py_ssize_t channels = bits / 8;
      const Py_ssize_t stride = dib.DIBBytesPerLine();
      top = dib.GetBytes() + (h > 0 ? (h - 1) * stride : 0);
      state->shape[0] = h;
      state->shape[1] = w;
      state->shape[2] = channels;
      state->strides[0] = -stride;
      state->strides[1] = channels;
      state->strides[2] = 1;
      ndim = bits == 8 ? 2 : 3;
    }
  }
  if (noMemory) return Refuse(PyExc_MemoryError, "out of memory making the pixels private");
  if (!problem.empty()) return Refuse(PyExc_BufferError, problem);

  view->buf = const_cast<BYTE*>(top);
  view->obj = self;
  Py_INCREF(self);
  view->len = state->shape[0] * state->shape[1] * (ndim == 3 ? state->shape[2] : 1);
  view->itemsize = 1;
  view->readonly = state->writable ? 0 : 1;
  view->ndim = ndim;
  view->format = (flags & PyBUF_FORMAT) != 0 ? const_cast<char*>("B") : nullptr;
  view->shape = state->shape;
  view->strides = state->strides;
  view->suboffsets = nullptr;
  view->internal = state.release();
  return 0;
}

void ReleaseBuffer(PyObject*, Py_buffer* view) {
  std::unique_ptr<ViewState> state(static_cast<ViewState*>(view->internal));
  if (!state || !state->writable) return;  // a pin is released with the state
  Bitmap& b = *state->bitmap;
  auto hold = LockHoldingGil(b);
  if (--b.writableViews == 0) b.dib.UnlockDIB();
}

// Copies rows of an array (top row first, any strides) into the bitmap's
// stored rows (bottom row first).
void CopyRows(const py::array& a, Dib& dib, int channels) {
  const int h = dib.DIBHeight();
  const int w = dib.DIBWidth();
  const std::size_t stride = static_cast<std::size_t>(dib.DIBBytesPerLine());
  const auto* src = static_cast<const BYTE*>(a.data());
  const py::ssize_t rowStep = a.strides(0);
  const py::ssize_t pixelStep = a.strides(1);
  const py::ssize_t channelStep = channels > 1 ? a.strides(2) : 1;
  const bool packed = pixelStep == channels && channelStep == 1;
  BYTE* bytes = dib.GetBytes();
  for (int y = 0; y < h; ++y) {
    const BYTE* in = src + y * rowStep;
    BYTE* out = bytes + static_cast<std::size_t>(h - 1 - y) * stride;
    if (packed) {
      std::memcpy(out, in, static_cast<std::size_t>(w) * channels);
      continue;
    }
    for (int x = 0; x < w; ++x) {
      for (int c = 0; c < channels; ++c)
        out[x * channels + c] = in[x * pixelStep + c * channelStep];
    }
  }
}

std::unique_ptr<Bitmap> FromArray(const py::array& a, bool interlaced, bool alpha) {
  if (a.dtype().kind() != 'u' || a.itemsize() != 1) {
    throw py::value_error("from_array takes uint8 pixels, not " +
                          py::str(a.dtype()).cast<std::string>());
  }
  const bool grey = a.ndim() == 2;
  if (!grey && !(a.ndim() == 3 && (a.shape(2) == 3 || a.shape(2) == 4))) {
    throw py::value_error(
        "from_array takes an H x W (grey), H x W x 3 (B, G, R) or H x W x 4 (B, G, R, A) "
        "array, not shape " +
        py::str(a.attr("shape")).cast<std::string>());
  }
  const int channels = grey ? 1 : static_cast<int>(a.shape(2));
  const int bits = 8 * channels;
  RequireGeometry(bits, a.shape(1), a.shape(0));
  auto out = std::make_unique<Bitmap>();
  {
    py::gil_scoped_release nogil;
    Library([&] {
      if (!out->dib.Create(static_cast<WORD>(bits), static_cast<int>(a.shape(1)),
                           static_cast<int>(a.shape(0)),
                           interlaced ? kolvex::kInterlacedFrame : kolvex::kProgressiveFrame)) {
        throw std::bad_alloc();
      }
      if (bits == 32 && !alpha) out->dib.SetAlphaValid(false);
      CopyRows(a, out->dib, channels);
    });
  }
  return out;
}

// The stored pixel bytes (bottom row first, rows padded to the stride) of a
// share of a bitmap's block, as one read-only buffer: what pickling sends.
struct Pixels {
  Dib pin;
};

py::object ReduceEx(Bitmap& self, int protocol) {
  auto pixels = std::make_unique<Pixels>();
  int bits = 0, width = 0, height = 0;
  DWORD interlaced = kolvex::kProgressiveFrame, alphaFlag = 0;
  Locked(self, [&] {
    RequirePixels(self.dib, "pickle");
    pixels->pin = self.dib;  // a share, or a copy of a locked block
    if (!pixels->pin.IsValidDIB()) throw std::bad_alloc();
    bits = self.dib.DIBBitCount();
    width = self.dib.DIBWidth();
    height = self.dib.DIBHeight();
    interlaced = self.dib.GetInterlacedFlag();
    alphaFlag = self.dib.GetAlphaFlag();
  });
  py::object data = py::cast(std::move(pixels));
  if (protocol >= 5) {
    data = py::module_::import("pickle").attr("PickleBuffer")(data);
  } else {
    data = py::bytes(py::memoryview(data).attr("tobytes")());
  }
  py::object restore = py::module_::import("kolvex").attr("_restore");
  return py::make_tuple(restore, py::make_tuple(bits, width, height, interlaced, alphaFlag, data));
}

std::unique_ptr<Bitmap> FromState(int bits, int width, int height, DWORD interlaced,
                                  DWORD alphaFlag, const py::buffer& data) {
  RequireGeometry(bits, width, height);
  const py::buffer_info info = data.request();
  auto out = std::make_unique<Bitmap>();
  {
    py::gil_scoped_release nogil;
    Library([&] {
      if (!out->dib.Create(static_cast<WORD>(bits), width, height, interlaced)) {
        throw std::bad_alloc();
      }
      const auto image = static_cast<std::size_t>(out->dib.DIBSize());
      if (static_cast<std::size_t>(info.size * info.itemsize) != image) {
        throw py::value_error("pickled pixels: " + std::to_string(info.size * info.itemsize) +
                              " bytes for an image of " + std::to_string(image));
      }
      std::memcpy(out->dib.GetBytes(), info.ptr, image);
      out->dib.ncbwSetAlphaFlag(alphaFlag);
    });
  }
  return out;
}

}  // namespace

void RegisterViews(py::module_& m, py::class_<Bitmap>& cls) {
  auto* type = reinterpret_cast<PyHeapTypeObject*>(cls.ptr());
  type->as_buffer.bf_getbuffer = GetBuffer;
  type->as_buffer.bf_releasebuffer = ReleaseBuffer;

  py::class_<Pixels>(m, "_Pixels", py::buffer_protocol()).def_buffer([](Pixels& p) {
    return py::buffer_info(p.pin.GetBytes(), static_cast<py::ssize_t>(p.pin.DIBSize()), true);
  });

  cls.def_static("from_array", &FromArray, py::arg("array"), py::arg("interlaced") = false,
                 py::arg("alpha") = true,
                 R"doc(A new bitmap holding a copy of a numpy uint8 array's pixels.

array: H x W (8-bit grey), H x W x 3 (24-bit: blue, green, red) or
H x W x 4 (32-bit: blue, green, red, alpha), rows from the top, any strides
(non-contiguous arrays are read as they lie; one copy in all cases).
interlaced marks the frame as two interlaced fields; alpha=False marks the
fourth byte of a 32-bit pixel as no alpha. ValueError for another dtype or
shape and for sizes over the library's limit; MemoryError.)doc");
  cls.def("__reduce_ex__", &ReduceEx, py::arg("protocol"),
          "Pickles the header words and the stored pixel bytes (out of band with "
          "protocol 5).");
  cls.def_static("_from_state", &FromState);
}

}  // namespace kolvex_python
