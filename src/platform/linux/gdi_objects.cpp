// The GDI object table: device contexts, bitmaps, DIB sections, the virtual
// screen and DrawDib handles.

#include "base/bitmap_format.h"
#include "base/size.h"
#include "platform/allocation.h"
#include "platform/linux/gdi_internal.h"
#include "platform/linux/real_screen.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace kolvex::platform::detail {
namespace {

enum class Kind : std::uint8_t { Free, MemoryDc, DisplayDc, WindowDc, Bitmap, DrawDib };

constexpr std::uint32_t kNone = UINT32_MAX;
constexpr std::uint32_t kStockSlot = 0;
constexpr int kDefaultScreenWidth = 1920;
constexpr int kDefaultScreenHeight = 1080;

struct FreeBytes {
  SurfaceBytes made;
  void operator()(BYTE*) const { FreeSurfaceBytes(made); }
};

struct Surface {
  std::unique_ptr<BYTE, FreeBytes> storage;  // never moves: DIB-section bits stay put
  PixelView view;
  bool dibSection = false;
  BITMAPINFOHEADER header{};  // DIB sections: the format as made
  // The bytes are a former surface's: they read as zero, so they are cleared
  // before anything reads them, unless a transfer writes them whole first.
  bool stale = false;
};

struct Object {
  std::uint32_t generation = 1;
  Kind kind = Kind::Free;
  std::uint32_t selected = kStockSlot;  // memory DC: slot of its bitmap
  int stretchMode = BLACKONWHITE;       // DCs
  std::unique_ptr<Surface> surface;     // bitmaps
  std::uint32_t selectedInto = kNone;   // bitmaps: slot of the DC holding it
};

bool IsDcKind(Kind k) { return k == Kind::MemoryDc || k == Kind::DisplayDc || k == Kind::WindowDc; }
bool Counted(Kind k) { return IsDcKind(k) || k == Kind::Bitmap; }

// A surface that reads as zero, or null when the size is refused or memory
// runs out. DIB sections and copies of the screen (made with the table
// locked) may take memory the screen fills.
std::unique_ptr<Surface> MakeSurface(int width, std::int64_t height, int bitCount, bool topDown,
                                     SurfaceUse use = SurfaceUse::Plain) {
  const auto layout = kolvex::detail::CheckedLayout(bitCount, width, height);
  if (!layout || width <= 0 || height <= 0) return nullptr;
  auto surface = std::unique_ptr<Surface>(new (std::nothrow) Surface());
  if (!surface) return nullptr;
  const SurfaceBytes bytes = AllocateSurfaceBytes(layout->image, use);
  if (bytes.bytes == nullptr) return nullptr;
  surface->storage = std::unique_ptr<BYTE, FreeBytes>(bytes.bytes, FreeBytes{bytes});
  surface->stale = bytes.stale;
  PixelView& v = surface->view;
  v.bits = surface->storage.get();
  v.shm = bytes.shm;
  v.width = width;
  v.height = static_cast<int>(height);
  v.bitCount = bitCount;
  v.stride = static_cast<std::ptrdiff_t>(layout->stride);
  v.topDown = topDown;
  return surface;
}

struct Table {
  std::mutex lock;
  std::vector<Object> objects;
  std::vector<std::uint32_t> freeSlots;
  DWORD live = 0;
  std::unique_ptr<Surface> screen;

  Table() {
    // Slot 0 is the stock bitmap: 1x1, one bit per pixel, as GDI's.
    objects.resize(1);
    objects[kStockSlot].kind = Kind::Bitmap;
    objects[kStockSlot].surface = MakeSurface(1, 1, 1, false);
    screen = MakeSurface(kDefaultScreenWidth, kDefaultScreenHeight, 32, true);
    if (!objects[kStockSlot].surface || !screen) throw std::bad_alloc();
  }

  static void* Encode(std::uint32_t slot, std::uint32_t generation) {
    return reinterpret_cast<void*>((std::uint64_t{generation} << 32) | (std::uint64_t{slot} + 1));
  }

  void* HandleOf(std::uint32_t slot) const { return Encode(slot, objects[slot].generation); }

  // The slot a handle names if it is live and of an accepted kind; kNone otherwise.
  template <class Accept>
  std::uint32_t Find(const void* h, Accept accept) const {
    const auto value = reinterpret_cast<std::uint64_t>(h);
    const std::uint64_t low = value & 0xFFFFFFFFu;
    if (low == 0 || low > objects.size()) return kNone;
    const auto slot = static_cast<std::uint32_t>(low - 1);
    const Object& o = objects[slot];
    if (o.generation != (value >> 32) || o.kind == Kind::Free || !accept(o.kind)) return kNone;
    return slot;
  }
  // DCs on a real screen whose display is lost fail every call but release.
  std::uint32_t FindDc(const void* h) const {
    const std::uint32_t slot = Find(h, IsDcKind);
    if (slot != kNone && objects[slot].kind != Kind::MemoryDc && ScreenLost()) return kNone;
    return slot;
  }
  std::uint32_t FindBitmap(const void* h) const {
    return Find(h, [](Kind k) { return k == Kind::Bitmap; });
  }

  // A slot for a new object of kind k, or kNone when memory runs out.
  std::uint32_t Allocate(Kind k) {
    std::uint32_t slot = kNone;
    try {
      if (!freeSlots.empty()) {
        slot = freeSlots.back();
        freeSlots.pop_back();
      } else {
        // Room in the free list for every slot, so that Release cannot throw.
        freeSlots.reserve(objects.size() + 1);
        objects.emplace_back();
        slot = static_cast<std::uint32_t>(objects.size() - 1);
      }
    } catch (const std::bad_alloc&) {
      return kNone;
    }
    Object& o = objects[slot];
    o.kind = k;
    o.selected = kStockSlot;
    o.stretchMode = BLACKONWHITE;
    o.selectedInto = kNone;
    if (Counted(k)) ++live;
    return slot;
  }

  void Release(std::uint32_t slot) {
    Object& o = objects[slot];
    if (Counted(o.kind)) --live;
    o.kind = Kind::Free;
    o.surface.reset();
    if (++o.generation == 0) o.generation = 1;  // handle values are never null
    freeSlots.push_back(slot);
  }
};

Table& T() {
  // Never destroyed: clients may release GDI objects from static destructors.
  static Table* const table = new Table();
  return *table;
}

// A new object under the lock; the fault injection may refuse it.
void* NewObject(Table& t, Kind k, std::unique_ptr<Surface> surface = nullptr) {
  const std::uint32_t slot = t.Allocate(k);
  if (slot == kNone) return nullptr;
  t.objects[slot].surface = std::move(surface);
  return t.HandleOf(slot);
}

}  // namespace

std::unique_lock<std::mutex> LockTable() { return std::unique_lock<std::mutex>(T().lock); }

namespace {

// The view of a surface whose stale bytes are cleared now, or (with `stale`)
// handed over as they are, for the caller to write whole or clear.
PixelView Settled(Surface& s, bool* stale) {
  if (s.stale) {
    if (stale != nullptr) {
      *stale = true;
    } else {
      ClearSurface(s.view);
    }
    s.stale = false;
  }
  return s.view;
}

}  // namespace

void ClearSurface(const PixelView& v) {
  std::memset(v.bits, 0, static_cast<std::size_t>(v.stride) * static_cast<std::size_t>(v.height));
}

std::optional<PixelView> SurfaceOfDc(HDC hdc, bool* stale) {
  Table& t = T();
  const std::uint32_t slot = t.FindDc(hdc);
  if (slot == kNone) return std::nullopt;
  const Object& dc = t.objects[slot];
  if (dc.kind != Kind::MemoryDc) return t.screen->view;
  return Settled(*t.objects[dc.selected].surface, stale);
}

std::optional<PixelView> SurfaceOfBitmap(HBITMAP hbm) {
  Table& t = T();
  const std::uint32_t slot = t.FindBitmap(hbm);
  if (slot == kNone) return std::nullopt;
  return Settled(*t.objects[slot].surface, nullptr);
}

bool IsLiveDc(HDC hdc) { return T().FindDc(hdc) != kNone; }

bool IsScreenDc(HDC hdc) {
  const Table& t = T();
  const std::uint32_t slot = t.FindDc(hdc);
  return slot != kNone && t.objects[slot].kind != Kind::MemoryDc;
}

namespace {

// Objects without a surface of their own, opened and closed by kind. DCs on
// the screen are refused while a real screen's display is lost.
void* OpenOfKind(Kind k) {
  if (kolvex::detail::AllocationShouldFail()) return nullptr;
  auto guard = LockTable();
  if (k != Kind::DrawDib && ScreenLost()) return nullptr;
  return NewObject(T(), k);
}

bool CloseOfKind(const void* h, Kind k) {
  auto guard = LockTable();
  Table& t = T();
  const std::uint32_t slot = t.Find(h, [k](Kind x) { return x == k; });
  if (slot == kNone) return false;
  t.Release(slot);
  return true;
}

}  // namespace

HDC OpenWindowDc() { return static_cast<HDC>(OpenOfKind(Kind::WindowDc)); }

bool ReleaseWindowDc(HDC hdc) { return CloseOfKind(hdc, Kind::WindowDc); }

HANDLE OpenDrawDib() { return OpenOfKind(Kind::DrawDib); }

bool CloseDrawDib(HANDLE h) { return CloseOfKind(h, Kind::DrawDib); }

bool IsDrawDib(HANDLE h) {
  return T().Find(h, [](Kind k) { return k == Kind::DrawDib; }) != kNone;
}

int ScreenWidth() {
  auto guard = LockTable();
  const RealScreen* real = SelectedScreen();
  return real == nullptr ? T().screen->view.width : real->Lost() ? 0 : real->Width();
}

int ScreenHeight() {
  auto guard = LockTable();
  const RealScreen* real = SelectedScreen();
  return real == nullptr ? T().screen->view.height : real->Lost() ? 0 : real->Height();
}

bool ResizeScreen(int width, int height) {
  auto screen = MakeSurface(width, height, 32, true);
  if (!screen) return false;
  auto guard = LockTable();
  T().screen = std::move(screen);
  SelectVirtualScreen();
  return true;
}

DWORD LiveGdiObjects() {
  auto guard = LockTable();
  return T().live;
}

}  // namespace kolvex::platform::detail

using namespace kolvex::platform::detail;

HDC CreateCompatibleDC(HDC hdc) {
  auto guard = LockTable();
  Table& t = T();
  if (hdc != nullptr && t.FindDc(hdc) == kNone) return nullptr;
  if (kolvex::detail::AllocationShouldFail()) return nullptr;
  return static_cast<HDC>(NewObject(t, Kind::MemoryDc));
}

HDC CreateDCA(LPCSTR pszDriver, LPCSTR, LPCSTR, const DEVMODEA*) {
  if (pszDriver == nullptr || strcasecmp(pszDriver, "DISPLAY") != 0) return nullptr;
  return static_cast<HDC>(OpenOfKind(Kind::DisplayDc));
}

BOOL DeleteDC(HDC hdc) {
  auto guard = LockTable();
  Table& t = T();
  const std::uint32_t slot =
      t.Find(hdc, [](Kind k) { return k == Kind::MemoryDc || k == Kind::DisplayDc; });
  if (slot == kNone) return FALSE;
  const std::uint32_t selected = t.objects[slot].selected;
  if (t.objects[slot].kind == Kind::MemoryDc && selected != kStockSlot) {
    t.objects[selected].selectedInto = kNone;
  }
  t.Release(slot);
  return TRUE;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
  auto guard = LockTable();
  Table& t = T();
  const std::uint32_t dc = t.Find(hdc, [](Kind k) { return k == Kind::MemoryDc; });
  const std::uint32_t bm = t.FindBitmap(h);
  if (dc == kNone || bm == kNone) return nullptr;
  Object& bitmap = t.objects[bm];
  if (bm != kStockSlot && bitmap.selectedInto != kNone && bitmap.selectedInto != dc) {
    return nullptr;  // a bitmap lives in one DC at a time
  }
  const std::uint32_t old = t.objects[dc].selected;
  if (old != kStockSlot) t.objects[old].selectedInto = kNone;
  t.objects[dc].selected = bm;
  if (bm != kStockSlot) bitmap.selectedInto = dc;
  return t.HandleOf(old);
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type) {
  auto guard = LockTable();
  Table& t = T();
  const std::uint32_t dc = t.Find(hdc, [](Kind k) { return k == Kind::MemoryDc; });
  if (dc == kNone || type != OBJ_BITMAP) return nullptr;
  return t.HandleOf(t.objects[dc].selected);
}

UINT GetDIBColorTable(HDC hdc, UINT iStart, UINT cEntries, RGBQUAD* prgbq) {
  auto guard = LockTable();
  Table& t = T();
  const std::uint32_t dc = t.Find(hdc, [](Kind k) { return k == Kind::MemoryDc; });
  if (dc == kNone || prgbq == nullptr) return 0;
  const Surface& s = *t.objects[t.objects[dc].selected].surface;
  if (!s.dibSection || s.view.bitCount > 8) return 0;
  const UINT size = 1u << s.view.bitCount;
  UINT copied = 0;
  for (UINT i = iStart; i < size && copied < cEntries; ++i, ++copied) {
    const auto level = static_cast<BYTE>(i * 255 / (size - 1));
    prgbq[copied] = RGBQUAD{level, level, level, 0};
  }
  return copied;
}

int SetStretchBltMode(HDC hdc, int mode) {
  auto guard = LockTable();
  Table& t = T();
  const std::uint32_t dc = t.FindDc(hdc);
  if (dc == kNone || mode < BLACKONWHITE || mode > HALFTONE) return 0;
  const int previous = t.objects[dc].stretchMode;
  t.objects[dc].stretchMode = mode;
  return previous;
}

int GetStretchBltMode(HDC hdc) {
  auto guard = LockTable();
  Table& t = T();
  const std::uint32_t dc = t.FindDc(hdc);
  return dc == kNone ? 0 : t.objects[dc].stretchMode;
}

HBITMAP CreateCompatibleBitmap(HDC hdc, int cx, int cy) {
  auto guard = LockTable();
  Table& t = T();
  if (t.FindDc(hdc) == kNone || cx < 0 || cy < 0) return nullptr;
  if (cx == 0 || cy == 0) return static_cast<HBITMAP>(t.HandleOf(kStockSlot));
  if (kolvex::detail::AllocationShouldFail()) return nullptr;
  // A copy of the screen is made for a grab, frame after frame: memory the
  // display fills in place, the last one's when it fits.
  auto surface =
      MakeSurface(cx, cy, 32, true, IsScreenDc(hdc) ? SurfaceUse::ScreenCopy : SurfaceUse::Plain);
  if (!surface) return nullptr;
  return static_cast<HBITMAP>(NewObject(t, Kind::Bitmap, std::move(surface)));
}

HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits,
                         HANDLE hSection, DWORD) {
  if (ppvBits != nullptr) *ppvBits = nullptr;
  if (pbmi == nullptr || usage != DIB_RGB_COLORS || hSection != nullptr) return nullptr;
  const BITMAPINFOHEADER& h = pbmi->bmiHeader;
  const WORD bits = h.biBitCount;
  const bool supported = kolvex::detail::IsDibBitCount(bits);
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biCompression != BI_RGB || !supported ||
      h.biWidth <= 0 || h.biHeight == 0) {
    return nullptr;
  }
  auto guard = LockTable();
  Table& t = T();
  if (hdc != nullptr && t.FindDc(hdc) == kNone) return nullptr;
  if (kolvex::detail::AllocationShouldFail()) return nullptr;
  const std::int64_t rows = std::abs(static_cast<std::int64_t>(h.biHeight));
  auto surface = MakeSurface(h.biWidth, rows, bits, h.biHeight < 0, SurfaceUse::Section);
  if (!surface) return nullptr;
  surface->dibSection = true;
  surface->header = h;
  surface->header.biSize = sizeof(BITMAPINFOHEADER);
  surface->header.biSizeImage = static_cast<DWORD>(surface->view.stride * surface->view.height);
  BYTE* p = surface->view.bits;
  void* handle = NewObject(t, Kind::Bitmap, std::move(surface));
  if (handle != nullptr && ppvBits != nullptr) *ppvBits = p;
  return static_cast<HBITMAP>(handle);
}

BOOL DeleteObject(HGDIOBJ h) {
  auto guard = LockTable();
  Table& t = T();
  const std::uint32_t bm = t.FindBitmap(h);
  if (bm == kNone) return FALSE;
  if (bm == kStockSlot) return TRUE;  // stock objects are never deleted
  if (t.objects[bm].selectedInto != kNone) return FALSE;
  t.Release(bm);
  return TRUE;
}

int GetObjectA(HANDLE h, int c, LPVOID pv) {
  auto guard = LockTable();
  Table& t = T();
  const std::uint32_t bm = t.FindBitmap(h);
  if (bm == kNone) return 0;
  const Surface& s = *t.objects[bm].surface;
  DIBSECTION ds{};
  ds.dsBm.bmWidth = s.view.width;
  ds.dsBm.bmHeight = s.view.height;
  ds.dsBm.bmWidthBytes = static_cast<LONG>(s.view.stride);
  ds.dsBm.bmPlanes = 1;
  ds.dsBm.bmBitsPixel = static_cast<WORD>(s.view.bitCount);
  ds.dsBm.bmBits = s.dibSection ? s.view.bits : nullptr;
  ds.dsBmih = s.header;
  const int full =
      s.dibSection ? static_cast<int>(sizeof(DIBSECTION)) : static_cast<int>(sizeof(BITMAP));
  if (pv == nullptr) return full;
  if (s.dibSection && c >= full) {
    std::memcpy(pv, &ds, sizeof ds);
    return full;
  }
  if (c < static_cast<int>(offsetof(BITMAP, bmBits))) return 0;
  const int n = std::min(c, static_cast<int>(sizeof(BITMAP)));
  std::memcpy(pv, &ds.dsBm, static_cast<std::size_t>(n));
  return n;
}
