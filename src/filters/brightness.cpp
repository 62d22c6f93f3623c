// The brightness driver: one lookup table per call, one kernel call per
// stored row.

#include "filters/filter_drivers.h"
#include "filters/filter_rows.h"

namespace kolvex::detail {

bool AdjustBrightness(const ImageRows& image, int level) {
  const BrightnessRowFn mapRow = SelectBrightnessRow(image.bitCount);
  if (mapRow == nullptr) return false;
  BrightnessTable table;
  BuildBrightnessTable(level, table);
  const auto width = static_cast<std::size_t>(image.width);
  BYTE* row = image.bytes;
  for (std::size_t y = 0; y < image.rows; ++y, row += image.stride) mapRow(table, row, width);
  return true;
}

}  // namespace kolvex::detail
