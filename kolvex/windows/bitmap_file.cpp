#include <kolvex/windows/bitmap_file.h>
#include <kolvex/windows/bmp_format.h>

namespace kolvex {

const char* BitmapFileProblem(const void* data, std::size_t size) {
  detail::BitmapPlan plan;
  return detail::ParseBitmap(static_cast<const BYTE*>(data), size, detail::BitmapSource::File,
                             plan);
}

}  // namespace kolvex
