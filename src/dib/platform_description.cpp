#include "dib/platform_description.h"

#include "base/bitmap_format.h"

#include <algorithm>
#include <cstring>

namespace kolvex::detail {
namespace {

constexpr std::uint64_t kMaxEntries = 256;

}  // namespace

std::size_t PlatformTableBytes(const BITMAPINFOHEADER& head) {
  const std::size_t masks = head.biCompression == BI_BITFIELDS ? kColourMaskBytes : 0;
  const std::uint64_t entries =
      std::min(ColourTableEntries(head.biBitCount, head.biClrUsed), kMaxEntries);
  return masks + static_cast<std::size_t>(entries) * kColourEntryBytes;
}

PlatformDescription::PlatformDescription(const BITMAPINFOHEADER& header) {
  std::memcpy(bytes_, &header, sizeof header);
  Header()->biSize = sizeof(BITMAPINFOHEADER);
  std::memcpy(bytes_ + sizeof header, reinterpret_cast<const BYTE*>(&header) + sizeof header,
              PlatformTableBytes(header));
}

PlatformDescription::PlatformDescription(const BITMAPINFOHEADER& head, GreyRamp) {
  std::memcpy(bytes_, &head, sizeof head);
  Header()->biSize = sizeof(BITMAPINFOHEADER);
  FillGreyRamp(bytes_ + sizeof head, kMaxEntries, 8);
}

}  // namespace kolvex::detail
