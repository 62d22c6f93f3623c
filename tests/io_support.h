// Helpers of the capture, resource, file and drawing suites.
#pragma once

#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace kt {

// What SaveAs (or, with `alpha`, kolvex::SaveWithAlpha) writes into a fresh memory file.
inline std::vector<BYTE> SaveToMemory(CRZDIB2& dib, bool alpha = false) {
  CMemFile file;
  EXPECT_TRUE(alpha ? kolvex::SaveWithAlpha(dib, file) : dib.SaveAs(file));
  const auto size = static_cast<std::size_t>(file.GetLength());
  BYTE* bytes = file.Detach();
  std::vector<BYTE> out(bytes, bytes + size);
  std::free(bytes);
  return out;
}

inline std::uint32_t Get32(const std::vector<BYTE>& v, std::size_t at) {
  return v[at] | v[at + 1] << 8 | v[at + 2] << 16 | static_cast<std::uint32_t>(v[at + 3]) << 24;
}

// The colour (0xRRGGBB) drawing shows for pixel (x, y from the top): grey for 8
// bits; at 1 and 4 bits the colour-table entry that follows the header's first
// 40 bytes, where the platform reads it behind a plain header.
inline std::uint32_t Shown(const CRZDIBBase2& dib, int x, int y) {
  const BYTE* row =
      dib.GetBytes() + static_cast<std::ptrdiff_t>(dib.DIBHeight() - 1 - y) * dib.DIBBytesPerLine();
  const int bits = dib.DIBBitCount();
  if (bits == 8) return row[x] * 0x010101u;
  const BYTE* p = row + static_cast<std::ptrdiff_t>(x) * bits / 8;
  if (bits < 8) {
    const int index = *p >> (8 - bits - x * bits % 8) & ((1 << bits) - 1);
    p = reinterpret_cast<const BYTE*>(dib.GetRzBmiHeader()) + 40 + 4 * index;
  }
  return static_cast<std::uint32_t>(p[2]) << 16 | p[1] << 8 | p[0];
}

// The colour a blit shows for pixel (x, y): an 8-bit DIB section's own colour table, else Shown.
inline std::uint32_t ShownByBlit(const CRZDIB2& dib, int x, int y) {
  if (!dib.IsDIBSection() || dib.DIBBitCount() != 8) return Shown(dib, x, y);
  RGBQUAD entry{};
  const BYTE index = static_cast<BYTE>(Shown(dib, x, y) & 0xFF);
  EXPECT_EQ(GetDIBColorTable(dib.GetDIBSectionDC()->GetSafeHdc(), index, 1, &entry), 1u);
  return static_cast<std::uint32_t>(entry.rgbRed) << 16 | entry.rgbGreen << 8 | entry.rgbBlue;
}

// Runs call() with the library's n-th and later allocations failing, n = 0, 1, ... until it
// succeeds, and check(n, result) after each with the injection off; success at n = 0 is a fault.
template <class Call, class Check>
void FailEachAllocationInTurn(Call call, Check check) {
  for (int n = 0; n < 32; ++n) {
    bool ok = false;
    {
      FailAllocations fail(n);
      ok = call();
    }
    check(n, ok);
    if (ok) {
      EXPECT_GT(n, 0) << "succeeded without allocating";
      return;
    }
  }
  ADD_FAILURE() << "still failing after 32 allocations";
}

// A path for a scratch file (holding `bytes`), removed again with the object.
class TempFile {
 public:
  explicit TempFile(const std::vector<BYTE>& bytes = {}) {
    path_ = ScratchPath("io").string();
    std::ofstream file(path_, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(file.good()) << path_;
  }
  ~TempFile() { std::remove(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

// A client's CDC on a device bitmap of its own.
struct ClientDc {
  DeviceBitmap surface;
  CDC cdc;
  int w, h;
  ClientDc(int width, int height) : surface(width, height), w(width), h(height) {
    cdc.Attach(surface.dc);
  }
  ~ClientDc() { cdc.Detach(); }  // the surface deletes its own DC
  Pixels32 Read() const {
    Pixels32 p = ReadBack(surface.dc, surface.bm, w, h);
    for (auto& v : p) v &= 0xFFFFFF;
    return p;
  }
};

// A small virtual screen, the default one put back after (on Windows the real one, sized by
// GetSystemMetrics).
class SmallScreen : public NoLeaks {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kolvex::platform::SetVirtualScreenSize(64, 48) ||
                !kolvex::platform::IsVirtualScreen());
    NoLeaks::SetUp();
  }
  void TearDown() override {
    NoLeaks::TearDown();
    kolvex::platform::SetVirtualScreenSize(1920, 1080);
  }
};

}  // namespace kt
