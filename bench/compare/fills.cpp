// Fills and copies: ClearDIB with a pixel and with a byte, and the
// copy-before-write of a shared frame beside a memcpy of the frame.
#include "peers.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace compare {
namespace {

constexpr UINT kPixel = 0x80402010u;
constexpr int kByte = 0x5A;

Operation ClearPixel(const Geometry& g) {
  Operation op{"ClearDIB(UINT)",
               g,
               g,
               0,
               static_cast<double>(g.Bytes()),
               [](CRZDIB2& d, const CRZDIB2&) {
                 d.ClearDIB(kPixel);
                 return true;
               },
               {}};
  op.inPlace = true;
  if (g.bits == 32) {
    op.peers.push_back({"std::fill",
                        [](CRZDIB2& d, const CRZDIB2&) {
                          auto* p = reinterpret_cast<std::uint32_t*>(d.GetBytes());
                          std::fill(p, p + d.DIBSize() / 4, kPixel);
                          return true;
                        },
                        true});
#if defined(KOLVEX_HAVE_LIBYUV)
    op.peers.push_back({"libyuv ARGBRect",
                        [](CRZDIB2& d, const CRZDIB2&) {
                          return libyuv::ARGBRect(d.GetBytes(), d.DIBBytesPerLine(), 0, 0,
                                                  d.DIBWidth(), d.DIBHeight(), kPixel) == 0;
                        },
                        true});
#endif
  }
#if defined(KOLVEX_HAVE_OPENCV)
  op.peers.push_back({"OpenCV setTo",
                      [](CRZDIB2& d, const CRZDIB2&) {
                        View(d).setTo(cv::Scalar(kPixel & 0xFF, (kPixel >> 8) & 0xFF,
                                                 (kPixel >> 16) & 0xFF, kPixel >> 24));
                        return true;
                      },
                      true});
#endif
  return op;
}

Operation ClearByte(const Geometry& g) {
  Operation op{"ClearDIB(int)",
               g,
               g,
               0,
               static_cast<double>(g.Bytes()),
               [](CRZDIB2& d, const CRZDIB2&) {
                 d.ClearDIB(kByte);
                 return true;
               },
               {{"memset",
                 [](CRZDIB2& d, const CRZDIB2&) {
                   std::memset(d.GetBytes(), kByte, static_cast<std::size_t>(d.DIBSize()));
                   return true;
                 },
                 true}}};
  op.inPlace = true;
  return op;
}

// A client shares a frame (assignment) and writes a header word on its copy:
// the write first gives the copy pixels of its own. Only as called.
Operation CopyBeforeWrite(const Geometry& g) {
  const double n = static_cast<double>(g.Bytes());
  Operation op{"copy-before-write",
               g,
               g,
               n,
               n,
               [](CRZDIB2& d, const CRZDIB2& s) {
                 static_cast<CRZDIB2&>(d) = s;
                 d.SetInterlacedFlag(s.GetInterlacedFlag());
                 return d.GetBytes() != s.GetBytes();  // a copy of its own
               },
               {{"memcpy into a buffer",
                 [](CRZDIB2& d, const CRZDIB2& s) {
                   std::memcpy(d.GetBytes(), s.GetBytes(), static_cast<std::size_t>(s.DIBSize()));
                   return true;
                 },
                 true}}};
  op.section = Section::AsCalled;
  return op;
}

}  // namespace

void AddFills(Operations& ops, const Geometry& g) {
  const Operation pixel = ClearPixel(g);
  const Operation byte = ClearByte(g);
  ops.push_back(pixel);
  ops.push_back(byte);
  // The copy-before-write reads the frames before the fills as called
  // overwrite them.
  ops.push_back(CopyBeforeWrite(g));
  ops.push_back(AsCalled(pixel, pixel.name, pixel.ours));
  ops.push_back(AsCalled(byte, byte.name, byte.ours));
}

}  // namespace compare
