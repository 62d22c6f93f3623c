#include "dib/draw_rows.h"

namespace kolvex::detail {

void ExtractAlphaRow(const BYTE* in, BYTE* out, std::size_t width) {
  for (std::size_t x = 0; x < width; ++x) out[x] = in[4 * x + 3];
}

}  // namespace kolvex::detail
