#include <kolvex/core/fill_rows.h>

#include <cstring>

namespace kolvex::detail {

void FillRow32(BYTE* row, std::size_t pixels, DWORD value) {
  const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                         static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
  for (std::size_t x = 0; x < pixels; ++x) std::memcpy(row + 4 * x, bytes, 4);
}

void FillRow24(BYTE* row, std::size_t pixels, DWORD value) {
  const BYTE b = static_cast<BYTE>(value);
  const BYTE g = static_cast<BYTE>(value >> 8);
  const BYTE r = static_cast<BYTE>(value >> 16);
  for (std::size_t x = 0; x < pixels; ++x) {
    row[3 * x] = b;
    row[3 * x + 1] = g;
    row[3 * x + 2] = r;
  }
}

}  // namespace kolvex::detail
