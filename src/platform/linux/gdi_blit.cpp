// Transfers between GDI surfaces and caller-held DIBs: one sampling rule for
// every blit and stretch.

#include "base/bitmap_format.h"
#include "base/size.h"
#include "platform/linux/gdi_internal.h"
#include "platform/linux/real_screen.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace kolvex::platform::detail {
namespace {

using Pair = std::pair<int, int>;  // (destination coordinate, source coordinate)

// For one axis: every destination coordinate of the extent that lies inside
// [0, dLimit), with the source coordinate it samples, dropping those whose
// source lies outside [0, sLimit). Entry i of the extent samples entry
// floor((2i + 1) * S / (2D)) of the source extent: the nearest pixel centre,
// ties to the later pixel. Only the clipped range of i is visited, so huge
// extents cost no more than the surface they land on.
void MapAxis(std::int64_t dOrigin, std::int64_t dExtent, std::int64_t sOrigin, std::int64_t sExtent,
             int dLimit, int sLimit, std::vector<Pair>& out) {
  const std::int64_t d = std::abs(dExtent);
  const std::int64_t s = std::abs(sExtent);
  std::int64_t lo = 0;
  std::int64_t hi = 0;
  if (dExtent > 0) {
    lo = std::max<std::int64_t>(0, -dOrigin);
    hi = std::min<std::int64_t>(d, dLimit - dOrigin);
  } else {  // coordinates dOrigin - 1 - i
    lo = std::max<std::int64_t>(0, dOrigin - dLimit);
    hi = std::min<std::int64_t>(d, dOrigin);
  }
  for (std::int64_t i = lo; i < hi; ++i) {
    // Equal extents sample entry i itself (every frame that is only copied).
    // Otherwise a 128-bit product: (2i + 1) * S reaches 2^63 for extents near
    // 2^31.
    const auto j = s == d ? i
                          : static_cast<std::int64_t>(static_cast<unsigned __int128>(2 * i + 1) *
                                                      static_cast<unsigned __int128>(s) /
                                                      static_cast<unsigned __int128>(2 * d));
    const std::int64_t dc = dExtent > 0 ? dOrigin + i : dOrigin - 1 - i;
    const std::int64_t sc = sExtent > 0 ? sOrigin + j : sOrigin - 1 - j;
    if (sc >= 0 && sc < sLimit) out.emplace_back(static_cast<int>(dc), static_cast<int>(sc));
  }
}

}  // namespace

void StretchPixels(const PixelView& dst, const Extent& d, const PixelView& src, const Extent& s) {
  if (d.w == 0 || d.h == 0 || s.w == 0 || s.h == 0) return;
  std::vector<Pair> cols;
  std::vector<Pair> rows;
  MapAxis(d.x, d.w, s.x, s.w, dst.width, src.width, cols);
  MapAxis(d.y, d.h, s.y, s.h, dst.height, src.height, rows);
  if (cols.empty() || rows.empty()) return;

  // A transfer within one surface reads from a snapshot, so that overlapping
  // rectangles see the source as it was before the call.
  PixelView from = src;
  std::vector<BYTE> snapshot;
  if (src.bits == dst.bits) {
    snapshot.assign(src.bits, src.bits + src.stride * src.height);
    from.bits = snapshot.data();
  }
  // Equal extents neither scale nor mirror a row: runs of pixels are copied.
  if (d.w == s.w) {
    if (const RunCopy copy = RunCopierFor(from.bitCount, dst.bitCount)) {
      const int dx = std::min(cols.front().first, cols.back().first);
      const int sx = dx + cols.front().second - cols.front().first;
      const std::size_t fromBytes = static_cast<std::size_t>(from.bitCount / 8);
      const std::size_t toBytes = static_cast<std::size_t>(dst.bitCount / 8);
      for (const auto& [dy, sy] : rows) {
        copy(from.Row(sy) + sx * fromBytes, dst.Row(dy) + dx * toBytes, cols.size());
      }
      return;
    }
  }
  std::vector<std::uint32_t> srcRow(static_cast<std::size_t>(src.width));
  std::vector<std::uint32_t> dstRow(static_cast<std::size_t>(dst.width));
  int loaded = -1;
  for (const auto& [dy, sy] : rows) {
    if (sy != loaded) {
      ReadRow(from, sy, srcRow.data());
      loaded = sy;
    }
    ReadRow(dst, dy, dstRow.data());
    for (const auto& [dx, sx] : cols) dstRow[dx] = srcRow[sx];
    WriteRow(dst, dy, dstRow.data());
  }
}

std::optional<Touched> TouchedBoxes(int dstWidth, int dstHeight, const Extent& d, int srcWidth,
                                    int srcHeight, const Extent& s) {
  if (d.w == 0 || d.h == 0 || s.w == 0 || s.h == 0) return std::nullopt;
  std::vector<Pair> cols;
  std::vector<Pair> rows;
  MapAxis(d.x, d.w, s.x, s.w, dstWidth, srcWidth, cols);
  MapAxis(d.y, d.h, s.y, s.h, dstHeight, srcHeight, rows);
  if (cols.empty() || rows.empty()) return std::nullopt;
  // Both coordinates run monotonically along each list, so its ends bound it.
  const auto span = [](int a, int b) { return std::pair{std::min(a, b), std::abs(a - b) + 1}; };
  const auto [dx, dw] = span(cols.front().first, cols.back().first);
  const auto [sx, sw] = span(cols.front().second, cols.back().second);
  const auto [dy, dh] = span(rows.front().first, rows.back().first);
  const auto [sy, sh] = span(rows.front().second, rows.back().second);
  return Touched{{dx, dy, dw, dh}, {sx, sy, sw, sh}};
}

namespace {

// Whether a transfer of extent s of a source of srcWidth x srcHeight into
// extent d of `dst` writes every pixel of dst: unscaled, unmirrored, and
// every pixel it reads inside the source.
bool WritesWhole(const PixelView& dst, const Extent& d, std::int64_t srcWidth,
                 std::int64_t srcHeight, const Extent& s) {
  const std::int64_t sx = s.x - d.x;  // the source pixel of dst column 0
  const std::int64_t sy = s.y - d.y;
  return d.w == s.w && d.h == s.h && d.w > 0 && d.h > 0 && d.x <= 0 && d.y <= 0 &&
         d.x + d.w >= dst.width && d.y + d.h >= dst.height && sx >= 0 && sy >= 0 &&
         sx + dst.width <= srcWidth && sy + dst.height <= srcHeight;
}

}  // namespace

bool Transfer(HDC dstDc, const Extent& d, HDC srcDc, const PixelView* dib, const Extent& s) {
  const auto src = dib != nullptr ? std::optional<PixelView>(*dib) : SurfaceOfDc(srcDc);
  bool stale = false;  // dst holds a former surface's bytes, which read as zero
  const auto dst = SurfaceOfDc(dstDc, &stale);
  if (!dst || !src) {
    if (stale) ClearSurface(*dst);
    return false;
  }
  const bool toScreen = IsScreenDc(dstDc);
  const bool fromScreen = dib == nullptr && IsScreenDc(srcDc);
  RealScreen* real = toScreen || fromScreen ? SelectedScreen() : nullptr;
  const bool realSource = fromScreen && real != nullptr;
  if (stale && !WritesWhole(*dst, d, realSource ? real->Width() : src->width,
                            realSource ? real->Height() : src->height, s)) {
    ClearSurface(*dst);
    stale = false;
  }
  bool done = true;
  try {
    if (real != nullptr) {
      done = RealScreenTransfer(*real, toScreen ? std::nullopt : dst, d,
                                fromScreen ? std::nullopt : src, s);
    } else {
      StretchPixels(*dst, d, *src, s);
    }
  } catch (const std::bad_alloc&) {
    done = false;
  }
  if (!done && stale) ClearSurface(*dst);  // whatever the failed transfer left
  return done;
}

std::optional<PixelView> DibView(const BITMAPINFO* bmi, const void* bits) {
  if (bmi == nullptr || bits == nullptr) return std::nullopt;
  const BITMAPINFOHEADER& h = bmi->bmiHeader;
  const WORD n = h.biBitCount;
  const bool supported = kolvex::detail::IsDibBitCount(n);
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biCompression != BI_RGB || !supported ||
      h.biWidth <= 0 || h.biHeight == 0) {
    return std::nullopt;
  }
  const std::int64_t rows = std::abs(static_cast<std::int64_t>(h.biHeight));
  const auto layout = kolvex::detail::CheckedLayout(n, h.biWidth, rows);
  if (!layout) return std::nullopt;
  PixelView v;
  v.bits = static_cast<BYTE*>(const_cast<void*>(bits));
  v.width = h.biWidth;
  v.height = static_cast<int>(rows);
  v.bitCount = n;
  v.stride = static_cast<std::ptrdiff_t>(layout->stride);
  v.topDown = h.biHeight < 0;
  if (n <= 8) {
    // The colour table follows the header, biClrUsed entries or all of them.
    const DWORD all = 1u << n;
    v.colors = reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(bmi) + h.biSize);
    v.colorCount = static_cast<int>(h.biClrUsed != 0 && h.biClrUsed < all ? h.biClrUsed : all);
  }
  return v;
}

}  // namespace kolvex::platform::detail

using namespace kolvex::platform::detail;

BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) {
  return StretchBlt(hdc, x, y, cx, cy, hdcSrc, x1, y1, cx, cy, rop);
}

BOOL StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc, int xSrc,
                int ySrc, int wSrc, int hSrc, DWORD rop) {
  if (rop != SRCCOPY) return FALSE;
  auto guard = LockTable();
  return Transfer(hdcDest, {xDest, yDest, wDest, hDest}, hdcSrc, nullptr, {xSrc, ySrc, wSrc, hSrc});
}

int StretchDIBits(HDC hdc, int xDest, int yDest, int DestWidth, int DestHeight, int xSrc, int ySrc,
                  int SrcWidth, int SrcHeight, const VOID* lpBits, const BITMAPINFO* lpbmi,
                  UINT iUsage, DWORD rop) {
  if (rop != SRCCOPY || iUsage != DIB_RGB_COLORS) return 0;
  const auto src = DibView(lpbmi, lpBits);
  if (!src) return 0;
  // A bottom-up DIB measures its source rectangle from the lower-left corner.
  Extent s{xSrc, ySrc, SrcWidth, SrcHeight};
  if (!src->topDown) s.y = std::int64_t{src->height} - ySrc - SrcHeight;
  auto guard = LockTable();
  if (!Transfer(hdc, {xDest, yDest, DestWidth, DestHeight}, nullptr, &*src, s)) return 0;
  return static_cast<int>(std::min<std::int64_t>(std::abs(std::int64_t{SrcHeight}), INT32_MAX));
}

int GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits, LPBITMAPINFO lpbmi,
              UINT usage) {
  if (lpbmi == nullptr || usage != DIB_RGB_COLORS) return 0;
  BITMAPINFOHEADER& h = lpbmi->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER)) return 0;
  auto guard = LockTable();
  const auto bitmap = SurfaceOfBitmap(hbm);
  if (!IsLiveDc(hdc) || !bitmap) return 0;

  if (lpvBits == nullptr) {  // the caller asks for the bitmap's format
    const auto layout =
        kolvex::detail::CheckedLayout(bitmap->bitCount, bitmap->width, bitmap->height);
    h.biWidth = bitmap->width;
    h.biHeight = bitmap->height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitmap->bitCount);
    h.biCompression = BI_RGB;
    h.biSizeImage = layout ? static_cast<DWORD>(layout->image) : 0;
    return 1;
  }
  if (h.biBitCount != 24 && h.biBitCount != 32) return 0;
  const auto out = DibView(lpbmi, lpvBits);
  if (!out) return 0;
  const std::int64_t first = start;
  const std::int64_t last = std::min<std::int64_t>(std::int64_t{start} + cLines, out->height);
  if (first >= last) return 0;
  // Scan line 0 is the bottom row of a bottom-up DIB and the top row otherwise.
  const std::int64_t top = out->topDown ? first : out->height - last;
  const Extent rows{0, top, out->width, last - first};
  try {
    StretchPixels(*out, rows, *bitmap, rows);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return static_cast<int>(last - first);
}
