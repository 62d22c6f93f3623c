// 4:2:0 frames through libyuv's converters, straight between the frame's
// planes and the bitmap's rows: the bitmap is stored bottom-up, so its top row
// is the last stored one and the rows are walked with a negative stride.

#include "yuv.h"

#include <libyuv.h>

#include <cstddef>
#include <vector>

namespace kolvex::cli {

namespace {

// A 4:2:0 frame's planes in `raw`, for the frame of `dib`'s size.
template <class Byte>
struct Planes {
  Planes(Byte* raw, const CRZDIB2& dib)
      : width(dib.DIBWidth()),
        height(dib.DIBHeight()),
        chromaWidth((width + 1) / 2),
        chromaHeight((height + 1) / 2),
        y(raw),
        u(raw + static_cast<std::size_t>(width) * static_cast<std::size_t>(height)),
        v(u + ChromaBytes()) {}

  std::size_t ChromaBytes() const {
    return static_cast<std::size_t>(chromaWidth) * static_cast<std::size_t>(chromaHeight);
  }

  int width, height, chromaWidth, chromaHeight;
  Byte* y;
  Byte* u;  // nv12: U and V interleaved, two bytes a sample
  Byte* v;  // yuv420p only
};

// The top row of the bitmap, and the step from one row to the one below it.
BYTE* TopRow(const CRZDIB2& dib) {
  return dib.GetBytes() + static_cast<std::ptrdiff_t>(dib.DIBHeight() - 1) * dib.DIBBytesPerLine();
}
int Downwards(const CRZDIB2& dib) { return -static_cast<int>(dib.DIBBytesPerLine()); }

}  // namespace

const char* YuvMissing() { return nullptr; }

// libyuv detects the processor on its first conversion and keeps the answer
// in a global: detected here, on one thread, the frames' threads only read it.
void PrepareYuv() { libyuv::InitCpuFlags(); }

void YuvToRows(RawLayout layout, const BYTE* raw, CRZDIB2& dib) {
  const Planes<const BYTE> p(raw, dib);
  if (layout == RawLayout::kSemiPlanar420) {
    libyuv::NV12ToRGB24(p.y, p.width, p.u, 2 * p.chromaWidth, TopRow(dib), Downwards(dib), p.width,
                        p.height);
  } else {
    libyuv::I420ToRGB24(p.y, p.width, p.u, p.chromaWidth, p.v, p.chromaWidth, TopRow(dib),
                        Downwards(dib), p.width, p.height);
  }
}

void RowsToYuv(RawLayout layout, const CRZDIB2& dib, BYTE* raw) {
  const Planes<BYTE> p(raw, dib);
  if (layout == RawLayout::kPlanar420) {
    libyuv::RGB24ToI420(TopRow(dib), Downwards(dib), p.y, p.width, p.u, p.chromaWidth, p.v,
                        p.chromaWidth, p.width, p.height);
    return;
  }
  // libyuv makes nv12 from BGR only through the separate planes: they are
  // made in memory of the thread's own, then interleaved into the frame.
  thread_local std::vector<BYTE> separate;
  separate.resize(2 * p.ChromaBytes());
  BYTE* u = separate.data();
  BYTE* v = u + p.ChromaBytes();
  libyuv::RGB24ToI420(TopRow(dib), Downwards(dib), p.y, p.width, u, p.chromaWidth, v, p.chromaWidth,
                      p.width, p.height);
  libyuv::MergeUVPlane(u, p.chromaWidth, v, p.chromaWidth, p.u, 2 * p.chromaWidth, p.chromaWidth,
                       p.chromaHeight);
}

}  // namespace kolvex::cli
