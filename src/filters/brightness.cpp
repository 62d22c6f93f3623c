// The brightness driver: one lookup table per call, one kernel call per
// stored row.

#include "core/bands.h"
#include "filters/filter_drivers.h"
#include "filters/filter_rows.h"

namespace kolvex::detail {

bool AdjustBrightness(const ImageRows& image, int level) {
  const BrightnessRowFn mapRow = SelectBrightnessRow(image.bitCount);
  if (mapRow == nullptr) return false;
  BrightnessTable table;
  BuildBrightnessTable(level, table);
  const auto width = static_cast<std::size_t>(image.width);
  ForEachBand(image.rows, 2 * image.image, [&](std::size_t first, std::size_t end) {
    for (std::size_t y = first; y < end; ++y) mapRow(table, image.bytes + y * image.stride, width);
  });
  return true;
}

}  // namespace kolvex::detail
