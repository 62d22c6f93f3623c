// The Linux stand-in on its own: blits against the documented sampling rule,
// GetDIBits, DIB sections, handle lifetimes, its resource table and its lock.
// On Windows these calls are the system's own, so this suite is built for
// Linux only. (StretchDIBits, DrawDib and the virtual screen are checked
// through the library's drawing and capture, pixel by pixel.)

#include "test_support.h"

#include <algorithm>
#include <cstring>

namespace {

using kt::DeviceBitmap;
using kt::Info;
using kt::Pixels32;
using kt::ReadBack;

// Every test must release every GDI object it made.
using Platform = kt::NoLeaks;

// A DIB section selected into its own memory DC; released in reverse order.
struct Section {
  HDC dc = nullptr;
  HBITMAP bm = nullptr;
  HGDIOBJ old = nullptr;
  BYTE* bits = nullptr;
  Section(LONG w, LONG h, WORD bitCount) {
    BITMAPINFO bmi = Info(w, h, bitCount);
    bm = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    dc = CreateCompatibleDC(nullptr);
    old = SelectObject(dc, bm);
  }
  ~Section() {
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bm);
  }
  std::uint32_t* Words() const { return reinterpret_cast<std::uint32_t*>(bits); }
};

// The documented rule rendered pixel by pixel: for every destination pixel
// inside the extent, index i along it (counted from the origin, backwards for a
// negative extent) samples source index floor((2i+1)*S/(2D)). A zero extent
// draws nothing.
void ReferenceStretch(Pixels32& dst, int dw, int dh, const int d[4], const Pixels32& src, int sw,
                      int sh, const int s[4]) {
  if (d[2] == 0 || d[3] == 0 || s[2] == 0 || s[3] == 0) return;
  auto index = [](long long c, long long origin, long long extent) {
    return extent > 0 ? c - origin : origin - 1 - c;
  };
  auto sample = [](long long i, long long origin, long long dExt, long long sExt) {
    const long long j = (2 * i + 1) * std::llabs(sExt) / (2 * std::llabs(dExt));
    return sExt > 0 ? origin + j : origin - 1 - j;
  };
  for (int y = 0; y < dh; ++y) {
    for (int x = 0; x < dw; ++x) {
      const long long i = index(x, d[0], d[2]);
      const long long k = index(y, d[1], d[3]);
      if (i < 0 || i >= std::llabs(d[2]) || k < 0 || k >= std::llabs(d[3])) continue;
      const long long sx = sample(i, s[0], d[2], s[2]);
      const long long sy = sample(k, s[1], d[3], s[3]);
      if (sx < 0 || sx >= sw || sy < 0 || sy >= sh) continue;
      dst[static_cast<std::size_t>(y * dw + x)] = src[static_cast<std::size_t>(sy * sw + sx)];
    }
  }
}

// Blits between 24- and 32-bit surfaces against the rule, mirrored, clipped
// and (one round in three) stretched: the fourth byte carried between 32-bit
// surfaces and 0 from 24 bits, padding untouched; equal extents copy runs,
// and source widths meet every remainder of their four-pixel steps.
TEST_F(Platform, BlitsBetween24And32BitsMatchTheReference) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> origin(-4, 12), extent(-15, 15);
  auto pixel = [](const Section& s, WORD bits, int w, int i) {
    return s.bits + i / w * kt::Stride(bits, w) + i % w * bits / 8;
  };
  auto words = [&](const Section& s, WORD bits, int w, int h) {
    Pixels32 out;
    for (int i = 0; i < w * h; ++i) {
      const BYTE* p = pixel(s, bits, w, i);
      out.push_back(p[0] | p[1] << 8 | p[2] << 16 | (bits == 32 ? std::uint32_t{p[3]} << 24 : 0));
    }
    return out;
  };
  for (int round = 0; round < 600; ++round) {
    const WORD from = round % 2 ? 24 : 32, to = round / 2 % 2 ? 24 : 32;
    const int sw = 5 + round / 4 % 8, sh = 4, dw = 13, dh = 5, w = extent(rng), h = extent(rng);
    Section src(sw, -sh, from), dst(dw, -dh, to);
    std::generate_n(src.bits, kt::Stride(from, sw) * sh, rng);
    std::generate_n(dst.bits, kt::Stride(to, dw) * dh, rng);
    Pixels32 expected = words(dst, to, dw, dh);
    std::vector<BYTE> want(dst.bits, dst.bits + kt::Stride(to, dw) * dh);
    const bool stretch = round % 3 == 0;
    const int d[4] = {origin(rng), origin(rng), w, h};
    const int s[4] = {origin(rng), origin(rng), stretch ? extent(rng) : w, stretch ? extent(rng) : h};
    ReferenceStretch(expected, dw, dh, d, words(src, from, sw, sh), sw, sh, s);
    for (int i = 0; i < dw * dh; ++i)
      std::memcpy(want.data() + (pixel(dst, to, dw, i) - dst.bits), &expected[i], to / 8);
    ASSERT_TRUE(stretch ? StretchBlt(dst.dc, d[0], d[1], w, h, src.dc, s[0], s[1], s[2], s[3], SRCCOPY)
                        : BitBlt(dst.dc, d[0], d[1], w, h, src.dc, s[0], s[1], SRCCOPY));
    ASSERT_EQ(std::vector<BYTE>(dst.bits, dst.bits + want.size()), want)
        << from << " to " << to << " bits, round " << round << ": dst " << d[0] << "," << d[1] << " "
        << w << "x" << h << " src " << s[0] << "," << s[1] << " " << s[2] << "x" << s[3];
  }
}

TEST_F(Platform, GetDIBitsWritesBottomUp24BitRowsAndLeavesPaddingAlone) {
  constexpr int kW = 5, kH = 3;
  Section src(kW, kH, 32);  // bottom-up
  for (int i = 0; i < kW * kH; ++i) src.Words()[i] = 0x00010203u * (i + 1);
  const int stride = kt::Stride(24, kW);
  std::vector<BYTE> out(static_cast<std::size_t>(stride) * kH, 0xEE);
  BITMAPINFO bmi = Info(kW, kH, 24);
  ASSERT_EQ(GetDIBits(src.dc, src.bm, 0, kH, out.data(), &bmi, DIB_RGB_COLORS), kH);
  for (int row = 0; row < kH; ++row) {  // both bottom-up: stored row r matches row r
    for (int x = 0; x < kW; ++x) {
      const std::uint32_t c = src.Words()[row * kW + x];
      const BYTE* p = &out[static_cast<std::size_t>(row * stride + 3 * x)];
      EXPECT_EQ(p[0] | (p[1] << 8) | (p[2] << 16), static_cast<int>(c & 0xFFFFFF));
    }
    EXPECT_EQ(out[static_cast<std::size_t>(row * stride + 15)], 0xEE);  // padding untouched
  }
  // Scan lines 1..2 only: the bottom row of the output stays as it was.
  std::fill(out.begin(), out.end(), 0xEE);
  EXPECT_EQ(GetDIBits(src.dc, src.bm, 1, 5, out.data(), &bmi, DIB_RGB_COLORS), 2);
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_NE(out[static_cast<std::size_t>(stride)], 0xEE);
  bmi.bmiHeader.biBitCount = 8;  // only 24 and 32 bits are produced
  EXPECT_EQ(GetDIBits(src.dc, src.bm, 0, kH, out.data(), &bmi, DIB_RGB_COLORS), 0);
}

TEST_F(Platform, DibSectionsKeepTheirBitsInPlaceAndIndexedOnesReadGrey) {
  Section grey(3, 1, 8);
  BYTE* const before = grey.bits;
  std::memcpy(grey.bits, "\x00\x80\xFF", 3);
  DIBSECTION ds{};
  ASSERT_EQ(GetObjectA(grey.bm, sizeof ds, &ds), static_cast<int>(sizeof ds));
  EXPECT_EQ(ds.dsBm.bmBits, grey.bits);
  DeviceBitmap copy(3, 1);
  ASSERT_TRUE(BitBlt(copy.dc, 0, 0, 3, 1, grey.dc, 0, 0, SRCCOPY));
  EXPECT_EQ(ReadBack(copy.dc, copy.bm, 3, 1), (Pixels32{0, 0x808080, 0xFFFFFF}));
  // Writes store the nearest grey level, in place.
  ASSERT_TRUE(StretchBlt(grey.dc, 0, 0, 3, 1, copy.dc, 3, 0, -3, 1, SRCCOPY));
  EXPECT_EQ(grey.bits, before);
  EXPECT_EQ(std::memcmp(grey.bits, "\xFF\x80\x00", 3), 0);
  // The first byte 0xF0 at 4 bits is pixels 15, 0; 0x80 at 1 bit is 1, 0; 0x001F at 16 bits is blue.
  for (const auto& [bitCount, byte, want] : {std::tuple{4, 0xF0, Pixels32{0xFFFFFF, 0}},
                                             std::tuple{1, 0x80, Pixels32{0xFFFFFF, 0}},
                                             std::tuple{16, 0x1F, Pixels32{0xFF, 0}}}) {
    Section s(2, 1, static_cast<WORD>(bitCount));
    s.bits[0] = static_cast<BYTE>(byte);
    DeviceBitmap out(2, 1);
    ASSERT_TRUE(BitBlt(out.dc, 0, 0, 2, 1, s.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(ReadBack(out.dc, out.bm, 2, 1), want) << bitCount << " bits";
  }
}

TEST_F(Platform, HandlesFollowSelectionRulesAndDieWithTheirObjects) {
  HDC a = CreateCompatibleDC(nullptr);
  HDC b = CreateCompatibleDC(a);
  HBITMAP bm = CreateCompatibleBitmap(a, 4, 4);
  EXPECT_EQ(kt::GdiObjects(), gdiStart_ + 3);
  const HGDIOBJ stock = SelectObject(a, bm);
  EXPECT_EQ(GetCurrentObject(b, OBJ_BITMAP), stock);  // every memory DC starts with it
  EXPECT_EQ(SelectObject(b, bm), nullptr);            // one DC at a time
  EXPECT_FALSE(DeleteObject(bm));                     // still selected
  EXPECT_EQ(SelectObject(a, stock), bm);              // answers what it displaced
  EXPECT_TRUE(DeleteObject(stock));                   // stock objects survive deletion
  EXPECT_EQ(SelectObject(b, bm), stock);
  EXPECT_TRUE(DeleteDC(b));  // deselects, does not delete, its bitmap
  EXPECT_TRUE(DeleteObject(bm));

  // Deleted handles (even with their slot reused) and forged ones are refused.
  HBITMAP reused = CreateCompatibleBitmap(a, 2, 2);
  int local = 0;
  BITMAP info{};
  for (HGDIOBJ bad : {static_cast<HGDIOBJ>(bm), static_cast<HGDIOBJ>(b), static_cast<HGDIOBJ>(&local),
                      static_cast<HGDIOBJ>(a)}) {
    EXPECT_EQ(SelectObject(a, bad), nullptr);
    EXPECT_FALSE(DeleteObject(bad));
    EXPECT_EQ(GetObjectA(bad, sizeof info, &info), 0);
  }
  EXPECT_FALSE(DeleteDC(b));
  EXPECT_FALSE(BitBlt(b, 0, 0, 1, 1, a, 0, 0, SRCCOPY));
  EXPECT_EQ(SetStretchBltMode(b, COLORONCOLOR), 0);
  EXPECT_EQ(SetStretchBltMode(a, COLORONCOLOR), BLACKONWHITE);
  EXPECT_TRUE(DeleteObject(reused));
  EXPECT_TRUE(DeleteDC(a));
}

TEST(PlatformResources, FoundByIntegerAndStringNamesOfTheirModule) {
  const HINSTANCE other = reinterpret_cast<HINSTANCE>(std::uintptr_t{0x77770000});
  const char bytes[] = "pixels";
  ASSERT_TRUE(kolvex::platform::AddResource(nullptr, MAKEINTRESOURCE(9101), MAKEINTRESOURCE(8000),
                                            bytes, 6));
  ASSERT_TRUE(kolvex::platform::AddResource(other, "Splash", "Custom", bytes, 3));
  for (LPCSTR name : {static_cast<LPCSTR>(MAKEINTRESOURCE(9101)), static_cast<LPCSTR>("#9101")}) {
    HRSRC r = FindResourceA(AfxGetInstanceHandle(), name, MAKEINTRESOURCE(8000));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(SizeofResource(nullptr, r), 6u);
    EXPECT_EQ(std::memcmp(LockResource(LoadResource(nullptr, r)), "pixels", 6), 0);
    EXPECT_EQ(LoadResource(other, r), nullptr);  // a resource of another module
  }
  HRSRC s = FindResourceA(other, "SPLASH", "custom");  // string names ignore case
  EXPECT_EQ(SizeofResource(other, s), 3u);
  EXPECT_EQ(FindResourceA(nullptr, "Splash", "Custom"), nullptr);  // other module
  EXPECT_EQ(LockResource(reinterpret_cast<HGLOBAL>(s)), nullptr);  // an HRSRC is not an HGLOBAL
}

// However often one slot is reused, the handles of a removed resource never
// answer again (the generation a handle carries must not wrap around), and a
// registration in a reused slot still hides an older one of the same name.
TEST(PlatformResources, StaleHandlesStayDeadThroughAnyNumberOfReuses) {
  const auto name = MAKEINTRESOURCE(9104);
  const auto type = MAKEINTRESOURCE(8000);
  ASSERT_TRUE(kolvex::platform::AddResource(nullptr, name, type, "first", 5));
  const HRSRC first = FindResourceA(nullptr, name, type);
  const HGLOBAL firstData = LoadResource(nullptr, first);
  ASSERT_NE(firstData, nullptr);
  for (int reuse = 1; reuse <= 2 * 65536 + 1; ++reuse) {
    ASSERT_TRUE(kolvex::platform::RemoveResource(nullptr, name, type));
    ASSERT_TRUE(kolvex::platform::AddResource(nullptr, name, type, "later", 5));
    if (SizeofResource(nullptr, first) != 0 || LockResource(firstData) != nullptr) {
      FAIL() << "the first resource's handles answer again after " << reuse << " reuses";
    }
  }
  const auto other = MAKEINTRESOURCE(9105);
  ASSERT_TRUE(kolvex::platform::AddResource(nullptr, other, type, "x", 1));
  ASSERT_TRUE(kolvex::platform::AddResource(nullptr, name, type, "newest", 6));
  ASSERT_TRUE(kolvex::platform::RemoveResource(nullptr, other, type));
  ASSERT_TRUE(kolvex::platform::AddResource(nullptr, name, type, "latest!", 7));
  EXPECT_EQ(SizeofResource(nullptr, FindResourceA(nullptr, name, type)), 7u);
  while (kolvex::platform::RemoveResource(nullptr, name, type)) {
  }
  EXPECT_EQ(FindResourceA(nullptr, name, type), nullptr);
}

constexpr int kThreads = 8;

TEST(PlatformThreads, GdiTableAndCriticalSections) {
  const DWORD start = kt::GdiObjects();
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  long total = 0;
  kt::RunThreads(kThreads, [&](int t) {
    for (int i = 0; i < 300; ++i) {
      BITMAPINFOHEADER f{sizeof(BITMAPINFOHEADER), 4, -4, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
      void* bits = nullptr;
      HBITMAP bm = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&f), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
      HDC dc = CreateCompatibleDC(nullptr);
      HGDIOBJ old = SelectObject(dc, bm);
      static_cast<std::uint32_t*>(bits)[0] = static_cast<std::uint32_t>(t);
      EXPECT_TRUE(StretchBlt(dc, 3, 3, -3, -3, dc, 0, 0, 3, 3, SRCCOPY));
      EXPECT_EQ(static_cast<std::uint32_t*>(bits)[10], static_cast<std::uint32_t>(t));
      SelectObject(dc, old);
      EXPECT_TRUE(DeleteDC(dc));
      EXPECT_TRUE(DeleteObject(bm));

      EnterCriticalSection(&cs);
      EnterCriticalSection(&cs);  // re-entrant, as on Windows
      ++total;
      LeaveCriticalSection(&cs);
      LeaveCriticalSection(&cs);
    }
  });
  DeleteCriticalSection(&cs);
  EXPECT_EQ(total, kThreads * 300);
  EXPECT_EQ(kt::GdiObjects(), start);
}

}  // namespace
