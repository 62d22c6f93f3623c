// Nearest-neighbour scaling to two thirds of the width and height, its
// per-call tables included (the peers have none to make).
#include "peers.h"

namespace compare {

void AddScaling(Operations& ops, const Geometry& g) {
  const Geometry scaled{g.width * 2 / 3, g.height * 2 / 3, g.bits};
  // Two of every three source rows are read.
  Operation op{"scale to 2/3",
               g,
               scaled,
               static_cast<double>(g.Bytes()) * 2 / 3,
               static_cast<double>(scaled.Bytes()),
               [](CRZDIB2& d, const CRZDIB2& s) { return d.Scale(s, d.DIBWidth(), d.DIBHeight()); },
               {}};
#if defined(KOLVEX_HAVE_LIBYUV)
  op.peers.push_back({"libyuv nearest", LibyuvScale(libyuv::kFilterNone), false});
#endif
#if defined(KOLVEX_HAVE_OPENCV)
  op.peers.push_back({"OpenCV INTER_NEAREST_EXACT", OpenCvResize(cv::INTER_NEAREST_EXACT), false});
#endif
  ops.push_back(op);
  ops.push_back(AsCalled(op, "CreateScaled 2/3", [scaled](CRZDIB2& d, const CRZDIB2& s) {
    return d.CreateScaled(s, scaled.width, scaled.height);
  }));
}

}  // namespace compare
