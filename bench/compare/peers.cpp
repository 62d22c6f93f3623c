#include "peers.h"

namespace compare {

void UseDefaultThreads(bool defaults) {
  kolvex::SetThreads(defaults ? 0 : 1);
#if defined(KOLVEX_HAVE_OPENCV)
  cv::setNumThreads(defaults ? -1 : 1);
#endif
}

#if defined(KOLVEX_HAVE_LIBYUV)
Run LibyuvScale(libyuv::FilterMode filter, int rowStep, int firstRow) {
  return [=](CRZDIB2& dst, const CRZDIB2& src) {
    const int stride = src.DIBBytesPerLine();
    const int rows = (src.DIBHeight() - firstRow + rowStep - 1) / rowStep;
    const auto scale = src.DIBBitCount() == 32 ? libyuv::ARGBScale : libyuv::RGBScale;
    return scale(src.GetBytes() + firstRow * stride, stride * rowStep, src.DIBWidth(), rows,
                 dst.GetBytes(), dst.DIBBytesPerLine(), dst.DIBWidth(), dst.DIBHeight(),
                 filter) == 0;
  };
}
#endif

#if defined(KOLVEX_HAVE_OPENCV)
cv::Mat View(const CRZDIB2& dib, int rowStep, int firstRow) {
  const int type = CV_8UC(dib.DIBBitCount() / 8);
  const auto stride = static_cast<std::size_t>(dib.DIBBytesPerLine());
  return cv::Mat((dib.DIBHeight() - firstRow + rowStep - 1) / rowStep, dib.DIBWidth(), type,
                 dib.GetBytes() + firstRow * stride, stride * rowStep);
}

Run OpenCvResize(int interpolation, int rowStep, int firstRow) {
  return [=](CRZDIB2& dst, const CRZDIB2& src) {
    cv::Mat out = View(dst);
    cv::resize(View(src, rowStep, firstRow), out, out.size(), 0, 0, interpolation);
    return true;
  };
}
#endif

}  // namespace compare
