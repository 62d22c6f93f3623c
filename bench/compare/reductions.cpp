// Quarter and eighth reductions: the box of every row, and field 1 alone.
#include "peers.h"

namespace compare {
namespace {

// Our worker into a destination made beforehand; nField 1 averages field 1.
Run QuarterWorker(int nField) {
  return [=](CRZDIB2& d, const CRZDIB2& s) {
    return static_cast<BenchDib&>(d)._GetQuarterDIB(s, nField);
  };
}
Run EighthWorker(int nField) {
  return [=](CRZDIB2& d, const CRZDIB2& s) {
    return static_cast<BenchDib&>(d)._GetEighthDIB(s, nField);
  };
}

// The box of a whole frame by each peer; OpenCV's area average is ours
// exactly at one half (`areaExact`), libyuv's box rounds its own way.
std::vector<Peer> BoxPeers([[maybe_unused]] bool areaExact) {
  std::vector<Peer> peers;
#if defined(KOLVEX_HAVE_LIBYUV)
  peers.push_back({"libyuv box", LibyuvScale(libyuv::kFilterBox), false});
#endif
#if defined(KOLVEX_HAVE_OPENCV)
  peers.push_back({"OpenCV INTER_AREA", OpenCvResize(cv::INTER_AREA), areaExact});
#endif
  return peers;
}

// The box of field 1 (stored rows 1, 3, ...) by each peer; none of them
// averages the two rows of a field pair as we do.
std::vector<Peer> FieldPeers([[maybe_unused]] bool withOpenCv) {
  std::vector<Peer> peers;
#if defined(KOLVEX_HAVE_LIBYUV)
  peers.push_back({"libyuv box on field", LibyuvScale(libyuv::kFilterBox, 2, 1), false});
#endif
#if defined(KOLVEX_HAVE_OPENCV)
  if (withOpenCv) {
    peers.push_back({"OpenCV INTER_AREA on field", OpenCvResize(cv::INTER_AREA, 2, 1), false});
  }
#endif
  return peers;
}

// A kernel operation and the same as called. The public calls read the
// source's interlaced flag: 1 (progressive) gives the box, 0 the field.
void AddPair(Operations& ops, Operation kernel, const char* call,
             bool (CRZDIBBase2::*create)(const CRZDIBBase2&), DWORD sourceFlag) {
  ops.push_back(kernel);
  ops.push_back(AsCalled(
      kernel, call, [create](CRZDIB2& d, const CRZDIB2& s) { return (d.*create)(s); }, sourceFlag));
}

}  // namespace

void AddReductions(Operations& ops, const Geometry& g) {
  const double n = static_cast<double>(g.Bytes());
  const Geometry half{g.width / 2, g.height / 2, g.bits};
  const Geometry quarter{g.width / 4, g.height / 4, g.bits};
  const auto halfBytes = static_cast<double>(half.Bytes());
  const auto quarterBytes = static_cast<double>(quarter.Bytes());
  const auto quarterCall = &CRZDIBBase2::CreateQuarter;
  const auto eighthCall = &CRZDIBBase2::CreateEighth;

  AddPair(ops, {"quarter box", g, half, n, halfBytes, QuarterWorker(0), BoxPeers(true)},
          "CreateQuarter", quarterCall, kolvex::kProgressiveFrame);
  AddPair(ops, {"quarter field", g, half, n / 2, halfBytes, QuarterWorker(1), FieldPeers(true)},
          "CreateQuarter field", quarterCall, kolvex::kInterlacedFrame);
  AddPair(ops, {"eighth box", g, quarter, n, quarterBytes, EighthWorker(0), BoxPeers(false)},
          "CreateEighth", eighthCall, kolvex::kProgressiveFrame);
  AddPair(ops,
          {"eighth field", g, quarter, n / 2, quarterBytes, EighthWorker(1), FieldPeers(false)},
          "CreateEighth field", eighthCall, kolvex::kInterlacedFrame);
}

}  // namespace compare
