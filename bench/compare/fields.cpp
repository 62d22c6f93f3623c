// Video fields: a frame interpolated from one field, and one field copied.
#include "peers.h"

#include <cstring>

namespace compare {
namespace {

#if defined(KOLVEX_HAVE_LIBYUV)
// An interpolated frame from field 1 as libyuv makes it: field rows copied,
// the rows between them averaged at 128/256, the edge rows repeated.
bool LibyuvFrame(CRZDIB2& dst, const CRZDIB2& src) {
  const int stride = src.DIBBytesPerLine();
  const int h = src.DIBHeight();
  const BYTE* s = src.GetBytes();
  BYTE* d = dst.GetBytes();
  libyuv::CopyPlane(s + stride, 2 * stride, d + stride, 2 * stride, stride, h / 2);
  std::memcpy(d, s + stride, static_cast<std::size_t>(stride));
  const int averaged = (h - 2) / 2;  // rows 2, 4, ... that have a field row above
  libyuv::InterpolatePlane(s + stride, 2 * stride, s + 3 * stride, 2 * stride, d + 2 * stride,
                           2 * stride, stride, averaged, 128);
  if (h % 2 == 1) std::memcpy(d + (h - 1) * stride, s + (h - 2) * stride, stride);
  return true;
}

// The odd field's rows copied by libyuv.
bool LibyuvOddField(CRZDIB2& d, const CRZDIB2& s) {
  const int stride = s.DIBBytesPerLine();
  const int first = s.DIBHeight() % 2 == 0 ? 0 : 1;  // stored row of the odd field's first
  libyuv::CopyPlane(s.GetBytes() + first * stride, 2 * stride, d.GetBytes() + first * stride,
                    2 * stride, stride, (s.DIBHeight() - first + 1) / 2);
  return true;
}
#endif

}  // namespace

void AddFields(Operations& ops, const Geometry& g) {
  const double n = static_cast<double>(g.Bytes());
  // Field 1 rows are read once (their neighbours come from the cache); every
  // row is written. The even field of an even height is stored field 1.
  Operation op{
      "interpolated frame",
      g,
      g,
      n / 2,
      n,
      [](CRZDIB2& d, const CRZDIB2& s) { return static_cast<BenchDib&>(d)._GetEvenFrame(s, 0, 1); },
      {}};
#if defined(KOLVEX_HAVE_LIBYUV)
  op.peers.push_back({"libyuv copy + InterpolatePlane 128", LibyuvFrame, true});
#endif
  ops.push_back(op);
  ops.push_back(AsCalled(op, "CreateInterpolatedFrame", [](CRZDIB2& d, const CRZDIB2& s) {
    return d.CreateInterpolatedFrame(s, 0, 1);
  }));

  op = {"copy field",
        g,
        g,
        n / 2,
        n / 2,
        [](CRZDIB2& d, const CRZDIB2& s) { return d.CopyField(s, 1); },
        {}};
#if defined(KOLVEX_HAVE_LIBYUV)
  op.peers.push_back({"libyuv CopyPlane on field", LibyuvOddField, true});
#endif
  ops.push_back(op);
  // Into a new frame: its other field reads zero, as the peer's fresh buffer.
  ops.push_back(AsCalled(op, "Create+CopyField", [](CRZDIB2& d, const CRZDIB2& s) {
    return d.Create(s) && d.CopyField(s, 1);
  }));
}

}  // namespace compare
