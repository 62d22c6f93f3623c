// The pixel filters: brightness (24 and 32 bits) and the 3x3 median (8, 24
// and 32 bits).
#include "peers.h"

#include <algorithm>
#include <map>
#include <utility>

namespace compare {
namespace {

// Brightness alternates between brightening and darkening by the same step,
// so that frames filtered over and over keep their spread of values instead
// of settling at a clamp. Each run (ours, each peer's) alternates on its own;
// the agreement check calls each once, at the first level.
constexpr int kBrightnessLevels[2] = {100, 156};

// `apply(dib, level index)` alternating between the two levels.
template <class Apply>
Run Alternating(Apply apply) {
  return [apply, next = 0](CRZDIB2& d, const CRZDIB2&) mutable {
    const bool ok = apply(d, next);
    next ^= 1;
    return ok;
  };
}

#if defined(KOLVEX_HAVE_LIBYUV) || defined(KOLVEX_HAVE_OPENCV)
// Our table of a level, which the peers look up.
std::vector<BYTE> BrightnessTable(int level) {
  std::vector<BYTE> t(256);
  const int offset = std::clamp(level - 128, -128, 127);
  for (int v = 0; v < 256; ++v) t[v] = static_cast<BYTE>(std::clamp(v - offset, 0, 255));
  return t;
}
#endif

#if defined(KOLVEX_HAVE_LIBYUV)
// The tables of both levels in libyuv's layouts: 256 ARGB entries (alpha
// mapped to itself, or like the colours when the bytes are not pixels), and
// the 128 luma rows of 256 entries, all ours.
struct YuvTables {
  std::vector<BYTE> argb[2];
  std::vector<BYTE> bytes[2];
  std::vector<BYTE> luma[2];
};

const YuvTables& YuvBrightnessTables() {
  static const YuvTables tables = [] {
    YuvTables t;
    for (int k = 0; k < 2; ++k) {
      const std::vector<BYTE> map = BrightnessTable(kBrightnessLevels[k]);
      for (int v = 0; v < 256; ++v) {
        for (int c = 0; c < 4; ++c) {
          t.argb[k].push_back(c == 3 ? static_cast<BYTE>(v) : map[v]);
          t.bytes[k].push_back(map[v]);
        }
      }
      for (int y = 0; y < 128; ++y) t.luma[k].insert(t.luma[k].end(), map.begin(), map.end());
    }
    return t;
  }();
  return tables;
}

void AddLibyuvBrightness(std::vector<Peer>& peers, const Geometry& g) {
  if (g.bits == 32) {
    peers.push_back({"libyuv RGBColorTable", Alternating([](CRZDIB2& d, int k) {
                       return libyuv::RGBColorTable(d.GetBytes(), d.DIBBytesPerLine(),
                                                    YuvBrightnessTables().argb[k].data(), 0, 0,
                                                    d.DIBWidth(), d.DIBHeight()) == 0;
                     }),
                     true});
    peers.push_back({"libyuv ARGBColorTable", Alternating([](CRZDIB2& d, int k) {
                       return libyuv::ARGBColorTable(d.GetBytes(), d.DIBBytesPerLine(),
                                                     YuvBrightnessTables().argb[k].data(), 0, 0,
                                                     d.DIBWidth(), d.DIBHeight()) == 0;
                     }),
                     true});
    peers.push_back({"libyuv ARGBLumaColorTable", Alternating([](CRZDIB2& d, int k) {
                       return libyuv::ARGBLumaColorTable(d.GetBytes(), d.DIBBytesPerLine(),
                                                         d.GetBytes(), d.DIBBytesPerLine(),
                                                         YuvBrightnessTables().luma[k].data(),
                                                         d.DIBWidth(), d.DIBHeight()) == 0;
                     }),
                     true});
  } else if (g.RowBytes() % 4 == 0) {
    // The 3-byte pixels of a row as 4-byte groups, every byte mapped alike.
    peers.push_back({"libyuv ARGBColorTable on bytes", Alternating([](CRZDIB2& d, int k) {
                       return libyuv::ARGBColorTable(d.GetBytes(), d.DIBBytesPerLine(),
                                                     YuvBrightnessTables().bytes[k].data(), 0, 0,
                                                     d.DIBWidth() * 3 / 4, d.DIBHeight()) == 0;
                     }),
                     true});
  }
}
#endif

#if defined(KOLVEX_HAVE_OPENCV)
// cv::LUT tables of both levels: one channel (applied to every byte) for 24
// bits, four with alpha mapped to itself for 32.
const cv::Mat& OpenCvBrightnessTable(int bits, int k) {
  static const auto tables = [] {
    std::map<std::pair<int, int>, cv::Mat> t;
    for (int level = 0; level < 2; ++level) {
      const std::vector<BYTE> map = BrightnessTable(kBrightnessLevels[level]);
      cv::Mat one(1, 256, CV_8UC1);
      cv::Mat four(1, 256, CV_8UC4);
      for (int v = 0; v < 256; ++v) {
        one.at<BYTE>(v) = map[v];
        four.at<cv::Vec4b>(v) = cv::Vec4b(map[v], map[v], map[v], static_cast<BYTE>(v));
      }
      t[{24, level}] = one;
      t[{32, level}] = four;
    }
    return t;
  }();
  return tables.at({bits, k});
}
#endif

// In place on the target: the call a client makes, kernel and as called alike.
Operation Brightness(const Geometry& g) {
  const double n = static_cast<double>(g.Bytes());
  Operation op{
      "brightness",
      g,
      g,
      n,
      n,
      Alternating([](CRZDIB2& d, int k) { return d.AdjustBrightness(kBrightnessLevels[k]); }),
      {}};
  op.inPlace = true;
#if defined(KOLVEX_HAVE_LIBYUV)
  AddLibyuvBrightness(op.peers, g);
#endif
#if defined(KOLVEX_HAVE_OPENCV)
  op.peers.push_back({"OpenCV LUT", Alternating([](CRZDIB2& d, int k) {
                        cv::Mat m = View(d);
                        cv::LUT(m, OpenCvBrightnessTable(d.DIBBitCount(), k), m);
                        return true;
                      }),
                      true});
#endif
  return op;
}

// OpenCV replicates the border pixels where ours are copied: the bytes agree
// one pixel in from every edge.
Operation Median(const Geometry& g) {
  const double n = static_cast<double>(g.Bytes());
  Operation op{
      "median 3x3", g, g, n, n, [](CRZDIB2& d, const CRZDIB2& s) { return d.Median3x3(s); }, {}, 1};
#if defined(KOLVEX_HAVE_OPENCV)
  op.peers.push_back({"OpenCV medianBlur 3",
                      [](CRZDIB2& d, const CRZDIB2& s) {
                        cv::Mat out = View(d);
                        cv::medianBlur(View(s), out, 3);
                        return true;
                      },
                      true});
#endif
  return op;
}

}  // namespace

void AddFilters(Operations& ops, const Geometry& g) {
  const bool withBrightness = g.bits != 8;  // the median alone takes 8-bit images
  const Operation median = Median(g);
  const Operation brightness = Brightness(g);
  ops.push_back(median);
  if (withBrightness) ops.push_back(brightness);
  // A client makes each filtered frame: Create, then the median into it.
  ops.push_back(AsCalled(median, "Create+Median3x3", [](CRZDIB2& d, const CRZDIB2& s) {
    return d.Create(s) && d.Median3x3(s);
  }));
  // Last: as called, it changes the frames the median reads.
  if (withBrightness) ops.push_back(AsCalled(brightness, "AdjustBrightness", brightness.ours));
}

}  // namespace compare
