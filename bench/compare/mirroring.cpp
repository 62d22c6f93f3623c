// Mirroring: left to right, top to bottom, and both.
#include "peers.h"

namespace compare {
namespace {

#if defined(KOLVEX_HAVE_LIBYUV)
// libyuv's mirror; a negative height reads the source bottom up.
Run LibyuvMirror(int heightSign) {
  return [=](CRZDIB2& d, const CRZDIB2& s) {
    const auto mirror = s.DIBBitCount() == 32 ? libyuv::ARGBMirror : libyuv::RGB24Mirror;
    return mirror(s.GetBytes(), s.DIBBytesPerLine(), d.GetBytes(), d.DIBBytesPerLine(),
                  s.DIBWidth(), heightSign * s.DIBHeight()) == 0;
  };
}

// A copy of the rows in reverse order: libyuv's vertical flip.
bool LibyuvRowsReversed(CRZDIB2& d, const CRZDIB2& s) {
  libyuv::CopyPlane(s.GetBytes(), s.DIBBytesPerLine(), d.GetBytes(), d.DIBBytesPerLine(),
                    s.DIBWidth() * s.DIBBitCount() / 8, -s.DIBHeight());
  return true;
}
#endif

#if defined(KOLVEX_HAVE_OPENCV)
Run OpenCvFlip(int code) {
  return [=](CRZDIB2& d, const CRZDIB2& s) {
    cv::Mat out = View(d);
    cv::flip(View(s), out, code);
    return true;
  };
}
#endif

// Mirror(bHorizontal, bVertical) into a destination made beforehand, and as a
// client makes a new mirrored frame: Create, then Mirror.
void AddMirror(Operations& ops, const Geometry& g, const char* name, int bHorizontal, int bVertical,
               std::vector<Peer> peers) {
  const double n = static_cast<double>(g.Bytes());
  const Operation op{
      name,
      g,
      g,
      n,
      n,
      [=](CRZDIB2& d, const CRZDIB2& s) { return d.Mirror(bHorizontal, bVertical, s); },
      std::move(peers)};
  ops.push_back(op);
  const std::string call =
      "Create+Mirror(" + std::to_string(bHorizontal) + "," + std::to_string(bVertical) + ")";
  ops.push_back(AsCalled(op, call, [=](CRZDIB2& d, const CRZDIB2& s) {
    return d.Create(s) && d.Mirror(bHorizontal, bVertical, s);
  }));
}

}  // namespace

void AddMirroring(Operations& ops, const Geometry& g) {
  AddMirror(ops, g, "mirror horizontal", 1, 0, {
#if defined(KOLVEX_HAVE_LIBYUV)
    {"libyuv mirror", LibyuvMirror(1), true},
#endif
#if defined(KOLVEX_HAVE_OPENCV)
        {"OpenCV flip(1)", OpenCvFlip(1), true},
#endif
  });
  AddMirror(ops, g, "mirror both", 1, 1, {
#if defined(KOLVEX_HAVE_LIBYUV)
    {"libyuv mirror, rows reversed", LibyuvMirror(-1), true},
#endif
#if defined(KOLVEX_HAVE_OPENCV)
        {"OpenCV flip(-1)", OpenCvFlip(-1), true},
#endif
  });
  AddMirror(ops, g, "mirror vertical", 0, 1, {
#if defined(KOLVEX_HAVE_LIBYUV)
    {"libyuv copy, rows reversed", LibyuvRowsReversed, true},
#endif
#if defined(KOLVEX_HAVE_OPENCV)
        {"OpenCV flip(0)", OpenCvFlip(0), true},
#endif
  });
}

}  // namespace compare
