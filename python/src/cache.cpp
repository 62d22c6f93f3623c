// The process-wide image cache: bitmaps kept under keys of the caller's.

#include "bitmap.h"

#include <pybind11/stl.h>

#include <memory>
#include <vector>

namespace kolvex_python {

namespace {

// A key record: up to four key words, a frame number, flags, whether the
// picture is the same for every frame, and the picture's geometry (which
// takes part in every comparison).
CDIBCacheInfo Record(const std::vector<std::uint32_t>& keys, std::uint32_t frame,
                     std::uint32_t flags, bool everyFrame, int width, int height, int bits,
                     bool interlaced) {
  if (keys.empty() || keys.size() > 4) {
    throw py::value_error("a cache key is 1 to 4 integers, not " + std::to_string(keys.size()));
  }
  CDIBCacheInfo info{};
  info.bInfoValid = 1;
  info.nFlags = flags;
  info.nFrame = frame;
  info.nFrameMode = everyFrame ? 1 : 0;
  DWORD* words[] = {&info.dwKey1, &info.dwKey2, &info.dwKey3, &info.dwKey4};
  for (std::size_t i = 0; i < keys.size(); ++i) *words[i] = keys[i];
  info.rzHeader.biSize = sizeof(tagRZBMINFOHEADER);
  info.rzHeader.biWidth = width;
  info.rzHeader.biHeight = height;
  info.rzHeader.biPlanes = 1;
  info.rzHeader.biBitCount = static_cast<WORD>(bits);
  info.rzHeader.dwInterlacedFlag =
      interlaced ? kolvex::kInterlacedFrame : kolvex::kProgressiveFrame;
  return info;
}

std::vector<std::uint32_t> Keys(const py::args& args) {
  std::vector<std::uint32_t> keys;
  for (const py::handle& k : args) {
    const long long v = k.cast<long long>();
    if (v < 0 || v > 0xFFFFFFFFLL) {
      throw py::value_error("cache key words are 0..2**32-1, not " + std::to_string(v));
    }
    keys.push_back(static_cast<std::uint32_t>(v));
  }
  return keys;
}

// Keeps the bitmap in the cache under its key. A bitmap whose writable view
// lives (locked) is kept as a copy of its pixels as they are now.
bool Cache(Bitmap& self, const py::args& args, std::uint32_t frame, std::uint32_t flags,
           bool everyFrame) {
  const std::vector<std::uint32_t> keys = Keys(args);
  return Locked(self, [&] {
    RequirePixels(self.dib, "cache");
    const CDIBCacheInfo info =
        Record(keys, frame, flags, everyFrame, self.dib.DIBWidth(), self.dib.DIBHeight(),
               self.dib.DIBBitCount(), self.dib.IsInterlaced());
    if (CRZDIB2::GetCacheCapacityKB() == 0) {
      throw py::value_error(
          "the image cache keeps nothing until kolvex.cache_capacity_kb(kb) sets a capacity");
    }
    if (!self.dib.IsLocked()) {
      self.dib.SetCacheInfo(info);
      return self.dib.CacheThis();
    }
    Dib copy = self.dib;  // copies: the block is locked
    copy.SetCacheInfo(info);
    return copy.CacheThis();
  });
}

py::object Lookup(const py::args& args, int width, int height, int bits, bool interlaced,
                  std::uint32_t frame, std::uint32_t flags, bool everyFrame) {
  const CDIBCacheInfo info =
      Record(Keys(args), frame, flags, everyFrame, width, height, bits, interlaced);
  auto out = std::make_unique<Bitmap>();
  bool found = false;
  {
    py::gil_scoped_release nogil;
    found = Library([&] { return out->dib.LookupCache(info); });
  }
  if (!found) return py::none();
  return py::cast(std::move(out));
}

}  // namespace

void RegisterCache(py::module_& m, py::class_<Bitmap>& cls) {
  cls.def("cache", &Cache, py::arg("frame") = 0, py::arg("flags") = 0,
          py::arg("every_frame") = false,
          R"doc(cache(*key, frame=0, flags=0, every_frame=False) -> bool

Keeps this bitmap's pixels in the process-wide image cache under key (1 to 4
integers of 32 bits), frame and flags, with its width, height, depth and
interlaced flag; every_frame=True makes the entry match any frame. The cache
holds a share of the block (no copy), so the pixels stay alive after the
bitmap goes; while a writable view lives it keeps a copy of the pixels as
they are now. True when kept (also when an equal entry is there already).
When the entries exceed kolvex.cache_capacity_kb(), the least looked-up go
first. ValueError before a capacity is set.)doc");
  m.def(
      "lookup", &Lookup, py::arg("width"), py::arg("height"), py::arg("bits") = 24,
      py::arg("interlaced") = false, py::arg("frame") = 0, py::arg("flags") = 0,
      py::arg("every_frame") = false,
      R"doc(lookup(*key, width, height, bits=24, interlaced=False, frame=0, flags=0, every_frame=False) -> Bitmap | None

The cached bitmap kept under this key record (see Bitmap.cache), sharing the
cached pixels (no copy), or None.)doc");
  m.def("_set_cache_capacity_kb", [](int kb) {
    if (kb < 0) throw py::value_error("the cache capacity is >= 0 kilobytes");
    if (!CRZDIB2::SetCacheCapacityKB(kb)) throw std::bad_alloc();
  });
  m.def("_cache_capacity_kb", &CRZDIB2::GetCacheCapacityKB);
  m.def("_cache_used_kb", &CRZDIB2::GetCacheUsedKB);
}

}  // namespace kolvex_python
