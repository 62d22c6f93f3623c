#include "pixels.h"

#include <cstring>

namespace kolvex::cli {

namespace {

BYTE* Row(const CRZDIB2& dib, int stored) {
  return dib.GetBytes() + static_cast<std::ptrdiff_t>(stored) * dib.DIBBytesPerLine();
}

std::size_t RawRowBytes(const CRZDIB2& dib) {
  return static_cast<std::size_t>(dib.DIBWidth()) * static_cast<std::size_t>(dib.DIBBitCount() / 8);
}

}  // namespace

void GreyToBgrRow(const BYTE* in, BYTE* out, std::size_t n) {
  for (std::size_t x = 0; x < n; ++x, out += 3) out[0] = out[1] = out[2] = in[x];
}

void BgrToGreyRow(const BYTE* in, BYTE* out, std::size_t n) {
  for (std::size_t x = 0; x < n; ++x, in += 3) out[x] = in[0];
}

bool WidenGrey(const CRZDIB2& grey, CRZDIB2& colour) {
  if (!colour.Create(24, grey.DIBWidth(), grey.DIBHeight(), grey.GetInterlacedFlag())) return false;
  const auto width = static_cast<std::size_t>(grey.DIBWidth());
  for (int y = 0; y < grey.DIBHeight(); ++y) GreyToBgrRow(Row(grey, y), Row(colour, y), width);
  return true;
}

bool NarrowToGrey(const CRZDIB2& colour, CRZDIB2& grey) {
  if (!grey.Create(8, colour.DIBWidth(), colour.DIBHeight(), colour.GetInterlacedFlag()))
    return false;
  const auto width = static_cast<std::size_t>(colour.DIBWidth());
  for (int y = 0; y < colour.DIBHeight(); ++y) BgrToGreyRow(Row(colour, y), Row(grey, y), width);
  return true;
}

void RawToRows(const BYTE* raw, CRZDIB2& dib) {
  const std::size_t row = RawRowBytes(dib);
  const int height = dib.DIBHeight();
  for (int y = 0; y < height; ++y, raw += row) std::memcpy(Row(dib, height - 1 - y), raw, row);
}

void RowsToRaw(const CRZDIB2& dib, BYTE* raw) {
  const std::size_t row = RawRowBytes(dib);
  const int height = dib.DIBHeight();
  for (int y = 0; y < height; ++y, raw += row) std::memcpy(raw, Row(dib, height - 1 - y), row);
}

}  // namespace kolvex::cli
