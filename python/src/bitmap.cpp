// Bitmap: construction, properties, and every transform and filter of the
// library as a method that returns a new Bitmap.

#include "bitmap.h"

#include <pybind11/stl.h>

#include <memory>

namespace kolvex_python {

std::unique_lock<std::mutex> LockHoldingGil(Bitmap& b) {
  std::unique_lock<std::mutex> hold(b.mutex, std::try_to_lock);
  if (!hold.owns_lock()) {
    py::gil_scoped_release nogil;
    hold.lock();
  }
  return hold;
}

std::string Describe(const CRZDIB2& dib) {
  if (!dib.IsValidDIB()) return "an empty bitmap";
  return std::to_string(dib.DIBWidth()) + " x " + std::to_string(dib.DIBHeight()) + ", " +
         std::to_string(dib.DIBBitCount()) + " bits";
}

bool HasAlpha(const CRZDIB2& dib) {
  return dib.IsValidDIB() && dib.DIBBitCount() == 32 && !dib.IsAlphaInvalid();
}

void RequirePixels(const CRZDIB2& dib, const char* operation) {
  if (!dib.IsValidDIB() || dib.GetBytes() == nullptr) {
    throw py::value_error(std::string(operation) + ": the bitmap has no pixels");
  }
}

void RequireDepth(const CRZDIB2& dib, const char* operation, std::initializer_list<int> bits) {
  RequirePixels(dib, operation);
  for (int b : bits) {
    if (dib.DIBBitCount() == b) return;
  }
  std::string list;
  for (int b : bits) list += (list.empty() ? "" : ", ") + std::to_string(b);
  throw py::value_error(std::string(operation) + " takes " + list + "-bit pixels, not " +
                        std::to_string(dib.DIBBitCount()));
}

void RequireGeometry(int bits, std::int64_t width, std::int64_t height) {
  if (width < 0 || height < 0) {
    throw py::value_error("negative size " + std::to_string(width) + " x " +
                          std::to_string(height));
  }
  if (!kolvex::BitmapFits(bits, width, height)) {
    throw py::value_error(std::to_string(width) + " x " + std::to_string(height) + " at " +
                          std::to_string(bits) +
                          " bits is over the library's limit (2 GiB per bitmap)");
  }
}

std::optional<kolvex::Field> ParseField(const py::object& field) {
  if (field.is_none()) return std::nullopt;
  if (py::isinstance<kolvex::Field>(field)) return field.cast<kolvex::Field>();
  if (py::isinstance<py::str>(field)) {
    const std::string name = field.cast<std::string>();
    if (name == "even") return kolvex::Field::Even;
    if (name == "odd") return kolvex::Field::Odd;
  }
  throw py::value_error("field must be None, \"even\" or \"odd\", not " +
                        py::repr(field).cast<std::string>());
}

LONG Owners(const Dib& dib) {
  struct Access : CRZDIB2 {
    using CRZDIBBase2::_IGetData;
    using CRZDIBBase2::_IsNil;
    using CRZDIBBase2::_RefCount;
  };
  const CRzDibBaseData2* block = (dib.*&Access::_IGetData)();
  return Access::_IsNil(block) ? 0 : Access::_RefCount(block);
}

namespace {

using Result = std::unique_ptr<Bitmap>;

// A library call that makes `out` from checked arguments fails only for
// want of memory.
void Made(bool ok) {
  if (!ok) throw std::bad_alloc();
}

Result Quarter(Bitmap& self, const py::object& field, int divisor) {
  const std::optional<kolvex::Field> f = ParseField(field);
  auto out = std::make_unique<Bitmap>();
  Locked(self, [&] {
    RequireDepth(self.dib, divisor == 2 ? "quarter" : "eighth", {24, 32});
    if (divisor == 2) {
      Made(f ? kolvex::CreateQuarterOfField(out->dib, self.dib, *f)
             : out->dib.CreateQuarter(self.dib));
    } else {
      Made(f ? kolvex::CreateEighthOfField(out->dib, self.dib, *f)
             : out->dib.CreateEighth(self.dib));
    }
  });
  return out;
}

Result Scaled(Bitmap& self, std::int64_t width, std::int64_t height, const py::object& field) {
  const std::optional<kolvex::Field> f = ParseField(field);
  auto out = std::make_unique<Bitmap>();
  Locked(self, [&] {
    RequirePixels(self.dib, "scaled");
    RequireGeometry(self.dib.DIBBitCount(), width, height);
    const bool sameSize = width == self.dib.DIBWidth() && height == self.dib.DIBHeight();
    if (!sameSize || f) RequireDepth(self.dib, "scaled", {24, 32});
    if ((self.dib.DIBWidth() == 0 || self.dib.DIBHeight() == 0) && width != 0 && height != 0) {
      throw py::value_error("scaled: " + Describe(self.dib) + " has no pixels to sample");
    }
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    Made(f ? kolvex::CreateScaledFromField(out->dib, self.dib, w, h, *f)
           : out->dib.CreateScaled(self.dib, w, h));
  });
  return out;
}

Result Mirrored(Bitmap& self, bool horizontal, bool vertical) {
  auto out = std::make_unique<Bitmap>();
  Locked(self, [&] {
    RequireDepth(self.dib, "mirrored", {24, 32});
    Made(out->dib.Create(self.dib) && out->dib.Mirror(horizontal, vertical, self.dib));
  });
  return out;
}

Result FieldFrame(Bitmap& self, bool odd, bool interpolate) {
  auto out = std::make_unique<Bitmap>();
  Locked(self, [&] {
    RequirePixels(self.dib, "field");
    Made(out->dib.CreateInterpolatedFrame(self.dib, odd ? 1 : 0, interpolate ? 1 : 0));
  });
  return out;
}

Result Weave(Bitmap& odd, Bitmap& even) {
  auto out = std::make_unique<Bitmap>();
  Locked(odd, even, [&] {
    RequirePixels(odd.dib, "weave");
    RequirePixels(even.dib, "weave");
    if (!odd.dib.DIBsEqual(even.dib)) {
      throw py::value_error("weave: the fields differ in size or depth (" + Describe(odd.dib) +
                            " and " + Describe(even.dib) + ")doc");
    }
    Made(out->dib.Create(even.dib) && out->dib.CopyField(even.dib, 0) &&
         out->dib.CopyField(odd.dib, 1));
    out->dib.SetInterlacedFlag(kolvex::kInterlacedFrame);
  });
  return out;
}

Result Brightness(Bitmap& self, int level) {
  auto out = std::make_unique<Bitmap>();
  Locked(self, [&] {
    RequireDepth(self.dib, "brightness", {24, 32});
    out->dib = self.dib;  // shares; the filter's copy-before-write separates them
    Made(out->dib.AdjustBrightness(level));
  });
  return out;
}

void BrightnessInPlace(Bitmap& self, int level) {
  Locked(self, [&] {
    RequireDepth(self.dib, "brightness", {24, 32});
    Made(self.dib.AdjustBrightness(level));
  });
}

Result Median(Bitmap& self) {
  auto out = std::make_unique<Bitmap>();
  Locked(self, [&] {
    RequireDepth(self.dib, "median", {8, 24, 32});
    Made(out->dib.Create(self.dib) && out->dib.Median3x3(self.dib));
  });
  return out;
}

Result Copy(Bitmap& self) {
  auto out = std::make_unique<Bitmap>();
  Locked(self, [&] {
    out->dib = self.dib;
    // A locked source is copied by the assignment, which can run out of memory.
    if (self.dib.IsValidDIB() && !out->dib.IsValidDIB()) throw std::bad_alloc();
  });
  return out;
}

// A pixel value as ClearDIB(UINT) takes it: blue in the low byte.
UINT PixelWord(const py::object& value, int bits) {
  if (py::isinstance<py::int_>(value)) {
    const long long v = value.cast<long long>();
    const long long limit = bits == 8 ? 0xFF : bits == 24 ? 0xFFFFFF : 0xFFFFFFFFLL;
    if (v < 0 || v > limit) {
      throw py::value_error("clear: " + std::to_string(v) + " is not a " + std::to_string(bits) +
                            "-bit pixel value");
    }
    return bits == 8 ? static_cast<UINT>(v) << 24 : static_cast<UINT>(v);
  }
  const auto channels = value.cast<std::vector<long long>>();
  const std::size_t want = bits == 32 ? 4 : bits == 24 ? 3 : 1;
  if (channels.size() != want) {
    throw py::value_error("clear: a " + std::to_string(bits) + "-bit pixel has " +
                          std::to_string(want) + " channels, not " +
                          std::to_string(channels.size()));
  }
  UINT word = 0;
  for (std::size_t i = 0; i < channels.size(); ++i) {
    if (channels[i] < 0 || channels[i] > 255) {
      throw py::value_error("clear: channel values are 0..255, not " + std::to_string(channels[i]));
    }
    word |= static_cast<UINT>(channels[i]) << (8 * i);
  }
  return bits == 8 ? word << 24 : word;
}

void Clear(Bitmap& self, const py::object& value) {
  int bits = 0;
  {
    auto hold = LockHoldingGil(self);
    RequireDepth(self.dib, "clear", {8, 24, 32});
    bits = self.dib.DIBBitCount();
  }
  const UINT word = PixelWord(value, bits);
  Locked(self, [&] {
    RequireDepth(self.dib, "clear", {bits});
    self.dib.ClearDIB(word);
  });
}

Result Create(std::int64_t width, std::int64_t height, int bits, bool interlaced) {
  if (bits != 8 && bits != 24 && bits != 32) {
    throw py::value_error("bits must be 8, 24 or 32, not " + std::to_string(bits));
  }
  RequireGeometry(bits, width, height);
  auto out = std::make_unique<Bitmap>();
  {
    py::gil_scoped_release nogil;
    Library([&] {
      Made(out->dib.Create(static_cast<WORD>(bits), static_cast<int>(width),
                           static_cast<int>(height),
                           interlaced ? kolvex::kInterlacedFrame : kolvex::kProgressiveFrame));
      out->dib.ClearDIB(0);
    });
  }
  return out;
}

template <class T>
T Read(Bitmap& self, T (*get)(const Dib&)) {
  auto hold = LockHoldingGil(self);
  return get(self.dib);
}

py::tuple Shape(Bitmap& self) {
  int w = 0, h = 0, bits = 0;
  {
    auto hold = LockHoldingGil(self);
    if (self.dib.IsValidDIB()) {
      w = self.dib.DIBWidth();
      h = self.dib.DIBHeight();
      bits = self.dib.DIBBitCount();
    }
  }
  if (bits == 8) return py::make_tuple(h, w);
  return py::make_tuple(h, w, bits / 8);
}

std::string Repr(Bitmap& self) {
  auto hold = LockHoldingGil(self);
  if (!self.dib.IsValidDIB()) return "<kolvex.Bitmap empty>";
  return "<kolvex.Bitmap " + std::to_string(self.dib.DIBWidth()) + "x" +
         std::to_string(self.dib.DIBHeight()) + " " + std::to_string(self.dib.DIBBitCount()) +
         "-bit " + (self.dib.IsInterlaced() ? "interlaced" : "progressive") +
         (HasAlpha(self.dib) ? " alpha" : "") + ">";
}

}  // namespace

void RegisterBitmap(py::module_& m, py::class_<Bitmap>& cls) {
  py::enum_<kolvex::Field>(m, "Field", R"doc(A picture field of an interlaced frame.

Even: picture rows 0, 2, 4... counted from the top (the top row included).
Odd: picture rows 1, 3, 5....
Bitmaps store rows from the bottom, so which stored rows these are depends on
the parity of the height.)doc")
      .value("Even", kolvex::Field::Even)
      .value("Odd", kolvex::Field::Odd);

  cls.def(py::init(&Create), py::arg("width"), py::arg("height"), py::arg("bits") = 24,
          py::arg("interlaced") = false,
          R"doc(A new bitmap of width x height pixels at 8, 24 or 32 bits, all bytes zero.

interlaced marks it as two interlaced fields (the reductions then average
within one field). ValueError for another depth, a negative size or one over
the library's limit (2 GiB per bitmap); MemoryError when memory runs out.)doc");

  cls.def_property_readonly(
      "width",
      [](Bitmap& b) {
        return Read<int>(b, [](const Dib& d) { return d.IsValidDIB() ? d.DIBWidth() : 0; });
      },
      "Width in pixels.");
  cls.def_property_readonly(
      "height",
      [](Bitmap& b) {
        return Read<int>(b, [](const Dib& d) { return d.IsValidDIB() ? d.DIBHeight() : 0; });
      },
      "Height in pixels.");
  cls.def_property_readonly(
      "bits",
      [](Bitmap& b) {
        return Read<int>(b, [](const Dib& d) { return d.IsValidDIB() ? int{d.DIBBitCount()} : 0; });
      },
      "Bits per pixel: 8 (grey), 24 (B, G, R) or 32 (B, G, R, A).");
  cls.def_property_readonly(
      "stride",
      [](Bitmap& b) {
        return Read<int>(b, [](const Dib& d) { return d.IsValidDIB() ? d.DIBBytesPerLine() : 0; });
      },
      "Bytes from one stored row to the next: ((bits x width + 31) // 32) x 4.");
  cls.def_property_readonly("shape", &Shape,
                            "(height, width, channels), or (height, width) at 8 bits: the "
                            "shape of numpy.asarray(bitmap).");
  cls.def_property(
      "interlaced",
      [](Bitmap& b) { return Read<bool>(b, [](const Dib& d) { return d.IsInterlaced(); }); },
      [](Bitmap& b, bool interlaced) {
        Locked(b, [&] {
          RequirePixels(b.dib, "interlaced");
          b.dib.SetInterlacedFlag(interlaced ? kolvex::kInterlacedFrame
                                             : kolvex::kProgressiveFrame);
        });
      },
      R"doc(True when the bitmap holds two interlaced video fields (its interlaced flag
word is 0), False for one progressive picture. quarter(), eighth() and
scaled() of an interlaced frame use one field; setting the flag first gives
a shared bitmap a block of its own (a copy), as every write does.)doc");
  cls.def_property(
      "alpha", [](Bitmap& b) { return Read<bool>(b, [](const Dib& d) { return HasAlpha(d); }); },
      [](Bitmap& b, bool valid) {
        Locked(b, [&] {
          RequireDepth(b.dib, "alpha", {32});
          b.dib.SetAlphaValid(valid);
        });
      },
      R"doc(True when the fourth byte of a 32-bit pixel is alpha (the alpha flag says
valid). Setting True marks it in place (every sharer sees it); setting False
gives a shared bitmap a block of its own first.)doc");
  cls.def_property_readonly(
      "shared", [](Bitmap& b) { return Read<bool>(b, [](const Dib& d) { return Owners(d) > 1; }); },
      R"doc(True when the pixel block has other owners: bitmaps made by copy() or
pickling's peers, the image cache, read-only views. A write to a shared
bitmap first gives it a block of its own.)doc");
  cls.def_property_readonly(
      "locked", [](Bitmap& b) { return Read<bool>(b, [](const Dib& d) { return d.IsLocked(); }); },
      R"doc(True while a writable view of the pixels lives: the block is then private
to this bitmap, and copies of it are made by copying, never by sharing.)doc");
  cls.def("__repr__", &Repr);

  cls.def(
      "quarter", [](Bitmap& b, py::object field) { return Quarter(b, field, 2); },
      py::arg("field") = py::none(),
      R"doc(A new bitmap of half the width and height (24 and 32 bits).

Each pixel is the mean of a 2 x 2 block, each byte on its own, rounded half
up. An odd width drops the last column and an odd height the top row (rows
are paired from the bottom, as bitmaps store them). field=None keeps to the
library's rule: an interlaced bitmap is averaged within field 1 (stored rows
1, 3, 5... from the bottom) only, two pixels of one row per result pixel.
field="even" or "odd" (or kolvex.Field) averages the pixel pairs of that
picture field whatever the flag says. The result is progressive, alpha flags
clear. The GIL is released. ValueError for other depths; MemoryError.)doc");
  cls.def(
      "eighth", [](Bitmap& b, py::object field) { return Quarter(b, field, 4); },
      py::arg("field") = py::none(),
      R"doc(A new bitmap of a quarter of the width and height (24 and 32 bits).

Each pixel is the mean of a 4 x 4 block, each byte on its own, rounded half
up (sum + 8 >> 4); a width or height that is no multiple of 4 drops the last
1 to 3 columns or the top 1 to 3 rows. field=None keeps to the library's
rule: an interlaced bitmap is averaged within field 1 only, rows 1 and 3 of
each group of four stored rows (sum of 8 + 4 >> 3); field="even" or "odd"
uses that picture field. The result is progressive. The GIL is released.
ValueError for other depths; MemoryError.)doc");
  cls.def("scaled", &Scaled, py::arg("width"), py::arg("height"), py::arg("field") = py::none(),
          R"doc(A new width x height bitmap, nearest neighbour (24 and 32 bits).

Each output pixel is the input pixel under its centre, floor((2i + 1) S / 2D);
a centre exactly on a boundary takes the later pixel (right column, upper
row). A zero width or height gives an empty result. field=None uses every
row and keeps this bitmap's interlaced flag; field="even" or "odd" draws every
row from that picture field and marks the result progressive. The same size
is an exact copy at any depth. The GIL is released. ValueError for other
depths, negative sizes or sizes over the library's limit; MemoryError.)doc");
  cls.def("mirrored", &Mirrored, py::arg("horizontal") = true, py::arg("vertical") = false,
          R"doc(A new bitmap flipped left to right (horizontal) and/or top to bottom
(vertical); both is a half turn, neither a copy. 24 and 32 bits; pixels are
moved whole. The GIL is released. ValueError for other depths; MemoryError.)doc");
  cls.def("field", &FieldFrame, py::arg("odd"), py::arg("interpolate") = true,
          R"doc(A progressive frame of this bitmap's size built from one field.

odd=True takes the odd picture rows (1, 3, 5... from the top), odd=False the
even ones (0, 2, 4...). interpolate=True fills the other rows with the
rounded mean (a + b + 1) // 2 of the field rows above and below, byte by
byte (a row without a neighbour repeats the nearest field row); False
repeats each field row (line doubling). Works on bytes and rows at any depth.
The GIL is released. MemoryError when memory runs out.)doc");
  cls.def_static("weave", &Weave, py::arg("odd_field"), py::arg("even_field"),
                 R"doc(A new interlaced frame: the odd picture rows (1, 3, 5... from the top)
from odd_field and the even ones (0, 2, 4...) from even_field, which must
have the same size and depth (ValueError otherwise). The result's interlaced
flag says two fields. The GIL is released.)doc");
  cls.def(
      "brightness",
      [](Bitmap& b, int level, bool inplace) -> py::object {
        if (inplace) {
          BrightnessInPlace(b, level);
          return py::none();
        }
        return py::cast(Brightness(b, level));
      },
      py::arg("level"), py::arg("inplace") = false,
      R"doc(Brightness through a clamped table (24 and 32 bits).

Level 128 keeps every value; each step below brightens by 1 (adds 1 to
every colour byte) and each step above darkens by 1, held to 0..255; levels
outside 0..255 act as 0 or 255. The fourth byte of a 32-bit pixel is kept.
Returns a new bitmap, or with inplace=True changes this one (a shared block
is copied first; through a live writable view the change is seen) and
returns None. The GIL is released. ValueError for other depths.)doc");
  cls.def("median", &Median,
          R"doc(A new bitmap: the 3 x 3 median of each byte position (8, 24 and 32 bits;
all four bytes at 32). The first and last rows and the first and last pixel
of every row are copied unfiltered. The GIL is released. ValueError for
other depths; MemoryError.)doc");
  cls.def("copy", &Copy,
          R"doc(A new bitmap with these pixels. It shares the pixel block until either
side writes (copy-on-write: the writer gets a copy first), so copying is
cheap; while a writable view of this bitmap lives the block is locked and
copy() copies the bytes at once.)doc");
  cls.def("__copy__", &Copy);
  cls.def(
      "__deepcopy__", [](Bitmap& b, py::object) { return Copy(b); }, py::arg("memo"));
  cls.def("clear", &Clear, py::arg("value"),
          R"doc(Sets every pixel to value, in place.

value is an int (a grey level at 8 bits, a pixel word 0xRRGGBB at 24 and
0xAARRGGBB at 32 bits) or a sequence of channel values (b, g, r[, a]). A
shared block is copied first (read-only views keep the old pixels); through
a live writable view the change is seen. ValueError for values out of range.)doc");

  m.def("set_threads", &kolvex::SetThreads, py::arg("n"),
        R"doc(How many threads one operation may use, the calling thread included.

An operation on a large frame (reductions, scaling, mirroring, the field
and frame operations, clear, the copy before a write, brightness, median)
splits its rows into bands run at once on the calling thread and the
library's helper threads; frames below about 256 KiB of pixels are not
split. The bytes are the same at every count. n: 0 (the default) the
processors this process may run on, 1 the calling thread only (for callers
that already run one frame per thread, e.g. Dask workers), n at most n.
Negative values act as 0, counts above 256 as 256. Any thread may call it at
any time; operations that start afterwards use it. No failure is reported:
where helper threads cannot be had, the calling thread does all the work.)doc");
  m.def("get_threads", &kolvex::GetThreads,
        "The thread count in force: the count set_threads() set, or the processors\n"
        "this process may run on when none is set (or 0 was set).");
}

}  // namespace kolvex_python
