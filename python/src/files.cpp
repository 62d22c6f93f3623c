// Bitmap files: loading from a path or bytes, saving to a path or a Python
// file, the file image as bytes.

#include "bitmap.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace kolvex_python {

namespace {

std::string PathOf(const py::object& path) {
  py::object p = py::module_::import("os").attr("fsdecode")(path);
  return p.cast<std::string>();
}

// The errno a failed CFile::Open recorded, or EIO.
int OpenError(const CFileException& e) {
  return e.m_lOsError > 0 ? static_cast<int>(e.m_lOsError) : EIO;
}

std::unique_ptr<Bitmap> Load(const py::object& pathObject) {
  const std::string path = PathOf(pathObject);
  auto out = std::make_unique<Bitmap>();
  py::gil_scoped_release nogil;
  CFile file;
  CFileException error;
  if (!file.Open(path.c_str(), CFile::modeRead | CFile::typeBinary, &error)) {
    const int e = OpenError(error);
    throw OsError(e, std::strerror(e), path);
  }
  const char* problem = nullptr;
  bool loaded = false;
  try {
    loaded = Library([&] { return out->dib.CreateFromFile(file, &problem); });
  } catch (const OsError& e) {
    throw OsError(e.error, std::strerror(e.error), path);
  }
  if (loaded) return out;
  if (problem != nullptr && std::strcmp(problem, "out of memory") == 0) throw std::bad_alloc();
  throw OsError(EINVAL, problem != nullptr ? problem : "not a bitmap file", path);
}

std::unique_ptr<Bitmap> FromBytes(const py::buffer& data) {
  const py::buffer_info info = data.request();
  const auto size = static_cast<std::size_t>(info.size * info.itemsize);
  auto out = std::make_unique<Bitmap>();
  py::gil_scoped_release nogil;
  if (Library([&] { return out->dib.CreateFromMemory(info.ptr, size); })) return out;
  const char* problem = kolvex::BitmapFileProblem(info.ptr, size);
  if (problem == nullptr) throw std::bad_alloc();  // the file is good: memory ran out
  throw py::value_error(problem);
}

// Writes the bitmap file: with its alpha (a version-5 header) when the bitmap
// has alpha, otherwise as SaveAs writes it.
bool Encode(Dib& dib, CFile& file) {
  return HasAlpha(dib) ? kolvex::SaveWithAlpha(dib, file) : dib.SaveAs(file);
}

// The bitmap's file image (as Encode writes it), made with the GIL released.
py::bytes ToBytes(Bitmap& self) {
  std::unique_ptr<BYTE, decltype(&std::free)> image(nullptr, &std::free);
  std::size_t size = 0;
  Locked(self, [&] {
    RequirePixels(self.dib, "to_bytes");
    // Grown in one step: the headers, a colour table and the image.
    CMemFile file(static_cast<UINT>(self.dib.DIBSize()) + 2048);
    if (!Encode(self.dib, file)) {
      throw py::value_error("to_bytes: " + Describe(self.dib) + " cannot be a bitmap file");
    }
    size = static_cast<std::size_t>(file.GetLength());
    image.reset(file.Detach());
  });
  return py::bytes(reinterpret_cast<const char*>(image.get()), size);
}

void SaveToPath(Bitmap& self, const std::string& path) {
  Locked(self, [&] {
    RequirePixels(self.dib, "save");
    CFile file;
    CFileException error;
    if (!file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary,
                   &error)) {
      const int e = OpenError(error);
      throw OsError(e, std::strerror(e), path);
    }
    errno = 0;
    bool saved = Encode(self.dib, file);
    int e = errno != 0 ? errno : EIO;
    if (saved) {
      try {
        file.Close();
      } catch (CFileException* x) {
        e = OpenError(*x);
        x->Delete();
        saved = false;
      }
    }
    if (!saved) {
      // Nothing half-written is left behind; a device or pipe is not ours to remove.
      file.Abort();
      struct stat st {};
      if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
      throw OsError(e, std::string("could not write the bitmap file: ") + std::strerror(e), path);
    }
  });
}

void Save(Bitmap& self, const py::object& target) {
  if (py::hasattr(target, "write")) {
    target.attr("write")(ToBytes(self));
    return;
  }
  SaveToPath(self, PathOf(target));
}

}  // namespace

void RegisterFiles(py::module_&, py::class_<Bitmap>& cls) {
  cls.def_static("load", &Load, py::arg("path"),
                 R"doc(A new bitmap loaded from the bitmap file at path (str, bytes or os.PathLike).

Reads the files that real programs write: core, OS/2 and Windows headers (12
to 124 bytes), 1, 2, 4, 8, 16, 24 and 32 bits, BI_RGB, RLE8/RLE4 and bit
fields, bottom-up or top-down. 8-bit grey files stay 8-bit; files with an
alpha mask load as 32 bits with alpha; other indexed, 16-bit and bit-field
files as 24 bits; 24 and 32 stay. The file is read once, with the GIL
released. OSError (with errno and the path) when it cannot be opened or
read, or when it is no bitmap file the library can load, with the reason
("not a bitmap file (too short)", "unsupported bitmap (compression)"...);
MemoryError.)doc");
  cls.def_static("from_bytes", &FromBytes, py::arg("data"),
                 R"doc(A new bitmap loaded from a bitmap file image in memory (bytes or any
buffer), as load() reads files. ValueError with the library's reason for
data that is no bitmap file it can load; MemoryError.)doc");
  cls.def("to_bytes", &ToBytes,
          R"doc(The bitmap file image of this bitmap: file header, info header, a
grey-ramp colour table at 8 bits, the rows as stored (bottom-up, padded).
The info header has 40 bytes, or, for a bitmap with alpha (32 bits, alpha
True), 124 (BITMAPV5HEADER) with bit-field masks naming bytes 0 to 3 of each
pixel blue, green, red and alpha, as other programs read RGBA files; load()
reads it back with alpha.)doc");
  cls.def("save", &Save, py::arg("path_or_file"),
          R"doc(Writes the bitmap file (as to_bytes() gives it) to a path (str, bytes or
os.PathLike), or to a binary file object with a write() method. A path is
opened, truncated and written with the GIL released; if writing fails the
partial file is removed and OSError (errno, reason, path) is raised.)doc");
}

}  // namespace kolvex_python
