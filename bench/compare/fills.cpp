// Fills: ClearDIB with a pixel and with a byte.
#include "peers.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace compare {
namespace {

constexpr UINT kPixel = 0x80402010u;
constexpr int kByte = 0x5A;

Operation ClearPixel(const Geometry& g) {
  Operation op{"ClearDIB(UINT)", g, g, 0, static_cast<double>(g.Bytes()),
               [](BenchDib& d, const BenchDib&) {
                 d.ClearDIB(kPixel);
                 return true;
               },
               {}};
  op.inPlace = true;
  if (g.bits == 32) {
    op.peers.push_back({"std::fill", [](BenchDib& d, const BenchDib&) {
                          auto* p = reinterpret_cast<std::uint32_t*>(d.GetBytes());
                          std::fill(p, p + d.DIBSize() / 4, kPixel);
                          return true;
                        }, true});
#if defined(KOLVEX_HAVE_LIBYUV)
    op.peers.push_back({"libyuv ARGBRect", [](BenchDib& d, const BenchDib&) {
                          return libyuv::ARGBRect(d.GetBytes(), d.DIBBytesPerLine(), 0, 0,
                                                  d.DIBWidth(), d.DIBHeight(), kPixel) == 0;
                        }, true});
#endif
  }
#if defined(KOLVEX_HAVE_OPENCV)
  op.peers.push_back({"OpenCV setTo", [](BenchDib& d, const BenchDib&) {
                        View(d).setTo(cv::Scalar(kPixel & 0xFF, (kPixel >> 8) & 0xFF,
                                                 (kPixel >> 16) & 0xFF, kPixel >> 24));
                        return true;
                      }, true});
#endif
  return op;
}

Operation ClearByte(const Geometry& g) {
  Operation op{"ClearDIB(int)", g, g, 0, static_cast<double>(g.Bytes()),
               [](BenchDib& d, const BenchDib&) {
                 d.ClearDIB(kByte);
                 return true;
               },
               {{"memset", [](BenchDib& d, const BenchDib&) {
                   std::memset(d.GetBytes(), kByte, static_cast<std::size_t>(d.DIBSize()));
                   return true;
                 }, true}}};
  op.inPlace = true;
  return op;
}

}  // namespace

void AddFills(Operations& ops, const Geometry& g) {
  ops.push_back(ClearPixel(g));
  ops.push_back(ClearByte(g));
}

}  // namespace compare
