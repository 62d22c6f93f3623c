// Transfers with the real screen at one end: only the rectangle a transfer
// touches crosses the connection, band by band, so that the display works on
// one band while this side converts the next.

#include "base/size.h"
#include "platform/linux/real_screen.h"

#include <vector>

namespace kolvex::platform::detail {
namespace {

// Extent e as seen from a band holding rows [top, ...) of rectangle b.
Extent Within(const Extent& e, const Box& b, int top) {
  return {e.x - b.x, e.y - b.y - top, e.w, e.h};
}

}  // namespace

bool RealScreenTransfer(RealScreen& screen, const std::optional<PixelView>& dst, const Extent& d,
                        const std::optional<PixelView>& src, const Extent& s) {
  if (screen.Lost()) return false;
  const int w = screen.Width();
  const int h = screen.Height();
  const auto touched = TouchedBoxes(dst ? dst->width : w, dst ? dst->height : h, d,
                                    src ? src->width : w, src ? src->height : h, s);
  if (!touched) return true;  // nothing to draw
  const Box& from = touched->src;
  const Box& to = touched->dst;

  if (src) {
    return screen.Write(to, [&](const PixelView& band, int top) {
      StretchPixels(band, Within(d, to, top), *src, s);
    });
  }
  if (dst) {
    // An unscaled grab of whole rows: into shared memory, the display writes
    // them in place.
    if (d.w == s.w && d.h == s.h && d.w > 0 && d.h > 0 && to.x == 0 && to.w == dst->width) {
      if (const auto read = screen.ReadInto(from, *dst, to.y)) return *read;
    }
    return screen.Read(from, [&](const PixelView& band, int top) {
      StretchPixels(*dst, d, band, Within(s, from, top));
    });
  }
  // Screen to screen: the source as it was before the call, as for any
  // transfer within one surface.
  const auto layout = kolvex::detail::CheckedLayout(32, from.w, from.h);
  if (!layout) return false;
  std::vector<BYTE> bytes(layout->image);
  PixelView copy;
  copy.bits = bytes.data();
  copy.width = from.w;
  copy.height = from.h;
  copy.stride = static_cast<std::ptrdiff_t>(layout->stride);
  const bool read = screen.Read(from, [&](const PixelView& band, int top) {
    StretchPixels(copy, {0, top, from.w, band.height}, band, {0, 0, from.w, band.height});
  });
  return read && screen.Write(to, [&](const PixelView& band, int top) {
    StretchPixels(band, Within(d, to, top), copy, Within(s, from, 0));
  });
}

}  // namespace kolvex::platform::detail
