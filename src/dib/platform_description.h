// Internal: what a GDI or DrawDib call is handed in place of a bitmap's
// extended header.
//
// The extended header lies in the shared data block, where every sharer (on
// any thread) reads it, and its biSize says 144. The platform reads a plain
// 40-byte header followed by the colour table or bit-field masks that the
// header's format calls for. So every platform call gets a private copy of
// those bytes with biSize 40, and the shared header is only read.
#pragma once

#include <kolvex/platform/win32.h>

#include <cstddef>

namespace kolvex::detail {

// Bytes that the platform reads behind a 40-byte header of this format: the
// three masks of BI_BITFIELDS, then the colour table (biClrUsed entries, or
// all 2^n of an indexed depth), at most 256 entries.
std::size_t PlatformTableBytes(const BITMAPINFOHEADER& head);

class PlatformDescription {
 public:
  // The first 40 bytes of `header` with biSize 40, followed by the
  // PlatformTableBytes(header) bytes that lie behind those 40 in the
  // header's storage, as the platform would read them there.
  explicit PlatformDescription(const BITMAPINFOHEADER& header);
  // `head` with biSize 40, followed by 256 entries of the grey ramp (8-bit
  // pixels shown as levels of grey).
  struct GreyRamp {};
  PlatformDescription(const BITMAPINFOHEADER& head, GreyRamp);

  BITMAPINFOHEADER* Header() { return reinterpret_cast<BITMAPINFOHEADER*>(bytes_); }
  BITMAPINFO* Info() { return reinterpret_cast<BITMAPINFO*>(bytes_); }

 private:
  static constexpr std::size_t kMaxTableBytes = 3 * sizeof(DWORD) + 256 * sizeof(RGBQUAD);
  alignas(BITMAPINFOHEADER) BYTE bytes_[sizeof(BITMAPINFOHEADER) + kMaxTableBytes];
};

}  // namespace kolvex::detail
